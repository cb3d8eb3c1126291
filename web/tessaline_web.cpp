// web/tessaline_web.cpp: the engine's one call for the web page, RGBA and the settings rows'
// values in, the palette PNG's parts and the result figures out, and the settings table as data
// for the page's controls. The module belongs to one Web Worker and runs one reduction at a time,
// so the last result lives here until the next call or TessalineRelease. Texts are UTF-8 JSON.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_pipeline.h"
#include "engine/reduce_settings.h"
#include "engine/result_figures.h"
#include "imageio/palette_png_layout.h"
#include "settings/palette_request.h"
#include "settings/setting_table.h"
#include "worker/colour_search.h"

// The page hears each stage as the worker reaches it; Module.onStage is the worker's.
EM_JS(void, TessalineReportStage, (int stage), {
    if (Module.onStage)
        Module.onStage(stage);
});

namespace tessaline {
namespace {

class StageReporter : public ProgressUIInterface
{
public:
    void ReportProgress(int stage) override { TessalineReportStage(stage); }
    void ReportFinished(std::uint32_t, int) override {}
};

struct WebResult
{
    int code = ReduceQualityTooLow;
    IndexedImage image;
    std::optional<ResultFigures> figures;
    std::vector<std::uint8_t> rows;   ///< the zlib stream's input, PackImageRows
    std::vector<std::uint8_t> errors; ///< every pixel's PixelError, row by row
    std::string json;
};

WebResult& Last()
{
    static WebResult result;
    return result;
}

void AppendQuoted(std::string& out, const char* text)
{
    out += '"';
    for (const char* c = text ? text : ""; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += *c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += *c;
        }
    }
    out += '"';
}

void AppendBytes(std::string& out, const std::uint8_t* bytes, std::size_t count)
{
    out += '[';
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            out += ',';
        out += std::to_string(bytes[i]);
    }
    out += ']';
}

// The page shows the rows a job reads from the values alone: the user weight needs a painted map
// and the palettes from outside need files, which the page does not offer. The IE6 box steers the
// opacity row rather than a job field of its own.
bool ShownOnPage(const SettingRow& row)
{
    return row.caption && row.caption[0] && (row.fillJob || row.key == Setting::Ie6);
}

std::string SettingsJson()
{
    std::string out = "[";
    for (const SettingRow& row : SettingRows()) {
        if (out.size() > 1)
            out += ',';
        out += "{\"key\":" + std::to_string(static_cast<int>(row.key)) + ",\"name\":";
        AppendQuoted(out, row.name);
        out += ",\"kind\":";
        AppendQuoted(out, row.kind == SettingKind::Slider   ? "slider"
                          : row.kind == SettingKind::Switch ? "switch"
                                                            : "choice");
        out += ",\"low\":" + std::to_string(row.low) + ",\"high\":" + std::to_string(row.high) +
               ",\"default\":" + std::to_string(row.defaultValue) + ",\"caption\":";
        AppendQuoted(out, row.caption);
        out += std::string(",\"page\":") + (ShownOnPage(row) ? "true" : "false");
        if (row.valueFormat) {
            out += ",\"valueFormat\":";
            AppendQuoted(out, row.valueFormat);
        }
        if (row.shownValue) {
            out += ",\"shown\":[";
            for (int position = row.low; position <= row.high; ++position)
                out += (position > row.low ? "," : "") + std::to_string(ShownValue(row, position));
            out += ']';
        }
        if (row.offCaption && row.onCaption) {
            out += ",\"offCaption\":";
            AppendQuoted(out, row.offCaption);
            out += ",\"onCaption\":";
            AppendQuoted(out, row.onCaption);
        }
        if (!row.choices.empty()) {
            out += ",\"choices\":[";
            for (std::size_t i = 0; i < row.choices.size(); ++i) {
                if (i)
                    out += ',';
                AppendQuoted(out, row.choices[i]);
            }
            out += ']';
        }
        if (row.cliFlag) {
            out += ",\"flag\":";
            AppendQuoted(out, row.cliFlag);
        }
        out += '}';
    }
    out += ']';
    return out;
}

