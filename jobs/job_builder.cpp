#include "jobs/job_builder.h"

#include <memory>
#include <new>

#include "imageio/image_limits.h"

namespace tessaline {

namespace {

// Weights from the alpha of the weight map, which must already match the source's size.
std::unique_ptr<float[]> WeightsFromAlpha(const WeightAlpha& weightMap, int userWeight)
{
    const std::size_t width = weightMap.width;
    const std::size_t height = weightMap.height;
    auto weights = std::make_unique<float[]>(width * height); // zeroed: unpainted pixels weigh 0
    const float scale = static_cast<float>(userWeight);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* in = weightMap.rows[y];
        float* out = weights.get() + y * width;
        for (std::size_t x = 0; x < width; ++x) {
            const int alpha = in[x * weightMap.step];
            if (alpha != 0)
                out[x] = static_cast<float>(alpha) * scale / 255.0f;
        }
    }
    return weights;
}

} // namespace

WeightAlpha AlphaOf(const RgbaImage& image)
{
    WeightAlpha alpha;
    alpha.width = image.width;
    alpha.height = image.height;
    alpha.rows.resize(image.height);
    for (std::uint32_t y = 0; y < image.height; ++y)
        alpha.rows[y] = image.rows[y] + 3;
    return alpha;
}

bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const WeightAlpha* weightMap,
                    RgbaImage& source, IndexedImage& result)
{
    thread.source = &source;
    thread.result = &result;

    ReduceSettings& job = thread.job;
    FillReduceSettings(values, job);
    job.progress = thread.ui;

    job.userWeights.reset();
    if (!UserWeightsOn(values) || weightMap == nullptr || weightMap->width == 0 || weightMap->height == 0)
        return true;
    // The engine reads the weights at the source's size; a map of any other size is refused.
    if (weightMap->width != source.width || weightMap->height != source.height ||
        weightMap->rows.size() < weightMap->height || !WithinImageLimits(source.width, source.height))
        return false;
    job.userWeights = WeightsFromAlpha(*weightMap, values[Setting::UserWeight]);
    return true;
}

} // namespace tessaline
