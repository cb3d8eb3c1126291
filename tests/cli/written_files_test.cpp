// tessaline-cli's files besides results, run as a process: the --save-palette file is written
// under the rules a result follows (never over a file the run reads or writes, refused before
// anything is written), keeps standard output to one file, says why it fails, and agrees with the
// exit status, the report and a later --skip-existing when it does; its .gpl name is data.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include "tests/cli/cli_test_support.h"
#include "tests/cli/palette_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

class WrittenFilesTest : public PaletteFolderTest
{
protected:
    void SetUp() override
    {
        PaletteFolderTest::SetUp();
        ASSERT_TRUE(Gradient(1, 32).save(Path("a.png")));
        ASSERT_TRUE(Gradient(2, 32).save(Path("b.png")));
    }
};

TEST_F(WrittenFilesTest, SavedPaletteNeverReplacesAFileOfTheRunAndIsRefusedFirst)
{
    ASSERT_TRUE(WriteAll(Path("r.jsonl"), "earlier report\n"));
    ASSERT_TRUE(WriteAll(Path("given.gpl"), "GIMP Palette\n0 0 0\n255 255 255\n"));
    ASSERT_TRUE(WriteAll(Path("kept.gpl"), "GIMP Palette\n10 20 30\n"));
    ASSERT_TRUE(Gradient(3, 32).save(Path("weights.png")));
    ASSERT_TRUE(WriteAll(Path("taken.png"), "a result of an earlier run"));
    struct Case
    {
        const char* what;
        QStringList arguments;
        QString target; // the file that must keep its bytes (or stay missing)
    };
    const QList<Case> cases = {
        {"the report", {"--report", Path("r.jsonl"), "--save-palette", Path("r.jsonl"), "-o", Path("o.png"), Path("a.png")},
         Path("r.jsonl")},
        {"the given palette", {"--palette", Path("given.gpl"), "--save-palette", Path("given.gpl"), "-o", Path("o.png"),
                               Path("a.png")}, Path("given.gpl")},
        {"the keep file", {"--keep-from", Path("kept.gpl"), "--save-palette", Path(".") + "/kept.gpl", "-o", Path("o.png"),
                           Path("a.png")}, Path("kept.gpl")},
        {"the weights", {"--weights", Path("weights.png"), "--save-palette", Path("weights.png"), "-o", Path("o.png"),
                         Path("a.png")}, Path("weights.png")},
        {"an input", {"--shared-palette", "--save-palette", Path("b.png"), "--output-dir", Path("out"), Path("a.png"),
                      Path("b.png")}, Path("b.png")},
        {"the result", {"--save-palette", Path("o.png"), "-o", Path("o.png"), Path("a.png")}, Path("o.png")},
        {"a shared result", {"--shared-palette", "--save-palette", Path("out/b.png"), "--output-dir", Path("out"),
                             Path("a.png"), Path("b.png")}, Path("out/b.png")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray before = ReadAll(c.target);
        const bool existed = QFileInfo::exists(c.target);
        const CliRun run = RunCli(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
        ASSERT_EQ(run.ErrLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("--save-palette")) << run.err.toStdString();
        EXPECT_EQ(QFileInfo::exists(c.target), existed);
        EXPECT_EQ(ReadAll(c.target), before);
        // Refused before anything was written: no result, no folder.
        EXPECT_FALSE(QFileInfo::exists(Path("o.png")));
        EXPECT_FALSE(QFileInfo::exists(Path("out")));
    }
    EXPECT_EQ(ReadAll(Path("r.jsonl")), "earlier report\n");
}

TEST_F(WrittenFilesTest, StandardOutputHoldsOneFile)
{
    // The palette there with the result there too: refused, nothing on standard output.
    for (const QString palette : {"-", "/dev/stdout"}) {
        SCOPED_TRACE(palette.toStdString());
        const CliRun both = RunCli({"--save-palette", palette, "-o", "-", Path("a.png")}, dir.path());
        EXPECT_EQ(both.exitCode, 2) << both.err.toStdString();
        EXPECT_TRUE(both.out.isEmpty());
    }
    // The palette alone there: standard output is exactly the palette file, the summary on stderr.
    for (const QString palette : {"-", "/dev/stdout"}) {
        SCOPED_TRACE(palette.toStdString());
        QFile::remove(Path("o.png"));
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(CliPath(), {"--save-palette", palette, "-o", Path("o.png"), Path("a.png")});
        ASSERT_TRUE(process.waitForFinished(240000));
        EXPECT_EQ(process.exitCode(), 0);
        const QByteArray out = process.readAllStandardOutput();
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains("o.png ("));
        ASSERT_TRUE(WriteAll(Path("piped.png"), out));
        EXPECT_TRUE(out.startsWith("\x89PNG"));
        EXPECT_FALSE(out.contains("colours,"));
        EXPECT_FALSE(PaletteOf("piped.png").empty());
        EXPECT_EQ(PaletteOf("piped.png"), PaletteOf("o.png"));
    }
    EXPECT_FALSE(QFileInfo::exists(Path("-")));

    // Standard output on a terminal takes no PNG (script gives the tool one).
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        GTEST_SKIP() << "no script to give the tool a terminal";
    QFile::remove(Path("o.png"));
    QProcess terminal;
    terminal.start(script, {"-qec", QString("'%1' --save-palette - -o '%2' '%3'")
                                        .arg(CliPath(), Path("o.png"), Path("a.png")),
                            "/dev/null"});
    ASSERT_TRUE(terminal.waitForFinished(240000));
    EXPECT_EQ(terminal.exitCode(), 2);
    EXPECT_TRUE(terminal.readAllStandardOutput().contains("refusing to write the palette PNG to a terminal"));
    EXPECT_FALSE(QFileInfo::exists(Path("o.png")));
}

TEST_F(WrittenFilesTest, PaletteWriteFailuresSayWhyAndOutputDirIsMadeFirst)
{
    // The folder --output-dir names is made before the shared palette is written into it.
    const CliRun fresh = RunCli({"-q", "--shared-palette", "--output-dir", Path("fresh"), "--save-palette",
                                 Path("fresh/set.gpl"), Path("a.png"), Path("b.png")});
    EXPECT_EQ(fresh.exitCode, 0) << fresh.err.toStdString();
    EXPECT_FALSE(PaletteOf("fresh/set.gpl").empty());
    EXPECT_EQ(PaletteOf("fresh/a.png"), PaletteOf("fresh/set.gpl"));

    const CliRun full = RunCli({"-q", "--shared-palette", "--output-dir", Path("out"), "--save-palette", "/dev/full",
                                Path("a.png"), Path("b.png")});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.err.contains("no space left on the device")) << full.err.toStdString();
    const CliRun noFolder =
        RunCli({"-q", "--save-palette", Path("a.png/p.gpl"), "-o", Path("o.png"), Path("b.png")});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_TRUE(noFolder.err.contains("p.gpl: ")) << noFolder.err.toStdString();
    EXPECT_FALSE(noFolder.err.trimmed().endsWith("p.gpl")) << noFolder.err.toStdString();
}

