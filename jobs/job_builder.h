#pragma once
// jobs/job_builder.h: fills a ReduceThread's job from the setting table's values (slider
// positions and check states as plain numbers), so that the window and the command line build the
// same job.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/colour_model.h"
#include "settings/setting_table.h"
#include "worker/reduce_thread.h"

namespace tessaline {

/// The painted weight of each pixel: the alpha byte of a weight map, read row by row where it
/// lies (an RgbaImage's rows, a window's bitmap), without a copy.
struct WeightAlpha
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<const std::uint8_t*> rows; ///< the alpha byte of each row's first pixel
    std::size_t step = 4;                  ///< bytes from one pixel's alpha to the next
};

/// The alpha of an RGBA image (R, G, B, A bytes per pixel). Throws std::bad_alloc.
WeightAlpha AlphaOf(const RgbaImage& image);

/// Points `thread` at `source` and `result`, points its job's progress at thread.ui and writes
/// every setting of its job from `values` (FillReduceSettings). With user weights on
/// (UserWeightsOn) and a non-null `weightMap`, the job gets source-sized user weights:
/// alpha * user weight / 255 per pixel, all zero where nothing is painted. Returns false, and
/// leaves userWeights null while writing everything else, when the weight map's size differs from
/// the source's (it would be read out of bounds). Throws std::bad_alloc when the weights cannot
/// be allocated.
bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const WeightAlpha* weightMap,
                    RgbaImage& source, IndexedImage& result);

/// BuildReduceJob without a weight map, whatever kind of map the caller might have had.
inline bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, std::nullptr_t, RgbaImage& source,
                           IndexedImage& result)
{
    return BuildReduceJob(thread, values, static_cast<const WeightAlpha*>(nullptr), source, result);
}

} // namespace tessaline
