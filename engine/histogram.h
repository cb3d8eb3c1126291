#pragma once
// engine/histogram.h: the distinct colours of an image with their summed pixel weights, counted in
// a fixed hash table keyed by the RGBA word and coarsened one ignored bit per attempt until they fit.

#include <cstdint>
#include <memory>

#include "engine/colour_model.h"
#include "engine/reduce_settings.h"

namespace tessaline {

struct HistogramItem
{
    FloatPixel colour;            ///< from the item's key at the image gamma
    float adjustedWeight = 0.0f;  ///< starts as perceptualWeight; median cut reweights it
    float perceptualWeight = 0.0f; ///< summed weight of the pixels with this key
    float colourWeight = 0.0f;    ///< median cut's scratch
    std::uint32_t sortValue = 0;  ///< median cut's scratch sort key
};

struct Histogram
{
    std::unique_ptr<HistogramItem[]> items;
    double totalPerceptualWeight = 0.0;
    std::uint32_t size = 0;
};

/// `size` zeroed items. Throws std::bad_alloc.
Histogram CreateHistogram(std::uint32_t size);

/// The weighted histogram of `image`: weight contrastMap[i] + 0.5 per pixel, or 1 without a map.
/// Reads `fastHistogram` and `maxHistogramEntries`. Never empty for an image of at least one pixel.
Histogram BuildHistogram(const ReduceSettings& settings, const RgbaImage& image, const float* contrastMap);

/// Frees the items and zeroes the record.
void ReleaseHistogram(Histogram& histogram);

} // namespace tessaline
