// tessaline-cli run as a process on files written here: what it writes must decode in readers
// other than its own writer, match the settings, and never take an input's place.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <zlib.h>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using clitest::ReadAll;
using RunResult = clitest::CliRun;

// Runs the tool; a crash or a hang leaves exit code -1, which fails every expectation.
RunResult RunCli(const QStringList& arguments, const QString& workDir = QString(),
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return clitest::RunCli(arguments, workDir, 0, environment);
}

// The chunks of a PNG file, walked by hand: an independent look at what the writer produced.
struct PngChunks
{
    bool valid = false;
    int colourType = -1;
    int bitDepth = -1;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int paletteEntries = -1; ///< -1: no PLTE
    QByteArray trns;         ///< empty: no tRNS
    bool hasTrns = false;
    bool hasGama = false;
};

std::uint32_t Be32(const QByteArray& data, qsizetype at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

PngChunks ParseChunks(const QByteArray& data)
{
    PngChunks chunks;
    if (!data.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return chunks;
    qsizetype at = 8;
    bool sawEnd = false;
    while (at + 12 <= data.size()) {
        const std::uint32_t length = Be32(data, at);
        const QByteArray type = data.mid(at + 4, 4);
        if (at + 12 + qsizetype(length) > data.size())
            return chunks;
        const QByteArray body = data.mid(at + 8, length);
        if (type == "IHDR" && length == 13) {
            chunks.width = Be32(body, 0);
            chunks.height = Be32(body, 4);
            chunks.bitDepth = static_cast<unsigned char>(body[8]);
            chunks.colourType = static_cast<unsigned char>(body[9]);
        } else if (type == "PLTE") {
            chunks.paletteEntries = static_cast<int>(length / 3);
        } else if (type == "tRNS") {
            chunks.trns = body;
            chunks.hasTrns = true;
        } else if (type == "gAMA") {
            chunks.hasGama = true;
        } else if (type == "IEND") {
            sawEnd = true;
            at += 12;
            break;
        }
        at += 12 + length;
    }
    chunks.valid = sawEnd && at == data.size();
    return chunks;
}

// A small picture with a gradient, fine detail, a translucent band and a transparent corner.
QImage TestPicture(int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int alpha = 255;
            if (y >= height * 3 / 4)
                alpha = (x * 255) / (width - 1);
            if (x < 6 && y < 6)
                alpha = 0;
            const int detail = ((x + y) % 2) * 40;
            image.setPixel(x, y, qRgba((x * 255) / (width - 1), (y * 255) / (height - 1), 128 + detail - 20, alpha));
        }
    return image;
}

QImage OpaquePicture(int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 4) & 255, (y * 5) & 255, ((x ^ y) * 3) & 255));
    return image;
}

bool Save(const QImage& image, const QString& path, const char* format = "PNG")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path, format);
}

