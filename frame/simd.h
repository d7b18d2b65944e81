// Row kernels compiled twice, for the plain instruction set and for AVX2, with the variant
// chosen at run time.
#ifndef MARLO_FRAME_SIMD_H
#define MARLO_FRAME_SIMD_H

// On x86 with GCC or Clang, unless MARLO_NO_AVX2 is defined (which builds the plain variants
// alone, to check them on any machine). Both variants do the same integer or IEEE arithmetic, so
// they give the same results; the wider vectors only do more samples per step.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && \
    !defined(MARLO_NO_AVX2)
#define MARLO_AVX2_VARIANTS 1
#endif

namespace marlo {

// True when the AVX2 variants are built and the processor runs them (asked once).
bool CpuHasAvx2();

}  // namespace marlo

#endif  // MARLO_FRAME_SIMD_H
