#pragma once
// tests/cli/cli_test_support.h: running tessaline-cli as a child process, optionally with its
// address space capped, and writing the hand-made PNG files the hostile-input tests feed it.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "tests/png_chunk_writer.h"

namespace tessaline::clitest {

struct CliRun
{
    bool finished = false; ///< ended by itself (no crash, no hang), with an exit code
    int exitCode = -1;
    QString out;
    QString err;
    /// stderr split into lines, empty ones dropped.
    QStringList ErrLines() const { return err.split('\n', Qt::SkipEmptyParts); }
};

/// The address-space cap the hostile inputs run under: a small reduction needs about 128 MiB
/// (libraries, OpenMP and Qt included), so any allocation an input merely declares fails.
inline constexpr qint64 HostileAddressSpace = qint64{384} << 20;

/// Whether the cap can be applied: prlimit is installed and the tool is not built with
/// AddressSanitizer, whose shadow memory needs terabytes of address space.
inline bool CanCapMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#endif
#endif
    return !QStandardPaths::findExecutable("prlimit").isEmpty();
}

/// The tool RunCli runs: the one built beside the tests, or TESSALINE_TEST_CLI when set
/// (scripts/tsan_check.sh names a ThreadSanitizer build there, run by these uninstrumented tests).
inline QString CliPath()
{
    const QString other = qEnvironmentVariable("TESSALINE_TEST_CLI");
    return other.isEmpty() ? QString(TESSALINE_CLI_PATH) : other;
}

/// Runs tessaline-cli with `arguments`; with `addressSpace` > 0 (and CanCapMemory) under
/// `prlimit --as`. A crash or a run over 240 s leaves `finished` false and `exitCode` -1.
inline CliRun RunCli(const QStringList& arguments, const QString& workDir = QString(), qint64 addressSpace = 0,
                     const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    if (addressSpace > 0 && CanCapMemory())
        process.start(QStandardPaths::findExecutable("prlimit"),
                      QStringList{QString("--as=%1").arg(addressSpace), "--", CliPath()} + arguments);
    else
        process.start(CliPath(), arguments);
    CliRun run;
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    if (run.finished)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline void Put32(QByteArray& out, std::uint32_t value)
{
    std::vector<std::uint8_t> bytes;
    test::AppendBigEndian32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes.data()), 4);
}

/// One chunk with its true CRC, or `crc` when given.
inline QByteArray Chunk(const char* type, const QByteArray& data, std::int64_t crc = -1)
{
    std::vector<std::uint8_t> out;
    test::AppendChunk(out, type, reinterpret_cast<const std::uint8_t*>(data.constData()),
                      static_cast<std::size_t>(data.size()), crc);
    return QByteArray(reinterpret_cast<const char*>(out.data()), static_cast<qsizetype>(out.size()));
}

inline QByteArray Deflate(const QByteArray& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    QByteArray out(static_cast<qsizetype>(size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.constData()),
                  static_cast<uLong>(raw.size()), 9) != Z_OK)
        return QByteArray();
    out.resize(static_cast<qsizetype>(size));
    return out;
}

inline QByteArray PngSignature()
{
    return QByteArray("\x89PNG\r\n\x1a\n", 8);
}

inline QByteArray Ihdr(std::uint32_t width, std::uint32_t height, int depth, int colour, bool interlaced = false)
{
    QByteArray data;
    Put32(data, width);
    Put32(data, height);
    data.append(static_cast<char>(depth));
    data.append(static_cast<char>(colour));
    data.append('\0');
    data.append('\0');
    data.append(static_cast<char>(interlaced ? 1 : 0));
    return Chunk("IHDR", data);
}

/// The filtered rows (filter byte 0) of an 8-bit grey image with a small pattern, plain or in
/// the seven Adam7 passes.
inline QByteArray GreyRows(int width, int height, bool interlaced)
{
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const int plain[1][4] = {{0, 0, 1, 1}};
    QByteArray raw;
    const int count = interlaced ? 7 : 1;
    for (int p = 0; p < count; ++p) {
        const int* pass = interlaced ? passes[p] : plain[0];
        if (pass[0] >= width)
            continue; // a pass with no columns has no rows either
        for (int y = pass[1]; y < height; y += pass[3]) {
            raw.append('\0');
            for (int x = pass[0]; x < width; x += pass[2])
                raw.append(static_cast<char>((x * 13 + y * 7) & 0xFF));
        }
    }
    return raw;
}

} // namespace tessaline::clitest
