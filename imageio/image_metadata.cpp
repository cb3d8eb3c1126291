#include "imageio/image_metadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include <zlib.h>

namespace tessaline {

namespace {

std::uint32_t Read16(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
}

std::uint32_t Read32(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? (Read16(p, true) << 16) | Read16(p + 2, true)
                     : (Read16(p + 2, false) << 16) | Read16(p, false);
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool StartsWith(std::span<const std::uint8_t> data, std::string_view prefix)
{
    return data.size() >= prefix.size() && std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

/// Whether `text` is valid UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool ValidUtf8(std::span<const std::uint8_t> text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const std::uint8_t lead = text[i];
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xe0) == 0xc0) {
            length = 2;
            code = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            code = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((text[i + k] & 0xc0) != 0x80)
                return false;
            code = (code << 6) | (text[i + k] & 0x3f);
        }
        constexpr std::uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < Least[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

/// Whether `keyword` is a PNG text keyword: 1 to 79 printable Latin-1 characters, no space at
/// either end and never two in a row.
bool ValidKeyword(std::span<const std::uint8_t> keyword)
{
    if (keyword.empty() || keyword.size() > 79 || keyword.front() == ' ' || keyword.back() == ' ')
        return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const std::uint8_t c = keyword[i];
        if (!((c >= 0x20 && c <= 0x7e) || c >= 0xa1) || (c == ' ' && keyword[i - 1] == ' '))
            return false;
    }
    return true;
}

/// How many bytes the zlib stream `compressed` inflates to, counted up to `limit` (more than
/// `limit` once it passes it, without inflating further); nullopt when the stream is damaged or
/// cut short. Nothing is kept: the bytes are only counted.
std::optional<std::size_t> InflatedSize(std::span<const std::uint8_t> compressed, std::size_t limit)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    std::array<Bytef, 16384> out;
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size()); // a chunk is far below 4 GiB
    std::size_t total = 0;
    int result = Z_OK;
    while (result == Z_OK && total <= limit) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        result = inflate(&stream, Z_NO_FLUSH);
        total += out.size() - stream.avail_out;
    }
    inflateEnd(&stream);
    if (total > limit)
        return total;
    if (result != Z_STREAM_END)
        return std::nullopt;
    return total;
}

/// What a text chunk (tEXt, zTXt, iTXt) costs against the bounds: its bytes, compressed text as it
/// inflates (counted up to `limit`, more than `limit` past it); nullopt when it is not valid PNG
/// text: no separator after the keyword, a bad keyword, a NUL in tEXt's text, an unknown
/// compression, or compressed text that does not inflate.
std::optional<std::size_t> TextCost(std::string_view type, std::span<const std::uint8_t> data, std::size_t limit)
{
    const auto end = std::find(data.begin(), data.end(), 0);
    if (end == data.end() || !ValidKeyword({data.begin(), end}))
        return std::nullopt;
    const std::size_t keywordEnd = static_cast<std::size_t>(end - data.begin());
    if (type == "tEXt") {
        if (std::find(end + 1, data.end(), 0) != data.end())
            return std::nullopt;
        return data.size();
    }
    std::size_t header = keywordEnd + 2; // zTXt: keyword, NUL, compression method
    bool compressed = true;
    if (type == "iTXt") {
        // Keyword, NUL, compression flag and method, language tag, NUL, translated keyword, NUL.
        if (data.size() < keywordEnd + 3 || data[keywordEnd + 1] > 1)
            return std::nullopt;
        compressed = data[keywordEnd + 1] == 1;
        if (compressed && data[keywordEnd + 2] != 0)
            return std::nullopt;
        const auto language = std::find(data.begin() + static_cast<std::ptrdiff_t>(keywordEnd) + 3, data.end(), 0);
        if (language == data.end())
            return std::nullopt;
        const auto translated = std::find(language + 1, data.end(), 0);
        if (translated == data.end())
            return std::nullopt;
        header = static_cast<std::size_t>(translated - data.begin()) + 1;
    } else if (data.size() < header || data[keywordEnd + 1] != 0) {
        return std::nullopt;
    }
    if (!compressed)
        return data.size();
    if (header > limit)
        return header;
    const auto inflated = InflatedSize(data.subspan(header), limit - header);
    if (!inflated)
        return std::nullopt;
    return header + *inflated;
}

bool IsText(std::string_view type)
{
    return type == "tEXt" || type == "zTXt" || type == "iTXt";
}