// The result must be a palette PNG that libpng (through our reader) and, when installed,
// pngcheck accept, with at most `maxColours` entries and a tRNS that covers exactly the
// translucent entries.
void ExpectValidResult(const QString& path, int maxColours, bool transparentLast = false)
{
    SCOPED_TRACE(path.toStdString());
    const QByteArray bytes = ReadAll(path);
    ASSERT_FALSE(bytes.isEmpty()) << "no result file";
    const PngChunks chunks = ParseChunks(bytes);
    ASSERT_TRUE(chunks.valid);
    EXPECT_EQ(chunks.colourType, 3);
    EXPECT_TRUE(chunks.hasGama);
    ASSERT_GE(chunks.paletteEntries, 1);
    EXPECT_LE(chunks.paletteEntries, maxColours);
    EXPECT_LE(chunks.trns.size(), chunks.paletteEntries);
    if (transparentLast) {
        // The fully transparent entry is the last one, so the tRNS run reaches it.
        ASSERT_EQ(chunks.trns.size(), chunks.paletteEntries);
        EXPECT_EQ(chunks.trns.back(), '\0');
    } else {
        for (char alpha : chunks.trns)
            EXPECT_LT(static_cast<unsigned char>(alpha), 255) << "an opaque entry inside the tRNS run";
    }

    RgbaImage decoded;
    ASSERT_EQ(ReadPngFile(decoded, ToPath(path)), PngReadOk);
    EXPECT_EQ(decoded.width, chunks.width);
    EXPECT_EQ(decoded.height, chunks.height);
    std::set<std::uint32_t> colours;
    std::set<std::uint32_t> translucent;
    for (std::size_t i = 0; i < decoded.pixels.size(); i += 4) {
        const std::uint32_t rgba = decoded.pixels[i] | (decoded.pixels[i + 1] << 8) | (decoded.pixels[i + 2] << 16) |
                                   (std::uint32_t{decoded.pixels[i + 3]} << 24);
        colours.insert(rgba);
        if (decoded.pixels[i + 3] != 255)
            translucent.insert(rgba);
    }
    EXPECT_LE(colours.size(), static_cast<std::size_t>(chunks.paletteEntries));
    EXPECT_LE(translucent.size(), static_cast<std::size_t>(chunks.trns.size()));

    // Qt's decoder is a second reader: it must see exactly the pixels ours sees.
    const QImage qt = QImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(qt.isNull());
    ASSERT_EQ(static_cast<std::uint32_t>(qt.width()), decoded.width);
    ASSERT_EQ(static_cast<std::uint32_t>(qt.height()), decoded.height);
    int mismatches = 0;
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x) {
            const QRgb q = qt.pixel(x, y);
            const std::uint8_t* p = decoded.rows[static_cast<std::size_t>(y)] + 4 * x;
            if (qRed(q) != p[0] || qGreen(q) != p[1] || qBlue(q) != p[2] || qAlpha(q) != p[3])
                ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);

    const QString pngcheck = QStandardPaths::findExecutable("pngcheck");
    if (!pngcheck.isEmpty()) {
        QProcess check;
        check.start(pngcheck, {"-q", path});
        ASSERT_TRUE(check.waitForFinished(60000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
    }
}

class CliProcessTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

TEST_F(CliProcessTest, WritesIntoOutputBesideTheSourceByDefault)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    const RunResult run = RunCli({Path("pic.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << "stderr is not a terminal: no progress bar";
    EXPECT_TRUE(run.out.contains("OUTPUT")) << run.out.toStdString();
    ExpectValidResult(Path("OUTPUT/pic.png"), 256);

    // A translucent picture keeps a tRNS; an opaque one gets none.
    EXPECT_TRUE(ParseChunks(ReadAll(Path("OUTPUT/pic.png"))).hasTrns);
    ASSERT_TRUE(Save(OpaquePicture(), Path("flat.png")));
    ASSERT_EQ(RunCli({"--quiet", Path("flat.png")}).exitCode, 0);
    EXPECT_FALSE(ParseChunks(ReadAll(Path("OUTPUT/flat.png"))).hasTrns);
}

TEST_F(CliProcessTest, ExtensionRuleKeepsExactlyDotPng)
{
    ASSERT_TRUE(Save(TestPicture(), Path("a.PNG")));
    ASSERT_TRUE(Save(TestPicture(), Path("b.image"), "PNG"));
    ASSERT_TRUE(Save(TestPicture(), Path("noext"), "PNG"));
    const RunResult run = RunCli({"--quiet", Path("a.PNG"), Path("b.image"), Path("noext")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(QFile::exists(Path("OUTPUT/a.png")));
    EXPECT_TRUE(QFile::exists(Path("OUTPUT/b.png")));
    EXPECT_TRUE(QFile::exists(Path("OUTPUT/noext.png")));
}

TEST_F(CliProcessTest, ColourLimitAndSameBytesEveryRun)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    for (int colours : {2, 16, 64}) {
        SCOPED_TRACE(colours);
        const QString first = Path(QString("first%1.png").arg(colours));
        const QString second = Path(QString("second%1.png").arg(colours));
        ASSERT_EQ(RunCli({"--colours", QString::number(colours), "-o", first, Path("pic.png")}).exitCode, 0);
        ASSERT_EQ(RunCli({"--colours", QString::number(colours), "-o", second, Path("pic.png")}).exitCode, 0);
        ExpectValidResult(first, colours);
        EXPECT_EQ(ReadAll(first), ReadAll(second));
    }
    // Settings reach the engine: each of these changes the result of the translucent picture.
    for (const QStringList& extra : {QStringList{"--ie6"}, QStringList{"--opacity", "128"},
                                     QStringList{"--voronoi", "0"}}) {
        SCOPED_TRACE(extra.join(' ').toStdString());
        const QString out = Path("variant.png");
        ASSERT_EQ(RunCli(QStringList{"--colours", "16"} + extra + QStringList{"-o", out, Path("pic.png")}).exitCode, 0);
        ExpectValidResult(out, 16);
        EXPECT_NE(ReadAll(out), ReadAll(Path("first16.png")));
    }
    // Without dithering the result differs from the dithered one.
    ASSERT_EQ(RunCli({"--colours", "16", "--no-dither", "-o", Path("plain.png"), Path("pic.png")}).exitCode, 0);
    ExpectValidResult(Path("plain.png"), 16);
    EXPECT_NE(ReadAll(Path("plain.png")), ReadAll(Path("first16.png")));
}

TEST_F(CliProcessTest, MaxCompressionWritesTheSameImageNoLarger)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    ASSERT_EQ(RunCli({"-o", Path("default.png"), Path("pic.png")}).exitCode, 0);
    ASSERT_EQ(RunCli({"--compression", "max", "-o", Path("max.png"), Path("pic.png")}).exitCode, 0);
    ExpectValidResult(Path("max.png"), 256);
    const QImage fast(Path("default.png"));
    const QImage small(Path("max.png"));
    ASSERT_EQ(small.format(), QImage::Format_Indexed8);
    EXPECT_EQ(small.colorTable(), fast.colorTable());
    EXPECT_EQ(small, fast);
    EXPECT_LE(ReadAll(Path("max.png")).size(), ReadAll(Path("default.png")).size());
}

TEST_F(CliProcessTest, TransparentLastMovesTheTransparentEntryToTheEnd)
{
    QImage half = OpaquePicture().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < half.height(); ++y)
        for (int x = 0; x < half.width() / 2; ++x)
            half.setPixel(x, y, qRgba(0, 0, 0, 0));
    ASSERT_TRUE(Save(half, Path("half.png")));
    ASSERT_EQ(RunCli({"--colours", "16", "-o", Path("first.png"), Path("half.png")}).exitCode, 0);
    ASSERT_EQ(RunCli({"--colours", "16", "--transparent-last", "-o", Path("last.png"), Path("half.png")}).exitCode, 0);
    ExpectValidResult(Path("first.png"), 16);
    ExpectValidResult(Path("last.png"), 16, true);
    EXPECT_EQ(ParseChunks(ReadAll(Path("first.png"))).trns, QByteArray(1, '\0'));
}

TEST_F(CliProcessTest, AllTransparentInputStaysAllTransparent)
{
    QImage clear(40, 30, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    ASSERT_TRUE(Save(clear, Path("clear.png")));
    const RunResult run = RunCli({"-o", Path("out.png"), Path("clear.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path("out.png"), 256);
    RgbaImage decoded;
    ASSERT_EQ(ReadPngFile(decoded, ToPath(Path("out.png"))), PngReadOk);
    for (std::size_t i = 3; i < decoded.pixels.size(); i += 4)
        ASSERT_EQ(decoded.pixels[i], 0) << "pixel " << i / 4;
}

TEST_F(CliProcessTest, JpegAndBmpInputsAreDecodedThroughQt)
{
    ASSERT_TRUE(Save(OpaquePicture(), Path("photo.jpg"), "JPEG"));
    ASSERT_TRUE(Save(TestPicture(), Path("bitmap.bmp"), "BMP"));
    const RunResult run = RunCli({"--colours", "32", Path("photo.jpg"), Path("bitmap.bmp")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path("OUTPUT/photo.png"), 32);
    ExpectValidResult(Path("OUTPUT/bitmap.png"), 32);
}

// The tool loads Qt's image readers as a module beside it; a copy without the module still
// reduces PNG files and refuses the others with a reason, in the same run.
TEST_F(CliProcessTest, WithoutItsBitmapModuleOtherFilesFailWithAReasonAndPngStillWorks)
{
    ASSERT_TRUE(QDir().mkpath(Path("alone")));
    ASSERT_TRUE(QFile::copy(TESSALINE_CLI_PATH, Path("alone/tessaline-cli")));
    ASSERT_TRUE(Save(OpaquePicture(), Path("photo.jpg"), "JPEG"));
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    QProcess process;
    process.start(Path("alone/tessaline-cli"),
                  {"--quiet", "--output-dir", Path("out"), Path("photo.jpg"), Path("pic.png")});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(
        err.contains(Path("photo.jpg") + ": not a PNG, and the reader of other formats cannot be loaded"))
        << err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("out/photo.png")));
    ExpectValidResult(Path("out/pic.png"), 256);
}

TEST_F(CliProcessTest, NeedsNoDisplay)
{
    ASSERT_TRUE(Save(OpaquePicture(), Path("photo.jpg"), "JPEG"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    // A platform plugin that cannot start here: the tool must not ask for one at all.
    environment.insert("QT_QPA_PLATFORM", "xcb");
    const RunResult run = RunCli({"-o", Path("out.png"), Path("photo.jpg")}, QString(), environment);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path("out.png"), 256);
}

TEST_F(CliProcessTest, BadUsageExitsWithTwoAndWritesNothing)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    const std::vector<QStringList> cases = {
        {},
        {"--no-such-option", Path("pic.png")},
        {"--colours", "1", Path("pic.png")},
        {"--colours", "257", Path("pic.png")},
        {"--opacity", "0", Path("pic.png")},
        {"--histogram", "64", Path("pic.png")},
        {"--feedback", "50", Path("pic.png")},
        {"--voronoi", "8", Path("pic.png")},
        {"--convergence", "12", Path("pic.png")},
        {"--user-weight", "101", Path("pic.png")},
        {"--colours", "many", Path("pic.png")},
        {"-o", Path("x.png"), Path("pic.png"), Path("pic.png")},
        {"--weights", Path("pic.png"), "--no-contrast-map", Path("pic.png")},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const RunResult run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith("tessaline-cli: ")) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Path("OUTPUT")));
    EXPECT_FALSE(QFileInfo::exists(Path("x.png")));

    const RunResult help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("色数")));
    EXPECT_TRUE(help.out.contains("--colours N"));
    const RunResult version = RunCli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("tessaline-cli "));
}

