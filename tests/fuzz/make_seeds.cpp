// Writes the seed corpora of the reduce, bitmap_decode and colour_profile fuzz targets from nothing
// but this program: small pictures drawn here, saved through Qt's writers in every format it can
// write, reduce inputs in the target's own byte layout, and colour profiles LittleCMS builds from
// a few numbers (the installed profiles are replayed from the system). Run it again to regenerate them:
//     build/release/tests/fuzz/make_fuzz_seeds tests/fuzz/corpus

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <lcms2.h>

#include "imageio/bitmap_decoder.h"

namespace {

namespace fs = std::filesystem;

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

/// A word for ByteReader::Range(low, high) giving `value`.
void PutRange(std::vector<std::uint8_t>& out, int value, int low)
{
    const int word = value - low;
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
}

struct ReduceSeed
{
    const char* name;
    int colours, opacity;
    bool ie6, noDither, transparentLast, contrastMap, ditherMap, fastHistogram;
    int histogram, feedback, voronoi, convergence;
    bool userWeight;
    int weight;
    bool scalar;
    int width, height, tableSize;
};

std::vector<std::uint8_t> ReduceInput(const ReduceSeed& s, std::uint32_t seed)
{
    std::vector<std::uint8_t> out;
    PutRange(out, s.colours, 2);
    out.push_back(s.ie6 ? 1 : 0);
    if (!s.ie6)
        PutRange(out, s.opacity, 1);
    for (bool flag : {s.noDither, s.transparentLast, s.contrastMap, s.ditherMap, s.fastHistogram})
        out.push_back(flag ? 1 : 0);
    PutRange(out, s.histogram, 0);
    PutRange(out, s.feedback, 0);
    PutRange(out, s.voronoi, 0);
    PutRange(out, s.convergence, 13);
    if (s.contrastMap)
        out.push_back(s.userWeight ? 1 : 0);
    PutRange(out, s.weight, 0);
    out.push_back(s.scalar ? 1 : 0);
    PutRange(out, s.width, 1);
    PutRange(out, s.height, 1);
    PutRange(out, s.tableSize, 1);
    std::uint32_t state = seed;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u; // fixed LCG: the same seeds every run
        return static_cast<std::uint8_t>(state >> 24);
    };
    for (int i = 0; i < s.tableSize; ++i) {
        out.push_back(next());
        out.push_back(next());
        out.push_back(next());
        out.push_back(i % 3 == 0 ? next() : 255); // some translucent colours, most opaque
    }
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            out.push_back(static_cast<std::uint8_t>((x / 4 + y / 4 * 3) % s.tableSize));
    if (s.userWeight)
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                out.push_back(x < s.width / 2 ? 255 : 0);
    return out;
}

int MakeReduceSeeds(const fs::path& folder)
{
    const ReduceSeed seeds[] = {
        {"defaults_32x32", 256, 256, false, false, false, true, true, false, 10, 49, 7, 22, false, 15, false, 32, 32, 40},
        {"two_colours_scalar", 2, 256, false, false, false, true, true, false, 10, 49, 7, 22, false, 15, true, 16, 16, 8},
        {"orderd_ie6", 16, 256, true, true, false, true, true, false, 10, 10, 3, 13, false, 15, false, 24, 20, 30},
        {"transparent_last", 8, 200, false, false, true, true, false, true, 0, 0, 0, 22, false, 15, false, 20, 12, 12},
        {"user_weight", 12, 256, false, false, false, true, true, false, 63, 5, 2, 18, true, 100, false, 32, 24, 50},
        {"no_maps_3x3", 4, 1, false, false, false, false, false, false, 0, 3, 1, 13, false, 0, true, 3, 3, 9},
        {"one_pixel", 256, 256, false, false, false, true, true, false, 10, 49, 7, 22, false, 15, false, 1, 1, 1},
        {"row_64x1", 5, 128, false, false, false, true, true, true, 1, 20, 4, 20, false, 15, false, 64, 1, 64},
        {"column_1x64", 5, 128, false, true, false, true, true, false, 1, 20, 4, 20, false, 15, true, 1, 64, 64},
        {"parallel_64x64", 64, 256, false, false, false, true, true, false, 10, 12, 7, 22, true, 40, false, 64, 64, 256},
    };
    fs::create_directories(folder);
    std::uint32_t seed = 1;
    for (const ReduceSeed& s : seeds)
        if (!WriteFile(folder / s.name, ReduceInput(s, seed++)))
            return 1;
    return 0;
}

