// engine/nearest_lanes_avx512.cpp: the tame query of NearestLanes sixteen floats at a time, a whole
// block of candidates per operation. Built with AVX-512 enabled (and nothing that fuses a multiply
// with an add), so it runs only where the processor has AVX-512; nothing in it may call a function
// shared with the rest of the build.

#include "engine/nearest_lanes_scan.h"

#if defined(TESSALINE_WIDE_VECTORS) && defined(__AVX512F__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 headers pass a deliberately undefined vector as the unused source of their
// maximum, minimum and extraction, which its own analysis then reports as maybe uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace tessaline {
namespace {

struct Avx512Lanes
{
    using F = __m512;
    static constexpr std::uint32_t Width = 16;
    static F Set1(float x) { return _mm512_set1_ps(x); }
    static F Load(const float* p) { return _mm512_loadu_ps(p); }
    static void Store(float* p, F x) { _mm512_storeu_ps(p, x); }
    static F Add(F x, F y) { return _mm512_add_ps(x, y); }
    static F Sub(F x, F y) { return _mm512_sub_ps(x, y); }
    static F Mul(F x, F y) { return _mm512_mul_ps(x, y); }
    static F Max(F x, F y) { return _mm512_max_ps(x, y); }
    static F Min(F x, F y) { return _mm512_min_ps(x, y); }
    static float MaxScalar(float x, float y)
    {
        return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(x), _mm_set_ss(y)));
    }
    static F WhereLess(F x, F y, F value)
    {
        return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(x, y, _CMP_LT_OS), value);
    }
    static unsigned LessEqualBits(F x, F y) { return unsigned(_mm512_cmp_ps_mask(x, y, _CMP_LE_OS)); }
    static unsigned EqualBits(F x, F y) { return unsigned(_mm512_cmp_ps_mask(x, y, _CMP_EQ_OQ)); }
    static bool AnyLessEqual(F x, F y) { return LessEqualBits(x, y) != 0; }
    static F LowestEverywhere(F x) { return _mm512_set1_ps(_mm512_reduce_min_ps(x)); }
};

} // namespace

bool FindTameNearestAvx512(const NearestLanesView& lanes, bool scaled, const FloatPixel& colour,
                           float minOpacity, float* difference, std::uint32_t& answer)
{
    return scaled ? FindTameNearest<Avx512Lanes, true>(lanes, colour, minOpacity, difference, answer)
                  : FindTameNearest<Avx512Lanes, false>(lanes, colour, minOpacity, difference, answer);
}

} // namespace tessaline
#endif
