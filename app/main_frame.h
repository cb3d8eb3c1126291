#pragma once
// app/main_frame.h: CMainFrame, the program's one window. It owns the source image, the last
// result, the queue of dropped files and the current ReduceThread; it lays out the settings panel,
// the two image views and the status bar with its progress bar, loads dropped files, reduces each
// load in the background, shows and saves the result, and works through a batch of drops. Every
// failure (a file that cannot be read, a reduction that fails, a result that cannot be written)
// is said in the status bar, naming the file, without stopping a batch; a batch ends with its
// counts. Esc or the stop button end a reduction early and drop the queue.
// Widgets are touched on the UI thread only: the worker's reports are queued to it.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>

#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "engine/result_figures.h"
#include "imageio/colour_profile.h"
#include "imageio/output_files.h"
#include "worker/reduce_thread.h"

class QAction;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSplitter;

namespace tessaline {

class CCompareBar;
class CPaletteChoice;
class CDifferenceLegend;
class CImageView;
class CTopPanelView;
class ViewState;

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
    /// Offers a dialog for opening image files; the chosen files are taken as a drop.
    void OpenDialog();
    /// Ends the running reduction early (it reports ReduceCancelled) and drops the queued files.
    /// Does nothing between reductions.
    void StopReduction();

    /// True from the start of a reduction until its completion steps have run.
    bool Reducing() const { return reducing; }
    std::size_t PendingCount() const { return pendingFiles.size(); }
    const RgbaImage& Source() const { return source; }
    const IndexedImage& Result() const { return result; }
    CTopPanelView* Panel() const { return panel; }
    CImageView* SourceView() const { return sourceView; }
    CImageView* ResultView() const { return resultView; }
    QProgressBar* ProgressBar() const { return progressBar; }
    QPushButton* StopButton() const { return stopButton; }
    /// The current (or last) reduce thread, or null before the first reduction.
    const ReduceThread* CurrentThread() const { return reduceThread.get(); }
    CCompareBar* CompareBar() const { return compareBar; }
    CPaletteChoice* PaletteChoice() const { return paletteChoice; }
    CDifferenceLegend* DifferenceLegend() const { return differenceLegend; }
    /// The figures of the result on show, as the status bar gives them; empty without a result.
    const std::optional<ResultFigures>& Figures() const { return figures; }
    /// The result encoded as the PNG file every save writes; empty when it could not be encoded.
    const std::vector<std::uint8_t>& ResultPng() const { return resultPng; }

    /// Writes the painted user weight to `path` as a PNG whose alpha is the weight (what
    /// tessaline-cli --weights reads). False, with the reason in the status bar, when there is no
    /// weight map or the file cannot be written; an existing file is then left as it was.
    bool SaveWeights(const std::filesystem::path& path);
    /// Reads a weight image (any image the window loads; its alpha is the weight) of the source's
    /// size into the weight map. False, with the reason in the status bar, otherwise.
    bool LoadWeights(const std::filesystem::path& path);

signals:
    /// A successful result is on show in the result view.
    void resultShown();
    /// A reduction's completion steps have run, including loading the next queued file.
    void reductionFinished(int resultCode);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    /// Holding the space bar in either view shows the source in the result view.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnPreview();
    void OnSave();
    void OnClearWeight();
    void OnUseWeight();
    void OnReductionFinished(std::uint32_t elapsedMs, int resultCode);
    void SetReducing(bool on);
    void PlaceProgress();
    void AbandonReduction();
    void SaveAutomatically();
    bool WriteResult(const std::filesystem::path& target, const QString& shownName);
    void CountOutcome(bool ok, const QString& file);
    void EndOfQueue();
    void ShowPalette();
    void UpdateResultView();
    void OnPaletteSelection(int index);
    void OnSaveWeights();
    void OnLoadWeights();

    ReduceFunction reduce;
    CTopPanelView* panel = nullptr;
    QSplitter* viewSplitter = nullptr;
    CImageView* sourceView = nullptr;
    CImageView* resultView = nullptr;
    ViewState* viewState = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* stopButton = nullptr;
    QScrollArea* panelArea = nullptr;
    QAction* openAction = nullptr;
    QAction* saveAction = nullptr;
    QAction* stopAction = nullptr;
    RgbaImage source;
    IndexedImage result;
    /// The file `source`, and so the result, came from: it names the saved files. A later drop
    /// that fails to load leaves it alone, so a save never proposes the failed file's name.
    std::filesystem::path sourcePath;
    ProfileOutcome sourceProfile; ///< what became of the source's colour profile, for the status bar
    std::unique_ptr<ReduceThread> reduceThread;
    std::deque<std::filesystem::path> pendingFiles;
    /// The files of the current batch of drops: an automatic save never writes over one of them.
    ProtectedFiles droppedFiles;
    bool reducing = false;
    CCompareBar* compareBar = nullptr;
    CPaletteChoice* paletteChoice = nullptr;
    CDifferenceLegend* differenceLegend = nullptr;
    std::optional<ResultFigures> figures;
    std::vector<std::uint8_t> resultPng;
    QImage differenceBitmap; ///< made when first shown for a result
    bool sourceKeyHeld = false;
    bool stopRequested = false;  ///< the running reduction is being stopped
    bool closeRequested = false; ///< close once the running reduction has stopped

    /// What an automatically saved run of dropped files has come to so far.
    struct BatchTally
    {
        bool active = false;
        int files = 0; ///< files the batch took in
        int saved = 0;
        int failed = 0;
        QStringList failedFiles;
    };
    BatchTally batch;
};

} // namespace tessaline
