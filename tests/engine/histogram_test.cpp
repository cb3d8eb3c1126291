#include "engine/histogram.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/parallel.h"

namespace tessaline {
namespace {

using detail::HistogramBucketCount;

// Images from a list of 32-bit words (R lowest byte), `width` per row.
RgbaImage ImageFromWords(const std::vector<std::uint32_t>& words, std::uint32_t width)
{
    const std::uint32_t height = std::uint32_t(words.size() / width);
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int c = 0; c < 4; ++c)
            image.pixels[4 * i + c] = std::uint8_t(words[i] >> (8 * c));
    return image;
}

std::uint32_t Word(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a)
{
    return r | (std::uint32_t{g} << 8) | (std::uint32_t{b} << 16) | (std::uint32_t{a} << 24);
}

FloatPixel ColourOfKey(std::uint32_t key, float gamma)
{
    const std::uint8_t rgba[4] = {std::uint8_t(key), std::uint8_t(key >> 8), std::uint8_t(key >> 16),
                                  std::uint8_t(key >> 24)};
    return ToFloatPixel(rgba, gamma);
}

bool SameColour(const FloatPixel& x, const FloatPixel& y)
{
    return x.a == y.a && x.r == y.r && x.g == y.g && x.b == y.b;
}

// Per channel, written out plainly: clear the low bits, refill them from the top bits.
std::uint32_t ReferenceKey(std::uint32_t word, unsigned bits)
{
    if ((word >> 24) == 0)
        return 0;
    std::uint32_t key = 0;
    for (int c = 0; c < 4; ++c) {
        const unsigned v = (word >> (8 * c)) & 255u;
        const unsigned kept = v & (0xFFu << bits) & 0xFFu;
        const unsigned refill = bits ? (v >> (8 - bits)) : 0u;
        key |= (kept | refill) << (8 * c);
    }
    return key;
}

// The expected histogram computed the slow way: keys per bucket in arrival order, weights summed
// per key in pixel order.
struct ExpectedItem
{
    std::uint32_t key;
    float weight;
};

std::vector<ExpectedItem> ReferenceItems(const std::vector<std::uint32_t>& words, unsigned bits,
                                         const float* map)
{
    std::vector<std::vector<std::uint32_t>> buckets(HistogramBucketCount);
    std::map<std::uint32_t, float> weights;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::uint32_t key = ReferenceKey(words[i], bits);
        const float w = map ? map[i] + 0.5f : 1.0f;
        auto found = weights.find(key);
        if (found == weights.end()) {
            weights.emplace(key, w);
            buckets[key % HistogramBucketCount].push_back(key);
        } else {
            found->second += w;
        }
    }
    std::vector<ExpectedItem> items;
    for (const auto& bucket : buckets)
        for (std::uint32_t key : bucket)
            items.push_back({key, weights[key]});
    return items;
}

void ExpectItems(const Histogram& histogram, const std::vector<ExpectedItem>& expected, float gamma)
{
    ASSERT_EQ(histogram.size, expected.size());
    double total = 0.0;
    for (std::uint32_t i = 0; i < histogram.size; ++i) {
        const HistogramItem& item = histogram.items[i];
        ASSERT_TRUE(SameColour(item.colour, ColourOfKey(expected[i].key, gamma)))
            << "item " << i << " key " << std::hex << expected[i].key;
        ASSERT_EQ(item.perceptualWeight, expected[i].weight) << "item " << i;
        ASSERT_EQ(item.adjustedWeight, item.perceptualWeight);
        ASSERT_EQ(item.colourWeight, 0.0f);
        ASSERT_EQ(item.sortValue, 0u);
        total += item.perceptualWeight;
    }
    EXPECT_EQ(histogram.totalPerceptualWeight, total);
}

ReduceSettings Settings(std::uint32_t maxEntries, bool fast = false)
{
    ReduceSettings settings;
    settings.maxHistogramEntries = maxEntries;
    settings.fastHistogram = fast ? 1 : 0;
    return settings;
}

