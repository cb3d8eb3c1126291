#include "tests/imageio/png_test_helpers.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace tessaline::test {

namespace {

/// Deterministic samples: a small linear congruential generator.
struct Lcg
{
    std::uint32_t state;
    std::uint32_t Next(std::uint32_t limit)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % limit;
    }
};

int Channels(int colourType)
{
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1; // palette
    }
}

std::uint8_t ToByte(std::uint32_t sample, int bitDepth)
{
    if (bitDepth == 16)
        return static_cast<std::uint8_t>(sample >> 8); // the high byte, as the reader strips
    return static_cast<std::uint8_t>(sample * 255 / ((1u << bitDepth) - 1));
}

void AppendToVector(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

[[noreturn]] void ThrowOnError(png_structp, png_const_charp message)
{
    throw std::runtime_error(message);
}

} // namespace

TestPng MakeTestPng(const TestPngLayout& layout)
{
    const int channels = Channels(layout.colourType);
    const bool palette = layout.colourType == PNG_COLOR_TYPE_PALETTE;
    const std::uint32_t sampleLimit = 1u << layout.bitDepth;
    Lcg random{layout.seed * 2654435761u + 17};

    // The palette: as many entries as the depth allows, at most 256, with colours of their own.
    std::vector<png_color> colours;
    std::vector<png_byte> alphas;
    if (palette) {
        for (std::uint32_t i = 0; i < sampleLimit; ++i)
            colours.push_back(png_color{static_cast<png_byte>(random.Next(256)),
                                        static_cast<png_byte>(random.Next(256)),
                                        static_cast<png_byte>(random.Next(256))});
        for (int i = 0; i < layout.transparentCount; ++i)
            alphas.push_back(static_cast<png_byte>(random.Next(255)));
    }

    std::vector<std::uint32_t> samples(std::size_t{layout.width} * layout.height * channels);
    for (auto& sample : samples)
        sample = random.Next(sampleLimit);
    // Keep both extremes in every image so that scaling mistakes show.
    samples[0] = 0;
    samples.back() = sampleLimit - 1;

    // Rows in file layout: packed below 8 bits with the leftmost sample high, 16 bits big-endian.
    const std::size_t samplesPerRow = std::size_t{layout.width} * channels;
    const std::size_t rowBytes = (samplesPerRow * layout.bitDepth + 7) / 8;
    std::vector<std::uint8_t> raw(rowBytes * layout.height, 0);
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        std::uint8_t* row = raw.data() + y * rowBytes;
        for (std::size_t i = 0; i < samplesPerRow; ++i) {
            const std::uint32_t s = samples[y * samplesPerRow + i];
            if (layout.bitDepth == 16) {
                row[2 * i] = static_cast<std::uint8_t>(s >> 8);
                row[2 * i + 1] = static_cast<std::uint8_t>(s);
            } else if (layout.bitDepth == 8) {
                row[i] = static_cast<std::uint8_t>(s);
            } else {
                const std::size_t bit = i * layout.bitDepth;
                row[bit / 8] |= static_cast<std::uint8_t>(s << (8 - layout.bitDepth - bit % 8));
            }
        }
    }

    TestPng result;
    result.expectedRgba.reserve(std::size_t{layout.width} * layout.height * 4);
    for (std::size_t p = 0; p < std::size_t{layout.width} * layout.height; ++p) {
        const std::uint32_t* s = &samples[p * channels];
        std::uint8_t rgba[4] = {0, 0, 0, 255};
        if (palette) {
            rgba[0] = colours[s[0]].red;
            rgba[1] = colours[s[0]].green;
            rgba[2] = colours[s[0]].blue;
            rgba[3] = s[0] < alphas.size() ? alphas[s[0]] : 255;
        } else if (channels <= 2) {
            rgba[0] = rgba[1] = rgba[2] = ToByte(s[0], layout.bitDepth);
            if (channels == 2)
                rgba[3] = ToByte(s[1], layout.bitDepth);
        } else {
            for (int c = 0; c < 3; ++c)
                rgba[c] = ToByte(s[c], layout.bitDepth);
            if (channels == 4)
                rgba[3] = ToByte(s[3], layout.bitDepth);
        }
        // A grey or RGB tRNS names one colour (the first pixel's, below): pixels of exactly that
        // colour are transparent.
        if (!palette && layout.transparentCount > 0 && channels % 2 == 1 &&
            std::equal(s, s + channels, samples.data()))
            rgba[3] = 0;
        result.expectedRgba.insert(result.expectedRgba.end(), rgba, rgba + 4);
    }

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ThrowOnError, nullptr);
    png_infop info = png_create_info_struct(png);
    try {
        png_set_write_fn(png, &result.file, AppendToVector, nullptr);
        png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
                     layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (layout.hasGamma)
            png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(layout.gammaFixed));
        if (palette) {
            png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
            if (!alphas.empty())
                png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
        } else if (layout.transparentCount > 0 && channels % 2 == 1) {
            // One transparent colour value: the first pixel's.
            png_color_16 colour{};
            colour.gray = static_cast<png_uint_16>(samples[0]);
            colour.red = static_cast<png_uint_16>(samples[0]);
            if (channels == 3) {
                colour.green = static_cast<png_uint_16>(samples[1]);
                colour.blue = static_cast<png_uint_16>(samples[2]);
            }
            png_set_tRNS(png, info, nullptr, 0, &colour);
        }
        png_write_info(png, info);
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass)
            for (std::uint32_t y = 0; y < layout.height; ++y)
                png_write_row(png, raw.data() + y * rowBytes);
        png_write_end(png, nullptr);
    } catch (...) {
        png_destroy_write_struct(&png, &info);
        throw;
    }
    png_destroy_write_struct(&png, &info);
    return result;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write test file " + path.string());
}

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> counter{0};
#if defined(_WIN32)
    const long pid = 0;
#else
    const long pid = static_cast<long>(getpid());
#endif
    path = std::filesystem::temp_directory_path() /
           ("tessaline-imageio-" + std::to_string(pid) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> ScratchFolder::Names() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::uint32_t BigEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 |
           bytes[3];
}

std::vector<PngChunk> ParseChunks(const std::vector<std::uint8_t>& file)
{
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<PngChunk> chunks;
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin()))
        return {};
    std::size_t at = 8;
    while (at < file.size()) {
        if (file.size() - at < 12)
            return {};
        const std::uint32_t length = BigEndian32(&file[at]);
        if (file.size() - at - 12 < length)
            return {};
        PngChunk chunk;
        chunk.type.assign(reinterpret_cast<const char*>(&file[at + 4]), 4);
        chunk.data.assign(file.begin() + at + 8, file.begin() + at + 8 + length);
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return chunks;
}

std::vector<std::uint8_t> InflateImageData(const std::vector<PngChunk>& chunks)
{
    std::vector<std::uint8_t> compressed;
    for (const PngChunk& chunk : chunks)
        if (chunk.type == "IDAT")
            compressed.insert(compressed.end(), chunk.data.begin(), chunk.data.end());
    std::vector<std::uint8_t> out;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = compressed.data();
    stream.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    std::uint8_t buffer[4096];
    while (status == Z_OK) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : std::vector<std::uint8_t>{};
}

} // namespace tessaline::test
