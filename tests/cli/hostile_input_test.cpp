// tessaline-cli on hostile and awkward files: each one ends in a clear one-line error or a correct
// result, never a crash, a hang or an allocation the file merely declares. Runs that could
// allocate what a header claims happen under an address-space cap (prlimit --as), so an attempt
// shows as a failure here instead of passing unnoticed on a machine with memory to spare.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

const QString HostileFolder = QStringLiteral(TESSALINE_TEST_DATA_DIR "/hostile");

QByteArray Encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format));
    return bytes;
}

QImage Picture(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, (x * y) & 0xFF, x < 3 ? 0 : 255));
    return image;
}

/// The decoded result, or an empty image when there is none.
RgbaImage Decoded(const QString& path)
{
    RgbaImage image;
    ReadPngFile(image, ToPath(path));
    return image;
}

class HostileInputTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }

    /// Runs the tool on every file of `names` (in this test's folder or absolute) into out/ and
    /// checks the one rule: it finished with 0 or 1, and each input either has exactly one error
    /// line naming it and no result, or a result that decodes. Returns the refused names.
    QStringList RunEach(const QStringList& inputs, qint64 addressSpace = HostileAddressSpace)
    {
        const CliRun run = RunCli(QStringList{"--quiet", "--colours", "16", "--output-dir", Path("out"), "--"} + inputs,
                                  QString(), addressSpace);
        EXPECT_TRUE(run.finished) << "crashed or hung";
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
        // Only the tool's own lines: libtiff writes its complaints to stderr past Qt.
        const QStringList lines = run.ErrLines().filter(QRegularExpression("^tessaline-cli: "));
        QStringList refused;
        for (const QString& input : inputs) {
            SCOPED_TRACE(input.toStdString());
            int named = 0;
            for (const QString& line : lines)
                named += line.startsWith("tessaline-cli: " + input + ": ") ? 1 : 0;
            const QString result = Path("out/" + QFileInfo(input).completeBaseName() + ".png");
            const QString sameName = Path("out/" + QFileInfo(input).fileName());
            const QString written = QFileInfo(input).suffix() == "png" ? sameName : result;
            EXPECT_LE(named, 1) << run.err.toStdString();
            if (named == 1) {
                EXPECT_FALSE(QFileInfo::exists(written)) << "a result beside an error";
                refused << input;
            } else {
                const RgbaImage decoded = Decoded(written);
                EXPECT_FALSE(decoded.Empty()) << "neither an error nor a result: " << run.err.toStdString();
            }
        }
        EXPECT_EQ(lines.size(), refused.size()) << run.err.toStdString();
        EXPECT_EQ(run.exitCode, refused.isEmpty() ? 0 : 1);
        if (QDir(Path("out")).exists()) {
            EXPECT_TRUE(QDir(Path("out")).entryList({"*.tmp", ".*.tmp"}, QDir::Files | QDir::Hidden).isEmpty());
        }
        return refused;
    }

    QTemporaryDir dir;
};

