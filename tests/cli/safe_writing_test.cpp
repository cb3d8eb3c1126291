// tessaline-cli writing where others can interfere: names planted where a result's temporary could
// go, two runs on one target, a signal while the file is written, a replaced file's permissions,
// and targets that must be written in place (a pipe, a device, this process's standard output).

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/colour_model.h"
#include "imageio/png_reader.h"
#include "tests/cli/cli_test_support.h"

#if !defined(_WIN32)

namespace tessaline {
namespace {

using namespace clitest;
namespace fs = std::filesystem;

QImage Noise(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    std::uint32_t state = 2024;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, qRgb(state >> 24, (state >> 16) & 0xFF, (state >> 8) & 0xFF));
        }
    return image;
}

/// The palette size of the PNG at `path`, or 0 when it does not read back as a whole PNG.
int PaletteOf(const QString& path)
{
    RgbaImage image;
    if (ReadPngFile(image, fs::path(path.toStdString())) != PngReadOk)
        return 0;
    const QByteArray bytes = ReadAll(path);
    const int plte = bytes.indexOf("PLTE");
    if (plte < 4)
        return 0;
    const auto byte = [&bytes](int at) { return static_cast<int>(static_cast<unsigned char>(bytes[at])); };
    return (byte(plte - 2) * 256 + byte(plte - 1)) / 3;
}

bool EndsWithIend(const QByteArray& bytes)
{
    return bytes.startsWith(PngSignature()) && bytes.endsWith(QByteArray("IEND\xae\x42\x60\x82", 8));
}

class SafeWritingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(Noise(64, 64).save(Path("noise.png")));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }

    /// The names in `folder`, hidden ones included.
    static QStringList Names(const QString& folder)
    {
        QStringList names =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }

    QTemporaryDir dir;
};

TEST_F(SafeWritingTest, PlantedNamesAreNeverFollowedOrReused)
{
    ASSERT_TRUE(WriteAll(Path("victim.txt"), "keep me"));
    ASSERT_TRUE(QDir().mkpath(Path("OUTPUT")));
    // A neighbour's link where the result's temporary used to go, and a pipe where a later run
    // could look for one: neither is opened, the result is written, both stay as they are.
    ASSERT_EQ(symlink("../victim.txt", Path("OUTPUT/noise.png.tmp").toUtf8().constData()), 0);
    ASSERT_EQ(mkfifo(Path("OUTPUT/.noise.png.tmp").toUtf8().constData(), 0644), 0);
    for (int run = 0; run < 2; ++run) {
        const CliRun done = RunCli({Path("noise.png")});
        ASSERT_TRUE(done.finished);
        EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
        EXPECT_EQ(ReadAll(Path("victim.txt")), "keep me");
        EXPECT_GT(PaletteOf(Path("OUTPUT/noise.png")), 0);
        EXPECT_EQ(Names(Path("OUTPUT")), (QStringList{".noise.png.tmp", "noise.png", "noise.png.tmp"}));
        EXPECT_TRUE(QFileInfo(Path("OUTPUT/noise.png.tmp")).isSymLink());
    }
}

TEST_F(SafeWritingTest, ConcurrentRunsOnOneTargetLeaveOneCompleteResult)
{
    ASSERT_TRUE(Noise(300, 300).save(Path("big.png")));
    const std::vector<int> colours = {2, 4, 16, 64};
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (const int count : colours) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(TESSALINE_CLI_PATH,
                               {"--quiet", "--feedback", "0", "--voronoi", "0", "--colours",
                                QString::number(count), "-o", Path("same.png"), Path("big.png")});
        }
        for (auto& run : runs) {
            ASSERT_TRUE(run->waitForFinished(240000));
            EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        }
        // Whichever run renamed last, the target is its whole file.
        const int palette = PaletteOf(Path("same.png"));
        EXPECT_NE(std::find(colours.begin(), colours.end(), palette), colours.end()) << "palette " << palette;
        EXPECT_EQ(Names(dir.path()), (QStringList{"big.png", "noise.png", "same.png"}));
    }
}

