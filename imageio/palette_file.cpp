#include "imageio/palette_file.h"

#include <QFile>
#include <QList>

#include <zlib.h>

#include <algorithm>
#include <new>
#include <string>
#include <system_error>

#include "imageio/atomic_file.h"
#include "imageio/file_stream.h"
#include "imageio/image_loader.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "imageio/png_error.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"

namespace tessaline {
namespace {

constexpr char GimpHeader[] = "GIMP Palette";
// A palette text is small; anything larger is not one.
constexpr qint64 MaxPaletteTextBytes = 1 << 20;
// A palette image is read whole before it is decoded; no image within the loader's limits that
// holds at most 256 colours needs more.
constexpr std::uint64_t MaxPaletteFileBytes = std::uint64_t{1} << 30;
constexpr int SwatchSquare = 16;
constexpr int SwatchColumns = 16;

void Say(QString* whyNot, const QString& reason)
{
    if (whyNot)
        *whyNot = reason;
}

enum class PngPalette {
    NotPalettePng, ///< not a PNG, or a PNG of another colour type: its pixels are the palette
    Read,
    Damaged
};

std::uint32_t BigEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// The PLTE and tRNS entries of a colour-type-3 PNG held in `bytes`. The file must be whole, as a
// result's would be: every chunk complete with its checksum right, IEND at the end, a tRNS no
// longer than the PLTE, and image data that decodes; libpng alone would pass over a missing IEND
// and drop a tRNS that is too long without a word, leaving a different palette than the file's.
PngPalette ReadPngPalette(const std::vector<std::uint8_t>& bytes, std::vector<RgbaColour>& colours)
{
    constexpr std::size_t signatureBytes = 8;
    if (bytes.size() < signatureBytes || png_sig_cmp(bytes.data(), 0, signatureBytes) != 0)
        return PngPalette::NotPalettePng;
    const std::uint8_t* plte = nullptr;
    std::size_t plteBytes = 0;
    const std::uint8_t* trns = nullptr;
    std::size_t trnsBytes = 0;
    int colourType = -1;
    bool ended = false;
    std::size_t at = signatureBytes;
    while (at < bytes.size() && !ended) {
        if (bytes.size() - at < 12)
            return PngPalette::Damaged;
        const std::uint32_t length = BigEndian32(bytes.data() + at);
        if (length > bytes.size() - at - 12)
            return PngPalette::Damaged;
        const std::uint8_t* type = bytes.data() + at + 4;
        const std::uint8_t* data = type + 4;
        const uLong crc = crc32(crc32(0, nullptr, 0), type, static_cast<uInt>(length + 4));
        if (crc != BigEndian32(data + length))
            return PngPalette::Damaged;
        const std::string name(reinterpret_cast<const char*>(type), 4);
        if ((at == signatureBytes || name == "IHDR") && (name != "IHDR" || length != 13 || at != signatureBytes))
            return PngPalette::Damaged;
        if (name == "IHDR")
            colourType = data[9];
        else if (name == "PLTE") {
            plte = data;
            plteBytes = length;
        } else if (name == "tRNS") {
            trns = data;
            trnsBytes = length;
        } else if (name == "IEND")
            ended = true;
        at += std::size_t{length} + 12;
    }
    if (colourType != PNG_COLOR_TYPE_PALETTE)
        return PngPalette::NotPalettePng;
    if (!ended || at != bytes.size() || plte == nullptr || plteBytes == 0 || plteBytes % 3 != 0 ||
        plteBytes / 3 > MaxPaletteColours || trnsBytes > plteBytes / 3)
        return PngPalette::Damaged;
    try {
        RgbaImage pixels;
        if (ReadPngMemory(pixels, bytes.data(), bytes.size()) != PngReadOk)
            return PngPalette::Damaged;
        colours.clear();
        for (std::size_t i = 0; i < plteBytes / 3; ++i)
            colours.push_back({plte[3 * i], plte[3 * i + 1], plte[3 * i + 2],
                               i < trnsBytes ? trns[i] : std::uint8_t{255}});
    } catch (const std::bad_alloc&) {
        return PngPalette::Damaged;
    }
    return PngPalette::Read;
}

// A text editor's UTF-8 byte order mark before the first line.
QByteArray WithoutByteOrderMark(const QByteArray& text)
{
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}

// `entries` counts every entry the file holds, also those past the ones kept in `colours`.
std::optional<std::vector<RgbaColour>> Checked(std::vector<RgbaColour> colours, QString* whyNot,
                                               std::size_t entries)
{
    if (entries == 0) {
        Say(whyNot, QStringLiteral("the palette has no entries"));
        return std::nullopt;
    }
    if (entries > MaxPaletteColours) {
        Say(whyNot, QString("the palette has %1 entries; at most 256 fit").arg(entries));
        return std::nullopt;
    }
    return colours;
}

} // namespace

std::optional<std::vector<RgbaColour>> ParseGimpPalette(const QByteArray& text, QString* whyNot)
{
    const QList<QByteArray> lines = WithoutByteOrderMark(text).split('\n');
    if (lines.isEmpty() || lines[0].trimmed() != GimpHeader) {
        Say(whyNot, QStringLiteral("not a GIMP palette (no \"GIMP Palette\" line)"));
        return std::nullopt;
    }
    std::vector<RgbaColour> colours;
    std::size_t entries = 0;
    int channels = 3;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("Name:") || line.startsWith("Columns:"))
            continue;
        if (line.startsWith("Channels:")) {
            // Any other value would have its numbers read in the wrong places.
            const QByteArray value = line.mid(9).trimmed();
            if (value != "RGB" && value != "RGBA") {
                Say(whyNot, QString("line %1 of the GIMP palette: Channels: wants RGB or RGBA, not '%2'")
                                .arg(n + 1)
                                .arg(QString::fromUtf8(value)));
                return std::nullopt;
            }
            channels = value == "RGBA" ? 4 : 3;
            continue;
        }
        // Past 256 entries only the count matters, for the message.
        if (++entries > MaxPaletteColours)
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        RgbaColour colour{0, 0, 0, 255};
        for (int c = 0; c < channels; ++c) {
            bool ok = false;
            const int value = c < fields.size() ? fields[c].toInt(&ok) : -1;
            if (!ok || value < 0 || value > 255) {
                Say(whyNot, QString("line %1 of the GIMP palette is not %2 numbers from 0 to 255")
                                .arg(n + 1)
                                .arg(channels));
                return std::nullopt;
            }
            colour[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(value);
        }
        colours.push_back(colour);
    }
    return Checked(std::move(colours), whyNot, entries);
}

