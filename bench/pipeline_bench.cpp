// tessaline-bench-pipeline: the whole reduction at the panel's default settings, with error
// diffusion on and off, on photo-like images of about 0.25, 1 and 4 megapixels and, when the
// shared test data is present, on real photographs and icons read from PNG and written back as
// palette PNG files (file to file). Prints milliseconds per stage and in total; each figure is from
// the fastest of a few runs, so that other load on the machine distorts it as little as possible.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/photo_like.h"
#include "engine/colour_model.h"
#include "engine/parallel.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_pipeline.h"
#include "engine/reduce_settings.h"
#include "engine/vector_width.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"

namespace {

using namespace tessaline;
using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double CpuMs(std::clock_t from, std::clock_t to)
{
    return 1000.0 * double(to - from) / CLOCKS_PER_SEC;
}

// Stage k's time runs from its report to the next one: the report of k comes just before the work
// that the stage table names for it.
class StageClock : public ProgressUIInterface
{
public:
    void ReportProgress(int stage) override
    {
        if (stage >= 2 && stage <= 11) {
            at[stage] = Clock::now();
            cpuAt[stage] = std::clock();
        }
    }
    void ReportFinished(std::uint32_t, int) override {}

    std::array<Clock::time_point, 12> at{};
    std::array<std::clock_t, 12> cpuAt{};
};

// The ten spans: read (file only), raise alpha, maps, histogram, median cut, Voronoi, allocate and
// order, plain remap, palette bytes, dithered remap, write (file only).
struct Timing
{
    double readMs = 0.0;
    std::array<double, 9> stageMs{}; // stages 2..10, each up to the next report
    std::array<double, 9> stageCpuMs{};
    double readCpuMs = 0.0;
    double writeCpuMs = 0.0;
    double writeMs = 0.0;
    double totalMs = 0.0;
    double cpuMs = 0.0; // processor time of all threads, a steadier figure on a busy machine
};

const char* const StageNames[9] = {"alpha",     "maps",  "histo", "mcut",  "voronoi",
                                   "alloc+ord", "plain", "bytes", "dither"};

ReduceSettings PanelDefaults(bool dither)
{
    ReduceSettings settings; // 256 colours, 49 trials, 7 Voronoi repetitions, 1/2^22, dither map on
    settings.contrastMapLevel = 1;
    settings.dither = dither ? 1 : 0;
    return settings;
}

Timing RunOnce(const RgbaImage& source, bool dither, const std::filesystem::path& file,
               const std::filesystem::path& outFile)
{
    Timing timing;
    const std::clock_t cpuStart = std::clock();
    const Clock::time_point start = Clock::now();
    RgbaImage input;
    if (!file.empty()) {
        if (ReadPngFile(input, file) != 0) {
            std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
            std::exit(1);
        }
    } else {
        (void)file;
        input = source.Clone();
    }
    const Clock::time_point read = Clock::now();
    timing.readMs = MsBetween(start, read);

    StageClock clock;
    ReduceSettings settings = PanelDefaults(dither);
    settings.progress = &clock;
    IndexedImage output;
    const int code = ReducePipeline(settings, input, output);
    const Clock::time_point reduced = Clock::now();
    if (code != ReduceOk) {
        std::fprintf(stderr, "reduction failed with %d\n", code);
        std::exit(1);
    }
    for (int k = 2; k <= 10; ++k) {
        timing.stageMs[k - 2] = MsBetween(clock.at[k], clock.at[k + 1]);
        timing.stageCpuMs[k - 2] = CpuMs(clock.cpuAt[k], clock.cpuAt[k + 1]);
    }
    timing.readCpuMs = CpuMs(cpuStart, clock.cpuAt[2]);
    const std::clock_t cpuReduced = std::clock();

    if (!outFile.empty() && WritePngFile(output, outFile) != 0) {
        std::fprintf(stderr, "cannot write %s\n", outFile.string().c_str());
        std::exit(1);
    }
    const Clock::time_point written = Clock::now();
    timing.writeMs = MsBetween(reduced, written);
    timing.totalMs = MsBetween(start, written);
    const std::clock_t cpuEnd = std::clock();
    timing.writeCpuMs = CpuMs(cpuReduced, cpuEnd);
    timing.cpuMs = CpuMs(cpuStart, cpuEnd);
    return timing;
}

Timing Fastest(int runs, const RgbaImage& source, bool dither, const std::filesystem::path& file,
               const std::filesystem::path& outFile)
{
    Timing best;
    best.totalMs = 1e300;
    for (int i = 0; i < runs; ++i) {
        const Timing t = RunOnce(source, dither, file, outFile);
        if (t.totalMs < best.totalMs)
            best = t;
    }
    return best;
}

void PrintHeader()
{
    std::printf("%-26s %-6s %7s", "image", "dither", "read");
    for (const char* name : StageNames)
        std::printf(" %9s", name);
    std::printf(" %7s %8s %8s\n", "write", "total", "ns/px");
}

void PrintRow(const std::string& name, std::uint64_t pixels, bool dither, const Timing& t)
{
    std::printf("%-26s %-6s %7.1f", name.c_str(), dither ? "on" : "off", t.readMs);
    for (double ms : t.stageMs)
        std::printf(" %9.1f", ms);
    std::printf(" %7.1f %8.1f %8.1f\n", t.writeMs, t.totalMs, t.totalMs * 1e6 / double(pixels));
    // Processor time of all threads: on a busy machine the steadier figure; for the serial stages it
    // is what the wall time would be on an idle one.
    std::printf("%-26s %-6s %7.1f", "  (processor ms)", "", t.readCpuMs);
    for (double ms : t.stageCpuMs)
        std::printf(" %9.1f", ms);
    std::printf(" %7.1f %8.1f\n", t.writeCpuMs, t.cpuMs);
}

} // namespace

