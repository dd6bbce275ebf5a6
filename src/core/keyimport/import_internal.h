// What the key import's two halves share.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "zeb/vrk_keyimport.h"

namespace zeb::core::keyimport {

using Bytes = std::span<const uint8_t>;

// Drops the leading zero bytes of a big-endian number.
inline Bytes significant(Bytes v) {
  while (!v.empty() && v.front() == 0) v = v.subspan(1);
  return v;
}

// A right-aligned copy of `v` in `len` bytes; false when it does not fit.
inline bool fit(Bytes v, uint32_t len, uint8_t* out) {
  v = significant(v);
  if (v.size() > len) return false;
  std::memset(out, 0, len - v.size());
  if (!v.empty()) std::memcpy(out + len - v.size(), v.data(), v.size());
  return true;
}

inline Bytes bytes(const VRK_UCHAR* p, VRK_UINT32 n) { return p == nullptr ? Bytes{} : Bytes{p, n}; }

// Hands `v` out (capacity in *cap, length out).
inline VRK_RV hand_out(Bytes v, VRK_UCHAR_PTR out, VRK_UINT32_PTR cap) {
  if (cap == nullptr) return VRK_ERR_ARGUMENTS;
  if (out == nullptr || *cap < v.size()) {
    *cap = static_cast<VRK_UINT32>(v.size());
    return out == nullptr ? VRK_ERR_ARGUMENTS : VRK_ERR_BUFFER_TOO_SMALL;
  }
  if (!v.empty()) std::memcpy(out, v.data(), v.size());
  *cap = static_cast<VRK_UINT32>(v.size());
  return VRK_OK;
}

}  // namespace zeb::core::keyimport
