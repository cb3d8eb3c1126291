#pragma once
// engine/nearest_lanes.h: a copy of a NearestIndex laid out channel by channel, so that four, eight
// or sixteen head centres or candidates (SSE2, AVX2, AVX-512: VectorWidthInUse when the lanes are
// built) are compared with one query in one operation. It answers exactly as FindNearest on the
// index it was built from (the same entry, the same difference, bit for bit): the lanes repeat
// ColourDifference's vector arithmetic operation for operation, in the metric of the index's
// channel scales, and without SSE2 the query goes to FindNearest itself. Read-only once built; any
// number of threads may query it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/colour_model.h"
#include "engine/nearest_index.h"
#include "engine/vector_width.h"

namespace tessaline {

/// The arrays of a NearestLanes as plain pointers: what the query of every width reads.
struct NearestLanesView
{
    const float *headA = nullptr, *headR = nullptr, *headG = nullptr, *headB = nullptr, *headRadius = nullptr;
    std::size_t headLanes = 0; ///< heads, padding included
    const float *candidateA = nullptr, *candidateR = nullptr, *candidateG = nullptr, *candidateB = nullptr;
    const float* candidateReach = nullptr;
    const std::uint32_t* candidateEntry = nullptr;
    const std::uint32_t* firstCandidate = nullptr; ///< per head
    const std::uint32_t* candidateCount = nullptr; ///< per head, padding excluded
    bool boundedCandidates = false;
    ChannelScales scales;
};

struct NearestLanes
{
    NearestLanes() = default;
    // The view points into the arrays: moving them keeps it true, copying would not.
    NearestLanes(NearestLanes&&) = default;
    NearestLanes& operator=(NearestLanes&&) = default;
    NearestLanes(const NearestLanes&) = delete;
    NearestLanes& operator=(const NearestLanes&) = delete;

    const NearestIndex* index = nullptr; ///< borrowed; must outlive the lanes
    /// Head centres and radii, padded to a multiple of sixteen with heads that accept nothing.
    std::vector<float> headA, headR, headG, headB, headRadius;
    /// Every head's candidates, each head's run padded to a multiple of sixteen.
    std::vector<float> candidateA, candidateR, candidateG, candidateB;
    std::vector<std::uint32_t> candidateEntry;
    /// Per candidate a lower bound on sqrt(ColourDifference) from its head's centre to it and to
    /// every later candidate of the head (a suffix minimum, rounded down). By the triangle
    /// inequality no later candidate can score below (reach - sqrt(query's difference to the
    /// centre))^2, which lets a scan stop early.
    std::vector<float> candidateReach;
    std::vector<std::uint32_t> firstCandidate; ///< per head, into the candidate arrays
    std::vector<std::uint32_t> candidateCount; ///< per head, padding excluded
    /// Every candidate channel within +-LaneBound: with a query as tame, no score can overflow or
    /// be NaN, which lets a query skip the checks for either.
    bool boundedCandidates = false;
    /// The index's channel scales are not even: the difference over white scales the alpha difference.
    bool scaled = false;
    /// The width queries use, VectorWidthInUse when built.
    VectorWidth width = VectorWidth::Sse2;
    NearestLanesView view;
};

/// Lanes over `index`, which must stay alive and unchanged while they are used. Throws std::bad_alloc.
NearestLanes BuildNearestLanes(const NearestIndex& index);

/// The same answer as FindNearest(*lanes.index, colour, minOpacity, difference).
std::uint32_t FindNearestLanes(const NearestLanes& lanes, const FloatPixel& colour, float minOpacity,
                               float* difference);

} // namespace tessaline
