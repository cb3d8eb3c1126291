#include "engine/remap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/nearest_index.h"
#include "engine/random_source.h"
#include "tests/engine/palette_test_data.h"
#include "tests/engine/thread_count_scope.h"

namespace tessaline {
namespace {

using testing::RandomPalette;
using testing::Sse2Scope;
using testing::Straight;
using testing::ThreadCountScope;

// Random bytes; about one pixel in `transparentOneIn` has alpha 0 and one in four is translucent.
RgbaImage RandomImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed,
                      int transparentOneIn = 10)
{
    std::mt19937 random(seed);
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        for (int c = 0; c < 3; ++c)
            image.pixels[i + c] = std::uint8_t(random());
        const std::uint32_t kind = random() % 12;
        image.pixels[i + 3] = kind == 0 ? 0 : kind < 4 ? std::uint8_t(random()) : 255;
        if (transparentOneIn > 0 && random() % transparentOneIn == 0)
            image.pixels[i + 3] = 0;
    }
    return image;
}

RgbaImage FlatImage(std::uint32_t width, std::uint32_t height, std::array<std::uint8_t, 4> rgba)
{
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4)
        std::copy(rgba.begin(), rgba.end(), image.pixels.begin() + i);
    return image;
}

// The error diffusion written plainly, one channel and one statement at a time, against the index
// itself: the remap's own loop must give these indices bit for bit.
// Largest channel of two premultiplied colours' difference, composited over black and over white.
float CompositeGap(const FloatPixel& x, const FloatPixel& y)
{
    float worst = 0.0f;
    for (const float c : {x.r - y.r, x.g - y.g, x.b - y.b})
        worst = std::max({worst, std::abs(c), std::abs(c - (x.a - y.a))});
    return worst;
}

