#include "imageio/png_writer.h"

#include <png.h>

#include <exception>
#include <functional>
#include <new>
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

// Encoding into memory: the bytes a file write would produce, appended in the same order.
void PngMemoryWriteCallback(png_structp png, png_bytep data, png_size_t length)
{
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + length); // bad_alloc travels out of libpng to EncodePng
}

void PngMemoryFlushCallback(png_structp) {}

/// Where libpng's output goes: the io pointer and the two callbacks png_set_write_fn takes.
struct PngSink
{
    void* io;
    png_rw_ptr write;
    png_flush_ptr flush;
};

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

/// The one encoder: every PNG this program writes, to a file or into memory, comes from here.
int WritePng(const IndexedImage& image, const PngSink& sink)
{
    PngWriteGuard guard;
    if (guard.png == nullptr || guard.info == nullptr)
        return PngWriteNoLibpng;
    png_structp png = guard.png;
    png_infop info = guard.info;

    png_set_write_fn(png, sink.io, sink.write, sink.flush);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    if (image.gamma > 0.0)
        png_set_gAMA(png, info, image.gamma);
    const int bitDepth = PaletteBitDepth(image.paletteSize);
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

    png_write_info(png, info);
    if (bitDepth < 8)
        png_set_packing(png); // our rows hold one index per byte
    // libpng takes non-const rows but only reads them when writing.
    png_write_image(png, const_cast<png_bytepp>(image.rows.data()));
    png_write_end(png, nullptr);
    return PngWriteOk;
}

/// Writes into `path` directly through `writeTo`; every failure of the write, the flush or the
/// close counts (a full disk often shows only when the buffered tail is flushed or the file is
/// closed).
using StreamWriter = std::function<int(std::FILE*)>;
int WriteWhole(const StreamWriter& writeTo, const std::filesystem::path& path)
{
    FileStream file = OpenFile(path, true);
    if (!file)
        return PngWriteFailed;
    int result = writeTo(file.get());
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

/// The whole file through a temporary beside `path`, renamed over it once complete (see
/// WritePngFile); a device or pipe is written in place.
int WriteSafely(const StreamWriter& writeTo, const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (path.empty() || std::filesystem::is_directory(status))
        return PngWriteFailed;
    // A device or pipe (/dev/stdout, /dev/full) is written in place: renaming a temporary over it
    // would replace the device node itself.
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return WriteWhole(writeTo, path);

    const std::filesystem::path temporary = TemporaryPathFor(path);
    int result = WriteWhole(writeTo, temporary);
    if (result == PngWriteOk) {
        std::filesystem::rename(temporary, path, error);
        if (error)
            result = PngWriteFailed;
    }
    if (result != PngWriteOk)
        RemoveQuietly(temporary);
    return result;
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

int WritePngStream(const IndexedImage& image, std::FILE* stream)
{
    if (stream == nullptr || !Writable(image))
        return PngWriteFailed;
    try {
        return WritePng(image, PngSink{stream, PngWriteCallback, PngFlushCallback});
    } catch (const std::exception&) {
        // A libpng error (or bad_alloc): the stream holds a partial file and is not used further.
        return PngWriteFailed;
    }
}

int WritePngFile(const IndexedImage& image, const std::filesystem::path& path)
{
    if (!Writable(image))
        return PngWriteFailed;
    return WriteSafely([&image](std::FILE* stream) { return WritePngStream(image, stream); }, path);
}

std::vector<std::uint8_t> EncodePng(const IndexedImage& image)
{
    std::vector<std::uint8_t> bytes;
    if (!Writable(image))
        return bytes;
    try {
        if (WritePng(image, PngSink{&bytes, PngMemoryWriteCallback, PngMemoryFlushCallback}) == PngWriteOk)
            return bytes;
    } catch (const std::exception&) {
        // A libpng error or no memory for the bytes: no encoding at all rather than part of one.
    }
    return {};
}

int WritePngBytes(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& path)
{
    if (bytes.empty())
        return PngWriteFailed;
    return WriteSafely(
        [&bytes](std::FILE* stream) {
            return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() ? int{PngWriteOk}
                                                                                      : int{PngWriteFailed};
        },
        path);
}

} // namespace tessaline
