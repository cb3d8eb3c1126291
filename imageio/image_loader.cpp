#include "imageio/image_loader.h"

#include <QFile>

#include "imageio/file_kind.h"
#include "imageio/image_limits.h"
#include "imageio/output_files.h"
#include "imageio/png_reader.h"

namespace tessaline {

bool LoadImageFile(RgbaImage& image, const std::filesystem::path& path, BitmapReader& bitmaps, QString* whyNot)
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
    return bitmaps.ReadFile(image, path, whyNot);
}

bool LoadImageBytes(RgbaImage& image, const QByteArray& bytes, BitmapReader& bitmaps, QString* whyNot)
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
    return bitmaps.ReadBytes(image, bytes, whyNot);
}

bool LooksLikeImageFile(const std::filesystem::path& path, BitmapReader& bitmaps)
{
    if (WhyNotAnInput(path))
        return false;
    QFile file(ToQString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return StartsWithPngSignature(file) || bitmaps.Recognises(file);
}

} // namespace tessaline
