#include "engine/nearest_lanes.h"

#include "engine/nearest_lanes_scan.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaline {
namespace {

std::size_t RoundUpToStopBlock(std::size_t n)
{
    return (n + StopBlock - 1) / StopBlock * StopBlock;
}

// Padding candidates sit this far out on r, g and b, so that against a query within LaneBound their
// score overflows to infinity and never wins; alpha 0 keeps their white term infinite too.
constexpr float PaddingChannel = 1e30f;

// A lower bound on sqrt of the exact difference whose float form is `difference`.
double ReachBelow(float difference)
{
    return std::sqrt(double(difference)) * ReachShrink - ReachFloor;
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
// Four floats at a time, for FindTameNearest and the checked scan.
struct Sse2Lanes
{
    using F = __m128;
    static constexpr std::uint32_t Width = 4;
    static F Set1(float x) { return _mm_set1_ps(x); }
    static F Load(const float* p) { return _mm_loadu_ps(p); }
    static void Store(float* p, F x) { _mm_storeu_ps(p, x); }
    static F Add(F x, F y) { return _mm_add_ps(x, y); }
    static F Sub(F x, F y) { return _mm_sub_ps(x, y); }
    static F Mul(F x, F y) { return _mm_mul_ps(x, y); }
    static F Max(F x, F y) { return _mm_max_ps(x, y); }
    static F Min(F x, F y) { return _mm_min_ps(x, y); }
    /// x > y ? x : y, as the processor's scalar maximum: y when x is NaN.
    static float MaxScalar(float x, float y)
    {
        return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(x), _mm_set_ss(y)));
    }
    /// `value` in the lanes where x < y, +0 elsewhere.
    static F WhereLess(F x, F y, F value) { return _mm_and_ps(_mm_cmplt_ps(x, y), value); }
    static unsigned LessEqualBits(F x, F y) { return unsigned(_mm_movemask_ps(_mm_cmple_ps(x, y))); }
    static unsigned EqualBits(F x, F y) { return unsigned(_mm_movemask_ps(_mm_cmpeq_ps(x, y))); }
    static bool AnyLessEqual(F x, F y) { return LessEqualBits(x, y) != 0; }
    /// The lanes' minimum in every lane.
    static F LowestEverywhere(F x)
    {
        x = _mm_min_ps(x, _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm_min_ps(x, _mm_shuffle_ps(x, x, _MM_SHUFFLE(1, 0, 3, 2)));
    }
};
#endif

} // namespace

NearestLanes BuildNearestLanes(const NearestIndex& index)
{
    NearestLanes lanes;
    lanes.index = &index;
    lanes.scaled = !index.scales.Even();
    const std::size_t heads = RoundUpToStopBlock(index.headCount);
    // Padding heads: a radius of -1 accepts no difference, not even a NaN one.
    lanes.headA.assign(heads, 0.0f);
    lanes.headR.assign(heads, 0.0f);
    lanes.headG.assign(heads, 0.0f);
    lanes.headB.assign(heads, 0.0f);
    lanes.headRadius.assign(heads, -1.0f);
    lanes.firstCandidate.assign(index.headCount, 0);
    lanes.candidateCount.assign(heads, 0);
    std::size_t total = 0;
    for (std::uint32_t h = 0; h < index.headCount; ++h)
        total += RoundUpToStopBlock(index.heads[h].candidateCount);
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
        lanes.candidateCount[h] = head.candidateCount;
        for (std::uint32_t k = 0; k < head.candidateCount; ++k) {
            const NearestCandidate& candidate = head.candidates[k];
            lanes.candidateA[next + k] = candidate.colour.a;
            lanes.candidateR[next + k] = candidate.colour.r;
            lanes.candidateG[next + k] = candidate.colour.g;
            lanes.candidateB[next + k] = candidate.colour.b;
            lanes.candidateEntry[next + k] = candidate.entryIndex;
            lanes.boundedCandidates = lanes.boundedCandidates && WithinLaneBound(candidate.colour.a) &&
                                      WithinLaneBound(candidate.colour.r) &&
                                      WithinLaneBound(candidate.colour.g) &&
                                      WithinLaneBound(candidate.colour.b);
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
        next += RoundUpToStopBlock(head.candidateCount);
    }
    lanes.width = VectorWidthInUse;
    NearestLanesView& view = lanes.view;
    view.headA = lanes.headA.data();
    view.headR = lanes.headR.data();
    view.headG = lanes.headG.data();
    view.headB = lanes.headB.data();
    view.headRadius = lanes.headRadius.data();
    view.headLanes = heads;
    view.candidateA = lanes.candidateA.data();
    view.candidateR = lanes.candidateR.data();
    view.candidateG = lanes.candidateG.data();
    view.candidateB = lanes.candidateB.data();
    view.candidateReach = lanes.candidateReach.data();
    view.candidateEntry = lanes.candidateEntry.data();
    view.firstCandidate = lanes.firstCandidate.data();
    view.candidateCount = lanes.candidateCount.data();
    view.boundedCandidates = lanes.boundedCandidates;
    view.scales = index.scales;
    return lanes;
}