TEST_F(SafeWritingTest, ReplacedResultKeepsItsPermissionBits)
{
    ASSERT_TRUE(QDir().mkpath(Path("OUTPUT")));
    ASSERT_TRUE(WriteAll(Path("OUTPUT/noise.png"), "old"));
    ASSERT_EQ(chmod(Path("OUTPUT/noise.png").toUtf8().constData(), 0600), 0);
    ASSERT_EQ(RunCli({Path("noise.png")}).exitCode, 0);
    struct stat replaced
    {
    };
    ASSERT_EQ(stat(Path("OUTPUT/noise.png").toUtf8().constData(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 07777, 0600u);
    EXPECT_GT(PaletteOf(Path("OUTPUT/noise.png")), 0);

    // Run as root on someone else's result: it stays theirs.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(Path("OUTPUT/noise.png").toUtf8().constData(), 4321, 4321), 0);
        ASSERT_EQ(chmod(Path("OUTPUT/noise.png").toUtf8().constData(), 0640), 0);
        ASSERT_EQ(RunCli({"--colours", "8", Path("noise.png")}).exitCode, 0);
        ASSERT_EQ(stat(Path("OUTPUT/noise.png").toUtf8().constData(), &replaced), 0);
        EXPECT_EQ(replaced.st_uid, 4321u);
        EXPECT_EQ(replaced.st_gid, 4321u);
        EXPECT_EQ(replaced.st_mode & 07777, 0640u);
        EXPECT_EQ(PaletteOf(Path("OUTPUT/noise.png")), 8);
    }

    // A new result gets what any new file gets here (the umask applied to 0666).
    ASSERT_EQ(RunCli({"-o", Path("fresh.png"), Path("noise.png")}).exitCode, 0);
    std::ofstream(Path("reference").toStdString()) << "x";
    struct stat fresh
    {
    };
    struct stat reference
    {
    };
    ASSERT_EQ(stat(Path("fresh.png").toUtf8().constData(), &fresh), 0);
    ASSERT_EQ(stat(Path("reference").toUtf8().constData(), &reference), 0);
    EXPECT_EQ(fresh.st_mode & 07777, reference.st_mode & 07777);
}

TEST_F(SafeWritingTest, TerminatedWhileWritingLeavesNoTemporary)
{
    // A large noise result takes a while to compress; the signal goes as soon as the temporary
    // appears in the folder.
    ASSERT_TRUE(Noise(2000, 1500).save(Path("large.png")));
    ASSERT_TRUE(QDir().mkpath(Path("out")));
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, Path("out").toUtf8().constData(), IN_CREATE), 0);
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        QProcess run;
        // A shell's background job starts with SIGINT ignored, and a child would inherit that.
        run.setChildProcessModifier([] { signal(SIGINT, SIG_DFL); });
        run.start(TESSALINE_CLI_PATH, {"--quiet", "--no-dither", "--feedback", "0", "--voronoi", "0",
                                       "--colours", "256", "-o", Path("out/large.png"), Path("large.png")});
        ASSERT_TRUE(run.waitForStarted());
        pollfd created{watch, POLLIN, 0};
        ASSERT_EQ(poll(&created, 1, 240000), 1) << "no temporary appeared";
        alignas(inotify_event) char event[sizeof(inotify_event) + 256];
        ASSERT_GT(read(watch, event, sizeof event), 0);
        kill(static_cast<pid_t>(run.processId()), signalNumber);
        ASSERT_TRUE(run.waitForFinished(240000));
        if (run.exitStatus() == QProcess::NormalExit)
            GTEST_SKIP() << "the write finished before the signal arrived";
        EXPECT_EQ(run.exitCode(), signalNumber) << "ended by the signal itself";
        EXPECT_TRUE(Names(Path("out")).isEmpty()) << Names(Path("out")).join(' ').toStdString();
    }
    close(watch);
}

