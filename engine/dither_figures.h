#pragma once
// engine/dither_figures.h: whether a dithered result does what error diffusion is for. Diffusion
// trades each pixel's own error for the local averages: blurred, the result should look like the
// blurred source, and no pixel should stray far when its palette holds a near entry. Both compare
// as result_figures.h does: the source brought to the internal gamma, a result pixel its palette
// entry as the written file stores it, levels of 0 to 255.

#include <cstdint>
#include <optional>

#include "engine/colour_model.h"

namespace tessaline {

/// The PSNR in dB between source and result after both are blurred with a 5 x 5 box (cut at the
/// image's edges) on R, G, B composited over black and over white (for an opaque image, its
/// premultiplied R, G, B): infinity when the blurred images are equal. Nullopt when the two differ
/// in size or either lacks its rows. Allocates two float copies of the image, six floats a pixel.
std::optional<double> BlurredPsnr(const RgbaImage& source, const IndexedImage& result);

/// The pixels that stray: those whose result is more than `marginLevels` further from their source
/// (PixelError, in levels) than the nearest entry of the result's palette is. Nullopt as for
/// BlurredPsnr. Parallel above ParallelThreshold pixels.
std::optional<std::uint64_t> StrayPixels(const RgbaImage& source, const IndexedImage& result,
                                         int marginLevels);

} // namespace tessaline
