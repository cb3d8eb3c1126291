#include "engine/reduce_pipeline.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/progress_ui_interface.h"
#include "engine/refinement_loop.h"
#include "tests/engine/thread_count_scope.h"

namespace tessaline {
namespace {

class RecordingProgress : public ProgressUIInterface
{
public:
    void ReportProgress(int stage) override
    {
        stages.push_back(stage);
        if (stage == throwAt)
            throw std::bad_alloc();
        if (stage == cancelAt)
            cancel->store(true);
    }
    void ReportFinished(std::uint32_t, int) override {}

    std::vector<int> stages;
    int throwAt = -1;
    int cancelAt = -1;
    CancelFlag* cancel = nullptr;
};

const std::vector<int> AllStages = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// Smooth gradients with a little noise and a few sharp shapes, so the maps and the palette have work.
RgbaImage PhotoLikeImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed,
                         bool translucent = false)
{
    std::mt19937 random(seed);
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            const int noise = int(random() % 9) - 4;
            const bool inBox = (x / 8 + y / 8) % 5 == 0;
            p[0] = std::uint8_t(std::clamp(int(255 * x / std::max(1u, width - 1)) + noise, 0, 255));
            p[1] = std::uint8_t(std::clamp(int(255 * y / std::max(1u, height - 1)) + noise, 0, 255));
            p[2] = inBox ? 230 : 40;
            p[3] = translucent ? std::uint8_t((x * 37 + y * 11) % 256) : 255;
        }
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

// The job builder's values at the panel's defaults, with a smaller palette to keep tests quick.
ReduceSettings PanelSettings(std::uint32_t maxColours = 64)
{
    ReduceSettings settings;
    settings.maxColours = maxColours;
    settings.contrastMapLevel = 1;
    settings.useDitherMap = 1;
    settings.feedbackTrials = 8;
    return settings;
}

// The invariants every successful reduction keeps.
void ExpectWellFormed(const RgbaImage& input, const IndexedImage& output, const ReduceSettings& settings)
{
    ASSERT_EQ(output.width, input.width);
    ASSERT_EQ(output.height, input.height);
    EXPECT_EQ(output.gamma, double(InternalGamma));
    ASSERT_EQ(output.pixels.size(), std::size_t{input.width} * input.height);
    ASSERT_EQ(output.rows.size(), input.height);
    for (std::uint32_t y = 0; y < output.height; ++y)
        ASSERT_EQ(output.rows[y], output.pixels.data() + std::size_t{y} * output.width);
    EXPECT_GE(output.paletteSize, 1u);
    EXPECT_LE(output.paletteSize, std::min<std::uint32_t>(std::max(settings.maxColours, 1u), 256));
    EXPECT_LE(output.transparentCount, output.paletteSize);
    for (std::uint8_t index : output.pixels)
        ASSERT_LT(index, output.paletteSize);
    // Slots past the palette stay zero.
    for (std::uint32_t i = output.paletteSize; i < 256; ++i)
        ASSERT_EQ(output.paletteAlpha[i], 0) << i;
}

// True when every entry's alpha below 255 lies in the range the transparency chunk covers.
bool TranslucentEntriesAreLeading(const IndexedImage& output)
{
    for (std::uint32_t i = output.transparentCount; i < output.paletteSize; ++i) {
        if (output.paletteAlpha[i] != 255)
            return false;
    }
    return true;
}

TEST(ReducePipelineTest, ReportsEveryStageOnceInOrder)
{
    for (const std::uint8_t dither : {0, 1}) {
        RecordingProgress progress;
        ReduceSettings settings = PanelSettings();
        settings.dither = dither;
        settings.progress = &progress;
        RgbaImage input = PhotoLikeImage(48, 40, 1);
        IndexedImage output;
        EXPECT_EQ(ReducePipeline(settings, input, output), ReduceOk);
        EXPECT_EQ(progress.stages, AllStages);
        ExpectWellFormed(input, output, settings);
        EXPECT_EQ(output.transparentCount, 0u); // an opaque image needs no transparency
        EXPECT_TRUE(TranslucentEntriesAreLeading(output));
    }
}

TEST(ReducePipelineTest, CancelStopsAtTheNextCheckAndLeavesTheOutputEmpty)
{
    // An unset flag changes nothing: the same bytes as without one.
    const RgbaImage source = PhotoLikeImage(48, 40, 5, true);
    RgbaImage plainInput = source.Clone();
    IndexedImage plain;
    ASSERT_EQ(ReducePipeline(PanelSettings(), plainInput, plain), ReduceOk);
    {
        CancelFlag flag{false};
        ReduceSettings settings = PanelSettings();
        settings.cancel = &flag;
        RgbaImage input = source.Clone();
        IndexedImage output;
        ASSERT_EQ(ReducePipeline(settings, input, output), ReduceOk);
        EXPECT_EQ(output.pixels, plain.pixels);
        EXPECT_EQ(output.paletteRgb, plain.paletteRgb);
        EXPECT_EQ(output.paletteAlpha, plain.paletteAlpha);
    }
    // Set as each stage begins: the stage stops at its first check, the pipeline returns before
    // the next report but one, and nothing of the output remains. After stage 11 it is too late.
    for (const std::uint8_t dither : {0, 1}) {
        for (int stage = 2; stage <= 11; ++stage) {
            CancelFlag flag{false};
            RecordingProgress progress;
            progress.cancelAt = stage;
            progress.cancel = &flag;
            ReduceSettings settings = PanelSettings();
            settings.dither = dither;
            settings.progress = &progress;
            settings.cancel = &flag;
            RgbaImage input = source.Clone();
            IndexedImage output;
            const int code = ReducePipeline(settings, input, output);
            if (stage == 11) {
                EXPECT_EQ(code, ReduceOk);
                continue;
            }
            EXPECT_EQ(code, ReduceCancelled) << stage;
            EXPECT_TRUE(output.Empty()) << stage;
            EXPECT_EQ(output.width, 0u) << stage;
            ASSERT_FALSE(progress.stages.empty());
            EXPECT_LE(progress.stages.back(), stage + 2) << stage;
            EXPECT_LT(progress.stages.back(), 11) << stage;
        }
    }
}

TEST(ReducePipelineTest, QualityTooLowStopsAfterStageSixAndLeavesTheOutputAlone)
{
    RecordingProgress progress;
    ReduceSettings settings = PanelSettings();
    settings.maxError = 1e-12;
    settings.progress = &progress;
    RgbaImage input = PhotoLikeImage(40, 30, 2);
    IndexedImage output;
    output.paletteSize = 42; // a marker: nothing may be written
    EXPECT_EQ(ReducePipeline(settings, input, output), ReduceQualityTooLow);
    EXPECT_EQ(progress.stages, (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_TRUE(output.Empty());
    EXPECT_EQ(output.paletteSize, 42u);
    EXPECT_EQ(output.width, 0u);
}

TEST(ReducePipelineTest, NoPassesAndNoMedianCutErrorStillMeasuresWhenALimitIsSet)
{
    RgbaImage source = PhotoLikeImage(30, 30, 3);
    for (const int iterations : {0, -3}) {
        ReduceSettings settings = PanelSettings();
        settings.voronoiIterations = iterations;
        settings.feedbackTrials = 0;
        // With the limit at 1e20 the error is never measured, and -1 passes.
        RgbaImage input = source.Clone();
        IndexedImage output;
        EXPECT_EQ(ReducePipeline(settings, input, output), ReduceOk) << iterations;
        // With a limit below 1e20 one pass measures the error, which then fails the tiny limit.
        settings.maxError = 1e-12;
        input = source.Clone();
        IndexedImage rejected;
        EXPECT_EQ(ReducePipeline(settings, input, rejected), ReduceQualityTooLow) << iterations;
    }
}

TEST(ReducePipelineTest, RefinementPassCountFollowsTheIterationsAndTheLimits)
{
    const auto passes = [](const ReduceSettings& settings, double error, std::vector<double> errors) {
        std::size_t calls = 0;
        const double last = RunRefinementLoop(settings, error, [&] {
            const double e = calls < errors.size() ? errors[calls] : 0.5 + 0.01 * double(calls);
            ++calls;
            return e;
        });
        return std::make_pair(calls, last);
    };
    ReduceSettings settings;
    settings.convergenceDenominator = 1 << 22;
    settings.maxError = 1e20;

    settings.voronoiIterations = 7;
    EXPECT_EQ(passes(settings, -1.0, {}).first, 31u);
    settings.voronoiIterations = 1;
    EXPECT_EQ(passes(settings, -1.0, {}).first, 1u);
    settings.voronoiIterations = 2;
    EXPECT_EQ(passes(settings, -1.0, {}).first, 4u);

    for (const int none : {0, -3}) {
        settings.voronoiIterations = none;
        settings.maxError = 1e20;
        EXPECT_EQ(passes(settings, -1.0, {}), std::make_pair(std::size_t{0}, -1.0)) << none;
        EXPECT_EQ(passes(settings, 0.25, {}), std::make_pair(std::size_t{0}, 0.25)) << none;
        settings.maxError = 1e19;
        EXPECT_EQ(passes(settings, -1.0, {}).first, 1u) << none;
        EXPECT_EQ(passes(settings, 0.25, {}).first, 0u) << none; // median cut measured it already
    }

    // Convergence: the second pass changes the error by less than 1/denominator.
    settings.voronoiIterations = 7;
    settings.maxError = 1e20;
    EXPECT_EQ(passes(settings, -1.0, {0.5, 0.5 + 1e-7}).first, 2u);
    // The first pass converges only within 1/denominator of 1e20.
    settings.convergenceDenominator = 1;
    EXPECT_EQ(passes(settings, -1.0, {0.5, 0.6}).first, 2u);
    settings.convergenceDenominator = 1 << 22;

    // maxError 10: each pass at 16 earns one more, a pass at 31 ends the loop.
    settings.maxError = 10.0;
    settings.voronoiIterations = 1;
    EXPECT_EQ(passes(settings, -1.0, {16.0, 17.0, 29.0, 5.0}).first, 4u);
    EXPECT_EQ(passes(settings, -1.0, {16.0, 15.0, 5.0}).first, 2u); // 15 is not above 1.5 x 10
    settings.voronoiIterations = 7;
    const auto hopeless = passes(settings, -1.0, {20.0, 31.0, 1.0});
    EXPECT_EQ(hopeless, std::make_pair(std::size_t{2}, 31.0));
}

TEST(ReducePipelineTest, HopelessErrorGivesQualityTooLowWithoutStagesSevenToEleven)
{
    RecordingProgress progress;
    ReduceSettings settings = PanelSettings(2);
    settings.maxError = 1e-6;
    settings.progress = &progress;
    RgbaImage input = PhotoLikeImage(20, 20, 4);
    IndexedImage output;
    EXPECT_EQ(ReducePipeline(settings, input, output), ReduceQualityTooLow);
    EXPECT_EQ(progress.stages.back(), 6);
}

TEST(ReducePipelineTest, NarrowImagesGetNoMaps)
{
    // Building the maps or not must make no difference for an image 3 pixels wide or high.
    for (const auto& [width, height] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3, 40}, {40, 3}}) {
        const RgbaImage source = PhotoLikeImage(width, height, width + height);
        ReduceSettings withMaps = PanelSettings(8);
        ReduceSettings withoutMaps = PanelSettings(8);
        withoutMaps.contrastMapLevel = 8;
        RgbaImage a = source.Clone(), b = source.Clone();
        IndexedImage outA, outB;
        ASSERT_EQ(ReducePipeline(withMaps, a, outA), ReduceOk);
        ASSERT_EQ(ReducePipeline(withoutMaps, b, outB), ReduceOk);
        EXPECT_EQ(outA.pixels, outB.pixels);
        EXPECT_EQ(outA.paletteRgb, outB.paletteRgb);
    }
}

TEST(ReducePipelineTest, WithoutContrastMapsEveryPixelWeighsAlikeAndTheResultChanges)
{
    const RgbaImage source = PhotoLikeImage(64, 48, 5);
    for (const std::uint8_t dither : {0, 1}) {
        ReduceSettings withMaps = PanelSettings(16);
        ReduceSettings withoutMaps = PanelSettings(16);
        withMaps.dither = withoutMaps.dither = dither;
        withoutMaps.contrastMapLevel = ContrastMapsOff;
        RgbaImage a = source.Clone(), b = source.Clone();
        IndexedImage outA, outB;
        ASSERT_EQ(ReducePipeline(withMaps, a, outA), ReduceOk);
        ASSERT_EQ(ReducePipeline(withoutMaps, b, outB), ReduceOk);
        ExpectWellFormed(b, outB, withoutMaps);
        EXPECT_NE(outA.pixels, outB.pixels) << int(dither);
    }
}

TEST(ReducePipelineTest, PerceptualMetricGivesItsOwnResultOnAnyThreadCount)
{
    const RgbaImage source = PhotoLikeImage(120, 90, 9, true);
    ReduceSettings settings = PanelSettings(48);
    settings.channelScales = PerceptualChannels;
    std::vector<IndexedImage> results;
    for (const int threads : {1, 2, 3}) {
        const testing::ThreadCountScope scope(threads);
        RgbaImage input = source.Clone();
        ASSERT_EQ(ReducePipeline(settings, input, results.emplace_back()), ReduceOk) << threads;
        ExpectWellFormed(input, results.back(), settings);
        EXPECT_TRUE(TranslucentEntriesAreLeading(results.back()));
    }
    for (std::size_t i = 1; i < results.size(); ++i) {
        EXPECT_EQ(results[i].pixels, results[0].pixels) << i;
        EXPECT_EQ(results[i].paletteRgb, results[0].paletteRgb) << i;
        EXPECT_EQ(results[i].paletteAlpha, results[0].paletteAlpha) << i;
    }
    RgbaImage input = source.Clone();
    IndexedImage even;
    ASSERT_EQ(ReducePipeline(PanelSettings(48), input, even), ReduceOk);
    EXPECT_NE(even.pixels, results[0].pixels);

    // A kept colour comes out exactly under the scaled metric too.
    settings.keptColours = {{10, 200, 30, 255}};
    input = source.Clone();
    IndexedImage kept;
    ASSERT_EQ(ReducePipeline(settings, input, kept), ReduceOk);
    bool found = false;
    for (std::uint32_t i = 0; i < kept.paletteSize; ++i)
        found = found || (kept.paletteRgb[3 * i] == 10 && kept.paletteRgb[3 * i + 1] == 200 &&
                          kept.paletteRgb[3 * i + 2] == 30 && (i >= kept.transparentCount || kept.paletteAlpha[i] == 255));
    EXPECT_TRUE(found);
}

TEST(ReducePipelineTest, WithoutDitherFlatAreasStayFlat)
{
    // Three flat bands but only two entries: the plain remap maps each band to one entry; error
    // diffusion mixes the middle band.
    RgbaImage source = CreateRgbaImage(30, 30);
    for (std::uint32_t y = 0; y < 30; ++y) {
        for (std::uint32_t x = 0; x < 30; ++x) {
            const std::uint8_t v = x < 10 ? 0 : x < 20 ? 120 : 255;
            std::uint8_t* p = source.rows[y] + 4 * x;
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    }
    const auto bandIndices = [](const IndexedImage& output, std::uint32_t band) {
        std::vector<std::uint8_t> seen;
        for (std::uint32_t y = 0; y < 30; ++y)
            for (std::uint32_t x = band * 10; x < band * 10 + 10; ++x)
                if (std::find(seen.begin(), seen.end(), output.rows[y][x]) == seen.end()) {
                    seen.push_back(output.rows[y][x]);
                }
        return seen.size();
    };
    ReduceSettings settings = PanelSettings(2);
    settings.dither = 0;
    RgbaImage input = source.Clone();
    IndexedImage plain;
    ASSERT_EQ(ReducePipeline(settings, input, plain), ReduceOk);
    for (std::uint32_t band = 0; band < 3; ++band)
        EXPECT_EQ(bandIndices(plain, band), 1u) << band;

    settings.dither = 1;
    settings.useDitherMap = 0;
    input = source.Clone();
    IndexedImage dithered;
    ASSERT_EQ(ReducePipeline(settings, input, dithered), ReduceOk);
    EXPECT_EQ(bandIndices(dithered, 1), 2u);
}

TEST(ReducePipelineTest, FullyTransparentImageComesOutFullyTransparent)
{
    for (const std::uint8_t lastIndexTransparent : {0, 1}) {
        for (const std::uint8_t dither : {0, 1}) {
            ReduceSettings settings = PanelSettings();
            settings.dither = dither;
            settings.lastIndexTransparent = lastIndexTransparent;
            RgbaImage input = FlatImage(17, 9, {90, 200, 10, 0});
            IndexedImage output;
            ASSERT_EQ(ReducePipeline(settings, input, output), ReduceOk);
            ExpectWellFormed(input, output, settings);
            for (std::uint8_t index : output.pixels) {
                ASSERT_LT(index, output.transparentCount);
                ASSERT_EQ(output.paletteAlpha[index], 0);
            }
        }
    }
}

TEST(ReducePipelineTest, TinyAndSimpleImagesReduce)
{
    struct Case
    {
        RgbaImage image;
        std::uint32_t maxColours;
    };
    std::vector<Case> cases;
    cases.push_back({FlatImage(1, 1, {10, 20, 30, 255}), 256});
    cases.push_back({FlatImage(1, 1, {10, 20, 30, 100}), 2});
    cases.push_back({FlatImage(64, 64, {250, 128, 3, 255}), 256});
    cases.push_back({PhotoLikeImage(5, 5, 9), 256}); // fewer colours than entries wanted
    cases.push_back({PhotoLikeImage(2, 7, 10, true), 256});
    for (Case& c : cases) {
        for (const std::uint8_t dither : {0, 1}) {
            ReduceSettings settings = PanelSettings(c.maxColours);
            settings.dither = dither;
            RgbaImage input = c.image.Clone();
            IndexedImage output;
            ASSERT_EQ(ReducePipeline(settings, input, output), ReduceOk);
            ExpectWellFormed(input, output, settings);
        }
    }
    // One opaque colour comes back exactly.
    RgbaImage one = FlatImage(64, 64, {250, 128, 3, 255});
    IndexedImage output;
    ASSERT_EQ(ReducePipeline(PanelSettings(), one, output), ReduceOk);
    for (std::uint8_t index : output.pixels) {
        ASSERT_EQ(output.paletteRgb[3 * index], 250);
        ASSERT_EQ(output.paletteRgb[3 * index + 1], 128);
        ASSERT_EQ(output.paletteRgb[3 * index + 2], 3);
        ASSERT_EQ(output.paletteAlpha[index], 255);
    }
}

TEST(ReducePipelineTest, OutOfRangePaletteSizesAreClampedToWhatTheTablesHold)
{
    for (const std::uint32_t maxColours : {0u, 1u, 257u, 100000u}) {
        ReduceSettings settings = PanelSettings(maxColours);
        settings.feedbackTrials = 2;
        RgbaImage input = PhotoLikeImage(80, 60, 12);
        IndexedImage output;
        ASSERT_EQ(ReducePipeline(settings, input, output), ReduceOk) << maxColours;
        ExpectWellFormed(input, output, settings);
    }
}

TEST(ReducePipelineTest, EmptyImageIsRefusedWithoutTouchingTheOutput)
{
    RecordingProgress progress;
    ReduceSettings settings = PanelSettings();
    settings.progress = &progress;
    RgbaImage input;
    IndexedImage output;
    EXPECT_EQ(ReducePipeline(settings, input, output), ReduceQualityTooLow);
    EXPECT_TRUE(progress.stages.empty());
    EXPECT_TRUE(output.Empty());
}

TEST(ReducePipelineTest, RandomImagesKeepTheInvariantsAndRepeatExactly)
{
    std::mt19937 random(2024);
    for (int trial = 0; trial < 6; ++trial) {
        const std::uint32_t width = 1 + random() % 90;
        const std::uint32_t height = 1 + random() % 70;
        RgbaImage source = CreateRgbaImage(width, height);
        const int levels = 2 + int(random() % 40); // few or many distinct colours
        for (std::size_t i = 0; i < source.pixels.size(); ++i)
            source.pixels[i] = std::uint8_t((random() % levels) * 255 / (levels - 1));
        ReduceSettings settings = PanelSettings(2 + random() % 255);
        settings.dither = trial % 3 != 0;
        settings.useDitherMap = trial % 2;
        settings.lastIndexTransparent = trial % 4 == 1;
        settings.minOpacity = trial % 2 ? 1.0f : 0.5f;
        settings.fastHistogram = trial % 5 == 2;
        RgbaImage first = source.Clone(), second = source.Clone();
        IndexedImage a, b;
        ASSERT_EQ(ReducePipeline(settings, first, a), ReduceOk) << trial;
        ASSERT_EQ(ReducePipeline(settings, second, b), ReduceOk) << trial;
        ExpectWellFormed(first, a, settings);
        EXPECT_EQ(a.pixels, b.pixels) << trial;
        EXPECT_EQ(a.paletteRgb, b.paletteRgb) << trial;
        EXPECT_EQ(a.paletteAlpha, b.paletteAlpha) << trial;
        EXPECT_EQ(a.transparentCount, b.transparentCount) << trial;
    }
}

TEST(ReducePipelineTest, AStageFailingAfterTheOutputExistsLeavesItEmpty)
{
    // The receiver throws where a stage would run out of memory; the exception passes through and
    // everything allocated so far, the output buffers included, is released.
    for (const int stage : {4, 7, 8, 9, 10, 11}) {
        RecordingProgress progress;
        progress.throwAt = stage;
        ReduceSettings settings = PanelSettings();
        settings.progress = &progress;
        RgbaImage input = PhotoLikeImage(40, 40, 5);
        IndexedImage output;
        EXPECT_THROW(ReducePipeline(settings, input, output), std::bad_alloc) << stage;
        EXPECT_TRUE(output.Empty()) << stage;
        EXPECT_EQ(output.paletteSize, 0u) << stage;
    }
}

} // namespace
} // namespace tessaline

