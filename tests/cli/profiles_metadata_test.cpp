// tessaline-cli on photos with a colour profile and metadata, the promises kept on the roads off
// the happy path: a turned phone photo converted like an upright one, the turn reset in XMP as in
// EXIF, what --keep-metadata leaves out said in the summary and never passed on invalid or
// inflating past the limit, and a profile that is ignored or converted named for what it is.

#include <gtest/gtest.h>
#include <lcms2.h>

#include <QBuffer>
#include <QColorSpace>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

/// The bytes of `profile`, which is closed.
QByteArray Saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

/// A matrix-and-curves profile with sRGB's curve and `primaries`, saved as `version` (2 or 4),
/// described by `description` (Latin-1 bytes).
QByteArray RgbProfile(const cmsCIExyYTRIPLE& primaries, double version, const char* description)
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsFloat64Number srgb[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve* curves[] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsSetProfileVersion(profile, version);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    const QByteArray bytes = Saved(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

/// sRGB's primaries with red and green exchanged: a profile whose "red" is green.
QByteArray SwappedProfile(double version = 2, const char* description = "Swapped red and green")
{
    return RgbProfile({{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}}, version, description);
}

/// A grey profile (sRGB's curve).
QByteArray GreyProfile()
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE profile = cmsCreateGrayProfile(&white, curve);
    const QByteArray bytes = Saved(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

/// A 24 x 16 RGB PNG of one orange, with `chunks` right after IHDR.
QByteArray OrangePng(const QByteArray& chunks = {})
{
    QByteArray rows;
    for (int y = 0; y < 16; ++y) {
        rows.append('\0');
        for (int x = 0; x < 24; ++x)
            rows.append(QByteArray("\xc8\x32\x0a", 3));
    }
    return PngSignature() + Ihdr(24, 16, 8, 2) + chunks + Chunk("IDAT", Deflate(rows)) + Chunk("IEND", {});
}

QByteArray IccpChunk(const QByteArray& profile)
{
    return Chunk("iCCP", QByteArray("icc\0\0", 5) + Deflate(profile));
}

/// An EXIF block (TIFF, little-endian) holding only the orientation.
QByteArray ExifOrientation(int orientation)
{
    QByteArray exif("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\0\0\0\0\0\0\0\0", 26);
    exif[18] = static_cast<char>(orientation);
    return exif;
}

QByteArray JpegSegment(unsigned char marker, const QByteArray& payload)
{
    QByteArray segment("\xff", 1);
    segment.append(static_cast<char>(marker));
    const int length = static_cast<int>(payload.size()) + 2;
    segment.append(static_cast<char>(length >> 8));
    segment.append(static_cast<char>(length & 0xff));
    return segment + payload;
}

/// A 24 x 16 JPEG of one orange (written by Qt with `profile` embedded), with EXIF and XMP
/// segments saying `orientation` inserted after its start.
QByteArray OrangeJpeg(const QByteArray& profile, int orientation)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 50, 10));
    image.setColorSpace(QColorSpace::fromIccProfile(profile));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG", 100));
    const QByteArray jpeg = buffer.data();
    const QByteArray xmp = QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                           QString("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description "
                                   "tiff:Orientation=\"%1\"/><rdf:Description><tiff:Orientation>%1"
                                   "</tiff:Orientation></rdf:Description></rdf:RDF></x:xmpmeta>")
                               .arg(orientation)
                               .toUtf8();
    return jpeg.left(2) + JpegSegment(0xe1, QByteArray("Exif\0\0", 6) + ExifOrientation(orientation)) +
           JpegSegment(0xe1, xmp) + jpeg.mid(2);
}

/// Whether pngcheck (when installed) accepts the file; true without pngcheck.
bool PngcheckAccepts(const QString& path, std::string& said)
{
    const QString pngcheck = QStandardPaths::findExecutable("pngcheck");
    if (pngcheck.isEmpty())
        return true;
    QProcess check;
    check.start(pngcheck, {path});
    if (!check.waitForFinished(60000))
        return false;
    said = check.readAllStandardOutput().toStdString();
    return check.exitCode() == 0;
}

class ProfilesMetadataTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    CliRun Run(const QStringList& arguments) const
    {
        CliRun run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return run;
    }
    QTemporaryDir dir;
};

