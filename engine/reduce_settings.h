#pragma once
// engine/reduce_settings.h: one reduction job and its result codes. Defaults are those the reduce
// thread gives a fresh job; fields the job builder always writes start at the panel's defaults.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/cancel_flag.h"
#include "engine/colour_model.h"

namespace tessaline {

class ProgressUIInterface;

enum ReduceResult : int
{
    ReduceOk = 0,
    ReduceCancelled = 1, ///< stopped on request; the output is left empty
    ReduceOutOfMemory = 17,
    ReduceQualityTooLow = 99
};

/// A contrastMapLevel from which no contrast or dither map is built: every pixel weighs 1 in the
/// histogram and the error diffusion runs at one level everywhere.
inline constexpr std::uint8_t ContrastMapsOff = 8;

/// The histogram size for the panel's histogram step g (0 to 63): g * 2^18 + 2^17 entries.
constexpr std::uint32_t HistogramLimit(int g)
{
    return (static_cast<std::uint32_t>(g) << 18) + 0x20000u;
}

/// The refinement's convergence denominator for the panel's exponent e: 2^(e mod 32).
constexpr std::int32_t ConvergenceDenominator(int e)
{
    return static_cast<std::int32_t>(std::uint32_t{1} << (static_cast<std::uint32_t>(e) % 32));
}

/// Everything a reduction job says but its user weights: plain values and borrowed pointers, so it
/// copies whole. A job for the same image at other settings starts from such a copy, so no setting
/// added later can be left behind.
struct ReduceOptions
{
    double targetError = 0.0;         ///< target palette error for median cut
    double maxError = 1e20;           ///< above it the result is ReduceQualityTooLow
    float minOpacity = 1.0f;          ///< opacity threshold, 0 to 1
    std::uint32_t maxColours = 256;   ///< palette entries wanted, 2 to 256 from the panel
    std::uint8_t dither = 1;          ///< remap with Floyd-Steinberg error diffusion
    std::uint8_t lastIndexTransparent = 0; ///< put the transparent entry last in the palette
    std::uint8_t contrastMapLevel = 0; ///< maps are built only below ContrastMapsOff
    std::uint8_t useDitherMap = 1;    ///< let the dither map steer the error diffusion
    std::uint8_t fastHistogram = 0;   ///< histogram starts with one ignored bit per channel
    std::uint32_t maxHistogramEntries = HistogramLimit(10); ///< coarsen colours above this
    std::int32_t feedbackTrials = 49; ///< median-cut feedback trials
    std::int32_t voronoiIterations = 7; ///< base n of the refinement passes; negative counts as 0
    std::int32_t convergenceDenominator = ConvergenceDenominator(22); ///< refinement stops on a change below 1/this
    /// Entries R, G, B, A at the output gamma. Not empty: the result takes exactly these entries, in
    /// this order, unused ones included, instead of a palette chosen from the image.
    std::vector<std::array<std::uint8_t, 4>> givenPalette;
    /// Colours the chosen palette holds exactly, whatever the rest of it becomes.
    std::vector<std::array<std::uint8_t, 4>> keptColours;
    ChannelScales channelScales; ///< channel weights of the one metric every stage compares colours by
    ProgressUIInterface* progress = nullptr; ///< borrowed receiver of stage numbers, or null
    const CancelFlag* cancel = nullptr; ///< borrowed; once set, the reduction stops early, or null
};

struct ReduceSettings : ReduceOptions
{
    std::unique_ptr<float[]> userWeights; ///< width * height floats row by row, or null; owned by the job
};

} // namespace tessaline
