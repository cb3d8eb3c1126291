#include "imageio/png_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "imageio/file_stream.h"
#include "imageio/image_limits.h"
#include "imageio/png_error.h"

namespace tessaline {

namespace {

/// libpng's 32-bit codes for the chunk names "IDAT" and "iCCP".
constexpr png_uint_32 IdatChunkType = 0x49444154;
constexpr png_uint_32 IccpChunkType = 0x69434350;

/// libpng's warning function: warnings are not printed, but the first one about the iCCP chunk is
/// kept, as it says why libpng dropped the profile.
void KeepProfileComplaint(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngReadSource*>(png_get_error_ptr(png));
    if (source == nullptr || message == nullptr || !source->profileComplaint.empty() ||
        std::strncmp(message, "iCCP", 4) != 0)
        return;
    try {
        source->profileComplaint.assign(message, strnlen(message, 200));
    } catch (...) { // called from inside libpng, which is C: nothing may throw through it
    }
}

/// Why the iCCP chunk libpng dropped is ignored, in the words the other readers use.
std::string DroppedProfileReason(const std::string& complaint)
{
    const auto says = [&complaint](const char* words) { return complaint.find(words) != std::string::npos; };
    if (says("Gray color space not permitted"))
        return "a grey profile on a colour image";
    if (says("RGB color space not permitted"))
        return "an RGB profile on a grey image";
    if (says("color space") || says("PCS") || says("class"))
        return "not an RGB or grey profile";
    if (says("exceeds application limits") || says("too long") || says("too large") ||
        says("insufficient memory"))
        return "larger than " + std::to_string(MaxProfileBytes) + " bytes";
    if (complaint.empty())
        return "damaged";
    return "damaged (" + complaint + ")";
}

/// Owns libpng's read and info structures; the destructor frees them on every exit.
class PngReadGuard
{
public:
    explicit PngReadGuard(PngReadSource& source)
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngErrorToException, KeepProfileComplaint);
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

/// Hands the chunks --keep-metadata carries to the notes' metadata. With this callback set, libpng
/// passes every chunk it does not read itself through here, each within the chunk limit; all but
/// the kept ones are dropped.
int CollectChunk(png_structp png, png_unknown_chunkp chunk)
{
    auto* source = static_cast<PngReadSource*>(png_get_user_chunk_ptr(png));
    const std::string_view type(reinterpret_cast<const char*>(chunk->name), 4);
    if (source != nullptr && source->notes.metadata != nullptr && IsKeptPngChunk(type) &&
        chunk->data != nullptr)
        source->notes.metadata->Add(type, std::span<const std::uint8_t>(chunk->data, chunk->size));
    return 1; // handled: libpng keeps nothing
}

/// Limits that keep a hostile file from making libpng allocate or inflate more than the image
/// itself needs.
void LimitLibpng(png_structp png, PngReadSource& source)
{
    png_set_user_limits(png, MaxImageSide, MaxImageSide);
    // An ancillary chunk may hold at most a colour profile; gAMA and tRNS are a few hundred bytes.
    png_set_chunk_malloc_max(png, std::max(MaxChunkBytes, MaxProfileBytes));
    png_set_chunk_cache_max(png, 100);
    // Only gAMA, tRNS and iCCP (with the critical chunks) matter here. Every other ancillary
    // chunk is skipped unread: libpng would otherwise allocate and zero whatever size a text
    // chunk declares, and inflate zTXt and iTXt, before finding the file is short.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    static const png_byte kept[] = {'g', 'A',  'M', 'A', '\0', 't', 'R', 'N',
                                    'S', '\0', 'i', 'C', 'C',  'P', '\0'};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kept, 3);
    if (source.notes.metadata != nullptr) {
        // Asked for: these come as they are, undecoded (text stays compressed), through CollectChunk.
        static const png_byte carried[] = {'e',  'X',  'I', 'f', '\0', 'p',  'H', 'Y', 's',
                                           '\0', 't',  'E', 'X', 't',  '\0', 'z', 'T', 'X',
                                           't',  '\0', 'i', 'T', 'X',  't',  '\0'};
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, carried, 5);
        png_set_read_user_chunk_fn(png, &source, CollectChunk);
    }
}

