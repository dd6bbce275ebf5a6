// C_GenerateKey and C_GenerateKeyPair: the mechanism gates, the permission
// and template checks, and nothing left behind by a failure.
#include "crypto_fixture.h"
#include "keys.h"

namespace zt {
namespace {

class KeyGen : public CryptoTest {
 protected:
  CK_RV generate(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE m, std::vector<Attr> attrs, CK_OBJECT_HANDLE* key) {
    CK_MECHANISM mech{m, nullptr, 0};
    auto t = tmpl(attrs);
    return p11->C_GenerateKey(h, &mech, t.data(), t.size(), key);
  }
  CK_RV pair(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE m, std::vector<Attr> pub, std::vector<Attr> priv, KeyPair* k) {
    CK_MECHANISM mech{m, nullptr, 0};
    auto pt = tmpl(pub);
    auto vt = tmpl(priv);
    return p11->C_GenerateKeyPair(h, &mech, pt.data(), pt.size(), vt.data(), vt.size(), &k->pub, &k->priv);
  }
  // Every object the session can see.
  size_t objects() {
    EXPECT_EQ(p11->C_FindObjectsInit(s, nullptr, 0), CKR_OK);
    CK_OBJECT_HANDLE h[64];
    CK_ULONG n = 0;
    size_t total = 0;
    do {
      EXPECT_EQ(p11->C_FindObjects(s, h, 64, &n), CKR_OK);
      total += n;
    } while (n != 0);
    EXPECT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
    return total;
  }
  const Bytes p256 = unhex("06082a8648ce3d030107");
};

TEST_F(KeyGen, AesKeysOnlyByAesKeyGen) {
  CK_OBJECT_HANDLE key = 0;
  for (CK_ULONG len : {16, 24, 32}) {
    ASSERT_EQ(generate(s, CKM_AES_KEY_GEN, {attr_ulong(CKA_VALUE_LEN, len), attr_bool(CKA_ENCRYPT, true)}, &key),
              CKR_OK);
    EXPECT_NE(key, 0u);
  }
  const size_t before = objects();
  for (CK_MECHANISM_TYPE m : {CKM_DES3_KEY_GEN, CKM_GENERIC_SECRET_KEY_GEN, CKM_EC_KEY_PAIR_GEN, CKM_AES_ECB}) {
    key = 0x1234;
    EXPECT_EQ(generate(s, m, {attr_ulong(CKA_VALUE_LEN, 32)}, &key), CKR_MECHANISM_INVALID) << std::hex << m;
    EXPECT_EQ(key, 0x1234u);
  }
  EXPECT_EQ(p11->C_GenerateKey(s, nullptr, nullptr, 0, &key), CKR_ARGUMENTS_BAD);
  CK_MECHANISM mech{CKM_AES_KEY_GEN, nullptr, 0};
  EXPECT_EQ(p11->C_GenerateKey(s, &mech, nullptr, 2, &key), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GenerateKey(s, &mech, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(generate(s, CKM_AES_KEY_GEN,
                     {attr_ulong(CKA_CLASS, CKO_SECRET_KEY), attr_ulong(CKA_VALUE_LEN, 32), attr_bool(CKA_LOCAL, true)},
                     &key),
            CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(objects(), before);

  // A read-only session writes no token object.
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(ro), CKR_OK);  // each session logs in itself
  EXPECT_EQ(generate(ro, CKM_AES_KEY_GEN, {attr_ulong(CKA_VALUE_LEN, 32), attr_bool(CKA_TOKEN, true)}, &key),
            CKR_FUNCTION_REJECTED);
  EXPECT_EQ(generate(ro, CKM_AES_KEY_GEN, {attr_ulong(CKA_VALUE_LEN, 32)}, &key), CKR_OK);  // a session key
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(generate(s, CKM_AES_KEY_GEN, {attr_ulong(CKA_VALUE_LEN, 32)}, &key), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(KeyGen, KeyPairChecksAndNothingLeftBehind) {
  KeyPair k;
  ASSERT_EQ(pair(s, CKM_EC_KEY_PAIR_GEN, {{CKA_EC_PARAMS, p256}}, {attr_bool(CKA_SIGN, true)}, &k), CKR_OK);
  const size_t before = objects();
  for (CK_MECHANISM_TYPE m : {CKM_EC_EDWARDS_KEY_PAIR_GEN, CKM_RSA_X9_31_KEY_PAIR_GEN, CKM_DSA_KEY_PAIR_GEN}) {
    KeyPair untouched{7, 8};
    EXPECT_EQ(pair(s, m, {{CKA_EC_PARAMS, p256}}, {}, &untouched), CKR_MECHANISM_INVALID);
    EXPECT_EQ(untouched.pub, 7u);
    EXPECT_EQ(untouched.priv, 8u);
  }
  KeyPair untouched{7, 8};
  // An unsupported curve: nothing stored, no handle written.
  EXPECT_EQ(pair(s, CKM_EC_KEY_PAIR_GEN, {{CKA_EC_PARAMS, unhex("06052b81040021")}}, {}, &untouched),
            CKR_CURVE_NOT_SUPPORTED);
  EXPECT_EQ(untouched.pub, 7u);
  EXPECT_EQ(pair(s, CKM_EC_KEY_PAIR_GEN,
                 {attr_ulong(CKA_CLASS, CKO_PUBLIC_KEY), {CKA_EC_PARAMS, p256}, attr_bool(CKA_LOCAL, true)}, {},
                 &untouched),
            CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(pair(s, CKM_RSA_PKCS_KEY_PAIR_GEN, {attr_ulong(CKA_MODULUS_BITS, 2048)},
                 {attr_ulong(CKA_CLASS, CKO_PRIVATE_KEY), attr_bool(CKA_NEVER_EXTRACTABLE, true)}, &untouched),
            CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(objects(), before);
  EXPECT_EQ(untouched.priv, 8u);

  CK_MECHANISM mech{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
  EXPECT_EQ(p11->C_GenerateKeyPair(s, &mech, nullptr, 1, nullptr, 0, &k.pub, &k.priv), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GenerateKeyPair(s, &mech, nullptr, 0, nullptr, 0, nullptr, &k.priv), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GenerateKeyPair(s + 99, &mech, nullptr, 0, nullptr, 0, &k.pub, &k.priv),
            CKR_SESSION_HANDLE_INVALID);

  // A read-only session: private session keys only.
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(ro), CKR_OK);  // each session logs in itself
  EXPECT_EQ(pair(ro, CKM_EC_KEY_PAIR_GEN, {{CKA_EC_PARAMS, p256}}, {}, &k), CKR_OK);
  EXPECT_EQ(pair(ro, CKM_EC_KEY_PAIR_GEN, {{CKA_EC_PARAMS, p256}, attr_bool(CKA_TOKEN, true)}, {}, &k),
            CKR_FUNCTION_REJECTED);
}

}  // namespace
}  // namespace zt
