#pragma once
// app/palette_choice.h: the window's palettes from outside. "パレット読込" makes a palette file the
// given palette of the following reductions until it is switched off; "パレット保存" writes the
// result's palette as the strip shows it; the colours locked in the palette strip are kept in the
// next reduction. The frame asks for the job's palette fields (Fill) each time it starts one, so
// the window and the command line reach the engine through the same setting rows. UI thread only.

#include <filesystem>
#include <functional>
#include <vector>

#include <QObject>
#include <QString>

#include "engine/reduce_settings.h"
#include "settings/palette_request.h"

class QWidget;

namespace tessaline {

class CCompareBar;

class CPaletteChoice : public QObject
{
    Q_OBJECT

public:
    /// Acts on `bar`'s palette buttons and reads its strip's locks; dialogs open over `window`.
    CPaletteChoice(CCompareBar* bar, QWidget* window);

    /// Makes the palette in the file the given palette; false, with a message, when it cannot be read.
    bool LoadPalette(const std::filesystem::path& path);
    /// Goes back to palettes chosen from the image.
    void DropPalette();
    bool HasGivenPalette() const { return !given.empty(); }
    /// Writes the strip's entries (the result's palette) to the file; false, with a message, on failure.
    bool SavePalette(const std::filesystem::path& path);

    /// Where the save dialog's proposal comes from: a name made from the image on show. Without
    /// one (or an empty answer) the dialog proposes a generic name.
    void SetNameProposal(std::function<std::filesystem::path()> propose) { proposal = std::move(propose); }
    std::filesystem::path ProposedName() const;

    /// The palette fields of a job about to start: the loaded palette, else the locked colours.
    void Fill(ReduceSettings& job) const;

signals:
    /// A status-bar message: what was loaded or saved, or why not.
    void message(const QString& text);
    /// The given palette came or went: the result should be reduced again.
    void paletteChanged();

private:
    void OnLoadToggled(bool on);
    void OnSaveRequested();
    PaletteRequest Request() const;

    CCompareBar* bar;
    QWidget* window;
    std::vector<RgbaColour> given;
    std::filesystem::path folder; ///< of the last palette file loaded or saved: where dialogs start
    std::function<std::filesystem::path()> proposal;
};

} // namespace tessaline
