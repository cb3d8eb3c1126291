// app/main.cpp: the desktop program's entry. Files named as arguments are opened as a drop;
// --help and --version answer before any window (or display) is needed. Every setting starts at
// its default in the panel.

#include <cstdio>

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/ui_texts.h"
#include "imageio/atomic_file.h"

namespace {

// The process has always ended with 1 after its window was closed normally (the frame's quit
// carries 1); scripts that start it may rely on that.
constexpr int ClosedExitCode = 1;
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

bool AsksForHelpOrVersion(const tessaline::AppCommandLine& commandLine)
{
    return commandLine.action == tessaline::AppCommandLine::Action::ShowHelp ||
           commandLine.action == tessaline::AppCommandLine::Action::ShowVersion;
}

} // namespace

int main(int argc, char* argv[])
{
    // Help and version first, from the raw arguments: no display is needed for them. Anything
    // else waits until Qt has taken its own options (-platform, -style, ...) out of the list.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    int exitCode = 0;
    const tessaline::AppCommandLine early = tessaline::ParseAppCommandLine(rawArguments);
    if (AsksForHelpOrVersion(early) && Answered(early, exitCode))
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
    // (the file dialogs, the overwrite question) when their translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qt"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    {
        tessaline::CMainFrame frame;
        frame.show();
        if (!commandLine.files.isEmpty()) {
            // Once the window is up, as a drop onto it would come.
            QMetaObject::invokeMethod(
                &frame, [&frame, files = commandLine.files] { frame.OnDropFiles(files); },
                Qt::QueuedConnection);
        }
        exitCode = application.exec() == 0 ? ClosedExitCode : 0;
        // The frame goes here, joining its last worker, before the application object.
    }
    return exitCode;
}
