#include "worker/colour_trials.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "engine/parallel.h"
#include "engine/reduce_pipeline.h"

namespace tessaline {

namespace {

// A trial's job: the reduction's own, at `colours`, without its user weights (only the
// preparation reads them) and its progress (which hears the preparation's stages only). A probe
// skips the feedback trials and runs one refinement pass, about a fifth of the time for a result a
// few tenths of a dB and a few per cent of bytes away.
ReduceSettings TrialSettings(const ReduceSettings& job, std::uint32_t colours, bool probe)
{
    ReduceSettings trial;
    static_cast<ReduceOptions&>(trial) = job;
    trial.maxColours = colours;
    trial.progress = nullptr;
    if (probe) {
        trial.feedbackTrials = 0;
        trial.voronoiIterations = std::min(job.voronoiIterations, 1);
    }
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
    const int code = PrepareReduction(job, input, prepared);
    if (code == ReduceOk)
        CutProbeBands();
    return code;
}

void ColourTrials::CutProbeBands()
{
    // A sample of 128 K pixels, or a sixteenth of a larger image, in bands of 16 rows: the
    // figures of a sample that size follow the whole image's closely (a sample of fewer, wider
    // bands misses whole regions of a large photograph), and within a band the dithering spreads
    // its error, and the encoder finds its matches, as they would in the whole.
    constexpr std::uint32_t BandRows = 16;
    const std::uint32_t width = input.width;
    const std::uint32_t height = input.height;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    const std::uint64_t sample = std::max<std::uint64_t>(std::uint64_t{1} << 17, pixels / 16);
    const std::uint64_t bandCount = sample / (std::uint64_t{width} * BandRows);
    if (pixels < 2 * sample || bandCount == 0 || bandCount * BandRows * 2 > height)
        return;
    auto cut = std::make_unique<ProbeBands>();
    const auto rows = static_cast<std::uint32_t>(bandCount * BandRows);
    cut->input = CreateRgbaImage(width, rows);
    cut->input.gamma = input.gamma;
    cut->source = CreateRgbaImage(width, rows);
    cut->source.gamma = source.gamma;
    if (prepared.dither)
        cut->dither = AllocateFloatMap(std::size_t{width} * rows);
    for (std::uint32_t band = 0; band < bandCount; ++band) {
        // Band b starts where it centres the b-th of bandCount equal parts of the image.
        const std::uint64_t centre = (2 * std::uint64_t{band} + 1) * height / (2 * bandCount);
        const auto first = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(height - BandRows, centre > BandRows / 2 ? centre - BandRows / 2 : 0));
        for (std::uint32_t r = 0; r < BandRows; ++r) {
            const std::uint32_t to = band * BandRows + r;
            std::copy_n(input.rows[first + r], std::size_t{width} * 4, cut->input.rows[to]);
            std::copy_n(source.rows[first + r], std::size_t{width} * 4, cut->source.rows[to]);
            if (cut->dither)
                std::copy_n(prepared.dither.get() + std::size_t{first + r} * width, width,
                            cut->dither.get() + std::size_t{to} * width);
        }
    }
    bands = std::move(cut);
}

ColourTrial ColourTrials::RunOne(std::uint32_t colours, bool probe, bool encodeIt, int teamThreads) const
{
    ColourTrial trial;
    trial.colours = colours;
    SetMaxThreads(teamThreads); // this thread's own setting
    try {
        const ReduceSettings settings = TrialSettings(job, colours, probe);
        const bool banded = probe && bands;
        PreparedReduction copy = banded ? prepared.CopyHistogram() : prepared.Copy();
        if (banded) {
            copy.height = bands->input.height;
            if (bands->dither) {
                const std::size_t count = std::size_t{copy.width} * copy.height;
                copy.dither = AllocateFloatMap(count);
                std::copy_n(bands->dither.get(), count, copy.dither.get());
            }
        }
        trial.code = FinishReduction(settings, copy, banded ? bands->input : input, trial.result);
        if (trial.code != ReduceOk)
            return trial;
        const std::optional<ResultFigures> figures =
            MeasureResult(banded ? bands->source : source, trial.result);
        if (!figures) {
            trial.code = ReduceOutOfMemory;
            return trial;
        }
        trial.figures = *figures;
        if (encodeIt && encode) {
            trial.encoded = encode(trial.result);
            trial.figures.pngBytes = trial.encoded.size();
            trial.encodedSize = true;
            if (banded) {
                // The bands' image data stands for the whole image's; the chunks around it (about
                // a hundred bytes and four per palette entry) come once.
                const double around = 100.0 + 4.0 * trial.result.paletteSize;
                const double data = std::max(0.0, double(trial.encoded.size()) - around);
                trial.figures.pngBytes = static_cast<std::uint64_t>(
                    std::llround(around + data * input.height / bands->input.height));
            }
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

int ColourTrials::Run(std::span<const std::uint32_t> counts, bool probe, bool encodeIt)
{
    std::map<std::uint32_t, ColourTrial>& done = probe ? probes : full;
    std::vector<std::uint32_t> todo;
    for (const std::uint32_t colours : counts) {
        const auto found = done.find(colours);
        if (found != done.end() && encodeIt && encode && !found->second.encodedSize) {
            // Run before without its size: encoded now from its result, or run again when that is gone.
            ColourTrial& trial = found->second;
            if (trial.result.Empty()) {
                done.erase(found);
            } else {
                try {
                    trial.encoded = encode(trial.result);
                } catch (const std::bad_alloc&) {
                    return ReduceOutOfMemory;
                }
                trial.figures.pngBytes = trial.encoded.size();
                trial.encodedSize = true;
                continue;
            }
        }
        if (!done.contains(colours) && std::find(todo.begin(), todo.end(), colours) == todo.end())
            todo.push_back(colours);
    }
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

const ColourTrial* TrialRunner::Full(std::uint32_t colours) const
{
    const auto found = full.find(colours);
    return found == full.end() ? nullptr : &found->second;
}

const ColourTrial* TrialRunner::Probe(std::uint32_t colours) const
{
    const auto found = probes.find(colours);
    return found == probes.end() ? nullptr : &found->second;
}

void TrialRunner::Forget(std::uint32_t keep)
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
