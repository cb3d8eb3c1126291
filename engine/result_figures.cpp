#include "engine/result_figures.h"

#include <cmath>
#include <vector>

#include "engine/parallel.h"

namespace tessaline {

namespace {

/// One thread's share of the sums; integers, so the totals do not depend on how rows are split.
struct FigureSums
{
    std::array<std::uint64_t, 256> entryPixels{};
    std::uint64_t squaresBlack = 0;
    std::uint64_t squaresWhite = 0;
    int maxError = 0;
};

bool RowsCover(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t*>& rows,
               std::size_t pixelBytes, std::size_t bufferBytes)
{
    if (width == 0 || height == 0 || rows.size() != height)
        return false;
    if (bufferBytes < std::size_t{width} * height * pixelBytes)
        return false;
    for (const std::uint8_t* row : rows)
        if (row == nullptr)
            return false;
    return true;
}

double Psnr(double mse)
{
    return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : std::numeric_limits<double>::infinity();
}

} // namespace

std::array<std::uint8_t, 256> LevelsAtInternalGamma(double gamma)
{
    std::array<std::uint8_t, 256> levels{};
    const float imageGamma = static_cast<float>(gamma);
    for (int v = 0; v < 256; ++v) {
        if (imageGamma == InternalGamma || !(imageGamma > 0.0f)) {
            levels[v] = static_cast<std::uint8_t>(v);
            continue;
        }
        const double e = double(InternalGamma) / imageGamma;
        levels[v] = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(v / 255.0, e)));
    }
    return levels;
}

std::optional<ResultFigures> MeasureResult(const RgbaImage& source, const IndexedImage& result,
                                           std::vector<std::uint8_t>* errors)
{
    if (source.width != result.width || source.height != result.height)
        return std::nullopt;
    if (!RowsCover(source.width, source.height, source.rows, 4, source.pixels.size()) ||
        !RowsCover(result.width, result.height, result.rows, 1, result.pixels.size()))
        return std::nullopt;

    std::array<std::array<std::uint8_t, 4>, 256> stored;
    for (int p = 0; p < 256; ++p)
        stored[p] = StoredRgba(result, static_cast<std::uint8_t>(p));
    const std::array<std::uint8_t, 256> levels = LevelsAtInternalGamma(source.gamma);

    const std::uint32_t width = source.width;
    const std::int64_t height = source.height;
    const std::int64_t pixelCount = std::int64_t{width} * height;
    std::uint8_t* errorRows = nullptr;
    if (errors) {
        errors->assign(static_cast<std::size_t>(pixelCount), 0);
        errorRows = errors->data();
    }
    std::vector<FigureSums> perThread(MaxThreads());
#pragma omp parallel for if (pixelCount > ParallelThreshold) schedule(static)
    for (std::int64_t y = 0; y < height; ++y) {
        FigureSums& mine = perThread[ThreadIndex()];
        const std::uint8_t* in = source.rows[y];
        const std::uint8_t* indices = result.rows[y];
        for (std::uint32_t x = 0; x < width; ++x, in += 4) {
            const std::uint8_t index = indices[x];
            ++mine.entryPixels[index];
            const std::uint8_t* out = stored[index].data();
            const std::uint8_t src[4] = {levels[in[0]], levels[in[1]], levels[in[2]], in[3]};
            // Two opaque pixels look the same over any background: skip the compositing, which
            // gives exactly their difference anyway. Most pixels of a photo take this way.
            const bool opaque = src[3] == 255 && out[3] == 255;
            int worst = 0;
            for (int c = 0; c < 3; ++c) {
                int black = 0;
                int white = 0;
                if (opaque)
                    black = white = int{src[c]} - int{out[c]};
                else
                    CompositeDifferences(src, out, c, black, white);
                mine.squaresBlack += static_cast<std::uint64_t>(black * black);
                mine.squaresWhite += static_cast<std::uint64_t>(white * white);
                worst = std::max({worst, std::abs(black), std::abs(white)});
            }
            mine.maxError = std::max(mine.maxError, worst);
            if (errorRows)
                errorRows[y * width + x] = static_cast<std::uint8_t>(worst);
        }
    }

    FigureSums total;
    for (const FigureSums& sums : perThread) { // thread order; integer sums make it exact anyway
        for (int p = 0; p < 256; ++p)
            total.entryPixels[p] += sums.entryPixels[p];
        total.squaresBlack += sums.squaresBlack;
        total.squaresWhite += sums.squaresWhite;
        total.maxError = std::max(total.maxError, sums.maxError);
    }

    ResultFigures figures;
    const double channels = 3.0 * double(pixelCount);
    figures.mseBlack = double(total.squaresBlack) / channels;
    figures.mseWhite = double(total.squaresWhite) / channels;
    figures.mse = (figures.mseBlack + figures.mseWhite) / 2.0;
    figures.psnr = Psnr(figures.mse);
    figures.maxError = total.maxError;
    figures.entryPixels = total.entryPixels;
    for (std::uint64_t pixels : total.entryPixels)
        figures.coloursUsed += pixels != 0 ? 1 : 0;
    return figures;
}

} // namespace tessaline
