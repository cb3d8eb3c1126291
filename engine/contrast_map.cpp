#include "engine/contrast_map.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/colour_model.h"
#include "engine/float_pixel_table.h"

namespace tessaline {

namespace {

struct TakeLarger
{
    float operator()(float x, float y) const { return x > y ? x : y; }
};

struct TakeSmaller
{
    float operator()(float x, float y) const { return x < y ? x : y; }
};

// One pass of the five-value cross (pixel, left, right, above, below), borders clamped. The row
// interior runs without index clamping so that the compiler can vectorise it.
template <typename Pick>
void CrossFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height,
                  Pick pick)
{
    if (width == 0 || height == 0)
        return;
    const std::size_t w = width;
    for (std::uint32_t y = 0; y < height; ++y) {
        const float* cur = source + std::size_t{y} * w;
        const float* up = source + std::size_t{y > 0 ? y - 1 : 0} * w;
        const float* down = source + std::size_t{y + 1 < height ? y + 1 : y} * w;
        float* out = destination + std::size_t{y} * w;
        if (w == 1) {
            out[0] = pick(pick(cur[0], up[0]), down[0]);
            continue;
        }
        out[0] = pick(pick(pick(cur[0], cur[1]), up[0]), down[0]);
        for (std::size_t x = 1; x + 1 < w; ++x)
            out[x] = pick(pick(pick(pick(cur[x], cur[x - 1]), cur[x + 1]), up[x]), down[x]);
        const std::size_t last = w - 1;
        out[last] = pick(pick(pick(cur[last], cur[last - 1]), up[last]), down[last]);
    }
}

float LargestChannel(const FloatPixel& before, const FloatPixel& after, const FloatPixel& centre)
{
    const float a = std::fabs(before.a + after.a - 2.0f * centre.a);
    const float r = std::fabs(before.r + after.r - 2.0f * centre.r);
    const float g = std::fabs(before.g + after.g - 2.0f * centre.g);
    const float b = std::fabs(before.b + after.b - 2.0f * centre.b);
    return std::max(std::max(a, r), std::max(g, b));
}

// The contrast value from the largest second differences along the row and the column.
inline float ContrastValue(float horiz, float vert)
{
    const float edge = std::max(horiz, vert);
    float z = edge - std::fabs(horiz - vert) * 0.5f;
    z = 1.0f - std::max(z, std::min(horiz, vert));
    const float z2 = z * z;
    return z2 * z2;
}

// Contrast and dither values of every pixel from the second differences along its row and column.
// Each step converts the right neighbour and the pixels above and below; the centre and the left
// neighbour are carried over from the previous step.
void MeasurePixelsScalar(const std::uint8_t* const* rows, std::uint32_t width, std::uint32_t height,
                         const FloatPixelTable& table, const float* userWeights, float* contrast,
                         float* dither)
{
    const std::size_t w = width;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* cur = rows[y];
        const std::uint8_t* up = rows[y > 0 ? y - 1 : 0];
        const std::uint8_t* down = rows[y + 1 < height ? y + 1 : y];
        const std::size_t rowStart = std::size_t{y} * w;
        FloatPixel centre = table.Convert(cur);
        FloatPixel left = centre;
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t rightX = x + 1 < w ? x + 1 : x;
            const FloatPixel right = table.Convert(cur + 4 * rightX);
            const FloatPixel above = table.Convert(up + 4 * x);
            const FloatPixel below = table.Convert(down + 4 * x);

            const float horiz = LargestChannel(left, right, centre);
            const float vert = LargestChannel(above, below, centre);
            float value = ContrastValue(horiz, vert);
            if (userWeights)
                value += userWeights[rowStart + x];
            contrast[rowStart + x] = value;
            dither[rowStart + x] = 1.0f - std::max(horiz, vert);

            left = centre;
            centre = right;
        }
    }
}

#if defined(__SSE2__)
// The same pass with all four channels of a pixel in one vector. Every lane operation is the
// scalar one (no fused multiply-add, maxima are exact), so both forms give identical maps.
void MeasurePixelsSse2(const std::uint8_t* const* rows, std::uint32_t width, std::uint32_t height,
                       const FloatPixelTable& table, const float* userWeights, float* contrast, float* dither)
{
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const std::size_t w = width;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* cur = rows[y];
        const std::uint8_t* up = rows[y > 0 ? y - 1 : 0];
        const std::uint8_t* down = rows[y + 1 < height ? y + 1 : y];
        const std::size_t rowStart = std::size_t{y} * w;
        __m128 centre = table.ConvertSse2(cur);
        __m128 left = centre;
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t rightX = x + 1 < w ? x + 1 : x;
            const __m128 right = table.ConvertSse2(cur + 4 * rightX);
            const __m128 above = table.ConvertSse2(up + 4 * x);
            const __m128 below = table.ConvertSse2(down + 4 * x);
            const __m128 twiceCentre = _mm_mul_ps(two, centre);
            const __m128 h = _mm_and_ps(_mm_sub_ps(_mm_add_ps(left, right), twiceCentre), magnitude);
            const __m128 v = _mm_and_ps(_mm_sub_ps(_mm_add_ps(above, below), twiceCentre), magnitude);
            // Lanes 0 and 1 end up holding the largest of h and of v.
            const __m128 pairs = _mm_max_ps(_mm_unpacklo_ps(h, v), _mm_unpackhi_ps(h, v));
            const __m128 largest = _mm_max_ps(pairs, _mm_movehl_ps(pairs, pairs));
            const float horiz = _mm_cvtss_f32(largest);
            const float vert = _mm_cvtss_f32(_mm_shuffle_ps(largest, largest, _MM_SHUFFLE(1, 1, 1, 1)));

            float value = ContrastValue(horiz, vert);
            if (userWeights)
                value += userWeights[rowStart + x];
            contrast[rowStart + x] = value;
            dither[rowStart + x] = 1.0f - std::max(horiz, vert);

            left = centre;
            centre = right;
        }
    }
}
#endif

