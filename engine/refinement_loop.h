#pragma once
// engine/refinement_loop.h: how many Voronoi passes the pipeline runs on the median-cut palette and
// when it stops. Errors are weighted mean colour differences; -1 stands for "never measured".

#include <functional>

#include "engine/reduce_settings.h"

namespace tessaline {

/// Runs `pass` (one refinement pass returning the palette's error before it moved) up to
/// n + n * n / 2 times for n = max(voronoiIterations, 0), in unsigned 32-bit arithmetic. Stops when
/// an error differs from the previous one by less than 1 / convergenceDenominator, or exceeds
/// 3 * maxError; each error between 1.5 and 3 times maxError earns one more pass. With no passes
/// to run, one pass still runs when `error` is -1 and maxError is below 1e20, so that the quality
/// test has an error to test. No further pass starts once settings.cancel is set. Returns the last
/// error (or `error` when no pass ran).
double RunRefinementLoop(const ReduceSettings& settings, double error, const std::function<double()>& pass);

} // namespace tessaline
