#include "engine/result_figures.h"

#include <omp.h>

#include <cmath>
#include <random>

#include <gtest/gtest.h>

namespace tessaline {
namespace {

// A result of `source`'s size whose every pixel takes index 0, with entry 0 set to `rgba`.
IndexedImage UniformResult(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba,
                           bool inTransparencyChunk)
{
    IndexedImage result;
    result.width = width;
    result.height = height;
    result.gamma = InternalGamma;
    result.pixels.assign(std::size_t{width} * height, 0);
    for (std::uint32_t y = 0; y < height; ++y)
        result.rows.push_back(result.pixels.data() + std::size_t{y} * width);
    result.paletteSize = 2;
    result.transparentCount = inTransparencyChunk ? 1 : 0;
    result.paletteRgb[0] = rgba[0];
    result.paletteRgb[1] = rgba[1];
    result.paletteRgb[2] = rgba[2];
    result.paletteAlpha[0] = rgba[3];
    return result;
}

RgbaImage UniformSource(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba)
{
    RgbaImage source = CreateRgbaImage(width, height);
    for (std::size_t i = 0; i < source.pixels.size(); i += 4)
        std::copy(rgba.begin(), rgba.end(), source.pixels.begin() + static_cast<std::ptrdiff_t>(i));
    return source;
}

TEST(ResultFiguresTest, IdenticalImagesHaveNoErrorAndCountEveryEntry)
{
    // Four pixels, three entries in palette order, one entry unused; a translucent entry inside the
    // transparency chunk and a fully transparent pixel whose colour bytes differ from the entry's.
    RgbaImage source = CreateRgbaImage(2, 2);
    const std::uint8_t pixels[16] = {10, 20, 30, 128, 10, 20, 30, 128, 99, 99, 99, 0, 200, 100, 50, 255};
    std::copy(std::begin(pixels), std::end(pixels), source.pixels.begin());
    IndexedImage result = UniformResult(2, 2, {10, 20, 30, 128}, true);
    result.paletteSize = 4;
    result.transparentCount = 2;
    result.paletteAlpha[1] = 0; // entry 1: transparent black
    result.paletteRgb[9] = 200; // entry 3: opaque
    result.paletteRgb[10] = 100;
    result.paletteRgb[11] = 50;
    result.pixels = {0, 0, 1, 3};

    const std::optional<ResultFigures> figures = MeasureResult(source, result);
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->mse, 0.0);
    EXPECT_TRUE(std::isinf(figures->psnr));
    EXPECT_EQ(figures->maxError, 0);
    EXPECT_EQ(figures->coloursUsed, 3u);
    EXPECT_EQ(figures->entryPixels[0], 2u);
    EXPECT_EQ(figures->entryPixels[1], 1u);
    EXPECT_EQ(figures->entryPixels[2], 0u);
    EXPECT_EQ(figures->entryPixels[3], 1u);
    EXPECT_EQ(figures->pngBytes, 0u); // only an encoder knows the size
}

TEST(ResultFiguresTest, OneLevelOffInOneChannelEverywhere)
{
    // Large enough for the parallel loop; the answer must not depend on the thread count either.
    const std::uint32_t side = 100;
    RgbaImage source = UniformSource(side, side, {100, 100, 100, 255});
    IndexedImage result = UniformResult(side, side, {101, 100, 100, 255}, false);
    const std::optional<ResultFigures> figures = MeasureResult(source, result);
    ASSERT_TRUE(figures);
    // One channel in three is one level off, on black and on white alike.
    EXPECT_DOUBLE_EQ(figures->mseBlack, 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(figures->mseWhite, 1.0 / 3.0);
    EXPECT_NEAR(figures->psnr, 52.9020, 1e-4); // 10 log10(3 * 255^2)
    EXPECT_EQ(figures->maxError, 1);
    EXPECT_EQ(figures->coloursUsed, 1u);
    EXPECT_EQ(figures->entryPixels[0], std::uint64_t{side} * side);

    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    const std::optional<ResultFigures> alone = MeasureResult(source, result);
    omp_set_num_threads(saved);
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->mse, figures->mse);
    EXPECT_EQ(alone->entryPixels, figures->entryPixels);
}

TEST(ResultFiguresTest, TranslucentPixelsAreComparedOverBlackAndOverWhite)
{
    // Half-transparent white and half-transparent black, both reduced to fully transparent: white
    // shows 128 levels too dark over black and nothing over white, black the other way round.
    RgbaImage source = CreateRgbaImage(2, 1);
    const std::uint8_t pixels[8] = {255, 255, 255, 128, 0, 0, 0, 128};
    std::copy(std::begin(pixels), std::end(pixels), source.pixels.begin());
    const IndexedImage transparent = UniformResult(2, 1, {0, 0, 0, 0}, true);
    std::optional<ResultFigures> figures = MeasureResult(source, transparent);
    ASSERT_TRUE(figures);
    EXPECT_DOUBLE_EQ(figures->mseBlack, 128.0 * 128.0 / 2.0);
    EXPECT_DOUBLE_EQ(figures->mseWhite, 128.0 * 128.0 / 2.0);
    EXPECT_NEAR(figures->psnr, 8.9969, 1e-4); // 10 log10(255^2 / 8192)
    EXPECT_EQ(figures->maxError, 128);

    // The same entry outside the transparency chunk is opaque black in the file: over black the
    // white pixel is 128 levels off, over white 255; the black pixel is 127 off over white.
    const IndexedImage opaque = UniformResult(2, 1, {0, 0, 0, 0}, false);
    figures = MeasureResult(source, opaque);
    ASSERT_TRUE(figures);
    EXPECT_DOUBLE_EQ(figures->mseBlack, 128.0 * 128.0 / 2.0);
    EXPECT_DOUBLE_EQ(figures->mseWhite, (255.0 * 255.0 + 127.0 * 127.0) / 2.0);
    EXPECT_EQ(figures->maxError, 255);
}

TEST(ResultFiguresTest, RefusesImagesThatDoNotMatch)
{
    RgbaImage source = UniformSource(3, 2, {1, 2, 3, 255});
    EXPECT_FALSE(MeasureResult(source, UniformResult(2, 3, {1, 2, 3, 255}, false)));
    EXPECT_FALSE(MeasureResult(source, IndexedImage()));
    IndexedImage rowless = UniformResult(3, 2, {1, 2, 3, 255}, false);
    rowless.rows.clear();
    EXPECT_FALSE(MeasureResult(source, rowless));
    EXPECT_FALSE(MeasureResult(RgbaImage(), IndexedImage()));
}

} // namespace
} // namespace tessaline
