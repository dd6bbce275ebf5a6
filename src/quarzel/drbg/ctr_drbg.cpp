// CTR_DRBG of SP 800-90A (10.2.1) over AES-128/192/256 and three-key TDES.
//
// The counter field is the whole block, so the counter blocks V + 1, V + 2, ...
// encrypted under Key are exactly the key stream of CTR mode started at V + 1:
// one CTR-mode pass (one key schedule, pipelined blocks) yields the output and
// the update's blocks of a generate call together.
#include <cstring>

#include "blockcipher/cipher_info.h"
#include "drbg/ctr_internal.h"
#include "drbg/drbg_internal.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {
namespace {

// Key stream of the current Key from V + 1 on; V advances with every block.
class CounterStream {
 public:
  explicit CounterStream(ctr_drbg_ctx_t* st) : st_(st) {
    SecretArray<kCtrMaxBlock> start;
    std::memcpy(start.data(), st->v, st->v_len);
    seed_add_u32(start.data(), st->v_len, 1);
    ret_ = blockcipher_init(&bc_, st->type, CIPHER_MODE_CTR, CIPHER_DIR_ENC, st->key_len, st->key, st->v_len,
                            start.data());
  }
  ~CounterStream() { secure_wipe(&bc_, sizeof bc_); }
  CounterStream(const CounterStream&) = delete;
  CounterStream& operator=(const CounterStream&) = delete;

  // Writes `n` whole blocks of key stream.
  [[nodiscard]] quarzel_ret_t blocks(uint32_t n, uint8_t* out) {
    if (ret_ != 0 || n == 0) return ret_;
    const uint32_t len = n * st_->v_len;
    std::memset(out, 0, len);
    uint32_t out_len = len;
    ret_ = blockcipher_update(&bc_, len, out, &out_len, out);
    if (ret_ == 0) seed_add_u32(st_->v, st_->v_len, n);
    return ret_;
  }

 private:
  ctr_drbg_ctx_t* st_;
  blockcipher_ctx_t bc_{};
  quarzel_ret_t ret_;
};

uint32_t seed_blocks(const ctr_drbg_ctx_t* st) { return (st->seed_len + st->v_len - 1) / st->v_len; }

// The update's tail: temp (seed_len bytes of key stream) XOR provided gives the
// new Key || V.
void load_key_v(ctr_drbg_ctx_t* st, const CtrParams& p, uint8_t* temp, const uint8_t* provided) {
  bc::mixup_bytes(temp, temp, provided, p.seed_len);
  set_cipher_key(p, temp, st->key);
  std::memcpy(st->v, temp + p.seed_key_len, p.v_len);
}

// Seed material without df: `extra` (at most seed_len bytes) zero-padded to
// seed_len, XORed with `entropy` when given.
void pad_material(uint32_t seed_len, const uint8_t* entropy, uint32_t extra_len, const uint8_t* extra,
                  uint8_t* out) {
  std::memset(out, 0, seed_len);
  if (extra_len != 0) std::memcpy(out, extra, extra_len);
  if (entropy != nullptr) bc::mixup_bytes(out, out, entropy, seed_len);
}

}  // namespace
}  // namespace quarzel::drbg

using namespace quarzel::drbg;

