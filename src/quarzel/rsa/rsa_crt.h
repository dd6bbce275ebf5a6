// Private exponentiation in constant time: the reductions mod p and q, the
// Montgomery set-up, the exponentiations and Garner's recombination divide
// nothing and branch on no secret.
#pragma once

#include <cstdint>

#include "quarzel/rsa_key.h"

namespace quarzel::rsa {

// The CRT components of a private key (big-endian, H bytes each, L for d).
// dp, dq and qinv may be null when d is given: they are then derived from
// d, p and q (d mod (p-1), d mod (q-1), q^(p-2) mod p).
struct CrtKey {
  const uint8_t* p;
  const uint8_t* q;
  const uint8_t* dp;
  const uint8_t* dq;
  const uint8_t* qinv;
  const uint8_t* d;
};

// result (L bytes) = base^d mod p*q for base (L bytes) below p*q. result may
// be base.
[[nodiscard]] quarzel_ret_t power_crt_ct(uint32_t fn, uint32_t bits, const uint8_t* base, const CrtKey& key,
                                         uint8_t* result);

// dp = d mod (p-1), dq = d mod (q-1), qinv = q^-1 mod p (by Fermat; p prime),
// H bytes each. The moduli p-1 and q-1 are secret: reduced bit by bit.
[[nodiscard]] quarzel_ret_t crt_components_ct(uint32_t fn, uint32_t bits, const uint8_t* d, const uint8_t* p,
                                              const uint8_t* q, uint8_t* dp, uint8_t* dq, uint8_t* qinv);

// result (L bytes) = base^65537 mod n for a public odd n: 16 squarings and
// a product. The base may be secret (a re-encryption check): only the public
// modulus meets a division.
[[nodiscard]] quarzel_ret_t power_65537_limbs(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n,
                                              uint8_t* result);

// result (L bytes) = base^e mod n for a public odd n and a public exponent e
// (e_len bytes, big-endian): square-and-multiply over the bits of e, so only
// e shapes the work; the base may be secret (an encryption's message).
[[nodiscard]] quarzel_ret_t power_public_vartime(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n,
                                                 const uint8_t* e, uint32_t e_len, uint8_t* result);

// result (L bytes) = base^d mod n, n odd and public, d secret (L bytes).
[[nodiscard]] quarzel_ret_t power_ct(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n,
                                     const uint8_t* d, uint8_t* result);

}  // namespace quarzel::rsa
