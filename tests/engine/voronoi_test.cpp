#include "engine/voronoi.h"

#include <bit>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "engine/nearest_index.h"
#include "engine/parallel.h"
#include "tests/engine/palette_test_data.h"

namespace tessaline {
namespace {

using testing::CopyEntries;
using testing::CopyHistogram;
using testing::EmptyHistogram;
using testing::RandomHistogram;
using testing::RandomPalette;
using testing::SetItem;
using testing::Sse2Scope;

// Runs with a fixed OpenMP thread count and restores the previous one.
class ThreadCountScope
{
public:
    explicit ThreadCountScope(int threads) : saved(omp_get_max_threads()) { omp_set_num_threads(threads); }
    ~ThreadCountScope() { omp_set_num_threads(saved); }

private:
    int saved;
};

// The hook leaves a trace in the item's scratch fields: a visit count and the difference it saw.
void CountingHook(HistogramItem& item, float difference)
{
    item.colourWeight += 1.0f;
    item.sortValue = std::bit_cast<std::uint32_t>(difference);
}

// The error and means computed the slow, obvious way with one index over the palette as given.
struct SerialResult
{
    double error = 0.0;
    std::vector<FloatPixel> means;
    std::vector<double> weights;
};

SerialResult SerialIteration(const Histogram& histogram, const Palette& palette, float minOpacity)
{
    SerialResult result;
    result.means.assign(palette.count, FloatPixel{});
    result.weights.assign(palette.count, 0.0);
    std::vector<double> a(palette.count), r(palette.count), g(palette.count), b(palette.count);
    NearestIndex index = BuildNearestIndex(palette);
    double sum = 0.0;
    for (std::uint32_t i = 0; i < histogram.size; ++i) {
        const HistogramItem& item = histogram.items[i];
        float d = 0.0f;
        const std::uint32_t j = FindNearest(index, item.colour, minOpacity, &d);
        sum += d * item.perceptualWeight;
        const float w = item.perceptualWeight;
        a[j] += w * item.colour.a;
        r[j] += w * item.colour.r;
        g[j] += w * item.colour.g;
        b[j] += w * item.colour.b;
        result.weights[j] += w;
    }
    for (std::uint32_t j = 0; j < palette.count; ++j) {
        const double w = result.weights[j];
        result.means[j] = w != 0.0
                              ? FloatPixel{float(a[j] / w), float(r[j] / w), float(g[j] / w), float(b[j] / w)}
                              : palette[j].colour;
    }
    result.error = sum / histogram.totalPerceptualWeight;
    return result;
}

void ExpectNear(const FloatPixel& x, const FloatPixel& y, float tolerance)
{
    EXPECT_NEAR(x.a, y.a, tolerance);
    EXPECT_NEAR(x.r, y.r, tolerance);
    EXPECT_NEAR(x.g, y.g, tolerance);
    EXPECT_NEAR(x.b, y.b, tolerance);
}

TEST(VoronoiTest, AccumulatorsSumPerThreadAndApplyInThreadOrder)
{
    Palette palette = CreatePalette(2);
    palette[1].colour = FloatPixel{0.25f, 0.5f, 0.5f, 0.5f};
    PaletteAccumulators cells = CreateAccumulators(3, palette);
    ASSERT_EQ(cells.threads, 3);
    ASSERT_EQ(cells.count, 2u);
    Accumulate(cells, 0, 0, FloatPixel{1.0f, 1.0f, 0.0f, 0.0f}, 1.0f);
    Accumulate(cells, 2, 0, FloatPixel{1.0f, 0.0f, 1.0f, 0.0f}, 3.0f);
    EXPECT_EQ(cells.cells[2 * 2 + 0].sumG, 3.0);
    EXPECT_EQ(cells.cells[1 * 2 + 0].sumWeight, 0.0);
    ApplyAccumulators(palette, cells);
    EXPECT_EQ(palette[0].colour.a, 1.0f);
    EXPECT_EQ(palette[0].colour.r, 0.25f);
    EXPECT_EQ(palette[0].colour.g, 0.75f);
    EXPECT_EQ(palette[0].colour.b, 0.0f);
    EXPECT_EQ(palette[0].popularity, 4.0f);
    // No weight: the colour stays and the popularity becomes 0.
    EXPECT_EQ(palette[1].colour.a, 0.25f);
    EXPECT_EQ(palette[1].colour.r, 0.5f);
    EXPECT_EQ(palette[1].popularity, 0.0f);
}

TEST(VoronoiTest, MatchesASerialAssignmentAndKeepsPopularitiesWhole)
{
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        Sse2Scope scope(sse2);
        for (std::uint32_t size : {500u, 12000u}) {
            SCOPED_TRACE(size);
            Histogram histogram = RandomHistogram(size, size + 1);
            Palette palette = RandomPalette(64, 17);
            const SerialResult expected = SerialIteration(histogram, palette, 0.75f);
            const double error = VoronoiIteration(histogram, palette, 0.75f);
            EXPECT_NEAR(error, expected.error, 1e-9 * expected.error);
            double popularity = 0.0;
            for (std::uint32_t j = 0; j < palette.count; ++j) {
                ExpectNear(palette[j].colour, expected.means[j], 1e-6f);
                EXPECT_NEAR(palette[j].popularity, expected.weights[j], 1e-3);
                popularity += palette[j].popularity;
            }
            EXPECT_NEAR(popularity, histogram.totalPerceptualWeight, 1e-5 * histogram.totalPerceptualWeight);
        }
    }
}

TEST(VoronoiTest, OneThreadAndManyThreadsGiveTheSamePalette)
{
    Histogram histogram = RandomHistogram(20000, 4);
    Palette single = RandomPalette(128, 9);
    Palette many = CopyEntries(single);
    double singleError = 0.0, manyError = 0.0;
    {
        ThreadCountScope threads(1);
        singleError = VoronoiIteration(histogram, single, 1.0f);
    }
    {
        ThreadCountScope threads(4);
        manyError = VoronoiIteration(histogram, many, 1.0f);
    }
    EXPECT_NEAR(singleError, manyError, 1e-12 + 1e-9 * singleError);
    for (std::uint32_t j = 0; j < single.count; ++j) {
        ExpectNear(single[j].colour, many[j].colour, 1e-6f);
        EXPECT_NEAR(single[j].popularity, many[j].popularity, 1e-5 * (1.0 + single[j].popularity));
    }
}

TEST(VoronoiTest, RepeatedRunsAreIdentical)
{
    Histogram histogram = RandomHistogram(9000, 31);
    Palette first = RandomPalette(100, 32);
    Palette second = CopyEntries(first);
    EXPECT_EQ(VoronoiIteration(histogram, first, 0.5f), VoronoiIteration(histogram, second, 0.5f));
    for (std::uint32_t j = 0; j < first.count; ++j) {
        EXPECT_EQ(first[j].colour.r, second[j].colour.r);
        EXPECT_EQ(first[j].popularity, second[j].popularity);
    }
}

TEST(VoronoiTest, OnOneThreadTheLaneSearchGivesExactlyTheIndexAnswers)
{
    // One thread sums in item order, as the serial reference does, so every bit must agree: the
    // pass's lane search may not choose a different entry or report a different difference.
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        Sse2Scope scope(sse2);
        ThreadCountScope threads(1);
        for (std::uint32_t entries : {1u, 7u, 64u, 256u}) {
            SCOPED_TRACE(entries);
            Histogram histogram = RandomHistogram(6000, entries + 3);
            Palette palette = RandomPalette(entries, entries + 4);
            const SerialResult expected = SerialIteration(histogram, palette, 0.75f);
            const double error = VoronoiIteration(histogram, palette, 0.75f);
            EXPECT_EQ(error, expected.error);
            for (std::uint32_t j = 0; j < palette.count; ++j) {
                EXPECT_EQ(palette[j].colour.a, expected.means[j].a) << "entry " << j;
                EXPECT_EQ(palette[j].colour.r, expected.means[j].r) << "entry " << j;
                EXPECT_EQ(palette[j].colour.g, expected.means[j].g) << "entry " << j;
                EXPECT_EQ(palette[j].colour.b, expected.means[j].b) << "entry " << j;
                EXPECT_EQ(palette[j].popularity, static_cast<float>(expected.weights[j])) << "entry " << j;
            }
        }
    }
}

