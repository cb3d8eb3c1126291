// The colour curve in the window: measured in the background while the window stays responsive,
// its points equal to what the window's own reduction gives at those counts, and a click on a
// point setting 色数 and reducing.

#include <QHelpEvent>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QUrl>

#include "app/colour_curve_view.h"
#include "app/compare_bar.h"
#include "app/main_frame.h"
#include "app/top_panel_view.h"
#include "tests/app/drop_files.h"

using namespace tessaline;

namespace {

constexpr int WaitMs = 120000;

} // namespace

class ColourCurveTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

private slots:
    void CurveIsMeasuredInTheBackgroundAndAClickReducesAtItsCount()
    {
        QImage image(160, 120, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgba(x * 255 / 160, y * 255 / 120, (x * y) % 256, 255));
        const QString path = folder.filePath(QStringLiteral("curve.png"));
        QVERIFY(image.save(path));

        CMainFrame frame;
        frame.resize(1000, 760);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CColourCurveView* curve = frame.CurveView();
        QVERIFY(!curve->isVisible());
        frame.CompareBar()->CurveButton()->click();
        QVERIFY(curve->isVisible());

        // The load's own reduction and the curve run side by side; the window shows its result
        // while the curve is still coming in.
        QSignalSpy loaded(&frame, &CMainFrame::loadFinished);
        QSignalSpy finished(&frame, &CMainFrame::reductionFinished);
        QSignalSpy curveDone(curve, &CColourCurveView::curveFinished);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        apptest::DropMime(frame, mime);
        QVERIFY(loaded.count() > 0 || loaded.wait(WaitMs));
        QVERIFY(curve->Measuring() || curveDone.count() > 0);
        QVERIFY(finished.count() > 0 || finished.wait(WaitMs));
        QVERIFY(curveDone.count() > 0 || curveDone.wait(WaitMs));
        QVERIFY(!curve->Measuring());
        QCOMPARE(curve->Points().size(), DefaultCurveCounts().size());
        QCOMPARE(curve->CurrentCount(), 256);
        // The point at today's count is the result on show.
        for (const CurvePoint& point : curve->Points())
            if (point.colours == 256) {
                QCOMPARE(point.figures.pngBytes, frame.Figures()->pngBytes);
                QCOMPARE(point.figures.psnr, frame.Figures()->psnr);
            }

        // A click on the point of 16 colours sets 色数 and reduces at it, without a new curve.
        const QPointF at = curve->PointPosition(16);
        QVERIFY(!at.isNull());
        // The hover text Qt asks for after a pause is the point's own, not the view's.
        QHelpEvent help(QEvent::ToolTip, at.toPoint(), curve->mapToGlobal(at.toPoint()));
        QCoreApplication::sendEvent(curve, &help);
        QVERIFY(QToolTip::text().contains(QStringLiteral("16")));
        QVERIFY(QToolTip::text() != curve->toolTip());
        QCOMPARE(curve->TipAt(QPoint(0, 0)), curve->toolTip());
        finished.clear();
        QTest::mouseClick(curve, Qt::LeftButton, Qt::NoModifier, at.toPoint());
        QCOMPARE(frame.Panel()->findChild<QSlider*>(QStringLiteral("1017"))->value(), 16);
        QVERIFY(finished.count() > 0 || finished.wait(WaitMs));
        QCOMPARE(curve->CurrentCount(), 16);
        QVERIFY(!curve->Measuring());
        for (const CurvePoint& point : curve->Points())
            if (point.colours == 16)
                QCOMPARE(point.figures.pngBytes, frame.Figures()->pngBytes);
    }
};

QTEST_MAIN(ColourCurveTest)
#include "colour_curve_test.moc"
