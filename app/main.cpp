// app/main.cpp: the desktop program's entry. Files named as arguments are opened as a drop;
// --help, --version and bad usage answer before any window (or display) is needed. Every setting starts at
// its default in the panel.

#include <cstdio>

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/command_line.h"
#include "app/run_window.h"
#include "app/ui_texts.h"
#include "imageio/atomic_file.h"

namespace {

constexpr int UsageExitCode = 2;

// Answers --help, --version and bad usage; true when the program should stop there.
bool Answered(const tessaline::AppCommandLine& commandLine, int& exitCode)
{
    using Action = tessaline::AppCommandLine::Action;
    if (commandLine.action == Action::Run)
        return false;
    const bool failed = commandLine.action == Action::Fail;
    std::fputs(qUtf8Printable(commandLine.text), failed ? stderr : stdout);
    exitCode = failed ? UsageExitCode : 0;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // Help, version and bad usage first, from the raw arguments (Qt's own options, -platform,
    // -style..., set aside): no display is needed to answer them, and without one the
    // application object would abort the program before the answer.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    int exitCode = 0;
    const tessaline::AppCommandLine early = tessaline::ParseAppCommandLine(rawArguments);
    if (Answered(early, exitCode))
        return exitCode;

    QApplication application(argc, argv);
    tessaline::InstallTemporaryCleanup(); // a kill while a result is saved leaves no temporary
    QApplication::setApplicationName(tessaline::texts::WindowTitle());
    QApplication::setDesktopFileName(QStringLiteral("io.github.tessaline.Tessaline"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessaline/tessaline.png")));
    const tessaline::AppCommandLine commandLine = tessaline::ParseAppCommandLine(QApplication::arguments());
    if (Answered(commandLine, exitCode))
        return exitCode;

    // The window speaks Japanese whatever the session's language, and so do Qt's own dialogs
    // (the file dialogs' buttons, headers and dates, the overwrite question) when their
    // translations are installed.
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    QTranslator qtTexts;
    QTranslator qtBaseTexts;
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (qtTexts.load(japanese, QStringLiteral("qt"), QStringLiteral("_"), translations))
        QApplication::installTranslator(&qtTexts);
    if (qtBaseTexts.load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), translations))
        QApplication::installTranslator(&qtBaseTexts);

    // 0 after a normal close: on Linux only a failure ends otherwise.
    return tessaline::RunWindow(commandLine.files);
}
