#pragma once
// app/main_frame.h: CMainFrame, the program's one window. It owns the source image, the last
// result, the queue of files to load, the list of files taken in without automatic saving and the
// current ReduceThread; it lays out the settings panel, the two image views and the status bar
// with its progress bar, decodes files and reduces them in the background, shows and saves the
// result, and works through a batch of drops. The result view shows only the result of the
// image in the source view, or nothing with a word why. Every failure (a file that cannot be
// read, a reduction that fails, a result that cannot be written) is said in the status bar,
// naming the file, without stopping a batch; a batch keeps every file's outcome in the batch list
// and ends with its counts. Esc or the stop button end a reduction early and drop the queue.
// While a file loads or reduces the panel is locked (but for the zoom) and the views still
// scroll and zoom. Widgets are touched on the UI thread only: the worker's and the loader's
// reports are queued to it.

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>

#include "engine/cancel_flag.h"
#include "engine/colour_model.h"
#include "engine/palette_colours.h"
#include "engine/progress_ui_interface.h"
#include "engine/result_figures.h"
#include "app/reduced_copies.h"
#include "imageio/colour_profile.h"
#include "imageio/image_metadata.h"
#include "imageio/output_files.h"
#include "worker/reduce_thread.h"

class QAction;
class QDockWidget;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSettings;
class QSplitter;

namespace tessaline {

class BatchOutcomes;
class CBackgroundTask;
class CBatchListDialog;
class CColourCurveView;
class CCompareBar;
class CPaletteChoice;
class CDifferenceLegend;
class CFileLoader;
struct LoadedFile;
class CImageView;
class CTopPanelView;
class ViewState;

class CMainFrame : public QMainWindow, public ProgressUIInterface
{
    Q_OBJECT

public:
    /// The height of the settings panel's strip, in pixels.
    static constexpr int PanelHeight = 210; ///< or the panel's own least height, when that is more
    /// The settings dock's least height, and its first height in a window less than TallScreen high.
    static constexpr int MinimumPanelHeight = 60;
    static constexpr int CompactPanelHeight = 120;
    static constexpr int TallScreen = 700;
    /// The width of the progress bar with its stop button; the message keeps the rest.
    static constexpr int ProgressWidth = 180;

    /// `reduce` is the reduction each ReduceThread runs; tests may hand in a stand-in.
    explicit CMainFrame(ReduceFunction reduce = &ReducePipeline, QWidget* parent = nullptr);
    /// Joins a worker that is still running before the images it borrows go.
    ~CMainFrame() override;

    /// Worker thread: moves the progress bar (stage 2 to 11) without waiting for the UI thread.
    void ReportProgress(int stage) override;
    /// Worker thread: queues the completion steps for the UI thread and returns at once.
    void ReportFinished(std::uint32_t elapsedMs, int resultCode) override;

    /// Takes dropped paths in. With "自動保存" checked all of them join the batch queue; otherwise
    /// they become the file list and the first is loaded (while a file is worked on, they join
    /// the list and the first of them is loaded next). A later name that is not absolute is taken
    /// relative to the first name's folder. A dropped folder is walked off the UI thread; drops
    /// made meanwhile wait and are taken in their order after it.
    void OnDropFiles(const QStringList& paths);
    /// True while dropped folders are walked or drops wait behind such a walk.
    bool WalkingFolders() const;
    /// Starts loading the next queued file (its reduction follows the load); at the end of the
    /// queue, ends the batch.
    void LoadNextPending();
    /// Page Down / Page Up: the next or previous file of the list, loaded and reduced; asked
    /// for while a file is worked on, it is loaded next.
    void ShowNextFile();
    void ShowPreviousFile();
    std::size_t FileListCount() const { return fileList.size(); }
    /// The list position of the file on show (or being loaded), -1 for none.
    int FilePosition() const { return filePosition; }
    /// Starts a reduction of the source with the panel's settings: 0, or 1 when there is no source.
    int StartReduction();
    /// Offers the save dialog for the result, proposing ProposedSaveName.
    void SaveAs();
    /// The save dialog's proposal: a free name beside the source, never the source nor another
    /// file the session took in (SaveNameFor).
    std::filesystem::path ProposedSaveName() const;
    /// Sets both views to the panel's scale (a magnification, a reduction, or the fit that shows
    /// the source whole) and returns them to the origin.
    void OnZoom();
    /// One step of the zoom list up (`step` > 0) or down from the scale on show, as Ctrl++ /
    /// Ctrl+- and Ctrl+wheel do.
    void StepZoom(int step);
    /// The window's state between starts: the panel's settings, 自動保存, the zoom, the window's
    /// geometry and docks, the last folder. RunWindow restores them at start and, with
    /// remembering on, the window writes them when it closes.
    void RestoreRemembered(QSettings& store);
    void Remember(QSettings& store) const;
    void SetRemembering(bool on) { remembering = on; }
    /// Offers a dialog for opening image files; the chosen files are taken as a drop.
    void OpenDialog();
    /// Ends the running reduction early (it reports ReduceCancelled), or drops the file being
    /// loaded, and drops the queued files. Does nothing while idle.
    void StopReduction();