namespace tessaline {
namespace {

TEST(ReducePipelineTest, OnePreparationFinishedAtSeveralCountsGivesThePlainResults)
{
    // Translucent, with an opacity threshold whose alpha raise changes the pixels in place.
    const RgbaImage source = PhotoLikeImage(40, 36, 9, true);
    for (const ChannelScales& scales : {EvenChannels, PerceptualChannels}) {
        ReduceSettings settings = PanelSettings();
        settings.minOpacity = 200.0f / 256.0f;
        settings.channelScales = scales;
        RgbaImage input = source.Clone();
        PreparedReduction prepared;
        ASSERT_EQ(PrepareReduction(settings, input, prepared), ReduceOk);
        for (const std::uint32_t colours : {5u, 64u, 5u}) {
            settings.maxColours = colours;
            RgbaImage plainInput = source.Clone();
            IndexedImage plain;
            ASSERT_EQ(ReducePipeline(settings, plainInput, plain), ReduceOk);
            PreparedReduction copy = prepared.Copy();
            IndexedImage finished;
            ASSERT_EQ(FinishReduction(settings, copy, input, finished), ReduceOk) << colours;
            EXPECT_EQ(finished.pixels, plain.pixels) << colours;
            EXPECT_EQ(finished.paletteSize, plain.paletteSize) << colours;
            EXPECT_EQ(finished.transparentCount, plain.transparentCount) << colours;
            EXPECT_EQ(finished.paletteRgb, plain.paletteRgb) << colours;
            EXPECT_EQ(finished.paletteAlpha, plain.paletteAlpha) << colours;
        }
    }
    ReduceSettings settings = PanelSettings();
    RgbaImage input = source.Clone();
    PreparedReduction prepared;
    ASSERT_EQ(PrepareReduction(settings, input, prepared), ReduceOk);
    // A preparation of another image's size is refused, not read out of bounds.
    RgbaImage other = PhotoLikeImage(8, 8, 1);
    PreparedReduction copy = prepared.Copy();
    IndexedImage output;
    EXPECT_EQ(FinishReduction(settings, copy, other, output), ReduceQualityTooLow);
    EXPECT_TRUE(output.Empty());
}

} // namespace
} // namespace tessaline
