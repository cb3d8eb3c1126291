#include "engine/float_pixel_table.h"

#include <cstdint>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

namespace tessaline {
namespace {

TEST(FloatPixelTableTest, SameValuesAsToFloatPixel)
{
    for (float gamma : {InternalGamma, 1.0f, 1.0f / 2.2f, 0.3f, 2.0f}) {
        const FloatPixelTable table(gamma);
        std::mt19937 rng(5);
        for (int i = 0; i < 5000; ++i) {
            const std::uint32_t word = rng();
            std::uint8_t rgba[4];
            std::memcpy(rgba, &word, 4);
            if (i < 256)
                rgba[0] = rgba[1] = rgba[2] = rgba[3] = std::uint8_t(i);
            const FloatPixel want = ToFloatPixel(rgba, gamma);
            const FloatPixel got = table.Convert(rgba);
            ASSERT_EQ(got.a, want.a);
            ASSERT_EQ(got.r, want.r);
            ASSERT_EQ(got.g, want.g);
            ASSERT_EQ(got.b, want.b);
        }
    }
}

} // namespace
} // namespace tessaline
