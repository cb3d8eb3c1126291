#include "cli/batch_report.h"

#include <QFileInfo>

#include <cmath>
#include <string>

#include "imageio/atomic_file.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"

namespace tessaline {

namespace {

// The columns, in the order both forms write them.
constexpr const char* Columns[] = {"input", "output", "status", "width", "height", "palette_size", "colours_used",
                                   "transparent_entries", "input_bytes", "output_bytes", "psnr", "max_error", "ms",
                                   "profile", "trials", "curve"};
// The columns of every report; the rest only with searchFields.
constexpr std::size_t PlainColumns = 14;

std::string JsonString(const QString& text)
{
    std::string out = "\"";
    for (const char c : text.toStdString()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// A field that needs it is quoted, with its quotes doubled; a line break stays inside the quotes.
std::string CsvString(const QString& text)
{
    const std::string raw = text.toStdString();
    if (raw.find_first_of(",\"\r\n") == std::string::npos)
        return raw;
    std::string out = "\"";
    for (const char c : raw) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

template <typename T>
std::string Number(const std::optional<T>& value, bool csv)
{
    if (!value)
        return csv ? "" : "null";
    return std::to_string(*value);
}

std::string Decibels(const std::optional<double>& value, bool csv)
{
    if (!value)
        return csv ? "" : "null";
    // JSON has no infinity; a result that shows its source exactly has no error to measure.
    if (std::isinf(*value))
        return csv ? "inf" : "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

std::string Curve(const std::optional<std::vector<ReportCurvePoint>>& curve, bool csv)
{
    if (!curve)
        return csv ? "" : "null";
    std::string out = csv ? "" : "[";
    for (const ReportCurvePoint& point : *curve) {
        if (out.size() > (csv ? 0u : 1u))
            out += csv ? " " : ", ";
        const std::string psnr = Decibels(point.psnr, csv);
        if (csv)
            out += std::to_string(point.colours) + ':' + std::to_string(point.bytes) + ':' + psnr + ':' +
                   std::to_string(point.maxError);
        else
            out += "{\"colours\": " + std::to_string(point.colours) +
                   ", \"bytes\": " + std::to_string(point.bytes) + ", \"psnr\": " + psnr +
                   ", \"max_error\": " + std::to_string(point.maxError) + "}";
    }
    return csv ? out : out + "]";
}

} // namespace

bool BatchReport::Open(const QString& path, QString& whyNot, const QString& paletteField, bool withSearchFields)
{
    palette = paletteField;
    searchFields = withSearchFields;
    csv = QFileInfo(path).suffix().compare("csv", Qt::CaseInsensitive) == 0;
    // Opened as a result is written: never through another user's link, never waiting on a pipe.
    std::error_code why;
    file = OpenFileInPlace(ToPath(path), why);
    if (file == nullptr) {
        whyNot = "cannot write the report " + DisplayName(path) + ": " + WriteFailureReason(why);
        return false;
    }
    if (csv) {
        std::string header;
        for (const char* column : Columns) {
            if (!searchFields && column == Columns[PlainColumns])
                break;
            if (!header.empty())
                header += ',';
            header += column;
        }
        if (!palette.isEmpty())
            header += ",palette";
        header += '\n';
        failed = std::fputs(header.c_str(), file) < 0 || std::fflush(file) != 0;
    }
    return true;
}

bool BatchReport::Write(const ReportRecord& record)
{
    if (file == nullptr || failed)
        return false;
    const std::string fields[] = {
        csv ? CsvString(record.input) : JsonString(record.input),
        csv ? CsvString(record.output) : JsonString(record.output),
        csv ? CsvString(record.status) : JsonString(record.status),
        Number(record.width, csv),
        Number(record.height, csv),
        Number(record.paletteSize, csv),
        Number(record.coloursUsed, csv),
        Number(record.transparentEntries, csv),
        Number(record.inputBytes, csv),
        Number(record.outputBytes, csv),
        Decibels(record.psnr, csv),
        Number(record.maxError, csv),
        Number(record.ms, csv),
        record.profile ? (csv ? CsvString(*record.profile) : JsonString(*record.profile)) : (csv ? "" : "null"),
        Number(record.trials, csv),
        Curve(record.curve, csv),
    };
    std::string line = csv ? "" : "{";
    const std::size_t count = searchFields ? std::size(fields) : PlainColumns;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            line += csv ? "," : ", ";
        if (!csv) {
            line += '"';
            line += Columns[i];
            line += "\": ";
        }
        line += fields[i];
    }
    if (!palette.isEmpty()) {
        line += csv ? "," : ", \"palette\": ";
        line += csv ? CsvString(palette) : JsonString(palette);
    }
    line += csv ? "\n" : "}\n";
    // One write and a flush per record: a reader (or a kill) between records sees whole lines only.
    failed = std::fwrite(line.data(), 1, line.size(), file) != line.size() || std::fflush(file) != 0;
    return !failed;
}

BatchReport::~BatchReport()
{
    if (file != nullptr)
        std::fclose(file);
}

} // namespace tessaline
