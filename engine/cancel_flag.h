#pragma once
// engine/cancel_flag.h: a request to abandon a reduction. Anyone may set it from any thread, a
// signal handler included (setting it is one lock-free atomic store); the engine's long loops read
// it and stop early, and the pipeline then answers ReduceCancelled. A null flag is never set.

#include <atomic>

namespace tessaline {

using CancelFlag = std::atomic<bool>;

static_assert(CancelFlag::is_always_lock_free, "a signal handler must be able to set the flag");

/// True once `flag` has been set. Relaxed: a loop that sees it a few iterations late only works a
/// little longer, and nothing else is handed over through the flag.
inline bool CancelRequested(const CancelFlag* flag)
{
    return flag && flag->load(std::memory_order_relaxed);
}

} // namespace tessaline
