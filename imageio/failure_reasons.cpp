#include "imageio/failure_reasons.h"

#include <array>

namespace tessaline {

namespace {

// Longer words are tried before the shorter ones they start with ("cannot read: is a folder"
// before "cannot read"), whatever their order here.
constexpr std::array<FailureReasonRow, 14> Rows = {{
    {FailureReason::NoSuchFile, "cannot read: no such file"},
    {FailureReason::IsAFolder, "cannot read: is a folder"},
    {FailureReason::NotARegularFile, "cannot read: not a regular file"},
    {FailureReason::PermissionDenied, "cannot read: permission denied"},
    {FailureReason::Unreadable, "cannot read"},
    {FailureReason::NotAnImage, "not a supported image"},
    {FailureReason::Damaged, "damaged file"},
    {FailureReason::Damaged, "not a supported image: damaged"},
    {FailureReason::ImageTooLarge, "image too large"},
    {FailureReason::FileTooLarge, "file too large"},
    {FailureReason::OutOfMemory, "out of memory"},
    {FailureReason::QualityTooLow, "quality too low"},
    {FailureReason::CannotCreateFolder, "cannot create the folder"},
    {FailureReason::CannotWrite, "cannot write"},
}};

} // namespace

std::span<const FailureReasonRow> FailureReasonRows()
{
    return Rows;
}

QString FailureWords(FailureReason reason)
{
    for (const FailureReasonRow& row : Rows)
        if (row.reason == reason)
            return QString::fromLatin1(row.words);
    return {};
}

FailureReason ReasonOf(const QString& message)
{
    FailureReason best = FailureReason::Other;
    qsizetype bestLength = 0;
    for (const FailureReasonRow& row : Rows) {
        const QLatin1StringView words(row.words);
        if (words.size() > bestLength && message.startsWith(words)) {
            best = row.reason;
            bestLength = words.size();
        }
    }
    return best;
}

} // namespace tessaline
