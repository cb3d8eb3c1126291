// app/main_frame_layout.cpp: the window's widgets, where they stand and how they follow a resize
// and the reducing state.
#include "app/main_frame.h"

#include <algorithm>

#include <QAction>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/background_task.h"
#include "app/batch_outcomes.h"
#include "app/colour_curve_view.h"
#include "app/compare_bar.h"
#include "app/difference_legend.h"
#include "app/file_loader.h"
#include "app/image_view.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/save_name.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "app/view_state.h"
#include "engine/reduce_stages.h"

namespace tessaline {

CMainFrame::CMainFrame(ReduceFunction reduce, QWidget* parent) : QMainWindow(parent), reduce(reduce)
{
    setWindowTitle(texts::WindowTitle());
    statusBar()->showMessage(texts::Ready());

    // The settings stand in a dock across the top, which the user may close (its title bar's
    // menu and F9 bring it back), float or move; below it the user may drag the divider between
    // the source and result views.
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    panel = new CTopPanelView(this);
    // Never lower than the panel's own layout, so its last row (メタデータを保持) is not cut off.
    panel->setFixedHeight(std::max(PanelHeight, panel->minimumHeight()));
    // On a screen narrower than the panel its strip scrolls sideways, and on a short one the dock
    // may be made lower than the panel, which then scrolls up and down: every control stays
    // reachable, and the views keep the height.
    panelArea = new QScrollArea(this);
    panelArea->setObjectName(QStringLiteral("panelArea"));
    panelArea->setFrameShape(QFrame::NoFrame);
    panelArea->setWidgetResizable(true);
    panelArea->setWidget(panel);
    panelArea->setMinimumHeight(MinimumPanelHeight);
    settingsDock = new QDockWidget(texts::SettingsDock(), this);
    settingsDock->setObjectName(QStringLiteral("settingsDock"));
    settingsDock->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    settingsDock->setWidget(panelArea);
    addDockWidget(Qt::TopDockWidgetArea, settingsDock);
    viewSplitter = new QSplitter(Qt::Horizontal, central);
    viewSplitter->setObjectName(QStringLiteral("viewSplitter"));
    viewSplitter->setChildrenCollapsible(false);
    sourceView = new CImageView(viewSplitter);
    sourceView->setObjectName(QStringLiteral("sourceView"));
    resultView = new CImageView(viewSplitter);
    resultView->setObjectName(QStringLiteral("resultView"));
    // Both views observe one zoom and scroll position: every scroll of one moves the other.
    viewState = new ViewState(this);
    sourceView->SetViewState(viewState);
    resultView->SetViewState(viewState);
    sourceView->SetHint(texts::EmptySourceHint());
    // A resize (maximising) is shared by the two panes, so both grow with the window.
    viewSplitter->setStretchFactor(0, 1);
    viewSplitter->setStretchFactor(1, 1);
    layout->addWidget(viewSplitter, 1);
    // The difference legend stands beside the bar, below the views, so that it never hides a
    // corner of the map it explains.
    auto* barRow = new QHBoxLayout();
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(0);
    compareBar = new CCompareBar(central);
    compareBar->setObjectName(QStringLiteral("compareBar"));
    barRow->addWidget(compareBar, 1);
    paletteChoice = new CPaletteChoice(compareBar, this);
    // Named after the image, as the result's save is: "photo.png" proposes "photo-palette-16.png".
    paletteChoice->SetNameProposal([this]() -> std::filesystem::path {
        if (sourcePath.empty() || result.Empty())
            return {};
        // A batch's shared palette belongs to all its results: it is proposed beside them, as
        // tessaline-cli --save-palette writes it; an image's own palette beside the image.
        const std::filesystem::path folder = resultOnSharedPalette
                                                 ? DestinationFor(OutputRule{}, sourcePath).file.parent_path()
                                                 : sourcePath.parent_path();
        std::filesystem::path named = folder / sourcePath.stem();
        named += "-palette.png";
        return SaveNameFor(named, static_cast<int>(result.paletteSize), sessionInputs);
    });
    differenceLegend = new CDifferenceLegend(central);
    differenceLegend->setObjectName(QStringLiteral("differenceLegend"));
    differenceLegend->setFixedSize(differenceLegend->sizeHint());
    differenceLegend->hide();
    barRow->addWidget(differenceLegend, 0, Qt::AlignVCenter);
    layout->addLayout(barRow);
    setCentralWidget(central);
    sourceView->installEventFilter(this);
    resultView->installEventFilter(this);
    sourceView->viewport()->installEventFilter(this);
    resultView->viewport()->installEventFilter(this);
    sourceView->setToolTip(texts::ZoomKeysTip());

    // The panel's width where the screen allows it, never more than the screen's free area; the
    // window manager's frame is known once the window is shown (showEvent fits it again).
    const QSize preferred(std::max(panel->minimumWidth(), 1024), 768);
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(screen ? FirstWindowSize(preferred, screen->availableSize(), QSize()) : preferred);
    viewSplitter->setSizes({width() / 2, width() - width() / 2});

    // Laid over the right end of the status bar while a file loads or reduces, hidden otherwise,
    // with the stop button at its right end.
    progressBar = new QProgressBar(statusBar());
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, StageFinished);
    progressBar->setTextVisible(false);
    progressBar->hide();
    stopButton = new QPushButton(texts::Stop(), statusBar());
    stopButton->setObjectName(QStringLiteral("stopButton"));
    stopButton->setFocusPolicy(Qt::NoFocus);
    stopButton->hide();
    connect(stopButton, &QPushButton::clicked, this, &CMainFrame::StopReduction);
    // Where the file on show stands in the file list, and the way to every batch file's outcome.
    fileListLabel = new QLabel(statusBar());
    fileListLabel->setObjectName(QStringLiteral("fileListLabel"));
    fileListLabel->hide();
    statusBar()->addPermanentWidget(fileListLabel);
    batchListButton = new QPushButton(texts::BatchListButtonWithKey(), statusBar());
    batchListButton->setObjectName(QStringLiteral("batchListButton"));
    batchListButton->setFocusPolicy(Qt::NoFocus);
    batchListButton->hide();
    statusBar()->addPermanentWidget(batchListButton);
    connect(batchListButton, &QPushButton::clicked, this, &CMainFrame::OpenBatchList);
    outcomes = new BatchOutcomes(this);
    resultPreparer = new CBackgroundTask(this);
    sharedChooser = new CBackgroundTask(this);
    folderWalker = new CBackgroundTask(this);
    loader = new CFileLoader([this](LoadedFile file) { OnLoaded(std::move(file)); }, this);

