// tessaline-bench-bridge: milliseconds for the conversions between display bitmaps and the
// engine's images, for building the user weights, and for one start-and-join of a reduce worker,
// on a 2400 x 1600 image. Each figure is the fastest of a few runs.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>

#include <QImage>

#include "imageio/bitmap_bridge.h"
#include "jobs/painted_weights.h"
#include "worker/reduce_thread.h"

namespace {

using namespace tessaline;

double FastestMs(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

int NoReduce(const ReduceSettings&, RgbaImage&, IndexedImage&)
{
    return ReduceOk;
}

} // namespace

int main()
{
    const std::uint32_t width = 2400, height = 1600;
    RgbaImage source = CreateRgbaImage(width, height);
    std::mt19937 random(1);
    for (auto& byte : source.pixels)
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    IndexedImage result;
    result.width = width;
    result.height = height;
    result.pixels.assign(std::size_t{width} * height, 0);
    for (std::uint32_t y = 0; y < height; ++y)
        result.rows.push_back(result.pixels.data() + std::size_t{y} * width);
    for (auto& index : result.pixels)
        index = static_cast<std::uint8_t>(random() & 0xFF);
    result.paletteSize = 256;
    result.transparentCount = 16;

    QImage shown;
    const double makeSource = FastestMs(5, [&] { shown = MakeSourceBitmap(source); });
    RgbaImage loaded;
    const double load = FastestMs(5, [&] { LoadFromBitmap(loaded, shown); });
    const QImage rgb = shown.convertToFormat(QImage::Format_RGB888);
    const double loadConverted = FastestMs(5, [&] { LoadFromBitmap(loaded, rgb); });
    const double makeResult = FastestMs(5, [&] { shown = MakeResultBitmap(result); });

    QImage weightMap(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    weightMap.fill(Qt::transparent);
    SettingValues panel;
    panel[Setting::UseUserWeight] = 1;
    ReduceThread thread(nullptr, &NoReduce);
    const double weights = FastestMs(5, [&] { BuildReduceJob(thread, panel, &weightMap, source, result); });
    const double startJoin = FastestMs(20, [&] {
        thread.Start();
        thread.Stop();
    });

    std::printf("%u x %u pixels, fastest of several runs\n", width, height);
    std::printf("MakeSourceBitmap           %8.2f ms\n", makeSource);
    std::printf("LoadFromBitmap (ARGB32)    %8.2f ms\n", load);
    std::printf("LoadFromBitmap (RGB888)    %8.2f ms\n", loadConverted);
    std::printf("MakeResultBitmap           %8.2f ms\n", makeResult);
    std::printf("BuildReduceJob (weights)   %8.2f ms\n", weights);
    std::printf("ReduceThread start + join  %8.3f ms\n", startJoin);
    return 0;
}
