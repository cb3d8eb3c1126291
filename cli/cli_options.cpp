#include "cli/cli_options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <vector>

namespace tessaline {

namespace {

// One option of the tool: its names, the name of its value (empty for a switch), what it does
// and the caption of the panel control it stands for (empty when there is none).
struct OptionInfo
{
    QStringList names;
    QString valueName;
    QString description;
    QString panelLabel;
};

// A slider-backed option: its range and where the parsed value goes.
struct RangeInfo
{
    const char* name;
    int low;
    int high;
    int CliOptions::*field;
};

const std::vector<OptionInfo>& Options()
{
    static const std::vector<OptionInfo> options = {
        {{"colours"}, "N", "Palette entries, 2 to 256 (default 256).", QStringLiteral("色数")},
        {{"opacity"}, "N",
         "Opacity threshold, 1 to 256 (default 256): alpha of N/256 or more becomes opaque, the band below is "
         "raised.",
         QStringLiteral("不透明度閾値")},
        {{"ie6"}, "", "Hold the opacity threshold at 238.", QStringLiteral("IE6不具合回避")},
        {{"no-dither"}, "", "No error diffusion: map every pixel to its nearest entry (\"orderd\").",
         QStringLiteral("アルゴリズム : orderd")},
        {{"transparent-last"}, "", "Put the transparent entry last in the palette.",
         QStringLiteral("透明色をパレットの末尾に置く")},
        {{"no-contrast-map"}, "", "Switch the contrast map off (user weights need it).",
         QStringLiteral("コントラストマップを使用する")},
        {{"no-dither-map"}, "", "Do not let the dither map steer the error diffusion.",
         QStringLiteral("ディザーマップを使用する")},
        {{"fast-histogram"}, "", "Start the histogram with one ignored bit per channel.",
         QStringLiteral("ヒストグラムの収束を早める")},
        {{"histogram"}, "G", "Histogram size G, 0 to 63 (default 10): G * 262144 + 131072 colours.",
         QStringLiteral("ヒストグラム最大色数")},
        {{"feedback"}, "N", "Median-cut feedback trials, 0 to 49 (default 49).",
         QStringLiteral("メディアンカットフィードバックループ試行回数")},
        {{"voronoi"}, "N", "Voronoi refinement repetitions, 0 to 7 (default 7).",
         QStringLiteral("ボロノイ分割繰り返し回数")},
        {{"convergence"}, "E", "Voronoi convergence error 1 / 2^E, E 13 to 22 (default 22).",
         QStringLiteral("ボロノイ分割収束誤差")},
        {{"weights"}, "FILE",
         "Image of the source's size whose alpha is the painted user weight; switches user weight on.",
         QStringLiteral("ユーザーウェイトを使用する")},
        {{"user-weight"}, "N", "Scale of the painted user weight, 0 to 100 (default 15).",
         QStringLiteral("ユーザーウェイト")},
        {{"compression"}, "LEVEL",
         "PNG compression: \"default\" (fast, no larger than zlib's best) or \"max\" (smallest, slower).", ""},
        {{"o", "output"}, "PATH", "Write the result of the single input to PATH.", ""},
        {{"output-dir"}, "DIR", "Write NAME.png into DIR (created when missing) instead of OUTPUT/.", ""},
        {{"q", "quiet"}, "", "No progress bar and no summary lines; failures are still reported.", ""},
        {{"timings"}, "", "Print the milliseconds each stage took.", ""},
        {{"h", "help"}, "", "Show this help and exit.", ""},
        {{"version"}, "", "Show the version and exit.", ""},
    };
    return options;
}

const std::vector<RangeInfo>& Ranges()
{
    static const std::vector<RangeInfo> ranges = {
        {"colours", 2, 256, &CliOptions::colours},       {"opacity", 1, 256, &CliOptions::opacity},
        {"histogram", 0, 63, &CliOptions::histogram},    {"feedback", 0, 49, &CliOptions::feedback},
        {"voronoi", 0, 7, &CliOptions::voronoi},         {"convergence", 13, 22, &CliOptions::convergence},
        {"user-weight", 0, 100, &CliOptions::userWeight},
    };
    return ranges;
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
                           "Reduces each FILE to a palette of at most 256 colours and writes an 8-bit palette PNG:\n"
                           "by default OUTPUT/NAME.png in the folder of FILE (the folder is created when\n"
                           "missing). PNG files are read directly; JPEG, BMP, GIF and other formats through Qt.\n"
                           "Names starting with '-' go after \"--\".\n\nOptions:\n")
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
    text += "\nExit status: 0 when every file was written, 1 when any file failed, 2 for bad usage.\n";
    return text;
}

CliParseResult Usage(const QString& message)
{
    CliParseResult result;
    result.action = CliAction::UsageError;
    result.text = message + QString("\nTry '%1 --help' for more information.").arg(CliProgramName);
    return result;
}

} // namespace

