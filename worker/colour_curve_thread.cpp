#include "worker/colour_curve_thread.h"

#include "engine/colour_model.h"
#include "engine/parallel.h"
#include "worker/team_size.h"

namespace tessaline {

ColourCurveThread::ColourCurveThread()
{
    job.cancel = &cancelRequested;
}

ColourCurveThread::~ColourCurveThread()
{
    Cancel();
    Stop(); // before the members Run uses go
}

void ColourCurveThread::Run()
{
    startedEvent.Set();
    LimitTeamToStartableThreads();
    job.cancel = &cancelRequested;
    int code = ReduceOk;
    try {
        RgbaImage working;
        RgbaImage* input = &source;
        if (AlphaRaiseApplies(job.minOpacity)) {
            working = source.Clone();
            input = &working;
        }
        ColourTrials trials(job, source, *input, encode, MaxThreads());
        code = trials.Prepare();
        for (std::size_t i = 0; code == ReduceOk && i < counts.size(); i += 2) {
            const std::vector<std::uint32_t> pair(counts.begin() + i,
                                                  counts.begin() + std::min(i + 2, counts.size()));
            code = trials.Run(pair, false, true);
            trials.Forget(0);
            for (const std::uint32_t n : pair)
                if (code == ReduceOk && onPoint)
                    onPoint({n, trials.Full(n)->figures});
        }
    } catch (...) {
        code = ReduceOutOfMemory; // nothing may leave the worker
    }
    if (CancelRequested(&cancelRequested))
        code = ReduceCancelled;
    if (onDone)
        onDone(code);
    std::lock_guard<std::recursive_mutex> hold(lock);
    stopEvent.Set();
}

} // namespace tessaline
