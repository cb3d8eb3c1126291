// tessaline-cli's reads of the files the user names besides images, run as a process: palette,
// keep and weights files never read through a neighbour's link, damaged palette PNGs refused,
// the GIMP palette forms text editors and other programs write, and palette images counted as
// inputs are.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <vector>

#include "imageio/input_names.h"
#include "imageio/palette_file.h"
#include "imageio/qt_bitmap_reader.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/neighbour_test.h"

namespace tessaline {
namespace {

using namespace clitest;

std::vector<RgbaColour> PaletteOf(const QString& path)
{
    const auto colours = ReadPaletteFile(ToPath(path), QtBitmaps());
    return colours ? *colours : std::vector<RgbaColour>{};
}

/// A whole 4 x 1 palette PNG with `entries` PLTE entries, `alphas` tRNS entries and `idat` as its
/// image data (the right data when empty).
QByteArray PalettePng(int entries, int alphas, QByteArray idat = {})
{
    QByteArray plte;
    for (int i = 0; i < entries; ++i)
        plte += QByteArray(1, char(i * 40)) + char(255 - i * 40) + char(i * 7);
    if (idat.isEmpty())
        idat = Deflate(QByteArray("\0\0\1\2\3", 5));
    QByteArray png = PngSignature() + Ihdr(4, 1, 8, 3) + Chunk("PLTE", plte);
    if (alphas > 0)
        png += Chunk("tRNS", QByteArray(alphas, char(128)));
    return png + Chunk("IDAT", idat) + Chunk("IEND", {});
}

class ReadFilesTest : public NeighbourTest
{
protected:
    void SetUp() override
    {
        NeighbourTest::SetUp();
        ASSERT_TRUE(Noise(24, 16, 3).save(Path("in.png")));
    }
};

TEST_F(ReadFilesTest, NamedFilesAreNeverReadThroughANeighboursLink)
{
    if (!Root())
        GTEST_SKIP() << "needs root and a user 'nobody'";
    MakePublicFolder("pub");
    // Root's private files, which the neighbour cannot read but would like a world-readable result of.
    ASSERT_TRUE(WriteAll(Path("secret.gpl"), "GIMP Palette\n1 2 3\n4 5 6\n"));
    ASSERT_TRUE(Noise(24, 16, 9).save(Path("secret.png")));
    for (const char* name : {"secret.gpl", "secret.png"})
        ASSERT_EQ(chmod(Bytes(Path(name)).c_str(), 0600), 0);
    const std::string pub = Bytes(Path("pub")), gpl = Bytes(Path("secret.gpl")), png = Bytes(Path("secret.png"));
    ASSERT_TRUE(AsNeighbour([&] {
        return symlink(gpl.c_str(), (pub + "/p.gpl").c_str()) == 0 &&
               symlink(png.c_str(), (pub + "/w.png").c_str()) == 0;
    }));
    for (const char* flag : {"--palette", "--keep-from"}) {
        SCOPED_TRACE(flag);
        const CliRun run = RunCli({flag, Path("pub/p.gpl"), "-o", Path("pub/out.png"), Path("in.png")});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("a link owned by another user")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Path("pub/out.png")));
    }
    const CliRun weights = RunCli({"--weights", Path("pub/w.png"), "-o", Path("pub/out.png"), Path("in.png")});
    EXPECT_EQ(weights.exitCode, 1);
    EXPECT_TRUE(weights.err.contains("a link owned by another user")) << weights.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("pub/out.png")));
    // The caller's own links are followed.
    ASSERT_EQ(symlink(gpl.c_str(), Bytes(Path("mine.gpl")).c_str()), 0);
    ASSERT_EQ(symlink(png.c_str(), Bytes(Path("mine.png")).c_str()), 0);
    EXPECT_EQ(RunCli({"-q", "--palette", Path("mine.gpl"), "-o", Path("given.png"), Path("in.png")}).exitCode, 0);
    EXPECT_EQ(RunCli({"-q", "--weights", Path("mine.png"), "-o", Path("weighted.png"), Path("in.png")}).exitCode, 0);
}

