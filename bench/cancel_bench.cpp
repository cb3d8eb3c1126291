// tessaline-bench-cancel: how soon a reduction of a 16-megapixel photo-like image stops once its
// cancel flag is set. For each stage, the flag is set a fixed time after the stage has begun, and
// the program prints the milliseconds from setting the flag to ReducePipeline's return. A plain
// timing program, not a test; it runs the front of the pipeline once per stage, so it takes a while.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bench/photo_like.h"
#include "engine/progress_ui_interface.h"
#include "engine/reduce_pipeline.h"

namespace {

using namespace tessaline;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t Side = 4096; // 16.8 megapixels

struct Stage
{
    int number;
    const char* name;
};
constexpr Stage Stages[] = {{3, "contrast and dither maps"}, {4, "histogram"},   {5, "median cut"},
                            {6, "Voronoi refinement"},       {8, "plain remap"}, {10, "dithered remap"}};

// Sets the flag `delay` after stage `target` has been reported, from a thread of its own.
class CancelAtStage : public ProgressUIInterface
{
public:
    CancelAtStage(CancelFlag& flag, int target, std::chrono::milliseconds delay)
        : flag(flag), target(target), delay(delay)
    {
    }
    ~CancelAtStage() override
    {
        if (canceller.joinable())
            canceller.join();
    }
    void ReportProgress(int stage) override
    {
        lastStage = stage;
        if (stage != target)
            return;
        canceller = std::thread([this] {
            std::this_thread::sleep_for(delay);
            stageAtCancel = lastStage.load();
            cancelledAt = Clock::now();
            flag.store(true);
        });
    }
    void ReportFinished(std::uint32_t, int) override {}

    CancelFlag& flag;
    const int target;
    const std::chrono::milliseconds delay;
    std::thread canceller;
    std::atomic<int> lastStage{0};
    std::atomic<int> stageAtCancel{0};
    Clock::time_point cancelledAt;
};

} // namespace

int main(int argc, char* argv[])
{
    // Arguments: the delay in milliseconds (100), and optionally one stage number to try alone.
    const int delayMs = argc > 1 ? std::atoi(argv[1]) : 100;
    const int onlyStage = argc > 2 ? std::atoi(argv[2]) : 0;
    std::printf("%ux%u photo-like image, flag set %d ms into the stage\n", Side, Side, delayMs);
    std::printf("%-28s %-10s %14s\n", "stage", "code", "ms to return");
    for (const Stage& stage : Stages) {
        if (onlyStage > 0 && stage.number != onlyStage)
            continue;
        RgbaImage input = bench::MakePhotoLikeImage(Side, Side);
        IndexedImage output;
        CancelFlag flag{false};
        CancelAtStage progress(flag, stage.number, std::chrono::milliseconds(delayMs));
        ReduceSettings settings;
        settings.progress = &progress;
        settings.cancel = &flag;
        const int code = ReducePipeline(settings, input, output);
        const Clock::time_point returned = Clock::now();
        if (progress.canceller.joinable())
            progress.canceller.join();
        if (!flag.load()) {
            std::printf("%-28s finished before the flag was set\n", stage.name);
            continue;
        }
        const double ms = std::chrono::duration<double, std::milli>(returned - progress.cancelledAt).count();
        std::printf("%-28s %-10s %14.1f   (stage %d running)\n", stage.name,
                    code == ReduceCancelled ? "cancelled" : "other", ms, progress.stageAtCancel.load());
        std::fflush(stdout);
    }
    return 0;
}
