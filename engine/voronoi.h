#pragma once
// engine/voronoi.h: one k-means step over the histogram. Items go to their nearest entry, entries
// move to the perceptual-weighted mean of their items; per-thread accumulator rows, no locks.

#include <cstdint>
#include <memory>

#include "engine/cancel_flag.h"
#include "engine/colour_model.h"
#include "engine/histogram.h"

namespace tessaline {

/// One entry's running sums in one thread.
struct AccumulatorCell
{
    double sumA = 0.0;
    double sumR = 0.0;
    double sumG = 0.0;
    double sumB = 0.0;
    double sumWeight = 0.0;
};

/// threads * count cells; cell (t, j) at t * count + j. Each thread writes only its own row.
struct PaletteAccumulators
{
    std::unique_ptr<AccumulatorCell[]> cells;
    int threads = 0;
    std::uint32_t count = 0;
};

/// Per-item hook, called from worker threads; touches only the item it is given.
using VoronoiHook = void (*)(HistogramItem& item, float difference);

/// All cells zero. Throws std::bad_alloc.
PaletteAccumulators CreateAccumulators(int threads, const Palette& palette);

/// Adds weight * each channel (product in float, sum in double) and weight to cell (thread, entry).
void Accumulate(PaletteAccumulators& cells, int thread, std::uint32_t entry, const FloatPixel& colour,
                float weight);

/// Moves every entry with weight to its accumulated mean; every entry's popularity = its weight.
void ApplyAccumulators(Palette& palette, const PaletteAccumulators& cells);

/// One pass; returns the perceptual-weighted mean error of the palette as it was before the move
/// (0 for a histogram of zero total weight). Once `cancel` is set the remaining items are skipped,
/// and the palette and the answer mean nothing.
double VoronoiIteration(Histogram& histogram, Palette& palette, float minOpacity, VoronoiHook hook = nullptr,
                        const CancelFlag* cancel = nullptr);

} // namespace tessaline