TEST(HistogramTest, KeyRefillsIgnoredBitsFromTopBits)
{
    std::mt19937 rng(3);
    for (unsigned bits = 0; bits <= detail::MaxIgnoredBits; ++bits)
        for (int i = 0; i < 20000; ++i) {
            const std::uint32_t word = rng();
            ASSERT_EQ(detail::HistogramKey(word, bits), ReferenceKey(word, bits)) << bits << " " << word;
        }
    EXPECT_EQ(detail::HistogramKey(Word(254, 1, 0, 255), 1), Word(255, 0, 0, 255));
    EXPECT_EQ(detail::HistogramKey(Word(0xA5, 0xA5, 0xA5, 0xA5), 2), Word(0xA6, 0xA6, 0xA6, 0xA6));
    EXPECT_EQ(detail::HistogramKey(Word(255, 0, 255, 0), 0), 0u); // transparent is one colour
    EXPECT_EQ(detail::HistogramKey(Word(1, 2, 3, 4), 0), Word(1, 2, 3, 4));
}

TEST(HistogramTest, FullyTransparentPixelsAreOneColour)
{
    std::vector<std::uint32_t> words;
    std::mt19937 rng(9);
    for (int i = 0; i < 15; ++i)
        words.push_back(rng() & 0x00FFFFFFu);
    const RgbaImage image = ImageFromWords(words, 5);
    const Histogram histogram = BuildHistogram(Settings(131072), image, nullptr);
    ASSERT_EQ(histogram.size, 1u);
    EXPECT_TRUE(SameColour(histogram.items[0].colour, FloatPixel{}));
    EXPECT_EQ(histogram.items[0].perceptualWeight, 15.0f);
    EXPECT_EQ(histogram.totalPerceptualWeight, 15.0);
}

TEST(HistogramTest, TinyAndUniformImages)
{
    RgbaImage one = ImageFromWords({Word(10, 20, 30, 40)}, 1);
    one.gamma = 1.0;
    Histogram histogram = BuildHistogram(Settings(131072), one, nullptr);
    ASSERT_EQ(histogram.size, 1u);
    const std::uint8_t bytes[4] = {10, 20, 30, 40};
    EXPECT_TRUE(SameColour(histogram.items[0].colour, ToFloatPixel(bytes, 1.0f)));

    const RgbaImage flat = ImageFromWords(std::vector<std::uint32_t>(64 * 3, Word(1, 2, 3, 255)), 64);
    histogram = BuildHistogram(Settings(0), flat, nullptr);
    ASSERT_EQ(histogram.size, 1u);
    EXPECT_EQ(histogram.items[0].perceptualWeight, 192.0f);

    ReleaseHistogram(histogram);
    EXPECT_EQ(histogram.size, 0u);
    EXPECT_EQ(histogram.items, nullptr);
    EXPECT_EQ(histogram.totalPerceptualWeight, 0.0);
}

TEST(HistogramTest, WeightsComeFromTheContrastMap)
{
    const std::vector<std::uint32_t> words = {Word(1, 0, 0, 255), Word(2, 0, 0, 255), Word(3, 0, 0, 255),
                                              Word(1, 0, 0, 255), Word(0, 0, 9, 0),   Word(5, 5, 5, 0)};
    const RgbaImage image = ImageFromWords(words, 3);
    const float map[6] = {0.0f, 1.0f, 0.25f, 2.0f, 0.5f, 0.0f};
    const Histogram histogram = BuildHistogram(Settings(131072), image, map);
    std::map<std::uint32_t, float> byRed;
    for (std::uint32_t i = 0; i < histogram.size; ++i) {
        const auto rgba = ToRgba(histogram.items[i].colour, InternalGamma);
        byRed[rgba[0] | (std::uint32_t{rgba[3]} << 8)] = histogram.items[i].perceptualWeight;
    }
    EXPECT_EQ(byRed[1 | (255u << 8)], 0.5f + 2.5f);
    EXPECT_EQ(byRed[2 | (255u << 8)], 1.5f);
    EXPECT_EQ(byRed[3 | (255u << 8)], 0.75f);
    EXPECT_EQ(byRed[0], 1.0f + 0.5f); // both transparent pixels
    EXPECT_EQ(histogram.totalPerceptualWeight, 0.5 + 1.5 + 0.75 + 2.5 + 1.0 + 0.5);
}

