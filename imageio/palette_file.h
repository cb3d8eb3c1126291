#pragma once
// imageio/palette_file.h: palettes kept in files, to reduce onto or to keep colours from. Read: a
// palette PNG (its PLTE entries in order, alphas from its tRNS chunk, unused entries included), a GIMP
// palette (.gpl, recognised by its first line), or any other image the loader reads that has at most
// 256 distinct colours (those colours in the order the rows first show them). Written: a GIMP palette
// when the name ends in .gpl, otherwise a palette PNG swatch whose palette table is the palette.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include <QString>

#include "engine/palette_colours.h"
#include "imageio/atomic_file.h"
#include "imageio/bitmap_reader.h"

namespace tessaline {

/// The palette in the file at `path`: 1 to 256 colours, R, G, B, A. The file is read under the link
/// rule (ReadFileSafely). Nothing, with a short English reason in `whyNot`, for a file that cannot be
/// read, a damaged or truncated one (a palette PNG must be whole: every chunk, IEND, image data that
/// decodes, a tRNS no longer than its PLTE), an empty palette, or more than 256 entries (the reason
/// says how many). In an image of another kind every fully transparent pixel is one colour.
/// Never throws.
std::optional<std::vector<RgbaColour>> ReadPaletteFile(const std::filesystem::path& path,
                                                       BitmapReader& bitmaps, QString* whyNot = nullptr);

/// The palette read from GIMP palette text: "GIMP Palette" on the first line (after a UTF-8 byte
/// order mark, when the file starts with one), then optional "Name:",
/// "Columns:" and "Channels: RGB" or "Channels: RGBA" lines (any other Channels: value is an error), comments (#) and blank lines, and one entry per line as
/// three (with RGBA four) numbers of 0 to 255 and an optional name.
std::optional<std::vector<RgbaColour>> ParseGimpPalette(const QByteArray& text, QString* whyNot = nullptr);

/// GIMP palette text for `colours`, with "Channels: RGBA" when any alpha is below 255. The name goes
/// on its one "Name:" line, every control or line-separating character in it made a space.
QByteArray GimpPaletteText(const std::vector<RgbaColour>& colours, const QString& name);

/// The file WritePaletteFile writes for `colours` (1 to 256) at `path`: GIMP palette text for a
/// name ending in .gpl (any case), otherwise a palette PNG of 16 x 16 pixel squares, 16 to a row, in
/// palette order (squares after the last entry repeat it). Empty for no colours, more than 256, or
/// when memory runs out. Never throws.
std::vector<std::uint8_t> PaletteFileBytes(const std::filesystem::path& path, const std::vector<RgbaColour>& colours);

/// Writes PaletteFileBytes to `path` safely (WriteFileSafely, with `mayReplace` asked before an
/// existing file is replaced). False on failure, with "cannot write NAME: why" (no space, permission
/// denied, a link owned by another user...). Never throws.
bool WritePaletteFile(const std::filesystem::path& path, const std::vector<RgbaColour>& colours,
                      QString* whyNot = nullptr, const ReplaceCheck& mayReplace = {});

} // namespace tessaline
