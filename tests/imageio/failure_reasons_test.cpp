// The one table of failure reasons: every message the loader gives for a refused file is matched
// to its row, so the window names the reason the command-line tool prints.

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "imageio/failure_reasons.h"
#include "imageio/image_loader.h"
#include "imageio/output_files.h"
#include "imageio/qt_bitmap_reader.h"

namespace tessaline {
namespace {

FailureReason ReasonOfLoading(const std::filesystem::path& path)
{
    RgbaImage image;
    QString whyNot;
    EXPECT_FALSE(LoadImageFile(image, path, QtBitmaps(), &whyNot)) << path;
    return ReasonOf(whyNot);
}

TEST(FailureReasonsTest, EveryRowAndEveryLoaderRefusalHasItsReason)
{
    // Each row's own words give its reason, the longest words winning; other text is Other.
    std::set<FailureReason> reasons;
    for (const FailureReasonRow& row : FailureReasonRows()) {
        EXPECT_EQ(ReasonOf(QString::fromLatin1(row.words) + QStringLiteral(": detail")), row.reason)
            << row.words;
        reasons.insert(row.reason);
    }
    EXPECT_EQ(reasons.size(), static_cast<std::size_t>(FailureReason::Other));
    EXPECT_EQ(ReasonOf(QStringLiteral("something else")), FailureReason::Other);
    EXPECT_EQ(FailureWords(FailureReason::OutOfMemory), QStringLiteral("out of memory"));
    EXPECT_EQ(FailureWords(FailureReason::QualityTooLow), QStringLiteral("quality too low"));

    // What the loader says for real files.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tessaline-failure-reasons";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "text.png") << "this is not an image at all";
    EXPECT_EQ(ReasonOfLoading(folder / "missing.png"), FailureReason::NoSuchFile);
    EXPECT_EQ(ReasonOfLoading(folder), FailureReason::IsAFolder);
    EXPECT_EQ(ReasonOfLoading(folder / "text.png"), FailureReason::NotAnImage);
    EXPECT_EQ(ReasonOfLoading(TESSALINE_TEST_DATA_DIR "/hostile/huge_dimensions.png"),
              FailureReason::ImageTooLarge);
    EXPECT_EQ(ReasonOfLoading(TESSALINE_TEST_DATA_DIR "/hostile/truncated_in_idat.png"),
              FailureReason::Damaged);
#if !defined(_WIN32)
    ASSERT_EQ(mkfifo((folder / "pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(ReasonOfLoading(folder / "pipe.png"), FailureReason::NotARegularFile);
#endif
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace tessaline
