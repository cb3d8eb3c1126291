#pragma once
// worker/reduce_thread.h: ReduceThread runs one reduction on its worker, times it and reports the
// result once through ProgressUIInterface. It owns its job (and the job's user weights); the two
// images and the interface are borrowed and never freed here.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_pipeline.h"
#include "engine/reduce_settings.h"
#include "engine/result_figures.h"
#include "worker/colour_search.h"
#include "worker/thread.h"

namespace tessaline {

/// The shape of ReducePipeline; a test may hand ReduceThread another function of this shape.
using ReduceFunction = int (*)(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output);

/// Encodes a result as the file it is saved as (the front ends hand in EncodePng); empty bytes when
/// it cannot. The worker knows no file formats of its own.
using EncodeFunction = std::function<std::vector<std::uint8_t>(const IndexedImage& result)>;

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

    /// Asks the running reduction to stop early: it soon reports ReduceCancelled with `result`
    /// empty. Callable from any thread and from a signal handler (one lock-free atomic store);
    /// before Start it makes the reduction stop at once.
    void Cancel() noexcept { cancelRequested.store(true, std::memory_order_relaxed); }

    ReduceSettings job;                ///< filled by BuildReduceJob before Start
    ProgressUIInterface* ui = nullptr; ///< borrowed receiver of ReportFinished
    RgbaImage* source = nullptr;       ///< borrowed input; must be set before Start
    IndexedImage* result = nullptr;    ///< borrowed, empty output; must be set before Start
    /// When set, a successful result is encoded into `encoded` and its size put in the figures.
    EncodeFunction encode = nullptr;

    /// Written by Run before ReportFinished and left alone afterwards, so the receiver of the
    /// report may read (or move out) them. The figures of a successful result against `source` as
    /// it was before the reduction; empty after a failure or when they cannot be measured.
    std::optional<ResultFigures> figures;
    /// The encoded result (see `encode`); empty when there is none.
    std::vector<std::uint8_t> encoded;
    /// Milliseconds the figures and the encoding took after the reduction (not in elapsedMs).
    std::uint32_t measureMs = 0;
    /// Threads of the engine's parallel loops in this reduction; 0 leaves the runtime's default.
    /// Reductions side by side each take a share of the processors instead of all of them.
    int maxThreads = 0;

    /// With a target, Run chooses the colour count (SearchColours over 2 to job.maxColours) and
    /// gives the result at that count, exactly as a plain reduction at it; with curve counts, it
    /// also measures the full results at those counts. Either way `figures` and `encoded` are
    /// those of the result given, and `search` and `curve` say how it was found.
    std::optional<ColourTarget> target;
    std::vector<std::uint32_t> curveCounts;
    std::optional<ColourSearchOutcome> search; ///< written by Run when there was a target
    std::vector<CurvePoint> curve;             ///< written by Run when there were curve counts
    int reductions = 0;                        ///< full reductions and probes a search or curve ran

protected:
    /// Runs the reduction on a copy of `source` when the job's alpha raise would change it (so
    /// `source` keeps the pixels as loaded and a second run of the same job gives the same result),
    /// frees job.userWeights, measures a successful result, then calls ReportFinished exactly once
    /// with the elapsed time of the reduction alone and the code: ReduceOk, ReduceOutOfMemory,
    /// ReduceQualityTooLow or ReduceCancelled. A stage that throws is reported as ReduceOutOfMemory, with `result`
    /// emptied so no half-built image is shown or saved.
    void Run() override;

private:
    void Measure();
    int Search(RgbaImage& input);

    ReduceFunction reduce;
    CancelFlag cancelRequested{false}; ///< job.cancel points here
};

} // namespace tessaline
