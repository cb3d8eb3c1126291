#include "imageio/image_loader.h"

#include <QImage>

#include "imageio/bitmap_bridge.h"
#include "imageio/bitmap_decoder.h"
#include "imageio/output_files.h"
#include "imageio/png_reader.h"

namespace tessaline {

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
    if (pngCode == PngReadOutOfMemory) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory (or the image is too large)");
        return false;
    }
    // Not a PNG the reader accepts: Qt's plugins may read it (JPEG, BMP, GIF, ...).
    const QImage bitmap = DecodeBitmapFile(path, whyNot);
    if (bitmap.isNull())
        return false;
    if (!LoadFromBitmap(image, bitmap)) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    return true;
}

} // namespace tessaline
