#include "settings/palette_request.h"

#include <algorithm>
#include <cstdio>

namespace tessaline {

void FillPaletteRequest(const SettingValues& values, const PaletteRequest& request, ReduceSettings& job)
{
    job.givenPalette.clear();
    job.keptColours.clear();
    if (values.On(Setting::GivenPalette))
        job.givenPalette = request.given;
    else if (values.On(Setting::KeepColours) || values.On(Setting::KeepFrom))
        job.keptColours = request.kept;
}

std::optional<RgbaColour> ParseHexColour(const std::string& text)
{
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#')
        return std::nullopt;
    RgbaColour colour{0, 0, 0, 255};
    for (std::size_t c = 0; c < (text.size() - 1) / 2; ++c) {
        int value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char digit = text[1 + 2 * c + k];
            int nibble = 0;
            if (digit >= '0' && digit <= '9')
                nibble = digit - '0';
            else if (digit >= 'a' && digit <= 'f')
                nibble = digit - 'a' + 10;
            else if (digit >= 'A' && digit <= 'F')
                nibble = digit - 'A' + 10;
            else
                return std::nullopt;
            value = value * 16 + nibble;
        }
        colour[c] = static_cast<std::uint8_t>(value);
    }
    return colour;
}

std::string HexColour(const RgbaColour& colour)
{
    char text[10];
    if (colour[3] == 255)
        std::snprintf(text, sizeof text, "#%02X%02X%02X", colour[0], colour[1], colour[2]);
    else
        std::snprintf(text, sizeof text, "#%02X%02X%02X%02X", colour[0], colour[1], colour[2], colour[3]);
    return text;
}

bool AddDistinct(std::vector<RgbaColour>& colours, const RgbaColour& colour)
{
    if (std::find(colours.begin(), colours.end(), colour) != colours.end())
        return false;
    colours.push_back(colour);
    return true;
}

} // namespace tessaline