// Without `keepNearTheSource`, the loop as it was before a choice straying more than 64 levels
// further from the source than the source's nearest entry gave way to that entry (from 16 entries).
void PlainDither(const RgbaImage& input, IndexedImage& output, const Palette& palette, float minOpacity,
                 const float* ditherMap, bool useDitherMap, bool keepNearTheSource = true)
{
    NearestIndex index = BuildNearestIndex(palette);
    const std::uint32_t transparentIndex = FindNearest(index, FloatPixel{}, minOpacity, nullptr);
    std::vector<float> keep(palette.count);
    for (std::uint32_t i = 0; i < palette.count; ++i) {
        float nearest = 1e20f;
        for (std::uint32_t j = 0; j < palette.count; ++j) {
            if (j != i)
                nearest = std::min(nearest, ColourDifference(palette[i].colour, palette[j].colour));
        }
        keep[i] = 0.25f * nearest;
    }
    const auto noise = [] {
        return static_cast<float>((double(NextRandom()) * (1.0 / 4294967295.0) - 0.5) / 255.0);
    };
    const auto addShare = [](FloatPixel& cell, const FloatPixel& error, float weight) {
        cell.a += error.a * weight * 0.0625f;
        cell.r += error.r * weight * 0.0625f;
        cell.g += error.g * weight * 0.0625f;
        cell.b += error.b * weight * 0.0625f;
    };
    const std::int64_t width = input.width;
    std::vector<FloatPixel> current(width + 2), next(width + 2);
    SeedRandomSource(12345);
    for (FloatPixel& cell : current) {
        cell.r = noise();
        cell.g = noise();
        cell.b = noise();
        cell.a = noise();
    }
    bool leftToRight = true;
    for (std::int64_t y = 0; y < input.height; ++y) {
        std::fill(next.begin(), next.end(), FloatPixel{});
        for (std::int64_t step = 0; step < width; ++step) {
            const std::int64_t x = leftToRight ? step : width - 1 - step;
            const FloatPixel pixel = ToFloatPixel(input.rows[y] + 4 * x, static_cast<float>(input.gamma));
            float level = ditherMap ? ditherMap[y * width + x] : 0.9f;
            const FloatPixel& owed = current[x + 1];
            FloatPixel key;
            key.r = std::clamp(pixel.r + level * owed.r, 0.0f, 1.0f);
            key.g = std::clamp(pixel.g + level * owed.g, 0.0f, 1.0f);
            key.b = std::clamp(pixel.b + level * owed.b, 0.0f, 1.0f);
            key.a = pixel.a + level * owed.a;
            bool search = true;
            if (key.a < 0.0f) {
                key.a = 0.0f;
                search = false;
            } else if (key.a > 1.0f) {
                key.a = 1.0f;
            } else if (key.a < 0.00390625f) {
                search = false;
            }
            std::uint32_t choice = transparentIndex;
            if (search) {
                const std::uint32_t plain = output.rows[y][x];
                if (useDitherMap && plain < palette.count && ColourDifference(palette[plain].colour, key) < keep[plain])
                    choice = plain;
                else {
                    // An answer more than 1/64 off is checked against every entry.
                    float answered = 0.0f;
                    float nearest = 0.0f;
                    choice = FindNearest(index, key, minOpacity, &answered);
                    const std::uint32_t checked = FindNearestOfAll(palette, key, minOpacity, &nearest);
                    if (answered > 1.0f / 64.0f && nearest < answered)
                        choice = checked;
                    if (keepNearTheSource && palette.count >= 16) {
                        std::uint32_t nearSource = 0;
                        for (std::uint32_t i = 1; i < palette.count; ++i)
                            if (CompositeGap(pixel, palette[i].colour) < CompositeGap(pixel, palette[nearSource].colour))
                                nearSource = i;
                        if (CompositeGap(pixel, palette[choice].colour) - CompositeGap(pixel, palette[nearSource].colour) >
                            64.0f / 255.0f)
                            choice = nearSource;
                    }
                }
            }
            output.rows[y][x] = static_cast<std::uint8_t>(choice);
            const FloatPixel& chosen = palette[choice].colour;
            const FloatPixel d{key.a - chosen.a, key.r - chosen.r, key.g - chosen.g, key.b - chosen.b};
            const float squared = ((d.g * d.g + d.r * d.r) + d.b * d.b) + d.a * d.a;
            if (squared > 0.000244140625f)
                level = static_cast<float>(double(level) * 0.75);
            const float colourScale = (chosen.a + 3.0f) * 0.25f * level;
            const FloatPixel error{d.a * level, d.r * colourScale, d.g * colourScale, d.b * colourScale};
            if (leftToRight) {
                addShare(current[x + 2], error, 7.0f);
                addShare(next[x], error, 3.0f);
                addShare(next[x + 1], error, 5.0f);
                addShare(next[x + 2], error, 1.0f);
            } else {
                addShare(current[x], error, 7.0f);
                addShare(next[x], error, 1.0f);
                addShare(next[x + 1], error, 5.0f);
                addShare(next[x + 2], error, 3.0f);
            }
        }
        std::swap(current, next);
        leftToRight = !leftToRight;
    }
    ReleaseNearestIndex(index);
}

// A smooth image with a little grain and a translucent band, so that the diffused colours wander
// slowly as in a photograph.
RgbaImage SmoothImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed)
{
    std::mt19937 random(seed);
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            p[0] = std::uint8_t((x * 255) / width + random() % 5);
            p[1] = std::uint8_t((y * 200) / height + random() % 3);
            p[2] = std::uint8_t(((x + y) * 90) / (width + height) + 100);
            p[3] = y < height / 5 ? std::uint8_t((x * 255) / width) : 255;
        }
    }
    return image;
}

IndexedImage OutputFor(const RgbaImage& input)
{
    IndexedImage output;
    output.width = input.width;
    output.height = input.height;
    output.gamma = InternalGamma;
    output.pixels.assign(std::size_t{input.width} * input.height, 0);
    output.rows.resize(input.height);
    for (std::uint32_t y = 0; y < input.height; ++y)
        output.rows[y] = output.pixels.data() + std::size_t{y} * input.width;
    return output;
}

