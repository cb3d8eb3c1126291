#include "engine/histogram.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <exception>
#include <limits>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "engine/float_pixel_table.h"
#include "engine/parallel.h"

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

// Adds the key and weight of the pixel at map position `pixel`; false when the table would have to
// grow and `mayGrow(colourCount, pixel)`, asked with the count including this key, says no.
template <typename MayGrow>
inline bool CountKey(ColourTable& table, Bucket& bucket, std::uint32_t key, float weight, std::size_t pixel,
                     std::uint32_t& colourCount, MayGrow& mayGrow)
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
    // freely, so a successful table may hold somewhat more than the limit.
    ++colourCount;
    if (!mayGrow(colourCount, pixel))
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

namespace {

// One thread's share of a count: the keys whose bucket lies in [firstBucket, lastBucket). Every
// thread reads every pixel but counts only its own keys, so each key's weights are summed in image
// order and each bucket's keys arrive in image order, as in a count by one thread.
class PartCount
{
public:
    PartCount(std::uint32_t firstBucket, std::uint32_t lastBucket)
        : owner_(std::make_unique<ColourTable>().release()), firstBucket_(firstBucket),
          bucketSpan_(lastBucket - firstBucket)
    {
    }

    ColourTablePtr& Table() { return owner_; }
    std::uint32_t ColourCount() const { return colourCount_; }

    // Counts row y, whose first pixel has map position `mapStart`; false when `mayGrow` refused.
    template <bool AllBuckets, typename MayGrow>
    bool CountRow(const std::uint8_t* row, std::uint32_t width, std::size_t mapStart, unsigned ignoredBits,
                  const float* contrastMap, MayGrow& mayGrow)
    {
        ColourTable& table = *owner_;
        Bucket* const buckets = table.buckets.get();
        // A photograph spreads its keys over most buckets and their overflow arrays, which together
        // outgrow the cache, so pixels are keyed a stretch at a time and each bucket, then its first
        // overflow slots, is fetched a few pixels before it is needed. The pixels are still counted
        // one by one in image order.
        constexpr std::uint32_t Stretch = 256;
        constexpr std::uint32_t BucketAhead = 16;
        constexpr std::uint32_t OverflowAhead = 8;
        std::uint32_t keys[Stretch];
        std::uint32_t bucketOf[Stretch];
        std::uint32_t columnOf[Stretch];

        for (std::uint32_t x0 = 0; x0 < width; x0 += Stretch) {
            const std::uint32_t stretch = std::min(Stretch, width - x0);
            // Only this part's keys, without a branch: every slot is written, the count advances
            // past those that belong here.
            std::uint32_t n = 0;
            for (std::uint32_t i = 0; i < stretch; ++i) {
                const std::uint32_t key = HistogramKey(PixelWord(row + 4 * (std::size_t{x0} + i)), ignoredBits);
                const std::uint32_t bucket = key % HistogramBucketCount;
                keys[n] = key;
                bucketOf[n] = bucket;
                columnOf[n] = x0 + i;
                n += AllBuckets || bucket - firstBucket_ < bucketSpan_ ? 1 : 0;
            }
            for (std::uint32_t i = 0; i < std::min(n, BucketAhead); ++i)
                Prefetch(&buckets[bucketOf[i]]);
            for (std::uint32_t i = 0; i < n; ++i) {
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
                // The map position advances with every pixel, transparent or not.
                const std::size_t mapIndex = mapStart + columnOf[i];
                const float weight = contrastMap ? contrastMap[mapIndex] + 0.5f : 1.0f;
                if (!CountKey(table, buckets[bucketOf[i]], keys[i], weight, mapIndex, colourCount_, mayGrow))
                    return false;
            }
        }
        return true;
    }

private:
    ColourTablePtr owner_;
    std::uint32_t firstBucket_;
    std::uint32_t bucketSpan_;
    std::uint32_t colourCount_ = 0;
};

// The limit of a count by one thread: the count so far, this key included.
struct GrowBelowMaximum
{
    std::uint32_t maximum;
    bool operator()(std::uint32_t colourCount, std::size_t) const { return colourCount <= maximum; }
};

// Threads sharing a count publish, after each row, how many keys their part has found so far, so
// that each can tell the row in which the whole count first passed the limit.
struct CountProgress
{
    explicit CountProgress(int threads, std::uint32_t height)
        : rowsDone(static_cast<std::size_t>(threads)),
          counts(static_cast<std::size_t>(threads) * height)
    {
    }
    std::vector<std::atomic<std::uint32_t>> rowsDone;
    std::vector<std::uint32_t> counts; ///< thread t's count at the end of row y: [t * height + y]
    std::atomic<bool> stop{false};
};

// The limit of one part of a shared count. A count by one thread fails when a bucket must grow
// while the whole count (every part's keys first seen up to this pixel) is past the limit. That
// is certain when this part alone is past it, or when the pixel lies below the row in which all
// parts together passed it; otherwise the part grows and the caller settles the rest at the end.
struct GrowWhileUnsure
{
    std::uint32_t maximum;
    std::uint32_t width;
    std::size_t lastGrowth = static_cast<std::size_t>(-1); ///< pixel of the last growth, or none
    std::uint32_t passedRow = std::numeric_limits<std::uint32_t>::max(); ///< known row, or none

