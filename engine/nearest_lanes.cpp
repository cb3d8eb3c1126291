#include "engine/nearest_lanes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaline {
namespace {

// [[maybe_unused]] here and below: read by the SSE2 forms alone, which a build without SSE2 leaves out.
// The search's own penalty for translucent entries.
[[maybe_unused]] constexpr float OpacityPenalty = 1.0f / 1024.0f;

std::size_t RoundUpToFour(std::size_t n)
{
    return (n + 3) & ~std::size_t{3};
}

// Channels within this bound square and sum without overflow: (4e18)^2 * 3 stays far below FLT_MAX.
constexpr float LaneBound = 1e18f;

// Padding candidates sit this far out on r, g and b, so that against a query within LaneBound their
// score overflows to infinity and never wins; alpha 0 keeps their white term infinite too.
constexpr float PaddingChannel = 1e30f;

// Heads with at most this many (padded) candidates are scanned through a score buffer on the stack.
[[maybe_unused]] constexpr std::uint32_t MaxBufferedCandidates = 256;

bool WithinLaneBound(float value)
{
    return std::fabs(value) <= LaneBound; // false for NaN
}

// sqrt(ColourDifference) is a metric: the difference is the sum over r, g, b of the larger squared
// difference of the two colours composited over black (c) and over white (c - a), both linear in
// the colour, so its root is a norm of a linear image and obeys the triangle inequality. Computed
// in float, a difference of tame colours is within a relative 1e-6 of the exact value (about 11
// roundings of 2^-24), so these margins, a hundred times that, keep the bounds below the truth;
// the absolute ones cover scores that underflow.
constexpr double ReachShrink = 1.0 - 1e-5;
constexpr double ReachFloor = 1e-18;
[[maybe_unused]] constexpr double BoundShrink = 1.0 - 1e-4;
[[maybe_unused]] constexpr double BoundFloor = 1e-30;

// A lower bound on sqrt of the exact difference whose float form is `difference`.
double ReachBelow(float difference)
{
    return std::sqrt(double(difference)) * ReachShrink - ReachFloor;
}

// A positive `value` as a float no smaller than it: rounding to float moves it by less than the
// 1e-6 added.
[[maybe_unused]] float FloatAbove(double value)
{
    return static_cast<float>(value * (1.0 + 1e-6));
}

// `value` as a float no larger than it.
float FloatBelow(double value)
{
    float f = static_cast<float>(value);
    if (double(f) > value)
        f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

#if defined(__SSE2__)
// The query broadcast channel by channel, with the channel scales of the index's metric.
struct QueryLanes
{
    __m128 a, r, g, b;
    __m128 scaleR, scaleG, scaleB;
};

inline QueryLanes Broadcast(const FloatPixel& q, const ChannelScales& scales)
{
    return QueryLanes{_mm_set1_ps(q.a),      _mm_set1_ps(q.r),      _mm_set1_ps(q.g),     _mm_set1_ps(q.b),
                      _mm_set1_ps(scales.r), _mm_set1_ps(scales.g), _mm_set1_ps(scales.b)};
}

// ColourDifference(query, y, scales) for four y at once, lane for lane the operations of its vector
// form: black = x - y, white = black + (y.a - x.a) (times the channel's scale when Scaled; even
// scales leave the product out, which multiplies by 1 exactly), the larger square, then (r + g) + b.
template <bool Scaled>
inline __m128 FourDifferences(const QueryLanes& q, const float* a, const float* r, const float* g,
                              const float* b)
{
    const __m128 ya = _mm_loadu_ps(a);
    const __m128 alphas = _mm_sub_ps(ya, q.a);
    const auto term = [&alphas](__m128 xc, const float* yc, __m128 scale) {
        const __m128 black = _mm_sub_ps(xc, _mm_loadu_ps(yc));
        const __m128 white = _mm_add_ps(black, Scaled ? _mm_mul_ps(alphas, scale) : alphas);
        return _mm_max_ps(_mm_mul_ps(black, black), _mm_mul_ps(white, white));
    };
    const __m128 tr = term(q.r, r, q.scaleR);
    const __m128 tg = term(q.g, g, q.scaleG);
    const __m128 tb = term(q.b, b, q.scaleB);
    return _mm_add_ps(_mm_add_ps(tr, tg), tb);
}

// The scan of one head's candidates when neither the query nor any candidate can give a NaN or an
// overflowing score: every score goes to a buffer while the lanes keep only their minimum, and the
// answer is the first candidate scoring that minimum, which is what the strictly-lower scan keeps.
// The padding candidates score infinity and come last, so they never are that first one.
//
// Candidates come nearest to the head's centre first and their reach never falls along the run:
// once the bound for the next candidate reaches the lowest score so far, no later candidate can
// score strictly lower, and the scan stops there with the same answer. `centreDifference` is
// the query's difference to the head's centre.
template <bool Scaled>
inline std::uint32_t ScanTameCandidates(const NearestLanes& lanes, std::size_t first, std::uint32_t count,
                                        const QueryLanes& query, float centreDifference, __m128 penalty,
                                        float* difference)
{
    alignas(16) float scores[MaxBufferedCandidates];
    const __m128 one = _mm_set1_ps(1.0f);
    __m128 lowest = _mm_set1_ps(std::numeric_limits<float>::infinity());
    // An upper bound on sqrt of the exact difference from the query to the centre. The bound's own
    // float arithmetic below rounds by a few 2^-24 at most, far inside BoundShrink's margin.
    const __m128 queryReach =
        _mm_set_ss(FloatAbove(std::sqrt(double(centreDifference)) / ReachShrink + ReachFloor));
    const __m128 zero = _mm_setzero_ps();
    const __m128 shrink = _mm_set_ss(static_cast<float>(BoundShrink));
    const __m128 boundFloor = _mm_set_ss(static_cast<float>(BoundFloor));
    const float* candidateA = lanes.candidateA.data() + first;
    const float* candidateR = lanes.candidateR.data() + first;
    const float* candidateG = lanes.candidateG.data() + first;
    const float* candidateB = lanes.candidateB.data() + first;
    const float* reach = lanes.candidateReach.data() + first;
    std::uint32_t scanned = 0;
    while (scanned < count) {
        // Tested every sixteen candidates only: the stop depends on the query, and a branch taken
        // at a few fixed places mispredicts less than one tested after every group, which on runs
        // of similar queries cost more than the groups it saved.
        if (scanned > 0) {
            // Every candidate from here on scores at least gap^2; a gap that is negative or NaN
            // (an infinite difference to the centre) counts as none.
            const __m128 gap = _mm_max_ss(_mm_sub_ss(_mm_load_ss(reach + scanned), queryReach), zero);
            __m128 bound = _mm_sub_ss(_mm_mul_ss(_mm_mul_ss(gap, gap), shrink), boundFloor);
            bound = _mm_shuffle_ps(bound, bound, _MM_SHUFFLE(0, 0, 0, 0));
            if (_mm_movemask_ps(_mm_cmple_ps(lowest, bound)) != 0)
                break;
        }
        const std::uint32_t blockEnd = std::min(count, scanned + 16);
        for (; scanned < blockEnd; scanned += 4) {
            const std::uint32_t k = scanned;
            const __m128 translucent = _mm_cmplt_ps(_mm_loadu_ps(candidateA + k), one);
            __m128 s = FourDifferences<Scaled>(query, candidateA + k, candidateR + k, candidateG + k,
                                               candidateB + k);
            s = _mm_add_ps(s, _mm_and_ps(translucent, penalty));
            _mm_store_ps(scores + k, s);
            lowest = _mm_min_ps(lowest, s);
        }
    }
    lowest = _mm_min_ps(lowest, _mm_shuffle_ps(lowest, lowest, _MM_SHUFFLE(2, 3, 0, 1)));
    lowest = _mm_min_ps(lowest, _mm_shuffle_ps(lowest, lowest, _MM_SHUFFLE(1, 0, 3, 2)));
    std::uint32_t best = 0;
    for (std::uint32_t k = 0; k < scanned; k += 4) {
        const int equal = _mm_movemask_ps(_mm_cmpeq_ps(_mm_load_ps(scores + k), lowest));
        if (equal != 0) {
            best = k + std::uint32_t(__builtin_ctz(static_cast<unsigned>(equal)));
            break;
        }
    }
    if (difference)
        *difference = scores[best];
    return lanes.candidateEntry[first + best];
}
#endif

} // namespace

NearestLanes BuildNearestLanes(const NearestIndex& index)
{
    NearestLanes lanes;
    lanes.index = &index;
    lanes.scaled = !index.scales.Even();
    const std::size_t heads = RoundUpToFour(index.headCount);
    // Padding heads: a radius of -1 accepts no difference, not even a NaN one.
    lanes.headA.assign(heads, 0.0f);
    lanes.headR.assign(heads, 0.0f);
    lanes.headG.assign(heads, 0.0f);
    lanes.headB.assign(heads, 0.0f);
    lanes.headRadius.assign(heads, -1.0f);
    lanes.firstCandidate.assign(index.headCount, 0);
    std::size_t total = 0;
    for (std::uint32_t h = 0; h < index.headCount; ++h)
        total += RoundUpToFour(index.heads[h].candidateCount);
    lanes.candidateA.assign(total, 0.0f);
    lanes.candidateR.assign(total, PaddingChannel);
    lanes.candidateG.assign(total, PaddingChannel);
    lanes.candidateB.assign(total, PaddingChannel);
    lanes.boundedCandidates = true;
    lanes.candidateEntry.assign(total, 0);
    lanes.candidateReach.assign(total, 0.0f);

    std::size_t next = 0;
    for (std::uint32_t h = 0; h < index.headCount; ++h) {
        const NearestHead& head = index.heads[h];
        lanes.headA[h] = head.centre.a;
        lanes.headR[h] = head.centre.r;
        lanes.headG[h] = head.centre.g;
        lanes.headB[h] = head.centre.b;
        lanes.headRadius[h] = head.radius;
        lanes.firstCandidate[h] = static_cast<std::uint32_t>(next);
        for (std::uint32_t k = 0; k < head.candidateCount; ++k) {
            const NearestCandidate& candidate = head.candidates[k];
            lanes.candidateA[next + k] = candidate.colour.a;
            lanes.candidateR[next + k] = candidate.colour.r;
            lanes.candidateG[next + k] = candidate.colour.g;
            lanes.candidateB[next + k] = candidate.colour.b;
            lanes.candidateEntry[next + k] = candidate.entryIndex;
            lanes.boundedCandidates = lanes.boundedCandidates && WithinLaneBound(candidate.colour.a) &&
                                      WithinLaneBound(candidate.colour.r) &&
                                      WithinLaneBound(candidate.colour.g) && WithinLaneBound(candidate.colour.b);
        }
        // Suffix minimum from the end, so a reach bounds every later candidate too, whatever the
        // order (the catch-all's candidates are in palette order). An overflowing or NaN
        // difference says nothing about the exact one: it gives no bound.
        double reach = std::numeric_limits<double>::infinity();
        for (std::uint32_t k = head.candidateCount; k-- > 0;) {
            const float own = ColourDifference(head.centre, head.candidates[k].colour, index.scales);
            reach = std::min(reach, std::isfinite(own) ? ReachBelow(own) : -1.0);
            lanes.candidateReach[next + k] = FloatBelow(reach);
        }
        next += RoundUpToFour(head.candidateCount);
    }
    return lanes;
}

#if defined(__SSE2__)
namespace {

// FindNearestLanes with SSE2; false when the plain search must answer (a NaN score). Inlined, so
// that the even metric's queries pay nothing for the choice.
template <bool Scaled>
[[gnu::always_inline]] inline bool FindNearestSse2(const NearestLanes& lanes, const FloatPixel& colour, float minOpacity, float* difference,
                     std::uint32_t& answer)
{
    const NearestIndex& index = *lanes.index;
    // A local, so that the stores to the score buffer do not make the scans reload it.
    const QueryLanes query = Broadcast(colour, index.scales);
    const std::size_t heads = lanes.headRadius.size();
    const bool tame = lanes.boundedCandidates && WithinLaneBound(colour.a) && WithinLaneBound(colour.r) &&
                      WithinLaneBound(colour.g) && WithinLaneBound(colour.b);
    bool unorderedScores = false;
    for (std::size_t h = 0; h < heads && !unorderedScores; h += 4) {
        const __m128 d = FourDifferences<Scaled>(query, &lanes.headA[h], &lanes.headR[h], &lanes.headG[h],
                                                 &lanes.headB[h]);
        const int accepts = _mm_movemask_ps(_mm_cmple_ps(d, _mm_loadu_ps(&lanes.headRadius[h])));
        if (accepts == 0)
            continue;
        const std::uint32_t chosen = static_cast<std::uint32_t>(h) + std::uint32_t(__builtin_ctz(accepts));
        const std::uint32_t count = index.heads[chosen].candidateCount;
        if (count == 0) {
            answer = 0;
            return true;
        }
        // Track per lane the first strictly lowest score and where it was; the earliest of the
        // lanes' minima is then the scan's answer. NaN scores order differently: leave those
        // to the plain search.
        const __m128 penalty = _mm_set1_ps(colour.a > minOpacity ? OpacityPenalty : 0.0f);
        const std::size_t first = lanes.firstCandidate[chosen];
        if (tame && count <= MaxBufferedCandidates) {
            alignas(16) float centreDifferences[4];
            _mm_store_ps(centreDifferences, d);
            answer = ScanTameCandidates<Scaled>(lanes, first, count, query, centreDifferences[chosen - h],
                                                penalty, difference);
            return true;
        }
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
        __m128 bestScores = infinity;
        __m128i bestPositions = _mm_setzero_si128();
        __m128i positions = _mm_setr_epi32(0, 1, 2, 3);
        __m128 unordered = _mm_setzero_ps();
        for (std::uint32_t k = 0; k < count; k += 4) {
            const std::size_t at = first + k;
            const __m128 translucent = _mm_cmplt_ps(_mm_loadu_ps(&lanes.candidateA[at]), one);
            __m128 scores = FourDifferences<Scaled>(query, &lanes.candidateA[at], &lanes.candidateR[at],
                                                    &lanes.candidateG[at], &lanes.candidateB[at]);
            scores = _mm_add_ps(scores, _mm_and_ps(translucent, penalty));
            if (count - k < 4) {
                const __m128 used =
                    _mm_castsi128_ps(_mm_cmplt_epi32(positions, _mm_set1_epi32(static_cast<int>(count))));
                scores = _mm_or_ps(_mm_and_ps(used, scores), _mm_andnot_ps(used, infinity));
            }
            unordered = _mm_or_ps(unordered, _mm_cmpunord_ps(scores, scores));
            const __m128 lower = _mm_cmplt_ps(scores, bestScores);
            bestScores = _mm_or_ps(_mm_and_ps(lower, scores), _mm_andnot_ps(lower, bestScores));
            const __m128i lowerBits = _mm_castps_si128(lower);
            bestPositions =
                _mm_or_si128(_mm_and_si128(lowerBits, positions), _mm_andnot_si128(lowerBits, bestPositions));
            positions = _mm_add_epi32(positions, _mm_set1_epi32(4));
        }
        if (_mm_movemask_ps(unordered) != 0) {
            unorderedScores = true;
            break;
        }
        alignas(16) float laneScores[4];
        alignas(16) std::uint32_t lanePositions[4];
        _mm_store_ps(laneScores, bestScores);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanePositions), bestPositions);
        float bestScore = laneScores[0];
        std::uint32_t best = lanePositions[0];
        for (int l = 1; l < 4; ++l) {
            if (laneScores[l] < bestScore || (laneScores[l] == bestScore && lanePositions[l] < best)) {
                bestScore = laneScores[l];
                best = lanePositions[l];
            }
        }
        if (bestScore == std::numeric_limits<float>::infinity()) {
            // Every score infinite (or only padding): the scan keeps its first candidate.
            best = 0;
        }
        if (difference)
            *difference = bestScore;
        answer = lanes.candidateEntry[first + best];
        return true;
    }
    if (!unorderedScores) {
        answer = 0;
        return true;
    }
    return false;
}

} // namespace
#endif

std::uint32_t FindNearestLanes(const NearestLanes& lanes, const FloatPixel& colour, float minOpacity,
                               float* difference)
{
#if defined(__SSE2__)
    if (ProcessorHasSse2) {
        std::uint32_t answer = 0;
        const bool answered = lanes.scaled ? FindNearestSse2<true>(lanes, colour, minOpacity, difference, answer)
                                           : FindNearestSse2<false>(lanes, colour, minOpacity, difference, answer);
        if (answered)
            return answer;
    }
#endif
    return FindNearest(*lanes.index, colour, minOpacity, difference);
}

} // namespace tessaline
