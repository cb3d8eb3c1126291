#pragma once
// engine/histogram.h: the distinct colours of an image with their summed pixel weights, counted in
// a fixed hash table keyed by the RGBA word and coarsened one ignored bit per attempt until they fit.

#include <cstdint>
#include <memory>
#include <optional>

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
    ChannelScales scales; ///< of the float space the items' colours live in
};

/// `size` zeroed items. Throws std::bad_alloc.
Histogram CreateHistogram(std::uint32_t size);

/// The weighted histogram of `image`: weight contrastMap[i] + 0.5 per pixel, or 1 without a map;
/// colours in the float space of `settings.channelScales`.
/// Reads `fastHistogram` and `maxHistogramEntries`. Never empty for an image of at least one pixel,
/// unless `settings.cancel` is set, which stops it before its next counting attempt.
Histogram BuildHistogram(const ReduceSettings& settings, const RgbaImage& image, const float* contrastMap);

/// Frees the items and zeroes the record.
void ReleaseHistogram(Histogram& histogram);

namespace detail {

/// Buckets of the colour table; fixed, never derived from the image.
inline constexpr std::uint32_t HistogramBucketCount = 16367;

/// Coarsening stops here: at 4 ignored bits at most 16^4 keys remain, and with more bits the key
/// formula would keep more distinct channel values again.
inline constexpr unsigned MaxIgnoredBits = 4;

/// The table key of one RGBA word (R in the lowest byte): 0 when the alpha byte is 0, otherwise
/// the word with the `ignoredBits` (0 to MaxIgnoredBits) low bits of every channel refilled from
/// that channel's top bits, all four channels in one 32-bit operation.
inline std::uint32_t HistogramKey(std::uint32_t word, unsigned ignoredBits)
{
    if ((word >> 24) == 0)
        return 0;
    const std::uint32_t low = 255u >> ignoredBits;
    const std::uint32_t keepMask = (low << ignoredBits) * 0x01010101u;
    const std::uint32_t highMask = (low ^ 255u) * 0x01010101u;
    return (word & keepMask) | ((word & highMask) >> (8 - ignoredBits));
}

/// One counting attempt's hash table of keys and summed weights; internal to the histogram.
struct ColourTable;
struct ColourTableDelete
{
    void operator()(ColourTable* table) const noexcept;
};
using ColourTablePtr = std::unique_ptr<ColourTable, ColourTableDelete>;

struct CountedColours
{
    ColourTablePtr table;
    std::uint32_t colourCount = 0;
};

/// Counts the pixels' keys with weight contrastMap[i] + 0.5 (or 1 without a map). Nothing when a
/// bucket needed a new or larger overflow array after the count had passed `maximum`, or once
/// `cancel` is set. The same table on any number of threads. Throws std::bad_alloc.
std::optional<CountedColours> CountColours(const std::uint8_t* const* rows, std::uint32_t width,
                                           std::uint32_t height, std::uint32_t maximum, unsigned ignoredBits,
                                           const float* contrastMap, const CancelFlag* cancel = nullptr);

/// The table's keys as items, in bucket order and within a bucket in order of first arrival, their
/// colours in the float space of `scales`. Throws std::bad_alloc.
Histogram TableToHistogram(const ColourTable& table, std::uint32_t colourCount, float gamma,
                           const ChannelScales& scales = EvenChannels);

} // namespace detail

} // namespace tessaline
