#include "worker/reduce_thread.h"

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "imageio/bitmap_bridge.h"
#include "jobs/painted_weights.h"
#include "imageio/png_writer.h"

namespace tessaline {
namespace {

// Records every report; both calls arrive on the worker.
class RecordingUi : public ProgressUIInterface
{
public:
    void ReportProgress(int stage) override
    {
        std::lock_guard<std::mutex> hold(lock);
        stages.push_back(stage);
        if (stage == cancelAt && thread)
            thread->Cancel();
    }
    void ReportFinished(std::uint32_t elapsedMs, int resultCode) override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++finishedCalls;
        lastElapsedMs = elapsedMs;
        lastCode = resultCode;
        if (thread && cancelAt < 0)
            stopFromReport = thread->Stop();
    }

    std::mutex lock;
    std::vector<int> stages;
    int finishedCalls = 0;
    std::uint32_t lastElapsedMs = 0;
    int lastCode = -1;
    ReduceThread* thread = nullptr; ///< when set, the report stops (or at cancelAt cancels) its own thread
    int cancelAt = -1;
    std::atomic<int> stopFromReport{-1};
};

// Stand-ins for the pipeline, each with one behaviour the worker must survive.
bool sawWeights = false;

int SucceedingReduce(const ReduceSettings& settings, RgbaImage&, IndexedImage& output)
{
    sawWeights = settings.userWeights != nullptr;
    for (int stage = 2; stage <= 11; ++stage)
        if (settings.progress)
            settings.progress->ReportProgress(stage);
    output.width = 1;
    return ReduceOk;
}

int TooLowReduce(const ReduceSettings& settings, RgbaImage&, IndexedImage&)
{
    for (int stage = 2; stage <= 6; ++stage)
        settings.progress->ReportProgress(stage);
    return ReduceQualityTooLow;
}

// Throws after the output buffers exist, as a late stage running out of memory would.
int ThrowingReduce(const ReduceSettings& settings, RgbaImage&, IndexedImage& output)
{
    sawWeights = settings.userWeights != nullptr;
    output.width = 2;
    output.height = 1;
    output.pixels.assign(2, 7);
    throw std::bad_alloc();
}

int StrangelyThrowingReduce(const ReduceSettings&, RgbaImage&, IndexedImage&)
{
    throw std::runtime_error("unexpected");
}

struct ReduceThreadTest : ::testing::Test
{
    RecordingUi ui;
    RgbaImage source;
    IndexedImage result;