TEST_F(HostileInputTest, TruncationsAtManyOffsetsAreRefusedOrWhole)
{
    const QByteArray png = Encode(Picture(24, 16), "PNG");
    const qsizetype idatEnd = png.lastIndexOf("IEND") - 4; // everything before IEND's length
    ASSERT_GT(idatEnd, 40);
    QStringList inputs;
    QStringList mustRefuse;
    const qsizetype step = std::max<qsizetype>(1, png.size() / 50);
    std::vector<qsizetype> cuts;
    for (qsizetype at = 0; at < png.size(); at += step)
        cuts.push_back(at);
    for (qsizetype at : {qsizetype{7}, qsizetype{8}, qsizetype{33}, idatEnd - 1, idatEnd, png.size() - 1})
        cuts.push_back(at);
    for (qsizetype at : cuts) {
        const QString name = Path(QString("cut_%1.png").arg(at, 5, 10, QChar('0')));
        if (QFile::exists(name))
            continue;
        ASSERT_TRUE(WriteAll(name, png.left(at)));
        inputs << name;
        if (at < idatEnd)
            mustRefuse << name;
    }
    const QStringList refused = RunEach(inputs);
    for (const QString& name : mustRefuse)
        EXPECT_TRUE(refused.contains(name)) << name.toStdString() << " was taken although its rows are cut";

    // Other formats go through Qt, whose decoders may fill a cut image up: a result is fine then.
    QStringList others;
    for (const char* format : {"BMP", "JPEG", "TIFF"}) {
        const QByteArray whole = Encode(Picture(24, 16), format);
        if (whole.isEmpty())
            continue;
        for (qsizetype at : {qsizetype{0}, qsizetype{5}, whole.size() / 3, whole.size() / 2, whole.size() - 2}) {
            const QString name = Path(QString("cut_%1_%2.%3").arg(at).arg(format).arg(QString(format).toLower()));
            ASSERT_TRUE(WriteAll(name, whole.left(at)));
            others << name;
        }
    }
    RunEach(others);
}

TEST_F(HostileInputTest, BadCrcsAreRefused)
{
    const QByteArray rows = Deflate(GreyRows(16, 16, false));
    const QByteArray badIhdr = PngSignature() + Ihdr(16, 16, 8, 0).left(21) + QByteArray("\0\0\0\0", 4) +
                               Chunk("IDAT", rows) + Chunk("IEND", {});
    const QByteArray badIdat = PngSignature() + Ihdr(16, 16, 8, 0) + Chunk("IDAT", rows, 0x01020304) + Chunk("IEND", {});
    ASSERT_TRUE(WriteAll(Path("bad_ihdr.png"), badIhdr));
    ASSERT_TRUE(WriteAll(Path("bad_idat.png"), badIdat));
    const QStringList inputs = {Path("bad_ihdr.png"), Path("bad_idat.png"), HostileFolder + "/bad_idat_crc.png",
                                HostileFolder + "/bad_ihdr_crc.png"};
    EXPECT_EQ(RunEach(inputs), inputs);
}

