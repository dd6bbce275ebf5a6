// Keys made and read through the module's function list: generated pairs,
// imported EC, AES and RSA keys, and attribute read-out.
#pragma once

#include <gtest/gtest.h>
#include <pkcs11/pkcs11.h>

#include <cstring>
#include <utility>
#include <vector>

#include "support/hex.h"

namespace zt {

struct Attr {
  CK_ATTRIBUTE_TYPE type;
  Bytes value;
};
inline Attr attr_bool(CK_ATTRIBUTE_TYPE t, bool v) { return {t, Bytes{static_cast<uint8_t>(v ? 1 : 0)}}; }
inline Attr attr_ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return {t, b};
}

// A template over a list of attributes (which must outlive it).
inline std::vector<CK_ATTRIBUTE> tmpl(std::vector<Attr>& attrs) {
  std::vector<CK_ATTRIBUTE> t;
  for (Attr& a : attrs) t.push_back({a.type, a.value.empty() ? nullptr : a.value.data(), a.value.size()});
  return t;
}

struct KeyPair {
  CK_OBJECT_HANDLE pub = 0;
  CK_OBJECT_HANDLE priv = 0;
};

// Adds `extra` to `attrs`, replacing attributes of the same type.
inline void merge(std::vector<Attr>& attrs, const std::vector<Attr>& extra) {
  for (const Attr& e : extra) {
    bool replaced = false;
    for (Attr& a : attrs) {
      if (a.type == e.type) {
        a.value = e.value;
        replaced = true;
      }
    }
    if (!replaced) attrs.push_back(e);
  }
}

class Keys {
 public:
  Keys(CK_FUNCTION_LIST_3_0* p11, CK_SESSION_HANDLE s) : p11_(p11), s_(s) {}

  CK_RV create(std::vector<Attr> attrs, CK_OBJECT_HANDLE* h) {
    auto t = tmpl(attrs);
    return p11_->C_CreateObject(s_, t.data(), t.size(), h);
  }

  // A pair of session objects (token objects with `token`), usable for
  // signing, verification and derivation.
  KeyPair ec_pair(const Bytes& oid, bool token = false, std::vector<Attr> pub_extra = {},
                  std::vector<Attr> priv_extra = {}) {
    std::vector<Attr> pub = {{CKA_EC_PARAMS, oid}, attr_bool(CKA_VERIFY, true), attr_bool(CKA_TOKEN, token)};
    std::vector<Attr> priv = {attr_bool(CKA_SIGN, true), attr_bool(CKA_DERIVE, true), attr_bool(CKA_TOKEN, token),
                              attr_bool(CKA_PRIVATE, true)};
    merge(pub, pub_extra);
    merge(priv, priv_extra);
    return pair(CKM_EC_KEY_PAIR_GEN, pub, priv);
  }

  KeyPair rsa_pair(CK_ULONG bits) {
    Bytes e = unhex("010001");
    std::vector<Attr> pub = {attr_ulong(CKA_MODULUS_BITS, bits), {CKA_PUBLIC_EXPONENT, e},
                             attr_bool(CKA_ENCRYPT, true), attr_bool(CKA_VERIFY, true)};
    std::vector<Attr> priv = {attr_bool(CKA_DECRYPT, true), attr_bool(CKA_SIGN, true), attr_bool(CKA_PRIVATE, true)};
    return pair(CKM_RSA_PKCS_KEY_PAIR_GEN, pub, priv);
  }

  KeyPair pair(CK_MECHANISM_TYPE m, std::vector<Attr>& pub, std::vector<Attr>& priv) {
    auto pt = tmpl(pub);
    auto vt = tmpl(priv);
    CK_MECHANISM mech{m, nullptr, 0};
    KeyPair k;
    EXPECT_EQ(p11_->C_GenerateKeyPair(s_, &mech, pt.data(), pt.size(), vt.data(), vt.size(), &k.pub, &k.priv), CKR_OK);
    return k;
  }

  CK_OBJECT_HANDLE aes(const Bytes& value, bool token = false) {
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create({attr_ulong(CKA_CLASS, CKO_SECRET_KEY), attr_ulong(CKA_KEY_TYPE, CKK_AES), {CKA_VALUE, value},
                      attr_bool(CKA_ENCRYPT, true), attr_bool(CKA_DECRYPT, true), attr_bool(CKA_TOKEN, token),
                      attr_bool(CKA_PRIVATE, true)},
                     &h),
              CKR_OK);
    return h;
  }

  CK_OBJECT_HANDLE generate_aes(CK_ULONG len) {
    std::vector<Attr> a = {attr_ulong(CKA_VALUE_LEN, len), attr_bool(CKA_ENCRYPT, true), attr_bool(CKA_DECRYPT, true)};
    auto t = tmpl(a);
    CK_MECHANISM mech{CKM_AES_KEY_GEN, nullptr, 0};
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(p11_->C_GenerateKey(s_, &mech, t.data(), t.size(), &h), CKR_OK);
    return h;
  }

  CK_OBJECT_HANDLE ec_public(const Bytes& oid, const Bytes& point) {
    CK_OBJECT_HANDLE h = 0;
    Bytes der = point;
    der.insert(der.begin(), static_cast<uint8_t>(point.size()));
    if (point.size() >= 128) der.insert(der.begin(), 0x81);
    der.insert(der.begin(), 0x04);
    EXPECT_EQ(create({attr_ulong(CKA_CLASS, CKO_PUBLIC_KEY), attr_ulong(CKA_KEY_TYPE, CKK_EC), {CKA_EC_PARAMS, oid},
                      {CKA_EC_POINT, der}, attr_bool(CKA_VERIFY, true)},
                     &h),
              CKR_OK);
    return h;
  }

  CK_OBJECT_HANDLE ec_private(const Bytes& oid, const Bytes& d) {
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create({attr_ulong(CKA_CLASS, CKO_PRIVATE_KEY), attr_ulong(CKA_KEY_TYPE, CKK_EC), {CKA_EC_PARAMS, oid},
                      {CKA_VALUE, d}, attr_bool(CKA_SIGN, true), attr_bool(CKA_DERIVE, true),
                      attr_bool(CKA_PRIVATE, true)},
                     &h),
              CKR_OK);
    return h;
  }

  Bytes attribute(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE a{type, nullptr, 0};
    EXPECT_EQ(p11_->C_GetAttributeValue(s_, h, &a, 1), CKR_OK);
    Bytes v(a.ulValueLen);
    a.pValue = v.data();
    EXPECT_EQ(p11_->C_GetAttributeValue(s_, h, &a, 1), CKR_OK);
    v.resize(a.ulValueLen);
    return v;
  }

 private:
  CK_FUNCTION_LIST_3_0* p11_;
  CK_SESSION_HANDLE s_;
};

}  // namespace zt
