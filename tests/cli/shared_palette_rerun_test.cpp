// tessaline-cli's palettes across a set and across runs, run as a process: a rerun of a shared
// palette never leaves a set with two palettes, a given palette is never silently overridden by a
// flag that would choose one, and a curve never labels a row with a count its result lacks.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include "tests/cli/cli_test_support.h"
#include "tests/cli/palette_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

class SharedPaletteRerunTest : public PaletteFolderTest
{
};

TEST_F(SharedPaletteRerunTest, ChangedInputRedoesTheWholeSet)
{
    QStringList inputs;
    for (int seed = 0; seed < 3; ++seed) {
        const QString name = QString("s%1.png").arg(seed);
        ASSERT_TRUE(Gradient(seed).save(Path(name)));
        inputs << Path(name);
    }
    const QStringList run = QStringList{"--shared-palette", "--colours", "12", "--skip-existing", "--output-dir",
                                        Path("out"), "--report", Path("r.jsonl")} +
                            inputs;
    ASSERT_EQ(RunCli(run).exitCode, 0);
    // No input changed: every result is skipped, and the palette saved is the one they carry (not
    // one chosen for the --colours of this run).
    QStringList sameInputs = run + QStringList{"--save-palette", Path("set.gpl")};
    sameInputs[sameInputs.indexOf("12")] = "6";
    const CliRun same = RunCli(sameInputs);
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.out.count("(up to date)"), 3) << same.out.toStdString();
    EXPECT_FALSE(PaletteOf("set.gpl").empty());
    EXPECT_EQ(PaletteOf("set.gpl"), PaletteOf("out/s2.png"));

    // One input changes (and is newer than its result): the set gets one new palette, the one a
    // fresh run over the new set chooses.
    ASSERT_TRUE(Gradient(7).save(Path("s1.png")));
    QFile changed(Path("s1.png"));
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    ASSERT_TRUE(changed.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    changed.close();
    const CliRun rerun = RunCli(run);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err.toStdString();
    EXPECT_EQ(rerun.out.count("(up to date)"), 0) << rerun.out.toStdString();
    ASSERT_EQ(RunCli(QStringList{"-q", "--shared-palette", "--colours", "12", "--output-dir", Path("fresh")} + inputs)
                  .exitCode,
              0);
    for (const char* name : {"s0.png", "s1.png", "s2.png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(PaletteOf(QString("out/") + name), PaletteOf("out/s0.png"));
        EXPECT_EQ(ReadAll(Path(QString("out/") + name)), ReadAll(Path(QString("fresh/") + name)));
    }
}

TEST_F(SharedPaletteRerunTest, GivenPaletteIsNeverSilentlyOverridden)
{
    ASSERT_TRUE(Gradient(1).save(Path("a.png")));
    ASSERT_TRUE(Gradient(2).save(Path("b.png")));
    ASSERT_TRUE(WriteAll(Path("game.gpl"), "GIMP Palette\n0 0 0\n255 255 255\n255 0 0\n"));
    for (const QStringList& extra : {QStringList{"--shared-palette"}, QStringList{"--colours", "16"}}) {
        SCOPED_TRACE(extra.join(' ').toStdString());
        const CliRun run = RunCli(QStringList{"--palette", Path("game.gpl"), "--output-dir", Path("out"), "--report",
                                              Path("r.jsonl")} +
                                  extra + QStringList{Path("a.png"), Path("b.png")});
        EXPECT_EQ(run.exitCode, 2);
        ASSERT_FALSE(run.ErrLines().isEmpty());
        EXPECT_TRUE(run.ErrLines()[0].contains(extra[0])) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Path("out")));
    }
    // Alone, the given palette is what the report names.
    const CliRun given = RunCli({"-q", "--palette", Path("game.gpl"), "--output-dir", Path("out"), "--report",
                                 Path("r.jsonl"), Path("a.png"), Path("b.png")});
    EXPECT_EQ(given.exitCode, 0) << given.err.toStdString();
    EXPECT_EQ(ReadAll(Path("r.jsonl")).count("\"palette\": \"given\""), 2);
}

TEST_F(SharedPaletteRerunTest, CurveNeverLabelsACountBelowTheKeptColours)
{
    ASSERT_TRUE(Gradient(3).save(Path("a.png")));
    const QStringList keep = {"--keep", "#FF0000", "--keep", "#00FF00", "--keep", "#0000FF", "--keep", "#FFFFFF"};
    const CliRun listed = RunCli(keep + QStringList{"--curve", "2,8", "-o", Path("listed.png"), Path("a.png")});
    EXPECT_EQ(listed.exitCode, 2);
    EXPECT_TRUE(listed.err.contains("--curve 2")) << listed.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("listed.png")));

    // The default counts start at the kept count: each row's palette has its count's entries.
    const CliRun standard =
        RunCli(keep + QStringList{"--curve", "--report", Path("r.jsonl"), "-o", Path("out.png"), Path("a.png")});
    ASSERT_EQ(standard.exitCode, 0) << standard.err.toStdString();
    const QByteArray report = ReadAll(Path("r.jsonl"));
    EXPECT_FALSE(report.contains("{\"colours\": 2,")) << report.toStdString();
    EXPECT_TRUE(report.contains("{\"colours\": 8,")) << report.toStdString();
    for (const QString& line : standard.out.split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() > 2 && fields[0] != "colours" && fields[0].toInt() > 0) {
            EXPECT_GE(fields[0].toInt(), 4) << line.toStdString();
        }
    }
}

} // namespace
} // namespace tessaline
