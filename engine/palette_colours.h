#pragma once
// engine/palette_colours.h: palettes as plain R, G, B, A bytes, the form in which a palette comes
// from outside (a palette file, a kept colour, a palette shared by several images) and in which it
// is written. Bytes are at the output gamma (InternalGamma).

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/colour_model.h"

namespace tessaline {

using RgbaColour = std::array<std::uint8_t, 4>;

/// A colour and the pixels that have it.
struct ColourCount
{
    RgbaColour colour{};
    std::uint64_t pixels = 0;
};

/// The most entries a palette holds.
inline constexpr std::size_t MaxPaletteColours = 256;

/// The distinct colours of `image` in first-seen order (row by row) with their pixel counts, or
/// nothing once more than `limit` are found. With `mergeTransparent`, every pixel of alpha 0 counts
/// as the one colour 0, 0, 0, 0, since it shows the same whatever it holds. Throws std::bad_alloc.
std::optional<std::vector<ColourCount>> CountDistinctColours(const RgbaImage& image, std::size_t limit,
                                                             bool mergeTransparent);

/// Adds `more` into `tally`, keeping first-seen order; false (tally left partly merged) once the
/// tally would hold more than `limit` colours.
bool MergeColourCounts(std::vector<ColourCount>& tally, const std::vector<ColourCount>& more,
                       std::size_t limit);

/// The counted colours in the order a chosen palette is written: translucent ones first, each group
/// by ascending pixel count, equal counts in first-seen order; with `lastIndexTransparent` a fully
/// transparent colour goes last instead.
std::vector<RgbaColour> OrderedColours(const std::vector<ColourCount>& counts, bool lastIndexTransparent);

/// The colours as palette entries at InternalGamma in the float space of `scales`, popularity 0.
/// Throws std::bad_alloc.
Palette PaletteOfColours(const std::vector<RgbaColour>& colours, const ChannelScales& scales = EvenChannels);

/// Writes `colours` (at most 256) into the output's palette tables as they are, in their order:
/// paletteSize = their number, transparentCount = up to the last colour whose alpha is below 255,
/// so that every index keeps its own alpha in the transparency chunk.
void WritePaletteTables(IndexedImage& output, const std::vector<RgbaColour>& colours);

/// The palette tables of `image` as colours, alpha 255 at and after transparentCount.
std::vector<RgbaColour> PaletteTableColours(const IndexedImage& image);

/// True when every pixel of `input` shows exactly its entry's colour: equal bytes, or alpha 0 on
/// both. Only meaningful for an input at InternalGamma.
bool ShowsExactly(const RgbaImage& input, const IndexedImage& output);

} // namespace tessaline