TEST_F(ProfilesMetadataTest, TurnedPhotoIsConvertedAndItsTurnResetInExifAndXmp)
{
    for (const int orientation : {1, 6, 8, 5}) {
        SCOPED_TRACE(orientation);
        const QString name = QString("phone-%1.jpg").arg(orientation);
        const QString out = QString("phone-%1.png").arg(orientation);
        ASSERT_TRUE(WriteAll(Path(name), OrangeJpeg(SwappedProfile(), orientation)));
        const CliRun run = Run({"--keep-metadata", "-o", Path(out), Path(name)});
        EXPECT_TRUE(run.out.contains("; converted to sRGB from \"Swapped red and green\""))
            << run.out.toStdString();
        RgbaImage result;
        ASSERT_EQ(ReadPngFile(result, ToPath(Path(out))), PngReadOk);
        // Turned a quarter for 5 to 8, and orange seen through the swapped profile is green.
        EXPECT_EQ(result.width, orientation >= 5 ? 16u : 24u);
        EXPECT_NEAR(result.pixels[0], 50, 4);
        EXPECT_NEAR(result.pixels[1], 200, 4);
        EXPECT_NEAR(result.pixels[2], 10, 4);
        // Both records of the turn say that the pixels stand upright now.
        const QByteArray written = ReadAll(Path(out));
        EXPECT_TRUE(written.contains(Chunk("eXIf", ExifOrientation(1))));
        EXPECT_TRUE(written.contains("tiff:Orientation=\"1\"")) << written.toStdString();
        EXPECT_TRUE(written.contains("<tiff:Orientation>1</tiff:Orientation>"));
        if (orientation != 1) {
            EXPECT_FALSE(written.contains(QString("tiff:Orientation=\"%1\"").arg(orientation).toUtf8()));
        }
    }
}

TEST_F(ProfilesMetadataTest, KeptMetadataIsBoundedValidAndWhatIsLeftOutIsSaid)
{
    // 70 text chunks: 64 are kept, 6 said to be dropped.
    QByteArray many;
    for (int i = 0; i < 70; ++i)
        many += Chunk("tEXt", QString("Note%1").arg(i).toLatin1() + '\0' + "text");
    ASSERT_TRUE(WriteAll(Path("many.png"), OrangePng(many)));
    const CliRun manyRun = Run({"--keep-metadata", "-o", Path("many-out.png"), Path("many.png")});
    EXPECT_TRUE(manyRun.out.contains("; 6 metadata chunks dropped at the limit of 64 chunks and 4 MiB"))
        << manyRun.out.toStdString();
    EXPECT_TRUE(ReadAll(Path("many-out.png")).contains("Note63"));
    EXPECT_FALSE(ReadAll(Path("many-out.png")).contains("Note64"));

    // Text that is not PNG text is not copied: a control character in the keyword, no separator,
    // an empty keyword, a zTXt whose stream is damaged. A valid one beside them is.
    const QByteArray invalid = Chunk("tEXt", QByteArray("Ti\x1btle\0x", 8)) + Chunk("tEXt", "NoSeparator") +
                               Chunk("tEXt", QByteArray("\0empty", 6)) +
                               Chunk("zTXt", QByteArray("Broken\0\0", 8) + "not zlib") +
                               Chunk("tEXt", QByteArray("Title\0Harbour", 13));
    ASSERT_TRUE(WriteAll(Path("invalid.png"), OrangePng(invalid)));
    const CliRun invalidRun = Run({"--keep-metadata", "-o", Path("invalid-out.png"), Path("invalid.png")});
    EXPECT_TRUE(invalidRun.out.contains("; 4 text chunks dropped as not valid PNG text"))
        << invalidRun.out.toStdString();
    const QByteArray cleaned = ReadAll(Path("invalid-out.png"));
    EXPECT_TRUE(cleaned.contains(Chunk("tEXt", QByteArray("Title\0Harbour", 13))));
    EXPECT_FALSE(cleaned.contains("NoSeparator"));
    EXPECT_FALSE(cleaned.contains("Broken"));
    std::string said;
    EXPECT_TRUE(PngcheckAccepts(Path("invalid-out.png"), said)) << said;

    // A zTXt and a compressed iTXt that inflate to 5 MiB each are not passed on; small ones are.
    const QByteArray bomb = Deflate(QByteArray(5 << 20, 'a'));
    const QByteArray inflating = Chunk("zTXt", QByteArray("Bomb\0\0", 6) + bomb) +
                                 Chunk("iTXt", QByteArray("Bomb2\0\x01\0\0\0", 10) + bomb) +
                                 Chunk("zTXt", QByteArray("Small\0\0", 7) + Deflate("fine"));
    ASSERT_TRUE(WriteAll(Path("bomb.png"), OrangePng(inflating)));
    const CliRun bombRun = Run({"--keep-metadata", "-o", Path("bomb-out.png"), Path("bomb.png")});
    EXPECT_TRUE(bombRun.out.contains("; 2 metadata chunks dropped at the limit")) << bombRun.out.toStdString();
    const QByteArray defused = ReadAll(Path("bomb-out.png"));
    EXPECT_FALSE(defused.contains("Bomb"));
    EXPECT_TRUE(defused.contains("Small"));
}

