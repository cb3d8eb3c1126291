#include "engine/contrast_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/colour_model.h"
#include "engine/parallel.h"

namespace tessaline {
namespace {

std::vector<float> RandomFloats(std::size_t count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-1.0f, 2.0f);
    std::vector<float> out(count);
    for (float& v : out)
        v = value(rng);
    return out;
}

RgbaImage RandomImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed, bool smooth = false)
{
    RgbaImage image = CreateRgbaImage(width, height);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            for (int c = 0; c < 4; ++c) {
                // A smooth field with a busy patch, so that some regions stay high and some low.
                const bool busy = !smooth || (x > width / 2 && y > height / 3);
                const int base = int((x * 7 + y * 3 + c * 40) % 256);
                p[c] = std::uint8_t(busy ? byte(rng) : base);
            }
            if (p[3] == 0 && seed % 2 == 0)
                p[3] = 255;
        }
    return image;
}

RgbaImage UniformImage(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba)
{
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4)
        std::copy(rgba.begin(), rgba.end(), image.pixels.begin() + i);
    return image;
}

// Slow, obvious forms of every step, indexed with clamping at each access.
std::size_t Clamp(std::int64_t v, std::uint32_t size)
{
    return std::size_t(std::clamp<std::int64_t>(v, 0, std::int64_t{size} - 1));
}

std::vector<float> ReferenceCross(const std::vector<float>& src, std::uint32_t w, std::uint32_t h,
                                  bool larger)
{
    std::vector<float> dst(src.size());
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const float values[5] = {
                src[y * std::size_t{w} + x], src[y * std::size_t{w} + Clamp(std::int64_t{x} - 1, w)],
                src[y * std::size_t{w} + Clamp(x + 1, w)], src[Clamp(std::int64_t{y} - 1, h) * w + x],
                src[Clamp(y + 1, h) * w + x]};
            dst[y * std::size_t{w} + x] =
                larger ? *std::max_element(values, values + 5) : *std::min_element(values, values + 5);
        }
    return dst;
}

std::vector<float> ReferenceBlur(const std::vector<float>& src, std::uint32_t w, std::uint32_t h)
{
    std::vector<float> dst(src.size());
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            double sum = 0.0;
            for (std::int64_t j = std::int64_t{x} - 2; j <= std::int64_t{x} + 3; ++j)
                sum += src[y * std::size_t{w} + Clamp(j, w)];
            dst[std::size_t{x} * h + y] = float(sum / 6.0);
        }
    return dst;
}

struct ReferenceMaps
{
    std::vector<float> contrast;
    std::vector<float> dither;
};

// The contrast and dither values of every pixel before any filter.
ReferenceMaps ReferenceMeasured(const RgbaImage& image, const float* userWeights)
{
    const std::uint32_t w = image.width, h = image.height;
    const float gamma = float(image.gamma);
    ReferenceMaps maps{std::vector<float>(std::size_t{w} * h), std::vector<float>(std::size_t{w} * h)};
    const auto at = [&](std::size_t x, std::size_t y) { return ToFloatPixel(image.rows[y] + 4 * x, gamma); };
    const auto second = [](const FloatPixel& p, const FloatPixel& c, const FloatPixel& n) {
        return std::max({std::fabs(p.a + n.a - 2.0f * c.a), std::fabs(p.r + n.r - 2.0f * c.r),
                         std::fabs(p.g + n.g - 2.0f * c.g), std::fabs(p.b + n.b - 2.0f * c.b)});
    };
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const FloatPixel c = at(x, y);
            const float horiz = second(at(Clamp(std::int64_t{x} - 1, w), y), c, at(Clamp(x + 1, w), y));
            const float vert = second(at(x, Clamp(std::int64_t{y} - 1, h)), c, at(x, Clamp(y + 1, h)));
            const float edge = std::max(horiz, vert);
            float z = edge - std::fabs(horiz - vert) * 0.5f;
            z = 1.0f - std::max(z, std::min(horiz, vert));
            const std::size_t i = y * std::size_t{w} + x;
            maps.contrast[i] = (z * z) * (z * z) + (userWeights ? userWeights[i] : 0.0f);
            maps.dither[i] = 1.0f - edge;
        }
    return maps;
}

