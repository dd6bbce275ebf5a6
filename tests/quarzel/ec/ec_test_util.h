// Helpers of the EC tests: curve catalogue, key objects on test buffers and
// OpenSSL as an independent oracle.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ec_group.h"
#include "quarzel/ecc.h"
#include "support/hex.h"
#include "support/seams.h"

namespace ect {

using zt::Bytes;

struct CurveCase {
  ecc_crv_t id;
  const char* wycheproof;  // curve name in the vector files
  int nid;                 // OpenSSL's curve
  uint32_t L;              // value length of this library
  uint32_t field_bytes;    // length of a coordinate in standard encodings
};

inline const std::vector<CurveCase>& curves() {
  static const std::vector<CurveCase> all = {
      {ECC_CRV_NIST_P224, "secp224r1", NID_secp224r1, 28, 28},
      {ECC_CRV_NIST_P256, "secp256r1", NID_X9_62_prime256v1, 32, 32},
      {ECC_CRV_NIST_P384, "secp384r1", NID_secp384r1, 48, 48},
      {ECC_CRV_NIST_P521, "secp521r1", NID_secp521r1, 68, 66},
      {ECC_CRV_SECP256K1, "secp256k1", NID_secp256k1, 32, 32},
      {ECC_CRV_BP256R1, "brainpoolP256r1", NID_brainpoolP256r1, 32, 32},
      {ECC_CRV_BP384R1, "brainpoolP384r1", NID_brainpoolP384r1, 48, 48},
      {ECC_CRV_BP512R1, "brainpoolP512r1", NID_brainpoolP512r1, 64, 64},
  };
  return all;
}
inline const CurveCase* curve_by_name(const std::string& name) {
  for (const auto& c : curves())
    if (name == c.wycheproof) return &c;
  return nullptr;
}

// Vector files of curves whose field fits four 64-bit limbs: these have a
// BMI2/ADX product besides the portable one.
inline bool four_limb_file(const std::string& file) {
  for (const char* name : {"secp224r1", "secp256r1", "secp256k1", "brainpoolP256r1"})
    if (file.find(name) != std::string::npos) return true;
  return false;
}

// Runs the portable field products while in scope.
struct PortableField : zt::PortablePath {
  PortableField() : zt::PortablePath(quarzel::testing::Path::ec) {}
};

// Right-aligns v into exactly L bytes; false when v has non-zero bytes beyond L.
inline bool fit(const Bytes& v, uint32_t L, Bytes* out) {
  size_t start = 0;
  while (v.size() - start > L) {
    if (v[start] != 0) return false;
    ++start;
  }
  out->assign(L - (v.size() - start), 0);
  out->insert(out->end(), v.begin() + static_cast<long>(start), v.end());
  return true;
}
inline Bytes pad(const Bytes& v, uint32_t L) {
  Bytes out;
  if (!fit(v, L, &out)) out.clear();
  return out;
}

// Key objects whose values the library allocates; freed on destruction.
struct PriKey {
  ecc_prikey_t k{};
  explicit PriKey(ecc_crv_t crv) {
    ecc_prikey_init(&k, crv);
    (void)ecc_prikey_value_alloc(&k);
  }
  PriKey(ecc_crv_t crv, const Bytes& d) : PriKey(crv) { (void)ecc_prikey_value_set(&k, static_cast<uint32_t>(d.size()), d.data()); }
  ~PriKey() { (void)ecc_prikey_value_free(&k); }
  PriKey(const PriKey&) = delete;
  PriKey& operator=(const PriKey&) = delete;
  Bytes d(uint32_t L) const { return Bytes(k.d_value, k.d_value + L); }
};
struct PubKey {
  ecc_pubkey_t k{};
  explicit PubKey(ecc_crv_t crv) {
    ecc_pubkey_init(&k, crv);
    (void)ecc_pubkey_value_alloc(&k);
  }
  PubKey(ecc_crv_t crv, const Bytes& x, const Bytes& y) : PubKey(crv) {
    (void)ecc_pubkey_value_set(&k, static_cast<uint32_t>(x.size()), x.data(),
                               static_cast<uint32_t>(y.size()), y.data());
  }
  ~PubKey() { (void)ecc_pubkey_value_free(&k); }
  PubKey(const PubKey&) = delete;
  PubKey& operator=(const PubKey&) = delete;
  Bytes x(uint32_t L) const { return Bytes(k.q_point_x, k.q_point_x + L); }
  Bytes y(uint32_t L) const { return Bytes(k.q_point_y, k.q_point_y + L); }
};

// ---- OpenSSL oracle ----
struct BnDel { void operator()(BIGNUM* b) const { BN_free(b); } };
struct GroupDel { void operator()(EC_GROUP* g) const { EC_GROUP_free(g); } };
struct PointDel { void operator()(EC_POINT* p) const { EC_POINT_free(p); } };
struct KeyDel { void operator()(EC_KEY* k) const { EC_KEY_free(k); } };
using BnPtr = std::unique_ptr<BIGNUM, BnDel>;
using GroupPtr = std::unique_ptr<EC_GROUP, GroupDel>;
using PointPtr = std::unique_ptr<EC_POINT, PointDel>;
using KeyPtr = std::unique_ptr<EC_KEY, KeyDel>;

inline BnPtr bn(const Bytes& b) { return BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr)); }
inline Bytes bytes_of(const BIGNUM* b, uint32_t L) {
  Bytes out(L);
  BN_bn2binpad(b, out.data(), static_cast<int>(L));
  return out;
}

