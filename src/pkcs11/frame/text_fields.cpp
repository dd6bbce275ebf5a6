// The fixed-width text fields of PKCS#11 records and of the core's records.
#include <algorithm>
#include <cstring>

#include "frame/frame_internal.h"

size_t p11_text_len(const void* src, size_t width) noexcept {
  const auto* p = static_cast<const uint8_t*>(src);
  const void* zero = std::memchr(p, 0, width);
  return zero == nullptr ? width : static_cast<size_t>(static_cast<const uint8_t*>(zero) - p);
}

void p11_pad_copy(CK_UTF8CHAR* field, size_t width, const void* src, size_t len) noexcept {
  std::memset(field, ' ', width);
  if (src != nullptr) std::memcpy(field, src, p11_text_len(src, std::min(len, width)));
}
