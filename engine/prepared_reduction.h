#pragma once
// engine/prepared_reduction.h: what one reduction keeps between its histogram and its median cut:
// everything that does not depend on the colour count. Reductions of one image at several counts
// prepare it once and each finish from a copy, since finishing reweights and reorders the histogram
// and refines the dither map in place.

#include <cstdint>

#include "engine/float_map.h"
#include "engine/histogram.h"

namespace tessaline {

struct PreparedReduction
{
    Histogram histogram;
    FloatMap dither; ///< width * height floats, or null when the image got no maps
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    /// An independent copy: a finish from it gives what a finish from this would. Throws
    /// std::bad_alloc.
    PreparedReduction Copy() const;
    /// A copy of the histogram and the size alone, without the dither map. Throws std::bad_alloc.
    PreparedReduction CopyHistogram() const;
};

} // namespace tessaline
