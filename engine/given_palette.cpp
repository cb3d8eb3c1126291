#include "engine/given_palette.h"

#include <algorithm>

#include "engine/contrast_map.h"
#include "engine/output_image.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_stages.h"
#include "engine/remap.h"

namespace tessaline {
namespace {

void Report(const ReduceSettings& settings, ReduceStage stage)
{
    if (settings.progress)
        settings.progress->ReportProgress(stage);
}

} // namespace

std::optional<std::vector<RgbaColour>> ExactColours(const ReduceSettings& settings, const RgbaImage& input)
{
    // Bytes at another gamma would have to be converted, and the result would no longer hold them.
    if (static_cast<float>(input.gamma) != InternalGamma)
        return std::nullopt;
    const std::size_t limit = std::clamp<std::size_t>(settings.maxColours, 1, MaxPaletteColours);
    std::optional<std::vector<ColourCount>> counts = CountDistinctColours(input, limit, true);
    if (!counts)
        return std::nullopt;
    for (const RgbaColour& kept : settings.keptColours)
        if (!MergeColourCounts(*counts, {ColourCount{kept, 0}}, limit))
            return std::nullopt;
    return OrderedColours(*counts, settings.lastIndexTransparent != 0);
}

int RemapOntoColours(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output,
                     const std::vector<RgbaColour>& colours)
{
    const auto cancelled = [&settings] { return CancelRequested(settings.cancel); };
    Report(settings, StageMaps);
    // Only the dither map is of use here; it comes with the contrast map.
    ContrastMaps maps;
    if (settings.dither && settings.useDitherMap && WantsContrastMaps(settings, input.width, input.height))
        maps = BuildContrastMaps(settings, input.rows.data(), input.width, input.height,
                                 static_cast<float>(input.gamma));
    maps.contrast.reset();
    if (cancelled())
        return ReduceCancelled;

    Report(settings, StageOutputAllocation);
    if (!AllocateOutput(input, output))
        return ReduceOutOfMemory;
    OutputCommit commit(output);
    WritePaletteTables(output, colours);
    const Palette palette = PaletteOfColours(colours, settings.channelScales);
    Report(settings, StagePlainRemap);

    // The plain remap moves entries to their pixels' mean; the given entries must stay, so it works
    // on a copy of them.
    Palette moved = PaletteOfColours(colours, settings.channelScales);
    RemapPlain(input, output, moved, settings.minOpacity, settings.cancel);
    if (cancelled())
        return ReduceCancelled;
    // A palette that holds every colour of the image needs no diffusion, which would only add noise.
    const bool exact = static_cast<float>(input.gamma) == InternalGamma && ShowsExactly(input, output);
    const bool usesDitherMap = settings.dither && maps.dither && settings.useDitherMap;
    if (!exact && usesDitherMap)
        RefineDitherMap(output, maps.dither.get());
    Report(settings, StagePaletteBytes);
    Report(settings, StageDitheredRemap);
    if (!exact && settings.dither)
        RemapDithered(input, output, palette, settings.minOpacity, maps.dither.get(), usesDitherMap,
                      settings.cancel);
    if (cancelled())
        return ReduceCancelled;
    Report(settings, StageRelease);
    commit.Commit();
    return ReduceOk;
}

} // namespace tessaline
