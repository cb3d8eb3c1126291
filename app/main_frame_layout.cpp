// app/main_frame_layout.cpp: the window's widgets, where they stand and how they follow a resize
// and the reducing state.
#include "app/main_frame.h"

#include <algorithm>

#include <QAction>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/compare_bar.h"
#include "app/difference_legend.h"
#include "app/image_view.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "app/view_state.h"
#include "engine/reduce_stages.h"

namespace tessaline {

CMainFrame::CMainFrame(ReduceFunction reduce, QWidget* parent) : QMainWindow(parent), reduce(reduce)
{
    setWindowTitle(texts::WindowTitle());
    statusBar()->showMessage(texts::Ready());

    // The panel keeps a fixed strip on top; below it the user may drag the divider between the
    // source and result views.
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    panel = new CTopPanelView(central);
    panel->setFixedHeight(PanelHeight);
    // On a screen narrower than the panel its strip scrolls sideways, so that every control
    // stays reachable; where it fits, nothing changes.
    panelArea = new QScrollArea(central);
    panelArea->setObjectName(QStringLiteral("panelArea"));
    panelArea->setFrameShape(QFrame::NoFrame);
    panelArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panelArea->setWidgetResizable(true);
    panelArea->setWidget(panel);
    panelArea->setFixedHeight(PanelHeight);
    layout->addWidget(panelArea);
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
    // A resize goes to the right pane: the left keeps its width.
    viewSplitter->setStretchFactor(0, 0);
    viewSplitter->setStretchFactor(1, 1);
    layout->addWidget(viewSplitter, 1);
    compareBar = new CCompareBar(central);
    compareBar->setObjectName(QStringLiteral("compareBar"));
    layout->addWidget(compareBar);
    paletteChoice = new CPaletteChoice(compareBar, this);
    setCentralWidget(central);
    differenceLegend = new CDifferenceLegend(resultView->viewport());
    differenceLegend->setObjectName(QStringLiteral("differenceLegend"));
    differenceLegend->move(8, 8);
    differenceLegend->hide();
    sourceView->installEventFilter(this);
    resultView->installEventFilter(this);

    // The panel's width where the screen allows it, never more than the screen.
    QSize size(std::max(panel->minimumWidth(), 1024), 768);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    resize(size);
    viewSplitter->setSizes({width() / 2, width() - width() / 2});

    // Laid over the status bar while a reduction runs, hidden otherwise, with the stop button
    // at its right end.
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
    addActions({openAction, saveAction, stopAction});
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

    setAcceptDrops(true);
}

void CMainFrame::SetReducing(bool on)
{
    reducing = on;
    centralWidget()->setEnabled(!on);
    stopAction->setEnabled(on);
    openAction->setEnabled(!on);
    saveAction->setEnabled(!on);
}

void CMainFrame::PlaceProgress()
{
    const QRect bar = statusBar()->rect();
    const int buttonWidth = std::min(stopButton->sizeHint().width(), bar.width() / 2);
    progressBar->setGeometry(bar.adjusted(0, 0, -buttonWidth, 0));
    stopButton->setGeometry(QRect(bar.right() - buttonWidth + 1, bar.top(), buttonWidth, bar.height()));
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // Below the panel's width its strip grows by the scroll bar it then shows.
    const bool narrow = width() < panel->minimumWidth();
    panelArea->setFixedHeight(PanelHeight +
                              (narrow ? panelArea->horizontalScrollBar()->sizeHint().height() : 0));
    if (reducing)
        PlaceProgress();
}

} // namespace tessaline
