#include "app/failure_texts.h"

#include <QFileInfo>

#include "app/ui_texts.h"
#include "imageio/output_files.h"

namespace tessaline {

// A loader reason that mentions memory is a lack of it, whatever the decoder called it.
QString LoadFailureReason(const std::filesystem::path& path, const QString& whyNot)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return texts::NoSuchFile();
    if (whyNot.contains(QStringLiteral("memory")))
        return texts::OutOfMemory();
    // Asked of the file system, not by opening: opening a pipe would wait for a writer.
    if (!QFileInfo(ToQString(path)).isReadable())
        return texts::NotReadable();
    return texts::NotAnImage();
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
