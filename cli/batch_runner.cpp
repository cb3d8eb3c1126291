// cli/batch_runner.cpp: the batch of tessaline-cli: its palette, report and claim steps, each input
// read, reduced and written, and the summary texts.

#include "cli/batch_runner.h"

#include <QString>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/batch_inputs.h"
#include "cli/bitmap_plugin_loader.h"
#include "cli/batch_report.h"
#include "cli/colour_target_text.h"
#include "cli/interrupt_watch.h"
#include "cli/palette_run.h"
#include "cli/result_claims.h"
#include "engine/colour_model.h"
#include "engine/parallel.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_settings.h"
#include "engine/reduce_stages.h"
#include "engine/result_figures.h"
#include "imageio/atomic_file.h"
#include "imageio/failure_reasons.h"
#include "imageio/image_loader.h"
#include "jobs/job_builder.h"
#include "imageio/input_names.h"
#include "imageio/output_files.h"
#include "imageio/palette_file.h"
#include "imageio/png_writer.h"
#include "worker/reduce_thread.h"

namespace fs = std::filesystem;

namespace tessaline {

namespace {

using Clock = std::chrono::steady_clock;

bool IsTerminal(std::FILE* stream)
{
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The progress line on stderr: "[k/n] name [#####.......]  5/12". Written only on a terminal.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : enabled(enabled) {}

    void Begin(int fileIndex, int fileCount, const QString& name, int position = 0)
    {
        index = fileIndex;
        count = fileCount;
        const QString shown = DisplayName(name);
        label = shown.size() > 32 ? "..." + shown.right(29) : shown;
        Show(position);
    }

    void Show(int position)
    {
        if (!enabled)
            return;
        position = std::clamp(position, 0, static_cast<int>(StageFinished));
        const std::string bar = std::string(static_cast<std::size_t>(position) * 2, '#') +
                                std::string(static_cast<std::size_t>(StageFinished - position) * 2, '.');
        std::fprintf(stderr, "\r[%d/%d] %-32s [%s] %2d/%d", index, count, qUtf8Printable(label), bar.c_str(),
                     position, StageFinished);
        std::fflush(stderr);
        shown = true;
    }

    /// Clears the line so that a message or the next file starts at the left margin.
    void Clear()
    {
        if (!enabled || !shown)
            return;
        std::fprintf(stderr, "\r%*s\r", 90, "");
        std::fflush(stderr);
        shown = false;
    }

private:
    bool enabled;
    bool shown = false;
    int index = 0;
    int count = 0;
    QString label;
};

// Receives the worker's reports. Both calls arrive on the worker; the main thread reads the
// fields only after ReduceThread::Stop has joined it, which orders the accesses. `line` is null
// when files run side by side: then no worker ever touches the progress line.
class CliProgress : public ProgressUIInterface
{
public:
    explicit CliProgress(ProgressLine* line) : line(line) {}

    void ReportProgress(int stage) override
    {
        if (stage >= 0 && stage <= StageFinished)
            stageStart[static_cast<std::size_t>(stage)] = Clock::now();
        if (line)
            line->Show(stage);
    }

    void ReportFinished(std::uint32_t ms, int code) override
    {
        finishedAt = Clock::now();
        elapsedMs = ms;
        resultCode = code;
        finished = true;
        if (line)
            line->Show(StageFinished);
    }

