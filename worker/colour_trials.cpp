#include "worker/colour_trials.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "engine/parallel.h"
#include "engine/reduce_pipeline.h"

namespace tessaline {

namespace {

// A trial's job: the reduction's own, at `colours`. The user weights are left out: only the
// preparation reads them. A probe skips the feedback trials and runs one refinement pass, about a
// fifth of the time for a result a few tenths of a dB and a few per cent of bytes away.
ReduceSettings TrialSettings(const ReduceSettings& job, std::uint32_t colours, bool probe)
{
    ReduceSettings trial;
    trial.targetError = job.targetError;
    trial.maxError = job.maxError;
    trial.minOpacity = job.minOpacity;
    trial.maxColours = colours;
    trial.dither = job.dither;
    trial.lastIndexTransparent = job.lastIndexTransparent;
    trial.contrastMapLevel = job.contrastMapLevel;
    trial.useDitherMap = job.useDitherMap;
    trial.fastHistogram = job.fastHistogram;
    trial.maxHistogramEntries = job.maxHistogramEntries;
    trial.feedbackTrials = probe ? 0 : job.feedbackTrials;
    trial.voronoiIterations = probe ? std::min(job.voronoiIterations, 1) : job.voronoiIterations;
    trial.convergenceDenominator = job.convergenceDenominator;
    trial.givenPalette = job.givenPalette;
    trial.keptColours = job.keptColours;
    trial.channelScales = job.channelScales;
    trial.cancel = job.cancel;
    return trial;
}

} // namespace

ColourTrials::ColourTrials(const ReduceSettings& job, const RgbaImage& source, RgbaImage& input,
                           EncodeFunction encode, int threads)
    : job(job), source(source), input(input), encode(std::move(encode)), threads(std::max(1, threads))
{
}

int ColourTrials::Prepare()
{
    return PrepareReduction(job, input, prepared);
}

ColourTrial ColourTrials::RunOne(std::uint32_t colours, bool probe, bool encodeIt, int teamThreads) const
{
    ColourTrial trial;
    trial.colours = colours;
    SetMaxThreads(teamThreads); // this thread's own setting
    try {
        const ReduceSettings settings = TrialSettings(job, colours, probe);
        PreparedReduction copy = prepared.Copy();
        trial.code = FinishReduction(settings, copy, input, trial.result);
        if (trial.code != ReduceOk)
            return trial;
        const std::optional<ResultFigures> figures = MeasureResult(source, trial.result);
        if (!figures) {
            trial.code = ReduceOutOfMemory;
            return trial;
        }
        trial.figures = *figures;
        if (encodeIt && encode) {
            trial.encoded = encode(trial.result);
            trial.figures.pngBytes = trial.encoded.size();
        }
        if (probe) {
            trial.result.Release();
            trial.encoded.clear();
        }
    } catch (...) {
        // Out of memory in a stage; nothing else may leave a thread that runs beside another.
        trial.code = ReduceOutOfMemory;
        trial.result.Release();
        trial.encoded.clear();
    }
    return trial;
}

int ColourTrials::Run(std::span<const std::uint32_t> counts, bool probe, bool encodeProbes)
{
    std::map<std::uint32_t, ColourTrial>& done = probe ? probes : full;
    std::vector<std::uint32_t> todo;
    for (const std::uint32_t colours : counts)
        if (!done.contains(colours) && std::find(todo.begin(), todo.end(), colours) == todo.end())
            todo.push_back(colours);
    const bool encodeIt = !probe || encodeProbes;
    for (std::size_t i = 0; i < todo.size();) {
        if (CancelRequested(job.cancel))
            return ReduceCancelled;
        // Two side by side, each on half the team; the last one of an odd number on the whole team.
        if (threads >= 2 && i + 1 < todo.size()) {
            ColourTrial second;
            std::thread beside;
            try {
                beside = std::thread(
                    [&] { second = RunOne(todo[i + 1], probe, encodeIt, threads - threads / 2); });
            } catch (const std::system_error&) {
            }
            ColourTrial first = RunOne(todo[i], probe, encodeIt, beside.joinable() ? threads / 2 : threads);
            SetMaxThreads(threads);
            if (beside.joinable())
                beside.join();
            else
                second = RunOne(todo[i + 1], probe, encodeIt, threads);
            for (ColourTrial* trial : {&first, &second}) {
                if (trial->code != ReduceOk)
                    return trial->code;
                const std::uint32_t colours = trial->colours;
                done.emplace(colours, std::move(*trial));
            }
            i += 2;
            continue;
        }
        ColourTrial trial = RunOne(todo[i], probe, encodeIt, threads);
        if (trial.code != ReduceOk)
            return trial.code;
        done.emplace(todo[i], std::move(trial));
        ++i;
    }
    return ReduceOk;
}

const ColourTrial* ColourTrials::Full(std::uint32_t colours) const
{
    const auto found = full.find(colours);
    return found == full.end() ? nullptr : &found->second;
}

const ColourTrial* ColourTrials::Probe(std::uint32_t colours) const
{
    const auto found = probes.find(colours);
    return found == probes.end() ? nullptr : &found->second;
}

void ColourTrials::Forget(std::uint32_t keep)
{
    for (auto& [colours, trial] : full)
        if (colours != keep) {
            trial.result.Release();
            trial.encoded.clear();
            trial.encoded.shrink_to_fit();
        }
}

bool ColourTrials::Take(std::uint32_t colours, IndexedImage& result, std::vector<std::uint8_t>& encoded,
                        ResultFigures& figures)
{
    const auto found = full.find(colours);
    if (found == full.end() || found->second.result.Empty())
        return false;
    result = std::move(found->second.result);
    encoded = std::move(found->second.encoded);
    figures = found->second.figures;
    return true;
}

} // namespace tessaline
