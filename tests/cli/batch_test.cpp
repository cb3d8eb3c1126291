// tessaline-cli's batch features, run as a process on files written here: files side by side,
// folder walks, re-runs, pipes, the report and an interrupted batch.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <map>

#if !defined(_WIN32)
#include <csignal>
#endif

#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

using clitest::CliRun;
using clitest::ReadAll;
using clitest::RunCli;

// A picture of its own for every seed: gradients, fine detail and a translucent band, large enough
// that the engine's parallel loops run.
QImage Picture(int seed, int width = 96, int height = 64)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int alpha = y >= height * 3 / 4 ? (x * 255) / (width - 1) : 255;
            image.setPixel(x, y, qRgba((x * 255) / (width - 1), (y * 255 / (height - 1) + seed * 37) & 255,
                                       ((x ^ y) * (seed + 3)) & 255, alpha));
        }
    return image;
}

class BatchTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    void Save(const QImage& image, const QString& name, const char* format = "PNG")
    {
        QDir().mkpath(QFileInfo(Path(name)).absolutePath());
        ASSERT_TRUE(image.save(Path(name), format)) << name.toStdString();
    }
    // Every file under `folder`, by its path relative to it.
    QStringList FilesUnder(const QString& folder) const
    {
        QStringList files;
        QDirIterator it(Path(folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(Path(folder)).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    QTemporaryDir dir;
};

// One JSON object per line, each line parsing on its own.
std::vector<QJsonObject> JsonLines(const QByteArray& bytes)
{
    std::vector<QJsonObject> records;
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(document.isObject());
        records.push_back(document.object());
    }
    return records;
}

TEST_F(BatchTest, FilesSideBySideGiveTheBytesOfOneAtATime)
{
    QStringList inputs;
    for (int seed = 0; seed < 5; ++seed) {
        Save(Picture(seed), QString("in/p%1.png").arg(seed));
        inputs << Path(QString("in/p%1.png").arg(seed));
    }
    Save(Picture(9), "in/p9.jpg", "JPEG");
    inputs << Path("in/p9.jpg");

    std::map<QString, CliRun> runs;
    for (const QString jobs : {"1", "2", "0"}) {
        runs[jobs] = RunCli(QStringList{"-j", jobs, "--colours", "40", "--output-dir", Path("out" + jobs)} + inputs);
        ASSERT_TRUE(runs[jobs].finished);
        EXPECT_EQ(runs[jobs].exitCode, 0) << runs[jobs].err.toStdString();
        // Whole lines, one per file, whatever order they finished in.
        QStringList lines = runs[jobs].out.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.size(), inputs.size()) << runs[jobs].out.toStdString();
        for (const QString& line : lines)
            EXPECT_TRUE(line.contains(" -> ") && line.endsWith(" bytes)")) << line.toStdString();
    }
    for (const QString name : {"p0.png", "p1.png", "p2.png", "p3.png", "p4.png", "p9.png"}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray one = ReadAll(Path("out1/" + name));
        ASSERT_FALSE(one.isEmpty());
        EXPECT_EQ(ReadAll(Path("out2/" + name)), one);
        EXPECT_EQ(ReadAll(Path("out0/" + name)), one);
    }
    // A failing file among them still fails the batch with -j.
    const CliRun failing = RunCli({"-j", "2", "--output-dir", Path("out3"), Path("in/p0.png"), Path("missing.png")});
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_EQ(failing.ErrLines().size(), 1) << failing.err.toStdString();
}

