// libFuzzer target: the PNG reader on arbitrary bytes. It must return one of its codes, leave the
// image empty on failure and consistent on success, and never read or write out of bounds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imageio/png_reader.h"

namespace {

// Small images keep the fuzzer fast; the size limits themselves have unit tests.
constexpr std::uint64_t FuzzMaxPixels = std::uint64_t{1} << 20;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tessaline::RgbaImage image;
    const int code = tessaline::ReadPngMemory(image, data, size, FuzzMaxPixels);
    Check(code == tessaline::PngReadOk || code == tessaline::PngReadFailed ||
          code == tessaline::PngReadOutOfMemory);
    if (code != tessaline::PngReadOk) {
        Check(image.Empty() && image.rows.empty() && image.width == 0 && image.height == 0);
        return 0;
    }
    Check(image.width > 0 && image.height > 0);
    Check(std::uint64_t{image.width} * image.height <= FuzzMaxPixels);
    Check(image.pixels.size() == std::size_t{image.width} * image.height * 4);
    Check(image.rows.size() == image.height);
    Check(image.sourceBytes <= size);
    // Touch every pixel so that a sanitizer sees any uninitialised or stray row.
    unsigned sum = 0;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        Check(image.rows[y] == image.pixels.data() + std::size_t{y} * image.width * 4);
        for (std::size_t i = 0; i < std::size_t{image.width} * 4; ++i)
            sum += image.rows[y][i];
    }
    Check(sum <= 255u * image.pixels.size());
    return 0;
}
