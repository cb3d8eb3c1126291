#include "engine/reduce_pipeline.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/contrast_map.h"
#include "engine/given_palette.h"
#include "engine/histogram.h"
#include "engine/kept_colours.h"
#include "engine/median_cut.h"
#include "engine/output_image.h"
#include "engine/palette_order.h"
#include "engine/prepared_reduction.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_stages.h"
#include "engine/refinement_loop.h"
#include "engine/remap.h"
#include "engine/voronoi.h"

namespace tessaline {
namespace {

// The palette tables and the index bytes hold 256 entries at most.
constexpr std::uint32_t MaxPaletteEntries = 256;

void Report(const ReduceSettings& settings, ReduceStage stage)
{
    if (settings.progress)
        settings.progress->ReportProgress(stage);
}

} // namespace

namespace {

// The maps and the histogram, after the alpha raise: what does not depend on the colour count.
int PrepareAfterRaise(const ReduceSettings& settings, const RgbaImage& input, PreparedReduction& prepared)
{
    const auto cancelled = [&settings] { return CancelRequested(settings.cancel); };
    Report(settings, StageMaps);
    ContrastMaps maps;
    if (WantsContrastMaps(settings, input.width, input.height))
        maps = BuildContrastMaps(settings, input.rows.data(), input.width, input.height,
                                 static_cast<float>(input.gamma));
    if (cancelled())
        return ReduceCancelled;
    Report(settings, StageHistogram);

    Histogram histogram = BuildHistogram(settings, input, maps.contrast.get());
    maps.contrast.reset();
    if (cancelled())
        return ReduceCancelled;
    prepared.histogram = std::move(histogram);
    prepared.dither = std::move(maps.dither);
    prepared.width = input.width;
    prepared.height = input.height;
    return ReduceOk;
}

// A palette chosen from the prepared histogram, refined, and the image mapped onto it.
int FinishChosen(const ReduceSettings& settings, PreparedReduction& prepared, const RgbaImage& input,
                 IndexedImage& output)
{
    const auto cancelled = [&settings] { return CancelRequested(settings.cancel); };
    // Taken over, so that every exit frees them as the whole pipeline would.
    Histogram histogram = std::move(prepared.histogram);
    ContrastMaps maps;
    maps.dither = std::move(prepared.dither);
    Report(settings, StageMedianCut);

    double error = -1.0;
    const std::uint32_t maxColours = std::clamp<std::uint32_t>(settings.maxColours, 1, MaxPaletteEntries);
    Palette palette =
        settings.keptColours.empty()
            ? MedianCutWithFeedback(histogram, maxColours, settings.minOpacity, settings.targetError,
                                    settings.feedbackTrials, &error, settings.cancel)
            : CutAroundKeptColours(histogram, settings, maxColours, &error);
    if (cancelled())
        return ReduceCancelled;
    Report(settings, StageRefinement);

    error = RunRefinementLoop(settings, error, [&histogram, &palette, &settings] {
        const double passError =
            VoronoiIteration(histogram, palette, settings.minOpacity, nullptr, settings.cancel);
        RestoreKeptColours(palette, settings.keptColours);
        return passError;
    });
    ReleaseHistogram(histogram);
    if (cancelled())
        return ReduceCancelled;

    // An error of -1 was never measured and passes.
    if (error > settings.maxError)
        return ReduceQualityTooLow;

    Report(settings, StageOutputAllocation);
    if (!AllocateOutput(input, output))
        return ReduceOutOfMemory;
    OutputCommit commit(output);

    OrderPalette(output, palette, settings.lastIndexTransparent != 0);
    const KeptEntries kept(palette, settings.keptColours);
    Report(settings, StagePlainRemap);

    const bool usesDitherMap = settings.dither && maps.dither && settings.useDitherMap;
    if (!settings.dither || usesDitherMap) {
        RemapPlain(input, output, palette, settings.minOpacity, settings.cancel);
        if (cancelled())
            return ReduceCancelled;
        kept.Restore(palette);
        if (usesDitherMap)
            RefineDitherMap(output, maps.dither.get());
    }
    Report(settings, StagePaletteBytes);

    StorePaletteBytes(output, palette);
    kept.StoreBytes(output, palette);
    SettleTransparentRun(output, palette, settings.lastIndexTransparent != 0);
    Report(settings, StageDitheredRemap);

    if (settings.dither)
        RemapDithered(input, output, palette, settings.minOpacity, maps.dither.get(), usesDitherMap,
                      settings.cancel);
    if (cancelled())
        return ReduceCancelled;

    maps.dither.reset();
    ReleasePalette(palette);
    Report(settings, StageRelease);
    commit.Commit();
    return ReduceOk;
}

} // namespace

int PrepareReduction(const ReduceSettings& settings, RgbaImage& input, PreparedReduction& prepared)
{
    if (input.width == 0 || input.height == 0 || input.rows.size() < input.height)
        return ReduceQualityTooLow;
    Report(settings, StageAlphaRaise);
    RaiseNearOpaqueAlpha(input, settings.minOpacity);
    return PrepareAfterRaise(settings, input, prepared);
}

int FinishReduction(const ReduceSettings& settings, PreparedReduction& prepared, RgbaImage& input,
                    IndexedImage& output)
{
    if (prepared.width != input.width || prepared.height != input.height ||
        input.rows.size() < input.height || input.width == 0 || input.height == 0)
        return ReduceQualityTooLow;
    // As in ReducePipeline: a given palette, or the image's own colours when they fit the count.
    if (!settings.givenPalette.empty())
        return RemapOntoColours(settings, input, output, settings.givenPalette);
    if (const auto exact = ExactColours(settings, input))
        return RemapOntoColours(settings, input, output, *exact);
    return FinishChosen(settings, prepared, input, output);
}

int ReducePipeline(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output)
{
    // An image without pixels has no palette to choose; answer as for an unacceptable palette, which
    // leaves the output untouched, rather than hand the stages something they cannot size.
    if (input.width == 0 || input.height == 0 || input.rows.size() < input.height)
        return ReduceQualityTooLow;

    // Every intermediate is owned by a local, so each exit, an exception from a stage included,
    // frees what exists at that point. A stage that sees the cancel flag stops early and returns
    // what it has; the check after it throws that away.
    Report(settings, StageAlphaRaise);
    RaiseNearOpaqueAlpha(input, settings.minOpacity);
    // A palette from outside, or the image's own colours when they fit, takes no palette choice.
    if (!settings.givenPalette.empty())
        return RemapOntoColours(settings, input, output, settings.givenPalette);
    if (const auto exact = ExactColours(settings, input))
        return RemapOntoColours(settings, input, output, *exact);
    PreparedReduction prepared;
    if (const int code = PrepareAfterRaise(settings, input, prepared); code != ReduceOk)
        return code;
    return FinishChosen(settings, prepared, input, output);
}

} // namespace tessaline
