#include "engine/shared_palette.h"

#include <algorithm>
#include <cstring>

#include "engine/contrast_map.h"
#include "engine/kept_colours.h"
#include "engine/median_cut.h"
#include "engine/palette_order.h"
#include "engine/refinement_loop.h"
#include "engine/voronoi.h"

namespace tessaline {
namespace {

std::array<std::uint32_t, 4> KeyOf(const FloatPixel& colour)
{
    std::array<std::uint32_t, 4> key{};
    std::memcpy(key.data(), &colour.a, sizeof key);
    return key;
}

} // namespace

std::size_t SharedPaletteBuilder::KeyHash::operator()(const std::array<std::uint32_t, 4>& key) const noexcept
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint32_t word : key)
        h = (h ^ word) * 1099511628211ull;
    return static_cast<std::size_t>(h);
}

bool SharedPaletteBuilder::Add(const ReduceSettings& settings, RgbaImage& image)
{
    if (image.width == 0 || image.height == 0 || image.rows.size() < image.height)
        return !CancelRequested(settings.cancel);
    RaiseNearOpaqueAlpha(image, settings.minOpacity);

    if (exact) {
        const std::size_t limit = std::clamp<std::size_t>(settings.maxColours, 1, MaxPaletteColours);
        const auto counts = static_cast<float>(image.gamma) == InternalGamma
                                ? CountDistinctColours(image, limit, true)
                                : std::nullopt;
        if (!counts || !MergeColourCounts(*exact, *counts, limit))
            exact.reset();
    }

    ContrastMaps maps;
    if (WantsContrastMaps(settings, image.width, image.height))
        maps = BuildContrastMaps(settings, image.rows.data(), image.width, image.height,
                                 static_cast<float>(image.gamma));
    if (CancelRequested(settings.cancel))
        return false;
    const Histogram histogram = BuildHistogram(settings, image, maps.contrast.get());
    if (CancelRequested(settings.cancel))
        return false;

    for (std::uint32_t i = 0; i < histogram.size; ++i) {
        const HistogramItem& item = histogram.items[i];
        const auto [at, added] =
            where.try_emplace(KeyOf(item.colour), static_cast<std::uint32_t>(items.size()));
        if (added) {
            items.push_back(item);
        } else {
            items[at->second].perceptualWeight += item.perceptualWeight;
            items[at->second].adjustedWeight = items[at->second].perceptualWeight;
        }
    }
    totalWeight += histogram.totalPerceptualWeight;
    ++images;
    return true;
}

std::vector<RgbaColour> SharedPaletteBuilder::Choose(const ReduceSettings& settings) const
{
    if (items.empty() || CancelRequested(settings.cancel))
        return {};
    const std::uint32_t maxColours = std::clamp<std::uint32_t>(settings.maxColours, 1, MaxPaletteColours);
    if (exact) {
        std::vector<ColourCount> counts = *exact;
        if (MergeColourCounts(
                counts,
                [&settings] {
                    std::vector<ColourCount> kept;
                    for (const RgbaColour& colour : settings.keptColours)
                        kept.push_back({colour, 0});
                    return kept;
                }(),
                maxColours))
            return OrderedColours(counts, settings.lastIndexTransparent != 0);
    }

    Histogram histogram = CreateHistogram(static_cast<std::uint32_t>(items.size()));
    histogram.scales = settings.channelScales; // the items came from histograms of these scales
    std::copy(items.begin(), items.end(), histogram.items.get());
    histogram.totalPerceptualWeight = totalWeight;

    double error = -1.0;
    Palette palette =
        settings.keptColours.empty()
            ? MedianCutWithFeedback(histogram, maxColours, settings.minOpacity, settings.targetError,
                                    settings.feedbackTrials, &error, settings.cancel)
            : CutAroundKeptColours(histogram, settings, maxColours, &error);
    if (CancelRequested(settings.cancel) || palette.count == 0)
        return {};
    RunRefinementLoop(settings, error, [&histogram, &palette, &settings] {
        const double passError =
            VoronoiIteration(histogram, palette, settings.minOpacity, nullptr, settings.cancel);
        RestoreKeptColours(palette, settings.keptColours);
        return passError;
    });
    if (CancelRequested(settings.cancel))
        return {};

    // Ordered and turned into bytes as a single image's palette is.
    IndexedImage tables;
    tables.gamma = InternalGamma;
    OrderPalette(tables, palette, settings.lastIndexTransparent != 0);
    const KeptEntries kept(palette, settings.keptColours);
    StorePaletteBytes(tables, palette);
    kept.StoreBytes(tables, palette);
    return PaletteTableColours(tables);
}

} // namespace tessaline