TEST(RemapTest, PlainRemapAnswersLikeTheIndexAndMovesEntriesToTheirMeans)
{
    for (const bool sse2 : {false, true}) {
        for (const bool fewColours : {false, true}) {
            const Sse2Scope scope(sse2);
            RgbaImage input = RandomImage(97, 61, 3);
            input.gamma = 1.0 / 2.2; // exercises the power path of the conversion
            if (fewColours) {
                // Colours repeated many times over, as in a photograph, so remembered answers are reused.
                for (std::uint8_t& byte : input.pixels)
                    byte = std::uint8_t(byte & 0xC0);
            }
            Palette palette = RandomPalette(40, 5);
            const Palette before = testing::CopyEntries(palette);
            IndexedImage output = OutputFor(input);
            const float minOpacity = 0.75f;
            const float meanDistance = RemapPlain(input, output, palette, minOpacity);

            NearestIndex index = BuildNearestIndex(before);
            const std::uint32_t transparentIndex = FindNearest(index, FloatPixel{}, minOpacity, nullptr);
            const float gamma = static_cast<float>(input.gamma);
            std::vector<std::array<double, 5>> sums(palette.count, std::array<double, 5>{});
            double distanceSum = 0.0;
            int searched = 0;
            for (std::uint32_t y = 0; y < input.height; ++y) {
                for (std::uint32_t x = 0; x < input.width; ++x) {
                    const FloatPixel pixel = ToFloatPixel(input.rows[y] + 4 * x, gamma);
                    std::uint32_t expected = transparentIndex;
                    if (pixel.a >= 1.0f / 256) {
                        float d = 0.0f;
                        expected = FindNearest(index, pixel, minOpacity, &d);
                        distanceSum += d;
                        ++searched;
                    }
                    ASSERT_EQ(output.rows[y][x], expected) << x << ", " << y;
                    auto& sum = sums[expected];
                    sum[0] += pixel.a, sum[1] += pixel.r, sum[2] += pixel.g, sum[3] += pixel.b, sum[4] += 1.0;
                }
            }
            ReleaseNearestIndex(index);
            EXPECT_NEAR(meanDistance, distanceSum / searched, 1e-5);
            for (std::uint32_t i = 0; i < palette.count; ++i) {
                EXPECT_EQ(palette[i].popularity, float(sums[i][4])) << i;
                if (sums[i][4] == 0.0) {
                    EXPECT_EQ(palette[i].colour.a, before[i].colour.a) << i;
                    EXPECT_EQ(palette[i].colour.r, before[i].colour.r) << i;
                    continue;
                }
                EXPECT_NEAR(palette[i].colour.a, sums[i][0] / sums[i][4], 1e-6) << i;
                EXPECT_NEAR(palette[i].colour.r, sums[i][1] / sums[i][4], 1e-6) << i;
                EXPECT_NEAR(palette[i].colour.g, sums[i][2] / sums[i][4], 1e-6) << i;
                EXPECT_NEAR(palette[i].colour.b, sums[i][3] / sums[i][4], 1e-6) << i;
            }
        }
    }
}

TEST(RemapTest, PlainIndicesDoNotDependOnTheThreadCount)
{
    // 3000 pixels stay on one thread, 3001 may split; a tall image splits into many row blocks.
    for (const auto& [width, height] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{60, 50}, {3001, 1}, {1, 3001}, {129, 211}}) {
        const RgbaImage input = RandomImage(width, height, width * 7 + height);
        Palette one = RandomPalette(64, 9);
        Palette many = testing::CopyEntries(one);
        IndexedImage outputOne = OutputFor(input);
        IndexedImage outputMany = OutputFor(input);
        float distanceOne = 0.0f, distanceMany = 0.0f;
        {
            const ThreadCountScope threads(1);
            distanceOne = RemapPlain(input, outputOne, one, 1.0f);
        }
        {
            const ThreadCountScope threads(4);
            distanceMany = RemapPlain(input, outputMany, many, 1.0f);
        }
        EXPECT_EQ(outputOne.pixels, outputMany.pixels) << width << " x " << height;
        EXPECT_NEAR(distanceOne, distanceMany, 1e-5);
        for (std::uint32_t i = 0; i < one.count; ++i) {
            EXPECT_EQ(one[i].popularity, many[i].popularity);
            EXPECT_NEAR(one[i].colour.r, many[i].colour.r, 1e-6);
        }
    }
}

