// tessaline-cli run by root over folders another user controls, and batches run side by side: links
// and swapped folders planted by a neighbour (a throwaway user, here "nobody"), clashes that only
// the real folder shows, what a private result shows while written, the report, special targets,
// limits, and outcomes that must not be dressed as success.
//
// The neighbour's cases need root (CI runs as root) and are skipped otherwise; the neighbour acts
// in a forked child that has dropped to its user.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tests/cli/cli_test_support.h"
#include "tests/cli/neighbour_test.h"

#if !defined(_WIN32)

namespace tessaline {
namespace {

using namespace clitest;

class HostileFoldersTest : public NeighbourTest
{
};

TEST_F(HostileFoldersTest, NeighboursLinkAtTheResultsNameIsNeverFollowed)
{
    if (!Root())
        GTEST_SKIP() << "needs root and a user 'nobody'";
    MakePublicFolder("pub");
    ASSERT_TRUE(WriteAll(Path("victim"), "root's file"));
    const std::string output = Bytes(Path("pub/OUTPUT")), victim = Bytes(Path("victim"));
    ASSERT_TRUE(AsNeighbour([&] {
        return mkdir(output.c_str(), 0777) == 0 &&
               symlink("/dev/null", (output + "/photo.png").c_str()) == 0 &&
               symlink(victim.c_str(), (output + "/other.png").c_str()) == 0;
    }));
    ASSERT_TRUE(QFile::copy(Path("noise.png"), Path("pub/other.png")));
    for (const QString name : {"photo.png", "other.png"}) {
        const CliRun run = RunCli({Path("pub/" + name)});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("a link owned by another user")) << run.err.toStdString();
        EXPECT_TRUE(QFileInfo(Path("pub/OUTPUT/" + name)).isSymLink());
    }
    EXPECT_EQ(ReadAll(Path("victim")), "root's file");
    // The caller's own link to a device still takes the result.
    ASSERT_EQ(symlink("/dev/null", Bytes(Path("mine.png")).c_str()), 0);
    EXPECT_EQ(RunCli({"-o", Path("mine.png"), Path("noise.png")}).exitCode, 0);
}

TEST_F(HostileFoldersTest, NeighboursLinkedOutputFolderIsNeverFollowed)
{
    if (!Root())
        GTEST_SKIP() << "needs root and a user 'nobody'";
    MakePublicFolder("pub");
    ASSERT_TRUE(WriteAll(Path("victim/photo.png"), "the victim's photo"));
    const std::string pub = Bytes(Path("pub")), victim = Bytes(Path("victim"));
    ASSERT_TRUE(AsNeighbour([&] {
        return symlink(victim.c_str(), (pub + "/OUTPUT").c_str()) == 0 &&
               symlink(victim.c_str(), (pub + "/out").c_str()) == 0;
    }));
    for (const QStringList& arguments :
         {QStringList{Path("pub/photo.png")},
          QStringList{"--output-dir", Path("pub/out/new"), Path("pub/photo.png")}}) {
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("a link owned by another user")) << run.err.toStdString();
    }
    EXPECT_EQ(ReadAll(Path("victim/photo.png")), "the victim's photo");
    EXPECT_FALSE(QFileInfo::exists(Path("victim/new")));
    // A link of the caller's own on the way is followed.
    ASSERT_TRUE(QDir().mkpath(Path("real")));
    ASSERT_EQ(symlink(Bytes(Path("real")).c_str(), Bytes(Path("mine")).c_str()), 0);
    EXPECT_EQ(RunCli({"--output-dir", Path("mine/sub"), Path("noise.png")}).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(Path("real/sub/noise.png")));
}

