// ECB, CBC (with ciphertext stealing), PCBC, CFB, OFB and CTR.
#include "blockcipher/modes.h"

#include <cstring>

#include "aes/aes_internal.h"
#include "blockcipher/cipher_info.h"
#include "quarzel/secure.h"

namespace quarzel::bc {
namespace {

constexpr uint32_t kFnEcb = 0x13, kFnCbcEnc = 0x14, kFnCbcDec = 0x15, kFnCfbEnc = 0x18, kFnCfbDec = 0x19,
                   kFnPcbcEnc = 0x1B, kFnPcbcDec = 0x1C, kFnKsm = 0x23;
constexpr uint8_t kReasonLength = 0x39, kReasonSegment = 0x3A;

constexpr quarzel_ret_t mode_err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_BLOCKCIPHER, fn, reason); }

// AES-NI bulk routines apply to AES contexts whose key set-up chose them.
bool bulk_aesni(const blockcipher_ctx_t* ctx) {
  return QZ_HAVE_AESNI && ctx->block_size == 16 && ctx->accel == static_cast<uint32_t>(CipherAccel::kAesNi);
}

// Lengths accepted by ECB and CBC: whole blocks, or (final call) at least one
// block with a partial tail completed by ciphertext stealing. Returns the
// number of whole blocks processed before the stealing pair, and the tail.
bool split_for_stealing(uint32_t len, uint32_t b, cipher_flag_t flag, uint32_t& plain_blocks, uint32_t& tail) {
  tail = len % b;
  if (tail != 0 && (flag != CIPHER_FLAG_IS_FINAL || len < b)) return false;
  plain_blocks = len / b - (tail != 0 ? 1 : 0);
  return true;
}

void ecb_blocks(blockcipher_ctx_t* ctx, fp_algo_calc_t algo, const uint8_t* in, uint8_t* out, uint32_t blocks) {
#if QZ_HAVE_AESNI
  if (bulk_aesni(ctx)) {
    if (ctx->dir == CIPHER_DIR_ENC) {
      aesni::ecb_encrypt(ctx->key_len, ctx->round_key, in, out, blocks);
    } else {
      aesni::ecb_decrypt(ctx->key_len, ctx->round_key, in, out, blocks);
    }
    return;
  }
#endif
  const uint32_t b = ctx->block_size;
  for (uint32_t i = 0; i < blocks; ++i) algo(0, ctx->key_len, in + i * b, ctx->round_key, out + i * b);
}

// One CBC block: out = E(in XOR iv), iv = out.
void mode_cbc_block_enc(blockcipher_ctx_t* ctx, fp_algo_calc_t algo, const uint8_t* in, uint8_t* out) {
  const uint32_t b = ctx->block_size;
  mixup_bytes(ctx->iv, ctx->iv, in, b);
  algo(0, ctx->key_len, ctx->iv, ctx->round_key, out);
  std::memcpy(ctx->iv, out, b);
}

// One CBC block: out = D(in) XOR iv, iv = in (saved first: in place allowed).
void mode_cbc_block_dec(blockcipher_ctx_t* ctx, fp_algo_calc_t algo, const uint8_t* in, uint8_t* out) {
  const uint32_t b = ctx->block_size;
  uint8_t saved[16];
  std::memcpy(saved, in, b);
  algo(0, ctx->key_len, in, ctx->round_key, out);
  mixup_bytes(out, out, ctx->iv, b);
  std::memcpy(ctx->iv, saved, b);
}

void cbc_enc_blocks(blockcipher_ctx_t* ctx, fp_algo_calc_t algo, const uint8_t* in, uint8_t* out, uint32_t blocks) {
#if QZ_HAVE_AESNI
  if (bulk_aesni(ctx)) {
    aesni::cbc_encrypt(ctx->key_len, ctx->round_key, ctx->iv, in, out, blocks);
    return;
  }
#endif
  const uint32_t b = ctx->block_size;
  for (uint32_t i = 0; i < blocks; ++i, in += b, out += b) mode_cbc_block_enc(ctx, algo, in, out);
}

void cbc_dec_blocks(blockcipher_ctx_t* ctx, fp_algo_calc_t algo, const uint8_t* in, uint8_t* out, uint32_t blocks) {
#if QZ_HAVE_AESNI
  if (bulk_aesni(ctx)) {
    aesni::cbc_decrypt(ctx->key_len, ctx->round_key, ctx->iv, in, out, blocks);
    return;
  }
#endif
  const uint32_t b = ctx->block_size;
  for (uint32_t i = 0; i < blocks; ++i, in += b, out += b) mode_cbc_block_dec(ctx, algo, in, out);
}

}  // namespace

// ---- ECB and CBC ----------------------------------------------------------

