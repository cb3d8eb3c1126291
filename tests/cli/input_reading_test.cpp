// tessaline-cli reading files as their makers meant them: a colour key is transparency, a photo's
// EXIF orientation is how it is shown, a file too large to be an image is not read through, and a
// well-formed PNG beyond the limits is called too large, not damaged.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <filesystem>

#include "engine/colour_model.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

RgbaImage Decoded(const QString& path)
{
    RgbaImage image;
    ReadPngFile(image, std::filesystem::path(path.toStdString()));
    return image;
}

const std::uint8_t* PixelAt(const RgbaImage& image, std::uint32_t x, std::uint32_t y)
{
    return image.rows[y] + 4 * x;
}

/// A 16 x 16 picture, 8-bit grey (colour 0) or RGB (colour 2), whose border colour a tRNS chunk
/// keys out; the inner square has other colours.
QByteArray ColourKeyedPng(int colour)
{
    QByteArray raw;
    for (int y = 0; y < 16; ++y) {
        raw.append('\0');
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 4 && x < 12 && y >= 4 && y < 12;
            const char value = static_cast<char>(inside ? 100 + x * 8 : 7);
            raw.append(value);
            if (colour == 2)
                raw.append(inside ? static_cast<char>(200 - y * 8) : '\x07').append(inside ? '\x40' : '\x07');
        }
    }
    const QByteArray key = colour == 2 ? QByteArray("\0\x07\0\x07\0\x07", 6) : QByteArray("\0\x07", 2);
    return PngSignature() + Ihdr(16, 16, 8, colour) + Chunk("tRNS", key) + Chunk("IDAT", Deflate(raw)) +
           Chunk("IEND", {});
}

/// A JPEG of `image` carrying an EXIF orientation tag.
QByteArray JpegWithOrientation(const QImage& image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG", 95));
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, 0x0112 SHORT = orientation.
    QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01", 24);
    exif.append('\0').append(static_cast<char>(orientation)).append(QByteArray(6, '\0'));
    QByteArray segment("\xff\xe1", 2);
    segment.append(static_cast<char>((exif.size() + 2) >> 8))
        .append(static_cast<char>((exif.size() + 2) & 0xFF));
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

class InputReadingTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(InputReadingTest, ColourKeyIsTransparencyInImagesAndWeights)
{
    for (const int colour : {0, 2}) {
        SCOPED_TRACE(colour);
        ASSERT_TRUE(WriteAll(Path("keyed.png"), ColourKeyedPng(colour)));
        const CliRun run = RunCli({"-o", Path("keyed-result.png"), Path("keyed.png")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const RgbaImage result = Decoded(Path("keyed-result.png"));
        ASSERT_EQ(result.width, 16u);
        EXPECT_EQ(PixelAt(result, 0, 0)[3], 0) << "the keyed border is transparent";
        EXPECT_EQ(PixelAt(result, 8, 8)[3], 255);
    }
    // As a weights mask, a keyed-out grey image weighs what a fully transparent one weighs.
    QImage picture(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            picture.setPixel(x, y, qRgb(x * 16, y * 16, (x * y) & 0xFF));
    ASSERT_TRUE(picture.save(Path("picture.png")));
    QByteArray keyedOut;
    for (int y = 0; y < 16; ++y)
        keyedOut.append('\0').append(QByteArray(16, '\x07'));
    ASSERT_TRUE(WriteAll(Path("mask-keyed.png"), PngSignature() + Ihdr(16, 16, 8, 0) +
                                                     Chunk("tRNS", QByteArray("\0\x07", 2)) +
                                                     Chunk("IDAT", Deflate(keyedOut)) + Chunk("IEND", {})));
    QImage clear(16, 16, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    ASSERT_TRUE(clear.save(Path("mask-clear.png")));
    QImage opaque(16, 16, QImage::Format_ARGB32);
    opaque.fill(Qt::transparent);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            opaque.setPixel(x, y, qRgba(0, 0, 0, 255)); // all weight on one corner
    ASSERT_TRUE(opaque.save(Path("mask-opaque.png")));
    for (const char* mask : {"mask-keyed", "mask-clear", "mask-opaque"})
        ASSERT_EQ(RunCli({"--colours", "4", "--user-weight", "100", "--weights", Path(QString(mask) + ".png"),
                          "-o", Path(QString(mask) + "-result.png"), Path("picture.png")})
                      .exitCode,
                  0);
    EXPECT_EQ(ReadAll(Path("mask-keyed-result.png")), ReadAll(Path("mask-clear-result.png")));
    EXPECT_NE(ReadAll(Path("mask-opaque-result.png")), ReadAll(Path("mask-clear-result.png")))
        << "the weights make a difference at all";
}

TEST_F(InputReadingTest, ExifOrientationTurnsThePhoto)
{
    // Left half red, right half blue; orientation 6 means "turn 90 degrees clockwise to show",
    // which puts the left half on top.
    QImage photo(40, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            photo.setPixel(x, y, x < 20 ? qRgb(230, 20, 20) : qRgb(20, 20, 230));
    ASSERT_TRUE(WriteAll(Path("turned.jpg"), JpegWithOrientation(photo, 6)));
    const CliRun run = RunCli({"-o", Path("turned.png"), Path("turned.jpg")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const RgbaImage result = Decoded(Path("turned.png"));
    ASSERT_EQ(result.width, 20u);
    ASSERT_EQ(result.height, 40u);
    EXPECT_GT(PixelAt(result, 10, 5)[0], 150) << "red on top";
    EXPECT_GT(PixelAt(result, 10, 35)[2], 150) << "blue below";
}

TEST_F(InputReadingTest, OversizedFilesAreRefusedAtOnceWithTheirReason)
{
    // A JPEG header followed by 8 GB of nothing (a sparse file): refused by its size, unread.
    QFile sparse(Path("endless.jpg"));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::gray);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(small.save(&buffer, "JPEG"));
    jpeg.chop(2); // no end marker
    ASSERT_EQ(sparse.write(jpeg), jpeg.size());
    if (!sparse.resize(qint64{8} << 30))
        GTEST_SKIP() << "no room for a sparse 8 GB file here";
    sparse.close();

    // Well-formed PNG headers beyond the limits: in pixels, and in the length of one side.
    ASSERT_TRUE(WriteAll(Path("huge.png"), PngSignature() + Ihdr(20000, 20000, 1, 0) +
                                               Chunk("IDAT", Deflate(QByteArray(2501, '\0'))) +
                                               Chunk("IEND", {})));
    ASSERT_TRUE(WriteAll(Path("wide.png"), PngSignature() + Ihdr(2000000, 1, 1, 0) +
                                               Chunk("IDAT", Deflate(QByteArray(250001, '\0'))) +
                                               Chunk("IEND", {})));

    const CliRun run =
        RunCli({"--output-dir", Path("out"), Path("endless.jpg"), Path("huge.png"), Path("wide.png")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        run.ErrLines(),
        (QStringList{
            "tessaline-cli: " + Path("endless.jpg") +
                ": file too large: 8589934592 bytes (image files of at most 2214592512 bytes are read)",
            "tessaline-cli: " + Path("huge.png") +
                ": image too large: 20000 x 20000 pixels (at most 268435456 pixels, 1000000 on a side)",
            "tessaline-cli: " + Path("wide.png") +
                ": image too large: 2000000 x 1 pixels (at most 268435456 pixels, 1000000 on a side)"}));
    EXPECT_FALSE(QFile::exists(Path("out")));
}

} // namespace
} // namespace tessaline
