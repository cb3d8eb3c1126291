#include "imageio/bitmap_bridge.h"

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include "imageio/image_limits.h"
#include "imageio/png_reader.h"

namespace tessaline {
namespace {

// Every byte value in every channel, including colour under zero alpha.
RgbaImage NoisyImage(std::uint32_t width, std::uint32_t height, unsigned seed)
{
    RgbaImage image = CreateRgbaImage(width, height);
    std::mt19937 random(seed);
    for (auto& byte : image.pixels)
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    return image;
}

// Bytes of a Format_ARGB32 pixel as they lie in memory.
const std::uint8_t* PixelBytes(const QImage& bitmap, int x, int y)
{
    return bitmap.constScanLine(y) + 4 * x;
}

bool LittleEndian()
{
    const std::uint32_t word = 1;
    std::uint8_t first;
    std::memcpy(&first, &word, 1);
    return first == 1;
}

TEST(BitmapBridgeTest, SourceBitmapRoundTripIsByteExact)
{
    RgbaImage image = NoisyImage(37, 11, 7);
    const QImage bitmap = MakeSourceBitmap(image);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.format(), QImage::Format_ARGB32);
    ASSERT_EQ(bitmap.width(), 37);
    ASSERT_EQ(bitmap.height(), 11);
    if (LittleEndian()) {
        // The display bitmap holds B, G, R, A where the engine holds R, G, B, A.
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 37; ++x) {
                const std::uint8_t* in = image.rows[y] + 4 * x;
                const std::uint8_t* out = PixelBytes(bitmap, x, y);
                ASSERT_EQ(out[0], in[2]);
                ASSERT_EQ(out[1], in[1]);
                ASSERT_EQ(out[2], in[0]);
                ASSERT_EQ(out[3], in[3]);
            }
    }
    RgbaImage back;
    ASSERT_TRUE(LoadFromBitmap(back, bitmap));
    EXPECT_EQ(back.width, 37u);
    EXPECT_EQ(back.height, 11u);
    EXPECT_EQ(back.gamma, double{InternalGamma});
    EXPECT_EQ(back.sourceBytes, 0u);
    EXPECT_EQ(back.pixels, image.pixels);
    ASSERT_EQ(back.rows.size(), 11u);
    EXPECT_EQ(back.rows[10], back.pixels.data() + 10 * 37 * 4);
}

TEST(BitmapBridgeTest, PngImageRoundTripIsByteExact)
{
    // An RGBA PNG (written by Qt) read by our reader, shown, and converted back.
    QImage drawn(19, 7, QImage::Format_ARGB32);
    std::mt19937 random(5);
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            drawn.setPixel(x, y, static_cast<QRgb>(random()));
    QBuffer file;
    file.open(QIODevice::ReadWrite);
    ASSERT_TRUE(QImageWriter(&file, "png").write(drawn));
    const QByteArray bytes = file.data();
    RgbaImage fromPng;
    ASSERT_EQ(ReadPngMemory(fromPng, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                            static_cast<std::size_t>(bytes.size())),
              PngReadOk);
    const QImage shown = MakeSourceBitmap(fromPng);
    ASSERT_FALSE(shown.isNull());
    for (int y = 0; y < drawn.height(); ++y)
        EXPECT_EQ(std::memcmp(shown.constScanLine(y), drawn.constScanLine(y), 4 * drawn.width()), 0) << "row " << y;
    RgbaImage back;
    ASSERT_TRUE(LoadFromBitmap(back, shown));
    EXPECT_EQ(back.width, fromPng.width);
    EXPECT_EQ(back.height, fromPng.height);
    EXPECT_EQ(back.pixels, fromPng.pixels);
}

