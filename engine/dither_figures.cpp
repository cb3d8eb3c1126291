#include "engine/dither_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/parallel.h"
#include "engine/result_figures.h"

namespace tessaline {
namespace {

constexpr int BoxRadius = 2; // a 5 x 5 box

bool Comparable(const RgbaImage& source, const IndexedImage& result)
{
    if (source.width != result.width || source.height != result.height || source.width == 0 ||
        source.height == 0)
        return false;
    const std::size_t pixels = std::size_t{source.width} * source.height;
    return source.rows.size() == source.height && result.rows.size() == result.height &&
           source.pixels.size() >= 4 * pixels && result.pixels.size() >= pixels;
}

// The colour channels composited over black, then over white: what a viewer sees of a pixel on
// either background. Premultiplied colour alone is the view over black, blind to alpha: a result
// that traded a translucent pixel's alpha for darker colour would score as exact.
constexpr int Channels = 6;

// Each channel of `plane` (Channels floats per pixel) replaced by its mean over the box around the
// pixel, the box cut at the edges: rows first, then columns.
void BoxBlur(std::vector<float>& plane, std::uint32_t width, std::uint32_t height)
{
    std::vector<float> rows(plane.size());
    const auto mean = [](const float* values, std::int64_t count, std::int64_t stride, std::int64_t at,
                         int channel) {
        const std::int64_t first = std::max<std::int64_t>(0, at - BoxRadius);
        const std::int64_t last = std::min<std::int64_t>(count - 1, at + BoxRadius);
        double sum = 0.0;
        for (std::int64_t i = first; i <= last; ++i)
            sum += values[i * stride + channel];
        return static_cast<float>(sum / double(last - first + 1));
    };
    for (std::int64_t y = 0; y < height; ++y)
        for (std::int64_t x = 0; x < width; ++x)
            for (int c = 0; c < Channels; ++c)
                rows[(y * width + x) * Channels + c] = mean(&plane[y * width * Channels], width, Channels, x, c);
    for (std::int64_t y = 0; y < height; ++y)
        for (std::int64_t x = 0; x < width; ++x)
            for (int c = 0; c < Channels; ++c)
                plane[(y * width + x) * Channels + c] =
                    mean(&rows[x * Channels], height, std::int64_t{width} * Channels, y, c);
}

} // namespace

std::optional<double> BlurredPsnr(const RgbaImage& source, const IndexedImage& result)
{
    if (!Comparable(source, result))
        return std::nullopt;
    const std::array<std::uint8_t, 256> levels = LevelsAtInternalGamma(source.gamma);
    const std::uint32_t width = source.width;
    const std::uint32_t height = source.height;
    std::vector<float> before(std::size_t{width} * height * Channels);
    std::vector<float> after(before.size());
    const auto composite = [](float level, std::uint8_t alpha, float background) {
        return level * float(alpha) / 255.0f + background * float(255 - alpha) / 255.0f;
    };
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* in = source.rows[y] + 4 * std::size_t{x};
            const std::array<std::uint8_t, 4> out = StoredRgba(result, result.rows[y][x]);
            const std::size_t at = (std::size_t{y} * width + x) * Channels;
            for (int c = 0; c < 3; ++c) {
                for (const float background : {0.0f, 255.0f}) {
                    const std::size_t channel = at + c + (background > 0.0f ? 3 : 0);
                    before[channel] = composite(float(levels[in[c]]), in[3], background);
                    after[channel] = composite(float(out[c]), out[3], background);
                }
            }
        }
    }
    BoxBlur(before, width, height);
    BoxBlur(after, width, height);
    double squares = 0.0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const double d = double(before[i]) - double(after[i]);
        squares += d * d;
    }
    const double mse = squares / double(before.size());
    return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : std::numeric_limits<double>::infinity();
}

std::optional<std::uint64_t> StrayPixels(const RgbaImage& source, const IndexedImage& result,
                                         int marginLevels)
{
    if (!Comparable(source, result))
        return std::nullopt;
    const std::array<std::uint8_t, 256> levels = LevelsAtInternalGamma(source.gamma);
    const std::uint32_t entries = std::clamp<std::uint32_t>(result.paletteSize, 1, 256);
    std::array<std::array<std::uint8_t, 4>, 256> stored;
    for (int p = 0; p < 256; ++p)
        stored[p] = StoredRgba(result, static_cast<std::uint8_t>(p));

    const std::uint32_t width = source.width;
    const std::int64_t height = source.height;
    [[maybe_unused]] const std::int64_t pixelCount = std::int64_t{width} * height; // read by the pragma alone
    std::uint64_t stray = 0;
#pragma omp parallel for if (pixelCount > ParallelThreshold) schedule(static) reduction(+ : stray)
    for (std::int64_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* in = source.rows[y] + 4 * std::size_t{x};
            const std::uint8_t src[4] = {levels[in[0]], levels[in[1]], levels[in[2]], in[3]};
            const int error = PixelError(src, stored[result.rows[y][x]].data());
            // The nearest entry is at least 0 levels away, so only a larger error can stray.
            if (error <= marginLevels)
                continue;
            int nearest = error;
            for (std::uint32_t p = 0; p < entries && error - nearest <= marginLevels; ++p)
                nearest = std::min(nearest, PixelError(src, stored[p].data()));
            stray += error - nearest > marginLevels ? 1 : 0;
        }
    }
    return stray;
}

} // namespace tessaline
