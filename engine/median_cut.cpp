#include "engine/median_cut.h"

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <cmath>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/parallel.h"
#include "engine/split_ahead.h"
#include "engine/voronoi.h"

namespace tessaline {
namespace detail {
namespace {

// The most opaque item of a box must reach this for its average alpha to snap to 1.
constexpr float NearlyOpaque = 0.99609375f; // 255/256

// The four channels in FloatPixel order a, r, g, b, for picking channels by rank.
inline std::array<float, 4> Channels(const FloatPixel& colour)
{
    return {colour.a, colour.r, colour.g, colour.b};
}

// One channel's squared spread; spreads below `tiny` count half, so a box of near-identical
// colours is less eager to be split.
inline double Spread(float centre, float value, double tiny)
{
    const double d = centre - value;
    const double squared = d * d;
    return squared < tiny ? squared * 0.5 : squared;
}

// The metric of even scales without the multiplications by 1, or that of the given scales.
struct EvenMetric
{
    float operator()(const FloatPixel& x, const FloatPixel& y) const { return ColourDifference(x, y); }
};
struct ScaledMetric
{
    const ChannelScales& scales;
    float operator()(const FloatPixel& x, const FloatPixel& y) const { return ColourDifference(x, y, scales); }
};

// Calls `work` with the metric of `scales`, chosen once for a whole loop.
template <typename Work>
inline auto WithMetric(const ChannelScales& scales, Work&& work)
{
    return scales.Even() ? work(EvenMetric{}) : work(ScaledMetric{scales});
}

template <typename Metric>
inline float ColourWeightOf(const FloatPixel& median, const HistogramItem& item, const Metric& metric)
{
    float difference = metric(median, item.colour);
    if (difference < 1.0f / 65536.0f)
        difference *= 0.5f;
    return static_cast<float>(std::sqrt(difference) * (std::sqrt(item.adjustedWeight + 1.0) - 1.0));
}

// 65535 * value truncated towards zero; defined (saturated) for values outside 0..1 too, which
// valid premultiplied colours never produce.
inline std::uint32_t SortUnits(double value)
{
    const double scaled = 65535.0 * value;
    if (!(scaled > 0.0))
        return 0;
    if (scaled >= 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(scaled);
}

// Descending sortValue; a function object so that the selections inline it.
struct RanksBefore
{
    bool operator()(const HistogramItem& x, const HistogramItem& y) const
    {
        return x.sortValue > y.sortValue;
    }
};

// The key of a three-way partition pivot for items[0, count).
std::uint32_t PivotKey(const HistogramItem* items, std::uint32_t count)
{
    if (count > 31) {
        std::uint32_t x = items[8].sortValue, y = items[count / 2].sortValue, z = items[count - 1].sortValue;
        if (x > y)
            std::swap(x, y);
        if (y > z)
            std::swap(y, z);
        return std::max(x, y);
    }
    return items[count > 7 ? count / 2 : 0].sortValue;
}

// Rearranges items[low, count) so that those ranking before the split item, and the split item
// itself, come first, ranking by descending sortValue; the split item is the first after which the
// running colour weight exceeds `half`. items[0, low) already rank before the rest and weigh
// `before`. Returns the size of the first part counted from items[0], or `count` when the running
// weight never exceeds half. A weighted quickselect: each round partitions the open range into
// greater, equal and smaller keys and keeps only the group the crossing lies in, so a split costs
// time linear in the box.
// The groups of a three-way partition of items[low, high): keys above the pivot in [low,
// greaterEnd), equal keys in [greaterEnd, smallerBegin), smaller keys from smallerBegin on.
struct ThreeWaySplit
{
    std::uint32_t greaterEnd;
    std::uint32_t smallerBegin;
};

// Partitions items[low, high) around the key `pivot`, calling seen(item, isGreater) for every item
// whose key is greater than or equal to it, in the order they are met. One routine for both
// quickselects, so that they arrange the items alike.
template <class Seen>
ThreeWaySplit PartitionThreeWay(HistogramItem* items, std::uint32_t low, std::uint32_t high,
                                std::uint32_t pivot, const Seen& seen)
{
    std::uint32_t greaterEnd = low, i = low, smallerBegin = high;
    while (i < smallerBegin) {
        const std::uint32_t key = items[i].sortValue;
        if (key > pivot) {
            seen(items[i], true);
            if (greaterEnd != i)
                std::swap(items[greaterEnd], items[i]);
            ++greaterEnd;
            ++i;
        } else if (key < pivot) {
            std::swap(items[i], items[--smallerBegin]);
        } else {
            seen(items[i], false);
            ++i;
        }
    }
    return {greaterEnd, smallerBegin};
}

std::uint32_t SelectByWeight(HistogramItem* items, std::uint32_t count, std::uint32_t low, double before,
                             double half)
{
    std::uint32_t high = count;
    while (low < high) {
        double greater = 0.0, equal = 0.0;
        const auto [greaterEnd, smallerBegin] =
            PartitionThreeWay(items, low, high, PivotKey(items + low, high - low),
                              [&greater, &equal](const HistogramItem& item, bool isGreater) {
                                  (isGreater ? greater : equal) += item.colourWeight;
                              });
        if (before + greater > half) {
            high = greaterEnd; // never empty here: the pivot's own group is left out
            continue;
        }
        if (before + greater + equal > half) {
            // Equal keys have no fixed order among themselves: walk them as they lie.
            double running = before + greater;
            for (std::uint32_t j = greaterEnd; j < smallerBegin; ++j) {
                running += items[j].colourWeight;
                if (running > half)
                    return j + 1;
            }
            return smallerBegin;
        }
        before += greater + equal;
        low = smallerBegin;
    }
    return count;
}

// Rearranges items[0, count) so that items[m] is the item of rank m by descending sortValue, every
// item before it ranks before it or with it, and every item after it ranks after it or with it:
// std::nth_element's contract. Our own three-way quickselect rather than the standard library's,
// whose arrangement of the items (and, among equal keys, its choice of items[m]) differs from one
// library to the next; the arrangement decides the median colour and the order of later sums, so
// the same image gives the same palette with every compiler, the WebAssembly build's included.
void SelectRank(HistogramItem* items, std::uint32_t count, std::uint32_t m)
{
    std::uint32_t low = 0, high = count;
    while (high - low > 1) {
        const auto [greaterEnd, smallerBegin] = PartitionThreeWay(
            items, low, high, PivotKey(items + low, high - low), [](const HistogramItem&, bool) {});
        if (m < greaterEnd)
            high = greaterEnd;
        else if (m >= smallerBegin)
            low = smallerBegin;
        else
            return; // items[m] has the pivot's key, as do its neighbours up to the other groups
    }
}

double AdjustedWeightSum(const HistogramItem* items, std::uint32_t n)
{
    double sum = 0.0;
    for (std::uint32_t i = 0; i < n; ++i)
        sum += items[i].adjustedWeight;
    return sum;
}

void BoxSpread(ColourBox& box, const HistogramItem* boxItems);

// `boxItems` holds the box's own items, wherever they lie: in the histogram or in a copy of a range.
void SetUpBox(ColourBox& box, std::uint32_t firstItem, std::uint32_t itemCount, double totalWeight,
              const HistogramItem* boxItems, float minOpacity)
{
    box.firstItem = firstItem;
    box.itemCount = itemCount;
    box.totalWeight = totalWeight;
    box.colour = BoxAverage(boxItems, itemCount, minOpacity);
    box.cachedError = -1.0;
    BoxSpread(box, boxItems);
}

// The items of box i, in the histogram or, while splits are made ahead, in the scratch.
const HistogramItem* ItemsOf(const ColourBox* boxes, std::uint32_t i, const Histogram& histogram,
                             const BoxSides* sides)
{
    const HistogramItem* base = sides && sides->inScratch[i] ? sides->scratch : histogram.items.get();
    return base + boxes[i].firstItem;
}

double BoxError(const ColourBox& box, const HistogramItem* items, const ChannelScales& scales)
{
    return WithMetric(scales, [&](const auto& metric) {
        double error = 0.0;
        for (std::uint32_t i = 0; i < box.itemCount; ++i)
            error += metric(box.colour, items[i].colour) * items[i].perceptualWeight;
        return error;
    });
}

} // namespace

namespace {

// A box average's sums in FloatPixel order a, r, g, b, and the largest alpha seen.
struct AverageSums
{
    double weight = 0.0;
    double channel[4] = {0.0, 0.0, 0.0, 0.0};
    float maxAlpha = 0.0f;
};

// The weight of one item in its box's average: colours far from mid-grey weigh more, so a box's
// representative keeps its extremes.
inline double AverageWeight(const HistogramItem& item)
{
    const double dr = 0.5f - item.colour.r;
    const double dg = 0.5f - item.colour.g;
    const double db = 0.5f - item.colour.b;
    return item.adjustedWeight * (1.0 + dr * dr + dg * dg + db * db);
}

AverageSums AverageSumsScalar(const HistogramItem* items, std::uint32_t n)
{
    AverageSums sums;
    double sumWeight = 0.0, sumA = 0.0, sumR = 0.0, sumG = 0.0, sumB = 0.0;
    float maxAlpha = 0.0f;
    for (std::uint32_t i = 0; i < n; ++i) {
        const HistogramItem& item = items[i];
        const double w = AverageWeight(item);
        sumWeight += w;
        sumA += w * item.colour.a;
        sumR += w * item.colour.r;
        sumG += w * item.colour.g;
        sumB += w * item.colour.b;
        maxAlpha = std::max(maxAlpha, item.colour.a);
    }
    sums.weight = sumWeight;
    sums.channel[0] = sumA;
    sums.channel[1] = sumR;
    sums.channel[2] = sumG;
    sums.channel[3] = sumB;
    sums.maxAlpha = maxAlpha;
    return sums;
}

#if defined(__SSE2__)
// The same sums, two channels per double operation. Each channel still adds its own products in
// item order, so every sum is bit for bit the scalar one.
AverageSums AverageSumsSse2(const HistogramItem* items, std::uint32_t n)
{
    double sumWeight = 0.0;
    float maxAlpha = 0.0f;
    __m128d sumAR = _mm_setzero_pd(), sumGB = _mm_setzero_pd();
    for (std::uint32_t i = 0; i < n; ++i) {
        const HistogramItem& item = items[i];
        const double w = AverageWeight(item);
        sumWeight += w;
        const __m128 colour = _mm_loadu_ps(&item.colour.a);
        const __m128d weight = _mm_set1_pd(w);
        sumAR = _mm_add_pd(sumAR, _mm_mul_pd(weight, _mm_cvtps_pd(colour)));
        sumGB = _mm_add_pd(sumGB, _mm_mul_pd(weight, _mm_cvtps_pd(_mm_movehl_ps(colour, colour))));
        maxAlpha = std::max(maxAlpha, item.colour.a);
    }
    AverageSums sums;
    sums.weight = sumWeight;
    _mm_storeu_pd(sums.channel, sumAR);
    _mm_storeu_pd(sums.channel + 2, sumGB);
    sums.maxAlpha = maxAlpha;
    return sums;
}
#endif

} // namespace

FloatPixel BoxAverage(const HistogramItem* items, std::uint32_t n, float minOpacity)
{
#if defined(__SSE2__)
    const AverageSums sums = ProcessorHasSse2 ? AverageSumsSse2(items, n) : AverageSumsScalar(items, n);
#else
    const AverageSums sums = AverageSumsScalar(items, n);
#endif
    const double sumWeight = sums.weight, sumA = sums.channel[0], sumR = sums.channel[1],
                 sumG = sums.channel[2], sumB = sums.channel[3];
    const float maxAlpha = sums.maxAlpha;
    // A weightless box averages to its plain sums (zero) instead of dividing by nothing.
    const double divisor = (sumWeight > -1e-6 && sumWeight < 1e-6) ? 1.0 : sumWeight;
    FloatPixel average{static_cast<float>(sumA / divisor), static_cast<float>(sumR / divisor),
                       static_cast<float>(sumG / divisor), static_cast<float>(sumB / divisor)};
    if (average.a >= minOpacity && maxAlpha >= NearlyOpaque)
        average.a = 1.0f;
    return average;
}

namespace {

constexpr double TinyAlpha = 1.0 / 16384.0;
constexpr double TinyColour = 1.0 / 65536.0;

void SpreadSumsScalar(const FloatPixel& centre, const HistogramItem* items, std::uint32_t n, double* sums)
{
    double sumA = 0.0, sumR = 0.0, sumG = 0.0, sumB = 0.0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const HistogramItem& item = items[i];
        sumA += Spread(centre.a, item.colour.a, TinyAlpha) * item.adjustedWeight;
        sumR += Spread(centre.r, item.colour.r, TinyColour) * item.adjustedWeight;
        sumG += Spread(centre.g, item.colour.g, TinyColour) * item.adjustedWeight;
        sumB += Spread(centre.b, item.colour.b, TinyColour) * item.adjustedWeight;
    }
    sums[0] = sumA;
    sums[1] = sumR;
    sums[2] = sumG;
    sums[3] = sumB;
}

#if defined(__SSE2__)
// Spread's arithmetic for all four channels: the difference in float, its square in double,
// halved below the channel's tiny limit; each channel sums in item order as the scalar form does.
void SpreadSumsSse2(const FloatPixel& centre, const HistogramItem* items, std::uint32_t n, double* sums)
{
    const __m128 centres = _mm_loadu_ps(&centre.a);
    const __m128d tinyAR = _mm_setr_pd(TinyAlpha, TinyColour);
    const __m128d tinyGB = _mm_set1_pd(TinyColour);
    const __m128d half = _mm_set1_pd(0.5);
    const auto spread = [half](__m128d d, __m128d tiny) {
        const __m128d squared = _mm_mul_pd(d, d);
        const __m128d small = _mm_cmplt_pd(squared, tiny);
        return _mm_or_pd(_mm_and_pd(small, _mm_mul_pd(squared, half)), _mm_andnot_pd(small, squared));
    };
    __m128d sumAR = _mm_setzero_pd(), sumGB = _mm_setzero_pd();
    for (std::uint32_t i = 0; i < n; ++i) {
        const HistogramItem& item = items[i];
        const __m128 d = _mm_sub_ps(centres, _mm_loadu_ps(&item.colour.a));
        const __m128d weight = _mm_set1_pd(item.adjustedWeight);
        sumAR = _mm_add_pd(sumAR, _mm_mul_pd(spread(_mm_cvtps_pd(d), tinyAR), weight));
        sumGB = _mm_add_pd(sumGB, _mm_mul_pd(spread(_mm_cvtps_pd(_mm_movehl_ps(d, d)), tinyGB), weight));
    }
    _mm_storeu_pd(sums, sumAR);
    _mm_storeu_pd(sums + 2, sumGB);
}
#endif

} // namespace

void BoxVariance(ColourBox& box, const HistogramItem* allItems)
{
    BoxSpread(box, allItems + box.firstItem);
}

namespace {

void BoxSpread(ColourBox& box, const HistogramItem* items)
{
    double sums[4];
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        SpreadSumsSse2(box.colour, items, box.itemCount, sums);
    else
#endif
        SpreadSumsScalar(box.colour, items, box.itemCount, sums);
    const double sumA = sums[0], sumR = sums[1], sumG = sums[2], sumB = sums[3];
    // Per-channel scales: green counts most and alpha least.
    box.variance[0] = static_cast<float>(sumA * 0.25);
    box.variance[1] = static_cast<float>(sumR * 0.4375);
    box.variance[2] = static_cast<float>(sumG * 0.5625);
    box.variance[3] = static_cast<float>(sumB * 0.3125);
}

} // namespace

double SplitScore(const ColourBox& box)
{
    const float spread =
        std::max(std::max(box.variance[0], box.variance[1]), std::max(box.variance[2], box.variance[3]));
    return box.totalWeight * spread;
}

int ChooseBoxToSplit(const ColourBox* boxes, std::uint32_t n)
{
    int best = -1;
    double bestScore = 0.0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const ColourBox& box = boxes[i];
        if (box.itemCount <= 1)
            continue;
        const double score = SplitScore(box);
        // Strictly greater: the first of equal scores wins, and a score of 0 (or NaN) never does.
        if (score > bestScore) {
            bestScore = score;
            best = static_cast<int>(i);
        }
    }
    return best;
}

namespace {

// Boxes smaller than this are split by one thread: handing half a pass over costs about as much.
constexpr std::uint32_t MinItemsShared = 8192;

// Runs task(begin, end) over [0, count), in two halves side by side when a pair is given. Only for
// passes in which every item's result is its own.
template <class Task>
void ForEachItem(WorkPair* pair, std::uint32_t count, const Task& task)
{
    if (!pair) {
        task(0u, count);
        return;
    }
    const std::uint32_t half = count / 2;
    auto first = [&] { task(0u, half); };
    auto second = [&] { task(half, count); };
    pair->Run(first, second);
}

} // namespace

BoxSplit SplitItems(const ColourBox& box, HistogramItem* items, float minOpacity, const ChannelScales& scales,
                    WorkPair* pair)
{
    const std::uint32_t count = box.itemCount;
    if (count < MinItemsShared)
        pair = nullptr;

    // Channels by descending spread; a stable sort keeps ties in channel order, so runs repeat.
    int order[4] = {0, 1, 2, 3};
    std::stable_sort(order, order + 4, [&box](int x, int y) { return box.variance[x] > box.variance[y]; });

    ForEachItem(pair, count, [items, &order](std::uint32_t begin, std::uint32_t end) {
        for (std::uint32_t i = begin; i < end; ++i) {
            const std::array<float, 4> v = Channels(items[i].colour);
            const double major = v[order[0]];
            const double minor = 0.5 * v[order[1]] + v[order[2]] + 0.25 * v[order[3]];
            // The minor term is not clamped to 16 bits: above 65535 it overlaps the major term's low bit.
            items[i].sortValue = (SortUnits(major) << 16) | SortUnits(minor);
        }
    });

    // Only the median rank (and its neighbour for an even count) needs to be in place.
    const std::uint32_t m = (count - 1) / 2;
    SelectRank(items, count, m);
    FloatPixel median;
    if (count % 2 == 1) {
        median = items[m].colour;
    } else {
        std::iter_swap(items + m + 1, std::min_element(items + m + 1, items + count, RanksBefore()));
        median = BoxAverage(items + m, 2, 1.0f);
    }

    // The median selection already split the box: items[0, front) rank before items[front, count),
    // so the split point search only needs to look into the half where the crossing lies.
    const std::uint32_t front = m + 1;
    ForEachItem(pair, count, [items, &median, &scales](std::uint32_t begin, std::uint32_t end) {
        WithMetric(scales, [&](const auto& metric) {
            for (std::uint32_t i = begin; i < end; ++i)
                items[i].colourWeight = ColourWeightOf(median, items[i], metric);
            return 0;
        });
    });
    // Summed in item order, apart from the weights, so that the sum is the same however they were made.
    double colourWeightSum = 0.0, frontWeight = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        colourWeightSum += items[i].colourWeight;
        if (i + 1 == front)
            frontWeight = colourWeightSum;
    }
    const double half = 0.5 * colourWeightSum;

