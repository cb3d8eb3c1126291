#include "engine/histogram.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <new>

#include "engine/float_pixel_table.h"

namespace tessaline {

namespace detail {

namespace {

struct KeyWeight
{
    std::uint32_t key = 0;
    float weight = 0.0f;
};

// 32 bytes: the common case (a key among the bucket's first two) touches this and nothing else.
struct Bucket
{
    std::uint32_t used = 0;
    std::uint32_t capacity = 0;
    std::unique_ptr<KeyWeight[]> overflow; ///< keys 3, 4, ... in order of arrival
    std::uint32_t firstKey = 0;
    std::uint32_t secondKey = 0;
    float firstWeight = 0.0f;
    float secondWeight = 0.0f;
};

constexpr std::uint32_t RetiredStackRoom = 512;
constexpr std::uint32_t RetiredStackLimit = 511;
constexpr std::uint32_t FirstOverflowCapacity = 8;

std::uint32_t PixelWord(const std::uint8_t* rgba)
{
    // Byte order R, G, B, A from the lowest byte up, whatever the machine's endianness.
    return std::uint32_t{rgba[0]} | (std::uint32_t{rgba[1]} << 8) | (std::uint32_t{rgba[2]} << 16) |
           (std::uint32_t{rgba[3]} << 24);
}

} // namespace

struct ColourTable
{
    std::unique_ptr<Bucket[]> buckets = std::make_unique<Bucket[]>(HistogramBucketCount);
    // Overflow arrays a grown bucket gave up, reused as the next bucket's first overflow array.
    std::array<std::unique_ptr<KeyWeight[]>, RetiredStackRoom> retired;
    std::uint32_t retiredCount = 0;
};

void ColourTableDelete::operator()(ColourTable* table) const noexcept
{
    delete table;
}

namespace {

// The bucket has no spare overflow slot: give it a first (8 slots, recycled when possible) or a
// larger overflow array, and append the key.
void AppendWithNewOverflow(ColourTable& table, Bucket& bucket, std::uint32_t key, float weight)
{
    if (!bucket.overflow) {
        if (table.retiredCount > 0) {
            // A retired array holds at least 8 slots; its old contents are never read, since only
            // slots below used - 2 are searched and each is written before it is counted.
            bucket.overflow = std::move(table.retired[--table.retiredCount]);
        } else {
            bucket.overflow = std::make_unique<KeyWeight[]>(FirstOverflowCapacity);
        }
        bucket.capacity = FirstOverflowCapacity;
    } else {
        const std::uint32_t oldCapacity = bucket.capacity;
        const std::uint32_t newCapacity = 2 * oldCapacity + 16;
        auto grown = std::make_unique<KeyWeight[]>(newCapacity);
        std::copy(bucket.overflow.get(), bucket.overflow.get() + oldCapacity, grown.get());
        if (table.retiredCount < RetiredStackLimit)
            table.retired[table.retiredCount++] = std::move(bucket.overflow);
        bucket.overflow = std::move(grown);
        bucket.capacity = newCapacity;
    }
    bucket.overflow[bucket.used - 2] = KeyWeight{key, weight};
    ++bucket.used;
}

} // namespace

std::optional<CountedColours> CountColours(const std::uint8_t* const* rows, std::uint32_t width,
                                           std::uint32_t height, std::uint32_t maximum, unsigned ignoredBits,
                                           const float* contrastMap)
{
    ColourTablePtr owner(std::make_unique<ColourTable>().release());
    ColourTable& table = *owner;
    Bucket* const buckets = table.buckets.get();
    std::uint32_t colourCount = 0;
    // The map position advances with every pixel, transparent or not; 64-bit because width *
    // height may pass 2^32.
    std::size_t mapIndex = 0;

    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* pixel = rows[y];
        for (std::uint32_t x = 0; x < width; ++x, pixel += 4, ++mapIndex) {
            const float weight = contrastMap ? contrastMap[mapIndex] + 0.5f : 1.0f;
            const std::uint32_t key = HistogramKey(PixelWord(pixel), ignoredBits);
            Bucket& bucket = buckets[key % HistogramBucketCount];

            if (bucket.used > 0 && bucket.firstKey == key) {
                bucket.firstWeight += weight;
                continue;
            }
            if (bucket.used == 0) {
                bucket.firstKey = key;
                bucket.firstWeight = weight;
                bucket.used = 1;
                ++colourCount;
                continue;
            }
            if (bucket.used == 1) {
                bucket.secondKey = key;
                bucket.secondWeight = weight;
                bucket.used = 2;
                ++colourCount;
                continue;
            }
            if (bucket.secondKey == key) {
                bucket.secondWeight += weight;
                continue;
            }
            const std::uint32_t overflowUsed = bucket.used - 2;
            KeyWeight* slots = bucket.overflow.get();
            bool found = false;
            for (std::uint32_t i = 0; i < overflowUsed; ++i) {
                if (slots[i].key == key) {
                    slots[i].weight += weight;
                    found = true;
                    break;
                }
            }
            if (found)
                continue;
            if (overflowUsed < bucket.capacity) {
                slots[overflowUsed] = KeyWeight{key, weight};
                ++bucket.used;
                ++colourCount;
                continue;
            }
            // The limit is only checked where memory would grow; keys that fit in place are
            // counted freely, so a successful table may hold somewhat more than `maximum`.
            ++colourCount;
            if (colourCount > maximum)
                return std::nullopt;
            AppendWithNewOverflow(table, bucket, key, weight);
        }
    }
    return CountedColours{std::move(owner), colourCount};
}

Histogram TableToHistogram(const ColourTable& table, std::uint32_t colourCount, float gamma)
{
    Histogram histogram = CreateHistogram(colourCount);
    const FloatPixelTable convert(gamma);
    HistogramItem* items = histogram.items.get();
    std::uint32_t next = 0;
    double total = 0.0;
    const auto emit = [&](std::uint32_t key, float weight) {
        if (next >= colourCount)
            return; // cannot happen for a table CountColours filled; never write past the items
        const std::uint8_t rgba[4] = {std::uint8_t(key), std::uint8_t(key >> 8), std::uint8_t(key >> 16),
                                      std::uint8_t(key >> 24)};
        HistogramItem& item = items[next++];
        item.colour = convert.Convert(rgba);
        item.perceptualWeight = weight;
        item.adjustedWeight = weight;
        total += weight;
    };
    for (std::uint32_t b = 0; b < HistogramBucketCount; ++b) {
        const Bucket& bucket = table.buckets[b];
        if (bucket.used >= 1)
            emit(bucket.firstKey, bucket.firstWeight);
        if (bucket.used >= 2)
            emit(bucket.secondKey, bucket.secondWeight);
        for (std::uint32_t i = 2; i < bucket.used; ++i)
            emit(bucket.overflow[i - 2].key, bucket.overflow[i - 2].weight);
    }
    histogram.totalPerceptualWeight = total;
    return histogram;
}

} // namespace detail

