#include "engine/median_cut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/voronoi.h"
#include "tests/engine/palette_test_data.h"
#include "tests/engine/thread_count_scope.h"

namespace tessaline {
namespace {

using detail::ColourBox;
using testing::CopyHistogram;
using testing::EmptyHistogram;
using testing::RandomHistogram;
using testing::SetItem;
using testing::Sse2Scope;
using testing::ThreadCountScope;

using ItemKey = std::tuple<float, float, float, float, float>;

std::vector<ItemKey> ItemKeys(const Histogram& histogram)
{
    std::vector<ItemKey> keys;
    for (std::uint32_t i = 0; i < histogram.size; ++i) {
        const HistogramItem& item = histogram.items[i];
        keys.emplace_back(item.colour.a, item.colour.r, item.colour.g, item.colour.b, item.perceptualWeight);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// A box over items [first, first + count) set up the way a median cut sets up its boxes.
ColourBox MakeBox(const Histogram& histogram, std::uint32_t first, std::uint32_t count, float minOpacity)
{
    ColourBox box;
    box.firstItem = first;
    box.itemCount = count;
    for (std::uint32_t i = first; i < first + count; ++i)
        box.totalWeight += histogram.items[i].adjustedWeight;
    box.colour = detail::BoxAverage(histogram.items.get() + first, count, minOpacity);
    detail::BoxVariance(box, histogram.items.get());
    return box;
}

void ExpectValidPalette(const Palette& palette, std::uint32_t maxColours)
{
    ASSERT_GE(palette.count, 1u);
    ASSERT_LE(palette.count, maxColours);
    for (std::uint32_t i = 0; i < palette.count; ++i) {
        const FloatPixel& c = palette[i].colour;
        EXPECT_GE(c.a, 0.0f);
        EXPECT_LE(c.a, 1.0f);
        for (float channel : {c.r, c.g, c.b}) {
            EXPECT_GE(channel, 0.0f);
            EXPECT_LE(channel, 1.0f + 1e-6f);
        }
        EXPECT_FALSE(std::isnan(palette[i].popularity));
    }
}

// Three opaque items on the red axis, ranked A (0.9), B (0.5), C by the split's sort key; B is
// the median, so its colour weight is 0.
Histogram RedLine(float cRed)
{
    Histogram histogram = EmptyHistogram(3);
    SetItem(histogram, 0, FloatPixel{1.0f, cRed, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 1, FloatPixel{1.0f, 0.5f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 2, FloatPixel{1.0f, 0.9f, 0.0f, 0.0f}, 1.0f);
    return histogram;
}

std::vector<float> Reds(const Histogram& histogram, std::uint32_t first, std::uint32_t count)
{
    std::vector<float> reds;
    for (std::uint32_t i = first; i < first + count; ++i)
        reds.push_back(histogram.items[i].colour.r);
    std::sort(reds.begin(), reds.end());
    return reds;
}

TEST(MedianCutTest, BoxAverageWeighsExtremesAndSnapsOpaqueAlpha)
{
    Histogram histogram = EmptyHistogram(2);
    SetItem(histogram, 0, FloatPixel{1.0f, 0.5f, 0.5f, 0.5f}, 1.0f); // mid-grey: weight 1
    SetItem(histogram, 1, FloatPixel{1.0f, 0.0f, 0.0f, 0.0f}, 1.0f); // black: weight 1.75
    const FloatPixel average = detail::BoxAverage(histogram.items.get(), 2, 1.0f);
    EXPECT_FLOAT_EQ(average.r, 0.5f / 2.75f);
    EXPECT_EQ(average.a, 1.0f);

    // The average alpha reaches minOpacity but no item is opaque enough: it stays as averaged.
    Histogram translucent = EmptyHistogram(2);
    SetItem(translucent, 0, FloatPixel{0.99f, 0.0f, 0.0f, 0.0f}, 1.0f);
    SetItem(translucent, 1, FloatPixel{0.98f, 0.0f, 0.0f, 0.0f}, 1.0f);
    EXPECT_LT(detail::BoxAverage(translucent.items.get(), 2, 0.5f).a, 1.0f);
    // Weightless items divide by 1, not by 0.
    Histogram weightless = EmptyHistogram(2);
    SetItem(weightless, 0, FloatPixel{1.0f, 1.0f, 1.0f, 1.0f}, 0.0f);
    SetItem(weightless, 1, FloatPixel{1.0f, 0.2f, 0.2f, 0.2f}, 0.0f);
    const FloatPixel none = detail::BoxAverage(weightless.items.get(), 2, 1.0f);
    EXPECT_EQ(none.r, 0.0f);
    EXPECT_EQ(none.a, 0.0f);
}

TEST(MedianCutTest, VectorAndScalarBoxSumsAgreeBitForBit)
{
    // Near-identical colours put many spreads under the tiny limits, so both branches of the
    // halving are taken; odd starts and lengths leave nothing to alignment.
    Histogram histogram = RandomHistogram(3001, 41);
    for (std::uint32_t i = 0; i < histogram.size; i += 3)
        histogram.items[i].colour = histogram.items[0].colour;
    for (std::uint32_t i = 1; i < histogram.size; i += 7) {
        histogram.items[i].colour.r = histogram.items[0].colour.r + 1e-3f;
        histogram.items[i].colour.a = histogram.items[0].colour.a + 5e-3f;
    }
    for (const auto& [first, count] : {std::pair{0u, 3001u}, std::pair{1u, 2999u}, std::pair{17u, 5u},
                                      std::pair{2u, 1u}, std::pair{5u, 0u}}) {
        SCOPED_TRACE(first);
        SCOPED_TRACE(count);
        ColourBox scalar, vector;
        {
            Sse2Scope scope(false);
            scalar = MakeBox(histogram, first, count, 0.9f);
        }
        {
            Sse2Scope scope(true);
            vector = MakeBox(histogram, first, count, 0.9f);
        }
        EXPECT_EQ(std::memcmp(&scalar.colour, &vector.colour, sizeof(FloatPixel)), 0);
        EXPECT_EQ(std::memcmp(scalar.variance, vector.variance, sizeof scalar.variance), 0);
    }
}

TEST(MedianCutTest, ChooseBoxToSplitTakesTheFirstBestPositiveScore)
{
    ColourBox boxes[4];
    boxes[0].itemCount = 1; // a single item is never split, whatever its score
    boxes[0].totalWeight = 100.0;
    boxes[0].variance[1] = 1.0f;
    boxes[1].itemCount = 5;
    boxes[1].totalWeight = 2.0;
    boxes[1].variance[2] = 0.5f;
    boxes[2].itemCount = 3;
    boxes[2].totalWeight = 1.0;
    boxes[2].variance[0] = 1.0f; // same score as box 1: box 1 wins
    boxes[3].itemCount = 9;      // no spread: score 0
    boxes[3].totalWeight = 50.0;
    EXPECT_EQ(detail::ChooseBoxToSplit(boxes, 4), 1);
    EXPECT_EQ(detail::ChooseBoxToSplit(boxes + 2, 2), 0);
    EXPECT_EQ(detail::ChooseBoxToSplit(boxes + 3, 1), -1);
    EXPECT_EQ(detail::ChooseBoxToSplit(boxes, 1), -1);
}

TEST(MedianCutTest, SplitCrossingAtTheLastRankLeavesTheLastItemAlone)
{
    // A is nearer the median than C: the running weight first passes half at C, the last rank.
    Histogram histogram = RedLine(0.0f);
    ColourBox boxes[2] = {MakeBox(histogram, 0, 3, 1.0f), {}};
    EXPECT_EQ(detail::SplitBox(boxes, 0, 1, histogram, 1.0f), 2u);
    EXPECT_EQ(Reds(histogram, 0, 2), (std::vector<float>{0.5f, 0.9f}));
    EXPECT_EQ(Reds(histogram, 2, 1), (std::vector<float>{0.0f}));
    EXPECT_EQ(boxes[0].itemCount, 2u);
    EXPECT_EQ(boxes[1].firstItem, 2u);
    EXPECT_EQ(boxes[1].itemCount, 1u);
    EXPECT_DOUBLE_EQ(boxes[0].totalWeight, 2.0);
    EXPECT_DOUBLE_EQ(boxes[1].totalWeight, 1.0);
    EXPECT_EQ(boxes[0].cachedError, -1.0);
    EXPECT_EQ(boxes[1].cachedError, -1.0);
    EXPECT_EQ(boxes[1].colour.r, 0.0f);
}

TEST(MedianCutTest, SplitCrossingAtTheFirstRankTakesOnlyIt)
{
    // Now A is farther from the median than C: its weight alone passes half.
    Histogram histogram = RedLine(0.3f);
    ColourBox boxes[2] = {MakeBox(histogram, 0, 3, 1.0f), {}};
    EXPECT_EQ(detail::SplitBox(boxes, 0, 1, histogram, 1.0f), 1u);
    EXPECT_EQ(Reds(histogram, 0, 1), (std::vector<float>{0.9f}));
    EXPECT_EQ(Reds(histogram, 1, 2), (std::vector<float>{0.3f, 0.5f}));
}

TEST(MedianCutTest, TwoItemBoxAlwaysSplitsOneAndOne)
{
    for (float firstWeight : {0.25f, 4.0f}) {
        Histogram histogram = EmptyHistogram(2);
        SetItem(histogram, 0, FloatPixel{1.0f, 0.1f, 0.2f, 0.3f}, 1.0f);
        SetItem(histogram, 1, FloatPixel{1.0f, 0.8f, 0.2f, 0.3f}, firstWeight);
        ColourBox boxes[2] = {MakeBox(histogram, 0, 2, 1.0f), {}};
        EXPECT_EQ(detail::SplitBox(boxes, 0, 1, histogram, 1.0f), 1u);
        // The higher-ranked item (more red) comes first.
        EXPECT_EQ(histogram.items[0].colour.r, 0.8f);
        EXPECT_EQ(boxes[1].itemCount, 1u);
    }
}

TEST(MedianCutTest, SplitOfWeightlessItemsPutsAllButTheLastFirst)
{
    Histogram histogram = EmptyHistogram(5);
    for (std::uint32_t i = 0; i < 5; ++i)
        SetItem(histogram, i, FloatPixel{1.0f, 0.1f * float(i + 1), 0.5f, 0.5f}, 0.0f);
    ColourBox boxes[2] = {MakeBox(histogram, 0, 5, 1.0f), {}};
    boxes[0].variance[1] = 1.0f; // weightless boxes have no spread; force a channel order
    EXPECT_EQ(detail::SplitBox(boxes, 0, 1, histogram, 1.0f), 4u);
    EXPECT_FLOAT_EQ(histogram.items[4].colour.r, 0.1f); // the lowest key ranks last
    EXPECT_EQ(boxes[1].itemCount, 1u);
}

TEST(MedianCutTest, SplitMatchesASortedWalkOnLargeBoxes)
{
    for (std::uint32_t size : {9u, 40u, 1000u, 20001u}) {
        SCOPED_TRACE(size);
        Histogram histogram = RandomHistogram(size, size * 3 + 1);
        std::mt19937 random(size);
        for (std::uint32_t i = 0; i < size; ++i)
            histogram.items[i].adjustedWeight = std::uniform_real_distribution<float>(0.0f, 5.0f)(random);
        const auto before = ItemKeys(histogram);
        ColourBox boxes[2] = {MakeBox(histogram, 0, size, 0.9f), {}};
        const double total = boxes[0].totalWeight;
        const std::uint32_t firstPart = detail::SplitBox(boxes, 0, 1, histogram, 0.9f);
        ASSERT_GE(firstPart, 1u);
        ASSERT_LT(firstPart, size);
        EXPECT_EQ(ItemKeys(histogram), before) << "the split must only reorder the items";

        // The first part ranks entirely before the second.
        std::uint32_t lowestFirst = 0xFFFFFFFFu, highestSecond = 0;
        for (std::uint32_t i = 0; i < firstPart; ++i)
            lowestFirst = std::min(lowestFirst, histogram.items[i].sortValue);
        for (std::uint32_t i = firstPart; i < size; ++i)
            highestSecond = std::max(highestSecond, histogram.items[i].sortValue);
        EXPECT_GE(lowestFirst, highestSecond);

        // And it ends where a walk over the fully sorted items first passes half.
        std::vector<HistogramItem> sorted(histogram.items.get(), histogram.items.get() + size);
        std::stable_sort(sorted.begin(), sorted.end(), [](const HistogramItem& x, const HistogramItem& y) {
            return x.sortValue > y.sortValue;
        });
        double half = 0.0;
        for (const HistogramItem& item : sorted)
            half += item.colourWeight;
        half *= 0.5;
        double running = 0.0;
        std::uint32_t expected = size - 1;
        for (std::uint32_t i = 0; i < size; ++i) {
            running += sorted[i].colourWeight;
            if (running > half) {
                expected = std::min(i + 1, size - 1);
                break;
            }
        }
        EXPECT_EQ(firstPart, expected);
        EXPECT_NEAR(boxes[0].totalWeight + boxes[1].totalWeight, total, 1e-9 * total);
        EXPECT_EQ(boxes[0].itemCount + boxes[1].itemCount, size);
    }
}

TEST(MedianCutTest, WithinTargetErrorCachesBoxErrors)
{
    Histogram histogram = EmptyHistogram(4);
    SetItem(histogram, 0, FloatPixel{1.0f, 0.0f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 1, FloatPixel{1.0f, 0.5f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 2, FloatPixel{1.0f, 1.0f, 1.0f, 1.0f}, 2.0f);
    SetItem(histogram, 3, FloatPixel{1.0f, 1.0f, 1.0f, 1.0f}, 2.0f);
    ColourBox boxes[2] = {MakeBox(histogram, 0, 2, 1.0f), MakeBox(histogram, 2, 2, 1.0f)};
    boxes[0].colour = FloatPixel{1.0f, 0.25f, 0.0f, 0.0f};
    // Box errors: 2 * 0.0625 = 0.125 and 0; the total weight is 6.
    EXPECT_FALSE(detail::WithinTargetError(boxes, 2, 0.0, histogram));
    EXPECT_DOUBLE_EQ(boxes[0].cachedError, 0.125);
    EXPECT_EQ(boxes[1].cachedError, -1.0) << "the test stops at the first box past the limit";
    EXPECT_TRUE(detail::WithinTargetError(boxes, 2, 0.125 / 6.0, histogram));
    EXPECT_EQ(boxes[1].cachedError, 0.0);
    // A cached value is trusted, not recomputed.
    boxes[0].cachedError = 100.0;
    EXPECT_FALSE(detail::WithinTargetError(boxes, 2, 1.0, histogram));
}

TEST(MedianCutTest, OneColourGivesTheAverageWithoutSubset)
{
    Histogram histogram = RandomHistogram(500, 5);
    const FloatPixel expected = detail::BoxAverage(histogram.items.get(), 500, 1.0f);
    const auto before = ItemKeys(histogram);
    Palette palette = MedianCut(histogram, 1.0f, 1, 0.0);
    ASSERT_EQ(palette.count, 1u);
    EXPECT_EQ(palette.subset, nullptr);
    EXPECT_EQ(palette[0].colour.r, expected.r);
    EXPECT_EQ(palette[0].colour.a, expected.a);
    EXPECT_NEAR(palette[0].popularity, histogram.totalPerceptualWeight,
                1e-3 * histogram.totalPerceptualWeight);
    EXPECT_EQ(ItemKeys(histogram), before);
}

TEST(MedianCutTest, SubsetSnapshotAppearsOnlyForEnoughColours)
{
    {
        Histogram histogram = RandomHistogram(3000, 6);
        Palette palette = MedianCut(histogram, 1.0f, 2, 0.0);
        EXPECT_EQ(palette.count, 2u);
        EXPECT_EQ(palette.subset, nullptr);
    }
    {
        Histogram histogram = RandomHistogram(3000, 7);
        Palette palette = MedianCut(histogram, 1.0f, 3, 0.0);
        EXPECT_EQ(palette.count, 3u);
        EXPECT_EQ(palette.subset, nullptr);
    }
    for (auto [colours, snapshot] : {std::pair{256u, 49u}, {128u, 30u}, {16u, 7u}, {4u, 3u}}) {
        SCOPED_TRACE(colours);
        Histogram histogram = RandomHistogram(8000, colours);
        Palette palette = MedianCut(histogram, 1.0f, colours, 0.0);
        ExpectValidPalette(palette, colours);
        EXPECT_EQ(palette.count, colours);
        ASSERT_NE(palette.subset, nullptr);
        EXPECT_EQ(palette.subset->count, snapshot);
    }
}

TEST(MedianCutTest, RunReordersAndReweightsButKeepsEveryItem)
{
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        Sse2Scope scope(sse2);
        Histogram histogram = RandomHistogram(5000, 8);
        const auto before = ItemKeys(histogram);
        Palette palette = MedianCut(histogram, 0.8f, 64, 0.0);
        ExpectValidPalette(palette, 64);
        EXPECT_EQ(ItemKeys(histogram), before);
        double popularity = 0.0;
        for (std::uint32_t i = 0; i < palette.count; ++i)
            popularity += palette[i].popularity;
        EXPECT_NEAR(popularity, histogram.totalPerceptualWeight, 1e-4 * histogram.totalPerceptualWeight);
        // The closing reweighting only ever raises the adjusted weight.
        for (std::uint32_t i = 0; i < histogram.size; ++i)
            EXPECT_GE(histogram.items[i].adjustedWeight, histogram.items[i].perceptualWeight);
    }
}

TEST(MedianCutTest, DistinctColoursSplitDownToSingleItems)
{
    Histogram histogram = RandomHistogram(40, 9);
    Palette palette = MedianCut(histogram, 1.0f, 64, 0.0);
    EXPECT_EQ(palette.count, 40u);
}

TEST(MedianCutTest, FewerDistinctColoursThanAskedGiveFewerEntries)
{
    Histogram histogram = RandomHistogram(10, 10);
    Palette palette = MedianCut(histogram, 1.0f, 256, 0.0);
    EXPECT_EQ(palette.count, 10u);

    // Items of one colour have no spread: nothing to split.
    Histogram same = EmptyHistogram(50);
    for (std::uint32_t i = 0; i < same.size; ++i)
        SetItem(same, i, FloatPixel{1.0f, 0.25f, 0.5f, 0.75f}, 1.0f + i % 3);
    Palette one = MedianCut(same, 1.0f, 256, 0.0);
    ASSERT_EQ(one.count, 1u);
    EXPECT_EQ(one[0].colour.g, 0.5f);
}

TEST(MedianCutTest, PositiveTargetErrorStopsEarly)
{
    Histogram histogram = RandomHistogram(5000, 11);
    Palette palette = MedianCut(histogram, 1.0f, 256, 0.05);
    EXPECT_LT(palette.count, 256u);
    EXPECT_GE(palette.count, 2u);
}

TEST(MedianCutTest, FeedbackReweightFormula)
{
    HistogramItem item;
    item.adjustedWeight = 2.0f;
    item.perceptualWeight = 1.0f;
    FeedbackReweight(item, 3.0f);
    EXPECT_EQ(item.adjustedWeight, 6.0f);
    EXPECT_EQ(item.perceptualWeight, 1.0f);
}

TEST(MedianCutTest, NoTrialsRunsOneUnscoredCut)
{
    Histogram histogram = RandomHistogram(4000, 12);
    Histogram copy = CopyHistogram(histogram);
    double error = -1.0;
    Palette palette = MedianCutWithFeedback(histogram, 32, 1.0f, 0.01, 0, &error);
    EXPECT_EQ(error, -1.0);
    Palette expected = MedianCut(copy, 1.0f, 32, 0.01);
    ASSERT_EQ(palette.count, expected.count);
    for (std::uint32_t i = 0; i < palette.count; ++i)
        EXPECT_EQ(palette[i].colour.r, expected[i].colour.r);
    // No Voronoi step ran: popularities are still the boxes' weights.
    for (std::uint32_t i = 0; i < histogram.size; ++i)
        EXPECT_EQ(histogram.items[i].adjustedWeight, copy.items[i].adjustedWeight);
}

TEST(MedianCutTest, OneTrialIsScoredWithTheHookOnlyWithoutTarget)
{
    for (double target : {0.0, 0.01}) {
        SCOPED_TRACE(target);
        Histogram histogram = RandomHistogram(4000, 13);
        Histogram copy = CopyHistogram(histogram);
        double error = -1.0;
        Palette palette = MedianCutWithFeedback(histogram, 32, 1.0f, target, 1, &error);

        Palette expected = MedianCut(copy, 1.0f, 32, target * 1.05);
        if (expected.subset)
            std::stable_sort(
                expected.subset->entries.get(), expected.subset->entries.get() + expected.subset->count,
                [](const PaletteEntry& x, const PaletteEntry& y) { return x.popularity < y.popularity; });
        const double expectedError =
            VoronoiIteration(copy, expected, 1.0f, target > 0.0 ? nullptr : FeedbackReweight);
        EXPECT_EQ(error, expectedError);
        EXPECT_GT(error, 0.0);
        ASSERT_EQ(palette.count, expected.count);
        for (std::uint32_t i = 0; i < palette.count; ++i) {
            EXPECT_EQ(palette[i].colour.g, expected[i].colour.g);
            EXPECT_EQ(palette[i].popularity, expected[i].popularity);
        }
        for (std::uint32_t i = 0; i < histogram.size; ++i)
            ASSERT_EQ(histogram.items[i].adjustedWeight, copy.items[i].adjustedWeight);
    }
}

TEST(MedianCutTest, FeedbackLoopIsDeterministicAndNoWorseThanItsFirstTrial)
{
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        Sse2Scope scope(sse2);
        Histogram first = RandomHistogram(6000, 14);
        Histogram second = CopyHistogram(first);
        Histogram single = CopyHistogram(first);
        double firstError = -1.0, secondError = -1.0, singleError = -1.0;
        Palette a = MedianCutWithFeedback(first, 64, 0.9f, 0.0, 49, &firstError);
        Palette b = MedianCutWithFeedback(second, 64, 0.9f, 0.0, 49, &secondError);
        MedianCutWithFeedback(single, 64, 0.9f, 0.0, 1, &singleError);
        ExpectValidPalette(a, 64);
        EXPECT_EQ(firstError, secondError);
        ASSERT_EQ(a.count, b.count);
        for (std::uint32_t i = 0; i < a.count; ++i) {
            EXPECT_EQ(a[i].colour.a, b[i].colour.a);
            EXPECT_EQ(a[i].colour.r, b[i].colour.r);
            EXPECT_EQ(a[i].colour.b, b[i].colour.b);
        }
        EXPECT_LE(firstError, singleError);
        EXPECT_GT(firstError, 0.0);
    }
}

// Splits prepared ahead by one helper or several must leave exactly what one thread leaves: the
// palette, its error and every histogram item in the same place with the same bytes.
TEST(MedianCutTest, SplitsPreparedAheadMatchOneThreadByteForByte)
{
    struct Case
    {
        std::uint32_t items, colours;
        double targetError;
        int trials;
    };
    for (const Case& c : {Case{20000, 256, 0.0, 49}, Case{9000, 64, 0.004, 20}, Case{30000, 3, 0.0, 4}}) {
        SCOPED_TRACE(c.items);
        const Histogram original = RandomHistogram(c.items, c.items + c.colours);
        Histogram serial = CopyHistogram(original);
        double serialError = -1.0;
        Palette expected;
        {
            ThreadCountScope one(1);
            expected = MedianCutWithFeedback(serial, c.colours, 0.9f, c.targetError, c.trials, &serialError);
        }
        for (int threads : {2, 4}) {
            SCOPED_TRACE(threads);
            Histogram ahead = CopyHistogram(original);
            double aheadError = -1.0;
            Palette actual;
            {
                ThreadCountScope team(threads);
                actual = MedianCutWithFeedback(ahead, c.colours, 0.9f, c.targetError, c.trials, &aheadError);
            }
            EXPECT_EQ(serialError, aheadError);
            ASSERT_EQ(expected.count, actual.count);
            EXPECT_EQ(0, std::memcmp(expected.entries.get(), actual.entries.get(),
                                     sizeof(PaletteEntry) * expected.count));
            ASSERT_EQ(expected.subset != nullptr, actual.subset != nullptr);
            if (expected.subset) {
                EXPECT_EQ(0, std::memcmp(expected.subset->entries.get(), actual.subset->entries.get(),
                                         sizeof(PaletteEntry) * expected.subset->count));
            }
            EXPECT_EQ(0, std::memcmp(serial.items.get(), ahead.items.get(), sizeof(HistogramItem) * c.items));
        }
    }
}

TEST(MedianCutTest, TargetErrorMetEarlyShrinksThePalette)
{
    Histogram histogram = RandomHistogram(3000, 15);
    double error = -1.0;
    Palette palette = MedianCutWithFeedback(histogram, 256, 1.0f, 0.02, 20, &error);
    ExpectValidPalette(palette, 256);
    EXPECT_LT(palette.count, 256u);
    EXPECT_GE(error, 0.0);
}

TEST(MedianCutTest, DegenerateHistogramsGiveOneSafeEntry)
{
    for (int trials : {0, 1, 49}) {
        SCOPED_TRACE(trials);
        {
            Histogram empty = EmptyHistogram(0);
            double error = -1.0;
            Palette palette = MedianCutWithFeedback(empty, 256, 1.0f, 0.0, trials, &error);
            ASSERT_EQ(palette.count, 1u);
            EXPECT_EQ(palette[0].colour.a, 0.0f);
            EXPECT_EQ(palette[0].colour.r, 0.0f);
            EXPECT_EQ(palette[0].popularity, 0.0f);
            EXPECT_EQ(error, trials >= 1 ? 0.0 : -1.0);
        }
        {
            Histogram transparent = EmptyHistogram(1);
            SetItem(transparent, 0, FloatPixel{}, 1000.0f);
            double error = -1.0;
            Palette palette = MedianCutWithFeedback(transparent, 256, 1.0f, 0.0, trials, &error);
            ASSERT_EQ(palette.count, 1u);
            EXPECT_EQ(palette[0].colour.a, 0.0f);
            EXPECT_EQ(palette[0].popularity, 1000.0f);
            if (trials >= 1) {
                EXPECT_EQ(error, 0.0);
            }
        }
        {
            Histogram weightless = EmptyHistogram(5000);
            for (std::uint32_t i = 0; i < weightless.size; ++i)
                SetItem(weightless, i, FloatPixel{1.0f, (i % 97) / 97.0f, (i % 13) / 13.0f, 0.5f}, 0.0f);
            double error = -1.0;
            Palette palette = MedianCutWithFeedback(weightless, 16, 1.0f, 0.0, trials, &error);
            ExpectValidPalette(palette, 16);
            EXPECT_FALSE(std::isnan(error));
        }
    }
    // A zero colour limit is read as one.
    Histogram histogram = RandomHistogram(100, 16);
    Palette palette = MedianCut(histogram, 1.0f, 0, 0.0);
    EXPECT_EQ(palette.count, 1u);
    double error = -1.0;
    Palette feedback = MedianCutWithFeedback(histogram, 0, 1.0f, 0.0, 3, nullptr);
    EXPECT_EQ(feedback.count, 1u);
    EXPECT_EQ(error, -1.0);
}

} // namespace
} // namespace tessaline
