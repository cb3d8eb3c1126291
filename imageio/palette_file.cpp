#include "imageio/palette_file.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <new>

#include "imageio/atomic_file.h"
#include "imageio/file_stream.h"
#include "imageio/image_loader.h"
#include "imageio/input_names.h"
#include "imageio/png_error.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"

namespace tessaline {
namespace {

constexpr char GimpHeader[] = "GIMP Palette";
// A palette text is small; anything larger is not one.
constexpr qint64 MaxPaletteTextBytes = 1 << 20;
constexpr int SwatchSquare = 16;
constexpr int SwatchColumns = 16;

void Say(QString* whyNot, const QString& reason)
{
    if (whyNot)
        *whyNot = reason;
}

class ReadGuard
{
public:
    ReadGuard()
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorToException, PngIgnoreWarning);
        if (png != nullptr)
            info = png_create_info_struct(png);
    }
    ~ReadGuard()
    {
        if (png != nullptr)
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
};

enum class PngPalette {
    NotPalettePng, ///< not a PNG, or a PNG of another colour type: its pixels are the palette
    Read,
    Damaged
};

// The PLTE and tRNS entries of a colour-type-3 PNG; only the chunks before the image data are read.
PngPalette ReadPngPalette(const std::filesystem::path& path, std::vector<RgbaColour>& colours)
{
    const FileStream file = OpenFile(path, false);
    if (!file)
        return PngPalette::NotPalettePng;
    png_byte signature[8] = {};
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        return PngPalette::NotPalettePng;
    ReadGuard guard;
    if (guard.png == nullptr || guard.info == nullptr)
        return PngPalette::Damaged;
    try {
        PngReadSource source;
        source.stream = file.get();
        png_set_read_fn(guard.png, &source, PngReadCallback);
        png_set_sig_bytes(guard.png, sizeof signature);
        png_set_chunk_malloc_max(guard.png, 1 << 20);
        png_read_info(guard.png, guard.info);
        if (png_get_color_type(guard.png, guard.info) != PNG_COLOR_TYPE_PALETTE)
            return PngPalette::NotPalettePng;
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(guard.png, guard.info, &entries, &count) == 0 || count <= 0)
            return PngPalette::Damaged;
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (png_get_tRNS(guard.png, guard.info, &alphas, &alphaCount, nullptr) == 0)
            alphaCount = 0;
        colours.clear();
        for (int i = 0; i < count; ++i)
            colours.push_back({entries[i].red, entries[i].green, entries[i].blue,
                               i < alphaCount && alphas != nullptr ? alphas[i] : png_byte{255}});
        return PngPalette::Read;
    } catch (const PngError&) {
        return PngPalette::Damaged;
    } catch (const PngTrailingLimit&) {
        return PngPalette::Damaged;
    } catch (const std::bad_alloc&) {
        return PngPalette::Damaged;
    }
}

bool StartsWithGimpHeader(const std::filesystem::path& path)
{
    QFile file(ToQString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(sizeof GimpHeader - 1) == QByteArray(GimpHeader);
}

std::optional<std::vector<RgbaColour>> Checked(std::vector<RgbaColour> colours, QString* whyNot)
{
    if (colours.empty()) {
        Say(whyNot, QStringLiteral("the palette has no entries"));
        return std::nullopt;
    }
    if (colours.size() > MaxPaletteColours) {
        Say(whyNot, QString("the palette has %1 entries; at most 256 fit").arg(colours.size()));
        return std::nullopt;
    }
    return colours;
}

} // namespace

std::optional<std::vector<RgbaColour>> ParseGimpPalette(const QByteArray& text, QString* whyNot)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines[0].trimmed() != GimpHeader) {
        Say(whyNot, QStringLiteral("not a GIMP palette (no \"GIMP Palette\" line)"));
        return std::nullopt;
    }
    std::vector<RgbaColour> colours;
    int channels = 3;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("Name:") || line.startsWith("Columns:"))
            continue;
        if (line.startsWith("Channels:")) {
            channels = line.mid(9).trimmed() == "RGBA" ? 4 : 3;
            continue;
        }
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
        if (colours.size() > MaxPaletteColours)
            break;
    }
    return Checked(std::move(colours), whyNot);
}

std::optional<std::vector<RgbaColour>> ReadPaletteFile(const std::filesystem::path& path,
                                                       BitmapReader& bitmaps, QString* whyNot)
{
    if (const auto refusal = WhyNotAnInput(path)) {
        Say(whyNot, *refusal);
        return std::nullopt;
    }
    std::vector<RgbaColour> colours;
    switch (ReadPngPalette(path, colours)) {
    case PngPalette::Read:
        return Checked(std::move(colours), whyNot);
    case PngPalette::Damaged:
        Say(whyNot, QStringLiteral("damaged palette PNG"));
        return std::nullopt;
    case PngPalette::NotPalettePng:
        break;
    }
    if (StartsWithGimpHeader(path)) {
        QFile file(ToQString(path));
        if (!file.open(QIODevice::ReadOnly) || file.size() > MaxPaletteTextBytes) {
            Say(whyNot, QStringLiteral("cannot read the GIMP palette"));
            return std::nullopt;
        }
        return ParseGimpPalette(file.readAll(), whyNot);
    }
    RgbaImage image;
    if (!LoadImageFile(image, path, bitmaps, whyNot))
        return std::nullopt;
    try {
        const auto counts = CountDistinctColours(image, MaxPaletteColours, false);
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
    return Checked(std::move(colours), whyNot);
}

QByteArray GimpPaletteText(const std::vector<RgbaColour>& colours, const QString& name)
{
    bool translucent = false;
    for (const RgbaColour& c : colours)
        translucent = translucent || c[3] < 255;
    QByteArray text = QByteArray(GimpHeader) + "\n";
    if (translucent)
        text += "Channels: RGBA\n";
    text += "Name: " + name.toUtf8() + "\nColumns: 16\n#\n";
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

bool WritePaletteFile(const std::filesystem::path& path, const std::vector<RgbaColour>& colours,
                      QString* whyNot)
{
    if (colours.empty() || colours.size() > MaxPaletteColours) {
        Say(whyNot, QStringLiteral("no palette to write"));
        return false;
    }
    if (ToQString(path.extension()).toLower() == ".gpl") {
        QByteArray text;
        try {
            text = GimpPaletteText(colours, ToQString(path.stem()));
        } catch (const std::bad_alloc&) {
            Say(whyNot, QStringLiteral("out of memory"));
            return false;
        }
        const bool written = WriteFileSafely(path, [&text](std::FILE* stream) {
            return std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stream) ==
                   static_cast<std::size_t>(text.size());
        });
        if (!written)
            Say(whyNot, "cannot write " + DisplayName(path));
        return written;
    }
    try {
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
        if (WritePngFile(swatch, path) == PngWriteOk)
            return true;
    } catch (const std::bad_alloc&) {
        Say(whyNot, QStringLiteral("out of memory"));
        return false;
    }
    Say(whyNot, "cannot write " + DisplayName(path));
    return false;
}

} // namespace tessaline
