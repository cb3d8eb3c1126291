#include "engine/palette_order.h"

#include <array>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/result_figures.h"

namespace tessaline {
namespace {

Palette MakePalette(const std::vector<float>& alphas, const std::vector<float>& popularities)
{
    Palette palette = CreatePalette(static_cast<std::uint32_t>(alphas.size()));
    for (std::uint32_t i = 0; i < palette.count; ++i) {
        // Grey at half intensity, premultiplied, so each entry is recognisable by its alpha.
        palette[i].colour = FloatPixel{alphas[i], 0.5f * alphas[i], 0.5f * alphas[i], 0.5f * alphas[i]};
        palette[i].popularity = popularities[i];
    }
    return palette;
}

std::vector<float> Alphas(const Palette& palette)
{
    std::vector<float> alphas;
    for (std::uint32_t i = 0; i < palette.count; ++i)
        alphas.push_back(palette[i].colour.a);
    return alphas;
}

std::vector<float> Popularities(const Palette& palette)
{
    std::vector<float> values;
    for (std::uint32_t i = 0; i < palette.count; ++i)
        values.push_back(palette[i].popularity);
    return values;
}

TEST(PaletteOrderTest, TranslucentEntriesComeFirstEachGroupByPopularity)
{
    IndexedImage output;
    Palette palette = MakePalette({1.0f, 0.0f, 0.5f, 1.0f}, {4, 3, 2, 1});
    OrderPalette(output, palette, false);
    EXPECT_EQ(Alphas(palette), (std::vector<float>{0.5f, 0.0f, 1.0f, 1.0f}));
    EXPECT_EQ(Popularities(palette), (std::vector<float>{2, 3, 1, 4}));
    EXPECT_EQ(output.paletteSize, 4u);
    EXPECT_EQ(output.transparentCount, 2u);
}

TEST(PaletteOrderTest, LastIndexTransparentMovesTheFirstTransparentEntryLast)
{
    IndexedImage output;
    Palette palette = MakePalette({1.0f, 0.0f, 0.5f, 1.0f}, {4, 3, 2, 1});
    OrderPalette(output, palette, true);
    EXPECT_EQ(Popularities(palette), (std::vector<float>{1, 2, 4, 3}));
    EXPECT_EQ(palette[3].colour.a, 0.0f);
    EXPECT_EQ(output.transparentCount, 4u);

    // Only the first (lowest index) transparent entry moves; the other is sorted with the rest.
    Palette two = MakePalette({0.0f, 1.0f, 0.0f}, {5, 1, 9});
    OrderPalette(output, two, true);
    EXPECT_EQ(Popularities(two), (std::vector<float>{1, 9, 5}));
    EXPECT_EQ(output.transparentCount, 3u);
}

TEST(PaletteOrderTest, LastIndexTransparentWithoutATransparentEntryPartitionsNormally)
{
    IndexedImage output;
    Palette palette = MakePalette({1.0f, 0.5f, 1.0f}, {1, 2, 0.5f});
    OrderPalette(output, palette, true);
    EXPECT_EQ(Alphas(palette), (std::vector<float>{0.5f, 1.0f, 1.0f}));
    EXPECT_EQ(Popularities(palette), (std::vector<float>{2, 0.5f, 1}));
    EXPECT_EQ(output.transparentCount, 1u);
}

TEST(PaletteOrderTest, OpaqueOnlyPaletteHasNoTransparentEntries)
{
    IndexedImage output;
    Palette palette = MakePalette({1.0f, 0.998f, 1.0f}, {3, 2, 1});
    OrderPalette(output, palette, false);
    EXPECT_EQ(output.transparentCount, 0u);
    EXPECT_EQ(Popularities(palette), (std::vector<float>{1, 2, 3}));
}

TEST(PaletteOrderTest, TranslucencyIsDecidedByTheStoredAlphaByte)
{
    EXPECT_FALSE(IsTranslucent(FloatPixel{0.998f, 0, 0, 0}));
    EXPECT_TRUE(IsTranslucent(FloatPixel{0.996f, 0, 0, 0}));
    EXPECT_TRUE(IsFullyTransparent(FloatPixel{0.0039f, 0, 0, 0}));
    EXPECT_FALSE(IsFullyTransparent(FloatPixel{0.00390625f, 0, 0, 0}));

    IndexedImage output;
    output.gamma = InternalGamma;
    Palette palette = MakePalette({0.998f, 0.996f}, {1, 2});
    OrderPalette(output, palette, false);
    StorePaletteBytes(output, palette);
    EXPECT_EQ(output.transparentCount, 1u);
    EXPECT_EQ(output.paletteAlpha[0], 254);
    EXPECT_EQ(output.paletteAlpha[1], 255);
}

TEST(PaletteOrderTest, OneEntryPalettes)
{
    IndexedImage output;
    Palette opaque = MakePalette({1.0f}, {7});
    OrderPalette(output, opaque, false);
    EXPECT_EQ(output.paletteSize, 1u);
    EXPECT_EQ(output.transparentCount, 0u);

    Palette translucent = MakePalette({0.25f}, {7});
    OrderPalette(output, translucent, false);
    EXPECT_EQ(output.transparentCount, 1u);

    Palette transparent = MakePalette({0.0f}, {7});
    OrderPalette(output, transparent, true);
    EXPECT_EQ(output.transparentCount, 1u);
    EXPECT_EQ(transparent[0].colour.a, 0.0f);
}

TEST(PaletteOrderTest, OrderingKeepsEveryEntryAndNaNPopularityDoesNotBreakTheSort)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> alphas, popularities;
    for (int i = 0; i < 256; ++i) {
        alphas.push_back(random() % 3 == 0 ? unit(random) : 1.0f);
        popularities.push_back(i % 50 == 0 ? std::nanf("") : float(random() % 10));
    }
    Palette palette = MakePalette(alphas, popularities);
    IndexedImage output;
    OrderPalette(output, palette, false);

