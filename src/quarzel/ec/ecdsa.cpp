// ECDSA signature generation and verification over a caller's digest
// (FIPS 186-4 6.4 and 6.5; e = bits2int of the digest with 8L bits).
#include <cstring>

#include "ec/ecc_internal.h"
#include "quarzel/ct.h"
#include "quarzel/secure.h"

namespace quarzel::ec {
namespace {

bool is_zero(const uint8_t* v, uint32_t L) {
  uint8_t acc = 0;
  for (uint32_t i = 0; i < L; ++i) acc |= v[i];
  return acc == 0;
}

// One signing attempt with nonce k (below n). Sets *degenerate when r or s
// came out zero, which the caller must not return as a signature.
quarzel_ret_t sign_with(const Engine& e, const uint8_t* d, const uint8_t* ebuf, const uint8_t* k,
                        uint8_t* sig_r, uint8_t* sig_s, bool* degenerate) {
  const uint32_t L = e.byte_size();
  uint8_t x[ECC_MAX_LEN], y[ECC_MAX_LEN];
  bool infinity = false;
  const core_ret_t ret = e.mul_base(k, x, y, &infinity);
  if (ret != 0) return ecc_err_core(F_ECDSA_SIGN, ret);
  if (infinity) return ecc_err_core(F_ECDSA_SIGN, ECPI_ERR_PUBKEY_INFINITY);
  ct::declassify(x, L);  // r is x mod n: public with the signature
  e.ecdsa_rs(d, ebuf, k, x, sig_r, sig_s);
  ct::declassify(sig_r, L);  // the signature is the output
  ct::declassify(sig_s, L);
  *degenerate = is_zero(sig_r, L) || is_zero(sig_s, L);
  return 0;
}

}  // namespace
}  // namespace quarzel::ec

using namespace quarzel::ec;

extern "C" {

quarzel_ret_t ecdsa_sign(const ecc_prikey_t* d, uint32_t digest_len, const uint8_t* digest,
                         const uint8_t* k, uint8_t* sig_r, uint8_t* sig_s) {
  if (d == nullptr || (digest == nullptr && digest_len != 0) || sig_r == nullptr || sig_s == nullptr)
    return ecc_err(F_ECDSA_SIGN, ECC_R_NULL);
  if (!prikey_usable(d)) return ecc_err(F_ECDSA_SIGN, ECC_R_STATE);
  const Engine* e = engine_for(d->crv_id);
  if (e == nullptr) return ecc_err_core(F_ECDSA_SIGN, ECPI_ERR_GROUP_LOAD);
  const uint32_t L = e->byte_size();
  uint8_t ebuf[ECC_MAX_LEN];
  digest_to_e(digest, digest_len, L, ebuf);
  bool degenerate = false;

  if (k != nullptr) {
    if (!quarzel::ct::declassify(e->below_n(k))) return ecc_err(F_ECDSA_SIGN, ECC_R_NONCE);
    const quarzel_ret_t ret = sign_with(*e, d->d_value, ebuf, k, sig_r, sig_s, &degenerate);
    if (ret != 0) return ret;
    // r = 0 or s = 0 is no signature, and a given nonce cannot be replaced.
    return degenerate ? ecc_err(F_ECDSA_SIGN, ECC_R_NONCE) : 0;
  }

  // A drawn nonce that gives r = 0 or s = 0 is drawn again (FIPS 186-4 6.4).
  quarzel::SecretArray<ECC_MAX_LEN> nonce;
  for (int attempt = 0; attempt < 128; ++attempt) {
    if (const quarzel_ret_t ret = draw_below_n(*e, F_ECDSA_GEN_K, nonce.data()); ret != 0)
      return ret;
    const quarzel_ret_t ret = sign_with(*e, d->d_value, ebuf, nonce.data(), sig_r, sig_s, &degenerate);
    if (ret != 0) return ret;
    if (!degenerate) return 0;
  }
  return ecc_err(F_ECDSA_SIGN, ECC_R_NONCE);
}

quarzel_ret_t ecdsa_verify(const ecc_pubkey_t* Q, uint32_t digest_len, const uint8_t* digest,
                           const uint8_t* sig_r, const uint8_t* sig_s, uint32_t* verify_result) {
  if (verify_result == nullptr) return ecc_err(F_ECDSA_VERIFY, ECC_R_NULL);
  *verify_result = QZ_FALSE;
  // Raw ECDSA over empty data reaches here with no digest: an error, not a stop.
  if (digest_len == 0) return ecc_err(F_ECDSA_VERIFY, ECC_R_EMPTY_DIGEST);
  if (Q == nullptr || digest == nullptr || sig_r == nullptr || sig_s == nullptr)
    return ecc_err(F_ECDSA_VERIFY, ECC_R_NULL);
  if (!pubkey_usable(Q)) return ecc_err(F_ECDSA_VERIFY, ECC_R_STATE);
  const Engine* e = engine_for(Q->crv_id);
  if (e == nullptr) return ecc_err_core(F_ECDSA_VERIFY, ECPI_ERR_GROUP_LOAD);
  if (!e->on_curve(Q->q_point_x, Q->q_point_y)) return ecc_err(F_ECDSA_VERIFY, ECC_R_NOT_ON_CURVE);
  const uint32_t L = e->byte_size();
  if (!e->scalar_valid(sig_r) || !e->scalar_valid(sig_s)) return 0;

  uint8_t ebuf[ECC_MAX_LEN], u1[ECC_MAX_LEN], u2[ECC_MAX_LEN];
  digest_to_e(digest, digest_len, L, ebuf);
  e->ecdsa_u1u2(ebuf, sig_r, sig_s, u1, u2);

  bool match = false;
  const core_ret_t ret = e->ecdsa_check_vartime(u1, u2, Q->q_point_x, Q->q_point_y, sig_r, &match);
  if (ret != 0) return ecc_err_core(F_ECDSA_VERIFY, ret);
  if (match) *verify_result = QZ_TRUE;
  return 0;
}

}  // extern "C"
