#pragma once
// cli/cli_options.h: the command line of tessaline-cli. Every reduction setting is a flag standing
// for one control of the desktop program's settings panel, with that control's range and default,
// so that a run of the tool and a reduction in the window build the same job. Parsing prints
// nothing and never exits: the caller decides what to show and with which exit code.

#include <QString>
#include <QStringList>

#include "imageio/job_builder.h"
#include "imageio/png_deflate.h"

namespace tessaline {

/// Exit codes of tessaline-cli.
enum CliExitCode : int
{
    CliExitOk = 0,         ///< every file was written (or --help / --version)
    CliExitFileFailed = 1, ///< at least one file could not be reduced or written
    CliExitUsage = 2       ///< unknown option, value out of range, contradictory options
};

/// The panel's values as flags set them, plus where results go. Slider values are positions.
struct CliOptions
{
    int colours = 256;           ///< --colours, 2 to 256
    int opacity = 256;           ///< --opacity, 1 to 256
    bool ie6 = false;            ///< --ie6: the opacity threshold held at 238
    bool noDither = false;       ///< --no-dither: "orderd" chosen instead of "floyd"
    bool transparentLast = false; ///< --transparent-last
    bool contrastMap = true;     ///< cleared by --no-contrast-map
    bool ditherMap = true;       ///< cleared by --no-dither-map
    bool fastHistogram = false;  ///< --fast-histogram
    int histogram = 10;          ///< --histogram, 0 to 63
    int feedback = 49;           ///< --feedback, 0 to 49
    int voronoi = 7;             ///< --voronoi, 0 to 7
    int convergence = 22;        ///< --convergence, 13 to 22
    int userWeight = 15;         ///< --user-weight, 0 to 100
    QString weightsPath;         ///< --weights; empty when user weights are off

    PngCompression compression = PngCompression::Default; ///< --compression default|max

    QString outputPath;          ///< -o; empty when not given
    QString outputDir;           ///< --output-dir; empty when not given
    bool quiet = false;          ///< --quiet: no progress bar, no summary lines
    bool timings = false;        ///< --timings: milliseconds per stage on stdout
    QStringList inputs;          ///< the files to reduce, in command-line order

    /// The opacity slider as the panel holds it: 238 while the IE6 workaround is on.
    int EffectiveOpacity() const { return ie6 ? 238 : opacity; }
    /// User weights take part only with a weights file (and they need the contrast map).
    bool UseUserWeight() const { return !weightsPath.isEmpty(); }
};

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

/// Parses `arguments` (arguments[0] is the program). Names after "--" are files even when they
/// start with '-'. Refuses unknown options, values that are not whole numbers in range, no input,
/// -o with more than one input, -o together with --output-dir, --ie6 with a different --opacity,
/// and --weights together with --no-contrast-map (the panel disables user weights without the
/// contrast map, so the window could never run that job).
CliParseResult ParseCliOptions(const QStringList& arguments);

/// The panel's values for `options`, ready for BuildReduceJob: the opacity held at 238 with
/// --ie6, "orderd" for --no-dither, the histogram slider turned into its size, and user weights
/// on only with a weights file and the contrast map (the panel's enabling rule).
PanelValues ToPanelValues(const CliOptions& options);

} // namespace tessaline
