#include "cli/palette_run.h"

#include <filesystem>

#include "cli/bitmap_plugin_loader.h"
#include "imageio/input_names.h"
#include "imageio/palette_file.h"
#include "jobs/shared_palette_choice.h"

namespace tessaline {

PaletteRun::PaletteRun(const CliOptions& options) : options(options), values(options.settings)
{
    request.kept = options.keepColours;
}

std::optional<QString> PaletteRun::ReadFiles()
{
    QString whyNot;
    if (values.On(Setting::GivenPalette)) {
        const auto given = ReadPaletteFile(ToPath(options.palettePath), PluginBitmaps(), &whyNot);
        if (!given)
            return QString("--palette %1: %2").arg(DisplayName(options.palettePath), whyNot);
        request.given = *given;
    }
    if (values.On(Setting::KeepFrom)) {
        const auto kept = ReadPaletteFile(ToPath(options.keepFromPath), PluginBitmaps(), &whyNot);
        if (!kept)
            return QString("--keep-from %1: %2").arg(DisplayName(options.keepFromPath), whyNot);
        for (const RgbaColour& colour : *kept)
            AddDistinct(request.kept, colour);
    }
    const int colours = values[Setting::Colours];
    if (static_cast<int>(request.kept.size()) > colours)
        return QString("%1 colours to keep do not fit in --colours %2").arg(request.kept.size()).arg(colours);
    // A reduction to fewer entries than are kept would keep them all all the same: the row would
    // name a count its result does not have.
    for (const std::uint32_t count : options.curveCounts)
        if (count < request.kept.size())
            return QString("--curve %1 is below the %2 colours kept").arg(count).arg(request.kept.size());
    return std::nullopt;
}

bool PaletteRun::ChooseShared(const std::vector<BatchInput>& inputs, const WeightAlpha* weights)
{
    std::vector<std::filesystem::path> paths;
    for (const BatchInput& input : inputs)
        if (!input.standardInput && !input.walkError)
            paths.push_back(input.path);
    request.given = ChooseSharedPalette(paths, values, request, weights, PluginBitmaps());
    if (request.given.empty())
        return false;
    values[Setting::GivenPalette] = 1;
    return true;
}

void PaletteRun::Fill(ReduceSettings& job) const
{
    FillPaletteRequest(values, request, job);
}

const std::vector<RgbaColour>* PaletteRun::CommonPalette() const
{
    return values.On(Setting::GivenPalette) ? &request.given : nullptr;
}

QString PaletteRun::ReportField() const
{
    // The file given wins over a palette the run would otherwise choose.
    if (options.settings.On(Setting::GivenPalette))
        return QStringLiteral("given");
    if (options.settings.On(Setting::SharedPalette))
        return QStringLiteral("shared");
    return {};
}

std::size_t PaletteRun::KeptCount() const
{
    return request.kept.size();
}

} // namespace tessaline
