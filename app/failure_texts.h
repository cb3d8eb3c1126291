#pragma once
// app/failure_texts.h: why something went wrong with a file, in the few Japanese words the status
// bar gives after the file's name. Asked of the file system after the failure, never by opening.

#include <filesystem>

#include <QString>

namespace tessaline {

/// Why the file at `path` could not be read; `whyNot` is the loader's own (English) reason.
QString LoadFailureReason(const std::filesystem::path& path, const QString& whyNot);

/// Why a write to `target` failed, from what the file system tells afterwards.
QString WriteFailureReason(const std::filesystem::path& target);

} // namespace tessaline
