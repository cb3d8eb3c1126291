#pragma once
// app/command_line.h: the desktop program's arguments. Files named on the command line are taken
// as a drop (the first, or every one with "自動保存" checked), so that a desktop file's
// "Exec=tessaline %F" and a file manager's "open with" work. --help and --version answer without
// a window, so they work where there is no display.

#include <QString>
#include <QStringList>

namespace tessaline {

struct AppCommandLine
{
    enum class Action
    {
        Run,         ///< open the window with `files`
        ShowHelp,    ///< print `text` to stdout, exit 0
        ShowVersion, ///< print `text` to stdout, exit 0
        Fail,        ///< print `text` to stderr, exit 2
    };
    Action action = Action::Run;
    QString text;
    QStringList files; ///< absolute paths, relative ones taken from the working folder
};

/// Reads `arguments` (the program name first). Names after "--" are files even when they start
/// with "-". No application object is needed.
AppCommandLine ParseAppCommandLine(const QStringList& arguments);

} // namespace tessaline
