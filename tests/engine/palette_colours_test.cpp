// Palettes from outside the image: a given palette, kept colours, one palette shared by several
// images, and the exact result of an image whose colours already fit.
#include "engine/palette_colours.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/given_palette.h"
#include "engine/reduce_pipeline.h"
#include "engine/shared_palette.h"

namespace tessaline {
namespace {

// A gradient with noise: far more colours than any palette, so the palette must be chosen.
RgbaImage Gradient(std::uint32_t side, std::uint32_t seed)
{
    std::mt19937 random(seed);
    RgbaImage image = CreateRgbaImage(side, side);
    for (std::uint32_t y = 0; y < side; ++y)
        for (std::uint32_t x = 0; x < side; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            p[0] = std::uint8_t(x * 255 / side);
            p[1] = std::uint8_t(y * 255 / side);
            p[2] = std::uint8_t(random() % 64 + (x + y) % 128);
            p[3] = 255;
        }
    return image;
}

// Each pixel takes one of `colours` in turn, so every colour is used.
RgbaImage Cycling(std::uint32_t side, const std::vector<RgbaColour>& colours)
{
    RgbaImage image = CreateRgbaImage(side, side);
    for (std::size_t i = 0; i < std::size_t{side} * side; ++i)
        std::copy(colours[(i * 7 + i / side) % colours.size()].begin(),
                  colours[(i * 7 + i / side) % colours.size()].end(), image.pixels.begin() + 4 * i);
    return image;
}

std::vector<RgbaColour> ManyColours(int count)
{
    std::vector<RgbaColour> colours;
    for (int i = 0; i < count; ++i)
        colours.push_back({std::uint8_t(i * 37), std::uint8_t(255 - i * 11), std::uint8_t(i * 5),
                           std::uint8_t(i % 5 == 0 ? 128 : 255)});
    colours.push_back({0, 0, 0, 0});
    return colours;
}

TEST(PaletteColoursTest, GivenPaletteIsWrittenInItsOrderWithUnusedEntries)
{
    const RgbaColour red{255, 0, 0, 255};
    const RgbaColour green{0, 255, 0, 255};
    const RgbaColour unusedBlue{0, 0, 255, 255};
    const RgbaColour unusedMagentaClear{255, 0, 255, 0};
    RgbaImage image = Cycling(16, {red, green});
    ReduceSettings settings;
    settings.givenPalette = {unusedBlue, red, unusedMagentaClear, green, unusedBlue};
    IndexedImage output;
    ASSERT_EQ(ReducePipeline(settings, image, output), ReduceOk);
    EXPECT_EQ(PaletteTableColours(output), settings.givenPalette);
    EXPECT_EQ(output.transparentCount, 3u); // up to the clear entry, which keeps its own R, G, B
    EXPECT_EQ(output.paletteRgb[6], 255);
    EXPECT_TRUE(ShowsExactly(image, output)); // no dithering noise: every colour is an entry
    EXPECT_EQ(output.rows[0][0], 1);
}

TEST(PaletteColoursTest, RemapOntoAPaletteHoldingEverySourceColourIsExact)
{
    const std::vector<RgbaColour> colours = ManyColours(40);
    RgbaImage image = Cycling(48, colours);
    std::vector<RgbaColour> given = colours;
    std::reverse(given.begin(), given.end());
    given.push_back({1, 2, 3, 255});
    for (const bool ditherMap : {true, false}) {
        ReduceSettings settings;
        settings.useDitherMap = ditherMap ? 1 : 0;
        settings.givenPalette = given;
        IndexedImage output;
        ASSERT_EQ(ReducePipeline(settings, image, output), ReduceOk);
        EXPECT_TRUE(ShowsExactly(image, output));
        EXPECT_EQ(output.paletteSize, given.size());
    }
}

TEST(PaletteColoursTest, AnImageWhoseColoursFitComesOutExactly)
{
    const std::vector<RgbaColour> colours = ManyColours(30); // 31 with transparent black
    RgbaImage image = Cycling(40, colours);
    ReduceSettings settings;
    settings.maxColours = 31;
    IndexedImage output;
    ASSERT_EQ(ReducePipeline(settings, image, output), ReduceOk);
    EXPECT_EQ(output.paletteSize, 31u);
    EXPECT_TRUE(ShowsExactly(image, output));

    settings.maxColours = 30; // one too few: the palette is chosen as before
    IndexedImage fewer;
    ASSERT_EQ(ReducePipeline(settings, image, fewer), ReduceOk);
    EXPECT_LE(fewer.paletteSize, 30u);
    EXPECT_FALSE(ShowsExactly(image, fewer));

    EXPECT_FALSE(CountDistinctColours(image, 30, true).has_value());
    const auto counted = CountDistinctColours(image, 31, true);
    ASSERT_TRUE(counted.has_value());
    EXPECT_EQ(counted->front().colour, colours[0]); // first seen first
}

TEST(PaletteColoursTest, KeptColoursArePresentExactlyAfterTheRefinement)
{
    const std::vector<RgbaColour> kept = {
        {255, 0, 0, 255}, {18, 52, 86, 120}, {0, 255, 0, 255}, {7, 7, 7, 255}};
    for (const std::uint32_t colours : {8u, 4u}) {
        RgbaImage image = Gradient(64, 3);
        ReduceSettings settings;
        settings.maxColours = colours;
        settings.voronoiIterations = 7;
        settings.keptColours = kept;
        IndexedImage output;
        ASSERT_EQ(ReducePipeline(settings, image, output), ReduceOk);
        EXPECT_LE(output.paletteSize, colours);
        const std::vector<RgbaColour> palette = PaletteTableColours(output);
        for (const RgbaColour& colour : kept)
            EXPECT_NE(std::find(palette.begin(), palette.end(), colour), palette.end())
                << int(colour[0]) << "," << int(colour[1]) << "," << int(colour[2]) << " with " << colours;
    }
}

TEST(PaletteColoursTest, SharedPaletteIsOneForAllAndRepeatable)
{
    ReduceSettings settings;
    settings.maxColours = 16;
    settings.feedbackTrials = 3;
    std::vector<RgbaColour> first;
    for (const int pass : {0, 1}) {
        SharedPaletteBuilder builder;
        for (std::uint32_t seed : {1u, 2u}) {
            RgbaImage image = Gradient(24 + seed * 8, seed);
            ASSERT_TRUE(builder.Add(settings, image));
        }
        const std::vector<RgbaColour> chosen = builder.Choose(settings);
        ASSERT_FALSE(chosen.empty());
        EXPECT_LE(chosen.size(), 16u);
        if (pass == 0)
            first = chosen;
        else
            EXPECT_EQ(chosen, first); // the same inputs in the same order give the same palette
    }
    RgbaImage image = Gradient(40, 2);
    settings.givenPalette = first;
    IndexedImage output;
    ASSERT_EQ(ReducePipeline(settings, image, output), ReduceOk);
    EXPECT_EQ(PaletteTableColours(output), first);

    // Images that have few colours together share exactly those colours.
    SharedPaletteBuilder few;
    RgbaImage a = Cycling(8, {{1, 2, 3, 255}, {4, 5, 6, 255}});
    RgbaImage b = Cycling(8, {{4, 5, 6, 255}, {7, 8, 9, 255}});
    ASSERT_TRUE(few.Add(settings, a) && few.Add(settings, b));
    EXPECT_EQ(few.Choose(settings).size(), 3u);
}

} // namespace
} // namespace tessaline