/// A text chunk under `keyword`: tEXt when the text is ASCII (Latin-1 is what tEXt holds, and
/// ASCII is the same in both), iTXt when it is other UTF-8; nothing for other bytes or a NUL.
void AddText(ImageMetadata& metadata, std::string_view keyword, std::span<const std::uint8_t> text)
{
    if (std::find(text.begin(), text.end(), 0) != text.end() || !ValidUtf8(text))
        return;
    const bool ascii = std::all_of(text.begin(), text.end(), [](std::uint8_t c) { return c < 0x80; });
    std::vector<std::uint8_t> data(keyword.begin(), keyword.end());
    data.push_back(0);
    if (!ascii) // compression flag and method, empty language tag and translated keyword
        data.insert(data.end(), {0, 0, 0, 0});
    data.insert(data.end(), text.begin(), text.end());
    metadata.Add(ascii ? "tEXt" : "iTXt", data);
}

} // namespace

bool ImageMetadata::Add(std::string_view type, std::span<const std::uint8_t> data)
{
    if (type.size() != 4)
        return false;
    if (chunks.size() >= MaxMetadataChunks) {
        ++droppedAtLimits;
        return false;
    }
    std::size_t cost = data.size();
    if (IsText(type)) {
        const auto text = TextCost(type, data, MaxMetadataBytes - bytes);
        if (!text) {
            ++droppedInvalid;
            return false;
        }
        cost = *text;
    }
    if (cost > MaxMetadataBytes - bytes) {
        ++droppedAtLimits;
        return false;
    }
    MetadataChunk chunk;
    std::copy(type.begin(), type.end(), chunk.type.begin());
    chunk.data.assign(data.begin(), data.end());
    chunks.push_back(std::move(chunk));
    bytes += cost;
    return true;
}

std::string DroppedMetadataNote(const ImageMetadata& metadata)
{
    const auto count = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string note;
    if (metadata.droppedAtLimits > 0)
        note = count(metadata.droppedAtLimits, "metadata chunk") + " dropped at the limit of " +
               std::to_string(MaxMetadataChunks) + " chunks and " + std::to_string(MaxMetadataBytes >> 20) +
               " MiB";
    if (metadata.droppedInvalid > 0)
        note += (note.empty() ? "" : ", ") + count(metadata.droppedInvalid, "text chunk") +
                " dropped as not valid PNG text";
    return note;
}

bool IsKeptPngChunk(std::string_view type)
{
    return type == "eXIf" || type == "pHYs" || type == "tEXt" || type == "zTXt" || type == "iTXt";
}

bool ResetExifOrientation(std::span<std::uint8_t> exif)
{
    if (exif.size() < 8)
        return false;
    bool bigEndian = false;
    if (StartsWith(exif, std::string_view("MM\0*", 4)))
        bigEndian = true;
    else if (!StartsWith(exif, std::string_view("II*\0", 4)))
        return false;
    const std::uint32_t ifd = Read32(exif.data() + 4, bigEndian);
    if (ifd > exif.size() || exif.size() - ifd < 2)
        return false;
    const std::uint32_t entries = Read16(exif.data() + ifd, bigEndian);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = std::size_t{ifd} + 2 + std::size_t{i} * 12;
        if (at + 12 > exif.size())
            return false;
        std::uint8_t* entry = exif.data() + at;
        // Tag 0x0112, type SHORT, one value, held in the entry itself.
        if (Read16(entry, bigEndian) == 0x0112 && Read16(entry + 2, bigEndian) == 3 &&
            Read32(entry + 4, bigEndian) == 1) {
            entry[8] = bigEndian ? 0 : 1;
            entry[9] = bigEndian ? 1 : 0;
            return true;
        }
    }
    return false;
}

