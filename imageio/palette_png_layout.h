#pragma once
// imageio/palette_png_layout.h: what a palette PNG of an IndexedImage holds, apart from how its
// image data is compressed: the bit depth the palette needs, the chunks that come before the
// image data (IHDR, gAMA, PLTE, tRNS) with their contents, and the rows as they go into the
// zlib stream. The desktop's writer hands these to libpng; the web page frames them itself and
// compresses the rows with the browser's deflate. No libpng or zlib here, so both can build it.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/colour_model.h"

namespace tessaline {

/// The PNG bit depth for a palette of `paletteSize` entries: 1, 2, 4 or 8; always 8 with
/// `eightBitIndices`, for pipelines that read nothing narrower.
int PaletteBitDepth(std::uint32_t paletteSize, bool eightBitIndices = false);

/// gAMA's value for an encoding exponent: gamma x 100000, rounded half up. Nullopt when it does
/// not fit the chunk's 31 bits (or is not positive): such an image cannot be written.
std::optional<std::uint32_t> PngGammaFixed(double gamma);

/// One chunk without its length and CRC: a type and the data.
struct PngChunkData
{
    std::array<char, 4> type;
    std::vector<std::uint8_t> data;
};

/// The chunks before the image data, in file order: IHDR (colour type 3, PaletteBitDepth, no
/// interlace), gAMA when gamma > 0, PLTE with paletteSize entries, and tRNS with the first
/// transparentCount alphas when there are any. `image` must hold a palette of 1 to 256 entries.
/// Empty when its gamma cannot be stored.
std::vector<PngChunkData> PaletteHeadChunks(const IndexedImage& image, bool eightBitIndices = false);

/// The rows as they go into the stream: per row a 0 filter byte, then the packed indices, leftmost
/// pixel in the high bits, unused low bits of a row's last byte zero. Indices are packed as libpng
/// packs them: at depth 1 any non-zero index is 1, at 2 and 4 the low bits.
std::vector<std::uint8_t> PackImageRows(const IndexedImage& image, int bitDepth);

} // namespace tessaline
