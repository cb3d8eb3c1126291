#include "engine/histogram.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "engine/float_pixel_table.h"

namespace tessaline {

namespace detail {

namespace {

// Overflow slots come in groups of four keys beside their four weights, so that one vector compare
// tests four keys. Slot i is lane i % 4 of group i / 4. Every capacity (8, then 2 * capacity + 16)
// is a multiple of four.
constexpr std::uint32_t SlotsPerGroup = 4;

struct alignas(16) SlotGroup
{
    std::uint32_t keys[SlotsPerGroup] = {};
    float weights[SlotsPerGroup] = {};
};

using OverflowArray = std::unique_ptr<SlotGroup[]>;

OverflowArray AllocateOverflow(std::uint32_t capacity)
{
    return std::make_unique<SlotGroup[]>(capacity / SlotsPerGroup);
}

// 32 bytes: the common case (a key among the bucket's first two) touches this and nothing else.
struct Bucket
{
    std::uint32_t used = 0;
    std::uint32_t capacity = 0;
    OverflowArray overflow; ///< keys 3, 4, ... in order of arrival
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
    std::array<OverflowArray, RetiredStackRoom> retired;
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
            bucket.overflow = AllocateOverflow(FirstOverflowCapacity);
        }
        bucket.capacity = FirstOverflowCapacity;
    } else {
        const std::uint32_t oldCapacity = bucket.capacity;
        const std::uint32_t newCapacity = 2 * oldCapacity + 16;
        OverflowArray grown = AllocateOverflow(newCapacity);
        std::copy(bucket.overflow.get(), bucket.overflow.get() + oldCapacity / SlotsPerGroup, grown.get());
        if (table.retiredCount < RetiredStackLimit)
            table.retired[table.retiredCount++] = std::move(bucket.overflow);
        bucket.overflow = std::move(grown);
        bucket.capacity = newCapacity;
    }
    const std::uint32_t slot = bucket.used - 2;
    SlotGroup& group = bucket.overflow[slot / SlotsPerGroup];
    group.keys[slot % SlotsPerGroup] = key;
    group.weights[slot % SlotsPerGroup] = weight;
    ++bucket.used;
}

// The slot among the first `used` that holds `key`, or `used` when none does.
std::uint32_t FindSlotScalar(const SlotGroup* groups, std::uint32_t used, std::uint32_t key)
{
    for (std::uint32_t i = 0; i < used; ++i)
        if (groups[i / SlotsPerGroup].keys[i % SlotsPerGroup] == key)
            return i;
    return used;
}

#if defined(__SSE2__)
std::uint32_t FindSlotSse2(const SlotGroup* groups, std::uint32_t used, std::uint32_t key)
{
    const __m128i wanted = _mm_set1_epi32(static_cast<int>(key));
    const std::uint32_t groupCount = (used + SlotsPerGroup - 1) / SlotsPerGroup;
    for (std::uint32_t g = 0; g < groupCount; ++g) {
        const __m128i keys = _mm_load_si128(reinterpret_cast<const __m128i*>(groups[g].keys));
        int hits = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(keys, wanted)));
        // Lanes at or past `used` in the last group hold zeros or a recycled array's stale keys.
        const std::uint32_t valid = std::min(used - g * SlotsPerGroup, SlotsPerGroup);
        hits &= (1 << valid) - 1;
        if (hits) {
            // Keys in a bucket are distinct, so one lane at most matches; first lane wins anyway.
            const std::uint32_t lane = (hits & 1) ? 0 : (hits & 2) ? 1 : (hits & 4) ? 2 : 3;
            return g * SlotsPerGroup + lane;
        }
    }
    return used;
}
#endif

std::uint32_t FindSlot(const SlotGroup* groups, std::uint32_t used, std::uint32_t key)
{
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        return FindSlotSse2(groups, used, key);
#endif
    return FindSlotScalar(groups, used, key);
}

// Adds one pixel's key and weight; false when the table would have to grow past `maximum`.
inline bool CountKey(ColourTable& table, Bucket& bucket, std::uint32_t key, float weight,
                     std::uint32_t& colourCount, std::uint32_t maximum)
{
    // A photograph fills most buckets, so the full-bucket case is tested first; the outcome for
    // every key is the same as testing the slots in order.
    if (bucket.used >= 2) {
        if (bucket.firstKey == key) {
            bucket.firstWeight += weight;
            return true;
        }
        if (bucket.secondKey == key) {
            bucket.secondWeight += weight;
            return true;
        }
    } else if (bucket.used == 1) {
        if (bucket.firstKey == key) {
            bucket.firstWeight += weight;
        } else {
            bucket.secondKey = key;
            bucket.secondWeight = weight;
            bucket.used = 2;
            ++colourCount;
        }
        return true;
    } else {
        bucket.firstKey = key;
        bucket.firstWeight = weight;
        bucket.used = 1;
        ++colourCount;
        return true;
    }
    const std::uint32_t overflowUsed = bucket.used - 2;
    SlotGroup* groups = bucket.overflow.get();
    const std::uint32_t slot = FindSlot(groups, overflowUsed, key);
    if (slot < overflowUsed) {
        groups[slot / SlotsPerGroup].weights[slot % SlotsPerGroup] += weight;
        return true;
    }
    if (overflowUsed < bucket.capacity) {
        groups[overflowUsed / SlotsPerGroup].keys[overflowUsed % SlotsPerGroup] = key;
        groups[overflowUsed / SlotsPerGroup].weights[overflowUsed % SlotsPerGroup] = weight;
        ++bucket.used;
        ++colourCount;
        return true;
    }
    // The limit is only checked where memory would grow; keys that fit in place are counted
    // freely, so a successful table may hold somewhat more than `maximum`.
    ++colourCount;
    if (colourCount > maximum)
        return false;
    AppendWithNewOverflow(table, bucket, key, weight);
    return true;
}

