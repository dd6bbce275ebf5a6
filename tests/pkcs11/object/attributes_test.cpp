// What the loaded module answers for the usage and boolean attributes of each
// class: the class's usages when a template names none, values the record
// and the key's origin fix, and the standard's refusal for attributes a class
// does not have.
#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class Attributes : public ObjectTest {
 protected:
  // The call's result and the entry's length for one attribute read into a
  // buffer that must stay as given when nothing is answered.
  struct Read {
    CK_RV rv;
    CK_ULONG len;
    Bytes value;
  };
  Read read(CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type) {
    Bytes buf(16, 0xA5);
    CK_ATTRIBUTE a{type, buf.data(), buf.size()};
    const CK_RV rv = p11->C_GetAttributeValue(s, h, &a, 1);
    if (a.ulValueLen <= buf.size()) buf.resize(a.ulValueLen);
    return {rv, a.ulValueLen, buf};
  }
  static Bytes bbool(bool v) { return Bytes{static_cast<uint8_t>(v ? CK_TRUE : CK_FALSE)}; }
  CK_OBJECT_HANDLE generate_aes() {
    CK_MECHANISM m{CKM_AES_KEY_GEN, nullptr, 0};
    Tmpl t;
    t.ulong(CKA_VALUE_LEN, 16).text(CKA_ID, "gen");
    CK_OBJECT_HANDLE h = CK_INVALID_HANDLE;
    EXPECT_EQ(p11->C_GenerateKey(s, &m, t.attrs(), t.count(), &h), CKR_OK);
    return h;
  }
  void generate_ec(CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv) {
    CK_MECHANISM m{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
    Tmpl tp, tv;
    tp.bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
    ASSERT_EQ(p11->C_GenerateKeyPair(s, &m, tp.attrs(), tp.count(), tv.attrs(), tv.count(), pub, priv), CKR_OK);
  }
};

// An ECDSA signature over a SHA-256 digest, made with `priv` and checked
// with `pub` (both through the module); the first failing code.
CK_RV sign_and_verify(CK_FUNCTION_LIST_3_0* p11, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE priv, CK_OBJECT_HANDLE pub) {
  CK_MECHANISM m{CKM_ECDSA, nullptr, 0};
  Bytes digest(32, 0x5C), sig(64);
  CK_ULONG n = sig.size();
  if (CK_RV rv = p11->C_SignInit(s, &m, priv); rv != CKR_OK) return rv;
  if (CK_RV rv = p11->C_Sign(s, digest.data(), digest.size(), sig.data(), &n); rv != CKR_OK) return rv;
  if (CK_RV rv = p11->C_VerifyInit(s, &m, pub); rv != CKR_OK) return rv;
  return p11->C_Verify(s, digest.data(), digest.size(), sig.data(), n);
}

TEST_F(Attributes, KeysNamingNoUsageGetTheirClasssUsages) {
  Pkey ec = ec_key("P-256");
  const Bytes d = bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  Tmpl pub_t;
  pub_t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
  pub_t.bytes(CKA_EC_POINT, der_octet_string(ec_point(ec.get())));
  Tmpl priv_t;
  priv_t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
  priv_t.bytes(CKA_VALUE, d);
  Tmpl sec_t;
  sec_t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).bytes(CKA_VALUE, Bytes(16, 3));
  const CK_OBJECT_HANDLE pub = made(pub_t), priv = made(priv_t), sec = made(sec_t);
  struct Case {
    CK_OBJECT_HANDLE h;
    CK_ATTRIBUTE_TYPE type;
    int want;  // -1: not an attribute of the class
  } cases[] = {
      {pub, CKA_VERIFY, 1},  {pub, CKA_ENCRYPT, 1}, {pub, CKA_WRAP, 1},    {pub, CKA_DERIVE, 0},
      {pub, CKA_SIGN, -1},   {pub, CKA_DECRYPT, -1}, {pub, CKA_UNWRAP, -1},
      {priv, CKA_SIGN, 1},   {priv, CKA_DECRYPT, 1}, {priv, CKA_UNWRAP, 1}, {priv, CKA_DERIVE, 1},
      {priv, CKA_VERIFY, -1}, {priv, CKA_ENCRYPT, -1}, {priv, CKA_WRAP, -1},
      {sec, CKA_ENCRYPT, 1}, {sec, CKA_DECRYPT, 1}, {sec, CKA_WRAP, 1},    {sec, CKA_UNWRAP, 1},
      {sec, CKA_SIGN, 0},    {sec, CKA_VERIFY, 0},  {sec, CKA_DERIVE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.h) + " " + std::to_string(c.type));
    const Read r = read(c.h, c.type);
    if (c.want < 0) {
      EXPECT_EQ(r.rv, CKR_ATTRIBUTE_TYPE_INVALID);
      EXPECT_EQ(r.len, CK_UNAVAILABLE_INFORMATION);
    } else {
      EXPECT_EQ(r.rv, CKR_OK);
      EXPECT_EQ(r.value, bbool(c.want == 1));
    }
  }
  // The defaults serve: the imported pair signs and verifies.
  EXPECT_EQ(sign_and_verify(p11, s, priv, pub), CKR_OK);
}

