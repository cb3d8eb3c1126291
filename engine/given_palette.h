#pragma once
// engine/given_palette.h: a reduction onto a palette that is not chosen from the image: a palette the
// caller gives (its entries written as given, in their order), or the image's own colours when they
// already fit. The remap is the usual one, with the dithering and dither map the settings ask for,
// except that a result which already shows every pixel exactly is not dithered.

#include <optional>
#include <vector>

#include "engine/colour_model.h"
#include "engine/palette_colours.h"
#include "engine/reduce_settings.h"

namespace tessaline {

/// The colours of an exact result for `input` (after its alpha raise): its distinct colours, the
/// kept colours of `settings` added, in written order, when there are at most maxColours (clamped
/// to 1 to 256) of them and the input is at InternalGamma. Nothing otherwise. Throws std::bad_alloc.
std::optional<std::vector<RgbaColour>> ExactColours(const ReduceSettings& settings, const RgbaImage& input);

/// Maps `input` (alpha already raised) onto `colours` (1 to 256 entries), writes them as the
/// output's palette tables as they are, and reports stages 3 and 7 to 11. Returns ReduceOk,
/// ReduceOutOfMemory (output buffers) or ReduceCancelled (output left empty). Throws std::bad_alloc.
int RemapOntoColours(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output,
                     const std::vector<RgbaColour>& colours);

} // namespace tessaline
