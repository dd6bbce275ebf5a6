// OpenSSL as the oracle of the EC tests: the curves, their keys, ECDSA in
// the r || s form of PKCS#11 and ECDH.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "support/hex.h"

namespace zt {

struct EcCurveCase {
  const char* name;
  const char* oid_hex;  // DER OBJECT IDENTIFIER (CKA_EC_PARAMS)
  int nid;
  size_t order_len;
  size_t field_len;
  const char* hash;  // a digest of about the curve's strength
};

inline const std::vector<EcCurveCase>& ec_curves() {
  static const std::vector<EcCurveCase> all = {
      {"P-256", "06082a8648ce3d030107", NID_X9_62_prime256v1, 32, 32, "SHA256"},
      {"P-384", "06052b81040022", NID_secp384r1, 48, 48, "SHA384"},
      {"P-521", "06052b81040023", NID_secp521r1, 66, 66, "SHA512"},
      {"secp256k1", "06052b8104000a", NID_secp256k1, 32, 32, "SHA256"},
      {"brainpoolP256r1", "06092b2403030208010107", NID_brainpoolP256r1, 32, 32, "SHA256"},
      {"brainpoolP384r1", "06092b240303020801010b", NID_brainpoolP384r1, 48, 48, "SHA384"},
      {"brainpoolP512r1", "06092b240303020801010d", NID_brainpoolP512r1, 64, 64, "SHA512"},
  };
  return all;
}

using EcKeyPtr = std::unique_ptr<EC_KEY, decltype(&EC_KEY_free)>;

inline EcKeyPtr ec_new_key(int nid) {
  EcKeyPtr k(EC_KEY_new_by_curve_name(nid), EC_KEY_free);
  if (!k || EC_KEY_generate_key(k.get()) != 1) throw std::runtime_error("EC keygen");
  return k;
}

// The uncompressed point 04 || x || y of a key.
inline Bytes ec_point(const EC_KEY* k) {
  const EC_GROUP* g = EC_KEY_get0_group(k);
  Bytes out(EC_POINT_point2oct(g, EC_KEY_get0_public_key(k), POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, nullptr));
  EC_POINT_point2oct(g, EC_KEY_get0_public_key(k), POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), nullptr);
  return out;
}

// The DER OCTET STRING holding a point (CKA_EC_POINT).
inline Bytes der_octets(const Bytes& v) {
  Bytes out{0x04};
  if (v.size() < 128) {
    out.push_back(static_cast<uint8_t>(v.size()));
  } else {
    out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(v.size()));
  }
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

// The content of a DER OCTET STRING (short or one-byte long form).
inline Bytes der_content(const Bytes& der) {
  if (der.size() < 2 || der[0] != 0x04) throw std::runtime_error("not an OCTET STRING");
  size_t at = 2;
  size_t n = der[1];
  if (n == 0x81) {
    n = der[2];
    at = 3;
  }
  if (at + n != der.size()) throw std::runtime_error("OCTET STRING length");
  return Bytes(der.begin() + static_cast<long>(at), der.end());
}

inline EcKeyPtr ec_public_key(int nid, const Bytes& point) {
  EcKeyPtr k(EC_KEY_new_by_curve_name(nid), EC_KEY_free);
  EC_POINT* p = EC_POINT_new(EC_KEY_get0_group(k.get()));
  const bool ok = EC_POINT_oct2point(EC_KEY_get0_group(k.get()), p, point.data(), point.size(), nullptr) == 1 &&
                  EC_KEY_set_public_key(k.get(), p) == 1;
  EC_POINT_free(p);
  if (!ok) throw std::runtime_error("EC point");
  return k;
}

// Verifies r || s (n bytes each) over a digest.
inline bool ec_verify(int nid, const Bytes& point, const Bytes& digest, const Bytes& sig, size_t n) {
  if (sig.size() != 2 * n) return false;
  EcKeyPtr k = ec_public_key(nid, point);
  ECDSA_SIG* s = ECDSA_SIG_new();
  ECDSA_SIG_set0(s, BN_bin2bn(sig.data(), static_cast<int>(n), nullptr),
                 BN_bin2bn(sig.data() + n, static_cast<int>(n), nullptr));
  const int ok = ECDSA_do_verify(digest.data(), static_cast<int>(digest.size()), s, k.get());
  ECDSA_SIG_free(s);
  return ok == 1;
}

inline Bytes bn_fixed(const BIGNUM* bn, size_t n) {
  Bytes out(n);
  if (BN_bn2binpad(bn, out.data(), static_cast<int>(n)) < 0) throw std::runtime_error("BN too long");
  return out;
}

// r || s of n bytes each over a digest.
inline Bytes ec_sign(const EC_KEY* k, const Bytes& digest, size_t n) {
  ECDSA_SIG* s = ECDSA_do_sign(digest.data(), static_cast<int>(digest.size()), const_cast<EC_KEY*>(k));
  Bytes out = bn_fixed(ECDSA_SIG_get0_r(s), n);
  const Bytes sb = bn_fixed(ECDSA_SIG_get0_s(s), n);
  out.insert(out.end(), sb.begin(), sb.end());
  ECDSA_SIG_free(s);
  return out;
}

inline Bytes ec_private_value(const EC_KEY* k, size_t n) { return bn_fixed(EC_KEY_get0_private_key(k), n); }

// x(d * Q), the field's length.
inline Bytes ec_dh(const EC_KEY* mine, const Bytes& peer_point, int nid, size_t field_len) {
  EcKeyPtr peer = ec_public_key(nid, peer_point);
  Bytes z(field_len);
  const int n = ECDH_compute_key(z.data(), z.size(), EC_KEY_get0_public_key(peer.get()), const_cast<EC_KEY*>(mine),
                                 nullptr);
  if (n != static_cast<int>(field_len)) throw std::runtime_error("ECDH");
  return z;
}

}  // namespace zt
