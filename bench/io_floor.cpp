// tessaline-bench-io-floor: the part of a file-to-file reduction that no reducer can avoid, for
// bench/measure_cli.sh to divide by; and the large generated photograph that script measures.
//   tessaline-bench-io-floor floor INPUT.png RESULT.png [runs]
//       decodes INPUT with our PNG reader and writes RESULT's index plane with our PNG writer's
//       default compression; prints "decode_ms write_ms" (processor time, fastest of `runs`).
//   tessaline-bench-io-floor photo WIDTH HEIGHT OUT.png
//       writes bench::MakePhotoLikeImage(WIDTH, HEIGHT) as an 8-bit RGBA PNG.

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/photo_like.h"
#include "engine/colour_model.h"
#include "imageio/file_stream.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"

namespace {

using namespace tessaline;

double CpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

/// A palette PNG's indices, one per byte, with its palette: what the writer is given.
bool ReadIndexed(const std::filesystem::path& path, IndexedImage& image)
{
    FileStream file = OpenFile(path, false);
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file.get());
    png_read_png(png, info, PNG_TRANSFORM_PACKING, nullptr);
    png_colorp palette = nullptr;
    int paletteSize = 0;
    const bool indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE &&
                         png_get_PLTE(png, info, &palette, &paletteSize) != 0;
    if (indexed) {
        image.width = png_get_image_width(png, info);
        image.height = png_get_image_height(png, info);
        image.gamma = InternalGamma;
        image.pixels.resize(std::size_t{image.width} * image.height);
        image.rows.resize(image.height);
        png_bytepp rows = png_get_rows(png, info);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            image.rows[y] = image.pixels.data() + std::size_t{y} * image.width;
            std::copy(rows[y], rows[y] + image.width, image.rows[y]);
        }
        image.paletteSize = static_cast<std::uint32_t>(paletteSize);
        for (int i = 0; i < paletteSize; ++i) {
            image.paletteRgb[3 * i] = palette[i].red;
            image.paletteRgb[3 * i + 1] = palette[i].green;
            image.paletteRgb[3 * i + 2] = palette[i].blue;
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return indexed;
}

int Floor(const std::filesystem::path& input, const std::filesystem::path& result, int runs)
{
    IndexedImage indexed;
    if (!ReadIndexed(result, indexed)) {
        std::fprintf(stderr, "cannot read %s as a palette PNG\n", result.string().c_str());
        return 1;
    }
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("tessaline-io-floor-" + std::to_string(getpid()) + ".png");
    double decodeMs = 1e300;
    double writeMs = 1e300;
    for (int run = 0; run < runs; ++run) {
        RgbaImage source;
        double start = CpuMs();
        if (ReadPngFile(source, input) != PngReadOk) {
            std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
            return 1;
        }
        decodeMs = std::min(decodeMs, CpuMs() - start);
        start = CpuMs();
        if (WritePngFile(indexed, scratch) != PngWriteOk) {
            std::fprintf(stderr, "cannot write %s\n", scratch.string().c_str());
            return 1;
        }
        writeMs = std::min(writeMs, CpuMs() - start);
    }
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    std::printf("%.1f %.1f\n", decodeMs, writeMs);
    return 0;
}

int Photo(std::uint32_t width, std::uint32_t height, const std::filesystem::path& out)
{
    const RgbaImage image = bench::MakePhotoLikeImage(width, height);
    FileStream file = OpenFile(out, true);
    if (!file)
        return 1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return 1;
    }
    png_init_io(png, file.get());
    png_set_compression_level(png, 1); // a bench input: written once, read many times
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(image.rows.data()));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file.release()) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "floor" && (argc == 4 || argc == 5))
        return Floor(argv[2], argv[3], argc == 5 ? std::max(1, std::atoi(argv[4])) : 3);
    if (mode == "photo" && argc == 5)
        return Photo(static_cast<std::uint32_t>(std::atoi(argv[2])), static_cast<std::uint32_t>(std::atoi(argv[3])),
                     argv[4]);
    std::fprintf(stderr, "usage: %s floor INPUT.png RESULT.png [runs] | photo WIDTH HEIGHT OUT.png\n", argv[0]);
    return 2;
}
