#include "imageio/bitmap_decoder.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include <QByteArray>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTransform>
#include <QSize>
#include <QString>

#include "imageio/file_stream.h"
#include "imageio/image_limits.h"
#include "imageio/file_kind.h"

namespace tessaline {

namespace {

QImage Refused(QString* whyNot, const QString& reason)
{
    if (whyNot)
        *whyNot = reason;
    return QImage();
}

/// `image` turned as the file asks (EXIF or TIFF orientation), as a viewer shows it. Qt's own turn
/// drops the image's colour space on a quarter turn (orientations 5 to 8: a phone held upright),
/// and with it the embedded profile; the turn changes no colour, so the space is kept here.
QImage Oriented(QImage image, QImageIOHandler::Transformations turn)
{
    if (turn == QImageIOHandler::TransformationNone || image.isNull())
        return image;
    const QColorSpace space = image.colorSpace();
    const bool mirror = turn.testFlag(QImageIOHandler::TransformationMirror);
    const bool flip = turn.testFlag(QImageIOHandler::TransformationFlip);
    if (mirror || flip)
        image = image.mirrored(mirror, flip);
    if (turn.testFlag(QImageIOHandler::TransformationRotate90) && !image.isNull())
        image = image.transformed(QTransform().rotate(90));
    if (!image.isNull() && space.isValid())
        image.setColorSpace(space);
    return image;
}

} // namespace

QImage DecodeBitmap(QIODevice& device, QString* whyNot)
{
    if (!device.isReadable())
        return Refused(whyNot, QStringLiteral("cannot read"));
    if (StartsWithPngSignature(device))
        return Refused(whyNot, QStringLiteral("not a supported image: damaged or incomplete PNG file"));
    if (!device.isSequential() && static_cast<std::uint64_t>(device.size()) > MaxImageFileBytes)
        return Refused(whyNot,
                       QStringLiteral("file too large: %1 bytes (image files of at most %2 bytes are read)")
                           .arg(device.size())
                           .arg(MaxImageFileBytes));
    QImageReader reader(&device);
    // Cameras store a turned photograph as it was taken and say in EXIF how to show it; viewers
    // turn it, and so do we (Oriented, after the read).
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return Refused(whyNot, QStringLiteral("not a supported image"));
    const QByteArray format = reader.format().toLower();
    bool known = false;
    for (const char* name : DecodedFormats)
        known = known || format == name;
    if (!known)
        return Refused(whyNot, QStringLiteral("not a supported image: %1 files are not read")
                                   .arg(QString::fromLatin1(reader.format())));
    // The header's size, when the plugin knows it before decoding, is checked before Qt
    // allocates the bitmap; the decoded bitmap is checked again by the bridge.
    const QSize size = reader.size();
    if (size.isValid()) {
        const auto width = static_cast<std::uint32_t>(size.width());
        const auto height = static_cast<std::uint32_t>(size.height());
        const qint64 fileBytes = device.isSequential() ? -1 : device.size();
        if (size.isEmpty())
            return Refused(whyNot, QStringLiteral("damaged file: the image is %1 x %2 pixels")
                                       .arg(size.width())
                                       .arg(size.height()));
        if (!WithinImageLimits(width, height))
            return Refused(whyNot, TooLargeReason(width, height));
        if (fileBytes >= 0 && !PlausibleForFileSize(width, height, static_cast<std::uint64_t>(fileBytes)))
            return Refused(whyNot, QStringLiteral("damaged file: %1 bytes cannot hold %2 x %3 pixels")
                                       .arg(fileBytes)
                                       .arg(size.width())
                                       .arg(size.height()));
    }
    try {
        QImage image = reader.read();
        if (image.isNull()) {
            const bool damaged = reader.error() == QImageReader::InvalidDataError ||
                                 reader.error() == QImageReader::UnknownError;
            return Refused(whyNot, (damaged ? QStringLiteral("not a supported image: ")
                                            : QStringLiteral("cannot read: ")) +
                                       reader.errorString());
        }
        image = Oriented(std::move(image), reader.transformation());
        if (image.isNull())
            return Refused(whyNot, QStringLiteral("out of memory"));
        return image;
    } catch (const std::bad_alloc&) {
        // Qt reports a failed allocation inside a plugin by throwing; the file is just unreadable.
        return Refused(whyNot, QStringLiteral("out of memory"));
    }
}

QImage DecodeBitmapFile(const std::filesystem::path& path, QString* whyNot)
{
    // Opened by the path's own bytes, which need not be UTF-8; Qt reads through the handle.
    const FileStream stream = OpenFile(path, false);
    QFile file;
    if (!stream || !file.open(stream.get(), QIODevice::ReadOnly))
        return Refused(whyNot,
                       QStringLiteral("cannot read: ") + QString::fromLocal8Bit(std::strerror(errno)));
    return DecodeBitmap(file, whyNot);
}

} // namespace tessaline
