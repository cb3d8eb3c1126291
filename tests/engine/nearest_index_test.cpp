#include "engine/nearest_index.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/parallel.h"
#include "tests/engine/palette_test_data.h"

namespace tessaline {
namespace {

using testing::RandomColour;
using testing::RandomPalette;
using testing::Sse2Scope;

constexpr float Penalty = 1.0f / 1024.0f;

float Score(const FloatPixel& query, const FloatPixel& candidate, float minOpacity)
{
    float score = ColourDifference(query, candidate);
    if (query.a > minOpacity && candidate.a < 1.0f)
        score += Penalty;
    return score;
}

// The first head whose radius holds the query, found independently of FindNearest.
const NearestHead* AcceptingHead(const NearestIndex& index, const FloatPixel& query)
{
    for (std::uint32_t h = 0; h < index.headCount; ++h) {
        if (ColourDifference(query, index.heads[h].centre) <= index.heads[h].radius)
            return &index.heads[h];
    }
    return nullptr;
}

// Checks the answer is a best-scoring candidate of the accepting head, the earliest of equals, and
// that the reported difference is its score. Returns the chosen score.
float ExpectHeadRule(const NearestIndex& index, const Palette& palette, const FloatPixel& query,
                     float minOpacity)
{
    float difference = -1.0f;
    const std::uint32_t chosen = FindNearest(index, query, minOpacity, &difference);
    const NearestHead* head = AcceptingHead(index, query);
    EXPECT_NE(head, nullptr);
    if (!head)
        return difference;
    const float chosenScore = Score(query, palette[chosen].colour, minOpacity);
    EXPECT_EQ(difference, chosenScore);
    bool seen = false;
    for (std::uint32_t k = 0; k < head->candidateCount; ++k) {
        const NearestCandidate& candidate = head->candidates[k];
        if (candidate.entryIndex == chosen) {
            seen = true;
            break;
        }
        // Every earlier candidate must score strictly worse, or it would have been kept.
        EXPECT_GT(Score(query, candidate.colour, minOpacity), chosenScore);
    }
    EXPECT_TRUE(seen) << "the answer is not a candidate of the accepting head";
    for (std::uint32_t k = 0; k < head->candidateCount; ++k)
        EXPECT_LE(chosenScore, Score(query, head->candidates[k].colour, minOpacity));
    return chosenScore;
}

template <typename Check> void ForBothPaths(Check check)
{
    for (bool sse2 : {false, true}) {
        SCOPED_TRACE(sse2 ? "SSE2" : "scalar");
        Sse2Scope scope(sse2);
        check();
    }
}

TEST(NearestIndexTest, OneEntryPaletteGivesTwoHeadsAndAlwaysAnswersZero)
{
    ForBothPaths([] {
        Palette palette = CreatePalette(1);
        palette[0].colour = testing::Straight(1.0f, 0.2f, 0.4f, 0.6f);
        NearestIndex index = BuildNearestIndex(palette);
        ASSERT_EQ(index.headCount, 2u);
        EXPECT_EQ(index.heads[0].radius, 0.0f);
        ASSERT_EQ(index.heads[0].candidateCount, 1u);
        EXPECT_EQ(index.heads[0].candidates[0].entryIndex, 0u);
        EXPECT_EQ(index.heads[1].radius, 1e20f);
        ASSERT_EQ(index.heads[1].candidateCount, 1u);
        EXPECT_EQ(index.heads[1].candidates[0].entryIndex, 0u);

        std::mt19937 random(7);
        for (int i = 0; i < 200; ++i) {
            const FloatPixel query = RandomColour(random);
            float difference = -1.0f;
            EXPECT_EQ(FindNearest(index, query, 1.0f, &difference), 0u);
            EXPECT_EQ(difference, Score(query, palette[0].colour, 1.0f));
        }
        // The entry itself is answered by head 0 with no difference.
        float difference = -1.0f;
        EXPECT_EQ(FindNearest(index, palette[0].colour, 1.0f, &difference), 0u);
        EXPECT_EQ(difference, 0.0f);
        ReleaseNearestIndex(index);
        EXPECT_EQ(index.headCount, 0u);
    });
}

TEST(NearestIndexTest, AttachedSubsetSuppliesTheCentres)
{
    ForBothPaths([] {
        Palette palette = RandomPalette(256, 11);
        palette.subset = std::make_unique<Palette>(RandomPalette(49, 12));
        NearestIndex index = BuildNearestIndex(palette);
        ASSERT_GE(index.headCount, 2u);
        ASSERT_LE(index.headCount, 50u);
        // Head 0 may hold at most 256 / ((49 + 1) / 2) + 1 = 11 candidates, and gets them all.
        EXPECT_EQ(index.heads[0].candidateCount, 11u);
        for (std::uint32_t h = 0; h + 1 < index.headCount; ++h) {
            const FloatPixel& centre = index.heads[h].centre;
            const FloatPixel& expected = (*palette.subset)[h].colour;
            EXPECT_EQ(centre.a, expected.a);
            EXPECT_EQ(centre.r, expected.r);
            EXPECT_EQ(centre.g, expected.g);
            EXPECT_EQ(centre.b, expected.b);
        }
        EXPECT_EQ(index.heads[index.headCount - 1].radius, 1e20f);
        EXPECT_EQ(palette.subset->count, 49u) << "the build must leave the palette's own subset alone";
    });
}

TEST(NearestIndexTest, WithoutSubsetTheFirstQuarterOfThePaletteAreTheCentres)
{
    Palette palette = RandomPalette(20, 3);
    NearestIndex index = BuildNearestIndex(palette);
    ASSERT_EQ(index.headCount, 6u); // (20 + 3) / 4 = 5 heads and the catch-all
    for (std::uint32_t h = 0; h < 5; ++h) {
        EXPECT_EQ(index.heads[h].centre.r, palette[h].colour.r);
        EXPECT_EQ(index.heads[h].centre.a, palette[h].colour.a);
    }
}

TEST(NearestIndexTest, HeadsAreSortedAndClaimedEntriesAppearInNoLaterHead)
{
    ForBothPaths([] {
        // Centres taken from the palette itself: each centre lies on an entry, so heads claim.
        Palette palette = RandomPalette(256, 21, 0);
        palette.subset = std::make_unique<Palette>(CreatePalette(49));
        for (std::uint32_t i = 0; i < 49; ++i)
            (*palette.subset)[i] = palette[i * 5];
        NearestIndex index = BuildNearestIndex(palette);

        std::set<std::uint32_t> claimed;
        std::vector<int> appearances(palette.count, 0);
        for (std::uint32_t h = 0; h < index.headCount; ++h) {
            const NearestHead& head = index.heads[h];
            ASSERT_GT(head.candidateCount, 0u);
            const bool catchAll = h + 1 == index.headCount;
            float previous = -1.0f;
            for (std::uint32_t k = 0; k < head.candidateCount; ++k) {
                const std::uint32_t entry = head.candidates[k].entryIndex;
                ASSERT_LT(entry, palette.count);
                EXPECT_EQ(claimed.count(entry), 0u)
                    << "claimed entry " << entry << " reappears in head " << h;
                ++appearances[entry];
                if (!catchAll) {
                    const float d = ColourDifference(head.centre, head.candidates[k].colour);
                    EXPECT_GE(d, previous);
                    previous = d;
                } else if (k > 0) {
                    EXPECT_LT(head.candidates[k - 1].entryIndex, entry);
                }
            }
            if (catchAll)
                continue;
            EXPECT_EQ(head.radius, previous * 0.25f);
            for (std::uint32_t k = 0; k < head.candidateCount; ++k) {
                const float d = ColourDifference(head.centre, head.candidates[k].colour);
                if (d < head.radius * 0.25f - 1.0f / 256.0f)
                    claimed.insert(head.candidates[k].entryIndex);
            }
            // The farthest candidate is never claimed by its own head.
            EXPECT_EQ(claimed.count(head.candidates[head.candidateCount - 1].entryIndex), 0u);
        }
        EXPECT_FALSE(claimed.empty()) << "the palette was meant to make heads claim entries";
        // Every entry stays reachable: it appears in some head.
        for (std::uint32_t j = 0; j < palette.count; ++j)
            EXPECT_GT(appearances[j], 0) << "entry " << j;
    });
}

// Entries of exactly representable colours, so that both paths give exact, equal differences.
TEST(NearestIndexTest, OpacityPenaltyBreaksATieTowardsTheOpaqueEntry)
{
    ForBothPaths([] {
        const FloatPixel query{1.0f, 0.5f, 0.5f, 0.5f};
        Palette palette = CreatePalette(2);
        palette[0].colour = FloatPixel{0.875f, 0.375f, 0.375f, 0.375f}; // translucent
        palette[1].colour = FloatPixel{1.0f, 0.375f, 0.375f, 0.375f};   // opaque
        ASSERT_EQ(ColourDifference(query, palette[0].colour), ColourDifference(query, palette[1].colour));
        NearestIndex index = BuildNearestIndex(palette);

        float difference = 0.0f;
        EXPECT_EQ(FindNearest(index, query, 0.5f, &difference), 1u);
        EXPECT_EQ(difference, 0.046875f);
        // At or below minOpacity nobody pays: the tie goes to the earlier candidate.
        EXPECT_EQ(FindNearest(index, query, 1.0f, &difference), 0u);
        EXPECT_EQ(difference, 0.046875f);
        // The penalty is part of the reported difference when the translucent entry wins anyway.
        const FloatPixel nearTranslucent{1.0f, 0.375f, 0.375f, 0.375f};
        Palette one = CreatePalette(1);
        one[0].colour = palette[0].colour;
        NearestIndex oneIndex = BuildNearestIndex(one);
        EXPECT_EQ(FindNearest(oneIndex, nearTranslucent, 0.5f, &difference), 0u);
        EXPECT_EQ(difference, ColourDifference(nearTranslucent, one[0].colour) + Penalty);
    });
}

TEST(NearestIndexTest, EqualScoresGoToTheEarlierCandidate)
{
    ForBothPaths([] {
        const FloatPixel query{1.0f, 0.5f, 0.5f, 0.5f};
        Palette palette = CreatePalette(3);
        palette[0].colour = FloatPixel{1.0f, 0.0f, 1.0f, 0.0f}; // far from both, centre of head 0
        palette[1].colour = FloatPixel{1.0f, 0.625f, 0.625f, 0.625f};
        palette[2].colour = FloatPixel{1.0f, 0.375f, 0.375f, 0.375f};
        NearestIndex index = BuildNearestIndex(palette);
        const NearestHead* head = AcceptingHead(index, query);
        ASSERT_NE(head, nullptr);
        std::uint32_t firstOfTie = 0;
        for (std::uint32_t k = 0; k < head->candidateCount; ++k) {
            const std::uint32_t entry = head->candidates[k].entryIndex;
            if (entry == 1 || entry == 2) {
                firstOfTie = entry;
                break;
            }
        }
        ASSERT_NE(firstOfTie, 0u);
        EXPECT_EQ(FindNearest(index, query, 1.0f, nullptr), firstOfTie);
        ExpectHeadRule(index, palette, query, 1.0f);
    });
}

TEST(NearestIndexTest, AmongManyEqualEntriesTheFirstWins)
{
    ForBothPaths([] {
        // Sixteen copies of one colour: every head holds ties in every block of four candidates.
        Palette palette = CreatePalette(16);
        for (std::uint32_t i = 0; i < palette.count; ++i)
            palette[i].colour = FloatPixel{1.0f, 0.25f, 0.5f, 0.75f};
        palette[5].colour = FloatPixel{1.0f, 0.9f, 0.1f, 0.1f};
        NearestIndex index = BuildNearestIndex(palette);
        float difference = -1.0f;
        EXPECT_EQ(FindNearest(index, palette[0].colour, 1.0f, &difference), 0u);
        EXPECT_EQ(difference, 0.0f);
        const FloatPixel elsewhere{1.0f, 0.3f, 0.5f, 0.7f};
        EXPECT_EQ(FindNearest(index, elsewhere, 1.0f, &difference), 0u);
        EXPECT_EQ(FindNearest(index, palette[5].colour, 1.0f, &difference), 5u);
        ExpectHeadRule(index, palette, elsewhere, 1.0f);
    });
}

TEST(NearestIndexTest, AnswersFollowTheHeadRuleAndMostlyMatchAnExhaustiveSearch)
{
    ForBothPaths([] {
        for (std::uint32_t count : {2u, 7u, 64u, 200u, 256u}) {
            SCOPED_TRACE(count);
            Palette palette = RandomPalette(count, 100 + count);
            if (count >= 64) {
                palette.subset = std::make_unique<Palette>(CreatePalette(count / 5));
                for (std::uint32_t i = 0; i < palette.subset->count; ++i)
                    (*palette.subset)[i] = palette[(i * 37) % count];
            }
            NearestIndex index = BuildNearestIndex(palette);
            std::mt19937 random(count);
            int exact = 0;
            const int queries = 2000;
            for (int i = 0; i < queries; ++i) {
                const FloatPixel query = RandomColour(random);
                const float minOpacity = (i % 3 == 0) ? 0.5f : 1.0f;
                const float chosen = ExpectHeadRule(index, palette, query, minOpacity);
                float best = Score(query, palette[0].colour, minOpacity);
                for (std::uint32_t j = 1; j < count; ++j)
                    best = std::min(best, Score(query, palette[j].colour, minOpacity));
                EXPECT_GE(chosen, best);
                exact += chosen == best;
            }
            EXPECT_GE(exact, queries * 8 / 10) << "the heads miss the true nearest entry too often";
        }
    });
}

TEST(NearestIndexTest, ConcurrentQueriesMatchSerialOnes)
{
    Palette palette = RandomPalette(256, 5);
    NearestIndex index = BuildNearestIndex(palette);
    std::mt19937 random(99);
    std::vector<FloatPixel> queries(20000);
    for (FloatPixel& q : queries)
        q = RandomColour(random);
    std::vector<std::uint32_t> serial(queries.size()), parallel(queries.size());
    std::vector<float> serialDiff(queries.size()), parallelDiff(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i)
        serial[i] = FindNearest(index, queries[i], 0.5f, &serialDiff[i]);
    const std::int64_t n = static_cast<std::int64_t>(queries.size());
#pragma omp parallel for schedule(static)
    for (std::int64_t i = 0; i < n; ++i)
        parallel[i] = FindNearest(index, queries[i], 0.5f, &parallelDiff[i]);
    EXPECT_EQ(serial, parallel);
    EXPECT_EQ(serialDiff, parallelDiff);
}

TEST(NearestIndexTest, BadQueriesAndPalettesAnswerZeroWithoutTouchingTheDifference)
{
    // A NaN colour lies inside no radius.
    Palette palette = RandomPalette(16, 8);
    NearestIndex index = BuildNearestIndex(palette);
    float difference = 123.0f;
    const FloatPixel nan{1.0f, std::nanf(""), std::nanf(""), std::nanf("")};
    EXPECT_EQ(FindNearest(index, nan, 1.0f, &difference), 0u);
    EXPECT_EQ(difference, 123.0f);

    // An empty palette gives an empty catch-all, not a read past the end.
    Palette empty = CreatePalette(0);
    NearestIndex emptyIndex = BuildNearestIndex(empty);
    EXPECT_EQ(emptyIndex.headCount, 1u);
    EXPECT_EQ(FindNearest(emptyIndex, FloatPixel{1.0f, 0.5f, 0.5f, 0.5f}, 1.0f, &difference), 0u);
    EXPECT_EQ(difference, 123.0f);
}

} // namespace
} // namespace tessaline
