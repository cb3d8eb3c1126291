// WritePngFile on targets that are not regular files: devices are written in place, never
// replaced by a renamed temporary, and a device that refuses the bytes is a failure.

#include "imageio/png_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tessaline {
namespace {

namespace fs = std::filesystem;

IndexedImage SmallResult()
{
    IndexedImage image;
    image.width = 300;
    image.height = 200;
    image.gamma = InternalGamma;
    image.pixels.resize(std::size_t{image.width} * image.height);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<std::uint8_t>((i * 7919) % 13 % 2); // noise: no tiny file
    for (std::uint32_t y = 0; y < image.height; ++y)
        image.rows.push_back(image.pixels.data() + std::size_t{y} * image.width);
    image.paletteSize = 2;
    image.paletteRgb[3] = 255;
    return image;
}

void ExpectStillADevice(const fs::path& device)
{
    EXPECT_TRUE(fs::is_character_file(device)) << device << " was replaced";
    fs::path temporary = device;
    temporary += ".tmp";
    EXPECT_FALSE(fs::exists(temporary));
}

TEST(PngWriterDeviceTest, FullDeviceFailsAndStaysADevice)
{
    if (!fs::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    EXPECT_EQ(WritePngFile(SmallResult(), "/dev/full"), PngWriteFailed);
    ExpectStillADevice("/dev/full");
}

TEST(PngWriterDeviceTest, NullDeviceTakesTheFileInPlace)
{
    if (!fs::is_character_file("/dev/null"))
        GTEST_SKIP() << "no /dev/null here";
    EXPECT_EQ(WritePngFile(SmallResult(), "/dev/null"), PngWriteOk);
    ExpectStillADevice("/dev/null");
}

} // namespace
} // namespace tessaline
