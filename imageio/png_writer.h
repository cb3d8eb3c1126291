#pragma once
// imageio/png_writer.h: saves the engine's IndexedImage as a palette PNG: colour type 3 with the
// smallest bit depth that holds the palette (1, 2, 4 or 8; always 8 when the encoding asks for
// whole-byte indices), chunks IHDR, gAMA (when gamma > 0),
// PLTE, tRNS (the first transparentCount alphas, when there are any), IDAT (unfiltered rows,
// compressed as the encoding asks) and IEND, nothing else unless `metadata` is given: its chunks
// (eXIf, pHYs, text; imageio/image_metadata.h) then follow PLTE and tRNS, before the image data.
// The functions return a PngWriteResult and never throw.

#include "engine/colour_model.h"
#include "imageio/image_metadata.h"
#include "imageio/palette_png_layout.h"
#include "imageio/png_deflate.h"
#include "settings/setting_table.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace tessaline {

enum PngWriteResult : int {
    PngWriteOk = 0,
    /// The file cannot be opened or written, libpng refused the image, or the image is not a
    /// valid result (no rows, no palette). The target, if it existed, is unchanged.
    PngWriteFailed = 16,
    /// libpng cannot create its write or info structure.
    PngWriteNoLibpng = 35,
};

/// How a result is encoded. Converts from a PngCompression, so that a caller that asks for nothing
/// else names only that.
struct PngEncoding
{
    PngEncoding(PngCompression compression = PngCompression::Default, bool eightBitIndices = false)
        : compression(compression), eightBitIndices(eightBitIndices)
    {
    }
    PngCompression compression;
    /// Every index takes a whole byte (bit depth 8) whatever the palette's size, for readers that
    /// take nothing else; otherwise the fewest bits that hold the palette.
    bool eightBitIndices;
};

/// Writes `image` to `path` through WriteFileSafely (imageio/atomic_file.h): a regular target is
/// replaced only by a complete file, keeping its permission bits; on any failure an existing
/// target keeps its content. A folder that does not exist, or a target that is a folder, gives
/// PngWriteFailed and creates nothing. A device or a pipe (or a link to one) is written in place.
int WritePngFile(const IndexedImage& image, const std::filesystem::path& path,
                 PngEncoding encoding = {},
                 const ImageMetadata* metadata = nullptr);

/// Writes `image` to an open stream (left open, not flushed). PngWriteFailed when libpng
/// reports an error or a write to the stream fails; the stream then holds a partial file.
int WritePngStream(const IndexedImage& image, std::FILE* stream,
                   PngEncoding encoding = {},
                   const ImageMetadata* metadata = nullptr);

/// The compression the settings ask for (their Setting::Compression row).
inline PngCompression CompressionOf(const SettingValues& values)
{
    return values[Setting::Compression] == static_cast<int>(PngCompression::Max) ? PngCompression::Max
                                                                                 : PngCompression::Default;
}

/// The encoding the settings ask for (their Compression and EightBitIndices rows).
inline PngEncoding EncodingOf(const SettingValues& values)
{
    return {CompressionOf(values), values.On(Setting::EightBitIndices)};
}

/// The PNG file WritePngFile would write for `image`, encoded into memory by the same code: its size
/// is the saved file's. Empty when the image is not a valid result, libpng fails or memory runs out.
std::vector<std::uint8_t> EncodePng(const IndexedImage& image,
                                    PngEncoding encoding = {},
                                    const ImageMetadata* metadata = nullptr);

/// Writes bytes EncodePng made to `path` the way WritePngFile writes (temporary, then rename), so
/// a result encoded once is saved without compressing it again. PngWriteFailed for empty bytes.
int WritePngBytes(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& path);

} // namespace tessaline
