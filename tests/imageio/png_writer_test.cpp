#include "imageio/png_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "imageio/atomic_file.h"
#include "imageio/png_reader.h"
#include "tests/imageio/png_test_helpers.h"

namespace tessaline {
namespace {

using test::ParseChunks;
using test::ScratchFolder;

/// A result-like image: indices cycle through the palette, colours and alphas distinct.
IndexedImage MakeIndexed(std::uint32_t width, std::uint32_t height, std::uint32_t paletteSize,
                         std::uint32_t transparentCount, double gamma = 0.45454999804496765)
{
    IndexedImage image;
    image.width = width;
    image.height = height;
    image.gamma = gamma;
    image.paletteSize = paletteSize;
    image.transparentCount = transparentCount;
    image.pixels.resize(std::size_t{width} * height);
    std::uint32_t state = 12345;
    for (auto& index : image.pixels) {
        state = state * 1664525u + 1013904223u;
        index = static_cast<std::uint8_t>((state >> 16) % paletteSize);
    }
    image.rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y)
        image.rows[y] = image.pixels.data() + std::size_t{y} * width;
    for (std::uint32_t i = 0; i < 256; ++i) {
        image.paletteRgb[3 * i] = static_cast<std::uint8_t>(i * 3);
        image.paletteRgb[3 * i + 1] = static_cast<std::uint8_t>(255 - i);
        image.paletteRgb[3 * i + 2] = static_cast<std::uint8_t>(i * 7);
        // Every entry has an alpha below 255; only the first transparentCount may reach the file.
        image.paletteAlpha[i] = static_cast<std::uint8_t>(i % 200);
    }
    return image;
}

std::vector<std::string> ChunkTypes(const std::vector<test::PngChunk>& chunks)
{
    std::vector<std::string> types;
    for (const auto& chunk : chunks)
        if (types.empty() || chunk.type != "IDAT" || types.back() != "IDAT")
            types.push_back(chunk.type);
    return types;
}

std::vector<std::uint8_t> WriteAndLoad(const IndexedImage& image, const ScratchFolder& folder,
                                       const std::string& name = "out.png")
{
    const auto path = folder.Path() / name;
    EXPECT_EQ(WritePngFile(image, path), PngWriteOk);
    return test::ReadFileBytes(path);
}

TEST(PngWriterTest, BitDepthFollowsPaletteSize)
{
    EXPECT_EQ(PaletteBitDepth(1), 1);
    EXPECT_EQ(PaletteBitDepth(2), 1);
    EXPECT_EQ(PaletteBitDepth(3), 2);
    EXPECT_EQ(PaletteBitDepth(4), 2);
    EXPECT_EQ(PaletteBitDepth(5), 4);
    EXPECT_EQ(PaletteBitDepth(16), 4);
    EXPECT_EQ(PaletteBitDepth(17), 8);
    EXPECT_EQ(PaletteBitDepth(256), 8);
}

class PngWriterPaletteTest : public ::testing::TestWithParam<std::uint32_t>
{
};

TEST_P(PngWriterPaletteTest, FileHasTheDescribedLayoutAndReadsBack)
{
    const std::uint32_t paletteSize = GetParam();
    const std::uint32_t transparentCount = paletteSize / 2;
    const IndexedImage image = MakeIndexed(9, 7, paletteSize, transparentCount);
    ScratchFolder folder;
    const auto file = WriteAndLoad(image, folder);
    const auto chunks = ParseChunks(file);
    ASSERT_FALSE(chunks.empty());

    std::vector<std::string> expected = {"IHDR", "gAMA", "PLTE"};
    if (transparentCount > 0)
        expected.push_back("tRNS");
    expected.insert(expected.end(), {"IDAT", "IEND"});
    EXPECT_EQ(ChunkTypes(chunks), expected);

    const auto& ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(test::BigEndian32(&ihdr[0]), 9u);
    EXPECT_EQ(test::BigEndian32(&ihdr[4]), 7u);
    const int depth = PaletteBitDepth(paletteSize);
    EXPECT_EQ(ihdr[8], depth);
    EXPECT_EQ(ihdr[9], PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(ihdr[10], 0); // compression
    EXPECT_EQ(ihdr[11], 0); // filter method
    EXPECT_EQ(ihdr[12], 0); // no interlacing
    EXPECT_EQ(test::BigEndian32(chunks[1].data.data()), 45455u);
    EXPECT_EQ(chunks[2].data.size(), 3u * paletteSize);
    EXPECT_TRUE(std::equal(chunks[2].data.begin(), chunks[2].data.end(), image.paletteRgb.begin()));
    if (transparentCount > 0) {
        EXPECT_EQ(chunks[3].data.size(), transparentCount);
        EXPECT_TRUE(std::equal(chunks[3].data.begin(), chunks[3].data.end(), image.paletteAlpha.begin()));
    }

    // Unfiltered rows packed to the depth in a well-formed zlib stream.
    const auto raw = test::InflateImageData(chunks);
    const std::size_t rowBytes = (9 * depth + 7) / 8;
    ASSERT_EQ(raw.size(), 7 * (1 + rowBytes));
    for (std::uint32_t y = 0; y < 7; ++y)
        EXPECT_EQ(raw[y * (1 + rowBytes)], 0) << "row " << y << " is filtered";
    std::vector<std::uint8_t> idat;
    for (const auto& chunk : chunks)
        if (chunk.type == "IDAT")
            idat.insert(idat.end(), chunk.data.begin(), chunk.data.end());
    ASSERT_GE(idat.size(), 2u);
    EXPECT_EQ(idat[0] & 0x0f, 8) << "not a deflate stream";
    EXPECT_LE(idat[0] >> 4, 7) << "window larger than 32 KiB";
    EXPECT_EQ((idat[0] * 256 + idat[1]) % 31, 0) << "zlib header check fails";

    // Read back: palette colours, alpha from tRNS for the leading entries, opaque after them.
    RgbaImage back;
    ASSERT_EQ(ReadPngMemory(back, file.data(), file.size()), PngReadOk);
    ASSERT_EQ(back.width, 9u);
    ASSERT_EQ(back.height, 7u);
    EXPECT_EQ(back.gamma, 45455 * 0.00001);
    for (std::size_t p = 0; p < image.pixels.size(); ++p) {
        const std::uint8_t index = image.pixels[p];
        ASSERT_EQ(back.pixels[4 * p], image.paletteRgb[3 * index]);
        ASSERT_EQ(back.pixels[4 * p + 1], image.paletteRgb[3 * index + 1]);
        ASSERT_EQ(back.pixels[4 * p + 2], image.paletteRgb[3 * index + 2]);
        ASSERT_EQ(back.pixels[4 * p + 3], index < transparentCount ? image.paletteAlpha[index] : 255);
    }
}

INSTANTIATE_TEST_SUITE_P(PaletteSizes, PngWriterPaletteTest,
                         ::testing::Values(1u, 2u, 3u, 4u, 5u, 16u, 17u, 200u, 256u));

TEST(PngWriterTest, OneBitNineWideHasTwoByteRows)
{
    ScratchFolder folder;
    const auto chunks = ParseChunks(WriteAndLoad(MakeIndexed(9, 3, 2, 0), folder));
    EXPECT_EQ(test::InflateImageData(chunks).size(), 3u * (1 + 2));
}

TEST(PngWriterTest, TrnsOnlyWhenSomeEntryIsTranslucent)
{
    ScratchFolder folder;
    const auto none = ParseChunks(WriteAndLoad(MakeIndexed(4, 4, 20, 0), folder, "a.png"));
    EXPECT_EQ(ChunkTypes(none), (std::vector<std::string>{"IHDR", "gAMA", "PLTE", "IDAT", "IEND"}));
    const auto all = ParseChunks(WriteAndLoad(MakeIndexed(4, 4, 20, 20), folder, "b.png"));
    ASSERT_EQ(all[3].type, "tRNS");
    EXPECT_EQ(all[3].data.size(), 20u);
}

TEST(PngWriterTest, GamaOnlyWhenGammaIsPositive)
{
    ScratchFolder folder;
    for (double gamma : {0.0, -1.0}) {
        const auto chunks = ParseChunks(WriteAndLoad(MakeIndexed(4, 4, 8, 2, gamma), folder));
        EXPECT_EQ(ChunkTypes(chunks), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
    }
    const auto chunks = ParseChunks(WriteAndLoad(MakeIndexed(4, 4, 8, 2, 1.0), folder));
    ASSERT_EQ(chunks[1].type, "gAMA");
    EXPECT_EQ(test::BigEndian32(chunks[1].data.data()), 100000u);
}

TEST(PngWriterTest, OutputPassesPngcheck)
{
    if (std::system("pngcheck -h >/dev/null 2>&1") == 127 || std::system("command -v pngcheck >/dev/null") != 0)
        GTEST_SKIP() << "pngcheck is not installed";
    ScratchFolder folder;
    for (std::uint32_t paletteSize : {2u, 4u, 16u, 256u}) {
        const auto path = folder.Path() / ("check " + std::to_string(paletteSize) + ".png");
        ASSERT_EQ(WritePngFile(MakeIndexed(33, 17, paletteSize, paletteSize / 3), path), PngWriteOk);
        const std::string command = "pngcheck -q '" + path.string() + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << path;
    }
}

// ---- nothing lost -------------------------------------------------------------------------

TEST(PngWriterTest, ReplacesAnExistingFileAndLeavesNoTemporary)
{
    ScratchFolder folder;
    const auto path = folder.Path() / "result.png";
    test::WriteFileBytes(path, {'o', 'l', 'd'});
    ASSERT_EQ(WritePngFile(MakeIndexed(5, 5, 4, 1), path), PngWriteOk);
    RgbaImage back;
    EXPECT_EQ(ReadPngFile(back, path), PngReadOk);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"result.png"});
}

TEST(PngWriterTest, RefusedImageKeepsTheOldFile)
{
    ScratchFolder folder;
    const auto path = folder.Path() / "result.png";
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    test::WriteFileBytes(path, old);

    IndexedImage noRows = MakeIndexed(5, 5, 4, 1);
    noRows.rows.clear();
    IndexedImage noPalette = MakeIndexed(5, 5, 4, 0);
    noPalette.paletteSize = 0;
    IndexedImage tooManyTransparent = MakeIndexed(5, 5, 4, 0);
    tooManyTransparent.transparentCount = 5;
    IndexedImage hugeGamma = MakeIndexed(5, 5, 4, 0, 1e9); // libpng refuses it mid-way
    for (const IndexedImage* image : {&noRows, &noPalette, &tooManyTransparent, &hugeGamma}) {
        EXPECT_EQ(WritePngFile(*image, path), PngWriteFailed);
        EXPECT_EQ(test::ReadFileBytes(path), old);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"result.png"});
    }
    EXPECT_EQ(WritePngFile(IndexedImage{}, path), PngWriteFailed);
    EXPECT_EQ(test::ReadFileBytes(path), old);
}

