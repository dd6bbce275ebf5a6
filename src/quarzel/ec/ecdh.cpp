// ECDH primitive and the unified-model schemes of NIST SP 800-56A.
#include <cstring>
#include <initializer_list>

#include "ec/ecc_internal.h"
#include "quarzel/secure.h"

namespace quarzel::ec {
namespace {

// x(d * Q) into out (L bytes), through the custom-base derivation with its
// checks: d in range, Q on the curve, result not at infinity.
quarzel_ret_t shared_x(const ecc_prikey_t* d, const ecc_pubkey_t* Q, uint32_t L, uint8_t* out) {
  SecretArray<ECC_MAX_LEN> x;
  SecretArray<ECC_MAX_LEN> y;
  ecc_pubkey_t T;
  ecc_pubkey_init(&T, d->crv_id);
  quarzel_ret_t ret = ecc_pubkey_value_mapping(&T, L, x.data(), L, y.data());
  if (ret == 0) ret = ecc_gen_puk_from_prk_custom_base(d, Q, &T);
  if (ret == 0) std::memcpy(out, x.data(), L);
  return ret;
}

// Opening checks shared by the ECDH routines: usable keys on one curve, and an
// output of `factor` L bytes. Writes the needed length to *ss_len.
quarzel_ret_t open_ecdh(uint32_t func, std::initializer_list<const ecc_prikey_t*> pri,
                        std::initializer_list<const ecc_pubkey_t*> pub, uint32_t factor,
                        uint32_t* ss_len, const uint8_t* ss, uint32_t* L) {
  if (ss_len == nullptr || ss == nullptr) return ecc_err(func, ECC_R_NULL);
  for (const auto* k : pri)
    if (k == nullptr) return ecc_err(func, ECC_R_NULL);
  for (const auto* k : pub)
    if (k == nullptr) return ecc_err(func, ECC_R_NULL);
  for (const auto* k : pri)
    if (!prikey_usable(k)) return ecc_err(func, ECC_R_STATE);
  for (const auto* k : pub)
    if (!pubkey_usable(k)) return ecc_err(func, ECC_R_STATE);
  const ecc_crv_t crv = (*pri.begin())->crv_id;
  for (const auto* k : pri)
    if (k->crv_id != crv) return ecc_err(func, ECC_R_CURVE_MISMATCH);
  for (const auto* k : pub)
    if (k->crv_id != crv) return ecc_err(func, ECC_R_CURVE_MISMATCH);
  if (const core_ret_t ret = ecpi_group_get_size(crv, L); ret != 0) return ecc_err_core(func, ret);
  const uint32_t need = factor * *L;
  if (*ss_len < need) {
    *ss_len = need;
    return ecc_err(func, ECC_R_OUT_SMALL);
  }
  *ss_len = need;
  return 0;
}

// Ze || Zs with Zs = x(ds * Qs) and Ze = x(de * Qe).
quarzel_ret_t unified(const ecc_prikey_t* ds, const ecc_pubkey_t* Qs, const ecc_prikey_t* de,
                      const ecc_pubkey_t* Qe, uint32_t L, uint8_t* ss) {
  SecretArray<ECC_MAX_LEN> zs;
  quarzel_ret_t ret = shared_x(ds, Qs, L, zs.data());
  if (ret == 0) ret = shared_x(de, Qe, L, ss);
  if (ret == 0) std::memcpy(ss + L, zs.data(), L);
  return ret;
}

}  // namespace
}  // namespace quarzel::ec

using namespace quarzel::ec;

extern "C" {

quarzel_ret_t ecdh_derive_shared_secret(const ecc_prikey_t* dA, const ecc_pubkey_t* QB,
                                        uint32_t* ss_len, uint8_t* ss) {
  uint32_t L = 0;
  if (const quarzel_ret_t ret = open_ecdh(F_ECDH, {dA}, {QB}, 1, ss_len, ss, &L); ret != 0)
    return ret;
  return shared_x(dA, QB, L, ss);
}

quarzel_ret_t ecdh_unified_one_pass_party_u(const ecc_prikey_t* dA, const ecc_prikey_t* dU,
                                            const ecc_pubkey_t* QB, uint32_t* ss_len, uint8_t* ss) {
  uint32_t L = 0;
  if (const quarzel_ret_t ret = open_ecdh(F_UNIFIED_U, {dA, dU}, {QB}, 2, ss_len, ss, &L); ret != 0)
    return ret;
  return unified(dA, QB, dU, QB, L, ss);
}

quarzel_ret_t ecdh_unified_one_pass_party_v(const ecc_prikey_t* dB, const ecc_pubkey_t* QA,
                                            const ecc_pubkey_t* QU, uint32_t* ss_len, uint8_t* ss) {
  uint32_t L = 0;
  if (const quarzel_ret_t ret = open_ecdh(F_UNIFIED_V, {dB}, {QA, QU}, 2, ss_len, ss, &L); ret != 0)
    return ret;
  return unified(dB, QA, dB, QU, L, ss);
}

quarzel_ret_t ecdh_unified_full(const ecc_prikey_t* dA, const ecc_pubkey_t* QB,
                                const ecc_prikey_t* dU, const ecc_pubkey_t* QV, uint32_t* ss_len,
                                uint8_t* ss) {
  uint32_t L = 0;
  if (const quarzel_ret_t ret = open_ecdh(F_UNIFIED_FULL, {dA, dU}, {QB, QV}, 2, ss_len, ss, &L);
      ret != 0)
    return ret;
  return unified(dA, QB, dU, QV, L, ss);
}

}  // extern "C"
