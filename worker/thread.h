#pragma once
// worker/thread.h: CThread, a worker thread that calls the virtual Run once per Start. Start
// returns only after the worker has begun; Stop and destruction join it. Start and Stop are
// serialised by one re-entrant lock, which Start keeps while it waits for the worker.

#include <mutex>
#include <thread>

#include "worker/flagged_event.h"

namespace tessaline {

class CThread
{
public:
    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    /// Joins the worker (Stop). A class whose Run uses its own members must call Stop in its own
    /// destructor, before those members go.
    virtual ~CThread();

    /// Joins any earlier worker, then starts a new one and waits until it runs. Returns 0 when the
    /// worker runs, -1 when it could not be created, 1 or 2 when waiting for it timed out or failed.
    int Start();
    /// Requests a stop (stopEvent) and joins the worker. Returns 0 when there was no worker or it
    /// has ended, 1 when joining failed (the worker is then let go), 2 when called on the worker
    /// itself, which never waits for itself and changes nothing but stopEvent.
    int Stop();

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
