// tessaline-cli: reduces image files to palette PNGs without a window. Each file takes the road a
// file dropped onto the desktop program takes: the PNG reader, else Qt's image readers through
// the bitmap bridge; the job built from the panel's values by BuildReduceJob; the reduction on a
// ReduceThread; the result written by the PNG writer to OUTPUT/NAME.png beside the source (or
// where -o / --output-dir say). Only QCoreApplication is created, so no display is needed.

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_options.h"
#include "engine/colour_model.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_settings.h"
#include "imageio/bitmap_bridge.h"
#include "imageio/image_loader.h"
#include "imageio/image_limits.h"
#include "imageio/job_builder.h"
#include "imageio/output_files.h"
#include "imageio/png_writer.h"
#include "worker/reduce_thread.h"

namespace fs = std::filesystem;
using namespace tessaline;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LastStage = 12; // the progress range is 0 to 12, as on the window's progress bar

// What each pipeline stage does, by the number reported just before it.
const char* StageName(int stage)
{
    switch (stage) {
    case 2: return "alpha raise";
    case 3: return "contrast and dither maps";
    case 4: return "histogram";
    case 5: return "median cut";
    case 6: return "Voronoi refinement";
    case 7: return "output allocation";
    case 8: return "plain remap, dither map";
    case 9: return "palette bytes";
    case 10: return "dithered remap";
    case 11: return "release";
    default: return "";
    }
}

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
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

    void Begin(int fileIndex, int fileCount, const QString& name)
    {
        index = fileIndex;
        count = fileCount;
        label = name.size() > 32 ? "..." + name.right(29) : name;
        Show(0);
    }

    void Show(int position)
    {
        if (!enabled)
            return;
        position = std::clamp(position, 0, LastStage);
        const std::string bar = std::string(static_cast<std::size_t>(position) * 2, '#') +
                                std::string(static_cast<std::size_t>(LastStage - position) * 2, '.');
        std::fprintf(stderr, "\r[%d/%d] %-32s [%s] %2d/%d", index, count, qUtf8Printable(label), bar.c_str(),
                     position, LastStage);
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
// fields only after ReduceThread::Stop has joined it, which orders the accesses.
class CliProgress : public ProgressUIInterface
{
public:
    explicit CliProgress(ProgressLine& line) : line(line) {}

    void ReportProgress(int stage) override
    {
        if (stage >= 0 && stage <= LastStage)
            stageStart[static_cast<std::size_t>(stage)] = Clock::now();
        line.Show(stage);
    }

    void ReportFinished(std::uint32_t ms, int code) override
    {
        finishedAt = Clock::now();
        elapsedMs = ms;
        resultCode = code;
        finished = true;
        line.Show(LastStage);
    }

    std::array<std::optional<Clock::time_point>, LastStage + 1> stageStart{};
    Clock::time_point finishedAt{};
    std::uint32_t elapsedMs = 0;
    int resultCode = ReduceOutOfMemory;
    bool finished = false;

private:
    ProgressLine& line;
};

// One file's failure, named in the one stderr line the tool gives it.
struct Failure
{
    QString reason;
};

// Qt's decoders report damaged data as warnings on stderr; the tool's own line says it already.
void DropQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(message));
}

// Reads `input` the way the window loads a dropped file. Throws Failure.
void LoadImage(const fs::path& input, RgbaImage& source)
{
    QString whyNot;
    if (!LoadImageFile(source, input, &whyNot))
        throw Failure{whyNot};
}

// The painted weight: any image whose alpha is the weight, read as an input is read. Read once
// for all files; a failure names the weights file.
std::optional<QImage> LoadWeights(const QString& path, QString& reason)
{
    RgbaImage image;
    try {
        LoadImage(ToPath(path), image);
    } catch (const Failure& failure) {
        reason = "weights image: " + failure.reason;
        return std::nullopt;
    }
    QImage bitmap = MakeSourceBitmap(image);
    if (bitmap.isNull()) {
        reason = "weights image: out of memory";
        return std::nullopt;
    }
    return bitmap;
}

void PrintTimings(const QString& name, Clock::duration load, const CliProgress& progress, Clock::duration write)
{
    std::printf("%s:\n", qUtf8Printable(name));
    std::printf("  %-28s %8.1f ms\n", "load", Ms(load));
    for (int stage = 2; stage <= 11; ++stage) {
        const auto& begin = progress.stageStart[static_cast<std::size_t>(stage)];
        if (!begin)
            continue;
        Clock::time_point end = progress.finishedAt;
        for (int next = stage + 1; next <= 11; ++next)
            if (const auto& later = progress.stageStart[static_cast<std::size_t>(next)]) {
                end = *later;
                break;
            }
        const std::string label = std::to_string(stage) + " " + StageName(stage);
        std::printf("  %-28s %8.1f ms\n", label.c_str(), Ms(end - *begin));
    }
    std::printf("  %-28s %8u ms\n", "reduction (worker)", static_cast<unsigned>(progress.elapsedMs));
    std::printf("  %-28s %8.1f ms\n", "write", Ms(write));
    std::fflush(stdout);
}

class Runner
{
public:
    explicit Runner(const CliOptions& options)
        : options(options), line(!options.quiet && StderrIsTerminal()),
          rule{ToPath(options.outputPath), ToPath(options.outputDir)}
    {
        for (const QString& input : options.inputs) {
            inputs.push_back(ToPath(input));
            protectedFiles.AddInput(inputs.back());
        }
        if (!options.weightsPath.isEmpty())
            protectedFiles.AddWeights(ToPath(options.weightsPath));
    }

