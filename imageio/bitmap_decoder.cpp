#include "imageio/bitmap_decoder.h"

#include <cstdint>
#include <new>

#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QSize>
#include <QString>

#include "imageio/image_limits.h"

namespace tessaline {

bool StartsWithPngSignature(QIODevice& device)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    return device.peek(signature.size()) == signature;
}

QImage DecodeBitmap(QIODevice& device)
{
    if (!device.isReadable() || StartsWithPngSignature(device))
        return QImage();
    QImageReader reader(&device);
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return QImage();
    const QByteArray format = reader.format().toLower();
    bool known = false;
    for (const char* name : DecodedFormats)
        known = known || format == name;
    if (!known)
        return QImage();
    // The header's size, when the plugin knows it before decoding, is checked before Qt
    // allocates the bitmap; the decoded bitmap is checked again by the bridge.
    const QSize size = reader.size();
    if (size.isValid()) {
        const auto width = static_cast<std::uint32_t>(size.width());
        const auto height = static_cast<std::uint32_t>(size.height());
        const qint64 fileBytes = device.isSequential() ? -1 : device.size();
        if (size.isEmpty() || !WithinImageLimits(width, height) ||
            (fileBytes >= 0 && !PlausibleForFileSize(width, height, static_cast<std::uint64_t>(fileBytes))))
            return QImage();
    }
    try {
        return reader.read();
    } catch (const std::bad_alloc&) {
        // Qt reports a failed allocation inside a plugin by throwing; the file is just unreadable.
        return QImage();
    }
}

QImage DecodeBitmapFile(const std::filesystem::path& path)
{
    QFile file(QString::fromStdU16String(path.u16string()));
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    return DecodeBitmap(file);
}

} // namespace tessaline
