#include "engine/contrast_map.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/colour_model.h"
#include "engine/float_pixel_table.h"
#include "engine/parallel.h"

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

// One row of a five-value cross (pixel, left, right, above, below); `up` and `down` are the rows
// above and below, already clamped at the image's top and bottom. The interior runs without index
// clamping so that the compiler can vectorise it.
template <typename Pick>
void CrossRow(const float* cur, const float* up, const float* down, float* out, std::size_t w, Pick pick)
{
    if (w == 1) {
        out[0] = pick(pick(cur[0], up[0]), down[0]);
        return;
    }
    out[0] = pick(pick(pick(cur[0], cur[1]), up[0]), down[0]);
    for (std::size_t x = 1; x + 1 < w; ++x)
        out[x] = pick(pick(pick(pick(cur[x], cur[x - 1]), cur[x + 1]), up[x]), down[x]);
    const std::size_t last = w - 1;
    out[last] = pick(pick(pick(cur[last], cur[last - 1]), up[last]), down[last]);
}

void CrossRow(bool larger, const float* cur, const float* up, const float* down, float* out, std::size_t w)
{
    if (larger)
        CrossRow(cur, up, down, out, w, TakeLarger{});
    else
        CrossRow(cur, up, down, out, w, TakeSmaller{});
}

template <typename Pick>
void CrossFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height,
                  Pick pick)
{
    const std::size_t w = width;
    for (std::uint32_t y = 0; y < height; ++y)
        CrossRow(source + std::size_t{y} * w, source + std::size_t{y > 0 ? y - 1 : 0} * w,
                 source + std::size_t{y + 1 < height ? y + 1 : y} * w, destination + std::size_t{y} * w, w, pick);
}

// A sequence of cross filters run over a band of rows one source row at a time: each filter's
// rows live in a ring of three (row y in slot y % 3) until the next filter has used them, so a
// band needs no whole-image buffer between the filters and no rows written by another band.
// Output rows [first, last) take source rows [first - n, last + n), clamped to the image, where n
// is the number of filters; every value is the one the filters give pass by pass over the image.
template <unsigned Count>
class CrossFilterChain
{
public:
    /// `larger` tells each filter's pick; `rings` holds 3 * width floats per filter but the last.
    CrossFilterChain(const bool (&larger)[Count], float* rings, std::size_t width, std::uint32_t height,
                     std::uint32_t first, std::uint32_t last)
        : width_(width), height_(height), rings_(rings)
    {
        std::copy(larger, larger + Count, larger_);
        for (unsigned level = 0; level <= Count; ++level) {
            const std::uint32_t reach = Count - level;
            begin_[level] = first > reach ? first - reach : 0;
            end_[level] = static_cast<std::uint32_t>(std::min<std::uint64_t>(height, std::uint64_t{last} + reach));
            next_[level] = begin_[level];
        }
    }

    std::uint32_t SourceBegin() const { return begin_[0]; }
    std::uint32_t SourceEnd() const { return end_[0]; }

    /// Hands over source row SourceBegin() + (calls so far); it must stay readable for two more calls.
    /// Finished output rows go to `sink.Row(y)`, in order, each followed by `sink.Done(y)`.
    template <typename Sink>
    void Push(const float* row, Sink& sink)
    {
        source_[next_[0] % 3] = row;
        ++next_[0];
        Advance<1>(sink);
    }

private:
    template <unsigned Level>
    float* RingRow(std::uint32_t y) const
    {
        return rings_ + ((Level - 1) * 3 + y % 3) * width_;
    }

    template <unsigned Level>
    const float* RowOf(std::uint32_t y) const
    {
        if constexpr (Level == 0)
            return source_[y % 3];
        else
            return RingRow<Level>(y);
    }

    // Computes every row of `Level` whose rows above, at and below exist, each followed at once by
    // the deeper levels, so that no ring slot is overwritten before its last reader ran.
    template <unsigned Level, typename Sink>
    void Advance(Sink& sink)
    {
        for (;;) {
            const std::uint32_t y = next_[Level];
            const std::uint32_t below = y + 1 < height_ ? y + 1 : y;
            if (y >= end_[Level] || below >= next_[Level - 1])
                return;
            const float* cur = RowOf<Level - 1>(y);
            const float* up = RowOf<Level - 1>(y > 0 ? y - 1 : 0);
            const float* down = RowOf<Level - 1>(below);
            if constexpr (Level == Count) {
                CrossRow(larger_[Level - 1], cur, up, down, sink.Row(y), width_);
                ++next_[Level];
                sink.Done(y);
            } else {
                CrossRow(larger_[Level - 1], cur, up, down, RingRow<Level>(y), width_);
                ++next_[Level];
                Advance<Level + 1>(sink);
            }
        }
    }

