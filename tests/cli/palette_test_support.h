#pragma once
// tests/cli/palette_test_support.h: a fixture for the tests of tessaline-cli's palette options: a
// fresh folder per case, the palette any palette file in it holds, and the gradient images the
// cases reduce.

#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <vector>

#include "imageio/input_names.h"
#include "imageio/palette_file.h"
#include "imageio/qt_bitmap_reader.h"

namespace tessaline::clitest {

/// A square of `side` pixels with thousands of colours; another `seed` gives other greens.
inline QImage Gradient(int seed, int side = 48)
{
    QImage image(side, side, QImage::Format_ARGB32);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(
                x, y, qRgba(x * 255 / side, (y * 255 / side + seed * 40) & 255, ((x ^ y) * 5) & 255, 255));
    return image;
}

class PaletteFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    /// The palette of the file `name` in the folder; empty when it holds none.
    std::vector<RgbaColour> PaletteOf(const QString& name) const
    {
        const auto colours = ReadPaletteFile(ToPath(Path(name)), QtBitmaps());
        return colours ? *colours : std::vector<RgbaColour>{};
    }
    QTemporaryDir dir;
};

} // namespace tessaline::clitest
