// app/main.cpp: the desktop program's entry. It takes no command-line options: files enter only
// by drag and drop, and every setting starts at its default in the panel.

#include <QApplication>
#include <QIcon>

#include "app/main_frame.h"
#include "app/ui_texts.h"
#include "imageio/atomic_file.h"

namespace {

// The process has always ended with 1 after its window was closed normally (the frame's quit
// carries 1); scripts that start it may rely on that.
constexpr int ClosedExitCode = 1;

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tessaline::InstallTemporaryCleanup(); // a kill while a result is saved leaves no temporary
    QApplication::setApplicationName(tessaline::texts::WindowTitle());
    QApplication::setDesktopFileName(QStringLiteral("tessaline"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessaline/tessaline.png")));

    int exitCode = 0;
    {
        tessaline::CMainFrame frame;
        frame.show();
        exitCode = application.exec() == 0 ? ClosedExitCode : 0;
        // The frame goes here, joining its last worker, before the application object.
    }
    return exitCode;
}
