#pragma once
// imageio/job_builder.h: fills a ReduceThread's job from the settings panel's values. The values
// are slider positions and check states as plain numbers, so that the command line can build the
// same job without any widget.

#include <cstdint>

#include <QImage>

#include "engine/colour_model.h"
#include "worker/reduce_thread.h"

namespace tessaline {

/// The panel's values, each at the panel's start-up default.
struct PanelValues
{
    int colours = 256;            ///< colours slider, 2 to 256
    int opacity = 256;            ///< opacity-threshold slider, 1 to 256 (238 while the IE6 fix is on)
    bool floydNotChosen = false;  ///< "orderd" chosen instead of "floyd": no error diffusion
    bool transparentLast = false; ///< put the transparent entry last in the palette
    bool contrastMap = true;      ///< the use-contrast-map check box
    bool ditherMap = true;        ///< the use-dither-map check box
    bool fastHistogram = false;   ///< the speed-up-histogram-convergence check box
    std::uint32_t histogramLimit = HistogramLimit(10); ///< HistogramLimit of the histogram slider
    int feedbackTrials = 49;      ///< feedback slider, 0 to 49
    int voronoiIterations = 7;    ///< Voronoi slider, 0 to 7
    int convergenceExponent = 22; ///< convergence slider, 13 to 22
    bool useUserWeight = false;   ///< the use-user-weight check box
    int userWeight = 15;          ///< user-weight slider, 0 to 100

    /// The histogram size for histogram slider position g (0 to 63): g * 2^18 + 2^17.
    static constexpr std::uint32_t HistogramLimit(int g)
    {
        return (static_cast<std::uint32_t>(g) << 18) + 0x20000u;
    }
};

/// Points `thread` at `source` and `result`, points its job's progress at thread.ui and writes
/// every setting of its job from `panel`. With useUserWeight on and a non-null `weightMap`, the
/// job gets source-sized user weights: alpha * userWeight / 255 per pixel, all zero where nothing
/// is painted. Returns false, and leaves userWeights null while writing everything else, when the
/// weight map's size differs from the source's (it would be read out of bounds). A colour count
/// outside 2 to 256 is clamped into it; every other value is written as given. Throws
/// std::bad_alloc when the weights cannot be allocated.
bool BuildReduceJob(ReduceThread& thread, const PanelValues& panel, const QImage* weightMap, RgbaImage& source,
                    IndexedImage& result);

} // namespace tessaline
