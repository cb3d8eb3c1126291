#pragma once
// imageio/input_names.h: the names of the files a run takes in, as paths and as printed: the
// lossless conversion between Qt's strings and paths, the escape that shows a name safely in a
// message or a report, and the guard that lets only regular files in as inputs. Nothing here
// throws.

#include <filesystem>
#include <optional>

#include <QString>

namespace tessaline {

/// A path from a Qt string (a drop, a dialog, a command-line argument). Every conversion between
/// QString and std::filesystem::path goes through this pair. A name is the bytes the system gave,
/// which need not be UTF-8 (Shift-JIS or Latin-1 names from old archives); the pair carries every
/// name losslessly: a byte that is not part of valid UTF-8 travels as the lone surrogate
/// U+DC80 + byte, which no real character uses, and ToPath turns it back into that byte.
std::filesystem::path ToPath(const QString& text);
/// A path as a Qt string, for dialogs and for ToPath; messages show DisplayName instead.
QString ToQString(const std::filesystem::path& path);

/// A name for a message or a report: a backslash as \\, control characters as \n, \t, \r, \e or
/// \xNN, bytes that were not UTF-8 as \xNN, other control characters and every character that
/// shows nothing or steers direction (format characters such as U+200B, U+202E, U+FEFF, U+2060,
/// U+00AD, U+061C; line separators; the combining grapheme joiner and the Hangul fillers) as
/// \u{NNNN}; the rest as is. A name can then neither fake an output line
/// nor send the terminal commands, and the escape is reversible: every name has one form, and the
/// bytes of the name come back by undoing each escape (\xNN is the byte NN, \u{N} the character
/// N in UTF-8).
QString DisplayName(const QString& text);
inline QString DisplayName(const std::filesystem::path& path)
{
    return DisplayName(ToQString(path));
}

/// Why `path` cannot be an input, or nullopt when it is a regular file that can be opened for
/// reading: "cannot read: no such file", "... is a folder", "... not a regular file" (a FIFO or a
/// device, whose open or read could block or never end), "... permission denied" (or the open's
/// own reason, such as "too many open files"). Links are followed. Never opens anything but a regular file.
std::optional<QString> WhyNotAnInput(const std::filesystem::path& path);

} // namespace tessaline
