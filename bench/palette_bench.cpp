// bench/palette_bench.cpp: palette choice on large histograms of random colours, the shape of a
// photo's histogram after contrast weighting (hundreds of thousands of distinct colours).

#include <cstdint>
#include <memory>
#include <random>

#include <benchmark/benchmark.h>

#include "engine/colour_model.h"
#include "engine/histogram.h"
#include "engine/median_cut.h"
#include "engine/voronoi.h"

namespace tessaline {
namespace {

Histogram RandomHistogram(std::uint32_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> weight(0.5f, 10.5f);
    Histogram histogram;
    histogram.items = std::make_unique<HistogramItem[]>(size);
    histogram.size = size;
    for (std::uint32_t i = 0; i < size; ++i) {
        // Mostly opaque, a few translucent, colours clustered towards the darker half.
        const float a = random() % 16 == 0 ? unit(random) : 1.0f;
        const float r = unit(random) * unit(random), g = unit(random), b = unit(random) * 0.8f;
        HistogramItem& item = histogram.items[i];
        item.colour = FloatPixel{a, a * r, a * g, a * b};
        item.perceptualWeight = item.adjustedWeight = weight(random);
        histogram.totalPerceptualWeight += item.perceptualWeight;
    }
    return histogram;
}

void SelectPath(bool sse2)
{
    ProcessorHasSse2 = sse2 && ProcessorSupportsSse2();
}

void BM_MedianCutWithFeedback(benchmark::State& state)
{
    SelectPath(state.range(1) != 0);
    const Histogram source = RandomHistogram(static_cast<std::uint32_t>(state.range(0)), 1);
    for (auto _ : state) {
        state.PauseTiming();
        Histogram histogram;
        histogram.items = std::make_unique<HistogramItem[]>(source.size);
        std::copy(source.items.get(), source.items.get() + source.size, histogram.items.get());
        histogram.size = source.size;
        histogram.totalPerceptualWeight = source.totalPerceptualWeight;
        state.ResumeTiming();
        double error = -1.0;
        Palette palette = MedianCutWithFeedback(histogram, 256, 1.0f, 0.0, 49, &error);
        benchmark::DoNotOptimize(palette.count);
    }
}
BENCHMARK(BM_MedianCutWithFeedback)
    ->Args({100000, 1})
    ->Args({500000, 1})
    ->Args({500000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_MedianCut(benchmark::State& state)
{
    SelectPath(true);
    Histogram histogram = RandomHistogram(static_cast<std::uint32_t>(state.range(0)), 2);
    for (auto _ : state) {
        Palette palette = MedianCut(histogram, 1.0f, 256, 0.0);
        benchmark::DoNotOptimize(palette.count);
    }
}
BENCHMARK(BM_MedianCut)->Arg(500000)->Unit(benchmark::kMillisecond);

void BM_VoronoiIteration(benchmark::State& state)
{
    SelectPath(true);
    Histogram histogram = RandomHistogram(static_cast<std::uint32_t>(state.range(0)), 3);
    Palette palette = MedianCut(histogram, 1.0f, 256, 0.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(VoronoiIteration(histogram, palette, 1.0f));
}
BENCHMARK(BM_VoronoiIteration)->Arg(500000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tessaline
