// app/main_frame_saving.cpp: writing the result (automatically or through the save dialog) and
// the painted weights.
#include "app/main_frame.h"

#include <cstdio>

#include <QBuffer>
#include <QByteArray>
#include <QFileDialog>
#include <QImageWriter>
#include <QStatusBar>

#include "app/batch_outcomes.h"
#include "app/failure_texts.h"
#include "app/file_dialogs.h"
#include "app/image_view.h"
#include "app/save_name.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "imageio/atomic_file.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "imageio/png_writer.h"
#include "imageio/qt_bitmap_reader.h"

namespace tessaline {

void CMainFrame::SaveAutomatically()
{
    if (result.pixels.empty())
        return;
    const Destination destination = DestinationFor(OutputRule{}, sourcePath);
    const QString shownTarget = DisplayName(destination.file.parent_path().filename() / destination.file.filename());
    const auto refuse = [&](const QString& reason) {
        NoteFailure(texts::SaveFailedText(shownTarget, reason), texts::SaveFailedDetail(shownTarget, reason));
    };
    // A dropped file inside an OUTPUT folder may be another file's target: it is never replaced.
    if (droppedFiles.Check(destination.file, false) != ProtectedFiles::Clash::None) {
        refuse(texts::TargetIsDroppedFile());
        return;
    }
    if (CreateDestinationFolder(destination)) {
        std::error_code error;
        const bool inTheWay =
            std::filesystem::exists(std::filesystem::symlink_status(destination.folderToCreate, error));
        refuse(inTheWay ? texts::OutputNotAFolder() : texts::CannotCreateFolder());
        return;
    }
    if (WriteResult(destination.file, shownTarget)) {
        statusBar()->showMessage(texts::SavedWithFigures(resultSummary, shownTarget));
        if (batchActive)
            outcomes->SetSaved(currentOutcomeRow, DisplayName(destination.file));
    }
}

bool CMainFrame::WriteResult(const std::filesystem::path& target, const QString& shownName)
{
    // The bytes the status bar's size was taken from, so the saved file has exactly that size.
    const int written = resultPng.empty() ? WritePngFile(result, target, {}, resultMetadata.get()) : WritePngBytes(resultPng, target);
    if (written == PngWriteOk)
        return true;
    const QString reason = WriteFailureReason(target);
    NoteFailure(texts::SaveFailedText(shownName, reason), texts::SaveFailedDetail(shownName, reason));
    return false;
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
    const QString chosen = AskSaveFile(this, texts::SaveWeights(), ToQString(proposal),
                                       {texts::PngFilter(), texts::AllFilesFilter()});
    if (!chosen.isEmpty())
        SaveWeights(ToPath(chosen));
}

void CMainFrame::OnLoadWeights()
{
    if (source.Empty())
        return;
    const QString chosen = AskOpenFile(this, texts::LoadWeights(), ToQString(sourcePath.parent_path()));
    if (!chosen.isEmpty())
        LoadWeights(ToPath(chosen));
}

void CMainFrame::OnSave()
{
    // Ctrl+S follows the Save button, which automatic saving disables.
    if (!result.pixels.empty() && !panel->AutoSaveChecked())
        SaveAs();
}

void CMainFrame::SaveAs()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({texts::PngFilter(), texts::AllFilesFilter()});
    dialog.setDefaultSuffix(QStringLiteral("png"));
    // A free name beside the file the result came from: never that file, nor another input.
    const std::filesystem::path proposal = ProposedSaveName();
    dialog.setDirectory(ToQString(proposal.parent_path()));
    dialog.selectFile(ToQString(proposal));
    UseApplicationLocaleForDates(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    const std::filesystem::path target = ToPath(chosen.front());
    if (WriteResult(target, DisplayName(target.filename())))
        statusBar()->showMessage(texts::SavedWithFigures(resultSummary, DisplayName(target)));
}

std::filesystem::path CMainFrame::ProposedSaveName() const
{
    return SaveNameFor(sourcePath, static_cast<int>(result.paletteSize), sessionInputs);
}

} // namespace tessaline
