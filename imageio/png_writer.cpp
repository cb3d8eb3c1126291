#include "imageio/png_writer.h"

#include <png.h>

#include <algorithm>
#include <exception>
#include <new>
#include <vector>

#include "imageio/atomic_file.h"
#include "imageio/png_error.h"

namespace tessaline {

namespace {

/// Owns libpng's write and info structures; the destructor frees them on every exit.
class PngWriteGuard
{
public:
    PngWriteGuard()
    {
        // Warnings are dropped: libpng would print them on stderr beside the caller's own messages.
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorToException, PngIgnoreWarning);
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

// libpng writes every chunk; the image data is compressed by DeflateImageData, which is faster
// than the zlib inside libpng and can make smaller streams. IDAT chunks hold up to this many bytes.
constexpr std::size_t IdatChunkBytes = std::size_t{1} << 20;

/// The one encoder: every PNG this program writes, to a file or into memory, comes from here.
int WritePng(const IndexedImage& image, const PngSink& sink, PngEncoding encoding, const ImageMetadata* metadata)
{
    PngWriteGuard guard;
    if (guard.png == nullptr || guard.info == nullptr)
        return PngWriteNoLibpng;
    png_structp png = guard.png;
    png_infop info = guard.info;

    png_set_write_fn(png, sink.io, sink.write, sink.flush);
    const int bitDepth = PaletteBitDepth(image.paletteSize, encoding.eightBitIndices);
    if (image.gamma > 0.0) {
        const auto fixed = PngGammaFixed(image.gamma);
        if (!fixed)
            return PngWriteFailed; // libpng would drop the chunk with a warning: a wrong file
        png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(*fixed));
    }
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
    const std::vector<std::uint8_t> data = DeflateImageData(image, bitDepth, encoding.compression);
    png_write_info(png, info);
    if (metadata != nullptr)
        for (const MetadataChunk& chunk : metadata->chunks)
            png_write_chunk(png, reinterpret_cast<png_const_bytep>(chunk.type.data()), chunk.data.data(),
                            chunk.data.size());
    for (std::size_t offset = 0; offset < data.size(); offset += IdatChunkBytes) {
        const std::size_t length = std::min(IdatChunkBytes, data.size() - offset);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data.data() + offset, length);
    }
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    return PngWriteOk;
}

} // namespace

int WritePngStream(const IndexedImage& image, std::FILE* stream, PngEncoding encoding,
                   const ImageMetadata* metadata)
{
    if (stream == nullptr || !Writable(image))
        return PngWriteFailed;
    try {
        return WritePng(image, PngSink{stream, PngWriteCallback, PngFlushCallback}, encoding, metadata);
    } catch (const std::exception&) {
        // A libpng error (or bad_alloc): the stream holds a partial file and is not used further.
        return PngWriteFailed;
    }
}

int WritePngFile(const IndexedImage& image, const std::filesystem::path& path, PngEncoding encoding,
                 const ImageMetadata* metadata)
{
    if (!Writable(image))
        return PngWriteFailed;
    int result = PngWriteFailed;
    const bool written = WriteFileSafely(path, [&image, &result, encoding, metadata](std::FILE* stream) {
        result = WritePngStream(image, stream, encoding, metadata);
        return result == PngWriteOk;
    });
    if (written)
        return PngWriteOk;
    return result == PngWriteOk ? PngWriteFailed : result;
}

std::vector<std::uint8_t> EncodePng(const IndexedImage& image, PngEncoding encoding,
                                    const ImageMetadata* metadata)
{
    std::vector<std::uint8_t> bytes;
    if (!Writable(image))
        return bytes;
    try {
        if (WritePng(image, PngSink{&bytes, PngMemoryWriteCallback, PngMemoryFlushCallback}, encoding,
                     metadata) == PngWriteOk)
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
    const bool written = WriteFileSafely(path, [&bytes](std::FILE* stream) {
        return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    });
    return written ? PngWriteOk : PngWriteFailed;
}

} // namespace tessaline
