// RSA key-pair generation with e = 65537 and d = e^-1 mod lcm(p - 1, q - 1),
// CRT components, and the public key of a private key.
#include <cstring>

#include "quarzel/rsa.h"
#include "rsa/rsa_crt.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_keygen_ct.h"
#include "rsa/rsa_num.h"
#include "rsa/rsa_prime.h"

namespace quarzel::rsa {
namespace {

constexpr uint32_t FN_KEY_FROM_PRIME = 0x0409;
constexpr uint32_t FN_CRT_COMPONENTS = 0x040E;
constexpr uint32_t FN_GEN_KEYPAIR = 0x040F;
constexpr uint32_t FN_GEN_PUK = 0x046A;

// A component buffer of the expected length, else 0x5C (wrong length) or 0x05 (absent).
template <class Key>
quarzel_ret_t need_buffer(uint32_t fn, const Key* k, uint32_t Key::*len, uint8_t* Key::*buf, uint32_t want) {
  if (k->*len != want) return rsa_err(fn, RSA_R_LENGTH);
  if (k->*buf == nullptr) return rsa_err(fn, RSA_R_NULL);
  return 0;
}

quarzel_ret_t gen_keypair(rsa_prikey_t* prikey, rsa_pubkey_t* pubkey, rsa_keytype_t type,
                          uint32_t e_len, const uint8_t* e) {
  constexpr uint32_t fn = FN_GEN_KEYPAIR;
  const uint32_t bits = prikey->rsa_size;
  if (bits != pubkey->rsa_size) return rsa_err(fn, RSA_R_LENGTH);
  if (!prikey_active(prikey) || !pubkey_active(pubkey)) return rsa_err(fn, RSA_R_STATE);
  const uint32_t L = full_len(bits), H = half_len(bits);
  if (e_len > L) return rsa_err(fn, RSA_R_LENGTH);
  if (!size_accepted(bits)) return rsa_err(fn, RSA_R_SIZE);
  if (e_len != 0 && !rsa_check_e_is_65537(e_len, e)) return rsa_err(fn, RSA_R_EXPONENT);
  if (type != RSA_KEYTYPE_NONCRT && type != RSA_KEYTYPE_CRT && type != RSA_KEYTYPE_CRTFAST) {
    return rsa_err(fn, RSA_R_KEYTYPE);
  }
  RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::n_modulus_len, &rsa_prikey_t::n_modulus, L));
  RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::d_exponent_len, &rsa_prikey_t::d_exponent, L));
  RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::e_exponent_len, &rsa_prikey_t::e_exponent, L));
  RSA_TRY(need_buffer(fn, pubkey, &rsa_pubkey_t::n_modulus_len, &rsa_pubkey_t::n_modulus, L));
  RSA_TRY(need_buffer(fn, pubkey, &rsa_pubkey_t::e_exponent_len, &rsa_pubkey_t::e_exponent, L));
  if (type != RSA_KEYTYPE_NONCRT) {
    RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::p_prime_len, &rsa_prikey_t::p_prime, H));
    RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::q_prime_len, &rsa_prikey_t::q_prime, H));
  }
  if (type == RSA_KEYTYPE_CRTFAST) {
    RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::dp_exponent_len, &rsa_prikey_t::dp_exponent, H));
    RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::dq_exponent_len, &rsa_prikey_t::dq_exponent, H));
    RSA_TRY(need_buffer(fn, prikey, &rsa_prikey_t::crt_coefficient_len, &rsa_prikey_t::crt_coefficient, H));
  }

  // A NONCRT key does not keep its primes: they live in wiped working buffers.
  Buf wp, wq;
  uint8_t* p = prikey->p_prime;
  uint8_t* q = prikey->q_prime;
  if (type == RSA_KEYTYPE_NONCRT) {
    if (!wp.alloc(H) || !wq.alloc(H)) return rsa_err(fn, RSA_R_ALLOC);
    p = wp.data();
    q = wq.data();
  }
  RSA_TRY(rsa_keygen(bits, p, q, prikey->n_modulus, prikey->d_exponent));
  uint32_t present = RSA_HAS_N | RSA_HAS_D;
  if (type != RSA_KEYTYPE_NONCRT) present |= RSA_HAS_P | RSA_HAS_Q;

  std::memset(prikey->e_exponent, 0, L);
  prikey->e_exponent[L - 3] = 1;
  prikey->e_exponent[L - 1] = 1;
  present |= RSA_HAS_E | RSA_FLAG_E65537;

  RSA_TRY(rsa_pubkey_value_set(pubkey, L, prikey->n_modulus, L, prikey->e_exponent));

  if (type == RSA_KEYTYPE_CRTFAST) {
    RSA_TRY(rsa_gen_crt_component_from_prikey(bits, prikey->d_exponent, p, q, prikey->dp_exponent,
                                              prikey->dq_exponent, prikey->crt_coefficient));
    present |= RSA_HAS_DP | RSA_HAS_DQ | RSA_HAS_QINV;
  }
  prikey->state |= present;
  return 0;
}

}  // namespace
}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

