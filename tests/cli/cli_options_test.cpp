#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <QImage>

#include <utility>

#include "engine/colour_model.h"
#include "imageio/png_writer.h"
#include "jobs/painted_weights.h"
#include "worker/reduce_thread.h"

namespace tessaline {
namespace {

CliParseResult Parse(QStringList arguments)
{
    arguments.prepend("tessaline-cli");
    return ParseCliOptions(arguments);
}

TEST(CliOptionsTest, DefaultsAreThePanelsStartUpState)
{
    const CliParseResult parsed = Parse({"in.png"});
    ASSERT_EQ(parsed.action, CliAction::Run) << parsed.text.toStdString();
    const CliOptions& o = parsed.options;
    const SettingValues& s = o.settings;
    EXPECT_EQ(s[Setting::Colours], 256);
    EXPECT_EQ(EffectiveOpacity(s), 256);
    EXPECT_TRUE(s.On(Setting::Dither));
    EXPECT_FALSE(s.On(Setting::TransparentLast));
    EXPECT_TRUE(s.On(Setting::ContrastMap));
    EXPECT_TRUE(s.On(Setting::DitherMap));
    EXPECT_FALSE(s.On(Setting::FastHistogram));
    EXPECT_EQ(s[Setting::Histogram], 10);
    EXPECT_EQ(s[Setting::Feedback], 49);
    EXPECT_EQ(s[Setting::Voronoi], 7);
    EXPECT_EQ(s[Setting::Convergence], 22);
    EXPECT_EQ(s[Setting::UserWeight], 15);
    EXPECT_FALSE(s.On(Setting::UseUserWeight));
    EXPECT_TRUE(o.weightsPath.isEmpty());
    EXPECT_EQ(o.inputs, QStringList{"in.png"});
}

TEST(CliOptionsTest, RangesAcceptTheirEndsAndRefuseBeyond)
{
    struct Case
    {
        const char* option;
        int low;
        int high;
    };
    for (const Case& c : {Case{"--colours", 2, 256}, Case{"--opacity", 1, 256}, Case{"--histogram", 0, 63},
                          Case{"--feedback", 0, 49}, Case{"--voronoi", 0, 7}, Case{"--convergence", 13, 22},
                          Case{"--user-weight", 0, 100}}) {
        SCOPED_TRACE(c.option);
        EXPECT_EQ(Parse({c.option, QString::number(c.low), "a.png"}).action, CliAction::Run);
        EXPECT_EQ(Parse({c.option, QString::number(c.high), "a.png"}).action, CliAction::Run);
        EXPECT_EQ(Parse({c.option, QString::number(c.low - 1), "a.png"}).action, CliAction::UsageError);
        EXPECT_EQ(Parse({c.option, QString::number(c.high + 1), "a.png"}).action, CliAction::UsageError);
        EXPECT_EQ(Parse({QString(c.option) + "=" + QString::number(c.high), "a.png"}).action, CliAction::Run);
    }
    for (const char* bad : {"abc", "", "12x", "3.5", "0x10", "99999999999"}) {
        SCOPED_TRACE(bad);
        const CliParseResult parsed = Parse({"--colours", bad, "a.png"});
        EXPECT_EQ(parsed.action, CliAction::UsageError);
        EXPECT_TRUE(parsed.text.contains("--colours")) << parsed.text.toStdString();
    }
}

// Every row of the setting table, present and future, reaches the command line: its flag sets
// exactly its own value, within its range, and the help lists it.
TEST(CliOptionsTest, EverySettingRowIsAFlag)
{
    const QString help = Parse({"--help"}).text;
    for (const SettingRow& row : SettingRows()) {
        SCOPED_TRACE(row.name);
        if (row.cliForm == CliForm::None)
            continue;
        const QString flag = QString("--%1").arg(QString::fromUtf8(row.cliFlag));
        EXPECT_TRUE(help.contains(flag + (row.cliValueName ? QString(" ") + row.cliValueName : QString())));
        QStringList arguments;
        int expected = 0;
        switch (row.cliForm) {
        case CliForm::None: break;
        case CliForm::SetsOn: arguments = {flag}; expected = 1; break;
        case CliForm::SetsOnOrOff:
            arguments = {flag, "--no-" + flag.mid(2), flag};
            expected = 1;
            EXPECT_TRUE(help.contains("--no-" + flag.mid(2)));
            break;
        case CliForm::SetsOff: arguments = {flag}; expected = 0; break;
        case CliForm::OnWithFileName: arguments = {flag, "w.png"}; expected = 1; break;
        case CliForm::OnWithValues: arguments = {flag, "#102030"}; expected = 1; break;
        case CliForm::Value:
            expected = row.defaultValue == row.high ? row.low : row.high;
            arguments = {flag, row.kind == SettingKind::Choice ? QString::fromUtf8(row.choices[expected])
                                                               : QString::number(expected)};
            EXPECT_EQ(Parse({flag, QString::number(row.high + 1), "a.png"}).action, CliAction::UsageError);
            break;
        }
        const CliParseResult parsed = Parse(arguments + QStringList{"a.png"});
        ASSERT_EQ(parsed.action, CliAction::Run) << parsed.text.toStdString();
        SettingValues wanted;
        wanted[row.key] = expected;
        EXPECT_TRUE(parsed.options.settings == wanted) << "the flag changed another row";
    }
}

TEST(CliOptionsTest, UsageErrors)
{
    EXPECT_EQ(Parse({}).action, CliAction::UsageError);                       // no input
    EXPECT_EQ(Parse({"--frobnicate", "a.png"}).action, CliAction::UsageError); // unknown option
    EXPECT_EQ(Parse({"--colours"}).action, CliAction::UsageError);            // missing value
    EXPECT_EQ(Parse({"-o", "out.png", "a.png", "b.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"-o", "out.png", "--output-dir", "d", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"--ie6", "--opacity", "100", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"--weights", "w.png", "--no-contrast-map", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"--ie6", "--opacity", "238", "a.png"}).action, CliAction::Run);
    EXPECT_EQ(Parse({"-o", "out.png", "a.png"}).action, CliAction::Run);
    EXPECT_EQ(Parse({"--compression", "best", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"--compression", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(Parse({"--tune", "eye", "a.png"}).action, CliAction::UsageError);
    EXPECT_EQ(CompressionOf(Parse({"a.png"}).options.settings), PngCompression::Default);
    EXPECT_EQ(CompressionOf(Parse({"--compression", "default", "a.png"}).options.settings), PngCompression::Default);
    EXPECT_EQ(CompressionOf(Parse({"--compression=max", "a.png"}).options.settings), PngCompression::Max);
}

TEST(CliOptionsTest, PresetsSetRowsTogetherAndFlagsWin)
{
    EXPECT_EQ(Parse({"--preset", "default", "a.png"}).options.settings, SettingValues());
    // Best differs from the panel's state only in the histogram; a flag after it takes that back.
    EXPECT_EQ(Parse({"--preset", "best", "--histogram", "10", "a.png"}).options.settings, SettingValues());
    // A flag wins over a preset wherever it stands, and each preset undoes the one before.
    SettingValues feedback3;
    feedback3[Setting::Feedback] = 3;
    EXPECT_EQ(Parse({"--feedback", "3", "--preset", "fast", "--preset", "default", "a.png"}).options.settings,
              feedback3);
    const SettingValues fast = Parse({"--preset", "fast", "--colours", "16", "a.png"}).options.settings;
    EXPECT_LT(fast[Setting::Feedback], SettingValues()[Setting::Feedback]);
    EXPECT_LT(fast[Setting::Voronoi], SettingValues()[Setting::Voronoi]);
    EXPECT_EQ(fast[Setting::Colours], 16);
    EXPECT_EQ(Parse({"--preset", "fastest", "a.png"}).action, CliAction::UsageError);
    // Balanced is the default with fewer feedback trials and refinement passes only, and a preset
    // after it undoes it.
    SettingValues balanced = Parse({"--preset", "balanced", "a.png"}).options.settings;
    EXPECT_LT(balanced[Setting::Feedback], SettingValues()[Setting::Feedback]);
    EXPECT_LT(balanced[Setting::Voronoi], SettingValues()[Setting::Voronoi]);
    balanced[Setting::Feedback] = SettingValues()[Setting::Feedback];
    balanced[Setting::Voronoi] = SettingValues()[Setting::Voronoi];
    EXPECT_EQ(balanced, SettingValues());
    EXPECT_EQ(Parse({"--preset", "balanced", "--preset", "default", "a.png"}).options.settings, SettingValues());
}

TEST(CliOptionsTest, BatchOptions)
{
    const CliParseResult parsed = ParseCliOptions({"tessaline-cli", "-j", "0", "-r", "--skip-existing", "--report",
                                                   "run.CSV", "a.png", "b.png"},
                                                  6);
    ASSERT_EQ(parsed.action, CliAction::Run) << parsed.text.toStdString();
    EXPECT_EQ(parsed.options.jobs, 6);
    EXPECT_TRUE(parsed.options.recursive);
    EXPECT_TRUE(parsed.options.skipExisting);
    EXPECT_EQ(parsed.options.reportPath, "run.CSV");
    EXPECT_EQ(Parse({"-j3", "a.png"}).options.jobs, 3);
    EXPECT_EQ(Parse({"a.png"}).options.jobs, 1);
    EXPECT_EQ(Parse({"-", "-o", "-"}).action, CliAction::Run);
    for (const QStringList& bad : {QStringList{"-j", "-1", "a.png"}, QStringList{"-j", "x", "a.png"},
                                   QStringList{"--report", "run.txt", "a.png"}, QStringList{"-"},
                                   QStringList{"-o", "x.png", "-", "-"}, QStringList{"-r", "-o", "x.png", "."}}) {
        SCOPED_TRACE(bad.join(' ').toStdString());
        EXPECT_EQ(Parse(bad).action, CliAction::UsageError);
    }
}

TEST(CliOptionsTest, NamesAfterDoubleDashAreFilesEvenWithALeadingDash)
{
    const CliParseResult parsed = Parse({"--quiet", "--", "-odd.png", "--colours", "x y.png"});
    ASSERT_EQ(parsed.action, CliAction::Run) << parsed.text.toStdString();
    EXPECT_EQ(parsed.options.inputs, (QStringList{"-odd.png", "--colours", "x y.png"}));
    EXPECT_EQ(parsed.options.settings[Setting::Colours], 256);
    EXPECT_TRUE(parsed.options.quiet);
}

TEST(CliOptionsTest, HelpNamesEveryOptionWithItsPanelLabel)
{
    const CliParseResult parsed = Parse({"--help"});
    ASSERT_EQ(parsed.action, CliAction::ShowHelp);
    for (const char* option : {"--colours", "--opacity", "--ie6", "--no-dither", "--transparent-last",
                               "--no-contrast-map", "--no-dither-map", "--fast-histogram", "--histogram",
                               "--feedback", "--voronoi", "--convergence", "--weights", "--user-weight", "-o",
                               "--output-dir", "--compression", "--tune", "--quiet", "--timings", "--help", "--version"})
        EXPECT_TRUE(parsed.text.contains(option)) << option;
    for (const QString& label :
         {QStringLiteral("色数"), QStringLiteral("不透明度閾値"), QStringLiteral("IE6不具合回避"),
          QStringLiteral("orderd"), QStringLiteral("透明色をパレットの末尾に置く"),
          QStringLiteral("コントラストマップを使用する"), QStringLiteral("ディザーマップを使用する"),
          QStringLiteral("ヒストグラムの収束を早める"), QStringLiteral("ヒストグラム最大色数"),
          QStringLiteral("メディアンカットフィードバックループ試行回数"), QStringLiteral("ボロノイ分割繰り返し回数"),
          QStringLiteral("ボロノイ分割収束誤差"), QStringLiteral("ユーザーウェイトを使用する"),
          QStringLiteral("ユーザーウェイト"), QStringLiteral("知覚的な色差を使用する")})
        EXPECT_TRUE(parsed.text.contains(label)) << label.toStdString();
    EXPECT_EQ(Parse({"--version"}).action, CliAction::ShowVersion);
}

// The flags must give exactly the job the window builds from the same panel state.
ReduceSettings JobFor(const QStringList& arguments, const QImage* weights, RgbaImage& source)
{
    const CliParseResult parsed = Parse(arguments);
    EXPECT_EQ(parsed.action, CliAction::Run) << parsed.text.toStdString();
    ReduceThread thread(nullptr);
    IndexedImage result;
    EXPECT_TRUE(BuildReduceJob(thread, parsed.options.settings, weights, source, result));
    return std::move(thread.job);
}

TEST(CliOptionsTest, FlagsBuildTheWindowsJob)
{
    RgbaImage source = CreateRgbaImage(4, 2);

    const ReduceSettings defaults = JobFor({"a.png"}, nullptr, source);
    EXPECT_EQ(defaults.maxColours, 256u);
    EXPECT_EQ(defaults.minOpacity, 1.0f);
    EXPECT_EQ(defaults.dither, 1);
    EXPECT_EQ(defaults.lastIndexTransparent, 0);
    EXPECT_EQ(defaults.contrastMapLevel, 1);
    EXPECT_EQ(defaults.useDitherMap, 1);
    EXPECT_EQ(defaults.fastHistogram, 0);
    EXPECT_EQ(defaults.maxHistogramEntries, 2752512u);
    EXPECT_EQ(defaults.feedbackTrials, 49);
    EXPECT_EQ(defaults.voronoiIterations, 7);
    EXPECT_EQ(defaults.convergenceDenominator, 4194304);
    EXPECT_EQ(defaults.maxError, 1e20);
    EXPECT_EQ(defaults.targetError, 0.0);
    EXPECT_EQ(defaults.userWeights, nullptr);
    EXPECT_EQ(defaults.channelScales, EvenChannels);
    EXPECT_EQ(JobFor({"--tune", "perceptual", "a.png"}, nullptr, source).channelScales, PerceptualChannels);

    const ReduceSettings low = JobFor({"--colours", "2", "--opacity", "1", "--histogram", "0", "--convergence", "13",
                                       "--feedback", "0", "--voronoi", "0", "--no-dither", "--transparent-last",
                                       "--no-contrast-map", "--no-dither-map", "--fast-histogram", "a.png"},
                                      nullptr, source);
    EXPECT_EQ(low.maxColours, 2u);
    EXPECT_EQ(low.minOpacity, 0.00390625f);
    EXPECT_EQ(low.maxHistogramEntries, 131072u);
    EXPECT_EQ(low.convergenceDenominator, 8192);
    EXPECT_EQ(low.feedbackTrials, 0);
    EXPECT_EQ(low.voronoiIterations, 0);
    EXPECT_EQ(low.dither, 0);
    EXPECT_EQ(low.lastIndexTransparent, 1);
    EXPECT_EQ(low.contrastMapLevel, ContrastMapsOff);
    EXPECT_EQ(low.useDitherMap, 0);
    EXPECT_EQ(low.fastHistogram, 1);

    EXPECT_EQ(JobFor({"--histogram", "63", "a.png"}, nullptr, source).maxHistogramEntries, 16646144u);
    EXPECT_EQ(JobFor({"--ie6", "a.png"}, nullptr, source).minOpacity, 0.9296875f);
}

TEST(CliOptionsTest, WeightsFollowThePaintedAlphaAndTheSlider)
{
    RgbaImage source = CreateRgbaImage(4, 2);
    QImage weights(4, 2, QImage::Format_ARGB32);
    weights.fill(Qt::transparent);
    weights.setPixel(0, 0, qRgba(0, 0, 0, 255));
    weights.setPixel(3, 1, qRgba(0, 0, 0, 128));

    const ReduceSettings job = JobFor({"--weights", "w.png", "--user-weight", "100", "a.png"}, &weights, source);
    ASSERT_NE(job.userWeights, nullptr);
    EXPECT_FLOAT_EQ(job.userWeights[0], 100.0f);
    EXPECT_FLOAT_EQ(job.userWeights[7], 128.0f * 100.0f / 255.0f);
    EXPECT_EQ(job.userWeights[1], 0.0f);

    const ReduceSettings defaultScale = JobFor({"--weights", "w.png", "a.png"}, &weights, source);
    ASSERT_NE(defaultScale.userWeights, nullptr);
    EXPECT_FLOAT_EQ(defaultScale.userWeights[7], 128.0f * 15.0f / 255.0f);

    // Without --weights a weight image handed along is ignored, as with the box unchecked.
    EXPECT_EQ(JobFor({"a.png"}, &weights, source).userWeights, nullptr);
}

} // namespace
} // namespace tessaline
