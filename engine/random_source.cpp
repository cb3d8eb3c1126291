#include "engine/random_source.h"

#include <random>

namespace tessaline {
namespace {

// std::mt19937 is exactly the published generator, and a default-constructed one is seeded with 5489.
std::mt19937& Generator()
{
    static std::mt19937 generator;
    return generator;
}

} // namespace

void SeedRandomSource(std::uint32_t seed)
{
    Generator().seed(seed);
}

std::uint32_t NextRandom()
{
    return static_cast<std::uint32_t>(Generator()());
}

} // namespace tessaline
