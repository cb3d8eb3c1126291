// tessaline-bench-figures: what the result's figures cost after a reduction. For each shared real
// image (skipped when ../shared is absent) and a 4-megapixel photo-like image: the reduction once at
// the panel's defaults, then the fastest of a few runs of MeasureResult, of EncodePng and of
// WritePngFile. The worker measures and encodes once; the saved file reuses those bytes, so the
// extra cost over a reduction that is saved anyway is the measurement alone.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/photo_like.h"
#include "engine/colour_model.h"
#include "engine/parallel.h"
#include "engine/reduce_pipeline.h"
#include "engine/result_figures.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"

namespace {

using namespace tessaline;
using Clock = std::chrono::steady_clock;

double FastestMs(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

void Row(const std::string& name, RgbaImage& source, int runs)
{
    const RgbaImage loaded = source.Clone();
    IndexedImage result;
    const ReduceSettings settings;
    const auto start = Clock::now();
    if (ReducePipeline(settings, source, result) != ReduceOk) {
        std::printf("%-28s reduction failed\n", name.c_str());
        return;
    }
    const double reduceMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::optional<ResultFigures> figures;
    const double measureMs = FastestMs(runs, [&] { figures = MeasureResult(loaded, result); });
    std::size_t bytes = 0;
    const double encodeMs = FastestMs(runs, [&] { bytes = EncodePng(result).size(); });
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "tessaline-bench-figures.png";
    const double writeMs = FastestMs(runs, [&] { WritePngFile(result, file); });
    std::filesystem::remove(file);
    std::printf("%-28s %9u %10.0f %10.1f %10.1f %10.1f %6.1f %10zu\n", name.c_str(),
                source.width * source.height, reduceMs, measureMs, encodeMs, writeMs,
                figures ? figures->psnr : 0.0, bytes);
}

} // namespace

int main(int argc, char** argv)
{
    ProcessorHasSse2 = ProcessorSupportsSse2();
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::printf("%d OpenMP threads, fastest of %d runs (the reduction: one run)\n", MaxThreads(), runs);
    std::printf("%-28s %9s %10s %10s %10s %10s %6s %10s\n", "image", "pixels", "reduce ms", "figures ms",
                "encode ms", "write ms", "dB", "bytes");
    const std::filesystem::path shared = std::filesystem::path(TESSALINE_SHARED_DIR) / "testdata" / "images";
    for (const char* name :
         {"photo-fossa.png", "photo-kleiber.png", "photo-large-sea.png", "icon-user-trash.png"}) {
        RgbaImage image;
        if (ReadPngFile(image, shared / name) == 0)
            Row(name, image, runs);
    }
    RgbaImage photoLike = bench::MakePhotoLikeImage(2048, 2048);
    Row("photo-like 2048 x 2048", photoLike, runs);
    return 0;
}
