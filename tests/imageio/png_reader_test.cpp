#include "imageio/png_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <png.h>

#include "imageio/image_limits.h"
#include "tests/imageio/png_test_helpers.h"
#include "tests/imageio/sha256_helpers.h"

namespace tessaline {
namespace {

using test::MakeTestPng;
using test::ScratchFolder;
using test::TestPngLayout;

constexpr double NoGamma = 0.45454999804496765; // InternalGamma widened

std::vector<std::uint8_t> Pixels(const RgbaImage& image)
{
    return image.pixels;
}

// ---- every colour type and bit depth, from files our test code writes --------------------

struct ColourCase
{
    const char* name;
    int colourType;
    int bitDepth;
    int transparentCount;
};

const ColourCase ColourCases[] = {
    {"Grey1", PNG_COLOR_TYPE_GRAY, 1, 0},
    {"Grey2", PNG_COLOR_TYPE_GRAY, 2, 0},
    {"Grey4", PNG_COLOR_TYPE_GRAY, 4, 0},
    {"Grey8", PNG_COLOR_TYPE_GRAY, 8, 0},
    {"Grey16", PNG_COLOR_TYPE_GRAY, 16, 0},
    {"Grey8WithTrns", PNG_COLOR_TYPE_GRAY, 8, 1},
    {"GreyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0},
    {"GreyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, 0},
    {"Truecolour8", PNG_COLOR_TYPE_RGB, 8, 0},
    {"Truecolour16", PNG_COLOR_TYPE_RGB, 16, 0},
    {"Truecolour8WithTrns", PNG_COLOR_TYPE_RGB, 8, 1},
    {"TruecolourAlpha8", PNG_COLOR_TYPE_RGB_ALPHA, 8, 0},
    {"TruecolourAlpha16", PNG_COLOR_TYPE_RGB_ALPHA, 16, 0},
    {"Palette1", PNG_COLOR_TYPE_PALETTE, 1, 0},
    {"Palette2", PNG_COLOR_TYPE_PALETTE, 2, 0},
    {"Palette4", PNG_COLOR_TYPE_PALETTE, 4, 0},
    {"Palette8", PNG_COLOR_TYPE_PALETTE, 8, 0},
    {"Palette1WithTrns", PNG_COLOR_TYPE_PALETTE, 1, 1},
    {"Palette2WithTrns", PNG_COLOR_TYPE_PALETTE, 2, 3},
    {"Palette4WithTrns", PNG_COLOR_TYPE_PALETTE, 4, 3},
    {"Palette8WithTrns", PNG_COLOR_TYPE_PALETTE, 8, 3},
};

using ColourParam = std::tuple<ColourCase, bool /*interlaced*/, bool /*gAMA*/>;

class PngReaderColourTest : public ::testing::TestWithParam<ColourParam>
{
protected:
    TestPngLayout Layout() const
    {
        const auto& [colour, interlaced, gamma] = GetParam();
        TestPngLayout layout;
        layout.colourType = colour.colourType;
        layout.bitDepth = colour.bitDepth;
        layout.transparentCount = colour.transparentCount;
        layout.interlaced = interlaced;
        layout.hasGamma = gamma;
        layout.gammaFixed = 100000;
        layout.seed = static_cast<std::uint32_t>(colour.colourType * 100 + colour.bitDepth);
        return layout;
    }
};

TEST_P(PngReaderColourTest, LoadsExpectedRgbaGammaAndByteCount)
{
    const TestPngLayout layout = Layout();
    const test::TestPng png = MakeTestPng(layout);
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
    EXPECT_EQ(image.width, layout.width);
    EXPECT_EQ(image.height, layout.height);
    EXPECT_EQ(image.gamma, layout.hasGamma ? 1.0 : NoGamma);
    EXPECT_EQ(image.sourceBytes, png.file.size());
    ASSERT_EQ(image.rows.size(), layout.height);
    for (std::uint32_t y = 0; y < layout.height; ++y)
        ASSERT_EQ(image.rows[y], image.pixels.data() + std::size_t{y} * layout.width * 4);
    EXPECT_EQ(Pixels(image), png.expectedRgba);
}

TEST_P(PngReaderColourTest, FileAndMemoryGiveTheSameImage)
{
    const test::TestPng png = MakeTestPng(Layout());
    ScratchFolder folder;
    const auto path = folder.Path() / "image.png";
    test::WriteFileBytes(path, png.file);
    RgbaImage fromFile;
    ASSERT_EQ(ReadPngFile(fromFile, path), PngReadOk);
    EXPECT_EQ(Pixels(fromFile), png.expectedRgba);
    EXPECT_EQ(fromFile.sourceBytes, png.file.size());
}

TEST_P(PngReaderColourTest, EveryTruncationIsRefused)
{
    const test::TestPng png = MakeTestPng(Layout());
    for (std::size_t size = 0; size < png.file.size(); ++size) {
        RgbaImage image;
        ASSERT_EQ(ReadPngMemory(image, png.file.data(), size), PngReadFailed) << "cut at " << size;
        EXPECT_TRUE(image.Empty());
        EXPECT_TRUE(image.rows.empty());
    }
}

std::string ColourParamName(const ::testing::TestParamInfo<ColourParam>& info)
{
    const auto& [colour, interlaced, gamma] = info.param;
    return std::string(colour.name) + (interlaced ? "Adam7" : "Plain") + (gamma ? "Gama" : "NoGama");
}

INSTANTIATE_TEST_SUITE_P(AllColourTypes, PngReaderColourTest,
                         ::testing::Combine(::testing::ValuesIn(ColourCases), ::testing::Bool(),
                                            ::testing::Bool()),
                         ColourParamName);

TEST(PngReaderTest, InterlacedTwinLoadsTheSamePixels)
{
    for (const ColourCase& colour : ColourCases) {
        TestPngLayout layout;
        layout.colourType = colour.colourType;
        layout.bitDepth = colour.bitDepth;
        layout.width = 37;
        layout.height = 29;
        RgbaImage plain;
        RgbaImage interlaced;
        const auto plainFile = MakeTestPng(layout).file;
        layout.interlaced = true;
        const auto interlacedFile = MakeTestPng(layout).file;
        ASSERT_EQ(ReadPngMemory(plain, plainFile.data(), plainFile.size()), PngReadOk);
        ASSERT_EQ(ReadPngMemory(interlaced, interlacedFile.data(), interlacedFile.size()), PngReadOk);
        EXPECT_EQ(plain.pixels, interlaced.pixels) << colour.name;
    }
}

TEST(PngReaderTest, TinyInterlacedImagesWithEmptyPasses)
{
    // 1x1 to 3x3 leave several Adam7 passes empty, which is where the last row is hardest to spot.
    for (std::uint32_t w = 1; w <= 3; ++w)
        for (std::uint32_t h = 1; h <= 3; ++h) {
            TestPngLayout layout;
            layout.width = w;
            layout.height = h;
            layout.interlaced = true;
            const test::TestPng png = MakeTestPng(layout);
            RgbaImage image;
            ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk) << w << "x" << h;
            EXPECT_EQ(image.pixels, png.expectedRgba);
            EXPECT_EQ(image.sourceBytes, png.file.size());
        }
}

TEST(PngReaderTest, PaletteTrnsCoversOnlyItsEntries)
{
    TestPngLayout layout;
    layout.colourType = PNG_COLOR_TYPE_PALETTE;
    layout.bitDepth = 8;
    layout.transparentCount = 3;
    layout.width = 64;
    layout.height = 64;
    const test::TestPng png = MakeTestPng(layout);
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
    EXPECT_EQ(image.pixels, png.expectedRgba);
    int translucent = 0;
    for (std::size_t i = 3; i < image.pixels.size(); i += 4)
        translucent += image.pixels[i] != 255;
    EXPECT_GT(translucent, 0);
}

TEST(PngReaderTest, OneBitGreyIsBlackAndWhite)
{
    TestPngLayout layout;
    layout.colourType = PNG_COLOR_TYPE_GRAY;
    layout.bitDepth = 1;
    const test::TestPng png = MakeTestPng(layout);
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        EXPECT_TRUE(image.pixels[i] == 0 || image.pixels[i] == 255);
        EXPECT_EQ(image.pixels[i + 1], image.pixels[i]);
        EXPECT_EQ(image.pixels[i + 3], 255);
    }
}

TEST(PngReaderTest, GammaIsTheGamaValueTimesOneHundredThousandth)
{
    for (png_uint_32 fixed : {45455u, 35000u, 100000u, 250000u}) {
        TestPngLayout layout;
        layout.hasGamma = true;
        layout.gammaFixed = fixed;
        const test::TestPng png = MakeTestPng(layout);
        RgbaImage image;
        ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
        EXPECT_EQ(image.gamma, fixed * 0.00001);
    }
}

TEST(PngReaderTest, FailureEmptiesAnImageLoadedBefore)
{
    const test::TestPng png = MakeTestPng(TestPngLayout{});
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
    ASSERT_FALSE(image.Empty());
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size() / 2), PngReadFailed);
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(image.rows.empty());
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
    EXPECT_EQ(image.sourceBytes, 0u);
}