TEST_F(BatchTest, RecursiveRunMirrorsTheTreeAndSkipsWhatIsNotAnInput)
{
    Save(Picture(1), "tree/a.png");
    Save(Picture(2), "tree/sub/b.bmp", "BMP");
    Save(Picture(3), "tree/sub/deeper/no-extension", "PNG"); // an image by its content
    Save(Picture(4), "tree/.hidden.png");                    // hidden files and folders stay out
    Save(Picture(5), "tree/.cache/c.png");
    Save(Picture(6), "tree/sub/OUTPUT/b.png"); // an earlier run's result
    ASSERT_TRUE(clitest::WriteAll(Path("tree/sub/notes.png"), "not an image\n"));

    const CliRun run = RunCli({"-r", "--output-dir", Path("mirror"), Path("tree")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(FilesUnder("mirror"), (QStringList{"a.png", "sub/b.png", "sub/deeper/no-extension.png"}));

    // Without --output-dir each result goes into OUTPUT beside its input, and a second run does
    // not take the first run's results for inputs.
    for (int pass = 0; pass < 2; ++pass) {
        const CliRun beside = RunCli({"-r", "-j", "2", Path("tree")});
        EXPECT_EQ(beside.exitCode, 0) << beside.err.toStdString();
        EXPECT_EQ(beside.out.count(" -> "), 3) << beside.out.toStdString();
    }
    EXPECT_TRUE(QFile::exists(Path("tree/OUTPUT/a.png")));
    EXPECT_TRUE(QFile::exists(Path("tree/sub/deeper/OUTPUT/no-extension.png")));
    EXPECT_EQ(ReadAll(Path("tree/sub/OUTPUT/b.png")), ReadAll(Path("mirror/sub/b.png")));

    // A folder without -r is named as a failure while the other inputs go on.
    const CliRun plain = RunCli({"--output-dir", Path("flat"), Path("tree"), Path("tree/a.png")});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_TRUE(plain.err.contains("-r")) << plain.err.toStdString();
    EXPECT_EQ(FilesUnder("flat"), QStringList{"a.png"});
}

TEST_F(BatchTest, SkipExistingRedoesOnlyWhatChanged)
{
    QStringList inputs;
    for (int seed = 0; seed < 3; ++seed) {
        Save(Picture(seed), QString("p%1.png").arg(seed));
        inputs << Path(QString("p%1.png").arg(seed));
    }
    ASSERT_EQ(RunCli(QStringList{"--output-dir", Path("out")} + inputs).exitCode, 0);
    // Results an hour old, one input changed after them: only that one is redone.
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    for (int seed = 0; seed < 3; ++seed) {
        QFile input(inputs[seed]);
        ASSERT_TRUE(input.open(QIODevice::ReadWrite));
        ASSERT_TRUE(input.setFileTime(hourAgo.addSecs(-60), QFileDevice::FileModificationTime));
        QFile result(Path(QString("out/p%1.png").arg(seed)));
        ASSERT_TRUE(result.open(QIODevice::ReadWrite));
        ASSERT_TRUE(result.setFileTime(hourAgo, QFileDevice::FileModificationTime));
    }
    Save(Picture(7), "p1.png");

    const CliRun rerun = RunCli(QStringList{"--skip-existing", "--report", Path("r.jsonl"), "--output-dir", Path("out")} +
                                inputs);
    EXPECT_EQ(rerun.exitCode, 0) << rerun.err.toStdString();
    std::map<QString, QString> status;
    for (const QJsonObject& record : JsonLines(ReadAll(Path("r.jsonl"))))
        status[record["input"].toString()] = record["status"].toString();
    EXPECT_EQ(status, (std::map<QString, QString>{{inputs[0], "skipped"}, {inputs[1], "ok"}, {inputs[2], "skipped"}}));
    QFile redone(Path("out/p1.png"));
    EXPECT_GT(QFileInfo(redone).lastModified(), hourAgo.addSecs(60));

    // Without the flag everything is redone, as always.
    const CliRun again = RunCli(QStringList{"--output-dir", Path("out")} + inputs);
    EXPECT_EQ(again.out.count(" colours, "), 3) << again.out.toStdString();
}

TEST_F(BatchTest, StandardInputToStandardOutput)
{
    Save(Picture(4), "p.png");
    Save(Picture(4), "p.jpg", "JPEG");
    for (const QString name : {"p.png", "p.jpg"}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_EQ(RunCli({"--quiet", "-o", Path(name + ".ref.png"), Path(name)}).exitCode, 0);
        QProcess process;
        process.start(TESSALINE_CLI_PATH, {"--colours", "64", "-", "-o", "-"});
        ASSERT_TRUE(process.waitForStarted());
        process.write(ReadAll(Path(name)));
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(240000));
        EXPECT_EQ(process.exitCode(), 0);
        const QByteArray piped = process.readAllStandardOutput();
        ASSERT_EQ(RunCli({"--quiet", "--colours", "64", "-o", Path(name + ".ref.png"), Path(name)}).exitCode, 0);
        EXPECT_EQ(piped, ReadAll(Path(name + ".ref.png"))) << "stdout must hold the PNG and nothing else";
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains("- -> -"));
    }
    QProcess empty;
    empty.start(TESSALINE_CLI_PATH, {"-", "-o", Path("empty.png")});
    ASSERT_TRUE(empty.waitForStarted());
    empty.closeWriteChannel();
    ASSERT_TRUE(empty.waitForFinished(240000));
    EXPECT_EQ(empty.exitCode(), 1);
    EXPECT_FALSE(QFile::exists(Path("empty.png")));
    EXPECT_EQ(RunCli({"-"}).exitCode, 2); // where would the result go?
}

