// The fused GCTR + GHASH loop on 512-bit registers (VAES, VPCLMULQDQ): four
// 128-bit lanes per register, sixteen blocks per step. The AES rounds of one
// step run interleaved with the GHASH products of the step before, whose
// sixteen blocks are multiplied by H^16 .. H^1 lane by lane, summed unreduced
// and reduced once (the field representation of ghash_clmul.cpp). Fewer than
// sixteen blocks left over go to the 8-block CLMUL loop.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's intrinsics seed their unused pass-through operand with a
// self-initialised variable, which its own -Wuninitialized then reports
// wherever they are inlined (GCC bug 105593, fixed in 12.3).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "gcm/gcm_internal.h"

#if QZ_HAVE_AESNI

#include "aes/aesni_inline.h"
#include "gcm/clmul_inline.h"
#include "quarzel/aes.h"
#include "quarzel/cpu.h"
#include "quarzel/secure.h"

#define QZ_VAES __attribute__((target("aes,pclmul,sse4.1,ssse3,avx2,avx512f,avx512bw,avx512vl,vaes,vpclmulqdq")))

namespace quarzel::gcm::vaes {
namespace {

constexpr size_t kRegs = 4;               // ZMM registers of blocks per step
constexpr size_t kStep = 4 * kRegs;       // blocks per step

QZ_VAES inline __m512i load512(const uint8_t* p) { return _mm512_loadu_si512(p); }
QZ_VAES inline void store512(uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

// Byte reversal of each 128-bit lane (the blocks' register form).
QZ_VAES inline __m512i bswap_lanes(__m512i x) {
  const __m512i m = _mm512_broadcast_i32x4(_mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
  return _mm512_shuffle_epi8(x, m);
}

struct WideZ {
  __m512i lo, mid, hi;
};

QZ_VAES inline void mul_acc(WideZ& w, __m512i a, __m512i b) {
  w.lo = _mm512_xor_si512(w.lo, _mm512_clmulepi64_epi128(a, b, 0x00));
  w.hi = _mm512_xor_si512(w.hi, _mm512_clmulepi64_epi128(a, b, 0x11));
  w.mid = _mm512_ternarylogic_epi64(w.mid, _mm512_clmulepi64_epi128(a, b, 0x10), _mm512_clmulepi64_epi128(a, b, 0x01),
                                    0x96);
}

QZ_VAES inline __m128i fold_lanes(__m512i v) {
  const __m256i h = _mm256_xor_si256(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
  return _mm_xor_si128(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
}

QZ_VAES inline __m128i reduce(const WideZ& w) {
  return clmul::reduce({fold_lanes(w.lo), fold_lanes(w.mid), fold_lanes(w.hi)});
}

// pw[r] holds, lane by lane, the powers that multiply blocks 4r .. 4r+3 of a
// step: H^(16-4r) .. H^(13-4r).
struct PowersZ {
  __m512i pw[kRegs];
};

QZ_VAES inline void load_powers(PowersZ& p, const gcm_ctx_t* ctx) {
  for (size_t r = 0; r < kRegs; ++r) {
    const size_t top = kStep - 1 - 4 * r;  // index of H^(16-4r)
    p.pw[r] = _mm512_inserti32x4(
        _mm512_inserti32x4(_mm512_inserti32x4(_mm512_castsi128_si512(clmul::load(ctx->h_pow[top])),
                                              clmul::load(ctx->h_pow[top - 1]), 1),
                           clmul::load(ctx->h_pow[top - 2]), 2),
        clmul::load(ctx->h_pow[top - 3]), 3);
  }
}

// X = (X ^ B0) H^16 ^ B1 H^15 ^ ... ^ B15 H for sixteen byte-reversed blocks.
QZ_VAES inline __m128i hash16(__m128i x, const __m512i* blocks, const PowersZ& p) {
  WideZ w{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
  mul_acc(w, _mm512_xor_si512(blocks[0], _mm512_zextsi128_si512(x)), p.pw[0]);
  for (size_t r = 1; r < kRegs; ++r) mul_acc(w, blocks[r], p.pw[r]);
  return reduce(w);
}

}  // namespace

bool cpu_supported() noexcept {
  static const bool has = cipher_accel_cpu_supported() && cpu_features().avx512vaes;
  return has;
}

QZ_VAES void crypt_blocks(gcm_ctx_t* ctx, bool encrypt, const uint8_t* in, uint8_t* out, size_t blocks) {
  if (blocks >= kStep) {
    aesni::Keys keys;
    aesni::load_keys(keys, ctx->round_key, ctx->key_len);
    __m512i kz[15];
    for (uint32_t r = 0; r <= keys.nr; ++r) kz[r] = _mm512_broadcast_i32x4(keys.k[r]);
    PowersZ p;
    load_powers(p, ctx);
    // Counter blocks: the fixed first 96 bits, and the 32-bit counter kept
    // as a native integer in the last word of each lane, byte-swapped into
    // place per block (wrapping modulo 2^32 as GCTR's inc32 does).
    const __m512i base = _mm512_broadcast_i32x4(_mm_insert_epi32(clmul::load(ctx->iv), 0, 3));
    const __m512i to_be = _mm512_broadcast_i32x4(
        _mm_set_epi8(12, 13, 14, 15, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128, -128));
    uint32_t ctr = uint32_t{ctx->iv[12]} << 24 | uint32_t{ctx->iv[13]} << 16 | uint32_t{ctx->iv[14]} << 8 | ctx->iv[15];
    __m512i cnt = _mm512_add_epi32(_mm512_set_epi32(3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0),
                                   _mm512_broadcast_i32x4(_mm_insert_epi32(_mm_setzero_si128(), static_cast<int>(ctr), 3)));
    const __m512i four = _mm512_broadcast_i32x4(_mm_set_epi32(4, 0, 0, 0));
    __m128i x = clmul::bswap128(clmul::load(ctx->x_val));
    __m512i ks[kRegs], ct[kRegs] = {}, prev[kRegs] = {};
    bool have_prev = false;  // prev holds the last step's ciphertext, not yet hashed
    for (; blocks >= kStep; blocks -= kStep, in += 16 * kStep, out += 16 * kStep) {
      for (size_t r = 0; r < kRegs; ++r) {
        ks[r] = _mm512_xor_si512(_mm512_or_si512(base, _mm512_shuffle_epi8(cnt, to_be)), kz[0]);
        cnt = _mm512_add_epi32(cnt, four);
      }
      // Ciphertext is read before any output is written (in place).
      if (!encrypt) {
        for (size_t r = 0; r < kRegs; ++r) ct[r] = load512(in + 64 * r);
      }
      WideZ w{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
      for (uint32_t round = 1; round < keys.nr; ++round) {
        for (size_t r = 0; r < kRegs; ++r) ks[r] = _mm512_aesenc_epi128(ks[r], kz[round]);
        if (have_prev && round <= kRegs) {
          const size_t r = round - 1;
          mul_acc(w, r == 0 ? _mm512_xor_si512(prev[0], _mm512_zextsi128_si512(x)) : prev[r], p.pw[r]);
        }
      }
      if (have_prev) x = reduce(w);
      for (size_t r = 0; r < kRegs; ++r) {
        const __m512i k = _mm512_aesenclast_epi128(ks[r], kz[keys.nr]);
        if (encrypt) {
          ct[r] = _mm512_xor_si512(k, load512(in + 64 * r));
          store512(out + 64 * r, ct[r]);
        } else {
          store512(out + 64 * r, _mm512_xor_si512(k, ct[r]));
        }
        prev[r] = bswap_lanes(ct[r]);
      }
      have_prev = true;
      ctr += kStep;
    }
    x = hash16(x, prev, p);
    ctx->iv[12] = static_cast<uint8_t>(ctr >> 24);
    ctx->iv[13] = static_cast<uint8_t>(ctr >> 16);
    ctx->iv[14] = static_cast<uint8_t>(ctr >> 8);
    ctx->iv[15] = static_cast<uint8_t>(ctr);
    clmul::store(ctx->x_val, clmul::bswap128(x));
    secure_wipe(ks, sizeof ks);
    secure_wipe(prev, sizeof prev);
    secure_wipe(ct, sizeof ct);
    secure_wipe(kz, sizeof kz);
    secure_wipe(&p, sizeof p);
    aesni::wipe_keys(keys);
  }
  if (blocks > 0) clmul::crypt_blocks(ctx, encrypt, in, out, blocks);
}

}  // namespace quarzel::gcm::vaes

#endif  // QZ_HAVE_AESNI