void MeasurePixels(const std::uint8_t* const* rows, std::uint32_t width, std::uint32_t height, float gamma,
                   const float* userWeights, float* contrast, float* dither)
{
    const FloatPixelTable table(gamma);
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        return MeasurePixelsSse2(rows, width, height, table, userWeights, contrast, dither);
#endif
    MeasurePixelsScalar(rows, width, height, table, userWeights, contrast, dither);
}

} // namespace

void MaxFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    CrossFilter3(source, destination, width, height, TakeLarger{});
}

void MinFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    CrossFilter3(source, destination, width, height, TakeSmaller{});
}

void TransposingBoxBlur(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    if (width == 0 || height == 0)
        return;
    const std::size_t w = width;
    const std::size_t h = height;
    const auto clampColumn = [w](std::ptrdiff_t x) {
        return static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(x, 0, static_cast<std::ptrdiff_t>(w) - 1));
    };
    // A band of rows is blurred side by side so that the transposed stores of one column land in
    // the same cache line instead of one line per row. Each row keeps its own running sum, updated
    // in the same order as a row-by-row pass, so the values do not depend on the band size.
    constexpr std::size_t Band = 16;
    float sums[Band];
    for (std::size_t y0 = 0; y0 < h; y0 += Band) {
        const std::size_t rowsInBand = std::min(Band, h - y0);
        for (std::size_t b = 0; b < rowsInBand; ++b) {
            const float* row = source + (y0 + b) * w;
            sums[b] = 3.0f * row[0] + row[0] + row[clampColumn(1)] + row[clampColumn(2)];
        }
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t leaving = clampColumn(static_cast<std::ptrdiff_t>(x) - 3);
            const std::size_t entering = clampColumn(static_cast<std::ptrdiff_t>(x) + 3);
            float* out = destination + x * h + y0;
            for (std::size_t b = 0; b < rowsInBand; ++b) {
                const float* row = source + (y0 + b) * w;
                sums[b] = sums[b] - row[leaving] + row[entering];
                out[b] = sums[b] / 6.0f;
            }
        }
    }
}

ContrastMaps BuildContrastMaps(const ReduceSettings& settings, const std::uint8_t* const* rows,
                               std::uint32_t width, std::uint32_t height, float gamma)
{
    // The histogram and the dithered remap treat absent maps as "weight 1, no dither map", so an
    // empty image simply gets neither map rather than two empty ones.
    if (width == 0 || height == 0)
        return {};
    const std::size_t count = std::size_t{width} * height;

    // All three buffers are owned before any work starts: if one cannot be allocated the ones
    // already obtained are released on the way out, and the caller gets an exception rather than
    // one map without the other.
    ContrastMaps maps;
    FloatMap contrast = AllocateFloatMap(count);
    FloatMap scratch = AllocateFloatMap(count);
    FloatMap dither = AllocateFloatMap(count);

    MeasurePixels(rows, width, height, gamma, settings.userWeights.get(), contrast.get(), dither.get());

    // Widen the high values, blur, widen once more and shrink three times: single thin lines of
    // low value vanish while wide busy regions stay low.
    MaxFilter3(contrast.get(), scratch.get(), width, height);
    MaxFilter3(scratch.get(), contrast.get(), width, height);
    if (width >= 7 && height >= 7) {
        TransposingBoxBlur(contrast.get(), scratch.get(), width, height);
        TransposingBoxBlur(scratch.get(), contrast.get(), height, width);
    }
    MaxFilter3(contrast.get(), scratch.get(), width, height);
    MinFilter3(scratch.get(), contrast.get(), width, height);
    MinFilter3(contrast.get(), scratch.get(), width, height);
    MinFilter3(scratch.get(), contrast.get(), width, height);

    // Shrink, then widen: isolated high dither values go, thin low lines (edges) stay.
    MinFilter3(dither.get(), scratch.get(), width, height);
    MaxFilter3(scratch.get(), dither.get(), width, height);

    float* d = dither.get();
    const float* c = contrast.get();
    for (std::size_t i = 0; i < count; ++i)
        d[i] = std::min(c[i], d[i]);

    maps.contrast = std::move(contrast);
    maps.dither = std::move(dither);
    return maps;
}

} // namespace tessaline
