// The PNG reader weighs the size a header claims against the bytes the file still holds: the
// image buffer is allocated only when the compressed rows could be there at all.

#include "imageio/png_reader.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/imageio/png_test_helpers.h"
#include "tests/png_chunk_writer.h"

namespace tessaline {
namespace {

using test::AppendBigEndian32;

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    test::AppendChunk(out, type, data.data(), data.size());
}

/// A PNG of the given header whose IDAT holds `raw` (filter bytes included) at zlib level 9.
std::vector<std::uint8_t> Png(std::uint32_t width, std::uint32_t height, int depth, int colour,
                              const std::vector<std::uint8_t>& raw)
{
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    AppendBigEndian32(ihdr, width);
    AppendBigEndian32(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour), 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    uLongf packed = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> idat(packed);
    EXPECT_EQ(compress2(idat.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    idat.resize(packed);
    PutChunk(out, "IDAT", idat);
    PutChunk(out, "IEND", {});
    return out;
}

int ReadFromFile(const std::vector<std::uint8_t>& bytes, RgbaImage& image)
{
    test::ScratchFolder folder;
    test::WriteFileBytes(folder.Path() / "claim.png", bytes);
    return ReadPngFile(image, folder.Path() / "claim.png");
}

TEST(PngSizeClaimTest, GigabyteHeaderOverAFewBytesIsRefusedAsDamaged)
{
    // 16384 x 16384 RGBA is within the pixel limit (1 GiB of RGBA), but its rows cannot be
    // squeezed into the 20 bytes that follow: a damaged file, not an out-of-memory one.
    const std::vector<std::uint8_t> bytes = Png(16384, 16384, 8, 6, std::vector<std::uint8_t>(64, 0));
    RgbaImage image;
    EXPECT_EQ(ReadPngMemory(image, bytes.data(), bytes.size()), PngReadFailed);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(ReadFromFile(bytes, image), PngReadFailed);
    EXPECT_TRUE(image.Empty());
}

TEST(PngSizeClaimTest, MostCompressibleImagesStillRead)
{
    // All-zero rows compress as well as deflate allows, so they sit closest to the bound.
    struct Case
    {
        std::uint32_t width, height;
        int depth, colour, channels;
    };
    for (const Case& c : {Case{2048, 2048, 8, 6, 4}, Case{4096, 4096, 1, 0, 1}, Case{1, 70000, 16, 6, 4},
                          Case{70000, 1, 8, 2, 3}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " depth " + std::to_string(c.depth));
        const std::size_t rowBytes = 1 + (std::size_t{c.width} * c.channels * c.depth + 7) / 8;
        const std::vector<std::uint8_t> bytes =
            Png(c.width, c.height, c.depth, c.colour, std::vector<std::uint8_t>(rowBytes * c.height, 0));
        RgbaImage image;
        ASSERT_EQ(ReadPngMemory(image, bytes.data(), bytes.size()), PngReadOk);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        ASSERT_EQ(ReadFromFile(bytes, image), PngReadOk);
        EXPECT_EQ(image.sourceBytes, bytes.size());
    }
}

TEST(PngSizeClaimTest, ReadingStartsWhereTheStreamStands)
{
    // The bytes available are counted from the stream's position, which is kept.
    std::vector<std::uint8_t> bytes(100, 'x');
    std::vector<std::uint8_t> rows(65 * 64, 7);
    for (std::size_t y = 0; y < 64; ++y)
        rows[y * 65] = 0; // filter type none
    const std::vector<std::uint8_t> png = Png(64, 64, 8, 0, rows);
    bytes.insert(bytes.end(), png.begin(), png.end());
    test::ScratchFolder folder;
    test::WriteFileBytes(folder.Path() / "offset.png", bytes);
    std::FILE* file = std::fopen((folder.Path() / "offset.png").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, 100, SEEK_SET), 0);
    RgbaImage image;
    EXPECT_EQ(ReadPngStream(image, file), PngReadOk);
    EXPECT_EQ(image.width, 64u);
    EXPECT_EQ(image.rows[63][0], 7);
    std::fclose(file);
}

} // namespace
} // namespace tessaline
