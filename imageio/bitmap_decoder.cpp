#include "imageio/bitmap_decoder.h"

#include <cstdint>
#include <new>

#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QSize>
#include <QString>

#include "imageio/image_limits.h"
#include "imageio/output_files.h"

namespace tessaline {

bool StartsWithPngSignature(QIODevice& device)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    return device.peek(signature.size()) == signature;
}

namespace {

QImage Refused(QString* whyNot, const QString& reason)
{
    if (whyNot)
        *whyNot = reason;
    return QImage();
}

} // namespace

QImage DecodeBitmap(QIODevice& device, QString* whyNot)
{
    if (!device.isReadable())
        return Refused(whyNot, QStringLiteral("cannot read"));
    if (StartsWithPngSignature(device))
        return Refused(whyNot, QStringLiteral("not a supported image: damaged or incomplete PNG file"));
    QImageReader reader(&device);
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
        if (size.isEmpty() || !WithinImageLimits(width, height))
            return Refused(whyNot, QStringLiteral("image size not accepted (%1 x %2 pixels)")
                                       .arg(size.width())
                                       .arg(size.height()));
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
        return image;
    } catch (const std::bad_alloc&) {
        // Qt reports a failed allocation inside a plugin by throwing; the file is just unreadable.
        return Refused(whyNot, QStringLiteral("out of memory"));
    }
}

QImage DecodeBitmapFile(const std::filesystem::path& path, QString* whyNot)
{
    QFile file(ToQString(path));
    if (!file.open(QIODevice::ReadOnly))
        return Refused(whyNot, QStringLiteral("cannot read: ") + file.errorString());
    return DecodeBitmap(file, whyNot);
}

} // namespace tessaline
