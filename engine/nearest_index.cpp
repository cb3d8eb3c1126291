#include "engine/nearest_index.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

namespace tessaline {
namespace {

// A query more opaque than minOpacity pays this much for a translucent candidate, so that an opaque
// entry about as close wins.
constexpr float OpacityPenalty = 1.0f / 1024.0f;

// Catch-all radius: every finite difference lies inside it.
constexpr float CatchAllRadius = 1e20f;

struct Distance
{
    float difference;
    std::uint32_t entry;
};

// Fills `head` with up to `budget` unclaimed entries nearest to `centre` and claims those well inside
// its radius. Returns the number of candidates it got.
std::uint32_t BuildHead(NearestHead& head, const FloatPixel& centre, std::uint32_t budget,
                        const Palette& palette, std::vector<std::uint8_t>& used, std::uint32_t& usedCount,
                        std::vector<Distance>& scratch)
{
    scratch.clear();
    for (std::uint32_t j = 0; j < palette.count; ++j) {
        if (!used[j])
            scratch.push_back({ColourDifference(centre, palette[j].colour), j});
    }
    const std::uint32_t kept = std::min<std::uint32_t>(budget, static_cast<std::uint32_t>(scratch.size()));
    head.centre = centre;
    head.candidateCount = kept;
    if (kept == 0) {
        head.radius = 0.0f;
        return 0;
    }
    // Only the kept prefix needs to be in order. Ties go to the lower palette index, so a build is
    // repeatable.
    std::partial_sort(
        scratch.begin(), scratch.begin() + kept, scratch.end(), [](const Distance& x, const Distance& y) {
            return x.difference < y.difference || (x.difference == y.difference && x.entry < y.entry);
        });
    head.candidates = std::make_unique<NearestCandidate[]>(kept);
    head.radius = scratch[kept - 1].difference * 0.25f;
    // An entry this close to the centre is served by this head for every query the head accepts, so
    // no later head needs it. The farthest candidate never passes this test.
    const float claimBelow = head.radius * 0.25f - 1.0f / 256.0f;
    for (std::uint32_t k = 0; k < kept; ++k) {
        const std::uint32_t j = scratch[k].entry;
        head.candidates[k].colour = palette[j].colour;
        head.candidates[k].entryIndex = j;
        if (scratch[k].difference < claimBelow) {
            used[j] = 1;
            ++usedCount;
        }
    }
    return kept;
}

} // namespace

NearestIndex BuildNearestIndex(const Palette& palette)
{
    const PaletteSubset centres = CreatePaletteSubset(palette);
    const std::uint32_t centreCount = centres.palette->count;

    NearestIndex index;
    index.heads = std::make_unique<NearestHead[]>(std::size_t{centreCount} + 1);

    std::vector<std::uint8_t> used(palette.count, 0);
    std::uint32_t usedCount = 0;
    std::vector<Distance> scratch;
    scratch.reserve(palette.count);

    std::uint32_t position = 0;
    for (; position < centreCount; ++position) {
        // Spread what is still unclaimed over half the heads that remain, plus one.
        const std::uint32_t budget = (palette.count - usedCount) / ((centreCount - position + 1) / 2) + 1;
        const FloatPixel centre = (*centres.palette)[position].colour;
        if (BuildHead(index.heads[position], centre, budget, palette, used, usedCount, scratch) == 0)
            break; // nothing left to serve: this position becomes the catch-all
    }

    NearestHead& catchAll = index.heads[position];
    catchAll.centre = FloatPixel{};
    catchAll.radius = CatchAllRadius;
    catchAll.candidateCount = palette.count - usedCount;
    catchAll.candidates = std::make_unique<NearestCandidate[]>(catchAll.candidateCount);
    std::uint32_t k = 0;
    for (std::uint32_t j = 0; j < palette.count; ++j) {
        if (!used[j])
            catchAll.candidates[k++] = NearestCandidate{palette[j].colour, j};
    }
    index.headCount = position + 1;
    return index;
}

namespace {

inline float Score(const FloatPixel& query, const FloatPixel& candidate, bool opaqueQuery)
{
    float score = ColourDifference(query, candidate);
    if (opaqueQuery && candidate.a < 1.0f)
        score += OpacityPenalty;
    return score;
}

// The plain search, one ColourDifference per head and candidate.
std::uint32_t FindNearestScalar(const NearestIndex& index, const FloatPixel& colour, bool opaqueQuery,
                                float* difference)
{
    for (std::uint32_t h = 0; h < index.headCount; ++h) {
        const NearestHead& head = index.heads[h];
        if (!(ColourDifference(colour, head.centre) <= head.radius))
            continue;
        // An empty catch-all (a palette without entries) answers like no head at all.
        if (head.candidateCount == 0)
            return 0;
        std::uint32_t best = 0;
        float bestScore = Score(colour, head.candidates[0].colour, opaqueQuery);
        for (std::uint32_t k = 1; k < head.candidateCount; ++k) {
            const float score = Score(colour, head.candidates[k].colour, opaqueQuery);
            // Strictly lower only: of equal scores the earlier candidate stays.
            if (score < bestScore) {
                bestScore = score;
                best = k;
            }
        }
        if (difference)
            *difference = bestScore;
        return head.candidates[best].entryIndex;
    }
    return 0;
}

#if defined(__SSE2__)
// The query broadcast channel by channel, for comparing it with four colours at once.
struct QueryLanes
{
    __m128 a, r, g, b;
};

// ColourDifference(query, c_i) for four colours, with the very operations of the single-colour
// vector form in the same order, so each lane is bit for bit what it would give. `alpha` receives
// the four colours' alphas.
inline __m128 FourDifferences(const QueryLanes& q, const float* c0, const float* c1, const float* c2,
                              const float* c3, __m128& alpha)
{
    __m128 a = _mm_loadu_ps(c0), r = _mm_loadu_ps(c1), g = _mm_loadu_ps(c2), b = _mm_loadu_ps(c3);
    _MM_TRANSPOSE4_PS(a, r, g, b);
    alpha = a;
    const __m128 alphas = _mm_sub_ps(a, q.a);
    const auto term = [alphas](__m128 queryChannel, __m128 channel) {
        const __m128 black = _mm_sub_ps(queryChannel, channel);
        const __m128 white = _mm_add_ps(black, alphas);
        return _mm_max_ps(_mm_mul_ps(black, black), _mm_mul_ps(white, white));
    };
    return _mm_add_ps(_mm_add_ps(term(q.r, r), term(q.g, g)), term(q.b, b));
}

// The same search, four heads or four candidates per step; the answers and differences are those
// of the plain search in vector mode.
std::uint32_t FindNearestSse2(const NearestIndex& index, const FloatPixel& colour, bool opaqueQuery,
                              float* difference)
{
    const QueryLanes q{_mm_set1_ps(colour.a), _mm_set1_ps(colour.r), _mm_set1_ps(colour.g),
                       _mm_set1_ps(colour.b)};
    const NearestHead* heads = index.heads.get();
    const std::uint32_t headCount = index.headCount;
    std::uint32_t h = 0;
    bool accepted = false;
    __m128 unused;
    for (; h + 4 <= headCount; h += 4) {
        const __m128 d = FourDifferences(q, &heads[h].centre.a, &heads[h + 1].centre.a,
                                         &heads[h + 2].centre.a, &heads[h + 3].centre.a, unused);
        const __m128 radii =
            _mm_setr_ps(heads[h].radius, heads[h + 1].radius, heads[h + 2].radius, heads[h + 3].radius);
        const int inside = _mm_movemask_ps(_mm_cmple_ps(d, radii));
        if (inside) {
            h += static_cast<std::uint32_t>(__builtin_ctz(static_cast<unsigned>(inside)));
            accepted = true;
            break;
        }
    }
    if (!accepted) {
        while (h < headCount && !(ColourDifference(colour, heads[h].centre) <= heads[h].radius))
            ++h;
        accepted = h < headCount;
    }
    if (!accepted)
        return 0;

    const NearestHead& head = heads[h];
    if (head.candidateCount == 0)
        return 0;
    const NearestCandidate* candidates = head.candidates.get();
    const std::uint32_t count = head.candidateCount;
    std::uint32_t best = 0;
    float bestScore = Score(colour, candidates[0].colour, opaqueQuery);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 penalty = _mm_set1_ps(opaqueQuery ? OpacityPenalty : 0.0f);
    std::uint32_t k = 1;
    for (; k + 4 <= count; k += 4) {
        __m128 alpha;
        __m128 scores = FourDifferences(q, &candidates[k].colour.a, &candidates[k + 1].colour.a,
                                        &candidates[k + 2].colour.a, &candidates[k + 3].colour.a, alpha);
        // Adding +0 where no penalty applies leaves a non-negative score unchanged.
        scores = _mm_add_ps(scores, _mm_and_ps(_mm_cmplt_ps(alpha, one), penalty));
        if (!_mm_movemask_ps(_mm_cmplt_ps(scores, _mm_set1_ps(bestScore))))
            continue;
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, scores);
        for (std::uint32_t lane = 0; lane < 4; ++lane) {
            // Strictly lower only: of equal scores the earlier candidate stays.
            if (lanes[lane] < bestScore) {
                bestScore = lanes[lane];
                best = k + lane;
            }
        }
    }
    for (; k < count; ++k) {
        const float score = Score(colour, candidates[k].colour, opaqueQuery);
        if (score < bestScore) {
            bestScore = score;
            best = k;
        }
    }
    if (difference)
        *difference = bestScore;
    return candidates[best].entryIndex;
}
#endif

} // namespace

std::uint32_t FindNearest(const NearestIndex& index, const FloatPixel& colour, float minOpacity,
                          float* difference)
{
    const bool opaqueQuery = colour.a > minOpacity;
#if defined(__SSE2__)
    if (ProcessorHasSse2)
        return FindNearestSse2(index, colour, opaqueQuery, difference);
#endif
    return FindNearestScalar(index, colour, opaqueQuery, difference);
}

void ReleaseNearestIndex(NearestIndex& index)
{
    index.heads.reset();
    index.headCount = 0;
}

} // namespace tessaline
