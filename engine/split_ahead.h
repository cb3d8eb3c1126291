#pragma once
// engine/split_ahead.h: the median cut's splits prepared ahead on a second thread. The boxes most
// likely to be split next are split on a copy of their items; when the cut reaches one of them, its
// prepared items are copied back instead of being split again. A split depends only on the box and
// its items, and only the cut's own thread writes the histogram, so the cut ends exactly as when
// every split is made in place.

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/histogram.h"
#include "engine/median_cut.h"

namespace tessaline::detail {

/// Room for prepared splits: one item per histogram item, each box's copy at the box's own offset,
/// so that the copies of disjoint boxes never overlap. Reused by every cut of a feedback loop.
struct SplitScratch
{
    std::unique_ptr<HistogramItem[]> items;
    std::uint32_t size = 0;
};

/// Allocates the scratch for a histogram of `size` items. Throws std::bad_alloc.
SplitScratch CreateSplitScratch(std::uint32_t size);

/// True when preparing splits ahead can pay: a second thread is allowed and there are enough items.
bool SplitAheadPays(std::uint32_t histogramSize, std::uint32_t maxColours);

/// One median cut's splits. The cut's thread calls Split and Forecast; a second thread of the same
/// parallel region calls Help, which returns after Finish.
class SplitAhead
{
public:
    SplitAhead(ColourBox* boxes, std::uint32_t maxBoxes, HistogramItem* items, SplitScratch& scratch,
               float minOpacity);
    ~SplitAhead();
    SplitAhead(const SplitAhead&) = delete;
    SplitAhead& operator=(const SplitAhead&) = delete;

    /// Splits box k into boxes k and n, as SplitBox does, from a prepared split when there is one.
    void Split(std::uint32_t k, std::uint32_t n);

    /// Names the boxes worth preparing among boxes[0, n): the best-scoring ones after the next.
    void Forecast(std::uint32_t n);

    /// Prepares forecast boxes until Finish is called.
    void Help();

    /// Ends Help.
    void Finish();

private:
    struct Slot;
    static constexpr int ForecastSize = 8;

    bool PrepareOne();
    void Prepare(std::uint32_t j);
    void Apply(std::uint32_t k, std::uint32_t n, const BoxSplit& split);
    void Wake();

    ColourBox* boxes;
    std::uint32_t maxBoxes;
    HistogramItem* items;
    HistogramItem* copies;
    float minOpacity;
    std::unique_ptr<Slot[]> slots;
    std::atomic<int> forecast[ForecastSize];
    std::atomic<bool> finished{false};
    std::atomic<unsigned> news{0};          ///< counts forecasts and the finish, for the helper's sleep
    std::atomic<bool> helperWaiting{false};
};

} // namespace tessaline::detail
