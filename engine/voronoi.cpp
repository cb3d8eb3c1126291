#include "engine/voronoi.h"

#include <algorithm>

#include "engine/nearest_index.h"
#include "engine/nearest_lanes.h"
#include "engine/parallel.h"

namespace tessaline {

PaletteAccumulators CreateAccumulators(int threads, const Palette& palette)
{
    PaletteAccumulators cells;
    cells.threads = threads < 1 ? 1 : threads;
    cells.count = palette.count;
    // make_unique value-initialises: every sum starts at zero.
    cells.cells = std::make_unique<AccumulatorCell[]>(std::size_t(cells.threads) * palette.count);
    return cells;
}

void Accumulate(PaletteAccumulators& cells, int thread, std::uint32_t entry, const FloatPixel& colour,
                float weight)
{
    AccumulatorCell& cell = cells.cells[std::size_t(thread) * cells.count + entry];
    // Products in float like the colours themselves; sums in double, since a cell may absorb
    // millions of small terms.
    cell.sumA += weight * colour.a;
    cell.sumR += weight * colour.r;
    cell.sumG += weight * colour.g;
    cell.sumB += weight * colour.b;
    cell.sumWeight += weight;
}

void ApplyAccumulators(Palette& palette, const PaletteAccumulators& cells)
{
    const std::uint32_t count = std::min(palette.count, cells.count);
    for (std::uint32_t j = 0; j < count; ++j) {
        double a = 0.0, r = 0.0, g = 0.0, b = 0.0, weight = 0.0;
        // Thread order, so the same input gives the same palette on the same machine.
        for (int t = 0; t < cells.threads; ++t) {
            const AccumulatorCell& cell = cells.cells[std::size_t(t) * cells.count + j];
            a += cell.sumA;
            r += cell.sumR;
            g += cell.sumG;
            b += cell.sumB;
            weight += cell.sumWeight;
        }
        PaletteEntry& entry = palette[j];
        if (weight != 0.0) {
            entry.colour.a = static_cast<float>(a / weight);
            entry.colour.r = static_cast<float>(r / weight);
            entry.colour.g = static_cast<float>(g / weight);
            entry.colour.b = static_cast<float>(b / weight);
        }
        entry.popularity = static_cast<float>(weight);
    }
}

double VoronoiIteration(Histogram& histogram, Palette& palette, float minOpacity, VoronoiHook hook)
{
    // No entry to move and nothing to measure against; FindNearest would answer 0 for a
    // non-existent entry.
    if (palette.count == 0)
        return 0.0;

    const int threads = MaxThreads();
    PaletteAccumulators cells = CreateAccumulators(threads, palette);
    NearestIndex index = BuildNearestIndex(palette);
    // The lane copy answers exactly as the index does, four comparisons per step; built once, it
    // serves every item of the pass.
    const NearestLanes lanes = BuildNearestLanes(index);

    HistogramItem* const items = histogram.items.get();
    const std::int64_t itemCount = histogram.size;
    double errorSum = 0.0;
#pragma omp parallel for if (itemCount > ParallelThreshold) schedule(static) reduction(+ : errorSum)
    for (std::int64_t i = 0; i < itemCount; ++i) {
        HistogramItem& item = items[i];
        // Stays 0 for a colour no head accepts (a NaN colour): it then adds no error.
        float difference = 0.0f;
        const std::uint32_t entry = FindNearestLanes(lanes, item.colour, minOpacity, &difference);
        errorSum += difference * item.perceptualWeight;
        Accumulate(cells, ThreadIndex(), entry, item.colour, item.perceptualWeight);
        if (hook)
            hook(item, difference);
    }

    ApplyAccumulators(palette, cells);

    // A histogram without weight has no mean error; report a perfect fit rather than NaN, so the
    // callers' comparisons with limits and earlier results stay meaningful.
    if (!(histogram.totalPerceptualWeight > 0.0))
        return 0.0;
    return errorSum / histogram.totalPerceptualWeight;
}

} // namespace tessaline
