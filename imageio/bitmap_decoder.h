#pragma once
// imageio/bitmap_decoder.h: decoding of the image files the PNG reader does not take, through Qt's
// image plugins (JPEG, BMP, GIF, ICO, TIFF, WebP, ...), with the format found from the content.
// PNG files never go to Qt: its PNG plugin is libpng without our chunk limits, and a PNG the
// reader refused (damaged, too large, a text chunk declaring gigabytes) would only fail there
// again after allocating what the file declares. A declared size beyond WithinImageLimits is
// refused before Qt allocates the bitmap. The process-wide QImageReader::setAllocationLimit
// stays the caller's to set. A null QImage means "not decoded".

#include <filesystem>

#include <QIODevice>
#include <QImage>

namespace tessaline {

/// True when `device`'s next bytes are the PNG signature. Reads nothing (peeks).
bool StartsWithPngSignature(QIODevice& device);

/// Decodes one image from `device` (open for reading), without EXIF rotation. Null for a PNG,
/// an unknown or damaged file, or a declared size beyond the limits.
QImage DecodeBitmap(QIODevice& device);

/// DecodeBitmap on the file at `path`; null when it cannot be opened.
QImage DecodeBitmapFile(const std::filesystem::path& path);

} // namespace tessaline