    std::uint32_t firstPart = frontWeight > half ? SelectByWeight(items, front, 0, 0.0, half)
                                                 : SelectByWeight(items, count, front, frontWeight, half);
    if (firstPart >= count) {
        // The running weight crossed half only at the last rank, or never (every colour weight 0).
        // Either way the first part is everything but the last-ranked item, so that neither part
        // is empty.
        std::iter_swap(items + count - 1, std::max_element(items, items + count, RanksBefore()));
        firstPart = count - 1;
    }

    const double firstWeight = AdjustedWeightSum(items, firstPart);
    BoxSplit split;
    split.firstPart = firstPart;
    auto setUpSecond = [&] {
        SetUpBox(split.second, box.firstItem + firstPart, count - firstPart, box.totalWeight - firstWeight,
                 items + firstPart, minOpacity);
    };
    auto setUpFirst = [&] { SetUpBox(split.first, box.firstItem, firstPart, firstWeight, items, minOpacity); };
    if (pair) {
        pair->Run(setUpFirst, setUpSecond);
    } else {
        setUpSecond();
        setUpFirst();
    }
    return split;
}

std::uint32_t SplitBox(ColourBox* boxes, std::uint32_t k, std::uint32_t n, Histogram& histogram,
                       float minOpacity)
{
    const BoxSplit split =
        SplitItems(boxes[k], histogram.items.get() + boxes[k].firstItem, minOpacity, histogram.scales);
    boxes[k] = split.first;
    boxes[n] = split.second;
    return split.firstPart;
}

