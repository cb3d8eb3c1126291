#include "engine/kept_colours.h"

#include <algorithm>

#include "engine/median_cut.h"
#include "engine/nearest_index.h"

namespace tessaline {
namespace {

bool SameColour(const FloatPixel& x, const FloatPixel& y)
{
    return x.a == y.a && x.r == y.r && x.g == y.g && x.b == y.b;
}

// The items no kept colour serves: those nearer to an entry of `cut` than to every kept colour.
Histogram UncoveredItems(const Histogram& histogram, const Palette& cut, const std::vector<RgbaColour>& kept,
                         float minOpacity)
{
    Palette both = CreatePalette(cut.count + static_cast<std::uint32_t>(kept.size()));
    both.scales = histogram.scales;
    for (std::uint32_t i = 0; i < cut.count; ++i)
        both[i].colour = cut[i].colour;
    for (std::uint32_t k = 0; k < kept.size(); ++k)
        both[cut.count + k].colour = ToFloatPixel(kept[k].data(), InternalGamma, histogram.scales);
    const NearestIndex index = BuildNearestIndex(both);

    std::vector<std::uint32_t> uncovered;
    for (std::uint32_t i = 0; i < histogram.size; ++i)
        if (FindNearest(index, histogram.items[i].colour, minOpacity, nullptr) < cut.count)
            uncovered.push_back(i);
    Histogram rest = CreateHistogram(static_cast<std::uint32_t>(uncovered.size()));
    rest.scales = histogram.scales;
    for (std::uint32_t j = 0; j < rest.size; ++j) {
        HistogramItem item = histogram.items[uncovered[j]];
        item.adjustedWeight = item.perceptualWeight;
        rest.items[j] = item;
        rest.totalPerceptualWeight += item.perceptualWeight;
    }
    return rest;
}

} // namespace

Palette CutAroundKeptColours(Histogram& histogram, const ReduceSettings& settings, std::uint32_t maxColours,
                             double* error)
{
    const std::vector<RgbaColour>& kept = settings.keptColours;
    const std::uint32_t keptCount = static_cast<std::uint32_t>(kept.size());
    const std::uint32_t free = maxColours > keptCount ? maxColours - keptCount : 0;

    Palette cut;
    if (free > 0 && histogram.size > 0) {
        double firstError = -1.0;
        const Palette first =
            MedianCutWithFeedback(histogram, free, settings.minOpacity, settings.targetError,
                                  std::min(settings.feedbackTrials, 1), &firstError, settings.cancel);
        if (first.count > 0) {
            Histogram rest = UncoveredItems(histogram, first, kept, settings.minOpacity);
            if (rest.size > 0)
                cut = MedianCutWithFeedback(rest, free, settings.minOpacity, settings.targetError,
                                            settings.feedbackTrials, error, settings.cancel);
        }
    }

    Palette palette = CreatePalette(cut.count + keptCount);
    palette.scales = histogram.scales;
    for (std::uint32_t i = 0; i < cut.count; ++i)
        palette[i] = cut[i];
    RestoreKeptColours(palette, kept);
    return palette;
}

void RestoreKeptColours(Palette& palette, const std::vector<RgbaColour>& kept)
{
    const std::uint32_t keptCount =
        static_cast<std::uint32_t>(std::min<std::size_t>(kept.size(), palette.count));
    const std::uint32_t first = palette.count - keptCount;
    for (std::uint32_t k = 0; k < keptCount; ++k)
        palette[first + k].colour = ToFloatPixel(kept[k].data(), InternalGamma, palette.scales);
}

KeptEntries::KeptEntries(const Palette& ordered, const std::vector<RgbaColour>& kept)
{
    std::vector<bool> taken(ordered.count, false);
    for (const RgbaColour& colour : kept) {
        const FloatPixel wanted = ToFloatPixel(colour.data(), InternalGamma, ordered.scales);
        for (std::uint32_t i = 0; i < ordered.count; ++i) {
            if (taken[i] || !SameColour(ordered[i].colour, wanted))
                continue;
            taken[i] = true;
            positions.emplace_back(i, colour);
            break;
        }
    }
}

void KeptEntries::Restore(Palette& palette) const
{
    for (const auto& [position, colour] : positions)
        palette[position].colour = ToFloatPixel(colour.data(), InternalGamma, palette.scales);
}

void KeptEntries::StoreBytes(IndexedImage& output, Palette& palette) const
{
    for (const auto& [position, colour] : positions) {
        output.paletteRgb[3 * position] = colour[0];
        output.paletteRgb[3 * position + 1] = colour[1];
        output.paletteRgb[3 * position + 2] = colour[2];
        output.paletteAlpha[position] = colour[3];
        palette[position].colour = ToFloatPixel(colour.data(), InternalGamma, palette.scales);
    }
}

} // namespace tessaline