TEST(BitmapBridgeTest, SizesBeyondTheFileLimitsAreRefused)
{
    const QImage wide(static_cast<int>(MaxImageSide) + 1, 1, QImage::Format_ARGB32);
    ASSERT_FALSE(wide.isNull());
    RgbaImage image;
    EXPECT_FALSE(LoadFromBitmap(image, wide));
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(CloneToArgb(wide, wide.width(), 1).isNull());

    const RgbaImage tooWide = CreateRgbaImage(MaxImageSide + 1, 1);
    EXPECT_TRUE(MakeSourceBitmap(tooWide).isNull());
}

TEST(BitmapBridgeTest, BitmapRoundTripWithWideRowsIsByteExact)
{
    // A bitmap over a caller's buffer whose rows are longer than the pixels need.
    const int width = 5, height = 3, stride = 4 * width + 12;
    std::vector<std::uint8_t> buffer(stride * height);
    std::mt19937 random(11);
    for (auto& byte : buffer)
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    const QImage bitmap(buffer.data(), width, height, stride, QImage::Format_ARGB32);
    RgbaImage image;
    ASSERT_TRUE(LoadFromBitmap(image, bitmap));
    const QImage again = MakeSourceBitmap(image);
    ASSERT_FALSE(again.isNull());
    for (int y = 0; y < height; ++y)
        EXPECT_EQ(std::memcmp(again.constScanLine(y), bitmap.constScanLine(y), 4 * width), 0) << "row " << y;
}

TEST(BitmapBridgeTest, OpaqueFormatsLoadWithFullAlpha)
{
    QImage rgb(3, 2, QImage::Format_RGB888);
    rgb.fill(QColor(10, 20, 30));
    rgb.setPixel(2, 1, qRgb(200, 100, 50));
    RgbaImage image;
    ASSERT_TRUE(LoadFromBitmap(image, rgb));
    ASSERT_EQ(image.width, 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(image.rows[0], image.rows[0] + 4), (std::vector<std::uint8_t>{10, 20, 30, 255}));
    EXPECT_EQ(std::vector<std::uint8_t>(image.rows[1] + 8, image.rows[1] + 12),
              (std::vector<std::uint8_t>{200, 100, 50, 255}));
    for (std::size_t i = 3; i < image.pixels.size(); i += 4)
        EXPECT_EQ(image.pixels[i], 255);
}

TEST(BitmapBridgeTest, DecodedTwentyFourBitFileLoadsOpaque)
{
    // A 24-bit BMP through the platform decoder, as a dropped non-PNG file would arrive.
    QImage drawn(3, 2, QImage::Format_RGB888);
    drawn.fill(QColor(1, 2, 3));
    drawn.setPixel(1, 1, qRgb(250, 0, 128));
    QBuffer file;
    file.open(QIODevice::ReadWrite);
    ASSERT_TRUE(QImageWriter(&file, "bmp").write(drawn));
    file.seek(0);
    QImageReader reader(&file, "bmp");
    const QImage decoded = reader.read();
    ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
    EXPECT_FALSE(decoded.hasAlphaChannel());
    RgbaImage image;
    ASSERT_TRUE(LoadFromBitmap(image, decoded));
    ASSERT_EQ(image.width, 3u);
    ASSERT_EQ(image.height, 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(image.rows[1] + 4, image.rows[1] + 8),
              (std::vector<std::uint8_t>{250, 0, 128, 255}));
    EXPECT_EQ(std::vector<std::uint8_t>(image.rows[0], image.rows[0] + 4), (std::vector<std::uint8_t>{1, 2, 3, 255}));
}

TEST(BitmapBridgeTest, PaletteAndPremultipliedFormatsAreConverted)
{
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(1, 2, 3, 4), qRgba(250, 128, 0, 255)});
    indexed.setPixel(0, 0, 1);
    indexed.setPixel(1, 0, 0);
    RgbaImage image;
    ASSERT_TRUE(LoadFromBitmap(image, indexed));
    EXPECT_EQ(image.pixels, (std::vector<std::uint8_t>{250, 128, 0, 255, 1, 2, 3, 4}));

    QImage premultiplied(1, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, qRgba(50, 0, 100, 128)); // stored premultiplied: straight about 100, 0, 200
    ASSERT_TRUE(LoadFromBitmap(image, premultiplied));
    EXPECT_EQ(image.pixels[3], 128);
    EXPECT_NEAR(image.pixels[0], 100, 1);
    EXPECT_NEAR(image.pixels[2], 199, 1);
}

