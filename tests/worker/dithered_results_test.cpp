// Dithered results of the shared photographs and translucent icons against their undithered twins
// (the same palette):
// error diffusion exists to keep the local averages, so blurred, a dithered result must look at
// least about as much like its source as the undithered one does; and with enough entries hardly a
// pixel may stray far from its source when its palette holds a near entry. The counts are those where
// the diffusion once formed flat patches of a far entry or left single pixels of a far entry where
// the source lies beyond the palette's colours, and the icons' two-colour palettes of translucent
// greys, where the diffusion trades the view over black for the view over white; plus a seeded
// sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/colour_model.h"
#include "engine/dither_figures.h"
#include "imageio/png_reader.h"
#include "settings/setting_table.h"
#include "worker/colour_trials.h"

namespace tessaline {
namespace {

constexpr double AllowedBlurredLossDb = 1.5;
constexpr std::uint32_t StrayCheckedFrom = 16; // below, dithering between far entries is the point
constexpr int StrayMarginLevels = 64;

struct ImageCounts
{
    const char* name;
    std::vector<std::uint32_t> counts; ///< where patches or stray pixels formed
};

TEST(DitheredResultsTest, KeepTheLocalAveragesAndNoPixelStrays)
{
    const std::string images = std::string(TESSALINE_SHARED_DIR) + "/testdata/images/";
    const ImageCounts photos[] = {
        {"photo-fossa.png", {5, 24}},
        {"photo-painting-colors.png", {6}},
        {"photo-kleiber.png", {20, 32}},
        {"icon-user-trash.png", {2}},
        {"icon-user-trash-full.png", {2}},
    };
    std::mt19937 random(32);
    bool anyImage = false;
    for (const ImageCounts& photo : photos) {
        SCOPED_TRACE(photo.name);
        RgbaImage source;
        if (ReadPngFile(source, images + photo.name) != 0)
            continue;
        anyImage = true;
        std::vector<std::uint32_t> counts = photo.counts;
        counts.push_back(2 + random() % 63); // one more count from 2 to 64

        ReduceSettings dithered;
        FillReduceSettings(SettingValues{}, dithered);
        ReduceSettings undithered;
        FillReduceSettings(SettingValues{}, undithered);
        undithered.dither = 0;
        RgbaImage ditheredInput = source.Clone();
        RgbaImage unditheredInput = source.Clone();
        const EncodeFunction noEncoding = [](const IndexedImage&) { return std::vector<std::uint8_t>(); };
        ColourTrials withDither(dithered, source, ditheredInput, noEncoding, 2);
        ColourTrials withoutDither(undithered, source, unditheredInput, noEncoding, 2);
        ASSERT_EQ(withDither.Prepare(), ReduceOk);
        ASSERT_EQ(withoutDither.Prepare(), ReduceOk);
        ASSERT_EQ(withDither.Run(counts, false, false), ReduceOk);
        ASSERT_EQ(withoutDither.Run(counts, false, false), ReduceOk);

        for (const std::uint32_t count : counts) {
            SCOPED_TRACE(count);
            const IndexedImage& kept = withDither.Full(count)->result;
            const double ditheredPsnr = BlurredPsnr(source, kept).value();
            const double plainPsnr = BlurredPsnr(source, withoutDither.Full(count)->result).value();
            EXPECT_GE(ditheredPsnr, plainPsnr - AllowedBlurredLossDb);
            if (count >= StrayCheckedFrom) {
                EXPECT_EQ(StrayPixels(source, kept, StrayMarginLevels).value(), 0u);
            }
        }
    }
    if (!anyImage)
        GTEST_SKIP() << "no shared images in " << images;
}

} // namespace
} // namespace tessaline
