#include "worker/colour_search.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>

namespace tessaline {

namespace {

// Where the full results sit against the probes before any is measured, in log2 of the count (a
// full reduction usually meets a target this much sooner than a probe does), and how far that may
// be off. For a size it is larger and surer: a probe's dithering is noisier and its bands compress
// a little worse than the whole image. Its PSNR reads high or low by the bands it samples.
struct OffsetPrior
{
    double shift;
    double spread;
};
constexpr OffsetPrior QualityPrior{0.03, 0.09};
constexpr OffsetPrior SizePrior{0.18, 0.06};
// How far one count's full result strays from the shifted curve (log2 of the count).
constexpr double CountWobble = 0.012;
// What two full trials side by side cost against one alone on the whole team.
constexpr double PairCost = 1.6;
// The sketch's second probe: this part of the range's top.
constexpr std::uint32_t SketchDivisor = 8;
// Rounds without a bracket before the search stops following the sketch.
constexpr int OpenRounds = 6;

// How far a result is inside the target (>= 0: met). Quality targets take the tighter of their two
// parts; an exact result (infinite PSNR) is as far inside as can be.
double Margin(const ColourTarget& target, const ResultFigures& figures)
{
    if (!target.Quality())
        return static_cast<double>(*target.maxBytes) - static_cast<double>(figures.pngBytes);
    double margin = std::numeric_limits<double>::infinity();
    if (target.minPsnr)
        margin = std::min(margin, figures.psnr - *target.minPsnr);
    if (target.maxError)
        margin = std::min(margin, static_cast<double>(*target.maxError - figures.maxError));
    return margin;
}

// The probes' margins as a curve that only rises towards the met side: the figures do, apart from
// the wobble, and a probe that dips below its neighbour would make a flat or backward stretch
// claim certainty or a crossing that is not there. Dips are pooled with their neighbours (the
// closest monotone fit); the curve is read linearly in log2 of the count between the probes and
// along the slope across all of them beyond. An exact result (infinite PSNR) counts as 10 dB
// further inside than the furthest finite one.
class MonotoneCurve
{
public:
    MonotoneCurve(const std::map<std::uint32_t, ColourTrial>& sketches, const ColourTarget& target,
                  int toward)
        : toward(toward)
    {
        struct Block
        {
            double sum;
            int size;
        };
        double furthest = 0;
        for (const auto& [n, trial] : sketches)
            if (const double margin = Margin(target, trial.figures); std::isfinite(margin))
                furthest = std::max(furthest, std::abs(margin));
        std::vector<Block> blocks;
        for (const auto& [n, trial] : sketches) {
            double margin = Margin(target, trial.figures);
            if (std::isinf(margin))
                margin = std::copysign(furthest + 10, margin);
            x.push_back(std::log2(double(n)));
            blocks.push_back({toward * margin, 1});
            while (blocks.size() >= 2 && blocks[blocks.size() - 2].sum / blocks[blocks.size() - 2].size >
                                             blocks.back().sum / blocks.back().size) {
                blocks[blocks.size() - 2].sum += blocks.back().sum;
                blocks[blocks.size() - 2].size += blocks.back().size;
                blocks.pop_back();
            }
        }
        for (const Block& block : blocks)
            y.insert(y.end(), block.size, block.sum / block.size);
        if (x.size() >= 2)
            overall = (y.back() - y.front()) / (x.back() - x.front());
    }

    bool Empty() const { return x.empty(); }

    /// The margin at `n` (as Margin gives it).
    double At(std::uint32_t n) const
    {
        if (x.empty())
            return 0;
        const double u = std::log2(double(n));
        if (u <= x.front())
            return toward * (y.front() - overall * (x.front() - u));
        if (u >= x.back())
            return toward * (y.back() + overall * (u - x.back()));
        const std::size_t i = std::upper_bound(x.begin(), x.end(), u) - x.begin();
        const double t = (u - x[i - 1]) / (x[i] - x[i - 1]);
        return toward * (y[i - 1] + t * (y[i] - y[i - 1]));
    }

