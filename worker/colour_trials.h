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
#include "engine/float_map.h"
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
    ResultFigures figures;    ///< pngBytes set when the trial was encoded
    bool encodedSize = false; ///< whether figures.pngBytes is the encoded size
    IndexedImage result;      ///< kept for full trials until Forget
    std::vector<std::uint8_t> encoded;
};

/// What a colour search needs of trials: running them at counts and reading their figures.
/// ColourTrials runs real reductions; a replay can serve figures recorded earlier.
class TrialRunner
{
public:
    virtual ~TrialRunner() = default;

    /// Runs the trials at `counts` not run before: full trials at the job's settings (kept with
    /// their results), or quick probes (no feedback trials, one refinement pass, and on a large
    /// image only bands of its rows remapped and measured; only figures kept) that only steer a
    /// search. `encode`: the trials are encoded and their figures carry
    /// the size; a full trial run before without it is encoded now (run again if its result was
    /// forgotten). ReduceOk, or the first failure (ReduceCancelled, ReduceOutOfMemory).
    virtual int Run(std::span<const std::uint32_t> counts, bool probe, bool encode) = 0;

    /// The trial at `colours`, or null when none ran.
    const ColourTrial* Full(std::uint32_t colours) const;
    const ColourTrial* Probe(std::uint32_t colours) const;
    const std::map<std::uint32_t, ColourTrial>& FullTrials() const { return full; }
    const std::map<std::uint32_t, ColourTrial>& Probes() const { return probes; }

    /// Frees the results of every full trial but `keep` (their figures stay).
    void Forget(std::uint32_t keep);

protected:
    std::map<std::uint32_t, ColourTrial> full;
    std::map<std::uint32_t, ColourTrial> probes;
};

class ColourTrials : public TrialRunner
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

    /// Stages 2 to 4, once. A ReduceResult. Throws std::bad_alloc.
    int Prepare();

    int Run(std::span<const std::uint32_t> counts, bool probe, bool encode) override;

    /// Moves the result of the full trial at `colours` out; false when it is not kept.
    bool Take(std::uint32_t colours, IndexedImage& result, std::vector<std::uint8_t>& encoded,
              ResultFigures& figures);

private:
    /// What probes remap and measure: evenly spaced bands of the image's rows, on a large image.
    struct ProbeBands
    {
        RgbaImage input;
        RgbaImage source;
        FloatMap dither; ///< the bands' part of the dither map, or null
    };

    ColourTrial RunOne(std::uint32_t colours, bool probe, bool encode, int threads) const;
    void CutProbeBands();

    const ReduceSettings& job;
    const RgbaImage& source;
    RgbaImage& input;
    EncodeFunction encode;
    int threads;
    PreparedReduction prepared;
    std::unique_ptr<ProbeBands> bands; ///< null: probes work on the whole image
};

} // namespace tessaline
