#pragma once
// cli/batch_runner.h: one run of tessaline-cli over its inputs. Each file takes the road a file
// dropped onto the desktop program takes: the PNG reader, else Qt's image readers (a module loaded
// for the first such file); the job built from the panel's values by BuildReduceJob; the reduction
// on a ReduceThread; the result written by the PNG writer to OUTPUT/NAME.png beside the source (or
// where -o / --output-dir say). With -j several files go through that road at once, each on its own
// thread with its share of the processors; a file's lines are printed whole once it is done. Before
// the first file the run reads the palette and weights files, chooses a shared palette and opens the
// report; it decides up front which input may write which result.

#include "cli/cli_options.h"

namespace tessaline {

/// Blocks SIGINT and SIGTERM and hands them to the batch: the first lets a result being written
/// finish with its record, a second ends the process at once. Before a batch runs a signal ends the
/// process straight away (nothing is written yet). Call first in main, before any other thread exists.
void WatchBatchInterrupts();

/// Runs the batch the options describe and returns the exit status (CliExitCode, or 128 + signal
/// when interrupted). The batch is never destroyed: a signal may arrive while main returns, and the
/// watcher (and the thread an interrupt starts) must still find it and its locks.
int RunBatch(const CliOptions& options, int processors);

} // namespace tessaline
