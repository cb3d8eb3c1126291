#include "worker/thread.h"

#include <exception>
#include <system_error>

namespace tessaline {

CThread::~CThread()
{
    Stop();
    // Left joinable only when the worker destroys its own object or a join failed: let it go
    // rather than have std::thread end the process.
    if (threadHandle.joinable())
        threadHandle.detach();
}

ThreadStartResult CThread::Start()
{
    std::unique_lock<std::recursive_mutex> hold(lock);
    // Join an earlier worker with the lock released: a worker still finishing takes the lock at
    // the end of its Run, and Stop's own release would leave this hold in place.
    while (threadHandle.joinable() && threadId != std::this_thread::get_id()) {
        hold.unlock();
        Stop();
        hold.lock();
    }
    // Now only the stop request (and 2 when Start runs on the worker itself).
    Stop();
    // Still joinable only when Start runs on the worker itself; that worker ends on its own.
    if (threadHandle.joinable())
        threadHandle.detach();
    threadId = std::thread::id();
    stopEvent.Reset();
    startedEvent.Reset();
    try {
        threadHandle = std::thread(&CThread::ThreadEntry, this);
    } catch (const std::exception&) {
        // No thread (std::system_error) or no memory for its state (std::bad_alloc).
        return ThreadNotCreated;
    }
    // The worker cannot reach Stop before this is written: Stop takes the lock held here.
    threadId = threadHandle.get_id();
    startedEvent.Wait();
    return ThreadStarted;
}

ThreadStopResult CThread::Stop()
{
    std::unique_lock<std::recursive_mutex> hold(lock);
    {
        std::lock_guard<std::recursive_mutex> request(lock);
        stopEvent.Set();
    }
    if (!threadHandle.joinable())
        return ThreadStopped;
    if (threadId == std::this_thread::get_id())
        return ThreadStopOnWorker;
    std::thread worker = std::move(threadHandle);
    threadId = std::thread::id();
    // Unlock before joining: the worker takes the lock at the end of its Run.
    hold.unlock();
    try {
        worker.join();
    } catch (const std::system_error&) {
        if (worker.joinable())
            worker.detach();
        return ThreadJoinFailed;
    }
    return ThreadStopped;
}

void CThread::Run()
{
    startedEvent.Set();
}

int CThread::ThreadEntry(CThread* thread)
{
    thread->startedEvent.Set();
    thread->Run();
    return 0;
}

} // namespace tessaline
