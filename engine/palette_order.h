#pragma once
// engine/palette_order.h: turning the refined palette into the output image's palette. An entry is
// translucent when its alpha a * 256 < 255 (its alpha byte would be below 255) and fully transparent
// when a < 1/256 (it would be stored as 0, 0, 0, 0). Nothing here allocates or fails.

#include "engine/colour_model.h"

namespace tessaline {

/// True when the entry's alpha byte would be below 255.
inline bool IsTranslucent(const FloatPixel& colour)
{
    return colour.a * 256.0f < 255.0f;
}

/// True when the entry would be stored as transparent black.
inline bool IsFullyTransparent(const FloatPixel& colour)
{
    return colour.a < 0.00390625f;
}

/// Reorders `palette` in place: translucent entries first, each group by ascending popularity
/// (equal popularities keep their order). Sets `paletteSize` = count and `transparentCount` =
/// the number of translucent entries. With `lastIndexTransparent` and a fully transparent entry, the
/// first such entry goes last, the others are sorted before it and `transparentCount` = count.
/// The palette must hold at most 256 entries.
void OrderPalette(IndexedImage& output, Palette& palette, bool lastIndexTransparent);

/// Fills slots 0 to count - 1 of `paletteRgb` and `paletteAlpha` with ToRgba of each entry at the
/// output gamma, and snaps each entry's colour to what those bytes stand for. Popularities stay;
/// slots from count to 255 are not touched.
void StorePaletteBytes(IndexedImage& output, Palette& palette);

/// After StorePaletteBytes: moves every entry of the first `transparentCount` whose alpha byte came
/// out 255 (the plain remap's averaging can carry an entry judged translucent to opaque) behind
/// the translucent ones, and lowers `transparentCount`, so that the transparency chunk holds no
/// opaque entry. The entries' colours and bytes move together, and the indices already in
/// `pixels` follow them. Leaves a palette ordered with `lastIndexTransparent` alone: its chunk
/// must reach the last entry.
void SettleTransparentRun(IndexedImage& output, Palette& palette, bool lastIndexTransparent);

} // namespace tessaline
