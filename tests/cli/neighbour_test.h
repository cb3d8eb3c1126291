#pragma once
// tests/cli/neighbour_test.h: a fixture for tessaline-cli run by root over folders another user
// controls. The neighbour is a throwaway user ("nobody") acting in a forked child that has dropped
// to its user; cases that need one check Root() and skip otherwise (CI runs as root). Each case gets
// a fresh folder the neighbour may pass through, holding a small noise image "noise.png".

#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <string>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/cli/cli_test_support.h"

namespace tessaline::clitest {

inline QImage Noise(int width, int height, std::uint32_t seed = 7)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, qRgb(seed >> 24, (seed >> 16) & 0xFF, (seed >> 8) & 0xFF));
        }
    return image;
}

inline std::string Bytes(const QString& path)
{
    return path.toUtf8().toStdString();
}

class NeighbourTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(chmod(Bytes(dir.path()).c_str(), 0755), 0); // the neighbour may pass through
        ASSERT_TRUE(Noise(64, 48).save(Path("noise.png")));
        if (const passwd* user = getpwnam("nobody"))
            neighbour = user->pw_uid;
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    bool Root() const { return geteuid() == 0 && neighbour != 0; }

    /// A world-writable sticky folder, as /tmp or an upload folder, with a copy of noise.png.
    void MakePublicFolder(const QString& name)
    {
        ASSERT_TRUE(QDir().mkpath(Path(name)));
        ASSERT_EQ(chmod(Bytes(Path(name)).c_str(), 01777), 0);
        ASSERT_TRUE(QFile::copy(Path("noise.png"), Path(name + "/photo.png")));
    }

    /// Runs `act` in a child that has become the neighbour; true when it returned true.
    bool AsNeighbour(const std::function<bool()>& act) const
    {
        const pid_t child = fork();
        if (child == 0)
            _exit(setgid(neighbour) == 0 && setuid(neighbour) == 0 && act() ? 0 : 1);
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }

    /// The tool run as the neighbour (setpriv), for what root's rights would hide.
    CliRun RunAsNeighbour(const QStringList& arguments) const
    {
        QProcess run;
        const QString id = QString::number(neighbour);
        run.start("setpriv",
                  QStringList{"--reuid", id, "--regid", id, "--clear-groups", "--", TESSALINE_CLI_PATH} +
                      arguments);
        CliRun done;
        if (!run.waitForFinished(240000))
            return done;
        done.finished = run.exitStatus() == QProcess::NormalExit;
        done.exitCode = run.exitCode();
        done.err = QString::fromUtf8(run.readAllStandardError());
        return done;
    }

    QTemporaryDir dir;
    uid_t neighbour = 0;
};

} // namespace tessaline::clitest

#endif
