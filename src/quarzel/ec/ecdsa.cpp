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
quarzel_ret_t sign_with(const ecpi_group_t* grp, const uint8_t* d, const uint8_t* ebuf, const uint8_t* k,
                        uint8_t* sig_r, uint8_t* sig_s, bool* degenerate) {
  const uint32_t L = grp->byte_size();
  ecpi_point_t R;
  // k = 0 gives the point at infinity: 0x8D82 under this routine's id.
  const core_ret_t ret = ecpi_gen_pubkey_from_private(grp, k, &R);
  if (ret != 0) return ecc_err_core(F_ECDSA_SIGN, ret);
  ct::declassify(R.x, L);  // r is x mod n: public with the signature
  grp->ecdsa_rs(d, ebuf, k, R.x, sig_r, sig_s);
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
  const ecpi_group_t* grp = nullptr;
  if (const core_ret_t ret = ecpi_group_load_and_alloc(&grp, d->crv_id); ret != 0)
    return ecc_err_core(F_ECDSA_SIGN, ret);
  const uint32_t L = grp->byte_size();
  uint8_t ebuf[ECC_MAX_LEN];
  digest_to_e(digest, digest_len, L, ebuf);
  bool degenerate = false;

  if (k != nullptr) {
    if (quarzel::ct::declassify(be_less_than(k, grp->n_bytes(), L)) == 0)
      return ecc_err(F_ECDSA_SIGN, ECC_R_NONCE);
    const quarzel_ret_t ret = sign_with(grp, d->d_value, ebuf, k, sig_r, sig_s, &degenerate);
    if (ret != 0) return ret;
    // r = 0 or s = 0 is no signature, and a given nonce cannot be replaced.
    return degenerate ? ecc_err(F_ECDSA_SIGN, ECC_R_NONCE) : 0;
  }

  // A drawn nonce that gives r = 0 or s = 0 is drawn again (FIPS 186-4 6.4).
  quarzel::SecretArray<ECC_MAX_LEN> nonce;
  for (int attempt = 0; attempt < 128; ++attempt) {
    if (const quarzel_ret_t ret = draw_below_n(grp, F_ECDSA_GEN_K, nonce.data()); ret != 0)
      return ret;
    const quarzel_ret_t ret = sign_with(grp, d->d_value, ebuf, nonce.data(), sig_r, sig_s, &degenerate);
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
  const ecpi_group_t* grp = nullptr;
  if (const core_ret_t ret = ecpi_group_load_and_alloc(&grp, Q->crv_id); ret != 0)
    return ecc_err_core(F_ECDSA_VERIFY, ret);
  const uint32_t L = grp->byte_size();
  ecpi_point_t q;
  ecpi_point_set_xy(&q, L, Q->q_point_x, Q->q_point_y);
  if (!ecpi_point_on_curve(grp, &q)) return ecc_err(F_ECDSA_VERIFY, ECC_R_NOT_ON_CURVE);
  // r and s in 1..n-1: the range of a private key.
  if (!ecpi_check_prikey_valid(grp, sig_r) || !ecpi_check_prikey_valid(grp, sig_s)) return 0;

  uint8_t ebuf[ECC_MAX_LEN], u1[ECC_MAX_LEN], u2[ECC_MAX_LEN];
  digest_to_e(digest, digest_len, L, ebuf);
  grp->ecdsa_u1u2(ebuf, sig_r, sig_s, u1, u2);

  // R = u1 G + u2 Q and x(R) mod n == r in one double-scalar product on
  // public values, compared projectively.
  bool match = false;
  const core_ret_t ret = grp->ecdsa_check_vartime(u1, u2, q.x, q.y, sig_r, &match);
  if (ret != 0) return ecc_err_core(F_ECDSA_VERIFY, ret);
  if (match) *verify_result = QZ_TRUE;
  return 0;
}

}  // extern "C"
