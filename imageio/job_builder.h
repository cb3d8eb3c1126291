#pragma once
// imageio/job_builder.h: fills a ReduceThread's job from the setting table's values (slider
// positions and check states as plain numbers), so that the window and the command line build the
// same job.

#include <QImage>

#include "engine/colour_model.h"
#include "settings/setting_table.h"
#include "worker/reduce_thread.h"

namespace tessaline {

/// Points `thread` at `source` and `result`, points its job's progress at thread.ui and writes
/// every setting of its job from `values` (FillReduceSettings). With user weights on
/// (UserWeightsOn) and a non-null `weightMap`, the job gets source-sized user weights:
/// alpha * user weight / 255 per pixel, all zero where nothing is painted. Returns false, and
/// leaves userWeights null while writing everything else, when the weight map's size differs from
/// the source's (it would be read out of bounds). Throws std::bad_alloc when the weights cannot
/// be allocated.
bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const QImage* weightMap, RgbaImage& source,
                    IndexedImage& result);

} // namespace tessaline
