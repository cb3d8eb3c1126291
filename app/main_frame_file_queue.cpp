// app/main_frame_file_queue.cpp: files coming in (drops, the open dialog, arguments), the queue
// they wait in, loading the next one and the batch's tally.
#include "app/main_frame.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include <QAction>
#include <QByteArray>
#include <QDragEnterEvent>
#include <QDockWidget>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>

#include "app/batch_list_dialog.h"
#include "app/batch_outcomes.h"
#include "app/compare_bar.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/failure_texts.h"
#include "app/file_dialogs.h"
#include "app/file_loader.h"
#include "app/image_view.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "app/view_state.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "imageio/qt_bitmap_reader.h"
#include "jobs/folder_walk.h"

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

} // namespace

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

void CMainFrame::OnDropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    std::vector<std::filesystem::path> dropped;
    std::filesystem::path prefix;
    for (int i = 0; i < paths.size(); ++i) {
        std::filesystem::path name = ToPath(paths[i]);
        if (i > 0 && !name.is_absolute())
            name = prefix / name;
        if (i == 0)
            prefix = name.parent_path();
        dropped.push_back(std::move(name));
    }
    waitingDrops.push_back(std::move(dropped));
    if (!folderWalker->Busy())
        TakeNextDrop();
}

bool CMainFrame::WalkingFolders() const
{
    return folderWalker->Busy() || !waitingDrops.empty();
}

void CMainFrame::TakeNextDrop()
{
    while (!waitingDrops.empty()) {
        std::vector<std::filesystem::path> dropped = std::move(waitingDrops.front());
        waitingDrops.pop_front();
        const bool hasFolder = std::any_of(dropped.begin(), dropped.end(), [](const std::filesystem::path& name) {
            std::error_code error;
            return std::filesystem::is_directory(name, error);
        });
        if (!hasFolder) {
            TakeDroppedFiles(std::move(dropped));
            continue;
        }
        // A folder stands for the images under it, in the order tessaline-cli -r takes them. A
        // big tree takes long to walk (every file's first bytes are read), so the walk runs off
        // the UI thread and the window stays responsive meanwhile.
        struct Walk
        {
            std::vector<std::filesystem::path> dropped;
            std::vector<std::filesystem::path> names;
            bool outOfMemory = false;
        };
        auto walk = std::make_shared<Walk>();
        walk->dropped = std::move(dropped);
        const auto work = [walk, stop = &stopWalking] {
            try {
                for (const std::filesystem::path& name : walk->dropped) {
                    std::error_code error;
                    if (!std::filesystem::is_directory(name, error)) {
                        walk->names.push_back(name);
                        continue;
                    }
                    std::vector<WalkedFile> walked;
                    WalkFolder(name, {}, QtBitmaps(), walked, stop);
                    for (WalkedFile& file : walked)
                        walk->names.push_back(std::move(file.path));
                }
            } catch (const std::bad_alloc&) {
                walk->names.clear();
                walk->outOfMemory = true;
            }
        };
        const auto done = [this, walk] {
            if (walk->outOfMemory)
                statusBar()->showMessage(texts::OutOfMemory());
            else
                TakeDroppedFiles(std::move(walk->names));
            TakeNextDrop();
        };
        statusBar()->showMessage(texts::WalkingFolderText());
        if (folderWalker->Start(work, done))
            return;
        // No thread to be had: the walk runs here, as it must run somewhere.
        work();
        done();
        return;
    }
}