/// The embedded profile, when the file has one libpng accepted (the right colour space for the
/// image, within the chunk limit, inflated whole).
std::span<const std::uint8_t> EmbeddedProfile(png_structp png, png_infop info)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) == 0 || profile == nullptr)
        return {};
    return {profile, length};
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
    PngReadGuard guard(source);
    if (!guard.Valid())
        return PngReadOutOfMemory;
    png_structp png = guard.png;
    png_infop info = guard.info;

    LimitLibpng(png, source);
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
    // A profile converts 16-bit samples before they are cut to 8 bits, one row at a time; an
    // interlaced image has no whole rows before its last pass and converts after the cut.
    const std::span<const std::uint8_t> embedded = EmbeddedProfile(png, info);
    const bool wide = bitDepth == 16 && interlace == PNG_INTERLACE_NONE;
    std::optional<SrgbConversion> conversion;
    if (!embedded.empty())
        conversion.emplace(embedded, wide ? 16 : 8);
    const bool convertWide = wide && conversion && conversion->Needed();
    if (bitDepth == 16 && !convertWide)
        png_set_strip_16(png);
    if (convertWide && std::endian::native == std::endian::little)
        png_set_swap(png); // the samples in the machine's order, as the conversion reads them
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(png);

    double gamma = InternalGamma;
    png_fixed_point fileGamma = 0;
    if (png_get_gAMA_fixed(png, info, &fileGamma) != 0)
        gamma = fileGamma * 0.00001;
    // A usable profile says how the samples are encoded, gAMA only approximates it: the profile
    // wins, and the pixels it leaves or makes are sRGB.
    if (conversion && conversion->Outcome().warning.empty())
        gamma = InternalGamma;

    if (interlace != PNG_INTERLACE_NONE)
        png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * (convertWide ? 8 : 4))
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
    // Chunks after the image data are read for the metadata only when it is asked for.
    png_infop endInfo = source.notes.metadata != nullptr ? info : nullptr;
    if (convertWide) {
        std::vector<std::uint16_t> row(std::size_t{width} * 4);
        bool stopped = false;
        for (std::uint32_t y = 0; y < height && !stopped; ++y) {
            try {
                png_read_row(png, reinterpret_cast<png_bytep>(row.data()), nullptr);
            } catch (const PngTrailingLimit&) {
                stopped = true; // past the last row, which libpng had already delivered
            }
            conversion->ConvertRgba16(row.data(), image.rows[y], width);
            for (std::uint32_t x = 0; x < width; ++x) // alpha as the 8-bit road cuts it
                image.rows[y][4 * x + 3] = static_cast<std::uint8_t>(row[4 * x + 3] >> 8);
        }
        try {
            if (!stopped)
                png_read_end(png, endInfo);
        } catch (const PngTrailingLimit&) {
        }
    } else {
        try {
            png_read_image(png, image.rows.data());
            png_read_end(png, endInfo);
        } catch (const PngTrailingLimit&) {
            // Thrown only once the last row is complete: the image is whole, the rest is not read.
        }
        if (conversion && conversion->Needed())
            for (std::uint8_t* row : image.rows)
                conversion->ConvertRgba8(row, width);
    }
    if (source.notes.profile != nullptr) {
        if (conversion)
            *source.notes.profile = conversion->Outcome();
        else if (source.sawProfile)
            source.notes.profile->warning =
                "colour profile ignored: " + DroppedProfileReason(source.profileComplaint);
    }
    image.sourceBytes = source.delivered;
    return PngReadOk;
}

int ReadPngSource(RgbaImage& image, PngReadSource& source)
{
    image.Release();
    if (source.notes.profile != nullptr)
        *source.notes.profile = {};
    if (source.notes.metadata != nullptr)
        *source.notes.metadata = {};
    int result = PngReadFailed;
    try {
        result = ReadPng(image, source);
    } catch (const std::bad_alloc&) {
        result = PngReadOutOfMemory;
    } catch (const std::exception&) {
        result = PngReadFailed;
    }
    if (result != PngReadOk) {
        image.Release();
        if (source.notes.profile != nullptr)
            *source.notes.profile = {};
        if (source.notes.metadata != nullptr)
            *source.notes.metadata = {};
    }
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
    if (png_get_io_chunk_type(png) == IccpChunkType)
        source.sawProfile = true;
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

int ReadPngStream(RgbaImage& image, std::FILE* stream, PngReadNotes notes)
{
    PngReadSource source;
    source.notes = notes;
    source.stream = stream;
    if (stream == nullptr) {
        image.Release();
        return PngReadFailed;
    }
    source.available = BytesToEnd(stream);
    return ReadPngSource(image, source);
}

int ReadPngMemory(RgbaImage& image, const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels,
                  PngReadNotes notes)
{
    PngReadSource source;
    source.notes = notes;
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

int ReadPngFile(RgbaImage& image, const std::filesystem::path& path, PngReadNotes notes)
{
    image.Release();
    const FileStream file = OpenFile(path, false);
    if (!file)
        return PngReadFailed;
    return ReadPngStream(image, file.get(), notes);
}

} // namespace tessaline
