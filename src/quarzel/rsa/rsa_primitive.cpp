// Modular exponentiation (plain, CRT, CRT with precomputed exponents, the
// public exponent 65537) and the RFC 8017 primitives RSAEP, RSADP, RSASP1 and
// RSAVP1 with their range checks.
#include <cstring>

#include "quarzel/ct.h"
#include "quarzel/rsa.h"
#include "rsa/rsa_crt.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_num.h"

namespace quarzel::rsa {

int cmp_be_vartime(const uint8_t* a, const uint8_t* b, uint32_t len) {
  for (uint32_t i = 0; i < len; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

bool is_zero_or_one_vartime(const uint8_t* a, uint32_t len) {
  for (uint32_t i = 0; i + 1 < len; ++i) {
    if (a[i] != 0) return false;
  }
  return len == 0 || a[len - 1] <= 1;
}

quarzel_ret_t prikey_modulus(const rsa_prikey_t* prikey, uint32_t fn, Num& work, const uint8_t** n) {
  const uint32_t L = full_len(prikey->rsa_size);
  if (has_all(prikey->state, RSA_HAS_N) && prikey->n_modulus_len == L) {
    *n = prikey->n_modulus;
    return 0;
  }
  if (!has_all(prikey->state, RSA_HAS_P | RSA_HAS_Q)) return rsa_err(fn, RSA_R_STATE);
  const uint32_t H = half_len(prikey->rsa_size);
  RSA_TRY_CORE(fn, work.alloc(L));
  const mpi_t p = view(H, prikey->p_prime), q = view(H, prikey->q_prime);
  RSA_TRY_CORE(fn, mpi_mul(work.get(), &p, &q));
  ct::declassify(work.data(), L);  // n is public
  *n = work.data();
  return 0;
}

namespace {

constexpr uint32_t FN_POWER = 0x0411;
constexpr uint32_t FN_POWER_CRT = 0x0412;
constexpr uint32_t FN_POWER_CRT_FAST = 0x0413;
constexpr uint32_t FN_POWER_65537 = 0x0414;
constexpr uint32_t FN_RSAEP = 0x042C;
constexpr uint32_t FN_RSADP = 0x042D;
constexpr uint32_t FN_RSASP1 = 0x042E;
constexpr uint32_t FN_RSAVP1 = 0x042F;

// Public-exponent exponentiation over Montgomery products: 16 squarings and
// one multiplication. Only the (public) exponent shapes the work; the base
// may be secret (a re-encryption check) and meets masks only.
quarzel_ret_t power_65537_vartime(uint32_t bits, const uint8_t* base, const uint8_t* n, uint8_t* result) {
  return power_65537_limbs(FN_POWER_65537, bits, base, n, result);
}

// The private exponentiation with the richest component set the key holds.
quarzel_ret_t private_power(const rsa_prikey_t* k, const uint8_t* in, const uint8_t* n, uint8_t* out) {
  const uint32_t bits = k->rsa_size;
  quarzel_ret_t r;
  if (has_all(k->state, RSA_SET_CRT)) {
    const CrtKey key{k->p_prime, k->q_prime, k->dp_exponent, k->dq_exponent, k->crt_coefficient, nullptr};
    r = power_crt_ct(FN_POWER_CRT_FAST, bits, in, key, out);
  } else if (has_all(k->state, RSA_SET_D_P_Q)) {
    const CrtKey key{k->p_prime, k->q_prime, nullptr, nullptr, nullptr, k->d_exponent};
    r = power_crt_ct(FN_POWER_CRT, bits, in, key, out);
  } else {
    r = power_ct(FN_POWER, bits, in, n, k->d_exponent, out);
  }
  return r;
}

}  // namespace

// The public exponent is public: its exponentiation runs over its bits only
// (17 Montgomery operations for 65537), never the constant-time path of a
// private exponent.
quarzel_ret_t public_power(const rsa_pubkey_t* k, const uint8_t* in, uint8_t* out) {
  const uint32_t bits = k->rsa_size;
  if ((k->state & RSA_FLAG_E65537) != 0) return rsa_power_65537(bits, in, k->n_modulus, out);
  return power_public_vartime(FN_POWER, bits, in, k->n_modulus, k->e_exponent, full_len(bits), out);
}

namespace {

// Key components must have their field sizes before any arithmetic reads them.
bool prikey_lengths_ok(const rsa_prikey_t* k) {
  for (const PriComponent& c : kPriComponents) {
    if ((k->state & c.bit) != 0 &&
        (k->*c.buf == nullptr || k->*c.len != component_len(c, k->rsa_size))) {
      return false;
    }
  }
  return true;
}

quarzel_ret_t private_op(const rsa_prikey_t* k, uint32_t fn, const uint8_t* in, uint8_t* out, bool decrypt) {
  if (k == nullptr || in == nullptr || out == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!prikey_usable(k) || !size_accepted(k->rsa_size)) return rsa_err(fn, RSA_R_STATE);
  if (!prikey_lengths_ok(k)) return rsa_err(fn, RSA_R_LENGTH);
  const uint32_t L = full_len(k->rsa_size);
  Num work;
  const uint8_t* n = nullptr;
  RSA_TRY(prikey_modulus(k, fn, work, &n));
  if (decrypt) {
    // 1 < c < n - 1
    if (is_zero_or_one_vartime(in, L)) return rsa_err(fn, RSA_R_RANGE);
    Num nm1;
    RSA_TRY_CORE(fn, nm1.alloc_copy(L, n));
    RSA_TRY_CORE(fn, mpi_decrement(nm1.get()));
    if (cmp_be_vartime(in, nm1.data(), L) >= 0) return rsa_err(fn, RSA_R_RANGE);
  } else if (cmp_be_vartime(in, n, L) >= 0) {  // m < n
    return rsa_err(fn, RSA_R_RANGE);
  }
  return private_power(k, in, n, out);
}

quarzel_ret_t public_op(const rsa_pubkey_t* k, uint32_t fn, const uint8_t* in, uint8_t* out, bool encrypt) {
  if (k == nullptr || in == nullptr || out == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!pubkey_usable(k) || !size_accepted(k->rsa_size)) return rsa_err(fn, RSA_R_STATE);
  const uint32_t L = full_len(k->rsa_size);
  if (k->n_modulus == nullptr || k->e_exponent == nullptr || k->n_modulus_len != L ||
      k->e_exponent_len != L) {
    return rsa_err(fn, RSA_R_LENGTH);
  }
  if (encrypt) {
    if (is_zero_or_one_vartime(in, L)) return rsa_err(fn, RSA_R_RANGE);
    Num nm1;
    RSA_TRY_CORE(fn, nm1.alloc_copy(L, k->n_modulus));
    RSA_TRY_CORE(fn, mpi_decrement(nm1.get()));
    if (cmp_be_vartime(in, nm1.data(), L) >= 0) return rsa_err(fn, RSA_R_RANGE);
  } else if (cmp_be_vartime(in, k->n_modulus, L) >= 0) {
    return rsa_err(fn, RSA_R_RANGE);
  }
  return public_power(k, in, out);
}

}  // namespace
}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

quarzel_ret_t rsa_power(uint32_t rsa_length, const uint8_t* base, const uint8_t* n_modulus,
                        const uint8_t* d_exponent, uint8_t* result) {
  constexpr uint32_t fn = FN_POWER;
  if (base == nullptr || n_modulus == nullptr || d_exponent == nullptr || result == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  return power_ct(fn, rsa_length, base, n_modulus, d_exponent, result);
}

quarzel_ret_t rsa_power_crt(uint32_t rsa_length, const uint8_t* base, const uint8_t* d_exponent,
                            const uint8_t* p_prime, const uint8_t* q_prime, uint8_t* result) {
  constexpr uint32_t fn = FN_POWER_CRT;
  if (base == nullptr || d_exponent == nullptr || p_prime == nullptr || q_prime == nullptr ||
      result == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  const CrtKey key{p_prime, q_prime, nullptr, nullptr, nullptr, d_exponent};
  return power_crt_ct(fn, rsa_length, base, key, result);
}

quarzel_ret_t rsa_power_crt_fast(uint32_t rsa_length, const uint8_t* base, const uint8_t* p_prime,
                                 const uint8_t* q_prime, const uint8_t* dp_exponent,
                                 const uint8_t* dq_exponent, const uint8_t* crt_coefficient,
                                 uint8_t* result) {
  constexpr uint32_t fn = FN_POWER_CRT_FAST;
  if (base == nullptr || p_prime == nullptr || q_prime == nullptr || dp_exponent == nullptr ||
      dq_exponent == nullptr || crt_coefficient == nullptr || result == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  const CrtKey key{p_prime, q_prime, dp_exponent, dq_exponent, crt_coefficient, nullptr};
  return power_crt_ct(fn, rsa_length, base, key, result);
}

quarzel_ret_t rsa_power_65537(uint32_t rsa_length, const uint8_t* base, const uint8_t* n_modulus,
                              uint8_t* result) {
  constexpr uint32_t fn = FN_POWER_65537;
  if (base == nullptr || n_modulus == nullptr || result == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!size_accepted(rsa_length)) return rsa_err(fn, RSA_R_SIZE);
  return power_65537_vartime(rsa_length, base, n_modulus, result);
}

quarzel_ret_t rsa_rsaep(const rsa_pubkey_t* pubkey, const uint8_t* message, uint8_t* ciphertext) {
  return public_op(pubkey, FN_RSAEP, message, ciphertext, true);
}

quarzel_ret_t rsa_rsadp(const rsa_prikey_t* prikey, const uint8_t* ciphertext, uint8_t* message) {
  return private_op(prikey, FN_RSADP, ciphertext, message, true);
}

quarzel_ret_t rsa_rsasp1(const rsa_prikey_t* prikey, const uint8_t* message, uint8_t* signature) {
  return private_op(prikey, FN_RSASP1, message, signature, false);
}

quarzel_ret_t rsa_rsavp1(const rsa_pubkey_t* pubkey, const uint8_t* signature, uint8_t* message) {
  return public_op(pubkey, FN_RSAVP1, signature, message, false);
}

}  // extern "C"
