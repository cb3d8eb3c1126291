#pragma once
// worker/colour_curve_thread.h: a colour curve measured in the background. It owns a copy of the
// image and its job, runs full reductions at each count of the curve two at a time (as
// ColourTrials does) and hands over every point as soon as it is measured, so a window can draw
// the curve as it grows. Cancel ends it within moments; the destructor cancels and joins.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/colour_model.h"
#include "engine/reduce_settings.h"
#include "worker/colour_search.h"
#include "worker/thread.h"

namespace tessaline {

class ColourCurveThread : public CThread
{
public:
    /// Called on the worker for each point, in the order of `counts`.
    using PointFunction = std::function<void(const CurvePoint& point)>;
    /// Called on the worker once at the end with a ReduceResult (ReduceCancelled after Cancel).
    using DoneFunction = std::function<void(int code)>;

    ColourCurveThread();
    ~ColourCurveThread() override;

    void Cancel() noexcept { cancelRequested.store(true, std::memory_order_relaxed); }

    // Set before Start, left alone while the worker runs.
    ReduceSettings job; ///< its maxColours is ignored; cancel is pointed at this thread's flag
    RgbaImage source;   ///< the image as loaded (owned)
    std::vector<std::uint32_t> counts = DefaultCurveCounts();
    EncodeFunction encode;
    PointFunction onPoint;
    DoneFunction onDone;

protected:
    void Run() override;

private:
    CancelFlag cancelRequested{false};
};

} // namespace tessaline