ReferenceMaps ReferenceContrastMaps(const RgbaImage& image, const float* userWeights, bool blur)
{
    const std::uint32_t w = image.width, h = image.height;
    ReferenceMaps maps = ReferenceMeasured(image, userWeights);
    auto& c = maps.contrast;
    c = ReferenceCross(ReferenceCross(c, w, h, true), w, h, true);
    if (blur)
        c = ReferenceBlur(ReferenceBlur(c, w, h), h, w);
    c = ReferenceCross(c, w, h, true);
    for (int i = 0; i < 3; ++i)
        c = ReferenceCross(c, w, h, false);
    maps.dither = ReferenceCross(ReferenceCross(maps.dither, w, h, false), w, h, true);
    for (std::size_t i = 0; i < c.size(); ++i)
        maps.dither[i] = std::min(c[i], maps.dither[i]);
    return maps;
}

float MaxDifference(const float* got, const std::vector<float>& expected)
{
    float worst = 0.0f;
    for (std::size_t i = 0; i < expected.size(); ++i)
        worst = std::max(worst, std::fabs(got[i] - expected[i]));
    return worst;
}

ContrastMaps Build(const RgbaImage& image, const ReduceSettings& settings = ReduceSettings{})
{
    return BuildContrastMaps(settings, image.rows.data(), image.width, image.height, float(image.gamma));
}

TEST(ContrastMapTest, CrossFiltersMatchBruteForce)
{
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {1, 6},  {6, 1},  {2, 2},
                                                             {3, 5}, {13, 7}, {64, 33}};
    std::uint32_t seed = 1;
    for (const auto& [w, h] : sizes) {
        // One float of offset catches any assumption of aligned loads.
        std::vector<float> buffer = RandomFloats(std::size_t{w} * h + 1, seed++);
        const std::vector<float> src(buffer.begin() + 1, buffer.end());
        std::vector<float> out(src.size() + 1);
        MaxFilter3(buffer.data() + 1, out.data() + 1, w, h);
        EXPECT_EQ(std::vector<float>(out.begin() + 1, out.end()), ReferenceCross(src, w, h, true))
            << w << "x" << h;
        MinFilter3(buffer.data() + 1, out.data() + 1, w, h);
        EXPECT_EQ(std::vector<float>(out.begin() + 1, out.end()), ReferenceCross(src, w, h, false))
            << w << "x" << h;
    }
}

TEST(ContrastMapTest, BlurIsSixWideMeanWrittenTransposed)
{
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {1, 4},  {2, 3}, {3, 2},
                                                             {7, 7}, {50, 3}, {5, 40}};
    std::uint32_t seed = 100;
    for (const auto& [w, h] : sizes) {
        const std::vector<float> src = RandomFloats(std::size_t{w} * h, seed++);
        std::vector<float> out(src.size());
        TransposingBoxBlur(src.data(), out.data(), w, h);
        EXPECT_LT(MaxDifference(out.data(), ReferenceBlur(src, w, h)), 1e-5f) << w << "x" << h;
    }
    // The window leans right: columns x-2 .. x+3.
    const std::vector<float> step = {0, 0, 0, 6, 6, 6, 6, 6, 6, 6};
    std::vector<float> out(step.size());
    TransposingBoxBlur(step.data(), out.data(), 10, 1);
    EXPECT_FLOAT_EQ(out[0], 1.0f); // columns -2..3: only column 3 is 6
    EXPECT_FLOAT_EQ(out[2], 3.0f);
    EXPECT_FLOAT_EQ(out[5], 6.0f);
}

TEST(ContrastMapTest, UniformImageGivesOnes)
{
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{4, 4}, {6, 10}, {7, 7}, {31, 17}};
    for (double gamma : {double(InternalGamma), 1.0 / 2.2}) {
        for (const auto& [w, h] : sizes) {
            RgbaImage image = UniformImage(w, h, {200, 30, 90, 160});
            image.gamma = gamma;
            const ContrastMaps maps = Build(image);
            ASSERT_TRUE(maps.contrast && maps.dither);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(maps.contrast.get()) % FloatMapAlignment, 0u);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(maps.dither.get()) % FloatMapAlignment, 0u);
            for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
                ASSERT_EQ(maps.contrast[i], 1.0f) << w << "x" << h << " at " << i;
                ASSERT_EQ(maps.dither[i], 1.0f) << w << "x" << h << " at " << i;
            }
        }
    }
}

