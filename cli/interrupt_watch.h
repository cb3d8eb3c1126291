#pragma once
// cli/interrupt_watch.h: Ctrl+C (SIGINT) and SIGTERM during a batch, handled on a thread of their
// own instead of in a signal handler, so that the handling may take locks: the batch finishes the
// file it is writing, keeps its report whole and then ends. Without this the default action would
// end the process in the middle of a write and leave a temporary behind.

#include <functional>

namespace tessaline {

/// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts afterwards, and
/// starts a thread that calls `onSignal` with the signal's number for each one that arrives. Call
/// early in main, before any other thread exists (OpenMP's and Qt's included). `onSignal` is
/// expected to end the process. Does nothing where signals are not POSIX ones.
void WatchInterrupts(std::function<void(int signal)> onSignal);

} // namespace tessaline
