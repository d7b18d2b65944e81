// Row kernels: the inner loops of the filters, and where their vector variants are chosen.
//
// A kernel is written once, as plain loops over sample arrays that the compiler vectorises, in a
// class with one static member template:
//
//   struct MyKernel {
//     template <class Isa>
//     static MARLO_KERNEL void Run(const uint8_t* in, uint8_t* out, size_t n) { ... }
//   };
//
// On x86 it is compiled twice, for the processor's baseline instruction set and for AVX2, and
// RunKernel<MyKernel>(in, out, n) runs the variant the processor takes; KernelFor<MyKernel,
// void(const uint8_t*, uint8_t*, size_t)>() returns it as a function pointer, for a choice made
// once per run. Both variants do the same integer or IEEE arithmetic (contraction is off for the
// whole library), so they give the same results; the wider vectors only do more samples per
// step. Isa is simd::Portable or simd::Avx2; Isa::kAvx2 lets a kernel add intrinsics of its own
// to its AVX2 variant. Helpers of a kernel are marked MARLO_KERNEL too, so that each variant
// compiles them for its own instruction set.
//
// Hand-written SSE2 code (every x86-64 processor has SSE2, and the 32-bit build requires it)
// stands under MARLO_SSE2_KERNELS, next to the plain code that gives the same results.
//
// Configuring with MARLO_PORTABLE_KERNELS (the CMake option) builds the plain code alone: no
// AVX2 variant and no SSE2 intrinsics, so that every portable kernel is compiled and tested on
// any machine.
#ifndef MARLO_FRAME_SIMD_H
#define MARLO_FRAME_SIMD_H

#include <utility>

#if !defined(MARLO_PORTABLE_KERNELS) && (defined(__GNUC__) || defined(__clang__)) && \
    (defined(__x86_64__) || defined(__i386__))
#define MARLO_AVX2_VARIANTS 1
#define MARLO_KERNEL inline __attribute__((always_inline))
#define MARLO_AVX2_TARGET __attribute__((target("avx2")))
#include <immintrin.h>
#else
#define MARLO_KERNEL inline
#endif

#if !defined(MARLO_PORTABLE_KERNELS) && defined(__SSE2__)
#define MARLO_SSE2_KERNELS 1
#include <emmintrin.h>
#endif

namespace marlo {

// True when the AVX2 variants are built and the processor runs them (asked once).
bool CpuHasAvx2();

namespace simd {

struct Portable {
  static constexpr bool kAvx2 = false;
};
struct Avx2 {
  static constexpr bool kAvx2 = true;
};

template <class Kernel, class Signature>
struct Variants;

template <class Kernel, class... Args>
struct Variants<Kernel, void(Args...)> {
  static void RunPortable(Args... args) { Kernel::template Run<Portable>(args...); }
#if defined(MARLO_AVX2_VARIANTS)
  MARLO_AVX2_TARGET static void RunAvx2(Args... args) {
    Kernel::template Run<Avx2>(args...);
  }
#endif
  static auto Choose() -> void (*)(Args...) {
#if defined(MARLO_AVX2_VARIANTS)
    if (CpuHasAvx2()) return &RunAvx2;
#endif
    return &RunPortable;
  }
};

}  // namespace simd

// The variant of `Kernel` for this processor, as a function of the given signature.
template <class Kernel, class Signature>
auto KernelFor() {
  return simd::Variants<Kernel, Signature>::Choose();
}

// Runs the variant of `Kernel` for this processor.
template <class Kernel, class... Args>
void RunKernel(Args&&... args) {
  simd::Variants<Kernel, void(Args && ...)>::Choose()(std::forward<Args>(args)...);
}

}  // namespace marlo

#endif  // MARLO_FRAME_SIMD_H
