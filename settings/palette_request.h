#pragma once
// settings/palette_request.h: the palette colours a front end holds for the palette rows of the
// setting table (a loaded palette file, kept colours), and how they reach a job. The rows say
// whether each is on; the colours themselves are the front end's, as a painted weight map is.

#include <optional>
#include <string>
#include <vector>

#include "engine/palette_colours.h"
#include "engine/reduce_settings.h"
#include "settings/setting_table.h"

namespace tessaline {

struct PaletteRequest
{
    std::vector<RgbaColour> given; ///< the palette to reduce onto (row GivenPalette)
    std::vector<RgbaColour> kept;  ///< colours to keep exactly (rows KeepColours and KeepFrom)
};

/// Writes job.givenPalette and job.keptColours: the request's colours where their rows are on,
/// nothing otherwise. A given palette leaves no room for kept colours, which it ignores.
void FillPaletteRequest(const SettingValues& values, const PaletteRequest& request, ReduceSettings& job);

/// A colour written "#RRGGBB" (alpha 255) or "#RRGGBBAA", hex digits in either case; nothing for any
/// other text.
std::optional<RgbaColour> ParseHexColour(const std::string& text);

/// "#RRGGBB", or "#RRGGBBAA" when the alpha is below 255, in upper case.
std::string HexColour(const RgbaColour& colour);

/// Adds `colour` to `colours` unless it is there already; false when it was.
bool AddDistinct(std::vector<RgbaColour>& colours, const RgbaColour& colour);

} // namespace tessaline
