#pragma once
// imageio/png_reader.h: loads a PNG file of any colour type, bit depth and interlacing into the
// engine's RgbaImage as 8-bit R, G, B, A. A tRNS chunk becomes alpha for every colour type (the
// palette's alphas, or the grey or RGB value it names turns fully transparent); 16-bit samples keep
// their high byte; gAMA becomes the image gamma. An iCCP profile that is not sRGB converts the
// pixels to sRGB (imageio/colour_profile.h; a 16-bit image converts from its 16-bit samples) and
// then wins over gAMA; a damaged or oversized one is ignored with a warning. The functions return
// a PngReadResult and never throw. On any failure the image is
// left empty (released), so no pixels of an earlier image or of a half-read one remain.
// Images above MaxImagePixels (imageio/image_limits.h) are refused before their buffer exists.

#include "engine/colour_model.h"
#include "imageio/colour_profile.h"
#include "imageio/image_limits.h"
#include "imageio/image_metadata.h"

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <optional>
#include <utility>

namespace tessaline {

enum PngReadResult : int {
    PngReadOk = 0,
    /// The file cannot be opened, is not a PNG file, is damaged or ends early.
    PngReadFailed = 2,
    /// libpng's structures or the image buffers cannot be allocated, or the image is larger than
    /// MaxImagePixels.
    PngReadOutOfMemory = 24,
};

/// What a read found beside the pixels, for callers that ask.
struct PngReadNotes
{
    ProfileOutcome* profile = nullptr; ///< receives what became of the iCCP profile
    /// When given, receives the chunks --keep-metadata carries (IsKeptPngChunk), as they are.
    ImageMetadata* metadata = nullptr;
};

/// Empties `image`, opens `path` for reading and reads it with ReadPngStream.
int ReadPngFile(RgbaImage& image, const std::filesystem::path& path, PngReadNotes notes = {});

/// Reads one PNG from an open stream (left open) into `image`, from the current position.
int ReadPngStream(RgbaImage& image, std::FILE* stream, PngReadNotes notes = {});

/// Reads one PNG held in memory; the same rules as a file. `maxPixels` (at most MaxImagePixels)
/// lets a fuzzer keep its inputs small; callers otherwise leave it.
int ReadPngMemory(RgbaImage& image, const std::uint8_t* data, std::size_t size,
                  std::uint64_t maxPixels = MaxImagePixels, PngReadNotes notes = {});

/// The width and height a PNG file's header declares, when the file starts with the PNG signature
/// and a whole IHDR chunk (its checksum right); the rest of the file is not read. Lets a caller
/// say "too large" rather than "damaged" for a well-formed file beyond the limits.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ReadPngHeaderSize(const std::filesystem::path& path);

/// Thrown by PngReadCallback when the data after the last row exceeds its limits.
struct PngTrailingLimit
{
};

/// Where libpng's input comes from: a stream, or else a memory block; and how many bytes have
/// been delivered so far.
struct PngReadSource
{
    std::FILE* stream = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    std::uint64_t delivered = 0;
    std::uint64_t maxPixels = MaxImagePixels;
    /// Bytes the input holds from where reading started, when known (a file that can seek, or
    /// memory); 0 when unknown.
    std::uint64_t available = 0;
    /// Set when libpng starts on the rows; once the last row is complete the bytes delivered are
    /// counted against MaxTrailingImageDataBytes and MaxTrailingBytes.
    bool readingRows = false;
    bool interlaced = false;
    std::uint32_t height = 0;
    std::uint64_t trailingImageData = 0;
    std::uint64_t trailing = 0;
    /// Set when an iCCP chunk passes by, so that one libpng dropped is ignored with a warning.
    bool sawProfile = false;
    /// libpng's first complaint about the iCCP chunk, which says why it dropped the profile.
    std::string profileComplaint;
    PngReadNotes notes;
};

/// The read function handed to libpng (its io pointer is a PngReadSource). Delivers exactly
/// `length` bytes or raises libpng's "Read error": a partly filled buffer is never accepted.
/// After the last row, once the trailing limits are passed, it stops the reading with
/// PngTrailingLimit: the image is complete and the rest of the file is not read.
void PngReadCallback(png_structp png, png_bytep destination, png_size_t length);

} // namespace tessaline