bool WithinTargetError(ColourBox* boxes, std::uint32_t n, double targetError, const Histogram& histogram,
                       const BoxSides* sides)
{
    const double limit = targetError * histogram.totalPerceptualWeight;
    double sum = 0.0;
    // Known errors first: they may settle the answer without computing anything.
    for (std::uint32_t i = 0; i < n; ++i) {
        if (boxes[i].cachedError >= 0.0) {
            sum += boxes[i].cachedError;
            if (sum > limit)
                return false;
        }
    }
    // Only the boxes the last split touched are new.
    for (std::uint32_t i = 0; i < n; ++i) {
        if (boxes[i].cachedError < 0.0) {
            boxes[i].cachedError = BoxError(boxes[i], ItemsOf(boxes, i, histogram, sides), histogram.scales);
            sum += boxes[i].cachedError;
            if (sum > limit)
                return false;
        }
    }
    return true;
}

Palette PaletteFromBoxes(const ColourBox* boxes, std::uint32_t n, const Histogram& histogram,
                         const BoxSides* sides)
{
    Palette palette = CreatePalette(n);
    palette.scales = histogram.scales;
    for (std::uint32_t i = 0; i < n; ++i) {
        const ColourBox& box = boxes[i];
        const HistogramItem* items = ItemsOf(boxes, i, histogram, sides);
        float popularity = 0.0f;
        for (std::uint32_t j = 0; j < box.itemCount; ++j)
            popularity += items[j].perceptualWeight;
        palette[i].colour = box.colour;
        palette[i].popularity = popularity;
    }
    return palette;
}

} // namespace detail

