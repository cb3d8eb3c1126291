// The program's window from its start to its close, on a 1024 x 600 screen with a window frame
// (the offscreen platform configured so): the first window keeps its whole frame and its status
// bar on the screen's free area, and a normal close ends the run with status 0.

#include <cstdio>
#include <string>

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/image_view.h"
#include "app/main_frame.h"
#include "app/run_window.h"

using namespace tessaline;

class WindowRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // RunWindow remembers the window's state: in a store of the tests' own, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        OpenWindowStore()->clear();
    }

    void FirstWindowFitsTheFreeAreaWithTheStatusBarInside()
    {
        // The preferred size where it fits; otherwise the free area less the frame.
        QCOMPARE(FirstWindowSize(QSize(1024, 768), QSize(1920, 1080), QSize(8, 30)), QSize(1024, 768));
        QCOMPARE(FirstWindowSize(QSize(1024, 768), QSize(1024, 600), QSize(4, 30)), QSize(1020, 570));

        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(available.size(), QSize(1024, 600));
        CMainFrame frame;
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTRY_VERIFY(available.contains(frame.frameGeometry()));
        QVERIFY(frame.frameGeometry().size() != frame.geometry().size()); // a frame was there to fit
        QStatusBar* bar = frame.statusBar();
        QVERIFY(bar->isVisible() && bar->height() > 0);
        QVERIFY(available.contains(QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size())));
        // The views gave up height, and still show something.
        QVERIFY(frame.SourceView()->viewport()->height() > 100);
    }

    void NormalCloseEndsWithStatusZero()
    {
        // Closed once its file has been reduced, as a user would close it.
        QTemporaryDir folder;
        QImage card(24, 16, QImage::Format_ARGB32);
        card.fill(qRgba(30, 120, 200, 255));
        const QString file = folder.filePath(QStringLiteral("card.png"));
        QVERIFY(card.save(file));
        QTimer::singleShot(0, this, [] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* frame = qobject_cast<CMainFrame*>(widget))
                    connect(frame, &CMainFrame::reductionFinished, frame, &QWidget::close,
                            Qt::QueuedConnection);
        });
        QCOMPARE(RunWindow({file}), 0);
    }
};

int main(int argc, char* argv[])
{
    // A 1024 x 600 screen whose windows get a frame, written before the platform starts.
    QTemporaryDir config;
    const QString path = config.filePath(QStringLiteral("screen.json"));
    if (FILE* out = std::fopen(QFile::encodeName(path).constData(), "w")) {
        std::fputs(R"({"windowFrameMargins": true, "screens": [{"name": "small", "x": 0, "y": 0,
                   "width": 1024, "height": 600, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})",
                   out);
        std::fclose(out);
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(path));
    QApplication application(argc, argv);
    WindowRunTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_run_test.moc"