    /// How fast the margin changes per log2 of the count near `n`, never below a quarter of the
    /// slope across all probes: a flat stretch would otherwise claim certainty.
    double Slope(std::uint32_t n) const
    {
        const double local = std::abs(At(n) - At(std::max<std::uint32_t>(1, n - 1))) /
                             std::log2(double(n) / std::max<std::uint32_t>(1, n - 1));
        return std::max({local, 0.25 * overall, 1e-9});
    }

private:
    int toward;
    std::vector<double> x; ///< log2 of each probe's count, ascending
    std::vector<double> y; ///< its margin times `toward`, made non-decreasing
    double overall = 0;
};

// Where the next full trials go, inside the open range (from, to) along `toward`. The full
// results are read as the probes' curve shifted by one offset common to every count, plus a wobble
// of each count's own. Both are measured in log2 of the count times the curve's local slope, so
// one belief serves every part of the curve and both kinds of target. The offset starts from a
// prior (full reductions meet a target a few per cent of the count sooner than probes do) and is
// narrowed by every full result nearby; the wobble is the calibrated one until the results show
// more. Of the one or two unmeasured counts the range offers, the set with the most chance of
// settling the search per cost wins: often a count beside a measured result, or a fresh count and
// its neighbour. `edge` is the end beyond the range on the missed side (a met count at the range's
// end settles it), `metEdge` the range's end on the met side. Empty when the probes cannot say.
std::vector<std::uint32_t> PlaceOnSketch(const TrialRunner& trials, const MonotoneCurve& model,
                                         const ColourTarget& target, int toward, std::int64_t from,
                                         std::int64_t to, std::int64_t edge, std::int64_t metEdge)
{
    if (model.Empty() || to - from < 2)
        return {};
    const auto count = [toward](std::int64_t j) { return static_cast<std::uint32_t>(toward * j); };
    const auto slope = [&](std::int64_t j) { return model.Slope(count(j)); };
    // How far the probes put count j inside the target, in slope units (log2 of the count).
    const auto probeAt = [&](std::int64_t j) { return model.At(count(j)) / slope(j); };

    // What the full results say of the offset: one observation each. Their spread around their
    // mean is the wobble, unless they have not yet shown more than the calibrated one.
    std::vector<double> offsets;
    // Only results at the open range's ends or inside it count: far off, the probes' curve is an
    // extrapolation, and the offset there says little of the offset here.
    for (const auto& [n, trial] : trials.FullTrials())
        if (const std::int64_t j = toward * std::int64_t(n); j >= from && j <= to)
            if (const double full = Margin(target, trial.figures); std::isfinite(full))
                offsets.push_back(full / slope(j) - probeAt(j));
    double mean = 0;
    for (const double d : offsets)
        mean += d / double(offsets.size());
    double squares = 3 * CountWobble * CountWobble; // the calibrated wobble, worth three results
    for (const double d : offsets)
        squares += (d - mean) * (d - mean);
    const double wobble = std::sqrt(squares / (3 + std::max<double>(0, double(offsets.size()) - 1)));
    // The offset's belief: a normal prior, narrowed by each result.
    const OffsetPrior& prior = target.Quality() ? QualityPrior : SizePrior;
    double precision = 1 / (prior.spread * prior.spread);
    double weighted = prior.shift * precision;
    for (const double d : offsets) {
        precision += 1 / (wobble * wobble);
        weighted += d / (wobble * wobble);
    }
    const double shift = weighted / precision;
    const double shiftSpread = 1 / std::sqrt(precision);

    // Measured counts are as measured; beyond the missed side's end counts as missed; else unknown.
    const auto measured = [&](std::int64_t j) -> int {
        if (j <= edge)
            return 0;
        if (const ColourTrial* full = trials.Full(count(j)))
            return target.MetBy(full->figures) ? 1 : 0;
        return -1;
    };
    const bool noneMet = to > metEdge;

    // The candidates: the counts the belief leaves in doubt, and those beside a measured result.
    std::vector<std::int64_t> candidates;
    std::vector<std::pair<double, std::int64_t>> doubt;
    for (std::int64_t j = from + 1; j < to; ++j) {
        if (measured(j) >= 0)
            continue;
        const double z = (probeAt(j) + shift) / std::hypot(wobble, shiftSpread);
        doubt.emplace_back(std::abs(z), j);
    }
    if (doubt.empty())
        return {};
    std::sort(doubt.begin(), doubt.end());
    for (const auto& [z, j] : doubt)
        if (candidates.size() < 24 || measured(j - 1) >= 0 || measured(j + 1) >= 0)
            candidates.push_back(j);
    std::sort(candidates.begin(), candidates.end());

    // The chance that running `fresh` shows a crossing (a met count whose neighbour towards the
    // missed side misses), averaged over the offset's belief at a few points.
    constexpr std::array<double, 7> Nodes{-2.65, -1.67, -0.82, 0.0, 0.82, 1.67, 2.65};
    constexpr std::array<double, 7> Weights{0.0155, 0.0874, 0.2263, 0.3416, 0.2263, 0.0874, 0.0155};
    const auto settles = [&](std::int64_t a, std::int64_t b) {
        const int size = b == a ? 1 : 2;
        const std::int64_t fresh[2] = {a, b};
        double total = 0;
        for (std::size_t q = 0; q < Nodes.size(); ++q) {
            const double offset = shift + Nodes[q] * shiftSpread;
            double p[2];
            for (int i = 0; i < size; ++i)
                p[i] = 0.5 * std::erfc(-(probeAt(fresh[i]) + offset) / (wobble * std::sqrt(2.0)));
            for (int o = 0; o < (1 << size); ++o) {
                double weight = 1;
                for (int i = 0; i < size; ++i)
                    weight *= (o >> i) & 1 ? p[i] : 1 - p[i];
                const auto state = [&](std::int64_t j) {
                    for (int i = 0; i < size; ++i)
                        if (fresh[i] == j)
                            return (o >> i) & 1;
                    return measured(j);
                };
                bool crossing = false;
                for (int i = 0; i < size; ++i) {
                    const std::int64_t k = fresh[i];
                    crossing = crossing || (state(k) == 1 && state(k - 1) == 0) ||
                               (state(k + 1) == 1 && state(k) == 0) ||
                               (noneMet && k == metEdge && state(k) == 0);
                }
                if (crossing)
                    total += Weights[q] * weight;
            }
        }
        return total;
    };
    // Rounds that each settle with chance p at cost c take c / p on average: the set with the most
    // chance per cost wins. Two trials side by side cost PairCost times one alone.
    std::int64_t bestA = candidates.front();
    std::int64_t bestB = bestA;
    double bestValue = -1;
    for (std::size_t x = 0; x < candidates.size(); ++x) {
        const std::int64_t a = candidates[x];
        if (const double value = settles(a, a); value > bestValue)
            bestValue = value, bestA = bestB = a;
        for (std::size_t y = x + 1; y < candidates.size(); ++y)
            if (const double value = settles(a, candidates[y]) / PairCost; value > bestValue + 1e-12)
                bestValue = value, bestA = a, bestB = candidates[y];
    }
    // No set can settle it in one round (the belief is far from the range): a fresh count where
    // the belief is most in doubt, and its neighbour towards the missed side.
    if (bestValue < 1e-9) {
        bestA = doubt.front().second;
        bestB = bestA - 1 > from ? bestA - 1 : bestA;
    }
    std::vector<std::uint32_t> counts{count(bestA)};
    if (bestB != bestA)
        counts.push_back(count(bestB));
    return counts;
}

} // namespace

bool ColourTarget::MetBy(const ResultFigures& figures) const
{
    if (minPsnr && !(figures.psnr >= *minPsnr))
        return false;
    if (maxError && figures.maxError > *maxError)
        return false;
    if (!Quality() && maxBytes && figures.pngBytes > *maxBytes)
        return false;
    return true;
}

std::vector<std::uint32_t> DefaultCurveCounts()
{
    return {2, 4, 8, 16, 24, 32, 48, 64, 96, 128, 192, 256};
}

ColourSearchOutcome SearchColours(TrialRunner& trials, const ColourTarget& target, std::uint32_t lowest,
                                  std::uint32_t highest)
{
    ColourSearchOutcome outcome;
    lowest = std::clamp<std::uint32_t>(lowest, 2, 256);
    highest = std::clamp<std::uint32_t>(highest, lowest, 256);
    // Quality grows with the count and size too: a quality target is met towards many colours, a
    // size target towards few. `toward` steps towards the side where the target is met.
    const bool quality = target.Quality();
    const int toward = quality ? 1 : -1;
    const std::uint32_t metEnd = quality ? highest : lowest;
    const std::uint32_t missedEnd = quality ? lowest : highest;
    const auto inRange = [&](std::int64_t n) { return n >= lowest && n <= highest; };
    // Signed distance towards the met side: larger is further towards it.
    const auto along = [toward](std::int64_t n) { return toward * n; };
    const auto run = [&](const std::vector<std::uint32_t>& counts, bool probe) {
        // Only a size target needs a trial's encoded size; the answer is encoded when it is saved.
        const int code = trials.Run(counts, probe, !quality);
        outcome.fullTrials = static_cast<int>(trials.FullTrials().size());
        outcome.probes = static_cast<int>(trials.Probes().size());
        return code;
    };

    // A sketch of the curve first, in quick probes: the top of the range, a point well below it,
    // and where the curve through those crosses the target.
    const std::map<std::uint32_t, ColourTrial>& sketches = trials.Probes();
    if (highest - lowest >= 4) {
        if (const int code = run({highest, std::max(lowest, highest / SketchDivisor)}, true);
            code != ReduceOk)
            return outcome.code = code, outcome;
        const MonotoneCurve sketch(sketches, target, toward);
        std::uint32_t crossing = metEnd;
        for (std::int64_t j = along(missedEnd); j <= along(metEnd); ++j)
            if (sketch.At(static_cast<std::uint32_t>(toward * j)) >= 0) {
                crossing = static_cast<std::uint32_t>(toward * j);
                break;
            }
        if (!sketches.contains(crossing))
            if (const int code = run({crossing}, true); code != ReduceOk)
                return outcome.code = code, outcome;
    }
    // Full trials, one or two a round, until a met result has its neighbour towards the missed
    // side measured and missing (or outside the range). The figures wobble by more than one
    // colour's worth, so a crossing found is the answer: the one furthest towards the missed side
    // if several.
    std::int64_t lastSpan = std::int64_t{1} << 20;
    int openRounds = 0;
    for (;;) {
        std::optional<std::uint32_t> best;
        for (const auto& [n, trial] : trials.FullTrials()) {
            const std::int64_t beyond = std::int64_t(n) - toward;
            const ColourTrial* next =
                inRange(beyond) ? trials.Full(static_cast<std::uint32_t>(beyond)) : nullptr;
            if (target.MetBy(trial.figures) && (!inRange(beyond) || (next && !target.MetBy(next->figures))) &&
                (!best || along(n) < along(*best))) {
                best = n;
                outcome.neighbour.reset();
                outcome.neighbourFigures.reset();
                if (next) {
                    outcome.neighbour = next->colours;
                    outcome.neighbourFigures = next->figures;
                }
            }
        }
        if (best) {
            outcome.chosen = *best;
            outcome.met = true;
            break;
        }
        // The open range (from, to) along `toward` that must hold a crossing: past the missed
        // result furthest towards the met side, up to the met result furthest towards the missed
        // side (or past the met end when none meets).
        std::optional<std::uint32_t> met;
        for (const auto& [n, trial] : trials.FullTrials())
            if (target.MetBy(trial.figures) && (!met || along(n) < along(*met)))
                met = n;
        std::int64_t from = along(missedEnd) - 1;
        const std::int64_t to = met ? along(*met) : along(metEnd) + 1;
        for (const auto& [n, trial] : trials.FullTrials())
            if (along(n) < to && !target.MetBy(trial.figures))
                from = std::max(from, along(n));
        if (!met && trials.Full(metEnd)) {
            outcome.chosen = metEnd; // nothing in the range meets it: the closest there is
            break;
        }
        trials.Forget(met ? *met : 0);

        // Where the sketch, shifted onto the full results, makes a crossing most likely; a
        // bracket that did not halve since the last round is halved instead, so a crossing is
        // found in a few rounds whatever the figures do between its ends.
        const std::int64_t span = to - from - 1;
        const bool bracketed = met && from >= along(missedEnd);
        std::vector<std::uint32_t> next;
        // Rounds without a bracket that creep along the figures' wobble: the middle of the open
        // range instead, so that a sketch far off cannot lead the search on.
        const bool creeping = !bracketed && ++openRounds > OpenRounds;
        if (!creeping && !(bracketed && span > 4 && span * 2 > lastSpan))
            next = PlaceOnSketch(trials, MonotoneCurve(sketches, target, toward), target, toward, from, to,
                                 along(missedEnd) - 1, along(metEnd));
        if (bracketed)
            lastSpan = span;
        if (next.empty()) {
            // The middle of the open range (its met end when it is open there) and its neighbour.
            // Along `toward` the counts may be negative: the middle is rounded up, not towards 0.
            const std::int64_t end = std::min(to, along(metEnd) + 1);
            const std::int64_t middle = from + (end - from) / 2 + (end - from) % 2;
            const std::int64_t k =
                std::clamp(creeping || to <= along(metEnd) ? middle : along(metEnd), from + 1, end - 1);
            next = {static_cast<std::uint32_t>(toward * k)};
            if (k - 1 > from)
                next.push_back(static_cast<std::uint32_t>(toward * (k - 1)));
        }
        if (const int code = run(next, false); code != ReduceOk)
            return outcome.code = code, outcome;
    }
    trials.Forget(outcome.chosen);
    return outcome;
}

int MeasureCurve(TrialRunner& trials, const std::vector<std::uint32_t>& counts,
                 std::vector<CurvePoint>& curve, std::uint32_t keep)
{
    // In pairs, with the results of all but `keep` freed as it goes: a curve of a large image
    // would otherwise hold a dozen results at once.
    for (std::size_t i = 0; i < counts.size(); i += 2) {
        const std::vector<std::uint32_t> pair(counts.begin() + i,
                                              counts.begin() + std::min(i + 2, counts.size()));
        if (const int code = trials.Run(pair, false, true); code != ReduceOk)
            return code;
        trials.Forget(keep);
    }
    curve.clear();
    for (const std::uint32_t n : counts)
        curve.push_back({n, trials.Full(n)->figures});
    return ReduceOk;
}

} // namespace tessaline
