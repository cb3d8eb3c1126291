#include "imageio/png_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include <zlib.h>

#include "imageio/file_stream.h"
#include "imageio/image_limits.h"
#include "imageio/png_error.h"

namespace tessaline {

namespace {

/// libpng's 32-bit code for the chunk name "IDAT".
constexpr png_uint_32 IdatChunkType = 0x49444154;

/// Owns libpng's read and info structures; the destructor frees them on every exit.
class PngReadGuard
{
public:
    PngReadGuard()
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorToException,
                                     PngIgnoreWarning);
        if (png != nullptr)
            info = png_create_info_struct(png);
    }
    ~PngReadGuard()
    {
        if (png != nullptr)
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
    PngReadGuard(const PngReadGuard&) = delete;
    PngReadGuard& operator=(const PngReadGuard&) = delete;

    bool Valid() const { return png != nullptr && info != nullptr; }

    png_structp png = nullptr;
    png_infop info = nullptr;
};

/// Limits that keep a hostile file from making libpng allocate or inflate more than the image
/// itself needs.
void LimitLibpng(png_structp png)
{
    png_set_user_limits(png, MaxImageSide, MaxImageSide);
    png_set_chunk_malloc_max(png, MaxChunkBytes);
    png_set_chunk_cache_max(png, 100);
    // Only gAMA and tRNS (with the critical chunks) matter here. Every other ancillary chunk is
    // skipped unread: libpng would otherwise allocate and zero whatever size a text chunk
    // declares, and inflate zTXt, iTXt and iCCP, before finding the file is short.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    static const png_byte kept[] = {'g', 'A', 'M', 'A', '\0', 't', 'R', 'N', 'S', '\0'};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kept, 2);
}

/// Deflate packs at most 1032 bytes into one, so a width x height image needs at least its pixel
/// bits / 8 / 1032 bytes of file after the header. A header claiming more than the rest of the
/// file could hold is refused before the image buffer exists: 100 bytes must not cost a gigabyte.
bool RowsCanFit(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType,
                const PngReadSource& source)
{
    if (source.available == 0)
        return true; // a pipe: the size is not known in advance
    constexpr std::uint64_t MaxDeflateRatio = 1032;
    std::uint64_t channels = 1; // grey and palette
    if (colourType == PNG_COLOR_TYPE_RGB)
        channels = 3;
    else if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        channels = 2;
    else if (colourType == PNG_COLOR_TYPE_RGB_ALPHA)
        channels = 4;
    // At most 2^28 pixels of at most 64 bits each: no overflow.
    const std::uint64_t pixelBytes = std::uint64_t{width} * height * channels * static_cast<unsigned>(bitDepth) / 8;
    const std::uint64_t left = source.available > source.delivered ? source.available - source.delivered : 0;
    return pixelBytes / MaxDeflateRatio <= left;
}

/// Reads the PNG behind `source` into `image`. libpng errors leave as PngError; the guard frees
/// libpng's structures and the caller releases the image.
int ReadPng(RgbaImage& image, PngReadSource& source)
{
    PngReadGuard guard;
    if (!guard.Valid())
        return PngReadOutOfMemory;
    png_structp png = guard.png;
    png_infop info = guard.info;

    LimitLibpng(png);
    png_set_read_fn(png, &source, PngReadCallback);
    png_read_info(png, info);

    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);

    // Refuse a huge image before libpng sets up its row buffers or we allocate ours.
    const auto imageBytes = ImageBytes(width, height, 4, std::min(source.maxPixels, MaxImagePixels));
    if (!imageBytes)
        return PngReadOutOfMemory;
    if (!RowsCanFit(width, height, bitDepth, colourType, source))
        png_error(png, "Image data too short for the image size");

