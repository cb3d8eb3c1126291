#include "jobs/painted_weights.h"

#include <vector>

#include <gtest/gtest.h>

namespace tessaline {
namespace {

int NoReduce(const ReduceSettings&, RgbaImage&, IndexedImage&)
{
    return ReduceOk;
}

class SilentUi : public ProgressUIInterface
{
public:
    void ReportProgress(int) override {}
    void ReportFinished(std::uint32_t, int) override {}
};

struct JobBuilderTest : ::testing::Test
{
    SilentUi ui;
    ReduceThread thread{&ui, &NoReduce};
    RgbaImage source = CreateRgbaImage(4, 3);
    IndexedImage result;

    static QImage EmptyWeightMap(int width, int height)
    {
        QImage map(width, height, QImage::Format_ARGB32);
        map.fill(Qt::transparent);
        return map;
    }
};

TEST_F(JobBuilderTest, PanelDefaultsGiveTheDefaultJob)
{
    EXPECT_TRUE(BuildReduceJob(thread, SettingValues{}, nullptr, source, result));
    const ReduceSettings& job = thread.job;
    EXPECT_EQ(thread.source, &source);
    EXPECT_EQ(thread.result, &result);
    EXPECT_EQ(job.progress, &ui);
    EXPECT_EQ(job.maxColours, 256u);
    EXPECT_EQ(job.targetError, 0.0);
    EXPECT_EQ(job.maxError, 1e20);
    EXPECT_EQ(job.dither, 1);
    EXPECT_EQ(job.minOpacity, 1.0f);
    EXPECT_EQ(job.lastIndexTransparent, 0);
    EXPECT_EQ(job.convergenceDenominator, 4194304);
    EXPECT_EQ(job.contrastMapLevel, 1);
    EXPECT_EQ(job.useDitherMap, 1);
    EXPECT_EQ(job.fastHistogram, 0);
    EXPECT_EQ(job.maxHistogramEntries, 2752512u);
    EXPECT_EQ(job.feedbackTrials, 49);
    EXPECT_EQ(job.voronoiIterations, 7);
    EXPECT_EQ(job.userWeights, nullptr);
}

TEST_F(JobBuilderTest, SliderExtremesAndSwitches)
{
    SettingValues panel;
    panel[Setting::Colours] = 2;
    panel[Setting::Opacity] = 1;
    panel[Setting::Histogram] = 0;
    panel[Setting::Convergence] = 13;
    panel[Setting::Dither] = 0;
    panel[Setting::TransparentLast] = 1;
    panel[Setting::ContrastMap] = 0;
    panel[Setting::DitherMap] = 0;
    panel[Setting::FastHistogram] = 1;
    panel[Setting::Feedback] = 0;
    panel[Setting::Voronoi] = 0;
    ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, result));
    const ReduceSettings& job = thread.job;
    EXPECT_EQ(job.maxColours, 2u);
    EXPECT_EQ(job.minOpacity, 0.00390625f);
    EXPECT_EQ(job.maxHistogramEntries, 131072u);
    EXPECT_EQ(job.convergenceDenominator, 8192);
    EXPECT_EQ(job.dither, 0);
    EXPECT_EQ(job.lastIndexTransparent, 1);
    EXPECT_EQ(job.contrastMapLevel, ContrastMapsOff);
    EXPECT_EQ(job.useDitherMap, 0);
    EXPECT_EQ(job.fastHistogram, 1);
    EXPECT_EQ(job.feedbackTrials, 0);
    EXPECT_EQ(job.voronoiIterations, 0);
    EXPECT_EQ(HistogramLimit(63), 16646144u);
    EXPECT_EQ(HistogramLimit(10), 2752512u);

    panel[Setting::Ie6] = 1; // holds the opacity at 238 whatever the slider says
    ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, result));
    EXPECT_EQ(thread.job.minOpacity, 0.9296875f);
}

TEST_F(JobBuilderTest, ColourCountIsKeptInsideThePaletteTables)
{
    SettingValues panel;
    panel[Setting::Colours] = 1000;
    BuildReduceJob(thread, panel, nullptr, source, result);
    EXPECT_EQ(thread.job.maxColours, 256u);
    panel[Setting::Colours] = 0;
    BuildReduceJob(thread, panel, nullptr, source, result);
    EXPECT_EQ(thread.job.maxColours, 2u);
}

TEST_F(JobBuilderTest, WeightsOnWithNothingPaintedGiveZeros)
{
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;
    const QImage map = EmptyWeightMap(4, 3);
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    ASSERT_NE(thread.job.userWeights, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(thread.job.userWeights[i], 0.0f);
}

TEST_F(JobBuilderTest, PaintedAlphaScalesTheWeightSlider)
{
    QImage map = EmptyWeightMap(4, 3);
    map.setPixel(0, 0, qRgba(0, 0, 0, 255));
    map.setPixel(3, 2, qRgba(0, 0, 0, 128));
    map.setPixel(1, 2, qRgba(90, 90, 90, 0)); // colour without alpha counts for nothing
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;

    panel[Setting::UserWeight] = 100;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    ASSERT_NE(thread.job.userWeights, nullptr);
    EXPECT_EQ(thread.job.userWeights[0], 100.0f);
    EXPECT_EQ(thread.job.userWeights[9], 0.0f);

    panel[Setting::UserWeight] = 15;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    EXPECT_EQ(thread.job.userWeights[2 * 4 + 3], 128.0f * 15.0f / 255.0f);
    EXPECT_NEAR(thread.job.userWeights[2 * 4 + 3], 7.5294, 1e-4);
    EXPECT_EQ(thread.job.userWeights[1], 0.0f);

    panel[Setting::UserWeight] = 0;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(thread.job.userWeights[i], 0.0f);
}

TEST_F(JobBuilderTest, OnlyAlphaIsReadWhateverTheMapFormat)
{
    QImage map(4, 3, QImage::Format_ARGB32_Premultiplied);
    map.fill(Qt::transparent);
    map.setPixel(2, 1, qRgba(0, 0, 0, 255));
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;
    panel[Setting::UserWeight] = 40;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    EXPECT_EQ(thread.job.userWeights[1 * 4 + 2], 40.0f);
}

TEST_F(JobBuilderTest, WeightsOffLeaveNoWeightsWhateverIsPainted)
{
    QImage map = EmptyWeightMap(4, 3);
    map.fill(qRgba(0, 0, 0, 255));
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    ASSERT_NE(thread.job.userWeights, nullptr);
    panel[Setting::UseUserWeight] = 0;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &map, source, result));
    EXPECT_EQ(thread.job.userWeights, nullptr);
    panel[Setting::UseUserWeight] = 1;
    ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, result));
    EXPECT_EQ(thread.job.userWeights, nullptr);
}

TEST_F(JobBuilderTest, WeightMapOfAnotherSizeIsRefused)
{
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;
    panel[Setting::Colours] = 16;
    for (const QSize size : {QSize(3, 3), QSize(4, 4), QSize(5, 3), QSize(400, 300)}) {
        const QImage map = EmptyWeightMap(size.width(), size.height());
        EXPECT_FALSE(BuildReduceJob(thread, panel, &map, source, result)) << size.width() << "x" << size.height();
        EXPECT_EQ(thread.job.userWeights, nullptr);
        // The rest of the job is still written.
        EXPECT_EQ(thread.job.maxColours, 16u);
        EXPECT_EQ(thread.source, &source);
    }
}

} // namespace
} // namespace tessaline
