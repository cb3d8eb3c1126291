#include "engine/prepared_reduction.h"

#include <algorithm>

namespace tessaline {

PreparedReduction PreparedReduction::CopyHistogram() const
{
    PreparedReduction copy;
    copy.histogram = CreateHistogram(histogram.size);
    std::copy_n(histogram.items.get(), histogram.size, copy.histogram.items.get());
    copy.histogram.totalPerceptualWeight = histogram.totalPerceptualWeight;
    copy.histogram.scales = histogram.scales;
    copy.width = width;
    copy.height = height;
    return copy;
}

PreparedReduction PreparedReduction::Copy() const
{
    PreparedReduction copy = CopyHistogram();
    if (dither) {
        const std::size_t count = std::size_t{width} * height;
        copy.dither = AllocateFloatMap(count);
        std::copy_n(dither.get(), count, copy.dither.get());
    }
    return copy;
}

} // namespace tessaline
