#pragma once
// jobs/painted_weights.h: the job builder fed from a weight map the window paints (a QImage).

#include <QImage>

#include "jobs/job_builder.h"

namespace tessaline {

/// BuildReduceJob with the weight map's alpha read from `weightMap` (null or a null image: no
/// weights). Throws std::bad_alloc when the map cannot be converted or the weights allocated.
bool BuildReduceJob(ReduceThread& thread, const SettingValues& values, const QImage* weightMap, RgbaImage& source,
                    IndexedImage& result);

} // namespace tessaline
