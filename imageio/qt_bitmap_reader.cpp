#include "imageio/qt_bitmap_reader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>

#include <new>
#include <span>

#include "imageio/bitmap_bridge.h"
#include "imageio/bitmap_decoder.h"
#include "imageio/colour_profile.h"

namespace tessaline {
namespace {

// Formats with more than 8 bits a channel, whose profile converts from their 16-bit samples.
bool Wide(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
        return true;
    default:
        return false;
    }
}

// Applies the profile Qt's decoder found in the file (JPEG APP2, TIFF, WebP) to `image`, loaded
// from `bitmap`. Qt hands over only the profiles it can parse itself; others read as sRGB.
ProfileOutcome ApplyProfile(RgbaImage& image, const QImage& bitmap)
{
    const QByteArray icc = bitmap.colorSpace().iccProfile();
    const std::span<const std::uint8_t> profile(reinterpret_cast<const std::uint8_t*>(icc.constData()),
                                                static_cast<std::size_t>(icc.size()));
    if (profile.empty() || !Wide(bitmap.format()))
        return ConvertToSrgb(image, profile);
    const SrgbConversion conversion(profile, 16);
    if (!conversion.Needed())
        return conversion.Outcome();
    if (conversion.ReadsGrey() && !bitmap.isGrayscale())
        return ConvertToSrgb(image, profile); // which tells a grey profile on colours and ignores it
    // RGBA64 is straight alpha, as the image's own bytes; a grey bitmap gives equal R, G, B.
    const QImage samples = bitmap.convertToFormat(QImage::Format_RGBA64);
    if (samples.isNull() || static_cast<std::uint32_t>(samples.width()) != image.width ||
        static_cast<std::uint32_t>(samples.height()) != image.height)
        return ConvertToSrgb(image, profile);
    for (std::uint32_t y = 0; y < image.height; ++y)
        conversion.ConvertRgba16(
            reinterpret_cast<const std::uint16_t*>(samples.constScanLine(static_cast<int>(y))), image.rows[y],
            image.width);
    return conversion.Outcome();
}

// The engine's image from what Qt's decoder gave; a null bitmap was refused with its reason.
bool TakeDecodedBitmap(RgbaImage& image, const QImage& bitmap, QString* whyNot, ProfileOutcome* profile)
{
    if (bitmap.isNull())
        return false;
    if (!LoadFromBitmap(image, bitmap)) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    try {
        ProfileOutcome outcome = ApplyProfile(image, bitmap);
        if (profile)
            *profile = std::move(outcome);
    } catch (const std::bad_alloc&) {
        image.Release();
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    return true;
}

class QtBitmapReader final : public BitmapReader
{
public:
    bool ReadFile(RgbaImage& image, const std::filesystem::path& path, QString* whyNot,
                  ProfileOutcome* profile) override
    {
        return TakeDecodedBitmap(image, DecodeBitmapFile(path, whyNot), whyNot, profile);
    }

    bool ReadBytes(RgbaImage& image, const QByteArray& bytes, QString* whyNot,
                   ProfileOutcome* profile) override
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        return TakeDecodedBitmap(image, DecodeBitmap(buffer, whyNot), whyNot, profile);
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
