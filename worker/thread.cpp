#include "worker/thread.h"

#include <new>
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

int CThread::Start()
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
    } catch (const std::system_error&) {
        return -1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // The worker cannot reach Stop before this is written: Stop takes the lock held here.
    threadId = threadHandle.get_id();
    return startedEvent.Wait();
}

int CThread::Stop()
{
    std::unique_lock<std::recursive_mutex> hold(lock);
    {
        std::lock_guard<std::recursive_mutex> request(lock);
        stopEvent.Set();
    }
    if (!threadHandle.joinable())
        return 0;
    if (threadId == std::this_thread::get_id())
        return 2;
    std::thread worker = std::move(threadHandle);
    threadId = std::thread::id();
    // Unlock before joining: the worker takes the lock at the end of its Run.
    hold.unlock();
    try {
        worker.join();
    } catch (const std::system_error&) {
        if (worker.joinable())
            worker.detach();
        return 1;
    }
    return 0;
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
