#include "imageio/image_loader.h"

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <new>
#include <span>
#include <vector>

#include "imageio/file_kind.h"
#include "imageio/file_stream.h"
#include "imageio/image_limits.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"

namespace tessaline {

namespace {

/// The JPEG segments that hold metadata come before the image data, within the first few hundred
/// kilobytes (each segment is at most 64 KiB).
constexpr qint64 MetadataHeadBytes = qint64{1} << 20;

void ReadBitmapMetadata(std::span<const std::uint8_t> head, LoadNotes notes)
{
    if (notes.metadata != nullptr)
        *notes.metadata = ReadJpegMetadata(head);
}

/// The head of the file at `path`, for ReadBitmapMetadata; empty when it cannot be read.
std::vector<std::uint8_t> FileHead(const std::filesystem::path& path)
{
    // Opened by the path's own bytes, as the decoder opened it.
    std::vector<std::uint8_t> head(static_cast<std::size_t>(MetadataHeadBytes));
    const FileStream file = OpenFile(path, false);
    head.resize(file ? std::fread(head.data(), 1, head.size(), file.get()) : 0);
    return head;
}

} // namespace

bool LoadImageFile(RgbaImage& image, const std::filesystem::path& path, BitmapReader& bitmaps,
                   QString* whyNot, LoadNotes notes)
{
    if (const auto refusal = WhyNotAnInput(path)) {
        image.Release();
        if (whyNot)
            *whyNot = *refusal;
        return false;
    }
    const int pngCode = ReadPngFile(image, path, {notes.profile, notes.metadata});
    if (pngCode == PngReadOk)
        return true;
    // A well-formed PNG beyond the limits is too large, whatever libpng called it.
    if (const auto size = ReadPngHeaderSize(path); size && !WithinImageLimits(size->first, size->second)) {
        if (whyNot)
            *whyNot = TooLargeReason(size->first, size->second);
        return false;
    }
    if (pngCode == PngReadOutOfMemory) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory");
        return false;
    }
    // Not a PNG the reader accepts: Qt's plugins may read it (JPEG, BMP, GIF, ...).
    if (!bitmaps.ReadFile(image, path, whyNot, notes.profile))
        return false;
    try {
        if (notes.metadata != nullptr)
            ReadBitmapMetadata(FileHead(path), notes);
    } catch (const std::bad_alloc&) {
        *notes.metadata = {}; // the image stands without its metadata
    }
    return true;
}

bool LoadImageBytes(RgbaImage& image, const QByteArray& bytes, BitmapReader& bitmaps, QString* whyNot,
                    LoadNotes notes)
{
    const int pngCode = ReadPngMemory(image, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size()), MaxImagePixels,
                                      {notes.profile, notes.metadata});
    if (pngCode == PngReadOk)
        return true;
    if (pngCode == PngReadOutOfMemory) {
        if (whyNot)
            *whyNot = QStringLiteral("out of memory (or the image is too large)");
        return false;
    }
    if (!bitmaps.ReadBytes(image, bytes, whyNot, notes.profile))
        return false;
    try {
        ReadBitmapMetadata({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                            static_cast<std::size_t>(std::min<qsizetype>(bytes.size(), MetadataHeadBytes))},
                           notes);
    } catch (const std::bad_alloc&) {
        *notes.metadata = {};
    }
    return true;
}

bool LooksLikeImageFile(const std::filesystem::path& path, BitmapReader& bitmaps)
{
    if (WhyNotAnInput(path))
        return false;
    QFile file(ToQString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return StartsWithPngSignature(file) || bitmaps.Recognises(file);
}

} // namespace tessaline