void AppendResultJson(WebResult& result)
{
    std::string& out = result.json;
    out = "{\"code\":" + std::to_string(result.code);
    if (result.code == ReduceOk) {
        const IndexedImage& image = result.image;
        out += ",\"width\":" + std::to_string(image.width) + ",\"height\":" + std::to_string(image.height) +
               ",\"paletteSize\":" + std::to_string(image.paletteSize) +
               ",\"transparentCount\":" + std::to_string(image.transparentCount) + ",\"palette\":[";
        for (std::uint32_t i = 0; i < image.paletteSize; ++i) {
            const auto rgba = StoredRgba(image, static_cast<std::uint8_t>(i));
            out += (i ? "," : "");
            AppendBytes(out, rgba.data(), rgba.size());
        }
        out += "],\"chunks\":[";
        bool first = true;
        for (const PngChunkData& chunk : PaletteHeadChunks(image)) {
            out += first ? "{\"type\":" : ",{\"type\":";
            first = false;
            const char type[5] = {chunk.type[0], chunk.type[1], chunk.type[2], chunk.type[3], 0};
            AppendQuoted(out, type);
            out += ",\"data\":";
            AppendBytes(out, chunk.data.data(), chunk.data.size());
            out += '}';
        }
        out += ']';
        if (result.figures) {
            const ResultFigures& figures = *result.figures;
            out += ",\"coloursUsed\":" + std::to_string(figures.coloursUsed) +
                   ",\"maxError\":" + std::to_string(figures.maxError) + ",\"psnr\":" +
                   (std::isfinite(figures.psnr) ? std::to_string(figures.psnr) : std::string("null"));
        }
    }
    out += '}';
}

// The job the page's values and locked colours ask for, as the window builds it from its panel
// and its palette strip.
void BuildJob(const int* values, const std::uint8_t* kept, int keptCount, ReduceSettings& job)
{
    // Held to each row's range, as the panel's controls and the CLI's parser hold them.
    SettingValues settingValues;
    for (const SettingRow& row : SettingRows())
        settingValues[row.key] = std::clamp(values[static_cast<int>(row.key)], row.low, row.high);
    PaletteRequest request;
    for (int i = 0; i < keptCount; ++i)
        AddDistinct(request.kept, {kept[4 * i], kept[4 * i + 1], kept[4 * i + 2], kept[4 * i + 3]});
    settingValues[Setting::KeepColours] = request.kept.empty() ? 0 : 1;
    FillReduceSettings(settingValues, job);
    FillPaletteRequest(settingValues, request, job);
}

/// A colour curve in progress: the image prepared once (maps and histogram), finished at each count.
struct CurveState
{
    ReduceSettings job;
    RgbaImage source;  ///< the pixels as loaded, for the figures
    RgbaImage working; ///< the alpha-raised copy the reductions use, or empty when the raise changes nothing
    PreparedReduction prepared;
};

CurveState& Curve()
{
    static CurveState state;
    return state;
}

// Measures a finished result and lays out its file, as TessalineReduce does.
void CompleteResult(WebResult& result, const RgbaImage& source)
{
    if (result.code == ReduceOk) {
        result.figures = MeasureResult(source, result.image, &result.errors);
        result.rows = PackImageRows(result.image, PaletteBitDepth(result.image.paletteSize));
    }
    AppendResultJson(result);
}

} // namespace
} // namespace tessaline

using namespace tessaline;

