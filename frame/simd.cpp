#include "frame/simd.h"

namespace marlo {

bool CpuHasAvx2() {
#if defined(MARLO_AVX2_VARIANTS)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

}  // namespace marlo
