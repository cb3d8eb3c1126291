// Colour trials and the colour search: trials side by side against one at a time and against the
// plain pipeline, and the search's answer checked against reductions of its own.

#include <gtest/gtest.h>

#include <random>

#include "engine/reduce_pipeline.h"
#include "engine/result_figures.h"
#include "imageio/png_writer.h"
#include "worker/colour_search.h"
#include "worker/colour_trials.h"

namespace tessaline {
namespace {

// Soft gradients with noise and a translucent band: every count gives its own result.
RgbaImage Picture()
{
    std::mt19937 random(11);
    RgbaImage image = CreateRgbaImage(72, 56);
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            p[0] = std::uint8_t(x * 3 + random() % 6);
            p[1] = std::uint8_t(y * 4 + random() % 6);
            p[2] = std::uint8_t((x * y) / 8);
            p[3] = y > 44 ? std::uint8_t(x * 3) : 255;
        }
    return image;
}

ReduceSettings Job()
{
    ReduceSettings job;
    job.feedbackTrials = 6;           // quick, and still a feedback loop
    job.minOpacity = 240.0f / 256.0f; // the alpha raise changes the working copy
    return job;
}

EncodeFunction Encoder()
{
    return [](const IndexedImage& image) { return EncodePng(image); };
}

// A plain reduction at `colours`, measured and encoded.
ResultFigures Plain(const RgbaImage& source, std::uint32_t colours,
                    std::vector<std::uint8_t>* bytes = nullptr)
{
    ReduceSettings job = Job();
    job.maxColours = colours;
    RgbaImage input = source.Clone();
    IndexedImage output;
    EXPECT_EQ(ReducePipeline(job, input, output), ReduceOk);
    ResultFigures figures = *MeasureResult(source, output);
    const std::vector<std::uint8_t> encoded = EncodePng(output);
    figures.pngBytes = encoded.size();
    if (bytes)
        *bytes = encoded;
    return figures;
}

TEST(ColourTrialsTest, TrialsSideBySideGiveThePlainResults)
{
    const RgbaImage source = Picture();
    const ReduceSettings job = Job();
    for (const int threads : {1, 2}) {
        RgbaImage input = source.Clone();
        ColourTrials trials(job, source, input, Encoder(), threads);
        ASSERT_EQ(trials.Prepare(), ReduceOk);
        ASSERT_EQ(trials.Run(std::vector<std::uint32_t>{3, 17, 40}, false), ReduceOk);
        for (const std::uint32_t colours : {3u, 17u, 40u}) {
            std::vector<std::uint8_t> plainBytes;
            const ResultFigures plain = Plain(source, colours, &plainBytes);
            const ColourTrial* trial = trials.Full(colours);
            ASSERT_NE(trial, nullptr);
            EXPECT_EQ(trial->encoded, plainBytes) << threads << " threads, " << colours << " colours";
            EXPECT_EQ(trial->figures.psnr, plain.psnr);
            EXPECT_EQ(trial->figures.maxError, plain.maxError);
        }
    }
}

TEST(ColourSearchTest, AnswersMeetTheTargetAndTheirNeighboursDoNot)
{
    const RgbaImage source = Picture();
    const ResultFigures at8 = Plain(source, 8);
    const ResultFigures at64 = Plain(source, 64);
    struct Case
    {
        ColourTarget target;
        bool met;
    };
    ColourTarget quality;
    quality.minPsnr = (at8.psnr + at64.psnr) / 2;
    ColourTarget size;
    size.maxBytes = (at8.pngBytes + at64.pngBytes) / 2;
    ColourTarget unreachable;
    unreachable.minPsnr = 150.0;
    for (const Case& c : {Case{quality, true}, Case{size, true}, Case{unreachable, false}}) {
        RgbaImage input = source.Clone();
        const ReduceSettings job = Job();
        ColourTrials trials(job, source, input, Encoder(), 2);
        ASSERT_EQ(trials.Prepare(), ReduceOk);
        const ColourSearchOutcome outcome = SearchColours(trials, c.target, 2, 128);
        ASSERT_EQ(outcome.code, ReduceOk);
        EXPECT_EQ(outcome.met, c.met);
        EXPECT_LT(outcome.fullTrials, 20); // far from trying every count
        if (c.target.minPsnr == quality.minPsnr) {
            // Where the search looks depends on the figures alone, never on the team.
            RgbaImage alone = source.Clone();
            ColourTrials oneThread(job, source, alone, Encoder(), 1);
            ASSERT_EQ(oneThread.Prepare(), ReduceOk);
            const ColourSearchOutcome single = SearchColours(oneThread, c.target, 2, 128);
            EXPECT_EQ(single.chosen, outcome.chosen);
            EXPECT_EQ(single.fullTrials, outcome.fullTrials);
            EXPECT_EQ(single.probes, outcome.probes);
        }
        const ResultFigures chosen = Plain(source, outcome.chosen);
        EXPECT_EQ(c.target.MetBy(chosen), c.met) << outcome.chosen;
        if (!c.met) {
            EXPECT_EQ(outcome.chosen, 128u); // the most colours the range allows
            continue;
        }
        const std::uint32_t beyond = c.target.Quality() ? outcome.chosen - 1 : outcome.chosen + 1;
        ASSERT_EQ(outcome.neighbour, beyond);
        EXPECT_FALSE(c.target.MetBy(Plain(source, beyond))) << beyond;
        // The result kept for the answer is the plain run's.
        IndexedImage result;
        std::vector<std::uint8_t> encoded;
        ResultFigures figures;
        ASSERT_TRUE(trials.Take(outcome.chosen, result, encoded, figures));
        std::vector<std::uint8_t> plainBytes;
        Plain(source, outcome.chosen, &plainBytes);
        EXPECT_EQ(encoded, plainBytes);
    }
}

} // namespace
} // namespace tessaline
