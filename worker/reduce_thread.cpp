#include "worker/reduce_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <system_error>

#include "engine/parallel.h"
#include "engine/vector_width.h"
#include "worker/team_size.h"

namespace tessaline {

std::uint32_t TimerMs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

ReduceThread::ReduceThread(ProgressUIInterface* ui, ReduceFunction reduce) : ui(ui), reduce(reduce)
{
    job.cancel = &cancelRequested;
    // Written only when it changes: reductions already running on other workers read the flag.
    if (const bool sse2 = ProcessorSupportsSse2(); ProcessorHasSse2 != sse2)
        ProcessorHasSse2 = sse2;
    // TESSALINE_VECTOR_WIDTH ("sse2", "avx2", "avx512") narrows the width, to compare or to time them.
    if (const VectorWidth width = ChooseVectorWidth(std::getenv("TESSALINE_VECTOR_WIDTH"));
        VectorWidthInUse != width)
        VectorWidthInUse = width;
}

ReduceThread::~ReduceThread()
{
    // Join here, not only in ~CThread: by then job would already be gone under a running Run.
    Stop();
}

void ReduceThread::Run()
{
    startedEvent.Set();
    if (maxThreads > 0)
        SetMaxThreads(maxThreads); // the worker's own setting: other workers keep theirs
    LimitTeamToStartableThreads();
    std::uint32_t start = TimerMs();
    int code = ReduceOutOfMemory;
    bool threw = false;
    RgbaImage working;
    try {
        RgbaImage* input = source;
        if (AlphaRaiseApplies(job.minOpacity)) {
            working = source->Clone();
            input = &working;
        }
        start = TimerMs(); // the copy is not the reduction's time
        code = target || !curveCounts.empty() ? Search(*input) : reduce(job, *input, *result);
    } catch (...) {
        // A stage ran out of memory. Anything else escaping the worker would end the process;
        // out of memory is the only failure the window knows, and it must hear back in any case.
        threw = true;
    }
    const std::uint32_t elapsedMs = TimerMs() - start;
    working.Release();
    if (threw || code == ReduceCancelled)
        result->Release(); // a stand-in reduction may not have emptied it
    job.userWeights.reset();
    if (code == ReduceOk && !threw && !figures)
        Measure();
    if (ui)
        ui->ReportFinished(elapsedMs, code);
    std::lock_guard<std::recursive_mutex> hold(lock);
    stopEvent.Set();
}

int ReduceThread::Search(RgbaImage& input)
{
    ColourTrials trials(job, *source, input, encode, MaxThreads());
    if (const int code = trials.Prepare(); code != ReduceOk)
        return code;
    std::uint32_t chosen = std::clamp<std::uint32_t>(job.maxColours, 2, 256);
    if (target) {
        search = SearchColours(trials, *target, 2, chosen);
        if (search->code != ReduceOk)
            return search->code;
        chosen = search->chosen;
    }
    if (!curveCounts.empty())
        if (const int code = MeasureCurve(trials, curveCounts, curve, chosen); code != ReduceOk)
            return code;
    // A plain run with a curve: the result at the job's own count, from the same preparation.
    if (!target)
        if (const int code = trials.Run(std::vector<std::uint32_t>{chosen}, false, true); code != ReduceOk)
            return code;
    reductions = static_cast<int>(trials.FullTrials().size() + trials.Probes().size());
    ResultFigures chosenFigures;
    if (!trials.Take(chosen, *result, encoded, chosenFigures))
        return ReduceOutOfMemory;
    // A quality search measures its trials without encoding them: only the answer is saved.
    if (encoded.empty() && encode) {
        encoded = encode(*result);
        chosenFigures.pngBytes = encoded.size();
    }
    figures = chosenFigures;
    return ReduceOk;
}

void ReduceThread::Measure()
{
    const std::uint32_t start = TimerMs();
    try {
        // The encoding runs on one thread of the worker's team beside the figures on the others;
        // both only read the result. Without a second thread (or when none can be started) they
        // run one after the other.
        std::future<std::vector<std::uint8_t>> encoding;
        const int team = MaxThreads();
        if (encode && team > 1) {
            try {
                encoding = std::async(std::launch::async, encode, std::cref(*result));
            } catch (const std::system_error&) {
            }
        }
        if (encoding.valid()) {
            SetMaxThreads(team - 1);
            try {
                figures = MeasureResult(*source, *result);
            } catch (...) {
                SetMaxThreads(team);
                throw; // the encoding's future waits for it on the way out
            }
            SetMaxThreads(team);
        } else {
            figures = MeasureResult(*source, *result);
        }
        if (figures && encode) {
            encoded = encoding.valid() ? encoding.get() : encode(*result);
            figures->pngBytes = encoded.size();
        }
    } catch (const std::bad_alloc&) {
        // The result stands without its figures; only they are lost.
        figures.reset();
        encoded.clear();
    }
    measureMs = TimerMs() - start;
}

} // namespace tessaline
