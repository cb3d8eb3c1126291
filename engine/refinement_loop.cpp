#include "engine/refinement_loop.h"

#include <cmath>
#include <cstdint>

namespace tessaline {

double RunRefinementLoop(const ReduceSettings& settings, double error, const std::function<double()>& pass)
{
    const std::uint32_t n = settings.voronoiIterations > 0 ? std::uint32_t(settings.voronoiIterations) : 0u;
    std::uint32_t count = n + (n * n) / 2;
    if (count == 0) {
        if (error < 0.0 && settings.maxError < 1e20)
            count = 1;
        else
            return error;
    }
    const double threshold = 1.0 / double(settings.convergenceDenominator);
    double previous = 1e20;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (CancelRequested(settings.cancel))
            break;
        error = pass();
        if (std::abs(previous - error) < threshold)
            break; // converged
        if (error > 1.5 * settings.maxError) {
            if (error > 3.0 * settings.maxError)
                break; // hopeless: more passes will not bring it under the limit
            ++count;
        }
        previous = error;
    }
    return error;
}

} // namespace tessaline