    std::vector<float> sortedBefore = alphas, sortedAfter = Alphas(palette);
    std::sort(sortedBefore.begin(), sortedBefore.end());
    std::sort(sortedAfter.begin(), sortedAfter.end());
    EXPECT_EQ(sortedBefore, sortedAfter);
    for (std::uint32_t i = 0; i < palette.count; ++i)
        EXPECT_EQ(IsTranslucent(palette[i].colour), i < output.transparentCount) << i;
    for (std::uint32_t i = 1; i < palette.count; ++i) {
        if (i == output.transparentCount || std::isnan(palette[i - 1].popularity))
            continue;
        EXPECT_LE(palette[i - 1].popularity, palette[i].popularity) << i;
    }
}

TEST(PaletteOrderTest, StoredBytesConvertBackToTheSnappedColours)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (const double gamma : {double(InternalGamma), 1.0 / 2.2, 1.0}) {
        Palette palette = CreatePalette(200);
        for (std::uint32_t i = 0; i < palette.count; ++i) {
            const float a = i % 4 == 0 ? unit(random) : 1.0f;
            palette[i].colour = FloatPixel{a, a * unit(random), a * unit(random), a * unit(random)};
            palette[i].popularity = float(i);
        }
        IndexedImage output;
        output.gamma = gamma;
        StorePaletteBytes(output, palette);
        for (std::uint32_t i = 0; i < palette.count; ++i) {
            const std::uint8_t rgba[4] = {output.paletteRgb[3 * i], output.paletteRgb[3 * i + 1],
                                          output.paletteRgb[3 * i + 2], output.paletteAlpha[i]};
            const FloatPixel back = ToFloatPixel(rgba, static_cast<float>(gamma));
            EXPECT_EQ(back.a, palette[i].colour.a);
            EXPECT_EQ(back.r, palette[i].colour.r);
            EXPECT_EQ(back.g, palette[i].colour.g);
            EXPECT_EQ(back.b, palette[i].colour.b);
            EXPECT_EQ(palette[i].popularity, float(i));
        }
        // Slots past the palette stay as they were.
        EXPECT_EQ(output.paletteAlpha[200], 0);
        EXPECT_EQ(output.paletteRgb[3 * 255], 0);
    }
}

