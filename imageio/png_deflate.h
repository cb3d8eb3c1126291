#pragma once
// imageio/png_deflate.h: the zlib stream a palette PNG carries in its IDAT chunks. Every row is a
// filter byte of 0 (none) followed by the row's indices packed to the bit depth, leftmost pixel
// in the high bits, unused low bits of a row's last byte zero. The stream decodes to the same
// bytes whatever the compression; only its size and the time it takes differ.

#include <cstdint>
#include <vector>

#include "engine/colour_model.h"
#include "imageio/palette_png_layout.h" // PackImageRows: the rows the stream holds

namespace tessaline {

/// How hard the writer compresses the image data; the values are the positions of the
/// compression setting's choices ("default", "max").
enum class PngCompression : int {
    /// Fast: about the size of a zlib level-9 stream (no larger on results at the default
    /// settings), in a fraction of its time.
    Default = 0,
    /// The smallest stream we can make, never larger than Default's; several times slower.
    Max = 1,
};

/// The zlib stream of `image`'s rows packed to `bitDepth` (1, 2, 4 or 8); `image` has `height`
/// valid rows of `width` indices. Throws std::bad_alloc when memory runs out (and
/// std::runtime_error should libdeflate fail to compress).
std::vector<std::uint8_t> DeflateImageData(const IndexedImage& image, int bitDepth,
                                           PngCompression compression);

} // namespace tessaline