TEST(PngWriterTest, MissingFolderGivesSixteenAndCreatesNothing)
{
    ScratchFolder folder;
    const auto path = folder.Path() / "no such folder" / "result.png";
    EXPECT_EQ(WritePngFile(MakeIndexed(5, 5, 4, 1), path), PngWriteFailed);
    EXPECT_TRUE(folder.Names().empty());
}

TEST(PngWriterTest, FolderAsTargetFailsCleanly)
{
    ScratchFolder folder;
    const auto target = folder.Path() / "taken.png";
    std::filesystem::create_directory(target);
    EXPECT_EQ(WritePngFile(MakeIndexed(5, 5, 4, 1), target), PngWriteFailed);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.png"});
}

TEST(PngWriterTest, JapaneseSpacedAndLongNames)
{
    ScratchFolder folder;
    const auto sub = folder.Path() / std::filesystem::u8path("出力 OUTPUT");
    std::filesystem::create_directory(sub);
    std::string longName;
    while (longName.size() < 246) // with ".png" 250 bytes: the ".tmp" beside it would not fit
        longName += "減色";
    for (const std::string& name : {std::string("結果 画像.png"), longName + ".png"}) {
        const auto path = sub / std::filesystem::u8path(name);
        ASSERT_EQ(WritePngFile(MakeIndexed(6, 6, 16, 3), path), PngWriteOk) << name;
        RgbaImage back;
        EXPECT_EQ(ReadPngFile(back, path), PngReadOk);
    }
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(sub)) {
        EXPECT_EQ(entry.path().extension(), ".png");
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

TEST(PngWriterTest, TemporaryIsHiddenAndBesideTheTarget)
{
    ScratchFolder folder;
    for (const std::string& name : {std::string("name.png"), std::string(251, 'a') + ".png"}) {
        const auto target = folder.Path() / name;
        std::vector<std::string> seen;
        ASSERT_TRUE(WriteFileSafely(target, [&](std::FILE* stream) {
            seen = folder.Names(); // while the bytes are being written
            return std::fputs("bytes", stream) >= 0;
        }));
        ASSERT_EQ(seen.size(), 1u) << name;
        EXPECT_TRUE(IsTemporaryName(seen.front())) << seen.front();
        EXPECT_LE(seen.front().size(), 255u);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
        std::filesystem::remove(target);
    }
}

#if !defined(_WIN32)
TEST(PngWriterTest, FullDeviceIsAFailure)
{
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr)
        GTEST_SKIP() << "no /dev/full";
    std::setvbuf(full, nullptr, _IONBF, 0); // every write reaches the device
    EXPECT_EQ(WritePngStream(MakeIndexed(5, 5, 4, 1), full), PngWriteFailed);
    std::fclose(full);
}

