#pragma once
// engine/median_cut.h: the first palette of a reduction. A weighted median cut over the histogram,
// repeated in a feedback loop that raises the adjusted weight of badly represented colours.

#include <cstdint>

#include "engine/cancel_flag.h"
#include "engine/colour_model.h"
#include "engine/histogram.h"

namespace tessaline {

/// The best palette of up to `feedbackTrials` median cuts. When feedbackTrials >= 1, *error
/// receives its error; otherwise *error is left as it was. Reorders and reweights the histogram.
/// Once `cancel` is set it returns soon with a palette (possibly empty) that means nothing.
Palette MedianCutWithFeedback(Histogram& histogram, std::uint32_t maxColours, float minOpacity,
                              double targetError, int feedbackTrials, double* error,
                              const CancelFlag* cancel = nullptr);

/// One median-cut run of at most `maxColours` (>= 1) boxes; no further box is split once `cancel`
/// is set.
Palette MedianCut(Histogram& histogram, float minOpacity, std::uint32_t maxColours, double targetError,
                  const CancelFlag* cancel = nullptr);

/// The feedback hook: adjustedWeight = sqrtf(difference + 1) * (adjustedWeight + perceptualWeight).
void FeedbackReweight(HistogramItem& item, float difference);

namespace detail {

/// One box of a median cut: a contiguous run of histogram items.
struct ColourBox
{
    FloatPixel colour;                            ///< BoxAverage of the items
    float variance[4] = {0.0f, 0.0f, 0.0f, 0.0f}; ///< scaled weighted spread per channel a, r, g, b
    double totalWeight = 0.0;                     ///< sum of adjustedWeight
    double cachedError = -1.0;                    ///< box error for the stop test; -1 until computed
    std::uint32_t firstItem = 0;
    std::uint32_t itemCount = 0;
};

/// Weighted mean of n items, far-from-grey colours weighing more; alpha snaps to 1 when the mean
/// reaches minOpacity and some item is (nearly) opaque.
FloatPixel BoxAverage(const HistogramItem* items, std::uint32_t n, float minOpacity);

/// Weighted spread of the box's items around its colour, not divided by the box weight.
void BoxVariance(ColourBox& box, const HistogramItem* items);

/// How much splitting the box is worth: its weight times its largest channel spread.
double SplitScore(const ColourBox& box);

/// The box most worth splitting, or -1 when no box of more than one item has a positive score.
int ChooseBoxToSplit(const ColourBox* boxes, std::uint32_t n);

/// A box split in two: the parts keep the box's item range, `first` its first `firstPart` items.
struct BoxSplit
{
    ColourBox first;
    ColourBox second;
    std::uint32_t firstPart = 0;
};

/// A call of a function object that outlives it, without copying or allocating.
class TaskRef
{
public:
    template <class F>
    TaskRef(F& task) : object(&task), call([](void* o) { (*static_cast<F*>(o))(); })
    {
    }
    void operator()() const { call(object); }

private:
    void* object;
    void (*call)(void*);
};

/// Two independent pieces of work, the second on another thread when one is free to take it.
class WorkPair
{
public:
    /// Returns when both have run.
    virtual void Run(TaskRef first, TaskRef second) = 0;

protected:
    ~WorkPair() = default;
};

/// Splits `box`, whose items lie at `items` (its range of the histogram or a copy of that range), and
/// reorders them so the first part comes first. The result depends only on the items and the box;
/// with a `pair`, a large box's per-item passes and the set-up of its two parts run side by side.
BoxSplit SplitItems(const ColourBox& box, HistogramItem* items, float minOpacity, const ChannelScales& scales,
                    WorkPair* pair = nullptr);

/// Splits box k into box k and a new box n; reorders the box's items so the first part comes first.
/// Returns the size of the first part (1 to itemCount - 1).
std::uint32_t SplitBox(ColourBox* boxes, std::uint32_t k, std::uint32_t n, Histogram& histogram,
                       float minOpacity);

/// Where boxes' items lie while splits are made ahead: box i's items are at the same offset in
/// `scratch` instead of the histogram when inScratch[i] is set.
struct BoxSides
{
    const HistogramItem* scratch = nullptr;
    const std::uint8_t* inScratch = nullptr;
};

/// True while the summed box errors stay within targetError * totalPerceptualWeight; caches errors.
bool WithinTargetError(ColourBox* boxes, std::uint32_t n, double targetError, const Histogram& histogram,
                       const BoxSides* sides = nullptr);

/// One entry per box: its colour, popularity the box's perceptual weight.
Palette PaletteFromBoxes(const ColourBox* boxes, std::uint32_t n, const Histogram& histogram,
                         const BoxSides* sides = nullptr);

} // namespace detail

} // namespace tessaline