TEST_F(BatchTest, ReportHasOneRecordPerInputInJsonLinesAndCsv)
{
    Save(Picture(1), "good.png");
    Save(Picture(2), "other.png");
    ASSERT_TRUE(clitest::WriteAll(Path("bad, \"quoted\".png"), "not an image\n"));
    const QStringList inputs{Path("good.png"), Path("bad, \"quoted\".png"), Path("other.png")};

    const CliRun json = RunCli(QStringList{"-j", "2", "--report", Path("r.jsonl"), "--output-dir", Path("out")} + inputs);
    EXPECT_EQ(json.exitCode, 1);
    const std::vector<QJsonObject> records = JsonLines(ReadAll(Path("r.jsonl")));
    ASSERT_EQ(records.size(), 3u);
    std::map<QString, QJsonObject> byInput;
    for (const QJsonObject& record : records)
        byInput[record["input"].toString()] = record;
    ASSERT_EQ(byInput.size(), 3u);
    const QJsonObject good = byInput[Path("good.png")];
    EXPECT_EQ(good["status"].toString(), "ok");
    EXPECT_EQ(good["output"].toString(), Path("out/good.png"));
    EXPECT_EQ(good["width"].toInt(), 96);
    EXPECT_EQ(good["height"].toInt(), 64);
    EXPECT_EQ(good["input_bytes"].toInteger(), QFileInfo(Path("good.png")).size());
    EXPECT_EQ(good["output_bytes"].toInteger(), QFileInfo(Path("out/good.png")).size());
    EXPECT_GE(good["palette_size"].toInt(), good["colours_used"].toInt());
    EXPECT_GT(good["colours_used"].toInt(), 1);
    EXPECT_GT(good["transparent_entries"].toInt(), 0);
    EXPECT_GT(good["psnr"].toDouble(), 20.0);
    EXPECT_GE(good["max_error"].toInt(), 0);
    EXPECT_TRUE(good["ms"].isDouble());
    EXPECT_TRUE(good["profile"].isNull()); // no colour profile, nothing converted
    const QJsonObject bad = byInput[Path("bad, \"quoted\".png")];
    EXPECT_TRUE(bad["status"].toString().startsWith("not a supported image")) << bad["status"].toString().toStdString();
    EXPECT_TRUE(bad["width"].isNull());

    const CliRun csv = RunCli(QStringList{"--report", Path("r.csv"), "--output-dir", Path("out")} + inputs);
    EXPECT_EQ(csv.exitCode, 1);
    const QStringList lines = QString::fromUtf8(ReadAll(Path("r.csv"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "input,output,status,width,height,palette_size,colours_used,transparent_entries,"
                        "input_bytes,output_bytes,psnr,max_error,ms,profile");
    EXPECT_TRUE(lines[1].startsWith(Path("good.png") + "," + Path("out/good.png") + ",ok,96,64,"));
    // The quoted name keeps its comma and doubled quotes inside one field.
    EXPECT_TRUE(lines[2].startsWith("\"" + Path("bad, \"\"quoted\"\".png") + "\",")) << lines[2].toStdString();
    EXPECT_EQ(lines[3].count(','), lines[0].count(','));

    EXPECT_EQ(RunCli({"--report", Path("r.txt"), Path("good.png")}).exitCode, 2);
    // A report named like one of the inputs would empty it.
    ASSERT_TRUE(clitest::WriteAll(Path("keep.csv"), "precious\n"));
    EXPECT_EQ(RunCli({"--report", Path("keep.csv"), Path("good.png"), Path("keep.csv")}).exitCode, 1);
    EXPECT_EQ(ReadAll(Path("keep.csv")), "precious\n");
}

#if !defined(_WIN32)
TEST_F(BatchTest, InterruptKeepsFinishedFilesAndAValidReport)
{
    QStringList inputs;
    for (int i = 0; i < 12; ++i) {
        Save(Picture(i, 256, 192), QString("p%1.png").arg(i, 2, 10, QChar('0')));
        inputs << Path(QString("p%1.png").arg(i, 2, 10, QChar('0')));
    }
    QProcess process;
    process.start(TESSALINE_CLI_PATH,
                  QStringList{"-j", "2", "--report", Path("r.jsonl"), "--output-dir", Path("out")} + inputs);
    ASSERT_TRUE(process.waitForStarted());
    // The first finished file's line is the sign that the batch is under way.
    while (!process.canReadLine())
        ASSERT_TRUE(process.waitForReadyRead(240000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(240000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);

    const QStringList written = FilesUnder("out");
    EXPECT_GE(written.size(), 1);
    EXPECT_LT(written.size(), inputs.size());
    for (const QString& file : written)
        EXPECT_FALSE(file.endsWith(".tmp")) << file.toStdString();
    const std::vector<QJsonObject> records = JsonLines(ReadAll(Path("r.jsonl")));
    ASSERT_EQ(records.size(), static_cast<std::size_t>(written.size()));
    for (const QJsonObject& record : records) {
        EXPECT_EQ(record["status"].toString(), "ok");
        EXPECT_TRUE(QFileInfo(record["output"].toString()).size() == record["output_bytes"].toInteger());
    }
}
#endif

} // namespace
} // namespace tessaline
