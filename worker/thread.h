#pragma once
// worker/thread.h: CThread, a worker thread that calls the virtual Run once per Start. Start
// returns only after the worker has begun; Stop and destruction join it. Start and Stop are
// serialised by one re-entrant lock, which Start keeps while it waits for the worker.

#include <mutex>
#include <thread>

#include "worker/flagged_event.h"

namespace tessaline {

/// What CThread::Start answers.
enum ThreadStartResult : int
{
    ThreadStarted = 0,   ///< the worker runs (it has confirmed its start)
    ThreadNotCreated = -1 ///< the system could not create a thread; nothing runs
};

/// What CThread::Stop answers.
enum ThreadStopResult : int
{
    ThreadStopped = 0,      ///< there was no worker, or it has ended and been joined
    ThreadJoinFailed = 1,   ///< joining failed; the worker is let go
    ThreadStopOnWorker = 2  ///< called on the worker itself, which never waits for itself
};

class CThread
{
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    /// Joins the worker (Stop). A class whose Run uses its own members must call Stop in its own
    /// destructor, before those members go.
    virtual ~CThread();

    /// Joins any earlier worker, then starts a new one and waits until it runs.
    ThreadStartResult Start();
    /// Requests a stop (stopEvent) and joins the worker. On the worker itself it changes nothing
    /// but stopEvent.
    ThreadStopResult Stop();

protected:
    /// The worker's work. The base only confirms the start and returns.
    virtual void Run();

    /// The worker's entry: confirms the start, calls Run, returns the exit code 0.
    static int ThreadEntry(CThread* thread);

    std::thread threadHandle;  ///< not joinable while there is no worker to join
    std::thread::id threadId;  ///< the worker's id; the default id while there is none
    std::recursive_mutex lock; ///< serialises Start and Stop; guards threadHandle and threadId
    FlaggedEvent stopEvent;    ///< set on a stop request and when a reduction ends; reset by Start
    FlaggedEvent startedEvent; ///< set by the worker as its first action; Start waits for it
};

} // namespace tessaline