void CMainFrame::TakeDroppedFiles(std::vector<std::filesystem::path> names)
{
    const bool busy = reducing || loading;
    for (const std::filesystem::path& name : names)
        sessionInputs.AddInput(name);
    if (names.empty()) {
        statusBar()->showMessage(texts::NoImagesInFolder());
        return;
    }

    if (panel->AutoSaveChecked()) {
        // A drop outside a batch starts a new one; only its own files are protected. A drop
        // during one joins it.
        const bool newBatch = !batchActive;
        if (newBatch) {
            sharedPalette.clear();
            droppedFiles = ProtectedFiles();
            outcomes->Clear();
            batchActive = true;
            // The batch list takes over from an earlier file list.
            fileList.clear();
            filePosition = -1;
            UpdateFileListLabel();
        }
        for (std::filesystem::path& name : names) {
            droppedFiles.AddInput(name);
            const int row = outcomes->Add(DisplayName(name));
            pendingFiles.push_back({std::move(name), -1, row});
        }
        batchListButton->setVisible(outcomes->Files() > 1);
        if (busy) {
            // Its turn comes when the file worked on now is done.
            PlaceProgress();
            statusBar()->showMessage(texts::AddedToBatchText(int(names.size())));
        } else if (newBatch && panel->Values().On(Setting::SharedPalette) && !paletteChoice->HasGivenPalette()) {
            // A loaded palette is every result's already; otherwise one is chosen from the whole
            // batch first. Files dropped while it runs take the same palette.
            ChooseSharedPalette();
        } else {
            LoadNextPending();
        }
        return;
    }

    // Without automatic saving the first file is shown and the others wait in the file list.
    // A drop onto an idle window starts a new list; one during a reduction joins the list and
    // its first file comes next.
    const int first = busy ? static_cast<int>(fileList.size()) : 0;
    if (!busy)
        fileList.clear();
    fileList.insert(fileList.end(), names.begin(), names.end());
    UpdateFileListLabel();
    if (busy) {
        ShowListFile(first);
        return;
    }
    ShowListFile(first);
    if (names.size() > 1)
        statusBar()->showMessage(texts::AddedToListText(int(names.size()) - 1));
}

void CMainFrame::ShowNextFile()
{
    const int current = pendingFiles.empty() || pendingFiles.front().listIndex < 0
                            ? filePosition
                            : pendingFiles.front().listIndex;
    if (current + 1 < static_cast<int>(fileList.size()))
        ShowListFile(current + 1);
}

void CMainFrame::ShowPreviousFile()
{
    const int current = pendingFiles.empty() || pendingFiles.front().listIndex < 0
                            ? filePosition
                            : pendingFiles.front().listIndex;
    if (current > 0)
        ShowListFile(current - 1);
}

void CMainFrame::ShowListFile(int index)
{
    if (index < 0 || index >= static_cast<int>(fileList.size()))
        return;
    // One file comes next at most: asking again while one is worked on changes which.
    std::erase_if(pendingFiles, [](const PendingFile& file) { return file.listIndex >= 0; });
    const std::filesystem::path& path = fileList[static_cast<std::size_t>(index)];
    pendingFiles.push_back({path, index, -1});
    if (reducing || loading)
        statusBar()->showMessage(texts::OpensAfterText(DisplayName(path.filename())));
    else
        LoadNextPending();
}

void CMainFrame::UpdateFileListLabel()
{
    const int count = static_cast<int>(fileList.size());
    const bool several = count > 1;
    fileListLabel->setVisible(several);
    if (several)
        fileListLabel->setText(texts::FileListPosition(filePosition + 1, count));
    nextAction->setEnabled(several && filePosition + 1 < count);
    previousAction->setEnabled(several && filePosition > 0);
    if (reducing || loading)
        PlaceProgress();
}

void CMainFrame::LoadNextPending()
{
    if (pendingFiles.empty()) {
        EndOfQueue();
        return;
    }
    PendingFile next = std::move(pendingFiles.front());
    pendingFiles.pop_front();
    StartLoad(std::move(next));
}

void CMainFrame::StartLoad(PendingFile file)
{
    currentOutcomeRow = file.outcomeRow;
    if (file.listIndex >= 0) {
        filePosition = file.listIndex;
        UpdateFileListLabel();
    }
    const QString name = DisplayName(file.path.filename());
    if (!loader->Start(file.path)) {
        NoteFailure(texts::LoadFailedText(name, texts::OutOfMemory()),
                    texts::LoadFailedDetail(texts::OutOfMemory()));
        emit loadFinished(false);
        LoadNextPending();
        return;
    }
    loading = true;
    progressBar->setValue(0);
    SetReducing(false); // locks the panel for the load
    statusBar()->showMessage(texts::LoadingText(name));
}