CliParseResult ParseCliOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionInfo& option : Options()) {
        QCommandLineOption qtOption(option.names, option.description, option.valueName);
        parser.addOption(qtOption);
    }
    parser.addPositionalArgument("FILE", "Images to reduce.", "FILE...");

    if (!parser.parse(arguments))
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
    for (const RangeInfo& range : Ranges()) {
        if (!parser.isSet(range.name))
            continue;
        const QString text = parser.value(range.name);
        bool ok = false;
        const int value = text.trimmed().toInt(&ok, 10);
        if (!ok || value < range.low || value > range.high)
            return Usage(QString("--%1 wants a whole number from %2 to %3, not '%4'")
                             .arg(range.name)
                             .arg(range.low)
                             .arg(range.high)
                             .arg(text));
        options.*range.field = value;
    }
    options.ie6 = parser.isSet("ie6");
    options.noDither = parser.isSet("no-dither");
    options.transparentLast = parser.isSet("transparent-last");
    options.contrastMap = !parser.isSet("no-contrast-map");
    options.ditherMap = !parser.isSet("no-dither-map");
    options.fastHistogram = parser.isSet("fast-histogram");
    options.quiet = parser.isSet("quiet");
    options.timings = parser.isSet("timings");
    if (parser.isSet("weights")) {
        options.weightsPath = parser.value("weights");
        if (options.weightsPath.isEmpty())
            return Usage("--weights wants a file name");
    }
    if (parser.isSet("compression")) {
        const QString text = parser.value("compression");
        const std::optional<PngCompression> compression = PngCompressionFromName(text.toStdString());
        if (!compression)
            return Usage(QString("--compression wants \"default\" or \"max\", not '%1'").arg(text));
        options.compression = *compression;
    }
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
    options.inputs = parser.positionalArguments();

    if (options.inputs.isEmpty())
        return Usage("no input files");
    for (const QString& input : options.inputs)
        if (input.isEmpty())
            return Usage("an input file name is empty");
    if (!options.outputPath.isEmpty() && options.inputs.size() > 1)
        return Usage(QString("-o names one result, but %1 input files were given").arg(options.inputs.size()));
    if (!options.outputPath.isEmpty() && !options.outputDir.isEmpty())
        return Usage("-o and --output-dir cannot be used together");
    if (options.ie6 && parser.isSet("opacity") && options.opacity != 238)
        return Usage("--ie6 holds the opacity threshold at 238; it cannot be combined with --opacity " +
                     QString::number(options.opacity));
    if (options.UseUserWeight() && !options.contrastMap)
        return Usage("--weights needs the contrast map: user weights are added to it, so drop --no-contrast-map");

    result.action = CliAction::Run;
    return result;
}

PanelValues ToPanelValues(const CliOptions& options)
{
    PanelValues panel;
    panel.colours = options.colours;
    panel.opacity = options.EffectiveOpacity();
    panel.floydNotChosen = options.noDither;
    panel.transparentLast = options.transparentLast;
    panel.contrastMap = options.contrastMap;
    panel.ditherMap = options.ditherMap;
    panel.fastHistogram = options.fastHistogram;
    panel.histogramLimit = PanelValues::HistogramLimit(options.histogram);
    panel.feedbackTrials = options.feedback;
    panel.voronoiIterations = options.voronoi;
    panel.convergenceExponent = options.convergence;
    // The window offers user weights only while the contrast map is on; parsing refuses the
    // other combination, and this keeps the rule for options built any other way.
    panel.useUserWeight = options.UseUserWeight() && options.contrastMap;
    panel.userWeight = options.userWeight;
    return panel;
}

} // namespace tessaline