std::optional<std::vector<RgbaColour>> ReadPaletteFile(const std::filesystem::path& path,
                                                       BitmapReader& bitmaps, QString* whyNot)
{
    if (const auto refusal = WhyNotAnInput(path)) {
        Say(whyNot, *refusal);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::vector<RgbaColour> colours;
    try {
        std::error_code why;
        if (!ReadFileSafely(path, MaxPaletteFileBytes, bytes, why)) {
            Say(whyNot, "cannot read: " + WriteFailureReason(why));
            return std::nullopt;
        }
        switch (ReadPngPalette(bytes, colours)) {
        case PngPalette::Read:
        {
            const std::size_t entries = colours.size();
            return Checked(std::move(colours), whyNot, entries);
        }
        case PngPalette::Damaged:
            Say(whyNot, QStringLiteral("damaged palette PNG"));
            return std::nullopt;
        case PngPalette::NotPalettePng:
            break;
        }
        const QByteArray content =
            QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        if (WithoutByteOrderMark(content.left(3 + sizeof GimpHeader)).startsWith(GimpHeader)) {
            if (content.size() > MaxPaletteTextBytes) {
                Say(whyNot, QStringLiteral("cannot read the GIMP palette: larger than a palette text can be"));
                return std::nullopt;
            }
            return ParseGimpPalette(content, whyNot);
        }
        RgbaImage image;
        if (!LoadImageBytes(image, content, bitmaps, whyNot))
            return std::nullopt;
        // Every fully transparent pixel is the one colour it shows, as in an input.
        const auto counts = CountDistinctColours(image, MaxPaletteColours, true);
        if (!counts) {
            Say(whyNot, QStringLiteral("the image has more than 256 colours"));
            return std::nullopt;
        }
        for (const ColourCount& count : *counts)
            colours.push_back(count.colour);
    } catch (const std::bad_alloc&) {
        Say(whyNot, QStringLiteral("out of memory"));
        return std::nullopt;
    }
    const std::size_t entries = colours.size();
    return Checked(std::move(colours), whyNot, entries);
}

QByteArray GimpPaletteText(const std::vector<RgbaColour>& colours, const QString& name)
{
    bool translucent = false;
    for (const RgbaColour& c : colours)
        translucent = translucent || c[3] < 255;
    QByteArray text = QByteArray(GimpHeader) + "\n";
    if (translucent)
        text += "Channels: RGBA\n";
    // The name is the file's, which may hold any character: one that ends a line would start a line
    // of its own (an entry, a Channels: line), so every control or separator character is a space.
    QString oneLine = name;
    for (QChar& c : oneLine)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    text += "Name: " + oneLine.toUtf8() + "\nColumns: 16\n#\n";
    for (const RgbaColour& c : colours) {
        text += QString("%1 %2 %3").arg(c[0], 3).arg(c[1], 3).arg(c[2], 3).toUtf8();
        if (translucent)
            text += QString(" %1").arg(c[3], 3).toUtf8();
        text += QString("\t#%1%2%3\n")
                    .arg(c[0], 2, 16, QChar('0'))
                    .arg(c[1], 2, 16, QChar('0'))
                    .arg(c[2], 2, 16, QChar('0'))
                    .toUtf8();
    }
    return text;
}

std::vector<std::uint8_t> PaletteFileBytes(const std::filesystem::path& path, const std::vector<RgbaColour>& colours)
{
    if (colours.empty() || colours.size() > MaxPaletteColours)
        return {};
    try {
        if (ToQString(path.extension()).toLower() == ".gpl") {
            const QByteArray text = GimpPaletteText(colours, ToQString(path.stem()));
            return std::vector<std::uint8_t>(text.begin(), text.end());
        }
        const int count = static_cast<int>(colours.size());
        const int columns = std::min(count, SwatchColumns);
        const int rows = (count + SwatchColumns - 1) / SwatchColumns;
        IndexedImage swatch;
        swatch.width = static_cast<std::uint32_t>(columns * SwatchSquare);
        swatch.height = static_cast<std::uint32_t>(rows * SwatchSquare);
        swatch.gamma = InternalGamma;
        swatch.pixels.resize(std::size_t{swatch.width} * swatch.height);
        for (std::uint32_t y = 0; y < swatch.height; ++y) {
            swatch.rows.push_back(swatch.pixels.data() + std::size_t{y} * swatch.width);
            for (std::uint32_t x = 0; x < swatch.width; ++x) {
                const int entry =
                    static_cast<int>(y / SwatchSquare) * SwatchColumns + static_cast<int>(x / SwatchSquare);
                swatch.rows[y][x] = static_cast<std::uint8_t>(std::min(entry, count - 1));
            }
        }
        WritePaletteTables(swatch, colours);
        return EncodePng(swatch);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool WritePaletteFile(const std::filesystem::path& path, const std::vector<RgbaColour>& colours, QString* whyNot,
                      const ReplaceCheck& mayReplace)
{
    if (colours.empty() || colours.size() > MaxPaletteColours) {
        Say(whyNot, QStringLiteral("no palette to write"));
        return false;
    }
    const std::vector<std::uint8_t> bytes = PaletteFileBytes(path, colours);
    if (bytes.empty()) {
        Say(whyNot, QStringLiteral("out of memory"));
        return false;
    }
    std::error_code why;
    const bool written = WriteFileSafely(
        path, [&bytes](std::FILE* stream) { return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size(); },
        &why, mayReplace);
    if (!written)
        Say(whyNot, "cannot write " + DisplayName(path) + ": " + WriteFailureReason(why));
    return written;
}

} // namespace tessaline
