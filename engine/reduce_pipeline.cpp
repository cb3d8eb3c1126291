#include "engine/reduce_pipeline.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/contrast_map.h"
#include "engine/histogram.h"
#include "engine/median_cut.h"
#include "engine/palette_order.h"
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

// Both maps need a neighbourhood of at least 4 x 4 pixels.
bool WantsContrastMaps(const ReduceSettings& settings, const RgbaImage& input)
{
    return settings.contrastMapLevel < 8 && input.width >= 4 && input.height >= 4;
}

// The output buffers, built beside the image so that a failure leaves it untouched.
bool AllocateOutput(const RgbaImage& input, IndexedImage& output)
{
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t*> rows;
    try {
        pixels.resize(std::size_t{input.width} * input.height);
        rows.resize(input.height);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    for (std::uint32_t y = 0; y < input.height; ++y)
        rows[y] = pixels.data() + std::size_t{y} * input.width;
    output.width = input.width;
    output.height = input.height;
    output.gamma = InternalGamma;
    output.pixels = std::move(pixels);
    output.rows = std::move(rows);
    return true;
}

// Clears the output unless the reduction completed, so that a stage failing after the buffers exist
// never leaves a half-mapped image that could be shown or saved.
class OutputCommit
{
public:
    explicit OutputCommit(IndexedImage& output) : output(output) {}
    ~OutputCommit()
    {
        if (!committed)
            output.Release();
    }
    OutputCommit(const OutputCommit&) = delete;
    OutputCommit& operator=(const OutputCommit&) = delete;
    void Commit() { committed = true; }

private:
    IndexedImage& output;
    bool committed = false;
};

} // namespace

int ReducePipeline(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output)
{
    // An image without pixels has no palette to choose; answer as for an unacceptable palette, which
    // leaves the output untouched, rather than hand the stages something they cannot size.
    if (input.width == 0 || input.height == 0 || input.rows.size() < input.height)
        return ReduceQualityTooLow;

    // Every intermediate below is owned by a local, so each exit, an exception from a stage
    // included, frees what exists at that point.
    Report(settings, StageAlphaRaise);
    RaiseNearOpaqueAlpha(input, settings.minOpacity);
    Report(settings, StageMaps);

    ContrastMaps maps;
    if (WantsContrastMaps(settings, input))
        maps = BuildContrastMaps(settings, input.rows.data(), input.width, input.height,
                                 static_cast<float>(input.gamma));
    Report(settings, StageHistogram);

    Histogram histogram = BuildHistogram(settings, input, maps.contrast.get());
    maps.contrast.reset();
    Report(settings, StageMedianCut);

    double error = -1.0;
    const std::uint32_t maxColours = std::clamp<std::uint32_t>(settings.maxColours, 1, MaxPaletteEntries);
    Palette palette = MedianCutWithFeedback(histogram, maxColours, settings.minOpacity, settings.targetError,
                                            settings.feedbackTrials, &error);
    Report(settings, StageRefinement);

    error = RunRefinementLoop(settings, error, [&histogram, &palette, &settings] {
        return VoronoiIteration(histogram, palette, settings.minOpacity);
    });
    ReleaseHistogram(histogram);

    // An error of -1 was never measured and passes.
    if (error > settings.maxError)
        return ReduceQualityTooLow;

    Report(settings, StageOutputAllocation);
    if (!AllocateOutput(input, output))
        return ReduceOutOfMemory;
    OutputCommit commit(output);

    OrderPalette(output, palette, settings.lastIndexTransparent != 0);
    Report(settings, StagePlainRemap);

    const bool usesDitherMap = settings.dither && maps.dither && settings.useDitherMap;
    if (!settings.dither || usesDitherMap) {
        RemapPlain(input, output, palette, settings.minOpacity);
        if (usesDitherMap)
            RefineDitherMap(output, maps.dither.get());
    }
    Report(settings, StagePaletteBytes);

    StorePaletteBytes(output, palette);
    Report(settings, StageDitheredRemap);

    if (settings.dither)
        RemapDithered(input, output, palette, settings.minOpacity, maps.dither.get(), usesDitherMap);

    maps.dither.reset();
    ReleasePalette(palette);
    Report(settings, StageRelease);
    commit.Commit();
    return ReduceOk;
}

} // namespace tessaline