extern "C" {

/// The settings table as JSON: one object per row, in table order.
EMSCRIPTEN_KEEPALIVE const char* TessalineSettingsJson()
{
    static const std::string json = SettingsJson();
    return json.c_str();
}

/// How many values TessalineReduce expects: one per settings row, in table order.
EMSCRIPTEN_KEEPALIVE int TessalineSettingCount()
{
    return static_cast<int>(SettingCount);
}

/// Reduces `width` x `height` pixels of R, G, B, A (straight alpha, sRGB as the browser decoded
/// them) at the given settings values, keeping the `keptCount` colours at `kept` (R, G, B, A each;
/// the palette strip's locks) exactly in the palette. Returns the pipeline's code; ReduceOutOfMemory
/// when memory ran out anywhere. The result stays until the next call; the inputs are only read.
EMSCRIPTEN_KEEPALIVE int TessalineReduce(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                                         const int* values, int valueCount, const std::uint8_t* kept,
                                         int keptCount)
{
    WebResult& result = Last();
    result = WebResult{};
    if (valueCount != static_cast<int>(SettingCount) || width == 0 || height == 0) {
        AppendResultJson(result);
        return result.code;
    }
    try {
        ProcessorHasSse2 = ProcessorSupportsSse2();
        ReduceSettings job;
        BuildJob(values, kept, keptCount, job);
        StageReporter reporter;
        job.progress = &reporter;

        // The figures compare with the pixels as loaded; the alpha raise works on a copy.
        RgbaImage source = CreateRgbaImage(width, height);
        std::memcpy(source.pixels.data(), rgba, source.pixels.size());
        RgbaImage working = AlphaRaiseApplies(job.minOpacity) ? source.Clone() : RgbaImage{};
        result.code = ReducePipeline(job, working.Empty() ? source : working, result.image);
        working.Release();
        CompleteResult(result, source);
    } catch (const std::bad_alloc&) {
        result = WebResult{};
        result.code = ReduceOutOfMemory;
        AppendResultJson(result);
    }
    return result.code;
}

/// The colour counts a colour curve measures, as JSON: the desktop's own list.
EMSCRIPTEN_KEEPALIVE const char* TessalineCurveCounts()
{
    static const std::string json = [] {
        std::string out = "[";
        for (const std::uint32_t count : DefaultCurveCounts())
            out += (out.size() > 1 ? "," : "") + std::to_string(count);
        return out + "]";
    }();
    return json.c_str();
}

/// Starts a colour curve: the image and the job as TessalineReduce takes them, prepared once
/// (stages 2 to 4). Returns a ReduceResult; then TessalineCurveAt for each count.
EMSCRIPTEN_KEEPALIVE int TessalineCurveStart(const std::uint8_t* rgba, std::uint32_t width,
                                             std::uint32_t height, const int* values, int valueCount,
                                             const std::uint8_t* kept, int keptCount)
{
    CurveState& curve = Curve();
    curve = CurveState{};
    if (valueCount != static_cast<int>(SettingCount) || width == 0 || height == 0)
        return ReduceQualityTooLow;
    try {
        ProcessorHasSse2 = ProcessorSupportsSse2();
        BuildJob(values, kept, keptCount, curve.job);
        curve.source = CreateRgbaImage(width, height);
        std::memcpy(curve.source.pixels.data(), rgba, curve.source.pixels.size());
        if (AlphaRaiseApplies(curve.job.minOpacity))
            curve.working = curve.source.Clone();
        const int code =
            PrepareReduction(curve.job, curve.working.Empty() ? curve.source : curve.working, curve.prepared);
        if (code != ReduceOk)
            curve = CurveState{};
        return code;
    } catch (const std::bad_alloc&) {
        curve = CurveState{};
        return ReduceOutOfMemory;
    }
}

/// The curve's result at `colours`, exactly as a reduction at that count gives it, left as the
/// last result (TessalineResultJson and the others read it). Returns its ReduceResult.
EMSCRIPTEN_KEEPALIVE int TessalineCurveAt(std::uint32_t colours)
{
    CurveState& curve = Curve();
    WebResult& result = Last();
    result = WebResult{};
    try {
        if (curve.source.Empty()) {
            AppendResultJson(result);
            return result.code;
        }
        PreparedReduction copy = curve.prepared.Copy();
        ReduceSettings job;
        static_cast<ReduceOptions&>(job) = curve.job; // every option; the curve has no user weights
        job.maxColours = colours;
        result.code =
            FinishReduction(job, copy, curve.working.Empty() ? curve.source : curve.working, result.image);
        CompleteResult(result, curve.source);
    } catch (const std::bad_alloc&) {
        result = WebResult{};
        result.code = ReduceOutOfMemory;
        AppendResultJson(result);
    }
    return result.code;
}

/// Ends the curve and frees what it prepared.
EMSCRIPTEN_KEEPALIVE void TessalineCurveEnd()
{
    Curve() = CurveState{};
}

/// The last result as JSON: code, size, palette (R, G, B, A as stored), the chunks before the
/// image data, and the figures.
EMSCRIPTEN_KEEPALIVE const char* TessalineResultJson()
{
    return Last().json.c_str();
}

/// The last result's indices, width x height bytes row by row; null without a result.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* TessalineResultIndices()
{
    const IndexedImage& image = Last().image;
    return image.pixels.empty() ? nullptr : image.pixels.data();
}

/// The rows the PNG's zlib stream holds (filter byte and packed indices per row), and their size.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* TessalineResultRows()
{
    return Last().rows.empty() ? nullptr : Last().rows.data();
}

EMSCRIPTEN_KEEPALIVE std::uint32_t TessalineResultRowsBytes()
{
    return static_cast<std::uint32_t>(Last().rows.size());
}

/// The last result's error of every pixel against the source (PixelError), width x height bytes.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* TessalineResultErrors()
{
    return Last().errors.empty() ? nullptr : Last().errors.data();
}

/// Frees the last result.
EMSCRIPTEN_KEEPALIVE void TessalineRelease()
{
    Last() = WebResult{};
}

} // extern "C"
