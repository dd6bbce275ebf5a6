// The CPU features the library's fast paths choose by, read once from CPUID.
//
// One place for every feature test: compilers differ in which names
// __builtin_cpu_supports knows (clang 14 has no "adx"), CPUID does not.
#pragma once

namespace quarzel {

struct CpuFeatures {
  bool ssse3 = false;
  bool sse41 = false;
  bool aes = false;     // AES-NI
  bool pclmul = false;  // PCLMULQDQ
  bool sha = false;     // SHA-1 / SHA-256 extensions
  bool bmi2 = false;    // MULX
  bool adx = false;     // ADCX / ADOX
  bool avx512ifma = false;  // AVX-512F + IFMA (VPMADD52), with the OS saving ZMM state
  // AVX-512F/BW/VL + VAES + VPCLMULQDQ (AES rounds and carry-less products on
  // four 128-bit lanes of a ZMM register), with the OS saving ZMM state
  bool avx512vaes = false;
};

// All false off x86.
[[nodiscard]] const CpuFeatures& cpu_features() noexcept;

}  // namespace quarzel