void CMainFrame::OnLoaded(LoadedFile file)
{
    loading = false;
    const QString name = DisplayName(file.path.filename());
    if (stopRequested) {
        // Stopped while it was decoded: the file is not taken, and what was on show stays.
        stopRequested = false;
        SetReducing(false);
        EndOfQueue(true);
        emit loadFinished(false);
        if (closeRequested)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (!file.Ok()) {
        // What was on show stays, with its result: the failed file takes nothing's place.
        SetReducing(false);
        const QString reason = LoadFailureReason(file.whyNot);
        NoteFailure(texts::LoadFailedText(name, reason), texts::LoadFailedDetail(reason));
        emit loadFinished(false);
        LoadNextPending();
        return;
    }
    source = std::move(file.image);
    sourcePath = file.path;
    ++loadCount;
    // Colours locked in one image's palette do not belong in the next one's.
    compareBar->Strip()->ClearLocks();
    sourceProfile = std::move(file.profile);
    sourceMetadata = std::make_shared<const ImageMetadata>(std::move(file.metadata));
    sourceView->SetBitmap(std::move(file.bitmap), std::move(file.reduced));
    viewState->SetPosition(QPoint(0, 0));         // a new image is seen from its top-left
    sourceView->SetWeightMap(std::move(file.weights)); // earlier painting belonged to the earlier image
    setWindowTitle(texts::WindowTitleFor(DisplayName(sourcePath.filename())));
    if (panel->ZoomFits())
        ApplyZoom();
    emit loadFinished(true);
    StartReduction(); // clears the earlier image's result first
}

void CMainFrame::EndOfQueue(bool stopped)
{
    if (!batchActive) {
        if (stopped)
            statusBar()->showMessage(texts::StoppedText());
        return;
    }
    if (stopped)
        outcomes->StopWaiting();
    // One file's own message says all; a batch of several ends with its counts, pointing to the
    // list where every file's outcome is.
    const int saved = outcomes->Count(BatchOutcomes::State::Saved);
    const int failed = outcomes->Count(BatchOutcomes::State::Failed);
    if (stopped)
        statusBar()->showMessage(outcomes->Files() > 1 ? texts::BatchStoppedText(saved, failed)
                                                       : texts::StoppedText());
    else if (outcomes->Files() > 1)
        statusBar()->showMessage(texts::BatchSummaryText(saved, failed));
    batchActive = false;
    currentOutcomeRow = -1;
    sharedPalette.clear();
}

CBatchListDialog* CMainFrame::OpenBatchList()
{
    if (!batchList) {
        batchList = new CBatchListDialog(outcomes, this);
        batchList->setObjectName(QStringLiteral("batchList"));
        // Beside the window where the screen has room; otherwise over the settings panel (locked
        // while a batch runs), reaching down over the views only as far as its five rows need.
        const QRect frameRect = frameGeometry();
        const QRect free = screen() ? screen()->availableGeometry() : QRect();
        if (free.isValid() && frameRect.right() + batchList->width() > free.right()) {
            const QRect over(settingsDock->mapToGlobal(QPoint(0, 0)), settingsDock->size());
            batchList->resize(std::min(batchList->width(), over.width()),
                              std::max(over.height(), batchList->minimumSizeHint().height()));
            batchList->move(over.topLeft());
        } else {
            batchList->move(frameRect.right() + 1, frameRect.top());
        }
    }
    batchList->show();
    batchList->raise();
    batchList->activateWindow();
    return batchList;
}

void CMainFrame::OpenDialog()
{
    if (reducing || loading)
        return;
    const QString folder = ToQString(sourcePath.empty() ? lastFolder : sourcePath.parent_path());
    const QStringList files =
        AskOpenFiles(this, texts::OpenTitle(), folder, {texts::ImageFilter(), texts::AllFilesFilter()});
    // Keys such as Esc go to the active window: make sure that is this one again.
    activateWindow();
    if (!files.isEmpty())
        OnDropFiles(files);
}

} // namespace tessaline
