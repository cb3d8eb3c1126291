// Main frame, driven as the user would: files dropped as text/uri-list, the panel's buttons, the
// zoom list, the brush, and closing the window. Images are written by the test into a temporary
// folder; they are small so that every reduction is quick.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "app/image_view.h"
#include "app/main_frame.h"
#include "app/top_panel_view.h"
#include "engine/reduce_pipeline.h"

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
    QDragEnterEvent enter(QPoint(20, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&frame, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(20, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&frame, &drop);
}

template <typename T> T* Control(CMainFrame& frame, const char* id)
{
    T* control = frame.Panel()->findChild<T*>(QString::fromLatin1(id));
    if (!control)
        qFatal("control %s missing", id);
    return control;
}

// Waits until the frame is idle with nothing queued.
bool WaitIdle(CMainFrame& frame)
{
    return QTest::qWaitFor([&] { return !frame.Reducing() && frame.PendingCount() == 0; }, WaitMs);
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
        QCOMPARE(frame.Panel()->height(), 210);
        QVERIFY(frame.ProgressBar()->isHidden());
        QCOMPARE(frame.ProgressBar()->minimum(), 0);
        QCOMPARE(frame.ProgressBar()->maximum(), 12);
        QVERIFY(frame.SourceView()->x() < frame.ResultView()->x());
        QVERIFY(std::abs(frame.SourceView()->width() - frame.ResultView()->width()) < 16);
        // Growing the window widens the right view; the left keeps its width.
        const int left = frame.SourceView()->width();
        frame.resize(frame.width() + 200, frame.height());
        QTRY_COMPARE(frame.ResultView()->width() > frame.SourceView()->width(), true);
        QCOMPARE(frame.SourceView()->width(), left);
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
        QVERIFY2(status.startsWith(QStringLiteral("処理時間 : ")) && status.endsWith(QStringLiteral(" ms ")),
                 qPrintable(status));
        QCOMPARE(frame.SourceView()->Bitmap().size(), QSize(40, 30));
        QCOMPARE(frame.ResultView()->Bitmap().size(), QSize(40, 30));
        QCOMPARE(frame.Result().width, 40u);
        QVERIFY(frame.ProgressBar()->isHidden());
        QVERIFY(frame.centralWidget()->isEnabled());
        // Without automatic saving nothing is written.
        QVERIFY(!QDir(folder.filePath(QStringLiteral("OUTPUT"))).exists());
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
        QTest::qWait(100);
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

    void UnreadableFileIsSkippedAndPreviewThenDoesNothing()
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
        QCOMPARE(frame.SourceView()->Bitmap().size(), QSize(24, 16)); // the earlier image stays
        QTest::mouseClick(Control<QPushButton>(frame, "1022"), Qt::LeftButton);
        QVERIFY(!frame.Reducing());
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);

        // The result still on hand is offered under the name of the file it came from.
        QString proposed;
        QTimer::singleShot(50, this, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                proposed = dialog->selectedFiles().value(0);
                dialog->reject();
            }
        });
        QTest::mouseClick(Control<QPushButton>(frame, "1012"), Qt::LeftButton);
        QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("good.png"));
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
        QTest::mouseClick(Control<QPushButton>(frame, "1012"), Qt::LeftButton);
        QTest::qWait(50);
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
        QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("dog.png"));
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

    void QualityTooLowKeepsTheEarlierResultAndSavesNothing()
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
        QVERIFY(frame.statusBar()->currentMessage().startsWith(QStringLiteral("処理時間 : ")));
        QCOMPARE(frame.ResultView()->Bitmap().size(), QSize(16, 16)); // the earlier result stays on show
        QVERIFY(frame.Result().pixels.empty());
        QVERIFY(!QDir(folder.filePath("OUTPUT")).exists());
        QVERIFY(frame.ProgressBar()->isHidden());
        QVERIFY(frame.centralWidget()->isEnabled());
    }

    void CloseDuringAReductionIsRefusedAndAfterwardsQuits()
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
        QVERIFY(!frame.centralWidget()->isEnabled());
        QVERIFY(!frame.close());
        QVERIFY(frame.isVisible());
        // A drop meanwhile waits its turn rather than replacing the images under the worker.
        Drop(frame, {Write("later.png", TestCard(31, 30))});
        QCOMPARE(frame.Source().width, 30u);
        Release();
        QVERIFY(WaitIdle(frame));
        QCOMPARE(frame.Source().width, 31u);
        QVERIFY(frame.close());
        QVERIFY(!frame.isVisible());
    }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