Histogram CreateHistogram(std::uint32_t size)
{
    Histogram histogram;
    histogram.items = std::make_unique<HistogramItem[]>(size);
    histogram.size = size;
    return histogram;
}

Histogram BuildHistogram(const ReduceSettings& settings, const RgbaImage& image, const float* contrastMap)
{
    const float gamma = static_cast<float>(image.gamma);
    unsigned ignoredBits = settings.fastHistogram ? 1 : 0;
    for (;;) {
        // Coarsening ends at 4 ignored bits: more bits would keep more distinct values per channel
        // again (at 8 the key is the word itself) and beyond 8 the shift is undefined. With a limit
        // of 65536 or more the 4-bit attempt always fits (at most 16^4 keys); with a smaller limit
        // it is accepted as it comes, however many colours it holds.
        const bool last = ignoredBits >= detail::MaxIgnoredBits;
        const std::uint32_t maximum =
            last ? std::numeric_limits<std::uint32_t>::max() : settings.maxHistogramEntries;
        std::optional<detail::CountedColours> counted = detail::CountColours(
            image.rows.data(), image.width, image.height, maximum, ignoredBits, contrastMap);
        if (counted)
            return detail::TableToHistogram(*counted->table, counted->colourCount, gamma);
        ++ignoredBits;
    }
}

void ReleaseHistogram(Histogram& histogram)
{
    histogram = Histogram{};
}

} // namespace tessaline
