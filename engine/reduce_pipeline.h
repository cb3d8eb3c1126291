#pragma once
// engine/reduce_pipeline.h: the engine's single entry point. Runs every stage of one reduction on
// the calling thread, reporting stages 2 to 11 (engine/reduce_stages.h) through settings.progress.

#include "engine/colour_model.h"
#include "engine/reduce_settings.h"

namespace tessaline {

/// Reduces `input` (rows set; its pixels are changed in place by the alpha raise) into the empty
/// `output`. Returns ReduceOk, ReduceOutOfMemory (output buffers) or ReduceQualityTooLow (output
/// untouched). Allocation failures inside the stages propagate as std::bad_alloc; every
/// intermediate is freed on every exit.
int ReducePipeline(const ReduceSettings& settings, RgbaImage& input, IndexedImage& output);

} // namespace tessaline
