#pragma once
// imageio/palette_file.h: palettes kept in files, to reduce onto or to keep colours from. Read: a
// palette PNG (its PLTE entries in order, alphas from its tRNS chunk, unused entries included), a GIMP
// palette (.gpl, recognised by its first line), or any other image the loader reads that has at most
// 256 distinct colours (those colours in the order the rows first show them). Written: a GIMP palette
// when the name ends in .gpl, otherwise a palette PNG swatch whose palette table is the palette.

#include <filesystem>
#include <optional>
#include <vector>

#include <QString>

#include "engine/palette_colours.h"
#include "imageio/bitmap_reader.h"

namespace tessaline {

/// The palette in the file at `path`: 1 to 256 colours, R, G, B, A. Nothing, with a short English
/// reason in `whyNot`, for a file that cannot be read, a damaged or truncated one, an empty palette,
/// or more than 256 entries. Never throws.
std::optional<std::vector<RgbaColour>> ReadPaletteFile(const std::filesystem::path& path,
                                                       BitmapReader& bitmaps, QString* whyNot = nullptr);

/// The palette read from GIMP palette text: "GIMP Palette" on the first line, then optional "Name:",
/// "Columns:" and "Channels: RGBA" lines, comments (#) and blank lines, and one entry per line as
/// three (with RGBA four) numbers of 0 to 255 and an optional name.
std::optional<std::vector<RgbaColour>> ParseGimpPalette(const QByteArray& text, QString* whyNot = nullptr);

/// GIMP palette text for `colours`, with "Channels: RGBA" when any alpha is below 255.
QByteArray GimpPaletteText(const std::vector<RgbaColour>& colours, const QString& name);

/// Writes `colours` (1 to 256) to `path` safely (WriteFileSafely): GIMP palette text for a name ending
/// in .gpl (any case), otherwise a palette PNG of 16 x 16 pixel squares, 16 to a row, in palette
/// order (squares after the last entry repeat it). False, with a reason, on failure. Never throws.
bool WritePaletteFile(const std::filesystem::path& path, const std::vector<RgbaColour>& colours,
                      QString* whyNot = nullptr);

} // namespace tessaline
