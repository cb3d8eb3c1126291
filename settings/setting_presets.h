#pragma once
// settings/setting_presets.h: named groups of engine settings that are set together, for people
// who want "faster" or "better" without learning what a feedback trial is. A preset sets only the
// rows it lists; every other row keeps its value. A front end applies the preset before the flags,
// so that a flag the user gives wins wherever it stands.

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "settings/setting_table.h"

namespace tessaline {

struct SettingPreset
{
    const char* name;    ///< as the command line spells it: "fast", "balanced", "default", "best"
    const char* summary; ///< one line for --help
    std::span<const std::pair<Setting, int>> values;
};

/// Every preset, the quickest first.
std::span<const SettingPreset> SettingPresets();

/// The preset called `name`, or null.
const SettingPreset* FindPreset(std::string_view name);

/// Sets the preset's rows in `values`.
void ApplyPreset(const SettingPreset& preset, SettingValues& values);

/// "fast, balanced, default, best".
std::string PresetNames();

} // namespace tessaline
