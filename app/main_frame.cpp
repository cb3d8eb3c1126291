#include "app/main_frame.h"

#include <new>

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/image_view.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/job_builder.h"
#include "imageio/png_writer.h"

namespace tessaline {

namespace {

constexpr int ProgressSteps = 12;

// Local files among dropped URLs, in drop order.
QStringList LocalFiles(const QMimeData* mime)
{
    QStringList files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
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
    layout->addWidget(panel);
    viewSplitter = new QSplitter(Qt::Horizontal, central);
    viewSplitter->setObjectName(QStringLiteral("viewSplitter"));
    viewSplitter->setChildrenCollapsible(false);
    sourceView = new CImageView(viewSplitter);
    sourceView->setObjectName(QStringLiteral("sourceView"));
    resultView = new CImageView(viewSplitter);
    resultView->setObjectName(QStringLiteral("resultView"));
    sourceView->SetPartner(resultView);
    resultView->SetPartner(sourceView);
    // A resize goes to the right pane: the left keeps its width.
    viewSplitter->setStretchFactor(0, 0);
    viewSplitter->setStretchFactor(1, 1);
    layout->addWidget(viewSplitter, 1);
    setCentralWidget(central);

    resize(std::max(panel->minimumWidth(), 1024), 768);
    viewSplitter->setSizes({width() / 2, width() - width() / 2});

    // Laid over the status bar while a reduction runs, hidden otherwise.
    progressBar = new QProgressBar(statusBar());
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, ProgressSteps);
    progressBar->setTextVisible(false);
    progressBar->hide();

    connect(panel, &CTopPanelView::previewRequested, this, &CMainFrame::OnPreview);
    connect(panel, &CTopPanelView::saveRequested, this, &CMainFrame::OnSave);
    connect(panel, &CTopPanelView::zoomChanged, this, &CMainFrame::OnZoom);
    connect(panel, &CTopPanelView::clearWeightRequested, this, &CMainFrame::OnClearWeight);
    connect(panel, &CTopPanelView::useWeightChanged, this, &CMainFrame::OnUseWeight);

    setAcceptDrops(true);
}

CMainFrame::~CMainFrame()
{
    // The worker borrows source, result and this interface: end it while they still exist. Its
    // reports are queued, so it never waits for this thread and the join cannot hang.
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
    // Qt delivers close requests to a disabled window too; closing mid-reduction would pull the
    // images from under the worker, so the request waits for the reduction to end.
    if (reducing) {
        event->ignore();
        return;
    }
    reduceThread.reset(); // its Run has returned: only the join is left
    pendingFiles.clear();
    event->accept();
}

void CMainFrame::OnDropFiles(const QStringList& paths)
{
    // A drop while a reduction runs cannot reach the disabled window through the desktop; one
    // that comes anyway waits in the queue rather than replacing the images under the worker.
    const bool batch = panel->AutoSaveChecked();
    std::filesystem::path prefix;
    for (int i = 0; i < paths.size(); ++i) {
        std::filesystem::path name = ToPath(paths[i]);
        if (i > 0 && !name.is_absolute())
            name = prefix / name;
        pendingFiles.push_back(name);
        if (!batch)
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
}

bool CMainFrame::LoadFile(const std::filesystem::path& path)
{
    if (!LoadImageFile(source, path))
        return false;
    QImage bitmap = MakeSourceBitmap(source);
    if (bitmap.isNull())
        return false;
    sourcePath = path;
    sourceView->SetBitmap(std::move(bitmap));
    sourceView->CreateWeightMap(); // earlier painting belonged to the earlier image
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
    progressBar->setGeometry(statusBar()->rect());
    progressBar->setValue(0);
    progressBar->show();
    progressBar->raise();
    result.Release();

    const SettingValues values = panel->Values();
    const QImage& weights = sourceView->WeightMap();

    // The previous worker has reported and returned (its completion is what enabled the
    // window), so this join is immediate.
    reduceThread.reset();
    try {
        reduceThread = std::make_unique<ReduceThread>(this, reduce);
        BuildReduceJob(*reduceThread, values, weights.isNull() ? nullptr : &weights, source, result);
    } catch (const std::bad_alloc&) {
        AbandonReduction(); // no memory for the job or its weights: nothing was started
        return 0;
    }
    progressBar->setValue(1);
    if (reduceThread->Start() == -1)
        AbandonReduction(); // no worker: it will never report, so do not wait for it
    return 0;
}

void CMainFrame::AbandonReduction()
{
    reduceThread.reset();
    progressBar->hide();
    SetReducing(false);
    LoadNextPending();
}

void CMainFrame::SetReducing(bool on)
{
    reducing = on;
    centralWidget()->setEnabled(!on);
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
    progressBar->setValue(ProgressSteps);
    statusBar()->showMessage(texts::ElapsedText(static_cast<int>(elapsedMs)));
    if (resultCode == ReduceOk) {
        QImage bitmap = MakeResultBitmap(result);
        if (!bitmap.isNull()) {
            resultView->SetBitmap(std::move(bitmap));
            resultView->viewport()->update();
            emit resultShown();
        }
        if (panel->AutoSaveChecked())
            SaveAutomatically();
    }
    progressBar->hide();
    SetReducing(false);
    LoadNextPending();
    emit reductionFinished(resultCode);
}

void CMainFrame::SaveAutomatically()
{
    if (result.pixels.empty())
        return;
    const Destination destination = DestinationFor(OutputRule{}, sourcePath);
    // A folder that cannot be made shows as a failed write, unreported.
    CreateDestinationFolder(destination);
    WritePngFile(result, destination.file);
}

void CMainFrame::OnPreview()
{
    if (!source.Empty())
        StartReduction();
}

void CMainFrame::OnSave()
{
    if (!result.pixels.empty())
        SaveAs();
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
    if (!chosen.isEmpty())
        WritePngFile(result, ToPath(chosen.front()));
}

void CMainFrame::OnZoom()
{
    const int z = panel->ZoomFactor();
    sourceView->SetZoom(z);
    resultView->SetZoom(z);
    sourceView->viewport()->update();
    resultView->viewport()->update();
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