bool ResetXmpOrientation(std::vector<std::uint8_t>& xmp)
{
    constexpr std::string_view Name = "tiff:Orientation";
    bool found = false;
    std::size_t at = 0;
    while (at < xmp.size()) {
        const auto hit = std::search(xmp.begin() + static_cast<std::ptrdiff_t>(at), xmp.end(), Name.begin(), Name.end());
        if (hit == xmp.end())
            break;
        const std::size_t start = static_cast<std::size_t>(hit - xmp.begin());
        std::size_t i = start + Name.size();
        at = i;
        if (start == 0 || xmp[start - 1] == '/' || xmp[start - 1] == ':')
            continue; // a closing tag, or a longer name ending in this one
        const auto skipSpaces = [&xmp](std::size_t k) {
            while (k < xmp.size() && (xmp[k] == ' ' || xmp[k] == '\t' || xmp[k] == '\n' || xmp[k] == '\r'))
                ++k;
            return k;
        };
        // The attribute form tiff:Orientation="6" or the element form <tiff:Orientation>6</...>.
        std::uint8_t close = '<';
        i = skipSpaces(i);
        if (i < xmp.size() && xmp[i] == '=') {
            i = skipSpaces(i + 1);
            if (i >= xmp.size() || (xmp[i] != '"' && xmp[i] != '\''))
                continue;
            close = xmp[i];
        } else if (i >= xmp.size() || xmp[i] != '>') {
            continue;
        }
        const std::size_t valueStart = i + 1;
        const auto valueEnd = std::find(xmp.begin() + static_cast<std::ptrdiff_t>(valueStart), xmp.end(), close);
        if (valueEnd == xmp.end())
            break;
        const std::size_t length = static_cast<std::size_t>(valueEnd - xmp.begin()) - valueStart;
        if (length == 0 || length > 3 ||
            !std::all_of(xmp.begin() + static_cast<std::ptrdiff_t>(valueStart), valueEnd,
                         [](std::uint8_t c) { return c >= '0' && c <= '9'; }))
            continue;
        found = true;
        xmp.erase(xmp.begin() + static_cast<std::ptrdiff_t>(valueStart), valueEnd);
        xmp.insert(xmp.begin() + static_cast<std::ptrdiff_t>(valueStart), '1');
        at = valueStart + 1;
    }
    return found;
}

ImageMetadata ReadJpegMetadata(std::span<const std::uint8_t> head)
{
    ImageMetadata metadata;
    if (head.size() < 4 || head[0] != 0xff || head[1] != 0xd8)
        return metadata;
    constexpr std::string_view ExifPrefix("Exif\0\0", 6);
    constexpr std::string_view XmpPrefix("http://ns.adobe.com/xap/1.0/\0", 29);
    constexpr std::string_view JfifPrefix("JFIF\0", 5);
    bool haveExif = false;
    bool haveXmp = false;
    bool haveDensity = false;
    std::size_t at = 2;
    while (at + 4 <= head.size()) {
        if (head[at] != 0xff)
            break; // not a marker where one must be: stop rather than guess
        const std::uint8_t marker = head[at + 1];
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xda || marker == 0xd9) // start of scan, end of image: no more metadata
            break;
        const std::size_t length = Read16(head.data() + at + 2, true);
        if (length < 2 || head.size() - at - 2 < length)
            break;
        const std::span<const std::uint8_t> payload = head.subspan(at + 4, length - 2);
        if (marker == 0xe1 && !haveExif && StartsWith(payload, ExifPrefix)) {
            std::vector<std::uint8_t> exif(payload.begin() + ExifPrefix.size(), payload.end());
            ResetExifOrientation(exif); // the decoder has turned the pixels already
            haveExif = metadata.Add("eXIf", exif);
        } else if (marker == 0xe1 && !haveXmp && StartsWith(payload, XmpPrefix)) {
            std::vector<std::uint8_t> xmp(payload.begin() + XmpPrefix.size(), payload.end());
            ResetXmpOrientation(xmp); // the decoder has turned the pixels already
            std::vector<std::uint8_t> data;
            for (const char c : std::string_view("XML:com.adobe.xmp"))
                data.push_back(static_cast<std::uint8_t>(c));
            data.insert(data.end(), {0, 0, 0, 0, 0});
            data.insert(data.end(), xmp.begin(), xmp.end());
            if (ValidUtf8(xmp) && std::find(xmp.begin(), xmp.end(), 0) == xmp.end())
                haveXmp = metadata.Add("iTXt", data);
        } else if (marker == 0xe0 && !haveDensity && StartsWith(payload, JfifPrefix) &&
                   payload.size() >= 12) {
            // JFIF: version (2 bytes), units (0 none, 1 per inch, 2 per cm), x and y density.
            const std::uint8_t units = payload[7];
            const std::uint32_t x = Read16(payload.data() + 8, true);
            const std::uint32_t y = Read16(payload.data() + 10, true);
            if (x > 0 && y > 0 && units <= 2) {
                const auto perMetre = [units](std::uint32_t d) {
                    return units == 1   ? static_cast<std::uint32_t>(d / 0.0254 + 0.5)
                           : units == 2 ? d * 100
                                        : d;
                };
                std::vector<std::uint8_t> phys;
                Append32(phys, perMetre(x));
                Append32(phys, perMetre(y));
                phys.push_back(units == 0 ? 0 : 1); // 1: the unit is the metre
                haveDensity = metadata.Add("pHYs", phys);
            }
        } else if (marker == 0xfe) {
            AddText(metadata, "Comment", payload);
        }
        at += 2 + length;
    }
    return metadata;
}

} // namespace tessaline
