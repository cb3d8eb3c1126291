#include "engine/remap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/float_pixel_table.h"
#include "engine/nearest_index.h"
#include "engine/nearest_lanes.h"
#include "engine/parallel.h"
#include "engine/random_source.h"
#include "engine/voronoi.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaline {
namespace {

constexpr float TransparentAlpha = 0.00390625f; // 1/256: below it a pixel is not searched
// A nearest-entry answer whose ColourDifference exceeds this (about 32 levels in one channel) is checked
// against every entry before the dithered remap diffuses its error.
constexpr float FarAnswer = 1.0f / 64.0f;

// The index over a palette, its lane copy for the per-pixel queries, and the entry transparent
// pixels take. Not copied: the lanes point into this index.
struct RemapIndex
{
    NearestIndex index;
    NearestLanes lanes;
    std::uint32_t transparentIndex = 0;

    RemapIndex(const Palette& palette, float minOpacity)
        : index(BuildNearestIndex(palette)), lanes(BuildNearestLanes(index)),
          transparentIndex(FindNearest(index, FloatPixel{}, minOpacity, nullptr))
    {
    }
    RemapIndex(const RemapIndex&) = delete;
    RemapIndex& operator=(const RemapIndex&) = delete;
};

// The answers for recently seen pixel words. A photograph repeats its colours many times over, and
// the answer depends on the word alone, so a hit gives exactly what the search would. Word 0 (alpha
// 0) is never searched, so it marks an empty slot.
struct RemapCache
{
    struct Slot
    {
        std::uint32_t word = 0;
        std::uint32_t entry = 0;
        float distance = 0.0f;
    };
    static constexpr unsigned Bits = 14;
    std::vector<Slot> slots = std::vector<Slot>(std::size_t{1} << Bits);

