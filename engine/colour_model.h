#pragma once
// engine/colour_model.h: the engine's working colour space and its image and palette records.
// A FloatPixel is alpha, then r, g, b premultiplied by alpha, in InternalGamma; byte pixels are
// R, G, B, A (read as a little-endian 32-bit word, R is the lowest byte). Records own their buffers
// (RAII); allocation failure raises std::bad_alloc and leaves nothing half-built.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaline {

/// The engine's one gamma, an encoding exponent (bit pattern 0x3EE8BAC7). Image gammas are compared
/// with it by exact single-precision equality; when equal no power function is applied.
inline constexpr float InternalGamma = 0.45455f;

/// Selects the SSE2 or the scalar colour arithmetic. Written once before a job starts (the reduce
/// thread probes the processor), only read afterwards.
extern bool ProcessorHasSse2;

/// True when the processor running this process has SSE2 (always false off x86).
bool ProcessorSupportsSse2();

/// One colour: four contiguous floats, alpha in lane 0, so that it loads as one vector.
struct FloatPixel
{
    float a = 0.0f;
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
};

/// What r, g and b are multiplied by in the float space. Every stage compares colours by summed
/// squared channel differences there, so scales of s_r, s_g, s_b make one metric with channel
/// weights s_r^2, s_g^2, s_b^2 in all of them at once: colours enter scaled (FloatPixelTable) and
/// leave unscaled (StorePaletteBytes), and the difference over white, whose image in the space is
/// (s_r, s_g, s_b), scales the alpha difference alike. Each scale lies in (0, 1], so a channel
/// stays within 0..1. All ones is the engine's even weighting, under which every value is what it
/// is without scales.
struct ChannelScales
{
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;

    constexpr bool Even() const { return r == 1.0f && g == 1.0f && b == 1.0f; }
    bool operator==(const ChannelScales&) const = default;
};

/// Equal weights: the engine's own metric.
inline constexpr ChannelScales EvenChannels{};

/// Weights after the eye's sensitivity to each channel's share of luminance, softened: green counts
/// most, then red, then blue. Chosen by measurement against butteraugli on photographs and icons;
/// full luminance weights (BT.709) starve blue skies and seas of entries.
inline constexpr ChannelScales PerceptualChannels{0.7384f, 1.0f, 0.5637f};

/// The engine's input: 4 bytes R, G, B, A per pixel, rows consecutive in one buffer.
struct RgbaImage
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    double gamma = InternalGamma;   ///< the file's encoding exponent, or 0.45455 when none is given
    std::vector<std::uint8_t*> rows; ///< `height` pointers into `pixels`
    std::vector<std::uint8_t> pixels; ///< width * height * 4 bytes
    std::uint64_t sourceBytes = 0;  ///< bytes the file reader consumed; 0 when not from a file

    RgbaImage() = default;
    RgbaImage(RgbaImage&&) noexcept = default;
    RgbaImage& operator=(RgbaImage&&) noexcept = default;
    // A copy would keep row pointers into the original's buffer; use Clone() instead.
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;

    bool Empty() const { return pixels.empty(); }
    /// A deep copy whose rows point into its own buffer.
    RgbaImage Clone() const;
    /// Frees both buffers and zeroes every field.
    void Release();
};

/// Allocates a zeroed width x height image with its rows set; gamma is InternalGamma.
/// Throws std::bad_alloc. The caller checks the size is sane first.
RgbaImage CreateRgbaImage(std::uint32_t width, std::uint32_t height);

/// The engine's output: one palette index per pixel and the palette tables of the PNG file.
struct IndexedImage
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    double gamma = 0.0;                ///< the pipeline always sets InternalGamma widened to double
    std::vector<std::uint8_t*> rows;   ///< row i starts at pixels + i * width
    std::vector<std::uint8_t> pixels;  ///< width * height indices
    std::uint32_t paletteSize = 0;     ///< entries used, at most 256
    std::uint32_t transparentCount = 0; ///< leading entries the transparency chunk covers
    std::array<std::uint8_t, 768> paletteRgb{}; ///< 256 R, G, B triples
    std::array<std::uint8_t, 256> paletteAlpha{};

    IndexedImage() = default;
    IndexedImage(IndexedImage&&) noexcept = default;
    IndexedImage& operator=(IndexedImage&&) noexcept = default;
    IndexedImage(const IndexedImage&) = delete;
    IndexedImage& operator=(const IndexedImage&) = delete;

    bool Empty() const { return pixels.empty(); }
    /// Frees both buffers, zeroes the scalar fields and clears both palette tables.
    void Release();
};

/// One palette colour; the colour comes first so that it loads as one vector.
struct PaletteEntry
{
    FloatPixel colour;
    float popularity = 0.0f; ///< how much of the image the entry stands for
};

/// A palette owns its entries and, recursively, the smaller snapshot palette median cut attaches.
struct Palette
{
    std::unique_ptr<PaletteEntry[]> entries;
    std::unique_ptr<Palette> subset;
    std::uint32_t count = 0;
    ChannelScales scales; ///< of the space the entries live in, from the histogram they came from

    PaletteEntry& operator[](std::uint32_t i) { return entries[i]; }
    const PaletteEntry& operator[](std::uint32_t i) const { return entries[i]; }
};

/// The head centres a nearest-colour index is built around: either the palette's own subset,
/// borrowed, or a new palette owned here. `palette` is never null.
struct PaletteSubset
{
    std::unique_ptr<Palette> owned;
    const Palette* palette = nullptr;
};

