// OpenSSL as the independent oracle of the crypto API tests: EC keys from raw
// blobs, ECDSA verification, ECDH, and RSA keys from raw blobs with PKCS#1
// v1.5 signatures and encryption (AES one-shot: support/openssl_aes.h).
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/hex.h"
#include "support/openssl_aes.h"

namespace ct {

using zt::Bytes;

// Curves of the EC face: id (ecc_crv_t), OpenSSL's curve, value length L of
// the library (P-521: 68) and coordinate length of standard encodings.
struct Curve {
  uint8_t id;
  int nid;
  uint32_t L;
  uint32_t field;
  const char* name;
};
inline const std::vector<Curve>& curves() {
  static const std::vector<Curve> all = {
      {18, NID_X9_62_prime256v1, 32, 32, "P-256"},  {19, NID_secp384r1, 48, 48, "P-384"},
      {20, NID_secp521r1, 68, 66, "P-521"},         {34, NID_secp256k1, 32, 32, "secp256k1"},
      {67, NID_brainpoolP256r1, 32, 32, "bp256r1"}, {69, NID_brainpoolP384r1, 48, 48, "bp384r1"},
      {70, NID_brainpoolP512r1, 64, 64, "bp512r1"},
  };
  return all;
}

inline Bytes bn_bytes(const BIGNUM* bn, size_t len) {
  Bytes out(len);
  if (BN_bn2binpad(bn, out.data(), static_cast<int>(len)) < 0) throw std::runtime_error("BN too long");
  return out;
}

using EcKey = std::unique_ptr<EC_KEY, decltype(&EC_KEY_free)>;

// The public key of a raw EC public blob: curve id, 3 bytes, x, y (L each).
inline EcKey ec_public(const Curve& c, const Bytes& blob) {
  if (blob.size() != 4 + 2 * c.L || blob[0] != c.id) throw std::runtime_error("EC public blob");
  EcKey k(EC_KEY_new_by_curve_name(c.nid), EC_KEY_free);
  BIGNUM* x = BN_bin2bn(blob.data() + 4, static_cast<int>(c.L), nullptr);
  BIGNUM* y = BN_bin2bn(blob.data() + 4 + c.L, static_cast<int>(c.L), nullptr);
  const bool ok = EC_KEY_set_public_key_affine_coordinates(k.get(), x, y) == 1;
  BN_free(x);
  BN_free(y);
  if (!ok) throw std::runtime_error("EC point");
  return k;
}

// Verifies r || s (L bytes each) over a digest.
inline bool ec_verify(const Curve& c, const Bytes& pub_blob, const Bytes& digest, const Bytes& sig) {
  if (sig.size() != 2 * c.L) return false;
  EcKey k = ec_public(c, pub_blob);
  ECDSA_SIG* s = ECDSA_SIG_new();
  ECDSA_SIG_set0(s, BN_bin2bn(sig.data(), static_cast<int>(c.L), nullptr),
                 BN_bin2bn(sig.data() + c.L, static_cast<int>(c.L), nullptr));
  const int ok = ECDSA_do_verify(digest.data(), static_cast<int>(digest.size()), s, k.get());
  ECDSA_SIG_free(s);
  return ok == 1;
}

// A fresh OpenSSL key and its raw public blob in this system's form.
struct EcPeer {
  EcKey key{nullptr, EC_KEY_free};
  Bytes blob;
};
inline EcPeer ec_peer(const Curve& c) {
  EcPeer p;
  p.key = EcKey(EC_KEY_new_by_curve_name(c.nid), EC_KEY_free);
  if (EC_KEY_generate_key(p.key.get()) != 1) throw std::runtime_error("EC keygen");
  BIGNUM* x = BN_new();
  BIGNUM* y = BN_new();
  EC_POINT_get_affine_coordinates(EC_KEY_get0_group(p.key.get()), EC_KEY_get0_public_key(p.key.get()), x, y, nullptr);
  p.blob = {c.id, 0, 0, 0};
  for (const BIGNUM* v : {x, y}) {
    const Bytes b = bn_bytes(v, c.L);
    p.blob.insert(p.blob.end(), b.begin(), b.end());
  }
  BN_free(x);
  BN_free(y);
  return p;
}

// x(d * Q) with OpenSSL's key and the peer's raw public blob, L bytes.
inline Bytes ecdh(const Curve& c, const EcPeer& ours, const Bytes& peer_blob) {
  EcKey peer = ec_public(c, peer_blob);
  Bytes z(c.field);
  const int n = ECDH_compute_key(z.data(), z.size(), EC_KEY_get0_public_key(peer.get()), ours.key.get(), nullptr);
  if (n != static_cast<int>(c.field)) throw std::runtime_error("ECDH");
  Bytes out(c.L - c.field, 0);
  out.insert(out.end(), z.begin(), z.end());
  return out;
}

using Rsa = std::unique_ptr<RSA, decltype(&RSA_free)>;

inline uint16_t u16le(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// A raw RSA public blob: u16 bits, u16 flags, n, e (k bytes each).
inline Rsa rsa_public(const Bytes& blob) {
  const size_t k = u16le(blob, 0) / 8;
  if (blob.size() != 4 + 2 * k) throw std::runtime_error("RSA public blob");
  Rsa r(RSA_new(), RSA_free);
  RSA_set0_key(r.get(), BN_bin2bn(blob.data() + 4, static_cast<int>(k), nullptr),
               BN_bin2bn(blob.data() + 4 + k, static_cast<int>(k), nullptr), nullptr);
  return r;
}

// A raw CRT-fast RSA private blob: u16 bits, u16 mask, n, e, d (k bytes),
// p, q, dp, dq, qinv (k/2 bytes).
inline Rsa rsa_private(const Bytes& blob) {
  const size_t k = u16le(blob, 0) / 8;
  const size_t h = k / 2;
  if (blob.size() != 4 + 3 * k + 5 * h) throw std::runtime_error("RSA private blob");
  const uint8_t* p = blob.data() + 4;
  auto take = [&p](size_t n) {
    BIGNUM* b = BN_bin2bn(p, static_cast<int>(n), nullptr);
    p += n;
    return b;
  };
  Rsa r(RSA_new(), RSA_free);
  BIGNUM* n = take(k);
  BIGNUM* e = take(k);
  BIGNUM* d = take(k);
  RSA_set0_key(r.get(), n, e, d);
  BIGNUM* pp = take(h);
  BIGNUM* q = take(h);
  RSA_set0_factors(r.get(), pp, q);
  BIGNUM* dp = take(h);
  BIGNUM* dq = take(h);
  BIGNUM* qi = take(h);
  RSA_set0_crt_params(r.get(), dp, dq, qi);
  return r;
}

// Digests with OpenSSL.
inline Bytes digest(const EVP_MD* md, const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
  out.resize(n);
  return out;
}

}  // namespace ct
