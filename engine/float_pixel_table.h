#pragma once
// engine/float_pixel_table.h: ToFloatPixel for one image gamma, with the per-byte division and power
// looked up instead of computed. The values are bit-identical to ToFloatPixel's; the per-pixel
// stages that convert millions of pixels (contrast maps, histogram items) use it so that an image
// whose gamma differs from InternalGamma does not cost three power functions per conversion. With
// channel scales the colour channels come out multiplied by them: the entry to a scaled float space.

#include <array>
#include <cstdint>

#include "engine/colour_model.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaline {

class FloatPixelTable
{
public:
    explicit FloatPixelTable(float gamma, const ChannelScales& scales = EvenChannels)
    {
        for (int v = 0; v < 256; ++v) {
            const std::uint8_t grey[4] = {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 255};
            // Opaque, so the premultiplication by 1.0f leaves the channel exactly as computed; a
            // scale of 1 leaves it exactly as well.
            const float channel = ToFloatPixel(grey, gamma).r;
            red[v] = channel * scales.r;
            green[v] = channel * scales.g;
            blue[v] = channel * scales.b;
            alpha[v] = v / 255.0f;
        }
    }

    /// The same FloatPixel as ToFloatPixel(rgba, gamma), its colour channels scaled.
    FloatPixel Convert(const std::uint8_t* rgba) const
    {
        const float a = alpha[rgba[3]];
        return FloatPixel{a, a * red[rgba[0]], a * green[rgba[1]], a * blue[rgba[2]]};
    }

#if defined(__SSE2__)
    /// The same pixel as one vector, alpha in lane 0 (1 * alpha is alpha exactly).
    __m128 ConvertSse2(const std::uint8_t* rgba) const
    {
        const __m128 channels = _mm_set_ps(blue[rgba[2]], green[rgba[1]], red[rgba[0]], 1.0f);
        return _mm_mul_ps(channels, _mm_set1_ps(alpha[rgba[3]]));
    }
#endif

private:
    std::array<float, 256> red{};
    std::array<float, 256> green{};
    std::array<float, 256> blue{};
    std::array<float, 256> alpha{};
};

} // namespace tessaline
