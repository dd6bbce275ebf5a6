// HMAC_DRBG of SP 800-90A (10.1.2).
#include <cstring>

#include "drbg/drbg_internal.h"
#include "drbg/hasher.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {
namespace {

// V and Key hold one digest of any hash the mechanism takes.
static_assert(sizeof(vec_outlen_t) == HASH_MAX_DIGEST_SIZE);

struct Input {
  uint32_t bits;
  const uint8_t* data;
};

// One half of HMAC_DRBG_Update: Key = HMAC(Key, V || sep || data); V = HMAC(Key, V).
quarzel_ret_t update_half(hmac_drbg_ctx_t* st, uint8_t sep, const Input (&in)[3]) {
  const uint32_t len = st->out_len / 8;
  SecretArray<sizeof(vec_outlen_t)> key;
  Hmac mac(st->hash_type, len, st->Key);
  mac.add(len, st->V).add(1, &sep);
  for (const Input& i : in) mac.add(i.bits / 8, i.data);
  if (quarzel_ret_t ret = mac.finish(key.data(), len); ret != 0) return ret;
  std::memcpy(st->Key, key.data(), len);
  return Hmac(st->hash_type, len, st->Key).add(len, st->V).finish(st->V, len);
}

// HMAC_DRBG_Update (SP 800-90A 10.1.2.2) with provided data in1 || in2 || in3.
quarzel_ret_t hmac_drbg_update(hmac_drbg_ctx_t* st, Input in1, Input in2, Input in3) {
  const Input in[3] = {in1, in2, in3};
  if (quarzel_ret_t ret = update_half(st, 0x00, in); ret != 0) return ret;
  if ((in1.bits | in2.bits | in3.bits) == 0) return 0;
  return update_half(st, 0x01, in);
}

}  // namespace
}  // namespace quarzel::drbg

using namespace quarzel::drbg;

extern "C" {

quarzel_ret_t hmac_drbg_instantiate(hmac_drbg_ctx_t* st, hash_type_t hash_type, uint32_t entropy_bits,
                                    const uint8_t* entropy, uint32_t nonce_bits, const uint8_t* nonce,
                                    uint32_t perso_bits, const uint8_t* perso) {
  constexpr uint32_t kFn = DRBG_FN_HMAC_INSTANTIATE;
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(nonce_bits, nonce) ||
      null_with_data(perso_bits, perso))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | nonce_bits | perso_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  uint32_t digest_len = 0;
  if (quarzel_ret_t ret = hash_get_length(hash_type, &digest_len); ret != 0) return ret;
  const HashParams* p = hash_params(hash_type);
  if (p == nullptr) return err(kFn, QZ_R_DRBG_HASH);
  if (!seed_lengths_ok(entropy_bits, nonce_bits, p->min_entropy_bits, p->min_nonce_bits))
    return err(kFn, QZ_R_LEN_RANGE);

  quarzel::secure_wipe(st, sizeof *st);
  st->hash_type = hash_type;
  st->out_len = p->digest_bits;
  std::memset(st->V, 0x01, p->digest_bits / 8);  // Key stays all zero
  if (quarzel_ret_t ret = hmac_drbg_update(st, {entropy_bits, entropy}, {nonce_bits, nonce}, {perso_bits, perso});
      ret != 0) {
    quarzel::secure_wipe(st, sizeof *st);
    return ret;
  }
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t hmac_drbg_generate(hmac_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin,
                                 uint32_t out_bits, uint8_t* out) {
  constexpr uint32_t kFn = DRBG_FN_HMAC_GENERATE;
  if (st == nullptr || null_with_data(addin_bits, addin) || null_with_data(out_bits, out))
    return err(kFn, QZ_R_NULL);
  if ((addin_bits | out_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (out_bits == 0 || out_bits > DRBG_HASH_MAX_REQUEST_BITS) return err(kFn, QZ_R_LEN_RANGE);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL) return err(kFn, QZ_R_COUNTER);
  const HashParams* p = hash_params(st->hash_type);
  if (p == nullptr || p->digest_bits != st->out_len) return err(kFn, QZ_R_DRBG_HASH);

  const Input add{addin_bits, addin}, none{0, nullptr};
  if (addin_bits != 0) {
    if (quarzel_ret_t ret = hmac_drbg_update(st, add, none, none); ret != 0) return ret;
  }
  const uint32_t len = st->out_len / 8;
  const uint32_t out_bytes = out_bits / 8;
  for (uint32_t done = 0; done < out_bytes;) {
    // V = HMAC(Key, V); the output takes V, the last block cut short.
    if (quarzel_ret_t ret = Hmac(st->hash_type, len, st->Key).add(len, st->V).finish(st->V, len); ret != 0)
      return ret;
    const uint32_t take = out_bytes - done < len ? out_bytes - done : len;
    std::memcpy(out + done, st->V, take);
    done += take;
  }
  if (quarzel_ret_t ret = hmac_drbg_update(st, add, none, none); ret != 0) return ret;
  ++st->reseed_ctr;
  return 0;
}

quarzel_ret_t hmac_drbg_reseed(hmac_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                               uint32_t addin_bits, const uint8_t* addin) {
  constexpr uint32_t kFn = DRBG_FN_HMAC_RESEED;
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(addin_bits, addin))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | addin_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL + 1) return err(kFn, QZ_R_COUNTER);
  const HashParams* p = hash_params(st->hash_type);
  if (p == nullptr || p->digest_bits != st->out_len) return err(kFn, QZ_R_DRBG_HASH);
  if (entropy_bits < p->min_entropy_bits) return err(kFn, QZ_R_LEN_RANGE);

  if (quarzel_ret_t ret = hmac_drbg_update(st, {entropy_bits, entropy}, {addin_bits, addin}, {0, nullptr});
      ret != 0)
    return ret;
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t hmac_drbg_uninstantiate(hmac_drbg_ctx_t* st) {
  if (st != nullptr) quarzel::secure_wipe(st, sizeof *st);
  return 0;
}

}  // extern "C"
