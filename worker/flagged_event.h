#pragma once
// worker/flagged_event.h: an auto-reset event whose state is mirrored in a flag, both guarded by
// one lock, so that setting and resetting are never torn apart.

#include <condition_variable>
#include <mutex>

namespace tessaline {

class FlaggedEvent
{
public:
    FlaggedEvent() = default;
    FlaggedEvent(const FlaggedEvent&) = delete;
    FlaggedEvent& operator=(const FlaggedEvent&) = delete;

    /// Signals the event; one waiter (present or next) passes and clears it again.
    void Set();
    /// Clears the event without waking anyone.
    void Reset();
    /// Blocks without time limit until the event is signalled, then clears it (auto-reset).
    void Wait();
    /// The mirror flag: true between a Set and the next Reset or passed Wait.
    bool Signalled() const;

private:
    mutable std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

} // namespace tessaline
