// tessaline-bench-colour-curves: the raw material for tuning the colour-count search. For one image
// at the panel's defaults, every count in a range as a quick probe and as a full reduction, each
// measured and encoded, one CSV line per trial:
//   kind,colours,psnr,max_error,bytes,ms,encode_ms
// where ms includes the encoding and encode_ms (full trials only) is the encoding alone.
// The search itself only ever sees a few of these points; with all of them, a search's placement
// can be replayed offline over many targets at once.
//   tessaline-bench-colour-curves IMAGE.png [lowest] [highest] [probes]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/colour_model.h"
#include "engine/parallel.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"
#include "settings/setting_table.h"
#include "worker/colour_trials.h"

int main(int argc, char** argv)
{
    using namespace tessaline;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE.png [lowest] [highest] [probes]\n", argv[0]);
        return 2;
    }
    ProcessorHasSse2 = ProcessorSupportsSse2();
    RgbaImage source;
    if (ReadPngFile(source, argv[1]) != 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const auto lowest = static_cast<std::uint32_t>(argc > 2 ? std::atoi(argv[2]) : 2);
    const auto highest = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 256);
    ReduceSettings job;
    FillReduceSettings(SettingValues{}, job);
    RgbaImage input = source.Clone();
    ColourTrials trials(
        job, source, input, [](const IndexedImage& image) { return EncodePng(image); }, MaxThreads());
    if (trials.Prepare() != ReduceOk)
        return 1;
    std::printf("kind,colours,psnr,max_error,bytes,ms,encode_ms\n");
    const bool probesOnly = argc > 4 && std::string(argv[4]) == "probes";
    for (const bool probe : {true, false})
        for (std::uint32_t n = lowest; n <= highest && (probe || !probesOnly); ++n) {
            const std::uint32_t count[] = {n};
            const auto start = std::chrono::steady_clock::now();
            if (trials.Run(count, probe, true) != ReduceOk)
                return 1;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            const ColourTrial& trial = probe ? *trials.Probe(n) : *trials.Full(n);
            double encodeMs = 0;
            if (!probe) {
                const auto encodeStart = std::chrono::steady_clock::now();
                const std::size_t bytes = EncodePng(trial.result).size();
                encodeMs =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - encodeStart)
                        .count();
                if (bytes != trial.figures.pngBytes)
                    return 1;
            }
            std::printf("%s,%u,%.4f,%d,%llu,%.1f,%.1f\n", probe ? "probe" : "full", n, trial.figures.psnr,
                        trial.figures.maxError, static_cast<unsigned long long>(trial.figures.pngBytes), ms,
                        encodeMs);
            std::fflush(stdout);
            trials.Forget(0);
        }
    return 0;
}