    Slot& SlotFor(std::uint32_t word) { return slots[(word * 2654435761u) >> (32 - Bits)]; }
};

// A quarter of each entry's distance to its nearest other entry: the diffused colour may wander that
// far from the plain choice before a new search is worth it.
std::vector<float> KeepDistances(const Palette& palette)
{
    std::vector<float> keep(palette.count);
    for (std::uint32_t i = 0; i < palette.count; ++i) {
        float nearest = 1e20f;
        for (std::uint32_t j = 0; j < palette.count; ++j) {
            if (j != i)
                nearest =
                    std::min(nearest, ColourDifference(palette[i].colour, palette[j].colour, palette.scales));
        }
        keep[i] = 0.25f * nearest;
    }
    return keep;
}

// A noise value within +-0.5/255 from one drawn 32-bit number.
float Noise(std::uint32_t drawn)
{
    return static_cast<float>((double(drawn) * (1.0 / 4294967295.0) - 0.5) / 255.0);
}

// Four floats in a pixel's channel order (a, r, g, b), one operation for all four; lane for lane the
// scalar float operation, so the results are bit for bit those of four scalar statements.
#if defined(__SSE2__)
using Four = __m128;
inline Four Load(const FloatPixel& p) { return _mm_loadu_ps(&p.a); }
inline void Store(FloatPixel& p, Four v) { _mm_storeu_ps(&p.a, v); }
inline Four Splat(float v) { return _mm_set1_ps(v); }
inline Four AlphaAndColour(float alpha, float colour) { return _mm_set_ps(colour, colour, colour, alpha); }
inline Four Add(Four x, Four y) { return _mm_add_ps(x, y); }
inline Four Sub(Four x, Four y) { return _mm_sub_ps(x, y); }
inline Four Mul(Four x, Four y) { return _mm_mul_ps(x, y); }
// std::clamp(v, 0, top) lane by lane: the operand order keeps a NaN and a -0 as std::clamp does.
inline Four ClampTo(Four v, Four top) { return _mm_min_ps(top, _mm_max_ps(_mm_setzero_ps(), v)); }
inline Four AlphaAndColours(float alpha, const ChannelScales& s) { return _mm_set_ps(s.b, s.g, s.r, alpha); }
inline Four ConvertFour(const FloatPixelTable& table, const std::uint8_t* rgba) { return table.ConvertSse2(rgba); }
#else
struct Four
{
    float v[4];
};
inline Four Load(const FloatPixel& p) { return Four{{p.a, p.r, p.g, p.b}}; }
inline void Store(FloatPixel& p, Four x) { p = FloatPixel{x.v[0], x.v[1], x.v[2], x.v[3]}; }
inline Four Splat(float v) { return Four{{v, v, v, v}}; }
inline Four AlphaAndColour(float alpha, float colour) { return Four{{alpha, colour, colour, colour}}; }
template <typename Op>
inline Four Lanewise(Four x, Four y, Op op)
{
    return Four{{op(x.v[0], y.v[0]), op(x.v[1], y.v[1]), op(x.v[2], y.v[2]), op(x.v[3], y.v[3])}};
}
inline Four Add(Four x, Four y) { return Lanewise(x, y, [](float p, float q) { return p + q; }); }
inline Four Sub(Four x, Four y) { return Lanewise(x, y, [](float p, float q) { return p - q; }); }
inline Four Mul(Four x, Four y) { return Lanewise(x, y, [](float p, float q) { return p * q; }); }
inline Four ClampTo(Four x, Four top)
{
    return Lanewise(x, top, [](float p, float t) { return std::clamp(p, 0.0f, t); });
}
inline Four AlphaAndColours(float alpha, const ChannelScales& s)
{
    return Four{{alpha, s.r, s.g, s.b}};
}
inline Four ConvertFour(const FloatPixelTable& table, const std::uint8_t* rgba) { return Load(table.Convert(rgba)); }
#endif

inline FloatPixel ToPixel(Four v)
{
    FloatPixel p;
    Store(p, v);
    return p;
}

// What one row of the error diffusion reads and writes.
struct DitherRow
{
    const NearestLanes* lanes;
    const Palette* palette;
    const float* keep; ///< per entry, or null when the plain index is not kept
    const std::uint8_t* source;
    std::uint8_t* target; ///< holds the plain indices on entry when `keep` is set
    const float* levels;  ///< the row's dither map, or null for 0.9 everywhere
    const FloatPixel* owed; ///< width + 2 cells: what earlier rows pushed onto this one
    FloatPixel* below;      ///< width + 2 cells, every one overwritten with what this row pushes on
    std::int64_t width;
    float minOpacity;
    std::uint32_t transparentIndex;
};

// The entry a diffused colour takes. The index answers from the candidates of the first head whose
// radius holds the colour, and its last head lacks the entries earlier heads claimed. Where the
// source lies beyond the palette's colours, the carried error pushes the diffused colour further
// out, past every head's radius, and that last head can answer with an entry far off while a near
// one exists. Its large error then pushes the next pixels' colours further out still, so they get
// the same far entry, and a whole region does, the error rows carrying it down from row to row. An
// answer that far is checked against every entry; a nearer one ends the loop where it would start.
// Nearer answers stand as they are, so results that never meet a far answer stay as they were.
std::uint32_t NearestForDiffusion(const DitherRow& row, const FloatPixel& key)
{
    float difference = 0.0f;
    const std::uint32_t answer = FindNearestLanes(*row.lanes, key, row.minOpacity, &difference);
    if (!(difference > FarAnswer))
        return answer;
    float nearest = 0.0f;
    const std::uint32_t checked = FindNearestOfAll(*row.palette, key, row.minOpacity, &nearest);
    return nearest < difference ? checked : answer;
}

// How far apart two premultiplied colours look in the largest channel, composited over black and
// over white, in the unscaled units of the space (1 is 255 levels).
float CompositeGap(const FloatPixel& x, const FloatPixel& y, const ChannelScales& scales)
{
    const float alpha = x.a - y.a;
    const float channels[3] = {(x.r - y.r) / scales.r, (x.g - y.g) / scales.g, (x.b - y.b) / scales.b};
    float worst = 0.0f;
    for (const float c : channels)
        worst = std::max({worst, std::abs(c), std::abs(c - alpha)});
    return worst;
}

// More than 64 levels further from the source than its nearest entry is: a pixel that strays.
constexpr float StrayGap = 64.0f / 255.0f;
constexpr std::uint32_t StrayCheckedFrom = 16; // entries in the palette

// The entry a pixel takes when the one chosen for its diffused colour would stray from its source.
// Where the source lies beyond the palette's colours (a sky darker and bluer than any entry), the
// error carried there is a large multiple of the pixel's distance to its nearest entry, and the
// nearest entry of the pulled colour can lie far on the other side (a brown): that single pixel
// then strays. The entry nearest the source, in the same largest-channel measure, takes its place,
// and the error carried on is measured from it. A choice within the gap of the source stands as it
// is, so results where no pixel strays stay as they were. Below 16 entries the entries lie far
// apart and dithering between far ones is how the local average is kept (on a two-entry palette
// the guard would undo most of the dithering), so such palettes are left alone.
std::uint32_t KeepNearTheSource(const Palette& palette, const FloatPixel& source, std::uint32_t choice)
{
    if (palette.count < StrayCheckedFrom)
        return choice;
    const float gap = CompositeGap(source, palette[choice].colour, palette.scales);
    if (!(gap > StrayGap))
        return choice;
    std::uint32_t nearest = choice;
    float nearestGap = gap;
    for (std::uint32_t i = 0; i < palette.count; ++i) {
        const float candidate = CompositeGap(source, palette[i].colour, palette.scales);
        if (candidate < nearestGap) {
            nearest = i;
            nearestGap = candidate;
        }
    }
    return gap - nearestGap > StrayGap ? nearest : choice;
}

// One row in the direction of `Step` (1: left to right, -1: right to left). Pixel x takes seven
// sixteenths of the error of the pixel before it in its own cell x + 1 and pushes its own error on
// to the next pixel's cell and, three, five and one sixteenths, to the cells below behind it, under
// and ahead of it. A cell below is complete once the pixel behind it is done, so the two cells still
// growing and the next pixel's share stay in registers and each cell below is stored once; each
// cell still receives its shares in the same order, starting from zero.
template <int Step>
void DiffuseRow(const DitherRow& row, const FloatPixelTable& toFloat)
{
    const Palette& palette = *row.palette;
    const std::int64_t width = row.width;
    if (width <= 0)
        return;
    const Four seven = Splat(7.0f), five = Splat(5.0f), three = Splat(3.0f), one = Splat(1.0f);
    const Four sixteenth = Splat(0.0625f);
    // Colours stay within what the space holds: 0 to 1 scaled by the channel's scale.
    const Four top = AlphaAndColours(1.0f, palette.scales);
    const bool scaled = !palette.scales.Even();
    std::int64_t x = Step > 0 ? 0 : width - 1;
    Four owed = Load(row.owed[x + 1]);
    Four behind = Splat(0.0f); // cell x + 1 - Step below: its last share comes from pixel x
    Four under = Splat(0.0f);  // cell x + 1 below
    for (std::int64_t step = 0;; ++step, x += Step) {
        const Four pixel = ConvertFour(toFloat, row.source + 4 * x);
        float level = row.levels ? row.levels[x] : 0.9f;
        const Four diffused = ClampTo(Add(pixel, Mul(Splat(level), owed)), top);
        const FloatPixel key = ToPixel(diffused);

        // Below alpha 1/256 (or driven below 0 and clamped) the pixel is transparent; the error is
        // then measured from alpha 0.
        std::uint32_t choice = row.transparentIndex;
        if (!(key.a < TransparentAlpha)) {
            const std::uint32_t plain = row.target[x];
            if (row.keep && plain < palette.count &&
                (scaled ? ColourDifference(palette[plain].colour, key, palette.scales)
                        : ColourDifference(palette[plain].colour, key)) < row.keep[plain])
                choice = plain;
            else
                choice = KeepNearTheSource(palette, ToPixel(pixel), NearestForDiffusion(row, key));
        }
        row.target[x] = static_cast<std::uint8_t>(choice);

        const FloatPixel& chosen = palette[choice].colour;
        const Four d = Sub(diffused, Load(chosen));
        const FloatPixel squares = ToPixel(Mul(d, d));
        const float squared = ((squares.g + squares.r) + squares.b) + squares.a;
        if (squared > 0.000244140625f) // a large error diffuses less, so it does not smear
            level = static_cast<float>(double(level) * 0.75);
        // Translucent entries pass on less colour error: three quarters for a transparent one.
        const float colourScale = (chosen.a + 3.0f) * 0.25f * level;
        const Four error = Mul(d, AlphaAndColour(level, colourScale));

        Store(row.below[x + 1 - Step], Add(behind, Mul(Mul(error, three), sixteenth)));
        behind = Add(under, Mul(Mul(error, five), sixteenth));
        under = Add(Splat(0.0f), Mul(Mul(error, one), sixteenth));
        if (step + 1 == width)
            break;
        owed = Add(Load(row.owed[x + 1 + Step]), Mul(Mul(error, seven), sixteenth));
    }
    Store(row.below[x + 1], behind);
    Store(row.below[x + 1 + Step], under);
}

} // namespace