    if ((colourType & PNG_COLOR_MASK_ALPHA) == 0) {
        if (colourType == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(png);
        // A tRNS chunk is transparency the file asks for, on any colour type: the palette's
        // alphas, or the one grey or RGB value that stands for "transparent" (a sprite's
        // background, a mask's empty area). Without one, every pixel is opaque.
        if (png_get_valid(png, info, PNG_INFO_tRNS) != 0)
            png_set_tRNS_to_alpha(png);
        else
            png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
    }
    if (bitDepth == 16)
        png_set_strip_16(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(png);

    double gamma = InternalGamma;
    png_fixed_point fileGamma = 0;
    if (png_get_gAMA_fixed(png, info, &fileGamma) != 0)
        gamma = fileGamma * 0.00001;

    if (interlace != PNG_INTERLACE_NONE)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "Unexpected row size after transformations");

    try {
        image = CreateRgbaImage(width, height);
    } catch (const std::bad_alloc&) {
        return PngReadOutOfMemory;
    }
    image.gamma = gamma;

    source.interlaced = interlace != PNG_INTERLACE_NONE;
    source.height = height;
    source.readingRows = true;
    try {
        png_read_image(png, image.rows.data());
        png_read_end(png, nullptr);
    } catch (const PngTrailingLimit&) {
        // Thrown only once the last row is complete: the image is whole, the rest is not read.
    }
    image.sourceBytes = source.delivered;
    return PngReadOk;
}

int ReadPngSource(RgbaImage& image, PngReadSource& source)
{
    image.Release();
    int result = PngReadFailed;
    try {
        result = ReadPng(image, source);
    } catch (const std::bad_alloc&) {
        result = PngReadOutOfMemory;
    } catch (const std::exception&) {
        result = PngReadFailed;
    }
    if (result != PngReadOk)
        image.Release();
    return result;
}

/// True once libpng has delivered the last row. libpng then inflates whatever is left of the zlib
/// stream (at its first step past the last row, still inside png_read_image), which is where the
/// trailing limits apply.
bool RowsComplete(png_structp png, const PngReadSource& source)
{
    if (!source.readingRows)
        return false;
    // Past the last row libpng's row counter equals the height, or its pass counter passes the
    // seventh Adam7 pass.
    return source.interlaced ? png_get_current_pass_number(png) >= 7
                             : png_get_current_row_number(png) >= source.height;
}

} // namespace

void PngReadCallback(png_structp png, png_bytep destination, png_size_t length)
{
    auto& source = *static_cast<PngReadSource*>(png_get_io_ptr(png));
    if (RowsComplete(png, source)) {
        // Counted before reading, so that nothing past the limits reaches zlib.
        source.trailing += length;
        if (png_get_io_chunk_type(png) == IdatChunkType && (png_get_io_state(png) & PNG_IO_CHUNK_DATA) != 0)
            source.trailingImageData += length;
        if (source.trailing > MaxTrailingBytes || source.trailingImageData > MaxTrailingImageDataBytes)
            throw PngTrailingLimit{};
    }
    bool complete = false;
    if (source.stream != nullptr) {
        complete = std::fread(destination, 1, length, source.stream) == length;
    } else if (source.offset <= source.size && length <= source.size - source.offset) {
        if (length != 0)
            std::memcpy(destination, source.data + source.offset, length);
        source.offset += length;
        complete = true;
    }
    if (!complete)
        png_error(png, "Read error");
    source.delivered += length;
}

namespace {

/// The bytes from the stream's position to its end, the position kept; 0 when it cannot seek.
std::uint64_t BytesToEnd(std::FILE* stream)
{
    const long start = std::ftell(stream);
    if (start < 0 || std::fseek(stream, 0, SEEK_END) != 0)
        return 0;
    const long end = std::ftell(stream);
    if (std::fseek(stream, start, SEEK_SET) != 0)
        return 0; // cannot happen for a stream that just sought; reading then fails cleanly
    return end > start ? static_cast<std::uint64_t>(end - start) : 0;
}

} // namespace

int ReadPngStream(RgbaImage& image, std::FILE* stream)
{
    PngReadSource source;
    source.stream = stream;
    if (stream == nullptr) {
        image.Release();
        return PngReadFailed;
    }
    source.available = BytesToEnd(stream);
    return ReadPngSource(image, source);
}

int ReadPngMemory(RgbaImage& image, const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels)
{
    PngReadSource source;
    source.maxPixels = maxPixels;
    source.data = data;
    source.size = data != nullptr ? size : 0;
    source.available = source.size;
    return ReadPngSource(image, source);
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> ReadPngHeaderSize(const std::filesystem::path& path)
{
    const FileStream file = OpenFile(path, false);
    png_byte head[33]; // signature, then IHDR: length, type, 13 bytes of data, checksum
    if (!file || std::fread(head, 1, sizeof head, file.get()) != sizeof head || png_sig_cmp(head, 0, 8) != 0)
        return std::nullopt;
    if (png_get_uint_32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0 ||
        crc32(crc32(0, nullptr, 0), head + 12, 17) != png_get_uint_32(head + 29))
        return std::nullopt;
    return std::pair{png_get_uint_32(head + 16), png_get_uint_32(head + 20)};
}

int ReadPngFile(RgbaImage& image, const std::filesystem::path& path)
{
    image.Release();
    const FileStream file = OpenFile(path, false);
    if (!file)
        return PngReadFailed;
    return ReadPngStream(image, file.get());
}

} // namespace tessaline
