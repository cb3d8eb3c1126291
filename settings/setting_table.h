#pragma once
// settings/setting_table.h: every reduction setting once, as one row of a table. A row holds the
// setting's range and default, how the settings panel shows it (caption, value format), its
// command-line flag and help text, and how it fills ReduceSettings. The panel builds its controls
// from the rows, tessaline-cli builds its parser and --help from them, and the job builder maps
// them; values travel in SettingValues, one int per row, addressed by the row's Setting key.
// Texts are UTF-8; the captions are the panel's own Japanese words. No Qt here.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/reduce_settings.h"

namespace tessaline {

/// The rows' keys, in table order (which is also the order of the CLI's --help). A new setting
/// is one key here, one row in setting_table.cpp and the control that shows it.
enum class Setting : int
{
    Colours,
    Opacity,
    Ie6,
    Dither,
    TransparentLast,
    ContrastMap,
    DitherMap,
    FastHistogram,
    Histogram,
    Feedback,
    Voronoi,
    Convergence,
    UseUserWeight,
    UserWeight,
    GivenPalette,
    KeepColours,
    KeepFrom,
    SharedPalette,
    Tune,
    Compression,
    KeepMetadata,
    EightBitIndices,
    Count
};

inline constexpr std::size_t SettingCount = static_cast<std::size_t>(Setting::Count);

/// What kind of value a row holds.
enum class SettingKind
{
    Slider, ///< a whole number from `low` to `high`
    Switch, ///< 0 (off) or 1 (on)
    Choice  ///< an index into `choices`
};

/// How the command line sets a row.
enum class CliForm
{
    None,          ///< not on the command line
    Value,         ///< `--flag N` (Slider) or `--flag NAME` (Choice)
    SetsOn,        ///< `--flag` switches the row on
    SetsOnOrOff,   ///< `--flag` switches the row on, `--no-flag` off again (after a preset set it)
    SetsOff,       ///< `--flag` switches the row off
    OnWithFileName, ///< `--flag FILE` switches the row on; the front end keeps the file name
    OnWithValues    ///< `--flag VALUE`, repeatable, switches the row on; the front end keeps each value
};

class SettingValues;

struct SettingRow
{
    Setting key;
    const char* name; ///< stable key for reports and presets, e.g. "colours"
    SettingKind kind;
    int low;          ///< Slider: least position; Switch: 0; Choice: 0
    int high;         ///< Slider: greatest position; Switch: 1; Choice: the last index
    int defaultValue; ///< the panel's start-up state
    /// The panel's caption: a slider label's text before " : ", a check box's text, the group
    /// title of a switch shown as two radio buttons.
    const char* caption;
    /// Slider: the printf format of the value after "caption : " (e.g. "%3d"). Null otherwise.
    const char* valueFormat;
    /// Slider: the value its label shows for a position (null: the position itself).
    int (*shownValue)(int position);
    /// Switch shown as two radio buttons: the captions of the off and on choices. Null otherwise.
    const char* offCaption;
    const char* onCaption;
    /// Choice: the value names, as the command line spells them; `high` + 1 of them.
    std::span<const char* const> choices;
    CliForm cliForm;
    const char* cliFlag;      ///< without the dashes, e.g. "colours"; null with CliForm::None
    const char* cliValueName; ///< "N", "G", "FILE"...; null for plain switches
    /// How the row fills a job (null: the row steers no job field by itself).
    void (*fillJob)(const SettingValues& values, ReduceSettings& job);
    /// The help text. "{range}" stands for "LOW to HIGH (default D)", "{off}" for `offCaption`,
    /// "{ie6}" for Ie6Opacity and "{histogram}" for the HistogramLimit formula.
    const char* cliHelp;
};

/// Every row, in table order; row i has key i.
std::span<const SettingRow> SettingRows();
/// The row of `key`.
const SettingRow& RowOf(Setting key);

/// One value per row, addressed by key; a fresh record holds every row's default.
class SettingValues
{
public:
    SettingValues();
    int operator[](Setting key) const { return values[static_cast<std::size_t>(key)]; }
    int& operator[](Setting key) { return values[static_cast<std::size_t>(key)]; }
    bool On(Setting key) const { return (*this)[key] != 0; }
    bool operator==(const SettingValues&) const = default;

private:
    std::array<int, SettingCount> values;
};

/// Where the IE6 workaround holds the opacity slider: old Internet Explorer drew partly
/// transparent palette entries wrongly, and 238 keeps nearly opaque pixels opaque.
inline constexpr int Ie6Opacity = 238;

/// The opacity slider as the panel holds it: Ie6Opacity while the workaround is on.
int EffectiveOpacity(const SettingValues& values);

/// User weights take part only when switched on and with the contrast map, to which they are
/// added (the panel disables the user-weight box without it).
bool UserWeightsOn(const SettingValues& values);

/// The value a slider row's label shows for `position`.
int ShownValue(const SettingRow& row, int position);

/// Writes every job field the rows govern from `values`, and the fixed fields of a panel job
/// (targetError 0, maxError 1e20). The colour count is clamped into 2 to 256, where the palette
/// tables end; every other value is written as given. User weights, which need the painted
/// map, are left to the job builder.
void FillReduceSettings(const SettingValues& values, ReduceSettings& job);

/// The row's help text with its placeholders filled in.
std::string HelpText(const SettingRow& row);
/// How the help names the panel control the flag stands for: the caption, or "caption : off
/// choice" for a flag that picks the off button of a two-button switch.
std::string HelpCaption(const SettingRow& row);

} // namespace tessaline
