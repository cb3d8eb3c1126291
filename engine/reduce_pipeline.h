#pragma once
// engine/reduce_pipeline.h: the engine's single entry point. Runs every stage of one reduction on
// the calling thread, reporting stages 2 to 11 (engine/reduce_stages.h) through settings.progress.

#include "engine/colour_model.h"
#include "engine/prepared_reduction.h"
#include "engine/reduce_settings.h"

namespace tessaline {

/// Reduces `input` (rows set; its pixels are changed in place by the alpha raise) into the empty
/// `output`. Returns ReduceOk, ReduceOutOfMemory (output buffers), ReduceQualityTooLow (output
/// untouched) or ReduceCancelled (settings.cancel was set; output left empty, stages after the
/// stop unreported). Allocation failures inside the stages propagate as std::bad_alloc; every
/// intermediate is freed on every exit.
int ReducePipeline(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output);

/// ReducePipeline's first half, stages 2 to 4: the alpha raise on `input`, the maps and the
/// histogram, none of which depends on the colour count. Fills `prepared` and returns ReduceOk,
/// or returns ReduceQualityTooLow (no pixels) or ReduceCancelled with `prepared` left alone.
int PrepareReduction(const ReduceSettings& settings, RgbaImage& input, PreparedReduction& prepared);

/// ReducePipeline's second half, stages 5 to 11, from what PrepareReduction gave for `input` (as
/// the alpha raise left it) and the same settings but for maxColours. Consumes `prepared` (finish
/// from a PreparedReduction::Copy to finish again). Returns as ReducePipeline; a `prepared` that
/// does not match `input` gives ReduceQualityTooLow. Prepare then finish gives exactly what
/// ReducePipeline gives.
int FinishReduction(const ReduceSettings& settings, PreparedReduction& prepared, RgbaImage& input,
                    IndexedImage& output);

} // namespace tessaline
