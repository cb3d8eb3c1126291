// tessaline-cli: reduces image files to palette PNGs without a window. main parses the options and
// hands them to the batch (cli/batch_runner). Only QCoreApplication is created, so no display is
// needed.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <filesystem>

#include "cli/batch_runner.h"
#include "cli/cli_options.h"
#include "engine/parallel.h"
#include "imageio/atomic_file.h"
#include "imageio/input_names.h"

namespace fs = std::filesystem;
using namespace tessaline;

namespace {

// Qt's decoders report damaged data as warnings on stderr; the tool's own line says it already.
void DropQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(message));
}

} // namespace

int main(int argc, char* argv[])
{
    // Before any other thread exists, so that every thread leaves the signals to the watcher.
    WatchBatchInterrupts();
    const int processors = MaxThreads();

    // QCoreApplication, not QGuiApplication: decoding needs the image plugins, not a display, and
    // those are loaded only for a file that is not a PNG (PluginBitmaps).
    QCoreApplication app(argc, argv);
    InstallTemporaryCleanup(); // Ctrl+C or a kill while a result is written leaves no temporary
    qInstallMessageHandler(DropQtMessages);
    QCoreApplication::setApplicationName(CliProgramName);

    // The arguments as the system gave them: a file name need not be UTF-8, and each must reach
    // the file system as the same bytes.
#if defined(_WIN32)
    const QStringList arguments = QCoreApplication::arguments();
#else
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(ToQString(fs::path(argv[i])));
#endif
    const CliParseResult parsed = ParseCliOptions(arguments, processors);
    switch (parsed.action) {
    case CliAction::ShowHelp:
    case CliAction::ShowVersion:
        std::fputs(qUtf8Printable(parsed.text), stdout);
        return CliExitOk;
    case CliAction::UsageError:
    {
        // The message may quote an argument: each of its lines is shown escaped.
        QStringList lines = parsed.text.split('\n');
        for (QString& line : lines)
            line = DisplayName(line);
        std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(lines.join('\n')));
        return CliExitUsage;
    }
    case CliAction::Run:
        break;
    }
    return RunBatch(parsed.options, processors);
}
