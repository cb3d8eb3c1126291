// tessaline-bench-psnr: the PSNR tessaline-cli reports, for any result file, so that peers' results
// are measured exactly as ours are. Reads the source and a result PNG (any colour type, at most 256
// distinct RGBA colours), makes the result an indexed image whose every entry keeps its alpha, and
// prints MeasureResult's PSNR (over black and over white, the two mean squared errors averaged).
//   tessaline-bench-psnr SOURCE.png RESULT.png
// Exit status 1 when a file cannot be read, the sizes differ or the result has too many colours.

#include <cstdio>
#include <cstring>
#include <map>

#include "engine/colour_model.h"
#include "engine/result_figures.h"
#include "imageio/png_reader.h"

int main(int argc, char** argv)
{
    using namespace tessaline;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE.png RESULT.png\n", argv[0]);
        return 2;
    }
    RgbaImage source;
    RgbaImage shown;
    if (ReadPngFile(source, argv[1]) != 0 || ReadPngFile(shown, argv[2]) != 0) {
        std::fprintf(stderr, "%s: cannot read %s or %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    if (source.width != shown.width || source.height != shown.height) {
        std::fprintf(stderr, "%s: the sizes differ\n", argv[0]);
        return 1;
    }
    IndexedImage result;
    result.width = shown.width;
    result.height = shown.height;
    result.gamma = InternalGamma;
    result.pixels.resize(std::size_t{shown.width} * shown.height);
    result.rows.resize(shown.height);
    std::map<std::uint32_t, std::uint8_t> entries;
    for (std::uint32_t y = 0; y < shown.height; ++y) {
        result.rows[y] = result.pixels.data() + std::size_t{y} * shown.width;
        for (std::uint32_t x = 0; x < shown.width; ++x) {
            const std::uint8_t* p = shown.rows[y] + std::size_t{x} * 4;
            std::uint32_t key = 0;
            std::memcpy(&key, p, 4);
            auto found = entries.find(key);
            if (found == entries.end()) {
                if (entries.size() == 256) {
                    std::fprintf(stderr, "%s: %s has more than 256 colours\n", argv[0], argv[2]);
                    return 1;
                }
                const auto index = static_cast<std::uint8_t>(entries.size());
                std::memcpy(&result.paletteRgb[std::size_t{index} * 3], p, 3);
                result.paletteAlpha[index] = p[3];
                found = entries.emplace(key, index).first;
            }
            result.rows[y][x] = found->second;
        }
    }
    result.paletteSize = static_cast<std::uint32_t>(entries.size());
    result.transparentCount = result.paletteSize; // every entry keeps its own alpha
    const auto figures = MeasureResult(source, result);
    if (!figures)
        return 1;
    std::printf("%.2f\n", figures->psnr);
    return 0;
}