TEST_F(HostileFoldersTest, OutputFolderSwappedDuringTheReductionKeepsTheInput)
{
    if (!Root())
        GTEST_SKIP() << "needs root and a user 'nobody'";
    MakePublicFolder("pub");
    ASSERT_TRUE(Noise(500, 400).save(Path("pub/photo.png")));
    const QByteArray photo = ReadAll(Path("pub/photo.png"));
    const std::string pub = Bytes(Path("pub"));
    ASSERT_TRUE(AsNeighbour([&] { return mkdir((pub + "/OUTPUT").c_str(), 0777) == 0; }));
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, Bytes(Path("pub/photo.png")).c_str(), IN_CLOSE_NOWRITE), 0);
    QProcess run;
    run.start(TESSALINE_CLI_PATH, {"--quiet", "--feedback", "0", "--voronoi", "0", Path("pub/photo.png")});
    // Once the tool has checked the destination and opened the input, OUTPUT becomes a link to ".".
    alignas(inotify_event) char event[sizeof(inotify_event) + 256];
    ASSERT_GT(read(watch, event, sizeof event), 0);
    close(watch);
    ASSERT_TRUE(AsNeighbour([&] {
        return rename((pub + "/OUTPUT").c_str(), (pub + "/OUTPUT.old").c_str()) == 0 &&
               symlink(".", (pub + "/OUTPUT").c_str()) == 0;
    }));
    ASSERT_TRUE(run.waitForFinished(240000));
    EXPECT_EQ(run.exitCode(), 1) << run.readAllStandardError().toStdString();
    EXPECT_EQ(ReadAll(Path("pub/photo.png")), photo);
}

TEST_F(HostileFoldersTest, ClashesAreDecidedOnTheRealFolderForEveryJobCount)
{
    ASSERT_TRUE(QDir().mkpath(Path("d")));
    ASSERT_TRUE(Noise(40, 30, 1).save(Path("d/x.png")));
    ASSERT_EQ(symlink("d", Bytes(Path("dl")).c_str()), 0);
    ASSERT_TRUE(Noise(40, 30, 2).save(Path("dl/x.jpg"), "JPEG"));
    ASSERT_EQ(RunCli({"-o", Path("alone.png"), Path("d/x.png")}).exitCode, 0);
    for (const QString jobs : {"1", "2"}) {
        QFile::remove(Path("d/OUTPUT/x.png"));
        const CliRun run = RunCli({"-j", jobs, Path("d/x.png"), Path("dl/x.jpg")});
        EXPECT_EQ(run.exitCode, 1) << "-j " << jobs.toStdString();
        ASSERT_EQ(run.ErrLines().size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.ErrLines()[0].contains("x.jpg: refusing to overwrite")) << run.err.toStdString();
        EXPECT_EQ(ReadAll(Path("d/OUTPUT/x.png")), ReadAll(Path("alone.png")));
    }
}

TEST_F(HostileFoldersTest, TemporaryIsCreatedNoWiderThanTheResult)
{
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        GTEST_SKIP() << "no strace";
    ASSERT_TRUE(WriteAll(Path("OUTPUT/noise.png"), "private"));
    ASSERT_EQ(chmod(Bytes(Path("OUTPUT/noise.png")).c_str(), 0600), 0);
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0"); // not under ptrace
    run.setProcessEnvironment(environment);
    run.start(strace, {"-f", "-qq", "-e", "trace=openat", "-o", Path("calls"), TESSALINE_CLI_PATH,
                       Path("noise.png")});
    ASSERT_TRUE(run.waitForFinished(240000));
    if (run.exitCode() != 0 && !ReadAll(Path("calls")).contains("openat"))
        GTEST_SKIP() << "strace cannot trace here";
    EXPECT_EQ(run.exitCode(), 0);
    // The open that creates the temporary gives the final mode at once: nobody can open it wider.
    int creations = 0;
    for (const QByteArray& line : ReadAll(Path("calls")).split('\n'))
        if (line.contains("O_CREAT|O_EXCL") && line.contains(".tmp\"")) {
            ++creations;
            EXPECT_TRUE(line.contains(", 0600)")) << line.toStdString();
        }
    EXPECT_EQ(creations, 1);
    struct stat result
    {
    };
    ASSERT_EQ(stat(Bytes(Path("OUTPUT/noise.png")).c_str(), &result), 0);
    EXPECT_EQ(result.st_mode & 0777, 0600u);
}

