#pragma once
// engine/result_figures.h: how close a result is to its source, measured as an image viewer shows
// both. Each pixel is composited over black and over white in 8-bit straight alpha, rounded to the
// nearest level, as a viewer blends it into the screen; a result pixel is its palette entry as the
// written file stores it (entries at or after transparentCount opaque). Errors are in levels of
// 0 to 255. Nothing here allocates more than one row of counts per thread.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

#include "engine/colour_model.h"

namespace tessaline {

/// The figures of one result against its source.
struct ResultFigures
{
    /// Mean squared error per colour channel over black and over white, and their average.
    double mseBlack = 0.0;
    double mseWhite = 0.0;
    double mse = 0.0;
    /// 10 log10(255^2 / mse) in dB; infinity when the result shows exactly what the source does.
    double psnr = std::numeric_limits<double>::infinity();
    /// The largest PixelError of any pixel.
    int maxError = 0;
    /// Palette entries at least one pixel uses, and the pixels of each entry in palette order.
    std::uint32_t coloursUsed = 0;
    std::array<std::uint64_t, 256> entryPixels{};
    /// Bytes of the PNG file the result is written as; 0 until someone has encoded it.
    std::uint64_t pngBytes = 0;
};

/// The colour, R, G, B, A, that a reader of the written file sees for `index`.
inline std::array<std::uint8_t, 4> StoredRgba(const IndexedImage& image, std::uint8_t index)
{
    const std::uint8_t* rgb = &image.paletteRgb[std::size_t{index} * 3];
    return {rgb[0], rgb[1], rgb[2],
            index < image.transparentCount ? image.paletteAlpha[index] : std::uint8_t{255}};
}

/// One channel of a straight-alpha pixel composited over a background level, rounded.
inline int Composite(int channel, int alpha, int background)
{
    return (channel * alpha + background * (255 - alpha) + 127) / 255;
}

/// Channel `c` of two pixels composited over black and over white: the two differences, x minus y.
inline void CompositeDifferences(const std::uint8_t* x, const std::uint8_t* y, int c, int& black, int& white)
{
    black = Composite(x[c], x[3], 0) - Composite(y[c], y[3], 0);
    white = Composite(x[c], x[3], 255) - Composite(y[c], y[3], 255);
}

/// The largest difference, in levels, that two pixels show in any colour channel over black or over
/// white. `x` and `y` are 4 bytes with alpha last and the colours in the same order in both (R, G, B
/// or B, G, R). Fully transparent pixels match whatever colour they hold.
inline int PixelError(const std::uint8_t* x, const std::uint8_t* y)
{
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
        int black = 0;
        int white = 0;
        CompositeDifferences(x, y, c, black, white);
        worst = std::max({worst, std::abs(black), std::abs(white)});
    }
    return worst;
}

/// Source levels at the internal gamma, one per 8-bit level of an image with `gamma`: the identity
/// unless the image came with another gamma (or none that makes sense).
std::array<std::uint8_t, 256> LevelsAtInternalGamma(double gamma);

/// Measures `result` against `source` (the pixels as loaded, before any alpha raise): every figure
/// but pngBytes. A source whose gamma is not InternalGamma is brought to it first, as the pipeline
/// does, so equal colours compare equal. Parallel above ParallelThreshold pixels; the figures do not
/// depend on the thread count. Nullopt when the two differ in size or either lacks its rows. With
/// `errors`, it is also filled with every pixel's PixelError, row by row (std::bad_alloc possible).
std::optional<ResultFigures> MeasureResult(const RgbaImage& source, const IndexedImage& result,
                                           std::vector<std::uint8_t>* errors = nullptr);

} // namespace tessaline
