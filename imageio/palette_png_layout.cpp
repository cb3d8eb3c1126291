#include "imageio/palette_png_layout.h"

#include <algorithm>
#include <cmath>

namespace tessaline {

namespace {

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

int PaletteBitDepth(std::uint32_t paletteSize, bool eightBitIndices)
{
    if (eightBitIndices)
        return 8;
    if (paletteSize <= 2)
        return 1;
    if (paletteSize <= 4)
        return 2;
    if (paletteSize <= 16)
        return 4;
    return 8;
}

std::optional<std::uint32_t> PngGammaFixed(double gamma)
{
    // libpng's own rounding of a floating-point gamma, so both writers store the same number.
    const double fixed = std::floor(gamma * 100000.0 + 0.5);
    if (!(fixed > 0.0 && fixed <= 2147483647.0))
        return std::nullopt;
    return static_cast<std::uint32_t>(fixed);
}

std::vector<PngChunkData> PaletteHeadChunks(const IndexedImage& image, bool eightBitIndices)
{
    std::vector<PngChunkData> chunks;
    PngChunkData header{{'I', 'H', 'D', 'R'}, {}};
    PutBigEndian(header.data, image.width);
    PutBigEndian(header.data, image.height);
    header.data.push_back(static_cast<std::uint8_t>(PaletteBitDepth(image.paletteSize, eightBitIndices)));
    header.data.insert(header.data.end(), {3, 0, 0, 0}); // palette; deflate; adaptive filters; no interlace
    chunks.push_back(std::move(header));
    if (image.gamma > 0.0) {
        const auto fixed = PngGammaFixed(image.gamma);
        if (!fixed)
            return {};
        PngChunkData gamma{{'g', 'A', 'M', 'A'}, {}};
        PutBigEndian(gamma.data, *fixed);
        chunks.push_back(std::move(gamma));
    }
    const std::size_t entries = std::min<std::size_t>(image.paletteSize, 256);
    PngChunkData palette{{'P', 'L', 'T', 'E'}, {}};
    palette.data.assign(image.paletteRgb.begin(), image.paletteRgb.begin() + 3 * entries);
    chunks.push_back(std::move(palette));
    if (image.transparentCount > 0) {
        const std::size_t alphas = std::min<std::size_t>(image.transparentCount, entries);
        chunks.push_back(PngChunkData{{'t', 'R', 'N', 'S'},
                                      {image.paletteAlpha.begin(), image.paletteAlpha.begin() + alphas}});
    }
    return chunks;
}

std::vector<std::uint8_t> PackImageRows(const IndexedImage& image, int bitDepth)
{
    const std::size_t width = image.width;
    const std::size_t rowBytes = (width * static_cast<std::size_t>(bitDepth) + 7) / 8;
    std::vector<std::uint8_t> raw((1 + rowBytes) * image.height);
    std::uint8_t* out = raw.data();
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.rows[y];
        *out++ = 0; // filter type none
        if (bitDepth == 8) {
            std::copy(row, row + width, out);
        } else {
            const unsigned mask = (1u << bitDepth) - 1;
            const int perByte = 8 / bitDepth;
            for (std::size_t x = 0; x < width; ++x) {
                const unsigned value = bitDepth == 1 ? (row[x] != 0) : (row[x] & mask);
                const int shift = 8 - bitDepth * (1 + static_cast<int>(x % perByte));
                out[x / perByte] |= static_cast<std::uint8_t>(value << shift);
            }
        }
        out += rowBytes;
    }
    return raw;
}

} // namespace tessaline
