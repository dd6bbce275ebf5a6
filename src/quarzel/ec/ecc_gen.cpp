// EC key-pair generation (FIPS 186-4 B.4.1 and B.4.2), public keys from
// private keys, and the curve test of a public key.
#include <cstring>

#include "ec/ecc_internal.h"
#include "quarzel/ct.h"
#include "quarzel/secure.h"

namespace quarzel::ec {

quarzel_ret_t draw_below(uint32_t nbits, uint32_t len, const uint8_t* n, uint32_t func, uint8_t* out) {
  const uint32_t zero_bytes = len - (nbits + 7) / 8;
  const uint8_t top_mask = static_cast<uint8_t>(0xFF >> ((8 - nbits % 8) % 8));
  for (int attempt = 0; attempt < 128; ++attempt) {
    if (quarzel_get_random(out, len) != 0) {
      secure_wipe(out, len);
      return ecc_err(func, QZ_R_RANDOM);
    }
    std::memset(out, 0, zero_bytes);
    out[zero_bytes] &= top_mask;
    // Whether a draw was refused says nothing about the one kept.
    if (ct::declassify(be_less_than(out, n, len)) != 0) return 0;
  }
  secure_wipe(out, len);
  return ecc_err(func, ECC_R_NONCE);
}

quarzel_ret_t draw_below_n(const ecpi_group_t* grp, uint32_t func, uint8_t* out) {
  return draw_below(grp->nbits(), grp->byte_size(), grp->n_bytes(), func, out);
}

void digest_to_e(const uint8_t* digest, uint32_t digest_len, uint32_t L, uint8_t* e) {
  if (digest_len >= L) {
    std::memcpy(e, digest, L);
    return;
  }
  std::memset(e, 0, L - digest_len);
  if (digest_len != 0) std::memcpy(e + (L - digest_len), digest, digest_len);
}

namespace {

// Big-endian bytes of an mpi value of either byte layout (MPI_ENDIAN_MF_U32
// holds native 32-bit words, most significant first), and back.
void mpi_to_be(const mpi_t& x, uint8_t* be) {
  for (uint32_t i = 0; i < x.size; ++i) {
    be[i] = x.ptr_value[x.endian == MPI_ENDIAN_MF_U32 ? (i & ~3u) + (3 - (i & 3u)) : i];
  }
}
void be_to_mpi(const uint8_t* be, mpi_t& x) {
  for (uint32_t i = 0; i < x.size; ++i) {
    x.ptr_value[x.endian == MPI_ENDIAN_MF_U32 ? (i & ~3u) + (3 - (i & 3u)) : i] = be[i];
  }
}

// ecc_gen_d and ecdsa_gen_k: a random value below n into out.
quarzel_ret_t gen_below(uint32_t func, uint32_t nbits, uint32_t n_len, const mpi_t* n, mpi_t* out) {
  if (n == nullptr || out == nullptr || n->ptr_value == nullptr || out->ptr_value == nullptr)
    return ecc_err(func, ECC_R_NULL);
  const bool tags_ok = (n->endian == MPI_ENDIAN_MF_U8 || n->endian == MPI_ENDIAN_MF_U32) &&
                       (out->endian == MPI_ENDIAN_MF_U8 || out->endian == MPI_ENDIAN_MF_U32);
  const bool words_ok = (n->endian != MPI_ENDIAN_MF_U32 && out->endian != MPI_ENDIAN_MF_U32) || n_len % 4 == 0;
  if (!tags_ok || !words_ok || n_len == 0 || n_len > ECC_MAX_LEN || n->size != n_len || out->size != n_len ||
      nbits == 0 || nbits > 8 * n_len)
    return ecc_err(func, ECC_R_PRI_LEN);
  uint8_t nb[ECC_MAX_LEN];
  SecretArray<ECC_MAX_LEN> v;
  mpi_to_be(*n, nb);
  const quarzel_ret_t ret = draw_below(nbits, n_len, nb, func, v.data());
  if (ret == 0) be_to_mpi(v.data(), *out);
  return ret;
}

// Q = d * base with the range test of d; a null base means the generator.
quarzel_ret_t derive_point(const ecpi_group_t* grp, uint32_t func, const uint8_t* d, const ecpi_point_t* base,
                           ecc_pubkey_t* Q) {
  // A key's validity is public.
  if (!ct::declassify(ecpi_check_prikey_valid(grp, d))) return ecc_err(func, ECC_R_PRI_RANGE);
  ecpi_point_t R;  // for ECDH the shared point: the record wipes itself
  const core_ret_t ret = base == nullptr ? ecpi_gen_pubkey_from_private(grp, d, &R)
                                         : ecpi_gen_pubkey_from_private_base(grp, d, base, &R);
  if (ret != 0) return ecc_err_core(func, ret);
  return ecc_pubkey_value_set(Q, grp->byte_size(), R.x, grp->byte_size(), R.y);
}

// Stores d into the key and derives its public key.
quarzel_ret_t finish_pair(const uint8_t* d, uint32_t L, ecc_prikey_t* prikey, ecc_pubkey_t* Q) {
  if (const quarzel_ret_t ret = ecc_prikey_value_set(prikey, L, d); ret != 0) return ret;
  return ecc_gen_puk_from_prk(prikey, Q);
}

// The group of a curve, or null with the group loader's code under `func`.
const ecpi_group_t* group_or(uint32_t crv, uint32_t func, quarzel_ret_t* ret) {
  const ecpi_group_t* grp = nullptr;
  const core_ret_t core = ecpi_group_load_and_alloc(&grp, crv);
  *ret = core == 0 ? 0 : ecc_err_core(func, core);
  return grp;
}

}  // namespace
}  // namespace quarzel::ec

