#include "imageio/palette_png_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imageio/png_writer.h"
#include "tests/imageio/png_test_helpers.h"

namespace tessaline {
namespace {

IndexedImage MakeResult(std::uint32_t width, std::uint32_t height, std::uint32_t paletteSize,
                        std::uint32_t transparentCount, double gamma)
{
    IndexedImage image;
    image.width = width;
    image.height = height;
    image.gamma = gamma;
    image.paletteSize = paletteSize;
    image.transparentCount = transparentCount;
    image.pixels.resize(std::size_t{width} * height);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<std::uint8_t>((i * 7 + i / width) % paletteSize);
    image.rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y)
        image.rows[y] = image.pixels.data() + std::size_t{y} * width;
    for (std::uint32_t i = 0; i < 256; ++i) {
        image.paletteRgb[3 * i] = static_cast<std::uint8_t>(i);
        image.paletteRgb[3 * i + 1] = static_cast<std::uint8_t>(i * 5);
        image.paletteRgb[3 * i + 2] = static_cast<std::uint8_t>(255 - i);
        image.paletteAlpha[i] = static_cast<std::uint8_t>(i * 11 % 255);
    }
    return image;
}

// The web page frames the head chunks and the packed rows itself: what it writes must be what the
// desktop's libpng writer writes, chunk for chunk, for every bit depth, with and without tRNS and
// gAMA, on widths that leave a row's last byte partly used.
TEST(PalettePngLayoutTest, HeadChunksAndRowsAreTheWritersOwn)
{
    struct Case
    {
        std::uint32_t width, height, paletteSize, transparentCount;
        double gamma;
    };
    const Case cases[] = {{7, 3, 2, 0, 0.45454999804496765},
                          {9, 4, 3, 2, 0.45454999804496765},
                          {5, 5, 16, 16, 1.0 / 2.2},
                          {13, 2, 17, 0, 0.0},
                          {31, 6, 256, 200, 0.45454999804496765},
                          {1, 1, 1, 1, 0.8}};
    for (const Case& c : cases) {
        const IndexedImage image = MakeResult(c.width, c.height, c.paletteSize, c.transparentCount, c.gamma);
        const std::string label = std::to_string(c.paletteSize) + " entries, " +
                                  std::to_string(c.transparentCount) + " translucent, gamma " +
                                  std::to_string(c.gamma);
        const auto chunks = test::ParseChunks(EncodePng(image));
        ASSERT_FALSE(chunks.empty()) << label;
        const auto head = PaletteHeadChunks(image);
        ASSERT_LE(head.size(), chunks.size()) << label;
        for (std::size_t i = 0; i < head.size(); ++i) {
            EXPECT_EQ(std::string(head[i].type.data(), 4), chunks[i].type) << label;
            EXPECT_EQ(head[i].data, chunks[i].data) << label << ", " << chunks[i].type;
        }
        EXPECT_EQ(chunks[head.size()].type, "IDAT") << label;
        EXPECT_EQ(PackImageRows(image, PaletteBitDepth(image.paletteSize)), test::InflateImageData(chunks))
            << label;
    }
}

TEST(PalettePngLayoutTest, GammaTheChunkCannotHoldIsRefusedByBoth)
{
    const IndexedImage image = MakeResult(4, 4, 4, 0, 1e9);
    EXPECT_FALSE(PngGammaFixed(1e9));
    EXPECT_TRUE(PaletteHeadChunks(image).empty());
    EXPECT_TRUE(EncodePng(image).empty());
    EXPECT_EQ(PngGammaFixed(0.45454999804496765), 45455u);
}

} // namespace
} // namespace tessaline
