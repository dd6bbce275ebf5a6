// Choice of the AES/GHASH instruction-set path, made once per key set-up.
#include <atomic>

#include "quarzel/aes.h"
#include "quarzel/cpu.h"
#include "seams.h"

namespace quarzel {
namespace {
std::atomic<bool>& g_accel_disabled = seams::aes_portable;
}

bool cipher_accel_cpu_supported() noexcept {
  const CpuFeatures& cpu = cpu_features();
  return cpu.aes && cpu.pclmul && cpu.sse41;
}

CipherAccel cipher_accel_default() noexcept {
  if (g_accel_disabled.load(std::memory_order_relaxed) || !cipher_accel_cpu_supported()) {
    return CipherAccel::kPortable;
  }
  return CipherAccel::kAesNi;
}

}  // namespace quarzel
