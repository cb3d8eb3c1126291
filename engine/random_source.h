#pragma once
// engine/random_source.h: the engine's one random source, the published 32-bit Mersenne Twister
// (MT19937), shared by the whole process. It has no lock: only the dithered remap draws from it, and
// one reduction runs at a time. Callers that need repeatable output seed it before drawing.

#include <cstdint>

namespace tessaline {

/// Restarts the generator from `seed` by the standard MT19937 seeding.
void SeedRandomSource(std::uint32_t seed);

/// The next 32-bit value. A generator never seeded starts from the standard seed 5489.
std::uint32_t NextRandom();

} // namespace tessaline