TEST_F(HostileInputTest, GigabyteClaimsWithTinyDataAreRefusedInBoundedMemory)
{
    if (!CanCapMemory())
        std::printf("note: no address-space cap here (prlimit absent or a sanitizer build)\n");
    // 16384 x 16384 RGBA is inside the pixel limit: 1 GiB the 90-byte file cannot hold.
    ASSERT_TRUE(WriteAll(Path("claims_1gib.png"), PngSignature() + Ihdr(16384, 16384, 8, 6) +
                                                      Chunk("IDAT", Deflate(QByteArray(64, '\0'))) +
                                                      Chunk("IEND", {})));
    // The same lie in BMP headers, one beyond the limits and one inside them.
    QByteArray bmp = Encode(Picture(5, 3), "BMP");
    auto putLe32 = [&bmp](int at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    putLe32(18, 60000);
    putLe32(22, 60000);
    ASSERT_TRUE(WriteAll(Path("claims_14gb.bmp"), bmp));
    putLe32(18, 16000);
    putLe32(22, 16000);
    ASSERT_TRUE(WriteAll(Path("claims_1gb.bmp"), bmp));

    QStringList inputs = {Path("claims_1gib.png"), Path("claims_14gb.bmp"), Path("claims_1gb.bmp")};
    for (const char* name : {"huge_dimensions.png", "huge_width.png", "huge_height.png", "zero_width.png"})
        inputs << HostileFolder + "/" + name;
    EXPECT_EQ(RunEach(inputs), inputs);
}

TEST_F(HostileInputTest, ZlibBombsStopWithinTheImage)
{
    // 256 MiB of zeros in the image data after the last row, plain and interlaced: the rows are
    // all there, so the image is read and the rest is not inflated.
    const QByteArray zeros(256 << 20, '\0');
    for (bool interlaced : {false, true}) {
        const QByteArray stream = Deflate(GreyRows(16, 16, interlaced) + zeros);
        ASSERT_FALSE(stream.isEmpty());
        ASSERT_TRUE(WriteAll(Path(interlaced ? "bomb_adam7.png" : "bomb_plain.png"),
                             PngSignature() + Ihdr(16, 16, 8, 0, interlaced) + Chunk("IDAT", stream) +
                                 Chunk("IEND", {})));
    }
    QStringList inputs = {Path("bomb_plain.png"), Path("bomb_adam7.png")};
    for (const char* name : {"idat_bomb_after_rows.png", "extra_idat_after_stream.png", "idat_longer_than_image.png",
                             "ztxt_bomb_after_idat.png", "ztxt_bomb_before_idat.png", "iccp_bomb.png",
                             "many_text_chunks.png"})
        inputs << HostileFolder + "/" + name;
    EXPECT_TRUE(RunEach(inputs).isEmpty());
    for (const QString& name : inputs) {
        const RgbaImage result = Decoded(Path("out/" + QFileInfo(name).fileName()));
        EXPECT_EQ(result.width, 16u) << name.toStdString();
        EXPECT_EQ(result.height, 16u) << name.toStdString();
    }
    // The interlaced bomb shows the same pixels as the plain one.
    EXPECT_EQ(Decoded(Path("out/bomb_plain.png")).pixels, Decoded(Path("out/bomb_adam7.png")).pixels);
}

TEST_F(HostileInputTest, ChunksDeclaringGigabytesAreRefused)
{
    // tEXt and an unknown chunk claiming 2 GiB, and an iCCP claiming it in a short file.
    QByteArray iccp = PngSignature() + Ihdr(16, 16, 8, 0);
    Put32(iccp, 0x7FFFFFFF);
    iccp += QByteArray("iCCP", 4) + QByteArray("icc\0\0", 5) + QByteArray(100, 'x');
    ASSERT_TRUE(WriteAll(Path("iccp_claim.png"), iccp));
    const QStringList inputs = {Path("iccp_claim.png"), HostileFolder + "/huge_text_chunk.png",
                                HostileFolder + "/huge_unknown_chunk.png"};
    EXPECT_EQ(RunEach(inputs), inputs);
}

TEST_F(HostileInputTest, EmptyAndNonImageFilesAreRefused)
{
    ASSERT_TRUE(WriteAll(Path("empty.png"), {}));
    ASSERT_TRUE(WriteAll(Path("empty.jpg"), {}));
    ASSERT_TRUE(WriteAll(Path("notes.txt"), "not an image at all\n"));
    QByteArray noise(4096, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 24);
    ASSERT_TRUE(WriteAll(Path("noise.bin"), noise));
    ASSERT_TRUE(WriteAll(Path("text.png"), "a text file named like a PNG\n"));
    ASSERT_TRUE(QDir().mkpath(Path("folder.jpg")));
    QStringList inputs = {Path("empty.png"), Path("empty.jpg"), Path("notes.txt"), Path("noise.bin"),
                          Path("text.png"), Path("folder.jpg"), HostileFolder + "/empty.png",
                          HostileFolder + "/not_png.jpg", HostileFolder + "/signature_only.png"};
    if (QFileInfo::exists("/dev/null"))
        inputs << "/dev/null";
    EXPECT_EQ(RunEach(inputs), inputs);
}

TEST_F(HostileInputTest, RareFormatsAreRefusedUnread)
{
    // The ICNS file the decode fuzzer found: Qt's ICNS plugin asks for 8 GB for its empty entry.
    QFile icns(QStringLiteral(TESSALINE_TEST_DATA_DIR "/../fuzz/corpus/bitmap_decode/regress_icns_zero_length_entry"));
    ASSERT_TRUE(icns.open(QIODevice::ReadOnly));
    ASSERT_TRUE(WriteAll(Path("icon.icns"), icns.readAll()));
    QStringList inputs = {Path("icon.icns")};
    for (const char* format : {"XPM", "WBMP", "XBM"}) {
        const QByteArray bytes = Encode(Picture(8, 8), format);
        const QString name = Path(QString("picture.%1").arg(QString(format).toLower()));
        ASSERT_TRUE(WriteAll(name, bytes));
        inputs << name;
    }
    EXPECT_EQ(RunEach(inputs), inputs);
}

TEST_F(HostileInputTest, ExtremeShapesReduceToTheirOwnSize)
{
    struct Shape
    {
        const char* name;
        int width;
        int height;
    };
    QStringList inputs;
    for (const Shape& shape : {Shape{"one.png", 1, 1}, Shape{"row.png", 70000, 1}, Shape{"column.png", 1, 70000}}) {
        ASSERT_TRUE(WriteAll(Path(shape.name), Encode(Picture(shape.width, shape.height), "PNG")));
        inputs << Path(shape.name);
    }
    EXPECT_TRUE(RunEach(inputs).isEmpty());
    EXPECT_EQ(Decoded(Path("out/one.png")).width, 1u);
    const RgbaImage row = Decoded(Path("out/row.png"));
    EXPECT_EQ(row.width, 70000u);
    EXPECT_EQ(row.height, 1u);
    const RgbaImage column = Decoded(Path("out/column.png"));
    EXPECT_EQ(column.width, 1u);
    EXPECT_EQ(column.height, 70000u);
    // The transparent first columns stay transparent.
    EXPECT_EQ(row.pixels[3], 0);
    EXPECT_EQ(row.pixels[4 * 69999 + 3], 255);
}

TEST_F(HostileInputTest, SixteenBitAlphaKeepsItsTransparency)
{
    QImage deep(32, 8, QImage::Format_RGBA64);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const int alpha = x < 8 ? 0 : (x < 16 ? 255 : 65535); // 255 of 65535 is below 1 in 8 bits
            deep.setPixelColor(x, y, QColor::fromRgba64(static_cast<quint16>(x * 2000), 30000, 60000,
                                                         static_cast<quint16>(alpha)));
        }
    const QByteArray png = Encode(deep, "PNG");
    ASSERT_EQ(static_cast<unsigned char>(png[24]), 16) << "Qt wrote no 16-bit PNG";
    ASSERT_TRUE(WriteAll(Path("deep.png"), png));
    EXPECT_TRUE(RunEach({Path("deep.png")}).isEmpty());
    const RgbaImage result = Decoded(Path("out/deep.png"));
    ASSERT_EQ(result.width, 32u);
    for (std::uint32_t x = 0; x < 32; ++x)
        EXPECT_EQ(result.rows[4][x * 4 + 3], x < 16 ? 0 : 255) << "column " << x;
}