/// `count` entries, every field zero, no subset. Throws std::bad_alloc.
Palette CreatePalette(std::uint32_t count);

/// (count + 3) / 4 head centres: the attached subset itself when it is no larger, otherwise a new
/// palette of the first entries of the subset (or of the palette when it has none).
PaletteSubset CreatePaletteSubset(const Palette& palette);

/// Frees the entries and the subset, and zeroes the count.
void ReleasePalette(Palette& palette);

/// Bytes R, G, B, A to a FloatPixel at the given image gamma (no power when it is InternalGamma).
FloatPixel ToFloatPixel(const std::uint8_t* rgba, float gamma);

/// ToFloatPixel in the float space of `scales`: the colour channels multiplied by them before the
/// premultiplication, as FloatPixelTable does; with EvenChannels exactly ToFloatPixel(rgba, gamma).
FloatPixel ToFloatPixel(const std::uint8_t* rgba, float gamma, const ChannelScales& scales);

/// The inverse of ToFloatPixel: alpha below 1/256 gives transparent black; channels are scaled by
/// 256, clamped to 0..255 and truncated.
std::array<std::uint8_t, 4> ToRgba(const FloatPixel& pixel, float gamma);

/// Makes almost-opaque pixels opaque and raises the band below them linearly, in place. A
/// `minOpacity` above 254/255 leaves the image untouched.
void RaiseNearOpaqueAlpha(RgbaImage& image, float minOpacity);

/// True when RaiseNearOpaqueAlpha with this threshold may change an image.
inline bool AlphaRaiseApplies(float minOpacity) { return !(minOpacity > 254.0f / 255.0f); }

namespace detail {

inline float ColourDifferenceScalar(const FloatPixel& x, const FloatPixel& y)
{
    const double alphas = double(y.a) - double(x.a);
    const auto term = [alphas](float xc, float yc) {
        const double black = double(xc) - double(yc);
        const double white = black + alphas;
        return std::max(black * black, white * white);
    };
    return static_cast<float>(term(x.r, y.r) + term(x.g, y.g) + term(x.b, y.b));
}

inline float ColourDifferenceScalar(const FloatPixel& x, const FloatPixel& y, const ChannelScales& scales)
{
    const double alphas = double(y.a) - double(x.a);
    const auto term = [alphas](float xc, float yc, float scale) {
        const double black = double(xc) - double(yc);
        const double white = black + alphas * double(scale);
        return std::max(black * black, white * white);
    };
    return static_cast<float>(term(x.r, y.r, scales.r) + term(x.g, y.g, scales.g) + term(x.b, y.b, scales.b));
}

#if defined(__SSE2__)
// The larger of the squared differences over black and over white, summed over r, g, b: `alphas`
// is the alpha difference as each colour lane sees it (lane 0 is alpha and is discarded).
inline float WorstOverBlackAndWhiteSse2(__m128 vx, __m128 vy, __m128 alphas)
{
    const __m128 black = _mm_sub_ps(vx, vy);
    const __m128 white = _mm_add_ps(black, alphas);
    const __m128 worst = _mm_max_ps(_mm_mul_ps(black, black), _mm_mul_ps(white, white));
    const float r = _mm_cvtss_f32(_mm_shuffle_ps(worst, worst, _MM_SHUFFLE(1, 1, 1, 1)));
    const float g = _mm_cvtss_f32(_mm_shuffle_ps(worst, worst, _MM_SHUFFLE(2, 2, 2, 2)));
    const float b = _mm_cvtss_f32(_mm_shuffle_ps(worst, worst, _MM_SHUFFLE(3, 3, 3, 3)));
    return r + g + b;
}

inline float ColourDifferenceSse2(const FloatPixel& x, const FloatPixel& y, const ChannelScales& scales)
{
    const __m128 alphas = _mm_mul_ps(_mm_set1_ps(y.a - x.a), _mm_set_ps(scales.b, scales.g, scales.r, 1.0f));
    return WorstOverBlackAndWhiteSse2(_mm_loadu_ps(&x.a), _mm_loadu_ps(&y.a), alphas);
}

inline float ColourDifferenceSse2(const FloatPixel& x, const FloatPixel& y)
{
    // Palette entries are five floats apart, so no alignment is assumed.
    return WorstOverBlackAndWhiteSse2(_mm_loadu_ps(&x.a), _mm_loadu_ps(&y.a), _mm_set1_ps(y.a - x.a));
}
#endif

} // namespace detail

/// The larger of the squared differences x and y show composited over black and over white,
/// summed over r, g, b. Symmetric. Inline because it runs per pixel and candidate.
inline float ColourDifference(const FloatPixel& x, const FloatPixel& y)
{
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        return detail::ColourDifferenceSse2(x, y);
#endif
    return detail::ColourDifferenceScalar(x, y);
}

/// The same difference in a space whose channels are scaled by `scales`: composited over black and
/// over the image of white, (scales.r, scales.g, scales.b). With EvenChannels it is exactly
/// ColourDifference(x, y) (the alpha difference is multiplied by 1).
inline float ColourDifference(const FloatPixel& x, const FloatPixel& y, const ChannelScales& scales)
{
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        return detail::ColourDifferenceSse2(x, y, scales);
#endif
    return detail::ColourDifferenceScalar(x, y, scales);
}

} // namespace tessaline
