// Every vector width the processor has, end to end through tessaline-cli on the shared real images:
// the files written at AVX2 and AVX-512 must be byte for byte those written at SSE2, in the default
// and in the settings whose searches differ (no dithering, the perceptual metric, the fast preset).
// The big photograph is left out to keep the run short.

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "engine/vector_width.h"
#include "tests/cli/cli_test_support.h"

namespace tessaline {
namespace {

TEST(VectorWidthsTest, EveryWidthWritesTheBytesOfSse2)
{
    const QString images = QString(TESSALINE_SHARED_DIR) + "/testdata/images";
    QStringList inputs;
    for (const char* name : {"icon-system-run.png", "icon-user-trash-full.png", "icon-video-x-generic.png",
                             "photo-fossa.png", "photo-kleiber.png", "photo-painting-colors.png"})
        if (QFile::exists(images + "/" + name))
            inputs << images + "/" + name;
    if (inputs.size() != 6)
        GTEST_SKIP() << "the shared images are not in " << images.toStdString();
    if (ProcessorVectorWidth() == VectorWidth::Sse2)
        GTEST_SKIP() << "this processor or build has no width beyond SSE2";

    const QStringList settings[] = {{}, {"--no-dither"}, {"--tune", "perceptual"}, {"--preset", "fast"}};
    for (const QStringList& setting : settings) {
        SCOPED_TRACE(setting.join(' ').toStdString());
        QTemporaryDir out;
        ASSERT_TRUE(out.isValid());
        for (const VectorWidth width : {VectorWidth::Sse2, VectorWidth::Avx2, VectorWidth::Avx512}) {
            if (width > ProcessorVectorWidth())
                continue;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TESSALINE_VECTOR_WIDTH", VectorWidthName(width));
            const QString dir = QDir(out.path()).filePath(VectorWidthName(width));
            const clitest::CliRun run =
                clitest::RunCli(QStringList{"--quiet", "-j", "2", "--output-dir", dir} + setting + inputs,
                                QString(), 0, environment);
            ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
            if (width == VectorWidth::Sse2)
                continue;
            for (const QString& input : inputs) {
                const QString name = QFileInfo(input).fileName();
                SCOPED_TRACE(VectorWidthName(width) + std::string(" ") + name.toStdString());
                const QByteArray written = clitest::ReadAll(QDir(dir).filePath(name));
                ASSERT_FALSE(written.isEmpty());
                EXPECT_TRUE(written == clitest::ReadAll(QDir(out.path()).filePath("sse2/" + name)));
            }
        }
    }
}

} // namespace
} // namespace tessaline