float RemapPlain(const RgbaImage& input, IndexedImage& output, Palette& palette, float minOpacity,
                 const CancelFlag* cancel)
{
    const RemapIndex nearest(palette, minOpacity);
    const int threads = MaxThreads();
    PaletteAccumulators cells = CreateAccumulators(threads, palette);
    std::vector<RemapCache> caches(threads);

    const FloatPixelTable toFloat(static_cast<float>(input.gamma), palette.scales);
    const std::int64_t width = input.width;
    const std::int64_t height = input.height;
    // In 64 bits: a 32-bit product of a huge image's sides wraps and would run it on one thread.
    [[maybe_unused]] const std::int64_t pixelCount = width * height; // read by the pragma alone
    double distanceSum = 0.0;
    std::int64_t searched = 0;
#pragma omp parallel for if (pixelCount > ParallelThreshold) schedule(static) reduction(+ : distanceSum, searched)
    for (std::int64_t y = 0; y < height; ++y) {
        if (CancelRequested(cancel))
            continue; // a parallel loop cannot break: the rest of the rows pass by unmapped
        const int thread = ThreadIndex();
        const std::uint8_t* source = input.rows[y];
        std::uint8_t* target = output.rows[y];
        RemapCache& cache = caches[thread];
        for (std::int64_t x = 0; x < width; ++x) {
            const std::uint8_t* rgba = source + 4 * x;
            const FloatPixel pixel = toFloat.Convert(rgba);
            std::uint32_t entry = nearest.transparentIndex;
            if (pixel.a >= TransparentAlpha) {
                std::uint32_t word;
                std::memcpy(&word, rgba, 4);
                RemapCache::Slot& slot = cache.SlotFor(word);
                if (slot.word != word) {
                    slot.entry = FindNearestLanes(nearest.lanes, pixel, minOpacity, &slot.distance);
                    slot.word = word;
                }
                entry = slot.entry;
                distanceSum += slot.distance;
                ++searched;
            }
            target[x] = static_cast<std::uint8_t>(entry);
            Accumulate(cells, thread, entry, pixel, 1.0f);
        }
    }
    ApplyAccumulators(palette, cells); // adds the rows in thread order
    return static_cast<float>(searched > 1 ? distanceSum / double(searched) : distanceSum);
}

