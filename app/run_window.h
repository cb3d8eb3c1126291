#pragma once
// app/run_window.h: one run of the window, from showing it to its close, for the program's entry.

#include <QStringList>

#include "worker/reduce_thread.h"

namespace tessaline {

/// Shows the main window, takes `files` as a drop once it is up, and runs the event loop until
/// the window is closed. Returns the process's exit status: 0 after a normal close, the event
/// loop's own code when it ended otherwise. Needs a QApplication.
int RunWindow(const QStringList& files, ReduceFunction reduce = &ReducePipeline);

} // namespace tessaline
