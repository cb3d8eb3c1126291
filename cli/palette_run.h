#pragma once
// cli/palette_run.h: what the palette options of tessaline-cli ask of a run, settled before the first
// result is reduced: the palette files read (--palette, --keep-from) with the kept colours, and with
// --shared-palette the one palette chosen from every input, counted in input order so that the
// palette never depends on -j. Each input's job then gets its palette fields from here.

#include <cstddef>
#include <optional>
#include <vector>

#include <QString>

#include "cli/batch_inputs.h"
#include "cli/cli_options.h"
#include "engine/reduce_settings.h"
#include "jobs/job_builder.h"

namespace tessaline {

class PaletteRun
{
public:
    explicit PaletteRun(const CliOptions& options);

    /// Reads the palette files the options name and checks what they hold with the kept colours.
    /// The reason, for a usage error, when a file cannot be read, is damaged or truncated, holds no
    /// entry or more than 256, or when the kept colours outnumber --colours or a count of the
    /// --curve list the user gave (the default list drops those counts instead: CurveCounts).
    std::optional<QString> ReadFiles();

    /// --shared-palette: counts every input that can be read into one histogram, in list order, and
    /// chooses the palette every result takes. Inputs that cannot be read are left out (they fail
    /// on their own later). False when no input could be read.
    bool ChooseShared(const std::vector<BatchInput>& inputs, const WeightAlpha* weights);

    /// Sets the palette fields of one input's job (after BuildReduceJob).
    void Fill(ReduceSettings& job) const;

    /// The palette every result has (--palette or --shared-palette), or null when each result's palette
    /// is its own.
    const std::vector<RgbaColour>* CommonPalette() const;

    /// The report's palette field: "given" or "shared"; empty when each palette is chosen per input.
    QString ReportField() const;

    /// The colours kept in every palette (--keep and --keep-from together), once ReadFiles has run.
    std::size_t KeptCount() const;

private:
    const CliOptions& options;
    SettingValues values;
    PaletteRequest request;
};

} // namespace tessaline