TEST_F(CliProcessTest, EachBadFileIsNamedOnceWhileTheOthersGoOn)
{
    ASSERT_TRUE(Save(TestPicture(), Path("good.png")));
    QFile text(Path("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not an image\n");
    text.close();
    QFile broken(Path("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(ReadAll(Path("good.png")).left(100)); // a PNG cut short
    broken.close();
    QDir().mkpath(Path("folder.png"));

    const RunResult run = RunCli({Path("missing.png"), Path("notes.txt"), Path("good.png"), Path("broken.png"),
                                  Path("folder.png")});
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << run.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith("tessaline-cli: " + Path("missing.png") + ": cannot read")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("tessaline-cli: " + Path("notes.txt") + ": not a supported image"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("tessaline-cli: " + Path("broken.png") + ": ")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("tessaline-cli: " + Path("folder.png") + ": cannot read")) << lines[3].toStdString();
    ExpectValidResult(Path("OUTPUT/good.png"), 256);
    EXPECT_FALSE(QFile::exists(Path("OUTPUT/notes.png")));
    EXPECT_FALSE(QFile::exists(Path("OUTPUT/broken.png")));
    EXPECT_FALSE(QFile::exists(Path("OUTPUT/missing.png")));
    EXPECT_EQ(QDir(Path("OUTPUT")).entryList(QDir::Files).size(), 1);
}

#if !defined(_WIN32)
TEST_F(CliProcessTest, APipeIsRefusedWithoutWaitingForAWriter)
{
    ASSERT_EQ(mkfifo(QFile::encodeName(Path("pipe.png")).constData(), 0600), 0);
    const RunResult run = RunCli({Path("pipe.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("not a regular file")) << run.err.toStdString();
    const RunResult weights = RunCli({"--weights", Path("pipe.png"), Path("pipe.png")});
    EXPECT_EQ(weights.exitCode, 1);
}
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALINE_CLI_TEST_ASAN 1
#endif
#endif
// AddressSanitizer reserves terabytes of address space, so it cannot run under an address limit.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(TESSALINE_CLI_TEST_ASAN)
// A PNG of width x height grey pixels, all alike, so the file stays small however large the image.
QByteArray UniformPng(std::uint32_t width, std::uint32_t height)
{
    QByteArray row(static_cast<qsizetype>(width) + 1, '\x60');
    row[0] = 0; // filter: none
    z_stream stream{};
    deflateInit(&stream, 6);
    QByteArray compressed;
    std::vector<char> buffer(1 << 16);
    for (std::uint32_t y = 0; y < height; ++y) {
        stream.next_in = reinterpret_cast<Bytef*>(row.data());
        stream.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            stream.avail_out = static_cast<uInt>(buffer.size());
            deflate(&stream, flush);
            compressed.append(buffer.data(), static_cast<qsizetype>(buffer.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    // 8-bit grey, not interlaced.
    return clitest::PngSignature() + clitest::Ihdr(width, height, 8, 0) + clitest::Chunk("IDAT", compressed) +
           clitest::Chunk("IEND", QByteArray());
}

TEST_F(CliProcessTest, RunningOutOfMemoryIsAFailureNotACrash)
{
    // 144 megapixels: 576 MB as RGBA. Under a 1 GB address-space limit the reduction cannot
    // get what it needs, whichever allocation fails first.
    QFile big(Path("big.png"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(UniformPng(12000, 12000));
    big.close();
    ASSERT_TRUE(Save(TestPicture(), Path("small.png")));
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OMP_NUM_THREADS", "2"); // thread stacks count against the limit too
    shell.setProcessEnvironment(environment);
    shell.start("/bin/sh", {"-c", "ulimit -v 1000000 && exec \"$0\" --quiet --output-dir \"$1\" \"$2\" \"$3\"",
                            TESSALINE_CLI_PATH, Path("out"), Path("big.png"), Path("small.png")});
    ASSERT_TRUE(shell.waitForFinished(300000));
    ASSERT_EQ(shell.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(shell.readAllStandardError());
    EXPECT_EQ(shell.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith("tessaline-cli: " + Path("big.png") + ": out of memory")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("out/big.png")));
    ExpectValidResult(Path("out/small.png"), 256); // the next file still goes through
}

TEST_F(CliProcessTest, ThreadsThatCannotStartMeanFewerThreadsNotAFailedBatch)
{
    // 32 threads of 64 MiB stacks cannot all start within 1 GB of address space.
    ASSERT_TRUE(Save(TestPicture(200, 150), Path("one.png"))); // parallel loops above 3000 pixels
    ASSERT_TRUE(Save(TestPicture(120, 100), Path("two.png")));
    QProcess shell;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OMP_NUM_THREADS", "32");
    environment.insert("OMP_STACKSIZE", "64M");
    shell.setProcessEnvironment(environment);
    shell.start("/bin/sh", {"-c", "ulimit -v 1000000 && exec \"$0\" --quiet --output-dir \"$1\" \"$2\" \"$3\"",
                            TESSALINE_CLI_PATH, Path("out"), Path("one.png"), Path("two.png")});
    ASSERT_TRUE(shell.waitForFinished(300000));
    ASSERT_EQ(shell.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(shell.readAllStandardError());
    EXPECT_EQ(shell.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    ExpectValidResult(Path("out/one.png"), 256);
    ExpectValidResult(Path("out/two.png"), 256);
}
#endif

TEST_F(CliProcessTest, UnwritableDestinationIsAFailureWithoutAFile)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    const RunResult run = RunCli({"-o", Path("no/such/folder/out.png"), Path("pic.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("no")));
}

TEST_F(CliProcessTest, WeightsChangeTheResultAndMustMatchTheSize)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    QImage weights(64, 48, QImage::Format_ARGB32);
    weights.fill(Qt::transparent);
    for (int y = 30; y < 48; ++y)
        for (int x = 0; x < 20; ++x)
            weights.setPixel(x, y, qRgba(0, 0, 0, 255));
    ASSERT_TRUE(Save(weights, Path("weights.png")));

    ASSERT_EQ(RunCli({"--colours", "8", "-o", Path("plain.png"), Path("pic.png")}).exitCode, 0);
    const RunResult weighted =
        RunCli({"--colours", "8", "--weights", Path("weights.png"), "--user-weight", "100", "-o", Path("weighted.png"),
                Path("pic.png")});
    ASSERT_EQ(weighted.exitCode, 0) << weighted.err.toStdString();
    ExpectValidResult(Path("weighted.png"), 8);
    EXPECT_NE(ReadAll(Path("plain.png")), ReadAll(Path("weighted.png")));

    ASSERT_TRUE(Save(weights.copy(0, 0, 32, 48), Path("small.png")));
    const RunResult wrong = RunCli({"--weights", Path("small.png"), "-o", Path("wrong.png"), Path("pic.png")});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains("weights")) << wrong.err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("wrong.png")));

    const RunResult missing = RunCli({"--weights", Path("none.png"), "-o", Path("none-out.png"), Path("pic.png")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(QFile::exists(Path("none-out.png")));
}

TEST_F(CliProcessTest, JapaneseSpacedAndDashNamesWork)
{
    const QString japanese = QStringLiteral("写真 テスト.png");
    const QString dash = QStringLiteral("-dash name.png");
    ASSERT_TRUE(Save(TestPicture(), Path(japanese)));
    ASSERT_TRUE(Save(TestPicture(), Path(dash)));
    // Relative names from the folder itself, so the '-' is the first character of the argument.
    const RunResult run = RunCli({"--colours", "16", "--", japanese, dash}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path(QStringLiteral("OUTPUT/写真 テスト.png")), 16);
    ExpectValidResult(Path("OUTPUT/-dash name.png"), 16);

    const RunResult toJapaneseDir =
        RunCli({"--output-dir", Path(QStringLiteral("出力 フォルダ")), "--", dash}, dir.path());
    ASSERT_EQ(toJapaneseDir.exitCode, 0) << toJapaneseDir.err.toStdString();
    ExpectValidResult(Path(QStringLiteral("出力 フォルダ/-dash name.png")), 256);
}

TEST_F(CliProcessTest, OutputDirIsCreatedWhenMissing)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    ASSERT_TRUE(Save(OpaquePicture(), Path("photo.jpg"), "JPEG"));
    const RunResult run = RunCli({"--output-dir", Path("deep/er/out"), Path("pic.png"), Path("photo.jpg")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path("deep/er/out/pic.png"), 256);
    ExpectValidResult(Path("deep/er/out/photo.png"), 256);
    EXPECT_FALSE(QFileInfo::exists(Path("OUTPUT")));
}

TEST_F(CliProcessTest, AnInputIsNeverOverwrittenUnlessMinusONamesIt)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    const QByteArray original = ReadAll(Path("pic.png"));

    // --output-dir is the input's own folder: the result would take the input's name.
    const RunResult same = RunCli({"--output-dir", dir.path(), Path("pic.png")});
    EXPECT_EQ(same.exitCode, 1);
    EXPECT_TRUE(same.err.contains("refusing to overwrite")) << same.err.toStdString();
    EXPECT_EQ(ReadAll(Path("pic.png")), original);

    // An input inside an OUTPUT folder goes one level deeper, never onto itself.
    ASSERT_TRUE(Save(TestPicture(), Path("OUTPUT/inner.png")));
    const QByteArray inner = ReadAll(Path("OUTPUT/inner.png"));
    ASSERT_EQ(RunCli({Path("OUTPUT/inner.png")}).exitCode, 0);
    EXPECT_EQ(ReadAll(Path("OUTPUT/inner.png")), inner);
    ExpectValidResult(Path("OUTPUT/OUTPUT/inner.png"), 256);

    // Two inputs where the first one's result would replace the second input.
    ASSERT_TRUE(Save(OpaquePicture(), Path("OUTPUT/pic.png")));
    const QByteArray second = ReadAll(Path("OUTPUT/pic.png"));
    const RunResult pair = RunCli({Path("pic.png"), Path("OUTPUT/pic.png")});
    EXPECT_EQ(pair.exitCode, 1);
    EXPECT_TRUE(pair.err.contains("refusing to overwrite")) << pair.err.toStdString();
    EXPECT_EQ(ReadAll(Path("OUTPUT/pic.png")), second);
    EXPECT_EQ(ReadAll(Path("pic.png")), original);

    // Two sources with one result name: the second does not replace the first one's result.
    ASSERT_TRUE(Save(OpaquePicture(), Path("twin.jpg"), "JPEG"));
    ASSERT_TRUE(Save(TestPicture(), Path("twin.bmp"), "BMP"));
    const RunResult twins = RunCli({"--colours", "7", Path("twin.jpg"), Path("twin.bmp")});
    EXPECT_EQ(twins.exitCode, 1);
    EXPECT_EQ(twins.err.count('\n'), 1) << twins.err.toStdString();
    EXPECT_TRUE(twins.err.contains(Path("twin.bmp")));
    EXPECT_FALSE(ParseChunks(ReadAll(Path("OUTPUT/twin.png"))).hasTrns) << "the JPEG's opaque result was kept";

    // -o naming the input replaces it, as the save dialog may.
    const RunResult replace = RunCli({"--colours", "16", "-o", Path("pic.png"), Path("pic.png")});
    ASSERT_EQ(replace.exitCode, 0) << replace.err.toStdString();
    ExpectValidResult(Path("pic.png"), 16);
}

TEST_F(CliProcessTest, TheWeightsImageIsAnInputToo)
{
    // The painted mask is photo.png beside photo.jpg; --output-dir . would give the result its name.
    ASSERT_TRUE(Save(OpaquePicture(), Path("photo.jpg"), "JPEG"));
    QImage mask(64, 48, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int x = 0; x < 64; ++x)
        mask.setPixel(x, 10, qRgba(0, 0, 0, 255));
    ASSERT_TRUE(Save(mask, Path("photo.png")));
    const QByteArray painted = ReadAll(Path("photo.png"));

    const RunResult run = RunCli({"--weights", "photo.png", "--output-dir", ".", "photo.jpg"}, dir.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("refusing to overwrite the weights image")) << run.err.toStdString();
    EXPECT_EQ(ReadAll(Path("photo.png")), painted);

    // Elsewhere the same weights are used as before.
    const RunResult elsewhere = RunCli({"--weights", "photo.png", "--output-dir", "out", "photo.jpg"}, dir.path());
    ASSERT_EQ(elsewhere.exitCode, 0) << elsewhere.err.toStdString();
    ExpectValidResult(Path("out/photo.png"), 256);
    EXPECT_EQ(ReadAll(Path("photo.png")), painted);
}

#if !defined(_WIN32)
// The check that no result replaces an input looks each file up a fixed number of times, however
// many inputs the run has. Counted in file-status calls under strace, not in seconds.
TEST_F(CliProcessTest, ManyInputsCostAFewLookupsEach)
{
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed";
    constexpr int Inputs = 400;
    QStringList names;
    for (int i = 0; i < Inputs; ++i) {
        const QString name = QString("f%1.png").arg(i);
        QFile empty(Path(name)); // empty files: refused at once, after the destination check
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        names << name;
    }
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(strace, QStringList{"-f", "-qq", "-e", "trace=%%stat", "-o", Path("trace.txt"), TESSALINE_CLI_PATH,
                                      "--quiet"} +
                              names);
    ASSERT_TRUE(process.waitForFinished(300000));
    ASSERT_EQ(process.exitCode(), 1); // every input is refused as unreadable
    const qsizetype lookups = ReadAll(Path("trace.txt")).count('\n');
    // A check against every other input made about 4 * Inputs lookups per input.
    EXPECT_LT(lookups, 40 * Inputs) << lookups << " file-status calls for " << Inputs << " inputs";
    EXPECT_FALSE(QFileInfo::exists(Path("OUTPUT/f0.png")));
}
#endif

TEST_F(CliProcessTest, TimingsAndQuiet)
{
    ASSERT_TRUE(Save(TestPicture(), Path("pic.png")));
    const RunResult timed = RunCli({"--timings", "-o", Path("t.png"), Path("pic.png")});
    ASSERT_EQ(timed.exitCode, 0) << timed.err.toStdString();
    for (const char* stage : {"load", "2 alpha raise", "4 histogram", "5 median cut", "6 Voronoi refinement",
                              "10 dithered remap", "write"})
        EXPECT_TRUE(timed.out.contains(stage)) << stage << "\n" << timed.out.toStdString();

    const RunResult quiet = RunCli({"--quiet", "-o", Path("q.png"), Path("pic.png")});
    ASSERT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.out.isEmpty());
    EXPECT_TRUE(quiet.err.isEmpty());
}

TEST_F(CliProcessTest, ReducesTheProjectsTestCard)
{
    QProcess make;
    make.start(TESSALINE_MAKE_SAMPLE_PATH, {Path("card.png")});
    ASSERT_TRUE(make.waitForFinished(120000));
    ASSERT_EQ(make.exitCode(), 0);
    const QImage card(Path("card.png"));
    ASSERT_FALSE(card.isNull());
    EXPECT_TRUE(card.hasAlphaChannel());
    EXPECT_EQ(qAlpha(card.pixel(0, 0)), 0) << "transparent corner";

    const RunResult run = RunCli({"--colours", "64", "-o", Path("out.png"), Path("card.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectValidResult(Path("out.png"), 64);
    EXPECT_TRUE(ParseChunks(ReadAll(Path("out.png"))).hasTrns);
}

TEST_F(CliProcessTest, MakeSampleTakesOptionsAsOptionsAndNamesAfterDashes)
{
    const auto make = [this](const QStringList& arguments) {
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(TESSALINE_MAKE_SAMPLE_PATH, arguments);
        EXPECT_TRUE(process.waitForFinished(120000));
        return std::pair{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
    };
    const auto help = make({"--help"});
    EXPECT_EQ(help.first, 0);
    EXPECT_TRUE(help.second.startsWith("usage: tessaline-make-sample")) << help.second.toStdString();
    EXPECT_EQ(make({"--colours", "16"}).first, 2);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty()) << "no file named like an option";
    EXPECT_EQ(make({"--", "-card.png", "32", "16"}).first, 0);
    EXPECT_EQ(QImage(Path("-card.png")).size(), QSize(32, 16));
}

TEST_F(CliProcessTest, EveryPngSuiteImageReducesToSixtyFourColours)
{
    const QString suite = QString(TESSALINE_SHARED_DIR) + "/testdata/pngsuite";
    const QStringList names = QDir(suite).entryList({"*.png"}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        GTEST_SKIP() << "no PngSuite in " << suite.toStdString();
    int reduced = 0;
    for (const QString& name : names) {
        if (name.startsWith('x'))
            continue; // the deliberately broken files
        SCOPED_TRACE(name.toStdString());
        const QString out = Path("suite-" + name);
        const RunResult run = RunCli({"--quiet", "--colours", "64", "-o", out, suite + "/" + name});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << "no library's own lines beside ours: " << run.err.toStdString();
        ExpectValidResult(out, 64);
        ++reduced;
    }
    EXPECT_GT(reduced, 100);
}

TEST_F(CliProcessTest, BrokenPngSuiteFilesAreRefusedCleanly)
{
    const QString suite = QString(TESSALINE_SHARED_DIR) + "/testdata/pngsuite";
    const QStringList names = QDir(suite).entryList({"x*.png"}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        GTEST_SKIP() << "no PngSuite in " << suite.toStdString();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString out = Path("broken-" + name);
        const RunResult run = RunCli({"-o", out, suite + "/" + name});
        // Qt may still decode a file libpng refuses; what matters is a clean end either way.
        ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
        if (run.exitCode == 1) {
            EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
            EXPECT_FALSE(QFile::exists(out));
        } else {
            ExpectValidResult(out, 256);
        }
    }
}

} // namespace
} // namespace tessaline