TEST(RemapTest, TransparentPixelTakesTheTransparentEntryUncountedButAveraged)
{
    RgbaImage input = CreateRgbaImage(3, 1);
    const std::uint8_t pixels[12] = {255, 0, 0, 0, 255, 0, 0, 255, 250, 0, 0, 255};
    std::copy(std::begin(pixels), std::end(pixels), input.pixels.begin());
    Palette palette = CreatePalette(3);
    palette[0].colour = Straight(1.0f, 1.0f, 0.0f, 0.0f);
    palette[1].colour = FloatPixel{0.0f, 0.0f, 0.0f, 0.0f};
    palette[2].colour = Straight(1.0f, 0.0f, 0.0f, 1.0f); // chosen by nobody
    const FloatPixel unchosen = palette[2].colour;
    IndexedImage output = OutputFor(input);
    const float mean = RemapPlain(input, output, palette, 1.0f);

    EXPECT_EQ(output.pixels, (std::vector<std::uint8_t>{1, 0, 0}));
    // Only the two opaque pixels are measured: 0 and the distance of 250 from 255.
    const FloatPixel nearRed = ToFloatPixel(pixels + 8, InternalGamma);
    const float expected = ColourDifference(nearRed, Straight(1.0f, 1.0f, 0.0f, 0.0f)) / 2.0f;
    EXPECT_NEAR(mean, expected, 1e-7);
    EXPECT_EQ(palette[1].popularity, 1.0f);
    EXPECT_EQ(palette[1].colour.a, 0.0f);
    EXPECT_EQ(palette[0].popularity, 2.0f);
    EXPECT_EQ(palette[2].popularity, 0.0f);
    EXPECT_EQ(palette[2].colour.b, unchosen.b);
}

IndexedImage IndexRows(std::uint32_t width, const std::vector<std::uint8_t>& indices)
{
    IndexedImage image;
    image.width = width;
    image.height = static_cast<std::uint32_t>(indices.size() / width);
    image.pixels = indices;
    for (std::uint32_t y = 0; y < image.height; ++y)
        image.rows.push_back(image.pixels.data() + std::size_t{y} * width);
    return image;
}

TEST(RemapTest, DitherMapRefinementFollowsTheRuns)
{
    {
        const IndexedImage equal = IndexRows(4, {3, 3, 3, 3});
        std::vector<float> map(4, 1.0f);
        RefineDitherMap(equal, map.data());
        for (float v : map)
            EXPECT_FLOAT_EQ(v, 1.0f - 2.5f / 5.5f);
    }
    {
        const IndexedImage alternating = IndexRows(4, {1, 2, 1, 2});
        std::vector<float> map(4, 0.8f);
        RefineDitherMap(alternating, map.data());
        EXPECT_FLOAT_EQ(map[0], 0.8f * (1.0f - 2.5f / 3.5f));
        EXPECT_FLOAT_EQ(map[1], 0.8f * (1.0f - 2.5f / 3.5f));
        EXPECT_EQ(map[2], 0.0f);
        EXPECT_EQ(map[3], 0.0f);
    }
    {
        // Matching indices above and below lengthen a run: row 1's run of 5s over x = 0..2 has 5s
        // above at x = 0, 1 and below at x = 0, so n = 3 + 2.5 + 3; x = 3 closes it.
        const IndexedImage rows = IndexRows(5, {5, 5, 0, 0, 0, //
                                                5, 5, 5, 7, 7, //
                                                5, 0, 0, 0, 0});
        std::vector<float> map(15, 1.0f);
        RefineDitherMap(rows, map.data());
        const float f = 1.0f - 2.5f / 8.5f;
        for (int x = 0; x <= 3; ++x)
            EXPECT_FLOAT_EQ(map[5 + x], f) << x;
        EXPECT_EQ(map[9], 0.0f); // a run of one at the row's end
    }
    {
        const IndexedImage column = IndexRows(1, {1, 2, 3});
        std::vector<float> map(3, 0.7f);
        RefineDitherMap(column, map.data());
        EXPECT_EQ(map, std::vector<float>(3, 0.7f));
    }
    {
        // A megapixel of short runs: its rows are refined side by side, to the same levels.
        std::mt19937 random(21);
        std::vector<std::uint8_t> indices(1024 * 1024);
        for (std::uint8_t& index : indices)
            index = static_cast<std::uint8_t>(random() % 3);
        const IndexedImage image = IndexRows(1024, indices);
        std::vector<float> one(indices.size(), 0.9f), many(indices.size(), 0.9f);
        {
            const ThreadCountScope threads(1);
            RefineDitherMap(image, one.data());
        }
        {
            const ThreadCountScope threads(4);
            RefineDitherMap(image, many.data());
        }
        EXPECT_EQ(one, many);
    }
}

