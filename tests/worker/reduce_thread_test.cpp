#include "worker/reduce_thread.h"

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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
    }
    void ReportFinished(std::uint32_t elapsedMs, int resultCode) override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++finishedCalls;
        lastElapsedMs = elapsedMs;
        lastCode = resultCode;
        if (thread)
            stopFromReport = thread->Stop();
    }

    std::mutex lock;
    std::vector<int> stages;
    int finishedCalls = 0;
    std::uint32_t lastElapsedMs = 0;
    int lastCode = -1;
    ReduceThread* thread = nullptr; ///< when set, the report stops its own thread
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

} // namespace
} // namespace tessaline
