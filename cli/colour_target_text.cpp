#include "cli/colour_target_text.h"

#include <cmath>
#include <cstdio>

namespace tessaline {

namespace {

std::string Decibels(double psnr, int decimals = 1)
{
    if (std::isinf(psnr))
        return "inf dB";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f dB", decimals, psnr);
    return text;
}

// The target in a few words: "40.0 dB", "max error 12", "40.0 dB and max error 12", "120000 bytes".
std::string TargetWords(const ColourTarget& target)
{
    std::string words;
    if (target.minPsnr)
        words = Decibels(*target.minPsnr);
    if (target.maxError)
        words +=
            (words.empty() ? "" : " and ") + std::string("max error ") + std::to_string(*target.maxError);
    if (!target.Quality() && target.maxBytes)
        words = std::to_string(*target.maxBytes) + " bytes";
    return words;
}

// The figures of the neighbour that misses, in the target's own terms.
std::string MissWords(const ColourTarget& target, const ResultFigures& figures)
{
    if (!target.Quality())
        return std::to_string(figures.pngBytes) + " bytes";
    std::string words;
    if (target.minPsnr)
        words = Decibels(figures.psnr, 2); // a near miss must not read as the target
    if (target.maxError)
        words += (words.empty() ? "" : ", ") + std::string("max error ") + std::to_string(figures.maxError);
    return words;
}

} // namespace

ColourTarget TargetOf(const CliOptions& options)
{
    ColourTarget target;
    target.minPsnr = options.minPsnr;
    target.maxError = options.maxError;
    target.maxBytes = options.maxBytes;
    return target;
}

std::vector<std::uint32_t> CurveCountsOf(const CliOptions& options)
{
    if (!options.curve)
        return {};
    return options.curveCounts.empty() ? DefaultCurveCounts() : options.curveCounts;
}

std::string SearchSummary(const ColourTarget& target, const ColourSearchOutcome& outcome)
{
    const int reductions = outcome.fullTrials + outcome.probes;
    // The counts here are palette sizes, which the summary's first figure (the entries some pixel
    // uses) may fall short of: they are named as palettes, never as "colours" beside it.
    if (!outcome.met)
        return "; target " + TargetWords(target) + " missed even with a " + std::to_string(outcome.chosen) +
               "-colour palette";
    std::string text = "; " + std::to_string(outcome.chosen) + "-colour palette for " + TargetWords(target) +
                       " in " + std::to_string(reductions) + " reductions";
    if (outcome.neighbour && outcome.neighbourFigures)
        text += " (" + std::to_string(*outcome.neighbour) + ": " +
                MissWords(target, *outcome.neighbourFigures) + ")";
    return text;
}

std::string CurveTable(const std::string& name, const std::vector<CurvePoint>& curve)
{
    std::string text = name + " colour curve:\n";
    char line[128];
    std::snprintf(line, sizeof line, "  %7s %6s %10s %9s %9s\n", "colours", "used", "bytes", "PSNR",
                  "max error");
    text += line;
    for (const CurvePoint& point : curve) {
        std::snprintf(line, sizeof line, "  %7u %6u %10llu %9s %9d\n", static_cast<unsigned>(point.colours),
                      static_cast<unsigned>(point.figures.coloursUsed),
                      static_cast<unsigned long long>(point.figures.pngBytes),
                      Decibels(point.figures.psnr).c_str(), point.figures.maxError);
        text += line;
    }
    return text;
}

std::vector<ReportCurvePoint> CurveRecord(const std::vector<CurvePoint>& curve)
{
    std::vector<ReportCurvePoint> record;
    for (const CurvePoint& point : curve)
        record.push_back({point.colours, point.figures.pngBytes, point.figures.psnr, point.figures.maxError});
    return record;
}

} // namespace tessaline