    void Prepare(ReduceThread& thread, bool withWeights)
    {
        thread.source = &source;
        thread.result = &result;
        thread.job.progress = &ui;
        if (withWeights)
            thread.job.userWeights = std::make_unique<float[]>(4);
        sawWeights = false;
    }
};

TEST_F(ReduceThreadTest, FreshJobHasTheThreadDefaultsAndTheProcessorFlag)
{
    ProcessorHasSse2 = !ProcessorSupportsSse2();
    ReduceThread thread(&ui, &SucceedingReduce);
    EXPECT_EQ(ProcessorHasSse2, ProcessorSupportsSse2());
    EXPECT_EQ(thread.ui, &ui);
    EXPECT_EQ(thread.job.targetError, 0.0);
    EXPECT_EQ(thread.job.maxError, 1e20);
    EXPECT_EQ(thread.job.minOpacity, 1.0f);
    EXPECT_EQ(thread.job.maxColours, 256u);
    EXPECT_EQ(thread.job.dither, 1);
    EXPECT_EQ(thread.job.lastIndexTransparent, 0);
    EXPECT_EQ(thread.job.userWeights, nullptr);
    EXPECT_EQ(thread.job.progress, nullptr);
    EXPECT_EQ(thread.source, nullptr);
    EXPECT_EQ(thread.result, nullptr);
    // Never started: stopping and destroying are immediate.
    EXPECT_EQ(thread.Stop(), 0);
}

TEST_F(ReduceThreadTest, SuccessReportsStagesThenFinishesOnceAndFreesWeights)
{
    ReduceThread thread(&ui, &SucceedingReduce);
    Prepare(thread, true);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_TRUE(sawWeights);
    EXPECT_EQ(ui.stages, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(ui.finishedCalls, 1);
    EXPECT_EQ(ui.lastCode, ReduceOk);
    EXPECT_EQ(thread.job.userWeights, nullptr);
    EXPECT_EQ(result.width, 1u);
}

TEST_F(ReduceThreadTest, QualityTooLowStillFinishesOnce)
{
    ReduceThread thread(&ui, &TooLowReduce);
    Prepare(thread, true);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(ui.stages.back(), 6);
    EXPECT_EQ(ui.finishedCalls, 1);
    EXPECT_EQ(ui.lastCode, ReduceQualityTooLow);
    EXPECT_EQ(thread.job.userWeights, nullptr);
}

TEST_F(ReduceThreadTest, OutOfMemoryInAStageIsReportedAsSeventeen)
{
    ReduceThread thread(&ui, &ThrowingReduce);
    Prepare(thread, true);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_TRUE(sawWeights);
    EXPECT_EQ(ui.finishedCalls, 1);
    EXPECT_EQ(ui.lastCode, ReduceOutOfMemory);
    EXPECT_EQ(thread.job.userWeights, nullptr);
    // The half-built output is not left for the window to show or save.
    EXPECT_TRUE(result.Empty());
    EXPECT_EQ(result.width, 0u);
}

TEST_F(ReduceThreadTest, AnyOtherExceptionIsReportedToo)
{
    ReduceThread thread(&ui, &StrangelyThrowingReduce);
    Prepare(thread, false);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(ui.finishedCalls, 1);
    EXPECT_EQ(ui.lastCode, ReduceOutOfMemory);
}

TEST_F(ReduceThreadTest, RestartRunsTheJobAgainAndReportsEachRun)
{
    ReduceThread thread(&ui, &SucceedingReduce);
    Prepare(thread, false);
    ASSERT_EQ(thread.Start(), 0);
    ASSERT_EQ(thread.Start(), 0); // joins the first worker before starting the second
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(ui.finishedCalls, 2);
    EXPECT_EQ(ui.stages.size(), 20u);
}

TEST_F(ReduceThreadTest, StopFromTheCompletionReportReturnsTwo)
{
    ReduceThread thread(&ui, &SucceedingReduce);
    Prepare(thread, false);
    ui.thread = &thread;
    ASSERT_EQ(thread.Start(), 0);
    while (ui.stopFromReport == -1)
        std::this_thread::yield();
    EXPECT_EQ(ui.stopFromReport, 2);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(ui.finishedCalls, 1);
}

TEST_F(ReduceThreadTest, DestructionJoinsTheWorker)
{
    {
        ReduceThread thread(&ui, &SucceedingReduce);
        Prepare(thread, true);
        ASSERT_EQ(thread.Start(), 0);
    }
    EXPECT_EQ(ui.finishedCalls, 1);
}

TEST_F(ReduceThreadTest, ANullReceiverIsNotCalled)
{
    ReduceThread thread(nullptr, &SucceedingReduce);
    Prepare(thread, false);
    thread.job.progress = nullptr;
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_TRUE(ui.stages.empty());
    EXPECT_EQ(ui.finishedCalls, 0);
}

// The real pipeline behind the thread, with a job built from panel values and painted weights.
struct ReduceThreadPipelineTest : ::testing::TestWithParam<bool>
{
    RecordingUi ui;
    RgbaImage source = CreateRgbaImage(24, 20);
    IndexedImage result;

    void SetUp() override
    {
        for (std::uint32_t y = 0; y < source.height; ++y)
            for (std::uint32_t x = 0; x < source.width; ++x) {
                std::uint8_t* p = source.rows[y] + 4 * x;
                p[0] = static_cast<std::uint8_t>(x * 10);
                p[1] = static_cast<std::uint8_t>(y * 12);
                p[2] = static_cast<std::uint8_t>((x * y) & 0xFF);
                p[3] = x < 3 ? 0 : (x < 6 ? 128 : 255);
            }
    }
};

using ReduceThreadPipelineTest_Cancel = ReduceThreadPipelineTest;

TEST_P(ReduceThreadPipelineTest, ReducesWithPaintedWeightsAndReportsOnce)
{
    ReduceThread thread(&ui);
    // The colour arithmetic in both forms (the constructor has just probed the processor).
    ProcessorHasSse2 = GetParam() && ProcessorSupportsSse2();
    QImage weightMap(24, 20, QImage::Format_ARGB32);
    weightMap.fill(Qt::transparent);
    for (int x = 10; x < 20; ++x)
        weightMap.setPixel(x, 5, qRgba(0, 0, 0, 255));
    SettingValues panel;
    panel[Setting::Colours] = 16;
    panel[Setting::UseUserWeight] = 1;
    panel[Setting::UserWeight] = 100;
    ASSERT_TRUE(BuildReduceJob(thread, panel, &weightMap, source, result));
    ASSERT_NE(thread.job.userWeights, nullptr);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);

    EXPECT_EQ(ui.finishedCalls, 1);
    EXPECT_EQ(ui.lastCode, ReduceOk);
    EXPECT_EQ(ui.stages, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(thread.job.userWeights, nullptr);
    ASSERT_EQ(result.width, 24u);
    ASSERT_EQ(result.height, 20u);
    ASSERT_GE(result.paletteSize, 2u);
    ASSERT_LE(result.paletteSize, 16u);
    for (const std::uint8_t index : result.pixels)
        ASSERT_LT(index, result.paletteSize);
    const QImage shown = MakeResultBitmap(result);
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.size(), QSize(24, 20));
    // The fully transparent columns stay fully transparent on screen.
    EXPECT_EQ(qAlpha(shown.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shown.pixel(23, 19)), 255);
}

TEST(ReduceThreadFiguresTest, MeasuresAgainstTheSourceAsLoadedAndRunsAgainAlike)
{
    // A band of alpha 100 that an opacity threshold of 128 raises: in place, a second run of the
    // same job would raise it again and come out darker.
    RgbaImage source = CreateRgbaImage(24, 20);
    for (std::uint32_t y = 0; y < source.height; ++y)
        for (std::uint32_t x = 0; x < source.width; ++x) {
            std::uint8_t* p = source.rows[y] + 4 * x;
            p[0] = static_cast<std::uint8_t>(x * 10);
            p[1] = static_cast<std::uint8_t>(y * 12);
            p[2] = 200;
            p[3] = x < 3 ? 0 : (x < 8 ? 100 : 255);
        }
    const std::vector<std::uint8_t> loaded = source.pixels;
    SettingValues panel;
    panel[Setting::Colours] = 8;
    panel[Setting::Opacity] = 128;

    // One thread measures and encodes in turn; two encode beside the figures.
    IndexedImage results[2];
    for (int threads : {1, 2}) {
        IndexedImage& result = results[threads - 1];
        RecordingUi ui;
        ReduceThread thread(&ui);
        thread.maxThreads = threads;
        thread.encode = [](const IndexedImage& image) { return EncodePng(image); };
        ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, result));
        ASSERT_EQ(thread.Start(), 0);
        ASSERT_EQ(thread.Stop(), 0);
        ASSERT_EQ(ui.lastCode, ReduceOk);
        EXPECT_EQ(source.pixels, loaded);