TEST_F(Attributes, AnExplicitFalseUsageStaysOffAndIsEnforced) {
  Pkey ec = ec_key("P-256");
  const Bytes d = bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  Tmpl pub_t = ec_public(ec.get(), NID_X9_62_prime256v1);
  pub_t.flag(CKA_VERIFY, false);
  Tmpl priv_t = ec_private(d, NID_X9_62_prime256v1);  // CKA_SIGN true
  Tmpl nosign_t;
  nosign_t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
  nosign_t.bytes(CKA_VALUE, d).flag(CKA_SIGN, false);
  const CK_OBJECT_HANDLE pub = made(pub_t), priv = made(priv_t), nosign = made(nosign_t);
  EXPECT_EQ(read(pub, CKA_VERIFY).value, bbool(false));
  EXPECT_EQ(read(pub, CKA_ENCRYPT).value, bbool(true));  // the others keep their default
  EXPECT_EQ(read(nosign, CKA_SIGN).value, bbool(false));
  EXPECT_EQ(read(nosign, CKA_DECRYPT).value, bbool(true));
  CK_MECHANISM m{CKM_ECDSA, nullptr, 0};
  EXPECT_EQ(p11->C_SignInit(s, &m, nosign), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(sign_and_verify(p11, s, priv, pub), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

TEST_F(Attributes, BooleansComeFromTheRecordAndTheKeysOrigin) {
  Pkey ec = ec_key("P-256");
  const Bytes d = bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  Tmpl pub_t = ec_public(ec.get(), NID_X9_62_prime256v1);
  Tmpl priv_t = ec_private(d, NID_X9_62_prime256v1);
  const CK_OBJECT_HANDLE imp_pub = made(pub_t), imp_priv = made(priv_t);
  Tmpl aes_t = aes_object(Bytes(16, 1), false, false);
  const CK_OBJECT_HANDLE imp_aes = made(aes_t);
  const CK_OBJECT_HANDLE gen_aes = generate_aes();
  CK_OBJECT_HANDLE gen_pub = 0, gen_priv = 0;
  generate_ec(&gen_pub, &gen_priv);
  Tmpl data_t = data_object("d", b("v"));
  const CK_OBJECT_HANDLE data = made(data_t);
  const Bytes no_mech = ulong_bytes(CK_UNAVAILABLE_INFORMATION);
  struct Case {
    const char* name;
    CK_OBJECT_HANDLE h;
    CK_ATTRIBUTE_TYPE type;
    Bytes want;  // empty: not an attribute of the object
  } cases[] = {
      {"local generated private", gen_priv, CKA_LOCAL, bbool(true)},
      {"local generated public", gen_pub, CKA_LOCAL, bbool(true)},
      {"local generated secret", gen_aes, CKA_LOCAL, bbool(true)},
      {"local imported private", imp_priv, CKA_LOCAL, bbool(false)},
      {"local imported public", imp_pub, CKA_LOCAL, bbool(false)},
      {"local imported secret", imp_aes, CKA_LOCAL, bbool(false)},
      {"mechanism generated pair", gen_priv, CKA_KEY_GEN_MECHANISM, ulong_bytes(CKM_EC_KEY_PAIR_GEN)},
      {"mechanism generated public", gen_pub, CKA_KEY_GEN_MECHANISM, ulong_bytes(CKM_EC_KEY_PAIR_GEN)},
      {"mechanism generated secret", gen_aes, CKA_KEY_GEN_MECHANISM, ulong_bytes(CKM_AES_KEY_GEN)},
      {"mechanism imported", imp_priv, CKA_KEY_GEN_MECHANISM, no_mech},
      {"always sensitive generated private", gen_priv, CKA_ALWAYS_SENSITIVE, bbool(true)},
      {"never extractable generated private", gen_priv, CKA_NEVER_EXTRACTABLE, bbool(true)},
      {"extractable private", gen_priv, CKA_EXTRACTABLE, bbool(false)},
      {"always sensitive imported private", imp_priv, CKA_ALWAYS_SENSITIVE, bbool(false)},
      {"never extractable imported private", imp_priv, CKA_NEVER_EXTRACTABLE, bbool(false)},
      {"always sensitive generated secret", gen_aes, CKA_ALWAYS_SENSITIVE, bbool(true)},
      {"extractable generated secret", gen_aes, CKA_EXTRACTABLE, bbool(false)},
      {"extractable imported secret", imp_aes, CKA_EXTRACTABLE, bbool(true)},
      {"never extractable imported secret", imp_aes, CKA_NEVER_EXTRACTABLE, bbool(false)},
      {"always authenticate", gen_priv, CKA_ALWAYS_AUTHENTICATE, bbool(false)},
      {"sign recover", gen_priv, CKA_SIGN_RECOVER, bbool(false)},
      {"verify recover", gen_pub, CKA_VERIFY_RECOVER, bbool(false)},
      {"wrap with trusted", gen_aes, CKA_WRAP_WITH_TRUSTED, bbool(false)},
      {"trusted public", imp_pub, CKA_TRUSTED, bbool(false)},
      {"sensitive of a public key", imp_pub, CKA_SENSITIVE, {}},
      {"extractable of a public key", gen_pub, CKA_EXTRACTABLE, {}},
      {"always authenticate of a public key", gen_pub, CKA_ALWAYS_AUTHENTICATE, {}},
      {"sign recover of a public key", gen_pub, CKA_SIGN_RECOVER, {}},
      {"trusted of a private key", gen_priv, CKA_TRUSTED, {}},
      {"local of a data object", data, CKA_LOCAL, {}},
      {"mechanism of a data object", data, CKA_KEY_GEN_MECHANISM, {}},
      {"sensitive of a data object", data, CKA_SENSITIVE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Read r = read(c.h, c.type);
    if (c.want.empty()) {
      EXPECT_EQ(r.rv, CKR_ATTRIBUTE_TYPE_INVALID);
      EXPECT_EQ(r.len, CK_UNAVAILABLE_INFORMATION);
    } else {
      EXPECT_EQ(r.rv, CKR_OK);
      EXPECT_EQ(r.value, c.want);
    }
  }
  // Empty values only where the standard lets an attribute be empty.
  for (CK_ATTRIBUTE_TYPE t : {CKA_START_DATE, CKA_END_DATE, CKA_SUBJECT, CKA_UNWRAP_TEMPLATE}) {
    const Read r = read(gen_priv, t);
    EXPECT_EQ(r.rv, CKR_OK) << t;
    EXPECT_EQ(r.len, 0u) << t;
  }
}

// A sensitive, non-extractable RSA private key answers its public values
// (read in the core) while every private component stays refused.
TEST_F(Attributes, RsaPrivateKeysAnswerTheirPublicValuesOnly) {
  Pkey rsa = rsa_key(2048);
  const Bytes n = bn_param(rsa.get(), OSSL_PKEY_PARAM_RSA_N), e = bn_param(rsa.get(), OSSL_PKEY_PARAM_RSA_E);
  for (bool token : {false, true}) {
    SCOPED_TRACE(token ? "token" : "session");
    Tmpl t = rsa_private(rsa.get(), true, token);
    t.flag(CKA_SENSITIVE, true).flag(CKA_EXTRACTABLE, false);
    const CK_OBJECT_HANDLE h = made(t);
    EXPECT_EQ(attr(h, CKA_MODULUS), n);
    EXPECT_EQ(attr(h, CKA_PUBLIC_EXPONENT), e);
    EXPECT_EQ(attr_ulong(h, CKA_MODULUS_BITS), 2048u);
    for (CK_ATTRIBUTE_TYPE part : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                                   CKA_COEFFICIENT, CKA_VALUE}) {
      const Read r = read(h, part);
      EXPECT_EQ(r.rv, CKR_ATTRIBUTE_SENSITIVE) << part;
      EXPECT_EQ(r.len, CK_UNAVAILABLE_INFORMATION) << part;
    }
    EXPECT_EQ(read(h, CKA_EXTRACTABLE).value, bbool(false));
  }
}

}  // namespace
}  // namespace zt