using namespace quarzel::ec;

extern "C" {

quarzel_ret_t ecc_gen_d(uint32_t nbits, uint32_t n_len, const mpi_t* n, mpi_t* d) {
  return gen_below(F_GEN_D, nbits, n_len, n, d);
}

quarzel_ret_t ecdsa_gen_k(uint32_t nbits, uint32_t n_len, const mpi_t* n, mpi_t* k) {
  return gen_below(F_ECDSA_GEN_K, nbits, n_len, n, k);
}

quarzel_ret_t ecc_gen_keypair_w_extra_bits(ecc_crv_t crv_id, ecc_prikey_t* d, ecc_pubkey_t* Q) {
  if (d == nullptr || Q == nullptr) return ecc_err(F_GEN_KEYPAIR, ECC_R_NULL);
  quarzel_ret_t ret = 0;
  const ecpi_group_t* grp = group_or(crv_id, F_GEN_KEYPAIR, &ret);
  if (grp == nullptr) return ret;
  const uint32_t L = grp->byte_size();
  quarzel::SecretArray<ECC_MAX_LEN + 8> c;
  quarzel::SecretArray<ECC_MAX_LEN> k;
  if (quarzel_get_random(c.data(), L + 8) != 0) return ecc_err(F_GEN_KEYPAIR, QZ_R_RANDOM);
  grp->reduce_to_scalar(c.data(), L + 8, k.data());
  return finish_pair(k.data(), L, d, Q);
}

quarzel_ret_t ecc_gen_keypair_by_reject_sampling(ecc_crv_t crv_id, ecc_prikey_t* d, ecc_pubkey_t* Q) {
  if (d == nullptr || Q == nullptr) return ecc_err(F_GEN_KEYPAIR, ECC_R_NULL);
  quarzel_ret_t ret = 0;
  const ecpi_group_t* grp = group_or(crv_id, F_GEN_KEYPAIR, &ret);
  if (grp == nullptr) return ret;
  quarzel::SecretArray<ECC_MAX_LEN> k;
  if ((ret = draw_below_n(grp, F_GEN_D, k.data())) != 0) return ret;
  return finish_pair(k.data(), grp->byte_size(), d, Q);
}

quarzel_ret_t ecc_gen_keypair(ecc_crv_t crv_id, ecc_keygen_t method, ecc_prikey_t* d, ecc_pubkey_t* Q) {
  if (d == nullptr || Q == nullptr) return ecc_err(F_GEN_KEYPAIR, ECC_R_NULL);
  quarzel_ret_t ret = 0;
  if (!prikey_active(d) || !pubkey_active(Q))
    ret = ecc_err(F_GEN_KEYPAIR, ECC_R_STATE);
  else if (crv_id != d->crv_id || crv_id != Q->crv_id)
    ret = ecc_err(F_GEN_KEYPAIR, ECC_R_CURVE_MISMATCH);
  else if (method == ECC_KEYGEN_EXTRA_RND_BITS)
    ret = ecc_gen_keypair_w_extra_bits(crv_id, d, Q);
  else if (method == ECC_KEYGEN_REJECT_SAMPLING)
    ret = ecc_gen_keypair_by_reject_sampling(crv_id, d, Q);
  else
    ret = ecc_err(F_GEN_KEYPAIR, ECC_R_KEYGEN_METHOD);
  if (ret != 0) {
    invalidate(d);
    invalidate(Q);
  }
  return ret;
}

quarzel_ret_t ecc_gen_puk_from_prk(const ecc_prikey_t* d, ecc_pubkey_t* Q) {
  if (d == nullptr || Q == nullptr) return ecc_err(F_PUK_FROM_PRK, ECC_R_NULL);
  if (!prikey_usable(d) || !pubkey_active(Q)) {
    invalidate(Q);
    return ecc_err(F_PUK_FROM_PRK, ECC_R_STATE);
  }
  quarzel_ret_t ret = 0;
  const ecpi_group_t* grp = nullptr;
  if (d->crv_id != Q->crv_id)
    ret = ecc_err(F_PUK_FROM_PRK, ECC_R_CURVE_MISMATCH);
  else if ((grp = group_or(d->crv_id, F_PUK_FROM_PRK, &ret)) != nullptr)
    ret = derive_point(grp, F_PUK_FROM_PRK, d->d_value, nullptr, Q);
  if (ret != 0) invalidate(Q);
  return ret;
}

quarzel_ret_t ecc_gen_puk_from_prk_custom_base(const ecc_prikey_t* d, const ecc_pubkey_t* G,
                                               ecc_pubkey_t* Q) {
  if (d == nullptr || G == nullptr || Q == nullptr) return ecc_err(F_PUK_CUSTOM_BASE, ECC_R_NULL);
  if (!prikey_usable(d) || !pubkey_usable(G) || !pubkey_active(Q)) {
    invalidate(Q);
    return ecc_err(F_PUK_CUSTOM_BASE, ECC_R_STATE);
  }
  quarzel_ret_t ret = 0;
  const ecpi_group_t* grp = nullptr;
  ecpi_point_t base;
  if (d->crv_id != G->crv_id || d->crv_id != Q->crv_id) {
    ret = ecc_err(F_PUK_CUSTOM_BASE, ECC_R_CURVE_MISMATCH);
  } else if ((grp = group_or(d->crv_id, F_PUK_CUSTOM_BASE, &ret)) != nullptr) {
    ecpi_point_set_xy(&base, grp->byte_size(), G->q_point_x, G->q_point_y);
    if (!quarzel::ct::declassify(ecpi_check_prikey_valid(grp, d->d_value)))
      ret = ecc_err(F_PUK_CUSTOM_BASE, ECC_R_PRI_RANGE);
    else if (!ecpi_point_on_curve(grp, &base))
      ret = ecc_err(F_PUK_CUSTOM_BASE, ECC_R_NOT_ON_CURVE);
    else
      ret = derive_point(grp, F_PUK_CUSTOM_BASE, d->d_value, &base, Q);
  }
  if (ret != 0) invalidate(Q);
  return ret;
}

quarzel_ret_t ecc_check_point_on_curve(const ecc_pubkey_t* Q, uint32_t* result) {
  if (Q == nullptr || result == nullptr) return ecc_err(F_CHECK_ON_CURVE, ECC_R_NULL);
  if (!pubkey_usable(Q)) return ecc_err(F_CHECK_ON_CURVE, ECC_R_STATE);
  quarzel_ret_t ret = 0;
  const ecpi_group_t* grp = group_or(Q->crv_id, F_CHECK_ON_CURVE, &ret);
  if (grp == nullptr) return ret;
  ecpi_point_t pt;
  ecpi_point_set_xy(&pt, grp->byte_size(), Q->q_point_x, Q->q_point_y);
  *result = ecpi_point_on_curve(grp, &pt) ? QZ_TRUE : QZ_FALSE;
  return 0;
}

}  // extern "C"
