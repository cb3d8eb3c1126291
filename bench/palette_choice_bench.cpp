// tessaline-bench-palette-choice: what palettes from outside cost in quality, on the shared real
// images (nothing to do when ../shared is absent). Prints two Markdown tables:
//  - kept colours: for each image, 4 and then 16 colours from a fixed list kept in a palette of
//    `colours` entries, PSNR of the engine's way (the cut works around them, the refinement holds
//    them) against the naive way: reduce to `colours`, then overwrite the entries nearest to the kept
//    colours with them, once with the pixels left on their indices and once remapped (dithered)
//    onto that palette;
//  - one shared palette for the icons as a set against each icon's own palette, at 256 and 64.
//   tessaline-bench-palette-choice [colours (default 64)]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/palette_colours.h"
#include "engine/reduce_pipeline.h"
#include "engine/result_figures.h"
#include "engine/shared_palette.h"
#include "imageio/png_reader.h"

namespace {

using namespace tessaline;
namespace fs = std::filesystem;

// The sixteen colours of the old 16-colour displays, the four most distinct first.
const std::vector<RgbaColour> FixedList = {
    {0, 0, 0, 255},     {255, 255, 255, 255}, {255, 0, 0, 255},     {0, 0, 255, 255},
    {0, 255, 0, 255},   {255, 255, 0, 255},   {0, 255, 255, 255},   {255, 0, 255, 255},
    {128, 0, 0, 255},   {0, 128, 0, 255},     {0, 0, 128, 255},     {128, 128, 0, 255},
    {0, 128, 128, 255}, {128, 0, 128, 255},   {128, 128, 128, 255}, {192, 192, 192, 255}};

double Psnr(const RgbaImage& source, const IndexedImage& result)
{
    const auto figures = MeasureResult(source, result);
    return figures ? figures->psnr : 0.0;
}

IndexedImage Reduce(const RgbaImage& source, const ReduceSettings& settings)
{
    RgbaImage input = source.Clone();
    IndexedImage output;
    if (ReducePipeline(settings, input, output) != ReduceOk)
        std::fprintf(stderr, "reduction failed\n");
    return output;
}

int ByteDistance(const RgbaColour& x, const RgbaColour& y)
{
    int sum = 0;
    for (int c = 0; c < 4; ++c)
        sum += (x[c] - y[c]) * (x[c] - y[c]);
    return sum;
}

// The naive way: each kept colour overwrites the nearest entry not yet overwritten.
std::vector<RgbaColour> Overwritten(const IndexedImage& result, const std::vector<RgbaColour>& kept)
{
    std::vector<RgbaColour> palette = PaletteTableColours(result);
    std::vector<bool> taken(palette.size(), false);
    for (const RgbaColour& colour : kept) {
        std::size_t best = palette.size();
        for (std::size_t i = 0; i < palette.size(); ++i)
            if (!taken[i] && (best == palette.size() ||
                              ByteDistance(palette[i], colour) < ByteDistance(palette[best], colour)))
                best = i;
        if (best == palette.size()) {
            palette.push_back(colour); // a palette smaller than the kept colours grows
            taken.push_back(true);
            continue;
        }
        palette[best] = colour;
        taken[best] = true;
    }
    return palette;
}

void KeptTable(const std::vector<fs::path>& images, std::uint32_t colours)
{
    std::printf("\n| image | kept | naive, indices kept | naive, remapped | kept colours | gain |\n");
    std::printf("| --- | ---: | ---: | ---: | ---: | ---: |\n");
    double sums[3] = {0, 0, 0};
    int rows = 0;
    for (const fs::path& path : images) {
        RgbaImage source;
        if (ReadPngFile(source, path) != PngReadOk)
            continue;
        for (const std::size_t count : {std::size_t{4}, std::size_t{16}}) {
            const std::vector<RgbaColour> kept(FixedList.begin(),
                                               FixedList.begin() + static_cast<long>(count));
            ReduceSettings settings;
            settings.maxColours = colours;
            IndexedImage naive = Reduce(source, settings);
            const std::vector<RgbaColour> overwritten = Overwritten(naive, kept);
            WritePaletteTables(naive, overwritten);
            const double naiveIndices = Psnr(source, naive);
            settings.givenPalette = overwritten;
            const double naiveRemapped = Psnr(source, Reduce(source, settings));
            settings.givenPalette.clear();
            settings.keptColours = kept;
            const double engine = Psnr(source, Reduce(source, settings));
            std::printf("| %s | %zu | %.2f | %.2f | %.2f | %+.2f |\n", path.stem().string().c_str(), count,
                        naiveIndices, naiveRemapped, engine, engine - std::max(naiveIndices, naiveRemapped));
            sums[0] += naiveIndices;
            sums[1] += naiveRemapped;
            sums[2] += engine;
            ++rows;
        }
    }
    if (rows > 0)
        std::printf("| mean | | %.2f | %.2f | %.2f | %+.2f |\n", sums[0] / rows, sums[1] / rows,
                    sums[2] / rows, (sums[2] - std::max(sums[0], sums[1])) / rows);
}

void SharedTable(const std::vector<fs::path>& icons)
{
    std::printf(
        "\n| icon | colours | own palette | shared palette | cost |\n| --- | ---: | ---: | ---: | ---: |\n");
    for (const std::uint32_t colours : {256u, 64u}) {
        ReduceSettings settings;
        settings.maxColours = colours;
        std::vector<RgbaImage> sources;
        SharedPaletteBuilder builder;
        for (const fs::path& path : icons) {
            RgbaImage source;
            if (ReadPngFile(source, path) != PngReadOk)
                continue;
            RgbaImage counted = source.Clone();
            builder.Add(settings, counted);
            sources.push_back(std::move(source));
        }
        ReduceSettings shared = ReduceSettings{};
        shared.maxColours = colours;
        shared.givenPalette = builder.Choose(settings);
        double own = 0.0;
        double common = 0.0;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const double a = Psnr(sources[i], Reduce(sources[i], settings));
            const double b = Psnr(sources[i], Reduce(sources[i], shared));
            std::printf("| %s | %u | %.2f | %.2f | %+.2f |\n", icons[i].stem().string().c_str(), colours, a,
                        b, b - a);
            own += a;
            common += b;
        }
        if (!sources.empty())
            std::printf("| mean | %u | %.2f | %.2f | %+.2f |\n", colours, own / sources.size(),
                        common / sources.size(), (common - own) / sources.size());
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::uint32_t colours = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 64;
    const char* shared = std::getenv("TESSALINE_SHARED_DIR");
    const fs::path folder = fs::path(shared ? shared : TESSALINE_SHARED_DIR) / "testdata" / "images";
    if (!fs::is_directory(folder)) {
        std::printf("no shared images in %s; nothing to measure\n", folder.string().c_str());
        return 0;
    }
    std::vector<fs::path> images;
    std::vector<fs::path> icons;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            images.push_back(entry.path());
    std::sort(images.begin(), images.end());
    for (const fs::path& path : images)
        if (path.stem().string().rfind("icon-", 0) == 0)
            icons.push_back(path);
    std::printf("Kept colours in a palette of %u entries (PSNR in dB):\n", colours);
    KeptTable(images, colours);
    std::printf("\nOne palette for the icons against each icon's own (PSNR in dB):\n");
    SharedTable(icons);
    return 0;
}
