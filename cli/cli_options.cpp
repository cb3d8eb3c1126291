#include "cli/cli_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <optional>
#include <vector>

#include "settings/setting_presets.h"

namespace tessaline {

namespace {

// One option of the tool: its names, the name of its value (empty for a switch), what it does,
// the caption of the panel control it stands for (empty when there is none) and the setting row
// it sets (null for the tool's own options).
struct OptionInfo
{
    QStringList names;
    QString valueName;
    QString description;
    QString panelLabel;
    const SettingRow* row = nullptr;
    bool negated = false; ///< the "--no-" form of a SetsOnOrOff row
};

const std::vector<OptionInfo>& Options()
{
    static const std::vector<OptionInfo> options = [] {
        std::vector<OptionInfo> list;
        for (const SettingRow& row : SettingRows())
            if (row.cliForm != CliForm::None) {
                list.push_back({{QString::fromUtf8(row.cliFlag)}, QString::fromUtf8(row.cliValueName),
                                QString::fromStdString(HelpText(row)), QString::fromStdString(HelpCaption(row)),
                                &row});
                // A switch a preset may turn on can be turned off again by a flag after it.
                if (row.cliForm == CliForm::SetsOnOrOff)
                    list.push_back({{"no-" + QString::fromUtf8(row.cliFlag)},
                                    "",
                                    QString("Undo --%1.").arg(QString::fromUtf8(row.cliFlag)),
                                    "",
                                    &row,
                                    true});
            }
        const std::vector<OptionInfo> own = {
            {{"preset"}, "NAME",
             QString("Set the engine's passes together: %1 (a flag for one of them wins, before or after "
                     "it).")
                 .arg(QString::fromStdString(PresetNames())),
             ""},
            {{"o", "output"}, "PATH", "Write the result of the single input to PATH ('-': standard output).", ""},
            {{"output-dir"}, "DIR",
             "Write NAME.png into DIR (created when missing) instead of OUTPUT/; with -r the folder tree is "
             "mirrored under DIR.",
             ""},
            {{"r", "recursive"}, "",
             "Walk folders given as FILE for images (found by content; hidden files and OUTPUT folders skipped).",
             ""},
            {{"j", "jobs"}, "N", "Reduce N files at once (0: one per processor; default 1). Results are the same.",
             ""},
            {{"skip-existing"}, "", "Leave a result that exists and is newer than its input.", ""},
            {{"save-palette"}, "FILE",
             "Write the palette used to FILE ('-': standard output): a GIMP palette for .gpl, otherwise a "
             "palette PNG swatch (--palette reads both back).",
             ""},
            {{"min-psnr"}, "DB",
             "Choose the fewest colours (up to --colours) whose result reaches DB of PSNR; write the most "
             "colours' result when none does.",
             ""},
            {{"max-error"}, "N",
             "Choose the fewest colours whose largest error is at most N (0 to 255); with --min-psnr, "
             "both.",
             ""},
            {{"max-bytes"}, "SIZE",
             "Choose the most colours (up to --colours) whose file fits in SIZE bytes (120k, 1.5M: "
             "k = 1024); write 2 colours' result when none does.",
             ""},
            {{"strict"}, "",
             "A target that no count meets fails the file (exit 1; the result is still written).", ""},
            {{"only-if-smaller"}, "",
             "Write nothing when the result would be larger than the input file (status 'larger'); not "
             "with standard output as the target.",
             ""},
            {{"curve"}, "LIST",
             "Print, and carry in --report, bytes, PSNR and largest error at each count of LIST (default "
             "2,4,8,16,24,32,48,64,96,128,192,256; a LIST is optional).",
             ""},
            {{"report"}, "FILE",
             "Write one record per input to FILE as it finishes: JSON Lines for .jsonl, CSV for .csv.", ""},
            {{"q", "quiet"}, "", "No progress bar and no summary lines; failures are still reported.", ""},
            {{"timings"}, "", "Print the milliseconds each stage took.", ""},
            {{"h", "help"}, "", "Show this help and exit.", ""},
            {{"version"}, "", "Show the version and exit.", ""},
        };
        list.insert(list.end(), own.begin(), own.end());
        return list;
    }();
    return options;
}

// The option that `name` (as the parser reports it) belongs to.
const OptionInfo* FindOption(const QString& name)
{
    for (const OptionInfo& option : Options())
        if (option.names.contains(name))
            return &option;
    return nullptr;
}

QString OptionSpelling(const OptionInfo& option)
{
    QStringList spelled;
    for (const QString& name : option.names)
        spelled << (name.size() == 1 ? "-" : "--") + name;
    QString text = spelled.join(", ");
    if (!option.valueName.isEmpty())
        text += ' ' + option.valueName;
    return text;
}

QString HelpText()
{
    QString text = QString("Usage: %1 [options] FILE...\n"
                           "Reduces each FILE to a palette of at most 256 colours and writes a palette PNG (1, 2, 4\n"
                           "or 8 bits per index, the fewest that hold the palette; --eight-bit-indices: always 8):\n"
                           "by default OUTPUT/NAME.png in the folder of FILE (the folder is created when\n"
                           "missing). PNG files are read directly; JPEG, BMP, GIF and other formats through Qt.\n"
                           "'-' reads the image from standard input (with -o). Names starting with '-' go after\n"
                           "\"--\".\n\nOptions:\n")
                       .arg(CliProgramName);
    qsizetype width = 0;
    for (const OptionInfo& option : Options())
        width = std::max(width, OptionSpelling(option).size());
    for (const OptionInfo& option : Options()) {
        text += "  " + OptionSpelling(option).leftJustified(width + 2) + option.description;
        if (!option.panelLabel.isEmpty())
            text += QStringLiteral(" [") + option.panelLabel + ']';
        text += '\n';
    }
    text += "\nPresets:\n";
    for (const SettingPreset& preset : SettingPresets())
        text += QString("  %1%2\n").arg(QString::fromUtf8(preset.name).leftJustified(10), preset.summary);
    text +=
        "\nResults and the report are never written through a link owned by another user (only your\n"
        "own links and root's are followed); names are printed with backslash escapes (\\\\, \\n, \\xNN).\n";
    text += "\nExit status: 0 when every file was written (or skipped as up to date), 1 when any file\n"
            "failed, 2 for bad usage, 130 when interrupted (Ctrl+C) and 143 when terminated (SIGTERM);\n"
            "finished files and the report are kept.\n"
            "A result written with a missed target counts as written unless --strict; one left unwritten\n"
            "by --only-if-smaller is not a failure.\n";
    return text;
}

// --curve takes its list only when one follows: "--curve" alone stands for the default counts.
QStringList WithCurveValue(const QStringList& arguments)
{
    static const QRegularExpression list(QStringLiteral("^[0-9]+(,[0-9]+)*$"));
    QStringList out;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (i > 0 && arguments[i] == "--")
            return out + arguments.mid(i);
        if (i > 0 && arguments[i] == "--curve") {
            const bool listFollows = i + 1 < arguments.size() && list.match(arguments[i + 1]).hasMatch();
            out << "--curve=" + (listFollows ? arguments[++i] : QString());
            continue;
        }
        out << arguments[i];
    }
    return out;
}

// Whether two names given on the command line stand for one file: the same absolute spelling, or
// (when both exist) the same file through links.
bool SameFile(const QString& a, const QString& b)
{
    const QFileInfo first(a);
    const QFileInfo second(b);
    if (QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath()))
        return true;
    return first.exists() && second.exists() && first.canonicalFilePath() == second.canonicalFilePath();
}