quarzel_ret_t mode_ecb(blockcipher_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* in, uint8_t* out,
                       fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  uint32_t blocks, t;
  if (!split_for_stealing(len, b, flag, blocks, t)) return mode_err(kFnEcb, kReasonLength);
  ecb_blocks(ctx, algo, in, out, blocks);
  if (t == 0) return 0;
  // Stealing over the last full block and the t-byte tail; the same steps
  // invert themselves, so both directions run them.
  const uint32_t off = blocks * b;
  SecretArray<32> work;
  uint8_t* x = work.data();
  uint8_t* tt = work.data() + 16;
  algo(0, ctx->key_len, in + off, ctx->round_key, x);
  std::memcpy(tt, in + off + b, t);
  std::memcpy(tt + t, x + t, b - t);
  std::memcpy(out + off + b, x, t);
  algo(0, ctx->key_len, tt, ctx->round_key, out + off);
  return 0;
}

quarzel_ret_t mode_cbc_enc(blockcipher_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* in,
                           uint8_t* out, fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  uint32_t blocks, t;
  if (!split_for_stealing(len, b, flag, blocks, t)) return mode_err(kFnCbcEnc, kReasonLength);
  cbc_enc_blocks(ctx, algo, in, out, blocks);
  if (t == 0) return 0;
  // CS2: the full block E(P(n) zero-padded XOR X) first, then the first t
  // bytes of X = E(P(n-1) XOR iv): two CBC blocks.
  const uint32_t off = blocks * b;
  SecretArray<32> work;
  uint8_t* x = work.data();
  uint8_t* last = work.data() + 16;
  std::memcpy(last, in + off + b, t);  // read the tail before any write (in place)
  mode_cbc_block_enc(ctx, algo, in + off, x);
  std::memcpy(out + off + b, x, t);
  mode_cbc_block_enc(ctx, algo, last, out + off);
  return 0;
}

quarzel_ret_t mode_cbc_dec(blockcipher_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* in,
                           uint8_t* out, fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  uint32_t blocks, t;
  if (!split_for_stealing(len, b, flag, blocks, t)) return mode_err(kFnCbcDec, kReasonLength);
  cbc_dec_blocks(ctx, algo, in, out, blocks);
  if (t == 0) return 0;
  // Input: the full block Y, then the t-byte head H of X.
  const uint32_t off = blocks * b;
  SecretArray<64> work;
  uint8_t* y = work.data();
  uint8_t* h = work.data() + 16;
  uint8_t* z = work.data() + 32;
  uint8_t* prev_iv = work.data() + 48;
  std::memcpy(y, in + off, b);
  std::memcpy(h, in + off + b, t);
  std::memcpy(prev_iv, ctx->iv, b);
  // Y as a CBC block chained on H || 0: P(n) in its first t bytes, X's tail
  // after them.
  std::memset(ctx->iv, 0, b);
  std::memcpy(ctx->iv, h, t);
  mode_cbc_block_dec(ctx, algo, y, z);
  std::memcpy(out + off + b, z, t);
  std::memcpy(z, h, t);  // z is now X
  // X chained on the IV before the pair; the context keeps Y as its IV.
  std::memcpy(ctx->iv, prev_iv, b);
  mode_cbc_block_dec(ctx, algo, z, out + off);
  std::memcpy(ctx->iv, y, b);
  return 0;
}

// ---- PCBC -----------------------------------------------------------------

quarzel_ret_t mode_pcbc_enc(blockcipher_ctx_t* ctx, cipher_flag_t, uint32_t len, const uint8_t* in, uint8_t* out,
                            fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  SecretArray<16> p;
  for (; len >= b; len -= b, in += b, out += b) {
    std::memcpy(p.data(), in, b);
    mixup_bytes(ctx->iv, ctx->iv, p.data(), b);
    algo(0, ctx->key_len, ctx->iv, ctx->round_key, out);
    mixup_bytes(ctx->iv, p.data(), out, b);
  }
  return len == 0 ? 0 : mode_err(kFnPcbcEnc, kReasonLength);
}

quarzel_ret_t mode_pcbc_dec(blockcipher_ctx_t* ctx, cipher_flag_t, uint32_t len, const uint8_t* in, uint8_t* out,
                            fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  uint8_t c[16];
  for (; len >= b; len -= b, in += b, out += b) {
    std::memcpy(c, in, b);
    algo(0, ctx->key_len, c, ctx->round_key, out);
    mixup_bytes(out, out, ctx->iv, b);
    mixup_bytes(ctx->iv, out, c, b);
  }
  return len == 0 ? 0 : mode_err(kFnPcbcDec, kReasonLength);
}

// ---- CFB ------------------------------------------------------------------

namespace {

// Segment lengths of CFB: 8, 64 and 128 bits, never more than the block.
bool cfb_segment_ok(uint32_t seg, uint32_t b) { return (seg == 1 || seg == 8 || seg == 16) && seg <= b; }

// Shifts the register left by `seg` bytes and appends the ciphertext segment.
void cfb_shift(blockcipher_ctx_t* ctx, uint32_t seg, const uint8_t* c) {
  const uint32_t b = ctx->block_size;
  std::memmove(ctx->iv, ctx->iv + seg, b - seg);
  std::memcpy(ctx->iv + b - seg, c, seg);
}

}  // namespace

