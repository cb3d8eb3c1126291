#include "engine/colour_model.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <gtest/gtest.h>

namespace tessaline {
namespace {

FloatPixel Pixel(float a, float r, float g, float b) { return FloatPixel{a, r, g, b}; }

// Runs a check once with the scalar path and once with the vector path (where built).
template <typename Check>
void ForBothPaths(Check check)
{
    const bool saved = ProcessorHasSse2;
    ProcessorHasSse2 = false;
    check();
    ProcessorHasSse2 = ProcessorSupportsSse2();
    check();
    ProcessorHasSse2 = saved;
}

TEST(ColourModelTest, InternalGammaHasItsExactBits)
{
    EXPECT_EQ(std::bit_cast<std::uint32_t>(InternalGamma), 0x3EE8BAC7u);
    EXPECT_EQ(double(InternalGamma), 0.45454999804496765);
}

TEST(ColourModelTest, NearlyTransparentGivesTransparentBlack)
{
    const auto bytes = ToRgba(Pixel(0.0039f, 0.9f, 0.5f, 0.2f), InternalGamma);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_NE(ToRgba(Pixel(0.00390625f, 0.0f, 0.0f, 0.0f), InternalGamma)[3], 0);
}

TEST(ColourModelTest, OpaqueBytesSurviveTheRoundTripAtInternalGamma)
{
    for (int v = 0; v < 256; ++v) {
        const std::uint8_t in[4] = {std::uint8_t(v), std::uint8_t(255 - v), 255, 255};
        const auto out = ToRgba(ToFloatPixel(in, InternalGamma), InternalGamma);
        EXPECT_EQ(out, (std::array<std::uint8_t, 4>{in[0], in[1], in[2], in[3]})) << v;
    }
}

TEST(ColourModelTest, OtherGammaRoundTripsClosely)
{
    for (int v = 0; v < 256; v += 5) {
        const std::uint8_t in[4] = {std::uint8_t(v), 128, 7, 255};
        const FloatPixel p = ToFloatPixel(in, 1.0f);
        const auto out = ToRgba(p, 1.0f);
        EXPECT_NEAR(out[0], v, 1) << v;
        if (v > 0 && v < 255) { // gamma 1 data is brightened into the internal gamma
            EXPECT_GT(p.r, v / 255.0f) << v;
        }
    }
}

TEST(ColourModelTest, ColourDifferenceExamples)
{
    ForBothPaths([] {
        const FloatPixel transparent = Pixel(0, 0, 0, 0);
        const FloatPixel black = Pixel(1, 0, 0, 0);
        const FloatPixel white = Pixel(1, 1, 1, 1);
        const FloatPixel grey = Pixel(0.5f, 0.2f, 0.3f, 0.4f);
        EXPECT_EQ(ColourDifference(grey, grey), 0.0f);
        EXPECT_FLOAT_EQ(ColourDifference(black, white), 3.0f);
        EXPECT_FLOAT_EQ(ColourDifference(transparent, white), 3.0f);
        EXPECT_FLOAT_EQ(ColourDifference(transparent, black), 3.0f);
        EXPECT_FLOAT_EQ(ColourDifference(white, transparent), 3.0f);
    });
}

TEST(ColourModelTest, VectorAndScalarPathsAgreeOnUnalignedData)
{
    // Entries five floats apart, offset by one float: nothing may assume alignment.
    std::vector<float> buffer(1 + 5 * 64);
    std::uint32_t state = 12345;
    for (float& f : buffer) {
        state = state * 1664525u + 1013904223u;
        f = (state >> 8) / float(1 << 24);
    }
    for (int i = 0; i + 1 < 64; ++i) {
        FloatPixel x, y;
        std::memcpy(static_cast<void*>(&x), &buffer[1 + 5 * i], sizeof x);
        std::memcpy(static_cast<void*>(&y), &buffer[1 + 5 * (i + 1)], sizeof y);
        const float scalar = detail::ColourDifferenceScalar(x, y);
#if defined(__SSE2__)
        EXPECT_NEAR(detail::ColourDifferenceSse2(x, y), scalar, 1e-5f * (1 + scalar));
#endif
        EXPECT_FLOAT_EQ(scalar, detail::ColourDifferenceScalar(y, x));
    }
}

// The metric in a space of scaled channels: the even metric of the unscaled colours with channel
// weights scale^2, over black and over white, for translucent colours too; both forms agree.
TEST(ColourModelTest, ScaledDifferenceIsTheWeightedMetric)
{
    const ChannelScales s = PerceptualChannels;
    const auto scaled = [&s](const FloatPixel& p) { return Pixel(p.a, p.r * s.r, p.g * s.g, p.b * s.b); };
    ForBothPaths([&] {
        const FloatPixel transparent = Pixel(0, 0, 0, 0);
        const FloatPixel black = Pixel(1, 0, 0, 0);
        const float weights = s.r * s.r + s.g * s.g + s.b * s.b;
        EXPECT_FLOAT_EQ(ColourDifference(transparent, black, s), weights); // differs over white only
        EXPECT_FLOAT_EQ(ColourDifference(black, scaled(Pixel(1, 1, 1, 1)), s), weights);
        EXPECT_FLOAT_EQ(ColourDifference(transparent, scaled(Pixel(1, 1, 1, 1)), s), weights);
    });
    std::uint32_t state = 2024;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / float(1 << 24);
    };
    for (int i = 0; i < 200; ++i) {
        const float ax = next(), ay = i % 3 == 0 ? 1.0f : next();
        const FloatPixel x = Pixel(ax, ax * next(), ax * next(), ax * next());
        const FloatPixel y = Pixel(ay, ay * next(), ay * next(), ay * next());
        // Even scales are exactly the engine's own metric, in both forms.
        EXPECT_EQ(detail::ColourDifferenceScalar(x, y, EvenChannels), detail::ColourDifferenceScalar(x, y));
        const float weighted = detail::ColourDifferenceScalar(scaled(x), scaled(y), s);
        double expected = 0.0;
        for (int c = 1; c < 4; ++c) {
            const double w = c == 1 ? s.r * s.r : c == 2 ? s.g * s.g : s.b * s.b;
            const double black = double((&x.a)[c]) - (&y.a)[c];
            const double white = black + (double(y.a) - x.a);
            expected += w * std::max(black * black, white * white);
        }
        EXPECT_NEAR(weighted, expected, 1e-5 * (1 + expected));
        EXPECT_EQ(detail::ColourDifferenceScalar(scaled(x), scaled(x), s), 0.0f);
        EXPECT_EQ(weighted, detail::ColourDifferenceScalar(scaled(y), scaled(x), s));
#if defined(__SSE2__)
        EXPECT_EQ(detail::ColourDifferenceSse2(x, y, EvenChannels), detail::ColourDifferenceSse2(x, y));
        const float vector = detail::ColourDifferenceSse2(scaled(x), scaled(y), s);
        EXPECT_NEAR(vector, weighted, 1e-5f * (1 + weighted));
        EXPECT_EQ(detail::ColourDifferenceSse2(scaled(x), scaled(x), s), 0.0f);
        EXPECT_EQ(vector, detail::ColourDifferenceSse2(scaled(y), scaled(x), s));
#endif
    }
}

RgbaImage OneRow(std::initializer_list<std::array<std::uint8_t, 4>> pixels)
{
    RgbaImage image = CreateRgbaImage(static_cast<std::uint32_t>(pixels.size()), 1);
    std::uint8_t* p = image.rows[0];
    for (const auto& px : pixels)
        p = std::copy(px.begin(), px.end(), p);
    return image;
}

std::array<std::uint8_t, 4> At(const RgbaImage& image, std::uint32_t x)
{
    const std::uint8_t* p = image.rows[0] + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

TEST(ColourModelTest, RaiseNearOpaqueAlphaFollowsItsBand)
{
    RgbaImage image = OneRow({{255, 255, 255, 83}, {255, 255, 255, 84}, {255, 255, 255, 128}, {255, 255, 255, 255}});
    RgbaImage untouched = image.Clone();
    RaiseNearOpaqueAlpha(untouched, 1.0f);
    EXPECT_EQ(untouched.pixels, image.pixels);

    RaiseNearOpaqueAlpha(image, 0.5f);
    EXPECT_EQ(At(image, 0), (std::array<std::uint8_t, 4>{255, 255, 255, 83}));
    EXPECT_EQ(At(image, 1), (std::array<std::uint8_t, 4>{255, 255, 255, 83}));
    EXPECT_EQ(At(image, 2), (std::array<std::uint8_t, 4>{128, 128, 128, 255}));
    EXPECT_EQ(At(image, 3), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
}

TEST(ColourModelTest, CloneOwnsItsRows)
{
    RgbaImage image = OneRow({{1, 2, 3, 4}, {5, 6, 7, 8}});
    RgbaImage copy = image.Clone();
    image.Release();
    EXPECT_EQ(image.width, 0u);
    EXPECT_TRUE(image.rows.empty());
    EXPECT_EQ(At(copy, 1), (std::array<std::uint8_t, 4>{5, 6, 7, 8}));
    RgbaImage moved = std::move(copy);
    EXPECT_EQ(moved.rows[0], moved.pixels.data());
}

Palette Numbered(std::uint32_t count)
{
    Palette palette = CreatePalette(count);
    for (std::uint32_t i = 0; i < count; ++i)
        palette[i].popularity = float(i);
    return palette;
}

TEST(ColourModelTest, PaletteSubsetSizes)
{
    const Palette plain = Numbered(256);
    const PaletteSubset a = CreatePaletteSubset(plain);
    ASSERT_TRUE(a.owned);
    EXPECT_EQ(a.palette->count, 64u);
    EXPECT_EQ((*a.palette)[63].popularity, 63.0f);

    EXPECT_EQ(CreatePaletteSubset(Numbered(2)).palette->count, 1u);

    Palette small = Numbered(256);
    small.subset = std::make_unique<Palette>(Numbered(49));
    const PaletteSubset b = CreatePaletteSubset(small);
    EXPECT_FALSE(b.owned);
    EXPECT_EQ(b.palette, small.subset.get());

    Palette large = Numbered(256);
    large.subset = std::make_unique<Palette>(Numbered(100));
    (*large.subset)[10].popularity = 1000.0f;
    const PaletteSubset c = CreatePaletteSubset(large);
    ASSERT_TRUE(c.owned);
    EXPECT_EQ(c.palette->count, 64u);
    EXPECT_EQ((*c.palette)[10].popularity, 1000.0f);

    ReleasePalette(large);
    EXPECT_EQ(large.count, 0u);
    EXPECT_FALSE(large.subset);
}

} // namespace
} // namespace tessaline
