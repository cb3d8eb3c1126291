#include "app/palette_choice.h"

#include <QPushButton>
#include <QSignalBlocker>

#include "app/compare_bar.h"
#include "app/file_dialogs.h"
#include "app/palette_strip.h"
#include "app/ui_texts.h"
#include "imageio/input_names.h"
#include "imageio/palette_file.h"
#include "imageio/qt_bitmap_reader.h"

namespace tessaline {

CPaletteChoice::CPaletteChoice(CCompareBar* bar, QWidget* window) : QObject(window), bar(bar), window(window)
{
    connect(bar, &CCompareBar::loadPaletteToggled, this, &CPaletteChoice::OnLoadToggled);
    connect(bar, &CCompareBar::savePaletteRequested, this, &CPaletteChoice::OnSaveRequested);
}

bool CPaletteChoice::LoadPalette(const std::filesystem::path& path)
{
    QString whyNot;
    const auto colours = ReadPaletteFile(path, QtBitmaps(), &whyNot);
    const QSignalBlocker quiet(bar->LoadPaletteButton());
    if (!colours) {
        bar->LoadPaletteButton()->setChecked(HasGivenPalette());
        emit message(texts::PaletteNotLoaded(DisplayName(path), whyNot));
        return false;
    }
    given = *colours;
    folder = path.parent_path();
    bar->LoadPaletteButton()->setChecked(true);
    emit message(texts::PaletteLoaded(DisplayName(path), static_cast<int>(given.size())));
    emit paletteChanged();
    return true;
}

void CPaletteChoice::DropPalette()
{
    const QSignalBlocker quiet(bar->LoadPaletteButton());
    bar->LoadPaletteButton()->setChecked(false);
    if (given.empty())
        return;
    given.clear();
    emit message(texts::PaletteDropped());
    emit paletteChanged();
}

bool CPaletteChoice::SavePalette(const std::filesystem::path& path)
{
    const CPaletteStrip* strip = bar->Strip();
    std::vector<RgbaColour> colours;
    for (int i = 0; i < strip->EntryCount(); ++i) {
        const QRgb c = strip->EntryColour(i);
        colours.push_back({static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                           static_cast<std::uint8_t>(qBlue(c)), static_cast<std::uint8_t>(qAlpha(c))});
    }
    const bool saved = WritePaletteFile(path, colours);
    if (saved)
        folder = path.parent_path();
    emit message(saved ? texts::PaletteSaved(DisplayName(path)) : texts::PaletteNotSaved(DisplayName(path)));
    return saved;
}

PaletteRequest CPaletteChoice::Request() const
{
    PaletteRequest request;
    request.given = given;
    for (const QRgb c : bar->Strip()->LockedColours())
        AddDistinct(request.kept,
                    {static_cast<std::uint8_t>(qRed(c)), static_cast<std::uint8_t>(qGreen(c)),
                     static_cast<std::uint8_t>(qBlue(c)), static_cast<std::uint8_t>(qAlpha(c))});
    return request;
}

void CPaletteChoice::Fill(ReduceSettings& job) const
{
    const PaletteRequest request = Request();
    SettingValues values;
    values[Setting::GivenPalette] = request.given.empty() ? 0 : 1;
    values[Setting::KeepColours] = request.kept.empty() ? 0 : 1;
    FillPaletteRequest(values, request, job);
}

void CPaletteChoice::OnLoadToggled(bool on)
{
    if (!on) {
        DropPalette();
        return;
    }
    const QString chosen = AskOpenFile(window, texts::LoadPalette(), ToQString(folder),
                                       {texts::PaletteFilter(), texts::AllFilesFilter()});
    if (chosen.isEmpty()) {
        const QSignalBlocker quiet(bar->LoadPaletteButton());
        bar->LoadPaletteButton()->setChecked(HasGivenPalette());
        return;
    }
    LoadPalette(ToPath(chosen));
}

std::filesystem::path CPaletteChoice::ProposedName() const
{
    std::filesystem::path name = proposal ? proposal() : std::filesystem::path();
    if (name.empty())
        return folder / ToPath(texts::PaletteFileName());
    // The image's folder, unless palettes were loaded or saved elsewhere this session.
    return folder.empty() ? name : folder / name.filename();
}

void CPaletteChoice::OnSaveRequested()
{
    if (bar->Strip()->EntryCount() == 0)
        return;
    const std::filesystem::path suggested = ProposedName();
    const QString chosen = AskSaveFile(window, texts::SavePalette(), ToQString(suggested),
                                       {texts::PngFilter(), texts::GimpPaletteFilter()});
    if (!chosen.isEmpty())
        SavePalette(ToPath(chosen));
}

} // namespace tessaline