TEST(PngReaderTest, BytesAfterIendAreNotRead)
{
    test::TestPng png = MakeTestPng(TestPngLayout{});
    const std::size_t size = png.file.size();
    png.file.insert(png.file.end(), 100, 0xAB);
    RgbaImage image;
    ASSERT_EQ(ReadPngMemory(image, png.file.data(), png.file.size()), PngReadOk);
    EXPECT_EQ(image.sourceBytes, size);
}

TEST(PngReaderTest, StreamIsReadFromItsPositionAndLeftOpen)
{
    const test::TestPng png = MakeTestPng(TestPngLayout{});
    ScratchFolder folder;
    const auto path = folder.Path() / "prefixed.bin";
    std::vector<std::uint8_t> bytes(3 + png.file.size(), 'x');
    std::copy(png.file.begin(), png.file.end(), bytes.begin() + 3);
    test::WriteFileBytes(path, bytes);
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    std::fseek(stream, 3, SEEK_SET);
    RgbaImage image;
    EXPECT_EQ(ReadPngStream(image, stream), PngReadOk);
    EXPECT_EQ(image.pixels, png.expectedRgba);
    EXPECT_EQ(std::ftell(stream), static_cast<long>(bytes.size()));
    std::fclose(stream);
}

TEST(PngReaderTest, UnreadableFilesGiveTwo)
{
    ScratchFolder folder;
    RgbaImage image;
    EXPECT_EQ(ReadPngFile(image, folder.Path() / "missing.png"), PngReadFailed);
    EXPECT_EQ(ReadPngFile(image, folder.Path()), PngReadFailed); // a folder
    EXPECT_EQ(ReadPngFile(image, ""), PngReadFailed);
    EXPECT_EQ(ReadPngStream(image, nullptr), PngReadFailed);
    EXPECT_EQ(ReadPngMemory(image, nullptr, 0), PngReadFailed);
}