void RefineDitherMap(const IndexedImage& output, float* ditherMap)
{
    const std::int64_t width = output.width;
    const std::int64_t height = output.height;
    if (width <= 1)
        return;
    // Each row writes only its own levels and reads the output, so rows may run in any order.
    [[maybe_unused]] const bool parallel = static_cast<std::uint64_t>(width * height) >= ParallelImagePixels;
#pragma omp parallel for if (parallel) schedule(static)
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* row = output.rows[y];
        const std::uint8_t* above = y > 0 ? output.rows[y - 1] : nullptr;
        const std::uint8_t* below = y < height - 1 ? output.rows[y + 1] : nullptr;
        float* levels = ditherMap + y * width;
        std::uint8_t last = row[0];
        std::int64_t start = 0;
        for (std::int64_t x = 1; x < width; ++x) {
            const std::uint8_t current = row[x];
            if (current == last && x != width - 1)
                continue;
            // The pixel where the index changes is scaled with the run before it.
            float n = static_cast<float>(x - start) + 2.5f;
            for (std::int64_t k = start; k < x; ++k) {
                if (above && above[k] == last)
                    n += 1.0f;
                if (below && below[k] == last)
                    n += 1.0f;
            }
            const float factor = 1.0f - 2.5f / n;
            for (std::int64_t k = start; k <= x; ++k)
                levels[k] *= factor;
            start = x + 1;
            last = current;
        }
    }
}

void RemapDithered(const RgbaImage& input, IndexedImage& output, const Palette& palette, float minOpacity,
                   const float* ditherMap, bool useDitherMap, const CancelFlag* cancel)
{
    const RemapIndex nearest(palette, minOpacity);
    const std::vector<float> keep = useDitherMap ? KeepDistances(palette) : std::vector<float>();

    const FloatPixelTable toFloat(static_cast<float>(input.gamma), palette.scales);
    const std::int64_t width = input.width;
    const std::int64_t height = input.height;

    // Pixel x owns cell x + 1; the two margins swallow what is pushed past the row's ends.
    std::vector<FloatPixel> current(static_cast<std::size_t>(width) + 2);
    std::vector<FloatPixel> next(static_cast<std::size_t>(width) + 2);
    // A generator of this remap's own: another reduction running beside it draws from its own.
    RandomSource random(12345);
    // The noise is a fraction of a level in each channel, so it is scaled with the channel.
    const ChannelScales& scales = palette.scales;
    for (FloatPixel& cell : current) {
        cell.r = Noise(random.Next()) * scales.r;
        cell.g = Noise(random.Next()) * scales.g;
        cell.b = Noise(random.Next()) * scales.b;
        cell.a = Noise(random.Next());
    }

    DitherRow row{&nearest.lanes, &palette, useDitherMap ? keep.data() : nullptr, nullptr, nullptr, nullptr,
                  current.data(), next.data(), width, minOpacity, nearest.transparentIndex};
    bool leftToRight = true;
    for (std::int64_t y = 0; y < height; ++y) {
        if (CancelRequested(cancel))
            return;
        row.source = input.rows[y];
        row.target = output.rows[y];
        row.levels = ditherMap ? ditherMap + y * width : nullptr;
        row.owed = current.data();
        row.below = next.data();
        if (leftToRight)
            DiffuseRow<1>(row, toFloat);
        else
            DiffuseRow<-1>(row, toFloat);
        std::swap(current, next);
        leftToRight = !leftToRight;
    }
}

} // namespace tessaline