    std::size_t width_;
    std::uint32_t height_;
    float* rings_;
    bool larger_[Count] = {};
    const float* source_[3] = {};
    std::uint32_t begin_[Count + 1] = {};
    std::uint32_t end_[Count + 1] = {};
    std::uint32_t next_[Count + 1] = {};
};

// Six-wide running means (columns x-2..x+3, clamped) of `rowCount` (at most BlurBand) rows of
// `block`, each `w` long; the mean of row b, column x goes to out[x * columnStep + b * rowStep].
// The rows are blurred side by side so that their additions overlap, and for a transposed result
// the stores of one column land in the same cache line; each row keeps its own running sum,
// updated in the same order as a row-by-row pass, so the values do not depend on the grouping.
constexpr std::size_t BlurBand = 16;

void BlurRows(const float* block, std::size_t rowCount, std::size_t w, float* out, std::size_t columnStep,
              std::size_t rowStep)
{
    const auto clampColumn = [w](std::ptrdiff_t x) {
        return static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(x, 0, static_cast<std::ptrdiff_t>(w) - 1));
    };
    float sums[BlurBand];
    for (std::size_t b = 0; b < rowCount; ++b) {
        const float* row = block + b * w;
        sums[b] = 3.0f * row[0] + row[0] + row[clampColumn(1)] + row[clampColumn(2)];
    }
    for (std::size_t x = 0; x < w; ++x) {
        const std::size_t leaving = clampColumn(static_cast<std::ptrdiff_t>(x) - 3);
        const std::size_t entering = clampColumn(static_cast<std::ptrdiff_t>(x) + 3);
        for (std::size_t b = 0; b < rowCount; ++b) {
            const float* row = block + b * w;
            sums[b] = sums[b] - row[leaving] + row[entering];
            out[x * columnStep + b * rowStep] = sums[b] / 6.0f;
        }
    }
}

// The same running mean down the columns [first, last) of `source` (width x height, row by row)
// into `destination`: every column keeps its own sum, updated row by row in the order the mean
// along a transposed row would be, so the values are those of blurring the transposed image.
// `sums` holds last - first floats.
void BlurDownColumns(const float* source, float* destination, std::size_t width, std::size_t height,
                     std::size_t first, std::size_t last, float* sums, const CancelFlag* cancel)
{
    const std::size_t n = last - first;
    const auto row = [&](std::ptrdiff_t y) {
        const std::size_t clamped =
            static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(y, 0, static_cast<std::ptrdiff_t>(height) - 1));
        return source + clamped * width + first;
    };
    const float* r0 = row(0);
    const float* r1 = row(1);
    const float* r2 = row(2);
    for (std::size_t i = 0; i < n; ++i)
        sums[i] = 3.0f * r0[i] + r0[i] + r1[i] + r2[i];
    for (std::size_t y = 0; y < height; ++y) {
        if (y % 64 == 0 && CancelRequested(cancel))
            return;
        const float* leaving = row(static_cast<std::ptrdiff_t>(y) - 3);
        const float* entering = row(static_cast<std::ptrdiff_t>(y) + 3);
        float* out = destination + y * width + first;
        for (std::size_t i = 0; i < n; ++i) {
            sums[i] = sums[i] - leaving[i] + entering[i];
            out[i] = sums[i] / 6.0f;
        }
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

// Contrast and dither values of row y from the second differences along its row and column.
// Each step converts the right neighbour and the pixels above and below; the centre and the left
// neighbour are carried over from the previous step. `weights` is the row's user weights or null.
void MeasureRowScalar(const std::uint8_t* const* rows, std::uint32_t y, std::uint32_t width,
                      std::uint32_t height, const FloatPixelTable& table, const float* weights, float* contrast,
                      float* dither)
{
    const std::size_t w = width;
    const std::uint8_t* cur = rows[y];
    const std::uint8_t* up = rows[y > 0 ? y - 1 : 0];
    const std::uint8_t* down = rows[y + 1 < height ? y + 1 : y];
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
        if (weights)
            value += weights[x];
        contrast[x] = value;
        dither[x] = 1.0f - std::max(horiz, vert);

        left = centre;
        centre = right;
    }
}

