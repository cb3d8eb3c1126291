#pragma once
// tests/imageio/png_test_helpers.h: PNG files made by test code through libpng, with the RGBA
// pixels a reader must produce for them worked out independently; scratch folders; chunk lists.

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessaline::test {

/// One PNG to make: colour type and bit depth as in IHDR, samples drawn from a fixed seed.
struct TestPngLayout
{
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    bool hasGamma = false;
    png_uint_32 gammaFixed = 100000; ///< gAMA value when hasGamma
    int transparentCount = 0;        ///< tRNS entries (palette) or, when > 0 on grey/truecolour, one colour key
    std::uint32_t width = 13;
    std::uint32_t height = 11;
    std::uint32_t seed = 1;
};

struct TestPng
{
    std::vector<std::uint8_t> file;         ///< the PNG bytes
    std::vector<std::uint8_t> expectedRgba; ///< width * height * 4 bytes a reader must give
};

/// Encodes `layout` with libpng (level 6, default filters) and derives the expected pixels.
TestPng MakeTestPng(const TestPngLayout& layout);

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

/// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path; }
    /// Names in the folder, sorted.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path path;
};

struct PngChunk
{
    std::string type;
    std::vector<std::uint8_t> data;
};

/// The chunks of a PNG file in order; empty when the signature is wrong or a chunk is cut off.
std::vector<PngChunk> ParseChunks(const std::vector<std::uint8_t>& file);

/// The concatenated IDAT data inflated; empty on a zlib error.
std::vector<std::uint8_t> InflateImageData(const std::vector<PngChunk>& chunks);

std::uint32_t BigEndian32(const std::uint8_t* bytes);

} // namespace tessaline::test