TEST(RemapTest, RandomSourceIsThePublishedMersenneTwister)
{
    SeedRandomSource(5489);
    std::uint32_t value = 0;
    for (int i = 0; i < 10000; ++i)
        value = NextRandom();
    EXPECT_EQ(value, 4123659995u);
}

TEST(RemapTest, DitheredRemapRepeatsExactlyAndReseedsEveryTime)
{
    const RgbaImage input = RandomImage(70, 40, 21, 30);
    const Palette palette = RandomPalette(32, 22);
    IndexedImage first = OutputFor(input);
    IndexedImage second = OutputFor(input);
    RemapDithered(input, first, palette, 1.0f, nullptr, false);
    for (int i = 0; i < 77; ++i)
        NextRandom();
    RemapDithered(input, second, palette, 1.0f, nullptr, false);
    EXPECT_EQ(first.pixels, second.pixels);
}

TEST(RemapTest, WithoutAMapEveryPixelDithersAtNineTenths)
{
    const RgbaImage input = RandomImage(50, 30, 31, 0);
    const Palette palette = RandomPalette(16, 32);
    IndexedImage withoutMap = OutputFor(input);
    IndexedImage withMap = OutputFor(input);
    std::vector<float> levels(std::size_t{input.width} * input.height, 0.9f);
    RemapDithered(input, withoutMap, palette, 1.0f, nullptr, false);
    RemapDithered(input, withMap, palette, 1.0f, levels.data(), false);
    EXPECT_EQ(withoutMap.pixels, withMap.pixels);
}

TEST(RemapTest, FlatAreaInAPaletteColourHasNoPattern)
{
    for (const bool sse2 : {false, true}) {
        const Sse2Scope scope(sse2);
        const RgbaImage input = FlatImage(40, 20, {200, 100, 50, 255});
        Palette palette = CreatePalette(3);
        palette[0].colour = Straight(1.0f, 0.0f, 0.0f, 0.0f);
        palette[1].colour = ToFloatPixel(input.pixels.data(), InternalGamma);
        palette[2].colour = Straight(1.0f, 1.0f, 1.0f, 1.0f);
        IndexedImage output = OutputFor(input);
        RemapDithered(input, output, palette, 1.0f, nullptr, false);
        EXPECT_EQ(output.pixels, std::vector<std::uint8_t>(800, 1));
    }
}

TEST(RemapTest, DiffusionMixesTwoEntriesToTheMeanColour)
{
    for (const bool sse2 : {false, true}) {
        const Sse2Scope scope(sse2);
        // Mid grey between black and white at internal gamma: about half the pixels each.
        const RgbaImage input = FlatImage(64, 64, {128, 128, 128, 255});
        Palette palette = CreatePalette(2);
        palette[0].colour = Straight(1.0f, 0.0f, 0.0f, 0.0f);
        palette[1].colour = Straight(1.0f, 1.0f, 1.0f, 1.0f);
        IndexedImage output = OutputFor(input);
        RemapDithered(input, output, palette, 1.0f, nullptr, false);
        const auto white = std::count(output.pixels.begin(), output.pixels.end(), 1);
        EXPECT_GT(white, 4096 * 0.4);
        EXPECT_LT(white, 4096 * 0.6);
        // Error diffusion, not a threshold: neighbours differ somewhere in every row.
        for (std::uint32_t y = 0; y < 64; ++y)
            EXPECT_NE(std::count(output.rows[y], output.rows[y] + 64, 1), 0) << y;
    }
}

