#pragma once
// imageio/image_metadata.h: what --keep-metadata carries from a source file into its result, held
// as the PNG chunks it becomes: eXIf (the EXIF block), pHYs (the pixel density), tEXt, zTXt and
// iTXt (text, XMP as iTXt "XML:com.adobe.xmp"). A PNG source gives its own chunks as they are; a
// JPEG gives its EXIF (APP1), XMP (APP1), comments (COM) and JFIF density (APP0). The EXIF
// orientation, which the JPEG reader has applied to the pixels, is reset to 1 in what is kept (a
// PNG's pixels are not turned, so its eXIf stays as it is); so is an XMP tiff:Orientation. Text
// chunks that are not valid PNG text (a keyword empty, too long, with control characters or
// without its separator; compressed text that does not inflate) are dropped. Everything is
// bounded: at most MaxMetadataChunks chunks and MaxMetadataBytes bytes, compressed text counted
// as it inflates, are kept; the rest is dropped. What was dropped is counted, for the front ends
// to say. Untrusted bytes are only copied, bounds-checked and inflated within the bounds, never
// followed outside their block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaline {

inline constexpr std::size_t MaxMetadataChunks = 64;
inline constexpr std::size_t MaxMetadataBytes = std::size_t{4} << 20;

/// One chunk as the PNG writer writes it: the four-letter type and the data.
struct MetadataChunk
{
    std::array<char, 4> type{};
    std::vector<std::uint8_t> data;
};

struct ImageMetadata
{
    std::vector<MetadataChunk> chunks; ///< in the order they are written, all before the image data
    std::size_t bytes = 0;             ///< the data bytes of `chunks`, compressed text as inflated
    std::size_t droppedAtLimits = 0;   ///< chunks left out at MaxMetadataChunks or MaxMetadataBytes
    std::size_t droppedInvalid = 0;    ///< text chunks left out as not valid PNG text

    /// Adds a chunk of type `type` (four letters); false, and nothing added (but counted), past the
    /// bounds or for a text chunk that is not valid PNG text.
    bool Add(std::string_view type, std::span<const std::uint8_t> data);
    bool Empty() const { return chunks.empty(); }
};

/// What a result's summary says of the metadata left out ("2 metadata chunks dropped at the limit
/// of 64 chunks and 4 MiB, 1 text chunk dropped as not valid PNG text"); empty when nothing was.
std::string DroppedMetadataNote(const ImageMetadata& metadata);

/// Whether `type` is one of the chunks a PNG source keeps (eXIf, pHYs, tEXt, zTXt, iTXt).
bool IsKeptPngChunk(std::string_view type);

/// Sets the orientation tag of a TIFF-structured EXIF block (IFD0, tag 0x0112) to 1 in place;
/// false when the block holds no well-formed orientation tag (then nothing changes).
bool ResetExifOrientation(std::span<std::uint8_t> exif);

/// Sets every tiff:Orientation of an XMP packet (attribute or element) to 1; false when it holds
/// none (then nothing changes).
bool ResetXmpOrientation(std::vector<std::uint8_t>& xmp);

/// The metadata in the segments of a JPEG file before its image data; `head` is the file from its
/// start (it may stop anywhere). Empty when `head` is not a JPEG.
ImageMetadata ReadJpegMetadata(std::span<const std::uint8_t> head);

} // namespace tessaline
