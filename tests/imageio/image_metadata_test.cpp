// What --keep-metadata carries from a JPEG: its EXIF, XMP, comment and density become PNG chunks
// with the orientation reset. A PNG's own chunks are checked end to end in the CLI's tests.

#include "imageio/image_metadata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace tessaline {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

/// A TIFF-structured EXIF block whose IFD0 holds a resolution unit and the orientation `value`.
Bytes Exif(bool bigEndian, std::uint16_t value)
{
    const auto u16 = [bigEndian](Bytes& out, std::uint16_t v) {
        out.push_back(static_cast<std::uint8_t>(bigEndian ? v >> 8 : v & 0xff));
        out.push_back(static_cast<std::uint8_t>(bigEndian ? v & 0xff : v >> 8));
    };
    const auto u32 = [&u16, bigEndian](Bytes& out, std::uint32_t v) {
        u16(out, static_cast<std::uint16_t>(bigEndian ? v >> 16 : v & 0xffff));
        u16(out, static_cast<std::uint16_t>(bigEndian ? v & 0xffff : v >> 16));
    };
    Bytes exif = bigEndian ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
    u32(exif, 8);
    u16(exif, 2);
    for (const auto& [tag, v] : {std::pair<std::uint16_t, std::uint16_t>{0x0128, 2}, {0x0112, value}}) {
        u16(exif, tag);
        u16(exif, 3);
        u32(exif, 1);
        u16(exif, v);
        u16(exif, 0);
    }
    u32(exif, 0);
    return exif;
}

void Segment(Bytes& jpeg, std::uint8_t marker, const Bytes& payload)
{
    jpeg.insert(jpeg.end(), {0xff, marker, static_cast<std::uint8_t>((payload.size() + 2) >> 8),
                             static_cast<std::uint8_t>((payload.size() + 2) & 0xff)});
    jpeg.insert(jpeg.end(), payload.begin(), payload.end());
}

TEST(ImageMetadataTest, ExifOrientationIsResetInBothByteOrders)
{
    for (const bool bigEndian : {false, true}) {
        Bytes exif = Exif(bigEndian, 6);
        EXPECT_TRUE(ResetExifOrientation(exif));
        EXPECT_EQ(exif, Exif(bigEndian, 1));
    }
    Bytes cut = Exif(false, 6);
    cut.resize(20); // the entry runs past the block: nothing is touched
    const Bytes before = cut;
    EXPECT_FALSE(ResetExifOrientation(cut));
    EXPECT_EQ(cut, before);
}

TEST(ImageMetadataTest, JpegSegmentsBecomeChunks)
{
    const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    Bytes jpeg = {0xff, 0xd8};
    Segment(jpeg, 0xe0, {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72, 0, 0}); // 72 dpi
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes exif = Exif(true, 6);
    app1.insert(app1.end(), exif.begin(), exif.end());
    Segment(jpeg, 0xe1, app1);
    Bytes xmpSegment = Of("http://ns.adobe.com/xap/1.0/");
    xmpSegment.push_back(0);
    const Bytes xmpBytes = Of(xmp);
    xmpSegment.insert(xmpSegment.end(), xmpBytes.begin(), xmpBytes.end());
    Segment(jpeg, 0xe1, xmpSegment);
    Segment(jpeg, 0xfe, Of("taken at dawn"));
    Segment(jpeg, 0xda, {0, 1, 2});

    const ImageMetadata metadata = ReadJpegMetadata(jpeg);
    ASSERT_EQ(metadata.chunks.size(), 4u);
    EXPECT_EQ(std::string(metadata.chunks[0].type.data(), 4), "pHYs");
    EXPECT_EQ(metadata.chunks[0].data, (Bytes{0, 0, 0x0b, 0x13, 0, 0, 0x0b, 0x13, 1})); // 2835 per metre
    EXPECT_EQ(std::string(metadata.chunks[1].type.data(), 4), "eXIf");
    EXPECT_EQ(metadata.chunks[1].data, Exif(true, 1));
    EXPECT_EQ(std::string(metadata.chunks[2].type.data(), 4), "iTXt");
    Bytes itxt = Of("XML:com.adobe.xmp");
    itxt.insert(itxt.end(), {0, 0, 0, 0, 0});
    itxt.insert(itxt.end(), xmpBytes.begin(), xmpBytes.end());
    EXPECT_EQ(metadata.chunks[2].data, itxt);
    EXPECT_EQ(std::string(metadata.chunks[3].type.data(), 4), "tEXt");
    Bytes text = Of("Comment");
    text.push_back(0);
    const Bytes comment = Of("taken at dawn");
    text.insert(text.end(), comment.begin(), comment.end());
    EXPECT_EQ(metadata.chunks[3].data, text);

    // Not a JPEG, or one cut inside a segment: nothing, or what came whole before the cut.
    EXPECT_TRUE(ReadJpegMetadata(Of("GIF89a")).Empty());
    EXPECT_EQ(ReadJpegMetadata(std::span(jpeg).first(30)).chunks.size(), 1u);
}

} // namespace
} // namespace tessaline
