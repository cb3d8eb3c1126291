#include "app/failure_texts.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "app/ui_texts.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"

namespace tessaline {

QString ReasonText(FailureReason reason)
{
    switch (reason) {
    case FailureReason::NoSuchFile: return texts::NoSuchFile();
    case FailureReason::IsAFolder: return texts::IsAFolder();
    case FailureReason::NotARegularFile: return texts::NotARegularFile();
    case FailureReason::PermissionDenied: return texts::NotReadable();
    case FailureReason::Unreadable: return texts::Unreadable();
    case FailureReason::NotAnImage: return texts::NotAnImage();
    case FailureReason::Damaged: return texts::Damaged();
    case FailureReason::ImageTooLarge: return texts::ImageTooLarge();
    case FailureReason::FileTooLarge: return texts::FileTooLarge();
    case FailureReason::OutOfMemory: return texts::OutOfMemory();
    case FailureReason::QualityTooLow: return texts::QualityTooLow();
    case FailureReason::CannotCreateFolder: return texts::CannotCreateFolder();
    case FailureReason::CannotWrite: return texts::WriteFailed();
    case FailureReason::Other: break;
    }
    return texts::NotAnImage();
}

QString LoadFailureReason(const QString& whyNot)
{
    const FailureReason reason = ReasonOf(whyNot);
    QString text = ReasonText(reason);
    // The size says how far over the limit it is: "20000 x 20000".
    if (reason == FailureReason::ImageTooLarge) {
        const QRegularExpressionMatch size = QRegularExpression(QStringLiteral("(\\d+) x (\\d+)")).match(whyNot);
        if (size.hasMatch())
            text += QStringLiteral(" : ") + size.captured(0);
    }
    return text;
}

QString WriteFailureReason(const std::filesystem::path& target)
{
    const std::filesystem::path folder =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return texts::NoSuchFolder();
    if (!QFileInfo(ToQString(folder)).isWritable())
        return texts::NotWritable();
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (!error && space.available == 0)
        return texts::DiskFull();
    if (std::filesystem::is_directory(target, error))
        return texts::NotWritable();
    return texts::WriteFailed();
}

} // namespace tessaline
