#pragma once
// engine/float_map.h: per-pixel float maps (contrast, dither, scratch), width * height floats row by
// row, 16-byte aligned so vector loops may use aligned loads.

#include <cstddef>
#include <memory>
#include <new>

namespace tessaline {

inline constexpr std::size_t FloatMapAlignment = 16;

struct AlignedFloatFree
{
    void operator()(float* p) const noexcept { ::operator delete[](p, std::align_val_t{FloatMapAlignment}); }
};

/// Owns one aligned float map; null when absent.
using FloatMap = std::unique_ptr<float[], AlignedFloatFree>;

/// An uninitialised map of `count` floats. Throws std::bad_alloc.
inline FloatMap AllocateFloatMap(std::size_t count)
{
    if (count > static_cast<std::size_t>(-1) / sizeof(float))
        throw std::bad_alloc();
    void* raw = ::operator new[](count * sizeof(float), std::align_val_t{FloatMapAlignment});
    return FloatMap(static_cast<float*>(raw));
}

} // namespace tessaline
