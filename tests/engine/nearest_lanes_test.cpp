#include "engine/nearest_lanes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/vector_width.h"
#include "tests/engine/palette_test_data.h"

namespace tessaline {
namespace {

using testing::RandomPalette;
using testing::Sse2Scope;

// One way a query can run: the scalar search, or SSE2 and the lanes at one width.
struct SearchPath
{
    bool sse2 = false;
    VectorWidth width = VectorWidth::Sse2;
};

// The scalar search and every width this build and processor have, widest last.
std::vector<SearchPath> SearchPaths()
{
    std::vector<SearchPath> paths{SearchPath{false, VectorWidth::Sse2}};
    if (!ProcessorSupportsSse2())
        return paths;
    for (const VectorWidth width : {VectorWidth::Sse2, VectorWidth::Avx2, VectorWidth::Avx512}) {
        if (width <= ProcessorVectorWidth())
            paths.push_back(SearchPath{true, width});
    }
    return paths;
}

// Runs the lanes built in its lifetime on `path`.
class SearchPathScope
{
public:
    explicit SearchPathScope(SearchPath path) : sse2(path.sse2), saved(VectorWidthInUse)
    {
        VectorWidthInUse = path.width;
    }
    ~SearchPathScope() { VectorWidthInUse = saved; }
    SearchPathScope(const SearchPathScope&) = delete;
    SearchPathScope& operator=(const SearchPathScope&) = delete;

private:
    Sse2Scope sse2;
    VectorWidth saved;
};

std::string PathName(SearchPath path)
{
    return path.sse2 ? VectorWidthName(path.width) : "scalar";
}

bool SameBits(float x, float y)
{
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// Queries spread over and beyond the valid range, with exact palette colours and odd values mixed in.
FloatPixel Query(std::mt19937& random, const Palette& palette)
{
    std::uniform_real_distribution<float> wide(-0.2f, 1.2f);
    switch (random() % 6) {
    case 0:
        return palette[random() % palette.count].colour;
    case 1:
        return FloatPixel{};
    case 2:
        return FloatPixel{1.0f, wide(random), wide(random), wide(random)};
    case 3:
        if (random() % 50 == 0)
            return FloatPixel{std::numeric_limits<float>::quiet_NaN(), 0.5f, 0.5f, 0.5f};
        [[fallthrough]];
    default:
        return testing::RandomColour(random, 3);
    }
}

TEST(NearestLanesTest, AnswersExactlyAsFindNearest)
{
    // In the even metric and in one of scaled channels, which the index takes from the palette.
    for (const SearchPath path : SearchPaths()) {
        SCOPED_TRACE(PathName(path));
        const SearchPathScope scope(path);
        for (const ChannelScales scales : {EvenChannels, PerceptualChannels})
            for (const std::uint32_t count : {1u, 2u, 3u, 5u, 16u, 63u, 200u, 256u}) {
                Palette palette = RandomPalette(count, count * 3 + 1);
                palette.scales = scales;
                if (count >= 16) {
                    // A snapshot subset as median cut attaches, so the heads come from it.
                    palette.subset = std::make_unique<Palette>(RandomPalette(count / 5, count));
                }
                NearestIndex index = BuildNearestIndex(palette);
                const NearestLanes lanes = BuildNearestLanes(index);
                std::mt19937 random(count);
                for (int i = 0; i < 4000; ++i) {
                    const FloatPixel q = Query(random, palette);
                    for (const float minOpacity : {1.0f, 0.5f}) {
                        float expectedDifference = -7.0f, difference = -7.0f;
                        const std::uint32_t expected = FindNearest(index, q, minOpacity, &expectedDifference);
                        ASSERT_EQ(FindNearestLanes(lanes, q, minOpacity, &difference), expected)
                            << count << " " << i;
                        ASSERT_TRUE(SameBits(difference, expectedDifference)) << count << " " << i;
                        ASSERT_EQ(FindNearestLanes(lanes, q, minOpacity, nullptr), expected);
                    }
                }
                ReleaseNearestIndex(index);
            }
    }
}

// The answer and difference of the lanes against FindNearest for every query given.
void ExpectSameAnswers(const Palette& palette, const std::vector<FloatPixel>& queries)
{
    NearestIndex index = BuildNearestIndex(palette);
    const NearestLanes lanes = BuildNearestLanes(index);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        for (const float minOpacity : {1.0f, 0.5f}) {
            float expectedDifference = -7.0f, difference = -7.0f;
            const std::uint32_t expected = FindNearest(index, queries[i], minOpacity, &expectedDifference);
            ASSERT_EQ(FindNearestLanes(lanes, queries[i], minOpacity, &difference), expected)
                << "query " << i;
            ASSERT_TRUE(SameBits(difference, expectedDifference)) << "query " << i;
        }
    }
    ReleaseNearestIndex(index);
}

TEST(NearestLanesTest, EqualScoresGoToTheEarliestCandidate)
{
    // Each colour three times over: every query against an exact colour ties three ways, and the
    // buffered scan must pick the candidate the plain scan keeps.
    for (const SearchPath path : SearchPaths()) {
        SCOPED_TRACE(PathName(path));
        const SearchPathScope scope(path);
        const Palette distinct = RandomPalette(60, 5);
        Palette palette = CreatePalette(180);
        for (std::uint32_t j = 0; j < 180; ++j)
            palette[j] = distinct[(j * 7) % 60];
        std::vector<FloatPixel> queries;
        for (std::uint32_t j = 0; j < 60; ++j)
            queries.push_back(distinct[j].colour);
        std::mt19937 random(8);
        for (int i = 0; i < 2000; ++i)
            queries.push_back(Query(random, distinct));
        ExpectSameAnswers(palette, queries);
    }
}

TEST(NearestLanesTest, HugeOrInfiniteChannelsTakeTheCheckedScan)
{
    // Values far outside the colour range can overflow a score; queries and palettes holding them
    // must still get FindNearest's answers, padding candidates included.
    const float huge = 3e30f;
    const float infinity = std::numeric_limits<float>::infinity();
    for (const SearchPath path : SearchPaths()) {
        SCOPED_TRACE(PathName(path));
        const SearchPathScope scope(path);
        std::mt19937 random(9);
        Palette tame = RandomPalette(37, 10);
        std::vector<FloatPixel> queries;
        for (int i = 0; i < 500; ++i)
            queries.push_back(Query(random, tame));
        for (const float v : {huge, -huge, 1e18f, 2e18f, infinity, -infinity}) {
            queries.push_back(FloatPixel{1.0f, v, 0.5f, 0.5f});
            queries.push_back(FloatPixel{v, 0.2f, 0.2f, 0.2f});
            queries.push_back(FloatPixel{0.0f, 0.0f, 0.0f, v});
        }
        ExpectSameAnswers(tame, queries);
        Palette wild = RandomPalette(37, 10);
        wild[5].colour = FloatPixel{1.0f, huge, 0.5f, 0.5f};
        wild[11].colour = FloatPixel{0.5f, 0.1f, -infinity, 0.1f};
        ExpectSameAnswers(wild, queries);
    }
}

// A palette of `count` colours built to stress the candidate scan's early stop: translucent and
// opaque entries, exact duplicates, and near-ties one or a few float steps apart.
Palette StressPalette(std::uint32_t count, std::mt19937& random)
{
    Palette palette = CreatePalette(count);
    for (std::uint32_t j = 0; j < count; ++j) {
        FloatPixel colour = testing::RandomColour(random, 3);
        if (j > 0 && random() % 5 == 0) {
            colour = palette[random() % j].colour; // a duplicate
        } else if (j > 0 && random() % 4 == 0) {
            colour = palette[random() % j].colour; // a near-tie
            float* channel = &colour.a + 1 + random() % 3;
            for (int step = int(random() % 3) + 1; step > 0; --step)
                *channel = std::nextafter(*channel, random() % 2 ? 2.0f : -1.0f);
        }
        palette[j].colour = colour;
    }
    return palette;
}

// Queries on, beside and between palette colours, translucent ones and fully transparent ones.
FloatPixel StressQuery(std::mt19937& random, const Palette& palette)
{
    std::uniform_real_distribution<float> nudge(-0.01f, 0.01f);
    const FloatPixel near = palette[random() % palette.count].colour;
    switch (random() % 7) {
    case 0:
        return near;
    case 1:
        return FloatPixel{near.a, near.r + nudge(random), near.g + nudge(random), near.b + nudge(random)};
    case 2: {
        const FloatPixel other = palette[random() % palette.count].colour;
        return FloatPixel{(near.a + other.a) * 0.5f, (near.r + other.r) * 0.5f, (near.g + other.g) * 0.5f,
                          (near.b + other.b) * 0.5f};
    }
    case 3:
        return FloatPixel{};
    case 4: {
        FloatPixel q = near;
        float* channel = &q.a + random() % 4;
        *channel = std::nextafter(*channel, random() % 2 ? 2.0f : -1.0f);
        return q;
    }
    case 5:
        return testing::RandomColour(random, 1);
    default:
        return testing::RandomColour(random, 0);
    }
}

TEST(NearestLanesTest, StoppingTheScanEarlyKeepsEveryAnswer)
{
    // The lanes stop scanning a head once no later candidate can score lower; that must never change
    // the entry or the difference, whatever the palette and the query.
    for (const SearchPath path : SearchPaths()) {
        SCOPED_TRACE(PathName(path));
        const SearchPathScope scope(path);
        for (const std::uint32_t count : {1u, 2u, 7u, 49u, 64u, 255u, 256u}) {
            for (int variant = 0; variant < 6; ++variant) {
                std::mt19937 random(count * 31 + std::uint32_t(variant));
                Palette palette = StressPalette(count, random);
                if (variant % 2 == 1 && count >= 7) {
                    Palette subset = CreatePalette(std::max<std::uint32_t>(1, count / 6));
                    for (std::uint32_t j = 0; j < subset.count; ++j)
                        subset[j].colour = palette[random() % count].colour;
                    palette.subset = std::make_unique<Palette>(std::move(subset));
                }
                NearestIndex index = BuildNearestIndex(palette);
                const NearestLanes lanes = BuildNearestLanes(index);
                for (int i = 0; i < 3000; ++i) {
                    const FloatPixel q = StressQuery(random, palette);
                    for (const float minOpacity : {1.0f, 0.5f, 0.0f}) {
                        float expectedDifference = -7.0f, difference = -7.0f;
                        const std::uint32_t expected = FindNearest(index, q, minOpacity, &expectedDifference);
                        ASSERT_EQ(FindNearestLanes(lanes, q, minOpacity, &difference), expected)
                            << count << " " << variant << " " << i;
                        ASSERT_TRUE(SameBits(difference, expectedDifference))
                            << count << " " << variant << " " << i;
                    }
                }
                ReleaseNearestIndex(index);
            }
        }
    }
}

} // namespace
} // namespace tessaline
