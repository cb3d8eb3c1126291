// tessaline-screenshot: opens the real main window, drops a sample image onto it the way a file
// manager does, waits for the reduced result and saves a picture of the window. A development
// tool (scripts/screenshot.sh runs it under Xvfb); the program itself takes no options.
//
// Usage: tessaline-screenshot OUTPUT.png [SAMPLE-IMAGE [difference|curve]]
// Without a sample image a test card is drawn into a temporary folder. With "difference" the
// result view shows the difference heat map when the picture is taken; with "curve" the colour
// curve is shown and the picture waits until it is measured.

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include "app/colour_curve_view.h"
#include "app/compare_bar.h"
#include "app/main_frame.h"
#include "tests/app/drop_files.h"

namespace {

// Colour ramps, saturated discs, a translucent band and a line of Japanese text: enough for the
// palette to have work to do and for transparency to show against the checkerboard.
QImage TestCard()
{
    QImage card(480, 360, QImage::Format_ARGB32);
    card.fill(Qt::transparent);
    QPainter painter(&card);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int x = 0; x < card.width(); ++x) {
        QLinearGradient ramp(0, 0, 0, 240);
        const QColor hue = QColor::fromHsv(x * 359 / card.width(), 255, 255);
        ramp.setColorAt(0.0, Qt::white);
        ramp.setColorAt(0.5, hue);
        ramp.setColorAt(1.0, Qt::black);
        painter.fillRect(QRect(x, 0, 1, 240), ramp);
    }
    QLinearGradient grey(0, 0, card.width(), 0);
    grey.setColorAt(0.0, Qt::black);
    grey.setColorAt(1.0, Qt::white);
    painter.fillRect(QRect(0, 240, card.width(), 40), grey);
    QLinearGradient fade(0, 0, card.width(), 0);
    fade.setColorAt(0.0, QColor(30, 90, 200, 255));
    fade.setColorAt(1.0, QColor(30, 90, 200, 0));
    painter.fillRect(QRect(0, 280, card.width(), 40), fade);
    painter.setPen(Qt::NoPen);
    const QColor discs[] = {QColor(230, 40, 50), QColor(250, 200, 40), QColor(40, 170, 90), QColor(40, 90, 220)};
    for (int i = 0; i < 4; ++i) {
        painter.setBrush(discs[i]);
        painter.drawEllipse(QPoint(60 + i * 120, 120), 38, 38);
    }
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPixelSize(26);
    painter.setFont(font);
    painter.drawText(QRect(0, 320, card.width(), 40), Qt::AlignCenter, QStringLiteral("Tessaline テストカード"));
    return card;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessaline-screenshot OUTPUT.png [SAMPLE-IMAGE]\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir folder;
    QString sample = argc > 2 ? QString::fromLocal8Bit(argv[2]) : folder.filePath(QStringLiteral("テストカード.png"));
    if (argc <= 2 && !TestCard().save(sample)) {
        std::fprintf(stderr, "tessaline-screenshot: cannot write the test card\n");
        return 1;
    }

    tessaline::CMainFrame frame;
    frame.resize(1280, 720);
    frame.show();
    bool shown = false;
    QObject::connect(&frame, &tessaline::CMainFrame::resultShown, [&] { shown = true; });
    int resultCode = -1;
    QObject::connect(&frame, &tessaline::CMainFrame::reductionFinished, [&](int code) { resultCode = code; });

    // Enter first, then drop, as a file manager does: the window takes a drop only after it has
    // accepted the drag's entry.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(sample)});
    tessaline::apptest::DropMime(frame, mime, QPoint(40, 400));

    QElapsedTimer clock;
    clock.start();
    while (resultCode < 0 && clock.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10); // processEvents returns at once when idle: do not spin
    }
    if (!shown) {
        std::fprintf(stderr, "tessaline-screenshot: no result (reduction code %d)\n", resultCode);
        return 1;
    }
    if (argc > 3 && QString::fromLocal8Bit(argv[3]) == QStringLiteral("difference"))
        frame.CompareBar()->DifferenceButton()->setChecked(true);
    if (argc > 3 && QString::fromLocal8Bit(argv[3]) == QStringLiteral("curve")) {
        bool measured = false;
        QObject::connect(frame.CurveView(), &tessaline::CColourCurveView::curveFinished,
                         [&] { measured = true; });
        frame.CompareBar()->CurveButton()->click();
        clock.restart();
        while (!measured && clock.elapsed() < 600000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(10);
        }
    }
    // Let the views paint the result before the picture is taken.
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    const QPixmap picture = frame.screen()->grabWindow(frame.winId());
    if (picture.isNull() || !picture.save(output)) {
        std::fprintf(stderr, "tessaline-screenshot: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
