#pragma once
// imageio/path_text.h: file names between the system, Qt's strings and the screen. A name is the
// bytes the system gave (argv, a drop, a folder listing); those bytes need not be UTF-8 (Shift-JIS
// or Latin-1 names from old archives). Converting to a QString and back gives the same bytes for
// every name: a byte that is not part of valid UTF-8 travels as the lone surrogate U+DC80 + byte,
// which no real character uses. For people, DisplayName shows such bytes and every control
// character escaped, so a name can neither fake an output line nor send the terminal commands.

#include <filesystem>

#include <QString>

namespace tessaline {

/// The name as a QString, losslessly (see above). Never throws.
QString PathToText(const std::filesystem::path& path);

/// The name a PathToText string (or any QString) stands for: UTF-8, except that U+DC80 to U+DCFF
/// become the bytes 0x80 to 0xFF again. Never throws.
std::filesystem::path TextToPath(const QString& text);

/// A command-line argument or any system string of bytes, losslessly as text.
QString NativeBytesToText(const char* bytes);

/// `text` for a message: control characters as \n, \t, \r, \e or \xNN, bytes that were not UTF-8
/// as \xNN, and invisible direction or line-separating marks as \u{NNNN}; everything else as is.
QString DisplayName(const QString& text);

/// DisplayName of a path.
inline QString DisplayName(const std::filesystem::path& path)
{
    return DisplayName(PathToText(path));
}

} // namespace tessaline