        ASSERT_TRUE(thread.figures);
        const ResultFigures& figures = *thread.figures;
        const std::optional<ResultFigures> expected = MeasureResult(source, result);
        ASSERT_TRUE(expected);
        EXPECT_EQ(figures.mse, expected->mse);
        EXPECT_EQ(figures.entryPixels, expected->entryPixels);
        EXPECT_GT(figures.mse, 0.0);
        EXPECT_LE(figures.coloursUsed, result.paletteSize);
        std::uint64_t counted = 0;
        for (std::uint64_t pixels : figures.entryPixels)
            counted += pixels;
        EXPECT_EQ(counted, 24u * 20u);
        EXPECT_EQ(thread.encoded, EncodePng(result));
        EXPECT_EQ(figures.pngBytes, thread.encoded.size());
    }
    EXPECT_EQ(results[0].pixels, results[1].pixels);
    EXPECT_EQ(results[0].paletteRgb, results[1].paletteRgb);
    EXPECT_EQ(results[0].paletteAlpha, results[1].paletteAlpha);

    // Without an encoder there is no size, and a failed reduction has no figures at all.
    RecordingUi ui;
    IndexedImage plain;
    {
        ReduceThread thread(&ui);
        ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, plain));
        ASSERT_EQ(thread.Start(), 0);
        ASSERT_EQ(thread.Stop(), 0);
        ASSERT_TRUE(thread.figures);
        EXPECT_EQ(thread.figures->pngBytes, 0u);
        EXPECT_TRUE(thread.encoded.empty());
    }
    IndexedImage none;
    ReduceThread failing(&ui, &TooLowReduce);
    failing.source = &source;
    failing.result = &none;
    failing.job.progress = &ui;
    ASSERT_EQ(failing.Start(), 0);
    ASSERT_EQ(failing.Stop(), 0);
    EXPECT_FALSE(failing.figures);
}

TEST_F(ReduceThreadPipelineTest_Cancel, CancelledReductionReportsItsOwnCodeWithTheResultEmpty)
{
    // Cancelled before the start, and from the worker as stage 5 (median cut) begins.
    for (const int cancelAt : {-1, 5}) {
        RecordingUi ui;
        ReduceThread thread(&ui);
        SettingValues panel;
        ASSERT_TRUE(BuildReduceJob(thread, panel, nullptr, source, result));
        if (cancelAt < 0) {
            thread.Cancel();
        } else {
            ui.thread = &thread;
            ui.cancelAt = cancelAt;
        }
        ASSERT_EQ(thread.Start(), 0);
        EXPECT_EQ(thread.Stop(), 0);
        EXPECT_EQ(ui.finishedCalls, 1);
        EXPECT_EQ(ui.lastCode, ReduceCancelled);
        EXPECT_TRUE(result.Empty());
        EXPECT_EQ(result.width, 0u);
        ASSERT_FALSE(ui.stages.empty());
        EXPECT_LT(ui.stages.back(), 7) << cancelAt;
    }
}

INSTANTIATE_TEST_SUITE_P(ColourArithmetic, ReduceThreadPipelineTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Sse2" : "Scalar"; });

} // namespace
} // namespace tessaline
