// Small routines of the software device: randomness, input checks, status
// names and the clock.
#include <sys/time.h>

#include "swd_internal.h"

namespace swd {

bool random_digits(uint8_t* out, size_t n) {
  // Rejection sampling keeps the digits uniform: bytes 250..255 are redrawn.
  size_t done = 0;
  uint8_t pool[64];
  while (done < n) {
    if (quarzel_get_random(pool, sizeof pool) != 0) return false;
    for (size_t i = 0; i < sizeof pool && done < n; ++i) {
      if (pool[i] < 250) out[done++] = static_cast<uint8_t>('0' + pool[i] % 10);
    }
  }
  quarzel::secure_wipe(pool, sizeof pool);
  return true;
}

bool random_key_bytes(uint8_t* out, size_t n) {
  // Keys are stored as text lines, where 0x00 and 0x0A would end the value
  // (and 0x0D is mangled by text tools): draw from the 253 other values.
  size_t done = 0;
  quarzel::SecretArray<64> pool;
  while (done < n) {
    if (quarzel_get_random(pool.data(), pool.size()) != 0) return false;
    for (size_t i = 0; i < pool.size() && done < n; ++i) {
      const uint8_t b = pool[i];
      if (b != 0x00 && b != 0x0A && b != 0x0D) out[done++] = b;
    }
  }
  return true;
}

bool random_handle(uint32_t* out, const uint32_t* taken, size_t n) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    uint32_t h = 0;
    if (quarzel_get_random(reinterpret_cast<uint8_t*>(&h), sizeof h) != 0) return false;
    bool clash = h == 0;
    for (size_t i = 0; i < n && !clash; ++i) clash = taken[i] == h;
    if (!clash) {
      *out = h;
      return true;
    }
  }
  return false;
}

uint32_t check_new_pin(const uint8_t* pin, uint32_t len) {
  if (len > SWD_PIN_MAX) return SWD_ERR_PIN_LEN_RANGE;
  if (pin == nullptr && len != 0) return SWD_ERR_ARGUMENTS;
  for (uint32_t i = 0; i < len; ++i) {
    if (pin[i] == 0x00 || pin[i] == 0x0A || pin[i] == 0x0D) return SWD_ERR_PIN_INCORRECT;
  }
  return 0;
}

uint32_t check_new_label(const uint8_t* label, uint32_t len) {
  if (len > SWD_LABEL_MAX || (label == nullptr && len != 0)) return SWD_ERR_ARGUMENTS;
  bool seen_zero = false;
  for (uint32_t i = 0; i < len; ++i) {
    const uint8_t b = label[i];
    if (b == 0x0A || b == 0x0D || (seen_zero && b != 0)) return SWD_ERR_ARGUMENTS;
    seen_zero = seen_zero || b == 0;
  }
  return 0;
}

bool pin_matches(const uint8_t* field, uint32_t stored_len, const uint8_t* pin, uint32_t len) {
  if (stored_len > SWD_PIN_MAX || len != stored_len || (pin == nullptr && len != 0)) return false;
  // Compare over the whole field so that the time does not depend on the PIN.
  uint8_t given[SWD_PIN_MAX] = {};
  uint8_t mask[SWD_PIN_MAX] = {};
  for (uint32_t i = 0; i < len; ++i) {
    given[i] = pin[i];
    mask[i] = 0xFF;
  }
  uint8_t diff = 0;
  for (size_t i = 0; i < SWD_PIN_MAX; ++i) diff |= static_cast<uint8_t>((field[i] ^ given[i]) & mask[i]);
  quarzel::secure_wipe(given, sizeof given);
  return diff == 0;
}

}  // namespace swd

extern "C" uint32_t _swdev_fill_random_digits(uint8_t* input_str, uint32_t input_str_len) {
  if (input_str == nullptr) return SWD_ERR_NULL;
  return swd::random_digits(input_str, input_str_len) ? 0 : SWD_ERR_FAILED;
}

extern "C" uint32_t _swdev_fill_random(uint8_t* input_str, uint32_t input_str_len) {
  if (input_str == nullptr) return SWD_ERR_NULL;
  return swd::random_key_bytes(input_str, input_str_len) ? 0 : SWD_ERR_FAILED;
}

namespace {
constexpr const char* kHsmStatusNames[] = {
    "ZEB_DEVICE_HSM_UNINIT",   "ZEB_DEVICE_HSM_CONTEXT_GENERATING", "ZEB_DEVICE_HSM_INITED",
    "ZEB_DEVICE_HSM_TAMPERED", "ZEB_DEVICE_HSM_ERASING",            "ZEB_DEVICE_HSM_ERROR",
};
constexpr const char* kTokenStatusNames[] = {
    "ZEB_DEVICE_TKN_UNINIT",           "ZEB_DEVICE_TKN_SUPERUSER_INIT", "ZEB_DEVICE_TKN_NORMALUSER_INIT",
    "ZEB_DEVICE_TKN_NORMALUSER_LOCKED", "ZEB_DEVICE_TKN_TERMINATED",     "ZEB_DEVICE_TKN_ERROR",
    "ZEB_DEVICE_TKN_IDLE",
};
}  // namespace

extern "C" const char* hsmStatusToString(ZEB_DEVICE_HSM_STATUS status) {
  return status >= 1 && status <= 6 ? kHsmStatusNames[status - 1] : "UNKNOWN HSM STATUS!";
}

extern "C" const char* tokenStatusToString(uint8_t status) {
  return status >= 1 && status <= 7 ? kTokenStatusNames[status - 1] : "UNKNOWN TOKEN STATUS!";
}

extern "C" int _swdev_getMiliSecond(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<int>(tv.tv_usec);
}
