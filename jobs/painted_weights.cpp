#include "jobs/painted_weights.h"

#include <new>

#include <QSysInfo>

namespace tessaline {

bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const QImage* weightMap, RgbaImage& source,
                    IndexedImage& result)
{
    if (!UserWeightsOn(values) || weightMap == nullptr || weightMap->isNull())
        return BuildReduceJob(thread, values, static_cast<const WeightAlpha*>(nullptr), source, result);
    WeightAlpha alpha;
    alpha.width = static_cast<std::uint32_t>(weightMap->width());
    alpha.height = static_cast<std::uint32_t>(weightMap->height());
    if (alpha.width != source.width || alpha.height != source.height)
        return BuildReduceJob(thread, values, &alpha, source, result); // refused for its size
    // Only alpha is read, and every format keeps it through the conversion. The window paints in
    // Format_ARGB32 (a native 0xAARRGGBB word per pixel), which needs no copy.
    const QImage argb = weightMap->format() == QImage::Format_ARGB32
                            ? *weightMap
                            : weightMap->convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        throw std::bad_alloc();
    const int alphaByte = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? 3 : 0;
    alpha.rows.resize(alpha.height);
    for (std::uint32_t y = 0; y < alpha.height; ++y)
        alpha.rows[y] = argb.constScanLine(static_cast<int>(y)) + alphaByte;
    return BuildReduceJob(thread, values, &alpha, source, result);
}

} // namespace tessaline
