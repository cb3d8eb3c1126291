#include "engine/output_image.h"

#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tessaline {

bool AllocateOutput(const RgbaImage& input, IndexedImage& output)
{
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t*> rows;
    try {
        pixels.resize(std::size_t{input.width} * input.height);
        rows.resize(input.height);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    for (std::uint32_t y = 0; y < input.height; ++y)
        rows[y] = pixels.data() + std::size_t{y} * input.width;
    output.width = input.width;
    output.height = input.height;
    output.gamma = InternalGamma;
    output.pixels = std::move(pixels);
    output.rows = std::move(rows);
    return true;
}

} // namespace tessaline
