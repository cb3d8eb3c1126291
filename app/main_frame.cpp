#include "app/main_frame.h"

#include <array>
#include <new>
#include <vector>

#include <QKeyEvent>
#include <QSettings>
#include <QWheelEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "app/background_task.h"
#include "app/batch_outcomes.h"
#include "app/colour_curve_view.h"
#include "app/compare_bar.h"
#include "app/difference_legend.h"
#include "app/image_view.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "app/view_state.h"
#include "engine/reduce_stages.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/compare_bitmaps.h"
#include "imageio/input_names.h"
#include "imageio/png_writer.h"
#include "jobs/painted_weights.h"

namespace tessaline {

CMainFrame::~CMainFrame()
{
    // The worker borrows source, result and this interface: end it while they still exist. Its
    // reports are queued, so it never waits for this thread and the join cannot hang; cancelled
    // first, a reduction still running ends within moments instead of running to its end.
    if (reduceThread)
        reduceThread->Cancel();
    reduceThread.reset();
    resultPreparer->Wait(); // it reads the result
    sharedCancel.store(true);
    sharedChooser->Wait(); // it writes the shared palette
    stopWalking.store(true);
    folderWalker->Wait(); // it reads the stop flag
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Closing mid-reduction would pull the images from under the worker: the reduction is
    // stopped, and its completion closes the window.
    if (reducing || loading) {
        closeRequested = true;
        StopReduction();
        event->ignore();
        return;
    }
    reduceThread.reset(); // its Run has returned: only the join is left
    pendingFiles.clear();
    if (remembering)
        Remember(*OpenWindowStore());
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
    if (event->type() == QEvent::Wheel && (watched == sourceView->viewport() || watched == resultView->viewport())) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            if (const int delta = wheel->angleDelta().y(); delta != 0)
                StepZoom(delta > 0 ? 1 : -1);
            return true;
        }
    }
    // The fit follows every change of the panes' size: the window's, maximising, the divider.
    if (event->type() == QEvent::Resize && (watched == sourceView || watched == resultView) && panel->ZoomFits())
        ApplyZoom();
    // Leaving the window while the key is down would leave the source on show.
    if (event->type() == QEvent::FocusOut && sourceKeyHeld) {
        sourceKeyHeld = false;
        UpdateResultView();
    }
    return QMainWindow::eventFilter(watched, event);
}

