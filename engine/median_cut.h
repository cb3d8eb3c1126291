#pragma once
// engine/median_cut.h: the first palette of a reduction. A weighted median cut over the histogram,
// repeated in a feedback loop that raises the adjusted weight of badly represented colours.

#include <cstdint>

#include "engine/colour_model.h"
#include "engine/histogram.h"

namespace tessaline {

/// The best palette of up to `feedbackTrials` median cuts. When feedbackTrials >= 1, *error
/// receives its error; otherwise *error is left as it was. Reorders and reweights the histogram.
Palette MedianCutWithFeedback(Histogram& histogram, std::uint32_t maxColours, float minOpacity,
                              double targetError, int feedbackTrials, double* error);

/// One median-cut run of at most `maxColours` (>= 1) boxes.
Palette MedianCut(Histogram& histogram, float minOpacity, std::uint32_t maxColours, double targetError);

/// The feedback hook: adjustedWeight = sqrtf(difference + 1) * (adjustedWeight + perceptualWeight).
void FeedbackReweight(HistogramItem& item, float difference);

} // namespace tessaline