TEST(VoronoiTest, HookSeesEveryItemOnceWithTheDifferenceThatWasSummed)
{
    for (const bool sse2 : {false, true})
    for (std::uint32_t size : {1000u, 10000u}) { // serial and parallel loops
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        SCOPED_TRACE(size);
        Sse2Scope scope(sse2);
        Histogram histogram = RandomHistogram(size, 77);
        Palette palette = RandomPalette(40, 78);
        const Palette before = CopyEntries(palette);
        const double error = VoronoiIteration(histogram, palette, 0.6f, CountingHook);

        NearestIndex index = BuildNearestIndex(before);
        double sum = 0.0;
        for (std::uint32_t i = 0; i < size; ++i) {
            const HistogramItem& item = histogram.items[i];
            ASSERT_EQ(item.colourWeight, 1.0f) << "item " << i;
            float d = -1.0f;
            FindNearest(index, item.colour, 0.6f, &d);
            ASSERT_EQ(std::bit_cast<float>(item.sortValue), d) << "item " << i;
            sum += d * item.perceptualWeight;
            // Means and error never use the adjusted weight the hook may change.
            EXPECT_EQ(item.adjustedWeight, item.perceptualWeight);
        }
        EXPECT_NEAR(error, sum / histogram.totalPerceptualWeight, 1e-12);
    }
}

