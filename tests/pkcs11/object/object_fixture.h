// A logged-in session of the loaded module, template builders, and the
// OpenSSL keys that object imports are made from.
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/p11_module.h"

namespace zt {

using Bytes = std::vector<uint8_t>;

// A template whose values it owns.
class Tmpl {
 public:
  Tmpl& ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) { return raw(t, &v, sizeof v); }
  Tmpl& flag(CK_ATTRIBUTE_TYPE t, bool v) {
    const CK_BBOOL b = v ? CK_TRUE : CK_FALSE;
    return raw(t, &b, 1);
  }
  Tmpl& bytes(CK_ATTRIBUTE_TYPE t, const Bytes& v) { return raw(t, v.data(), v.size()); }
  Tmpl& text(CK_ATTRIBUTE_TYPE t, const std::string& v) { return raw(t, v.data(), v.size()); }
  Tmpl& raw(CK_ATTRIBUTE_TYPE t, const void* p, size_t n) {
    values_.emplace_back(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    types_.push_back(t);
    return *this;
  }
  // The entries, pointing into this template's own values.
  CK_ATTRIBUTE* attrs() {
    built_.clear();
    for (size_t i = 0; i < types_.size(); ++i) {
      built_.push_back({types_[i], values_[i].empty() ? nullptr : values_[i].data(), values_[i].size()});
    }
    return built_.empty() ? nullptr : built_.data();
  }
  CK_ULONG count() const { return types_.size(); }

 private:
  std::vector<CK_ATTRIBUTE_TYPE> types_;
  std::vector<Bytes> values_;
  std::vector<CK_ATTRIBUTE> built_;
};

inline Bytes b(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes ulong_bytes(CK_ULONG v) {
  Bytes out(sizeof v);
  std::memcpy(out.data(), &v, sizeof v);
  return out;
}

// ---- OpenSSL keys ----------------------------------------------------------------

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

inline Bytes bn_param(EVP_PKEY* k, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(k, name, &bn) != 1) return {};
  Bytes out(BN_num_bytes(bn));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

inline Bytes bn_padded(EVP_PKEY* k, const char* name, size_t len) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(k, name, &bn) != 1) return {};
  Bytes out(len);
  BN_bn2binpad(bn, out.data(), static_cast<int>(len));
  BN_free(bn);
  return out;
}

inline Pkey rsa_key(unsigned bits, unsigned e = 65537) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* k = nullptr;
  BIGNUM* be = BN_new();
  BN_set_word(be, e);
  if (EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, static_cast<int>(bits)) == 1 &&
      EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, be) == 1) {
    (void)EVP_PKEY_keygen(ctx, &k);
  }
  BN_free(be);
  EVP_PKEY_CTX_free(ctx);
  return Pkey(k);
}

inline Pkey ec_key(const char* curve) { return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve)); }

// The uncompressed point 04 || x || y of an EC key.
inline Bytes ec_point(EVP_PKEY* k) {
  size_t n = 0;
  EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &n);
  Bytes out(n);
  EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, out.data(), n, &n);
  return out;
}

