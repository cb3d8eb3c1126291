#include "worker/thread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "worker/flagged_event.h"

namespace tessaline {
namespace {

// Counts its runs and lets a test hold the worker inside Run until released.
class CountingThread : public CThread
{
public:
    ~CountingThread() override { Stop(); }

    /// True once Stop has been asked for (it sets stopEvent first), until the next Start.
    bool StopRequested() const { return stopEvent.Signalled(); }

    void Release()
    {
        std::lock_guard<std::mutex> hold(gate);
        released = true;
        opened.notify_all();
    }

    std::atomic<int> runs{0};
    std::atomic<bool> holdInRun{false};
    std::atomic<int> selfStop{-1};
    std::atomic<bool> stopFromWorker{false};
    std::thread::id runThread;
    std::atomic<bool>* finished = nullptr; ///< set when Run returns; outlives the object

protected:
    void Run() override
    {
        runThread = std::this_thread::get_id();
        ++runs;
        if (stopFromWorker)
            selfStop = Stop();
        if (holdInRun) {
            std::unique_lock<std::mutex> hold(gate);
            opened.wait(hold, [this] { return released; });
        }
        if (finished)
            *finished = true;
    }

private:
    std::mutex gate;
    std::condition_variable opened;
    bool released = false;
};

TEST(FlaggedEventTest, AutoResetsOnWaitAndMirrorsItsState)
{
    FlaggedEvent event;
    EXPECT_FALSE(event.Signalled());
    event.Set();
    EXPECT_TRUE(event.Signalled());
    event.Wait();
    EXPECT_FALSE(event.Signalled());
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Signalled());
}

TEST(FlaggedEventTest, WakesAWaiterOnAnotherThread)
{
    FlaggedEvent event;
    std::atomic<bool> passed{false};
    std::thread waiter([&] {
        event.Wait();
        passed = true;
    });
    event.Set();
    waiter.join();
    EXPECT_TRUE(passed);
    EXPECT_FALSE(event.Signalled());
}

TEST(CThreadTest, StopWithoutStartReturnsZeroAtOnce)
{
    CountingThread thread;
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.runs, 0);
}

TEST(CThreadTest, BaseRunStartsAndJoins)
{
    CThread thread;
    EXPECT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.Stop(), 0);
}

TEST(CThreadTest, RunsOnAnotherThreadAndStopJoins)
{
    CountingThread thread;
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.runs, 1);
    EXPECT_NE(thread.runThread, std::this_thread::get_id());
    EXPECT_EQ(thread.Stop(), 0);
}

TEST(CThreadTest, StartReturnsOnlyOnceTheWorkerRuns)
{
    CountingThread thread;
    thread.holdInRun = true;
    ASSERT_EQ(thread.Start(), 0);
    // The worker has confirmed its start; Run may still be on its way, so wait for it here.
    while (thread.runs == 0)
        std::this_thread::yield();
    thread.Release();
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.runs, 1);
}

TEST(CThreadTest, StopWaitsForARunningWorker)
{
    CountingThread thread;
    thread.holdInRun = true;
    ASSERT_EQ(thread.Start(), 0);
    std::atomic<bool> stopped{false};
    std::atomic<int> stopCode{-1};
    std::thread stopper([&] {
        stopCode = thread.Stop();
        stopped = true;
    });
    // Once the stopper is inside Stop, it cannot return while Run is held.
    while (!thread.StopRequested())
        std::this_thread::yield();
    EXPECT_FALSE(stopped);
    thread.Release();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(stopCode, 0);
}

TEST(CThreadTest, StartOnAFinishedObjectJoinsThenRunsAgain)
{
    CountingThread thread;
    ASSERT_EQ(thread.Start(), 0);
    ASSERT_EQ(thread.Start(), 0);
    ASSERT_EQ(thread.Start(), 0);
    EXPECT_EQ(thread.Stop(), 0);
    EXPECT_EQ(thread.runs, 3);
}

TEST(CThreadTest, StopFromTheWorkerReturnsTwoWithoutBlocking)
{
    CountingThread thread;
    thread.stopFromWorker = true;
    ASSERT_EQ(thread.Start(), 0);
    // Let the worker's own Stop come first; a Stop from here would join and take the handle.
    while (thread.selfStop == -1)
        std::this_thread::yield();
    EXPECT_EQ(thread.selfStop, 2);
    EXPECT_EQ(thread.Stop(), 0);
}

TEST(CThreadTest, DestructionJoinsARunningWorker)
{
    std::atomic<bool> finished{false};
    std::thread releaser;
    {
        CountingThread thread;
        thread.holdInRun = true;
        thread.finished = &finished;
        ASSERT_EQ(thread.Start(), 0);
        // Released only once the destructor's Stop has begun, so the destructor must wait.
        releaser = std::thread([&thread] {
            while (!thread.StopRequested())
                std::this_thread::yield();
            thread.Release();
        });
    } // joins the worker, which the releaser lets go
    EXPECT_TRUE(finished);
    releaser.join();
}

} // namespace
} // namespace tessaline