TEST(HistogramTest, TotalWeightIsPixelCountWithoutMap)
{
    std::vector<std::uint32_t> words;
    std::mt19937 rng(11);
    for (int i = 0; i < 37 * 23; ++i)
        words.push_back(rng() % 7 == 0 ? rng() : Word(std::uint8_t(rng() % 4), 0, 0, 255));
    const Histogram histogram = BuildHistogram(Settings(131072), ImageFromWords(words, 37), nullptr);
    EXPECT_EQ(histogram.totalPerceptualWeight, 37.0 * 23.0);
}

TEST(HistogramTest, FastHistogramIgnoresOneBitFromTheStart)
{
    const RgbaImage image = ImageFromWords({Word(254, 0, 0, 255), Word(255, 1, 0, 255)}, 2);
    const Histogram fast = BuildHistogram(Settings(131072, true), image, nullptr);
    ASSERT_EQ(fast.size, 1u);
    EXPECT_TRUE(SameColour(fast.items[0].colour, ColourOfKey(Word(255, 0, 0, 255), InternalGamma)));
    EXPECT_EQ(fast.items[0].perceptualWeight, 2.0f);
    EXPECT_EQ(BuildHistogram(Settings(131072, false), image, nullptr).size, 2u);
}

TEST(HistogramTest, FewColoursStayExact)
{
    std::vector<std::uint32_t> words;
    for (std::uint32_t i = 0; i < 200; ++i)
        words.push_back(Word(std::uint8_t(i), std::uint8_t(i * 3), std::uint8_t(255 - i), 255));
    for (std::uint32_t i = 0; i < 200; ++i) // every colour twice
        words.push_back(words[i]);
    const Histogram histogram = BuildHistogram(Settings(131072), ImageFromWords(words, 40), nullptr);
    ExpectItems(histogram, ReferenceItems(words, 0, nullptr), InternalGamma);
}

// Keys that all land in bucket `bucket`, with alpha 0x80.
std::uint32_t CollidingWord(std::uint32_t bucket, std::uint32_t j)
{
    const std::uint32_t base = 0x80000000u;
    const std::uint32_t first =
        base + (bucket + HistogramBucketCount - base % HistogramBucketCount) % HistogramBucketCount;
    return first + j * HistogramBucketCount;
}

TEST(HistogramTest, ItemsFollowBucketThenArrivalOrder)
{
    // Hundreds of buckets outgrow their first overflow array (filling the retired stack past its
    // limit), a few grow several times, and later buckets get recycled arrays with stale contents.
    std::vector<std::uint32_t> words;
    for (std::uint32_t b = 0; b < 700; ++b)
        for (std::uint32_t j = 0; j < 12; ++j)
            words.push_back(CollidingWord(b * 7 % HistogramBucketCount, j));
    for (std::uint32_t j = 0; j < 300; ++j)
        words.push_back(CollidingWord(9000, j));
    for (std::uint32_t b = 0; b < 400; ++b)
        for (std::uint32_t j = 0; j < 6; ++j)
            words.push_back(CollidingWord(12000 + b, j));
    std::mt19937 rng(21);
    for (int i = 0; i < 30000; ++i)
        words.push_back(rng() | 0x01000000u);
    // Repeat a shuffled copy so that weights accumulate out of arrival order too.
    std::vector<std::uint32_t> again = words;
    std::shuffle(again.begin(), again.end(), rng);
    words.insert(words.end(), again.begin(), again.end());
    while (words.size() % 100)
        words.push_back(Word(0, 0, 0, 0));

    std::vector<float> map(words.size());
    std::uniform_real_distribution<float> value(0.0f, 1.5f);
    for (float& v : map)
        v = value(rng);

    RgbaImage image = ImageFromWords(words, 100);
    image.gamma = 1.0 / 2.2;
    const std::vector<ExpectedItem> expected = ReferenceItems(words, 0, map.data());
    // The overflow search has a vector and a scalar form; both must find the same slots.
    const bool saved = ProcessorHasSse2;
    for (bool sse2 : {false, true}) {
        ProcessorHasSse2 = sse2;
        const Histogram histogram = BuildHistogram(Settings(1u << 24), image, map.data());
        ExpectItems(histogram, expected, float(image.gamma));
    }
    ProcessorHasSse2 = saved;
}

