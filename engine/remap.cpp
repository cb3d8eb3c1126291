#include "engine/remap.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/float_pixel_table.h"
#include "engine/nearest_index.h"
#include "engine/nearest_lanes.h"
#include "engine/parallel.h"
#include "engine/random_source.h"
#include "engine/voronoi.h"

namespace tessaline {
namespace {

constexpr float TransparentAlpha = 0.00390625f; // 1/256: below it a pixel is not searched

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
                nearest = std::min(nearest, ColourDifference(palette[i].colour, palette[j].colour));
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

void AddShare(FloatPixel& cell, const FloatPixel& error, float weight)
{
    cell.a += error.a * weight * 0.0625f;
    cell.r += error.r * weight * 0.0625f;
    cell.g += error.g * weight * 0.0625f;
    cell.b += error.b * weight * 0.0625f;
}

} // namespace

float RemapPlain(const RgbaImage& input, IndexedImage& output, Palette& palette, float minOpacity)
{
    const RemapIndex nearest(palette, minOpacity);
    const int threads = MaxThreads();
    PaletteAccumulators cells = CreateAccumulators(threads, palette);
    std::vector<RemapCache> caches(threads);

    const FloatPixelTable toFloat(static_cast<float>(input.gamma));
    const std::int64_t width = input.width;
    const std::int64_t height = input.height;
    // In 64 bits: a 32-bit product of a huge image's sides wraps and would run it on one thread.
    const std::int64_t pixelCount = width * height;
    double distanceSum = 0.0;
    std::int64_t searched = 0;
#pragma omp parallel for if (pixelCount > ParallelThreshold) schedule(static) reduction(+ : distanceSum, searched)
    for (std::int64_t y = 0; y < height; ++y) {
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
                   const float* ditherMap, bool useDitherMap)
{
    const RemapIndex nearest(palette, minOpacity);
    const std::vector<float> keep = useDitherMap ? KeepDistances(palette) : std::vector<float>();

    const FloatPixelTable toFloat(static_cast<float>(input.gamma));
    const std::int64_t width = input.width;
    const std::int64_t height = input.height;

    // Pixel x owns cell x + 1; the two margins swallow what is pushed past the row's ends.
    std::vector<FloatPixel> current(static_cast<std::size_t>(width) + 2);
    std::vector<FloatPixel> next(static_cast<std::size_t>(width) + 2);
    SeedRandomSource(12345);
    for (FloatPixel& cell : current) {
        cell.r = Noise(NextRandom());
        cell.g = Noise(NextRandom());
        cell.b = Noise(NextRandom());
        cell.a = Noise(NextRandom());
    }

    bool leftToRight = true;
    for (std::int64_t y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), FloatPixel{});
        const std::uint8_t* source = input.rows[y];
        std::uint8_t* target = output.rows[y];
        const float* levels = ditherMap ? ditherMap + y * width : nullptr;
        for (std::int64_t step = 0; step < width; ++step) {
            const std::int64_t x = leftToRight ? step : width - 1 - step;
            const FloatPixel pixel = toFloat.Convert(source + 4 * x);
            float level = levels ? levels[x] : 0.9f;
            const FloatPixel& owed = current[x + 1];

            FloatPixel key;
            key.r = std::clamp(pixel.r + level * owed.r, 0.0f, 1.0f);
            key.g = std::clamp(pixel.g + level * owed.g, 0.0f, 1.0f);
            key.b = std::clamp(pixel.b + level * owed.b, 0.0f, 1.0f);
            key.a = pixel.a + level * owed.a;

            bool search = true;
            if (key.a < 0.0f) {
                key.a = 0.0f; // the error is measured from alpha 0
                search = false;
            } else if (key.a > 1.0f) {
                key.a = 1.0f;
            } else if (key.a < TransparentAlpha) {
                search = false;
            }

            std::uint32_t choice = nearest.transparentIndex;
            if (search) {
                const std::uint32_t plain = target[x];
                if (useDitherMap && plain < palette.count &&
                    ColourDifference(palette[plain].colour, key) < keep[plain])
                    choice = plain;
                else
                    choice = FindNearestLanes(nearest.lanes, key, minOpacity, nullptr);
            }
            target[x] = static_cast<std::uint8_t>(choice);

            const FloatPixel& chosen = palette[choice].colour;
            const FloatPixel d{key.a - chosen.a, key.r - chosen.r, key.g - chosen.g, key.b - chosen.b};
            const float squared = ((d.g * d.g + d.r * d.r) + d.b * d.b) + d.a * d.a;
            if (squared > 0.000244140625f) // a large error diffuses less, so it does not smear
                level = static_cast<float>(double(level) * 0.75);
            // Translucent entries pass on less colour error: three quarters for a transparent one.
            const float colourScale = (chosen.a + 3.0f) * 0.25f * level;
            const FloatPixel error{d.a * level, d.r * colourScale, d.g * colourScale, d.b * colourScale};

            if (leftToRight) {
                AddShare(current[x + 2], error, 7.0f);
                AddShare(next[x], error, 3.0f);
                AddShare(next[x + 1], error, 5.0f);
                AddShare(next[x + 2], error, 1.0f);
            } else {
                AddShare(current[x], error, 7.0f);
                AddShare(next[x], error, 1.0f);
                AddShare(next[x + 1], error, 5.0f);
                AddShare(next[x + 2], error, 3.0f);
            }
        }
        std::swap(current, next);
        leftToRight = !leftToRight;
    }
}

} // namespace tessaline