quarzel_ret_t rsa_primegen(uint32_t rsa_length, uint8_t* p, uint8_t* q) {
  if (p == nullptr || q == nullptr) return rsa_err(0x0408, RSA_R_NULL);
  if (!size_accepted(rsa_length)) return rsa_err(0x0408, RSA_R_MR_ROUNDS);
  return primegen(rsa_length, p, q);
}

quarzel_ret_t rsa_key_from_prime(uint32_t rsa_length, const uint8_t* p, const uint8_t* q, uint8_t* N,
                                 uint8_t* d) {
  constexpr uint32_t fn = FN_KEY_FROM_PRIME;
  if (p == nullptr || q == nullptr || N == nullptr || d == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  return key_from_primes_ct(fn, rsa_length, p, q, N, d);
}

quarzel_ret_t rsa_keygen(uint32_t rsa_length, uint8_t* p, uint8_t* q, uint8_t* N, uint8_t* d) {
  RSA_TRY(rsa_primegen(rsa_length, p, q));
  return rsa_key_from_prime(rsa_length, p, q, N, d);
}

quarzel_ret_t rsa_gen_crt_component_from_prikey(uint32_t rsa_length, const uint8_t* d_exponent,
                                                const uint8_t* p_prime, const uint8_t* q_prime,
                                                uint8_t* dp_exponent, uint8_t* dq_exponent,
                                                uint8_t* crt_coefficient) {
  constexpr uint32_t fn = FN_CRT_COMPONENTS;
  if (d_exponent == nullptr || p_prime == nullptr || q_prime == nullptr || dp_exponent == nullptr ||
      dq_exponent == nullptr || crt_coefficient == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  return crt_components_ct(fn, rsa_length, d_exponent, p_prime, q_prime, dp_exponent, dq_exponent,
                           crt_coefficient);
}

quarzel_ret_t rsa_gen_keypair(rsa_prikey_t* prikey, rsa_pubkey_t* pubkey, rsa_keytype_t rsa_keytype,
                              uint32_t e_exponent_len, const uint8_t* e_exponent) {
  constexpr uint32_t fn = FN_GEN_KEYPAIR;
  if (prikey == nullptr || pubkey == nullptr || (e_exponent == nullptr && e_exponent_len != 0)) {
    return rsa_err(fn, RSA_R_NULL);
  }
  const quarzel_ret_t r = gen_keypair(prikey, pubkey, rsa_keytype, e_exponent_len, e_exponent);
  if (r != 0) {
    prikey->state = RSA_PRIKEY_STATE_INVALID;
    pubkey->state = RSA_PUBKEY_STATE_INVALID;
  }
  return r;
}

quarzel_ret_t rsa_gen_puk_from_prk(const rsa_prikey_t* prikey, rsa_pubkey_t* pubkey) {
  constexpr uint32_t fn = FN_GEN_PUK;
  if (prikey == nullptr || pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  auto fail = [pubkey](quarzel_ret_t r) {
    pubkey->state = RSA_PUBKEY_STATE_INVALID;
    return r;
  };
  const uint32_t bits = prikey->rsa_size, L = full_len(bits), H = half_len(bits);
  // e must be there, and n either there or computable from p and q.
  if (!prikey_usable(prikey) || !size_accepted(bits) || !has_all(prikey->state, RSA_HAS_E) ||
      prikey->e_exponent == nullptr || prikey->e_exponent_len != L) {
    return fail(rsa_err(fn, RSA_R_STATE));
  }
  const bool has_n = has_all(prikey->state, RSA_HAS_N) && prikey->n_modulus != nullptr &&
                     prikey->n_modulus_len == L;
  const bool has_pq = has_all(prikey->state, RSA_HAS_P | RSA_HAS_Q) && prikey->p_prime != nullptr &&
                      prikey->q_prime != nullptr && prikey->p_prime_len == H && prikey->q_prime_len == H;
  if (!has_n && !has_pq) return fail(rsa_err(fn, RSA_R_STATE));
  if (!pubkey_active(pubkey)) return fail(rsa_err(fn, RSA_R_STATE));
  if (pubkey->n_modulus == nullptr || pubkey->e_exponent == nullptr) return fail(rsa_err(fn, RSA_R_NULL));
  if (pubkey->rsa_size != bits) return fail(rsa_err(fn, RSA_R_LENGTH));
  Num n;
  const uint8_t* np = prikey->n_modulus;
  if (!has_n) {
    if (const core_ret_t c = n.alloc(L); c != 0) return fail(rsa_err_core(fn, c));
    const mpi_t P = view(H, prikey->p_prime), Q = view(H, prikey->q_prime);
    if (const core_ret_t c = mpi_mul(n.get(), &P, &Q); c != 0) return fail(rsa_err_core(fn, c));
    np = n.data();
  }
  if (const quarzel_ret_t r = rsa_pubkey_value_set(pubkey, L, np, L, prikey->e_exponent); r != 0) {
    return fail(r);
  }
  pubkey->state |= RSA_HAS_N | RSA_HAS_E;
  return 0;
}

}  // extern "C"
