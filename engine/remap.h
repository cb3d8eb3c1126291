#pragma once
// engine/remap.h: filling the output image's indices from the input pixels and the ordered palette.
// Indices are positions in `palette.entries`; the output rows must already be allocated at the
// input's size. Pixels whose alpha is below 1/256 (before or after diffusion) take the entry nearest
// to transparent black. Dither maps are width * height floats row by row (engine/float_map.h).
// Allocation failure raises std::bad_alloc; nothing else can fail.

#include "engine/cancel_flag.h"
#include "engine/colour_model.h"

namespace tessaline {

/// Maps every pixel to its nearest entry, in parallel above ParallelThreshold pixels (the indices do
/// not depend on the thread count). Then moves each chosen entry to the mean colour of its pixels
/// (transparent ones included) and sets every popularity to its pixel count (0 for an entry no pixel
/// chose, which keeps its colour). Returns the mean distance of the searched pixels. Once `cancel`
/// is set the remaining rows are skipped, and the indices and the palette mean nothing.
float RemapPlain(const RgbaImage& input, IndexedImage& output, Palette& palette, float minOpacity,
                 const CancelFlag* cancel = nullptr);

/// Lowers `ditherMap` where the indices RemapPlain wrote break into short runs: each run of equal
/// indices along a row is scaled by 1 - 2.5 / n, n growing with its length and with matching indices
/// above and below. Alternating indices scale the map to 0.
void RefineDitherMap(const IndexedImage& output, float* ditherMap);

/// Serpentine Floyd-Steinberg error diffusion on premultiplied colour, each pixel's error scaled by
/// its dither map value (0.9 everywhere without a map), the first row seeded with noise from the
/// process-wide random source reseeded with 12345, so equal input always gives equal output. With
/// `useDitherMap` the output must hold RemapPlain's indices for the same palette: a pixel keeps its
/// plain index while the diffused colour stays within a quarter of that entry's distance to its
/// nearest neighbour in the palette. Otherwise it takes the entry the nearest index answers, or,
/// when that answer is more than 1/64 off, the nearest of every entry if that one is nearer still.
/// From 16 entries, an entry more than 64 levels (largest channel, over black and over white)
/// further from the pixel's source than the source's nearest entry gives way to that entry.
/// Stops before the next row once `cancel` is set.
void RemapDithered(const RgbaImage& input, IndexedImage& output, const Palette& palette, float minOpacity,
                   const float* ditherMap, bool useDitherMap, const CancelFlag* cancel = nullptr);

} // namespace tessaline
