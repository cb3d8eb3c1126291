#pragma once
// engine/nearest_index.h: a read-only index over a palette answering "which entry is nearest?" by a
// short list of heads; a query is served by the first head whose radius holds it. The index copies
// the colours it needs; once built, any number of threads may query it.

#include <cstdint>
#include <memory>

#include "engine/colour_model.h"

namespace tessaline {

struct NearestCandidate
{
    FloatPixel colour;
    std::uint32_t entryIndex = 0;
};

struct NearestHead
{
    FloatPixel centre;
    float radius = 0.0f;
    std::uint32_t candidateCount = 0;
    std::unique_ptr<NearestCandidate[]> candidates; ///< nearest to the centre first
};

struct NearestIndex
{
    std::unique_ptr<NearestHead[]> heads; ///< search order; the last is the catch-all
    std::uint32_t headCount = 0;
    ChannelScales scales; ///< the palette's: the metric of every comparison here
};

/// The palette must hold at least one entry. Throws std::bad_alloc.
NearestIndex BuildNearestIndex(const Palette& palette);

/// The palette index chosen for `colour`; when `difference` is given it receives the deciding
/// score (including the 1/1024 opacity penalty when it applied). Read-only, thread-safe.
std::uint32_t FindNearest(const NearestIndex& index, const FloatPixel& colour, float minOpacity,
                          float* difference);

/// What FindNearest approximates: the entry of `palette` (its colours as they are now) with the
/// lowest score, every entry scored as a head scores its candidates (the opacity penalty included);
/// the first of equal scores wins. The palette must hold at least one entry. Read-only.
std::uint32_t FindNearestOfAll(const Palette& palette, const FloatPixel& colour, float minOpacity,
                               float* difference);

void ReleaseNearestIndex(NearestIndex& index);

} // namespace tessaline
