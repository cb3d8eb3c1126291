// Image view: zoom maths, aligned magnification, checkerboard, scrolling together through a shared
// view state and the user-weight brush.

#include <cmath>
#include <cstdlib>

#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "app/image_view.h"
#include "app/view_state.h"

using tessaline::CImageView;
using tessaline::FillCheckerboard;
using tessaline::ViewState;
using tessaline::HalveByArea;
using tessaline::MakeReducedCopies;
using tessaline::PaintShrunk;
using tessaline::ReducedCopies;

namespace {

// A w x h image whose pixel (x, y) has red x, green y, opaque.
QImage Gradient(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x, y, 77, 255));
    return image;
}

int Alpha(const QImage& map, int x, int y) { return qAlpha(map.pixel(x, y)); }

} // namespace

class ImageViewTest : public QObject
{
    Q_OBJECT

private slots:
    void EmptyViewShowsCheckerboard()
    {
        CImageView view;
        view.resize(100, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage shot = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(0, 0)), QColor(255, 255, 255));
        QCOMPARE(QColor(shot.pixel(16, 0)), QColor(204, 204, 204));
        QCOMPARE(QColor(shot.pixel(0, 16)), QColor(204, 204, 204));
        QCOMPARE(QColor(shot.pixel(17, 17)), QColor(255, 255, 255));
    }

    void ZoomedPixelsAreWholeBlocksAlignedToTheScroll()
    {
        CImageView view;
        view.resize(120, 120);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetZoom(4);
        view.SetBitmap(Gradient(100, 100));
        view.horizontalScrollBar()->setValue(6);
        view.viewport()->repaint();
        const QImage shot = view.viewport()->grab().toImage();
        // Document x 6 and 7 belong to image pixel 1, drawn whole from document x 4.
        QCOMPARE(qRed(shot.pixel(0, 0)), 1);
        QCOMPARE(qRed(shot.pixel(1, 0)), 1);
        QCOMPARE(qRed(shot.pixel(2, 0)), 2);
        QCOMPARE(qRed(shot.pixel(5, 0)), 2);
        QCOMPARE(qRed(shot.pixel(6, 0)), 3);
        QCOMPARE(qGreen(shot.pixel(0, 7)), 1);
        QCOMPARE(view.ViewToImage(QPoint(2, 0)), QPoint(2, 0));
        QCOMPARE(view.ImageToView(QPoint(2, 0)), QPoint(2, 0));
        QCOMPARE(view.ImageToView(view.ViewToImage(QPoint(9, 5))), QPoint(6, 4));
    }

    void TransparentPixelsShowTheCheckerboardAndSmallImagesStayInTheCorner()
    {
        CImageView view;
        view.resize(100, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QImage clear(20, 20, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        view.SetBitmap(clear);
        view.viewport()->repaint();
        const QImage shot = view.viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(1, 1)), QColor(255, 255, 255));
        QCOMPARE(QColor(shot.pixel(17, 1)), QColor(204, 204, 204));
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
    }

    // Steps are screen distances at every zoom: an arrow key moves a step, a wheel notch three
    // (a few screen lines), a page key a view less a step; never a fraction of the image.
    void ScrollStepsAreScreenDistances()
    {
        CImageView view;
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetBitmap(Gradient(1200, 900));
        for (const int zoom : {1, 32}) {
            view.SetZoom(zoom);
            QScrollBar* vertical = view.verticalScrollBar();
            QCOMPARE(vertical->singleStep(), CImageView::ScrollStep);
            QCOMPARE(vertical->pageStep(), view.viewport()->height() - CImageView::ScrollStep);
            QCOMPARE(view.horizontalScrollBar()->pageStep(), view.viewport()->width() - CImageView::ScrollStep);

            QTest::keyClick(&view, Qt::Key_Down);
            QCOMPARE(vertical->value(), CImageView::ScrollStep);
            QTest::keyClick(&view, Qt::Key_PageDown);
            QCOMPARE(vertical->value(), view.viewport()->height());
            vertical->setValue(0);
            const QPointF at(50, 50);
            QWheelEvent notch(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(view.viewport(), &notch);
            QVERIFY(vertical->value() > 0);
            QVERIFY2(vertical->value() <= 3 * CImageView::ScrollStep, qPrintable(QString::number(vertical->value())));
        }
    }

    // At x1/2, x1/4 and x1/8 every view pixel is the area average of the image pixels under it,
    // so one-pixel lines on a chart become an even grey instead of dots.
    void ReducedViewsShowTheAreaAverage()
    {
        QImage chart(96, 96, QImage::Format_ARGB32);
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x) {
                const bool ink = x % 2 == 0 || (y % 3 == 0 && x > 48); // lines of one pixel
                chart.setPixel(x, y, ink ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
            }
        const ReducedCopies copies = MakeReducedCopies(chart);
        for (const int shrink : {2, 4, 8}) {
            const int side = chart.width() / shrink;
            QImage drawn(side, side, QImage::Format_ARGB32_Premultiplied);
            drawn.fill(Qt::red);
            {
                QPainter painter(&drawn);
                PaintShrunk(painter, chart, shrink, drawn.rect(), &copies);
            }
            int worst = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    int sum = 0;
                    for (int v = 0; v < shrink; ++v)
                        for (int u = 0; u < shrink; ++u)
                            sum += qGreen(chart.pixel(x * shrink + u, y * shrink + v));
                    const int error = std::abs(qGreen(drawn.pixel(x, y)) - sum / (shrink * shrink));
                    worst = std::max(worst, error);
                }
            QVERIFY2(worst <= 1, qPrintable(QStringLiteral("x1/%1: %2").arg(shrink).arg(worst)));
        }
        // Transparent pixels lend no colour to their neighbours' average.
        QImage half(2, 2, QImage::Format_ARGB32);
        half.fill(Qt::transparent);
        half.setPixel(0, 0, qRgba(200, 40, 40, 255));
        const QImage averaged = HalveByArea(half);
        QCOMPARE(qAlpha(averaged.pixel(0, 0)), 64);
        QVERIFY(std::abs(qRed(qUnpremultiply(averaged.pixel(0, 0))) - 200) <= 2); // premultiplied rounding
    }

    // ドット等倍: on a device of two pixels per view pixel the reduction by 2 shows every image
    // pixel as exactly one device pixel (a one-pixel dither checker stays a checker, not grey);
    // the list's entry asks for that reduction where the screen's scale is whole, x1 elsewhere.
    void DotForDotShowsEachImagePixelOnOneDevicePixel()
    {
        QImage chart(40, 30, QImage::Format_ARGB32);
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x)
                chart.setPixel(x, y, (x + y) % 2 ? qRgb(0, 0, 0) : qRgb(250, 240 - 3 * y, 5 * x));
        const ReducedCopies copies = MakeReducedCopies(chart);
        QImage device(chart.size(), QImage::Format_ARGB32_Premultiplied);
        device.setDevicePixelRatio(2.0);
        device.fill(Qt::red);
        {
            QPainter painter(&device);
            PaintShrunk(painter, chart, 2, QRect(0, 0, 20, 15), &copies, 1, 2.0);
        }
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x)
                QCOMPARE(device.pixel(x, y), chart.pixel(x, y));
        QCOMPARE(tessaline::DotShrink(2.0), 2);
        QCOMPARE(tessaline::DotShrink(3.0), 3);
        QCOMPARE(tessaline::DotShrink(1.0), 1);
        QCOMPARE(tessaline::DotShrink(1.5), 1);
        QCOMPARE(tessaline::DotShrink(1.25), 1);
    }

    void ScrollSizesFollowTheImageAndZoom()
    {
        CImageView view;
        view.resize(100, 100);
        view.show();
        view.SetBitmap(Gradient(300, 500));
        const int visibleWidth = view.viewport()->width();
        QCOMPARE(view.horizontalScrollBar()->maximum(), 300 - visibleWidth);

        // The same size keeps the scroll position; zooming returns to the origin.
        view.verticalScrollBar()->setValue(120);
        view.SetBitmap(Gradient(300, 500));
        QCOMPARE(view.verticalScrollBar()->value(), 120);
        view.SetZoom(2);
        QCOMPARE(view.ScrollPosition(), QPoint(0, 0));
        QCOMPARE(view.horizontalScrollBar()->maximum(), 600 - visibleWidth);
        view.SetZoom(0);
        QCOMPARE(view.Zoom(), 2);
    }

    void ViewsSharingAStateScrollAndZoomTogether()
    {
        ViewState shared;
        CImageView left, right;
        for (CImageView* view : {&left, &right}) {
            view->SetViewState(&shared);
            view->resize(100, 100);
            view->show();
            view->SetBitmap(Gradient(1000, 1000));
        }
        QVERIFY(QTest::qWaitForWindowExposed(&left));
        left.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(right.horizontalScrollBar()->value(), CImageView::ScrollStep);
        right.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(left.verticalScrollBar()->value(), right.verticalScrollBar()->pageStep());
        left.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(right.verticalScrollBar()->value(), right.verticalScrollBar()->maximum());

        // A thumb drag, the wheel and the keyboard move the other view too.
        left.horizontalScrollBar()->setSliderPosition(300);
        QCOMPARE(right.horizontalScrollBar()->value(), 300);
        const QPoint centre = right.viewport()->rect().center();
        QWheelEvent wheel(centre, right.viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(right.viewport(), &wheel);
        QVERIFY(right.verticalScrollBar()->value() < right.verticalScrollBar()->maximum());
        QCOMPARE(left.ScrollPosition(), right.ScrollPosition());
        QTest::keyClick(&left, Qt::Key_Right);
        QCOMPARE(left.horizontalScrollBar()->value(), 300 + CImageView::ScrollStep);
        QCOMPARE(right.ScrollPosition(), left.ScrollPosition());

        // A smaller image clamps the position for its own view only.
        right.SetBitmap(Gradient(150, 150));
        left.horizontalScrollBar()->setValue(700);
        QCOMPARE(right.horizontalScrollBar()->value(), right.horizontalScrollBar()->maximum());
        QCOMPARE(left.horizontalScrollBar()->value(), 700);

        // One zoom for both, back at the origin.
        right.SetZoom(4);
        QCOMPARE(left.Zoom(), 4);
        QCOMPARE(left.ScrollPosition(), QPoint(0, 0));
        QCOMPARE(left.horizontalScrollBar()->maximum(), 4000 - left.viewport()->width());
    }

    void PaintIsTheWholeZoomedPictureSeenThroughTheViewport()
    {
        // The plain picture: the whole image scaled up over a checkerboard fixed to its corner.
        QImage image = Gradient(40, 30);
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, 12, qRgba(x * 6, 0, 200, x * 6)); // translucent row over the checkerboard
        CImageView view;
        view.resize(150, 120);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetBitmap(image);
        view.CreateWeightMap();
        view.SetWeightVisible(true);
        view.PaintWeight(30, 30);
        for (const int zoom : {1, 3, 32}) {
            view.SetZoom(zoom);
            QImage plain(image.size() * zoom, QImage::Format_ARGB32_Premultiplied);
            {
                QPainter painter(&plain);
                FillCheckerboard(painter, plain.rect());
                painter.drawImage(plain.rect(), image);
                painter.drawImage(plain.rect(), view.WeightMap());
            }
            for (const QPoint scroll : {QPoint(0, 0), QPoint(37, 11), QPoint(1000, 1000)}) {
                view.horizontalScrollBar()->setValue(scroll.x());
                view.verticalScrollBar()->setValue(scroll.y());
                const QImage shot = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
                const QRect seen = QRect(view.ScrollPosition(), shot.size()).intersected(plain.rect());
                const QImage expected = plain.copy(seen).convertToFormat(QImage::Format_RGB32);
                QCOMPARE(shot.copy(QRect(QPoint(0, 0), seen.size())), expected);
            }
        }
    }

    void EmptyViewShowsItsHint()
    {
        CImageView view;
        view.resize(300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QImage bare = view.viewport()->grab().toImage();
        view.SetHint(QStringLiteral("ここに画像をドロップ"));
        QVERIFY(view.viewport()->grab().toImage() != bare);
        view.SetBitmap(Gradient(300, 200));
        view.resize(300, 200);
        const QImage withImage = view.viewport()->grab().toImage();
        view.SetHint(QString());
        QCOMPARE(view.viewport()->grab().toImage(), withImage); // with an image the hint is gone
    }

    void BrushPaintsOnlyWhileWeightIsVisible()
    {
        CImageView view;
        view.resize(200, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetBitmap(Gradient(40, 40));
        view.CreateWeightMap();
        QCOMPARE(view.WeightMap().size(), QSize(40, 40));
        QCOMPARE(Alpha(view.WeightMap(), 20, 20), 0);

        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(Alpha(view.WeightMap(), 20, 20), 0); // off: nothing painted

        view.SetWeightVisible(true);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        const QImage& map = view.WeightMap();
        QCOMPARE(Alpha(map, 20, 20), 255);
        // The circle spans 11 pixels across its centre row, and no more than 11 down (Qt's aliased
        // rasterizer may leave out the top row's short run); it stays inside its 11 x 11 square.
        int across = 0, down = 0, outside = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                if (Alpha(map, x, y) == 255 && (std::abs(x - 20) > 5 || std::abs(y - 20) > 5))
                    ++outside;
        for (int i = 0; i < 40; ++i) {
            across += Alpha(map, i, 20) == 255;
            down += Alpha(map, 20, i) == 255;
        }
        QCOMPARE(across, 11);
        QVERIFY(down == 10 || down == 11);
        QCOMPARE(outside, 0);
        QCOMPARE(Alpha(map, 15, 20), 255);
        QCOMPARE(Alpha(map, 25, 20), 255);
        QCOMPARE(Alpha(map, 14, 20), 0);
        QCOMPARE(Alpha(map, 15, 15), 0); // a circle, not a square
        QCOMPARE(Alpha(map, 20, 25), 255);

        // The painted weight shows black over the image.
        view.viewport()->repaint();
        QCOMPARE(QColor(view.viewport()->grab().toImage().pixel(20, 20)), QColor(0, 0, 0));

        view.ClearWeights();
        QCOMPARE(Alpha(view.WeightMap(), 20, 20), 0);
    }

    void BrushFollowsZoomAndIsCutAtTheImageEdge()
    {
        CImageView view;
        view.resize(200, 200);
        view.show();
        view.SetZoom(2);
        view.SetBitmap(Gradient(30, 30));
        view.CreateWeightMap();
        view.SetWeightVisible(true);
        // QTest treats (0, 0) as "the centre"; (1, 1) is still image pixel (0, 0) at zoom 2.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(1, 1));
        const QImage& map = view.WeightMap();
        QCOMPARE(Alpha(map, 0, 0), 255);
        QCOMPARE(Alpha(map, 5, 0), 255);
        QCOMPARE(Alpha(map, 6, 0), 0);
        QCOMPARE(Alpha(map, 0, 5), 255);

        // A drag paints along its path.
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        QMouseEvent move(QEvent::MouseMove, QPointF(50, 40), view.viewport()->mapToGlobal(QPointF(50, 40)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &move);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(50, 40));
        QCOMPARE(Alpha(map, 20, 20), 255);
        QCOMPARE(Alpha(map, 25, 20), 255);
        QCOMPARE(Alpha(map, 29, 20), 255);
    }

    void FastStrokeLeavesAJoinedTrace()
    {
        CImageView view;
        view.resize(300, 300);
        view.show();
        view.SetBitmap(Gradient(200, 100));
        view.CreateWeightMap();
        view.SetWeightVisible(true);
        // Two mouse positions 150 pixels apart, as a fast hand gives them.
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(20, 50));
        QMouseEvent move(QEvent::MouseMove, QPointF(170, 80), view.viewport()->mapToGlobal(QPointF(170, 80)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &move);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(170, 80));

        // The oracle: the same circles stamped one by one along the segment.
        CImageView slow;
        slow.SetBitmap(Gradient(200, 100));
        slow.CreateWeightMap();
        slow.SetWeightVisible(true);
        for (int x = 20; x <= 170; ++x)
            slow.PaintWeight(x, 50 + int(std::lround((x - 20) * 30.0 / 150.0)));
        QCOMPARE(view.WeightMap(), slow.WeightMap());

        // A stroke that leaves the view and comes back is not joined across the outside.
        view.ClearWeights();
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        for (const QPointF at : {QPointF(-40, 20), QPointF(120, 20)}) {
            QMouseEvent step(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &step);
        }
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, QPoint(120, 20));
        QCOMPARE(Alpha(view.WeightMap(), 20, 20), 255);
        QCOMPARE(Alpha(view.WeightMap(), 120, 20), 255);
        QCOMPARE(Alpha(view.WeightMap(), 70, 20), 0);
    }

    void NoImageMeansNoWeightMap()
    {
        CImageView view;
        view.CreateWeightMap();
        QVERIFY(view.WeightMap().isNull());
        view.SetWeightVisible(true);
        view.PaintWeight(3, 3); // nothing to paint into, nothing happens
        view.ClearWeights();
        QVERIFY(view.WeightMap().isNull());
    }
};

QTEST_MAIN(ImageViewTest)
#include "image_view_test.moc"
