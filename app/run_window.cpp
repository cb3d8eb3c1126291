#include "app/run_window.h"

#include <QApplication>
#include <QSettings>

#include "app/main_frame.h"

namespace tessaline {

int RunWindow(const QStringList& files, ReduceFunction reduce)
{
    CMainFrame frame(reduce);
    frame.RestoreRemembered(*OpenWindowStore());
    frame.SetRemembering(true);
    frame.show();
    if (!files.isEmpty()) {
        // Once the window is up, as a drop onto it would come.
        QMetaObject::invokeMethod(
            &frame, [&frame, files] { frame.OnDropFiles(files); }, Qt::QueuedConnection);
    }
    // exec() gives 0 when the last window was closed; the frame goes after it, joining its
    // last worker, before the application object.
    return QApplication::exec();
}

} // namespace tessaline
