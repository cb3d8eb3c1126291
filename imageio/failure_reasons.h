#pragma once
// imageio/failure_reasons.h: the reasons a file can fail, one table for every front end. Each row
// is a reason and the words that start the file layer's (and the command-line tool's) English
// message for it, e.g. "image too large: 20000 x 20000 pixels (...)"; the tool prints the message
// whole, the window says the reason in its own language. A message is matched to the row with
// the longest words it starts with; a message no row starts is Other.

#include <span>

#include <QString>

namespace tessaline {

enum class FailureReason
{
    NoSuchFile,
    IsAFolder,
    NotARegularFile,  ///< a FIFO, a device: never opened
    PermissionDenied,
    Unreadable,       ///< the system refused the read for another reason
    NotAnImage,       ///< no reader recognised it
    Damaged,          ///< a known format, but broken or cut short
    ImageTooLarge,    ///< more pixels than the readers accept
    FileTooLarge,     ///< more bytes than the decoders read
    OutOfMemory,
    QualityTooLow,    ///< the reduction gave up: the error stayed above the limit
    CannotCreateFolder,
    CannotWrite,
    Other,
};

struct FailureReasonRow
{
    FailureReason reason;
    const char* words; ///< how the English message starts
};

/// Every row (Other has none; Damaged is said two ways), the first row of a reason its words.
std::span<const FailureReasonRow> FailureReasonRows();

/// The words of `reason` (empty for Other): what a front end that makes the message itself says.
QString FailureWords(FailureReason reason);

/// The reason of an English message from the file layer or the reduction.
FailureReason ReasonOf(const QString& message);

} // namespace tessaline