#if defined(__SSE2__)
namespace {

// The checked scan for what FindTameNearest leaves: per lane the first strictly lowest score and
// where it was, and the earliest of the lanes' minima is then the plain scan's answer. False when
// the plain search must answer (a NaN score).
template <bool Scaled>
bool FindNearestChecked(const NearestLanes& lanes, const FloatPixel& colour, float minOpacity,
                        float* difference, std::uint32_t& answer)
{
    using V = Sse2Lanes;
    const NearestLanesView& view = lanes.view;
    const QueryVectors<V> query = BroadcastQuery<V>(colour, view.scales);
    for (std::size_t h = 0; h < view.headLanes; h += 4) {
        const __m128 d =
            Differences<V, Scaled>(query, view.headA + h, view.headR + h, view.headG + h, view.headB + h);
        const unsigned accepts = V::LessEqualBits(d, V::Load(view.headRadius + h));
        if (accepts == 0)
            continue;
        const std::size_t chosen = h + unsigned(__builtin_ctz(accepts));
        const std::uint32_t count = view.candidateCount[chosen];
        if (count == 0) {
            answer = 0;
            return true;
        }
        const __m128 penalty = _mm_set1_ps(colour.a > minOpacity ? OpacityPenalty : 0.0f);
        const std::size_t first = view.firstCandidate[chosen];
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
        __m128 bestScores = infinity;
        __m128i bestPositions = _mm_setzero_si128();
        __m128i positions = _mm_setr_epi32(0, 1, 2, 3);
        __m128 unordered = _mm_setzero_ps();
        for (std::uint32_t k = 0; k < count; k += 4) {
            const std::size_t at = first + k;
            __m128 scores = Differences<V, Scaled>(query, view.candidateA + at, view.candidateR + at,
                                                   view.candidateG + at, view.candidateB + at);
            scores = _mm_add_ps(scores, V::WhereLess(V::Load(view.candidateA + at), one, penalty));
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
        if (_mm_movemask_ps(unordered) != 0)
            return false;
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
        answer = view.candidateEntry[first + best];
        return true;
    }
    answer = 0;
    return true;
}

// The query at the lanes' width; false when the plain search must answer. Inlined, so that the
// even metric's queries pay nothing for the choice.
template <bool Scaled>
[[gnu::always_inline]] inline bool FindNearestVector(const NearestLanes& lanes, const FloatPixel& colour,
                                                     float minOpacity, float* difference,
                                                     std::uint32_t& answer)
{
    bool answered = false;
#if defined(TESSALINE_WIDE_VECTORS)
    switch (lanes.width) {
    case VectorWidth::Avx512:
        answered = FindTameNearestAvx512(lanes.view, Scaled, colour, minOpacity, difference, answer);
        break;
    case VectorWidth::Avx2:
        answered = FindTameNearestAvx2(lanes.view, Scaled, colour, minOpacity, difference, answer);
        break;
    case VectorWidth::Sse2:
        answered = FindTameNearest<Sse2Lanes, Scaled>(lanes.view, colour, minOpacity, difference, answer);
        break;
    }
#else
    answered = FindTameNearest<Sse2Lanes, Scaled>(lanes.view, colour, minOpacity, difference, answer);
#endif
    return answered || FindNearestChecked<Scaled>(lanes, colour, minOpacity, difference, answer);
}

} // namespace
#endif

std::uint32_t FindNearestLanes(const NearestLanes& lanes, const FloatPixel& colour, float minOpacity,
                               float* difference)
{
#if defined(__SSE2__)
    if (ProcessorHasSse2) {
        std::uint32_t answer = 0;
        const bool answered = lanes.scaled
                                  ? FindNearestVector<true>(lanes, colour, minOpacity, difference, answer)
                                  : FindNearestVector<false>(lanes, colour, minOpacity, difference, answer);
        if (answered)
            return answer;
    }
#endif
    return FindNearest(*lanes.index, colour, minOpacity, difference);
}

} // namespace tessaline