int CMainFrame::StartReduction()
{
    if (source.Empty())
        return 1;
    progressBar->setValue(0);
    SetReducing(true);
    // The earlier result belongs to other settings (or another image): it goes at once.
    ClearResult(texts::ReducingHint());

    const SettingValues values = panel->Values();
    const QImage& weights = sourceView->WeightMap();
    curveView->Follow(source, values, weights, loadCount);

    // The previous worker has reported and returned (its completion is what enabled the
    // window), so this join is immediate.
    reduceThread.reset();
    try {
        reduceThread = std::make_unique<ReduceThread>(this, reduce);
        // The size in the status bar is the saved file's: every save writes these bytes, with the
        // source's metadata when メタデータを保持 asks for it, as tessaline-cli --keep-metadata does.
        std::shared_ptr<const ImageMetadata> kept = values.On(Setting::KeepMetadata) ? sourceMetadata : nullptr;
        resultMetadata = kept;
        reduceThread->encode = [kept](const IndexedImage& image) { return EncodePng(image, {}, kept.get()); };
        BuildReduceJob(*reduceThread, values, weights.isNull() ? nullptr : &weights, source, result);
        paletteChoice->Fill(reduceThread->job);
        resultOnSharedPalette = FillSharedPalette(reduceThread->job);
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
    SetReducing(false);
    const QString name = DisplayName(sourcePath.filename());
    ClearResult(texts::FailedHint(texts::OutOfMemory()));
    NoteFailure(texts::ReduceFailedText(name, texts::OutOfMemory()),
                texts::ReduceFailedDetail(texts::OutOfMemory()));
    LoadNextPending();
}

void CMainFrame::StopReduction()
{
    if (!reducing && !loading)
        return;
    stopRequested = true;
    pendingFiles.clear();
    if (reduceThread && reducing)
        reduceThread->Cancel();
    if (choosingShared)
        sharedCancel.store(true);
    statusBar()->showMessage(texts::StoppingText());
}

void CMainFrame::ClearResult(const QString& why)
{
    result.Release();
    figures.reset();
    resultPng.clear();
    differenceBitmap = QImage();
    resultView->SetBitmap(QImage());
    resultView->SetHint(why);
    ShowPalette();
    UpdateResultView();
}

void CMainFrame::NoteFailure(const QString& statusText, const QString& detail)
{
    statusBar()->showMessage(statusText);
    if (batchActive)
        outcomes->SetFailed(currentOutcomeRow, detail);
}

void CMainFrame::ReportProgress(int stage)
{
    // Queued: the worker never waits for this thread, and the bar moves as the loop runs.
    QMetaObject::invokeMethod(progressBar, [bar = progressBar, stage] { bar->setValue(stage); }, Qt::QueuedConnection);
}

void CMainFrame::ReportFinished(std::uint32_t elapsedMs, int resultCode)
{
    // Arrives after every progress report it follows, so 12 is always the last position shown.
    QMetaObject::invokeMethod(this, [this, elapsedMs, resultCode] { OnWorkerFinished(elapsedMs, resultCode); },
                              Qt::QueuedConnection);
}

void CMainFrame::OnWorkerFinished(std::uint32_t elapsedMs, int resultCode)
{
    preparedBitmap = QImage();
    preparedCopies = ReducedCopies();
    if (resultCode != ReduceOk)
        return OnReductionFinished(elapsedMs, resultCode);
    // Turning a large result into what the views draw takes the better part of a second: it is
    // done beside the UI thread, which keeps the window locked (reducing) until it is ready.
    const auto prepare = [this] {
        try {
            preparedBitmap = MakeResultBitmap(result);
            preparedCopies = MakeReducedCopies(preparedBitmap);
        } catch (const std::bad_alloc&) {
            preparedBitmap = QImage(); // said as out of memory
            preparedCopies = ReducedCopies();
        }
    };
    const auto show = [this, elapsedMs, resultCode] { OnReductionFinished(elapsedMs, resultCode); };
    if (!resultPreparer->Start(prepare, show)) {
        prepare();
        show();
    }
}

void CMainFrame::OnReductionFinished(std::uint32_t elapsedMs, int resultCode)
{
    progressBar->setValue(StageFinished);
    const QString name = DisplayName(sourcePath.filename());
    figures.reset();
    resultPng.clear();
    differenceBitmap = QImage();
    QImage bitmap;
    if (resultCode == ReduceOk) {
        bitmap = std::move(preparedBitmap);
        if (bitmap.isNull()) // no memory to show it: nothing unseen is saved either
            resultCode = ReduceOutOfMemory;
    }
    if (resultCode == ReduceOk && reduceThread) {
        // The worker has written these before its report and touches them no more.
        figures = reduceThread->figures;
        resultPng = std::move(reduceThread->encoded);
    }
    ShowPalette();
    if (resultCode == ReduceOk) {
        resultSummary = (figures ? texts::ResultText(static_cast<int>(elapsedMs), figures->psnr,
                                                     figures->coloursUsed, figures->pngBytes)
                                 : texts::ElapsedText(static_cast<int>(elapsedMs))) +
                        texts::ProfileText(sourceProfile.convertedFrom, !sourceProfile.warning.empty());
        statusBar()->showMessage(resultSummary);
        resultView->SetBitmap(std::move(bitmap), std::move(preparedCopies));
        resultView->SetHint(QString());
        UpdateResultView();
        emit resultShown();
        if (panel->AutoSaveChecked())
            SaveAutomatically();
    } else if (resultCode != ReduceCancelled) {
        // The result view shows only this image's result: with none, it says why.
        result.Release();
        const QString why = resultCode == ReduceQualityTooLow ? texts::QualityTooLow() : texts::OutOfMemory();
        ClearResult(texts::FailedHint(why));
        NoteFailure(texts::ReduceFailedText(name, why), texts::ReduceFailedDetail(why));
    }
    SetReducing(false);
    if (stopRequested || resultCode == ReduceCancelled) {
        // A stop ends the whole run: what was queued is dropped, and the counts so far are said.
        stopRequested = false;
        result.Release();
        ClearResult(texts::StoppedHint());
        pendingFiles.clear();
        EndOfQueue(true);
    } else {
        LoadNextPending();
    }
    emit reductionFinished(resultCode);
    if (closeRequested)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
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
    ReducedCopies copies;
    bool difference = false;
    if (compareBar->SourceButton()->isChecked() || sourceKeyHeld) {
        shown = sourceView->Bitmap();
        copies = sourceView->BitmapCopies();
    } else if (compareBar->DifferenceButton()->isChecked()) {
        if (differenceBitmap.isNull())
            differenceBitmap = MakeDifferenceBitmap(source, result);
        shown = differenceBitmap;
        difference = !shown.isNull();
    }
    resultView->SetAlternate(shown, std::move(copies));
    differenceLegend->setVisible(difference);
    resultView->viewport()->update();
}

void CMainFrame::OnPaletteSelection(int index)
{
    resultView->SetHighlight(index >= 0 ? MakeHighlightBitmap(result, index) : QImage());
    resultView->viewport()->update();
}

void CMainFrame::OnPreview()
{
    if (!source.Empty())
        StartReduction();
}

void CMainFrame::OnZoom()
{
    ApplyZoom();
}

void CMainFrame::StepZoom(int step)
{
    panel->StepZoom(step, viewState->Zoom(), viewState->Shrink());
}

void CMainFrame::ApplyZoom()
{
    // Both views follow, back at the origin. A fit leaves no room for scroll bars: it shows the
    // whole image in the smaller of the two panes, bars switched off while it holds.
    const bool fits = panel->ZoomFits();
    for (CImageView* view : {sourceView, resultView}) {
        const Qt::ScrollBarPolicy policy = fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
        view->setHorizontalScrollBarPolicy(policy);
        view->setVerticalScrollBarPolicy(policy);
    }
    if (fits) {
        const QSize room = sourceView->maximumViewportSize().boundedTo(resultView->maximumViewportSize());
        const auto [zoom, shrink] = FitScale(sourceView->Bitmap().size(), room);
        if (zoom == viewState->Zoom() && shrink == viewState->Shrink())
            return; // a resize that keeps the fit keeps the place too
        viewState->SetScale(zoom, shrink);
    } else if (panel->ZoomShrink() > 1) {
        viewState->SetShrink(panel->ZoomShrink());
    } else {
        viewState->SetZoom(panel->ZoomFactor());
    }
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
