#include "imageio/png_deflate.h"

#include <gtest/gtest.h>

#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageio/png_writer.h"
#include "tests/imageio/png_test_helpers.h"

namespace tessaline {
namespace {

using test::ParseChunks;

IndexedImage MakeImage(std::uint32_t width, std::uint32_t height, std::uint32_t paletteSize)
{
    IndexedImage image;
    image.width = width;
    image.height = height;
    image.gamma = 0.45454999804496765;
    image.paletteSize = paletteSize;
    image.transparentCount = paletteSize / 3;
    image.pixels.resize(std::size_t{width} * height);
    image.rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y)
        image.rows[y] = image.pixels.data() + std::size_t{y} * width;
    for (std::uint32_t i = 0; i < 256; ++i) {
        image.paletteRgb[3 * i] = static_cast<std::uint8_t>(i);
        image.paletteRgb[3 * i + 1] = static_cast<std::uint8_t>(i * 5);
        image.paletteRgb[3 * i + 2] = static_cast<std::uint8_t>(255 - i);
        image.paletteAlpha[i] = static_cast<std::uint8_t>(i * 3);
    }
    return image;
}

/// Indices drawn at random from [0, limit): like a dithered result, hard to compress.
IndexedImage Noisy(std::uint32_t width, std::uint32_t height, std::uint32_t paletteSize, std::uint32_t limit)
{
    IndexedImage image = MakeImage(width, height, paletteSize);
    std::uint32_t state = 99;
    for (auto& index : image.pixels) {
        state = state * 1664525u + 1013904223u;
        index = static_cast<std::uint8_t>((state >> 16) % limit);
    }
    return image;
}

/// Wide bands of one index with a rare speck: shrinks far more than a photograph.
IndexedImage Flat(std::uint32_t width, std::uint32_t height)
{
    IndexedImage image = MakeImage(width, height, 40);
    std::uint32_t state = 7;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            image.rows[y][x] = static_cast<std::uint8_t>((state >> 24) == 0 ? 39 : (x / 64 + y / 50) % 30);
        }
    return image;
}

/// Columns of one index, 7 wide, repeating every 5: so regular that zlib's level 9 beats
/// libdeflate's level 12 on it.
IndexedImage Stripes(std::uint32_t width, std::uint32_t height)
{
    IndexedImage image = MakeImage(width, height, 40);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            image.rows[y][x] = static_cast<std::uint8_t>((x / 7) % 5);
    return image;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

/// The image as libpng alone writes it: its own packing and its own zlib at level 9.
std::vector<std::uint8_t> LibpngOwnWrite(const IndexedImage& image)
{
    std::vector<std::uint8_t> file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &file, AppendBytes, nullptr);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_gAMA(png, info, image.gamma);
    const int depth = PaletteBitDepth(image.paletteSize);
    png_set_IHDR(png, info, image.width, image.height, depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(image.paletteSize);
    for (std::uint32_t i = 0; i < image.paletteSize; ++i)
        palette[i] = {image.paletteRgb[3 * i], image.paletteRgb[3 * i + 1], image.paletteRgb[3 * i + 2]};
    png_set_PLTE(png, info, palette.data(), static_cast<int>(image.paletteSize));
    if (image.transparentCount > 0)
        png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.transparentCount), nullptr);
    png_write_info(png, info);
    if (depth < 8)
        png_set_packing(png);
    png_write_image(png, const_cast<png_bytepp>(image.rows.data()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

std::vector<test::PngChunk> AllButImageData(const std::vector<test::PngChunk>& chunks)
{
    std::vector<test::PngChunk> rest;
    for (const auto& chunk : chunks)
        if (chunk.type != "IDAT")
            rest.push_back(chunk);
    return rest;
}

TEST(PngDeflateTest, EveryCompressionWritesWhatLibpngAloneWrites)
{
    struct Case
    {
        std::string name;
        IndexedImage image;
    };
    std::vector<Case> cases; // IndexedImage does not copy: no initializer list
    cases.push_back({"1-bit, 9 wide, indices beyond the palette", Noisy(9, 5, 2, 256)});
    cases.push_back({"2-bit, indices beyond the palette", Noisy(31, 7, 3, 8)});
    cases.push_back({"4-bit", Noisy(77, 13, 16, 16)});
    cases.push_back({"8-bit noisy", Noisy(301, 97, 256, 256)});
    cases.push_back({"8-bit flat", Flat(1200, 500)});
    cases.push_back({"8-bit stripes", Stripes(1000, 400)});
    test::ScratchFolder folder;
    for (const Case& c : cases) {
        std::size_t defaultSize = 0;
        const auto plain = ParseChunks(LibpngOwnWrite(c.image));
        ASSERT_FALSE(plain.empty()) << c.name;
        const auto plainRows = test::InflateImageData(plain);
        ASSERT_FALSE(plainRows.empty()) << c.name;
        for (PngCompression compression : {PngCompression::Default, PngCompression::Max}) {
            const std::string label = c.name + (compression == PngCompression::Max ? ", max" : ", default");
            EXPECT_EQ(PackImageRows(c.image, PaletteBitDepth(c.image.paletteSize)), plainRows) << label;
            const auto path = folder.Path() / "out.png";
            ASSERT_EQ(WritePngFile(c.image, path, compression), PngWriteOk) << label;
            const auto chunks = ParseChunks(test::ReadFileBytes(path));
            ASSERT_FALSE(chunks.empty()) << label;
            EXPECT_EQ(test::InflateImageData(chunks), plainRows) << label;
            const auto rest = AllButImageData(chunks);
            const auto plainRest = AllButImageData(plain);
            ASSERT_EQ(rest.size(), plainRest.size()) << label;
            for (std::size_t i = 0; i < rest.size(); ++i) {
                EXPECT_EQ(rest[i].type, plainRest[i].type) << label;
                EXPECT_EQ(rest[i].data, plainRest[i].data) << label << ", chunk " << rest[i].type;
            }
            // IDATs stand together between the last header chunk and IEND.
            std::size_t firstIdat = 0;
            while (firstIdat < chunks.size() && chunks[firstIdat].type != "IDAT")
                ++firstIdat;
            EXPECT_EQ(firstIdat, rest.size() - 1) << label;
            EXPECT_EQ(chunks.back().type, "IEND") << label;
            // Max is the smallest file we can make: never larger than the default one.
            const std::size_t size = std::filesystem::file_size(path);
            if (compression == PngCompression::Default)
                defaultSize = size;
            else
                EXPECT_LE(size, defaultSize) << label;
        }
    }
}

} // namespace
} // namespace tessaline
