#pragma once
// engine/shared_palette.h: one palette for several images (a sprite sheet's frames, a set of UI
// states), so that every result carries the same palette table. One histogram is counted over all
// of them, each image with its own weights and maps as its own reduction would count it; one median
// cut and refinement choose the palette, and each image is then remapped onto it as a given palette.

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/colour_model.h"
#include "engine/histogram.h"
#include "engine/palette_colours.h"
#include "engine/reduce_settings.h"

namespace tessaline {

class SharedPaletteBuilder
{
public:
    /// Counts `image` into the shared histogram as ReducePipeline would count it: alpha raised (in
    /// place), colours weighed by its contrast map and user weights. Images must be added in a fixed
    /// order for the palette not to depend on it. Returns false, having added nothing, once
    /// settings.cancel is set. Throws std::bad_alloc.
    bool Add(const ReduceSettings& settings, RgbaImage& image);

    /// The palette for every image added, in written order (as ReducePipeline orders a chosen
    /// palette): the images' own colours when together they fit in settings.maxColours, otherwise
    /// the median cut and refinement over the shared histogram, with settings.keptColours held.
    /// Empty when nothing was added or settings.cancel is set. Throws std::bad_alloc.
    std::vector<RgbaColour> Choose(const ReduceSettings& settings) const;

    std::size_t ImageCount() const { return images; }

private:
    struct KeyHash
    {
        std::size_t operator()(const std::array<std::uint32_t, 4>& key) const noexcept;
    };

    std::vector<HistogramItem> items;
    std::unordered_map<std::array<std::uint32_t, 4>, std::uint32_t, KeyHash> where;
    double totalWeight = 0.0;
    std::optional<std::vector<ColourCount>> exact =
        std::vector<ColourCount>{}; ///< all images' colours while they fit
    std::size_t images = 0;
};

} // namespace tessaline