    /// True from the start of a file's load or of a reduction until its completion steps have run.
    bool Reducing() const { return reducing || loading; }
    std::size_t PendingCount() const { return pendingFiles.size(); }
    const RgbaImage& Source() const { return source; }
    const IndexedImage& Result() const { return result; }
    CTopPanelView* Panel() const { return panel; }
    /// The dock the settings panel stands in.
    QDockWidget* SettingsDock() const { return settingsDock; }
    CImageView* SourceView() const { return sourceView; }
    CImageView* ResultView() const { return resultView; }
    QProgressBar* ProgressBar() const { return progressBar; }
    QPushButton* StopButton() const { return stopButton; }
    /// The status bar's button that opens the batch list; shown once a batch has begun.
    QPushButton* BatchListButton() const { return batchListButton; }
    /// The status bar's note of the file list's position; shown with more than one file.
    QLabel* FileListLabel() const { return fileListLabel; }
    /// Every file of the current (or last) batch with its outcome.
    const BatchOutcomes* Outcomes() const { return outcomes; }
    /// Opens (or raises) the batch list, beside the window; never modal.
    CBatchListDialog* OpenBatchList();
    /// The current (or last) reduce thread, or null before the first reduction.
    const ReduceThread* CurrentThread() const { return reduceThread.get(); }
    CCompareBar* CompareBar() const { return compareBar; }
    CPaletteChoice* PaletteChoice() const { return paletteChoice; }
    CDifferenceLegend* DifferenceLegend() const { return differenceLegend; }
    CColourCurveView* CurveView() const { return curveView; }
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
    /// A file's load has ended; `ok` when it is on show (and its reduction started).
    void loadFinished(bool ok);
    /// A reduction's completion steps have run, including starting the next queued file's load.
    void reductionFinished(int resultCode);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    /// Holding the space bar in either view shows the source in the result view.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    /// A file waiting to be loaded: its list position (without automatic saving) or its row of
    /// the batch list (with it), -1 for none.
    struct PendingFile
    {
        std::filesystem::path path;
        int listIndex = -1;
        int outcomeRow = -1;
    };
    void TakeNextDrop();
    void TakeDroppedFiles(std::vector<std::filesystem::path> names);
    void StartLoad(PendingFile file);
    void OnLoaded(LoadedFile file);
    void ShowListFile(int index);
    void UpdateFileListLabel();
    void NoteFailure(const QString& statusText, const QString& detail);
    void ClearResult(const QString& why);
    void ApplyZoom();
    void FitToScreen();
    void OnPreview();
    void OnSave();
    void OnClearWeight();
    void OnUseWeight();
    void OnWorkerFinished(std::uint32_t elapsedMs, int resultCode);
    void OnReductionFinished(std::uint32_t elapsedMs, int resultCode);
    void SetReducing(bool on);
    void PlaceProgress();
    void AbandonReduction();
    void SaveAutomatically();
    /// 共有パレット: reads the batch's queued files for the one palette they all take, off the UI
    /// thread, then loads the first. The window stays locked (loading) meanwhile; Stop ends it.
    void ChooseSharedPalette();
    void OnSharedPaletteChosen();
    /// Gives the job the batch's shared palette, when the batch has one; true when it did.
    bool FillSharedPalette(ReduceSettings& job) const;
    bool WriteResult(const std::filesystem::path& target, const QString& shownName);
    /// Ends the batch (if one runs) with its counts; `stopped` when the user stopped it.
    void EndOfQueue(bool stopped = false);
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
    QDockWidget* settingsDock = nullptr;
    QDockWidget* curveDock = nullptr;
    QAction* openAction = nullptr;
    QAction* saveAction = nullptr;
    QAction* stopAction = nullptr;
    QAction* nextAction = nullptr;
    QAction* previousAction = nullptr;
    QAction* batchListAction = nullptr;
    QPushButton* batchListButton = nullptr;
    QLabel* fileListLabel = nullptr;
    CFileLoader* loader = nullptr;
    BatchOutcomes* outcomes = nullptr;
    CBatchListDialog* batchList = nullptr;
    RgbaImage source;
    IndexedImage result;
    /// The file `source`, and so the result, came from: it names the saved files. A later drop
    /// that fails to load leaves it alone, so a save never proposes the failed file's name.
    std::filesystem::path sourcePath;
    ProfileOutcome sourceProfile; ///< what became of the source's colour profile, for the status bar
    /// The source's EXIF, XMP, text and density, written into the result with メタデータを保持.
    std::shared_ptr<const ImageMetadata> sourceMetadata;
    std::shared_ptr<const ImageMetadata> resultMetadata; ///< what the result's file carries, or null
    std::unique_ptr<ReduceThread> reduceThread;
    std::deque<PendingFile> pendingFiles;
    /// Drops not taken in yet: the first is being walked when `folderWalker` is busy.
    std::deque<std::vector<std::filesystem::path>> waitingDrops;
    CBackgroundTask* folderWalker = nullptr;
    std::atomic<bool> stopWalking{false};
    /// The files taken in without automatic saving, in drop order, and the one on show.
    std::vector<std::filesystem::path> fileList;
    int filePosition = -1;
    /// The batch list's row of the file on show, -1 outside a batch.
    int currentOutcomeRow = -1;
    /// The files of the current batch of drops: an automatic save never writes over one of them.
    ProtectedFiles droppedFiles;
    /// Every file this session took in: the save dialog never proposes one of them.
    ProtectedFiles sessionInputs;
    bool reducing = false;
    bool loading = false;
    bool batchActive = false; ///< a batch of drops with automatic saving is under way
    bool fitted = false;      ///< the first show has been handled
    bool fitPending = false;  ///< waiting for the window manager's frame to fit the window
    CCompareBar* compareBar = nullptr;
    CPaletteChoice* paletteChoice = nullptr;
    CDifferenceLegend* differenceLegend = nullptr;
    CColourCurveView* curveView = nullptr; ///< in a dock below the views, shown from the compare bar
    std::uint64_t loadCount = 0;           ///< tells the curve a new image from the same one
    std::optional<ResultFigures> figures;
    QString resultSummary; ///< the status bar's time and figures of the result on show
    std::vector<std::uint8_t> resultPng;
    QImage differenceBitmap; ///< made when first shown for a result
    /// Makes the result's bitmap and its reduced copies off the UI thread once the worker has
    /// reported; the result is shown when they are ready.
    CBackgroundTask* resultPreparer = nullptr;
    QImage preparedBitmap;
    ReducedCopies preparedCopies;
    /// The palette every file of the running 自動保存 batch takes (共有パレット), empty when each
    /// file's palette is its own; chosen by `sharedChooser` into `chosenShared`, read only once
    /// it has reported.
    std::vector<RgbaColour> sharedPalette;
    std::vector<RgbaColour> chosenShared;
    bool sharedFailedForMemory = false;
    CBackgroundTask* sharedChooser = nullptr;
    CancelFlag sharedCancel{false};
    bool choosingShared = false;
    /// The result on show was reduced onto a batch's shared palette: パレット保存 proposes to
    /// save it beside the results.
    bool resultOnSharedPalette = false;
    bool sourceKeyHeld = false;
    bool remembering = false;         ///< write the state to Qt's settings store at close
    bool restoredDocks = false;       ///< the docks stand as the last start left them
    std::filesystem::path lastFolder; ///< of the last image of an earlier start: the open dialog's
    bool stopRequested = false;  ///< the running reduction is being stopped
    bool closeRequested = false; ///< close once the running reduction has stopped
};

/// The window's own settings store (~/.config/Tessaline/Tessaline.conf on Linux).
std::unique_ptr<QSettings> OpenWindowStore();

/// The first window's size on a screen whose available area (without desktop panels) is
/// `available`, the window manager's frame taking `frame` (left+right, top+bottom) of it: the
/// preferred size where it fits, else what is left. The views give up height first.
QSize FirstWindowSize(QSize preferred, QSize available, QSize frame);

} // namespace tessaline
