#include "engine/palette_colours.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <unordered_map>

namespace tessaline {
namespace {

std::uint32_t WordOf(const RgbaColour& colour)
{
    return std::uint32_t{colour[0]} | std::uint32_t{colour[1]} << 8 | std::uint32_t{colour[2]} << 16 |
           std::uint32_t{colour[3]} << 24;
}

RgbaColour ColourOf(std::uint32_t word)
{
    return {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
            static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
}

bool FullyTransparent(const RgbaColour& colour)
{
    return colour[3] == 0;
}

} // namespace

std::optional<std::vector<ColourCount>> CountDistinctColours(const RgbaImage& image, std::size_t limit,
                                                             bool mergeTransparent)
{
    std::vector<ColourCount> counts;
    std::unordered_map<std::uint32_t, std::size_t> where;
    where.reserve(std::min<std::size_t>(limit, MaxPaletteColours) * 2 + 2);
    std::uint32_t lastWord = 0;
    std::size_t lastIndex = SIZE_MAX;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* px = image.rows[y];
        for (std::uint32_t x = 0; x < image.width; ++x, px += 4) {
            std::uint32_t word = WordOf({px[0], px[1], px[2], px[3]});
            if (mergeTransparent && (word >> 24) == 0)
                word = 0;
            // Neighbouring pixels share their colour often enough to skip the lookup.
            if (word != lastWord || lastIndex == SIZE_MAX) {
                const auto [at, added] = where.try_emplace(word, counts.size());
                if (added) {
                    if (counts.size() == limit)
                        return std::nullopt;
                    counts.push_back({ColourOf(word), 0});
                }
                lastWord = word;
                lastIndex = at->second;
            }
            ++counts[lastIndex].pixels;
        }
    }
    return counts;
}

bool MergeColourCounts(std::vector<ColourCount>& tally, const std::vector<ColourCount>& more,
                       std::size_t limit)
{
    for (const ColourCount& count : more) {
        const auto same = std::find_if(tally.begin(), tally.end(),
                                       [&count](const ColourCount& c) { return c.colour == count.colour; });
        if (same != tally.end()) {
            same->pixels += count.pixels;
        } else {
            if (tally.size() >= limit)
                return false;
            tally.push_back(count);
        }
    }
    return true;
}

std::vector<RgbaColour> OrderedColours(const std::vector<ColourCount>& counts, bool lastIndexTransparent)
{
    std::vector<std::size_t> order(counts.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto byCount = [&counts](std::size_t x, std::size_t y) {
        return counts[x].pixels < counts[y].pixels;
    };
    const auto transparentAt = std::find_if(
        order.begin(), order.end(), [&counts](std::size_t i) { return FullyTransparent(counts[i].colour); });
    if (lastIndexTransparent && transparentAt != order.end()) {
        std::rotate(transparentAt, transparentAt + 1, order.end());
        std::stable_sort(order.begin(), order.end() - 1, byCount);
    } else {
        const auto opaqueFrom = std::stable_partition(
            order.begin(), order.end(), [&counts](std::size_t i) { return counts[i].colour[3] < 255; });
        std::stable_sort(order.begin(), opaqueFrom, byCount);
        std::stable_sort(opaqueFrom, order.end(), byCount);
    }
    std::vector<RgbaColour> colours;
    colours.reserve(order.size());
    for (std::size_t i : order)
        colours.push_back(counts[i].colour);
    return colours;
}

Palette PaletteOfColours(const std::vector<RgbaColour>& colours, const ChannelScales& scales)
{
    Palette palette = CreatePalette(static_cast<std::uint32_t>(colours.size()));
    palette.scales = scales;
    for (std::uint32_t i = 0; i < palette.count; ++i)
        palette[i].colour = ToFloatPixel(colours[i].data(), InternalGamma, scales);
    return palette;
}

void WritePaletteTables(IndexedImage& output, const std::vector<RgbaColour>& colours)
{
    const std::uint32_t count = static_cast<std::uint32_t>(std::min(colours.size(), MaxPaletteColours));
    output.paletteSize = count;
    output.transparentCount = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const RgbaColour& c = colours[i];
        output.paletteRgb[3 * i] = c[0];
        output.paletteRgb[3 * i + 1] = c[1];
        output.paletteRgb[3 * i + 2] = c[2];
        output.paletteAlpha[i] = c[3];
        if (c[3] < 255)
            output.transparentCount = i + 1;
    }
}

std::vector<RgbaColour> PaletteTableColours(const IndexedImage& image)
{
    std::vector<RgbaColour> colours(image.paletteSize);
    for (std::uint32_t i = 0; i < image.paletteSize; ++i)
        colours[i] = {image.paletteRgb[3 * i], image.paletteRgb[3 * i + 1], image.paletteRgb[3 * i + 2],
                      i < image.transparentCount ? image.paletteAlpha[i] : std::uint8_t{255}};
    return colours;
}

bool ShowsExactly(const RgbaImage& input, const IndexedImage& output)
{
    const std::vector<RgbaColour> entries = PaletteTableColours(output);
    for (std::uint32_t y = 0; y < input.height; ++y) {
        const std::uint8_t* px = input.rows[y];
        const std::uint8_t* index = output.rows[y];
        for (std::uint32_t x = 0; x < input.width; ++x, px += 4) {
            if (index[x] >= entries.size())
                return false;
            const RgbaColour& entry = entries[index[x]];
            const bool same = (px[3] == 0 && entry[3] == 0) || (px[0] == entry[0] && px[1] == entry[1] &&
                                                                px[2] == entry[2] && px[3] == entry[3]);
            if (!same)
                return false;
        }
    }
    return true;
}

} // namespace tessaline
