// tessaline-cli's palette options, run as a process: a given palette, kept colours, one palette
// shared by several inputs, saved palettes, bad palette files, and the default output unchanged.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>

#include "imageio/input_names.h"
#include "imageio/palette_file.h"
#include "imageio/qt_bitmap_reader.h"
#include "tests/cli/cli_test_support.h"
#include "tests/cli/palette_test_support.h"

namespace tessaline {
namespace {

using clitest::CliRun;
using clitest::Gradient;
using clitest::ReadAll;
using clitest::RunCli;
using clitest::WriteAll;

class PaletteOptionsTest : public clitest::PaletteFolderTest
{
};

TEST_F(PaletteOptionsTest, GivenPaletteIsWrittenInItsOrderAndSavedForReuse)
{
    QImage image(8, 8, QImage::Format_ARGB32);
    for (int i = 0; i < 64; ++i)
        image.setPixel(i % 8, i / 8, i % 3 == 0 ? qRgba(255, 0, 0, 255) : qRgba(0, 255, 0, 255));
    ASSERT_TRUE(image.save(Path("in.png")));
    ASSERT_TRUE(WriteAll(Path("game.gpl"),
                         "GIMP Palette\nName: game\n#\n  0   0 255\tunused\n255   0   0 red\n"
                         "  9   9   9\n  0 255   0 green\n"));
    const CliRun run = RunCli({"--palette", Path("game.gpl"), "--save-palette", Path("copy.png"), "-o",
                               Path("out.png"), Path("in.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("exact")) << run.out.toStdString();
    const std::vector<RgbaColour> expected = {
        {0, 0, 255, 255}, {255, 0, 0, 255}, {9, 9, 9, 255}, {0, 255, 0, 255}};
    EXPECT_EQ(PaletteOf("out.png"), expected);
    EXPECT_EQ(PaletteOf("copy.png"), expected);

    // The saved palette, and the result itself, serve as the palette of a later run.
    ASSERT_EQ(RunCli({"--palette", Path("copy.png"), "--save-palette", Path("copy.gpl"), "-o",
                      Path("again.png"), Path("in.png")})
                  .exitCode,
              0);
    EXPECT_EQ(ReadAll(Path("again.png")), ReadAll(Path("out.png")));
    EXPECT_EQ(PaletteOf("copy.gpl"), expected);
}

TEST_F(PaletteOptionsTest, KeptColoursAreInThePalette)
{
    ASSERT_TRUE(Gradient(1).save(Path("in.png")));
    ASSERT_TRUE(WriteAll(Path("brand.gpl"), "GIMP Palette\n 12  34  56\n200 100   0\n"));
    const CliRun run = RunCli({"--colours", "8", "--keep", "#ff00ff", "--keep", "#00FF0080", "--keep-from",
                               Path("brand.gpl"), "-o", Path("out.png"), Path("in.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const std::vector<RgbaColour> palette = PaletteOf("out.png");
    EXPECT_LE(palette.size(), 8u);
    for (const RgbaColour kept : {RgbaColour{255, 0, 255, 255}, RgbaColour{0, 255, 0, 128},
                                  RgbaColour{12, 34, 56, 255}, RgbaColour{200, 100, 0, 255}})
        EXPECT_NE(std::find(palette.begin(), palette.end(), kept), palette.end()) << int(kept[0]);

    EXPECT_EQ(RunCli({"--keep", "red", Path("in.png")}).exitCode, 2);
    EXPECT_EQ(RunCli({"--keep", "#123", Path("in.png")}).exitCode, 2);
    EXPECT_EQ(
        RunCli({"--colours", "2", "--keep-from", Path("brand.gpl"), "--keep", "#000000", Path("in.png")})
            .exitCode,
        2);
}

TEST_F(PaletteOptionsTest, SharedPaletteIsTheSameInEveryOutputAndWithAnyJobs)
{
    ASSERT_TRUE(QDir().mkpath(Path("set")));
    for (int seed = 0; seed < 3; ++seed)
        ASSERT_TRUE(Gradient(seed, 40 + seed * 8).save(Path(QString("set/s%1.png").arg(seed))));
    const QStringList files = {Path("set/s0.png"), Path("set/s1.png"), Path("set/s2.png")};
    const CliRun one =
        RunCli(QStringList{"-q", "--shared-palette", "--colours", "16", "--output-dir", Path("one"),
                           "--report", Path("one.csv"), "--save-palette", Path("shared.gpl")} +
               files);
    ASSERT_EQ(one.exitCode, 0) << one.err.toStdString();
    const CliRun walked =
        RunCli({"-q", "--shared-palette", "--colours", "16", "-j", "3", "-r", "--output-dir", Path("walked"),
                "--report", Path("walked.jsonl"), Path("set")});
    ASSERT_EQ(walked.exitCode, 0) << walked.err.toStdString();
    const std::vector<RgbaColour> shared = PaletteOf("shared.gpl");
    ASSERT_FALSE(shared.empty());
    for (const char* name : {"s0.png", "s1.png", "s2.png"}) {
        EXPECT_EQ(PaletteOf(QString("one/") + name), shared) << name;
        EXPECT_EQ(ReadAll(Path(QString("one/") + name)), ReadAll(Path(QString("walked/") + name))) << name;
    }
    EXPECT_EQ(ReadAll(Path("one.csv")).split('\n')[0].split(',').last(), "palette");
    EXPECT_EQ(ReadAll(Path("one.csv")).count(",shared\n"), 3);
    EXPECT_EQ(ReadAll(Path("walked.jsonl")).count("\"palette\": \"shared\""), 3);
}

TEST_F(PaletteOptionsTest, BadPaletteFilesAreUsageErrors)
{
    ASSERT_TRUE(Gradient(2).save(Path("in.png")));
    ASSERT_TRUE(Gradient(3, 64).save(Path("many.png"))); // thousands of colours
    QByteArray tooMany = "GIMP Palette\n";
    for (int i = 0; i < 257; ++i)
        tooMany += QByteArray::number(i % 256) + " 0 0\n";
    ASSERT_TRUE(WriteAll(Path("empty.gpl"), "GIMP Palette\nName: nothing\n#\n"));
    ASSERT_TRUE(WriteAll(Path("toomany.gpl"), tooMany));
    ASSERT_TRUE(WriteAll(Path("truncated.gpl"), "GIMP Palette\n255 0 0\n0 25"));
    ASSERT_TRUE(WriteAll(Path("empty.png"), ""));
    for (const QString bad :
         {"empty.gpl", "toomany.gpl", "truncated.gpl", "missing.gpl", "empty.png", "many.png"}) {
        for (const char* flag : {"--palette", "--keep-from"}) {
            SCOPED_TRACE(bad.toStdString() + " " + flag);
            const CliRun run = RunCli({flag, Path(bad), "-o", Path("out.png"), Path("in.png")});
            EXPECT_EQ(run.exitCode, 2);
            EXPECT_EQ(run.ErrLines().size(), 1) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(bad)) << run.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(Path("out.png")));
        }
    }
}

// The palette options change nothing when none is given: known results of shared images.
TEST_F(PaletteOptionsTest, DefaultOutputIsUnchangedOnSharedImages)
{
    const QString images = QString(TESSALINE_SHARED_DIR) + "/testdata/images";
    if (!QFileInfo::exists(images + "/icon-system-run.png"))
        GTEST_SKIP() << "no shared images in " << images.toStdString();
    const std::pair<const char*, const char*> known[] = {
        {"icon-system-run.png", "5260d481b6c981cd967581afe24f0528c78e96b655e53ef9768a0de1a001adbf"},
        {"photo-painting-colors.png", "286baf3e50f82314482661f4359ce0d15e9eca5e9d4e6b56d8bfb9e014221b6f"},
    };
    for (const auto& [name, sha256] : known) {
        SCOPED_TRACE(name);
        ASSERT_EQ(RunCli({"-q", "-o", Path(name), images + "/" + name}).exitCode, 0);
        EXPECT_EQ(QCryptographicHash::hash(ReadAll(Path(name)), QCryptographicHash::Sha256).toHex(), sha256);
    }
}

} // namespace
} // namespace tessaline
