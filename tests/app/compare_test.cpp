// Judging a result in the window: the source blink and the difference view in the result view at
// any zoom and scroll, the palette strip's entries and counts, the figures against the saved file,
// and a weight saved from the window steering tessaline-cli to the window's own result.

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "app/batch_outcomes.h"
#include "app/compare_bar.h"
#include "app/difference_legend.h"
#include "app/image_view.h"
#include "app/main_frame.h"
#include "app/palette_choice.h"
#include "app/palette_strip.h"
#include "app/top_panel_view.h"
#include "app/ui_texts.h"
#include "engine/result_figures.h"
#include "imageio/compare_bitmaps.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "tests/app/drop_files.h"

using namespace tessaline;

namespace {

constexpr int WaitMs = 120000;

// Gradients with a translucent band and a fully transparent corner: some error for the heat map.
QImage TestCard(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                           qRgba(x * 255 / w, y * 255 / h, (x * y) % 256,
                                 x < 6 && y < 6 ? 0 : ((y > h / 3 && y < h / 2) ? 140 : 255)));
    return image;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Bytes(const std::vector<std::uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

class CompareTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

    QString Write(const QString& name, const QImage& image)
    {
        const QString path = folder.filePath(name);
        if (!image.save(path))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Drops `path` onto a shown frame and waits for its result.
    static bool LoadAndReduce(CMainFrame& frame, const QString& path)
    {
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        apptest::DropMime(frame, mime);
        return (finished.count() > 0 || finished.wait(WaitMs)) && finished.at(0).at(0).toInt() == ReduceOk;
    }

    static bool Preview(CMainFrame& frame)
    {
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        frame.Panel()->findChild<QPushButton*>(QStringLiteral("1022"))->click();
        return (finished.count() > 0 || finished.wait(WaitMs)) && finished.at(0).at(0).toInt() == ReduceOk;
    }

    // Zoom through the panel's list, then scroll both views a page right and down together.
    static void ZoomAndScroll(CMainFrame& frame, int listIndex)
    {
        frame.Panel()->findChild<QComboBox*>(QStringLiteral("1035"))->setCurrentIndex(listIndex);
        frame.ResultView()->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        frame.ResultView()->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    }

    static QImage Shown(CImageView* view)
    {
        return view->viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }

private slots:
    void BlinkShowsTheSourceInPlaceAtEveryZoom()
    {
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QVERIFY(LoadAndReduce(frame, Write(QStringLiteral("blink.png"), TestCard(300, 260))));
        QPushButton* button = frame.CompareBar()->SourceButton();
        for (const int listIndex : {0, 2, 6}) { // x 1, x 4, x 32
            ZoomAndScroll(frame, listIndex);
            QCOMPARE(frame.ResultView()->ScrollPosition(), frame.SourceView()->ScrollPosition());
            const QImage result = Shown(frame.ResultView());
            const QImage source = Shown(frame.SourceView());
            const QRect common = result.rect().intersected(source.rect());
            QVERIFY(result.copy(common) != source.copy(common));

            // The toggle button, then the held space bar: the source, pixel for pixel where the
            // source view shows it, and the result again afterwards.
            button->setChecked(true);
            QCOMPARE(Shown(frame.ResultView()).copy(common), source.copy(common));
            button->setChecked(false);
            QCOMPARE(Shown(frame.ResultView()), result);
            QTest::keyPress(frame.ResultView(), Qt::Key_Space);
            QCOMPARE(Shown(frame.ResultView()).copy(common), source.copy(common));
            QTest::keyRelease(frame.ResultView(), Qt::Key_Space);
            QCOMPARE(Shown(frame.ResultView()), result);
            QCOMPARE(frame.ResultView()->ScrollPosition(), frame.SourceView()->ScrollPosition());
        }
    }

    void DifferenceViewShowsEachPixelsErrorWithItsLegend()
    {
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QVERIFY(LoadAndReduce(frame, Write(QStringLiteral("difference.png"), TestCard(120, 90))));
        QPushButton* button = frame.CompareBar()->DifferenceButton();
        button->setChecked(true);
        QVERIFY(frame.DifferenceLegend()->isVisible());

        // Every pixel's heat colour is the error between the two bitmaps the views show, and the
        // largest of them is the figure the status bar gives.
        const QImage heat = frame.ResultView()->Alternate();
        const QImage source = frame.SourceView()->Bitmap();
        const QImage result = frame.ResultView()->Bitmap();
        QCOMPARE(heat.size(), result.size());
        int largest = 0;
        for (int y = 0; y < heat.height(); ++y)
            for (int x = 0; x < heat.width(); ++x) {
                const QRgb s = source.pixel(x, y);
                const QRgb r = result.pixel(x, y);
                const std::uint8_t a[4] = {std::uint8_t(qRed(s)), std::uint8_t(qGreen(s)),
                                           std::uint8_t(qBlue(s)), std::uint8_t(qAlpha(s))};
                const std::uint8_t b[4] = {std::uint8_t(qRed(r)), std::uint8_t(qGreen(r)),
                                           std::uint8_t(qBlue(r)), std::uint8_t(qAlpha(r))};
                const int error = PixelError(a, b);
                largest = std::max(largest, error);
                QCOMPARE(heat.pixel(x, y), DifferenceColour(error));
            }
        QVERIFY(frame.Figures());
        QCOMPARE(largest, frame.Figures()->maxError);
        QVERIFY(largest > 0);

        // On screen at a zoom, scrolled: the view paints the heat map where the result was.
        ZoomAndScroll(frame, 3); // x 8
        const QPoint pixel = frame.ResultView()->ViewToImage(QPoint(5, 5));
        QCOMPARE(Shown(frame.ResultView()).pixel(5, 5), heat.pixel(pixel));

        button->setChecked(false);
        QVERIFY(frame.ResultView()->Alternate().isNull());
        QVERIFY(!frame.DifferenceLegend()->isVisible());
    }

    void PaletteStripCountsAndHighlightsEntries()
    {
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1021"))->setChecked(true); // 自動保存
        const QString path = Write(QStringLiteral("strip.png"), TestCard(90, 70));
        QVERIFY(LoadAndReduce(frame, path));

        const IndexedImage& result = frame.Result();
        CPaletteStrip* strip = frame.CompareBar()->Strip();
        QCOMPARE(strip->EntryCount(), static_cast<int>(result.paletteSize));
        std::uint32_t used = 0;
        for (int i = 0; i < strip->EntryCount(); ++i) {
            const auto pixels = static_cast<std::uint64_t>(
                std::count(result.pixels.begin(), result.pixels.end(), static_cast<std::uint8_t>(i)));
            QCOMPARE(strip->EntryPixels(i), pixels);
            used += pixels > 0 ? 1 : 0;
            const std::array<std::uint8_t, 4> c = StoredRgba(result, static_cast<std::uint8_t>(i));
            QCOMPARE(strip->EntryColour(i), qRgba(c[0], c[1], c[2], c[3]));
            QCOMPARE(strip->EntryAt(strip->EntryRect(i).center()), i);
            QVERIFY(strip->EntryText(i).contains(QStringLiteral("%1 画素").arg(pixels)));
        }
        QCOMPARE(frame.Figures()->coloursUsed, used);

        // The status bar's figures, and the size is the automatically saved file's.
        const QByteArray saved = FileBytes(folder.filePath(QStringLiteral("OUTPUT/strip.png")));
        QCOMPARE(saved, Bytes(frame.ResultPng()));
        QCOMPARE(static_cast<std::uint64_t>(saved.size()), frame.Figures()->pngBytes);
        const QString status = frame.statusBar()->currentMessage();
        // The automatic save's confirmation follows the figures, saying where the file went.
        QVERIFY2(status.contains(QStringLiteral(" | %1 色 | ").arg(used) + texts::FileSizeText(saved.size()) +
                                 QStringLiteral(" | 保存しました : OUTPUT/strip.png")),
                 qPrintable(status));

        // A click highlights the entry's pixels, a second click lets go.
        const int entry = static_cast<int>(std::max_element(result.pixels.begin(), result.pixels.end()) -
                                           result.pixels.begin());
        const int index = result.pixels[static_cast<std::size_t>(entry)];
        QTest::mouseClick(strip, Qt::LeftButton, Qt::NoModifier, strip->EntryRect(index).center());
        QCOMPARE(strip->Selected(), index);
        const QImage veil = frame.ResultView()->Highlight();
        QCOMPARE(veil.size(), QSize(90, 70));
        for (std::size_t i = 0; i < result.pixels.size(); ++i)
            QCOMPARE(qAlpha(veil.pixel(int(i % 90), int(i / 90))) == 0, result.pixels[i] == index);
        QTest::mouseClick(strip, Qt::LeftButton, Qt::NoModifier, strip->EntryRect(index).center());
        QCOMPARE(strip->Selected(), -1);
        QVERIFY(frame.ResultView()->Highlight().isNull());
    }

    void LockedColoursAreKeptAndPaletteFilesLoadAndSave()
    {
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QVERIFY(LoadAndReduce(frame, Write(QStringLiteral("locks.png"), TestCard(90, 70))));
        CPaletteStrip* strip = frame.CompareBar()->Strip();
        QVERIFY(strip->EntryCount() > 20);
        const QRgb lockedA = strip->EntryColour(strip->EntryCount() / 2);
        const QRgb lockedB = strip->EntryColour(strip->EntryCount() - 1);
        QTest::mouseClick(strip, Qt::RightButton, {}, strip->EntryRect(strip->EntryCount() / 2).center());
        strip->ToggleLock(strip->EntryCount() - 1);
        QCOMPARE(strip->LockedColours(), (std::vector<QRgb>{lockedA, lockedB}));

        // Four colours now: the two locked ones are among them, exactly, and marked.
        frame.Panel()->findChild<QSlider*>(QStringLiteral("1017"))->setValue(4);
        QVERIFY(Preview(frame));
        QVERIFY(strip->EntryCount() <= 4);
        int marked = 0;
        for (int i = 0; i < strip->EntryCount(); ++i) {
            marked += strip->IsLocked(i) ? 1 : 0;
            QCOMPARE(strip->EntryText(i).contains(texts::LockedEntry()), strip->IsLocked(i));
        }
        QCOMPARE(marked, 2);

        // Saved, then loaded as the given palette: the next result takes it in the same order.
        std::vector<QRgb> saved;
        for (int i = 0; i < strip->EntryCount(); ++i)
            saved.push_back(strip->EntryColour(i));
        const QString file = folder.filePath(QStringLiteral("four.gpl"));
        QVERIFY(frame.PaletteChoice()->SavePalette(file.toStdString()));
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        QVERIFY(frame.PaletteChoice()->LoadPalette(file.toStdString()));
        QVERIFY(finished.count() > 0 || finished.wait(WaitMs));
        QVERIFY(frame.CompareBar()->LoadPaletteButton()->isChecked());
        QCOMPARE(strip->EntryCount(), static_cast<int>(saved.size()));
        for (int i = 0; i < strip->EntryCount(); ++i)
            QCOMPARE(strip->EntryColour(i), saved[static_cast<std::size_t>(i)]);
        QVERIFY(
            !frame.PaletteChoice()->LoadPalette(folder.filePath(QStringLiteral("none.gpl")).toStdString()));
        QVERIFY(frame.statusBar()->currentMessage().contains(QStringLiteral("none.gpl")));
        QVERIFY(frame.CompareBar()->LoadPaletteButton()->isChecked()); // the loaded palette stays
    }

    void SavedWeightSteersTheCliToTheWindowsResult()
    {
        const QString cli = QStringLiteral(TESSALINE_CLI);
        if (!QFile::exists(cli))
            QSKIP("tessaline-cli is not built");
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QString image = Write(QStringLiteral("weighted.png"), TestCard(80, 60));
        QVERIFY(LoadAndReduce(frame, image));
        const QByteArray unweighted = Bytes(frame.ResultPng());

        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1038"))->setChecked(true);
        for (int x = 5; x < 75; x += 7)
            frame.SourceView()->PaintWeight(x, 20 + x / 4);
        const QImage painted = frame.SourceView()->WeightMap();
        QVERIFY(Preview(frame));
        const QByteArray windowResult = Bytes(frame.ResultPng());
        QVERIFY(windowResult != unweighted);

        const QString weights = folder.filePath(QStringLiteral("weighted-weight.png"));
        QVERIFY(frame.SaveWeights(weights.toStdU16String()));
        const QString out = folder.filePath(QStringLiteral("cli.png"));
        QProcess process;
        process.start(cli, {QStringLiteral("--quiet"), QStringLiteral("--weights"), weights,
                            QStringLiteral("-o"), out, image});
        QVERIFY(process.waitForFinished(WaitMs));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(FileBytes(out), windowResult);

        // Loading the file back restores the painted weight; another size is refused.
        frame.SourceView()->ClearWeights();
        QVERIFY(frame.LoadWeights(weights.toStdU16String()));
        QCOMPARE(frame.SourceView()->WeightMap(), painted);
        const QString small = Write(QStringLiteral("small.png"), TestCard(10, 10));
        QVERIFY(!frame.LoadWeights(small.toStdU16String()));
        QCOMPARE(frame.SourceView()->WeightMap(), painted);
        QVERIFY(!frame.SaveWeights(folder.filePath(QStringLiteral("no-such-folder/w.png")).toStdU16String()));
    }

    // メタデータを保持 carries the source's text into the result exactly as --keep-metadata does;
    // unticked, the result is the bare image, as the default run writes it.
    void KeptMetadataMatchesTheCli()
    {
        const QString cli = QStringLiteral(TESSALINE_CLI);
        if (!QFile::exists(cli))
            QSKIP("tessaline-cli is not built");
        QImage card = TestCard(64, 48);
        card.setText(QStringLiteral("Comment"), QStringLiteral("kept beside the image"));
        const QString image = Write(QStringLiteral("noted.png"), card);
        const auto runCli = [&](const QStringList& extra, const QString& out) {
            QProcess process;
            process.start(cli, QStringList{QStringLiteral("--quiet")} + extra + QStringList{QStringLiteral("-o"), out, image});
            return process.waitForFinished(WaitMs) && process.exitCode() == 0;
        };
        const QString kept = folder.filePath(QStringLiteral("noted-kept.png"));
        const QString bare = folder.filePath(QStringLiteral("noted-bare.png"));
        QVERIFY(runCli({QStringLiteral("--keep-metadata")}, kept));
        QVERIFY(runCli({}, bare));
        QVERIFY(FileBytes(kept).contains("tEXtComment"));

        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QVERIFY(LoadAndReduce(frame, image));
        QCOMPARE(Bytes(frame.ResultPng()), FileBytes(bare));
        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1043"))->setChecked(true);
        QVERIFY(frame.Panel()->Values().On(Setting::KeepMetadata));
        QVERIFY(Preview(frame));
        QCOMPARE(Bytes(frame.ResultPng()), FileBytes(kept));
    }

    // 共有パレット in a 自動保存 batch writes what tessaline-cli --shared-palette writes for the same
    // files, byte for byte (so one PLTE, tRNS and the same indices), and every result carries the
    // one palette; unticked, a file has its own palette again.
    void SharedPaletteBatchMatchesTheCli()
    {
        const QString cli = QStringLiteral(TESSALINE_CLI);
        if (!QFile::exists(cli))
            QSKIP("tessaline-cli is not built");
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("win")) && QDir(folder.path()).mkpath(QStringLiteral("cli")));
        QStringList windowFiles;
        QStringList cliFiles;
        for (int i = 0; i < 3; ++i) {
            QImage card = TestCard(40 + 8 * i, 30 + 4 * i);
            for (int y = 0; y < card.height(); ++y) // each file its own colours
                for (int x = 0; x < 12; ++x)
                    card.setPixel(x, y, qRgba(255 * (i == 0), 255 * (i == 1), 255 * (i == 2), 255));
            const QString name = QStringLiteral("frame%1.png").arg(i);
            windowFiles << Write(QStringLiteral("win/") + name, card);
            cliFiles << Write(QStringLiteral("cli/") + name, card);
        }
        QProcess process;
        const QString cliPalette = folder.filePath(QStringLiteral("cli/shared-palette.png"));
        process.start(cli, QStringList{QStringLiteral("--quiet"), QStringLiteral("--shared-palette"),
                                       QStringLiteral("--save-palette"), cliPalette, QStringLiteral("--colours"),
                                       QStringLiteral("8")} + cliFiles);
        QVERIFY(process.waitForFinished(WaitMs));
        QCOMPARE(process.exitCode(), 0);

        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.Panel()->findChild<QSlider*>(QStringLiteral("1017"))->setValue(8);
        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1021"))->setChecked(true);
        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1042"))->setChecked(true);
        QVERIFY(frame.Panel()->Values().On(Setting::SharedPalette));
        QCOMPARE(frame.Panel()->Values()[Setting::Colours], 8);
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : windowFiles)
            urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        apptest::DropMime(frame, mime);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.Reducing() && frame.PendingCount() == 0, WaitMs);
        QCOMPARE(frame.Outcomes()->Count(BatchOutcomes::State::Saved), 3);

        QByteArray palette;
        for (int i = 0; i < 3; ++i) {
            const QByteArray mine = FileBytes(ToQString(DestinationFor(OutputRule{}, ToPath(windowFiles[i])).file));
            const QByteArray theirs = FileBytes(ToQString(DestinationFor(OutputRule{}, ToPath(cliFiles[i])).file));
            QVERIFY(!mine.isEmpty());
            QCOMPARE(mine, theirs);
            const qsizetype at = mine.indexOf("PLTE");
            QVERIFY(at > 4);
            const QByteArray plte = mine.mid(at - 4, 12 + mine.at(at - 1));
            QVERIFY(palette.isEmpty() || plte == palette);
            palette = plte;
        }
        // パレット保存 proposes the shared palette beside the results, and writes the CLI's file.
        const std::filesystem::path proposal = frame.PaletteChoice()->ProposedName();
        QCOMPARE(proposal.parent_path(), DestinationFor(OutputRule{}, ToPath(windowFiles[2])).file.parent_path());
        QVERIFY(frame.PaletteChoice()->SavePalette(proposal));
        QCOMPARE(FileBytes(ToQString(proposal)), FileBytes(cliPalette));
        // Unticked, each file has its own palette again (the first file's own colours differ).
        frame.Panel()->findChild<QCheckBox*>(QStringLiteral("1042"))->setChecked(false);
        QVERIFY(LoadAndReduce(frame, windowFiles[0]));
        QVERIFY(!Bytes(frame.ResultPng()).contains(palette));
    }
};

QTEST_MAIN(CompareTest)
#include "compare_test.moc"
