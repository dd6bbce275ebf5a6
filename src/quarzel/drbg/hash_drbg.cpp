// Hash_DRBG of SP 800-90A (10.1.1) with Hash_df (10.3.1) and Hashgen.
#include <cstring>

#include "drbg/drbg_internal.h"
#include "drbg/hasher.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {
namespace {

constexpr uint32_t kMaxSeedBytes = sizeof(vec_seedlen_t);

// Hashgen (SP 800-90A 10.1.1.4): Hash(data), Hash(data + 1), ... with data
// starting at V, cut to out_bits.
quarzel_ret_t hashgen(hash_type_t hash_type, uint32_t seed_bits, const vec_seedlen_t& v, uint32_t out_bits,
                      uint8_t* out) {
  const uint32_t seed_bytes = seed_bits / 8, out_bytes = out_bits / 8;
  vec_seedlen_t one;
  int2seedvec(1, seed_bits, one);
  SecretArray<kMaxSeedBytes> data;
  SecretArray<HASH_MAX_DIGEST_SIZE> block;
  std::memcpy(data.data(), v, seed_bytes);
  for (uint32_t done = 0; done < out_bytes;) {
    uint32_t n = 0;
    if (quarzel_ret_t ret = Hasher(hash_type).add(seed_bytes, data.data()).finish(block.data(), &n); ret != 0)
      return ret;
    const uint32_t take = out_bytes - done < n ? out_bytes - done : n;
    std::memcpy(out + done, block.data(), take);
    done += take;
    seed_add(data.data(), seed_bytes, one, seed_bytes);
  }
  return 0;
}

// Hash(prefix || V || in1 || in2) into `digest` (at most 64 bytes).
quarzel_ret_t hash_with_prefix(const hash_drbg_ctx_t* st, uint8_t prefix, uint32_t in_bytes, const uint8_t* in,
                               uint8_t* digest, uint32_t* digest_len) {
  return Hasher(st->hash_type)
      .add(1, &prefix)
      .add(st->seed_len / 8, st->V)
      .add(in_bytes, in)
      .finish(digest, digest_len);
}

// C = Hash_df(0x00 || V, seedlen): the second half of instantiate and reseed.
quarzel_ret_t derive_c(hash_drbg_ctx_t* st) {
  const uint8_t zero = 0;
  return hash_df(st->hash_type, 8, &zero, st->seed_len, st->V, 0, nullptr, 0, nullptr, st->seed_len, st->C);
}

}  // namespace
}  // namespace quarzel::drbg

using namespace quarzel::drbg;

