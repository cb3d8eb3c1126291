// Main frame, driven as the user would: files dropped as text/uri-list, the panel's buttons, the
// zoom list, the brush, and closing the window. Images are written by the test into a temporary
// folder; they are small so that every reduction is quick.

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColorSpace>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "app/batch_list_dialog.h"
#include "app/colour_curve_view.h"
#include "app/batch_outcomes.h"
#include "app/command_line.h"
#include "app/compare_bar.h"
#include "app/image_view.h"
#include "app/main_frame.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/ui_texts.h"
#include "app/top_panel_view.h"
#include "engine/reduce_pipeline.h"
#include "imageio/input_names.h"
#include "tests/app/drop_files.h"

using namespace tessaline;

namespace {

constexpr int WaitMs = 60000;

// A reduction that records the job's user weights, can be held back until released, and then
// runs the real pipeline.
struct ReductionProbe
{
    std::mutex lock;
    std::condition_variable changed;
    bool hold = false;
    bool holding = false;
    bool sawWeights = false;
    std::vector<float> weights;
    int forcedCode = -1; ///< when 0 or more: report this code without reducing
    bool untilCancelled = false; ///< work until the job's cancel flag is set, then report it
};
ReductionProbe probe;

int ProbedReduce(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output)
{
    {
        std::unique_lock<std::mutex> guard(probe.lock);
        probe.sawWeights = settings.userWeights != nullptr;
        probe.weights.clear();
        if (settings.userWeights)
            probe.weights.assign(settings.userWeights.get(),
                                 settings.userWeights.get() + std::size_t{input.width} * input.height);
        if (probe.hold) {
            for (int stage = 2; stage <= 11; ++stage)
                settings.progress->ReportProgress(stage);
            probe.holding = true;
            probe.changed.notify_all();
            probe.changed.wait(guard, [] { return !probe.hold; });
            probe.holding = false;
        }
        if (probe.forcedCode >= 0)
            return probe.forcedCode;
        if (probe.untilCancelled) {
            probe.holding = true;
            probe.changed.notify_all();
        }
    }
    if (probe.untilCancelled) {
        // Busy as a long stage would be, looking at the flag as the engine's loops do.
        while (!CancelRequested(settings.cancel))
            std::this_thread::yield();
        std::lock_guard<std::mutex> guard(probe.lock);
        probe.holding = false;
        return ReduceCancelled;
    }
    ReduceSettings quiet; // the real run, without a second set of progress reports
    quiet.maxColours = settings.maxColours;
    quiet.minOpacity = settings.minOpacity;
    quiet.dither = settings.dither;
    quiet.contrastMapLevel = settings.contrastMapLevel;
    quiet.useDitherMap = settings.useDitherMap;
    quiet.maxHistogramEntries = settings.maxHistogramEntries;
    quiet.feedbackTrials = settings.feedbackTrials;
    quiet.voronoiIterations = settings.voronoiIterations;
    quiet.convergenceDenominator = settings.convergenceDenominator;
    return ReducePipeline(quiet, input, output);
}

void Release()
{
    std::lock_guard<std::mutex> guard(probe.lock);
    probe.hold = false;
    probe.changed.notify_all();
}

// A w x h test card: colour gradients with a translucent band across the middle.
QImage TestCard(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x * 255 / w, y * 255 / h, (x + y) * 127 / (w + h),
                                       (y > h / 3 && y < h / 2) ? 128 : 255));
    return image;
}

void Drop(CMainFrame& frame, const QStringList& files)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    mime.setUrls(urls);
    QVERIFY(apptest::DropMime(frame, mime));
}

template <typename T> T* Control(CMainFrame& frame, const char* id)
{
    T* control = frame.Panel()->findChild<T*>(QString::fromLatin1(id));
    if (!control)
        qFatal("control %s missing", id);
    return control;
}

// Runs every event posted to `receiver` so far, a queued completion report included: returns
// once a marker posted after them has been handled.
bool DrainPostedEvents(QObject& receiver)
{
    bool reached = false;
    QMetaObject::invokeMethod(&receiver, [&reached] { reached = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&reached] { return reached; }, WaitMs);
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// The process's mapped address space in bytes (VmSize), or 0 when it cannot be read.
qint64 AddressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() << 10;
    return 0;
}
#endif

// What `widget` shows on screen: the window's backing store, as the platform holds it, unlike
// QWidget::grab, which paints afresh and so cannot tell a missing repaint.
QImage OnScreen(QWidget* widget)
{
    QWidget* window = widget->window();
    const QImage whole = window->screen()->grabWindow(window->winId()).toImage();
    return whole.copy(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()));
}

// Whether `view` shows its bitmap at its scale at a few viewport points (opaque image pixels).
bool ShowsItsBitmap(CImageView* view)
{
    const QImage shot = OnScreen(view->viewport());
    for (const QPoint point : {QPoint(5, 5), QPoint(37, 21), QPoint(150, 90), QPoint(90, 40)}) {
        const QPoint pixel = view->ViewToImage(point);
        if (!view->Bitmap().rect().contains(pixel) || qAlpha(view->Bitmap().pixel(pixel)) != 255)
            continue;
        if (shot.pixel(point) != view->Bitmap().pixel(pixel))
            return false;
    }
    return true;
}

// Waits until the frame is idle with nothing queued.
bool WaitIdle(CMainFrame& frame)
{
    return QTest::qWaitFor(
        [&] { return !frame.WalkingFolders() && !frame.Reducing() && frame.PendingCount() == 0; }, WaitMs);
}

} // namespace

class MainFrameTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

    QString Write(const QString& name, const QImage& image, const char* format = nullptr)
    {
        const QString path = folder.filePath(name);
        if (!image.save(path, format))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void init()
    {
        std::lock_guard<std::mutex> guard(probe.lock);
        probe.hold = false;
        probe.sawWeights = false;
        probe.weights.clear();
        probe.forcedCode = -1;
        probe.untilCancelled = false;
        probe.holding = false;
        QDir(folder.path()).removeRecursively();
        QDir().mkpath(folder.path());
    }

    void StartsReadyWithTheLayout()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(frame.windowTitle(), QStringLiteral("Tessaline"));
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("レディ"));
        // 210 pixels, or more where the font's dialog units need it: no control is cut off.
        QCOMPARE(frame.Panel()->height(), std::max(210, frame.Panel()->minimumHeight()));
        for (const QWidget* control : frame.Panel()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(control->geometry().bottom() < frame.Panel()->height(), qPrintable(control->objectName()));
        QVERIFY(frame.ProgressBar()->isHidden());
        QCOMPARE(frame.ProgressBar()->minimum(), 0);
        QCOMPARE(frame.ProgressBar()->maximum(), 12);
        QVERIFY(frame.SourceView()->x() < frame.ResultView()->x());
        QVERIFY(std::abs(frame.SourceView()->width() - frame.ResultView()->width()) < 16);
        // Growing the window (maximising) widens both views alike.
        const int left = frame.SourceView()->width();
        frame.resize(frame.width() + 200, frame.height());
        QTRY_VERIFY(frame.SourceView()->width() > left + 50);
        QVERIFY(std::abs(frame.SourceView()->width() - frame.ResultView()->width()) < 16);
    }

    // 全体表示 shows the whole image in the smaller pane without a scroll bar, and follows every
    // resize of the window.
    void FitFollowsThePanesAndLeavesNoScrollBar()
    {
        CMainFrame frame(&ProbedReduce);
        frame.resize(1024, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        Drop(frame, {Write("fit.png", TestCard(900, 700))});
        QVERIFY(WaitIdle(frame));
        // Scrolled at x4 first: the bars are there, and the fit must take them away.
        Control<QComboBox>(frame, "1035")->setCurrentIndex(2);
        QVERIFY(frame.SourceView()->horizontalScrollBar()->maximum() > 0);
        Control<QComboBox>(frame, "1035")->setCurrentIndex(10);
        const auto checkFit = [&frame]() -> bool {
            for (CImageView* view : {frame.SourceView(), frame.ResultView()}) {
                const QSize shown((900 * view->Zoom() + view->Shrink() - 1) / view->Shrink(),
                                  (700 * view->Zoom() + view->Shrink() - 1) / view->Shrink());
                if (view->horizontalScrollBar()->isVisible() || view->verticalScrollBar()->isVisible() ||
                    shown.width() > view->viewport()->width() || shown.height() > view->viewport()->height() ||
                    view->horizontalScrollBar()->maximum() != 0 || view->verticalScrollBar()->maximum() != 0)
                    return false;
            }
            // The largest scale that fits: reduced, the image fills the pane's width or height.
            const CImageView* view = frame.SourceView();
            const QSize room = view->viewport()->size();
            const QSize shown((900 * view->Zoom() + view->Shrink() - 1) / view->Shrink(),
                              (700 * view->Zoom() + view->Shrink() - 1) / view->Shrink());
            const QSize other = frame.ResultView()->viewport()->size();
            if (view->Shrink() == 1) // magnified in whole blocks: one more would not fit
                return 900 * (view->Zoom() + 1) > room.width() || 700 * (view->Zoom() + 1) > room.height();
            return shown.width() >= std::min(room.width(), other.width()) - 4 ||
                   shown.height() >= std::min(room.height(), other.height()) - 4;
        };
        const auto scale = [&frame] { return double(frame.SourceView()->Zoom()) / frame.SourceView()->Shrink(); };
        QTRY_VERIFY(checkFit());
        const double small = scale();
        QVERIFY(small < 1);
        frame.resize(1900, 1040);
        QTRY_VERIFY(scale() > small);
        QTRY_VERIFY(checkFit());
        const double large = scale();
        frame.resize(1024, 600);
        QTRY_VERIFY(scale() < large);
        QTRY_VERIFY(checkFit());
    }

    // On a 1024 x 600 screen the views keep most of the window's height with the settings and
    // the colour curve open; the settings dock folds away and comes back with F9.
    void ViewsKeepTheHeightOnASmallScreen()
    {
        CMainFrame frame(&ProbedReduce);
        frame.resize(1024, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.CompareBar()->CurveButton()->click();
        QVERIFY(frame.SettingsDock()->isVisible());
        QTRY_VERIFY(frame.CurveView()->isVisible());
        QTRY_VERIFY2(frame.SourceView()->height() > frame.height() / 2,
                     qPrintable(QStringLiteral("%1 of %2").arg(frame.SourceView()->height()).arg(frame.height())));
        const int open = frame.SourceView()->height();
        QTest::keyClick(&frame, Qt::Key_F9);
        QTRY_VERIFY(frame.SourceView()->height() > open);
        QTest::keyClick(&frame, Qt::Key_F9);
        QTRY_VERIFY(frame.SettingsDock()->isVisible());
    }

    // Ctrl++ / Ctrl+- / Ctrl+wheel step through the zoom list from the scale on show, Ctrl+0
    // fits, Ctrl+1 returns to x1, F5 reduces again.
    void ZoomKeysAndPreviewKey()
    {
        CMainFrame frame(&ProbedReduce);
        frame.resize(1024, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        Drop(frame, {Write("keys.png", TestCard(600, 500))});
        QVERIFY(WaitIdle(frame));
        CImageView* view = frame.SourceView();
        QTest::keyClick(&frame, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(view->Zoom(), 2);
        const QPointF at(30, 30);
        QWheelEvent up(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &up);
        QCOMPARE(view->Zoom(), 4);
        QCOMPARE(view->ScrollPosition(), QPoint(0, 0)); // the wheel zoomed and did not scroll
        QTest::keyClick(&frame, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(view->Zoom(), 2);
        QTest::keyClick(&frame, Qt::Key_0, Qt::ControlModifier);
        QVERIFY(frame.Panel()->ZoomFits());
        const double fitted = double(view->Zoom()) / view->Shrink();
        QVERIFY(fitted < 1);
        QTest::keyClick(&frame, Qt::Key_Minus, Qt::ControlModifier);
        QVERIFY(!frame.Panel()->ZoomFits());
        QVERIFY(double(view->Zoom()) / view->Shrink() < fitted);
        QTest::keyClick(&frame, Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(view->Zoom(), 1);
        QCOMPARE(view->Shrink(), 1);
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        QTest::keyClick(&frame, Qt::Key_F5);
        QVERIFY(finished.count() > 0 || finished.wait(WaitMs));
    }

    // A dropped folder adds the images under it in the order tessaline-cli -r takes them: name
    // order, subfolders walked in place, hidden files and OUTPUT left out.
    void DroppedFolderAddsItsImagesInWalkOrder()
    {
        const QString root = folder.filePath(QStringLiteral("photos"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/b-sub")));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/OUTPUT")));
        for (const char* name : {"photos/c.png", "photos/a.png", "photos/b-sub/z.png", "photos/.hidden.png",
                                 "photos/OUTPUT/old.png"})
            Write(QString::fromUtf8(name), TestCard(8, 8));
        QFile notes(root + QStringLiteral("/notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not an image") > 0);
        notes.close();
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {root});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.FileListCount(), std::size_t{3});
        QCOMPARE(frame.windowTitle(), QStringLiteral("a.png - Tessaline"));
        for (const char* next : {"z.png - Tessaline", "c.png - Tessaline"}) {
            frame.ShowNextFile();
            QVERIFY(WaitIdle(frame));
            QCOMPARE(frame.windowTitle(), QString::fromUtf8(next));
        }
        // A folder without images says so and changes nothing.
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("empty"))));
        Drop(frame, {folder.filePath(QStringLiteral("empty"))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.FileListCount(), std::size_t{3});
        QCOMPARE(frame.statusBar()->currentMessage(), texts::NoImagesInFolder());

        // The walk runs off the UI thread: a file dropped while it runs is taken after the
        // folder's images (it joins the list during their first load and comes next), not before.
        const QString single = Write(QStringLiteral("single.png"), TestCard(8, 8));
        CMainFrame later(&ProbedReduce);
        later.show();
        Drop(later, {root});
        QVERIFY(later.WalkingFolders()); // its end is reported through the event loop
        Drop(later, {single});
        QVERIFY(WaitIdle(later));
        QCOMPARE(later.FileListCount(), std::size_t{4});
        QCOMPARE(later.windowTitle(), QStringLiteral("single.png - Tessaline"));

        // A window closed during a walk stops it and waits for it.
        auto closing = std::make_unique<CMainFrame>(&ProbedReduce);
        Drop(*closing, {root});
        closing.reset();
    }

    // The panel's settings, 自動保存, the zoom and the docks come back at the next start (from a
    // store of the tests' own); 初期設定に戻す puts the panel back to the table's defaults.
    void SettingsAreRememberedAndDefaultsRestored()
    {
        QStandardPaths::setTestModeEnabled(true);
        OpenWindowStore()->clear();
        {
            CMainFrame frame(&ProbedReduce);
            frame.SetRemembering(true);
            frame.show();
            Control<QSlider>(frame, "1017")->setValue(37);
            Control<QSlider>(frame, "1028")->setValue(5);
            Control<QCheckBox>(frame, "1003")->setChecked(true); // IE6: the opacity held at 238
            Control<QCheckBox>(frame, "1024")->setChecked(false); // no contrast map
            Control<QRadioButton>(frame, "1008")->setChecked(true);
            Control<QCheckBox>(frame, "1021")->setChecked(true);
            Control<QComboBox>(frame, "1035")->setCurrentIndex(3);
            frame.SettingsDock()->hide();
            QVERIFY(frame.close());
        }
        CMainFrame again(&ProbedReduce);
        again.RestoreRemembered(*OpenWindowStore());
        again.show();
        const SettingValues values = again.Panel()->Values();
        QCOMPARE(values[Setting::Colours], 37);
        QCOMPARE(values[Setting::Feedback], 5);
        QCOMPARE(values[Setting::Ie6], 1);
        QCOMPARE(values[Setting::Opacity], Ie6Opacity);
        QCOMPARE(values[Setting::ContrastMap], 0);
        QCOMPARE(values[Setting::Dither], 0);
        QVERIFY(again.Panel()->AutoSaveChecked());
        QCOMPARE(again.Panel()->ZoomFactor(), 8);
        QVERIFY(!again.SettingsDock()->isVisible());

        Control<QPushButton>(again, "1041")->click();
        QCOMPARE(again.Panel()->Values(), SettingValues());
        QVERIFY(!again.Panel()->AutoSaveChecked());
        QCOMPARE(again.Panel()->ZoomFactor(), 1);
        OpenWindowStore()->clear();
    }

    // パレット保存 proposes a name made from the image's, free and never an input.
    void PaletteSaveIsNamedAfterTheImage()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("海の写真.png", TestCard(40, 30))});
        QVERIFY(WaitIdle(frame));
        const std::filesystem::path proposed = frame.PaletteChoice()->ProposedName();
        QCOMPARE(ToQString(proposed.filename()),
                 QStringLiteral("海の写真-palette-%1.png").arg(frame.Result().paletteSize));
        QCOMPARE(ToQString(proposed.parent_path()), folder.path());
    }

    // Colours locked in one image's palette are shown beside the strip while they hold and are
    // let go when another image comes.
    void LocksBelongToTheirImage()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("first.png", TestCard(40, 30))});
        QVERIFY(WaitIdle(frame));
        CPaletteStrip* strip = frame.CompareBar()->Strip();
        QVERIFY(strip->EntryCount() > 1);
        strip->ToggleLock(0);
        strip->ToggleLock(1);
        QPushButton* locks = frame.CompareBar()->LocksButton();
        QVERIFY(locks->isVisible());
        QVERIFY2(locks->text().contains(QStringLiteral("2")), qPrintable(locks->text()));
        QVERIFY(locks->toolTip().contains(QStringLiteral("#%1").arg(strip->EntryColour(0), 8, 16, QLatin1Char('0')).toUpper()));
        Drop(frame, {Write("second.png", TestCard(30, 40))});
        QVERIFY(WaitIdle(frame));
        QVERIFY(strip->LockedColours().empty());
        QVERIFY(!locks->isVisible());
        // The button lets them all go at once.
        strip->ToggleLock(0);
        QVERIFY(locks->isVisible());
        locks->click();
        QVERIFY(strip->LockedColours().empty());
        QVERIFY(!locks->isVisible());
    }

    // While a file reduces, the progress bar leaves the message beside it readable.
    void MessageStaysBesideTheProgress()
    {
        CMainFrame frame(&ProbedReduce);
        frame.resize(1024, 600);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.hold = true;
        }
        Drop(frame, {Write("held.png", TestCard(30, 30))});
        QVERIFY(QTest::qWaitFor(
            [] {
                std::lock_guard<std::mutex> guard(probe.lock);
                return probe.holding;
            },
            WaitMs));
        Drop(frame, {Write("n.png", TestCard(20, 20))});
        const QString message = frame.statusBar()->currentMessage();
        const int progressLeft = frame.ProgressBar()->x();
        const bool progressShown = frame.ProgressBar()->isVisible();
        Release();
        QVERIFY(WaitIdle(frame));
        QVERIFY2(message.contains(QStringLiteral("n.png")), qPrintable(message));
        QVERIFY(progressShown);
        const int textRight = frame.statusBar()->fontMetrics().horizontalAdvance(message) + 8;
        QVERIFY2(progressLeft > textRight, qPrintable(QStringLiteral("%1 %2 %3").arg(progressLeft).arg(textRight).arg(frame.statusBar()->width())));
    }

    void DroppedFileIsReducedAndShown()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy shown(&frame, &CMainFrame::resultShown);
        const QString path = Write(QStringLiteral("テスト 画像.png"), TestCard(40, 30));
        Drop(frame, {path});
        QVERIFY(shown.wait(WaitMs) || shown.count() == 1);
        QVERIFY(WaitIdle(frame));
        const QString status = frame.statusBar()->currentMessage();
        // The processing time first, then the result's figures.
        QVERIFY2(status.startsWith(QStringLiteral("処理時間 : ")) && status.contains(QStringLiteral(" ms | ")),
                 qPrintable(status));
        QCOMPARE(frame.SourceView()->Bitmap().size(), QSize(40, 30));
        QCOMPARE(frame.ResultView()->Bitmap().size(), QSize(40, 30));
        QCOMPARE(frame.Result().width, 40u);
        QVERIFY(frame.ProgressBar()->isHidden());
        QVERIFY(frame.centralWidget()->isEnabled());
        // Without automatic saving nothing is written.
        QVERIFY(!QDir(folder.filePath(QStringLiteral("OUTPUT"))).exists());
    }

    void ProfileConversionIsSaidInTheStatusBar()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy shown(&frame, &CMainFrame::resultShown);
        QImage card = TestCard(40, 30).convertToFormat(QImage::Format_RGB32);
        card.setColorSpace(QColorSpace::AdobeRgb);
        Drop(frame, {Write(QStringLiteral("adobe.jpg"), card, "JPEG")});
        QVERIFY(shown.wait(WaitMs) || shown.count() == 1);
        QVERIFY(WaitIdle(frame));
        const QString status = frame.statusBar()->currentMessage();
        QVERIFY2(status.startsWith(QStringLiteral("処理時間 : ")) && status.endsWith(QStringLiteral(" から sRGB に変換")),
                 qPrintable(status));
    }

    void WithoutAutoSaveOnlyTheFirstOfManyIsTaken()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        const QStringList files = {Write("one.png", TestCard(20, 10)), Write("two.png", TestCard(21, 10)),
                                   Write("three.png", TestCard(22, 10))};
        Drop(frame, files);
        QVERIFY(WaitIdle(frame));
        QVERIFY(DrainPostedEvents(frame));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(frame.Source().width, 20u);
        QVERIFY(!QDir(folder.filePath("OUTPUT")).exists());
    }

    void AutoSaveRunsTheBatchInDropOrder()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        std::vector<std::uint32_t> order;
        connect(&frame, &CMainFrame::resultShown, this, [&] { order.push_back(frame.Source().width); });
        const QString broken = folder.filePath("broken.png");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not an image at all");
        }
        const QStringList files = {Write("first.png", TestCard(20, 12)), broken,
                                   Write("spaced name.bmp", TestCard(21, 12).convertToFormat(QImage::Format_RGB32),
                                         "BMP"),
                                   Write(QStringLiteral("日本語.b.PNG"), TestCard(22, 12), "PNG")};
        Drop(frame, files);
        QVERIFY(WaitIdle(frame));
        QCOMPARE(order, (std::vector<std::uint32_t>{20, 21, 22}));
        const QDir output(folder.filePath("OUTPUT"));
        QStringList written = output.entryList(QDir::Files, QDir::Name);
        QStringList expected = {"first.png", "spaced name.png", QStringLiteral("日本語.b.png")};
        expected.sort();
        QCOMPARE(written, expected);
        const int widths[] = {20, 21, 22};
        for (int i = 0; i < 3; ++i) {
            const QImage saved(output.filePath(QStringList{"first.png", "spaced name.png",
                                                           QStringLiteral("日本語.b.png")}[i]));
            QCOMPARE(saved.width(), widths[i]);
            QCOMPARE(saved.format(), QImage::Format_Indexed8); // a palette PNG
        }
        QVERIFY(!Control<QPushButton>(frame, "1012")->isEnabled());
    }

    void DroppedNamesThatAreNotUtf8KeepTheirBytes()
    {
        // Latin-1 "café.png" and Shift-JIS "写真.bmp" as a file manager sends them: percent-encoded
        // bytes in the URL list. Each loads, and its result keeps the name's bytes.
        CMainFrame frame(&ProbedReduce);
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        const std::filesystem::path base(folder.path().toStdString());
        const std::string latin1 = "caf\xe9";
        const std::string shiftJis = "\x8e\xca\x90\x5e";
        std::filesystem::rename(Write("a.png", TestCard(18, 12)).toStdString(), base / (latin1 + ".png"));
        std::filesystem::rename(Write("b.bmp", TestCard(19, 12).convertToFormat(QImage::Format_RGB32), "BMP").toStdString(),
                                base / (shiftJis + ".bmp"));
        QByteArray list;
        for (const std::string& name : {latin1 + ".png", shiftJis + ".bmp"})
            list += "file://" + QByteArray::fromStdString((base / name).string()).toPercentEncoding("/") + "\r\n";
        QMimeData mime;
        mime.setData(QStringLiteral("text/uri-list"), list);
        QVERIFY(apptest::DropMime(frame, mime));
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.Source().width, 19u);
        QVERIFY(std::filesystem::is_regular_file(base / "OUTPUT" / (latin1 + ".png")));
        QVERIFY(std::filesystem::is_regular_file(base / "OUTPUT" / (shiftJis + ".png")));
        // Qt cannot name these files to remove them with the folder.
        for (const std::string& name : {latin1 + ".png", shiftJis + ".bmp", "OUTPUT/" + latin1 + ".png",
                                        "OUTPUT/" + shiftJis + ".png"})
            std::filesystem::remove(base / name);
    }

    void AutoSaveNeverReplacesADroppedFile()
    {
        // The first file's result would be OUTPUT/pic.png, which is the second dropped file.
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        QVERIFY(QDir().mkpath(folder.filePath("OUTPUT")));
        const QString inner = Write("OUTPUT/pic.png", TestCard(30, 12));
        QFile innerFile(inner);
        QVERIFY(innerFile.open(QIODevice::ReadOnly));
        const QByteArray before = innerFile.readAll();
        innerFile.close();
        Drop(frame, {Write("pic.png", TestCard(20, 12)), inner});
        QVERIFY(WaitIdle(frame));
        QVERIFY(innerFile.open(QIODevice::ReadOnly));
        QCOMPARE(innerFile.readAll(), before);
        QCOMPARE(QImage(folder.filePath("OUTPUT/OUTPUT/pic.png")).width(), 30);
    }

    void UnreadableFileLeavesTheShownImageWithItsResult()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        Drop(frame, {Write("good.png", TestCard(24, 16))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 1);
        const QString broken = folder.filePath("broken.jpg");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(100, '\x55'));
        }
        Drop(frame, {broken});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 1);
        // The earlier image stays, and with it what the panel works on and its result.
        QCOMPARE(frame.SourceView()->Bitmap().size(), QSize(24, 16));
        QCOMPARE(frame.Source().width, 24u);
        QCOMPARE(frame.ResultView()->Bitmap().size(), QSize(24, 16));
        QCOMPARE(frame.windowTitle(), QStringLiteral("good.png - Tessaline"));
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 2);

        // The result on hand is offered under a name beside the file it came from.
        QString proposed;
        QTimer::singleShot(50, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                proposed = dialog->selectedFiles().value(0);
                dialog->reject();
            }
        });
        QTest::mouseClick(Control<QPushButton>(frame, "1012"), Qt::LeftButton);
        QCOMPARE(QFileInfo(proposed).fileName(),
                 QStringLiteral("good-%1.png").arg(frame.Result().paletteSize));
    }

    void HostileDropsAreSkippedWithoutCostingMemory()
    {
        // A PNG whose text chunk declares gigabytes (refused by our reader, and never handed to
        // Qt's own PNG decoder) and an ICNS file that makes Qt's plugin ask for 8 GB.
        const QString tests = QStringLiteral(TESSALINE_TEST_DATA_DIR);
        QStringList hostile = {tests + "/data/hostile/huge_text_chunk.png",
                               tests + "/fuzz/corpus/bitmap_decode/regress_icns_zero_length_entry"};
        for (const QString& file : hostile)
            QVERIFY2(QFile::exists(file), qPrintable(file));
#if !defined(_WIN32)
        // A FIFO would hold the UI thread in its open until some writer came: refused unopened.
        const QString fifo = folder.filePath("pipe.png");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        hostile.prepend(fifo);
#endif
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        Control<QCheckBox>(frame, "1021")->setChecked(true); // auto save: every dropped file is tried
        Drop(frame, hostile + QStringList{Write("after.png", TestCard(12, 8))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(frame.SourceView()->Bitmap().size(), QSize(12, 8));
    }

    // Declared in every build: moc does not see the compiler's sanitizer macros.
    void NoMemoryForTheWeightMapMakesTheFileUnreadable()
    {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
        QSKIP("needs an address-space limit, which AddressSanitizer's shadow memory cannot live with");
#else
        // 4096 x 4096 pixels: the source image, its display bitmap and the weight map take 64 MiB
        // each. The address space is capped so that the first two fit and the weight map does not.
        QImage uniform(4096, 4096, QImage::Format_ARGB32);
        uniform.fill(qRgba(40, 90, 160, 255));
        const QString big = Write("big.png", uniform);
        uniform = QImage();
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        rlimit unlimited{};
        QCOMPARE(getrlimit(RLIMIT_AS, &unlimited), 0);
        rlimit capped = unlimited;
        capped.rlim_cur = static_cast<rlim_t>(AddressSpaceInUse() + (qint64{144} << 20));
        QCOMPARE(setrlimit(RLIMIT_AS, &capped), 0);
        QSignalSpy loaded(&frame, &CMainFrame::loadFinished);
        Drop(frame, {big}); // neither the loader nor the UI thread may let the allocation failure out
        QVERIFY(loaded.wait(WaitMs));
        QCOMPARE(setrlimit(RLIMIT_AS, &unlimited), 0);
        QCOMPARE(loaded.front().front().toBool(), false);
        QVERIFY(WaitIdle(frame));
        QVERIFY(frame.Source().Empty());
        QVERIFY(frame.SourceView()->Bitmap().isNull());
        QVERIFY(frame.SourceView()->WeightMap().isNull());

        Drop(frame, {Write("after.png", TestCard(12, 8))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(frame.SourceView()->WeightMap().size(), QSize(12, 8));
#endif
    }

    void PreviewWithoutSourceAndSaveWithoutResultDoNothing()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        bool dialogSeen = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                dialogSeen = true;
                modal->close();
            }
        });
        watcher.start(10);
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(!frame.Reducing());
        QVERIFY(frame.CurrentThread() == nullptr);
        // The dialog would be modal, so the click returns only after the watcher closed it.
        QTest::mouseClick(Control<QPushButton>(frame, "1012"), Qt::LeftButton);
        QVERIFY(DrainPostedEvents(frame));
        QVERIFY(!dialogSeen);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("レディ"));
    }

    void SaveOffersTheSourceNameAndWritesTheChosenFile()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("dog.bmp", TestCard(18, 18), "BMP")});
        QVERIFY(WaitIdle(frame));
        QString proposed;
        QStringList filters;
        QString suffix;
        QTimer::singleShot(50, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            proposed = dialog->selectedFiles().value(0);
            filters = dialog->nameFilters();
            suffix = dialog->defaultSuffix();
            // Type the name as a user would; the suffix is left for the dialog to add.
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(folder.filePath("chosen"));
            else
                dialog->selectFile(folder.filePath("chosen"));
            QMetaObject::invokeMethod(dialog, "accept"); // a protected slot: reach it as the buttons do
        });
        QTest::mouseClick(Control<QPushButton>(frame, "1012"), Qt::LeftButton);
        QCOMPARE(QFileInfo(proposed).fileName(),
                 QStringLiteral("dog-%1.png").arg(frame.Result().paletteSize));
        QCOMPARE(filters, (QStringList{QStringLiteral("PNGファイル (*.png)"), QStringLiteral("すべてのファイル (*.*)")}));
        QCOMPARE(suffix, QStringLiteral("png"));
        const QImage saved(folder.filePath("chosen.png"));
        QCOMPARE(saved.size(), QSize(18, 18));
    }

    void ZoomSetsBothViewsAndReturnsThemToTheOrigin()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("big.png", TestCard(600, 500))});
        QVERIFY(WaitIdle(frame));
        for (CImageView* view : {frame.SourceView(), frame.ResultView()})
            view->verticalScrollBar()->setValue(40);
        Control<QComboBox>(frame, "1035")->setCurrentIndex(2);
        for (CImageView* view : {frame.SourceView(), frame.ResultView()}) {
            QCOMPARE(view->Zoom(), 4);
            QCOMPARE(view->ScrollPosition(), QPoint(0, 0));
            QCOMPARE(view->horizontalScrollBar()->maximum(), 2400 - view->viewport()->width());
        }
    }

    void SaveNameNeverEqualsTheSourceNorAnotherInput()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        const QString photo = Write("photo.png", TestCard(30, 20));
        Drop(frame, {photo});
        QVERIFY(WaitIdle(frame));
        const int colours = static_cast<int>(frame.Result().paletteSize);
        const QString first = QStringLiteral("photo-%1.png").arg(colours);
        QCOMPARE(ToQString(frame.ProposedSaveName()), folder.filePath(first));
        // A name that exists, or that the session took in as another input, is passed over.
        Write(first, TestCard(5, 5));
        const QString second = QStringLiteral("photo-%1-2.png").arg(colours);
        Drop(frame, {photo, Write(second, TestCard(6, 5))});
        QVERIFY(WaitIdle(frame));
        const QString third = folder.filePath(QStringLiteral("photo-%1-3.png").arg(colours));
        QCOMPARE(ToQString(frame.ProposedSaveName()), third);

        // Enter in the dialog saves the proposal; the source keeps its bytes; the confirmation
        // says where the file went, after the figures.
        QFile source(photo);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray before = source.readAll();
        source.close();
        QTimer::singleShot(50, this, [] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                QMetaObject::invokeMethod(dialog, "accept");
        });
        frame.SaveAs();
        QCOMPARE(QImage(third).size(), QSize(30, 20));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(source.readAll(), before);
        const QString status = frame.statusBar()->currentMessage();
        QVERIFY2(status.startsWith(QStringLiteral("処理時間 : ")) &&
                     status.endsWith(QStringLiteral("保存しました : ") + third),
                 qPrintable(status));
    }

    void ResultViewIsEmptyWhileANewFileReducesAndAfterAStop()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("first.png", TestCard(30, 20))});
        QVERIFY(WaitIdle(frame));
        QVERIFY(!frame.ResultView()->Bitmap().isNull());
        QVERIFY(frame.CompareBar()->Strip()->EntryCount() > 0);

        probe.untilCancelled = true;
        Drop(frame, {Write("second.png", TestCard(32, 20))});
        QVERIFY(QTest::qWaitFor(
            [] {
                std::lock_guard<std::mutex> guard(probe.lock);
                return probe.holding;
            },
            WaitMs));
        // The first file's result and palette are gone; the view says what is under way.
        QCOMPARE(frame.SourceView()->Bitmap().width(), 32);
        QVERIFY(frame.ResultView()->Bitmap().isNull());
        QCOMPARE(frame.ResultView()->Hint(), QStringLiteral("減色中..."));
        QCOMPARE(frame.CompareBar()->Strip()->EntryCount(), 0);
        QCOMPARE(frame.windowTitle(), QStringLiteral("second.png - Tessaline"));

        QTest::keyClick(&frame, Qt::Key_Escape);
        QVERIFY(WaitIdle(frame));
        QVERIFY(frame.ResultView()->Bitmap().isNull());
        QCOMPARE(frame.ResultView()->Hint(), QStringLiteral("中止しました : 結果はありません"));
        QVERIFY(frame.Result().pixels.empty());
        QVERIFY(!frame.Figures());
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("中止しました"));
    }

    void BatchListHoldsEveryFileWithItsOutcome()
    {
        CMainFrame frame(&ProbedReduce);
        // A short window as wide as the screen: the settings start compact and the list finds no
        // room beside the window, so it opens over the panel.
        frame.resize(frame.screen()->availableGeometry().width(), 480);
        frame.show();
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        const QString broken = folder.filePath("broken.jpg");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(100, '\x55'));
        }
        const QString huge = QStringLiteral(TESSALINE_TEST_DATA_DIR) + "/data/hostile/huge_dimensions.png";
        const QString good = Write("good.png", TestCard(20, 20));
        const QStringList files = {good, broken, folder.filePath("missing.png"), huge,
                                   Write("fine.png", TestCard(20, 21))};
        // Opened during the batch, the list is there at once and fills as files finish.
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.hold = true;
        }
        Drop(frame, files);
        CBatchListDialog* list = frame.OpenBatchList();
        QVERIFY(list->isVisible() && !list->isModal());
        // However short the space over the panel, five rows are in sight.
        QVERIFY(list->Table()->viewport()->height() >=
                CBatchListDialog::VisibleRows * list->Table()->verticalHeader()->defaultSectionSize());
        QCOMPARE(frame.Outcomes()->Files(), 5);
        QCOMPARE(list->SelectedText().count(QStringLiteral("待機中")), 5);
        Release();
        QVERIFY(WaitIdle(frame));

        using State = BatchOutcomes::State;
        const BatchOutcomes* outcomes = frame.Outcomes();
        const QStringList rows = list->SelectedText().split(QLatin1Char('\n'));
        QCOMPARE(rows.size(), 5);
        const QString output = ToQString(ToPath(folder.path()) / "OUTPUT");
        QCOMPARE(outcomes->StateOf(0), State::Saved);
        QCOMPARE(rows[0], good + QStringLiteral("\t保存\t") + output + QStringLiteral("/good.png"));
        QCOMPARE(rows[1], broken + QStringLiteral("\t失敗\t読み込めません (画像として読めません)"));
        QCOMPARE(rows[2], folder.filePath("missing.png") +
                              QStringLiteral("\t失敗\t読み込めません (ファイルがありません)"));
        // The reason the command-line tool gives ("image too large"), in the window's words.
        QCOMPARE(rows[3],
                 huge + QStringLiteral("\t失敗\t読み込めません (画像が大きすぎます : 50000 x 50000)"));
        QCOMPARE(outcomes->StateOf(4), State::Saved);
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("一括処理終了 : 2 件保存、3 件失敗 (理由は「一括処理の結果」で)"));
        // Copyable: the selection, or the whole list without one.
        list->Copy();
        QCOMPARE(QApplication::clipboard()->text(), rows.join(QLatin1Char('\n')));
        list->Table()->selectRow(1);
        QCOMPARE(list->SelectedText(), rows[1]);

        // A stopped batch accounts for the files it never reached.
        probe.untilCancelled = true;
        Drop(frame, {good, Write("late.png", TestCard(21, 20))});
        QCOMPARE(frame.Outcomes()->Files(), 2);
        QVERIFY(QTest::qWaitFor(
            [] {
                std::lock_guard<std::mutex> guard(probe.lock);
                return probe.holding;
            },
            WaitMs));
        frame.StopReduction();
        QVERIFY(WaitIdle(frame));
        QCOMPARE(outcomes->StateOf(0), State::Stopped);
        QCOMPARE(outcomes->StateOf(1), State::Stopped);
    }

    void ExtraFilesAreSteppedThroughWithPageKeys()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        Drop(frame, {Write("a.png", TestCard(20, 10)), Write("b.png", TestCard(21, 10)),
                     Write("c.png", TestCard(22, 10))});
        QVERIFY(WaitIdle(frame));
        // The first file as always; the others kept, and said.
        QCOMPARE(frame.Source().width, 20u);
        QCOMPARE(frame.FileListCount(), std::size_t{3});
        QVERIFY(frame.FileListLabel()->isVisible());
        QCOMPARE(frame.FileListLabel()->text(), QStringLiteral("1 / 3 ファイル (PageDown: 次, PageUp: 前)"));
        // Each step loads and reduces the file it comes to; the ends stop it.
        const std::pair<Qt::Key, unsigned> steps[] = {
            {Qt::Key_PageDown, 21}, {Qt::Key_PageDown, 22}, {Qt::Key_PageUp, 21}, {Qt::Key_PageUp, 20}};
        for (const auto& [key, width] : steps) {
            const qsizetype before = finished.count();
            QTest::keyClick(frame.SourceView(), key);
            QVERIFY(WaitIdle(frame));
            QCOMPARE(frame.Source().width, width);
            QCOMPARE(frame.Result().width, width);
            QCOMPARE(finished.count(), before + 1);
        }
        QCOMPARE(frame.FilePosition(), 0);
        QCOMPARE(frame.windowTitle(), QStringLiteral("a.png - Tessaline"));

        // Asked for while a file reduces, the next one waits for it, and the status bar says so.
        probe.untilCancelled = false;
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.hold = true;
        }
        QTest::keyClick(frame.SourceView(), Qt::Key_PageDown);
        QVERIFY(QTest::qWaitFor(
            [] {
                std::lock_guard<std::mutex> guard(probe.lock);
                return probe.holding;
            },
            WaitMs));
        QTest::keyClick(frame.SourceView(), Qt::Key_PageDown);
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("c.png は今の減色が終わってから開きます (Esc で中止)"));
        Release();
        QVERIFY(QTest::qWaitFor([&] { return !frame.Reducing() && frame.Source().width == 22u; }, WaitMs));
        QCOMPARE(frame.FileListLabel()->text(), QStringLiteral("3 / 3 ファイル (PageDown: 次, PageUp: 前)"));
    }

    void ZoomChangeRepaintsBothViewsAtOnce()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        Drop(frame, {Write("big.png", TestCard(600, 500))});
        QVERIFY(WaitIdle(frame));
        QComboBox* zoom = Control<QComboBox>(frame, "1035");
        const auto bothShow = [&] {
            return ShowsItsBitmap(frame.SourceView()) && ShowsItsBitmap(frame.ResultView());
        };
        QTRY_VERIFY_WITH_TIMEOUT(bothShow(), WaitMs);
        // x 32, back to x 1 at the top-left, then one scroll step: every time the whole picture.
        for (const int index : {6, 0, 2}) {
            zoom->setCurrentIndex(index);
            QTRY_VERIFY_WITH_TIMEOUT(bothShow(), WaitMs);
        }
        frame.ResultView()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QVERIFY(frame.SourceView()->ScrollPosition().y() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(bothShow(), WaitMs);
        // The reduced scales show the image smoothly shrunk, the fit the whole of it.
        zoom->setCurrentIndex(zoom->findText(QStringLiteral("x 1/4")));
        QCOMPARE(frame.SourceView()->Shrink(), 4);
        QCOMPARE(frame.ResultView()->horizontalScrollBar()->maximum(), 0);
        zoom->setCurrentIndex(zoom->findText(QStringLiteral("全体表示")));
        const QSize room = frame.SourceView()->viewport()->size();
        const CImageView* fitted = frame.SourceView();
        QVERIFY(600 * fitted->Zoom() / fitted->Shrink() <= room.width() &&
                500 * fitted->Zoom() / fitted->Shrink() <= room.height());
        QCOMPARE(frame.ResultView()->Shrink(), fitted->Shrink());
        QCOMPARE(frame.ResultView()->Zoom(), fitted->Zoom());
    }

    void PaintedWeightReachesTheJobOnlyWhenSwitchedOn()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        Drop(frame, {Write("weights.png", TestCard(40, 40))});
        QVERIFY(WaitIdle(frame));
        QVERIFY(!probe.sawWeights);
        QWidget* canvas = frame.SourceView()->viewport();

        // Off: painting does nothing.
        QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(qAlpha(frame.SourceView()->WeightMap().pixel(20, 20)), 0);

        QTest::mouseClick(Control<QCheckBox>(frame, "1038"), Qt::LeftButton);
        QVERIFY(frame.SourceView()->WeightVisible());
        QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(qAlpha(frame.SourceView()->WeightMap().pixel(20, 20)), 255);
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(WaitIdle(frame));
        QVERIFY(probe.sawWeights);
        QCOMPARE(probe.weights.size(), std::size_t{1600});
        QCOMPARE(probe.weights[20 * 40 + 20], 15.0f); // slider default 15, alpha 255
        QCOMPARE(probe.weights[20 * 40 + 25], 15.0f);
        QCOMPARE(probe.weights[0], 0.0f);

        // Unchecking the contrast map unchecks the weight box and hides the weights.
        QTest::mouseClick(Control<QCheckBox>(frame, "1024"), Qt::LeftButton);
        QVERIFY(!frame.SourceView()->WeightVisible());
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(WaitIdle(frame));
        QVERIFY(!probe.sawWeights);

        // Clear weight empties the map.
        Control<QCheckBox>(frame, "1024")->setChecked(true);
        QTest::mouseClick(Control<QPushButton>(frame, "1039"), Qt::LeftButton);
        QCOMPARE(qAlpha(frame.SourceView()->WeightMap().pixel(20, 20)), 0);
    }

    void OutputNamesReplaceTheLastExtension()
    {
        const std::filesystem::path pics = ToPath(folder.filePath("pics"));
        QCOMPARE(ToQString(AutoSavePath(pics / "cat.PNG")), ToQString(pics / "OUTPUT" / "cat.png"));
        QCOMPARE(ToQString(AutoSavePath(pics / "a.b.bmp")), ToQString(pics / "OUTPUT" / "a.b.png"));
        QCOMPARE(ToQString(AutoSavePath(pics / "noext")), ToQString(pics / "OUTPUT" / "noext.png"));
        QCOMPARE(ToQString(DefaultSavePath(pics / "dog.jpg")), ToQString(pics / "dog.png"));
        QCOMPARE(ToQString(DefaultSavePath(pics / "same.png")), ToQString(pics / "same.png"));
        const QString japanese = QStringLiteral("/写真/猫 の 絵.jpeg");
        QCOMPARE(ToQString(ToPath(japanese)), japanese);
    }

    void LaterRelativeNamesJoinTheFirstNamesFolder()
    {
        CMainFrame frame(&ProbedReduce);
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        const QString first = Write("head.png", TestCard(12, 12));
        Write("tail.png", TestCard(13, 12));
        frame.OnDropFiles({first, QStringLiteral("tail.png")});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.Source().width, 13u);
        QVERIFY(QFile::exists(folder.filePath("OUTPUT/tail.png")));
    }

    void QualityTooLowEmptiesTheResultViewAndSavesNothing()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        Drop(frame, {Write("fine.png", TestCard(16, 16))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.ResultView()->Bitmap().size(), QSize(16, 16));
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        probe.forcedCode = 99;
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.front().front().toInt(), 99);
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("減色できません : fine.png (誤差が許容範囲を超えました)"));
        // The earlier result was of other settings: the view is empty and says why.
        QVERIFY(frame.ResultView()->Bitmap().isNull());
        QCOMPARE(frame.ResultView()->Hint(),
                 QStringLiteral("減色できませんでした (誤差が許容範囲を超えました)"));
        QVERIFY(frame.Result().pixels.empty());
        QVERIFY(!QDir(folder.filePath("OUTPUT")).exists());
        QVERIFY(frame.ProgressBar()->isHidden());
        QVERIFY(frame.centralWidget()->isEnabled());
    }

    void CloseDuringAReductionStopsItAndThenCloses()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        {
            std::lock_guard<std::mutex> guard(probe.lock);
            probe.hold = true;
        }
        Drop(frame, {Write("held.png", TestCard(30, 30))});
        QVERIFY(QTest::qWaitFor(
            [] {
                std::lock_guard<std::mutex> guard(probe.lock);
                return probe.holding;
            },
            WaitMs));
        // The worker's progress reached the bar while it still works: the UI thread is free.
        QTRY_COMPARE(frame.ProgressBar()->value(), 11);
        QVERIFY(frame.ProgressBar()->isVisible());
        // The panel is locked but for the zoom; the views scroll and zoom.
        QVERIFY(!Control<QPushButton>(frame, "1022")->isEnabled());
        QVERIFY(!Control<QCheckBox>(frame, "1021")->isEnabled());
        QVERIFY(Control<QComboBox>(frame, "1035")->isEnabled());
        QVERIFY(frame.SourceView()->isEnabled() && frame.ResultView()->isEnabled());
        Control<QComboBox>(frame, "1035")->setCurrentIndex(1);
        QCOMPARE(frame.ResultView()->Zoom(), 2);
        // A drop meanwhile waits its turn rather than replacing the images under the worker, and
        // says so.
        Drop(frame, {Write("later.png", TestCard(31, 30))});
        QCOMPARE(frame.Source().width, 30u);
        QCOMPARE(frame.PendingCount(), std::size_t{1});
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("later.png は今の減色が終わってから開きます (Esc で中止)"));
        // The request is not lost: the reduction is asked to stop, the queue goes, and once the
        // worker has returned the window closes by itself.
        QVERIFY(!frame.close());
        QVERIFY(frame.isVisible());
        QCOMPARE(frame.PendingCount(), std::size_t{0});
        Release();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.isVisible(), WaitMs);
        QCOMPARE(frame.Source().width, 30u);
        QVERIFY(!frame.Reducing());
    }

    void CloseStopsAReductionThatWouldRunOn()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        probe.untilCancelled = true;
        Drop(frame, {Write("long.png", TestCard(30, 30))});
        QVERIFY(frame.Reducing());
        frame.close();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.isVisible(), WaitMs);
        QVERIFY(!frame.Reducing());
    }

    void StopEndsTheReductionAndDropsTheQueue()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        const QStringList files = {Write("a.png", TestCard(20, 20)), Write("b.png", TestCard(21, 20)),
                                   Write("c.png", TestCard(22, 20))};
        // Once by Esc, once by the button beside the progress bar.
        for (const bool byKey : {true, false}) {
            probe.untilCancelled = true;
            finished.clear();
            Drop(frame, files);
            QVERIFY(frame.Reducing());
            QVERIFY(frame.StopButton()->isVisible());
            QCOMPARE(frame.PendingCount(), std::size_t{2});
            QVERIFY(QTest::qWaitFor(
                [] {
                    std::lock_guard<std::mutex> guard(probe.lock);
                    return probe.holding;
                },
                WaitMs)); // loaded, and its reduction under way
            if (byKey)
                QTest::keyClick(&frame, Qt::Key_Escape);
            else
                QTest::mouseClick(frame.StopButton(), Qt::LeftButton);
            QVERIFY(WaitIdle(frame));
            QCOMPARE(finished.count(), 1);
            QCOMPARE(finished.front().front().toInt(), int(ReduceCancelled));
            QCOMPARE(frame.statusBar()->currentMessage(),
                     QStringLiteral("中止しました : 0 件保存、0 件失敗"));
            QVERIFY(frame.Result().pixels.empty());
            QVERIFY(!frame.StopButton()->isVisible());
            QVERIFY(frame.centralWidget()->isEnabled());
            QVERIFY(!QDir(folder.filePath("OUTPUT")).exists());
        }
        // The window is usable again: the next drop reduces and saves as usual.
        probe.untilCancelled = false;
        Drop(frame, {files[1]});
        QVERIFY(WaitIdle(frame));
        QVERIFY(QFile::exists(folder.filePath("OUTPUT/b.png")));
        QVERIFY(frame.statusBar()->currentMessage().startsWith(QStringLiteral("処理時間 : ")));
    }

    // A 共有パレット batch reads its files for the palette first, the window locked: Esc then
    // ends the batch before any file is reduced or saved; a batch whose files cannot be read has
    // no palette and says so instead of reducing each onto its own.
    void SharedPaletteBatchStopsAndFailsAsABatch()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        Control<QCheckBox>(frame, "1042")->setChecked(true);
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        const QString sub = folder.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(sub));
        const QStringList files = {Write("shared/a.png", TestCard(20, 20)), Write("shared/b.png", TestCard(21, 20))};
        Drop(frame, files);
        QVERIFY(frame.Reducing());
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("共有パレットを選んでいます : 2 件"));
        QVERIFY(!Control<QCheckBox>(frame, "1042")->isEnabled()); // the panel is locked meanwhile
        QTest::keyClick(&frame, Qt::Key_Escape);
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 0);
        QCOMPARE(frame.statusBar()->currentMessage(), QStringLiteral("中止しました : 0 件保存、0 件失敗"));
        QVERIFY(!QDir(sub + QStringLiteral("/OUTPUT")).exists());

        const QString junk = folder.filePath(QStringLiteral("shared/junk.png"));
        {
            QFile file(junk);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("no image here");
        }
        Drop(frame, {junk});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(finished.count(), 0);
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("共有パレットを選べません : 読み込める画像がありません"));
        QVERIFY(Control<QCheckBox>(frame, "1042")->isEnabled());
    }

    void FileArgumentsAreTakenLikeADrop()
    {
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder.path());
        Write("first.png", TestCard(14, 10));
        Write("-dash.png", TestCard(15, 10));
        const AppCommandLine commandLine =
            ParseAppCommandLine({QStringLiteral("tessaline"), QStringLiteral("first.png"),
                                 QStringLiteral("--"), QStringLiteral("-dash.png")});
        QDir::setCurrent(before);
        QCOMPARE(int(commandLine.action), int(AppCommandLine::Action::Run));
        QCOMPARE(commandLine.files,
                 (QStringList{folder.filePath("first.png"), folder.filePath("-dash.png")}));

        for (const bool autoSave : {false, true}) {
            CMainFrame frame(&ProbedReduce);
            Control<QCheckBox>(frame, "1021")->setChecked(autoSave);
            QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
            frame.OnDropFiles(commandLine.files);
            QVERIFY(WaitIdle(frame));
            QCOMPARE(finished.count(), autoSave ? 2 : 1);
            QCOMPARE(frame.Source().width, autoSave ? 15u : 14u);
            QCOMPARE(QFile::exists(folder.filePath("OUTPUT/-dash.png")), autoSave);
        }

        // Help and version answer without a window; an unknown option is bad usage.
        const AppCommandLine version =
            ParseAppCommandLine({QStringLiteral("tessaline"), QStringLiteral("--version")});
        QCOMPARE(int(version.action), int(AppCommandLine::Action::ShowVersion));
        QVERIFY(version.text.startsWith(QStringLiteral("tessaline ")));
        const AppCommandLine help = ParseAppCommandLine(
            {QStringLiteral("tessaline"), QStringLiteral("a.png"), QStringLiteral("--help")});
        QCOMPARE(int(help.action), int(AppCommandLine::Action::ShowHelp));
        QVERIFY(help.text.contains(QStringLiteral("tessaline [options] [FILE...]")));
        const AppCommandLine bad =
            ParseAppCommandLine({QStringLiteral("tessaline"), QStringLiteral("--bogus")});
        QCOMPARE(int(bad.action), int(AppCommandLine::Action::Fail));
    }

    void FailuresAreSaidInTheStatusBarAndABatchEndsWithItsCounts()
    {
        CMainFrame frame(&ProbedReduce);
        frame.show();
        bool modalSeen = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modalSeen = true;
                modal->close();
            }
        });
        watcher.start(10);

        // A file that cannot be read changes the status bar, and nothing else.
        const QString broken = folder.filePath("broken.jpg");
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(100, '\x55'));
        }
        QSignalSpy loaded(&frame, &CMainFrame::loadFinished);
        Drop(frame, {broken});
        QVERIFY(loaded.wait(WaitMs));
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("読み込めません : broken.jpg (画像として読めません)"));
        Drop(frame, {folder.filePath("missing.png")});
        QVERIFY(loaded.wait(WaitMs));
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("読み込めません : missing.png (ファイルがありません)"));

        // An automatic save where OUTPUT is a plain file writes nothing and says so.
        QVERIFY(QDir().mkpath(folder.filePath("blocked")));
        {
            QFile plain(folder.filePath("blocked/OUTPUT"));
            QVERIFY(plain.open(QIODevice::WriteOnly));
        }
        Control<QCheckBox>(frame, "1021")->setChecked(true);
        QImage card = TestCard(20, 20);
        QVERIFY(card.save(folder.filePath("blocked/x.png")));
        Drop(frame, {folder.filePath("blocked/x.png")});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("保存できません : OUTPUT/x.png (OUTPUT がフォルダではありません)"));
        QCOMPARE(QFileInfo(folder.filePath("blocked/OUTPUT")).size(), 0);

        // A batch goes on past each failure and ends with its counts, pointing to the batch list.
        Drop(frame, {Write("good.png", TestCard(20, 20)), broken, folder.filePath("blocked/x.png"),
                     Write("fine.png", TestCard(20, 21))});
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.statusBar()->currentMessage(),
                 QStringLiteral("一括処理終了 : 2 件保存、2 件失敗 (理由は「一括処理の結果」で)"));
        QVERIFY(frame.BatchListButton()->isVisible());
        QVERIFY(QFile::exists(folder.filePath("OUTPUT/good.png")));
        QVERIFY(QFile::exists(folder.filePath("OUTPUT/fine.png")));
        QVERIFY(!modalSeen);
    }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
