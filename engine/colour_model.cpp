#include "engine/colour_model.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tessaline {

bool ProcessorHasSse2 = false;

bool ProcessorSupportsSse2()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return false;
    return (edx & (1u << 26)) != 0;
#elif defined(__EMSCRIPTEN__) && defined(__SSE2__)
    // SSE2 here is translated to WebAssembly SIMD: a module built with it loads only where that runs.
    return true;
#else
    return false;
#endif
}

namespace {

void PointRows(std::vector<std::uint8_t*>& rows, std::uint8_t* pixels, std::uint32_t height,
               std::size_t rowBytes)
{
    rows.resize(height);
    for (std::uint32_t y = 0; y < height; ++y)
        rows[y] = pixels + std::size_t{y} * rowBytes;
}

} // namespace

RgbaImage CreateRgbaImage(std::uint32_t width, std::uint32_t height)
{
    RgbaImage image;
    const std::size_t rowBytes = std::size_t{width} * 4;
    image.pixels.assign(rowBytes * height, 0);
    PointRows(image.rows, image.pixels.data(), height, rowBytes);
    image.width = width;
    image.height = height;
    return image;
}

RgbaImage RgbaImage::Clone() const
{
    RgbaImage copy;
    copy.pixels = pixels;
    PointRows(copy.rows, copy.pixels.data(), height, std::size_t{width} * 4);
    copy.width = width;
    copy.height = height;
    copy.gamma = gamma;
    copy.sourceBytes = sourceBytes;
    return copy;
}

void RgbaImage::Release()
{
    *this = RgbaImage();
    gamma = 0.0;
}

void IndexedImage::Release()
{
    *this = IndexedImage();
}

Palette CreatePalette(std::uint32_t count)
{
    Palette palette;
    palette.entries = std::make_unique<PaletteEntry[]>(count);
    palette.count = count;
    return palette;
}

PaletteSubset CreatePaletteSubset(const Palette& palette)
{
    const std::uint32_t n = (palette.count + 3) / 4;
    PaletteSubset result;
    if (palette.subset && n >= palette.subset->count) {
        result.palette = palette.subset.get();
        return result;
    }
    const Palette& from = palette.subset ? *palette.subset : palette;
    result.owned = std::make_unique<Palette>(CreatePalette(n));
    std::copy(from.entries.get(), from.entries.get() + n, result.owned->entries.get());
    result.palette = result.owned.get();
    return result;
}

void ReleasePalette(Palette& palette)
{
    palette.entries.reset();
    palette.subset.reset();
    palette.count = 0;
}

FloatPixel ToFloatPixel(const std::uint8_t* rgba, float gamma)
{
    float r = rgba[0] / 255.0f;
    float g = rgba[1] / 255.0f;
    float b = rgba[2] / 255.0f;
    const float a = rgba[3] / 255.0f;
    if (gamma != InternalGamma) {
        const float e = InternalGamma / gamma;
        r = std::pow(r, e);
        g = std::pow(g, e);
        b = std::pow(b, e);
    }
    return FloatPixel{a, a * r, a * g, a * b};
}

namespace {

std::uint8_t ScaleToByte(float v)
{
    const float scaled = v * 256.0f;
    if (scaled >= 255.0f)
        return 255;
    if (scaled <= 0.0f)
        return 0;
    return static_cast<std::uint8_t>(scaled);
}

} // namespace

FloatPixel ToFloatPixel(const std::uint8_t* rgba, float gamma, const ChannelScales& scales)
{
    // Opaque, the channels come out unpremultiplied and exact (1 times the channel).
    const std::uint8_t opaque[4] = {rgba[0], rgba[1], rgba[2], 255};
    const FloatPixel c = ToFloatPixel(opaque, gamma);
    const float a = rgba[3] / 255.0f;
    return FloatPixel{a, a * (c.r * scales.r), a * (c.g * scales.g), a * (c.b * scales.b)};
}

std::array<std::uint8_t, 4> ToRgba(const FloatPixel& pixel, float gamma)
{
    if (pixel.a < 1.0f / 256.0f)
        return {0, 0, 0, 0};
    float r = pixel.r / pixel.a;
    float g = pixel.g / pixel.a;
    float b = pixel.b / pixel.a;
    if (gamma != InternalGamma) {
        const float e = gamma / InternalGamma;
        r = std::pow(r, e);
        g = std::pow(g, e);
        b = std::pow(b, e);
    }
    return {ScaleToByte(r), ScaleToByte(g), ScaleToByte(b), ScaleToByte(pixel.a)};
}

void RaiseNearOpaqueAlpha(RgbaImage& image, float minOpacity)
{
    if (!AlphaRaiseApplies(minOpacity))
        return;
    const float almost = minOpacity * 169.0f * (1.0f / 256.0f);
    const int threshold = static_cast<int>(almost * 255.0f);
    const float gamma = static_cast<float>(image.gamma);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        std::uint8_t* px = image.rows[y];
        for (std::uint32_t x = 0; x < image.width; ++x, px += 4) {
            if (px[3] < threshold)
                continue;
            // Colour stays premultiplied by the incoming alpha while ToRgba divides by the
            // raised one, so a raised pixel darkens by A / alpha.
            FloatPixel raised = ToFloatPixel(px, gamma);
            const float a = raised.a;
            float alpha = (a - almost) * (1.0f - almost) / (minOpacity - almost) + almost;
            if (alpha > 1.0f)
                alpha = 1.0f;
            raised.a = alpha;
            const auto bytes = ToRgba(raised, gamma);
            std::copy(bytes.begin(), bytes.end(), px);
        }
    }
}

} // namespace tessaline