TEST_F(HostileInputTest, SingleColourAndFullyTransparentImages)
{
    QImage flat(33, 17, QImage::Format_ARGB32);
    flat.fill(qRgba(48, 128, 192, 255));
    QImage clear(70000, 1, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    ASSERT_TRUE(WriteAll(Path("flat.png"), Encode(flat, "PNG")));
    ASSERT_TRUE(WriteAll(Path("clear.png"), Encode(clear, "PNG")));
    EXPECT_TRUE(RunEach({Path("flat.png"), Path("clear.png")}).isEmpty());
    const RgbaImage one = Decoded(Path("out/flat.png"));
    ASSERT_FALSE(one.Empty());
    for (std::size_t i = 0; i < one.pixels.size(); i += 4) {
        ASSERT_NEAR(one.pixels[i], 48, 1);
        ASSERT_NEAR(one.pixels[i + 1], 128, 1);
        ASSERT_NEAR(one.pixels[i + 2], 192, 1);
        ASSERT_EQ(one.pixels[i + 3], 255);
    }
    const RgbaImage none = Decoded(Path("out/clear.png"));
    ASSERT_EQ(none.width, 70000u);
    for (std::size_t i = 3; i < none.pixels.size(); i += 4)
        ASSERT_EQ(none.pixels[i], 0);
}

} // namespace
} // namespace tessaline
