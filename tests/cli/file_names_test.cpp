// tessaline-cli with awkward file names: Japanese, spaces, a leading '-', and names at the file
// system's 255-byte limit, where OUTPUT/NAME.png fits but NAME.png.tmp would not.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/colour_model.h"
#include "imageio/input_names.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

constexpr int NameMaxBytes = 255;

QImage Picture()
{
    QImage image(20, 12, QImage::Format_ARGB32);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x)
            image.setPixel(x, y, qRgba(x * 12, y * 20, 90, x < 2 ? 0 : 255));
    return image;
}

bool Decodes(const QString& path)
{
    RgbaImage image;
    return ReadPngFile(image, ToPath(path)) == PngReadOk && image.width == 20;
}

class FileNamesTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    /// Only `names` in `folder`: no temporary stays behind.
    void ExpectOnly(const QString& folder, QStringList names) const
    {
        QStringList found = QDir(Path(folder)).entryList(QDir::Files | QDir::Hidden);
        found.sort();
        names.sort();
        EXPECT_EQ(found, names);
    }

    QTemporaryDir dir;
};

TEST_F(FileNamesTest, NamesAtTheLengthLimitWorkWithoutTemporaries)
{
    // 251 + ".png": the result OUTPUT/NAME.png is 255 bytes, its NAME.png.tmp would be 259.
    const QString ascii = QString(NameMaxBytes - 4, 'a') + ".png";
    // 83 three-byte characters + ".png" = 253 bytes; ".tmp" would make 257.
    const QString japanese = QString(83, QChar(0x5199)) + ".png";
    ASSERT_EQ(ascii.toUtf8().size(), NameMaxBytes);
    ASSERT_EQ(japanese.toUtf8().size(), 253);
    ASSERT_TRUE(Picture().save(Path(ascii), "PNG"));
    ASSERT_TRUE(Picture().save(Path(japanese), "PNG"));

    const CliRun run = RunCli({"--quiet", Path(ascii), Path(japanese)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(Decodes(Path("OUTPUT/" + ascii)));
    EXPECT_TRUE(Decodes(Path("OUTPUT/" + japanese)));
    ExpectOnly("OUTPUT", {ascii, japanese});

    // Writing again replaces both results through the same short temporaries.
    EXPECT_EQ(RunCli({"--quiet", "--colours", "4", Path(ascii), Path(japanese)}).exitCode, 0);
    ExpectOnly("OUTPUT", {ascii, japanese});
}

TEST_F(FileNamesTest, ResultNameBeyondTheLimitFailsCleanly)
{
    // A 255-byte name without an extension gets ".png" added: 259 bytes cannot be created.
    const QString name(NameMaxBytes, 'b');
    ASSERT_TRUE(Picture().save(Path(name), "PNG"));
    const CliRun run = RunCli({Path(name)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.ErrLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
    ExpectOnly("OUTPUT", {});
}

TEST_F(FileNamesTest, JapaneseSpacesAndDashesInEveryPosition)
{
    const QString input = QStringLiteral("-写真 の 名前 .jpg");
    ASSERT_TRUE(Picture().save(Path(input), "JPEG"));
    ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("-出力 先"))));

    // A leading '-' after "--", relative to the working folder; a dashed -o value.
    const CliRun named = RunCli({"--quiet", "-o", QStringLiteral("-結果 .png"), "--", input}, dir.path());
    EXPECT_EQ(named.exitCode, 0) << named.err.toStdString();
    EXPECT_TRUE(Decodes(Path(QStringLiteral("-結果 .png"))));

    const CliRun intoFolder = RunCli({"--quiet", "--output-dir", QStringLiteral("-出力 先"), "--", input}, dir.path());
    EXPECT_EQ(intoFolder.exitCode, 0) << intoFolder.err.toStdString();
    EXPECT_TRUE(Decodes(Path(QStringLiteral("-出力 先/-写真 の 名前 .png"))));
    ExpectOnly(QStringLiteral("-出力 先"), {QStringLiteral("-写真 の 名前 .png")});

    // Without "--" the dashed name is taken for an option: a usage error, nothing written.
    const CliRun unguarded = RunCli({"--quiet", input}, dir.path());
    EXPECT_EQ(unguarded.exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(Path("OUTPUT")));
}

#if !defined(_WIN32)
TEST_F(FileNamesTest, NamesKeepTheirBytesAndPrintEscaped)
{
    // Latin-1 "café", Shift-JIS "写真", a newline and a terminal escape sequence in names. The shell
    // hands them over as bytes (a glob, printf), as any caller may.
    namespace fs = std::filesystem;
    const fs::path base(dir.path().toStdString());
    const std::string names[] = {"caf\xe9.png", "\x8e\xca\x90\x5e.jpg", "two\nlines.png", "clear\x1b[2J.png"};
    fs::create_directory(base / "in");
    for (const std::string& name : names) {
        ASSERT_TRUE(Picture().save(Path("in/picture.png"), "PNG"));
        fs::rename(base / "in" / "picture.png", base / "in" / name);
    }
    QProcess shell;
    shell.setWorkingDirectory(Path("in"));
    shell.start("/bin/sh", {"-c", "\"$0\" --output-dir ../out -- * && exec \"$0\" --quiet -o \"../r$(printf '\\351')sultat.png\" "
                                  "-- caf*.png",
                            TESSALINE_CLI_PATH});
    ASSERT_TRUE(shell.waitForFinished(240000));
    const QByteArray out = shell.readAllStandardOutput();
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();

    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(base / "out"))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    std::vector<std::string> expected = {"caf\xe9.png", "\x8e\xca\x90\x5e.png", "two\nlines.png", "clear\x1b[2J.png"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(fs::is_regular_file(base / "r\xe9sultat.png"));

    EXPECT_EQ(out.count('\n'), 4) << "one line per file: " << out.toStdString();
    EXPECT_FALSE(out.contains('\x1b')) << "no escape sequence reaches the terminal";
    EXPECT_TRUE(out.contains("caf\\xe9.png -> ")) << out.toStdString();
    EXPECT_TRUE(out.contains("\\x8e")) << out.toStdString();
    EXPECT_TRUE(out.contains("two\\nlines.png -> ")) << out.toStdString();
    EXPECT_TRUE(out.contains("clear\\e[2J.png -> ")) << out.toStdString();
    // Qt cannot name these files to remove them with the folder.
    for (const auto& entry : fs::directory_iterator(base))
        fs::remove_all(entry.path());
}
#endif

} // namespace
} // namespace tessaline