TEST(HistogramTest, CountStopsOnlyWhereAnOverflowArrayWouldGrow)
{
    // 100 keys in 100 different buckets fit in place: no test, so the count may pass the maximum.
    std::vector<std::uint32_t> spread;
    for (std::uint32_t i = 0; i < 100; ++i)
        spread.push_back(CollidingWord(i, 0));
    const RgbaImage spreadImage = ImageFromWords(spread, 10);
    auto counted = detail::CountColours(spreadImage.rows.data(), 10, 10, 10, 0, nullptr);
    ASSERT_TRUE(counted);
    EXPECT_EQ(counted->colourCount, 100u);

    // A third key in one bucket needs an overflow array, and that is where the limit applies.
    const RgbaImage three =
        ImageFromWords({CollidingWord(5, 0), CollidingWord(5, 1), CollidingWord(5, 2)}, 3);
    EXPECT_FALSE(detail::CountColours(three.rows.data(), 3, 1, 2, 0, nullptr));
    counted = detail::CountColours(three.rows.data(), 3, 1, 3, 0, nullptr);
    ASSERT_TRUE(counted);
    const Histogram histogram =
        detail::TableToHistogram(*counted->table, counted->colourCount, InternalGamma);
    ASSERT_EQ(histogram.size, 3u);
    for (std::uint32_t j = 0; j < 3; ++j)
        EXPECT_TRUE(SameColour(histogram.items[j].colour, ColourOfKey(CollidingWord(5, j), InternalGamma)));
}

TEST(HistogramTest, CoarseningEndsByFourIgnoredBits)
{
    // 32 levels per channel and pixel: over a million keys even at 3 ignored bits.
    std::vector<std::uint32_t> words;
    words.reserve(1u << 20);
    for (std::uint32_t i = 0; i < (1u << 20); ++i) {
        const auto level = [i](int c) { return std::uint8_t(((i >> (5 * c)) & 31u) * 8u + 7u); };
        words.push_back(Word(level(0), level(1), level(2), level(3)));
    }
    const RgbaImage image = ImageFromWords(words, 1024);
    const Histogram histogram = BuildHistogram(Settings(65536), image, nullptr);
    ExpectItems(histogram, ReferenceItems(words, 4, nullptr), InternalGamma);
    EXPECT_EQ(histogram.size, 65536u);
    EXPECT_EQ(histogram.totalPerceptualWeight, double(1u << 20));

    // Below 65536 even the 4-bit table outgrows the limit; it is accepted as the final attempt.
    ASSERT_FALSE(detail::CountColours(image.rows.data(), image.width, image.height, 1000, 4, nullptr));
    const Histogram small = BuildHistogram(Settings(1000), image, nullptr);
    EXPECT_EQ(small.size, 65536u);
    EXPECT_EQ(small.totalPerceptualWeight, double(1u << 20));
}

// Whether an attempt succeeds, from per-bucket key counts: a key that needs a new or larger
// overflow array (the 3rd, 11th, 43rd, ... of its bucket) fails once the running count passes max.
bool ReferenceFits(const std::vector<std::uint32_t>& words, unsigned bits, std::uint32_t max)
{
    std::vector<std::uint32_t> inBucket(HistogramBucketCount), capacity(HistogramBucketCount);
    std::set<std::uint32_t> seen;
    for (std::uint32_t word : words) {
        const std::uint32_t key = ReferenceKey(word, bits);
        if (!seen.insert(key).second)
            continue;
        const std::uint32_t b = key % HistogramBucketCount;
        if (inBucket[b] >= 2 && inBucket[b] - 2 == capacity[b]) {
            if (seen.size() > max)
                return false;
            capacity[b] = capacity[b] == 0 ? 8 : 2 * capacity[b] + 16;
        }
        ++inBucket[b];
    }
    return true;
}

TEST(HistogramTest, RetriesKeepTheLimit)
{
    // 65536 colours at 0 ignored bits, 16384 at one, 4096 at two, ...
    std::vector<std::uint32_t> words;
    for (std::uint32_t g = 0; g < 256; ++g)
        for (std::uint32_t r = 0; r < 256; ++r)
            words.push_back(Word(std::uint8_t(r), std::uint8_t(g), 0, 255));
    const RgbaImage image = ImageFromWords(words, 256);
    std::set<unsigned> bitsSeen;
    for (std::uint32_t max : {70000u, 20000u, 9000u, 3000u, 500u, 100u}) {
        for (bool fast : {false, true}) {
            unsigned bits = fast ? 1 : 0;
            while (bits < detail::MaxIgnoredBits && !ReferenceFits(words, bits, max))
                ++bits;
            bitsSeen.insert(bits);
            const Histogram histogram = BuildHistogram(Settings(max, fast), image, nullptr);
            ExpectItems(histogram, ReferenceItems(words, bits, nullptr), InternalGamma);
        }
    }
    EXPECT_GE(bitsSeen.size(), 2u); // the limits above really make some attempts fail
}

