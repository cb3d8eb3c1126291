#pragma once
// engine/parallel.h: the one file that includes <omp.h>. Parallel loops run only above
// ParallelThreshold items, with a static schedule and one accumulator row per thread. Without
// OpenMP (a WebAssembly build) the pragmas are ignored and every loop runs on the calling thread
// as a team of one, which gives the same bytes: the per-thread rows are added in thread order.

#include <cstdint>

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace tessaline {

/// Loops over more than this many items or pixels run in parallel.
inline constexpr std::int64_t ParallelThreshold = 3000;

/// Whole-image stages that split the image among threads and meet only a few times (contrast maps,
/// histogram count) do so from this many pixels. Below it each part takes a few milliseconds, about
/// a time slice: on a busy machine one descheduled thread at a meeting point costs more than the
/// split saves.
inline constexpr std::uint64_t ParallelImagePixels = std::uint64_t{1} << 20;

/// Rows of per-thread accumulators to allocate before a parallel loop.
inline int MaxThreads()
{
#if defined(_OPENMP)
    return omp_get_max_threads();
#else
    return 1;
#endif
}

/// Lowers (or raises) the threads of the parallel loops the calling thread starts from now on.
inline void SetMaxThreads([[maybe_unused]] int threads)
{
#if defined(_OPENMP)
    omp_set_num_threads(threads);
#endif
}

/// The calling thread's row inside a parallel loop (0 outside one).
inline int ThreadIndex()
{
#if defined(_OPENMP)
    return omp_get_thread_num();
#else
    return 0;
#endif
}

/// Starts a team of `threads` for the calling thread and ends the region at once. The runtime keeps
/// those threads for the caller's later parallel loops of up to that many threads, which then
/// start no thread of their own (a runtime that cannot start one ends the process).
inline void StartTeam([[maybe_unused]] int threads)
{
#pragma omp parallel num_threads(threads)
    {
    }
}

/// Threads of the parallel region the caller runs in (1 outside one); at most the number asked for.
inline int TeamSize()
{
#if defined(_OPENMP)
    return omp_get_num_threads();
#else
    return 1;
#endif
}

} // namespace tessaline