int main(int argc, char** argv)
{
    ProcessorHasSse2 = ProcessorSupportsSse2();
    // TESSALINE_VECTOR_WIDTH ("sse2", "avx2", "avx512") narrows the width, to time each.
    VectorWidthInUse = ChooseVectorWidth(std::getenv("TESSALINE_VECTOR_WIDTH"));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string only = argc > 2 ? argv[2] : ""; // run only images whose name contains this
    std::printf("SSE2 %s (%s), %d OpenMP threads, fastest of %d runs, ms per stage\n",
                ProcessorHasSse2 ? "on" : "off", VectorWidthName(VectorWidthInUse), MaxThreads(), runs);
    PrintHeader();

    for (const bench::PhotoLikeSize& size : bench::PhotoLikeSizes) {
        if (std::string("photo-like ").append(size.name).find(only) == std::string::npos)
            continue;
        const RgbaImage source = bench::MakePhotoLikeImage(size.width, size.height);
        const std::uint64_t pixels = std::uint64_t{size.width} * size.height;
        for (const bool dither : {true, false})
            PrintRow(std::string("photo-like ") + size.name, pixels, dither,
                     Fastest(runs, source, dither, {}, {}));
    }

    const std::filesystem::path images = std::filesystem::path(TESSALINE_SHARED_DIR) / "testdata" / "images";
    std::error_code ignored;
    if (!std::filesystem::is_directory(images, ignored)) {
        std::printf("(no real images at %s)\n", images.string().c_str());
        return 0;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(images, ignored)) {
        if (entry.path().extension() == ".png")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    const std::filesystem::path outDir = std::filesystem::temp_directory_path() / "tessaline-bench-pipeline";
    std::filesystem::create_directories(outDir, ignored);
    const RgbaImage none;
    for (const auto& file : files) {
        if (file.stem().string().find(only) == std::string::npos)
            continue;
        RgbaImage probe;
        if (ReadPngFile(probe, file) != 0)
            continue;
        const std::uint64_t pixels = std::uint64_t{probe.width} * probe.height;
        const std::string name =
            file.stem().string() + " " + std::to_string(probe.width) + "x" + std::to_string(probe.height);
        for (const bool dither : {true, false}) {
            const std::filesystem::path outFile =
                outDir / (file.stem().string() + (dither ? "-fs" : "-plain") + ".png");
            PrintRow(name, pixels, dither, Fastest(runs, none, dither, file, outFile));
        }
    }
    std::printf("(outputs in %s)\n", outDir.string().c_str());
    return 0;
}