extern "C" {

quarzel_ret_t hash_df(hash_type_t hash_type, uint32_t in1_bits, const uint8_t* in1, uint32_t in2_bits,
                      const uint8_t* in2, uint32_t in3_bits, const uint8_t* in3, uint32_t in4_bits,
                      const uint8_t* in4, uint32_t out_bits, uint8_t* out) {
  constexpr uint32_t kFn = DRBG_FN_HASH_DF;
  uint32_t digest_len = 0;
  if (quarzel_ret_t ret = hash_get_length(hash_type, &digest_len); ret != 0) return ret;
  if (uint64_t{out_bits} > uint64_t{digest_len} * 8 * 255) return err(kFn, QZ_R_UNSUPPORTED);
  if ((in1_bits | in2_bits | in3_bits | in4_bits | out_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (null_with_data(in1_bits, in1) || null_with_data(in2_bits, in2) || null_with_data(in3_bits, in3) ||
      null_with_data(in4_bits, in4) || null_with_data(out_bits, out))
    return err(kFn, QZ_R_NULL);

  uint8_t bits_be[4];
  u32_to_be(out_bits, bits_be);
  const uint32_t out_bytes = out_bits / 8;
  quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> block;
  uint8_t counter = 1;
  for (uint32_t done = 0; done < out_bytes; ++counter) {
    uint32_t n = 0;
    const quarzel_ret_t ret = Hasher(hash_type)
                                  .add(1, &counter)
                                  .add(4, bits_be)
                                  .add(in1_bits / 8, in1)
                                  .add(in2_bits / 8, in2)
                                  .add(in3_bits / 8, in3)
                                  .add(in4_bits / 8, in4)
                                  .finish(block.data(), &n);
    if (ret != 0) return ret;
    const uint32_t take = out_bytes - done < n ? out_bytes - done : n;
    std::memcpy(out + done, block.data(), take);
    done += take;
  }
  return 0;
}

quarzel_ret_t hash_drbg_instantiate(hash_drbg_ctx_t* st, hash_type_t hash_type, uint32_t entropy_bits,
                                    const uint8_t* entropy, uint32_t nonce_bits, const uint8_t* nonce,
                                    uint32_t perso_bits, const uint8_t* perso) {
  constexpr uint32_t kFn = DRBG_FN_HASH_INSTANTIATE;
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(nonce_bits, nonce) ||
      null_with_data(perso_bits, perso))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | nonce_bits | perso_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  const HashParams* p = hash_params(hash_type);
  if (p == nullptr) return err(kFn, QZ_R_DRBG_HASH);
  if (!seed_lengths_ok(entropy_bits, nonce_bits, p->min_entropy_bits, p->min_nonce_bits))
    return err(kFn, QZ_R_LEN_RANGE);

  quarzel::secure_wipe(st, sizeof *st);
  st->hash_type = hash_type;
  st->seed_len = p->seed_bits;
  quarzel_ret_t ret = hash_df(hash_type, entropy_bits, entropy, nonce_bits, nonce, perso_bits, perso, 0,
                              nullptr, st->seed_len, st->V);
  if (ret == 0) ret = derive_c(st);
  if (ret != 0) {
    quarzel::secure_wipe(st, sizeof *st);
    return ret;
  }
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t hash_drbg_generate(hash_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin,
                                 uint32_t out_bits, uint8_t* out) {
  constexpr uint32_t kFn = DRBG_FN_HASH_GENERATE;
  if (st == nullptr || null_with_data(addin_bits, addin) || null_with_data(out_bits, out))
    return err(kFn, QZ_R_NULL);
  if ((addin_bits | out_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (out_bits == 0 || out_bits > DRBG_HASH_MAX_REQUEST_BITS) return err(kFn, QZ_R_LEN_RANGE);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL) return err(kFn, QZ_R_COUNTER);
  if (hash_params(st->hash_type) == nullptr || st->seed_len / 8 > kMaxSeedBytes) return err(kFn, QZ_R_DRBG_HASH);

  const uint32_t seed_bytes = st->seed_len / 8;
  quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> digest;
  uint32_t n = 0;
  if (addin_bits != 0) {
    // w = Hash(0x02 || V || additional_input); V = V + w.
    if (quarzel_ret_t ret = hash_with_prefix(st, 0x02, addin_bits / 8, addin, digest.data(), &n); ret != 0)
      return ret;
    seed_add(st->V, seed_bytes, digest.data(), n);
  }
  if (quarzel_ret_t ret = hashgen(st->hash_type, st->seed_len, st->V, out_bits, out); ret != 0) return ret;
  // H = Hash(0x03 || V); V = V + H + C + reseed_counter.
  if (quarzel_ret_t ret = hash_with_prefix(st, 0x03, 0, nullptr, digest.data(), &n); ret != 0) return ret;
  vec_seedlen_t counter;
  int2seedvec(st->reseed_ctr, st->seed_len, counter);
  seed_add(st->V, seed_bytes, digest.data(), n);
  seed_add(st->V, seed_bytes, st->C, seed_bytes);
  seed_add(st->V, seed_bytes, counter, seed_bytes);
  ++st->reseed_ctr;
  return 0;
}

quarzel_ret_t hash_drbg_reseed(hash_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                               uint32_t addin_bits, const uint8_t* addin) {
  constexpr uint32_t kFn = DRBG_FN_HASH_RESEED;
  if (st == nullptr || null_with_data(entropy_bits, entropy) || null_with_data(addin_bits, addin))
    return err(kFn, QZ_R_NULL);
  if ((entropy_bits | addin_bits) % 8 != 0) return err(kFn, QZ_R_BITLEN);
  if (st->reseed_ctr == 0 || st->reseed_ctr > DRBG_RESEED_INTERVAL + 1) return err(kFn, QZ_R_COUNTER);
  const HashParams* p = hash_params(st->hash_type);
  if (p == nullptr) return err(kFn, QZ_R_DRBG_HASH);
  if (entropy_bits < p->min_entropy_bits) return err(kFn, QZ_R_LEN_RANGE);

  // V = Hash_df(0x01 || V || entropy || additional_input, seedlen).
  quarzel::SecretArray<kMaxSeedBytes> v;
  const uint8_t one = 0x01;
  if (quarzel_ret_t ret = hash_df(st->hash_type, 8, &one, st->seed_len, st->V, entropy_bits, entropy,
                                  addin_bits, addin, st->seed_len, v.data());
      ret != 0)
    return ret;
  std::memcpy(st->V, v.data(), st->seed_len / 8);
  if (quarzel_ret_t ret = derive_c(st); ret != 0) return ret;
  st->reseed_ctr = 1;
  return 0;
}

quarzel_ret_t hash_drbg_uninstantiate(hash_drbg_ctx_t* st) {
  if (st != nullptr) quarzel::secure_wipe(st, sizeof *st);
  return 0;
}

}  // extern "C"
