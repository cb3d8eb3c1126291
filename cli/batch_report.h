#pragma once
// cli/batch_report.h: the --report file of tessaline-cli, one record per input in the order the
// inputs finish: JSON Lines (one object per line) for a name ending in .jsonl, CSV with a header
// line for .csv. Each record is written whole and flushed before the next input's, so a batch that
// is interrupted or killed leaves a file that parses and holds every input that finished.

#include <QString>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace tessaline {

/// One point of a colour curve: a full reduction at `colours` and its figures.
struct ReportCurvePoint
{
    std::uint32_t colours = 0;
    std::uint64_t bytes = 0;
    double psnr = 0.0; ///< infinity when exact
    int maxError = 0;
};

/// One input's record. The figures are empty when the input failed before they existed.
struct ReportRecord
{
    QString input;  ///< the name as given, escaped by DisplayName (reversible)
    QString output; ///< the result's path escaped the same way, "-" for standard output; empty when none was
                    ///< chosen
    QString status;          ///< "ok", "skipped" (up to date), or why the input failed
    std::optional<std::uint32_t> width;
    std::optional<std::uint32_t> height;
    std::optional<std::uint32_t> paletteSize;
    std::optional<std::uint32_t> coloursUsed;
    std::optional<std::uint32_t> transparentEntries;
    std::optional<std::uint64_t> inputBytes;
    std::optional<std::uint64_t> outputBytes;
    std::optional<double> psnr;           ///< dB; infinity when the result shows the source exactly
    std::optional<int> maxError;          ///< levels, 0 to 255
    std::optional<std::uint64_t> ms;      ///< the whole input: read, reduced, measured and written
    /// The description of the colour profile the pixels were converted from; empty when none was.
    std::optional<QString> profile;
    /// Reductions a target or a curve ran for the input (full ones and quick probes); empty without.
    std::optional<int> trials;
    /// --curve: JSON an array of {colours, bytes, psnr, max_error}, CSV "colours:bytes:psnr:max_error"
    /// items separated by spaces; empty without.
    std::optional<std::vector<ReportCurvePoint>> curve;
};

class BatchReport
{
public:
    /// Creates (or empties) the file at `path` the way a result is opened (OpenFileInPlace); on
    /// failure `whyNot` says why and Open returns false. A non-empty `palette` ("shared", "given")
    /// adds a last field, `palette`, with that value to every record, saying where the results'
    /// palette came from. `searchFields` adds the fields `trials` and `curve` before it (a run
    /// with a colour target or a curve); without either the records are as they always were.
    bool Open(const QString& path, QString& whyNot, const QString& palette = {}, bool searchFields = false);
    /// Writes one record and flushes it. Returns false once a write has failed.
    bool Write(const ReportRecord& record);
    bool IsOpen() const { return file != nullptr; }
    ~BatchReport();

private:
    std::FILE* file = nullptr;
    bool csv = false;
    QString palette;
    bool searchFields = false;
    bool failed = false;
};

} // namespace tessaline