// (x, y) = d * G computed by OpenSSL, L bytes each.
inline void ossl_mul_g(const CurveCase& c, const Bytes& d, Bytes* x, Bytes* y) {
  GroupPtr g(EC_GROUP_new_by_curve_name(c.nid));
  PointPtr p(EC_POINT_new(g.get()));
  BnPtr bd = bn(d), bx(BN_new()), by(BN_new());
  EC_POINT_mul(g.get(), p.get(), bd.get(), nullptr, nullptr, nullptr);
  EC_POINT_get_affine_coordinates(g.get(), p.get(), bx.get(), by.get(), nullptr);
  *x = bytes_of(bx.get(), c.L);
  *y = bytes_of(by.get(), c.L);
}

inline KeyPtr ossl_key(const CurveCase& c, const Bytes& x, const Bytes& y, const Bytes* d) {
  KeyPtr k(EC_KEY_new_by_curve_name(c.nid));
  BnPtr bx = bn(x), by = bn(y);
  EC_KEY_set_public_key_affine_coordinates(k.get(), bx.get(), by.get());
  if (d != nullptr) {
    BnPtr bd = bn(*d);
    EC_KEY_set_private_key(k.get(), bd.get());
  }
  return k;
}

// ECDSA verification of (r, s) over a digest by OpenSSL.
inline bool ossl_verify(const CurveCase& c, const Bytes& x, const Bytes& y, const Bytes& digest,
                        const Bytes& r, const Bytes& s) {
  KeyPtr k = ossl_key(c, x, y, nullptr);
  ECDSA_SIG* sig = ECDSA_SIG_new();
  ECDSA_SIG_set0(sig, bn(r).release(), bn(s).release());
  const int ok = ECDSA_do_verify(digest.data(), static_cast<int>(digest.size()), sig, k.get());
  ECDSA_SIG_free(sig);
  return ok == 1;
}

// ECDSA signature by OpenSSL, r and s as L bytes.
inline void ossl_sign(const CurveCase& c, const Bytes& d, const Bytes& x, const Bytes& y,
                      const Bytes& digest, Bytes* r, Bytes* s) {
  KeyPtr k = ossl_key(c, x, y, &d);
  ECDSA_SIG* sig = ECDSA_do_sign(digest.data(), static_cast<int>(digest.size()), k.get());
  *r = bytes_of(ECDSA_SIG_get0_r(sig), c.L);
  *s = bytes_of(ECDSA_SIG_get0_s(sig), c.L);
  ECDSA_SIG_free(sig);
}

// Digest of msg with the named hash ("SHA-256", "SHA3-256", ...).
inline Bytes ossl_digest(const std::string& wycheproof_name, const Bytes& msg) {
  std::string name = wycheproof_name;
  const EVP_MD* md = EVP_get_digestbyname(name.c_str());
  if (md == nullptr && name.rfind("SHA-", 0) == 0) md = EVP_get_digestbyname(("SHA" + name.substr(4)).c_str());
  if (md == nullptr) return {};
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(msg.data(), msg.size(), out.data(), &len, md, nullptr);
  out.resize(len);
  return out;
}

}  // namespace ect
