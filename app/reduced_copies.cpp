#include "app/reduced_copies.h"

#include <algorithm>
#include <cstdint>

namespace tessaline {

QImage HalveByArea(const QImage& image)
{
    if (image.isNull())
        return QImage();
    // The window's bitmaps are ARGB32, premultiplied here pixel by pixel rather than through a
    // converted copy of the whole image.
    const bool straight = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32;
    const QImage in = straight || image.format() == QImage::Format_ARGB32_Premultiplied
                          ? image
                          : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (in.isNull())
        return QImage();
    const int width = (in.width() + 1) / 2;
    const int height = (in.height() + 1) / 2;
    QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return QImage();
    for (int y = 0; y < height; ++y) {
        const auto* top = reinterpret_cast<const QRgb*>(in.constScanLine(2 * y));
        const auto* bottom = 2 * y + 1 < in.height() ? reinterpret_cast<const QRgb*>(in.constScanLine(2 * y + 1))
                                                     : top;
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int left = 2 * x;
            const int right = left + 1 < in.width() ? left + 1 : left;
            // An odd edge repeats its pixels, which averages exactly the pixels there are.
            const QRgb p[4] = {top[left], top[right], bottom[left], bottom[right]};
            std::uint32_t a = 0, r = 0, g = 0, b = 0;
            for (QRgb c : p) {
                c = straight ? qPremultiply(c) : c;
                a += qAlpha(c);
                r += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
            }
            row[x] = qRgba(int((r + 2) / 4), int((g + 2) / 4), int((b + 2) / 4), int((a + 2) / 4));
        }
    }
    return out;
}

ReducedCopies MakeReducedCopies(const QImage& image, int smallest, int deepest)
{
    ReducedCopies copies;
    if (image.isNull())
        return copies;
    copies.of = image.cacheKey();
    const QImage* previous = &image;
    for (int divisor = 2; divisor <= deepest; divisor *= 2) {
        QImage next = HalveByArea(*previous);
        if (next.isNull())
            break; // what was made still serves the larger reductions
        copies.levels.push_back(std::move(next));
        previous = &copies.levels.back();
        if (std::max(previous->width(), previous->height()) <= smallest)
            break;
    }
    return copies;
}

} // namespace tessaline
