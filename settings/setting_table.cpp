#include "settings/setting_table.h"

#include <algorithm>
#include <string>

namespace tessaline {

namespace {

using FillJob = void (*)(const SettingValues&, ReduceSettings&);

constexpr SettingRow Slider(Setting key, const char* name, int low, int high, int defaultValue, const char* caption,
                            const char* valueFormat, int (*shownValue)(int), FillJob fillJob, const char* flag,
                            const char* valueName, const char* help)
{
    return SettingRow{key,     name,    SettingKind::Slider, low,  high, defaultValue, caption, valueFormat,
                      shownValue, nullptr, nullptr, {}, CliForm::Value, flag, valueName, fillJob, help};
}

constexpr SettingRow Switch(Setting key, const char* name, bool defaultOn, const char* caption, FillJob fillJob,
                            CliForm form, const char* flag, const char* valueName, const char* help,
                            const char* offCaption = nullptr, const char* onCaption = nullptr)
{
    return SettingRow{key,     name,       SettingKind::Switch, 0,  1,    defaultOn ? 1 : 0, caption, nullptr,
                      nullptr, offCaption, onCaption,           {}, form, flag,              valueName, fillJob,
                      help};
}

std::uint8_t Flag(const SettingValues& values, Setting key)
{
    return values.On(key) ? 1 : 0;
}

// The order is PngCompression's: the writer reads the row's value as that enum.
constexpr const char* CompressionChoices[] = {"default", "max"};
// The panel shows the row as a check box: checked is the second choice.
constexpr const char* TuneChoices[] = {"default", "perceptual"};

int HistogramShown(int position) { return static_cast<int>(HistogramLimit(position)); }
int ConvergenceShown(int position) { return ConvergenceDenominator(position); }

constexpr std::array<SettingRow, SettingCount> Rows = {
    Slider(Setting::Colours, "colours", 2, 256, 256, "色数", "%3d", nullptr,
           [](const SettingValues& v, ReduceSettings& job) {
               // Beyond 256 the palette tables would overflow; below 2 there is nothing to choose.
               job.maxColours = static_cast<std::uint32_t>(std::clamp(v[Setting::Colours], 2, 256));
           },
           "colours", "N",
           "Palette entries, {range}; with a target, the most the search may choose (\"auto\": 256)."),
    Slider(Setting::Opacity, "opacity", 1, 256, 256, "不透明度閾値", "%3d", nullptr,
           [](const SettingValues& v, ReduceSettings& job) {
               job.minOpacity = static_cast<float>(EffectiveOpacity(v)) * (1.0f / 256.0f);
           },
           "opacity", "N",
           "Opacity threshold, {range}: alpha of N/256 or more becomes opaque, the band below is raised."),
    Switch(Setting::Ie6, "ie6", false, "IE6不具合回避", nullptr, CliForm::SetsOn, "ie6", nullptr,
           "Hold the opacity threshold at {ie6}."),
    Switch(Setting::Dither, "dither", true, "アルゴリズム",
           [](const SettingValues& v, ReduceSettings& job) { job.dither = Flag(v, Setting::Dither); },
           CliForm::SetsOff, "no-dither", nullptr,
           "No error diffusion: map every pixel to its nearest entry (\"{off}\").", "orderd", "floyd"),
    Switch(Setting::TransparentLast, "transparent-last", false, "透明色をパレットの末尾に置く",
           [](const SettingValues& v, ReduceSettings& job) {
               job.lastIndexTransparent = Flag(v, Setting::TransparentLast);
           },
           CliForm::SetsOn, "transparent-last", nullptr, "Put the transparent entry last in the palette."),
    Switch(Setting::ContrastMap, "contrast-map", true, "コントラストマップを使用する",
           [](const SettingValues& v, ReduceSettings& job) {
               job.contrastMapLevel = v.On(Setting::ContrastMap) ? 1 : ContrastMapsOff;
           },
           CliForm::SetsOff, "no-contrast-map", nullptr,
           "Build no contrast or dither map: every pixel weighs alike in the palette and the error diffusion "
           "runs at one strength everywhere (user weights need the map)."),
    Switch(Setting::DitherMap, "dither-map", true, "ディザーマップを使用する",
           [](const SettingValues& v, ReduceSettings& job) { job.useDitherMap = Flag(v, Setting::DitherMap); },
           CliForm::SetsOff, "no-dither-map", nullptr, "Do not let the dither map steer the error diffusion."),
    Switch(Setting::FastHistogram, "fast-histogram", false, "ヒストグラムの収束を早める",
           [](const SettingValues& v, ReduceSettings& job) { job.fastHistogram = Flag(v, Setting::FastHistogram); },
           CliForm::SetsOnOrOff, "fast-histogram", nullptr,
           "Start the histogram with one ignored bit per channel (--no-fast-histogram: do not)."),
    Slider(Setting::Histogram, "histogram", 0, 63, 10, "ヒストグラム最大色数", "%7d", HistogramShown,
           [](const SettingValues& v, ReduceSettings& job) {
               job.maxHistogramEntries = HistogramLimit(v[Setting::Histogram]);
           },
           "histogram", "G", "Histogram size G, {range}: {histogram} colours."),
    // One number everywhere: the panel's label, --feedback and the job all give the trials the
    // median cut runs (0: one cut, never scored).
    Slider(Setting::Feedback, "feedback", 0, 49, 49, "メディアンカットフィードバックループ試行回数", "%2d",
           nullptr,
           [](const SettingValues& v, ReduceSettings& job) { job.feedbackTrials = v[Setting::Feedback]; },
           "feedback", "N", "Median-cut feedback trials, {range}."),
    Slider(Setting::Voronoi, "voronoi", 0, 7, 7, "ボロノイ分割繰り返し回数", "%1d", nullptr,
           [](const SettingValues& v, ReduceSettings& job) { job.voronoiIterations = v[Setting::Voronoi]; },
           "voronoi", "N", "Voronoi refinement repetitions, {range}."),
    Slider(Setting::Convergence, "convergence", 13, 22, 22, "ボロノイ分割収束誤差", "1 / %7d", ConvergenceShown,
           [](const SettingValues& v, ReduceSettings& job) {
               job.convergenceDenominator = ConvergenceDenominator(v[Setting::Convergence]);
           },
           "convergence", "E", "Voronoi convergence error 1 / 2^E, E {range}."),
    // The painted map itself comes from the window's view or the command line's file: the job
    // builder turns it into weights.
    Switch(Setting::UseUserWeight, "user-weights", false, "ユーザーウェイトを使用する", nullptr,
           CliForm::OnWithFileName, "weights", "FILE",
           "Image of the source's size whose alpha is the painted user weight; switches user weight on."),
    Slider(Setting::UserWeight, "user-weight", 0, 100, 15, "ユーザーウェイト", "%3d", nullptr, nullptr,
           "user-weight", "N", "Scale of the painted user weight, {range}."),
    // Palettes from outside: the colours themselves come from the front end (a palette file, the
    // colours the user keeps) through FillPaletteRequest.
    Switch(Setting::GivenPalette, "palette", false, "パレット読込", nullptr, CliForm::OnWithFileName, "palette",
           "FILE",
           "Reduce onto exactly this palette, written in its order with unused entries: a palette PNG, a GIMP "
           ".gpl, or an image of at most 256 colours (in first-seen order)."),
    Switch(Setting::KeepColours, "keep", false, "色を固定", nullptr, CliForm::OnWithValues, "keep", "COLOUR",
           "Keep COLOUR (#RRGGBB or #RRGGBBAA) exactly in the palette; the other entries are chosen around "
           "it. Repeatable."),
    Switch(Setting::KeepFrom, "keep-from", false, "", nullptr, CliForm::OnWithFileName, "keep-from", "FILE",
           "Keep every colour of a palette file (as --palette reads it) exactly in the palette."),
    Switch(Setting::SharedPalette, "shared-palette", false, "共有パレット", nullptr, CliForm::SetsOn, "shared-palette",
           nullptr, "Choose one palette from all inputs together and reduce each onto it: every output has "
           "the same palette."),
    // The metric every stage compares colours by: even channel weights, or the eye's.
    SettingRow{Setting::Tune, "tune", SettingKind::Choice, 0, 1, 0, "知覚的な色差を使用する", nullptr, nullptr,
               nullptr, nullptr, TuneChoices, CliForm::Value, "tune", "NAME",
               [](const SettingValues& v, ReduceSettings& job) {
                   job.channelScales = v[Setting::Tune] == 1 ? PerceptualChannels : EvenChannels;
               },
               "Colour metric of every stage: \"default\" weighs red, green and blue alike (the best PSNR); "
               "\"perceptual\" weighs them as the eye does, green most and blue least (closer to the eye, "
               "0.3 to 0.5 dB lower PSNR)."},
    // How hard the PNG writer compresses: no job field, and no panel control yet (no caption).
    SettingRow{Setting::Compression, "compression", SettingKind::Choice, 0, 1, 0, "", nullptr, nullptr, nullptr,
               nullptr, CompressionChoices, CliForm::Value, "compression", "LEVEL", nullptr,
               "PNG compression: \"default\" (fast) or \"max\" (the smallest file, several times slower to "
               "write); the image is the same."},
    // What the PNG writer carries from the source beside the image: no job field.
    Switch(Setting::KeepMetadata, "keep-metadata", false, "メタデータを保持", nullptr, CliForm::SetsOn, "keep-metadata", nullptr,
           "Carry the source's EXIF (orientation reset to 1 where the pixels were turned), XMP, text and pixel "
           "density (pHYs) into the result; by default nothing but the image is written."),
    // How the PNG writer packs the indices: no job field, no panel control.
    Switch(Setting::EightBitIndices, "eight-bit-indices", false, "", nullptr, CliForm::SetsOn, "eight-bit-indices",
           nullptr,
           "Write 8 bits per palette index whatever the palette's size; by default a palette of at most 2, 4 "
           "or 16 entries gets 1, 2 or 4 bits per index (a smaller file)."),
};

constexpr bool KeysInOrder()
{
    for (std::size_t i = 0; i < Rows.size(); ++i)
        if (static_cast<std::size_t>(Rows[i].key) != i)
            return false;
    return true;
}
static_assert(KeysInOrder(), "row i of the setting table must have key i");

} // namespace

std::span<const SettingRow> SettingRows()
{
    return Rows;
}

const SettingRow& RowOf(Setting key)
{
    return Rows[static_cast<std::size_t>(key)];
}

SettingValues::SettingValues()
{
    for (const SettingRow& row : Rows)
        values[static_cast<std::size_t>(row.key)] = row.defaultValue;
}

int EffectiveOpacity(const SettingValues& values)
{
    return values.On(Setting::Ie6) ? Ie6Opacity : values[Setting::Opacity];
}

bool UserWeightsOn(const SettingValues& values)
{
    return values.On(Setting::UseUserWeight) && values.On(Setting::ContrastMap);
}

int ShownValue(const SettingRow& row, int position)
{
    return row.shownValue ? row.shownValue(position) : position;
}

void FillReduceSettings(const SettingValues& values, ReduceSettings& job)
{
    job.targetError = 0.0;
    job.maxError = 1e20;
    for (const SettingRow& row : Rows)
        if (row.fillJob)
            row.fillJob(values, job);
}

std::string HelpText(const SettingRow& row)
{
    std::string text = row.cliHelp ? row.cliHelp : "";
    const auto replace = [&text](const std::string& placeholder, const std::string& by) {
        if (const auto at = text.find(placeholder); at != std::string::npos)
            text.replace(at, placeholder.size(), by);
    };
    replace("{range}", std::to_string(row.low) + " to " + std::to_string(row.high) + " (default " +
                           std::to_string(row.defaultValue) + ")");
    replace("{off}", row.offCaption ? row.offCaption : "");
    replace("{ie6}", std::to_string(Ie6Opacity));
    replace("{histogram}", "G * " + std::to_string(HistogramLimit(1) - HistogramLimit(0)) + " + " +
                               std::to_string(HistogramLimit(0)));
    return text;
}

std::string HelpCaption(const SettingRow& row)
{
    std::string caption = row.caption;
    // A flag that picks the off choice of a two-button switch names that choice.
    if (row.cliForm == CliForm::SetsOff && row.offCaption)
        caption += std::string(" : ") + row.offCaption;
    return caption;
}

} // namespace tessaline
