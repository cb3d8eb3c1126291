#include "engine/vector_width.h"

#include <algorithm>
#include <cstring>

namespace tessaline {

VectorWidth VectorWidthInUse = VectorWidth::Sse2;

VectorWidth ProcessorVectorWidth()
{
#if defined(TESSALINE_WIDE_VECTORS) && (defined(__x86_64__) || defined(__i386__))
    // libgcc's probe also asks the system whether it saves the wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl"))
        return VectorWidth::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return VectorWidth::Avx2;
#endif
    return VectorWidth::Sse2;
}

VectorWidth ChooseVectorWidth(const char* requested)
{
    const VectorWidth widest = ProcessorVectorWidth();
    if (requested != nullptr) {
        for (const VectorWidth width : {VectorWidth::Sse2, VectorWidth::Avx2, VectorWidth::Avx512}) {
            if (std::strcmp(requested, VectorWidthName(width)) == 0)
                return std::min(width, widest);
        }
    }
    // AVX-512 is taken only when asked for: on photographs it was no faster than AVX2 (the
    // Voronoi passes a few per cent faster, the error diffusion as much slower), and some
    // processors lower their clock for it.
    return std::min(VectorWidth::Avx2, widest);
}

const char* VectorWidthName(VectorWidth width)
{
    switch (width) {
    case VectorWidth::Avx2:
        return "avx2";
    case VectorWidth::Avx512:
        return "avx512";
    case VectorWidth::Sse2:
        break;
    }
    return "sse2";
}

} // namespace tessaline
