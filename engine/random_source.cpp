#include "engine/random_source.h"

namespace tessaline {
namespace {

RandomSource& ThreadSource()
{
    thread_local RandomSource source;
    return source;
}

} // namespace

void SeedRandomSource(std::uint32_t seed)
{
    ThreadSource() = RandomSource(seed);
}

std::uint32_t NextRandom()
{
    return ThreadSource().Next();
}

} // namespace tessaline
