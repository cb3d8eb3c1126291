#pragma once
// imageio/image_loader.h: how a file becomes the engine's input, the same for the window's drops
// and the command-line tool: the PNG reader first, then the bitmap reader (Qt's plugins).

#include <filesystem>

#include <QByteArray>
#include <QString>

#include "engine/colour_model.h"
#include "imageio/bitmap_reader.h"
#include "imageio/colour_profile.h"
#include "imageio/image_metadata.h"

namespace tessaline {

/// What a load found beside the pixels, for callers that ask.
struct LoadNotes
{
    /// Receives what became of an embedded colour profile (the pixels are sRGB either way).
    ProfileOutcome* profile = nullptr;
    /// When given, receives what --keep-metadata carries: a PNG's own chunks, a JPEG's EXIF, XMP,
    /// comments and density (imageio/image_metadata.h); nothing from other formats.
    ImageMetadata* metadata = nullptr;
};

/// Fills `image` from the file at `path`. Only regular files are opened (WhyNotAnInput), so a FIFO
/// or a device is refused at once instead of blocking the caller. On failure returns false,
/// leaves `image` empty and, when `whyNot` is given, stores a short English reason. Never throws.
bool LoadImageFile(RgbaImage& image, const std::filesystem::path& path, BitmapReader& bitmaps,
                   QString* whyNot = nullptr, LoadNotes notes = {});

/// LoadImageFile for a whole file already in memory (an image piped to standard input).
bool LoadImageBytes(RgbaImage& image, const QByteArray& bytes, BitmapReader& bitmaps,
                    QString* whyNot = nullptr, LoadNotes notes = {});

/// Whether the file at `path` is one LoadImageFile would try to decode, judged by its first bytes
/// alone: a PNG signature, or the header of one of the formats the bitmap reader takes. The
/// name's extension plays no part. A file that cannot be opened is not an image. Never throws.
bool LooksLikeImageFile(const std::filesystem::path& path, BitmapReader& bitmaps);

} // namespace tessaline