    std::array<std::optional<Clock::time_point>, StageFinished + 1> stageStart{};
    Clock::time_point finishedAt{};
    std::uint32_t elapsedMs = 0;
    int resultCode = ReduceOutOfMemory;
    bool finished = false;

private:
    ProgressLine* line;
};

// One file's failure, named in the one stderr line the tool gives it.
struct Failure
{
    QString reason;
};

// The batch was interrupted before this file's result could be written: it gets no line and no record.
struct Interrupted
{
};

// Reads `input` the way the window loads a dropped file. Throws Failure.
void LoadImage(const fs::path& input, RgbaImage& source, LoadNotes notes = {})
{
    QString whyNot;
    if (!LoadImageFile(source, input, PluginBitmaps(), &whyNot, notes))
        throw Failure{whyNot};
}

// Beyond this an image on standard input could not be within the loader's limits anyway.
constexpr qsizetype MaxStandardInputBytes = qsizetype{1} << 30;

// The whole of standard input. Throws Failure.
QByteArray ReadStandardInput()
{
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    // Read in parts and joined once at the end: a growing buffer would hold its old and new copy
    // at each step, twice the limit before the limit is noticed.
    constexpr qsizetype partBytes = qsizetype{1} << 20;
    std::vector<QByteArray> parts;
    qsizetype total = 0;
    for (bool more = true; more;) {
        QByteArray part(partBytes, Qt::Uninitialized);
        const std::size_t got = std::fread(part.data(), 1, static_cast<std::size_t>(partBytes), stdin);
        if (got < static_cast<std::size_t>(partBytes)) {
            if (std::ferror(stdin))
                throw Failure{"cannot read standard input"};
            more = false;
        }
        total += static_cast<qsizetype>(got);
        if (total > MaxStandardInputBytes)
            throw Failure{"standard input holds more than an image can"};
        part.truncate(static_cast<qsizetype>(got));
        parts.push_back(std::move(part));
    }
    if (total == 0)
        throw Failure{"standard input is empty"};
    QByteArray bytes;
    bytes.reserve(total);
    for (QByteArray& part : parts) {
        bytes.append(part);
        part = QByteArray();
    }
    return bytes;
}

// Writes `image` to standard output; returns the bytes written. The file is encoded whole before
// its first byte goes out, so a failure to encode sends nothing. Throws Failure.
// Sends the whole PNG to standard output: `encoded` when the worker made it, else encoded here
// first, so that a failure never leaves half a file in a pipe. Returns its size.
std::uint64_t WriteStandardOutput(const IndexedImage& image, std::vector<std::uint8_t> encoded,
                                  PngEncoding encoding, const ImageMetadata* metadata)
{
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (encoded.empty())
        encoded = EncodePng(image, encoding, metadata);
    if (encoded.empty())
        throw Failure{"cannot encode the result"};
    if (std::fwrite(encoded.data(), 1, encoded.size(), stdout) != encoded.size() || std::fflush(stdout) != 0)
        throw Failure{"cannot write to standard output"};
    return encoded.size();
}

// A weights image is read whole before it is decoded; none within the loader's limits needs more.
constexpr std::uint64_t MaxNamedFileBytes = std::uint64_t{1} << 30;

// The painted weight: any image whose alpha is the weight, read as an input is read but under the
// link rule (ReadFileSafely), as every file the user names besides the images is. Read once for
// all files; a failure names the weights file.
bool LoadWeights(const QString& path, RgbaImage& image, QString& reason)
{
    const fs::path file = ToPath(path);
    if (const auto whyNot = WhyNotAnInput(file)) {
        reason = "weights image: " + *whyNot;
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::error_code why;
    if (!ReadFileSafely(file, MaxNamedFileBytes, bytes, why)) {
        reason = "weights image: cannot read: " + WriteFailureReason(why);
        return false;
    }
    QString whyNot;
    if (!LoadImageBytes(image,
                        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<qsizetype>(bytes.size())),
                        PluginBitmaps(), &whyNot)) {
        reason = "weights image: " + whyNot;
        return false;
    }
    return true;
}

// The summary line's figures: "187 colours, 231 ms, 41.2 dB, max error 12, 120823 bytes", where
// the colours are the palette entries some pixel uses and the bytes the written file's size.
std::string SummaryFigures(const IndexedImage& result, const std::optional<ResultFigures>& figures,
                           std::uint32_t elapsedMs)
{
    if (!figures)
        return std::to_string(result.paletteSize) + " colours, " + std::to_string(elapsedMs) + " ms";
    char psnr[32];
    if (std::isinf(figures->psnr))
        std::snprintf(psnr, sizeof psnr, "exact");
    else
        std::snprintf(psnr, sizeof psnr, "%.1f dB", figures->psnr);
    std::string text = std::to_string(figures->coloursUsed) + " colours, " + std::to_string(elapsedMs) + " ms, " +
                       psnr + ", max error " + std::to_string(figures->maxError);
    if (figures->pngBytes > 0)
        text += ", " + std::to_string(figures->pngBytes) + " bytes";
    return text;
}

// After the summary's figures, what became of an embedded colour profile: "; converted to sRGB
// from \"Adobe RGB (1998)\"", or why it was ignored. Nothing for no profile or an sRGB one.
std::string ConversionNote(const ProfileOutcome& profile)
{
    if (!profile.convertedFrom.empty())
        return "; converted to sRGB from \"" + profile.convertedFrom + '"';
    if (!profile.warning.empty())
        return "; " + profile.warning + ", colours taken as sRGB";
    return {};
}

// After the summary's figures, what --keep-metadata left out, and why: "; 3 metadata chunks
// dropped at the limit of 64 chunks and 4 MiB". Nothing when everything was kept.
std::string MetadataNote(const ImageMetadata& metadata)
{
    const std::string note = DroppedMetadataNote(metadata);
    return note.empty() ? note : "; " + note;
}

void Appendf(std::string& text, const char* format, ...)
{
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    text += line;
}

std::string Timings(const QString& name, Clock::duration load, const CliProgress& progress, std::uint32_t measureMs,
                    Clock::duration write)
{
    std::string text;
    Appendf(text, "%s:\n", qUtf8Printable(DisplayName(name)));
    Appendf(text, "  %-28s %8.1f ms\n", "load", Ms(load));
    // The worker reports the end after measuring and encoding the result, which has its own line.
    const Clock::time_point reduced = progress.finishedAt - std::chrono::milliseconds(measureMs);
    for (int stage = StageAlphaRaise; stage <= StageRelease; ++stage) {
        const auto& begin = progress.stageStart[static_cast<std::size_t>(stage)];
        if (!begin)
            continue;
        Clock::time_point end = std::max(reduced, *begin);
        for (int next = stage + 1; next <= StageRelease; ++next)
            if (const auto& later = progress.stageStart[static_cast<std::size_t>(next)]) {
                end = *later;
                break;
            }
        const std::string label = std::to_string(stage) + " " + StageName(stage);
        Appendf(text, "  %-28s %8.1f ms\n", label.c_str(), Ms(end - *begin));
    }
    Appendf(text, "  %-28s %8u ms\n", "reduction (worker)", static_cast<unsigned>(progress.elapsedMs));
    Appendf(text, "  %-28s %8u ms\n", "figures and encoding (worker)", static_cast<unsigned>(measureMs));
    Appendf(text, "  %-28s %8.1f ms\n", "write", Ms(write));
    return text;
}

std::optional<std::uint64_t> FileBytes(const fs::path& path)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error)
        return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

// What one file leaves for the terminal: lines for stdout (or stderr when the PNG goes there).
struct FileLines
{
    std::string summary;
    bool summaryToStderr = false;
};

class Runner
{
public:
    Runner(const CliOptions& options, int processors)
        : options(options), line(!options.quiet && options.jobs == 1 && IsTerminal(stderr)),
          tally(!options.quiet && options.jobs > 1 && IsTerminal(stderr)),
          threadsPerFile(options.jobs > 1 ? std::max(1, processors / options.jobs) : 0)
    {
    }

