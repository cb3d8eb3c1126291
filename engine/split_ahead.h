#pragma once
// engine/split_ahead.h: the median cut's splits prepared ahead on a second thread. Each box's items
// lie either in the histogram or at the same offsets in a scratch array of the histogram's size. The
// boxes most likely to be split next are split on a copy in the other array; when the cut reaches
// one, its parts simply live there from then on. A split depends only on the box and its items, and
// no thread writes a box's live items but the cut's own, so once the parts are gathered back into
// the histogram the cut ends exactly as when every split is made in place.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/histogram.h"
#include "engine/median_cut.h"

namespace tessaline::detail {

/// The second home of boxes' items: one item per histogram item, each box at its own offset, so
/// that disjoint boxes never overlap. Reused by every cut of a feedback loop.
struct SplitScratch
{
    std::unique_ptr<std::byte[]> storage; ///< left unset: every item is copied in before it is read
    HistogramItem* items = nullptr;
    std::uint32_t size = 0;
};

/// Allocates the scratch for a histogram of `size` items. Throws std::bad_alloc.
SplitScratch CreateSplitScratch(std::uint32_t size);

/// True when preparing splits ahead can pay: a second thread is allowed and there are enough items.
bool SplitAheadPays(std::uint32_t histogramSize, std::uint32_t maxColours);

/// One median cut's splits. The cut's thread calls Split and Forecast; the other threads of the same
/// parallel region call Help, which returns after Finish. Any number of helpers gives the same cut.
class SplitAhead : public WorkPair
{
public:
    SplitAhead(ColourBox* boxes, std::uint32_t maxBoxes, HistogramItem* items, SplitScratch& scratch,
               float minOpacity, const ChannelScales& scales);
    virtual ~SplitAhead();
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

    /// Runs `first` here and hands `second` to the helper when it is free; a large in-place split
    /// shares its passes this way while the helper has nothing else to prepare.
    void Run(TaskRef first, TaskRef second) override;

    /// Where the boxes' items lie now, for reading them during the cut.
    BoxSides Sides() const { return BoxSides{copies, inScratch.get()}; }

    /// Moves the items of boxes[0, n) that lie in the scratch back into the histogram. Only after
    /// the parallel region, when no split is being prepared.
    void Gather(std::uint32_t n);

private:
    struct Slot;
    static constexpr int ForecastSize = 8;

    bool PrepareOne();
    bool RunSideTask();
    void Prepare(std::uint32_t j);
    void Apply(std::uint32_t k, std::uint32_t n, const BoxSplit& split, std::uint8_t side);
    HistogramItem* Live(std::uint32_t box) const;
    void Wake();

    ColourBox* boxes;
    HistogramItem* items;
    HistogramItem* copies;
    float minOpacity;
    ChannelScales scales;
    std::unique_ptr<Slot[]> slots;
    std::unique_ptr<std::uint8_t[]> inScratch; ///< per box: its items lie in the scratch
    std::atomic<int> forecast[ForecastSize];
    std::atomic<bool> finished{false};
    std::atomic<unsigned> news{0}; ///< counts forecasts, hand-overs and the finish, for helpers' sleep
    std::atomic<int> sleepingHelpers{0};
    std::atomic<int> sideState{0}; ///< the handed-over task: none, posted, running, done
    const TaskRef* sideTask = nullptr;
};

} // namespace tessaline::detail
