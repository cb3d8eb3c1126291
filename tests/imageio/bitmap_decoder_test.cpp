// DecodeBitmap: Qt's plugins for everything but PNG, and no allocation a header merely declares.

#include "imageio/bitmap_decoder.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstdint>
#include <filesystem>

#include "imageio/image_limits.h"
#include "imageio/input_names.h"

namespace tessaline {
namespace {

QByteArray Encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

QImage DecodeBytes(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    EXPECT_TRUE(buffer.open(QIODevice::ReadOnly));
    return DecodeBitmap(buffer);
}

QImage Picture()
{
    QImage image(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            image.setPixel(x, y, qRgb(x * 50, y * 80, 7));
    return image;
}

void PutLe32(QByteArray& bytes, int at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

TEST(BitmapDecoderTest, DecodesOtherFormatsByContent)
{
    for (const char* format : {"BMP", "PPM", "TIFF"}) {
        SCOPED_TRACE(format);
        if (!QImageWriter::supportedImageFormats().contains(QByteArray(format).toLower()))
            continue;
        const QImage decoded = DecodeBytes(Encode(Picture(), format));
        ASSERT_FALSE(decoded.isNull());
        EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), Picture());
    }
}

TEST(BitmapDecoderTest, PngFilesAreLeftToThePngReader)
{
    // Even a valid PNG: it reached here only because the PNG reader refused it.
    EXPECT_TRUE(DecodeBytes(Encode(Picture(), "PNG")).isNull());
    QFile hostile(TESSALINE_TEST_DATA_DIR "/hostile/huge_text_chunk.png");
    ASSERT_TRUE(hostile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(DecodeBitmap(hostile).isNull());
    EXPECT_EQ(hostile.pos(), 0) << "the signature is peeked, not consumed";
}

TEST(BitmapDecoderTest, DeclaredGiantBitmapIsRefusedBeforeAllocation)
{
    // A 5 x 3 BMP whose header then claims 60000 x 60000 pixels (14 GB as ARGB32).
    QByteArray bmp = Encode(Picture(), "BMP");
    ASSERT_GT(bmp.size(), 26);
    PutLe32(bmp, 18, 60000);
    PutLe32(bmp, 22, 60000);
    EXPECT_TRUE(DecodeBytes(bmp).isNull());
    // 16000 x 16000 is inside the limits, but not in a file of a hundred bytes.
    PutLe32(bmp, 18, 16000);
    PutLe32(bmp, 22, 16000);
    EXPECT_TRUE(DecodeBytes(bmp).isNull());
}

TEST(BitmapDecoderTest, PlausibleSizesForAFileLength)
{
    EXPECT_TRUE(PlausibleForFileSize(4096, 4096, 0)) << "16 megapixels are taken as declared";
    EXPECT_FALSE(PlausibleForFileSize(4097, 4096, 1000));
    EXPECT_TRUE(PlausibleForFileSize(16000, 16000, 16000u * 16000 / MaxPixelsPerFileByte));
    EXPECT_FALSE(PlausibleForFileSize(16000, 16000, 16000u * 16000 / MaxPixelsPerFileByte - 1));
    EXPECT_FALSE(PlausibleForFileSize(0xFFFFFFFFu, 0xFFFFFFFFu, 1u << 20)) << "no overflow";
}

TEST(BitmapDecoderTest, RareFormatsAreNotHandedToQt)
{
    // An ICNS file whose entry claims length 0: Qt's ICNS plugin would ask for 8 GB for it.
    const QByteArray icns = QByteArray::fromBase64(
        "aWNucwAAAO9UT0MgAAAAEGljcDQAAAAAAAAA7wAAANeJUE5HDQoaCgAAAA1JSERSAAAAEAAAABAIAAAAADqYoL0AAAAJcEhZcwAAD2EA"
        "AA9hAag/p2kAAACBSURBSERSAAAAEAAAABAIAAAAADqYoL0AAAAycEhZcwAAD2EAAA9hAag/p2kAAACBSURBVBiXZc+pcZoklvJCcts1"
        "Tax8QClpdrZWeUHJTnO2TXlBSo6zbWNekBQdb+2YFyBF223bXyAtt80fwHLShHkBkJSVOGYuABKyHMf8d/sDI4UDmsM+wdgAAAAASUVO"
        "RK5CYII=");
    ASSERT_EQ(icns.size(), 239);
    EXPECT_TRUE(DecodeBytes(icns).isNull());
    for (const char* format : {"TGA", "XPM", "ICNS", "WBMP"}) {
        if (QImageWriter::supportedImageFormats().contains(QByteArray(format).toLower())) {
            EXPECT_TRUE(DecodeBytes(Encode(Picture(), format)).isNull()) << format;
        }
    }
}

TEST(BitmapDecoderTest, RefusalsSayWhy)
{
    // The command-line tool prints these reasons as they are.
    const auto reason = [](const QByteArray& bytes) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QString whyNot;
        EXPECT_TRUE(DecodeBitmap(buffer, &whyNot).isNull());
        return whyNot;
    };
    EXPECT_EQ(reason("just some words\n"), QStringLiteral("not a supported image"));
    EXPECT_TRUE(reason(Encode(Picture(), "PNG")).contains(QStringLiteral("PNG")));
    QByteArray bmp = Encode(Picture(), "BMP");
    PutLe32(bmp, 18, 16000);
    PutLe32(bmp, 22, 16000);
    EXPECT_TRUE(reason(bmp).startsWith(QStringLiteral("damaged file:"))) << reason(bmp).toStdString();
    QString whyNot;
    EXPECT_TRUE(DecodeBitmapFile("/nonexistent/none.bmp", &whyNot).isNull());
    EXPECT_TRUE(whyNot.startsWith(QStringLiteral("cannot read")));
}

TEST(BitmapDecoderTest, EmptyTextAndMissingFilesGiveNull)
{
    EXPECT_TRUE(DecodeBytes(QByteArray()).isNull());
    EXPECT_TRUE(DecodeBytes("just some words, not an image\n").isNull());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(DecodeBitmapFile(std::filesystem::path(dir.filePath("none.bmp").toStdString())).isNull());
    QFile file(dir.filePath(QStringLiteral("画像 ファイル.bmp")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Encode(Picture(), "BMP"));
    file.close();
    EXPECT_FALSE(DecodeBitmapFile(ToPath(file.fileName())).isNull());
}

} // namespace
} // namespace tessaline
