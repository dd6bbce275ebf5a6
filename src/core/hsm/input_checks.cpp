// Checks of PINs and labels before they reach a device. The software device
// keeps them in 32-byte fields of text files, whose lines end at 0x0A and
// whose values end at 0x00, so such bytes would silently cut them.
#include "core_internal.h"

namespace zeb::core {
namespace {

bool has_line_breaking_byte(const uint8_t* p, uint32_t len) noexcept {
  for (uint32_t i = 0; i < len; ++i) {
    if (p[i] == 0x00 || p[i] == 0x0A || p[i] == 0x0D) return true;
  }
  return false;
}

}  // namespace

uint32_t check_new_pin(const uint8_t* pin, uint32_t len) noexcept {
  if (pin == nullptr) return VRK_ERR_ARGUMENTS;
  if (len == 0 || len > VRK_PIN_MAX_LEN) return VRK_ERR_PIN_LEN_RANGE;
  if (has_line_breaking_byte(pin, len)) return VRK_ERR_PIN_INVALID;
  return VRK_OK;
}

uint32_t check_label(const uint8_t* label, uint32_t len) noexcept {
  if (label == nullptr || len > VRK_LABEL_LEN) return VRK_ERR_ARGUMENTS;
  if (has_line_breaking_byte(label, len)) return VRK_ERR_ARGUMENTS;
  return VRK_OK;
}

}  // namespace zeb::core
