#include "engine/split_ahead.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/parallel.h"

namespace tessaline::detail {
namespace {

// Below this a copy and a hand-over cost about what the split itself does.
constexpr std::uint32_t MinItemsAhead = 64;

// Fewer histogram items than this make a whole cut too short to share.
constexpr std::uint32_t MinHistogramAhead = 4096;

// The handed-over task's state.
enum SideState : int { NoSide = 0, Posted = 1, Running = 2, SideDone = 3 };

// A slot's state: an Open box may be claimed by any thread; a Claimed box is being split by the
// thread that claimed it; a Ready box's parts wait, in the array that does not hold the box, for the
// cut to reach it.
enum SlotState : int { Open = 0, Claimed = 1, Ready = 2 };

// Spins before a thread blocks: a hand-over usually comes within a few microseconds, and blocking
// rather than spinning longer leaves the processor to the other thread when the machine is busy.
constexpr unsigned SpinsBeforeBlocking = 200;

inline void Spin()
{
#if defined(__SSE2__)
    _mm_pause();
#endif
}

} // namespace

struct SplitAhead::Slot
{
    std::atomic<int> state{Open};
    BoxSplit split;
    std::uint8_t side = 0; ///< where the prepared parts lie: 1 in the scratch, 0 in the histogram
};

SplitScratch CreateSplitScratch(std::uint32_t size)
{
    SplitScratch scratch;
    // Left uninitialised (as make_unique_for_overwrite would, which older standard libraries lack):
    // every item is written before it is read.
    scratch.storage.reset(new std::byte[std::size_t{size} * sizeof(HistogramItem)]);
    scratch.items = reinterpret_cast<HistogramItem*>(scratch.storage.get());
    scratch.size = size;
    return scratch;
}

bool SplitAheadPays(std::uint32_t histogramSize, std::uint32_t maxColours)
{
    return MaxThreads() >= 2 && histogramSize >= MinHistogramAhead && maxColours >= 3;
}

SplitAhead::SplitAhead(ColourBox* boxes, std::uint32_t maxBoxes, HistogramItem* items, SplitScratch& scratch,
                       float minOpacity, const ChannelScales& scales)
    : boxes(boxes), items(items), copies(scratch.items), minOpacity(minOpacity), scales(scales),
      slots(std::make_unique<Slot[]>(maxBoxes)), inScratch(std::make_unique<std::uint8_t[]>(maxBoxes))
{
    for (auto& box : forecast)
        box.store(-1, std::memory_order_relaxed);
}

SplitAhead::~SplitAhead() = default;

HistogramItem* SplitAhead::Live(std::uint32_t box) const
{
    return (inScratch[box] ? copies : items) + boxes[box].firstItem;
}

void SplitAhead::Apply(std::uint32_t k, std::uint32_t n, const BoxSplit& split, std::uint8_t side)
{
    boxes[k] = split.first;
    boxes[n] = split.second;
    inScratch[k] = side;
    inScratch[n] = side;
    // Publishing the boxes: a thread that claims either slot from now on sees these records.
    slots[n].state.store(Open, std::memory_order_release);
    slots[k].state.store(Open, std::memory_order_release);
}

void SplitAhead::Split(std::uint32_t k, std::uint32_t n)
{
    Slot& slot = slots[k];
    unsigned spins = 0;
    for (;;) {
        int state = slot.state.load(std::memory_order_acquire);
        if (state == Ready) {
            Apply(k, n, slot.split, slot.side);
            return;
        }
        if (state == Open && slot.state.compare_exchange_strong(state, Claimed, std::memory_order_acq_rel)) {
            Apply(k, n, SplitItems(boxes[k], Live(k), minOpacity, scales, this), inScratch[k]);
            return;
        }
        // The helper is splitting box k: prepare another box meanwhile, or wait for it.
        if (PrepareOne()) {
            spins = 0;
        } else if (++spins < SpinsBeforeBlocking) {
            Spin();
        } else {
            slot.state.wait(Claimed, std::memory_order_acquire);
            spins = 0;
        }
    }
}

void SplitAhead::Forecast(std::uint32_t n)
{
    // The best box is the next to split and the cut's thread takes it in place; the next few are
    // worth preparing. Ties rank as in ChooseBoxToSplit: the first of equal scores goes first.
    constexpr int Ranked = ForecastSize + 1;
    int best[Ranked];
    double bestScore[Ranked];
    int ranked = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const ColourBox& box = boxes[i];
        if (box.itemCount <= 1)
            continue;
        const double score = SplitScore(box);
        if (!(score > 0.0))
            continue;
        int place = ranked;
        while (place > 0 && score > bestScore[place - 1])
            --place;
        if (place >= Ranked)
            continue;
        for (int r = std::min(ranked, Ranked - 1); r > place; --r) {
            best[r] = best[r - 1];
            bestScore[r] = bestScore[r - 1];
        }
        best[place] = static_cast<int>(i);
        bestScore[place] = score;
        ranked = std::min(ranked + 1, Ranked);
    }
    for (int r = 1; r < Ranked; ++r) {
        const bool worth = r < ranked && boxes[best[r]].itemCount >= MinItemsAhead;
        forecast[r - 1].store(worth ? best[r] : -1, std::memory_order_release);
    }
    Wake();
}

