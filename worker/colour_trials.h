#pragma once
// worker/colour_trials.h: reductions of one image at several colour counts. The image is prepared
// once (alpha raise, maps, histogram: nothing there depends on the count) and each trial finishes
// a copy of that, so a trial at N colours gives exactly the result a plain reduction at N gives.
// Trials run two at once when the worker has two threads or more: most of a trial's time is the
// median cut, which runs on one thread. Each trial is measured and, when asked, encoded.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "engine/colour_model.h"
#include "engine/prepared_reduction.h"
#include "engine/reduce_settings.h"
#include "engine/result_figures.h"

namespace tessaline {

/// As ReduceThread's: encodes a result as the file it is saved as; empty bytes when it cannot.
using EncodeFunction = std::function<std::vector<std::uint8_t>(const IndexedImage& result)>;

/// One trial's outcome.
struct ColourTrial
{
    std::uint32_t colours = 0; ///< the count asked for
    int code = ReduceOutOfMemory;
    ResultFigures figures; ///< pngBytes set when the trial was encoded
    IndexedImage result;   ///< kept for full trials until Forget
    std::vector<std::uint8_t> encoded;
};

class ColourTrials
{
public:
    /// `job` is the reduction's job (its maxColours is replaced per trial; its progress receives
    /// the preparation's stages only). `source` holds the pixels as loaded, for the figures;
    /// `input` the pixels the reduction works on (the same image, or a copy the alpha raise may
    /// change). All are borrowed and must outlive this. `threads` is the worker's team.
    ColourTrials(const ReduceSettings& job, const RgbaImage& source, RgbaImage& input, EncodeFunction encode,
                 int threads);
    ColourTrials(ReduceSettings&& job, const RgbaImage& source, RgbaImage& input, EncodeFunction encode,
                 int threads) = delete; // the job is borrowed: a temporary would be gone

    /// Stages 2 to 4, once. A ReduceResult.
    int Prepare();

    /// Runs the trials at `counts` not run before: full trials at the job's settings (kept with
    /// their results), or quick probes (no feedback trials, one refinement pass; only figures
    /// kept) that only steer a search. Encodes every full trial, and probes when `encodeProbes`.
    /// ReduceOk, or the first failure (ReduceCancelled, ReduceOutOfMemory).
    int Run(std::span<const std::uint32_t> counts, bool probe, bool encodeProbes = false);

    /// The trial at `colours`, or null when none ran.
    const ColourTrial* Full(std::uint32_t colours) const;
    const ColourTrial* Probe(std::uint32_t colours) const;
    const std::map<std::uint32_t, ColourTrial>& FullTrials() const { return full; }
    const std::map<std::uint32_t, ColourTrial>& Probes() const { return probes; }

    /// Frees the results of every full trial but `keep` (their figures stay).
    void Forget(std::uint32_t keep);
    /// Moves the result of the full trial at `colours` out; false when it is not kept.
    bool Take(std::uint32_t colours, IndexedImage& result, std::vector<std::uint8_t>& encoded,
              ResultFigures& figures);

private:
    ColourTrial RunOne(std::uint32_t colours, bool probe, bool encode, int threads) const;

    const ReduceSettings& job;
    const RgbaImage& source;
    RgbaImage& input;
    EncodeFunction encode;
    int threads;
    PreparedReduction prepared;
    std::map<std::uint32_t, ColourTrial> full;
    std::map<std::uint32_t, ColourTrial> probes;
};

} // namespace tessaline
