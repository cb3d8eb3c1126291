#include "imageio/bitmap_bridge.h"

#include <new>

#include "imageio/image_limits.h"

namespace tessaline {

namespace {

// A bitmap's int sides against the file layer's limits; never negative, empty or too large.
bool SizeAllowed(int width, int height)
{
    return width > 0 && height > 0 &&
           WithinImageLimits(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
}

// A new Format_ARGB32 image of the given size, or a null one when the size is refused or Qt
// cannot allocate it (QImage reports that as a null image, not an exception).
QImage NewArgbBitmap(std::uint32_t width, std::uint32_t height)
{
    if (!WithinImageLimits(width, height))
        return QImage();
    return QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
}

// Whether an engine image's buffers cover its stated size, so that reading them stays in bounds.
template <typename Image>
bool BuffersCover(const Image& image, std::uint64_t bytesPerPixel)
{
    if (!WithinImageLimits(image.width, image.height))
        return false;
    if (image.rows.size() < image.height)
        return false;
    return image.pixels.size() >= std::uint64_t{image.width} * image.height * bytesPerPixel;
}

} // namespace

bool LoadFromBitmap(RgbaImage& image, const QImage& bitmap)
{
    image.Release();
    if (bitmap.isNull() || !SizeAllowed(bitmap.width(), bitmap.height()))
        return false;
    QImage argb = bitmap;
    if (bitmap.format() != QImage::Format_ARGB32) {
        argb = CloneToArgb(bitmap, bitmap.width(), bitmap.height());
        // A failed conversion must not be read.
        if (argb.isNull())
            return false;
    }
    const auto width = static_cast<std::uint32_t>(argb.width());
    const auto height = static_cast<std::uint32_t>(argb.height());
    try {
        image = CreateRgbaImage(width, height);
    } catch (const std::bad_alloc&) {
        image.Release();
        return false;
    }
    image.gamma = double{InternalGamma};
    image.sourceBytes = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        // Read as QRgb words, so the channels are right whatever the byte order.
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(static_cast<int>(y)));
        std::uint8_t* out = image.rows[y];
        for (std::uint32_t x = 0; x < width; ++x, out += 4) {
            out[0] = static_cast<std::uint8_t>(qRed(in[x]));
            out[1] = static_cast<std::uint8_t>(qGreen(in[x]));
            out[2] = static_cast<std::uint8_t>(qBlue(in[x]));
            out[3] = static_cast<std::uint8_t>(qAlpha(in[x]));
        }
    }
    return true;
}

QImage CloneToArgb(const QImage& bitmap, int width, int height)
{
    if (bitmap.isNull() || width <= 0 || height <= 0 || width > bitmap.width() || height > bitmap.height())
        return QImage();
    if (!SizeAllowed(width, height))
        return QImage();
    const QImage area =
        (width == bitmap.width() && height == bitmap.height()) ? bitmap : bitmap.copy(0, 0, width, height);
    if (area.isNull())
        return QImage();
    return area.convertToFormat(QImage::Format_ARGB32);
}

QImage MakeSourceBitmap(const RgbaImage& image)
{
    if (!BuffersCover(image, 4))
        return QImage();
    QImage bitmap = NewArgbBitmap(image.width, image.height);
    if (bitmap.isNull())
        return bitmap;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* in = image.rows[y];
        auto* out = reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < image.width; ++x, in += 4)
            out[x] = qRgba(in[0], in[1], in[2], in[3]);
    }
    return bitmap;
}

QImage MakeResultBitmap(const IndexedImage& image)
{
    if (!BuffersCover(image, 1))
        return QImage();
    QImage bitmap = NewArgbBitmap(image.width, image.height);
    if (bitmap.isNull())
        return bitmap;
    // One colour per index, looked up once instead of per pixel. Every byte is a valid index
    // into the 256-entry tables, so no pixel can read past them.
    QRgb colours[256];
    for (std::uint32_t p = 0; p < 256; ++p) {
        const std::uint8_t* rgb = &image.paletteRgb[p * 3];
        const int alpha = p < image.transparentCount ? image.paletteAlpha[p] : 255;
        colours[p] = qRgba(rgb[0], rgb[1], rgb[2], alpha);
    }
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* in = image.rows[y];
        auto* out = reinterpret_cast<QRgb*>(bitmap.scanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < image.width; ++x)
            out[x] = colours[in[x]];
    }
    return bitmap;
}

} // namespace tessaline
