#include "imageio/qt_bitmap_reader.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "imageio/bitmap_bridge.h"
#include "imageio/bitmap_decoder.h"

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

class QtBitmapReader final : public BitmapReader
{
public:
    bool ReadFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot) override
    {
        return TakeDecodedBitmap(image, DecodeBitmapFile(path, whyNot), whyNot);
    }

    bool ReadBytes(RgbaImage& image, const QByteArray& bytes, QString* whyNot) override
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        return TakeDecodedBitmap(image, DecodeBitmap(buffer, whyNot), whyNot);
    }

    bool Recognises(QIODevice& device) override
    {
        // Qt's plugins tell the format from the header; only the formats the decoder takes count.
        const QByteArray format = QImageReader::imageFormat(&device).toLower();
        for (const char* name : DecodedFormats)
            if (format == name)
                return true;
        return false;
    }
};

} // namespace

BitmapReader& QtBitmaps()
{
    static QtBitmapReader reader;
    return reader;
}

} // namespace tessaline
