#include "settings/setting_presets.h"

#include <array>

namespace tessaline {

namespace {

// The rows every preset sets, so that any preset given after another one undoes it completely.
constexpr std::array<std::pair<Setting, int>, 5> Fast = {{
    {Setting::FastHistogram, 1},
    {Setting::Histogram, 10},
    {Setting::Feedback, 4},
    {Setting::Voronoi, 2},
    {Setting::Convergence, 16},
}};

// The default's histogram with four feedback trials instead of 49 and three refinement passes
// instead of seven: on the shared photographs the later trials buy 0.01 dB or less and the later
// passes 0.05 to 0.07, while the coarse histogram start of Fast costs 0.3 to 0.5. About half the
// default's processor time; without dithering, the preset that wins the plain photograph.
constexpr std::array<std::pair<Setting, int>, 5> Balanced = {{
    {Setting::FastHistogram, 0},
    {Setting::Histogram, 10},
    {Setting::Feedback, 4},
    {Setting::Voronoi, 3},
    {Setting::Convergence, 22},
}};

// The panel's start-up state for the same rows.
constexpr std::array<std::pair<Setting, int>, 5> Default = {{
    {Setting::FastHistogram, 0},
    {Setting::Histogram, 10},
    {Setting::Feedback, 49},
    {Setting::Voronoi, 7},
    {Setting::Convergence, 22},
}};

// The trials and passes are at their most already by default; what is left to spend is a larger
// histogram, so that fewer colours of a busy photo are merged before the palette is chosen.
constexpr std::array<std::pair<Setting, int>, 5> Best = {{
    {Setting::FastHistogram, 0},
    {Setting::Histogram, 63},
    {Setting::Feedback, 49},
    {Setting::Voronoi, 7},
    {Setting::Convergence, 22},
}};

const std::array<SettingPreset, 4> Presets = {{
    {"fast", "fewer feedback trials and refinement passes, a coarser histogram start", Fast},
    {"balanced",
     "four feedback trials, three refinement passes: within 0.1 dB of the default in half its time",
     Balanced},
    {"default", "the settings panel's start-up values", Default},
    {"best", "the default passes over the largest histogram", Best},
}};

} // namespace

std::span<const SettingPreset> SettingPresets()
{
    return Presets;
}

const SettingPreset* FindPreset(std::string_view name)
{
    for (const SettingPreset& preset : Presets)
        if (name == preset.name)
            return &preset;
    return nullptr;
}

void ApplyPreset(const SettingPreset& preset, SettingValues& values)
{
    for (const auto& [key, value] : preset.values)
        values[key] = value;
}

std::string PresetNames()
{
    std::string names;
    for (const SettingPreset& preset : Presets)
        names += (names.empty() ? "" : ", ") + std::string(preset.name);
    return names;
}

} // namespace tessaline
