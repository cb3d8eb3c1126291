// tessaline-cli's messages and small promises, through the built tool: names printed with every
// invisible or direction-steering character escaped, ranges and figures said as they are, flags
// that win over a preset wherever they stand, no empty pipe from --only-if-smaller, and the
// index bits written as asked.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

/// A 64 x 64 RGB PNG of smooth gradients: thousands of colours, so that every setting counts.
QByteArray GradientPng()
{
    QByteArray rows;
    for (int y = 0; y < 64; ++y) {
        rows.append('\0');
        for (int x = 0; x < 64; ++x) {
            rows.append(static_cast<char>(x * 4));
            rows.append(static_cast<char>(y * 4));
            rows.append(static_cast<char>((x + y) * 2));
        }
    }
    return PngSignature() + Ihdr(64, 64, 8, 2) + Chunk("IDAT", Deflate(rows)) + Chunk("IEND", {});
}

class MessagesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(WriteAll(Path("gradient.png"), GradientPng()));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(MessagesTest, NamesShowEveryInvisibleOrDirectionCharacterEscaped)
{
    // Each of these shows nothing (or turns what follows) on a terminal: a name holding one could
    // pass for another. The summary line and the report show them as \u{...}.
    const std::vector<char32_t> hidden = {0xFEFF, 0x2060, 0x00AD, 0x061C, 0x034F, 0x206A,
                                          0x206F, 0x3164, 0x115F, 0x1160, 0xFFA0, 0xE0041};
    // Built unit by unit: QString::fromUcs4 would drop U+FEFF as a byte order mark.
    const auto text = [](char32_t code) {
        if (code < 0x10000)
            return QString(QChar(static_cast<char16_t>(code)));
        const QChar pair[] = {QChar(QChar::highSurrogate(code)), QChar(QChar::lowSurrogate(code))};
        return QString(pair, 2);
    };
    QString name = "a";
    for (const char32_t code : hidden)
        name += text(code);
    name += ".png";
    ASSERT_TRUE(WriteAll(Path(name), GradientPng()));
    const CliRun run = RunCli({"--colours", "8", "--report", Path("r.jsonl"), "--output-dir", Path("out"),
                               Path(name)});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QString shown = QString("a\\u{feff}\\u{2060}\\u{00ad}\\u{061c}\\u{034f}\\u{206a}\\u{206f}\\u{3164}"
                                  "\\u{115f}\\u{1160}\\u{ffa0}\\u{e0041}.png");
    EXPECT_TRUE(run.out.contains(shown)) << run.out.toStdString();
    for (const char32_t code : hidden)
        EXPECT_FALSE(run.out.contains(text(code))) << std::hex << static_cast<unsigned>(code);
    EXPECT_TRUE(QString::fromUtf8(ReadAll(Path("r.jsonl"))).contains(shown.replace("\\", "\\\\")));
    // Visible text from other scripts stays as it is.
    ASSERT_TRUE(WriteAll(Path("写真-фото.png"), GradientPng()));
    const CliRun plain = RunCli({"--colours", "8", "--output-dir", Path("out"), Path("写真-фото.png")});
    EXPECT_TRUE(plain.out.contains("写真-фото.png")) << plain.out.toStdString();
}

TEST_F(MessagesTest, RangesAndFiguresAreSaidAsTheyAre)
{
    // The range --min-psnr takes, said when a value is out of it.
    const CliRun psnr = RunCli({"--min-psnr", "1e4", Path("gradient.png")});
    EXPECT_EQ(psnr.exitCode, 2);
    EXPECT_TRUE(psnr.err.contains("--min-psnr wants decibels above 0 and at most 1000, not '1e4'"))
        << psnr.err.toStdString();

    // A target's count is a palette size, the summary's first figure the entries in use: the two
    // are never both called "colours".
    const CliRun target = RunCli({"--max-error", "40", "-o", Path("target.png"), Path("gradient.png")});
    ASSERT_EQ(target.exitCode, 0) << target.err.toStdString();
    EXPECT_TRUE(target.out.contains(QRegularExpression(
        " \\(\\d+ colours, .*; \\d+-colour palette for max error 40 in \\d+ reductions")))
        << target.out.toStdString();
    EXPECT_FALSE(target.out.contains(" colours for ")) << target.out.toStdString();
}

TEST_F(MessagesTest, FlagsWinOverAPresetWhereverTheyStand)
{
    const auto result = [this](const QStringList& flags, const QString& out) {
        const CliRun run = RunCli(QStringList{"--colours", "16", "-o", Path(out)} + flags + QStringList{Path("gradient.png")});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return ReadAll(Path(out));
    };
    const QByteArray presetAlone = result({"--preset", "fast"}, "fast.png");
    const QByteArray after = result({"--preset", "fast", "--voronoi", "7", "--feedback", "49"}, "after.png");
    const QByteArray before = result({"--voronoi", "7", "--feedback", "49", "--preset", "fast"}, "before.png");
    ASSERT_NE(after, presetAlone); // the flags matter on this image
    EXPECT_EQ(before, after);
}

TEST_F(MessagesTest, OnlyIfSmallerNeverLeavesAPipeEmpty)
{
    const CliRun run = RunCli({"--only-if-smaller", "-o", "-", Path("gradient.png")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("--only-if-smaller cannot write to standard output")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
}

TEST_F(MessagesTest, IndexBitsAreTheFewestUnlessEightAreAskedFor)
{
    for (const int colours : {2, 4, 16, 200}) {
        SCOPED_TRACE(colours);
        const QString count = QString::number(colours);
        const CliRun fewest = RunCli({"--colours", count, "-o", Path("fewest.png"), Path("gradient.png")});
        const CliRun eight =
            RunCli({"--eight-bit-indices", "--colours", count, "-o", Path("eight.png"), Path("gradient.png")});
        ASSERT_EQ(fewest.exitCode, 0) << fewest.err.toStdString();
        ASSERT_EQ(eight.exitCode, 0) << eight.err.toStdString();
        const int expectedDepth = colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
        EXPECT_EQ(ReadAll(Path("fewest.png")).at(24), expectedDepth);
        EXPECT_EQ(ReadAll(Path("eight.png")).at(24), 8);
        EXPECT_EQ(ReadAll(Path("eight.png")).at(25), 3); // still a palette image
        // The same image either way.
        RgbaImage a;
        RgbaImage b;
        ASSERT_EQ(ReadPngFile(a, ToPath(Path("fewest.png"))), PngReadOk);
        ASSERT_EQ(ReadPngFile(b, ToPath(Path("eight.png"))), PngReadOk);
        EXPECT_EQ(a.pixels, b.pixels);
    }
}

} // namespace
} // namespace tessaline
