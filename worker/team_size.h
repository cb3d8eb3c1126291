#pragma once
// worker/team_size.h: how many threads the engine's parallel loops may use for one reduction. The
// OpenMP runtime ends the whole process when it cannot start a thread for a team (a memory cap, a
// thread limit), so the worker first tries to start as many threads as a team would need and
// lowers the team to what could be started.

namespace tessaline {

/// Starts and joins up to `wanted` - 1 threads with the stack size the OpenMP runtime gives its
/// own (OMP_STACKSIZE or GOMP_STACKSIZE when set), all alive at once, and returns how many threads
/// a team can count on: `wanted` when every one started, else the number that did plus the caller.
int StartableTeamSize(int wanted);

/// Lowers the calling thread's parallel loops to the threads that can be started now, and starts
/// that team at once so that the reduction's loops reuse its threads. Called by the worker before
/// each reduction allocates anything; a reduction then runs on fewer threads instead of failing.
void LimitTeamToStartableThreads();

} // namespace tessaline