TEST(PngReaderTest, JapaneseSpacedAndLongNames)
{
    const test::TestPng png = MakeTestPng(TestPngLayout{});
    ScratchFolder folder;
    const std::filesystem::path sub = folder.Path() / std::filesystem::u8path("画像 フォルダ");
    std::filesystem::create_directories(sub);
    std::string longName;
    while (longName.size() < 230)
        longName += "長い名前 ";
    for (const std::string& name : {std::string("写真 1.png"), longName + ".png"}) {
        const auto path = sub / std::filesystem::u8path(name);
        test::WriteFileBytes(path, png.file);
        RgbaImage image;
        EXPECT_EQ(ReadPngFile(image, path), PngReadOk) << name;
        EXPECT_EQ(image.pixels, png.expectedRgba);
    }
}

// ---- size limits --------------------------------------------------------------------------

TEST(ImageLimitsTest, ImageBytesRefusesEmptyAndHugeWithoutOverflow)
{
    EXPECT_EQ(ImageBytes(0, 10, 4), std::nullopt);
    EXPECT_EQ(ImageBytes(10, 0, 4), std::nullopt);
    EXPECT_EQ(ImageBytes(13, 11, 4), std::size_t{13 * 11 * 4});
    EXPECT_EQ(ImageBytes(16384, 16384, 4), std::size_t{1} << 30); // exactly the limit
    EXPECT_EQ(ImageBytes(16384, 16385, 4), std::nullopt);
    EXPECT_EQ(ImageBytes(50000, 50000, 4), std::nullopt);
    EXPECT_EQ(ImageBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 4), std::nullopt);          // 2^64 would wrap
    EXPECT_EQ(ImageBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 4, UINT64_MAX), std::nullopt); // times 4 would wrap
    EXPECT_TRUE(WithinImageLimits(12000, 9000)); // a 108-megapixel photo
    EXPECT_FALSE(WithinImageLimits(MaxImageSide + 1, 1));
}

