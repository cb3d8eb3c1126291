// tessaline-cli writing where writing fails: a full device, a full or read-only file system, a
// missing folder, a folder in the result's place. Each is reported, an existing result file
// keeps its bytes and no temporary file stays behind.
//
// Tests here run as root on CI, where permissions stop nothing: the failing file systems are real
// tmpfs mounts (64 KiB, or read-only), skipped when mounting is not allowed.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <filesystem>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using namespace clitest;

/// Noise that no palette PNG packs below 64 KiB: 400 x 400 pixels of 256 colours.
QImage Noise()
{
    QImage image(400, 400, QImage::Format_ARGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y, qRgb(state >> 24, (state >> 16) & 0xFF, (state >> 8) & 0xE0));
        }
    return image;
}

bool RunsAsRoot()
{
#if defined(_WIN32)
    return false;
#else
    return geteuid() == 0;
#endif
}

/// A tmpfs mounted on a folder for the test's lifetime; Mounted() is false where mounting is not
/// allowed (no root, no mount namespace rights).
class TmpfsMount
{
public:
    TmpfsMount(const QString& folder, const QString& options) : folder(folder)
    {
        QDir().mkpath(folder);
        mounted = Run({"-t", "tmpfs", "-o", options, "tessaline-test", folder});
    }
    ~TmpfsMount()
    {
        if (mounted)
            QProcess::execute("umount", {folder});
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool Mounted() const { return mounted; }
    bool RemountReadOnly() { return Run({"-o", "remount,ro", folder}); }

private:
    static bool Run(const QStringList& arguments)
    {
        if (!RunsAsRoot())
            return false;
        QProcess mount;
        mount.start("mount", arguments);
        return mount.waitForFinished(30000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }

    QString folder;
    bool mounted = false;
};

class FailingOutputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(Noise().save(Path("noise.png")));
        ASSERT_TRUE(QImage(Noise().copy(0, 0, 16, 16)).save(Path("small.png")));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }

    /// No file but `keep` in `folder` (no temporary, hidden or not).
    static void ExpectOnly(const QString& folder, const QStringList& keep)
    {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        names.sort();
        QStringList expected = keep;
        expected.sort();
        EXPECT_EQ(names, expected) << folder.toStdString();
    }

    QTemporaryDir dir;
};

TEST_F(FailingOutputTest, FullDeviceIsReportedAndStaysADevice)
{
    if (!std::filesystem::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const CliRun run = RunCli({"-o", "/dev/full", Path("noise.png")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.startsWith("tessaline-cli: " + Path("noise.png") + ": cannot write")) << run.err.toStdString();
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full")) << "the device was replaced";
    EXPECT_FALSE(std::filesystem::exists("/dev/full.tmp"));
}

TEST_F(FailingOutputTest, FullFileSystemKeepsTheOldResult)
{
    TmpfsMount small(Path("small-fs"), "size=64k");
    if (!small.Mounted())
        GTEST_SKIP() << "cannot mount a 64 KiB tmpfs here (needs root)";
    const QByteArray old = "the result of an earlier run";
    ASSERT_TRUE(WriteAll(Path("small-fs/noise.png"), old));

    // Through -o and through the automatic name in --output-dir.
    for (const QStringList& where : {QStringList{"-o", Path("small-fs/noise.png")},
                                     QStringList{"--output-dir", Path("small-fs")}}) {
        const CliRun run = RunCli(where + QStringList{Path("noise.png")});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
        EXPECT_EQ(ReadAll(Path("small-fs/noise.png")), old);
        ExpectOnly(Path("small-fs"), {"noise.png"});
    }
    // A result that fits is still written.
    const CliRun fits = RunCli({"-o", Path("small-fs/small.png"), Path("small.png")});
    EXPECT_EQ(fits.exitCode, 0) << fits.err.toStdString();
    ExpectOnly(Path("small-fs"), {"noise.png", "small.png"});
}

TEST_F(FailingOutputTest, ReadOnlyFolderKeepsTheOldResult)
{
    TmpfsMount frozen(Path("frozen"), "size=1m");
    const QByteArray old = "the result of an earlier run";
    if (frozen.Mounted()) {
        ASSERT_TRUE(WriteAll(Path("frozen/small.png"), old));
        ASSERT_TRUE(frozen.RemountReadOnly());
    } else if (RunsAsRoot()) {
        GTEST_SKIP() << "running as root without mount rights: permissions would not stop the write";
    } else {
        ASSERT_TRUE(WriteAll(Path("frozen/small.png"), old));
        ASSERT_TRUE(QFile::setPermissions(Path("frozen"), QFile::ReadOwner | QFile::ExeOwner));
    }
    for (const QStringList& where :
         {QStringList{"-o", Path("frozen/small.png")}, QStringList{"--output-dir", Path("frozen")},
          QStringList{"--output-dir", Path("frozen/new-folder")}}) {
        const CliRun run = RunCli(where + QStringList{Path("small.png")});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
        EXPECT_EQ(ReadAll(Path("frozen/small.png")), old);
        ExpectOnly(Path("frozen"), {"small.png"});
    }
    if (!frozen.Mounted())
        QFile::setPermissions(Path("frozen"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(FailingOutputTest, MissingFolderAndFolderInTheResultsPlace)
{
    // -o into a folder that does not exist: nothing is created on the way.
    const CliRun missing = RunCli({"-o", Path("none/deeper/out.png"), Path("small.png")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("cannot write")) << missing.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Path("none")));

    // The result's name is taken by a folder, given by -o or found by the automatic name.
    ASSERT_TRUE(QDir().mkpath(Path("taken/inside")));
    ASSERT_TRUE(QDir().mkpath(Path("OUTPUT/small.png/inside")));
    for (const QStringList& arguments :
         {QStringList{"-o", Path("taken"), Path("small.png")}, QStringList{Path("small.png")}}) {
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("cannot write")) << run.err.toStdString();
    }
    ExpectOnly(Path("taken"), {"inside"});
    ExpectOnly(Path("OUTPUT"), {"small.png"});
    ExpectOnly(Path("OUTPUT/small.png"), {"inside"});

    // --output-dir through a regular file: the folder cannot be made.
    ASSERT_TRUE(WriteAll(Path("plain-file"), "x"));
    const CliRun through = RunCli({"--output-dir", Path("plain-file/out"), Path("small.png")});
    EXPECT_EQ(through.exitCode, 1);
    EXPECT_TRUE(through.err.contains("cannot write")) << through.err.toStdString();
    EXPECT_EQ(ReadAll(Path("plain-file")), "x");
}

} // namespace
} // namespace tessaline