    bool operator()(std::uint32_t colourCount, std::size_t pixel)
    {
        if (colourCount > maximum)
            return false;
        if (passedRow != std::numeric_limits<std::uint32_t>::max() && pixel / width > passedRow)
            return false;
        lastGrowth = pixel;
        return true;
    }
};

// The first row at whose end the parts' counts together exceed `maximum`, looking at the rows
// from `*checked` up to those every part has finished; none as UINT32_MAX.
std::uint32_t FindPassedRow(CountProgress& progress, std::uint32_t height, std::uint32_t maximum,
                            std::uint32_t* checked)
{
    std::uint32_t finished = height;
    for (const std::atomic<std::uint32_t>& done : progress.rowsDone)
        finished = std::min(finished, done.load(std::memory_order_acquire));
    const std::size_t threads = progress.rowsDone.size();
    for (; *checked < finished; ++*checked) {
        std::uint64_t total = 0;
        for (std::size_t t = 0; t < threads; ++t)
            total += progress.counts[t * height + *checked];
        if (total > maximum)
            return *checked;
    }
    return std::numeric_limits<std::uint32_t>::max();
}

std::optional<CountedColours> CountColoursAlone(const std::uint8_t* const* rows, std::uint32_t width,
                                                std::uint32_t height, std::uint32_t maximum,
                                                unsigned ignoredBits, const float* contrastMap,
                                                const CancelFlag* cancel)
{
    PartCount part(0, HistogramBucketCount);
    GrowBelowMaximum mayGrow{maximum};
    for (std::uint32_t y = 0; y < height; ++y) {
        if (CancelRequested(cancel))
            return std::nullopt;
        // 64-bit because width * height may pass 2^32.
        if (!part.CountRow<true>(rows[y], width, std::size_t{y} * width, ignoredBits, contrastMap, mayGrow))
            return std::nullopt;
    }
    const std::uint32_t colourCount = part.ColourCount();
    return CountedColours{std::move(part.Table()), colourCount};
}

} // namespace

std::optional<CountedColours> CountColours(const std::uint8_t* const* rows, std::uint32_t width,
                                           std::uint32_t height, std::uint32_t maximum, unsigned ignoredBits,
                                           const float* contrastMap, const CancelFlag* cancel)
{
    const std::uint64_t pixels = std::uint64_t{width} * height;
    // Every thread reads the whole image, so a larger team only adds reading; on smaller images
    // the table also stays mostly in the caches, and the extra reading costs more than the split saves.
    constexpr int MostThreads = 8;
    const int team = pixels >= ParallelImagePixels ? std::min(MaxThreads(), MostThreads) : 1;
    if (team <= 1)
        return CountColoursAlone(rows, width, height, maximum, ignoredBits, contrastMap, cancel);

    // Each thread counts the keys of one range of buckets. Every part is allocated before the
    // threads start, and an exception inside the region is carried out of it.
    std::vector<std::optional<PartCount>> parts(static_cast<std::size_t>(team));
    CountProgress progress(team, height);
    std::vector<GrowWhileUnsure> limits(static_cast<std::size_t>(team), GrowWhileUnsure{maximum, width});
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(team));
    std::atomic<bool> refused{false};
    int threads = 1;
