// tessaline-bench-colour-search: replays the colour-count search over curves recorded by
// tessaline-bench-colour-curves, for many targets at once, and prices each search in the
// recorded milliseconds. Two trials run side by side cost `pair factor` times the slower of them
// alone (each then has half the team). For each image: the mean and worst modelled cost against
// one plain reduction at the panel's count (256), over quality targets every quarter dB across the
// curve and size targets every few per cent; and every answer is checked against the curve (met,
// and the neighbour past it missed).
// A plain run's cost beyond its reduction (read, prepare, write) is taken as a fifth of the
// reduction unless --overhead-ms says otherwise. -v prints each search on a line, and with
// REPLAY_LOG set in the environment the trials it ran with their figures.
//   tessaline-bench-colour-search [-v] [--pair-factor F] [--overhead-ms MS] CURVE.csv[:F]...

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "worker/colour_search.h"

namespace {

using namespace tessaline;

struct Recorded
{
    ResultFigures figures;
    double ms = 0;       ///< the encoding included
    double encodeMs = 0; ///< full trials only
};

struct Curve
{
    std::map<std::uint32_t, Recorded> probes;
    std::map<std::uint32_t, Recorded> full;
};

bool ReadCurve(const char* path, Curve& curve)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line))
        return false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        std::string cell;
        std::vector<std::string> cells;
        while (std::getline(fields, cell, ','))
            cells.push_back(cell);
        if (cells.size() != 7)
            continue;
        Recorded r;
        const auto n = static_cast<std::uint32_t>(std::stoul(cells[1]));
        r.figures.psnr = std::stod(cells[2]);
        r.figures.maxError = std::stoi(cells[3]);
        r.figures.pngBytes = std::stoull(cells[4]);
        r.ms = std::stod(cells[5]);
        r.encodeMs = std::stod(cells[6]);
        (cells[0] == "probe" ? curve.probes : curve.full)[n] = r;
    }
    // Other work on the machine while the curve was recorded shows as spikes; each time becomes
    // the median of the nine counts around it.
    for (auto* recorded : {&curve.probes, &curve.full})
        for (double Recorded::*time : {&Recorded::ms, &Recorded::encodeMs}) {
            std::map<std::uint32_t, double> smooth;
            for (const auto& [n, r] : *recorded) {
                std::vector<double> around;
                for (std::int64_t k = std::int64_t(n) - 4; k <= std::int64_t(n) + 4; ++k)
                    if (const auto found = recorded->find(std::uint32_t(k));
                        k > 0 && found != recorded->end())
                        around.push_back(found->second.*time);
                std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
                smooth[n] = around[around.size() / 2];
            }
            for (auto& [n, r] : *recorded)
                r.*time = smooth[n];
        }
    return !curve.full.empty();
}

class Replay : public TrialRunner
{
public:
    Replay(const Curve& curve, double pairFactor) : curve(curve), pairFactor(pairFactor) {}

    int Run(std::span<const std::uint32_t> counts, bool probe, bool encode) override
    {
        const auto& recorded = probe ? curve.probes : curve.full;
        auto& done = probe ? probes : full;
        std::vector<double> times;
        for (const std::uint32_t n : counts) {
            if (done.contains(n))
                continue;
            const auto found = recorded.find(n);
            if (found == recorded.end()) {
                std::fprintf(stderr, "no recorded %s at %u\n", probe ? "probe" : "full trial", n);
                std::exit(1);
            }
            ColourTrial trial;
            trial.colours = n;
            trial.code = ReduceOk;
            trial.figures = found->second.figures;
            done.emplace(n, std::move(trial));
            // Both kinds were recorded encoded; a probe's encoding costs about a full trial's.
            times.push_back(found->second.ms - (encode ? 0.0 : curve.full.at(n).encodeMs));
        }
        log += probe ? " p" : " F";
        for (const std::uint32_t n : counts) {
            const auto& f = done.at(n).figures;
            char point[64];
            std::snprintf(point, sizeof point, " %u(%.2f/%llu)", n, f.psnr,
                          static_cast<unsigned long long>(f.pngBytes));
            log += point;
        }
        for (std::size_t i = 0; i < times.size(); i += 2)
            ms += i + 1 < times.size() ? pairFactor * std::max(times[i], times[i + 1]) : times[i];
        ++rounds;
        return ReduceOk;
    }

    double ms = 0;
    int rounds = 0;
    std::string log;

private:
    const Curve& curve;
    double pairFactor;
};

