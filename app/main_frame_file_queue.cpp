// app/main_frame_file_queue.cpp: files coming in (drops, the open dialog, arguments), the queue
// they wait in, loading the next one and the batch's tally.
#include "app/main_frame.h"

#include <new>

#include <QByteArray>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

#include "app/failure_texts.h"
#include "app/image_view.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/output_files.h"
#include "imageio/qt_bitmap_reader.h"

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
    if (!LoadImageFile(source, path, QtBitmaps(), &whyNot, {&sourceProfile})) {
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

} // namespace tessaline