extern "C" {

quarzel_ret_t ctr_drbg_update(ctr_drbg_ctx_t* st, const uint8_t* provided) {
  constexpr uint32_t kFn = DRBG_FN_CTR_UPDATE;
  if (st == nullptr || provided == nullptr) return err(kFn, QZ_R_NULL);
  const CtrParams* p = ctr_params(st->type);
  if (p == nullptr || p->seed_len != st->seed_len) return err(kFn, QZ_R_DRBG_CIPHER);
  quarzel::SecretArray<kCtrMaxSeedLen> temp;
  if (quarzel_ret_t ret = CounterStream(st).blocks(seed_blocks(st), temp.data()); ret != 0) return ret;
  load_key_v(st, *p, temp.data(), provided);
  return 0;
}

quarzel_ret_t ctr_drbg_instantiate(ctr_drbg_ctx_t* st, cipher_type_t type, ctr_drbg_df_t df,
                                   uint32_t entropy_bits, const uint8_t* entropy, uint32_t nonce_bits,
                                   const uint8_t* nonce, uint32_t perso_bits, const uint8_t* perso) {
  constexpr uint32_t kFn = DRBG_FN_CTR_INSTANTIATE;
  if (df != CTR_DRBG_NO_DF && df != CTR_DRBG_WITH_DF) return err(kFn, QZ_R_UNSUPPORTED);
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(perso_bits, perso) ||
      (df == CTR_DRBG_WITH_DF && null_with_data(nonce_bits, nonce)))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | nonce_bits | perso_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  const CtrParams* p = ctr_params(type);
  if (p == nullptr) return err(kFn, QZ_R_DRBG_CIPHER);
  if (df == CTR_DRBG_WITH_DF) {
    if (!seed_lengths_ok(entropy_bits, nonce_bits, p->min_entropy_bits, p->min_nonce_bits))
      return err(kFn, QZ_R_LEN_RANGE);
  } else if (entropy_bits != p->seed_len * 8 || perso_bits > p->seed_len * 8) {
    // Without df the entropy is exactly seedlen and the personalisation string
    // is XORed into it, so it may not be longer.
    return err(kFn, QZ_R_LEN_RANGE);
  }

  quarzel::secure_wipe(st, sizeof *st);
  st->type = type;
  st->df = df;
  st->ctr_bit_len = p->v_len * 8;
  st->v_len = p->v_len;
  st->key_len = p->key_len;
  st->seed_len = p->seed_len;
  // Key = 0, V = 0; the block cipher still needs a well-formed TDES key.
  const uint8_t zero_key[32] = {};
  set_cipher_key(*p, zero_key, st->key);

  quarzel::SecretArray<kCtrMaxSeedLen> material;
  quarzel_ret_t ret = 0;
  if (df == CTR_DRBG_WITH_DF)
    ret = block_cipher_df(st, entropy_bits, entropy, nonce_bits, nonce, perso_bits, perso, p->seed_len,
                          material.data());
  else
    pad_material(p->seed_len, entropy, perso_bits / 8, perso, material.data());
  if (ret == 0) ret = ctr_drbg_update(st, material.data());
  if (ret != 0) {
    quarzel::secure_wipe(st, sizeof *st);
    return ret;
  }
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t ctr_drbg_generate(ctr_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin, uint32_t out_bits,
                                uint8_t* out) {
  constexpr uint32_t kFn = DRBG_FN_CTR_GENERATE;
  if (st == nullptr || null_with_data(out_bits, out) || null_with_data(addin_bits, addin))
    return err(kFn, QZ_R_NULL);
  if ((addin_bits | out_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (out_bits == 0 || out_bits > DRBG_CTR_MAX_REQUEST_BITS) return err(kFn, QZ_R_LEN_RANGE);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL) return err(kFn, QZ_R_COUNTER);
  const CtrParams* p = ctr_params(st->type);
  if (p == nullptr || p->seed_len != st->seed_len) return err(kFn, QZ_R_DRBG_CIPHER);
  if (st->df == CTR_DRBG_NO_DF && addin_bits > p->seed_len * 8) return err(kFn, QZ_R_LEN_RANGE);

  // Additional input counts as present by its length (an empty string is the
  // Null of SP 800-90A), whatever the pointer.
  quarzel::SecretArray<kCtrMaxSeedLen> add;
  if (addin_bits != 0) {
    quarzel_ret_t ret = 0;
    if (st->df == CTR_DRBG_WITH_DF)
      ret = block_cipher_df(st, addin_bits, addin, 0, nullptr, 0, nullptr, p->seed_len, add.data());
    else
      pad_material(p->seed_len, nullptr, addin_bits / 8, addin, add.data());
    if (ret == 0) ret = ctr_drbg_update(st, add.data());
    if (ret != 0) return ret;
  }

  // Whole output blocks go straight to the caller; the last partial block and
  // the update's blocks come from the same key stream into a local buffer.
  const uint32_t out_bytes = out_bits / 8;
  const uint32_t full = out_bytes / p->v_len;
  const uint32_t tail = out_bytes % p->v_len;
  const uint32_t tail_blocks = tail != 0 ? 1 : 0;
  quarzel::SecretArray<kCtrMaxBlock + kCtrMaxSeedLen> rest;
  CounterStream stream(st);
  quarzel_ret_t ret = stream.blocks(full, out);
  if (ret == 0) ret = stream.blocks(tail_blocks + seed_blocks(st), rest.data());
  if (ret != 0) return ret;
  std::memcpy(out + full * p->v_len, rest.data(), tail);
  load_key_v(st, *p, rest.data() + tail_blocks * p->v_len, add.data());
  ++st->reseed_ctr;
  return 0;
}

quarzel_ret_t ctr_drbg_reseed(ctr_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                              uint32_t addin_bits, const uint8_t* addin) {
  constexpr uint32_t kFn = DRBG_FN_CTR_RESEED;
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(addin_bits, addin))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | addin_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL + 1) return err(kFn, QZ_R_COUNTER);
  const CtrParams* p = ctr_params(st->type);
  if (p == nullptr || p->seed_len != st->seed_len) return err(kFn, QZ_R_DRBG_CIPHER);
  if (st->df == CTR_DRBG_WITH_DF) {
    if (entropy_bits < p->min_entropy_bits) return err(kFn, QZ_R_LEN_RANGE);
  } else if (entropy_bits != p->seed_len * 8 || addin_bits > p->seed_len * 8) {
    return err(kFn, QZ_R_LEN_RANGE);
  }

  quarzel::SecretArray<kCtrMaxSeedLen> material;
  quarzel_ret_t ret = 0;
  if (st->df == CTR_DRBG_WITH_DF)
    ret = block_cipher_df(st, entropy_bits, entropy, addin_bits, addin, 0, nullptr, p->seed_len,
                          material.data());
  else
    pad_material(p->seed_len, entropy, addin_bits / 8, addin, material.data());
  if (ret == 0) ret = ctr_drbg_update(st, material.data());
  if (ret != 0) return ret;
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t ctr_drbg_uninstantiate(ctr_drbg_ctx_t* st) {
  if (st != nullptr) quarzel::secure_wipe(st, sizeof *st);
  return 0;
}

}  // extern "C"
