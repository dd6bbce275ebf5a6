// GHASH with PCLMULQDQ and the fused AES-NI GCTR + GHASH loop.
//
// Blocks are byte-reversed into registers so that the carry-less product
// works on the bit-reflected field representation; the 256-bit product is
// shifted left by one and reduced modulo x^128 + x^7 + x^2 + x + 1 (the
// method of Intel's carry-less multiplication white paper). Eight blocks are
// hashed per reduction with the precomputed powers H^8 .. H^1.
#include <cstring>

#include "gcm/gcm_internal.h"

#if QZ_HAVE_AESNI

#include "aes/aesni_inline.h"
#include "quarzel/secure.h"

#include "gcm/clmul_inline.h"

namespace quarzel::gcm::clmul {
namespace {

using aesni::kLanes;

struct Powers {
  __m128i h[kLanes];  // h[i] = H^(i+1)
};

QZ_CLMUL inline void load_powers(Powers& p, const gcm_ctx_t* ctx) {
  for (size_t i = 0; i < kLanes; ++i) p.h[i] = load(ctx->h_pow[i]);
}

// X = (X ^ B0) H^8 ^ B1 H^7 ^ ... ^ B7 H for eight byte-reversed blocks.
QZ_CLMUL inline __m128i hash8(__m128i x, const __m128i* blocks, const Powers& p) {
  Wide w = wide_zero();
  mul_acc(w, _mm_xor_si128(x, blocks[0]), p.h[kLanes - 1]);
  for (size_t j = 1; j < kLanes; ++j) mul_acc(w, blocks[j], p.h[kLanes - 1 - j]);
  return reduce(w);
}

}  // namespace

QZ_CLMUL void init_powers(gcm_ctx_t* ctx) {
  const __m128i h = bswap128(load(ctx->h_val));
  __m128i p = h;
  store(ctx->h_pow[0], p);
  const size_t count = ctx->wide != 0 ? 16 : kLanes;
  for (size_t i = 1; i < count; ++i) {
    p = gfmul(p, h);
    store(ctx->h_pow[i], p);
  }
}

QZ_CLMUL void ghash(const gcm_ctx_t* ctx, uint8_t* acc, const uint8_t* data, size_t len) {
  Powers p;
  load_powers(p, ctx);
  __m128i x = bswap128(load(acc));
  __m128i b[kLanes];
  for (; len >= 16 * kLanes; len -= 16 * kLanes, data += 16 * kLanes) {
    for (size_t j = 0; j < kLanes; ++j) b[j] = bswap128(load(data + 16 * j));
    x = hash8(x, b, p);
  }
  for (; len >= 16; len -= 16, data += 16) x = gfmul(_mm_xor_si128(x, bswap128(load(data))), p.h[0]);
  if (len > 0) {
    uint8_t last[16] = {};
    std::memcpy(last, data, len);
    x = gfmul(_mm_xor_si128(x, bswap128(load(last))), p.h[0]);
    secure_wipe(last, sizeof last);
  }
  store(acc, bswap128(x));
  secure_wipe(&p, sizeof p);
}

QZ_CLMUL void crypt_blocks(gcm_ctx_t* ctx, bool encrypt, const uint8_t* in, uint8_t* out, size_t blocks) {
  aesni::Keys keys;
  aesni::load_keys(keys, ctx->round_key, ctx->key_len);
  Powers p;
  load_powers(p, ctx);
  const __m128i base = load(ctx->iv);
  uint32_t ctr = uint32_t{ctx->iv[12]} << 24 | uint32_t{ctx->iv[13]} << 16 | uint32_t{ctx->iv[14]} << 8 | ctx->iv[15];
  __m128i x = bswap128(load(ctx->x_val));
  __m128i ks[kLanes], ct[kLanes] = {}, prev[kLanes] = {};
  bool have_prev = false;  // prev holds the last batch's ciphertext, not yet hashed
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    for (size_t j = 0; j < kLanes; ++j) {
      ks[j] = _mm_xor_si128(_mm_insert_epi32(base, static_cast<int>(__builtin_bswap32(ctr + static_cast<uint32_t>(j))), 3),
                            keys.k[0]);
    }
    ctr += kLanes;
    // Ciphertext is read before any output is written (in place).
    if (!encrypt) {
      for (size_t j = 0; j < kLanes; ++j) ct[j] = load(in + 16 * j);
    }
    // The AES rounds of this batch run interleaved with the GHASH products
    // of the previous one, one block per round (there are at least 9 rounds).
    Wide w = wide_zero();
    for (uint32_t r = 1; r < keys.nr; ++r) {
      for (size_t j = 0; j < kLanes; ++j) ks[j] = _mm_aesenc_si128(ks[j], keys.k[r]);
      if (have_prev && r <= kLanes) {
        const size_t j = r - 1;
        mul_acc(w, j == 0 ? _mm_xor_si128(x, prev[0]) : prev[j], p.h[kLanes - 1 - j]);
      }
    }
    if (have_prev) x = reduce(w);
    for (size_t j = 0; j < kLanes; ++j) {
      const __m128i k = _mm_aesenclast_si128(ks[j], keys.k[keys.nr]);
      if (encrypt) {
        ct[j] = _mm_xor_si128(k, load(in + 16 * j));
        store(out + 16 * j, ct[j]);
      } else {
        store(out + 16 * j, _mm_xor_si128(k, ct[j]));
      }
      prev[j] = bswap128(ct[j]);
    }
    have_prev = true;
  }
  if (have_prev) x = hash8(x, prev, p);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i k = aesni::enc1(keys, _mm_insert_epi32(base, static_cast<int>(__builtin_bswap32(ctr)), 3));
    ++ctr;
    const __m128i c_in = load(in);
    const __m128i c = encrypt ? _mm_xor_si128(k, c_in) : c_in;
    store(out, _mm_xor_si128(k, c_in));
    x = gfmul(_mm_xor_si128(x, bswap128(c)), p.h[0]);
  }
  ctx->iv[12] = static_cast<uint8_t>(ctr >> 24);
  ctx->iv[13] = static_cast<uint8_t>(ctr >> 16);
  ctx->iv[14] = static_cast<uint8_t>(ctr >> 8);
  ctx->iv[15] = static_cast<uint8_t>(ctr);
  store(ctx->x_val, bswap128(x));
  secure_wipe(ks, sizeof ks);
  secure_wipe(prev, sizeof prev);
  secure_wipe(&p, sizeof p);
  aesni::wipe_keys(keys);
}

}  // namespace quarzel::gcm::clmul

#endif  // QZ_HAVE_AESNI
