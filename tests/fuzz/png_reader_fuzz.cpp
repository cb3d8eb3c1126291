// libFuzzer target: the PNG reader on arbitrary bytes. It must return one of its codes, leave the
// image empty on failure and consistent on success, and never read or write out of bounds. Inputs
// of odd length also ask for the profile's outcome and the metadata chunks, so both roads of the
// reader are fuzzed (an embedded profile is applied on both).

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imageio/png_reader.h"

#if defined(TESSALINE_FUZZ_MUTATOR)
#include <zlib.h>

#include <cstring>
#include <vector>
#endif

namespace {

// Small images keep the fuzzer fast; the size limits themselves have unit tests.
constexpr std::uint64_t FuzzMaxPixels = std::uint64_t{1} << 20;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tessaline::RgbaImage image;
    tessaline::ProfileOutcome profile;
    tessaline::ImageMetadata metadata;
    const tessaline::PngReadNotes notes =
        size % 2 == 1 ? tessaline::PngReadNotes{&profile, &metadata} : tessaline::PngReadNotes{};
    const int code = tessaline::ReadPngMemory(image, data, size, FuzzMaxPixels, notes);
    Check(metadata.chunks.size() <= tessaline::MaxMetadataChunks &&
          metadata.bytes <= tessaline::MaxMetadataBytes);
    Check(code == tessaline::PngReadOk || code == tessaline::PngReadFailed ||
          code == tessaline::PngReadOutOfMemory);
    if (code != tessaline::PngReadOk) {
        Check(image.Empty() && image.rows.empty() && image.width == 0 && image.height == 0);
        return 0;
    }
    Check(image.width > 0 && image.height > 0);
    Check(std::uint64_t{image.width} * image.height <= FuzzMaxPixels);
    Check(image.pixels.size() == std::size_t{image.width} * image.height * 4);
    Check(image.rows.size() == image.height);
    Check(image.sourceBytes <= size);
    // Touch every pixel so that a sanitizer sees any uninitialised or stray row.
    unsigned sum = 0;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        Check(image.rows[y] == image.pixels.data() + std::size_t{y} * image.width * 4);
        for (std::size_t i = 0; i < std::size_t{image.width} * 4; ++i)
            sum += image.rows[y][i];
    }
    Check(sum <= 255u * image.pixels.size());
    return 0;
}

#if defined(TESSALINE_FUZZ_MUTATOR)
// A PNG-aware mutator. libpng refuses a critical chunk whose CRC is wrong and stops at the first
// bad zlib byte, and libFuzzer cannot see inside the (uninstrumented) system libpng to learn
// either; so most blind mutations die at the first chunk. After libFuzzer's own mutation this
// sometimes mutates the inflated image data instead and compresses it again, and mostly rewrites
// every chunk's CRC, so that the mutations reach the filters, the transformations and our rows.

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace {

std::uint32_t BigEndian32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

void PutBigEndian32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void FixCrcs(std::uint8_t* data, std::size_t size)
{
    std::size_t at = 8;
    while (at + 12 <= size) {
        const std::uint32_t length = BigEndian32(data + at);
        if (length > size - at - 12)
            return;
        const auto crc = static_cast<std::uint32_t>(crc32(0, data + at + 4, length + 4));
        PutBigEndian32(data + at + 8 + length, crc);
        at += 12 + std::size_t{length};
    }
}

/// Replaces the first IDAT's data by a mutation of its inflated content, compressed again.
std::size_t MutateImageData(std::uint8_t* data, std::size_t size, std::size_t maxSize)
{
    std::size_t at = 8;
    while (at + 12 <= size) {
        const std::uint32_t length = BigEndian32(data + at);
        if (length > size - at - 12)
            return size;
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0)
            break;
        at += 12 + std::size_t{length};
    }
    if (at + 12 > size)
        return size;
    const std::uint32_t length = BigEndian32(data + at);
    std::vector<std::uint8_t> raw(64 * 1024);
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, data + at + 8, length) != Z_OK)
        return size;
    raw.resize(rawSize + rawSize / 4 + 16);
    rawSize = LLVMFuzzerMutate(raw.data(), rawSize, raw.size());
    std::vector<std::uint8_t> packed(compressBound(rawSize));
    uLongf packedSize = packed.size();
    if (compress2(packed.data(), &packedSize, raw.data(), rawSize, 6) != Z_OK)
        return size;
    const std::size_t tail = size - (at + 12 + length);
    const std::size_t newSize = at + 12 + packedSize + tail;
    if (newSize > maxSize)
        return size;
    std::memmove(data + at + 12 + packedSize, data + at + 12 + length, tail);
    std::memcpy(data + at + 8, packed.data(), packedSize);
    PutBigEndian32(data + at, static_cast<std::uint32_t>(packedSize));
    return newSize;
}

} // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed)
{
    if (seed % 4 == 0)
        size = MutateImageData(data, size, maxSize);
    else
        size = LLVMFuzzerMutate(data, size, maxSize);
    if (seed % 16 != 1) // now and then keep a wrong CRC, so that path stays covered
        FixCrcs(data, size);
    return size;
}
#endif
