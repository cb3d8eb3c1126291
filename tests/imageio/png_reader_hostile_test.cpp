// Hostile PNG files (made by scripts/make_hostile_pngs.py): each is refused cleanly, or, when the
// image itself is sound, read without paying for what the file hides.

#include "imageio/png_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "imageio/image_limits.h"
#include "tests/imageio/png_test_helpers.h"

namespace tessaline {
namespace {

const std::filesystem::path HostileFolder = std::filesystem::path(TESSALINE_TEST_DATA_DIR) / "hostile";

enum class Expect { Refused, TooLarge, ReadAndStopped, ReadWhole };

struct HostileCase
{
    const char* file;
    Expect expect;
};

const HostileCase HostileCases[] = {
    {"empty.png", Expect::Refused},
    {"not_png.jpg", Expect::Refused},
    {"signature_only.png", Expect::Refused},
    {"truncated_in_ihdr.png", Expect::Refused},
    {"truncated_in_idat.png", Expect::Refused},
    {"bad_idat_crc.png", Expect::Refused},
    {"bad_ihdr_crc.png", Expect::Refused},
    {"no_idat.png", Expect::Refused},
    {"zero_width.png", Expect::Refused},
    {"bad_colour_type.png", Expect::Refused},
    {"palette_without_plte.png", Expect::Refused},
    {"plte_too_long.png", Expect::Refused},
    // Sides beyond libpng's limit are refused as a damaged header; within it, the pixel count.
    {"huge_width.png", Expect::Refused},
    {"huge_height.png", Expect::Refused},
    {"huge_dimensions.png", Expect::TooLarge},
    // A chunk that declares 2 GiB: skipped, not allocated, and the file ends inside it.
    {"huge_text_chunk.png", Expect::Refused},
    {"huge_unknown_chunk.png", Expect::Refused},
    // The rows are complete; the zlib data after them is not inflated.
    {"idat_bomb_after_rows.png", Expect::ReadAndStopped},
    {"idat_longer_than_image.png", Expect::ReadAndStopped},
    {"extra_idat_after_stream.png", Expect::ReadAndStopped},
    // Compressed or numerous ancillary chunks the reader does not use are skipped unread.
    {"ztxt_bomb_after_idat.png", Expect::ReadWhole},
    {"ztxt_bomb_before_idat.png", Expect::ReadWhole},
    {"iccp_bomb.png", Expect::ReadWhole},
    {"many_text_chunks.png", Expect::ReadWhole},
};

class PngReaderHostileTest : public ::testing::TestWithParam<HostileCase>
{
};

TEST_P(PngReaderHostileTest, RefusedCleanlyOrReadWithinBounds)
{
    const HostileCase& hostile = GetParam();
    const auto path = HostileFolder / hostile.file;
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const auto bytes = test::ReadFileBytes(path);

    RgbaImage image;
    const int code = ReadPngFile(image, path);
    RgbaImage fromMemory;
    EXPECT_EQ(ReadPngMemory(fromMemory, bytes.data(), bytes.size()), code);

    switch (hostile.expect) {
    case Expect::Refused:
        EXPECT_EQ(code, PngReadFailed);
        break;
    case Expect::TooLarge:
        EXPECT_EQ(code, PngReadOutOfMemory);
        break;
    case Expect::ReadAndStopped:
    case Expect::ReadWhole:
        ASSERT_EQ(code, PngReadOk);
        EXPECT_EQ(image.width, 16u);
        EXPECT_EQ(image.height, 16u);
        EXPECT_EQ(image.pixels, fromMemory.pixels);
        if (hostile.expect == Expect::ReadWhole) {
            EXPECT_EQ(image.sourceBytes, bytes.size());
        } else {
            // Past the rows, the reader took no more than libpng's read-ahead and the limits.
            EXPECT_LT(image.sourceBytes, bytes.size());
            EXPECT_LE(image.sourceBytes, 8192 + MaxTrailingImageDataBytes + 1024);
        }
        break;
    }
    if (code != PngReadOk) {
        EXPECT_TRUE(image.Empty());
        EXPECT_TRUE(image.rows.empty());
        EXPECT_EQ(image.width, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PngReaderHostileTest, ::testing::ValuesIn(HostileCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                             std::string name = std::filesystem::path(info.param.file).stem().string();
                             for (char& c : name)
                                 if (c == '_')
                                     c = 'X';
                             return name;
                         });

TEST(PngReaderHostileFolderTest, EveryFileHasACase)
{
    std::set<std::string> listed;
    for (const HostileCase& hostile : HostileCases)
        listed.insert(hostile.file);
    for (const auto& entry : std::filesystem::directory_iterator(HostileFolder))
        EXPECT_EQ(listed.count(entry.path().filename().string()), 1u) << entry.path();
}

TEST(PngReaderHostileTest, GradientRowsSurviveTheBomb)
{
    // The bomb file's rows are the generator's gradient: (x * 7 + y * 13) mod 256.
    RgbaImage image;
    ASSERT_EQ(ReadPngFile(image, HostileFolder / "idat_bomb_after_rows.png"), PngReadOk);
    for (std::uint32_t y = 0; y < 16; ++y)
        for (std::uint32_t x = 0; x < 16; ++x) {
            const std::uint8_t* p = image.rows[y] + 4 * x;
            ASSERT_EQ(p[0], static_cast<std::uint8_t>(x * 7 + y * 13));
            ASSERT_EQ(p[3], 255);
        }
}

TEST(PngReaderHostileTest, LargeMetadataAfterTheImageIsNotRead)
{
    // 2 MiB of private chunks after IDAT: the image is whole, so the reader stops after the
    // trailing limit instead of reading (or failing on) all of it.
    const test::TestPng png = test::MakeTestPng(test::TestPngLayout{});
    const std::size_t iend = png.file.size() - 12;
    std::vector<std::uint8_t> file(png.file.begin(), png.file.begin() + iend);
    const std::vector<std::uint8_t> chunk = [] {
        std::vector<std::uint8_t> c = {0, 0x01, 0, 0, 'p', 'r', 'V', 't'}; // 65536 bytes of data
        c.resize(8 + 65536 + 4, 0x33);
        return c;
    }();
    for (int i = 0; i < 32; ++i)
        file.insert(file.end(), chunk.begin(), chunk.end());
    file.insert(file.end(), png.file.begin() + iend, png.file.end());
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, file.data(), file.size()), PngReadOk);
    EXPECT_EQ(image.pixels, png.expectedRgba);
    EXPECT_LE(image.sourceBytes, iend + MaxTrailingBytes);
}

TEST(PngReaderHostileTest, CorruptedBytesNeverCrash)
{
    // Every single-byte change of a small file: libpng must refuse or read, never misbehave.
    test::TestPngLayout layout;
    layout.colourType = PNG_COLOR_TYPE_PALETTE;
    layout.bitDepth = 4;
    layout.transparentCount = 3;
    layout.interlaced = true;
    layout.width = 7;
    layout.height = 5;
    const auto file = test::MakeTestPng(layout).file;
    for (std::size_t at = 0; at < file.size(); ++at) {
        auto damaged = file;
        damaged[at] ^= 0x5A;
        RgbaImage image;
        const int code = ReadPngMemory(image, damaged.data(), damaged.size());
        ASSERT_TRUE(code == PngReadOk || code == PngReadFailed || code == PngReadOutOfMemory) << at;
        if (code == PngReadOk) {
            ASSERT_EQ(image.pixels.size(), std::size_t{image.width} * image.height * 4);
        }
    }
}

} // namespace
} // namespace tessaline
