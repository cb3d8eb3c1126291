// The default reduction of the shared real images, end to end through tessaline-cli: the images the
// written files show must stay those of the results released so far, whatever the engine does to
// get there faster and whatever tunings sit beside the default. The big photograph is left out to
// keep the run short.

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "engine/colour_model.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

// FNV-1a over the size and the RGBA bytes of every pixel as the file shows them.
std::uint64_t ShownImageHash(const RgbaImage& image)
{
    std::uint64_t hash = 14695981039346656037ull;
    const auto add = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 1099511628211ull;
    };
    for (const std::uint32_t side : {image.width, image.height})
        for (int shift = 0; shift < 32; shift += 8)
            add(static_cast<std::uint8_t>(side >> shift));
    for (const std::uint8_t byte : image.pixels)
        add(byte);
    return hash;
}

TEST(DefaultResultsTest, SharedImagesReduceToTheImagesTheyAlwaysGave)
{
    const std::map<std::string, std::uint64_t> expected = {
        {"icon-system-run.png", 0xbbe33c251bf60d8eull},
        {"icon-user-trash-full.png", 0xaabbc02472cbf88eull},
        {"icon-user-trash.png", 0xce34fddac411bbe6ull},
        {"icon-video-x-generic.png", 0xcb249e5a308c8d35ull},
        {"photo-fossa.png", 0xedbb939e20824442ull},
        {"photo-kleiber.png", 0x2bf355cbc1512bc9ull},
        {"photo-painting-colors.png", 0x0db8e283da9cbb12ull},
    };
    const QString images = QString(TESSALINE_SHARED_DIR) + "/testdata/images";
    QStringList inputs;
    for (const auto& [name, hash] : expected)
        if (QFile::exists(images + "/" + QString::fromStdString(name)))
            inputs << images + "/" + QString::fromStdString(name);
    if (inputs.size() != static_cast<qsizetype>(expected.size()))
        GTEST_SKIP() << "the shared images are not in " << images.toStdString();

    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const clitest::CliRun run = clitest::RunCli(QStringList{"--quiet", "-j", "2", "--output-dir", out.path()} + inputs);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const auto& [name, hash] : expected) {
        SCOPED_TRACE(name);
        RgbaImage shown;
        ASSERT_EQ(ReadPngFile(shown, QDir(out.path()).filePath(QString::fromStdString(name)).toStdString()), 0);
        EXPECT_EQ(ShownImageHash(shown), hash) << std::hex << "0x" << ShownImageHash(shown);
    }
}

} // namespace
} // namespace tessaline
