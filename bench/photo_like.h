#pragma once
// bench/photo_like.h: deterministic stand-ins for photographs, for the benchmarks. Each image mixes
// smooth gradients, soft value-noise shading, hard-edged shapes, a textured patch and per-pixel
// sensor noise, so that it has photo-like colour counts and contrast structure. Opaque; the same
// (width, height, seed) gives the same bytes on every machine.

#include <cstdint>

#include "engine/colour_model.h"

namespace tessaline::bench {

struct PhotoLikeSize
{
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
};

/// About 0.25, 1 and 4 megapixels, in a 4:3 frame.
inline constexpr PhotoLikeSize PhotoLikeSizes[] = {
    {"0.25 MP", 576, 432},
    {"1 MP", 1152, 864},
    {"4 MP", 2304, 1728},
};

/// A photo-like RGBA image at InternalGamma. Throws std::bad_alloc.
RgbaImage MakePhotoLikeImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed = 1);

} // namespace tessaline::bench