TEST(BitmapBridgeTest, NullBitmapIsRefusedAndLeavesAnEmptyImage)
{
    RgbaImage image = NoisyImage(4, 4, 3);
    image.sourceBytes = 99;
    EXPECT_FALSE(LoadFromBitmap(image, QImage()));
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(image.rows.empty());
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
    EXPECT_EQ(image.sourceBytes, 0u);
}

TEST(BitmapBridgeTest, CloneToArgbCopiesTheRectangleOrNothing)
{
    QImage rgb(4, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            rgb.setPixel(x, y, qRgb(x, y, 7));
    const QImage part = CloneToArgb(rgb, 2, 2);
    ASSERT_FALSE(part.isNull());
    EXPECT_EQ(part.format(), QImage::Format_ARGB32);
    EXPECT_EQ(part.size(), QSize(2, 2));
    EXPECT_EQ(part.pixel(1, 1), qRgba(1, 1, 7, 255));
    EXPECT_TRUE(CloneToArgb(rgb, 5, 3).isNull());
    EXPECT_TRUE(CloneToArgb(rgb, 4, 0).isNull());
    EXPECT_TRUE(CloneToArgb(rgb, -1, 2).isNull());
    EXPECT_TRUE(CloneToArgb(QImage(), 1, 1).isNull());
}

TEST(BitmapBridgeTest, MakeSourceBitmapRefusesEmptyOrInconsistentImages)
{
    EXPECT_TRUE(MakeSourceBitmap(RgbaImage()).isNull());
    RgbaImage image = CreateRgbaImage(4, 4);
    image.height = 5; // the buffers do not cover the stated size
    EXPECT_TRUE(MakeSourceBitmap(image).isNull());
    image.height = 4;
    image.rows.pop_back();
    EXPECT_TRUE(MakeSourceBitmap(image).isNull());
}

TEST(BitmapBridgeTest, ResultBitmapShowsEntriesPastTheTransparentOnesOpaque)
{
    IndexedImage image;
    image.width = 3;
    image.height = 2;
    image.pixels = {0, 1, 2, 2, 1, 255};
    for (std::uint32_t y = 0; y < 2; ++y)
        image.rows.push_back(image.pixels.data() + y * 3);
    image.paletteSize = 3;
    image.transparentCount = 1;
    const std::uint8_t rgb[9] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    std::memcpy(image.paletteRgb.data(), rgb, sizeof rgb);
    image.paletteAlpha[0] = 0;
    image.paletteAlpha[1] = 100; // past transparentCount: shown opaque, as the file stores it
    image.paletteAlpha[2] = 255;
    const QImage bitmap = MakeResultBitmap(image);
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.format(), QImage::Format_ARGB32);
    EXPECT_EQ(bitmap.pixel(0, 0), qRgba(10, 20, 30, 0));
    EXPECT_EQ(bitmap.pixel(1, 0), qRgba(40, 50, 60, 255));
    EXPECT_EQ(bitmap.pixel(2, 0), qRgba(70, 80, 90, 255));
    EXPECT_EQ(bitmap.pixel(1, 1), qRgba(40, 50, 60, 255));
    EXPECT_EQ(bitmap.pixel(2, 1), qRgba(0, 0, 0, 255)); // an unused entry, still inside the tables
    if (LittleEndian()) {
        const std::uint8_t* p = PixelBytes(bitmap, 2, 0);
        EXPECT_EQ((std::vector<std::uint8_t>(p, p + 4)), (std::vector<std::uint8_t>{90, 80, 70, 255}));
    }
    EXPECT_TRUE(MakeResultBitmap(IndexedImage()).isNull());
}

} // namespace
} // namespace tessaline
