#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace tessaline {

namespace {

constexpr const char* ProgramName = "tessaline";

/// `arguments` without the options Qt's application object takes for itself (-platform NAME,
/// -style NAME, -reverse...), so that they can be told from bad ones before there is an
/// application object, which without a display would abort the program. Nothing after "--".
QStringList WithoutQtOptions(const QStringList& arguments)
{
    static const QStringList withValue = {
        "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
        "qwindowicon", "icon", "qwindowtitle", "title", "session", "display", "name", "style",
        "stylesheet", "qmljsdebugger", "qwindowcolors"};
    static const QStringList alone = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0 || argument == QLatin1String("--") || !argument.startsWith('-')) {
            if (argument == QLatin1String("--"))
                return kept + arguments.mid(i);
            kept << argument;
            continue;
        }
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf('=');
        const bool valueAttached = equals >= 0;
        if (valueAttached)
            name.truncate(equals);
        if (withValue.contains(name)) {
            if (!valueAttached)
                ++i; // the value that follows
            continue;
        }
        if (alone.contains(name))
            continue;
        kept << argument;
    }
    return kept;
}

} // namespace

AppCommandLine ParseAppCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reduces the colours of images to a palette PNG, in a window. Each FILE is opened as if\n"
        "dropped on the window: the first one, or all of them in turn when automatic saving is on."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("An image file to open."),
                                 QStringLiteral("[FILE...]"));

    AppCommandLine result;
    const bool parsed = parser.parse(WithoutQtOptions(arguments));
    // Help and version win over everything else, so that a package check always gets its answer.
    if (parser.isSet(help)) {
        result.action = AppCommandLine::Action::ShowHelp;
        // The parser names the running executable (or a placeholder before there is an
        // application object); the usage line names the program.
        QString text = parser.helpText();
        const qsizetype nameStart = text.indexOf(QLatin1Char(' ')) + 1;
        const qsizetype nameEnd = text.indexOf(QLatin1Char(' '), nameStart);
        if (nameStart > 0 && nameEnd > nameStart)
            text.replace(nameStart, nameEnd - nameStart, QString::fromLatin1(ProgramName));
        result.text = text;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = AppCommandLine::Action::ShowVersion;
        result.text = QStringLiteral("%1 %2\n").arg(QString::fromLatin1(ProgramName),
                                                    QStringLiteral(TESSALINE_VERSION));
        return result;
    }
    if (!parsed) {
        result.action = AppCommandLine::Action::Fail;
        result.text = QStringLiteral("%1: %2\nUsage: %1 [options] [FILE...]\nTry '%1 --help' for more "
                                     "information.\n")
                          .arg(QString::fromLatin1(ProgramName), parser.errorText());
        return result;
    }
    for (const QString& name : parser.positionalArguments())
        result.files << QFileInfo(name).absoluteFilePath();
    return result;
}

} // namespace tessaline
