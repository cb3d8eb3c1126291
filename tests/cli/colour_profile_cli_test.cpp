// tessaline-cli on files with a colour profile and metadata: the conversion said in the summary
// and the report, the default output unchanged, and --keep-metadata's chunks in a valid file.

#include <gtest/gtest.h>
#include <lcms2.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

/// sRGB's primaries with red and green exchanged, sRGB's curve: a profile whose "red" is green.
QByteArray SwappedProfile()
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries{{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}};
    const cmsFloat64Number srgb[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve* curves[] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

/// `png` with `chunks` inserted right after IHDR.
QByteArray WithChunks(const QByteArray& png, const QByteArray& chunks)
{
    return png.left(33) + chunks + png.mid(33);
}

class ColourProfileCliTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(ColourProfileCliTest, ConversionIsSaidAndDefaultsAreUnchanged)
{
    // 24 x 16 RGB of one orange with a blue stroke, written chunk by chunk: nothing but the image.
    QByteArray rows;
    for (int y = 0; y < 16; ++y) {
        rows.append('\0');
        for (int x = 0; x < 24; ++x)
            rows.append(x < 12 && x == y ? QByteArray("\x0a\x5a\xf0", 3) : QByteArray("\xc8\x32\x0a", 3));
    }
    const QByteArray png =
        PngSignature() + Ihdr(24, 16, 8, 2) + Chunk("IDAT", Deflate(rows)) + Chunk("IEND", {});
    ASSERT_TRUE(WriteAll(Path("plain.png"), png));
    ASSERT_TRUE(WriteAll(Path("swapped.png"), WithChunks(png, Chunk("iCCP", QByteArray("icc\0\0", 5) +
                                                                                Deflate(SwappedProfile())))));
    const QByteArray exif("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 26);
    const QByteArray phys("\0\0\x0b\x13\0\0\x0b\x13\x01", 9);
    const QByteArray text("Title\0Harbour", 13);
    ASSERT_TRUE(WriteAll(Path("meta.png"),
                         WithChunks(png, Chunk("eXIf", exif) + Chunk("pHYs", phys) + Chunk("tEXt", text))));

    // Without --keep-metadata the file holds the image alone: the same bytes as from the bare file.
    const CliRun plain = RunCli({"-o", Path("plain-out.png"), Path("plain.png")});
    const CliRun meta = RunCli({"-o", Path("meta-out.png"), Path("meta.png")});
    ASSERT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    ASSERT_EQ(meta.exitCode, 0) << meta.err.toStdString();
    EXPECT_FALSE(plain.out.contains("sRGB"));
    EXPECT_EQ(ReadAll(Path("meta-out.png")), ReadAll(Path("plain-out.png")));

    // The swapped profile: said in the summary and the report, and the colours exchanged.
    const CliRun swapped =
        RunCli({"--report", Path("r.jsonl"), "-o", Path("swapped-out.png"), Path("swapped.png")});
    ASSERT_EQ(swapped.exitCode, 0) << swapped.err.toStdString();
    EXPECT_TRUE(swapped.out.contains("; converted to sRGB from \"")) << swapped.out.toStdString();
    const QJsonObject record = QJsonDocument::fromJson(ReadAll(Path("r.jsonl"))).object();
    EXPECT_FALSE(record["profile"].toString().isEmpty());
    EXPECT_TRUE(swapped.out.contains(record["profile"].toString()));
    RgbaImage result;
    ASSERT_EQ(ReadPngFile(result, ToPath(Path("swapped-out.png"))), PngReadOk);
    EXPECT_NEAR(result.pixels[4 * 23 + 0], 50, 2); // the top row's last pixel, outside the stroke
    EXPECT_NEAR(result.pixels[4 * 23 + 1], 200, 2);
    EXPECT_NEAR(result.pixels[4 * 23 + 2], 10, 2);

    // --keep-metadata: the chunks come through as they were, in a file pngcheck accepts.
    const CliRun kept = RunCli({"--keep-metadata", "-o", Path("kept.png"), Path("meta.png")});
    ASSERT_EQ(kept.exitCode, 0) << kept.err.toStdString();
    const QByteArray written = ReadAll(Path("kept.png"));
    for (const QByteArray& chunk : {Chunk("eXIf", exif), Chunk("pHYs", phys), Chunk("tEXt", text)})
        EXPECT_TRUE(written.contains(chunk));
    EXPECT_LT(written.indexOf("pHYs"), written.indexOf("IDAT"));
    const QString pngcheck = QStandardPaths::findExecutable("pngcheck");
    if (!pngcheck.isEmpty()) {
        QProcess check;
        check.start(pngcheck, {Path("kept.png")});
        ASSERT_TRUE(check.waitForFinished(60000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
    }
}

} // namespace
} // namespace tessaline
