#pragma once
// imageio/bitmap_decoder.h: decoding of the image files the PNG reader does not take, through Qt's
// image plugins, with the format found from the content. Only the formats people bring to a colour
// reducer are taken (DecodedFormats); the rarer plugins (ICNS, TGA, WBMP, XPM, ...) are less
// hardened, and a 239-byte ICNS file can make Qt's ICNS plugin ask for 8 GB.
// PNG files never go to Qt: its PNG plugin is libpng without our chunk limits, and a PNG the
// reader refused (damaged, too large, a text chunk declaring gigabytes) would only fail there
// again after allocating what the file declares. A declared size beyond WithinImageLimits is
// refused before Qt allocates the bitmap. The process-wide QImageReader::setAllocationLimit
// stays the caller's to set. A null QImage means "not decoded".

#include <cstdint>
#include <filesystem>

#include <QIODevice>
#include <QImage>

namespace tessaline {

/// The formats handed to Qt, by its lower-case format names.
inline constexpr const char* DecodedFormats[] = {"bmp", "gif", "jpeg", "ico", "cur", "tiff", "webp",
                                                 "pbm", "pgm", "ppm"};

/// Decodes one image from `device` (open for reading), turned as its EXIF orientation says. Null
/// for a PNG, a format outside DecodedFormats, an unknown or damaged file, a file larger than
/// MaxImageFileBytes, a declared size beyond the limits, or when memory runs out while Qt decodes; then `whyNot`, when given, receives a
/// short English reason ("not a supported image: ...", "cannot read: ...", "out of memory").
/// Never throws.
QImage DecodeBitmap(QIODevice& device, QString* whyNot = nullptr);

/// DecodeBitmap on the file at `path`; null when it cannot be opened.
QImage DecodeBitmapFile(const std::filesystem::path& path, QString* whyNot = nullptr);

} // namespace tessaline