TEST(PngWriterTest, FileSizeLimitMidWriteKeepsTheOldFile)
{
    // A disk that fills up while the file is written: the process may write only 1000 bytes.
    ScratchFolder folder;
    const auto path = folder.Path() / "result.png";
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    test::WriteFileBytes(path, old);
    IndexedImage image = MakeIndexed(256, 256, 256, 10); // random indices: about 64 KiB
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int code = WritePngFile(image, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(code, PngWriteFailed);
    EXPECT_EQ(test::ReadFileBytes(path), old);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"result.png"});
}

TEST(PngWriterTest, FailureSeenOnlyWhenFlushingKeepsTheOldFile)
{
    // A small file sits in the stream's buffer until it is flushed: only fflush or fclose fail.
    ScratchFolder folder;
    const auto path = folder.Path() / "result.png";
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    test::WriteFileBytes(path, old);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const int code = WritePngFile(MakeIndexed(3, 3, 2, 0), path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(code, PngWriteFailed);
    EXPECT_EQ(test::ReadFileBytes(path), old);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"result.png"});
}
#endif

} // namespace
} // namespace tessaline

namespace tessaline {
namespace {

TEST(PngWriterTest, EncodedBytesAreTheWrittenFileAndSaveAsIs)
{
    ScratchFolder folder;
    for (const std::uint32_t paletteSize : {2u, 16u, 256u}) {
        const IndexedImage image = MakeIndexed(33, 17, paletteSize, paletteSize / 2);
        const std::vector<std::uint8_t> encoded = EncodePng(image);
        ASSERT_FALSE(encoded.empty());
        EXPECT_EQ(encoded, WriteAndLoad(image, folder)) << paletteSize;

        // Saving the encoded bytes goes the same safe way and gives the same file.
        const auto copy = folder.Path() / "copy.png";
        std::FILE* stale = std::fopen(copy.c_str(), "wb");
        ASSERT_NE(stale, nullptr);
        std::fputs("an older file", stale);
        std::fclose(stale);
        ASSERT_EQ(WritePngBytes(encoded, copy), PngWriteOk);
        EXPECT_EQ(test::ReadFileBytes(copy), encoded);
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
            EXPECT_FALSE(IsTemporaryName(entry.path().filename())) << entry.path();
    }

    // No encoding of an image that is not a result, and nothing to save from it.
    EXPECT_TRUE(EncodePng(IndexedImage()).empty());
    const auto missing = folder.Path() / "missing.png";
    EXPECT_EQ(WritePngBytes({}, missing), PngWriteFailed);
    EXPECT_EQ(WritePngBytes({1, 2, 3}, folder.Path() / "no-such-folder" / "x.png"), PngWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

} // namespace
} // namespace tessaline
