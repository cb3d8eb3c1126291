// engine/nearest_lanes_avx2.cpp: the tame query of NearestLanes eight floats at a time. Built with
// AVX2 enabled (and nothing that fuses a multiply with an add), so it runs only where the processor
// has AVX2; nothing in it may call a function shared with the rest of the build.

#include "engine/nearest_lanes_scan.h"

#if defined(TESSALINE_WIDE_VECTORS) && defined(__AVX2__)
#include <immintrin.h>

namespace tessaline {
namespace {

struct Avx2Lanes
{
    using F = __m256;
    static constexpr std::uint32_t Width = 8;
    static F Set1(float x) { return _mm256_set1_ps(x); }
    static F Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, F x) { _mm256_storeu_ps(p, x); }
    static F Add(F x, F y) { return _mm256_add_ps(x, y); }
    static F Sub(F x, F y) { return _mm256_sub_ps(x, y); }
    static F Mul(F x, F y) { return _mm256_mul_ps(x, y); }
    static F Max(F x, F y) { return _mm256_max_ps(x, y); }
    static F Min(F x, F y) { return _mm256_min_ps(x, y); }
    static float MaxScalar(float x, float y)
    {
        return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(x), _mm_set_ss(y)));
    }
    static F WhereLess(F x, F y, F value) { return _mm256_and_ps(_mm256_cmp_ps(x, y, _CMP_LT_OS), value); }
    static unsigned LessEqualBits(F x, F y)
    {
        return unsigned(_mm256_movemask_ps(_mm256_cmp_ps(x, y, _CMP_LE_OS)));
    }
    static unsigned EqualBits(F x, F y)
    {
        return unsigned(_mm256_movemask_ps(_mm256_cmp_ps(x, y, _CMP_EQ_OQ)));
    }
    static bool AnyLessEqual(F x, F y) { return LessEqualBits(x, y) != 0; }
    static F LowestEverywhere(F x)
    {
        x = _mm256_min_ps(x, _mm256_permute2f128_ps(x, x, 1));
        x = _mm256_min_ps(x, _mm256_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1)));
        return _mm256_min_ps(x, _mm256_shuffle_ps(x, x, _MM_SHUFFLE(1, 0, 3, 2)));
    }
};

} // namespace

bool FindTameNearestAvx2(const NearestLanesView& lanes, bool scaled, const FloatPixel& colour,
                         float minOpacity, float* difference, std::uint32_t& answer)
{
    return scaled ? FindTameNearest<Avx2Lanes, true>(lanes, colour, minOpacity, difference, answer)
                  : FindTameNearest<Avx2Lanes, false>(lanes, colour, minOpacity, difference, answer);
}

} // namespace tessaline
#endif