#if defined(__SSE2__)
// The same row with all four channels of a pixel in one vector. Every lane operation is the
// scalar one (no fused multiply-add, maxima are exact), so both forms give identical maps.
void MeasureRowSse2(const std::uint8_t* const* rows, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                    const FloatPixelTable& table, const float* weights, float* contrast, float* dither)
{
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const std::size_t w = width;
    const std::uint8_t* cur = rows[y];
    const std::uint8_t* up = rows[y > 0 ? y - 1 : 0];
    const std::uint8_t* down = rows[y + 1 < height ? y + 1 : y];
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
        if (weights)
            value += weights[x];
        contrast[x] = value;
        dither[x] = 1.0f - std::max(horiz, vert);

        left = centre;
        centre = right;
    }
}
#endif

// Everything one thread needs besides the shared maps.
struct MapBuild
{
    const std::uint8_t* const* rows;
    std::uint32_t width;
    std::uint32_t height;
    const FloatPixelTable* table;
    const float* userWeights;
    bool vector;
    bool blur;
    float* contrast;
    float* scratch;
    float* dither;
    const CancelFlag* cancel;
};

// Floats of one thread's rings and blur block.
std::size_t WorkspaceFloats(std::size_t width, std::size_t height)
{
    // Measured contrast and dither (3 rows each), one ring for each two-filter chain and the blur
    // block of up to 16 rows; the column sums of the blur down the columns and the last chain's
    // three rings fit in the same space afterwards.
    return (3 + 3 + 3 + 3 + std::min(BlurBand, height)) * width;
}

// The first stretch of a band: measure rows [first, last) plus the rows the filters reach, widen
// the contrast twice and blur it along the rows into `scratch`, or without the blur
// into `contrast`; shrink and widen the dither map into `dither`.
void MeasureAndWidenBand(const MapBuild& job, float* workspace, std::uint32_t first, std::uint32_t last)
{
    const std::size_t w = job.width;
    float* measuredContrast = workspace;
    float* measuredDither = measuredContrast + 3 * w;
    const bool widenTwice[] = {true, true};
    const bool shrinkThenWiden[] = {false, true};
    CrossFilterChain<2> contrastChain(widenTwice, measuredDither + 3 * w, w, job.height, first, last);
    CrossFilterChain<2> ditherChain(shrinkThenWiden, measuredDither + 6 * w, w, job.height, first, last);
    float* block = measuredDither + 9 * w;

    struct BlurSink
    {
        const MapBuild& job;
        float* block;
        std::uint32_t last;
        std::uint32_t blockStart;
        float* Row(std::uint32_t y) const
        {
            return job.blur ? block + std::size_t{y - blockStart} * job.width
                            : job.contrast + std::size_t{y} * job.width;
        }
        void Done(std::uint32_t y)
        {
            if (!job.blur || (y + 1 - blockStart < BlurBand && y + 1 < last))
                return;
            BlurRows(block, y + 1 - blockStart, job.width, job.scratch + std::size_t{blockStart} * job.width, 1,
                     job.width);
            blockStart = y + 1;
        }
    } contrastSink{job, block, last, first};
    struct MapSink
    {
        float* map;
        std::size_t width;
        float* Row(std::uint32_t y) const { return map + std::size_t{y} * width; }
        void Done(std::uint32_t) const {}
    } ditherSink{job.dither, w};

    // Both chains reach equally far, so they take the same source rows.
    for (std::uint32_t y = contrastChain.SourceBegin(); y < contrastChain.SourceEnd(); ++y) {
        if (CancelRequested(job.cancel))
            return;
        float* c = measuredContrast + (y % 3) * w;
        float* d = measuredDither + (y % 3) * w;
        const float* weights = job.userWeights ? job.userWeights + std::size_t{y} * w : nullptr;
#if defined(__SSE2__)
        if (job.vector)
            MeasureRowSse2(job.rows, y, job.width, job.height, *job.table, weights, c, d);
        else
#endif
            MeasureRowScalar(job.rows, y, job.width, job.height, *job.table, weights, c, d);
        contrastChain.Push(c, contrastSink);
        ditherChain.Push(d, ditherSink);
    }
}

// The last stretch of a band: widen the blurred contrast once and shrink it three times into
// `scratch`, then lower the dither map to it.
void ShrinkBand(const MapBuild& job, float* workspace, std::uint32_t first, std::uint32_t last)
{
    const std::size_t w = job.width;
    const bool widenThenShrinkThrice[] = {true, false, false, false};
    CrossFilterChain<4> chain(widenThenShrinkThrice, workspace, w, job.height, first, last);
    struct LowerDither
    {
        const MapBuild& job;
        float* Row(std::uint32_t y) const { return job.scratch + std::size_t{y} * job.width; }
        void Done(std::uint32_t y) const
        {
            const float* c = Row(y);
            float* d = job.dither + std::size_t{y} * job.width;
            for (std::size_t x = 0; x < job.width; ++x)
                d[x] = std::min(c[x], d[x]);
        }
    } sink{job};
    for (std::uint32_t y = chain.SourceBegin(); y < chain.SourceEnd(); ++y) {
        if (CancelRequested(job.cancel))
            return;
        chain.Push(job.contrast + std::size_t{y} * w, sink);
    }
}

} // namespace

void MaxFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    if (width > 0)
        CrossFilter3(source, destination, width, height, TakeLarger{});
}

void MinFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    if (width > 0)
        CrossFilter3(source, destination, width, height, TakeSmaller{});
}

void TransposingBoxBlur(const float* source, float* destination, std::uint32_t width, std::uint32_t height)
{
    if (width == 0 || height == 0)
        return;
    const std::size_t w = width;
    const std::size_t h = height;
    for (std::size_t y0 = 0; y0 < h; y0 += BlurBand)
        BlurRows(source + y0 * w, std::min(BlurBand, h - y0), w, destination + y0, h, 1);
}

ContrastMaps BuildContrastMaps(const ReduceSettings& settings, const std::uint8_t* const* rows,
                               std::uint32_t width, std::uint32_t height, float gamma)
{
    // The histogram and the dithered remap treat absent maps as "weight 1, no dither map", so an
    // empty image simply gets neither map rather than two empty ones.
    if (width == 0 || height == 0)
        return {};
    const std::size_t count = std::size_t{width} * height;

    // Bands of rows, one per thread, each run from the image to its finished rows with two
    // meeting points: before the blur down the columns, which needs whole columns, and before
    // the last filters, which read the blurred rows of the neighbouring bands. A band recomputes
    // the few rows beyond its edges that its filters reach rather than wait for its neighbour
    // after every filter. Every value is the same on any number of threads.
    constexpr std::uint32_t MinRowsPerBand = 32;
    int team = 1;
    if (count >= ParallelImagePixels)
        team = static_cast<int>(std::clamp<std::uint32_t>(height / MinRowsPerBand, 1,
                                                          static_cast<std::uint32_t>(std::max(1, MaxThreads()))));

    // All buffers are owned before any work starts: if one cannot be allocated the ones already
    // obtained are released on the way out, and the caller gets an exception rather than one map
    // without the other.
    FloatMap contrast = AllocateFloatMap(count);
    FloatMap scratch = AllocateFloatMap(count);
    FloatMap dither = AllocateFloatMap(count);
    const std::size_t workspaceFloats = WorkspaceFloats(width, height);
    FloatMap workspace = AllocateFloatMap(workspaceFloats * static_cast<std::size_t>(team));

    const FloatPixelTable table(gamma);
    MapBuild job{rows, width, height, &table, settings.userWeights.get(), false,
                 width >= 7 && height >= 7, contrast.get(), scratch.get(), dither.get(), settings.cancel};
#if defined(__SSE2__)
    job.vector = ProcessorHasSse2;
#endif

#pragma omp parallel num_threads(team) if (team > 1)
    {
        const std::uint32_t index = static_cast<std::uint32_t>(ThreadIndex());
        const std::uint32_t threads = static_cast<std::uint32_t>(TeamSize());
        const auto share = [&](std::uint32_t total, std::uint32_t part) {
            return static_cast<std::uint32_t>(std::uint64_t{total} * part / threads);
        };
        float* own = workspace.get() + workspaceFloats * index;
        const std::uint32_t first = share(height, index);
        const std::uint32_t last = share(height, index + 1);
        MeasureAndWidenBand(job, own, first, last);
#pragma omp barrier
        if (job.blur) {
            // Columns in groups of 16 floats, so that no two threads store into one cache line.
            const std::uint32_t groups = static_cast<std::uint32_t>((width + BlurBand - 1) / BlurBand);
            const std::uint32_t begin = static_cast<std::uint32_t>(share(groups, index) * BlurBand);
            const std::uint32_t end =
                static_cast<std::uint32_t>(std::min<std::size_t>(width, share(groups, index + 1) * BlurBand));
            BlurDownColumns(job.scratch, job.contrast, width, height, begin, end, own, job.cancel);
#pragma omp barrier
        }
        ShrinkBand(job, own, first, last);
    }
    // A cancelled reduction gets neither map, however far the bands came.
    if (CancelRequested(settings.cancel))
        return {};

    ContrastMaps maps;
    maps.contrast = std::move(scratch);
    maps.dither = std::move(dither);
    return maps;
}

} // namespace tessaline
