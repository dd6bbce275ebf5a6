// The AES core's entry points: the choice between the AES-NI code and the
// portable tables, and the routines that follow it.
#include <atomic>

#include "aes/aes_internal.h"
#include "quarzel/aes.h"
#include "quarzel/cpu.h"
#include "seams.h"

namespace quarzel {
namespace {

bool cpu_has_aesni() noexcept {
  const CpuFeatures& cpu = cpu_features();
  return cpu.aes && cpu.pclmul && cpu.sse41;
}

// The CPU's answer is read at load time, so that the one-block routines pay
// no guard of a local static (a call before then takes the portable code,
// whose results are the same); the test switch on every call, so that a test
// may change it between its cases.
const bool g_cpu_aesni = cpu_has_aesni();

bool use_aesni() noexcept { return g_cpu_aesni && !seams::aes_portable.load(std::memory_order_relaxed); }

}  // namespace

bool cipher_accel_cpu_supported() noexcept { return cpu_has_aesni(); }

CipherAccel cipher_accel_default() noexcept { return use_aesni() ? CipherAccel::kAesNi : CipherAccel::kPortable; }

}  // namespace quarzel

using quarzel::use_aesni;

// The AES-NI schedule differs from the table one only in how SubWord and
// InvMixColumns are computed: without secret-indexed loads.
extern "C" core_ret_t aes_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key) {
#if QZ_HAVE_AESNI
  if (use_aesni()) {
    quarzel::aesni::key_expansion(key_len, key, round_key);
    return 0;
  }
#endif
  return aes_algo_key_expansion(dir, key_len, key, round_key);
}

extern "C" core_ret_t aes_encrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                                  uint8_t* out) {
#if QZ_HAVE_AESNI
  if (use_aesni()) return quarzel::aesni::encrypt_block(key_len, in, round_key, out);
#endif
  return aes_algo_encrypt(flag_final, key_len, in, round_key, out);
}

extern "C" core_ret_t aes_decrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                                  uint8_t* out) {
#if QZ_HAVE_AESNI
  if (use_aesni()) return quarzel::aesni::decrypt_block(key_len, in, round_key, out);
#endif
  return aes_algo_decrypt(flag_final, key_len, in, round_key, out);
}