TEST_F(ProfilesMetadataTest, IgnoredOrConvertedProfileIsNamedForWhatItIs)
{
    // A PNG profile libpng drops says why, as a JPEG's does.
    ASSERT_TRUE(WriteAll(Path("grey.png"), OrangePng(IccpChunk(GreyProfile()))));
    const CliRun grey = Run({"-o", Path("grey-out.png"), Path("grey.png")});
    EXPECT_TRUE(grey.out.contains("; colour profile ignored: a grey profile on a colour image, colours taken as "
                                  "sRGB"))
        << grey.out.toStdString();
    ASSERT_TRUE(WriteAll(Path("lab.png"), OrangePng(IccpChunk(Saved(cmsCreateLab4Profile(nullptr))))));
    const CliRun lab = Run({"-o", Path("lab-out.png"), Path("lab.png")});
    EXPECT_TRUE(lab.out.contains("; colour profile ignored: not an RGB or grey profile")) << lab.out.toStdString();
    QByteArray huge = SwappedProfile() + QByteArray(5 << 20, '\0');
    for (int i = 0; i < 4; ++i) // the header's size field, big-endian
        huge[i] = static_cast<char>(static_cast<quint32>(huge.size()) >> (24 - 8 * i));
    ASSERT_TRUE(WriteAll(Path("huge.png"), OrangePng(IccpChunk(huge))));
    const CliRun large = Run({"-o", Path("huge-out.png"), Path("huge.png")});
    EXPECT_TRUE(large.out.contains("; colour profile ignored: larger than 4194304 bytes")) << large.out.toStdString();
    QByteArray cut = SwappedProfile();
    cut.truncate(cut.size() / 2);
    ASSERT_TRUE(WriteAll(Path("cut.png"), OrangePng(IccpChunk(cut))));
    const CliRun damaged = Run({"-o", Path("cut-out.png"), Path("cut.png")});
    EXPECT_TRUE(damaged.out.contains("; colour profile ignored: damaged")) << damaged.out.toStdString();

    // A version 4 profile with a version 2 description (LittleCMS opens it) is applied.
    QByteArray v4 = SwappedProfile(2);
    v4[8] = 4;
    ASSERT_TRUE(WriteAll(Path("v4.png"), OrangePng(IccpChunk(v4))));
    ASSERT_TRUE(WriteAll(Path("v4.jpg"), OrangeJpeg(v4, 1)));
    for (const QString name : {"v4.png", "v4.jpg"}) {
        const CliRun fourth = Run({"-o", Path("v4-out.png"), Path(name)});
        EXPECT_TRUE(fourth.out.contains("; converted to sRGB from \"Swapped red and green\""))
            << fourth.out.toStdString();
    }

    // A Latin-1 description comes whole, in UTF-8, in the summary and the report.
    ASSERT_TRUE(WriteAll(Path("latin.png"), OrangePng(IccpChunk(SwappedProfile(2, "Caf\xe9 RGB \xe0 la carte")))));
    const CliRun latin = Run({"--report", Path("r.csv"), "-o", Path("latin-out.png"), Path("latin.png")});
    EXPECT_TRUE(latin.out.contains(QString::fromUtf8("; converted to sRGB from \"Café RGB à la carte\"")))
        << latin.out.toStdString();
    EXPECT_TRUE(QString::fromUtf8(ReadAll(Path("r.csv"))).contains(QString::fromUtf8("Café RGB à la carte")));
}

} // namespace
} // namespace tessaline