TEST(RemapTest, DitherMapKeepsThePlainIndexWhileItIsCloseEnough)
{
    // The query is opaque and above minOpacity, so the search pays 1/1024 for the translucent entry
    // and picks the opaque one; the plain index (the translucent entry) is within its keep distance.
    const RgbaImage input = FlatImage(8, 8, {128, 128, 128, 255});
    const FloatPixel grey = ToFloatPixel(input.pixels.data(), InternalGamma);
    Palette palette = CreatePalette(2);
    palette[0].colour = FloatPixel{0.995f, 0.995f * grey.r, 0.995f * grey.g, 0.995f * grey.b};
    palette[1].colour = Straight(1.0f, grey.r + 0.01f, grey.g + 0.01f, grey.b + 0.01f);
    ASSERT_LT(ColourDifference(palette[0].colour, grey),
              0.25f * ColourDifference(palette[0].colour, palette[1].colour));
    const std::vector<float> noDiffusion(64, 0.0f); // the key is the pixel itself

    IndexedImage kept = OutputFor(input);
    RemapDithered(input, kept, palette, 0.5f, noDiffusion.data(), true);
    EXPECT_EQ(kept.pixels, std::vector<std::uint8_t>(64, 0));

    IndexedImage searched = OutputFor(input);
    RemapDithered(input, searched, palette, 0.5f, noDiffusion.data(), false);
    EXPECT_EQ(searched.pixels, std::vector<std::uint8_t>(64, 1));
}

TEST(RemapTest, AlphaDrivenBelowZeroTakesTheTransparentEntry)
{
    // A half-opaque black pixel goes to opaque black and pushes a large negative alpha error to its
    // right, where a nearly transparent pixel then falls below alpha 0.
    RgbaImage input = CreateRgbaImage(2, 1);
    input.pixels = {0, 0, 0, 128, 0, 0, 0, 1};
    input.rows = {input.pixels.data()};
    Palette palette = CreatePalette(2);
    palette[0].colour = Straight(1.0f, 0.0f, 0.0f, 0.0f);
    palette[1].colour = FloatPixel{};
    IndexedImage output = OutputFor(input);
    RemapDithered(input, output, palette, 1.0f, nullptr, false);
    EXPECT_EQ(output.pixels, (std::vector<std::uint8_t>{0, 1}));
}

TEST(RemapTest, AFlatAreaBeyondThePaletteNeverSettlesOnAFarEntry)
{
    // A colour beyond every head's radius is answered by the last head, which lacks the entries
    // earlier heads claimed. Seeded opaque palettes are searched for such a colour whose answer is
    // far while another entry lies at less than half that difference.
    std::mt19937 random(7);
    int found = 0;
    for (std::uint32_t seed = 1; seed < 400 && found < 3; ++seed) {
        const Palette palette = RandomPalette(24, seed, 0);
        const NearestIndex index = BuildNearestIndex(palette);
        std::array<std::uint8_t, 4> rgba{};
        float answered = 0.0f;
        float nearest = 0.0f;
        bool far = false;
        for (int attempt = 0; attempt < 16 && !far; ++attempt) {
            rgba = {std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()), 255};
            const FloatPixel colour = ToFloatPixel(rgba.data(), InternalGamma);
            FindNearest(index, colour, 1.0f, &answered);
            FindNearestOfAll(palette, colour, 1.0f, &nearest);
            far = answered > 1.0f / 16.0f && nearest < 0.5f * answered;
        }
        if (!far)
            continue;
        ++found;
        SCOPED_TRACE(seed);
        // Dithered, the area's mean colour must come at least as near the source as the nearest
        // entry does; a patch of the far answer's entry would leave it about that far off.
        const RgbaImage input = FlatImage(48, 32, rgba);
        IndexedImage output = OutputFor(input);
        RemapDithered(input, output, palette, 1.0f, nullptr, false);
        double sum[4] = {};
        for (const std::uint8_t entry : output.pixels) {
            const FloatPixel& colour = palette[entry].colour;
            sum[0] += colour.a, sum[1] += colour.r, sum[2] += colour.g, sum[3] += colour.b;
        }
        const double n = double(output.pixels.size());
        const FloatPixel mean{float(sum[0] / n), float(sum[1] / n), float(sum[2] / n), float(sum[3] / n)};
        EXPECT_LE(ColourDifference(mean, ToFloatPixel(rgba.data(), InternalGamma)), nearest * 1.01f + 1e-4f);
    }
    EXPECT_EQ(found, 3); // the search must find its cases, or nothing was checked
}

