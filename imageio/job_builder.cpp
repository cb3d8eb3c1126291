#include "imageio/job_builder.h"

#include <memory>
#include <new>

#include "imageio/image_limits.h"

namespace tessaline {

namespace {

// Weights from the alpha of the weight map, which must already match the source's size.
std::unique_ptr<float[]> WeightsFromAlpha(const QImage& weightMap, int userWeight)
{
    const auto width = static_cast<std::size_t>(weightMap.width());
    const auto height = static_cast<std::size_t>(weightMap.height());
    auto weights = std::make_unique<float[]>(width * height); // zeroed: unpainted pixels weigh 0
    // Only alpha is read, and every format keeps it through the conversion.
    const QImage argb =
        weightMap.format() == QImage::Format_ARGB32 ? weightMap : weightMap.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        throw std::bad_alloc();
    const float scale = static_cast<float>(userWeight);
    for (std::size_t y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(static_cast<int>(y)));
        float* out = weights.get() + y * width;
        for (std::size_t x = 0; x < width; ++x) {
            const int alpha = qAlpha(in[x]);
            if (alpha != 0)
                out[x] = static_cast<float>(alpha) * scale / 255.0f;
        }
    }
    return weights;
}

} // namespace

bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const QImage* weightMap, RgbaImage& source,
                    IndexedImage& result)
{
    thread.source = &source;
    thread.result = &result;

    ReduceSettings& job = thread.job;
    FillReduceSettings(values, job);
    job.progress = thread.ui;

    job.userWeights.reset();
    if (!UserWeightsOn(values) || weightMap == nullptr || weightMap->isNull())
        return true;
    // The engine reads the weights at the source's size; a map of any other size is refused.
    if (static_cast<std::uint64_t>(weightMap->width()) != source.width ||
        static_cast<std::uint64_t>(weightMap->height()) != source.height ||
        !WithinImageLimits(source.width, source.height))
        return false;
    job.userWeights = WeightsFromAlpha(*weightMap, values[Setting::UserWeight]);
    return true;
}

} // namespace tessaline
