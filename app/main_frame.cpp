#include "app/main_frame.h"

#include <cstdio>
#include <new>
#include <vector>

#include <QAction>
#include <QBuffer>
#include <QByteArray>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/compare_bar.h"
#include "app/difference_legend.h"
#include "app/image_view.h"
#include "app/palette_strip.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "engine/reduce_stages.h"
#include "app/view_state.h"
#include "imageio/atomic_file.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/qt_bitmap_reader.h"
#include "imageio/compare_bitmaps.h"
#include "imageio/painted_weights.h"
#include "imageio/png_writer.h"

namespace tessaline {

namespace {

// Local files among dropped URLs, in drop order. The URL list is read as bytes: QUrl would decode a
// percent-encoded name as UTF-8, and a Shift-JIS or Latin-1 name would no longer name its file.
QStringList LocalFiles(const QMimeData* mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls())
        return files;
    const QByteArray list = mime->data(QStringLiteral("text/uri-list"));
    if (list.isEmpty()) {
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile())
                files << url.toLocalFile();
        return files;
    }
    for (const QByteArray& line : list.split('\n')) {
        const QByteArray url = line.trimmed();
        if (!url.startsWith("file://"))
            continue; // comments, other schemes
        const qsizetype slash = url.indexOf('/', 7); // after the host, usually empty or "localhost"
        const QByteArray host = url.mid(7, slash < 0 ? -1 : slash - 7);
        if (slash < 0 || !(host.isEmpty() || host == "localhost"))
            continue;
        files << ToQString(std::filesystem::path(QByteArray::fromPercentEncoding(url.mid(slash)).toStdString()));
    }
    return files;
}

// Why a file could not be read, in a few words. `whyNot` is the loader's own (English) reason.
QString LoadFailureReason(const std::filesystem::path& path, const QString& whyNot)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return texts::NoSuchFile();
    if (whyNot.contains(QStringLiteral("memory")))
        return texts::OutOfMemory();
    // Asked of the file system, not by opening: opening a pipe would wait for a writer.
    if (!QFileInfo(ToQString(path)).isReadable())
        return texts::NotReadable();
    return texts::NotAnImage();
}

// Why a write to `target` failed, in a few words, from what the file system tells afterwards.
QString WriteFailureReason(const std::filesystem::path& target)
{
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return texts::NoSuchFolder();
    if (!QFileInfo(ToQString(folder)).isWritable())
        return texts::NotWritable();
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (!error && space.available == 0)
        return texts::DiskFull();
    if (std::filesystem::is_directory(target, error))
        return texts::NotWritable();
    return texts::WriteFailed();
}

} // namespace

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

    setAcceptDrops(true);
}