quarzel_ret_t mode_cfb_enc(blockcipher_ctx_t* ctx, uint32_t seg, uint32_t len, const uint8_t* in, uint8_t* out,
                           fp_algo_calc_t algo) {
  if (!cfb_segment_ok(seg, ctx->block_size)) return mode_err(kFnCfbEnc, kReasonSegment);
  SecretArray<16> k;
  for (; len >= seg; len -= seg, in += seg, out += seg) {
    algo(0, ctx->key_len, ctx->iv, ctx->round_key, k.data());
    mixup_bytes(out, in, k.data(), seg);
    cfb_shift(ctx, seg, out);
  }
  return len == 0 ? 0 : mode_err(kFnCfbEnc, kReasonLength);
}

quarzel_ret_t mode_cfb_dec(blockcipher_ctx_t* ctx, uint32_t seg, uint32_t len, const uint8_t* in, uint8_t* out,
                           fp_algo_calc_t algo) {
  if (!cfb_segment_ok(seg, ctx->block_size)) return mode_err(kFnCfbDec, kReasonSegment);
  SecretArray<16> k;
  uint8_t c[16];
  for (; len >= seg; len -= seg, in += seg, out += seg) {
    algo(0, ctx->key_len, ctx->iv, ctx->round_key, k.data());
    std::memcpy(c, in, seg);  // the ciphertext, before an in-place write
    mixup_bytes(out, in, k.data(), seg);
    cfb_shift(ctx, seg, c);
  }
  return len == 0 ? 0 : mode_err(kFnCfbDec, kReasonLength);
}

#define QZ_CFB_ROUTINE(name, base, seg)                                                                        \
  quarzel_ret_t name(blockcipher_ctx_t* ctx, cipher_flag_t, uint32_t len, const uint8_t* in, uint8_t* out,     \
                     fp_algo_calc_t algo) {                                                                    \
    return base(ctx, seg, len, in, out, algo);                                                                 \
  }
QZ_CFB_ROUTINE(mode_cfb8_enc, mode_cfb_enc, 1)
QZ_CFB_ROUTINE(mode_cfb8_dec, mode_cfb_dec, 1)
QZ_CFB_ROUTINE(mode_cfb64_enc, mode_cfb_enc, 8)
QZ_CFB_ROUTINE(mode_cfb64_dec, mode_cfb_dec, 8)
QZ_CFB_ROUTINE(mode_cfb128_enc, mode_cfb_enc, 16)
QZ_CFB_ROUTINE(mode_cfb128_dec, mode_cfb_dec, 16)
#undef QZ_CFB_ROUTINE

// ---- OFB and CTR ----------------------------------------------------------

namespace {

void ofb_iv_calc(uint8_t* iv, const uint8_t* ks, uint32_t b) { std::memcpy(iv, ks, b); }
void ctr_iv_calc(uint8_t* iv, const uint8_t*, uint32_t b) { counter_increments_one(iv, b); }

// One continuous key stream across calls: unused bytes of the last key-stream
// block stay in res_ks (its last res_kslen bytes) for the next call.
quarzel_ret_t mode_ksm(blockcipher_ctx_t* ctx, bool ctr, uint32_t len, const uint8_t* in, uint8_t* out,
                       fp_algo_calc_t algo) {
  const uint32_t b = ctx->block_size;
  if (ctx->res_kslen > b) return mode_err(kFnKsm, kReasonLength);  // a corrupted context
  const uint32_t use = ctx->res_kslen < len ? ctx->res_kslen : len;
  mixup_bytes(out, in, ctx->res_ks + (b - ctx->res_kslen), use);
  ctx->res_kslen -= use;
  in += use, out += use, len -= use;
  if (len == 0) return 0;

  const fp_ksm_iv_calc_t step = ctr ? ctr_iv_calc : ofb_iv_calc;
  uint32_t blocks = len / b;
  const uint32_t tail = len % b;
#if QZ_HAVE_AESNI
  if (ctr && bulk_aesni(ctx)) {
    aesni::ctr_xor(ctx->key_len, ctx->round_key, ctx->iv, in, out, blocks);
    in += blocks * b, out += blocks * b;
    blocks = 0;
  }
#endif
  SecretArray<16> k;
  for (; blocks > 0; --blocks, in += b, out += b) {
    algo(0, ctx->key_len, ctx->iv, ctx->round_key, k.data());
    step(ctx->iv, k.data(), b);
    mixup_bytes(out, in, k.data(), b);
  }
  if (tail != 0) {
    algo(0, ctx->key_len, ctx->iv, ctx->round_key, ctx->res_ks);
    step(ctx->iv, ctx->res_ks, b);
    mixup_bytes(out, in, ctx->res_ks, tail);
    ctx->res_kslen = b - tail;
  }
  return 0;
}

}  // namespace

quarzel_ret_t mode_ofb(blockcipher_ctx_t* ctx, cipher_flag_t, uint32_t len, const uint8_t* in, uint8_t* out,
                       fp_algo_calc_t algo) {
  return mode_ksm(ctx, false, len, in, out, algo);
}

quarzel_ret_t mode_ctr(blockcipher_ctx_t* ctx, cipher_flag_t, uint32_t len, const uint8_t* in, uint8_t* out,
                       fp_algo_calc_t algo) {
  return mode_ksm(ctx, true, len, in, out, algo);
}

}  // namespace quarzel::bc