inline Bytes der_octet_string(const Bytes& v) {
  Bytes out{0x04};
  if (v.size() >= 0x80) out.push_back(0x81);
  out.push_back(static_cast<uint8_t>(v.size()));
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

// DER OID of a named curve (the CKA_EC_PARAMS form).
inline Bytes curve_oid(int nid) {
  ASN1_OBJECT* o = OBJ_nid2obj(nid);
  const int n = i2d_ASN1_OBJECT(o, nullptr);
  Bytes out(n);
  uint8_t* p = out.data();
  i2d_ASN1_OBJECT(o, &p);
  return out;
}

// ---- The session --------------------------------------------------------------------

class ObjectTest : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    if (HasFatalFailure()) return;
    add_token();
    initialize();
    s = open();
    ASSERT_EQ(login(s), CKR_OK);
  }

  CK_RV create(Tmpl& t, CK_OBJECT_HANDLE* h, CK_SESSION_HANDLE in = 0) {
    return p11->C_CreateObject(in == 0 ? s : in, t.attrs(), t.count(), h);
  }
  CK_OBJECT_HANDLE made(Tmpl& t) {
    CK_OBJECT_HANDLE h = CK_INVALID_HANDLE;
    EXPECT_EQ(create(t, &h), CKR_OK);
    return h;
  }

  // One attribute's value; `rv` receives the call's result.
  Bytes attr(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type, CK_RV* rv = nullptr) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    CK_RV r = p11->C_GetAttributeValue(s, h, &a, 1);
    Bytes out;
    if (r == CKR_OK) {
      out.assign(a.ulValueLen, 0xAA);
      a.pValue = out.data();
      r = p11->C_GetAttributeValue(s, h, &a, 1);
      out.resize(r == CKR_OK ? a.ulValueLen : 0);
    }
    if (rv != nullptr) *rv = r;
    return out;
  }
  CK_ULONG attr_ulong(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
    const Bytes v = attr(h, type);
    CK_ULONG x = ~0ul;
    if (v.size() == sizeof x) std::memcpy(&x, v.data(), sizeof x);
    return x;
  }
  int attr_bool(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
    const Bytes v = attr(h, type);
    return v.size() == 1 ? v[0] : -1;
  }

  std::vector<CK_OBJECT_HANDLE> find(Tmpl& t, CK_ULONG page = 1000, CK_SESSION_HANDLE in = 0) {
    if (in == 0) in = s;
    std::vector<CK_OBJECT_HANDLE> all;
    EXPECT_EQ(p11->C_FindObjectsInit(in, t.attrs(), t.count()), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> buf(page);
    for (;;) {
      CK_ULONG n = 0;
      EXPECT_EQ(p11->C_FindObjects(in, buf.data(), page, &n), CKR_OK);
      if (n == 0) break;
      all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
    EXPECT_EQ(p11->C_FindObjectsFinal(in), CKR_OK);
    return all;
  }

  CK_SESSION_HANDLE s = 0;
};

// Templates of every kind the module keeps.
inline Tmpl data_object(const std::string& label, const Bytes& value, bool token = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_DATA).flag(CKA_TOKEN, token).text(CKA_LABEL, label).bytes(CKA_VALUE, value);
  return t;
}

inline Tmpl aes_object(const Bytes& key, bool token = false, bool sensitive = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).flag(CKA_TOKEN, token).text(CKA_ID, "aes");
  t.text(CKA_LABEL, "aes key").flag(CKA_SENSITIVE, sensitive).flag(CKA_ENCRYPT, true).bytes(CKA_VALUE, key);
  return t;
}

inline Tmpl ec_public(EVP_PKEY* k, int nid, bool der = true, bool token = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).flag(CKA_TOKEN, token).text(CKA_ID, "ec");
  t.bytes(CKA_EC_PARAMS, curve_oid(nid)).bytes(CKA_EC_POINT, der ? der_octet_string(ec_point(k)) : ec_point(k));
  return t;
}

inline Tmpl ec_private(const Bytes& d, int nid, bool token = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_EC).flag(CKA_TOKEN, token).text(CKA_ID, "ec");
  t.bytes(CKA_EC_PARAMS, curve_oid(nid)).flag(CKA_SIGN, true).bytes(CKA_VALUE, d);
  return t;
}

inline Tmpl rsa_public(EVP_PKEY* k, bool token = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA).flag(CKA_TOKEN, token).text(CKA_ID, "rsa");
  t.bytes(CKA_MODULUS, bn_param(k, OSSL_PKEY_PARAM_RSA_N)).bytes(CKA_PUBLIC_EXPONENT, bn_param(k, OSSL_PKEY_PARAM_RSA_E));
  return t;
}

inline Tmpl rsa_private(EVP_PKEY* k, bool crt = true, bool token = false) {
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA).flag(CKA_TOKEN, token).text(CKA_ID, "rsa");
  t.bytes(CKA_MODULUS, bn_param(k, OSSL_PKEY_PARAM_RSA_N)).bytes(CKA_PUBLIC_EXPONENT, bn_param(k, OSSL_PKEY_PARAM_RSA_E));
  t.bytes(CKA_PRIVATE_EXPONENT, bn_param(k, OSSL_PKEY_PARAM_RSA_D));
  if (crt) {
    t.bytes(CKA_PRIME_1, bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR1)).bytes(CKA_PRIME_2, bn_param(k, OSSL_PKEY_PARAM_RSA_FACTOR2));
    t.bytes(CKA_EXPONENT_1, bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT1));
    t.bytes(CKA_EXPONENT_2, bn_param(k, OSSL_PKEY_PARAM_RSA_EXPONENT2));
    t.bytes(CKA_COEFFICIENT, bn_param(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1));
  }
  return t;
}

}  // namespace zt
