// bench/view_paint_bench.cpp: how long one paint of an image view takes at every zoom. A view
// whose viewport is 1000 x 700 shows a 4000 x 3000 photo-like image scrolled to its middle, with
// and without the weight overlay, painted offscreen into an image of the viewport's size.
// Prints the median and the slowest paint of each zoom. With a zoom as its argument it measures
// only that one (handy under callgrind: --toggle-collect='*TimePaints*'). A plain timing program,
// not a test.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QScrollBar>

#include "app/image_view.h"
#include "bench/photo_like.h"

namespace {

constexpr int ViewportWidth = 1000;
constexpr int ViewportHeight = 700;
constexpr int ImageWidth = 4000;
constexpr int ImageHeight = 3000;
constexpr int Zooms[] = {1, 2, 4, 8, 12, 16, 32};

QImage PhotoLikeBitmap()
{
    const tessaline::RgbaImage photo = tessaline::bench::MakePhotoLikeImage(ImageWidth, ImageHeight);
    QImage bitmap(ImageWidth, ImageHeight, QImage::Format_ARGB32);
    for (int y = 0; y < ImageHeight; ++y) {
        const std::uint8_t* rgba = photo.rows[y];
        auto* line = reinterpret_cast<QRgb*>(bitmap.scanLine(y));
        for (int x = 0; x < ImageWidth; ++x, rgba += 4)
            line[x] = qRgba(rgba[0], rgba[1], rgba[2], rgba[3]);
    }
    return bitmap;
}

struct Figures
{
    double medianMs;
    double slowestMs;
};

// Paints at least 5 times and for at least a quarter of a second (at most 200 paints), each time
// at a slightly different scroll position so that no cache of the last picture can answer.
Figures TimePaints(tessaline::CImageView& view, QImage& target)
{
    std::vector<double> times;
    const auto begin = std::chrono::steady_clock::now();
    QScrollBar* bar = view.horizontalScrollBar();
    const int middle = bar->maximum() / 2;
    for (int i = 0; i < 200; ++i) {
        bar->setValue(middle + (i % 2 == 0 ? i : -i));
        const auto start = std::chrono::steady_clock::now();
        view.viewport()->render(&target);
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (i >= 4 && end - begin > std::chrono::milliseconds(250))
            break;
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

} // namespace

int main(int argc, char* argv[])
{
    const int onlyZoom = argc > 1 ? std::atoi(argv[1]) : 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    tessaline::CImageView view;
    view.resize(ViewportWidth, ViewportHeight);
    view.show();
    view.SetBitmap(PhotoLikeBitmap());
    view.CreateWeightMap();
    // The scroll bars appear once the image is there; size the frame around the wanted viewport.
    for (int attempt = 0; attempt < 3 && view.viewport()->size() != QSize(ViewportWidth, ViewportHeight);
         ++attempt) {
        QCoreApplication::processEvents();
        view.resize(QSize(ViewportWidth, ViewportHeight) + view.size() - view.viewport()->size());
        QCoreApplication::processEvents();
    }
    QImage target(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);

    std::printf("viewport %dx%d, image %dx%d\n", view.viewport()->width(), view.viewport()->height(),
                ImageWidth, ImageHeight);
    std::printf("%-6s %12s %12s %16s %16s\n", "zoom", "median ms", "slowest ms", "overlay median",
                "overlay slowest");
    for (int zoom : Zooms) {
        if (onlyZoom > 0 && zoom != onlyZoom)
            continue;
        view.SetZoom(zoom);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        view.SetWeightVisible(false);
        const Figures plain = TimePaints(view, target);
        view.SetWeightVisible(true);
        const Figures overlay = TimePaints(view, target);
        std::printf("x %-4d %12.2f %12.2f %16.2f %16.2f\n", zoom, plain.medianMs, plain.slowestMs,
                    overlay.medianMs, overlay.slowestMs);
        std::fflush(stdout);
    }
    return 0;
}
