#include "imageio/image_loader.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include "imageio/bitmap_bridge.h"
#include "imageio/bitmap_decoder.h"
#include "imageio/image_limits.h"
#include "imageio/output_files.h"
#include "imageio/png_reader.h"

namespace tessaline {

namespace {

// The engine's image from what Qt's decoder gave; a null bitmap was refused with its reason.
bool TakeDecodedBitmap(RgbaImage& image, const QImage& bitmap, QString* whyNot)
{
    if (bitmap.isNull())
        return false;
    if (!LoadFromBitmap(image, bitmap)) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    return true;
}

} // namespace

bool LoadImageFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot)
{
    if (const auto refusal = WhyNotAnInput(path)) {
        image.Release();
        if (whyNot)
            *whyNot = *refusal;
        return false;
    }
    const int pngCode = ReadPngFile(image, path);
    if (pngCode == PngReadOk)
        return true;
    // A well-formed PNG beyond the limits is too large, whatever libpng called it.
    if (const auto size = ReadPngHeaderSize(path); size && !WithinImageLimits(size->first, size->second)) {
        if (whyNot)
            *whyNot = TooLargeReason(size->first, size->second);
        return false;
    }
    if (pngCode == PngReadOutOfMemory) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    // Not a PNG the reader accepts: Qt's plugins may read it (JPEG, BMP, GIF, ...).
    return TakeDecodedBitmap(image, DecodeBitmapFile(path, whyNot), whyNot);
}

bool LoadImageBytes(RgbaImage& image, const QByteArray& bytes, QString* whyNot)
{
    const int pngCode = ReadPngMemory(image, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size()));
    if (pngCode == PngReadOk)
        return true;
    if (pngCode == PngReadOutOfMemory) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory (or the image is too large)");
        return false;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return TakeDecodedBitmap(image, DecodeBitmap(buffer, whyNot), whyNot);
}

bool LooksLikeImageFile(const std::filesystem::path& path)
{
    if (WhyNotAnInput(path))
        return false;
    QFile file(ToQString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (StartsWithPngSignature(file))
        return true;
    // Qt's plugins tell the format from the header; only the formats the loader hands them count.
    const QByteArray format = QImageReader::imageFormat(&file).toLower();
    for (const char* name : DecodedFormats)
        if (format == name)
            return true;
    return false;
}

} // namespace tessaline