inline void Prefetch(const void* address)
{
#if defined(__SSE2__)
    _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
    (void)address;
#endif
}

} // namespace

std::optional<CountedColours> CountColours(const std::uint8_t* const* rows, std::uint32_t width,
                                           std::uint32_t height, std::uint32_t maximum, unsigned ignoredBits,
                                           const float* contrastMap, const CancelFlag* cancel)
{
    ColourTablePtr owner(std::make_unique<ColourTable>().release());
    ColourTable& table = *owner;
    Bucket* const buckets = table.buckets.get();
    std::uint32_t colourCount = 0;
    // The map position advances with every pixel, transparent or not; 64-bit because width *
    // height may pass 2^32.
    std::size_t mapIndex = 0;

    // A photograph spreads its keys over most buckets and their overflow arrays, which together
    // outgrow the cache, so pixels are keyed a stretch at a time and each bucket, then its first
    // overflow slots, is fetched a few pixels before it is needed. The pixels are still counted
    // one by one in image order.
    constexpr std::uint32_t Stretch = 256;
    constexpr std::uint32_t BucketAhead = 16;
    constexpr std::uint32_t OverflowAhead = 8;
    std::uint32_t keys[Stretch];
    std::uint32_t bucketOf[Stretch];

    for (std::uint32_t y = 0; y < height; ++y) {
        if (CancelRequested(cancel))
            return std::nullopt;
        const std::uint8_t* const row = rows[y];
        for (std::uint32_t x0 = 0; x0 < width; x0 += Stretch) {
            const std::uint32_t n = std::min(Stretch, width - x0);
            for (std::uint32_t i = 0; i < n; ++i) {
                keys[i] = HistogramKey(PixelWord(row + 4 * (std::size_t{x0} + i)), ignoredBits);
                bucketOf[i] = keys[i] % HistogramBucketCount;
            }
            for (std::uint32_t i = 0; i < std::min(n, BucketAhead); ++i)
                Prefetch(&buckets[bucketOf[i]]);
            for (std::uint32_t i = 0; i < n; ++i, ++mapIndex) {
                if (i + BucketAhead < n)
                    Prefetch(&buckets[bucketOf[i + BucketAhead]]);
                if (i + OverflowAhead < n) {
                    const SlotGroup* ahead = buckets[bucketOf[i + OverflowAhead]].overflow.get();
                    if (ahead) {
                        // Two cache lines: slots 0 to 15. For an 8-slot array the second address is
                        // one past its end, which a prefetch may name without reading it.
                        Prefetch(ahead);
                        Prefetch(ahead + 2);
                    }
                }
                const float weight = contrastMap ? contrastMap[mapIndex] + 0.5f : 1.0f;
                if (!CountKey(table, buckets[bucketOf[i]], keys[i], weight, colourCount, maximum))
                    return std::nullopt;
            }
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
        for (std::uint32_t i = 0; i + 2 < bucket.used; ++i) {
            const SlotGroup& group = bucket.overflow[i / SlotsPerGroup];
            emit(group.keys[i % SlotsPerGroup], group.weights[i % SlotsPerGroup]);
        }
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
        if (CancelRequested(settings.cancel))
            return Histogram{};
        // Coarsening ends at 4 ignored bits: more bits would keep more distinct values per channel
        // again (at 8 the key is the word itself) and beyond 8 the shift is undefined. With a limit
        // of 65536 or more the 4-bit attempt always fits (at most 16^4 keys); with a smaller limit
        // it is accepted as it comes, however many colours it holds.
        const bool last = ignoredBits >= detail::MaxIgnoredBits;
        const std::uint32_t maximum =
            last ? std::numeric_limits<std::uint32_t>::max() : settings.maxHistogramEntries;
        std::optional<detail::CountedColours> counted = detail::CountColours(
            image.rows.data(), image.width, image.height, maximum, ignoredBits, contrastMap, settings.cancel);
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