TEST(ContrastMapTest, MatchesStepByStepReference)
{
    struct Case
    {
        std::uint32_t w, h;
        double gamma;
        bool weights;
    };
    const Case cases[] = {{4, 4, InternalGamma, false}, {6, 10, InternalGamma, false},
                          {10, 6, 1.0, true},           {7, 7, InternalGamma, false},
                          {40, 23, 1.0 / 2.2, true},    {64, 64, InternalGamma, false}};
    std::uint32_t seed = 7;
    for (const Case& c : cases) {
        RgbaImage image = RandomImage(c.w, c.h, seed++, true);
        image.gamma = c.gamma;
        ReduceSettings settings;
        if (c.weights) {
            settings.userWeights = std::make_unique<float[]>(std::size_t{c.w} * c.h);
            std::mt19937 rng(seed);
            for (std::size_t i = 0; i < std::size_t{c.w} * c.h; ++i)
                settings.userWeights[i] = (rng() % 5 == 0) ? 0.75f : 0.0f;
        }
        const ContrastMaps maps = Build(image, settings);
        const bool blurred = c.w >= 7 && c.h >= 7;
        const ReferenceMaps expected = ReferenceContrastMaps(image, settings.userWeights.get(), blurred);
        EXPECT_LT(MaxDifference(maps.contrast.get(), expected.contrast), 1e-5f) << c.w << "x" << c.h;
        EXPECT_LT(MaxDifference(maps.dither.get(), expected.dither), 1e-5f) << c.w << "x" << c.h;
        // The blur is what tells the two chains apart; make sure the image is busy enough to show it.
        const ReferenceMaps other = ReferenceContrastMaps(image, settings.userWeights.get(), !blurred);
        EXPECT_GT(MaxDifference(maps.contrast.get(), other.contrast), 1e-3f) << c.w << "x" << c.h;
    }
}

// Whole-image passes of the library's own filters, one after the other, on the reference's
// measured values: the maps must equal these bit for bit however the rows are split among threads.
TEST(ContrastMapTest, BandsOnAnyThreadCountEqualWholeImagePasses)
{
    const int savedThreads = MaxThreads();
    // Big enough to be split: one with the blur, one too narrow for it.
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {1031, std::uint32_t(ParallelImagePixels / 1031) + 7}, {5, std::uint32_t(ParallelImagePixels / 5) + 3}};
    std::uint32_t seed = 500;
    for (const auto& [w, h] : sizes) {
        const RgbaImage image = RandomImage(w, h, seed++, true);
        ReduceSettings settings;
        settings.userWeights = std::make_unique<float[]>(std::size_t{w} * h);
        settings.userWeights[std::size_t{w} * (h / 2) + w / 3] = 0.5f;
        const ReferenceMaps measured = ReferenceMeasured(image, settings.userWeights.get());
        std::vector<float> c = measured.contrast, d = measured.dither, t(c.size());
        MaxFilter3(c.data(), t.data(), w, h);
        MaxFilter3(t.data(), c.data(), w, h);
        if (w >= 7 && h >= 7) {
            TransposingBoxBlur(c.data(), t.data(), w, h);
            TransposingBoxBlur(t.data(), c.data(), h, w);
        }
        MaxFilter3(c.data(), t.data(), w, h);
        MinFilter3(t.data(), c.data(), w, h);
        MinFilter3(c.data(), t.data(), w, h);
        MinFilter3(t.data(), c.data(), w, h);
        MinFilter3(d.data(), t.data(), w, h);
        MaxFilter3(t.data(), d.data(), w, h);
        for (std::size_t i = 0; i < d.size(); ++i)
            d[i] = std::min(c[i], d[i]);
        for (int threads : {1, 2, 3}) {
            SetMaxThreads(threads);
            const ContrastMaps maps = Build(image, settings);
            ASSERT_TRUE(maps.contrast && maps.dither);
            for (std::size_t i = 0; i < c.size(); ++i) {
                ASSERT_EQ(maps.contrast[i], c[i]) << w << "x" << h << ", " << threads << " threads, at " << i;
                ASSERT_EQ(maps.dither[i], d[i]) << w << "x" << h << ", " << threads << " threads, at " << i;
            }
        }
    }
    SetMaxThreads(savedThreads);
}