CliParseResult Usage(const QString& message)
{
    CliParseResult result;
    result.action = CliAction::UsageError;
    result.text = message + QString("\nTry '%1 --help' for more information.").arg(CliProgramName);
    return result;
}

// Sets `row` in `options` from one occurrence of its flag; an error message when the value does
// not fit the row.
std::optional<QString> ApplyRow(const SettingRow& row, bool negated, const QString& text, CliOptions& options,
                                bool& autoColours)
{
    const QString flag = QString::fromUtf8(row.cliFlag);
    switch (row.cliForm) {
    case CliForm::None: break;
    case CliForm::SetsOn: options.settings[row.key] = 1; break;
    case CliForm::SetsOnOrOff:
        options.settings[row.key] = negated ? 0 : 1;
        break;
    case CliForm::SetsOff: options.settings[row.key] = 0; break;
    case CliForm::OnWithFileName:
        if (text.isEmpty())
            return QString("--%1 wants a file name").arg(flag);
        options.settings[row.key] = 1;
        if (row.key == Setting::GivenPalette)
            options.palettePath = text;
        else if (row.key == Setting::KeepFrom)
            options.keepFromPath = text;
        else
            options.weightsPath = text;
        break;
    case CliForm::OnWithValues:
    {
        const auto colour = ParseHexColour(text.trimmed().toStdString());
        if (!colour)
            return QString("--%1 wants a colour #RRGGBB or #RRGGBBAA, not '%2'").arg(flag, text);
        options.settings[row.key] = 1;
        AddDistinct(options.keepColours, *colour);
        if (options.keepColours.size() > MaxPaletteColours)
            return QString("--%1 keeps at most %2 colours").arg(flag).arg(MaxPaletteColours);
        break;
    }
    case CliForm::Value:
        if (row.kind == SettingKind::Choice) {
            QStringList names;
            for (const char* choice : row.choices)
                names << QString::fromUtf8(choice);
            const qsizetype index = names.indexOf(text.trimmed());
            if (index < 0)
                return QString("--%1 wants one of %2, not '%3'").arg(flag, names.join(", "), text);
            options.settings[row.key] = static_cast<int>(index);
            break;
        }
        if (row.key == Setting::Colours && text.trimmed() == "auto") {
            options.settings[row.key] = row.high; // the target chooses; the whole range is open to it
            autoColours = true;
            break;
        }
        bool ok = false;
        const int value = text.trimmed().toInt(&ok, 10);
        if (!ok || value < row.low || value > row.high)
            return QString("--%1 wants a whole number from %2 to %3, not '%4'")
                .arg(flag)
                .arg(row.low)
                .arg(row.high)
                .arg(text);
        options.settings[row.key] = value;
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::uint64_t> ParseByteSize(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]+(\\.[0-9]+)?)([kKmM]?)$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QString unit = match.captured(3).toLower();
    const double scale = unit == "k" ? 1024.0 : unit == "m" ? 1048576.0 : 1.0;
    const double bytes = match.captured(1).toDouble() * scale;
    // A whole number of bytes, below what a file of any image could come to.
    if (!(bytes >= 1.0 && bytes < 1e18))
        return std::nullopt;
    return static_cast<std::uint64_t>(bytes);
}

