#pragma once
// worker/reduce_thread.h: ReduceThread runs one reduction on its worker, times it and reports the
// result once through ProgressUIInterface. It owns its job (and the job's user weights); the two
// images and the interface are borrowed and never freed here.

#include <cstdint>

#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_pipeline.h"
#include "engine/reduce_settings.h"
#include "worker/thread.h"

namespace tessaline {

/// The shape of ReducePipeline; a test may hand ReduceThread another function of this shape.
using ReduceFunction = int (*)(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output);

/// Milliseconds of a steady clock, truncated to 32 bits: differences stay right across the wrap.
std::uint32_t TimerMs();

class ReduceThread : public CThread
{
public:
    /// `ui` receives the completion report (it may be null). Gives the job its defaults and sets
    /// ProcessorHasSse2 from the processor; call it on the thread that starts reductions, before
    /// any worker runs. `reduce` is the reduction to run, ReducePipeline unless a test swaps it.
    explicit ReduceThread(ProgressUIInterface* ui, ReduceFunction reduce = &ReducePipeline);
    /// Joins the worker before the job goes.
    ~ReduceThread() override;

    /// Asks the running reduction to stop early: it soon reports ReduceCancelled with `result`
    /// empty. Callable from any thread and from a signal handler (one lock-free atomic store);
    /// before Start it makes the reduction stop at once.
    void Cancel() noexcept { cancelRequested.store(true, std::memory_order_relaxed); }

    ReduceSettings job;                ///< filled by BuildReduceJob before Start
    ProgressUIInterface* ui = nullptr; ///< borrowed receiver of ReportFinished
    RgbaImage* source = nullptr;       ///< borrowed input; must be set before Start
    IndexedImage* result = nullptr;    ///< borrowed, empty output; must be set before Start

protected:
    /// Runs the reduction, frees job.userWeights, then calls ReportFinished exactly once with the
    /// elapsed time and the code: ReduceOk, ReduceOutOfMemory, ReduceQualityTooLow or
    /// ReduceCancelled. A stage that throws is reported as ReduceOutOfMemory, with `result` emptied
    /// so no half-built image is shown or saved.
    void Run() override;

private:
    ReduceFunction reduce;
    CancelFlag cancelRequested{false}; ///< job.cancel points here
};

} // namespace tessaline