// ---- the real-world suite -----------------------------------------------------------------

/// The suite's grey and truecolour files with a tRNS colour key. The table lists them opaque; the
/// reader makes their key transparent, so for them the table holds only the colours.
bool ColourKeyed(const std::string& name)
{
    for (const char* keyed : {"tbbn0g04.png", "tbwn0g16.png", "tbbn2c16.png", "tbgn2c16.png", "tbrn2c08.png"})
        if (name == keyed)
            return true;
    return false;
}

/// The colours are the table's, and the alpha is what libpng's simplified reader, a separate road
/// through the file, makes of the key.
void ExpectColourKeyAsAlpha(const RgbaImage& image, const std::filesystem::path& path, const std::string& sha)
{
    std::vector<std::uint8_t> opaque = image.pixels;
    for (std::size_t i = 3; i < opaque.size(); i += 4)
        opaque[i] = 255;
    EXPECT_EQ(test::Sha256Hex(opaque.data(), opaque.size()), sha);
    png_image other{};
    other.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&other, path.c_str()), 0);
    other.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> otherPixels(PNG_IMAGE_SIZE(other));
    ASSERT_NE(png_image_finish_read(&other, nullptr, otherPixels.data(), 0, nullptr), 0);
    ASSERT_EQ(otherPixels.size(), image.pixels.size());
    std::size_t transparent = 0;
    for (std::size_t i = 3; i < otherPixels.size(); i += 4) {
        EXPECT_EQ(image.pixels[i], otherPixels[i]) << "pixel " << i / 4;
        transparent += image.pixels[i] == 0;
    }
    EXPECT_GT(transparent, 0u);
}

TEST(PngReaderTest, PngSuiteMatchesExpectedTable)
{
    const std::filesystem::path folder = std::filesystem::path(TESSALINE_SHARED_DIR) / "testdata" / "pngsuite";
    std::ifstream table(folder / "expected.tsv");
    if (!table)
        GTEST_SKIP() << "no shared PngSuite at " << folder;
    std::string line;
    std::getline(table, line); // header
    int files = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name, result, width, height, gamma, sha, sourceBytes;
        std::getline(fields, name, '\t');
        std::getline(fields, result, '\t');
        std::getline(fields, width, '\t');
        std::getline(fields, height, '\t');
        std::getline(fields, gamma, '\t');
        std::getline(fields, sha, '\t');
        std::getline(fields, sourceBytes, '\t');
        SCOPED_TRACE(name);
        ++files;
        RgbaImage image;
        const int code = ReadPngFile(image, folder / name);
        ASSERT_EQ(code, std::stoi(result));
        if (code != PngReadOk) {
            EXPECT_TRUE(image.Empty());
            continue;
        }
        EXPECT_EQ(image.width, std::stoul(width));
        EXPECT_EQ(image.height, std::stoul(height));
        EXPECT_NEAR(image.gamma, std::stod(gamma), 1e-12);
        if (ColourKeyed(name))
            ExpectColourKeyAsAlpha(image, folder / name, sha);
        else
            EXPECT_EQ(test::Sha256Hex(image.pixels.data(), image.pixels.size()), sha);
        EXPECT_EQ(image.sourceBytes, std::stoull(sourceBytes));
    }
    EXPECT_EQ(files, 175);
}

TEST(Sha256Test, KnownDigests)
{
    const std::string abc = "abc";
    EXPECT_EQ(test::Sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(test::Sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"; // 56 bytes: two blocks
    EXPECT_EQ(test::Sha256Hex(reinterpret_cast<const std::uint8_t*>(two.data()), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

} // namespace
} // namespace tessaline
