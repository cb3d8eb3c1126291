// tessaline-window-stall: a measured check of how long the window's event loop stands still while
// a large image is taken in. It opens the real main window, drops IMAGE onto it and ticks a 5 ms
// timer throughout; every gap between two ticks longer than 50 ms is printed with what had just
// happened (the load handed over, the result shown), and the longest one last. A development
// tool, not a test: the figures depend on the machine and on what else runs on it.
//
// Usage: tessaline-window-stall IMAGE [fit] [real]
// With "fit" the views show the image whole (全体表示), otherwise at x1. The reduction is a quick
// stand-in (sixteen greys, no dithering) unless "real" is given: the hand-over of its result to
// the window is the same work either way.

#include <algorithm>
#include <cstdio>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "app/main_frame.h"
#include "engine/reduce_pipeline.h"
#include "tests/app/drop_files.h"

namespace {

int GreyReduce(const tessaline::ReduceSettings&, tessaline::RgbaImage& input, tessaline::IndexedImage& output)
{
    output.width = input.width;
    output.height = input.height;
    output.pixels.assign(std::size_t{input.width} * input.height, 0);
    output.rows.resize(input.height);
    for (std::uint32_t y = 0; y < input.height; ++y) {
        output.rows[y] = output.pixels.data() + std::size_t{y} * input.width;
        const std::uint8_t* in = input.rows[y];
        for (std::uint32_t x = 0; x < input.width; ++x, in += 4)
            output.rows[y][x] = static_cast<std::uint8_t>((in[0] + 2 * in[1] + in[2]) / 64);
    }
    output.paletteSize = 16;
    output.transparentCount = 0;
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 3; ++c)
            output.paletteRgb[static_cast<std::size_t>(i * 3 + c)] = static_cast<std::uint8_t>(i * 17);
        output.paletteAlpha[static_cast<std::size_t>(i)] = 255;
    }
    return tessaline::ReduceOk;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tessaline-window-stall IMAGE [real]\n");
        return 2;
    }
    const QStringList options = QCoreApplication::arguments().mid(2);
    const bool real = options.contains(QStringLiteral("real"));
    tessaline::CMainFrame frame(real ? &tessaline::ReducePipeline : &GreyReduce);
    frame.show();
    if (options.contains(QStringLiteral("fit"))) {
        auto* zoomList = frame.findChild<QComboBox*>(QStringLiteral("1035"));
        zoomList->setCurrentIndex(zoomList->count() - 1);
    }

    QElapsedTimer clock;
    clock.start();
    const char* lastEvent = "start";
    qint64 lastTick = 0;
    qint64 longest = 0;
    const char* longestAfter = "";
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        const qint64 gap = now - lastTick;
        if (gap > 50)
            std::printf("%8lld ms: the window stood still %lld ms (after: %s)\n", static_cast<long long>(now),
                        static_cast<long long>(gap), lastEvent);
        if (gap > longest) {
            longest = gap;
            longestAfter = lastEvent;
        }
        lastTick = now;
    });
    bool done = false;
    QObject::connect(&frame, &tessaline::CMainFrame::loadFinished, [&](bool ok) {
        lastEvent = ok ? "the load was handed over" : "the load failed";
        std::printf("%8lld ms: %s\n", static_cast<long long>(clock.elapsed()), lastEvent);
    });
    QObject::connect(&frame, &tessaline::CMainFrame::resultShown, [&] {
        lastEvent = "the result was handed over";
        std::printf("%8lld ms: %s\n", static_cast<long long>(clock.elapsed()), lastEvent);
    });
    QObject::connect(&frame, &tessaline::CMainFrame::reductionFinished, [&] { done = true; });

    // Settle the first show before measuring.
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1]))});
    lastTick = clock.elapsed();
    ticker.start();
    tessaline::apptest::DropMime(frame, mime, QPoint(40, 400));
    // A second after the result, so that its first paints are counted too.
    qint64 doneAt = -1;
    while (doneAt < 0 || clock.elapsed() < doneAt + 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        if (done && doneAt < 0)
            doneAt = clock.elapsed();
        if (clock.elapsed() > 600000)
            break;
    }
    std::printf("longest stall: %lld ms (after: %s)\n", static_cast<long long>(longest), longestAfter);
    return done ? 0 : 1;
}
