#pragma once
// engine/vector_width.h: how many floats the widest loops handle at once. One build carries the
// SSE2 loops (four floats) and, on x86 builds that can compile them, AVX2 (eight) and AVX-512
// (sixteen) twins of the loops that dominate a reduction; the width is chosen once, before a job
// starts, from what the processor has (AVX-512 only when asked for). Every width runs the same float
// operations in the same order, so results are byte for byte the same whichever is chosen.

#include <cstdint>

namespace tessaline {

enum class VectorWidth : std::uint8_t {
    Sse2 = 4,
    Avx2 = 8,
    Avx512 = 16,
};

/// The width the wide loops use when ProcessorHasSse2 is set. Written once before a job starts (the
/// reduce thread probes the processor), only read afterwards, like ProcessorHasSse2.
extern VectorWidth VectorWidthInUse;

/// The widest width both this build and the processor running it have (Sse2 off x86).
VectorWidth ProcessorVectorWidth();

/// The width named by `requested` ("sse2", "avx2" or "avx512"), narrowed to what the processor has;
/// when `requested` is null or names no width, AVX2 if the processor has it. Lets a run force a
/// width.
VectorWidth ChooseVectorWidth(const char* requested);

/// The width's name as ChooseVectorWidth reads it.
const char* VectorWidthName(VectorWidth width);

} // namespace tessaline