    int Run()
    {
        if (const auto whyNot = palette.ReadFiles()) {
            std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(*whyNot));
            return CliExitUsage;
        }
        if (!options.weightsPath.isEmpty()) {
            QString reason;
            bool loaded = false;
            try {
                loaded = LoadWeights(options.weightsPath, weightsImage, reason);
            } catch (const std::bad_alloc&) {
                reason = "weights image: out of memory";
            }
            if (!loaded) {
                Fail(options.weightsPath, reason);
                return CliExitFileFailed;
            }
            try {
                weights = AlphaOf(weightsImage);
            } catch (const std::bad_alloc&) {
                Fail(options.weightsPath, "weights image: out of memory");
                return CliExitFileFailed;
            }
            protectedFiles.AddWeights(ToPath(options.weightsPath));
        }
        inputs = ExpandInputs(options.inputs, options.recursive, ToPath(options.outputDir));
        for (const BatchInput& input : inputs)
            if (!input.standardInput)
                protectedFiles.AddInput(input.path);
        // The palette file is written like a result: where it would replace a file the run
        // reads or writes, the run is refused before anything is written.
        if (const auto clash = SavePaletteClash()) {
            std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(*clash));
            return CliExitUsage;
        }
        const bool shared = options.settings.On(Setting::SharedPalette) && !options.settings.On(Setting::GivenPalette);
        // Every result of a shared palette carries the same PLTE: a rerun skips the set only when
        // every result is up to date, and otherwise writes them all again from one new palette.
        skipUpToDate = options.skipExisting && (!shared || AllUpToDate());
        if (shared && !skipUpToDate)
            palette.ChooseShared(inputs, weights ? &*weights : nullptr);
        const std::vector<RgbaColour>* common = palette.CommonPalette();
        std::optional<std::vector<RgbaColour>> setPalette;
        if (shared && skipUpToDate && !options.savePalettePath.isEmpty()) {
            // Every result is up to date and carries the set's palette: none is chosen, and the
            // palette saved is the one they have.
            QString whyNot;
            setPalette = ReadPaletteFile(DestinationOf(inputs.front()).file, PluginBitmaps(), &whyNot);
            if (!setPalette) {
                Fail(options.savePalettePath, "cannot read the palette of the results: " + whyNot);
                return CliExitFileFailed;
            }
            common = &*setPalette;
        }
        if (common && !options.savePalettePath.isEmpty()) {
            if (const auto whyNot = SavePalette(*common)) {
                Fail(options.savePalettePath, *whyNot);
                return CliExitFileFailed;
            }
        }
        if (!options.reportPath.isEmpty()) {
            // Opening the report empties it: it must not be one of the files it reports on.
            if (protectedFiles.Check(ToPath(options.reportPath), false) != ProtectedFiles::Clash::None) {
                Fail(options.reportPath, "refusing to overwrite an input with the report");
                return CliExitFileFailed;
            }
            QString whyNot;
            if (!report.Open(options.reportPath, whyNot, palette.ReportField(),
                             TargetOf(options).Any() || options.curve)) {
                Fail(options.reportPath, whyNot);
                return CliExitFileFailed;
            }
        }