    int Run()
    {
        if (!options.weightsPath.isEmpty()) {
            QString reason;
            weights = LoadWeights(options.weightsPath, reason);
            if (!weights) {
                Fail(options.weightsPath, reason);
                return CliExitFileFailed;
            }
        }
        bool allWritten = true;
        for (qsizetype i = 0; i < options.inputs.size(); ++i) {
            try {
                ReduceOne(static_cast<int>(i));
            } catch (const Failure& failure) {
                Fail(options.inputs[i], failure.reason);
                allWritten = false;
            } catch (const std::bad_alloc&) {
                Fail(options.inputs[i], "out of memory");
                allWritten = false;
            }
        }
        line.Clear();
        return allWritten ? CliExitOk : CliExitFileFailed;
    }

private:
    void Fail(const QString& name, const QString& reason)
    {
        line.Clear();
        std::fprintf(stderr, "%s: %s: %s\n", CliProgramName, qUtf8Printable(name), qUtf8Printable(reason));
        std::fflush(stderr);
    }

    // Refuses a destination that would overwrite one of this run's inputs or its weights image
    // (unless -o names it), or a result this run has already written.
    void CheckDestination(const Destination& destination)
    {
        const QString target = ToQString(destination.file);
        switch (protectedFiles.Check(destination.file, !options.outputPath.isEmpty())) {
        case ProtectedFiles::Clash::None: return;
        case ProtectedFiles::Clash::Input:
            throw Failure{"refusing to overwrite the input " + target + " (use -o or --output-dir to write elsewhere)"};
        case ProtectedFiles::Clash::Weights:
            throw Failure{"refusing to overwrite the weights image " + target +
                          " (use -o or --output-dir to write elsewhere)"};
        case ProtectedFiles::Clash::TemporaryIsInput:
            throw Failure{"refusing to write " + target + ": its temporary file " +
                          ToQString(TemporaryPathFor(destination.file)) + " is an input"};
        case ProtectedFiles::Clash::EarlierResult:
            throw Failure{"refusing to overwrite " + target + ", written for an earlier input of this run"};
        }
    }

    void ReduceOne(int index)
    {
        const QString& inputText = options.inputs[index];
        const fs::path& input = inputs[static_cast<std::size_t>(index)];
        line.Begin(index + 1, static_cast<int>(inputs.size()), inputText);

        const Destination destination = DestinationFor(rule, input);
        CheckDestination(destination);

        const Clock::time_point loadStart = Clock::now();
        RgbaImage source;
        LoadImage(input, source);
        const Clock::duration loadTime = Clock::now() - loadStart;

        if (weights && (static_cast<std::uint32_t>(weights->width()) != source.width ||
                        static_cast<std::uint32_t>(weights->height()) != source.height))
            throw Failure{QString("the weights image is %1 x %2, the image %3 x %4")
                              .arg(weights->width())
                              .arg(weights->height())
                              .arg(source.width)
                              .arg(source.height)};

        IndexedImage result;
        CliProgress progress(line);
        {
            ReduceThread thread(&progress);
            if (!BuildReduceJob(thread, options.settings, weights ? &*weights : nullptr, source, result))
                throw Failure{"the weights image does not match the image's size"};
            line.Show(1);
            if (thread.Start() != 0)
                throw Failure{"cannot start the reduction"};
            thread.Stop();
        }
        if (!progress.finished)
            throw Failure{"the reduction did not finish"};
        switch (progress.resultCode) {
        case ReduceOk: break;
        case ReduceOutOfMemory: throw Failure{"out of memory"};
        case ReduceQualityTooLow: throw Failure{"quality too low"};
        default: throw Failure{QString("reduction failed (code %1)").arg(progress.resultCode)};
        }
        source.Release(); // its memory is not needed while the file is written

        const Clock::time_point writeStart = Clock::now();
        if (const auto whyNot = CreateDestinationFolder(destination))
            throw Failure{"cannot write: " + *whyNot};
        if (WritePngFile(result, destination.file, CompressionOf(options.settings)) != PngWriteOk)
            throw Failure{"cannot write " + ToQString(destination.file)};
        const Clock::duration writeTime = Clock::now() - writeStart;
        protectedFiles.AddResult(destination.file);

        line.Clear();
        if (options.timings)
            PrintTimings(inputText, loadTime, progress, writeTime);
        if (!options.quiet) {
            std::printf("%s -> %s (%u colours, %u ms)\n", qUtf8Printable(inputText),
                        qUtf8Printable(ToQString(destination.file)), static_cast<unsigned>(result.paletteSize),
                        static_cast<unsigned>(progress.elapsedMs));
            std::fflush(stdout);
        }
    }

    const CliOptions& options;
    ProgressLine line;
    OutputRule rule;
    std::vector<fs::path> inputs;
    ProtectedFiles protectedFiles;
    std::optional<QImage> weights;
};

} // namespace

int main(int argc, char* argv[])
{
    // QCoreApplication, not QGuiApplication: decoding needs the image plugins, not a display.
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(DropQtMessages);
    QCoreApplication::setApplicationName(CliProgramName);
    // Qt's own limit (256 MiB by default) would refuse images the PNG reader accepts.
    QImageReader::setAllocationLimit(static_cast<int>((MaxImagePixels * 4) >> 20)); // in MiB

    const CliParseResult parsed = ParseCliOptions(QCoreApplication::arguments());
    switch (parsed.action) {
    case CliAction::ShowHelp:
    case CliAction::ShowVersion:
        std::fputs(qUtf8Printable(parsed.text), stdout);
        return CliExitOk;
    case CliAction::UsageError:
        std::fprintf(stderr, "%s: %s\n", CliProgramName, qUtf8Printable(parsed.text));
        return CliExitUsage;
    case CliAction::Run:
        break;
    }
    Runner runner(parsed.options);
    return runner.Run();
}
