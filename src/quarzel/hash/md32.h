// Buffering, length counting and padding shared by SHA-1 and SHA-224/256
// (64-byte blocks, 64-bit byte count kept as hiLen:loLen, FIPS 180-4 5.1.1).
#pragma once

#include <cstring>

#include "hash/internal.h"
#include "quarzel/port.h"

namespace quarzel::hash {

template <class Ctx>
inline void md32_reset(Ctx& c) {
  c.buffLen = 0;
  c.loLen = 0;
  c.hiLen = 0;
}

template <class Ctx>
inline void md32_update(Ctx& c, const uint8_t* msg, size_t len) {
  if (len == 0) return;
  const uint64_t count = ((uint64_t(c.hiLen) << 32) | c.loLen) + len;
  c.loLen = static_cast<uint32_t>(count);
  c.hiLen = static_cast<uint32_t>(count >> 32);
  if (c.buffLen != 0) {
    size_t take = 64 - c.buffLen;
    if (take > len) take = len;
    std::memcpy(c.buffer + c.buffLen, msg, take);
    c.buffLen += static_cast<uint32_t>(take);
    msg += take;
    len -= take;
    if (c.buffLen < 64) return;
    c.compress(c.digest, c.buffer, 1);
    c.buffLen = 0;
  }
  if (len >= 64) {
    c.compress(c.digest, msg, len / 64);
    msg += len & ~size_t{63};
    len &= 63;
  }
  if (len != 0) {
    std::memcpy(c.buffer, msg, len);
    c.buffLen = static_cast<uint32_t>(len);
  }
}

// Pads, compresses the last block(s) and writes `words` big-endian words of
// the chaining value. The message bytes left in the buffer are wiped.
template <class Ctx>
inline void md32_finish(Ctx& c, uint8_t* out, size_t words) {
  const uint64_t bits = ((uint64_t(c.hiLen) << 32) | c.loLen) << 3;
  size_t used = c.buffLen;
  c.buffer[used++] = 0x80;
  if (used > 56) {
    std::memset(c.buffer + used, 0, 64 - used);
    c.compress(c.digest, c.buffer, 1);
    used = 0;
  }
  std::memset(c.buffer + used, 0, 56 - used);
  store_be64(c.buffer + 56, bits);
  c.compress(c.digest, c.buffer, 1);
  for (size_t i = 0; i < words; ++i) store_be32(out + 4 * i, c.digest[i]);
  secure_wipe(c.buffer, sizeof c.buffer);
}

}  // namespace quarzel::hash
