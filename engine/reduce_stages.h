#pragma once
// engine/reduce_stages.h: the positions a reduction's progress runs through, on a range of 0 to
// 12. The pipeline reports 2 to 11, each just before its stage; the front end that starts a job
// shows 1 itself, and 12 once the job has finished.

namespace tessaline {

enum ReduceStage : int
{
    StageJobStarted = 1,
    StageAlphaRaise = 2,
    StageMaps = 3,
    StageHistogram = 4,
    StageMedianCut = 5,
    StageRefinement = 6,
    StageOutputAllocation = 7,
    StagePlainRemap = 8,
    StagePaletteBytes = 9,
    StageDitheredRemap = 10,
    StageRelease = 11,
    StageFinished = 12
};

/// What the pipeline does after reporting `stage` (2 to 11), in a few English words; empty for
/// any other number.
constexpr const char* StageName(int stage)
{
    switch (stage) {
    case StageAlphaRaise: return "alpha raise";
    case StageMaps: return "contrast and dither maps";
    case StageHistogram: return "histogram";
    case StageMedianCut: return "median cut";
    case StageRefinement: return "Voronoi refinement";
    case StageOutputAllocation: return "output allocation";
    case StagePlainRemap: return "plain remap, dither map";
    case StagePaletteBytes: return "palette bytes";
    case StageDitheredRemap: return "dithered remap";
    case StageRelease: return "release";
    default: return "";
    }
}

} // namespace tessaline