TEST(PaletteOrderTest, SnappingMovesGreyToItsByteValue)
{
    IndexedImage output;
    output.gamma = InternalGamma;
    Palette palette = CreatePalette(2);
    palette[0].colour = FloatPixel{1.0f, 0.5f, 0.5f, 0.5f};
    palette[1].colour = FloatPixel{0.001f, 0.3f, 0.2f, 0.1f};
    StorePaletteBytes(output, palette);
    EXPECT_EQ(output.paletteRgb[0], 128);
    EXPECT_EQ(palette[0].colour.r, 128.0f / 255.0f);
    EXPECT_EQ(output.paletteAlpha[1], 0);
    EXPECT_EQ(output.paletteRgb[3], 0);
    EXPECT_EQ(palette[1].colour.a, 0.0f);
    EXPECT_EQ(palette[1].colour.r, 0.0f);
}

// The plain remap's averaging can carry an entry judged translucent to an alpha byte of 255: such
// entries leave the transparency run, and every pixel still shows the colour it showed (an oracle on
// the stored image), whatever the mix of entries that move and entries that move in.
TEST(PaletteOrderTest, EntriesStoredOpaqueLeaveTheTransparencyRun)
{
    const std::vector<std::vector<float>> cases = {
        {0.5f, 0.999f, 0.2f, 1.0f, 1.0f},  // one in the middle
        {0.999f, 0.998f, 0.3f, 1.0f},      // the first two, and the run's last moves in
        {0.5f, 0.3f, 0.9985f, 1.0f, 1.0f}, // the run's last
        {0.999f, 0.9995f, 1.0f},           // the whole run
        {0.5f, 0.3f, 1.0f},                // nothing to move
    };
    for (const std::vector<float>& alphas : cases) {
        for (const bool lastTransparent : {false, true}) {
            SCOPED_TRACE(testing::PrintToString(alphas) + (lastTransparent ? ", transparent last" : ""));
            Palette palette = MakePalette(alphas, std::vector<float>(alphas.size(), 1.0f));
            IndexedImage output;
            output.width = 7;
            output.height = 5;
            output.gamma = InternalGamma;
            output.pixels.resize(35);
            for (std::size_t i = 0; i < output.pixels.size(); ++i)
                output.pixels[i] = static_cast<std::uint8_t>((i * 3) % alphas.size());
            output.paletteSize = palette.count;
            // As OrderPalette judged them before the averaging: every entry but the opaque tail.
            std::uint32_t judged = 0;
            while (judged < alphas.size() && alphas[judged] < 1.0f)
                ++judged;
            output.transparentCount = lastTransparent ? palette.count : judged;
            StorePaletteBytes(output, palette);
            std::vector<std::array<std::uint8_t, 4>> shown;
            for (const std::uint8_t index : output.pixels)
                shown.push_back(StoredRgba(output, index));
            const std::uint32_t countBefore = output.transparentCount;

            SettleTransparentRun(output, palette, lastTransparent);

            if (lastTransparent) {
                EXPECT_EQ(output.transparentCount, countBefore);
            } else {
                for (std::uint32_t i = 0; i < output.transparentCount; ++i)
                    EXPECT_LT(output.paletteAlpha[i], 255) << "entry " << i;
                for (std::uint32_t i = output.transparentCount; i < palette.count; ++i)
                    EXPECT_EQ(output.paletteAlpha[i], 255) << "entry " << i;
            }
            for (std::size_t i = 0; i < output.pixels.size(); ++i)
                EXPECT_EQ(StoredRgba(output, output.pixels[i]), shown[i]) << "pixel " << i;
            for (std::uint32_t i = 0; i < palette.count; ++i)
                EXPECT_EQ(ToRgba(palette[i].colour, InternalGamma)[3], output.paletteAlpha[i])
                    << "entry " << i;
        }
    }
}

} // namespace
} // namespace tessaline
