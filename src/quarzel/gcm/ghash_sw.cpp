// Portable GHASH: SP 800-38D Algorithm 1 with masks instead of branches, so
// neither H nor the data steer control flow or memory access.
#include <cstring>

#include "gcm/gcm_internal.h"
#include "quarzel/aes.h"
#include "quarzel/secure.h"

namespace quarzel::gcm {
namespace {

uint64_t load_be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}
void store_be64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// Z = X * Y in GF(2^128); hi holds bits 0..63 (the first eight bytes).
void gfmul(uint64_t& x_hi, uint64_t& x_lo, uint64_t y_hi, uint64_t y_lo) {
  uint64_t z_hi = 0, z_lo = 0, v_hi = y_hi, v_lo = y_lo;
  for (int word = 0; word < 2; ++word) {
    const uint64_t x = word == 0 ? x_hi : x_lo;
    for (int i = 63; i >= 0; --i) {
      const uint64_t take = 0 - ((x >> i) & 1);
      z_hi ^= v_hi & take;
      z_lo ^= v_lo & take;
      const uint64_t reduce = 0 - (v_lo & 1);
      v_lo = (v_lo >> 1) | (v_hi << 63);
      v_hi = (v_hi >> 1) ^ (reduce & 0xE100000000000000ull);
    }
  }
  x_hi = z_hi;
  x_lo = z_lo;
}

// Z = X * Y in GF(2^64) modulo x^64 + x^4 + x^3 + x + 1 (R = 0xD8 || 0^56).
uint64_t gfmul64(uint64_t x, uint64_t y) {
  uint64_t z = 0, v = y;
  for (int i = 63; i >= 0; --i) {
    z ^= v & (0 - ((x >> i) & 1));
    const uint64_t reduce = 0 - (v & 1);
    v = (v >> 1) ^ (reduce & 0xD800000000000000ull);
  }
  return z;
}

}  // namespace

void ghash_update(const uint8_t* h, uint8_t* acc, const uint8_t* data, size_t len) {
  const uint64_t h_hi = load_be64(h), h_lo = load_be64(h + 8);
  uint64_t a_hi = load_be64(acc), a_lo = load_be64(acc + 8);
  uint8_t last[16];
  while (len > 0) {
    const uint8_t* block = data;
    size_t n = 16;
    if (len < 16) {
      std::memset(last, 0, sizeof last);
      std::memcpy(last, data, len);
      block = last;
      n = len;
    }
    a_hi ^= load_be64(block);
    a_lo ^= load_be64(block + 8);
    gfmul(a_hi, a_lo, h_hi, h_lo);
    data += n;
    len -= n;
  }
  store_be64(acc, a_hi);
  store_be64(acc + 8, a_lo);
  secure_wipe(last, sizeof last);
}

void ghash64_update(const uint8_t* h, uint8_t* acc, const uint8_t* data, size_t len) {
  const uint64_t hv = load_be64(h);
  uint64_t a = load_be64(acc);
  uint8_t last[8];
  while (len > 0) {
    const uint8_t* block = data;
    size_t n = 8;
    if (len < 8) {
      std::memset(last, 0, sizeof last);
      std::memcpy(last, data, len);
      block = last;
      n = len;
    }
    a = gfmul64(a ^ load_be64(block), hv);
    data += n;
    len -= n;
  }
  store_be64(acc, a);
  secure_wipe(last, sizeof last);
}

void ghash(const gcm_ctx_t* ctx, uint8_t* acc, const uint8_t* data, size_t len) {
  if (ctx->block_size == 8) {
    ghash64_update(ctx->h_val, acc, data, len);
    return;
  }
#if QZ_HAVE_AESNI
  if (ctx->accel == static_cast<uint32_t>(CipherAccel::kAesNi)) {
    clmul::ghash(ctx, acc, data, len);
    return;
  }
#endif
  ghash_update(ctx->h_val, acc, data, len);
}

void len_to_array(uint64_t len, uint8_t* out) {
  for (int i = 7; i >= 0; --i, len >>= 8) out[i] = static_cast<uint8_t>(len);
}

void ghash_final(const gcm_ctx_t* ctx, uint8_t* acc, uint64_t first_bytes, uint64_t second_bytes) {
  uint8_t lb[16];
  len_to_array(first_bytes * 8, lb);
  len_to_array(second_bytes * 8, lb + 8);
  ghash(ctx, acc, lb, sizeof lb);
}

void ghash64_final(const gcm_ctx_t* ctx, uint8_t* acc, uint64_t first_bytes, uint64_t second_bytes) {
  uint8_t lb[8];
  len_to_array(first_bytes * 8, lb);
  ghash64_update(ctx->h_val, acc, lb, sizeof lb);
  len_to_array(second_bytes * 8, lb);
  ghash64_update(ctx->h_val, acc, lb, sizeof lb);
}

}  // namespace quarzel::gcm
