#include "imageio/compare_bitmaps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

#include "engine/result_figures.h"
#include "imageio/image_limits.h"

namespace tessaline {

namespace {

struct Stop
{
    double at;
    int r, g, b;
};

// Dark for small errors so that a good result stays calm, bright where the palette falls short.
constexpr std::array<Stop, 5> HeatStops{{
    {0.00, 0, 0, 0},
    {0.25, 30, 60, 200},
    {0.50, 210, 40, 80},
    {0.75, 255, 160, 0},
    {1.00, 255, 255, 200},
}};

QImage NewBitmap(std::uint32_t width, std::uint32_t height)
{
    if (!WithinImageLimits(width, height))
        return QImage();
    return QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
}

bool RowsCover(const IndexedImage& image)
{
    return image.width > 0 && image.height > 0 && image.rows.size() == image.height &&
           image.pixels.size() >= std::size_t{image.width} * image.height;
}

} // namespace

double DifferenceScalePosition(int levels)
{
    const int clamped = std::clamp(levels, 0, DifferenceScaleTop);
    return std::sqrt(double(clamped) / DifferenceScaleTop);
}

QRgb DifferenceColour(int levels)
{
    const double t = DifferenceScalePosition(levels);
    std::size_t i = 1;
    while (i + 1 < HeatStops.size() && HeatStops[i].at < t)
        ++i;
    const Stop& low = HeatStops[i - 1];
    const Stop& high = HeatStops[i];
    const double f = (t - low.at) / (high.at - low.at);
    const auto mix = [f](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * f)); };
    return qRgb(mix(low.r, high.r), mix(low.g, high.g), mix(low.b, high.b));
}

QImage MakeDifferenceBitmap(const RgbaImage& source, const IndexedImage& result)
{
    std::vector<std::uint8_t> errors;
    try {
        if (!MeasureResult(source, result, &errors))
            return QImage();
    } catch (const std::bad_alloc&) {
        return QImage();
    }
    QImage bitmap = NewBitmap(result.width, result.height);
    if (bitmap.isNull())
        return bitmap;
    std::array<QRgb, 256> colours;
    for (int levels = 0; levels < 256; ++levels)
        colours[levels] = DifferenceColour(levels);
    for (std::uint32_t y = 0; y < result.height; ++y) {
        const std::uint8_t* in = errors.data() + std::size_t{y} * result.width;
        auto* out = reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < result.width; ++x)
            out[x] = colours[in[x]];
    }
    return bitmap;
}

QImage MakeHighlightBitmap(const IndexedImage& result, int index)
{
    if (!RowsCover(result))
        return QImage();
    QImage bitmap = NewBitmap(result.width, result.height);
    if (bitmap.isNull())
        return bitmap;
    const QRgb veil = qRgba(96, 96, 96, 200);
    const QRgb clear = qRgba(0, 0, 0, 0);
    for (std::uint32_t y = 0; y < result.height; ++y) {
        const std::uint8_t* in = result.rows[y];
        auto* out = reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < result.width; ++x)
            out[x] = in[x] == index ? clear : veil;
    }
    return bitmap;
}

} // namespace tessaline