CMainFrame::~CMainFrame()
{
    // The worker borrows source, result and this interface: end it while they still exist. Its
    // reports are queued, so it never waits for this thread and the join cannot hang; cancelled
    // first, a reduction still running ends within moments instead of running to its end.
    if (reduceThread)
        reduceThread->Cancel();
    reduceThread.reset();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    OnDropFiles(files);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing mid-reduction would pull the images from under the worker: the reduction is
    // stopped, and its completion closes the window.
    if (reducing) {
        closeRequested = true;
        StopReduction();
        event->ignore();
        return;
    }
    reduceThread.reset(); // its Run has returned: only the join is left
    pendingFiles.clear();
    event->accept();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat() && sourceKeyHeld != press) {
            sourceKeyHeld = press;
            UpdateResultView();
        }
        return true;
    }
    // Leaving the window while the key is down would leave the source on show.
    if (event->type() == QEvent::FocusOut && sourceKeyHeld) {
        sourceKeyHeld = false;
        UpdateResultView();
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::OnDropFiles(const QStringList& paths)
{
    // A drop while a reduction runs cannot reach the disabled window through the desktop; one
    // that comes anyway waits in the queue rather than replacing the images under the worker.
    const bool batchDrop = panel->AutoSaveChecked();
    // A drop onto an idle window starts a new batch; only its own files are protected.
    if (!reducing && pendingFiles.empty()) {
        droppedFiles = ProtectedFiles();
        if (batchDrop)
            batch = BatchTally{};
        batch.active = batchDrop;
    }
    if (batchDrop)
        batch.files += static_cast<int>(paths.size());
    std::filesystem::path prefix;
    for (int i = 0; i < paths.size(); ++i) {
        std::filesystem::path name = ToPath(paths[i]);
        if (i > 0 && !name.is_absolute())
            name = prefix / name;
        pendingFiles.push_back(name);
        droppedFiles.AddInput(name);
        if (!batchDrop)
            break;
        if (i == 0)
            prefix = name.parent_path();
    }
    if (!reducing)
        LoadNextPending();
}

void CMainFrame::LoadNextPending()
{
    while (!pendingFiles.empty()) {
        std::filesystem::path path = std::move(pendingFiles.front());
        pendingFiles.pop_front();
        if (LoadFile(path))
            return;
    }
    EndOfQueue();
}

void CMainFrame::EndOfQueue()
{
    if (!batch.active)
        return;
    // One file's own message says all; a batch of several ends with its counts.
    if (batch.files > 1) {
        QStringList named = batch.failedFiles.mid(0, 3);
        if (batch.failedFiles.size() > named.size())
            named << texts::AndOthersText(int(batch.failedFiles.size() - named.size()));
        statusBar()->showMessage(
            texts::BatchSummaryText(batch.saved, batch.failed, named.join(QStringLiteral(", "))));
    }
    batch = BatchTally{};
}

void CMainFrame::CountOutcome(bool ok, const QString& file)
{
    if (!batch.active)
        return;
    if (ok) {
        ++batch.saved;
    } else {
        ++batch.failed;
        batch.failedFiles << file;
    }
}

bool CMainFrame::LoadFile(const std::filesystem::path& path)
{
    const QString name = DisplayName(path.filename());
    QString whyNot;
    if (!LoadImageFile(source, path, QtBitmaps(), &whyNot)) {
        statusBar()->showMessage(texts::LoadFailedText(name, LoadFailureReason(path, whyNot)));
        CountOutcome(false, name);
        return false;
    }
    // Loads are decided from a drop and from a queued completion; no exception may leave those
    // handlers, so running out of memory here makes the file unreadable like any other failure.
    try {
        QImage bitmap = MakeSourceBitmap(source);
        if (bitmap.isNull())
            throw std::bad_alloc();
        sourceView->SetBitmap(std::move(bitmap));
        sourceView->CreateWeightMap(); // earlier painting belonged to the earlier image
    } catch (const std::bad_alloc&) {
        // Nothing of the file stays behind: no source to preview, no picture without its weights.
        source.Release();
        sourceView->SetBitmap(QImage());
        sourceView->CreateWeightMap();
        sourceView->viewport()->update();
        statusBar()->showMessage(texts::LoadFailedText(name, texts::OutOfMemory()));
        CountOutcome(false, name);
        return false;
    }
    sourcePath = path;
    sourceView->viewport()->update();
    if (!source.Empty())
        StartReduction();
    return true;
}

int CMainFrame::StartReduction()
{
    if (source.Empty())
        return 1;
    SetReducing(true);
    progressBar->setValue(0);
    PlaceProgress();
    progressBar->show();
    progressBar->raise();
    stopButton->show();
    stopButton->raise();
    result.Release();

    const SettingValues values = panel->Values();
    const QImage& weights = sourceView->WeightMap();

    // The previous worker has reported and returned (its completion is what enabled the
    // window), so this join is immediate.
    reduceThread.reset();
    try {
        reduceThread = std::make_unique<ReduceThread>(this, reduce);
        reduceThread->encode = [](const IndexedImage& image) { return EncodePng(image); }; // the size in the status bar is the saved file's
        BuildReduceJob(*reduceThread, values, weights.isNull() ? nullptr : &weights, source, result);
    } catch (const std::bad_alloc&) {
        AbandonReduction(); // no memory for the job or its weights: nothing was started
        return 0;
    }
    progressBar->setValue(StageJobStarted);
    if (reduceThread->Start() == -1)
        AbandonReduction(); // no worker: it will never report, so do not wait for it
    return 0;
}

void CMainFrame::AbandonReduction()
{
    reduceThread.reset();
    progressBar->hide();
    stopButton->hide();
    SetReducing(false);
    statusBar()->showMessage(texts::ReduceFailedText(DisplayName(sourcePath.filename()), texts::OutOfMemory()));
    CountOutcome(false, DisplayName(sourcePath.filename()));
    LoadNextPending();
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

void CMainFrame::StopReduction()
{
    if (!reducing)
        return;
    stopRequested = true;
    pendingFiles.clear();
    if (reduceThread)
        reduceThread->Cancel();
    statusBar()->showMessage(texts::StoppingText());
}

void CMainFrame::ReportProgress(int stage)
{
    // Queued: the worker never waits for this thread, and the bar moves as the loop runs.
    QMetaObject::invokeMethod(progressBar, [bar = progressBar, stage] { bar->setValue(stage); }, Qt::QueuedConnection);
}

void CMainFrame::ReportFinished(std::uint32_t elapsedMs, int resultCode)
{
    // Arrives after every progress report it follows, so 12 is always the last position shown.
    QMetaObject::invokeMethod(this, [this, elapsedMs, resultCode] { OnReductionFinished(elapsedMs, resultCode); },
                              Qt::QueuedConnection);
}

void CMainFrame::OnReductionFinished(std::uint32_t elapsedMs, int resultCode)
{
    progressBar->setValue(StageFinished);
    const QString name = DisplayName(sourcePath.filename());
    figures.reset();
    resultPng.clear();
    differenceBitmap = QImage();
    if (resultCode == ReduceOk && reduceThread) {
        // The worker has written these before its report and touches them no more.
        figures = reduceThread->figures;
        resultPng = std::move(reduceThread->encoded);
    }
    ShowPalette();
    if (resultCode == ReduceOk) {
        statusBar()->showMessage(figures ? texts::ResultText(static_cast<int>(elapsedMs), figures->psnr,
                                                             figures->coloursUsed, figures->pngBytes)
                                         : texts::ElapsedText(static_cast<int>(elapsedMs)));
        QImage bitmap = MakeResultBitmap(result);
        if (!bitmap.isNull()) {
            resultView->SetBitmap(std::move(bitmap));
            UpdateResultView();
            emit resultShown();
        }
        if (panel->AutoSaveChecked())
            SaveAutomatically();
    } else if (resultCode != ReduceCancelled) {
        const QString why = resultCode == ReduceQualityTooLow ? texts::QualityTooLow() : texts::OutOfMemory();
        statusBar()->showMessage(texts::ReduceFailedText(name, why));
        CountOutcome(false, name);
    }
    progressBar->hide();
    stopButton->hide();
    SetReducing(false);
    if (stopRequested || resultCode == ReduceCancelled) {
        // A stop ends the whole run: what was queued is dropped, and the counts so far are said.
        stopRequested = false;
        pendingFiles.clear();
        statusBar()->showMessage(batch.active && batch.files > 1
                                     ? texts::BatchStoppedText(batch.saved, batch.failed)
                                     : texts::StoppedText());
        batch = BatchTally{};
    } else {
        LoadNextPending();
    }
    emit reductionFinished(resultCode);
    if (closeRequested)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::SaveAutomatically()
{
    if (result.pixels.empty())
        return;
    const QString name = DisplayName(sourcePath.filename());
    const Destination destination = DestinationFor(OutputRule{}, sourcePath);
    const QString shownTarget = DisplayName(destination.file.parent_path().filename() / destination.file.filename());
    // A dropped file inside an OUTPUT folder may be another file's target: it is never replaced.
    if (droppedFiles.Check(destination.file, false) != ProtectedFiles::Clash::None) {
        statusBar()->showMessage(texts::SaveFailedText(shownTarget, texts::TargetIsDroppedFile()));
        CountOutcome(false, name);
        return;
    }
    if (CreateDestinationFolder(destination)) {
        std::error_code error;
        const bool inTheWay =
            std::filesystem::exists(std::filesystem::symlink_status(destination.folderToCreate, error));
        statusBar()->showMessage(texts::SaveFailedText(shownTarget, inTheWay ? texts::OutputNotAFolder()
                                                                             : texts::CannotCreateFolder()));
        CountOutcome(false, name);
        return;
    }
    CountOutcome(WriteResult(destination.file, shownTarget), name);
}

bool CMainFrame::WriteResult(const std::filesystem::path& target, const QString& shownName)
{
    // The bytes the status bar's size was taken from, so the saved file has exactly that size.
    const int written = resultPng.empty() ? WritePngFile(result, target) : WritePngBytes(resultPng, target);
    if (written == PngWriteOk)
        return true;
    statusBar()->showMessage(texts::SaveFailedText(shownName, WriteFailureReason(target)));
    return false;
}

void CMainFrame::ShowPalette()
{
    std::vector<QRgb> colours;
    std::vector<std::uint64_t> pixels;
    if (figures) {
        for (std::uint32_t i = 0; i < result.paletteSize; ++i) {
            const std::array<std::uint8_t, 4> c = StoredRgba(result, static_cast<std::uint8_t>(i));
            colours.push_back(qRgba(c[0], c[1], c[2], c[3]));
            pixels.push_back(figures->entryPixels[i]);
        }
    }
    compareBar->Strip()->SetEntries(std::move(colours), std::move(pixels)); // also drops a selection
    resultView->SetHighlight(QImage());
}

void CMainFrame::UpdateResultView()
{
    // The source wins over the difference while both are asked for: a blink is brief.
    QImage shown;
    bool difference = false;
    if (compareBar->SourceButton()->isChecked() || sourceKeyHeld) {
        shown = sourceView->Bitmap();
    } else if (compareBar->DifferenceButton()->isChecked()) {
        if (differenceBitmap.isNull())
            differenceBitmap = MakeDifferenceBitmap(source, result);
        shown = differenceBitmap;
        difference = !shown.isNull();
    }
    resultView->SetAlternate(shown);
    differenceLegend->setVisible(difference);
    resultView->viewport()->update();
}

void CMainFrame::OnPaletteSelection(int index)
{
    resultView->SetHighlight(index >= 0 ? MakeHighlightBitmap(result, index) : QImage());
    resultView->viewport()->update();
}

bool CMainFrame::SaveWeights(const std::filesystem::path& path)
{
    const QImage& weights = sourceView->WeightMap();
    const QString name = DisplayName(path);
    // Encoded first, then written the way results are: a fresh temporary renamed over the target.
    QByteArray png;
    QBuffer buffer(&png);
    bool saved = !weights.isNull() && buffer.open(QIODevice::WriteOnly) && QImageWriter(&buffer, "png").write(weights);
    saved = saved && WriteFileSafely(path, [&png](std::FILE* stream) {
                return std::fwrite(png.constData(), 1, static_cast<std::size_t>(png.size()), stream) ==
                       static_cast<std::size_t>(png.size());
            });
    statusBar()->showMessage(saved ? texts::WeightsSaved(name) : texts::WeightsNotSaved(name));
    return saved;
}

bool CMainFrame::LoadWeights(const std::filesystem::path& path)
{
    const QString name = ToQString(path);
    RgbaImage image;
    QImage weights;
    if (!source.Empty() && LoadImageFile(image, path, QtBitmaps()))
        weights = MakeSourceBitmap(image);
    if (weights.isNull()) {
        statusBar()->showMessage(texts::WeightsNotLoaded(name));
        return false;
    }
    if (weights.size() != sourceView->Bitmap().size()) {
        statusBar()->showMessage(texts::WeightsWrongSize(
            weights.width(), weights.height(), sourceView->Bitmap().width(), sourceView->Bitmap().height()));
        return false;
    }
    // Only the alpha is the weight; black strokes are how the view shows it.
    for (int y = 0; y < weights.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(weights.scanLine(y));
        for (int x = 0; x < weights.width(); ++x)
            row[x] = qRgba(0, 0, 0, qAlpha(row[x]));
    }
    sourceView->SetWeightMap(std::move(weights));
    sourceView->viewport()->update();
    statusBar()->showMessage(texts::WeightsLoaded(name));
    return true;
}

void CMainFrame::OnSaveWeights()
{
    if (sourceView->WeightMap().isNull())
        return;
    std::filesystem::path proposal = sourcePath.parent_path() / sourcePath.stem();
    proposal += ToPath(texts::WeightsFileSuffix());
    const QString chosen =
        QFileDialog::getSaveFileName(this, texts::SaveWeights(), ToQString(proposal),
                                     texts::PngFilter() + QStringLiteral(";;") + texts::AllFilesFilter());
    if (!chosen.isEmpty())
        SaveWeights(ToPath(chosen));
}

void CMainFrame::OnLoadWeights()
{
    if (source.Empty())
        return;
    const QString chosen =
        QFileDialog::getOpenFileName(this, texts::LoadWeights(), ToQString(sourcePath.parent_path()));
    if (!chosen.isEmpty())
        LoadWeights(ToPath(chosen));
}

void CMainFrame::OnPreview()
{
    if (!source.Empty())
        StartReduction();
}

void CMainFrame::OnSave()
{
    // Ctrl+S follows the Save button, which automatic saving disables.
    if (!result.pixels.empty() && !panel->AutoSaveChecked())
        SaveAs();
}

void CMainFrame::OpenDialog()
{
    if (reducing)
        return;
    const QString folder = sourcePath.empty() ? QString() : ToQString(sourcePath.parent_path());
    const QStringList files =
        QFileDialog::getOpenFileNames(this, texts::OpenTitle(), folder,
                                      texts::ImageFilter() + QStringLiteral(";;") + texts::AllFilesFilter());
    // Keys such as Esc go to the active window: make sure that is this one again.
    activateWindow();
    if (!files.isEmpty())
        OnDropFiles(files);
}

void CMainFrame::SaveAs()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({texts::PngFilter(), texts::AllFilesFilter()});
    dialog.setDefaultSuffix(QStringLiteral("png"));
    // The proposal names the file the result came from, even after a later drop failed to load.
    const std::filesystem::path proposal = DefaultSavePath(sourcePath);
    dialog.setDirectory(ToQString(proposal.parent_path()));
    dialog.selectFile(ToQString(proposal));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    const std::filesystem::path target = ToPath(chosen.front());
    const QString shownName = DisplayName(target.filename());
    if (WriteResult(target, shownName))
        statusBar()->showMessage(texts::SavedText(shownName));
}

void CMainFrame::OnZoom()
{
    viewState->SetZoom(panel->ZoomFactor()); // both views follow, back at the origin
}

void CMainFrame::OnClearWeight()
{
    sourceView->ClearWeights();
}

void CMainFrame::OnUseWeight()
{
    sourceView->SetWeightVisible(panel->UseUserWeightChecked());
    sourceView->viewport()->repaint();
}

} // namespace tessaline
