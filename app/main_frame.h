#pragma once
// app/main_frame.h: CMainFrame, the program's one window. It owns the source image, the last
// result, the queue of dropped files and the current ReduceThread; it lays out the settings panel,
// the two image views and the status bar with its progress bar, loads dropped files, reduces each
// load in the background, shows and saves the result, and works through a batch of drops.
// Widgets are touched on the UI thread only: the worker's reports are queued to it.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>

#include <QMainWindow>

#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "imageio/output_files.h"
#include "worker/reduce_thread.h"

class QProgressBar;
class QSplitter;

namespace tessaline {

class CImageView;
class CTopPanelView;

class CMainFrame : public QMainWindow, public ProgressUIInterface
{
    Q_OBJECT

public:
    /// The height of the settings panel's strip, in pixels.
    static constexpr int PanelHeight = 210;

    /// `reduce` is the reduction each ReduceThread runs; tests may hand in a stand-in.
    explicit CMainFrame(ReduceFunction reduce = &ReducePipeline, QWidget* parent = nullptr);
    /// Joins a worker that is still running before the images it borrows go.
    ~CMainFrame() override;

    /// Worker thread: moves the progress bar (stage 2 to 11) without waiting for the UI thread.
    void ReportProgress(int stage) override;
    /// Worker thread: queues the completion steps for the UI thread and returns at once.
    void ReportFinished(std::uint32_t elapsedMs, int resultCode) override;

    /// Takes dropped paths into the queue (all of them with "自動保存" checked, else the first)
    /// and loads the next queued file. A later name that is not absolute is taken relative to the
    /// first name's folder.
    void OnDropFiles(const QStringList& paths);
    /// Loads queued files until one loads (which starts its reduction) or the queue is empty.
    void LoadNextPending();
    /// Reads `path` (PNG reader first, then Qt's image readers), shows it with a fresh weight
    /// map and starts its reduction. False when the file cannot be read.
    bool LoadFile(const std::filesystem::path& path);
    /// Starts a reduction of the source with the panel's settings: 0, or 1 when there is no source.
    int StartReduction();
    /// Offers the save dialog for the result.
    void SaveAs();
    /// Sets both views to the panel's zoom and returns them to the origin.
    void OnZoom();

    /// True from the start of a reduction until its completion steps have run.
    bool Reducing() const { return reducing; }
    std::size_t PendingCount() const { return pendingFiles.size(); }
    const RgbaImage& Source() const { return source; }
    const IndexedImage& Result() const { return result; }
    CTopPanelView* Panel() const { return panel; }
    CImageView* SourceView() const { return sourceView; }
    CImageView* ResultView() const { return resultView; }
    QProgressBar* ProgressBar() const { return progressBar; }
    /// The current (or last) reduce thread, or null before the first reduction.
    const ReduceThread* CurrentThread() const { return reduceThread.get(); }

signals:
    /// A successful result is on show in the result view.
    void resultShown();
    /// A reduction's completion steps have run, including loading the next queued file.
    void reductionFinished(int resultCode);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnPreview();
    void OnSave();
    void OnClearWeight();
    void OnUseWeight();
    void OnReductionFinished(std::uint32_t elapsedMs, int resultCode);
    void SetReducing(bool on);
    void AbandonReduction();
    void SaveAutomatically();

    ReduceFunction reduce;
    CTopPanelView* panel = nullptr;
    QSplitter* viewSplitter = nullptr;
    CImageView* sourceView = nullptr;
    CImageView* resultView = nullptr;
    QProgressBar* progressBar = nullptr;
    RgbaImage source;
    IndexedImage result;
    /// The file `source`, and so the result, came from: it names the saved files. A later drop
    /// that fails to load leaves it alone, so a save never proposes the failed file's name.
    std::filesystem::path sourcePath;
    std::unique_ptr<ReduceThread> reduceThread;
    std::deque<std::filesystem::path> pendingFiles;
    bool reducing = false;
};

} // namespace tessaline
