// tessaline-cli's colour targets and curve, run as a process on images written here: the count a
// target chooses, what a missed target writes, the neighbour a size target checks, results equal to
// plain runs at the chosen count, --only-if-smaller and the curve in the report.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "cli/cli_options.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using clitest::CliRun;
using clitest::ReadAll;
using clitest::RunCli;

class ColourTargetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // Gradients with fine detail: every count gives a different result and size.
        QImage image(80, 48, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgba(x * 3, (y * 5 + x) & 255, ((x ^ y) * 7) & 255, 255));
        ASSERT_TRUE(image.save(Path("picture.png")));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    // The one JSON record of a report of one input.
    static QJsonObject Record(const QString& path) { return QJsonDocument::fromJson(ReadAll(path)).object(); }
    CliRun Plain(int colours, const QString& output)
    {
        return RunCli({"--colours", QString::number(colours), "-o", Path(output), Path("picture.png")});
    }

    QTemporaryDir dir;
};

TEST_F(ColourTargetTest, FlatImageReachesAnyQualityTargetWithTwoColoursOrExactly)
{
    QImage flat(24, 24, QImage::Format_ARGB32);
    flat.fill(qRgba(30, 140, 200, 255));
    ASSERT_TRUE(flat.save(Path("flat.png")));
    const CliRun run = RunCli({"--colours", "auto", "--min-psnr", "90", "--max-error", "0", "--report",
                               Path("flat.jsonl"), "-o", Path("flat-out.png"), Path("flat.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject record = Record(Path("flat.jsonl"));
    EXPECT_EQ(record["status"].toString(), "ok");
    EXPECT_TRUE(record["psnr"].isNull()); // exact
    EXPECT_EQ(record["max_error"].toInt(), 0);
    EXPECT_LE(record["palette_size"].toInt(), 2);
    EXPECT_TRUE(run.out.contains("; 2-colour palette for 90.0 dB and max error 0")) << run.out.toStdString();
}

TEST_F(ColourTargetTest, TargetBeyondTheMostColoursWritesTheirResultAsMissed)
{
    const CliRun plain = Plain(256, "plain.png");
    ASSERT_EQ(plain.exitCode, 0);
    const CliRun run = RunCli({"--colours", "auto", "--min-psnr", "200", "--report", Path("missed.jsonl"),
                               "-o", Path("missed.png"), Path("picture.png")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("target 200.0 dB missed even with a 256-colour palette")) << run.out.toStdString();
    EXPECT_EQ(Record(Path("missed.jsonl"))["status"].toString(), "missed");
    EXPECT_EQ(ReadAll(Path("missed.png")), ReadAll(Path("plain.png")));

    // --strict fails the file, and still writes it.
    const CliRun strict =
        RunCli({"--min-psnr", "200", "--strict", "-o", Path("strict.png"), Path("picture.png")});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_TRUE(strict.err.contains("target missed")) << strict.err.toStdString();
    EXPECT_EQ(ReadAll(Path("strict.png")), ReadAll(Path("plain.png")));
}

TEST_F(ColourTargetTest, SizeTargetFitsOneMoreColourDoesNotAndEqualsThePlainRun)
{
    ASSERT_EQ(Plain(256, "most.png").exitCode, 0);
    const qsizetype limit = ReadAll(Path("most.png")).size() * 3 / 5;
    const CliRun run =
        RunCli({"--max-bytes", QString::number(limit), "-o", Path("sized.png"), Path("picture.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QRegularExpressionMatch chosen =
        QRegularExpression("; (\\d+)-colour palette for (\\d+) bytes in \\d+ reductions \\((\\d+): (\\d+) bytes\\)")
            .match(run.out);
    ASSERT_TRUE(chosen.hasMatch()) << run.out.toStdString();
    const int colours = chosen.captured(1).toInt();
    EXPECT_EQ(chosen.captured(3).toInt(), colours + 1);
    const QByteArray sized = ReadAll(Path("sized.png"));
    EXPECT_LE(sized.size(), limit);

    // The same bytes as a plain run at that count; one more colour's plain run does not fit.
    ASSERT_EQ(Plain(colours, "at.png").exitCode, 0);
    EXPECT_EQ(sized, ReadAll(Path("at.png")));
    ASSERT_EQ(Plain(colours + 1, "beyond.png").exitCode, 0);
    EXPECT_GT(ReadAll(Path("beyond.png")).size(), limit);
    EXPECT_EQ(ReadAll(Path("beyond.png")).size(), chosen.captured(4).toInt());
}

TEST_F(ColourTargetTest, OnlyIfSmallerLeavesAnAlreadySmallPaletteFileAlone)
{
    // The smallest encoding of a palette image: reduced again at the default compression, the
    // same picture comes out larger.
    ASSERT_EQ(RunCli({"--compression", "max", "-o", Path("small.png"), Path("picture.png")}).exitCode, 0);
    const CliRun run = RunCli(
        {"--only-if-smaller", "--report", Path("larger.jsonl"), "-o", Path("again.png"), Path("small.png")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("again.png")));
    EXPECT_TRUE(run.out.contains("not written")) << run.out.toStdString();
    const QJsonObject record = Record(Path("larger.jsonl"));
    EXPECT_EQ(record["status"].toString(), "larger");
    EXPECT_TRUE(record["output_bytes"].isNull());
    // A result that is smaller is written as usual: noise in full colour shrinks to a palette.
    QImage noise(64, 64, QImage::Format_ARGB32);
    std::uint32_t state = 7;
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            noise.setPixel(x, y, qRgba(state >> 24, (state >> 16) & 255, (state >> 8) & 255, 255));
        }
    ASSERT_TRUE(noise.save(Path("noise.png")));
    EXPECT_EQ(RunCli({"--only-if-smaller", "-o", Path("noise-out.png"), Path("noise.png")}).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(Path("noise-out.png")));
}

TEST_F(ColourTargetTest, CurveIsPrintedAndCarriedInTheReport)
{
    ASSERT_EQ(Plain(16, "sixteen.png").exitCode, 0);
    const CliRun run = RunCli(
        {"--curve", "2,16", "--report", Path("curve.jsonl"), "-o", Path("curve.png"), Path("picture.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("colour curve:")) << run.out.toStdString();
    const QJsonArray curve = Record(Path("curve.jsonl"))["curve"].toArray();
    ASSERT_EQ(curve.size(), 2);
    EXPECT_EQ(curve[0].toObject()["colours"].toInt(), 2);
    EXPECT_EQ(curve[1].toObject()["colours"].toInt(), 16);
    EXPECT_EQ(curve[1].toObject()["bytes"].toInt(), ReadAll(Path("sixteen.png")).size());
    // The file written is the plain run's at the panel's count.
    ASSERT_EQ(Plain(256, "plain.png").exitCode, 0);
    EXPECT_EQ(ReadAll(Path("curve.png")), ReadAll(Path("plain.png")));
}

TEST(ColourTargetOptionsTest, SizesTargetsAndCurveParse)
{
    EXPECT_EQ(ParseByteSize("120k"), std::uint64_t{122880});
    EXPECT_EQ(ParseByteSize("1.5M"), std::uint64_t{1572864});
    EXPECT_EQ(ParseByteSize("5000"), std::uint64_t{5000});
    for (const char* bad : {"0", "-3", "12q", "", "k"})
        EXPECT_FALSE(ParseByteSize(bad)) << bad;
    const auto parse = [](QStringList arguments) {
        return ParseCliOptions(QStringList{"tessaline-cli"} + arguments);
    };
    EXPECT_EQ(parse({"--colours", "auto", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(parse({"--min-psnr", "40", "--max-bytes", "10k", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(parse({"--max-error", "300", "a.png"}).action, CliAction::UsageError);
    const CliParseResult automatic = parse({"--colours", "auto", "--min-psnr", "40", "a.png"});
    ASSERT_EQ(automatic.action, CliAction::Run);
    EXPECT_EQ(automatic.options.settings[Setting::Colours], 256);
    // --curve takes a list only when one follows it.
    const CliParseResult listed = parse({"--curve", "4,8", "a.png"});
    ASSERT_EQ(listed.action, CliAction::Run);
    EXPECT_EQ(listed.options.curveCounts, (std::vector<std::uint32_t>{4, 8}));
    EXPECT_EQ(listed.options.inputs, QStringList{"a.png"});
    const CliParseResult plain = parse({"--curve", "a.png"});
    ASSERT_EQ(plain.action, CliAction::Run);
    EXPECT_TRUE(plain.options.curve);
    EXPECT_TRUE(plain.options.curveCounts.empty());
    EXPECT_EQ(plain.options.inputs, QStringList{"a.png"});
}

} // namespace
} // namespace tessaline
