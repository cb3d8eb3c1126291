// libFuzzer target: the road of a file the PNG reader does not take. DecodeBitmap hands the bytes
// to Qt's image readers (the format found from the content, as for a dropped file), the bridge
// turns the bitmap into the engine's image and back into a display bitmap. Qt is told how much it
// may allocate, so a header declaring gigabytes is refused rather than allocated.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include "engine/colour_model.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/bitmap_decoder.h"
#include "imageio/image_limits.h"

namespace {

/// Qt's allocation limit for one decoded image, in MiB: 64 MiB is 16 megapixels of ARGB32.
constexpr int FuzzAllocationLimitMiB = 64;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Qt's decoders warn on stderr about every damaged input; at fuzzing speed that is only noise.
void DropMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

/// Runs once, before the first input: every input then decodes under the same limit.
bool SetUp()
{
    QImageReader::setAllocationLimit(FuzzAllocationLimitMiB);
    qInstallMessageHandler(DropMessages);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tessaline;
    static const bool ready = SetUp();
    Check(ready);

    // fromRawData: no copy, the fuzzer's buffer stays the only one (and out-of-bounds reads show).
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                     static_cast<qsizetype>(size));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return 0;
    const QImage bitmap = DecodeBitmap(buffer);
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        Check(bitmap.isNull()); // PNG files are the PNG reader's alone

    RgbaImage image;
    const bool loaded = LoadFromBitmap(image, bitmap);
    if (!loaded) {
        Check(image.Empty() && image.rows.empty() && image.width == 0 && image.height == 0);
        return 0;
    }
    Check(!bitmap.isNull());
    Check(image.width == static_cast<std::uint32_t>(bitmap.width()));
    Check(image.height == static_cast<std::uint32_t>(bitmap.height()));
    Check(WithinImageLimits(image.width, image.height));
    Check(image.pixels.size() == std::size_t{image.width} * image.height * 4);
    Check(image.rows.size() == image.height);
    Check(image.gamma == double{InternalGamma} && image.sourceBytes == 0);

    // Back to a display bitmap: the same pixels as the decoded one in ARGB32.
    const QImage shown = MakeSourceBitmap(image);
    Check(!shown.isNull() && shown.size() == bitmap.size());
    const QImage argb = bitmap.convertToFormat(QImage::Format_ARGB32);
    Check(!argb.isNull());
    for (int y = 0; y < shown.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x)
            Check(a[x] == b[x]);
    }
    return 0;
}
