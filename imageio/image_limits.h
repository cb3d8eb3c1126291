#pragma once
// imageio/image_limits.h: how large an image the file layer accepts, and size arithmetic that
// cannot overflow. Every buffer an image file asks for is sized here before anything is allocated.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessaline {

/// The largest image, in pixels, the readers accept: 2^28 = 268,435,456 pixels (16384 x 16384,
/// 1 GiB as RGBA). Real photographs, even 150-megapixel medium-format frames and large
/// panoramas, pass easily; a file whose header asks for more is refused before its pixel buffer
/// is allocated, because a few hundred bytes of PNG can claim gigabytes.
inline constexpr std::uint64_t MaxImagePixels = std::uint64_t{1} << 28;

/// The longest side, in pixels, libpng is allowed to accept (its user limit; PNG allows 2^31 - 1).
inline constexpr std::uint32_t MaxImageSide = 1'000'000;

/// The most memory libpng may allocate for one ancillary chunk. The reader needs only gAMA and
/// tRNS, which are a few hundred bytes at most.
inline constexpr std::size_t MaxChunkBytes = 64 * 1024;

/// How much compressed image data the reader takes after the last row is complete. Encoders leave
/// only the end of the zlib stream there (a few bytes); a stream that goes on would otherwise be
/// inflated in full, about a thousand output bytes per input byte, however small the image. With
/// this limit the most inflated past the image is what libpng had already buffered (8 KiB).
inline constexpr std::uint64_t MaxTrailingImageDataBytes = 1024;

/// How many bytes in all the reader takes after the last row (the end of the image data, IEND and
/// any chunks in between, which are skipped).
inline constexpr std::uint64_t MaxTrailingBytes = 1024 * 1024;

/// The largest image file, in bytes, the decoders of other formats read: the largest image with 8
/// bytes per pixel (16-bit RGBA, uncompressed) and 64 MiB of metadata. Past the image data those
/// decoders read on to the end of the file, so without a limit an 8 GB file of zeros behind a small
/// JPEG header keeps one busy for half a minute.
inline constexpr std::uint64_t MaxImageFileBytes = MaxImagePixels * 8 + (std::uint64_t{64} << 20);

/// Bytes of a width x height image at bytesPerPixel; nullopt when it is empty or has more than
/// maxPixels pixels. Cannot overflow: the pixel count of two 32-bit sides fits in 64 bits, and
/// a count within maxPixels times a small bytesPerPixel fits in size_t.
inline std::optional<std::size_t> ImageBytes(std::uint32_t width, std::uint32_t height,
                                             unsigned bytesPerPixel,
                                             std::uint64_t maxPixels = MaxImagePixels)
{
    const std::uint64_t pixels = std::uint64_t{width} * height; // cannot overflow
    if (pixels == 0 || pixels > maxPixels || bytesPerPixel == 0)
        return std::nullopt;
    if (pixels > SIZE_MAX / bytesPerPixel)
        return std::nullopt;
    return static_cast<std::size_t>(pixels * bytesPerPixel);
}

/// Below this many pixels (16 megapixels, 64 MiB as RGBA) an image's size is taken as declared.
inline constexpr std::uint64_t UncheckedPixels = std::uint64_t{1} << 24;

/// The most pixels one byte of an image file can stand for: 1-bit rows through deflate reach about
/// 8256, LZW (GIF) about 2730, JPEG under 100.
inline constexpr std::uint64_t MaxPixelsPerFileByte = 8192;

/// True when a file of `fileBytes` can plausibly hold a width x height image: small images always,
/// larger ones when the file has at least one byte per MaxPixelsPerFileByte pixels. Decoders fill
/// what a cut file lacks, so without this a 100-byte header claiming 16000 x 16000 costs 1 GiB
/// and a reduction of 256 megapixels.
inline bool PlausibleForFileSize(std::uint32_t width, std::uint32_t height, std::uint64_t fileBytes)
{
    const std::uint64_t pixels = std::uint64_t{width} * height; // cannot overflow
    return pixels <= UncheckedPixels || pixels / MaxPixelsPerFileByte <= fileBytes;
}

/// True when a width x height image is within the readers' limits.
inline bool WithinImageLimits(std::uint32_t width, std::uint32_t height)
{
    return width <= MaxImageSide && height <= MaxImageSide && ImageBytes(width, height, 4).has_value();
}

} // namespace tessaline
