#pragma once
// cli/cli_options.h: the command line of tessaline-cli. Every reduction setting is a flag made from
// its row of the setting table, standing for one control of the desktop program's settings panel
// with that control's range and default, so that a run of the tool and a reduction in the window
// build the same job. Parsing prints nothing and never exits: the caller decides what to show and
// with which exit code.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

#include "settings/palette_request.h"
#include "settings/setting_table.h"

namespace tessaline {

/// Exit codes of tessaline-cli.
enum CliExitCode : int
{
    CliExitOk = 0,         ///< every file was written (or --help / --version)
    CliExitFileFailed = 1, ///< at least one file could not be reduced or written
    CliExitUsage = 2       ///< unknown option, value out of range, contradictory options
};

/// What the command line asks for: the setting table's values as the flags set them, and where
/// the files come from and go.
struct CliOptions
{
    SettingValues settings;      ///< every row at its default unless a flag set it
    QString weightsPath;         ///< --weights; empty when user weights are off
    QString palettePath;         ///< --palette; empty when the palette is chosen from the images
    QString keepFromPath;        ///< --keep-from; empty when not given
    std::vector<RgbaColour> keepColours; ///< --keep, in command-line order, each colour once
    QString savePalettePath;     ///< --save-palette; empty when not given

    QString outputPath;          ///< -o; empty when not given
    QString outputDir;           ///< --output-dir; empty when not given
    bool quiet = false;          ///< --quiet: no progress bar, no summary lines
    bool timings = false;        ///< --timings: milliseconds per stage on stdout
    int jobs = 1;                ///< -j: files reduced at once, at least 1 (0 on the command line: one per core)
    bool recursive = false;      ///< -r: a folder among the inputs stands for the image files under it
    bool skipExisting = false;   ///< --skip-existing: leave results newer than their input
    QString reportPath;          ///< --report: one record per input, JSON Lines or CSV by extension
    QStringList inputs;          ///< the files (and with -r folders) to reduce, in command-line order

    // The colour count from a target instead of --colours, which then bounds it from above.
    std::optional<double> minPsnr; ///< --min-psnr DB: the fewest colours reaching DB
    std::optional<int> maxError;   ///< --max-error N: the fewest colours whose largest error is N or less
    std::optional<std::uint64_t> maxBytes; ///< --max-bytes SIZE: the most colours whose file fits
    bool strict = false;                   ///< --strict: a missed target fails the file (it is still written)
    bool onlyIfSmaller = false; ///< --only-if-smaller: write nothing when the result is larger than the input
    bool curve = false;         ///< --curve [LIST]
    std::vector<std::uint32_t> curveCounts; ///< the LIST; empty for the default counts
};

/// The most files -j runs at once: beyond this the threads only wait for memory and each other.
inline constexpr int MaxCliJobs = 256;
/// The highest --min-psnr asked for: far above any result short of an exact one (which counts as
/// meeting every target).
inline constexpr int MaxMinPsnr = 1000;

/// The input and output name that stand for standard input and standard output.
inline constexpr const char* CliStandardStream = "-";

/// What the caller does after parsing.
enum class CliAction
{
    Run,       ///< reduce `options.inputs`
    ShowHelp,  ///< print `text` on stdout, exit CliExitOk
    ShowVersion, ///< print `text` on stdout, exit CliExitOk
    UsageError ///< print `text` on stderr, exit CliExitUsage
};

struct CliParseResult
{
    CliAction action = CliAction::UsageError;
    CliOptions options;
    QString text; ///< the help, the version line or the error message (without program prefix)
};

/// The program name used in messages and the help text.
inline constexpr const char* CliProgramName = "tessaline-cli";

/// A size as --max-bytes takes it: bytes, or with k or M (1024 or 1048576 bytes, decimals allowed:
/// "120k", "1.5M"). Nothing for anything else, zero included.
std::optional<std::uint64_t> ParseByteSize(const QString& text);

/// Parses `arguments` (arguments[0] is the program). The setting flags and their help come from
/// the setting table; flags and --preset are applied in command-line order, so a later one wins.
/// Names after "--" are files even when they start with '-'; "-" alone is standard input (and
/// "-o -" standard output). Refuses unknown options, values that are not whole numbers in range,
/// no input, -o with more than one input or with -r, -o together with --output-dir, standard input
/// twice or without -o, -o with a folder to walk, a report that is neither .jsonl nor .csv, --ie6 with a
/// different --opacity, and --weights together with --no-contrast-map (the panel disables user
/// weights without the contrast map, so the window could never run that job), --colours auto without a
/// target, a quality target together with --max-bytes, a target or --curve with --palette or
/// --shared-palette, a --keep that is not
/// #RRGGBB or #RRGGBBAA, --palette with --keep or --keep-from (a given palette has nothing to keep
/// around), --shared-palette with standard input (read once, it cannot be read for the palette
/// and again for its result), and --save-palette where several results could each have their own
/// palette (several inputs or -r without --shared-palette). `processors` is
/// what -j 0 stands for.
CliParseResult ParseCliOptions(const QStringList& arguments, int processors = 1);

} // namespace tessaline
