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
    /// any worker runs (later ones, once it is set, write nothing and may be made beside running
    /// workers). `reduce` is the reduction to run, ReducePipeline unless a test swaps it.
    explicit ReduceThread(ProgressUIInterface* ui, ReduceFunction reduce = &ReducePipeline);
    /// Joins the worker before the job goes.
    ~ReduceThread() override;

    ReduceSettings job;                ///< filled by BuildReduceJob before Start
    ProgressUIInterface* ui = nullptr; ///< borrowed receiver of ReportFinished
    RgbaImage* source = nullptr;       ///< borrowed input; must be set before Start
    IndexedImage* result = nullptr;    ///< borrowed, empty output; must be set before Start
    /// Threads of the engine's parallel loops in this reduction; 0 leaves the runtime's default.
    /// Reductions side by side each take a share of the processors instead of all of them.
    int maxThreads = 0;

protected:
    /// Runs the reduction, frees job.userWeights, then calls ReportFinished exactly once with the
    /// elapsed time and the code: ReduceOk, ReduceOutOfMemory or ReduceQualityTooLow. A stage that
    /// throws is reported as ReduceOutOfMemory, with `result` emptied so no half-built image is
    /// shown or saved.
    void Run() override;

private:
    ReduceFunction reduce;
};

} // namespace tessaline