QImage Picture(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, (x ^ y) * 16 & 0xFF,
                                       alpha ? (x + y) * 255 / (width + height) : 255));
    return image;
}

int MakeDecodeSeeds(const fs::path& folder)
{
    fs::create_directories(folder);
    struct Variant
    {
        const char* suffix;
        QImage image;
    };
    const Variant variants[] = {
        {"rgba_12x9", Picture(12, 9, true)},
        {"rgb_7x5", Picture(7, 5, false).convertToFormat(QImage::Format_RGB32)},
        {"indexed_8x8", Picture(8, 8, false).convertToFormat(QImage::Format_Indexed8)},
        {"grey_6x4", Picture(6, 4, false).convertToFormat(QImage::Format_Grayscale8)},
        {"mono_9x3", Picture(9, 3, false).convertToFormat(QImage::Format_Mono)},
    };
    int count = 0;
    std::set<QByteArray> seen; // "jpg" and "jpeg", "tif" and "tiff" write the same bytes
    for (const char* format : tessaline::DecodedFormats) {
        for (const Variant& variant : variants) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, format);
            if (!writer.write(variant.image) || bytes.isEmpty() || bytes.size() > 8192 || !seen.insert(bytes).second)
                continue;
            const fs::path file = folder / (std::string(format) + "_" + variant.suffix);
            if (!WriteFile(file, std::vector<std::uint8_t>(bytes.begin(), bytes.end())))
                return 1;
            ++count;
        }
    }
    // Qt writes no GIF: a 2 x 1 one by hand (two-colour table, LZW minimum code size 2).
    const std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0,
                                           0, 0, 0, 255, 255, 255, ',', 0, 0, 0, 0, 2, 0, 1, 0, 0,
                                           2, 2, 0x4C, 0x01, 0, ';'};
    if (!WriteFile(folder / "gif_2x1", gif))
        return 1;
    ++count;
    std::printf("%d decode seeds in %s\n", count, folder.string().c_str());
    return count > 0 ? 0 : 1;
}

bool WriteProfile(const fs::path& path, cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    std::vector<std::uint8_t> bytes;
    if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        cmsSaveProfileToMem(profile, bytes.data(), &size);
    }
    if (profile != nullptr)
        cmsCloseProfile(profile);
    return !bytes.empty() && WriteFile(path, bytes);
}

// Profiles of each kind the conversion meets: sRGB, RGB matrix and curves (gamma, parametric),
// grey, and kinds it refuses (Lab, a device link).
int MakeProfileSeeds(const fs::path& folder)
{
    fs::create_directories(folder);
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    const cmsCIExyYTRIPLE swapped{{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}};
    const cmsCIExyYTRIPLE wide{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma22 = cmsBuildGamma(nullptr, 2.2);
    const cmsFloat64Number srgbCurve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* srgb = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve* gammas[] = {gamma22, gamma22, gamma22};
    cmsToneCurve* srgbs[] = {srgb, srgb, srgb};
    cmsHPROFILE srgbProfile = cmsCreate_sRGBProfile();
    cmsHPROFILE link =
        cmsCreateTransform(srgbProfile, TYPE_RGB_8, srgbProfile, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    const bool written =
        WriteProfile(folder / "srgb.icc", cmsCreate_sRGBProfile()) &&
        WriteProfile(folder / "swapped.icc", cmsCreateRGBProfile(&d65, &swapped, srgbs)) &&
        WriteProfile(folder / "wide_gamma22.icc", cmsCreateRGBProfile(&d65, &wide, gammas)) &&
        WriteProfile(folder / "grey_gamma22.icc", cmsCreateGrayProfile(&d65, gamma22)) &&
        WriteProfile(folder / "lab.icc", cmsCreateLab4Profile(nullptr)) &&
        WriteProfile(folder / "device_link.icc", cmsTransform2DeviceLink(link, 4.3, 0));
    cmsDeleteTransform(link);
    cmsCloseProfile(srgbProfile);
    cmsFreeToneCurve(gamma22);
    cmsFreeToneCurve(srgb);
    std::printf("profile seeds in %s\n", folder.string().c_str());
    return written ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS-FOLDER\n");
        return 2;
    }
    const fs::path root(argv[1]);
    if (MakeReduceSeeds(root / "reduce") != 0 || MakeProfileSeeds(root / "colour_profile") != 0)
        return 1;
    return MakeDecodeSeeds(root / "bitmap_decode");
}
