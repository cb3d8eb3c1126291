#pragma once
// engine/progress_ui_interface.h: how a reduction talks to whoever shows it. Both calls arrive on
// the worker thread, never on the receiver's own; the receiver must hand them over safely.

#include <cstdint>

namespace tessaline {

class ProgressUIInterface
{
public:
    virtual ~ProgressUIInterface() = default;
    /// Stage 2 to 11 of the pipeline, each once and in order.
    virtual void ReportProgress(int stage) = 0;
    /// Once per run: elapsed milliseconds (unsigned wrap-around) and the result code.
    virtual void ReportFinished(std::uint32_t elapsedMs, int resultCode) = 0;
};

} // namespace tessaline
