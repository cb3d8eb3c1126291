// app/main_frame_shared_palette.cpp: 共有パレット, one palette for every file of a 自動保存 batch,
// chosen from all of them before the first is reduced, as tessaline-cli --shared-palette chooses it.
#include "app/main_frame.h"

#include <new>

#include <QProgressBar>
#include <QStatusBar>

#include "app/background_task.h"
#include "app/batch_outcomes.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "imageio/qt_bitmap_reader.h"
#include "jobs/shared_palette_choice.h"
#include "settings/palette_request.h"

namespace tessaline {

void CMainFrame::ChooseSharedPalette()
{
    std::vector<std::filesystem::path> paths;
    for (const PendingFile& file : pendingFiles)
        paths.push_back(file.path);
    const SettingValues values = panel->Values();
    // Colours locked in the image on show belong to it, not to the batch's files (each load
    // clears them): the palette is chosen without them.
    const PaletteRequest request;
    chosenShared.clear();
    sharedFailedForMemory = false;
    sharedCancel.store(false);
    const auto work = [this, paths = std::move(paths), values, request] {
        try {
            // The window's files carry no painted weight yet: each starts with a blank map.
            chosenShared = tessaline::ChooseSharedPalette(paths, values, request, nullptr, QtBitmaps(), &sharedCancel);
        } catch (const std::bad_alloc&) {
            chosenShared.clear();
            sharedFailedForMemory = true;
        }
    };
    loading = true;
    choosingShared = true;
    progressBar->setValue(0);
    SetReducing(false); // locks the panel while the files are read
    statusBar()->showMessage(texts::ChoosingSharedPaletteText(static_cast<int>(pendingFiles.size())));
    if (!sharedChooser->Start(work, [this] { OnSharedPaletteChosen(); })) {
        sharedFailedForMemory = true; // no thread: said as a lack of memory, nothing was read
        OnSharedPaletteChosen();
    }
}

void CMainFrame::OnSharedPaletteChosen()
{
    loading = false;
    choosingShared = false;
    if (stopRequested) {
        stopRequested = false;
        SetReducing(false);
        EndOfQueue(true);
        if (closeRequested)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    if (chosenShared.empty()) {
        // Without the palette the batch would give each file its own: it is not run at all.
        SetReducing(false);
        statusBar()->showMessage(texts::SharedPaletteFailedText(sharedFailedForMemory ? texts::OutOfMemory()
                                                                                      : texts::NoReadableImage()));
        pendingFiles.clear();
        outcomes->StopWaiting();
        batchActive = false;
        currentOutcomeRow = -1;
        return;
    }
    sharedPalette = std::move(chosenShared);
    chosenShared.clear();
    LoadNextPending();
}

bool CMainFrame::FillSharedPalette(ReduceSettings& job) const
{
    if (!batchActive || sharedPalette.empty())
        return false;
    SettingValues values;
    values[Setting::GivenPalette] = 1;
    FillPaletteRequest(values, PaletteRequest{sharedPalette, {}}, job);
    return true;
}

} // namespace tessaline