struct Tally
{
    double sum = 0;
    double worst = 0;
    int count = 0;
    int over3 = 0;
    int wrong = 0;
    void Add(double ratio)
    {
        sum += ratio;
        worst = std::max(worst, ratio);
        over3 += ratio > 3.0;
        ++count;
    }
};

} // namespace

int main(int argc, char** argv)
{
    double pairFactor = 1.55;
    double overheadMs = -1;
    bool verbose = false;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pair-factor") && i + 1 < argc)
            pairFactor = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--overhead-ms") && i + 1 < argc)
            overheadMs = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "-v"))
            verbose = true;
        else
            paths.push_back(argv[i]);
    }
    std::printf("%-28s %-8s %7s %7s %7s %6s %6s %7s\n", "curve", "targets", "count", "mean x", "worst x",
                ">3x", "wrong", "fulls");
    for (const char* given : paths) {
        // CURVE.csv:F prices this curve's pairs at F (two trials of some images share the
        // processors better than others').
        std::string path = given;
        double factor = pairFactor;
        if (const std::size_t colon = path.rfind(':'); colon != std::string::npos) {
            factor = std::atof(path.c_str() + colon + 1);
            path.resize(colon);
        }
        Curve curve;
        if (!ReadCurve(path.c_str(), curve) || !curve.full.contains(256)) {
            std::fprintf(stderr, "%s: no curve up to 256\n", path.c_str());
            return 1;
        }
        // What a plain run costs beyond its reduction (read, prepare, write), unless given: a
        // fifth of the reduction, about what the shared photographs show.
        const double plainMs = curve.full.at(256).ms;
        const double overhead = overheadMs >= 0 ? overheadMs : 0.2 * plainMs;
        const std::uint32_t lowest = curve.full.begin()->first;
        for (const bool quality : {true, false}) {
            std::vector<ColourTarget> targets;
            if (quality) {
                const double low = curve.full.at(std::max<std::uint32_t>(lowest, 8)).figures.psnr;
                const double high = curve.full.at(256).figures.psnr + 0.5;
                for (double db = std::ceil(low * 4) / 4; db <= high; db += 0.25)
                    targets.push_back(ColourTarget{db, std::nullopt, std::nullopt});
            } else {
                const double low = double(curve.full.at(std::max<std::uint32_t>(lowest, 8)).figures.pngBytes);
                const double high = double(curve.full.at(256).figures.pngBytes) * 1.05;
                for (double bytes = low; bytes <= high; bytes *= 1.03)
                    targets.push_back(ColourTarget{std::nullopt, std::nullopt, std::uint64_t(bytes)});
            }
            Tally tally;
            double fulls = 0;
            for (const ColourTarget& target : targets) {
                Replay replay(curve, factor);
                const ColourSearchOutcome outcome = SearchColours(replay, target, lowest, 256);
                const double ratio = (overhead + replay.ms) / (overhead + plainMs);
                tally.Add(ratio);
                fulls += outcome.fullTrials;
                // The answer's claim, checked on the recorded curve.
                const bool chosenMet = target.MetBy(curve.full.at(outcome.chosen).figures);
                const std::int64_t past = std::int64_t(outcome.chosen) + (target.Quality() ? -1 : 1);
                const bool pastMissed =
                    past < lowest || past > 256 || !target.MetBy(curve.full.at(std::uint32_t(past)).figures);
                const bool right = outcome.met ? chosenMet && pastMissed : !chosenMet;
                tally.wrong += !right;
                if (verbose)
                    std::printf("  %s %.2f -> %u%s, %d probes, %d fulls, %d rounds, %.2fx%s\n",
                                quality ? "psnr" : "bytes",
                                quality ? *target.minPsnr : double(*target.maxBytes), outcome.chosen,
                                outcome.met ? "" : " (missed)", outcome.probes, outcome.fullTrials,
                                replay.rounds, ratio, right ? "" : " WRONG");
                if (verbose && std::getenv("REPLAY_LOG"))
                    std::printf("   %s\n", replay.log.c_str());
            }
            std::printf("%-28s %-8s %7d %7.2f %7.2f %6d %6d %7.2f\n", path.c_str(),
                        quality ? "psnr" : "bytes", tally.count, tally.sum / std::max(1, tally.count),
                        tally.worst, tally.over3, tally.wrong,
                        fulls / std::max<std::size_t>(1, targets.size()));
        }
    }
    return 0;
}