void SplitAhead::Wake()
{
    // Sequentially consistent with the helpers' side in Help: either a helper sees this news before
    // it sleeps, or this sees it counted and wakes it.
    news.fetch_add(1, std::memory_order_seq_cst);
    if (sleepingHelpers.load(std::memory_order_seq_cst) > 0)
        news.notify_all();
}

bool SplitAhead::PrepareOne()
{
    for (auto& entry : forecast) {
        const int j = entry.load(std::memory_order_acquire);
        if (j < 0)
            continue;
        int state = Open;
        if (slots[j].state.compare_exchange_strong(state, Claimed, std::memory_order_acq_rel)) {
            Prepare(static_cast<std::uint32_t>(j));
            return true;
        }
    }
    return false;
}

void SplitAhead::Prepare(std::uint32_t j)
{
    // Only the fields a split reads: the cut's thread may be caching the box's error meanwhile.
    ColourBox box;
    box.firstItem = boxes[j].firstItem;
    box.itemCount = boxes[j].itemCount;
    box.totalWeight = boxes[j].totalWeight;
    std::copy(std::begin(boxes[j].variance), std::end(boxes[j].variance), std::begin(box.variance));
    // The other array's range of a live box holds nothing anyone reads: prepare the split there.
    const std::uint8_t side = inScratch[j] ? 0 : 1;
    HistogramItem* copy = (side ? copies : items) + box.firstItem;
    std::memcpy(static_cast<void*>(copy), Live(j), sizeof(HistogramItem) * box.itemCount);
    slots[j].split = SplitItems(box, copy, minOpacity, scales);
    slots[j].side = side;
    slots[j].state.store(Ready, std::memory_order_release);
    slots[j].state.notify_one(); // the cut's thread may be waiting for this very box
}

void SplitAhead::Run(TaskRef first, TaskRef second)
{
    sideTask = &second;
    sideState.store(Posted, std::memory_order_release);
    Wake();
    first();
    int state = Posted;
    if (sideState.compare_exchange_strong(state, NoSide, std::memory_order_acq_rel)) {
        second(); // the helper was busy: take it back
        return;
    }
    // The helper took it; it takes about as long as `first` did.
    for (unsigned spins = 0; (state = sideState.load(std::memory_order_acquire)) != SideDone;) {
        if (++spins < SpinsBeforeBlocking)
            Spin();
        else
            sideState.wait(state, std::memory_order_acquire);
    }
    sideState.store(NoSide, std::memory_order_relaxed);
}

bool SplitAhead::RunSideTask()
{
    int state = Posted;
    if (!sideState.compare_exchange_strong(state, Running, std::memory_order_acq_rel))
        return false;
    (*sideTask)();
    sideState.store(SideDone, std::memory_order_release);
    sideState.notify_one();
    return true;
}

void SplitAhead::Help()
{
    unsigned spins = 0;
    for (;;) {
        const unsigned seen = news.load(std::memory_order_acquire);
        if (finished.load(std::memory_order_acquire))
            return;
        if (RunSideTask() || PrepareOne()) {
            spins = 0;
        } else if (++spins < SpinsBeforeBlocking) {
            Spin();
        } else {
            // Sleep until the next forecast or the end; a forecast made since `seen` wakes at once.
            sleepingHelpers.fetch_add(1, std::memory_order_seq_cst);
            if (news.load(std::memory_order_seq_cst) == seen)
                news.wait(seen, std::memory_order_acquire);
            sleepingHelpers.fetch_sub(1, std::memory_order_relaxed);
            spins = 0;
        }
    }
}

void SplitAhead::Finish()
{
    finished.store(true, std::memory_order_release);
    Wake();
}

void SplitAhead::Gather(std::uint32_t n)
{
    for (std::uint32_t i = 0; i < n; ++i) {
        if (inScratch[i]) {
            std::memcpy(static_cast<void*>(items + boxes[i].firstItem), copies + boxes[i].firstItem,
                        sizeof(HistogramItem) * boxes[i].itemCount);
            inScratch[i] = 0;
        }
    }
}

} // namespace tessaline::detail
