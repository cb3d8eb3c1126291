// Colour trials and the colour search: trials side by side against one at a time and against the
// plain pipeline, and the search's answer checked against reductions of its own.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <utility>

#include "engine/reduce_pipeline.h"
#include "engine/result_figures.h"
#include "imageio/png_writer.h"
#include "worker/colour_search.h"
#include "worker/colour_trials.h"

namespace tessaline {
namespace {

// Soft gradients with noise and a translucent band: every count gives its own result.
RgbaImage Picture(std::uint32_t width = 72, std::uint32_t height = 56)
{
    std::mt19937 random(11);
    RgbaImage image = CreateRgbaImage(width, height);
    for (std::uint32_t y = 0; y < image.height; ++y)
        for (std::uint32_t x = 0; x < image.width; ++x) {
            std::uint8_t* p = image.rows[y] + 4 * x;
            const std::uint32_t u = x * 72 / width;
            const std::uint32_t v = y * 56 / height;
            p[0] = std::uint8_t(u * 3 + random() % 6);
            p[1] = std::uint8_t(v * 4 + random() % 6);
            p[2] = std::uint8_t((u * v) / 8);
            p[3] = v > 44 ? std::uint8_t(u * 3) : 255;
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
        ASSERT_EQ(trials.Run(std::vector<std::uint32_t>{3, 17, 40}, false, true), ReduceOk);
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

TEST(ColourTrialsTest, ProbesOnBandsOfALargeImageFollowItsFullResults)
{
    // Large enough that probes remap and measure bands of rows only.
    const RgbaImage source = Picture(400, 680);
    RgbaImage input = source.Clone();
    const ReduceSettings job = Job();
    ColourTrials trials(job, source, input, Encoder(), 2);
    ASSERT_EQ(trials.Prepare(), ReduceOk);
    const std::vector<std::uint32_t> counts{24, 96};
    ASSERT_EQ(trials.Run(counts, true, true), ReduceOk);
    ASSERT_EQ(trials.Run(counts, false, true), ReduceOk);
    for (const std::uint32_t n : counts) {
        const ResultFigures& probe = trials.Probe(n)->figures;
        const ResultFigures& full = trials.Full(n)->figures;
        EXPECT_NEAR(probe.psnr, full.psnr, 1.5) << n;
        EXPECT_NEAR(double(probe.pngBytes), double(full.pngBytes), 0.2 * double(full.pngBytes)) << n;
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
        EXPECT_EQ(Encoder()(result), plainBytes);
        if (!encoded.empty()) { // a size search's own encoding of it
            EXPECT_EQ(encoded, plainBytes);
        }
    }
}

// Figures made up by formula, wobbling by more than a colour's worth as real ones do, served
// without any reduction: the search's logic over a hundred targets at once.
class MadeUpTrials : public TrialRunner
{
public:
    MadeUpTrials(std::uint32_t lowest, std::uint32_t highest) : lowest(lowest), highest(highest) {}

    int Run(std::span<const std::uint32_t> counts, bool probe, bool) override
    {
        for (const std::uint32_t n : counts) {
            if (n < lowest || n > highest)
                strayed.push_back(n);
            ColourTrial trial;
            trial.colours = n;
            trial.code = ReduceOk;
            trial.figures = Figures(n, probe);
            (probe ? probes : full).emplace(n, std::move(trial));
        }
        return ReduceOk;
    }

    static ResultFigures Figures(std::uint32_t n, bool probe)
    {
        const double noise = std::sin(n * 2.3 + (probe ? 1.0 : 0.0)) * 0.25 + std::sin(n * 0.77) * 0.1;
        ResultFigures figures;
        figures.psnr = 20 + 3.5 * std::log2(double(n)) + noise - (probe ? 0.3 : 0.0);
        figures.maxError = static_cast<int>(120 / std::sqrt(double(n)));
        figures.pngBytes = static_cast<std::uint64_t>((2000 + 900 * std::pow(n, 0.7)) * (1 + 0.02 * noise));
        return figures;
    }

    std::vector<std::uint32_t> strayed; ///< counts run outside the range

private:
    std::uint32_t lowest;
    std::uint32_t highest;
};

TEST(ColourSearchTest, EveryAnswerIsACheckedCrossingFoundInFewTrials)
{
    std::vector<ColourTarget> targets;
    for (double db = 21; db < 50; db += 0.37)
        targets.push_back(ColourTarget{db, std::nullopt, std::nullopt});
    for (double bytes = 2500; bytes < 60000; bytes *= 1.09)
        targets.push_back(ColourTarget{std::nullopt, std::nullopt, std::uint64_t(bytes)});
    for (const auto& [lowest, highest] : {std::pair{2u, 256u}, std::pair{16u, 64u}, std::pair{5u, 8u}})
        for (const ColourTarget& target : targets) {
            MadeUpTrials trials(lowest, highest);
            const ColourSearchOutcome outcome = SearchColours(trials, target, lowest, highest);
            ASSERT_EQ(outcome.code, ReduceOk);
            const ResultFigures chosen = MadeUpTrials::Figures(outcome.chosen, false);
            const std::string where =
                std::to_string(lowest) + ".." + std::to_string(highest) + ", target " +
                std::to_string(target.minPsnr ? *target.minPsnr : double(*target.maxBytes));
            EXPECT_TRUE(trials.strayed.empty()) << where << ": ran " << trials.strayed.front();
            ASSERT_NE(trials.Full(outcome.chosen), nullptr) << where;
            EXPECT_EQ(outcome.met, target.MetBy(chosen)) << where;
            EXPECT_LE(outcome.fullTrials, 16) << where;
            const std::uint32_t past = target.Quality() ? outcome.chosen - 1 : outcome.chosen + 1;
            if (!outcome.met) {
                EXPECT_EQ(outcome.chosen, target.Quality() ? highest : lowest) << where;
            } else if (past >= lowest && past <= highest) {
                ASSERT_EQ(outcome.neighbour, past) << where;
                EXPECT_FALSE(target.MetBy(MadeUpTrials::Figures(past, false))) << where;
            } else {
                EXPECT_FALSE(outcome.neighbour) << where;
            }
        }
}

} // namespace
} // namespace tessaline
