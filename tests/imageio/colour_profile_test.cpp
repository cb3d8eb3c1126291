// Embedded colour profiles: known answers from profiles LittleCMS builds here (sRGB, sRGB with red
// and green exchanged, Adobe RGB), carried in PNG files (iCCP). Qt's readers hand theirs over to
// the same conversion (the window's test drops a JPEG in Adobe RGB).

#include "imageio/colour_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "imageio/png_reader.h"
#include "tests/png_chunk_writer.h"

namespace tessaline {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SavedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

/// An RGB profile of D65 white, the given primaries and sRGB's curve (or a plain gamma).
Bytes RgbProfile(cmsCIExyY red, cmsCIExyY green, cmsCIExyY blue, double gamma = 0)
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries{red, green, blue};
    const cmsFloat64Number srgbCurve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve =
        gamma > 0 ? cmsBuildGamma(nullptr, gamma) : cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve* curves[] = {curve, curve, curve};
    Bytes bytes = SavedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

Bytes SwappedProfile()
{
    return RgbProfile({0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1});
}
Bytes AdobeProfile()
{
    return RgbProfile({0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}, 563.0 / 256.0);
}

/// A non-interlaced PNG of `samples` (R, G, B, A per pixel at `bitDepth`), RGB or RGBA, written by
/// libpng; with `iccp` (the chunk's data as it is) right after IHDR.
Bytes Png(std::uint32_t width, std::uint32_t height, int bitDepth, bool alpha,
          const std::vector<std::uint16_t>& samples, const Bytes& iccp = {})
{
    Bytes file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* out = static_cast<Bytes*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, bitDepth, alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const unsigned channels = alpha ? 4 : 3;
    for (std::uint32_t y = 0; y < height; ++y) {
        Bytes row;
        for (std::uint32_t x = 0; x < width; ++x)
            for (unsigned c = 0; c < channels; ++c) {
                const std::uint16_t v = samples[(std::size_t{y} * width + x) * 4 + c];
                if (bitDepth == 16)
                    row.push_back(static_cast<std::uint8_t>(v >> 8));
                row.push_back(static_cast<std::uint8_t>(v));
            }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (!iccp.empty()) {
        Bytes tagged(file.begin(), file.begin() + 33); // signature and IHDR
        test::AppendChunk(tagged, "iCCP", iccp.data(), iccp.size());
        tagged.insert(tagged.end(), file.begin() + 33, file.end());
        return tagged;
    }
    return file;
}

/// An iCCP chunk's data: name, compression method 0, the profile deflated.
Bytes Iccp(const Bytes& profile)
{
    Bytes data = {'i', 'c', 'c', 0, 0};
    uLongf size = compressBound(static_cast<uLong>(profile.size()));
    Bytes packed(size);
    compress(packed.data(), &size, profile.data(), static_cast<uLong>(profile.size()));
    data.insert(data.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(size));
    return data;
}

/// Colourful 8-bit samples (R, G, B, A as 16-bit values 0 to 255), alpha 255.
std::vector<std::uint16_t> Samples8(std::uint32_t count)
{
    std::vector<std::uint16_t> samples;
    for (std::uint32_t i = 0; i < count; ++i)
        samples.insert(samples.end(), {std::uint16_t(i * 37 % 256), std::uint16_t(i * 91 % 256),
                                       std::uint16_t(i * 13 % 256), 255});
    return samples;
}

RgbaImage Read(const Bytes& file, ProfileOutcome* outcome = nullptr)
{
    RgbaImage image;
    EXPECT_EQ(ReadPngMemory(image, file.data(), file.size(), MaxImagePixels, {outcome, nullptr}), PngReadOk);
    return image;
}

Bytes FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(ColourProfileTest, SrgbTaggedAndUntaggedGiveTheSameImage)
{
    const auto samples = Samples8(64 * 4);
    const RgbaImage plain = Read(Png(64, 4, 8, false, samples));
    std::vector<Bytes> srgbProfiles = {SavedProfile(cmsCreate_sRGBProfile())};
    // The profiles in circulation differ a little from LittleCMS's own; they are sRGB all the same.
    for (const char* path : {"/usr/share/color/icc/colord/sRGB.icc", "/usr/share/color/icc/sRGB.icc"})
        if (std::filesystem::exists(path))
            srgbProfiles.push_back(FileBytes(path));
    for (const Bytes& profile : srgbProfiles) {
        ProfileOutcome outcome{"x", "x"};
        const RgbaImage tagged = Read(Png(64, 4, 8, false, samples, Iccp(profile)), &outcome);
        EXPECT_EQ(tagged.pixels, plain.pixels);
        EXPECT_EQ(tagged.gamma, plain.gamma);
        EXPECT_TRUE(outcome.convertedFrom.empty());
        EXPECT_TRUE(outcome.warning.empty());
    }
}

TEST(ColourProfileTest, SwappedProfileSwapsRedAndGreenAt8And16Bits)
{
    // 8-bit RGB, converted after reading.
    ProfileOutcome outcome;
    const RgbaImage image = Read(Png(1, 1, 8, false, {200, 50, 10, 255}, Iccp(SwappedProfile())), &outcome);
    EXPECT_NEAR(image.pixels[0], 50, 1);
    EXPECT_NEAR(image.pixels[1], 200, 1);
    EXPECT_NEAR(image.pixels[2], 10, 1);
    EXPECT_EQ(image.pixels[3], 255);
    EXPECT_FALSE(outcome.convertedFrom.empty());
    EXPECT_TRUE(outcome.warning.empty());

    // 16-bit RGBA, converted from the 16-bit samples; alpha cut to 8 bits as without a profile.
    const RgbaImage wide = Read(Png(1, 1, 16, true, {51400, 12850, 2570, 0x80ff}, Iccp(SwappedProfile())));
    EXPECT_NEAR(wide.pixels[0], 50, 1);
    EXPECT_NEAR(wide.pixels[1], 200, 1);
    EXPECT_NEAR(wide.pixels[2], 10, 1);
    EXPECT_EQ(wide.pixels[3], 0x80);
}

TEST(ColourProfileTest, AdobeGreenComesOutAsSrgbClippedGreenAndTheProfileWinsOverGamma)
{
    Bytes file = Png(2, 1, 8, false, {0, 255, 0, 255, 255, 255, 255, 255}, Iccp(AdobeProfile()));
    ProfileOutcome outcome;
    const RgbaImage image = Read(file, &outcome);
    EXPECT_LE(image.pixels[0], 1);
    EXPECT_GE(image.pixels[1], 254);
    EXPECT_LE(image.pixels[2], 1);
    EXPECT_GE(image.pixels[4], 254); // white stays white
    EXPECT_EQ(image.gamma, double{InternalGamma});

    // A gAMA of 1.0 beside the profile: the profile says how the samples are encoded.
    const png_byte gama[] = {0, 1, 0x86, 0xa0};
    Bytes withGamma(file.begin(), file.begin() + 33);
    test::AppendChunk(withGamma, "gAMA", gama, sizeof gama);
    withGamma.insert(withGamma.end(), file.begin() + 33, file.end());
    const RgbaImage gammaToo = Read(withGamma);
    EXPECT_EQ(gammaToo.pixels, image.pixels);
    EXPECT_EQ(gammaToo.gamma, double{InternalGamma});
}

TEST(ColourProfileTest, DamagedOrOversizedProfileIsIgnoredWithAWarning)
{
    const auto samples = Samples8(16);
    const RgbaImage plain = Read(Png(16, 1, 8, false, samples));

    Bytes garbage(300);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 7 + 3);
    // Larger than MaxProfileBytes, with a header that says so: zeros deflate to a few kilobytes.
    Bytes huge = SavedProfile(cmsCreate_sRGBProfile());
    huge.resize(MaxProfileBytes + 4096);
    const auto size = static_cast<std::uint32_t>(huge.size());
    huge[0] = size >> 24, huge[1] = (size >> 16) & 0xff, huge[2] = (size >> 8) & 0xff, huge[3] = size & 0xff;
    Bytes notDeflated = {'i', 'c', 'c', 0, 0, 1, 2, 3, 4, 5};

    for (const Bytes& iccp : {Iccp(garbage), Iccp(huge), notDeflated}) {
        ProfileOutcome outcome;
        const RgbaImage image = Read(Png(16, 1, 8, false, samples, iccp), &outcome);
        EXPECT_EQ(image.pixels, plain.pixels);
        EXPECT_TRUE(outcome.convertedFrom.empty());
        EXPECT_EQ(outcome.warning.rfind("colour profile ignored: ", 0), 0u) << outcome.warning;
    }
    // Handed over directly (as Qt's reader does), the same profiles are refused by the conversion.
    for (const Bytes& profile : {garbage, huge, SavedProfile(cmsCreateLab4Profile(nullptr))}) {
        const SrgbConversion conversion(profile, 8);
        EXPECT_FALSE(conversion.Needed());
        EXPECT_FALSE(conversion.Outcome().warning.empty());
    }
}

} // namespace
} // namespace tessaline
