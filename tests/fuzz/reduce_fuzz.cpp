// libFuzzer target: the whole reduction on a small image with settings the panel can produce.
// The input bytes are a header of panel values (each folded into its slider's range), the image
// size (1 to 64 per side), a small colour table and one byte per pixel naming a colour, then
// optionally one weight-alpha byte per pixel. The job is built by BuildReduceJob, as the window and
// the command line build it, and run by ReducePipeline. The result must be complete and
// consistent, survive the PNG writer and read back as the pixels the bridge would show.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QImage>

#include "engine/colour_model.h"
#include "engine/reduce_pipeline.h"
#include "imageio/bitmap_bridge.h"
#include "jobs/painted_weights.h"
#include "imageio/png_reader.h"
#include "imageio/png_writer.h"
#include "worker/reduce_thread.h"

namespace tessaline {
namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

/// Reads the fuzzer's bytes front to back; past the end every read gives 0.
class ByteReader
{
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    /// A value from low to high inclusive.
    int Range(int low, int high)
    {
        const unsigned word = (unsigned{Byte()} << 8) | Byte();
        return low + static_cast<int>(word % static_cast<unsigned>(high - low + 1));
    }
    bool Flag() { return (Byte() & 1) != 0; }
    std::size_t Left() const { return size - at; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

struct Case
{
    SettingValues panel;
    bool scalar = false;
    RgbaImage source;
    QImage weights;
};

Case Decode(ByteReader& in)
{
    Case c;
    SettingValues& panel = c.panel;
    panel[Setting::Colours] = in.Range(2, 256);
    panel[Setting::Ie6] = in.Flag(); // the IE6 fix holds the opacity at 238
    if (!panel.On(Setting::Ie6))
        panel[Setting::Opacity] = in.Range(1, 256);
    panel[Setting::Dither] = !in.Flag(); // "orderd" chosen: no error diffusion
    panel[Setting::TransparentLast] = in.Flag();
    panel[Setting::ContrastMap] = in.Flag();
    panel[Setting::DitherMap] = in.Flag();
    panel[Setting::FastHistogram] = in.Flag();
    panel[Setting::Histogram] = in.Range(0, 63);
    panel[Setting::Feedback] = in.Range(0, 49);
    panel[Setting::Voronoi] = in.Range(0, 7);
    panel[Setting::Convergence] = in.Range(13, 22);
    // The panel offers user weights only with the contrast map on.
    panel[Setting::UseUserWeight] = panel.On(Setting::ContrastMap) && in.Flag();
    panel[Setting::UserWeight] = in.Range(0, 100);
    c.scalar = in.Flag();

    const auto width = static_cast<std::uint32_t>(in.Range(1, 64));
    const auto height = static_cast<std::uint32_t>(in.Range(1, 64));
    // A table of up to 256 colours keeps repeated colours likely, as in real images.
    const int tableSize = in.Range(1, 256);
    std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSize) * 4);
    for (std::uint8_t& byte : table)
        byte = in.Byte();

    c.source = CreateRgbaImage(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* colour = &table[(in.Byte() % tableSize) * 4u];
            std::uint8_t* out = c.source.rows[y] + x * 4;
            for (int i = 0; i < 4; ++i)
                out[i] = colour[i];
        }
    if (panel.On(Setting::UseUserWeight)) {
        c.weights = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
        c.weights.fill(Qt::transparent);
        for (int y = 0; y < c.weights.height() && in.Left() > 0; ++y)
            for (int x = 0; x < c.weights.width(); ++x)
                c.weights.setPixel(x, y, qRgba(0, 0, 0, in.Byte()));
    }
    return c;
}

/// The result is complete: every index names a palette entry, the palette fits the request.
void CheckResult(const IndexedImage& result, const RgbaImage& source, const ReduceSettings& job)
{
    Check(result.width == source.width && result.height == source.height);
    Check(result.rows.size() == result.height);
    Check(result.pixels.size() == std::size_t{result.width} * result.height);
    Check(result.paletteSize >= 1 && result.paletteSize <= job.maxColours && result.paletteSize <= 256);
    Check(result.transparentCount <= result.paletteSize);
    for (std::uint32_t y = 0; y < result.height; ++y) {
        Check(result.rows[y] == result.pixels.data() + std::size_t{y} * result.width);
        for (std::uint32_t x = 0; x < result.width; ++x)
            Check(result.rows[y][x] < result.paletteSize);
    }
}

#if !defined(_WIN32)
/// Writes the result as a PNG in memory and reads it back: the file holds what the view shows.
void CheckRoundTrip(const IndexedImage& result)
{
    char* buffer = nullptr;
    std::size_t bytes = 0;
    std::FILE* stream = open_memstream(&buffer, &bytes);
    Check(stream != nullptr);
    const int written = WritePngStream(result, stream);
    std::fclose(stream);
    Check(written == PngWriteOk);

    RgbaImage decoded;
    const int read = ReadPngMemory(decoded, reinterpret_cast<const std::uint8_t*>(buffer), bytes);
    std::free(buffer);
    Check(read == PngReadOk);
    const QImage shown = MakeResultBitmap(result);
    Check(!shown.isNull());
    Check(decoded.width == result.width && decoded.height == result.height);
    for (std::uint32_t y = 0; y < decoded.height; ++y) {
        const auto* view = reinterpret_cast<const QRgb*>(shown.constScanLine(static_cast<int>(y)));
        for (std::uint32_t x = 0; x < decoded.width; ++x) {
            const std::uint8_t* p = decoded.rows[y] + x * 4;
            Check(qRgba(p[0], p[1], p[2], p[3]) == view[x]);
        }
    }
}
#endif

} // namespace
} // namespace tessaline

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tessaline;
    ByteReader in(data, size);
    Case c = Decode(in);

    IndexedImage result;
    ReduceThread thread(nullptr); // the job's holder; the reduction runs here, not on its worker
    ProcessorHasSse2 = !c.scalar && ProcessorSupportsSse2();
    const bool built = BuildReduceJob(thread, c.panel, c.panel.On(Setting::UseUserWeight) ? &c.weights : nullptr,
                                      c.source, result);
    Check(built);
    Check(c.panel.On(Setting::UseUserWeight) == (thread.job.userWeights != nullptr));

    const int code = ReducePipeline(thread.job, c.source, result);
    // The job builder's maxError of 1e20 can never be exceeded, and these buffers are tiny.
    Check(code == ReduceOk);
    CheckResult(result, c.source, thread.job);
#if !defined(_WIN32)
    CheckRoundTrip(result);
#endif
    return 0;
}