TEST(RemapTest, ASourceBeyondThePaletteNeverTakesAnEntryFarFromIt)
{
    // A sky darker and bluer than its nearest entry: the error carried there pulls the diffused
    // colour so far that its own nearest entry is a brown, more than 64 levels further from the
    // source than the blue is. Those pixels keep the blue; the rest dither as they did.
    for (const bool sse2 : {false, true}) {
        const Sse2Scope scope(sse2);
        const std::array<std::uint8_t, 4> sky{34, 103, 154, 255}, blue{59, 124, 179, 255}, brown{75, 69, 61, 255};
        const RgbaImage input = FlatImage(40, 24, sky);
        // Fourteen light greys, that the source is nowhere near, make up the 16 entries the guard needs.
        Palette palette = CreatePalette(16);
        palette[0].colour = ToFloatPixel(blue.data(), InternalGamma);
        palette[1].colour = ToFloatPixel(brown.data(), InternalGamma);
        for (std::uint32_t i = 2; i < 16; ++i) {
            const float grey = 0.7f + 0.02f * float(i);
            palette[i].colour = Straight(1.0f, grey, grey, grey);
        }
        const FloatPixel source = ToFloatPixel(sky.data(), InternalGamma);
        ASSERT_GT(CompositeGap(source, palette[1].colour) - CompositeGap(source, palette[0].colour), 64.0f / 255.0f);

        IndexedImage before = OutputFor(input);
        IndexedImage expected = OutputFor(input);
        IndexedImage output = OutputFor(input);
        PlainDither(input, before, palette, 1.0f, nullptr, false, false);
        PlainDither(input, expected, palette, 1.0f, nullptr, false);
        RemapDithered(input, output, palette, 1.0f, nullptr, false);
        EXPECT_GT(std::count(before.pixels.begin(), before.pixels.end(), 1), 0); // the case arises
        EXPECT_EQ(output.pixels, expected.pixels);
        EXPECT_EQ(std::count(output.pixels.begin(), output.pixels.end(), 1), 0);
    }
}

TEST(RemapTest, DitheredIndicesStayInsideThePalette)
{
    for (const std::uint32_t count : {1u, 2u, 17u, 256u}) {
        const RgbaImage input = RandomImage(33, 29, count);
        Palette palette = RandomPalette(count, count + 1);
        IndexedImage output = OutputFor(input);
        RemapPlain(input, output, palette, 1.0f);
        std::vector<float> levels(std::size_t{33} * 29, 1.0f);
        RefineDitherMap(output, levels.data());
        RemapDithered(input, output, palette, 1.0f, levels.data(), true);
        for (std::uint8_t index : output.pixels)
            ASSERT_LT(index, count);
    }
}

TEST(RemapTest, DitheredRemapGivesThePlainLoopsIndices)
{
    // Random noise, a smooth image whose diffused colours wander slowly, and a flat one; with and
    // without a dither map and the keep test; both colour arithmetics.
    for (const bool sse2 : {false, true}) {
        const Sse2Scope scope(sse2);
        for (const std::uint32_t count : {2u, 16u, 64u, 256u}) {
            Palette palette = RandomPalette(count, count * 7 + 3);
            if (count >= 64)
                palette.subset = std::make_unique<Palette>(RandomPalette(count / 4, count));
            for (int kind = 0; kind < 3; ++kind) {
                const RgbaImage input = kind == 0   ? RandomImage(37, 23, count)
                                        : kind == 1 ? SmoothImage(90, 60, count)
                                                    : FlatImage(31, 9, {90, 160, 40, 200});
                IndexedImage plain = OutputFor(input);
                RemapPlain(input, plain, palette, 1.0f);
                std::vector<float> levels(std::size_t{input.width} * input.height, 1.0f);
                RefineDitherMap(plain, levels.data());
                for (const bool useMap : {false, true}) {
                    for (const float minOpacity : {1.0f, 0.5f}) {
                        IndexedImage expected = OutputFor(input);
                        IndexedImage output = OutputFor(input);
                        expected.pixels = plain.pixels;
                        output.pixels = plain.pixels;
                        const float* map = useMap ? levels.data() : nullptr;
                        PlainDither(input, expected, palette, minOpacity, map, useMap);
                        RemapDithered(input, output, palette, minOpacity, map, useMap);
                        ASSERT_EQ(output.pixels, expected.pixels) << sse2 << " " << count << " " << kind;
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace tessaline