TEST(ContrastMapTest, VectorAndScalarPassesGiveIdenticalMaps)
{
    const bool saved = ProcessorHasSse2;
    std::uint32_t seed = 300;
    for (double gamma : {double(InternalGamma), 1.0, 1.0 / 2.2}) {
        for (const auto& [w, h] : {std::pair<std::uint32_t, std::uint32_t>{4, 4}, {9, 5}, {57, 31}}) {
            const std::uint32_t imageSeed = seed++;
            RgbaImage image = RandomImage(w, h, imageSeed, imageSeed % 2 != 0);
            image.gamma = gamma;
            ReduceSettings settings;
            settings.userWeights = std::make_unique<float[]>(std::size_t{w} * h);
            settings.userWeights[w + 1] = 0.25f;
            ProcessorHasSse2 = false;
            const ContrastMaps scalar = Build(image, settings);
            ProcessorHasSse2 = true;
            const ContrastMaps vector = Build(image, settings);
            for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
                ASSERT_EQ(scalar.contrast[i], vector.contrast[i]) << w << "x" << h << " at " << i;
                ASSERT_EQ(scalar.dither[i], vector.dither[i]) << w << "x" << h << " at " << i;
            }
        }
    }
    ProcessorHasSse2 = saved;
}

TEST(ContrastMapTest, ThinLineLeavesContrastButLowersDither)
{
    const std::uint32_t w = 20, h = 16, line = 10;
    RgbaImage image = UniformImage(w, h, {128, 128, 128, 255});
    for (std::uint32_t y = 0; y < h; ++y)
        std::fill_n(image.rows[y] + 4 * line, 3, std::uint8_t{255});
    const ContrastMaps maps = Build(image);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x)
            EXPECT_NEAR(maps.contrast[y * w + x], 1.0f, 1e-6f) << x << "," << y;
        EXPECT_LT(maps.dither[y * w + line], 0.9f) << y;
        for (std::uint32_t x = 0; x + 3 < line; ++x)
            EXPECT_EQ(maps.dither[y * w + x], 1.0f) << x << "," << y;
    }
}

TEST(ContrastMapTest, UserWeightIsFilteredWithContrast)
{
    const std::uint32_t w = 11, h = 11;
    const RgbaImage image = UniformImage(w, h, {10, 220, 40, 255});
    ReduceSettings settings;
    settings.userWeights = std::make_unique<float[]>(w * h);
    settings.userWeights[5 * w + 5] = 0.5f;
    const ContrastMaps maps = Build(image, settings);
    for (std::uint32_t i = 0; i < w * h; ++i) {
        EXPECT_GE(maps.contrast[i], 1.0f - 1e-6f) << i;
        EXPECT_LE(maps.contrast[i], 1.5f + 1e-6f) << i;
    }
    EXPECT_NEAR(maps.contrast[5 * w + 5], 1.125f, 1e-6f);
}

TEST(ContrastMapTest, DitherNeverAboveContrastAndAlwaysFinite)
{
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{4, 4}, {5, 9}, {33, 17}, {128, 96}};
    std::uint32_t seed = 40;
    for (const auto& [w, h] : sizes) {
        for (bool smooth : {false, true}) {
            RgbaImage image = RandomImage(w, h, seed++, smooth);
            image.gamma = seed % 2 ? 1.0 : InternalGamma;
            const ContrastMaps maps = Build(image);
            for (std::size_t i = 0; i < std::size_t{w} * h; ++i) {
                ASSERT_TRUE(std::isfinite(maps.contrast[i]) && std::isfinite(maps.dither[i]));
                ASSERT_LE(maps.dither[i], maps.contrast[i]) << w << "x" << h << " at " << i;
            }
        }
    }
}

} // namespace
} // namespace tessaline