        DecideClaims();
        const int workers = std::min<int>(options.jobs, static_cast<int>(inputs.size()));
        if (workers <= 1) {
            Work();
        } else {
            // The first ReduceThread sets the processor flag the engine reads; made here, before
            // any reduction runs, the ones each file makes beside running reductions leave it be.
            { const ReduceThread firstOne(nullptr); }
            std::vector<std::thread> team;
            for (int i = 0; i < workers; ++i)
                team.emplace_back([this] { Work(); });
            for (std::thread& worker : team)
                worker.join();
        }
        line.Clear();
        tally.Clear();
        if (const int signal = interruptSignal) {
            // The watcher ends the process once a write in progress is done; the batch may get here first.
            std::unique_lock<std::shared_mutex> noMoreWrites(writeGate);
            return 128 + signal;
        }
        return failures == 0 ? CliExitOk : CliExitFileFailed;
    }

    // Called on the signal-watching thread. The first signal lets a result being written finish
    // with its record, keeps every other result unwritten and ends the process; a second one ends
    // it at once, with the temporaries being written removed.
    void Interrupt(int signal)
    {
        const int exitCode = 128 + signal;
        interruptSignal.exchange(signal);
        if (interrupted.exchange(true)) {
            RemoveTemporariesNow();
            std::_Exit(exitCode);
        }
        std::thread([this, exitCode] {
            std::unique_lock<std::shared_mutex> noMoreWrites(writeGate);
            std::lock_guard<std::mutex> hold(outputLock);
            line.Clear();
            tally.Clear();
            std::fflush(stdout);
            std::fprintf(stderr, "%s: interrupted\n", CliProgramName);
            std::fflush(stderr);
            std::_Exit(exitCode);
        }).detach();
    }

