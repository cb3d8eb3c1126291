// The figures that judge a dithered result, on images whose answers are known by hand.

#include "engine/dither_figures.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "engine/output_image.h"

namespace tessaline {
namespace {

// A flat opaque grey source of 20 x 20 and an output of its size whose palette holds grey 128,
// black and white (indices 0, 1, 2), every pixel at 0.
struct GreyCase
{
    RgbaImage source = CreateRgbaImage(20, 20);
    IndexedImage result;

    GreyCase()
    {
        for (std::size_t i = 0; i < source.pixels.size(); i += 4) {
            const std::uint8_t grey[4] = {128, 128, 128, 255};
            std::memcpy(&source.pixels[i], grey, 4);
        }
        EXPECT_TRUE(AllocateOutput(source, result));
        const std::uint8_t rgb[9] = {128, 128, 128, 0, 0, 0, 255, 255, 255};
        std::memcpy(result.paletteRgb.data(), rgb, 9);
        result.paletteSize = 3;
        result.transparentCount = 0;
    }
};

TEST(DitherFiguresTest, BlurredPsnrSeesTheLocalAveragesAndStrayPixelsTheFarOnes)
{
    GreyCase exact;
    EXPECT_TRUE(std::isinf(*BlurredPsnr(exact.source, exact.result)));
    EXPECT_EQ(*StrayPixels(exact.source, exact.result, 64), 0u);

    // Black and white alternating: each pixel 128 levels off, but every 5 x 5 mean within about 10
    // levels of grey (12 or 13 of 25 white; fewer cells at the edges).
    GreyCase checker;
    for (std::uint32_t y = 0; y < 20; ++y)
        for (std::uint32_t x = 0; x < 20; ++x)
            checker.result.rows[y][x] = (x + y) % 2 ? 2 : 1;
    EXPECT_GT(*BlurredPsnr(checker.source, checker.result), 25.0);
    // Every pixel is 127 or 128 levels further off than grey 128, the nearest entry.
    EXPECT_EQ(*StrayPixels(checker.source, checker.result, 64), 400u);
    EXPECT_EQ(*StrayPixels(checker.source, checker.result, 128), 0u);

    // All black: the blurred result is as far off as the pixels, 20 log10(255 / 128) dB.
    GreyCase black;
    std::fill(black.result.pixels.begin(), black.result.pixels.end(), 1);
    EXPECT_NEAR(*BlurredPsnr(black.source, black.result), 20.0 * std::log10(255.0 / 128.0), 1e-6);

    // Black turned transparent: over black nothing differs, over white every channel is 255 levels
    // off, and the figure sees both backgrounds: 10 log10(2) dB. An opaque result scores as its
    // premultiplied colours (the all-black case above).
    GreyCase cleared;
    for (std::size_t i = 0; i < cleared.source.pixels.size(); i += 4)
        std::fill_n(&cleared.source.pixels[i], 3, std::uint8_t{0});
    cleared.result.paletteAlpha[0] = 0;
    cleared.result.transparentCount = 1;
    cleared.result.paletteRgb = {}; // entry 0 black, transparent: the first, covered by tRNS
    EXPECT_NEAR(*BlurredPsnr(cleared.source, cleared.result), 10.0 * std::log10(2.0), 1e-6);

    // Seven far pixels among near ones.
    GreyCase few;
    for (std::uint32_t x = 0; x < 7; ++x)
        few.result.rows[3][x * 2] = 2;
    EXPECT_EQ(*StrayPixels(few.source, few.result, 64), 7u);

    // Sizes that differ give no figure.
    const RgbaImage wider = CreateRgbaImage(21, 20);
    EXPECT_FALSE(BlurredPsnr(wider, few.result).has_value());
    EXPECT_FALSE(StrayPixels(wider, few.result, 64).has_value());
}

} // namespace
} // namespace tessaline
