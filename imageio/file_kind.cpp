#include "imageio/file_kind.h"

#include <QByteArray>

#include "imageio/image_limits.h"

namespace tessaline {

bool StartsWithPngSignature(QIODevice& device)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    return device.peek(signature.size()) == signature;
}

QString TooLargeReason(std::uint32_t width, std::uint32_t height)
{
    return QStringLiteral("image too large: %1 x %2 pixels (at most %3 pixels, %4 on a side)")
        .arg(width)
        .arg(height)
        .arg(MaxImagePixels)
        .arg(MaxImageSide);
}

} // namespace tessaline