TEST(HistogramTest, CountOnAnyThreadCountIsTheOneThreadCount)
{
    // A picture big enough to be counted in parts, with new colours arriving all the way down.
    const std::uint32_t width = 1024, height = std::uint32_t(ParallelImagePixels / width) + 64;
    std::mt19937 rng(77);
    std::vector<std::uint32_t> words(std::size_t{width} * height);
    for (std::uint32_t& word : words)
        word = (rng() % 400000u) * 2654435761u | 0xFF000000u;
    for (std::size_t i = 0; i < words.size(); i += 97)
        words[i] = 0; // transparent pixels all share the key 0
    const RgbaImage image = ImageFromWords(words, width);
    std::vector<float> map(words.size());
    for (float& value : map)
        value = float(rng() % 1000) / 300.0f;

    // The running count at the last key that needed a new or larger overflow array: a count fails
    // exactly when its maximum lies below it.
    std::vector<std::uint32_t> inBucket(HistogramBucketCount), capacity(HistogramBucketCount);
    std::set<std::uint32_t> seen;
    std::uint32_t lastGrowth = 0;
    for (std::uint32_t word : words) {
        const std::uint32_t key = ReferenceKey(word, 0);
        if (!seen.insert(key).second)
            continue;
        const std::uint32_t b = key % HistogramBucketCount;
        if (inBucket[b] >= 2 && inBucket[b] - 2 == capacity[b]) {
            lastGrowth = std::uint32_t(seen.size());
            capacity[b] = capacity[b] == 0 ? 8 : 2 * capacity[b] + 16;
        }
        ++inBucket[b];
    }
    ASSERT_GT(lastGrowth, 100000u);

    const int savedThreads = MaxThreads();
    for (std::uint32_t max : {20000u, lastGrowth - 1000, lastGrowth - 1, lastGrowth, 0xFFFFFFFFu}) {
        std::vector<HistogramItem> expected;
        double expectedTotal = 0.0;
        for (int threads : {1, 2, 3}) {
            SetMaxThreads(threads);
            const auto counted = detail::CountColours(image.rows.data(), width, height, max, 0, map.data());
            ASSERT_EQ(counted.has_value(), max >= lastGrowth) << max << ", " << threads << " threads";
            if (!counted)
                continue;
            const Histogram histogram = detail::TableToHistogram(*counted->table, counted->colourCount, 1.0f);
            ASSERT_EQ(histogram.size, seen.size());
            if (threads == 1) {
                expected.assign(histogram.items.get(), histogram.items.get() + histogram.size);
                expectedTotal = histogram.totalPerceptualWeight;
                continue;
            }
            // Same items in the same order, bit for bit: later stages sum them in this order.
            EXPECT_EQ(histogram.totalPerceptualWeight, expectedTotal);
            for (std::uint32_t i = 0; i < histogram.size; ++i) {
                ASSERT_TRUE(SameColour(histogram.items[i].colour, expected[i].colour)) << i;
                ASSERT_EQ(histogram.items[i].perceptualWeight, expected[i].perceptualWeight) << i;
            }
        }
    }
    SetMaxThreads(savedThreads);
}

TEST(HistogramTest, CreatedItemsAreZero)
{
    const Histogram histogram = CreateHistogram(3);
    ASSERT_EQ(histogram.size, 3u);
    EXPECT_EQ(histogram.totalPerceptualWeight, 0.0);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(SameColour(histogram.items[i].colour, FloatPixel{}));
        EXPECT_EQ(histogram.items[i].perceptualWeight, 0.0f);
        EXPECT_EQ(histogram.items[i].adjustedWeight, 0.0f);
    }
}

} // namespace
} // namespace tessaline
