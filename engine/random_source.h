#pragma once
// engine/random_source.h: the engine's random numbers, the published 32-bit Mersenne Twister
// (MT19937). Each reduction draws from a RandomSource of its own, seeded by the stage that uses
// it, so reductions running side by side (tessaline-cli -j) neither share nor disturb a
// generator and give the bytes they give alone.

#include <cstdint>
#include <random>

namespace tessaline {

/// One generator, for one reduction's use on one thread at a time.
class RandomSource
{
public:
    /// Starts from `seed` by the standard MT19937 seeding (5489 is the standard default seed).
    explicit RandomSource(std::uint32_t seed = 5489) : generator(seed) {}

    /// The next 32-bit value.
    std::uint32_t Next() { return static_cast<std::uint32_t>(generator()); }

private:
    std::mt19937 generator; // exactly the published generator
};

/// Restarts the calling thread's generator from `seed`. Each thread has its own, so a caller on
/// one thread never sees another thread's draws.
void SeedRandomSource(std::uint32_t seed);

/// The next 32-bit value of the calling thread's generator; one never seeded starts from 5489.
std::uint32_t NextRandom();

} // namespace tessaline
