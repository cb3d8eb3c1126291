#include "imageio/png_writer.h"

#include <png.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <string>
#include <system_error>

#include "imageio/file_stream.h"
#include "imageio/png_error.h"

namespace tessaline {

namespace {

/// Owns libpng's write and info structures; the destructor frees them on every exit.
class PngWriteGuard
{
public:
    PngWriteGuard()
    {
        // No warning function: libpng's own warning output applies.
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorToException, nullptr);
        if (png != nullptr)
            info = png_create_info_struct(png);
    }
    ~PngWriteGuard()
    {
        if (png != nullptr)
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
    PngWriteGuard(const PngWriteGuard&) = delete;
    PngWriteGuard& operator=(const PngWriteGuard&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
};

// Our own stream callbacks rather than png_init_io: a short write must become an error, and the
// FILE* never crosses into another C runtime's fwrite.
void PngWriteCallback(png_structp png, png_bytep data, png_size_t length)
{
    auto* stream = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, stream) != length)
        png_error(png, "Write error");
}

void PngFlushCallback(png_structp png)
{
    auto* stream = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fflush(stream) != 0)
        png_error(png, "Write error");
}

/// True when the image can be handed to libpng without it reading past our buffers.
bool Writable(const IndexedImage& image)
{
    if (image.width == 0 || image.height == 0 || image.rows.size() != image.height)
        return false;
    if (image.paletteSize == 0 || image.paletteSize > 256 || image.transparentCount > image.paletteSize)
        return false;
    for (const std::uint8_t* row : image.rows)
        if (row == nullptr)
            return false;
    return true;
}

// libpng writes every chunk; the image data is compressed by DeflateImageData, which is faster
// than the zlib inside libpng and can make smaller streams. IDAT chunks hold up to this many bytes.
constexpr std::size_t IdatChunkBytes = std::size_t{1} << 20;

int WritePng(const IndexedImage& image, std::FILE* stream, PngCompression compression)
{
    PngWriteGuard guard;
    if (guard.png == nullptr || guard.info == nullptr)
        return PngWriteNoLibpng;
    png_structp png = guard.png;
    png_infop info = guard.info;

    png_set_write_fn(png, stream, PngWriteCallback, PngFlushCallback);
    const int bitDepth = PaletteBitDepth(image.paletteSize);
    if (image.gamma > 0.0)
        png_set_gAMA(png, info, image.gamma);
    png_set_IHDR(png, info, image.width, image.height, bitDepth, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    png_color palette[256];
    for (std::uint32_t i = 0; i < image.paletteSize; ++i)
        palette[i] = png_color{image.paletteRgb[3 * i], image.paletteRgb[3 * i + 1],
                               image.paletteRgb[3 * i + 2]};
    png_set_PLTE(png, info, palette, static_cast<int>(image.paletteSize));
    if (image.transparentCount > 0)
        png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.transparentCount),
                     nullptr);

    // Compressed before anything is written: running out of memory leaves an empty file.
    const std::vector<std::uint8_t> data = DeflateImageData(image, bitDepth, compression);
    png_write_info(png, info);
    for (std::size_t offset = 0; offset < data.size(); offset += IdatChunkBytes) {
        const std::size_t length = std::min(IdatChunkBytes, data.size() - offset);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data.data() + offset, length);
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    return PngWriteOk;
}

/// Writes into `path` directly; every failure of the write, the flush or the close counts (a full
/// disk often shows only when the buffered tail is flushed or the file is closed).
int WriteWhole(const IndexedImage& image, const std::filesystem::path& path, PngCompression compression)
{
    FileStream file = OpenFile(path, true);
    if (!file)
        return PngWriteFailed;
    int result = WritePngStream(image, file.get(), compression);
    if (result == PngWriteOk && (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0))
        result = PngWriteFailed;
    if (std::fclose(file.release()) != 0 && result == PngWriteOk)
        result = PngWriteFailed;
    return result;
}

void RemoveQuietly(const std::filesystem::path& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

int PaletteBitDepth(std::uint32_t paletteSize)
{
    if (paletteSize <= 2)
        return 1;
    if (paletteSize <= 4)
        return 2;
    if (paletteSize <= 16)
        return 4;
    return 8;
}

std::filesystem::path TemporaryPathFor(const std::filesystem::path& target)
{
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    // Most file systems allow 255 units per name; a target that long gets a short temporary name
    // of its own rather than failing to save.
    constexpr std::size_t maxNameUnits = 255;
    if (temporary.filename().native().size() <= maxNameUnits)
        return temporary;
    const std::size_t hash = std::hash<std::filesystem::path::string_type>{}(target.filename().native());
    return target.parent_path() / (".tessaline-" + std::to_string(hash) + ".png.tmp");
}

int WritePngStream(const IndexedImage& image, std::FILE* stream, PngCompression compression)
{
    if (stream == nullptr || !Writable(image))
        return PngWriteFailed;
    try {
        return WritePng(image, stream, compression);
    } catch (const std::exception&) {
        // A libpng error (or bad_alloc): the stream holds a partial file and is not used further.
        return PngWriteFailed;
    }
}

int WritePngFile(const IndexedImage& image, const std::filesystem::path& path,
                 PngCompression compression)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!Writable(image) || path.empty() || std::filesystem::is_directory(status))
        return PngWriteFailed;
    // A device or pipe (/dev/stdout, /dev/full) is written in place: renaming a temporary over it
    // would replace the device node itself.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return WriteWhole(image, path, compression);

    const std::filesystem::path temporary = TemporaryPathFor(path);
    int result = WriteWhole(image, temporary, compression);
    if (result == PngWriteOk) {
        std::filesystem::rename(temporary, path, error);
        if (error)
            result = PngWriteFailed;
    }
    if (result != PngWriteOk)
        RemoveQuietly(temporary);
    return result;
}

} // namespace tessaline
