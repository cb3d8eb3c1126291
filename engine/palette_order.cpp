#include "engine/palette_order.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "engine/float_pixel_table.h"

namespace tessaline {
namespace {

// Ascending popularity. A NaN popularity sorts first so that the comparison stays a strict weak
// order whatever the earlier stages left in the field.
float SortKey(const PaletteEntry& entry)
{
    return std::isnan(entry.popularity) ? -std::numeric_limits<float>::infinity() : entry.popularity;
}

void SortByPopularity(PaletteEntry* first, PaletteEntry* last)
{
    // Stable: entries of equal popularity keep their order, whatever the standard library.
    std::stable_sort(first, last,
                     [](const PaletteEntry& x, const PaletteEntry& y) { return SortKey(x) < SortKey(y); });
}

} // namespace

void OrderPalette(IndexedImage& output, Palette& palette, bool lastIndexTransparent)
{
    const std::uint32_t count = palette.count;
    PaletteEntry* entries = palette.entries.get();
    output.paletteSize = count;

    if (lastIndexTransparent && count > 0) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!IsFullyTransparent(entries[i].colour))
                continue;
            std::swap(entries[i], entries[count - 1]);
            SortByPopularity(entries, entries + count - 1);
            // The transparent entry sits last, so the transparency chunk must cover them all.
            output.transparentCount = count;
            return;
        }
    }

    std::uint32_t translucent = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (!IsTranslucent(entries[k].colour))
            continue;
        if (k != translucent)
            std::swap(entries[k], entries[translucent]);
        ++translucent;
    }
    SortByPopularity(entries, entries + translucent);
    SortByPopularity(entries + translucent, entries + count);
    output.transparentCount = translucent;
}

void StorePaletteBytes(IndexedImage& output, Palette& palette)
{
    const float gamma = static_cast<float>(output.gamma);
    // The tables hold 256 entries; a larger palette breaks the caller's contract, not the tables.
    const std::uint32_t count = std::min<std::uint32_t>(palette.count, 256);
    // Scaled channels leave the float space unscaled and come back as the remaps convert pixels.
    const ChannelScales& scales = palette.scales;
    std::optional<FloatPixelTable> scaledBack;
    if (!scales.Even())
        scaledBack.emplace(gamma, scales);
    for (std::uint32_t i = 0; i < count; ++i) {
        FloatPixel colour = palette[i].colour;
        if (scaledBack) {
            colour.r /= scales.r;
            colour.g /= scales.g;
            colour.b /= scales.b;
        }
        const std::array<std::uint8_t, 4> rgba = ToRgba(colour, gamma);
        output.paletteRgb[3 * i] = rgba[0];
        output.paletteRgb[3 * i + 1] = rgba[1];
        output.paletteRgb[3 * i + 2] = rgba[2];
        output.paletteAlpha[i] = rgba[3];
        // Diffuse later against the colour the file will really hold.
        palette[i].colour = scaledBack ? scaledBack->Convert(rgba.data()) : ToFloatPixel(rgba.data(), gamma);
    }
}

void SettleTransparentRun(IndexedImage& output, Palette& palette, bool lastIndexTransparent)
{
    if (lastIndexTransparent)
        return;
    std::uint32_t run = std::min<std::uint32_t>({output.transparentCount, palette.count, 256});
    std::array<std::uint8_t, 256> origin; // origin[slot]: the index the slot's entry had before
    for (std::uint32_t i = 0; i < 256; ++i)
        origin[i] = static_cast<std::uint8_t>(i);
    const std::uint32_t before = run;
    for (std::uint32_t i = 0; i < run;) {
        if (output.paletteAlpha[i] != 255) {
            ++i;
            continue;
        }
        // The last translucent entry takes the slot; the opaque one leaves the run. The slot is
        // checked again, since the entry moved in may be opaque too.
        --run;
        std::swap(palette[i], palette[run]);
        std::swap(output.paletteAlpha[i], output.paletteAlpha[run]);
        for (int c = 0; c < 3; ++c)
            std::swap(output.paletteRgb[3 * i + c], output.paletteRgb[3 * run + c]);
        std::swap(origin[i], origin[run]);
    }
    if (run == before)
        return;
    output.transparentCount = run;
    std::array<std::uint8_t, 256> moved;
    for (std::uint32_t slot = 0; slot < 256; ++slot)
        moved[origin[slot]] = static_cast<std::uint8_t>(slot);
    for (std::uint8_t& index : output.pixels)
        index = moved[index];
}

} // namespace tessaline