private:
    // Takes the next input until none is left or the batch is interrupted.
    void Work()
    {
        for (;;) {
            const std::size_t index = next++;
            if (index >= inputs.size() || interrupted)
                return;
            ProcessOne(index);
        }
    }

    void ProcessOne(std::size_t index)
    {
        const BatchInput& input = inputs[index];
        const Clock::time_point start = Clock::now();
        ReportRecord record;
        record.input = DisplayName(input.name); // the reversible escape: one name per file
        FileLines lines;
        std::optional<std::shared_lock<std::shared_mutex>> writing;
        try {
            ReduceOne(index, record, lines, writing);
        } catch (const Interrupted&) {
            return;
        } catch (const Failure& failure) {
            record.status = failure.reason;
        } catch (const std::bad_alloc&) {
            record.status = "out of memory";
        }
        record.ms = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        // A missed target still wrote its result; only --strict makes that a failure.
        const bool missed = record.status == "missed";
        const bool ok = record.status == "ok" || record.status == "skipped" || record.status == "larger" ||
                        (missed && !options.strict);

        std::lock_guard<std::mutex> hold(outputLock);
        if (!lines.summary.empty()) {
            line.Clear();
            tally.Clear();
            std::FILE* out = lines.summaryToStderr ? stderr : stdout;
            std::fputs(lines.summary.c_str(), out);
            std::fflush(out);
        }
        if (!ok) {
            ++failures;
            Fail(input.name, missed ? QString("target missed (the result was written)") : record.status);
        }
        tally.Begin(++finished, static_cast<int>(inputs.size()), input.name, StageFinished);
        if (report.IsOpen() && !report.Write(record) && !reportFailed) {
            reportFailed = true;
            ++failures;
            Fail(options.reportPath, "cannot write the report");
        }
    }

    // One stderr line; the caller holds outputLock (or no other thread runs yet).
    void Fail(const QString& name, const QString& reason)
    {
        line.Clear();
        tally.Clear();
        std::fprintf(stderr, "%s: %s: %s\n", CliProgramName, qUtf8Printable(DisplayName(name)),
                     qUtf8Printable(reason));
        std::fflush(stderr);
    }

    Destination DestinationOf(const BatchInput& input) const
    {
        OutputRule rule{ToPath(options.outputPath), ToPath(options.outputDir)};
        if (!rule.folder.empty())
            rule.folder /= input.subfolder; // the walked tree, mirrored
        if (input.standardInput)
            return {rule.file, {}};
        return DestinationFor(rule, input.path);
    }

    // Which input writes which result, before any is written: the same outcome for every -j.
    void DecideClaims()
    {
        std::vector<fs::path> destinations(inputs.size());
        if (options.outputPath != CliStandardStream)
            for (std::size_t i = 0; i < inputs.size(); ++i)
                if (!inputs[i].walkError)
                    destinations[i] = DestinationOf(inputs[i]).file;
        claimRefusals = DecideResultClaims(destinations, ToPath(options.reportPath));
    }

    // Whether the entry about to be replaced may go: not one of this run's inputs or its weights
    // image (unless -o names it), nor a result this run has written. Asked just before the rename.
    bool MayReplace(std::uint64_t device, std::uint64_t file)
    {
        std::lock_guard<std::mutex> hold(claimLock);
        return protectedFiles.CheckIdentity({device, file}, !options.outputPath.isEmpty()) ==
               ProtectedFiles::Clash::None;
    }

    // Refuses a destination that would overwrite one of this run's inputs or its weights image
    // (unless -o names it), or a result of this run: one written already, or one an earlier input
    // claimed before the batch began.
    void ClaimDestination(std::size_t index, const Destination& destination)
    {
        if (claimRefusals[index])
            throw Failure{*claimRefusals[index]};
        const QString target = DisplayName(destination.file);
        std::lock_guard<std::mutex> hold(claimLock);
        switch (protectedFiles.Check(destination.file, !options.outputPath.isEmpty())) {
        case ProtectedFiles::Clash::None: break;
        case ProtectedFiles::Clash::Input:
            throw Failure{"refusing to overwrite the input " + target + " (use -o or --output-dir to write elsewhere)"};
        case ProtectedFiles::Clash::Weights:
            throw Failure{"refusing to overwrite the weights image " + target +
                          " (use -o or --output-dir to write elsewhere)"};
        case ProtectedFiles::Clash::EarlierResult:
            throw Failure{"refusing to overwrite " + target + ", written for an earlier input of this run"};
        }
    }

    // Whether --save-palette names this process's standard output ("-", /dev/stdout, or the file
    // standard output is redirected to).
    bool PaletteToStandardOutput() const
    {
        return options.savePalettePath == CliStandardStream ||
               (!options.savePalettePath.isEmpty() && IsStandardOutput(ToPath(options.savePalettePath)));
    }

    // Why --save-palette cannot name the file it names (a usage error), or nullopt: a file the run
    // reads (an input, the weights image, the --palette or --keep-from file), the report or a
    // result of the run; or standard output when a result or the report goes there.
    std::optional<QString> SavePaletteClash() const
    {
        if (options.savePalettePath.isEmpty())
            return std::nullopt;
        const QString flag = "--save-palette " + DisplayName(options.savePalettePath);
        if (PaletteToStandardOutput()) {
            const bool resultThere = options.outputPath == CliStandardStream ||
                                     (!options.outputPath.isEmpty() && IsStandardOutput(ToPath(options.outputPath)));
            if (resultThere)
                return flag + " and the result both name standard output: one stream cannot hold two files";
            if (!options.reportPath.isEmpty() && IsStandardOutput(ToPath(options.reportPath)))
                return flag + " and --report both name standard output: one stream cannot hold two files";
            // A PNG's bytes on a terminal are garbage to read and may upset it, as for a result.
            if (IsTerminal(stdout))
                return flag + ": refusing to write the palette PNG to a terminal (redirect standard output)";
            return std::nullopt;
        }
        const fs::path target = ToPath(options.savePalettePath);
        const auto same = [&target](const fs::path& other) { return !other.empty() && SameDestination(target, other); };
        for (const BatchInput& input : inputs)
            if (!input.standardInput && same(input.path))
                return flag + " would replace the input " + DisplayName(input.path);
        const std::pair<const QString*, const char*> named[] = {{&options.weightsPath, "the --weights image"},
                                                              {&options.palettePath, "the --palette file"},
                                                              {&options.keepFromPath, "the --keep-from file"},
                                                              {&options.reportPath, "the report"}};
        for (const auto& [path, what] : named)
            if (!path->isEmpty() && same(ToPath(*path)))
                return flag + " would replace " + what;
        if (options.outputPath != CliStandardStream)
            for (const BatchInput& input : inputs)
                if (!input.walkError && same(DestinationOf(input).file))
                    return flag + " would replace the result of " + DisplayName(input.name);
        return std::nullopt;
    }

    // Whether two paths name one file: the same file when both exist, else the same place.
    static bool SameDestination(const fs::path& a, const fs::path& b)
    {
        const auto first = IdentityOf(a);
        const auto second = IdentityOf(b);
        if (first || second)
            return first && second && *first == *second;
        const auto firstPlace = ResultPlaceOf(a);
        const auto secondPlace = ResultPlaceOf(b);
        return firstPlace && secondPlace && *firstPlace == *secondPlace;
    }

    // Writes the palette --save-palette names: to standard output, or as a result is written
    // (never replacing a file the run protects), its folder made first when it lies in the
    // --output-dir folder, which the results would make. The reason on failure.
    std::optional<QString> SavePalette(const std::vector<RgbaColour>& colours)
    {
        if (PaletteToStandardOutput()) {
#if defined(_WIN32)
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            const std::vector<std::uint8_t> bytes = PaletteFileBytes(ToPath(options.savePalettePath), colours);
            if (bytes.empty())
                return QString("cannot encode the palette");
            std::lock_guard<std::mutex> hold(outputLock);
            if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
                return QString("cannot write the palette to standard output");
            return std::nullopt;
        }
        const fs::path target = ToPath(options.savePalettePath);
        if (!options.outputDir.isEmpty()) {
            const fs::path folder = target.parent_path().lexically_normal();
            const fs::path below = folder.lexically_relative(ToPath(options.outputDir).lexically_normal());
            std::error_code why;
            if (!below.empty() && *below.begin() != ".." && !CreateFolderSafely(folder, why))
                return "cannot create the folder " + DisplayName(folder) + ": " + WriteFailureReason(why);
        }
        QString whyNot;
        if (!WritePaletteFile(target, colours, &whyNot, [this](std::uint64_t device, std::uint64_t file) {
                std::lock_guard<std::mutex> hold(claimLock);
                return protectedFiles.CheckIdentity({device, file}, false) == ProtectedFiles::Clash::None;
            }))
            return whyNot;
        std::lock_guard<std::mutex> hold(claimLock);
        protectedFiles.AddResult(target); // no result may replace it
        return std::nullopt;
    }

    // Whether every input's result is up to date (--skip-existing with a shared palette).
    bool AllUpToDate() const
    {
        if (options.outputPath == CliStandardStream || inputs.empty())
            return false;
        for (const BatchInput& input : inputs)
            if (input.standardInput || input.walkError || !UpToDate(input.path, DestinationOf(input).file))
                return false;
        return true;
    }

    // Whether the result is already there and newer than its input.
    static bool UpToDate(const fs::path& input, const fs::path& result)
    {
        std::error_code inputError;
        std::error_code resultError;
        const auto inputTime = fs::last_write_time(input, inputError);
        const auto resultTime = fs::last_write_time(result, resultError);
        return !inputError && !resultError && fs::is_regular_file(result, resultError) && resultTime > inputTime;
    }

    void ReduceOne(std::size_t index, ReportRecord& record, FileLines& lines,
                   std::optional<std::shared_lock<std::shared_mutex>>& writing)
    {
        const BatchInput& input = inputs[index];
        if (options.jobs == 1) // the line is the main thread's: with -j no worker touches it
            line.Begin(static_cast<int>(index) + 1, static_cast<int>(inputs.size()), input.name);
        if (input.walkError)
            throw Failure{*input.walkError};

        const bool dash = options.outputPath == CliStandardStream;
        const Destination destination = dash ? Destination{} : DestinationOf(input);
        record.output = dash ? QString(CliStandardStream) : DisplayName(destination.file);
        // -o naming this process's own standard output (/dev/stdout, or the file it is redirected
        // to) goes to descriptor 1 as "-o -" does: reopening the file would empty it and write
        // over what came before.
        const bool toStandardOutput =
            dash || (!options.outputPath.isEmpty() && IsStandardOutput(destination.file));
        // A result written to standard output leaves no room there for the tool's own lines.
        lines.summaryToStderr = toStandardOutput || IsStandardOutput(destination.file) || PaletteToStandardOutput();
        // A PNG's bytes on a terminal are garbage to read and may upset it.
        if (toStandardOutput && IsTerminal(stdout))
            throw Failure{"refusing to write the PNG to a terminal (redirect standard output)"};
        // Standard output named another way than "-o -", which the options refuse already.
        if (toStandardOutput && options.onlyIfSmaller)
            throw Failure{"--only-if-smaller cannot write to standard output: a result left unwritten "
                          "would leave it empty"};
        if (!toStandardOutput)
            ClaimDestination(index, destination);
        ReduceClaimed(input, destination, toStandardOutput, record, lines, writing);
    }

    void ReduceClaimed(const BatchInput& input, const Destination& destination, bool toStandardOutput,
                       ReportRecord& record, FileLines& lines,
                       std::optional<std::shared_lock<std::shared_mutex>>& writing)
    {
        if (!input.standardInput) {
            std::error_code error;
            if (fs::is_directory(input.path, error))
                throw Failure{"cannot read: is a folder (-r reduces the images in it)"};
            record.inputBytes = FileBytes(input.path);
        }
        if (skipUpToDate && !input.standardInput && !toStandardOutput && UpToDate(input.path, destination.file)) {
            // The palette asked for is the one the result carries: read back from it.
            if (!options.savePalettePath.isEmpty() && palette.CommonPalette() == nullptr &&
                !options.settings.On(Setting::SharedPalette)) {
                QString whyNot;
                const auto colours = ReadPaletteFile(destination.file, PluginBitmaps(), &whyNot);
                if (!colours)
                    throw Failure{"palette: cannot read it from the result: " + whyNot};
                if (const auto failed = SavePalette(*colours))
                    throw Failure{"palette: " + *failed};
            }
            record.status = "skipped";
            record.outputBytes = FileBytes(destination.file);
            if (!options.quiet)
                lines.summary = std::string(qUtf8Printable(DisplayName(input.name))) + " -> " +
                                qUtf8Printable(record.output) + " (up to date)\n";
            return;
        }

        // The input as it is read: a result made from it is up to date only while it stays so.
        const std::optional<FileStamp> inputStamp = input.standardInput ? std::nullopt : StampOf(input.path);
        const Clock::time_point loadStart = Clock::now();
        RgbaImage source;
        ProfileOutcome profile;
        ImageMetadata metadata;
        const LoadNotes notes{&profile, options.settings.On(Setting::KeepMetadata) ? &metadata : nullptr};
        if (input.standardInput) {
            const QByteArray bytes = ReadStandardInput();
            record.inputBytes = static_cast<std::uint64_t>(bytes.size());
            QString whyNot;
            if (!LoadImageBytes(source, bytes, PluginBitmaps(), &whyNot, notes))
                throw Failure{whyNot};
        } else {
            LoadImage(input.path, source, notes);
        }
        if (!profile.convertedFrom.empty())
            record.profile = QString::fromStdString(profile.convertedFrom);
        const Clock::duration loadTime = Clock::now() - loadStart;
        record.width = source.width;
        record.height = source.height;

        if (weights && (weights->width != source.width || weights->height != source.height))
            throw Failure{QString("the weights image is %1 x %2, the image %3 x %4")
                              .arg(weights->width)
                              .arg(weights->height)
                              .arg(source.width)
                              .arg(source.height)};

        IndexedImage result;
        CliProgress progress(options.jobs == 1 ? &line : nullptr);
        std::optional<ResultFigures> figures;
        std::vector<std::uint8_t> encoded;
        std::uint32_t measureMs = 0;
        std::optional<ColourSearchOutcome> search;
        std::vector<CurvePoint> curve;
        int reductions = 0;
        {
            ReduceThread thread(&progress);
            // The summary's size is the written file's: the file is written from these bytes.
            thread.encode = [encoding = EncodingOf(options.settings), kept = notes.metadata](
                                const IndexedImage& image) { return EncodePng(image, encoding, kept); };
            if (!BuildReduceJob(thread, options.settings, weights ? &*weights : nullptr, source, result))
                throw Failure{"the weights image does not match the image's size"};
            palette.Fill(thread.job);
            thread.maxThreads = threadsPerFile;
            if (const ColourTarget target = TargetOf(options); target.Any())
                thread.target = target;
            thread.curveCounts = CurveCountsOf(options);
            // The default counts below the kept colours would name a count their result cannot
            // have (a count the user lists below them is refused before the run).
            const std::size_t kept = palette.KeptCount();
            thread.curveCounts.erase(std::remove_if(thread.curveCounts.begin(), thread.curveCounts.end(),
                                                    [kept](std::uint32_t count) { return count < kept; }),
                                     thread.curveCounts.end());
            line.Show(StageJobStarted);
            if (thread.Start() != 0)
                throw Failure{"cannot start the reduction"};
            thread.Stop();
            figures = thread.figures;
            encoded = std::move(thread.encoded);
            measureMs = thread.measureMs;
            search = thread.search;
            curve = std::move(thread.curve);
            reductions = thread.reductions;
        }
        if (!progress.finished)
            throw Failure{"the reduction did not finish"};
        switch (progress.resultCode) {
        case ReduceOk: break;
        case ReduceOutOfMemory: throw Failure{FailureWords(FailureReason::OutOfMemory)};
        case ReduceQualityTooLow: throw Failure{FailureWords(FailureReason::QualityTooLow)};
        default: throw Failure{QString("reduction failed (code %1)").arg(progress.resultCode)};
        }
        record.paletteSize = result.paletteSize;
        record.transparentEntries = result.transparentCount;
        if (figures) {
            record.coloursUsed = figures->coloursUsed;
            record.psnr = figures->psnr;
            record.maxError = figures->maxError;
        }
        if (search || !curve.empty())
            record.trials = reductions;
        if (!curve.empty())
            record.curve = CurveRecord(curve);
        source.Release(); // its memory is not needed while the file is written
        const std::string name = qUtf8Printable(DisplayName(input.name));
        const std::string curveTable =
            curve.empty() || options.quiet ? std::string() : CurveTable(name, curve);
        // Never bigger than the original: nothing is written, and that is not a failure.
        if (options.onlyIfSmaller && record.inputBytes && !encoded.empty() &&
            encoded.size() > *record.inputBytes) {
            record.status = "larger";
            record.output.clear();
            if (!options.quiet)
                lines.summary += name + ": not written, the result (" + std::to_string(encoded.size()) +
                                 " bytes) is larger than the input (" + std::to_string(*record.inputBytes) +
                                 " bytes)\n" + curveTable;
            return;
        }

        // From here to its record the result is written under the gate, so that an interrupt
        // waits for a file it would otherwise leave half written or unrecorded.
        writing.emplace(writeGate);
        if (interrupted)
            throw Interrupted{};
        const Clock::time_point writeStart = Clock::now();
        // The palette of this result goes first: when it cannot be written, no result is either,
        // so the exit status, the record and a later --skip-existing all see a failed input.
        if (!options.savePalettePath.isEmpty() && palette.CommonPalette() == nullptr)
            if (const auto whyNot = SavePalette(PaletteTableColours(result)))
                throw Failure{"palette: " + *whyNot};
        if (toStandardOutput) {
            record.outputBytes =
                WriteStandardOutput(result, std::move(encoded), EncodingOf(options.settings), notes.metadata);
        } else {
            if (const auto whyNot = CreateDestinationFolder(destination))
                throw Failure{"cannot write: " + *whyNot};
            // The bytes already encoded on the worker, so the file is not compressed twice.
            if (encoded.empty())
                encoded = EncodePng(result, EncodingOf(options.settings), notes.metadata);
            if (encoded.empty())
                throw Failure{"cannot encode the result"};
            std::error_code why;
            const bool written = WriteFileSafely(
                destination.file,
                [&encoded](std::FILE* stream) {
                    return std::fwrite(encoded.data(), 1, encoded.size(), stream) == encoded.size();
                },
                &why, [this](std::uint64_t device, std::uint64_t file) { return MayReplace(device, file); });
            if (!written)
                throw Failure{"cannot write " + DisplayName(destination.file) + ": " +
                              WriteFailureReason(why)};
            {
                std::lock_guard<std::mutex> hold(claimLock);
                protectedFiles.AddResult(destination.file);
            }
            record.outputBytes = FileBytes(destination.file);
            // The input changed while it was reduced: the result must not count as up to date.
            if (inputStamp && StampOf(input.path) != inputStamp)
                SetModifiedTime(destination.file, *inputStamp);
        }
        const Clock::duration writeTime = Clock::now() - writeStart;
        record.status = search && !search->met ? "missed" : "ok";

        if (options.timings)
            lines.summary += Timings(input.name, loadTime, progress, measureMs, writeTime);
        if (!options.quiet)
            lines.summary += std::string(qUtf8Printable(DisplayName(input.name))) + " -> " +
                             qUtf8Printable(record.output) + " (" +
                             SummaryFigures(result, figures, progress.elapsedMs) +
                             (search ? SearchSummary(TargetOf(options), *search) : std::string()) + ")" +
                             ConversionNote(profile) + MetadataNote(metadata) + "\n" + curveTable;
    }

    const CliOptions options; // a copy: the batch outlives main (see RunBatch)
    PaletteRun palette{options};
    ProgressLine line;  // one file's stages, when one file is reduced at a time
    ProgressLine tally; // with -j: how many files have finished, and the last of them
    const int threadsPerFile; // 0: the runtime's default, for a single file at a time
    std::vector<BatchInput> inputs;
    RgbaImage weightsImage;
    std::optional<WeightAlpha> weights; // the alpha of weightsImage
    BatchReport report;

    std::atomic<std::size_t> next{0};
    std::atomic<bool> interrupted{false};
    std::atomic<int> interruptSignal{0};
    std::shared_mutex writeGate; // shared while a result is written and recorded; an interrupt takes it whole

    bool skipUpToDate = false; // --skip-existing, unless a shared palette must be chosen anew for the set
    std::vector<std::optional<QString>> claimRefusals; // per input, decided before the batch starts
    std::mutex claimLock;                              // guards protectedFiles
    ProtectedFiles protectedFiles;

    std::mutex outputLock; // guards stdout, stderr, the report, `tally` and the three below
    int failures = 0;
    int finished = 0;
    bool reportFailed = false;
};

std::atomic<Runner*> runner{nullptr};

} // namespace

void WatchBatchInterrupts()
{
    WatchInterrupts([](int signal) {
        if (Runner* batch = runner.load())
            batch->Interrupt(signal);
        else
            std::_Exit(128 + signal); // nothing written yet
    });
}

int RunBatch(const CliOptions& options, int processors)
{
    runner = new Runner(options, processors); // lives on, see WatchBatchInterrupts
    return runner.load()->Run();
}

} // namespace tessaline