TEST_F(ReadFilesTest, DamagedPalettePngsAreUsageErrors)
{
    const QByteArray whole = PalettePng(4, 0);
    ASSERT_TRUE(WriteAll(Path("whole.png"), whole));
    ASSERT_EQ(PaletteOf(Path("whole.png")).size(), 4u);
    const int idatAt = static_cast<int>(whole.indexOf("IDAT")) - 4;
    QByteArray garbage(16, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 37 + 11);
    const QList<std::pair<const char*, QByteArray>> damaged = {
        {"cut-idat.png", whole.left(idatAt + 10)},
        {"no-iend.png", whole.left(whole.size() - 12)},
        {"garbage-idat.png", PalettePng(4, 0, garbage)},
        {"long-trns.png", PalettePng(4, 6)},
    };
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteAll(Path(name), bytes));
        const CliRun run = RunCli({"--palette", Path(name), "-o", Path("out.png"), Path("in.png")});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("damaged palette PNG")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Path("out.png")));
    }
    // A tRNS as long as the PLTE is whole.
    ASSERT_TRUE(WriteAll(Path("trns.png"), PalettePng(4, 4)));
    EXPECT_EQ(RunCli({"-q", "--palette", Path("trns.png"), "-o", Path("out.png"), Path("in.png")}).exitCode, 0);
}

TEST_F(ReadFilesTest, GimpPaletteFormsAndCounts)
{
    // A byte order mark, as some editors write, and an explicit RGB channel line.
    ASSERT_TRUE(WriteAll(Path("bom.gpl"), "\xEF\xBB\xBFGIMP Palette\nChannels: RGB\n255 0 0 red\n0 0 255 blue\n"));
    const CliRun bom = RunCli({"-q", "--palette", Path("bom.gpl"), "-o", Path("bom.png"), Path("in.png")});
    EXPECT_EQ(bom.exitCode, 0) << bom.err.toStdString();
    const std::vector<RgbaColour> redBlue = {{255, 0, 0, 255}, {0, 0, 255, 255}};
    EXPECT_EQ(PaletteOf(Path("bom.png")), redBlue);

    ASSERT_TRUE(WriteAll(Path("cmyk.gpl"), "GIMP Palette\nChannels: CMYK\n0 0 0 255\n"));
    const CliRun cmyk = RunCli({"--palette", Path("cmyk.gpl"), "-o", Path("cmyk.png"), Path("in.png")});
    EXPECT_EQ(cmyk.exitCode, 2);
    EXPECT_TRUE(cmyk.err.contains("CMYK")) << cmyk.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("cmyk.png")));

    QByteArray many = "GIMP Palette\n";
    for (int i = 0; i < 448; ++i)
        many += QByteArray::number(i % 256) + " " + QByteArray::number(i / 256) + " 0\n";
    ASSERT_TRUE(WriteAll(Path("many.gpl"), many));
    const CliRun tooMany = RunCli({"--palette", Path("many.gpl"), "-o", Path("many.png"), Path("in.png")});
    EXPECT_EQ(tooMany.exitCode, 2);
    EXPECT_TRUE(tooMany.err.contains("448 entries")) << tooMany.err.toStdString();
}

TEST_F(ReadFilesTest, TransparentPixelsOfAPaletteImageAreOneColour)
{
    // Two opaque colours and 400 fully transparent pixels that each hold other colour values.
    QImage image(20, 21, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, y == 20 ? (x % 2 ? qRgba(255, 255, 0, 255) : qRgba(0, 128, 0, 255))
                                         : qRgba(x * 12, y * 12, 7, 0));
    ASSERT_TRUE(image.save(Path("sprite.png")));
    const CliRun run = RunCli({"-q", "--palette", Path("sprite.png"), "-o", Path("out.png"), Path("in.png")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const std::vector<RgbaColour> palette = PaletteOf(Path("out.png"));
    EXPECT_EQ(palette.size(), 3u);
    EXPECT_EQ(std::count(palette.begin(), palette.end(), RgbaColour{0, 0, 0, 0}), 1);
}

} // namespace
} // namespace tessaline