TEST_F(HostileFoldersTest, ReportIsOpenedLikeAResult)
{
    // The same file as -o and --report: bad usage, nothing touched.
    EXPECT_EQ(RunCli({"-o", Path("r.csv"), "--report", Path("r.csv"), Path("noise.png")}).exitCode, 2);
    EXPECT_FALSE(QFileInfo::exists(Path("r.csv")));
    // A FIFO nobody reads is refused at once instead of waited on.
    ASSERT_EQ(mkfifo(Bytes(Path("pipe.jsonl")).c_str(), 0644), 0);
    const CliRun fifo = RunCli({"--report", Path("pipe.jsonl"), Path("noise.png")});
    ASSERT_TRUE(fifo.finished);
    EXPECT_EQ(fifo.exitCode, 1);
    EXPECT_TRUE(fifo.err.contains("a pipe nobody reads")) << fifo.err.toStdString();
    if (!Root())
        return;
    MakePublicFolder("pub");
    ASSERT_TRUE(WriteAll(Path("victim"), "root's private file"));
    ASSERT_EQ(chmod(Bytes(Path("victim")).c_str(), 0600), 0);
    const std::string report = Bytes(Path("pub/run.jsonl")), victim = Bytes(Path("victim"));
    ASSERT_TRUE(AsNeighbour([&] { return symlink(victim.c_str(), report.c_str()) == 0; }));
    const CliRun run = RunCli({"--report", Path("pub/run.jsonl"), Path("noise.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("a link owned by another user")) << run.err.toStdString();
    EXPECT_EQ(ReadAll(Path("victim")), "root's private file");
}

TEST_F(HostileFoldersTest, DitheredBatchGivesTheBytesOfOneAtATime)
{
    // Many small dithered strips: reductions side by side seed and draw their noise at once.
    QStringList inputs;
    for (int i = 0; i < 120; ++i) {
        const QString name = Path(QString("in/s%1.png").arg(i));
        QDir().mkpath(Path("in"));
        ASSERT_TRUE(Noise(1500, 2, static_cast<std::uint32_t>(i % 3)).save(name));
        inputs << name;
    }
    for (const QString jobs : {"1", "2"}) {
        const CliRun run = RunCli(
            QStringList{"-q", "-j", jobs, "--colours", "16", "--output-dir", Path("out" + jobs)} + inputs);
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    }
    int differing = 0;
    for (int i = 0; i < inputs.size(); ++i) {
        const QString name = QString("/s%1.png").arg(i);
        differing += ReadAll(Path("out1" + name)) != ReadAll(Path("out2" + name)) ? 1 : 0;
    }
    EXPECT_EQ(differing, 0);
}

TEST_F(HostileFoldersTest, OutputNamingStandardOutputWritesToDescriptorOne)
{
    if (!QFileInfo(QStringLiteral("/dev/stdout")).isSymLink())
        GTEST_SKIP() << "no /dev/stdout link here";
    // After a header in the same file, and appended to a log: neither is emptied.
    QProcess header;
    header.start("sh", {"-c", "{ echo HEADER; \"$0\" -o /dev/stdout \"$1\"; } > \"$2\"", TESSALINE_CLI_PATH,
                        Path("noise.png"), Path("f")});
    ASSERT_TRUE(header.waitForFinished(240000));
    EXPECT_EQ(header.exitCode(), 0);
    ASSERT_TRUE(WriteAll(Path("log"), "LOG\n"));
    QProcess append;
    append.setStandardOutputFile(Path("log"), QIODevice::Append);
    append.start(TESSALINE_CLI_PATH, {"-o", "/dev/stdout", Path("noise.png")});
    ASSERT_TRUE(append.waitForFinished(240000));
    EXPECT_EQ(append.exitCode(), 0);
    const QByteArray png = ReadAll(Path("f")).mid(7);
    EXPECT_TRUE(ReadAll(Path("f")).startsWith("HEADER\n" + PngSignature()));
    EXPECT_TRUE(png.endsWith(QByteArray("IEND\xae\x42\x60\x82", 8)));
    EXPECT_EQ(ReadAll(Path("log")), "LOG\n" + png);
}

TEST_F(HostileFoldersTest, FileSizeLimitFailsTheFileCleanly)
{
    if (QStandardPaths::findExecutable("prlimit").isEmpty())
        GTEST_SKIP() << "no prlimit";
    ASSERT_TRUE(Noise(200, 200).save(Path("big.png")));
    QDir().mkpath(Path("out"));
    QProcess run;
    run.start("prlimit", {"--fsize=4096", "--", TESSALINE_CLI_PATH, "--report", Path("r.jsonl"),
                          "--output-dir", Path("out"), Path("big.png")});
    ASSERT_TRUE(run.waitForFinished(240000));
    ASSERT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_TRUE(QString(run.readAllStandardError()).contains("file too large"));
    EXPECT_TRUE(
        QDir(Path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(ReadAll(Path("r.jsonl")).contains("file too large"));
}

TEST_F(HostileFoldersTest, StandardInputIsRefusedAtTheLimit)
{
    // 1.1 GB of zeros under an address-space cap that holds the limit once but not twice.
    const QString cap = CanCapMemory() ? "prlimit --as=1610612736 --" : "";
    QProcess run;
    run.start("sh", {"-c", "head -c 1100000000 /dev/zero | " + cap + " \"$0\" - -o \"$1\"",
                     TESSALINE_CLI_PATH, Path("out.png")});
    ASSERT_TRUE(run.waitForFinished(240000));
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_TRUE(QString(run.readAllStandardError()).contains("standard input holds more than an image can"));
    EXPECT_FALSE(QFileInfo::exists(Path("out.png")));
}

TEST_F(HostileFoldersTest, WalkedFileThatCannotBeOpenedFails)
{
    ASSERT_TRUE(QDir().mkpath(Path("walk")));
    ASSERT_TRUE(QFile::copy(Path("noise.png"), Path("walk/a.png")));
    ASSERT_TRUE(QFile::copy(Path("noise.png"), Path("walk/locked.png")));
    ASSERT_EQ(chmod(Bytes(Path("walk/locked.png")).c_str(), 0), 0);
    const QStringList arguments{"-r", "--report", Path("walk.jsonl"), Path("walk")};
    if (Root()) {
        ASSERT_EQ(chown(Bytes(Path("walk")).c_str(), neighbour, neighbour), 0);
        QFile(Path("walk.jsonl")).open(QIODevice::WriteOnly);
        ASSERT_EQ(chown(Bytes(Path("walk.jsonl")).c_str(), neighbour, neighbour), 0);
    } else if (geteuid() == 0) {
        GTEST_SKIP() << "root without a user 'nobody' reads every file";
    }
    const CliRun run = Root() ? RunAsNeighbour(arguments) : RunCli(arguments);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.ErrLines().size(), 1) << run.err.toStdString();
    EXPECT_TRUE(run.ErrLines()[0].contains("locked.png: cannot read: permission denied"))
        << run.err.toStdString();
    EXPECT_TRUE(ReadAll(Path("walk.jsonl")).contains("permission denied"));
    EXPECT_TRUE(QFileInfo::exists(Path("walk/OUTPUT/a.png")));
}

TEST_F(HostileFoldersTest, SkipExistingRedoesAResultOfAnInputChangedMeanwhile)
{
    ASSERT_TRUE(Noise(500, 400).save(Path("photo.png")));
    ASSERT_TRUE(Noise(500, 400, 99).save(Path("changed.png")));
    const QStringList quick{"--quiet", "--feedback", "0", "--voronoi", "0"};
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, Bytes(Path("photo.png")).c_str(), IN_CLOSE_NOWRITE), 0);
    QProcess run;
    run.start(TESSALINE_CLI_PATH, quick + QStringList{Path("photo.png")});
    alignas(inotify_event) char event[sizeof(inotify_event) + 256];
    ASSERT_GT(read(watch, event, sizeof event), 0);
    close(watch);
    // The input is replaced while its old content is reduced.
    ASSERT_EQ(rename(Bytes(Path("changed.png")).c_str(), Bytes(Path("photo.png")).c_str()), 0);
    ASSERT_TRUE(run.waitForFinished(240000));
    ASSERT_EQ(run.exitCode(), 0);
    const QStringList rerun{"--feedback", "0", "--voronoi", "0", "--skip-existing", Path("photo.png")};
    const CliRun again = RunCli(rerun);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_FALSE(again.out.contains("(up to date)")) << again.out.toStdString();
    const CliRun third = RunCli(rerun);
    EXPECT_TRUE(third.out.contains("(up to date)")) << third.out.toStdString();
}

TEST_F(HostileFoldersTest, ReportAndPrintedNamesUseOneReversibleEscape)
{
    // Two names that differ only in a byte that is not UTF-8, and a literal backslash-n beside a
    // real line break: four names, four distinct escaped forms in the report and on the terminal.
    namespace fs = std::filesystem;
    const fs::path base(Bytes(dir.path()));
    fs::create_directory(base / "in");
    for (const char* name : {"caf\xe9.png", "caf\xe8.png", "back\\nslash.png", "two\nlines.png"})
        fs::copy_file(base / "noise.png", base / "in" / name);
    QProcess shell;
    shell.setWorkingDirectory(Path("in"));
    shell.start("/bin/sh", {"-c", "exec \"$0\" --report ../r.jsonl -- *", TESSALINE_CLI_PATH});
    ASSERT_TRUE(shell.waitForFinished(240000));
    EXPECT_EQ(shell.exitCode(), 0);
    const QString out = QString::fromUtf8(shell.readAllStandardOutput());
    QStringList inputs, outputs;
    for (const QByteArray& line : ReadAll(Path("r.jsonl")).split('\n'))
        if (!line.isEmpty()) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            inputs << record["input"].toString();
            outputs << record["output"].toString();
        }
    inputs.sort();
    outputs.sort();
    EXPECT_EQ(inputs, (QStringList{"back\\\\nslash.png", "caf\\xe8.png", "caf\\xe9.png", "two\\nlines.png"}));
    EXPECT_EQ(outputs, (QStringList{"OUTPUT/back\\\\nslash.png", "OUTPUT/caf\\xe8.png", "OUTPUT/caf\\xe9.png",
                                    "OUTPUT/two\\nlines.png"}));
    EXPECT_TRUE(out.contains("back\\\\nslash.png -> OUTPUT/back\\\\nslash.png")) << out.toStdString();
    for (const auto& entry : fs::directory_iterator(base)) // Qt cannot name these files to remove them
        fs::remove_all(entry.path());
}

TEST_F(HostileFoldersTest, WriteFailuresSayWhy)
{
    const CliRun missing = RunCli({"-o", Path("none/x.png"), Path("noise.png")});
    EXPECT_TRUE(missing.err.contains("cannot write " + Path("none/x.png") + ": no such folder"))
        << missing.err.toStdString();
    // Out of file descriptors at one point or another: said so, never "permission denied". (Not
    // under the sanitizers, whose runtimes need descriptors of their own.)
    bool sawLimit = !CanCapMemory();
    for (int limit = 4; limit < 16 && CanCapMemory(); ++limit) {
        QProcess run;
        run.start("prlimit", {QString("--nofile=%1").arg(limit), "--", TESSALINE_CLI_PATH, "-o",
                              Path("fd.png"), Path("noise.png")});
        ASSERT_TRUE(run.waitForFinished(240000));
        const QString err = QString::fromUtf8(run.readAllStandardError());
        EXPECT_FALSE(err.contains("permission denied")) << err.toStdString();
        sawLimit = sawLimit || err.contains("too many open files");
        if (run.exitCode() == 0)
            break;
    }
    EXPECT_TRUE(sawLimit);
    if (!Root())
        return;
    ASSERT_TRUE(QDir().mkpath(Path("closed")));
    const CliRun denied = RunAsNeighbour({"-o", Path("closed/x.png"), Path("noise.png")});
    EXPECT_TRUE(denied.err.contains(": permission denied")) << denied.err.toStdString();
    ASSERT_TRUE(Noise(200, 200).save(Path("big.png")));
    for (const auto& [options, reason] :
         {std::pair<QString, QString>{"size=16k", "no space left on the device"},
          std::pair<QString, QString>{"ro", "read-only file system"}}) {
        QDir().mkpath(Path("fs"));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tessaline-test", Path("fs")}) != 0)
            continue;
        const CliRun run = RunCli({"-o", Path("fs/x.png"), Path("big.png")});
        EXPECT_TRUE(run.err.contains(": " + reason)) << run.err.toStdString();
        QProcess::execute("umount", {Path("fs")});
    }
}

TEST_F(HostileFoldersTest, PresetSwitchesCanBeUndoneByAFlag)
{
    const CliRun undone =
        RunCli({"--preset", "fast", "--no-fast-histogram", "-o", Path("a.png"), Path("noise.png")});
    ASSERT_EQ(undone.exitCode, 0) << undone.err.toStdString();
    ASSERT_EQ(RunCli({"--feedback", "4", "--voronoi", "2", "--convergence", "16", "-o", Path("b.png"),
                      Path("noise.png")})
                  .exitCode,
              0);
    EXPECT_EQ(ReadAll(Path("a.png")), ReadAll(Path("b.png")));
}

} // namespace
} // namespace tessaline

#endif
