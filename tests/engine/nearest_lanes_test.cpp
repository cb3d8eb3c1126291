#include "engine/nearest_lanes.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "tests/engine/palette_test_data.h"

namespace tessaline {
namespace {

using testing::RandomPalette;
using testing::Sse2Scope;

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
    for (const bool sse2 : {false, true}) {
        const Sse2Scope scope(sse2);
        for (const std::uint32_t count : {1u, 2u, 3u, 5u, 16u, 63u, 200u, 256u}) {
            Palette palette = RandomPalette(count, count * 3 + 1);
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

} // namespace
} // namespace tessaline
