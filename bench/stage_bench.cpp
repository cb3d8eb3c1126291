// tessaline-bench-stages: milliseconds per engine stage on photo-like images of about 0.25, 1 and
// 4 megapixels. Each figure is the fastest of a few runs, so that other load on the machine
// distorts it as little as possible.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "bench/photo_like.h"
#include "engine/colour_model.h"
#include "engine/contrast_map.h"
#include "engine/histogram.h"
#include "engine/median_cut.h"
#include "engine/parallel.h"
#include "engine/reduce_settings.h"
#include "engine/vector_width.h"
#include "engine/voronoi.h"

namespace {

using namespace tessaline;

double FastestMs(int runs, const std::function<void()>& stage)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        stage();
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

// Median cut reorders and reweights the histogram, so every run starts from a fresh copy.
Histogram CopyHistogram(const Histogram& from)
{
    Histogram copy = CreateHistogram(from.size);
    std::copy(from.items.get(), from.items.get() + from.size, copy.items.get());
    copy.totalPerceptualWeight = from.totalPerceptualWeight;
    return copy;
}

} // namespace

int main(int argc, char** argv)
{
    ProcessorHasSse2 = ProcessorSupportsSse2();
    // TESSALINE_VECTOR_WIDTH ("sse2", "avx2", "avx512") narrows the width, to time each.
    VectorWidthInUse = ChooseVectorWidth(std::getenv("TESSALINE_VECTOR_WIDTH"));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const ReduceSettings settings; // the panel's defaults: 256 colours, 49 feedback trials
    std::printf("SSE2 %s (%s), %d OpenMP threads, fastest of %d runs (median cut: of %d)\n",
                ProcessorHasSse2 ? "on" : "off", VectorWidthName(VectorWidthInUse), MaxThreads(), runs,
                std::max(1, runs / 2));
    std::printf("%-8s %9s %9s %10s %10s %12s %10s %11s\n", "size", "pixels", "colours", "maps ms", "histo ms",
                "maps+histo", "mcut ms", "voronoi ms");

    for (const bench::PhotoLikeSize& size : bench::PhotoLikeSizes) {
        RgbaImage image = bench::MakePhotoLikeImage(size.width, size.height, 1);
        const float gamma = static_cast<float>(image.gamma);

        ContrastMaps maps;
        const double mapsMs = FastestMs(runs, [&] {
            maps = BuildContrastMaps(settings, image.rows.data(), image.width, image.height, gamma);
        });
        Histogram histogram;
        const double histogramMs =
            FastestMs(runs, [&] { histogram = BuildHistogram(settings, image, maps.contrast.get()); });

        Palette palette;
        Histogram working;
        double medianCutMs = 1e300;
        for (int i = 0; i < std::max(1, runs / 2); ++i) {
            working = CopyHistogram(histogram);
            double error = -1.0;
            medianCutMs = std::min(medianCutMs, FastestMs(1, [&] {
                                       palette = MedianCutWithFeedback(
                                           working, settings.maxColours, settings.minOpacity,
                                           settings.targetError, settings.feedbackTrials, &error);
                                   }));
        }
        const double voronoiMs =
            FastestMs(runs, [&] { VoronoiIteration(working, palette, settings.minOpacity); });
        std::printf("%-8s %9llu %9u %10.2f %10.2f %12.2f", size.name,
                    static_cast<unsigned long long>(std::uint64_t{image.width} * image.height),
                    histogram.size, mapsMs, histogramMs, mapsMs + histogramMs);
        std::printf(" %10.2f %11.2f\n", medianCutMs, voronoiMs);
    }
    return 0;
}
