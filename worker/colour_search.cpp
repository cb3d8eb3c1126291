#include "worker/colour_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace tessaline {

namespace {

constexpr double Unknown = std::numeric_limits<double>::quiet_NaN();
// How much sooner (log2 of the count) a full reduction usually meets a quality target than a probe.
constexpr double PriorShift = 0.08;

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

// Margins by count, read between the samples along log2 of the count, where both figures are
// nearly straight lines.
class MarginCurve
{
public:
    void Add(std::uint32_t colours, double margin)
    {
        // Infinite margins (exact results) would swamp the line: they count as far inside.
        points[colours] = std::isinf(margin) ? (margin > 0 ? 1e6 : -1e6) : margin;
    }
    bool Empty() const { return points.empty(); }

    double At(std::uint32_t colours) const
    {
        if (points.empty())
            return Unknown;
        auto above = points.lower_bound(colours);
        if (above != points.end() && above->first == colours)
            return above->second;
        if (points.size() == 1)
            return points.begin()->second;
        // Between two samples, or along the last two at either end.
        if (above == points.end())
            --above;
        if (above == points.begin())
            ++above;
        const auto below = std::prev(above);
        const double x0 = std::log2(double(below->first));
        const double x1 = std::log2(double(above->first));
        const double t = (std::log2(double(colours)) - x0) / (x1 - x0);
        return below->second + t * (above->second - below->second);
    }

private:
    std::map<std::uint32_t, double> points;
};

// The next full counts to run inside the open range (from, to) along `toward`: the probes' curve
// shifted by the mean offset the full results show from it (the full reduction sits a fairly
// steady distance above its probe; before any full result, `priorShift` of the count), read as a
// chance that each count meets the target, spread by how much the full figures wobble around a
// smooth curve (a few per cent of the count). Of the one or two unmeasured counts the open range
// offers, the set most likely to show a met count beside a missed one wins: often one count beside
// a measured result, or a fresh count and its neighbour. Empty when the probes cannot say.
std::vector<std::uint32_t> PlaceOnProbes(const ColourTrials& trials, const ColourTarget& target,
                                         const MarginCurve& probeCurve, int toward, std::int64_t from,
                                         std::int64_t to, double priorShift = 0)
{
    if (probeCurve.Empty())
        return {};
    double offset = 0;
    int offsets = 0;
    for (const auto& [n, trial] : trials.FullTrials()) {
        const double full = Margin(target, trial.figures);
        const double probe = probeCurve.At(n);
        if (std::isfinite(full) && std::abs(full) < 1e5 && std::abs(probe) < 1e5) {
            offset += full - probe;
            ++offsets;
        }
    }
    if (offsets == 0 && priorShift == 0)
        return {};
    if (offsets > 0)
        offset /= offsets;
    // The chance that the full result at `n` meets the target, 0 or 1 where it was measured.
    constexpr double Wobble = 0.04;      // log2 of the count
    constexpr double PriorWobble = 0.07; // the same before any offset was measured
    const auto chance = [&](std::int64_t along) -> double {
        const auto n = static_cast<std::uint32_t>(toward * along);
        if (const ColourTrial* full = trials.Full(n))
            return target.MetBy(full->figures) ? 1.0 : 0.0;
        const double slope = std::abs(probeCurve.At(n) - probeCurve.At(std::max<std::uint32_t>(1, n - 1))) /
                             std::max(1e-9, std::log2(double(n) / std::max<std::uint32_t>(1, n - 1)));
        const double margin = probeCurve.At(n) + (offsets > 0 ? offset : priorShift * slope);
        const double spread = std::max(1e-9, (offsets > 0 ? Wobble : PriorWobble) * slope);
        return 0.5 * std::erfc(-margin / (spread * std::sqrt(2.0)));
    };
    // Chance of a crossing (a met count whose neighbour towards the missed side misses) at one of
    // `fresh`, or beside one, given the chances of each count.
    const auto settles = [&](const std::vector<std::int64_t>& fresh) {
        std::map<std::int64_t, double> p;
        for (const std::int64_t k : fresh)
            for (const std::int64_t j : {k - 1, k, k + 1})
                if (j > from - 1 && j < to + 1)
                    p[j] = chance(j);
        // Every outcome of the fresh counts; the others are as measured (0 or 1) or left unknown.
        double total = 0;
        const int outcomes = 1 << fresh.size();
        for (int o = 0; o < outcomes; ++o) {
            double weight = 1;
            std::map<std::int64_t, int> known; // 1 met, 0 missed
            for (std::size_t i = 0; i < fresh.size(); ++i) {
                const bool met = (o >> i) & 1;
                weight *= met ? p[fresh[i]] : 1 - p[fresh[i]];
                known[fresh[i]] = met;
            }
            const auto state = [&](std::int64_t j) -> int {
                if (const auto f = known.find(j); f != known.end())
                    return f->second;
                if (const ColourTrial* full = trials.Full(static_cast<std::uint32_t>(toward * j)))
                    return target.MetBy(full->figures) ? 1 : 0;
                return -1;
            };
            bool crossing = false;
            for (const std::int64_t k : fresh)
                crossing =
                    crossing || (state(k) == 1 && state(k - 1) == 0) || (state(k + 1) == 1 && state(k) == 0);
            if (crossing)
                total += weight;
        }
        return total;
    };
    std::vector<std::int64_t> best;
    double bestChance = -1;
    for (std::int64_t a = from + 1; a < to; ++a) {
        if (const double c = settles({a}); c > bestChance)
            bestChance = c, best = {a};
        for (std::int64_t b = a + 1; b < to; ++b)
            if (const double c = settles({a, b}); c > bestChance + 1e-12)
                bestChance = c, best = {a, b};
    }
    std::vector<std::uint32_t> counts;
    for (const std::int64_t k : best)
        counts.push_back(static_cast<std::uint32_t>(toward * k));
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

ColourSearchOutcome SearchColours(ColourTrials& trials, const ColourTarget& target, std::uint32_t lowest,
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
    const auto run = [&](std::vector<std::uint32_t> counts, bool probe) {
        const int code = trials.Run(counts, probe, !quality);
        outcome.fullTrials = static_cast<int>(trials.FullTrials().size());
        outcome.probes = static_cast<int>(trials.Probes().size());
        return code;
    };

    // Probes find roughly where the target is crossed: two a quarter of the range apart, then each
    // next one where the line through the two nearest the crossing (the bracket's ends once there
    // is one) meets it, until the bracket is within a few per cent of the count. Closer than that,
    // the probes' own distance from the full results dominates.
    MarginCurve probeCurve;
    std::uint32_t guess = metEnd;
    if (highest - lowest >= 4) {
        std::vector<std::uint32_t> next{highest, std::max(lowest, highest / 4)};
        for (int probe = 0; probe < 3 && !next.empty(); ++probe) {
            if (const int code = run(next, true); code != ReduceOk)
                return outcome.code = code, outcome;
            for (const std::uint32_t n : next)
                probeCurve.Add(n, Margin(target, trials.Probe(n)->figures));
            next.clear();
            std::optional<std::uint32_t> met;
            std::optional<std::uint32_t> missed;
            for (const auto& [n, trial] : trials.Probes())
                if (Margin(target, trial.figures) >= 0 && (!met || along(n) < along(*met)))
                    met = n;
            for (const auto& [n, trial] : trials.Probes())
                if (Margin(target, trial.figures) < 0 && (!met || along(n) < along(*met)) &&
                    (!missed || along(n) > along(*missed)))
                    missed = n;
            if (met && !missed && *met == missedEnd) {
                guess = missedEnd;
                break;
            }
            if (!met && missed && *missed == metEnd) {
                guess = metEnd;
                break;
            }
            if (met && missed) {
                guess = *met;
                for (std::int64_t n = std::int64_t(*missed) + toward; n != std::int64_t(*met); n += toward)
                    if (probeCurve.At(static_cast<std::uint32_t>(n)) >= 0) {
                        guess = static_cast<std::uint32_t>(n);
                        break;
                    }
                if (std::max(*met, *missed) - std::min(*met, *missed) <=
                    std::max<std::uint32_t>(1, std::max(*met, *missed) / 12))
                    break;
            }
            // The two probes nearest the crossing: the bracket's ends, else the two smallest margins.
            std::uint32_t p0 = 0;
            std::uint32_t p1 = 0;
            if (met && missed) {
                p0 = *missed;
                p1 = *met;
            } else {
                std::vector<std::pair<double, std::uint32_t>> nearest;
                for (const auto& [n, trial] : trials.Probes())
                    nearest.emplace_back(std::abs(Margin(target, trial.figures)), n);
                std::sort(nearest.begin(), nearest.end());
                p0 = nearest[0].second;
                p1 = nearest[1].second;
            }
            const double m0 = probeCurve.At(p0);
            const double m1 = probeCurve.At(p1);
            const double x0 = std::log2(double(p0));
            const double x1 = std::log2(double(p1));
            std::int64_t n =
                m1 != m0 ? std::llround(std::exp2(x0 - m0 * (x1 - x0) / (m1 - m0))) : std::int64_t(guess);
            n = std::clamp<std::int64_t>(n, lowest, highest);
            if (met && missed)
                n = std::clamp<std::int64_t>(n, std::min(*met, *missed) + 1, std::max(*met, *missed) - 1);
            if (trials.Probe(static_cast<std::uint32_t>(n))) {
                // The line points at a probed count: halve the bracket, or give up the probing.
                if (!(met && missed))
                    break;
                n = (std::int64_t(*met) + std::int64_t(*missed)) / 2;
                if (trials.Probe(static_cast<std::uint32_t>(n)))
                    break;
            }
            next.push_back(static_cast<std::uint32_t>(n));
        }
    }

    // Full trials, in pairs, whose answers together may settle the search. Unless a quality
    // target's pair is placed on the probes (below), the first pair spans a few per cent of the
    // count towards where full results usually meet the target sooner than probes do (fewer
    // colours for quality, more for size); when the probes say even the met end misses, the met
    // end goes alone.
    MarginCurve fullCurve;
    const bool probesMissEverywhere = !probeCurve.Empty() && guess == metEnd && probeCurve.At(metEnd) < 0;
    std::int64_t step = std::max<std::int64_t>(1, guess / 16);
    std::vector<std::uint32_t> pair{guess};
    if (const std::int64_t other =
            std::clamp<std::int64_t>(std::int64_t(guess) - toward * step, lowest, highest);
        !probesMissEverywhere && other != std::int64_t(guess))
        pair.push_back(static_cast<std::uint32_t>(other));
    // A quality target crossed inside the range: full results usually meet it some 8 per cent of
    // the count sooner than the probes do, so the first pair goes where that puts the crossing.
    if (quality && !probesMissEverywhere && guess != metEnd && guess != missedEnd)
        if (std::vector<std::uint32_t> placed = PlaceOnProbes(
                trials, target, probeCurve, toward, along(missedEnd) - 1, along(metEnd) + 1, PriorShift);
            !placed.empty())
            pair = std::move(placed);
    std::int64_t lastSpan = std::int64_t{1} << 20;
    for (;;) {
        if (const int code = run(pair, false); code != ReduceOk)
            return outcome.code = code, outcome;
        for (const std::uint32_t n : pair)
            fullCurve.Add(n, Margin(target, trials.Full(n)->figures));

        // The met full result furthest towards the missed side, and the missed one just beyond it.
        std::optional<std::uint32_t> best;
        for (const auto& [n, trial] : trials.FullTrials())
            if (target.MetBy(trial.figures) && (!best || along(n) < along(*best)))
                best = n;
        // Settled as soon as some met full result has its neighbour on the missed side measured
        // and missing (or outside the range): the figures wobble by more than one colour's worth,
        // so a crossing found is the answer, the one furthest towards the missed side if several.
        std::optional<std::uint32_t> crossing;
        for (const auto& [n, trial] : trials.FullTrials()) {
            const std::int64_t beyond = std::int64_t(n) - toward;
            const ColourTrial* next =
                inRange(beyond) ? trials.Full(static_cast<std::uint32_t>(beyond)) : nullptr;
            if (target.MetBy(trial.figures) && (!inRange(beyond) || (next && !target.MetBy(next->figures))) &&
                (!crossing || along(n) < along(*crossing)))
                crossing = n;
        }
        if (crossing)
            best = crossing;
        std::int64_t from = along(missedEnd) - 1; // the open range still to decide: (from, to) along `toward`
        std::int64_t to = 0;
        if (best) {
            const std::int64_t beyond = std::int64_t(*best) - toward;
            const ColourTrial* next =
                inRange(beyond) ? trials.Full(static_cast<std::uint32_t>(beyond)) : nullptr;
            if (!inRange(beyond) || (next && !target.MetBy(next->figures))) {
                outcome.chosen = *best;
                outcome.met = true;
                if (next) {
                    outcome.neighbour = next->colours;
                    outcome.neighbourFigures = next->figures;
                }
                break;
            }
            for (const auto& [n, trial] : trials.FullTrials())
                if (along(n) < along(*best) && !target.MetBy(trial.figures))
                    from = std::max(from, along(n));
            to = along(*best);
        } else {
            if (trials.Full(metEnd)) {
                outcome.chosen = metEnd; // nothing in the range meets it: the closest there is
                break;
            }
            for (const auto& [n, trial] : trials.FullTrials())
                from = std::max(from, along(n));
            to = along(metEnd) + 1;
        }
        trials.Forget(best ? *best : 0);

        // Where the probes' curve, shifted onto the full results, makes a crossing most likely.
        // Without probes, between a met and a missed full result: where the line through them
        // crosses the target, or the middle when that stalls (the figures are not smooth at the
        // scale of one colour).
        // On one side only: twice as far out as the last step.
        std::int64_t k = 0;
        if (best && from >= along(missedEnd)) {
            const std::int64_t span = to - from - 1;
            const auto nFrom = static_cast<std::uint32_t>(toward * from);
            const auto nTo = static_cast<std::uint32_t>(toward * to);
            const double m0 = fullCurve.At(nFrom);
            const double m1 = fullCurve.At(nTo);
            const double x0 = std::log2(double(nFrom));
            const double x1 = std::log2(double(nTo));
            const double crossing = m1 != m0 ? std::exp2(x0 - m0 * (x1 - x0) / (m1 - m0)) : double(nTo);
            k = static_cast<std::int64_t>(std::ceil(toward * crossing));
            if (span * 2 > lastSpan)
                k = (from + to + 1) / 2;
            lastSpan = span;
        } else {
            // Along the line through the known end and the full result furthest from it, at
            // least one step and at most eight further out; without a second result, twice the
            // last step.
            const auto end = static_cast<std::uint32_t>(best ? *best : toward * from);
            std::optional<std::uint32_t> far;
            for (const auto& [n, trial] : trials.FullTrials())
                if (n != end &&
                    (!far || std::abs(std::log2(double(n) / end)) > std::abs(std::log2(double(*far) / end))))
                    far = n;
            const double m0 = fullCurve.At(end);
            const double m1 = far ? fullCurve.At(*far) : m0;
            const std::int64_t near = best ? to - step : from + step;
            const std::int64_t reach = best ? to - 8 * step : from + 8 * step;
            if (far && m1 != m0 && std::isfinite(m0) && std::isfinite(m1)) {
                const double x0 = std::log2(double(end));
                const double x1 = std::log2(double(*far));
                const double crossing = std::exp2(x0 - m0 * (x1 - x0) / (m1 - m0));
                k = static_cast<std::int64_t>(std::ceil(toward * crossing));
                k = best ? std::clamp(k, reach, near) : std::clamp(k, near, reach);
            } else {
                k = best ? to - 2 * step : from + 2 * step;
            }
            // A step past the whole range of counts goes no further than the range's end, and an
            // unbounded one would overflow when it is multiplied out.
            step = std::clamp<std::int64_t>(std::llabs(k - (best ? to : from)), 1, 256);
        }
        k = std::clamp(k, from + 1, to - 1);
        if (std::vector<std::uint32_t> placed =
                quality ? PlaceOnProbes(trials, target, probeCurve, toward, from, to)
                        : std::vector<std::uint32_t>{};
            !placed.empty()) {
            pair = std::move(placed);
            continue;
        }
        pair = {static_cast<std::uint32_t>(toward * k)};
        if (k - 1 > from)
            pair.push_back(static_cast<std::uint32_t>(toward * (k - 1)));
    }
    trials.Forget(outcome.chosen);
    return outcome;
}

int MeasureCurve(ColourTrials& trials, const std::vector<std::uint32_t>& counts,
                 std::vector<CurvePoint>& curve, std::uint32_t keep)
{
    // In pairs, with the results of all but `keep` freed as it goes: a curve of a large image
    // would otherwise hold a dozen results at once.
    for (std::size_t i = 0; i < counts.size(); i += 2) {
        const std::vector<std::uint32_t> pair(counts.begin() + i,
                                              counts.begin() + std::min(i + 2, counts.size()));
        if (const int code = trials.Run(pair, false); code != ReduceOk)
            return code;
        trials.Forget(keep);
    }
    curve.clear();
    for (const std::uint32_t n : counts)
        curve.push_back({n, trials.Full(n)->figures});
    return ReduceOk;
}

} // namespace tessaline