TEST_F(SafeWritingTest, SpecialTargetsAreWrittenInPlaceNeverReplaced)
{
    // Standard output redirected to a file and named through a link into /proc, as /dev/stdout
    // is: the PNG reaches the file, the link stays, the summary goes to stderr.
    ASSERT_EQ(symlink("/proc/self/fd/1", Path("stdout-link").toUtf8().constData()), 0);
    {
        QProcess run;
        run.setStandardOutputFile(Path("captured.png"));
        run.start(TESSALINE_CLI_PATH, {"-o", Path("stdout-link"), Path("noise.png")});
        ASSERT_TRUE(run.waitForFinished(240000));
        EXPECT_EQ(run.exitCode(), 0);
        EXPECT_TRUE(QString::fromUtf8(run.readAllStandardError()).contains(" -> "));
        EXPECT_TRUE(QFileInfo(Path("stdout-link")).isSymLink());
        EXPECT_TRUE(EndsWithIend(ReadAll(Path("captured.png"))));
        EXPECT_GT(PaletteOf(Path("captured.png")), 0);
    }
    // The same through /dev/stdout itself, as root, in a private mount namespace whose /dev is a
    // scratch tmpfs (so the real /dev is never at stake).
    const QString unshare = QStandardPaths::findExecutable("unshare");
    if (geteuid() == 0 && !unshare.isEmpty()) {
        QProcess run;
        run.setStandardOutputFile(Path("dev-stdout.png"));
        run.start(unshare,
                  {"-m", "sh", "-c",
                   "mount -t tmpfs scratch /dev && ln -s /proc/self/fd/1 /dev/stdout || exit 77; "
                   "\"$0\" -o /dev/stdout \"$1\"; code=$?; test -L /dev/stdout || exit 99; exit $code",
                   TESSALINE_CLI_PATH, Path("noise.png")});
        ASSERT_TRUE(run.waitForFinished(240000));
        if (run.exitCode() != 77) {
            EXPECT_EQ(run.exitCode(), 0) << "99: /dev/stdout was replaced";
            EXPECT_TRUE(EndsWithIend(ReadAll(Path("dev-stdout.png"))));
        }
        QFile::remove(Path("dev-stdout.png"));
    }
    // A link to a device: written through, the link kept.
    ASSERT_EQ(symlink("/dev/null", Path("null-link").toUtf8().constData()), 0);
    EXPECT_EQ(RunCli({"-o", Path("null-link"), Path("noise.png")}).exitCode, 0);
    EXPECT_TRUE(QFileInfo(Path("null-link")).isSymLink());

    // A pipe: with a reader it gets the PNG, without one the run fails at once; it stays a pipe.
    const QByteArray fifo = Path("pipe").toUtf8();
    ASSERT_EQ(mkfifo(fifo.constData(), 0644), 0);
    const CliRun unread = RunCli({"-o", Path("pipe"), Path("noise.png")});
    ASSERT_TRUE(unread.finished);
    EXPECT_EQ(unread.exitCode, 1);
    EXPECT_TRUE(unread.err.contains("cannot write")) << unread.err.toStdString();
    const int reader = open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(RunCli({"-o", Path("pipe"), Path("noise.png")}).exitCode, 0);
    QByteArray received(1 << 16, '\0');
    const ssize_t got = read(reader, received.data(), static_cast<std::size_t>(received.size()));
    close(reader);
    ASSERT_GT(got, 0);
    received.resize(got);
    EXPECT_TRUE(EndsWithIend(received));
    EXPECT_EQ(Names(dir.path()),
              (QStringList{"captured.png", "noise.png", "null-link", "pipe", "stdout-link"}));
}

} // namespace
} // namespace tessaline

#endif
