#pragma once
// engine/nearest_lanes_scan.h: the nearest-entry query of NearestLanes for tame queries, written
// once for any vector width. A width is a record of static functions over its float vector (`V`,
// with `Width` lanes); each SIMD source of the lanes instantiates the query with its own, compiled
// for its own instruction set, so nothing here may call a function that is not inlined. Every
// lane runs ColourDifference's operations in its order whatever the width, and the minimum and
// the first position that holds it do not depend on how many lanes find them, so every width
// gives the same entry and the same difference bit for bit.

#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/colour_model.h"
#include "engine/nearest_lanes.h"

namespace tessaline {
namespace {

constexpr float OpacityPenalty = 1.0f / 1024.0f; // the search's own penalty for translucent entries

// Channels within this bound square and sum without overflow: (4e18)^2 * 3 stays far below FLT_MAX.
constexpr float LaneBound = 1e18f;

// Heads with at most this many (padded) candidates are scanned through a score buffer on the stack.
constexpr std::uint32_t MaxBufferedCandidates = 256;

// The candidate scan tests its early stop between blocks of this many candidates: a multiple of
// every width.
constexpr std::uint32_t StopBlock = 16;

// sqrt(ColourDifference) is a metric: the difference is the sum over r, g, b of the larger squared
// difference of the two colours composited over black (c) and over white (c - a), both linear in
// the colour, so its root is a norm of a linear image and obeys the triangle inequality. Computed
// in float, a difference of tame colours is within a relative 1e-6 of the exact value (about 11
// roundings of 2^-24), so these margins, a hundred times that, keep the bounds below the truth;
// the absolute ones cover scores that underflow.
constexpr double ReachShrink = 1.0 - 1e-5;
constexpr double ReachFloor = 1e-18;
constexpr double BoundShrink = 1.0 - 1e-4;
constexpr double BoundFloor = 1e-30;

inline bool WithinLaneBound(float value)
{
    return std::fabs(value) <= LaneBound; // false for NaN
}

// A positive `value` as a float no smaller than it: rounding to float moves it by less than the
// 1e-6 added.
inline float FloatAbove(double value)
{
    return static_cast<float>(value * (1.0 + 1e-6));
}

// The query broadcast channel by channel, with the channel scales of the index's metric.
template <class V> struct QueryVectors
{
    typename V::F a, r, g, b;
    typename V::F scaleR, scaleG, scaleB;
};

template <class V>
[[gnu::always_inline]] inline QueryVectors<V> BroadcastQuery(const FloatPixel& q, const ChannelScales& scales)
{
    return QueryVectors<V>{V::Set1(q.a),      V::Set1(q.r),      V::Set1(q.g),     V::Set1(q.b),
                           V::Set1(scales.r), V::Set1(scales.g), V::Set1(scales.b)};
}

// ColourDifference(query, y, scales) for V::Width colours y at once, lane for lane the operations
// of its vector form: black = x - y, white = black + (y.a - x.a) (times the channel's scale when
// Scaled; even scales leave the product out, which multiplies by 1 exactly), the larger square,
// then (r + g) + b.
template <class V, bool Scaled>
[[gnu::always_inline]] inline typename V::F Differences(const QueryVectors<V>& q, const float* a,
                                                        const float* r, const float* g, const float* b)
{
    using F = typename V::F;
    const F alphas = V::Sub(V::Load(a), q.a);
    const auto term = [&alphas](F xc, const float* yc, F scale) {
        const F black = V::Sub(xc, V::Load(yc));
        const F white = V::Add(black, Scaled ? V::Mul(alphas, scale) : alphas);
        return V::Max(V::Mul(black, black), V::Mul(white, white));
    };
    const F tr = term(q.r, r, q.scaleR);
    const F tg = term(q.g, g, q.scaleG);
    const F tb = term(q.b, b, q.scaleB);
    return V::Add(V::Add(tr, tg), tb);
}

// The scan of one head's candidates when neither the query nor any candidate can give a NaN or an
// overflowing score: every score goes to a buffer while the lanes keep only their minimum, and the
// answer is the first candidate scoring that minimum, which is what the strictly-lower scan keeps.
// The padding candidates score infinity and come last, so they never are that first one.
//
// Candidates come nearest to the head's centre first and their reach never falls along the run:
// once the bound for the next candidate reaches the lowest score so far, no later candidate can
// score strictly lower, and the scan stops there with the same answer. `centreDifference` is the
// query's difference to the head's centre.
template <class V, bool Scaled>
[[gnu::always_inline]] inline std::uint32_t
ScanTameCandidates(const NearestLanesView& lanes, std::size_t first, std::uint32_t count,
                   const QueryVectors<V>& query, float centreDifference, typename V::F penalty,
                   float* difference)
{
    using F = typename V::F;
    alignas(64) float scores[MaxBufferedCandidates];
    const F one = V::Set1(1.0f);
    F lowest = V::Set1(std::numeric_limits<float>::infinity());
    // An upper bound on sqrt of the exact difference from the query to the centre. The bound's own
    // float arithmetic below rounds by a few 2^-24 at most, far inside BoundShrink's margin.
    const float queryReach = FloatAbove(std::sqrt(double(centreDifference)) / ReachShrink + ReachFloor);
    const float* candidateA = lanes.candidateA + first;
    const float* candidateR = lanes.candidateR + first;
    const float* candidateG = lanes.candidateG + first;
    const float* candidateB = lanes.candidateB + first;
    const float* reach = lanes.candidateReach + first;
    std::uint32_t scanned = 0;
    while (scanned < count) {
        // Tested every block only: the stop depends on the query, and a branch taken at a few fixed
        // places mispredicts less than one tested after every vector, which on runs of similar
        // queries cost more than the vectors it saved.
        if (scanned > 0) {
            // Every candidate from here on scores at least gap^2; a gap that is negative or NaN
            // (an infinite difference to the centre) counts as none.
            const float gap = V::MaxScalar(reach[scanned] - queryReach, 0.0f);
            const float bound = gap * gap * static_cast<float>(BoundShrink) - static_cast<float>(BoundFloor);
            if (V::AnyLessEqual(lowest, V::Set1(bound)))
                break;
        }
        const std::uint32_t blockEnd = count < scanned + StopBlock ? count : scanned + StopBlock;
        for (; scanned < blockEnd; scanned += V::Width) {
            const std::uint32_t k = scanned;
            F s =
                Differences<V, Scaled>(query, candidateA + k, candidateR + k, candidateG + k, candidateB + k);
            s = V::Add(s, V::WhereLess(V::Load(candidateA + k), one, penalty));
            V::Store(scores + k, s);
            lowest = V::Min(lowest, s);
        }
    }
    lowest = V::LowestEverywhere(lowest);
    std::uint32_t best = 0;
    for (std::uint32_t k = 0; k < scanned; k += V::Width) {
        const unsigned equal = V::EqualBits(V::Load(scores + k), lowest);
        if (equal != 0) {
            best = k + std::uint32_t(__builtin_ctz(equal));
            break;
        }
    }
    if (difference)
        *difference = scores[best];
    return lanes.candidateEntry[first + best];
}

// FindNearestLanes for a tame query (every channel within LaneBound, as every candidate is) whose
// accepting head has at most MaxBufferedCandidates candidates; false, with nothing answered, for
// any other query, which the checked scan then takes.
template <class V, bool Scaled>
[[gnu::always_inline]] inline bool FindTameNearest(const NearestLanesView& lanes, const FloatPixel& colour,
                                                   float minOpacity, float* difference, std::uint32_t& answer)
{
    using F = typename V::F;
    if (!lanes.boundedCandidates || !WithinLaneBound(colour.a) || !WithinLaneBound(colour.r) ||
        !WithinLaneBound(colour.g) || !WithinLaneBound(colour.b))
        return false;
    // A local, so that the stores to the score buffer do not make the scans reload it.
    const QueryVectors<V> query = BroadcastQuery<V>(colour, lanes.scales);
    for (std::size_t h = 0; h < lanes.headLanes; h += V::Width) {
        const F d =
            Differences<V, Scaled>(query, lanes.headA + h, lanes.headR + h, lanes.headG + h, lanes.headB + h);
        const unsigned accepts = V::LessEqualBits(d, V::Load(lanes.headRadius + h));
        if (accepts == 0)
            continue;
        const unsigned lane = unsigned(__builtin_ctz(accepts));
        const std::size_t chosen = h + lane;
        const std::uint32_t count = lanes.candidateCount[chosen];
        if (count == 0) {
            answer = 0;
            return true;
        }
        if (count > MaxBufferedCandidates)
            return false;
        alignas(64) float centreDifferences[V::Width];
        V::Store(centreDifferences, d);
        const F penalty = V::Set1(colour.a > minOpacity ? OpacityPenalty : 0.0f);
        answer = ScanTameCandidates<V, Scaled>(lanes, lanes.firstCandidate[chosen], count, query,
                                               centreDifferences[lane], penalty, difference);
        return true;
    }
    answer = 0;
    return true;
}

} // namespace
} // namespace tessaline

#if defined(TESSALINE_WIDE_VECTORS)
namespace tessaline {

// FindTameNearest at eight and sixteen floats, each compiled for its own instruction set
// (nearest_lanes_avx2.cpp, nearest_lanes_avx512.cpp); call only when the processor has it.
bool FindTameNearestAvx2(const NearestLanesView& lanes, bool scaled, const FloatPixel& colour,
                         float minOpacity, float* difference, std::uint32_t& answer);
bool FindTameNearestAvx512(const NearestLanesView& lanes, bool scaled, const FloatPixel& colour,
                           float minOpacity, float* difference, std::uint32_t& answer);

} // namespace tessaline
#endif
