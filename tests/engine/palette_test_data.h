#pragma once
// tests/engine/palette_test_data.h: small hand-built histograms and palettes for the palette-stage
// tests, from fixed seeds, so those tests do not depend on the histogram builder.

#include <cstdint>
#include <memory>
#include <random>

#include "engine/colour_model.h"
#include "engine/histogram.h"

namespace tessaline::testing {

/// Selects the scalar or the vector colour arithmetic for one scope and restores it afterwards.
class Sse2Scope
{
public:
    explicit Sse2Scope(bool useSse2) : saved(ProcessorHasSse2)
    {
        ProcessorHasSse2 = useSse2 && ProcessorSupportsSse2();
    }
    ~Sse2Scope() { ProcessorHasSse2 = saved; }
    Sse2Scope(const Sse2Scope&) = delete;
    Sse2Scope& operator=(const Sse2Scope&) = delete;

private:
    bool saved;
};

/// A premultiplied colour from straight components in 0..1.
inline FloatPixel Straight(float a, float r, float g, float b)
{
    return FloatPixel{a, a * r, a * g, a * b};
}

/// A random valid colour; about one in `translucentOneIn` is translucent (0 means always opaque).
inline FloatPixel RandomColour(std::mt19937& random, int translucentOneIn = 4)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    float a = 1.0f;
    if (translucentOneIn > 0 && random() % translucentOneIn == 0)
        a = unit(random);
    return Straight(a, unit(random), unit(random), unit(random));
}

/// A histogram of `size` zeroed items (the record only; items filled by the caller).
inline Histogram EmptyHistogram(std::uint32_t size)
{
    Histogram histogram;
    histogram.items = std::make_unique<HistogramItem[]>(size);
    histogram.size = size;
    return histogram;
}

/// Sets the item's colour and both weights, and adds the weight to the total.
inline void SetItem(Histogram& histogram, std::uint32_t i, const FloatPixel& colour, float weight)
{
    HistogramItem& item = histogram.items[i];
    item.colour = colour;
    item.perceptualWeight = weight;
    item.adjustedWeight = weight;
    histogram.totalPerceptualWeight += weight;
}

/// `size` random colours with weights 0.5 to 10.5, like contrast-weighted pixel counts.
inline Histogram RandomHistogram(std::uint32_t size, std::uint32_t seed, int translucentOneIn = 4)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> weight(0.5f, 10.5f);
    Histogram histogram = EmptyHistogram(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        const FloatPixel colour = RandomColour(random, translucentOneIn);
        SetItem(histogram, i, colour, weight(random));
    }
    return histogram;
}

/// A copy of the histogram's items and total.
inline Histogram CopyHistogram(const Histogram& from)
{
    Histogram copy = EmptyHistogram(from.size);
    for (std::uint32_t i = 0; i < from.size; ++i)
        copy.items[i] = from.items[i];
    copy.totalPerceptualWeight = from.totalPerceptualWeight;
    return copy;
}

/// `count` random colours, popularity 0.
inline Palette RandomPalette(std::uint32_t count, std::uint32_t seed, int translucentOneIn = 4)
{
    std::mt19937 random(seed);
    Palette palette = CreatePalette(count);
    for (std::uint32_t i = 0; i < count; ++i)
        palette[i].colour = RandomColour(random, translucentOneIn);
    return palette;
}

/// A palette with the same entries and no subset.
inline Palette CopyEntries(const Palette& from)
{
    Palette copy = CreatePalette(from.count);
    for (std::uint32_t i = 0; i < from.count; ++i)
        copy[i] = from[i];
    return copy;
}

} // namespace tessaline::testing