using detail::ColourBox;

namespace {

// One median cut; with a scratch, the splits the cut is likely to need next are prepared ahead on a
// second thread when one is allowed.
Palette CutIntoBoxes(Histogram& histogram, float minOpacity, std::uint32_t maxColours, double targetError,
                     const CancelFlag* cancel, detail::SplitScratch* scratch)
{
    if (maxColours < 1)
        maxColours = 1; // a palette always has at least one entry
    std::vector<ColourBox> boxes(maxColours);
    HistogramItem* const items = histogram.items.get();
    detail::SetUpBox(boxes[0], 0, histogram.size, detail::AdjustedWeightSum(items, histogram.size), items,
                     minOpacity);

    // The snapshot that places the nearest-index heads: about maxColours^0.7 boxes.
    const auto snapshotAt = static_cast<std::uint32_t>(std::ceil(powf(static_cast<float>(maxColours), 0.7f)));
    std::unique_ptr<Palette> snapshot;
    std::uint32_t n = 1;
    const auto cut = [&](auto&& split, auto&& forecast, const detail::BoxSides* sides) {
        while (n < maxColours) {
            if (CancelRequested(cancel))
                break;
            if (n == snapshotAt && !snapshot)
                snapshot = std::make_unique<Palette>(detail::PaletteFromBoxes(boxes.data(), n, histogram, sides));
            const int k = detail::ChooseBoxToSplit(boxes.data(), n);
            if (k < 0)
                break;
            split(static_cast<std::uint32_t>(k), n);
            ++n;
            forecast(n);
            if (detail::WithinTargetError(boxes.data(), n, targetError, histogram, sides))
                break;
        }
    };

    if (scratch && detail::SplitAheadPays(histogram.size, maxColours)) {
        detail::SplitAhead ahead(boxes.data(), maxColours, items, *scratch, minOpacity, histogram.scales);
        std::exception_ptr failure;
        // The whole team, not two of it: a region of another size would make the runtime retire
        // and start threads again between this stage and the parallel loops around it.
#pragma omp parallel
        {
            if (ThreadIndex() == 0) {
                // Nothing may leave a parallel region by an exception: carry it out.
                try {
                    const detail::BoxSides sides = ahead.Sides();
                    cut([&ahead](std::uint32_t k, std::uint32_t next) { ahead.Split(k, next); },
                        [&ahead](std::uint32_t count) { ahead.Forecast(count); }, &sides);
                } catch (...) {
                    failure = std::current_exception();
                }
                ahead.Finish();
            } else {
                ahead.Help();
            }
        }
        ahead.Gather(n);
        if (failure)
            std::rethrow_exception(failure);
    } else {
        cut([&](std::uint32_t k, std::uint32_t next) {
                detail::SplitBox(boxes.data(), k, next, histogram, minOpacity);
            },
            [](std::uint32_t) {}, nullptr);
    }

    Palette palette = detail::PaletteFromBoxes(boxes.data(), n, histogram);
    palette.subset = std::move(snapshot);

    // Raise the weight of colours their entry represents badly, so the next cut of the feedback
    // loop spends more boxes on them.
    for (std::uint32_t i = 0; i < n; ++i) {
        const ColourBox& box = boxes[i];
        HistogramItem* boxItems = items + box.firstItem;
        detail::WithMetric(histogram.scales, [&](const auto& metric) {
            for (std::uint32_t j = 0; j < box.itemCount; ++j) {
                const double difference = metric(palette[i].colour, boxItems[j].colour);
                boxItems[j].adjustedWeight =
                    static_cast<float>(boxItems[j].adjustedWeight * std::sqrt(difference * 0.5 + 1.0));
            }
            return 0;
        });
    }
    return palette;
}

// The scratch for splits made ahead, or none when they cannot pay or it cannot be had.
std::unique_ptr<detail::SplitScratch> ScratchFor(const Histogram& histogram, std::uint32_t maxColours)
{
    if (!detail::SplitAheadPays(histogram.size, maxColours))
        return nullptr;
    try {
        return std::make_unique<detail::SplitScratch>(detail::CreateSplitScratch(histogram.size));
    } catch (const std::bad_alloc&) {
        return nullptr; // the cut runs on one thread instead
    }
}

} // namespace

