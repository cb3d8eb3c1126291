// tessaline-bench-dither: how well the dithered result keeps its source, over images and counts, and
// what a change to the diffusion changed. For each image at each count, the default reduction
// with dithering (and, with --undithered, the same palette without it), one CSV line:
//   image,colours,psnr,blurred_psnr,stray,changed_pixels,before_psnr,before_blurred_psnr,before_stray,
//   undithered_psnr,undithered_blurred_psnr,undithered_stray
// blurred_psnr is BlurredPsnr, stray the StrayPixels more than 64 levels off; changed_pixels and the
// before_ figures compare with the indices an earlier run saved (--against; empty without them).
//   tessaline-bench-dither [--counts all|N,N,...] [--undithered] [--save DIR] [--against DIR] IMAGE.png...
// --save writes each dithered result's indices to DIR/NAME.COUNT.idx for a later --against. The
// palette does not depend on the diffusion, so equal indices mean equal images.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/colour_model.h"
#include "engine/dither_figures.h"
#include "engine/reduce_pipeline.h"
#include "engine/result_figures.h"
#include "imageio/png_reader.h"
#include "settings/setting_table.h"

namespace {

using namespace tessaline;

constexpr int StrayMarginLevels = 64;

struct Measured
{
    double psnr = 0.0;
    double blurred = 0.0;
    long long stray = 0;
};

Measured Measure(const RgbaImage& source, const IndexedImage& result)
{
    Measured m;
    m.psnr = MeasureResult(source, result).value().psnr;
    m.blurred = BlurredPsnr(source, result).value();
    m.stray = static_cast<long long>(StrayPixels(source, result, StrayMarginLevels).value());
    return m;
}

std::vector<std::uint32_t> ParseCounts(const std::string& text)
{
    std::vector<std::uint32_t> counts;
    if (text == "all") {
        for (std::uint32_t n = 2; n <= 256; ++n)
            counts.push_back(n);
        return counts;
    }
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');)
        counts.push_back(static_cast<std::uint32_t>(std::atoi(item.c_str())));
    return counts;
}

} // namespace

int main(int argc, char** argv)
{
    ProcessorHasSse2 = ProcessorSupportsSse2();
    std::vector<std::uint32_t> counts = ParseCounts("all");
    bool undithered = false;
    std::filesystem::path save, against;
    std::vector<std::string> images;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--counts" && i + 1 < argc)
            counts = ParseCounts(argv[++i]);
        else if (arg == "--undithered")
            undithered = true;
        else if (arg == "--save" && i + 1 < argc)
            save = argv[++i];
        else if (arg == "--against" && i + 1 < argc)
            against = argv[++i];
        else
            images.push_back(arg);
    }
    if (images.empty()) {
        std::fprintf(
            stderr,
            "usage: %s [--counts all|N,N,...] [--undithered] [--save DIR] [--against DIR] IMAGE.png...\n",
            argv[0]);
        return 2;
    }
    if (!save.empty())
        std::filesystem::create_directories(save);

    std::printf(
        "image,colours,psnr,blurred_psnr,stray,changed_pixels,before_psnr,before_blurred_psnr,before_stray,"
        "undithered_psnr,undithered_blurred_psnr,undithered_stray\n");
    for (const std::string& path : images) {
        RgbaImage source;
        if (ReadPngFile(source, path) != 0) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
            continue;
        }
        const std::string name = std::filesystem::path(path).stem().string();
        ReduceSettings job;
        FillReduceSettings(SettingValues{}, job);
        RgbaImage input = source.Clone();
        PreparedReduction prepared;
        if (PrepareReduction(job, input, prepared) != ReduceOk)
            continue;
        for (const std::uint32_t count : counts) {
            job.maxColours = count;
            job.dither = true;
            PreparedReduction copy = prepared.Copy();
            IndexedImage dithered;
            if (FinishReduction(job, copy, input, dithered) != ReduceOk)
                continue;
            const Measured d = Measure(source, dithered);
            const std::string file = name + "." + std::to_string(count) + ".idx";
            std::string earlier = ",,,,";
            if (!against.empty()) {
                std::ifstream before(against / file, std::ios::binary);
                std::vector<std::uint8_t> indices((std::istreambuf_iterator<char>(before)),
                                                  std::istreambuf_iterator<char>());
                if (indices.size() == dithered.pixels.size()) {
                    long long changed = 0;
                    for (std::size_t i = 0; i < indices.size(); ++i)
                        changed += indices[i] != dithered.pixels[i] ? 1 : 0;
                    // The same palette with the earlier indices is the earlier result; the rows point
                    // into the pixels, so the indices are copied in and back.
                    std::swap_ranges(indices.begin(), indices.end(), dithered.pixels.begin());
                    const Measured b = Measure(source, dithered);
                    std::swap_ranges(indices.begin(), indices.end(), dithered.pixels.begin());
                    char text[96];
                    std::snprintf(text, sizeof text, ",%lld,%.3f,%.3f,%lld", changed, b.psnr, b.blurred,
                                  b.stray);
                    earlier = text;
                }
            }
            if (!save.empty()) {
                std::ofstream out(save / file, std::ios::binary);
                out.write(reinterpret_cast<const char*>(dithered.pixels.data()),
                          static_cast<std::streamsize>(dithered.pixels.size()));
            }
            std::printf("%s,%u,%.3f,%.3f,%lld%s", name.c_str(), count, d.psnr, d.blurred, d.stray,
                        earlier.c_str());
            if (undithered) {
                job.dither = false;
                PreparedReduction plainCopy = prepared.Copy();
                IndexedImage plain;
                if (FinishReduction(job, plainCopy, input, plain) == ReduceOk) {
                    const Measured u = Measure(source, plain);
                    std::printf(",%.3f,%.3f,%lld", u.psnr, u.blurred, u.stray);
                }
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return 0;
}
