// Choice of the AES/GHASH instruction-set path, made once per key set-up.
#include <atomic>

#include "quarzel/aes.h"
#include "seams.h"

namespace quarzel {
namespace {
std::atomic<bool>& g_accel_disabled = seams::aes_portable;
}

bool cipher_accel_cpu_supported() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  static const bool supported = __builtin_cpu_supports("aes") && __builtin_cpu_supports("pclmul") &&
                                __builtin_cpu_supports("sse4.1");
  return supported;
#else
  return false;
#endif
}

CipherAccel cipher_accel_default() noexcept {
  if (g_accel_disabled.load(std::memory_order_relaxed) || !cipher_accel_cpu_supported()) {
    return CipherAccel::kPortable;
  }
  return CipherAccel::kAesNi;
}

}  // namespace quarzel