Palette MedianCut(Histogram& histogram, float minOpacity, std::uint32_t maxColours, double targetError,
                  const CancelFlag* cancel)
{
    const auto scratch = ScratchFor(histogram, maxColours);
    return CutIntoBoxes(histogram, minOpacity, maxColours, targetError, cancel, scratch.get());
}

void FeedbackReweight(HistogramItem& item, float difference)
{
    item.adjustedWeight = sqrtf(difference + 1.0f) * (item.adjustedWeight + item.perceptualWeight);
}

Palette MedianCutWithFeedback(Histogram& histogram, std::uint32_t maxColours, float minOpacity,
                              double targetError, int feedbackTrials, double* error, const CancelFlag* cancel)
{
    Palette best;
    bool haveBest = false;
    double bestError = 0.0;
    int trialsLeft = feedbackTrials;
    std::uint32_t colours = maxColours;
    double factor = feedbackTrials >= 1 ? 1.05 : 1.0;
    const auto scratch = ScratchFor(histogram, maxColours);

    do {
        if (CancelRequested(cancel))
            return haveBest ? std::move(best) : Palette{};
        Palette palette = CutIntoBoxes(histogram, minOpacity, colours, targetError * factor, cancel, scratch.get());
        // Least popular first: the nearest index tries its heads in this order.
        if (palette.subset) {
            Palette& subset = *palette.subset;
            std::stable_sort(
                subset.entries.get(), subset.entries.get() + subset.count,
                [](const PaletteEntry& x, const PaletteEntry& y) { return x.popularity < y.popularity; });
        }
        if (trialsLeft <= 0)
            return palette; // no trials asked for: one unscored cut

        // The first trial with a target error is scored as it is; every later one feeds back.
        const VoronoiHook hook = (!haveBest && targetError > 0.0) ? nullptr : FeedbackReweight;
        const double trialError = VoronoiIteration(histogram, palette, minOpacity, hook, cancel);

        if (haveBest) {
            const bool better =
                bestError > trialError || (trialError <= targetError && palette.count < colours);
            if (!better) {
                // A rejected trial is expensive, and a much worse one more so: the loop ends soon
                // once reweighting stops paying off.
                trialsLeft -= 6;
                if (trialError > 4.0 * bestError)
                    trialsLeft -= 3;
                factor = 1.0;
                continue;
            }
        }
        if (trialError > 0.0 && trialError < targetError)
            factor = std::min(factor * 1.25, targetError / trialError);
        colours = std::min(colours, palette.count + 1);
        best = std::move(palette);
        haveBest = true;
        bestError = trialError;
        --trialsLeft;
    } while (trialsLeft > 0);

    if (error)
        *error = bestError;
    return best;
}

} // namespace tessaline
