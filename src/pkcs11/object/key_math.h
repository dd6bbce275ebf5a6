// Key material the module builds and checks with quarzel: EC points and
// scalars, and RSA keys from their components, in the raw blob forms the
// key generators store. Plain types only (no core or PKCS#11 headers).
#pragma once

#include <cstdint>
#include <span>

#include "quarzel/secure.h"

namespace zebp11::keymath {

using Bytes = std::span<const uint8_t>;

// The curve's value length L (how quarzel keeps values); 0 for an unknown
// curve.
uint32_t ec_length(uint32_t curve);
// The length of a field element in the SEC 1 point encoding: L, except for
// P-521 (66 bytes, where quarzel keeps 68 with two leading zero bytes).
uint32_t ec_field_length(uint32_t curve);
// x and y (L bytes each) name a point of the curve: both below p, on the
// curve (so not the point at infinity).
bool ec_point_valid(uint32_t curve, const uint8_t* x, const uint8_t* y);
// A private scalar (big-endian, at most L significant bytes) in 1 .. n-1;
// writes it right-aligned into d (L bytes) when valid.
bool ec_scalar_valid(uint32_t curve, Bytes scalar, uint8_t* d);

// What an RSA key import checks and builds.
enum class RsaResult { kOk, kInconsistent, kUnsupportedSize, kFailed };

struct RsaComponents {
  Bytes n, e, d, p, q, dp, dq, qinv;  // empty: not given (p and q come together)
};

// The raw private blob of the generator's form (all CRT components when p
// and q are given, else n, e, d), after checking that the components fit
// together: n = p*q, e odd above 1, d and the CRT values agree with them,
// and the key inverts itself on test values.
RsaResult rsa_private_blob(const RsaComponents& c, quarzel::SecretBytes& blob);
// The raw public blob of a modulus and exponent given as they are.
RsaResult rsa_public_blob(Bytes n, Bytes e, quarzel::SecretBytes& blob);
// Modulus and public exponent (significant bytes) of a raw private or
// public blob; false for a blob that is not one.
bool rsa_public_parts(Bytes blob, bool is_private, quarzel::SecretBytes& n, quarzel::SecretBytes& e);

// Drops the leading zero bytes of a big-endian number.
inline Bytes significant(Bytes v) {
  while (!v.empty() && v.front() == 0) v = v.subspan(1);
  return v;
}

}  // namespace zebp11::keymath
