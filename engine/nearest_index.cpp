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
            scratch.push_back({ColourDifference(centre, palette[j].colour, palette.scales), j});
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
    index.scales = palette.scales;

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

inline float Score(const FloatPixel& query, const FloatPixel& candidate, bool opaqueQuery,
                   const ChannelScales& scales)
{
    float score = ColourDifference(query, candidate, scales);
    if (opaqueQuery && candidate.a < 1.0f)
        score += OpacityPenalty;
    return score;
}

// One ColourDifference per head and candidate. The hot callers query the lane copy of the index
// (nearest_lanes.h), which gives these answers four comparisons at a time.
std::uint32_t FindNearestPlain(const NearestIndex& index, const FloatPixel& colour, bool opaqueQuery,
                                float* difference)
{
    for (std::uint32_t h = 0; h < index.headCount; ++h) {
        const NearestHead& head = index.heads[h];
        if (!(ColourDifference(colour, head.centre, index.scales) <= head.radius))
            continue;
        // An empty catch-all (a palette without entries) answers like no head at all.
        if (head.candidateCount == 0)
            return 0;
        std::uint32_t best = 0;
        float bestScore = Score(colour, head.candidates[0].colour, opaqueQuery, index.scales);
        for (std::uint32_t k = 1; k < head.candidateCount; ++k) {
            const float score = Score(colour, head.candidates[k].colour, opaqueQuery, index.scales);
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

} // namespace

std::uint32_t FindNearest(const NearestIndex& index, const FloatPixel& colour, float minOpacity,
                          float* difference)
{
    return FindNearestPlain(index, colour, colour.a > minOpacity, difference);
}

std::uint32_t FindNearestOfAll(const Palette& palette, const FloatPixel& colour, float minOpacity,
                               float* difference)
{
    const bool opaqueQuery = colour.a > minOpacity;
    std::uint32_t best = 0;
    float bestScore = Score(colour, palette[0].colour, opaqueQuery, palette.scales);
    for (std::uint32_t i = 1; i < palette.count; ++i) {
        const float score = Score(colour, palette[i].colour, opaqueQuery, palette.scales);
        if (score < bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (difference)
        *difference = bestScore;
    return best;
}

void ReleaseNearestIndex(NearestIndex& index)
{
    index.heads.reset();
    index.headCount = 0;
}

} // namespace tessaline
