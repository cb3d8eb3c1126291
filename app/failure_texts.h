#pragma once
// app/failure_texts.h: why something went wrong with a file, in the few Japanese words the status
// bar gives after the file's name. A write failure is asked of the file system afterwards, never
// by opening.

#include <filesystem>

#include <QString>

#include "imageio/failure_reasons.h"

namespace tessaline {

/// The few words of `reason`.
QString ReasonText(FailureReason reason);

/// Why a file could not be read, from the loader's own (English) message: the reason of the
/// table shared with the command-line tool, with the size of an image too large.
QString LoadFailureReason(const QString& whyNot);

/// Why a write to `target` failed, from what the file system tells afterwards.
QString WriteFailureReason(const std::filesystem::path& target);

} // namespace tessaline
