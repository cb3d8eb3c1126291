#include "worker/flagged_event.h"

namespace tessaline {

void FlaggedEvent::Set()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        signalled = true;
    }
    changed.notify_one();
}

void FlaggedEvent::Reset()
{
    std::lock_guard<std::mutex> hold(lock);
    signalled = false;
}

void FlaggedEvent::Wait()
{
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return signalled; });
    signalled = false;
}

bool FlaggedEvent::Signalled() const
{
    std::lock_guard<std::mutex> hold(lock);
    return signalled;
}

} // namespace tessaline