CliParseResult ParseCliOptions(const QStringList& arguments, int processors)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionInfo& option : Options()) {
        QCommandLineOption qtOption(option.names, option.description, option.valueName);
        parser.addOption(qtOption);
    }
    parser.addPositionalArgument("FILE", "Images to reduce.", "FILE...");

    if (!parser.parse(WithCurveValue(arguments)))
        return Usage(parser.errorText());

    CliParseResult result;
    if (parser.isSet("help")) {
        result.action = CliAction::ShowHelp;
        result.text = HelpText();
        return result;
    }
    if (parser.isSet("version")) {
        result.action = CliAction::ShowVersion;
        result.text = QString("%1 %2\n").arg(CliProgramName, TESSALINE_VERSION);
        return result;
    }

    CliOptions& options = result.options;
    // The preset first (the last one given), then the flags in command-line order: a flag is
    // what the user asked for wherever it stands, and a later flag overrides an earlier one.
    for (const QString& text : parser.values("preset")) {
        const SettingPreset* preset = FindPreset(text.trimmed().toStdString());
        if (preset == nullptr)
            return Usage(
                QString("--preset wants one of %1, not '%2'").arg(QString::fromStdString(PresetNames()), text));
        options.settings = SettingValues();
        ApplyPreset(*preset, options.settings);
    }
    QHash<QString, qsizetype> occurrences;
    bool autoColours = false;
    for (const QString& name : parser.optionNames()) {
        const OptionInfo* option = FindOption(name);
        if (option == nullptr || option->row == nullptr)
            continue;
        const QStringList values = parser.values(name);
        const qsizetype occurrence = occurrences[name]++;
        const QString text = occurrence < values.size() ? values[occurrence] : QString();
        if (const auto error = ApplyRow(*option->row, option->negated, text, options, autoColours))
            return Usage(*error);
    }
    options.quiet = parser.isSet("quiet");
    options.timings = parser.isSet("timings");
    if (parser.isSet("output")) {
        options.outputPath = parser.value("output");
        if (options.outputPath.isEmpty())
            return Usage("-o wants a file name");
    }
    if (parser.isSet("output-dir")) {
        options.outputDir = parser.value("output-dir");
        if (options.outputDir.isEmpty())
            return Usage("--output-dir wants a folder name");
    }
    options.recursive = parser.isSet("recursive");
    options.skipExisting = parser.isSet("skip-existing");
    if (parser.isSet("jobs")) {
        bool ok = false;
        const int jobs = parser.value("jobs").trimmed().toInt(&ok, 10);
        if (!ok || jobs < 0 || jobs > MaxCliJobs)
            return Usage(QString("-j wants a whole number from 0 to %1, not '%2'").arg(MaxCliJobs).arg(parser.value("jobs")));
        options.jobs = jobs == 0 ? std::max(1, processors) : jobs;
    }
    if (parser.isSet("save-palette")) {
        options.savePalettePath = parser.value("save-palette");
        if (options.savePalettePath.isEmpty())
            return Usage("--save-palette wants a file name");
    }
    if (parser.isSet("report")) {
        options.reportPath = parser.value("report");
        const QString suffix = QFileInfo(options.reportPath).suffix().toLower();
        if (suffix != "jsonl" && suffix != "csv")
            return Usage(QString("--report wants a file ending in .jsonl or .csv, not '%1'").arg(options.reportPath));
    }
    if (parser.isSet("min-psnr")) {
        bool ok = false;
        const double decibels = parser.value("min-psnr").trimmed().toDouble(&ok);
        if (!ok || !(decibels > 0.0 && decibels <= MaxMinPsnr))
            return Usage(QString("--min-psnr wants decibels above 0 and at most %1, not '%2'")
                             .arg(MaxMinPsnr)
                             .arg(parser.value("min-psnr")));
        options.minPsnr = decibels;
    }
    if (parser.isSet("max-error")) {
        bool ok = false;
        const int levels = parser.value("max-error").trimmed().toInt(&ok, 10);
        if (!ok || levels < 0 || levels > 255)
            return Usage(QString("--max-error wants a whole number from 0 to 255, not '%1'")
                             .arg(parser.value("max-error")));
        options.maxError = levels;
    }
    if (parser.isSet("max-bytes")) {
        options.maxBytes = ParseByteSize(parser.value("max-bytes"));
        if (!options.maxBytes)
            return Usage(QString("--max-bytes wants a size such as 50000, 120k or 1.5M, not '%1'")
                             .arg(parser.value("max-bytes")));
    }
    if (autoColours && !options.minPsnr && !options.maxError && !options.maxBytes)
        return Usage("--colours auto needs a target: --min-psnr, --max-error or --max-bytes");
    if ((options.minPsnr || options.maxError) && options.maxBytes)
        return Usage("--max-bytes cannot be combined with --min-psnr or --max-error: one seeks the fewest "
                     "colours, the other the most");
    options.strict = parser.isSet("strict");
    options.onlyIfSmaller = parser.isSet("only-if-smaller");
    if (parser.isSet("curve")) {
        options.curve = true;
        const QString list = parser.value("curve").trimmed();
        if (!list.isEmpty()) {
            for (const QString& item : list.split(',')) {
                bool ok = false;
                const int colours = item.trimmed().toInt(&ok, 10);
                if (!ok || colours < 2 || colours > 256)
                    return Usage(
                        QString("--curve wants counts from 2 to 256 separated by commas, not '%1'").arg(list));
                options.curveCounts.push_back(static_cast<std::uint32_t>(colours));
            }
        }
    }
    options.inputs = parser.positionalArguments();

    if (options.inputs.isEmpty())
        return Usage("no input files");
    for (const QString& input : options.inputs)
        if (input.isEmpty())
            return Usage("an input file name is empty");
    if (options.inputs.count(CliStandardStream) > 1)
        return Usage("standard input ('-') can be read only once");
    if (options.inputs.contains(CliStandardStream) && options.outputPath.isEmpty())
        return Usage("an image from standard input ('-') needs -o PATH (or -o - for standard output)");
    if (options.recursive && !options.outputPath.isEmpty())
        for (const QString& input : options.inputs)
            if (input != CliStandardStream && QFileInfo(input).isDir())
                return Usage(QString("-o names one result, but %1 is a folder").arg(input));
    if (!options.outputPath.isEmpty() && options.inputs.size() > 1)
        return Usage(QString("-o names one result, but %1 input files were given").arg(options.inputs.size()));
    if (options.onlyIfSmaller && options.outputPath == CliStandardStream)
        return Usage("--only-if-smaller cannot write to standard output ('-o -'): a result left unwritten "
                     "would leave the pipe empty; name a file with -o");
    if (!options.outputPath.isEmpty() && !options.outputDir.isEmpty())
        return Usage("-o and --output-dir cannot be used together");
    if (!options.reportPath.isEmpty() && !options.outputPath.isEmpty() &&
        options.outputPath != CliStandardStream && SameFile(options.reportPath, options.outputPath))
        return Usage("-o and --report name the same file");
    const SettingValues& settings = options.settings;
    if (settings.On(Setting::Ie6) && parser.isSet("opacity") && settings[Setting::Opacity] != Ie6Opacity)
        return Usage(QString("--ie6 holds the opacity threshold at %1; it cannot be combined with --opacity %2")
                         .arg(Ie6Opacity)
                         .arg(settings[Setting::Opacity]));
    if (settings.On(Setting::GivenPalette) && (settings.On(Setting::KeepColours) || settings.On(Setting::KeepFrom)))
        return Usage("--palette gives every entry; --keep and --keep-from have nothing to keep colours around");
    // The given palette is every result's palette: a flag that would choose one has nothing to do.
    if (settings.On(Setting::GivenPalette) && settings.On(Setting::SharedPalette))
        return Usage("--palette gives the palette every result takes; --shared-palette has none to choose");
    if (settings.On(Setting::GivenPalette) && parser.isSet("colours"))
        return Usage("--palette gives the palette with all its entries; --colours has no count to choose");
    if (settings.On(Setting::SharedPalette) && options.inputs.contains(CliStandardStream))
        return Usage("--shared-palette reads each input twice; standard input ('-') can be read only once");
    if (!options.savePalettePath.isEmpty() && !settings.On(Setting::SharedPalette) &&
        !settings.On(Setting::GivenPalette) && (options.inputs.size() > 1 || options.recursive))
        return Usage("--save-palette with several inputs needs --shared-palette (or --palette): otherwise each "
                     "result has a palette of its own");
    if ((options.minPsnr || options.maxError || options.maxBytes || options.curve) &&
        (settings.On(Setting::GivenPalette) || settings.On(Setting::SharedPalette)))
        return Usage("--palette and --shared-palette fix the palette: a colour target or --curve has no count "
                     "to choose");
    if (settings.On(Setting::UseUserWeight) && !settings.On(Setting::ContrastMap))
        return Usage("--weights needs the contrast map: user weights are added to it, so drop --no-contrast-map");

    result.action = CliAction::Run;
    return result;
}

} // namespace tessaline