TEST_F(WrittenFilesTest, FailedPaletteLeavesNoResultForARerunToSkip)
{
    const CliRun failed =
        RunCli({"--save-palette", "/dev/full", "-o", Path("o.png"), "--report", Path("r.jsonl"), Path("a.png")});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_FALSE(failed.out.contains("->")) << failed.out.toStdString();
    EXPECT_TRUE(failed.err.contains("palette: cannot write /dev/full: no space left")) << failed.err.toStdString();
    EXPECT_TRUE(ReadAll(Path("r.jsonl")).contains("\"status\": \"palette: cannot write")) << ReadAll(Path("r.jsonl")).toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("o.png")));

    // The rerun does the work; a rerun after that skips it and still gives the palette asked for.
    const CliRun rerun = RunCli({"--skip-existing", "--save-palette", Path("p.gpl"), "-o", Path("o.png"), Path("a.png")});
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err.toStdString();
    EXPECT_FALSE(rerun.out.contains("up to date"));
    EXPECT_EQ(PaletteOf("p.gpl"), PaletteOf("o.png"));
    ASSERT_TRUE(QFile::remove(Path("p.gpl")));
    const CliRun skipped =
        RunCli({"--skip-existing", "--save-palette", Path("p.gpl"), "-o", Path("o.png"), Path("a.png")});
    EXPECT_EQ(skipped.exitCode, 0) << skipped.err.toStdString();
    EXPECT_TRUE(skipped.out.contains("up to date"));
    EXPECT_EQ(PaletteOf("p.gpl"), PaletteOf("o.png"));
}

TEST_F(WrittenFilesTest, GimpPaletteNameIsData)
{
    const QString name = "x\nChannels: RGBA\n1 2 3 4\r\n9 9 9.gpl";
    const CliRun run =
        RunCli({"-q", "--colours", "8", "--save-palette", Path(name), "-o", Path("o.png"), Path("a.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QByteArray text = ReadAll(Path(name));
    int channelLines = 0;
    for (const QByteArray& line : text.split('\n'))
        channelLines += line.startsWith("Channels:") ? 1 : 0;
    EXPECT_EQ(channelLines, 0) << text.toStdString(); // every entry of this palette is opaque
    EXPECT_EQ(PaletteOf(name), PaletteOf("o.png")) << text.toStdString();
    EXPECT_EQ(PaletteOf(name).size(), 8u);
}

} // namespace
} // namespace tessaline