#pragma omp parallel num_threads(team)
    {
        const int index = ThreadIndex();
        const std::size_t me = static_cast<std::size_t>(index);
#pragma omp single
        {
            // The runtime may start fewer threads than asked; the absent ones count no rows.
            threads = TeamSize();
            for (std::size_t t = static_cast<std::size_t>(threads); t < parts.size(); ++t)
                progress.rowsDone[t].store(height, std::memory_order_relaxed);
        }
        try {
            const std::uint32_t first = static_cast<std::uint32_t>(std::uint64_t{HistogramBucketCount} * me / threads);
            const std::uint32_t last =
                static_cast<std::uint32_t>(std::uint64_t{HistogramBucketCount} * (me + 1) / threads);
            // Both stay on this thread's stack while it counts: beside the other threads' in one
            // vector they would share cache lines that change with every new colour.
            PartCount part(first, last);
            GrowWhileUnsure mayGrow{maximum, width};
            std::uint32_t checked = 0;
            for (std::uint32_t y = 0; y < height; ++y) {
                if (CancelRequested(cancel) || progress.stop.load(std::memory_order_relaxed))
                    break;
                if (!part.CountRow<false>(rows[y], width, std::size_t{y} * width, ignoredBits, contrastMap, mayGrow)) {
                    refused.store(true, std::memory_order_relaxed);
                    progress.stop.store(true, std::memory_order_relaxed);
                    break;
                }
                progress.counts[me * height + y] = part.ColourCount();
                progress.rowsDone[me].store(y + 1, std::memory_order_release);
                if (mayGrow.passedRow == std::numeric_limits<std::uint32_t>::max())
                    mayGrow.passedRow = FindPassedRow(progress, height, maximum, &checked);
            }
            limits[me] = mayGrow;
            parts[me].emplace(std::move(part));
        } catch (...) {
            failures[me] = std::current_exception();
            progress.stop.store(true, std::memory_order_relaxed);
        }
        // A thread that stopped early must not leave the others waiting for its rows.
        progress.rowsDone[me].store(height, std::memory_order_release);
    }
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    if (CancelRequested(cancel) || refused.load())
        return std::nullopt;

    // Every part finished: settle whether a count by one thread would have refused a growth.
    constexpr std::size_t NoGrowth = static_cast<std::size_t>(-1);
    std::size_t lastGrowth = NoGrowth;
    for (const GrowWhileUnsure& limit : limits)
        if (limit.lastGrowth != NoGrowth)
            lastGrowth = lastGrowth == NoGrowth ? limit.lastGrowth : std::max(lastGrowth, limit.lastGrowth);
    std::uint32_t checked = 0;
    const std::uint32_t passedRow = FindPassedRow(progress, height, maximum, &checked);
    if (lastGrowth != NoGrowth && passedRow != std::numeric_limits<std::uint32_t>::max()) {
        const std::size_t growthRow = lastGrowth / width;
        if (growthRow > passedRow)
            return std::nullopt;
        // Both in one row: which came first inside it is not recorded, so that row's answer is the
        // one-thread count's own.
        if (growthRow == passedRow) {
            parts.clear(); // their tables go before the new count's
            return CountColoursAlone(rows, width, height, maximum, ignoredBits, contrastMap, cancel);
        }
    }

    // The parts own disjoint buckets: gather them into the first part's table.
    ColourTablePtr table = std::move(parts[0]->Table());
    std::uint32_t colourCount = parts[0]->ColourCount();
    for (int t = 1; t < threads; ++t) {
        PartCount& part = *parts[static_cast<std::size_t>(t)];
        const std::uint32_t first = static_cast<std::uint32_t>(std::uint64_t{HistogramBucketCount} * t / threads);
        const std::uint32_t last =
            static_cast<std::uint32_t>(std::uint64_t{HistogramBucketCount} * (t + 1) / threads);
        for (std::uint32_t b = first; b < last; ++b)
            table->buckets[b] = std::move(part.Table()->buckets[b]);
        colourCount += part.ColourCount();
    }
    return CountedColours{std::move(table), colourCount};
}

Histogram TableToHistogram(const ColourTable& table, std::uint32_t colourCount, float gamma,
                           const ChannelScales& scales)
{
    Histogram histogram = CreateHistogram(colourCount);
    histogram.scales = scales;
    const FloatPixelTable convert(gamma, scales);
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
            return detail::TableToHistogram(*counted->table, counted->colourCount, gamma,
                                            settings.channelScales);
        ++ignoredBits;
    }
}

void ReleaseHistogram(Histogram& histogram)
{
    histogram = Histogram{};
}

} // namespace tessaline
