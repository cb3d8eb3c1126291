#pragma once
// worker/colour_search.h: the colour count that answers a target instead of a guess. A quality
// target (PSNR at least, largest error at most) takes the fewest colours whose result reaches it;
// a size target the most colours whose encoded file fits. Neither figure is strictly monotone in
// the count, so the answer is a neighbourhood fact checked on full reductions: the chosen count
// meets the target and the count one step past it (one fewer for quality, one more for size) does
// not, or lies outside the range searched. Three quick probes sketch the curve; full trials,
// placed where the sketch shifted onto the full results makes a met count beside a missed one most
// likely per cost, then close in, and only a met full result beside a missed one settles it.

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/result_figures.h"
#include "worker/colour_trials.h"

namespace tessaline {

struct ColourTarget
{
    std::optional<double> minPsnr;         ///< dB, as MeasureResult gives it
    std::optional<int> maxError;           ///< levels, as MeasureResult gives it
    std::optional<std::uint64_t> maxBytes; ///< bytes of the encoded file

    bool Quality() const { return minPsnr || maxError; }
    bool Any() const { return Quality() || maxBytes; }
    /// Whether a result with these figures meets every part of the target.
    bool MetBy(const ResultFigures& figures) const;
};

/// One point of a colour curve: the figures (the size included) of a full reduction at a count.
struct CurvePoint
{
    std::uint32_t colours = 0;
    ResultFigures figures;
};

/// The counts a colour curve measures unless it is given others.
std::vector<std::uint32_t> DefaultCurveCounts();

struct ColourSearchOutcome
{
    int code = ReduceOk;      ///< a ReduceResult; the rest is meaningful only for ReduceOk
    std::uint32_t chosen = 0; ///< the count whose full trial is the answer (kept in the trials)
    bool met = false;         ///< false: no count in the range meets the target; `chosen` is
                              ///< the one closest to it (the most colours for quality, the fewest for size)
    std::optional<std::uint32_t> neighbour; ///< the count one step past `chosen`, which misses
    std::optional<ResultFigures> neighbourFigures;
    int fullTrials = 0; ///< full reductions the search ran
    int probes = 0;     ///< quick probes it ran
};

/// Searches the counts `lowest` to `highest` (2 <= lowest <= highest <= 256) for `target`,
/// through `trials` (prepared). Where it looks depends on the figures alone. A quality and a size
/// target together are not searched: the size part is ignored.
ColourSearchOutcome SearchColours(TrialRunner& trials, const ColourTarget& target, std::uint32_t lowest,
                                  std::uint32_t highest);

/// Full trials at `counts` (already run ones are reused), in the order given. A ReduceResult.
int MeasureCurve(TrialRunner& trials, const std::vector<std::uint32_t>& counts,
                 std::vector<CurvePoint>& curve, std::uint32_t keep);

} // namespace tessaline
