#include "quarzel/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace quarzel {
namespace {

#if defined(__x86_64__) || defined(__i386__)
// The state components the OS has enabled (XCR0); only asked when CPUID
// reports OSXSAVE.
unsigned long long xcr0() noexcept {
  unsigned lo = 0, hi = 0;
  asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (static_cast<unsigned long long>(hi) << 32) | lo;
}
#endif

CpuFeatures detect() noexcept {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  bool zmm_state = false;  // SSE, AVX, opmask and all 32 ZMM registers saved by the OS
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    if ((c & bit_OSXSAVE) != 0) zmm_state = (xcr0() & 0xE6) == 0xE6;
    f.ssse3 = (c & bit_SSSE3) != 0;
    f.sse41 = (c & bit_SSE4_1) != 0;
    f.aes = (c & bit_AES) != 0;
    f.pclmul = (c & bit_PCLMUL) != 0;
  }
  // __get_cpuid_count checks the highest leaf first: leaf 7 may be absent.
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
    f.sha = (b & bit_SHA) != 0;
    f.bmi2 = (b & bit_BMI2) != 0;
    f.adx = (b & bit_ADX) != 0;
    f.avx512ifma = zmm_state && (b & bit_AVX512F) != 0 && (b & bit_AVX512IFMA) != 0;
    f.avx512vaes = zmm_state && (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0 && (b & bit_AVX512VL) != 0 &&
                   (c & bit_VAES) != 0 && (c & bit_VPCLMULQDQ) != 0;
  }
#endif
  return f;
}

}  // namespace

const CpuFeatures& cpu_features() noexcept {
  static const CpuFeatures features = detect();
  return features;
}

}  // namespace quarzel
