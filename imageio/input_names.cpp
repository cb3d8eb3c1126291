#include "imageio/input_names.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "imageio/output_files.h"
#include "imageio/utf8_text.h"

namespace fs = std::filesystem;

namespace tessaline {

namespace {

constexpr char16_t EscapedByteBase = 0xDC00; // U+DC80..U+DCFF carry the bytes 0x80..0xFF

/// The length of the valid UTF-8 sequence at `bytes` (at most `left` bytes long) and its code
/// point; 0 when the bytes there are not valid UTF-8 (overlong forms and surrogates included).
std::size_t Utf8Sequence(const unsigned char* bytes, std::size_t left, char32_t& code)
{
    const unsigned char lead = bytes[0];
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (length > left)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (bytes[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

QString BytesToText(const char* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    QString text;
    text.reserve(static_cast<qsizetype>(size));
    for (std::size_t i = 0; i < size;) {
        char32_t code = 0;
        const std::size_t length = Utf8Sequence(bytes + i, size - i, code);
        if (length == 0) {
            text.append(QChar(static_cast<char16_t>(EscapedByteBase + bytes[i])));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            const char32_t units = code - 0x10000;
            text.append(QChar(static_cast<char16_t>(0xD800 + (units >> 10))));
            text.append(QChar(static_cast<char16_t>(0xDC00 + (units & 0x3FF))));
        } else {
            text.append(QChar(static_cast<char16_t>(code)));
        }
        i += length;
    }
    return text;
}

/// Whether `code` shows nothing or steers how what follows shows: format characters (direction
/// marks and overrides, joiners, the soft hyphen, the byte order mark, tags), line and paragraph
/// separators, and the marks and fillers that render as nothing (the combining grapheme joiner,
/// the Hangul fillers, Khmer's and Mongolian's invisible signs). A name holding one could pass
/// for another, or reorder the rest of the line.
bool Invisible(char32_t code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        break;
    }
    return code == 0x034F || code == 0x115F || code == 0x1160 || code == 0x17B4 || code == 0x17B5 ||
           (code >= 0x180B && code <= 0x180F) || code == 0x3164 || code == 0xFFA0;
}

bool IsEscapedByte(char16_t unit)
{
    return unit >= EscapedByteBase + 0x80 && unit <= EscapedByteBase + 0xFF;
}

} // namespace

QString ToQString(const fs::path& path)
{
#if defined(_WIN32)
    return QString::fromStdWString(path.native());
#else
    return BytesToText(path.native().data(), path.native().size());
#endif
}

fs::path ToPath(const QString& text)
{
#if defined(_WIN32)
    return fs::path(text.toStdWString());
#else
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (IsEscapedByte(unit)) {
            bytes += static_cast<char>(unit - EscapedByteBase);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size && text[i + 1].isLowSurrogate()) {
            AppendUtf8(bytes, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(bytes, 0xFFFD); // a lone surrogate that stands for no byte
        } else {
            AppendUtf8(bytes, unit);
        }
    }
    return fs::path(std::move(bytes));
#endif
}

QString DisplayName(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t unit = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text[i + 1]);
            if (Invisible(code))
                shown += QStringLiteral("\\u{%1}").arg(static_cast<unsigned>(code), 4, 16, QLatin1Char('0'));
            else
                shown += QStringView(text).mid(i, 2);
            ++i;
        } else if (IsEscapedByte(unit)) {
            shown += QStringLiteral("\\x%1").arg(unit - EscapedByteBase, 2, 16, QLatin1Char('0'));
        } else if (unit == '\n') {
            shown += QStringLiteral("\\n");
        } else if (unit == '\t') {
            shown += QStringLiteral("\\t");
        } else if (unit == '\r') {
            shown += QStringLiteral("\\r");
        } else if (unit == 0x1B) {
            shown += QStringLiteral("\\e");
        } else if (unit == '\\') {
            shown += QStringLiteral("\\\\");
        } else if (unit < 0x20 || unit == 0x7F) {
            shown += QStringLiteral("\\x%1").arg(static_cast<unsigned>(unit), 2, 16, QLatin1Char('0'));
        } else if ((unit >= 0x80 && unit < 0xA0) || Invisible(unit)) {
            shown += QStringLiteral("\\u{%1}").arg(static_cast<unsigned>(unit), 4, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown;
}

std::optional<QString> WhyNotAnInput(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status))
        return QStringLiteral("cannot read: no such file");
    if (fs::is_directory(status))
        return QStringLiteral("cannot read: is a folder");
    // A pipe or a device would block the open or never end; only plain files are images here.
    if (!fs::is_regular_file(status))
        return QStringLiteral("cannot read: not a regular file");
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int error = errno;
        if (error == EACCES || error == EPERM || error == 0)
            return QStringLiteral("cannot read: permission denied");
        return "cannot read: " + WriteFailureReason(std::error_code(error, std::generic_category()));
    }
    std::fclose(file);
    return std::nullopt;
}

} // namespace tessaline
