// Mask generation: MGF1 (RFC 8017 B.2.1) over any hash of the library, with
// an optional shorter block length, and SHAKE output used directly.
#include <cstring>

#include "quarzel/rsa.h"
#include "quarzel/secure.h"
#include "rsa/rsa_internal.h"

namespace {

constexpr uint32_t FN_MGF = 0x0410;

// The MGF1 choices; each value is the hash_type_t of its hash.
constexpr rsa_mgf_t kMgf1Types[] = {
    RSA_MGF_MGF1_SHA1,         RSA_MGF_MGF1_SHA2_224,     RSA_MGF_MGF1_SHA2_256,
    RSA_MGF_MGF1_SHA2_384,     RSA_MGF_MGF1_SHA2_512,     RSA_MGF_MGF1_SHA2_512_224,
    RSA_MGF_MGF1_SHA2_512_256, RSA_MGF_MGF1_SHA3_224,     RSA_MGF_MGF1_SHA3_256,
    RSA_MGF_MGF1_SHA3_384,     RSA_MGF_MGF1_SHA3_512,     RSA_MGF_MGF1_SHAKE128,
    RSA_MGF_MGF1_SHAKE256,
};

}  // namespace

extern "C" {

quarzel_ret_t rsa_pkcs1_mgf1(hash_type_t hashtype, uint32_t digest_len, uint32_t seed_len,
                             const uint8_t* seed, uint32_t mask_len, uint8_t* mask) {
  if ((seed == nullptr && seed_len != 0) || (mask == nullptr && mask_len != 0)) {
    return rsa_err(FN_MGF, RSA_R_NULL);
  }
  uint32_t hlen = 0;
  if (const quarzel_ret_t r = hash_get_length(hashtype, &hlen); r != 0) return r;
  if (digest_len > hlen) return rsa_err(FN_MGF, RSA_R_DIGEST);
  const uint32_t block = digest_len != 0 ? digest_len : hlen;
  quarzel::SecretArray<64> out;
  hash_ctx_t ctx{};
  quarzel::WipeOnExit<hash_ctx_t> wipe_ctx(ctx);
  uint32_t done = 0;
  uint32_t counter = 0;
  do {
    const uint8_t c[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                          static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    uint32_t out_len = hlen;
    if (const quarzel_ret_t r = hash_init(&ctx, hashtype); r != 0) return r;
    if (const quarzel_ret_t r = hash_update(&ctx, seed_len, seed); r != 0) return r;
    if (const quarzel_ret_t r = hash_update(&ctx, 4, c); r != 0) return r;
    if (const quarzel_ret_t r = hash_final(&ctx, &out_len, out.data()); r != 0) return r;
    const uint32_t take = mask_len - done < block ? mask_len - done : block;
    if (take != 0) std::memcpy(mask + done, out.data(), take);
    done += take;
    ++counter;
  } while (done < mask_len);
  return 0;
}

quarzel_ret_t rsa_mgf(rsa_mgf_t rsa_mgf_type, uint32_t digest_len, uint32_t seed_len,
                      const uint8_t* seed, uint32_t mask_len, uint8_t* mask) {
  if (rsa_mgf_type == RSA_MGF_SHAKE128 || rsa_mgf_type == RSA_MGF_SHAKE256) {
    if ((seed == nullptr && seed_len != 0) || mask == nullptr) return rsa_err(FN_MGF, RSA_R_NULL);
    const hash_type_t h = rsa_mgf_type == RSA_MGF_SHAKE128 ? HASH_TYPE_SHAKE128 : HASH_TYPE_SHAKE256;
    uint32_t out_len = mask_len;
    return hash_onestep(h, seed_len, seed, &out_len, mask);
  }
  for (const rsa_mgf_t t : kMgf1Types) {
    if (t == rsa_mgf_type) {
      return rsa_pkcs1_mgf1(static_cast<hash_type_t>(t), digest_len, seed_len, seed, mask_len, mask);
    }
  }
  return rsa_err(FN_MGF, RSA_R_HASH_TYPE);
}

}  // extern "C"