TEST(VoronoiTest, OneEntryMovesToTheWeightedMean)
{
    Histogram histogram = EmptyHistogram(3);
    SetItem(histogram, 0, FloatPixel{1.0f, 1.0f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 1, FloatPixel{1.0f, 0.0f, 1.0f, 0.0f}, 2.0f);
    SetItem(histogram, 2, FloatPixel{0.5f, 0.0f, 0.0f, 0.5f}, 1.0f);
    Palette palette = CreatePalette(1);
    VoronoiIteration(histogram, palette, 1.0f);
    EXPECT_FLOAT_EQ(palette[0].colour.a, 0.875f);
    EXPECT_FLOAT_EQ(palette[0].colour.r, 0.25f);
    EXPECT_FLOAT_EQ(palette[0].colour.g, 0.5f);
    EXPECT_FLOAT_EQ(palette[0].colour.b, 0.125f);
    EXPECT_EQ(palette[0].popularity, 4.0f);
}

TEST(VoronoiTest, UnchosenEntryKeepsItsColourAndMeanPaletteStaysPut)
{
    Histogram histogram = EmptyHistogram(4);
    SetItem(histogram, 0, FloatPixel{1.0f, 0.0f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 1, FloatPixel{1.0f, 0.125f, 0.0f, 0.0f}, 1.0f);
    SetItem(histogram, 2, FloatPixel{1.0f, 0.0f, 0.0f, 0.125f}, 2.0f);
    SetItem(histogram, 3, FloatPixel{1.0f, 0.0f, 0.125f, 0.0f}, 4.0f);
    Palette palette = CreatePalette(2);
    palette[0].colour = FloatPixel{1.0f, 1.0f, 1.0f, 1.0f}; // white, far from every item
    palette[1].colour = FloatPixel{1.0f, 0.0625f, 0.0625f, 0.0625f};
    const double first = VoronoiIteration(histogram, palette, 1.0f);
    EXPECT_GT(first, 0.0);
    EXPECT_EQ(palette[0].colour.r, 1.0f);
    EXPECT_EQ(palette[0].popularity, 0.0f);
    EXPECT_EQ(palette[1].popularity, 8.0f);
    // The palette now sits on its means: another step leaves it where it is.
    const FloatPixel mean = palette[1].colour;
    const double second = VoronoiIteration(histogram, palette, 1.0f);
    EXPECT_LE(second, first);
    ExpectNear(palette[1].colour, mean, 1e-7f);
}

TEST(VoronoiTest, WeightlessOrEmptyHistogramGivesZeroNotNaN)
{
    Histogram weightless = EmptyHistogram(5000);
    for (std::uint32_t i = 0; i < weightless.size; ++i)
        SetItem(weightless, i, FloatPixel{1.0f, i / 5000.0f, 0.5f, 0.25f}, 0.0f);
    Palette palette = RandomPalette(8, 2);
    const Palette before = CopyEntries(palette);
    EXPECT_EQ(VoronoiIteration(weightless, palette, 1.0f), 0.0);
    for (std::uint32_t j = 0; j < palette.count; ++j) {
        EXPECT_EQ(palette[j].colour.r, before[j].colour.r);
        EXPECT_EQ(palette[j].popularity, 0.0f);
    }

    Histogram empty = EmptyHistogram(0);
    EXPECT_EQ(VoronoiIteration(empty, palette, 1.0f), 0.0);

    // A palette without entries has nothing to move.
    Palette none = CreatePalette(0);
    Histogram some = RandomHistogram(10, 1);
    EXPECT_EQ(VoronoiIteration(some, none, 1.0f), 0.0);
}

TEST(VoronoiTest, ErrorIncludesTheOpacityPenalty)
{
    // One opaque item, one translucent entry on top of it: the error is exactly the penalty.
    Histogram histogram = EmptyHistogram(1);
    SetItem(histogram, 0, FloatPixel{1.0f, 0.5f, 0.5f, 0.5f}, 2.0f);
    Palette palette = CreatePalette(1);
    palette[0].colour = FloatPixel{0.5f, 0.25f, 0.25f, 0.25f};
    const float d = ColourDifference(histogram.items[0].colour, palette[0].colour) + 1.0f / 1024.0f;
    EXPECT_DOUBLE_EQ(VoronoiIteration(histogram, palette, 0.9f), double(d * 2.0f) / 2.0);
    EXPECT_EQ(palette[0].colour.a, 1.0f);
}

} // namespace
} // namespace tessaline
