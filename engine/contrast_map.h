#pragma once
// engine/contrast_map.h: per-pixel importance (contrast map) and error-diffusion strength (dither
// map) from local second differences, widened, blurred and shrunk by 3-pixel filters. Maps are
// width * height floats row by row (see float_map.h).

#include <cstdint>

#include "engine/float_map.h"
#include "engine/reduce_settings.h"

namespace tessaline {

/// Both maps or neither: never one without the other.
struct ContrastMaps
{
    FloatMap contrast;
    FloatMap dither;
};

/// True when a reduction with `settings` builds the maps for an image of this size: both need a
/// neighbourhood of at least 4 x 4 pixels.
inline bool WantsContrastMaps(const ReduceSettings& settings, std::uint32_t width, std::uint32_t height)
{
    return settings.contrastMapLevel < ContrastMapsOff && width >= 4 && height >= 4;
}

/// Builds both maps from 8-bit RGBA rows; adds `settings.userWeights` when present. Gives neither
/// map once `settings.cancel` is set.
/// The caller guarantees width >= 4 and height >= 4. Throws std::bad_alloc.
ContrastMaps BuildContrastMaps(const ReduceSettings& settings, const std::uint8_t* const* rows,
                               std::uint32_t width, std::uint32_t height, float gamma);

/// Largest of the pixel and its four edge neighbours (clamped at the borders). source != destination.
void MaxFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height);
/// Smallest of the same five values.
void MinFilter3(const float* source, float* destination, std::uint32_t width, std::uint32_t height);
/// Six-wide running mean along each row (columns x-2..x+3, clamped), written transposed: destination
/// holds `width` rows of `height` values.
void TransposingBoxBlur(const float* source, float* destination, std::uint32_t width, std::uint32_t height);

} // namespace tessaline