    // Window-wide keys; the views offer the same actions on their context menus.
    openAction = new QAction(texts::Open(), this);
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &CMainFrame::OpenDialog);
    saveAction = new QAction(texts::Save(), this);
    saveAction->setShortcut(QKeySequence::Save);
    connect(saveAction, &QAction::triggered, this, &CMainFrame::OnSave);
    stopAction = new QAction(texts::Stop(), this);
    stopAction->setShortcut(Qt::Key_Escape);
    stopAction->setEnabled(false);
    connect(stopAction, &QAction::triggered, this, &CMainFrame::StopReduction);
    // The file list's keys; enabled only while there is another file to go to, so that otherwise
    // the keys scroll the view that has the focus.
    nextAction = new QAction(texts::NextFile(), this);
    nextAction->setShortcut(Qt::Key_PageDown);
    nextAction->setEnabled(false);
    connect(nextAction, &QAction::triggered, this, &CMainFrame::ShowNextFile);
    previousAction = new QAction(texts::PreviousFile(), this);
    previousAction->setShortcut(Qt::Key_PageUp);
    previousAction->setEnabled(false);
    connect(previousAction, &QAction::triggered, this, &CMainFrame::ShowPreviousFile);
    batchListAction = new QAction(texts::BatchListButton(), this);
    batchListAction->setShortcut(Qt::CTRL | Qt::Key_L);
    connect(batchListAction, &QAction::triggered, this, &CMainFrame::OpenBatchList);
    // Zoom keys step through the zoom list; the views take Ctrl+wheel the same way.
    const auto addKey = [this](const QKeySequence& key, auto slot) {
        auto* action = new QAction(this);
        action->setShortcut(key);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    addKey(QKeySequence::ZoomIn, [this] { StepZoom(1); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { StepZoom(1); });
    addKey(QKeySequence::ZoomOut, [this] { StepZoom(-1); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { panel->SelectFit(); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_1), [this] { panel->SelectActualSize(); });
    addKey(QKeySequence(Qt::Key_F5), [this] {
        if (!reducing && !loading)
            OnPreview();
    });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); });
    addKey(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
    QAction* settingsAction = settingsDock->toggleViewAction();
    settingsAction->setShortcut(Qt::Key_F9);
    addActions({openAction, saveAction, stopAction, nextAction, previousAction, batchListAction, settingsAction});
    for (CImageView* view : {sourceView, resultView}) {
        view->addActions({openAction, saveAction});
        view->setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    connect(panel, &CTopPanelView::previewRequested, this, &CMainFrame::OnPreview);
    connect(panel, &CTopPanelView::saveRequested, this, &CMainFrame::OnSave);
    connect(panel, &CTopPanelView::zoomChanged, this, &CMainFrame::OnZoom);
    connect(panel, &CTopPanelView::clearWeightRequested, this, &CMainFrame::OnClearWeight);
    connect(panel, &CTopPanelView::useWeightChanged, this, &CMainFrame::OnUseWeight);
    connect(compareBar, &CCompareBar::sourceToggled, this, &CMainFrame::UpdateResultView);
    connect(compareBar, &CCompareBar::differenceToggled, this, &CMainFrame::UpdateResultView);
    connect(compareBar->Strip(), &CPaletteStrip::selectionChanged, this, &CMainFrame::OnPaletteSelection);
    connect(compareBar, &CCompareBar::saveWeightsRequested, this, &CMainFrame::OnSaveWeights);
    connect(compareBar, &CCompareBar::loadWeightsRequested, this, &CMainFrame::OnLoadWeights);
    connect(paletteChoice, &CPaletteChoice::message, statusBar(),
            [this](const QString& text) { statusBar()->showMessage(text); });
    connect(paletteChoice, &CPaletteChoice::paletteChanged, this, &CMainFrame::OnPreview);

    // The colour curve in a dock below the views, shown while its button is down; a click on a
    // point moves 色数 there and reduces.
    curveView = new CColourCurveView(this);
    curveDock = new QDockWidget(texts::ColourCurve(), this);
    curveDock->setObjectName(QStringLiteral("colourCurveDock"));
    curveDock->setWidget(curveView);
    addDockWidget(Qt::BottomDockWidgetArea, curveDock);
    curveDock->hide();
    connect(compareBar->CurveButton(), &QPushButton::toggled, curveDock, &QDockWidget::setVisible);
    connect(curveDock->toggleViewAction(), &QAction::toggled, compareBar->CurveButton(),
            &QPushButton::setChecked);
    connect(curveView, &CColourCurveView::countChosen, this, [this](int colours) {
        panel->SetSliderValue(Setting::Colours, colours);
        if (!reducing && !loading) // during a reduction or a load the count waits for the next one
            OnPreview();
    });

    setAcceptDrops(true);
}

void CMainFrame::SetReducing(bool on)
{
    reducing = on;
    // The job has read the panel and the weights: they stay locked until the result is in. The
    // views only show, so they still scroll and zoom.
    const bool busy = reducing || loading;
    panel->SetLocked(busy);
    compareBar->setEnabled(!busy);
    sourceView->SetBrushLocked(busy);
    stopAction->setEnabled(busy);
    openAction->setEnabled(!busy);
    saveAction->setEnabled(!busy);
    progressBar->setVisible(busy);
    stopButton->setVisible(busy);
    if (busy) {
        PlaceProgress();
        progressBar->raise();
        stopButton->raise();
    }
}

QSize FirstWindowSize(QSize preferred, QSize available, QSize frame)
{
    if (!available.isValid() || available.isEmpty())
        return preferred;
    return preferred.boundedTo(available - frame.expandedTo(QSize(0, 0))).expandedTo(QSize(1, 1));
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (fitted)
        return;
    fitted = true;
    // In a short window the curve stands beside the views rather than under them, and the panel
    // starts lower (it scrolls), so that the views keep most of the height with every dock open.
    // Otherwise the dock shows the whole panel (and the sideways scroll bar a narrow window needs).
    if (!restoredDocks) {
        if (height() < TallScreen) {
            if (dockWidgetArea(curveDock) == Qt::BottomDockWidgetArea) {
                const bool shown = curveDock->isVisible();
                addDockWidget(Qt::RightDockWidgetArea, curveDock);
                curveDock->setVisible(shown);
            }
            resizeDocks({settingsDock}, {CompactPanelHeight}, Qt::Vertical);
        } else {
            const int bar = width() < panel->minimumWidth() ? panelArea->horizontalScrollBar()->sizeHint().height() : 0;
            const int title = std::max(settingsDock->height() - panelArea->height(), 0);
            resizeDocks({settingsDock}, {panel->height() + bar + title}, Qt::Vertical);
        }
    }
    // The space bar blinks at once, without a click into a view first.
    sourceView->setFocus(Qt::OtherFocusReason);
    // The window manager adds its frame only once the window is mapped; the fit waits for it
    // (moveEvent), and a platform that knows its frame at once is fitted right away.
    fitPending = true;
    QMetaObject::invokeMethod(this, &CMainFrame::FitToScreen, Qt::QueuedConnection);
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (fitPending)
        FitToScreen();
}

void CMainFrame::FitToScreen()
{
    const QScreen* shown = screen();
    if (!fitPending || !shown || isMaximized() || isFullScreen())
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isNull())
        return; // no frame yet: a later move brings it
    fitPending = false;
    const QRect available = shown->availableGeometry();
    const QSize fitting = FirstWindowSize(size(), available.size(), frame);
    if (fitting != size())
        resize(fitting);
    // Keep the whole frame, title bar to status bar, on the free area.
    QRect outer(frameGeometry().topLeft(), fitting + frame);
    if (!available.contains(outer)) {
        outer.moveRight(std::min(outer.right(), available.right()));
        outer.moveBottom(std::min(outer.bottom(), available.bottom()));
        outer.moveLeft(std::max(outer.left(), available.left()));
        outer.moveTop(std::max(outer.top(), available.top()));
        move(outer.topLeft());
    }
}

void CMainFrame::PlaceProgress()
{
    // At the right end, left of the file list's place and the batch list's button, so that the
    // message (what loads, what joined the batch, what opens next) stays readable beside it.
    QRect bar = statusBar()->rect();
    if (QLayout* placed = statusBar()->layout())
        placed->activate(); // where the permanent widgets stand now, not before a show
    for (const QWidget* permanent :
         {static_cast<QWidget*>(fileListLabel), static_cast<QWidget*>(batchListButton)})
        if (!permanent->isHidden())
            bar.setRight(std::min(bar.right(), permanent->x() - 4));
    bar.setLeft(std::max(bar.left(), bar.right() - ProgressWidth));
    const int buttonWidth = std::min(stopButton->sizeHint().width(), bar.width() / 2);
    progressBar->setGeometry(bar.adjusted(0, 0, -buttonWidth, 0));
    stopButton->setGeometry(QRect(bar.right() - buttonWidth + 1, bar.top(), buttonWidth, bar.height()));
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (reducing || loading)
        PlaceProgress();
    if (fitPending)
        FitToScreen();
}

} // namespace tessaline
