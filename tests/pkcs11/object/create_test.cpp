// Object creation and destruction through the loaded module: every class and
// key type, template shapes, key imports and their checks.
#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class Create : public ObjectTest {};

TEST_F(Create, EveryClassIsCreatedReadAndDestroyedAsTokenAndSessionObject) {
  Pkey rsa = rsa_key(2048);
  Pkey ec = ec_key("P-256");
  const Bytes d = bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  for (bool token : {false, true}) {
    SCOPED_TRACE(token ? "token" : "session");
    Tmpl cert;
    cert.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).flag(CKA_TOKEN, token);
    cert.text(CKA_LABEL, "cert").bytes(CKA_VALUE, b("30 not really DER"));
    Tmpl generic;
    generic.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GENERIC_SECRET).flag(CKA_TOKEN, token);
    generic.bytes(CKA_VALUE, Bytes(20, 7));
    struct Case {
      const char* name;
      Tmpl t;
      CK_OBJECT_CLASS cls;
    } cases[] = {
        {"data", data_object("d", b("payload"), token), CKO_DATA},
        {"certificate", cert, CKO_CERTIFICATE},
        {"aes", aes_object(Bytes(16, 1), token), CKO_SECRET_KEY},
        {"generic", generic, CKO_SECRET_KEY},
        {"ec public", ec_public(ec.get(), NID_X9_62_prime256v1, true, token), CKO_PUBLIC_KEY},
        {"ec private", ec_private(d, NID_X9_62_prime256v1, token), CKO_PRIVATE_KEY},
        {"rsa public", rsa_public(rsa.get(), token), CKO_PUBLIC_KEY},
        {"rsa private", rsa_private(rsa.get(), true, token), CKO_PRIVATE_KEY},
    };
    for (auto& c : cases) {
      SCOPED_TRACE(c.name);
      CK_OBJECT_HANDLE h = 0;
      ASSERT_EQ(create(c.t, &h), CKR_OK);
      EXPECT_EQ((h & 0x80000000u) == 0, token);
      EXPECT_EQ(attr_ulong(h, CKA_CLASS), c.cls);
      EXPECT_EQ(attr_bool(h, CKA_TOKEN), token ? 1 : 0);
      CK_ULONG size = 0;
      EXPECT_EQ(p11->C_GetObjectSize(s, h, &size), CKR_OK);
      EXPECT_GT(size, 128u);
      EXPECT_EQ(p11->C_DestroyObject(s, h), CKR_OK);
      EXPECT_EQ(p11->C_DestroyObject(s, h), CKR_OBJECT_HANDLE_INVALID);
    }
  }
}

TEST_F(Create, TemplateShapesAreCheckedBeforeAnythingIsStored) {
  const CK_ULONG cls = CKO_DATA;
  const uint32_t short_class = CKO_DATA;
  const CK_BBOOL two = 2;
  const CK_ULONG len4 = 16;
  const Bytes long_params(17, 0x06);
  struct Case {
    const char* name;
    std::vector<CK_ATTRIBUTE> attrs;
    CK_RV rv;
  } cases[] = {
      {"CK_ULONG of 4 bytes", {{CKA_CLASS, const_cast<uint32_t*>(&short_class), 4}}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"CK_BBOOL of 8 bytes", {{CKA_TOKEN, const_cast<CK_ULONG*>(&cls), 8}}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"CK_BBOOL of 2", {{CKA_PRIVATE, const_cast<CK_BBOOL*>(&two), 1}}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"CKA_VALUE_LEN of 4", {{CKA_VALUE_LEN, const_cast<CK_ULONG*>(&len4), 4}}, CKR_ATTRIBUTE_VALUE_INVALID},
      {"null value with a length", {{CKA_VALUE, nullptr, 5}}, CKR_ARGUMENTS_BAD},
      {"null CKA_CLASS", {{CKA_CLASS, nullptr, 8}}, CKR_ARGUMENTS_BAD},
      {"duplicate", {{CKA_LABEL, (void*)"a", 1}, {CKA_LABEL, (void*)"b", 1}}, CKR_TEMPLATE_INCONSISTENT},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    CK_OBJECT_HANDLE h = 0x1234;
    EXPECT_EQ(p11->C_CreateObject(s, c.attrs.data(), c.attrs.size(), &h), c.rv);
    EXPECT_EQ(h, 0x1234u);
  }
  // EC parameters longer than any curve's OID.
  Pkey ec = ec_key("P-256");
  Tmpl t = ec_public(ec.get(), NID_X9_62_prime256v1);
  t.bytes(CKA_EC_PARAMS, long_params);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_NE(create(t, &h), CKR_OK);
  Tmpl none;
  EXPECT_TRUE(find(none).empty());
}

TEST_F(Create, DataObjectsMayBeEmpty) {
  Tmpl t = data_object("empty", {});
  const CK_OBJECT_HANDLE h = made(t);
  CK_RV rv = CKR_GENERAL_ERROR;
  EXPECT_TRUE(attr(h, CKA_VALUE, &rv).empty());
  EXPECT_EQ(rv, CKR_OK);
}

// Values on both sides of the buffer a token object is first read into.
TEST_F(Create, DataValuesOfEveryLengthReadBackWhole) {
  for (const size_t n : {size_t{1}, size_t{3900}, size_t{4096}, size_t{5000}, size_t{70000}}) {
    for (const bool token : {true, false}) {
      SCOPED_TRACE(std::to_string(n) + (token ? " token" : " session"));
      Bytes value(n);
      for (size_t i = 0; i < n; ++i) value[i] = static_cast<uint8_t>(i * 131 + n);
      Tmpl t = data_object("long", value, token);
      const CK_OBJECT_HANDLE h = made(t);
      CK_RV rv = CKR_GENERAL_ERROR;
      EXPECT_EQ(attr(h, CKA_VALUE, &rv), value);
      EXPECT_EQ(rv, CKR_OK);
      EXPECT_EQ(p11->C_DestroyObject(s, h), CKR_OK);
    }
  }
}

TEST_F(Create, UnknownAttributesAreKeptOutAndAnsweredUnavailable) {
  Tmpl t = data_object("x", b("v"));
  t.text(CKA_VENDOR_DEFINED | 0x77, "vendor").text(CKA_APPLICATION, "app");
  const CK_OBJECT_HANDLE h = made(t);
  CK_RV rv = CKR_OK;
  attr(h, CKA_VENDOR_DEFINED | 0x77, &rv);
  EXPECT_EQ(rv, CKR_ATTRIBUTE_TYPE_INVALID);
}

TEST_F(Create, NullArgumentsAndLongTemplates) {
  Tmpl t = data_object("x", b("v"));
  EXPECT_EQ(p11->C_CreateObject(s, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_CreateObject(s, t.attrs(), t.count(), nullptr), CKR_ARGUMENTS_BAD);
  std::vector<CK_ATTRIBUTE> many(33, CK_ATTRIBUTE{CKA_VENDOR_DEFINED, nullptr, 0});
  for (size_t i = 0; i < many.size(); ++i) many[i].type = CKA_VENDOR_DEFINED + i;
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(p11->C_CreateObject(s, many.data(), 33, &h), CKR_DATA_LEN_RANGE);
  EXPECT_EQ(p11->C_CreateObject(s, many.data(), 0, &h), CKR_TEMPLATE_INCOMPLETE);  // a data object needs a value
}

TEST_F(Create, AesKeysOfEachLengthAndNoOther) {
  for (size_t len : {15u, 17u, 20u, 31u, 33u, 64u}) {
    Tmpl t = aes_object(Bytes(len, 3));
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create(t, &h), CKR_ATTRIBUTE_VALUE_INVALID) << len;
  }
  for (size_t len : {16u, 24u, 32u}) {
    Bytes key(len);
    for (size_t i = 0; i < len; ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
    Tmpl t = aes_object(key);
    const CK_OBJECT_HANDLE h = made(t);
    EXPECT_EQ(attr_ulong(h, CKA_VALUE_LEN), len);
    EXPECT_EQ(attr(h, CKA_VALUE), key) << len;  // not sensitive: the value as given
  }
  Tmpl wrong_len = aes_object(Bytes(16, 1));
  wrong_len.ulong(CKA_VALUE_LEN, 32);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(create(wrong_len, &h), CKR_TEMPLATE_INCONSISTENT);
}

TEST_F(Create, SensitiveAndUnextractableValuesNeverLeave) {
  for (int variant = 0; variant < 2; ++variant) {
    Tmpl t = aes_object(Bytes(32, 9), variant == 0, variant == 0);
    if (variant == 1) t.flag(CKA_EXTRACTABLE, false);
    const CK_OBJECT_HANDLE h = made(t);
    CK_ATTRIBUTE a[2] = {{CKA_VALUE, nullptr, 0}, {CKA_LABEL, nullptr, 0}};
    EXPECT_EQ(p11->C_GetAttributeValue(s, h, a, 2), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(a[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(a[1].ulValueLen, 7u);  // the other entries are still answered
    EXPECT_EQ(attr_bool(h, CKA_SENSITIVE), 1);
    EXPECT_EQ(attr_bool(h, CKA_EXTRACTABLE), 0);
  }
  Pkey ec = ec_key("P-256");
  const CK_OBJECT_HANDLE priv =
      [&] { Tmpl t = ec_private(bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32), NID_X9_62_prime256v1); return made(t); }();
  CK_RV rv = CKR_OK;
  attr(priv, CKA_VALUE, &rv);
  EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
  Pkey rsa = rsa_key(1024);
  Tmpl rt = rsa_private(rsa.get());
  const CK_OBJECT_HANDLE rpriv = made(rt);
  for (CK_ATTRIBUTE_TYPE t : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                              CKA_COEFFICIENT}) {
    attr(rpriv, t, &rv);
    EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE) << t;
  }
  // The public half of a private key is readable.
  EXPECT_EQ(attr(rpriv, CKA_MODULUS), bn_param(rsa.get(), OSSL_PKEY_PARAM_RSA_N));
  EXPECT_EQ(attr(rpriv, CKA_PUBLIC_EXPONENT), bn_param(rsa.get(), OSSL_PKEY_PARAM_RSA_E));
}

TEST_F(Create, UsageBitsFollowTheValuesGiven) {
  struct Case {
    CK_ATTRIBUTE_TYPE type;
    bool value;
  } cases[] = {{CKA_SIGN, false},   {CKA_SIGN, true},    {CKA_ENCRYPT, false}, {CKA_DECRYPT, true},
               {CKA_UNWRAP, true},  {CKA_UNWRAP, false}, {CKA_WRAP, true},     {CKA_VERIFY, false},
               {CKA_SENSITIVE, false}, {CKA_DERIVE, true}};
  for (const auto& c : cases) {
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_GENERIC_SECRET).bytes(CKA_VALUE, Bytes(16, 1));
    t.flag(c.type, c.value);
    const CK_OBJECT_HANDLE h = made(t);
    EXPECT_EQ(attr_bool(h, c.type), c.value ? 1 : 0) << c.type;
    // An attribute not given is not set.
    EXPECT_EQ(attr_bool(h, c.type == CKA_SIGN ? CKA_VERIFY : CKA_SIGN), 0);
  }
}

TEST_F(Create, EcParametersMustNameACurveOfTheTableExactly) {
  Pkey ec = ec_key("P-256");
  struct Case {
    const char* name;
    Bytes params;
    CK_RV rv;
  } cases[] = {
      {"empty OID", {0x06, 0x00}, CKR_CURVE_NOT_SUPPORTED},
      {"prefix of secp384r1", {0x06, 0x03, 0x2B, 0x81, 0x04}, CKR_CURVE_NOT_SUPPORTED},
      {"secp224r1", {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x21}, CKR_CURVE_NOT_SUPPORTED},
      {"P-256 and a byte more", {0x06, 0x09, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07, 0x01},
       CKR_CURVE_NOT_SUPPORTED},
      {"length beyond the bytes", {0x06, 0x08, 0x2A, 0x86, 0x48}, CKR_CURVE_NOT_SUPPORTED},
      {"not an OID", {0x04, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, CKR_CURVE_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, c.params);
    t.bytes(CKA_EC_POINT, der_octet_string(ec_point(ec.get())));
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create(t, &h), c.rv);
  }
  Tmpl no_params;
  no_params.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC);
  no_params.bytes(CKA_EC_POINT, der_octet_string(ec_point(ec.get())));
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(create(no_params, &h), CKR_TEMPLATE_INCOMPLETE);
}

TEST_F(Create, EcPublicKeysTakeAValidPointBareOrAsOctetString) {
  struct Curve {
    const char* name;
    int nid;
  } curves[] = {{"P-256", NID_X9_62_prime256v1}, {"P-384", NID_secp384r1},         {"P-521", NID_secp521r1},
                {"secp256k1", NID_secp256k1},    {"brainpoolP256r1", NID_brainpoolP256r1},
                {"brainpoolP384r1", NID_brainpoolP384r1}, {"brainpoolP512r1", NID_brainpoolP512r1}};
  for (const auto& c : curves) {
    SCOPED_TRACE(c.name);
    Pkey k = ec_key(c.name);
    ASSERT_TRUE(k);
    const Bytes point = ec_point(k.get());
    for (bool der : {true, false}) {
      Tmpl t = ec_public(k.get(), c.nid, der);
      const CK_OBJECT_HANDLE h = made(t);
      EXPECT_EQ(attr(h, CKA_EC_POINT), der_octet_string(point));
      EXPECT_EQ(attr(h, CKA_EC_PARAMS), curve_oid(c.nid));
    }
    // A point off the curve, a coordinate changed, infinity, a compressed
    // point and a truncated one are refused.
    Bytes off = point;
    off.back() ^= 1;
    Bytes compressed(point.begin(), point.begin() + 1 + (point.size() - 1) / 2);
    compressed[0] = 0x02;
    const Bytes bad[] = {off, compressed, {0x00}, Bytes(point.begin(), point.end() - 1), {}};
    for (const Bytes& p : bad) {
      Tmpl t;
      t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, curve_oid(c.nid));
      t.bytes(CKA_EC_POINT, der_octet_string(p));
      CK_OBJECT_HANDLE h = 0;
      EXPECT_EQ(create(t, &h), CKR_ATTRIBUTE_VALUE_INVALID);
    }
  }
}

TEST_F(Create, EcPointCoordinatesMustBeBelowThePrime) {
  // P-256 point (x, y + p) is the same point modulo p but no encoding of it.
  Pkey k = ec_key("P-256");
  Bytes point = ec_point(k.get());
  BIGNUM* p = nullptr;
  BN_hex2bn(&p, "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
  BIGNUM* y = BN_bin2bn(point.data() + 33, 32, nullptr);
  BN_add(y, y, p);
  if (BN_num_bytes(y) == 32) {
    BN_bn2binpad(y, point.data() + 33, 32);
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
    t.bytes(CKA_EC_POINT, point);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create(t, &h), CKR_ATTRIBUTE_VALUE_INVALID);
  }
  BN_free(y);
  BN_free(p);
}

TEST_F(Create, EcPrivateScalarsOutsideOneToNMinusOneAreRefused) {
  // n of P-256.
  BIGNUM* n = nullptr;
  BN_hex2bn(&n, "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
  const auto scalar = [&](int add) {
    BIGNUM* v = BN_dup(n);
    if (add >= 0) BN_add_word(v, add); else BN_sub_word(v, -add);
    Bytes out(32);
    BN_bn2binpad(v, out.data(), 32);
    BN_free(v);
    return out;
  };
  struct Case {
    const char* name;
    Bytes d;
    CK_RV rv;
  } cases[] = {{"zero", Bytes(32, 0), CKR_ATTRIBUTE_VALUE_INVALID},
               {"n", scalar(0), CKR_ATTRIBUTE_VALUE_INVALID},
               {"n + 1", scalar(1), CKR_ATTRIBUTE_VALUE_INVALID},
               {"33 bytes", Bytes(33, 0x11), CKR_ATTRIBUTE_VALUE_INVALID},
               {"one", Bytes{1}, CKR_OK},
               {"n - 1", scalar(-1), CKR_OK}};
  for (const auto& c : cases) {
    Tmpl t = ec_private(c.d, NID_X9_62_prime256v1);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create(t, &h), c.rv) << c.name;
  }
  BN_free(n);
}

TEST_F(Create, RsaPrivateKeysFromComponentsMustFitTogether) {
  Pkey k = rsa_key(2048, 3);  // the exponent given is kept
  for (bool crt : {true, false}) {
    Tmpl t = rsa_private(k.get(), crt, crt);  // the CRT key as a token object
    const CK_OBJECT_HANDLE h = made(t);
    EXPECT_EQ(attr(h, CKA_PUBLIC_EXPONENT), Bytes{3});
    EXPECT_EQ(attr(h, CKA_MODULUS), bn_param(k.get(), OSSL_PKEY_PARAM_RSA_N));
    EXPECT_EQ(attr_ulong(h, CKA_KEY_TYPE), CKK_RSA);
    EXPECT_EQ(attr_ulong(h, CKA_MODULUS_BITS), 2048u);
  }
  Pkey other = rsa_key(2048);
  const auto with = [&](CK_ATTRIBUTE_TYPE replaced, const Bytes& v) {
    Tmpl t;
    t.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
    const struct {
      CK_ATTRIBUTE_TYPE t;
      const char* p;
    } parts[] = {{CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N},          {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E},
                 {CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},  {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
                 {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},     {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
                 {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2}, {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}};
    for (const auto& p : parts) t.bytes(p.t, p.t == replaced ? v : bn_param(k.get(), p.p));
    CK_OBJECT_HANDLE h = 0;
    return create(t, &h);
  };
  Bytes d = bn_param(k.get(), OSSL_PKEY_PARAM_RSA_D);
  d.back() ^= 2;
  Bytes qinv = bn_param(k.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  qinv.back() ^= 1;
  EXPECT_EQ(with(CKA_PRIVATE_EXPONENT, d), CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(with(CKA_COEFFICIENT, qinv), CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(with(CKA_PRIME_1, bn_param(other.get(), OSSL_PKEY_PARAM_RSA_FACTOR1)), CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(with(CKA_MODULUS, bn_param(other.get(), OSSL_PKEY_PARAM_RSA_N)), CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(with(CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1}), CKR_ATTRIBUTE_VALUE_INVALID);
  Tmpl missing_d;
  missing_d.ulong(CKA_CLASS, CKO_PRIVATE_KEY).ulong(CKA_KEY_TYPE, CKK_RSA);
  missing_d.bytes(CKA_MODULUS, bn_param(k.get(), OSSL_PKEY_PARAM_RSA_N)).bytes(CKA_PUBLIC_EXPONENT, Bytes{3});
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(create(missing_d, &h), CKR_ATTRIBUTE_TYPE_INVALID);
}

TEST_F(Create, RsaPublicKeysKeepTheExponentGiven) {
  for (unsigned bits : {1024u, 2048u, 3072u, 4096u}) {
    Pkey k = rsa_key(bits, bits == 1024 ? 3 : 65537);
    Tmpl t = rsa_public(k.get());
    const CK_OBJECT_HANDLE h = made(t);
    EXPECT_EQ(attr(h, CKA_MODULUS), bn_param(k.get(), OSSL_PKEY_PARAM_RSA_N));
    EXPECT_EQ(attr(h, CKA_PUBLIC_EXPONENT), bn_param(k.get(), OSSL_PKEY_PARAM_RSA_E));
    EXPECT_EQ(attr_ulong(h, CKA_MODULUS_BITS), bits);
  }
  Pkey k = rsa_key(2048);
  Tmpl t = rsa_public(k.get());
  t.ulong(CKA_MODULUS_BITS, 2048);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(create(t, &h), CKR_ATTRIBUTE_TYPE_INVALID);
  Tmpl odd_size;
  odd_size.ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA).bytes(CKA_MODULUS, Bytes(200, 0xC5));
  odd_size.bytes(CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1});
  EXPECT_EQ(create(odd_size, &h), CKR_TEMPLATE_INCOMPLETE);
}

TEST_F(Create, IdsAndLabelsAreStoredAsGivenOrRefused) {
  struct Case {
    const char* name;
    Bytes id;
    CK_RV rv;
  } cases[] = {{"1 byte", {0x01}, CKR_OK},
               {"16 bytes", Bytes(16, 0x41), CKR_OK},
               {"17 bytes", Bytes(17, 0x41), CKR_ATTRIBUTE_VALUE_INVALID},
               {"a zero byte", {0x41, 0x00, 0x42}, CKR_ATTRIBUTE_VALUE_INVALID},
               {"empty", {}, CKR_ATTRIBUTE_VALUE_INVALID}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Tmpl t = data_object("l", b("v"));
    t.bytes(CKA_ID, c.id);
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(create(t, &h), c.rv);
    if (c.rv != CKR_OK) continue;
    EXPECT_EQ(attr(h, CKA_ID), c.id);
    Tmpl by_id;
    by_id.bytes(CKA_ID, c.id);
    EXPECT_EQ(find(by_id), std::vector<CK_OBJECT_HANDLE>{h});
  }
  Tmpl label32 = data_object(std::string(32, 'L'), b("v"));
  EXPECT_EQ(attr(made(label32), CKA_LABEL), Bytes(32, 'L'));
  Tmpl label33 = data_object(std::string(33, 'L'), b("v"));
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(create(label33, &h), CKR_ATTRIBUTE_VALUE_INVALID);
  Tmpl defaults;
  defaults.bytes(CKA_VALUE, b("v"));
  const CK_OBJECT_HANDLE d = made(defaults);
  EXPECT_EQ(attr(d, CKA_ID), b("default_id"));
  EXPECT_EQ(attr(d, CKA_LABEL), b("default_label"));
}

TEST_F(Create, ReadOnlySessionsWriteNoTokenObject) {
  Tmpl t = data_object("tok", b("v"), true);
  const CK_OBJECT_HANDLE h = made(t);
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(ro), CKR_OK);
  EXPECT_EQ(session_info(ro).state, CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(p11->C_DestroyObject(ro, h), CKR_SESSION_READ_ONLY);
  CK_OBJECT_HANDLE h2 = 0;
  EXPECT_EQ(p11->C_CreateObject(ro, t.attrs(), t.count(), &h2), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(attr_bool(h, CKA_TOKEN), 1);  // still there
  EXPECT_EQ(p11->C_DestroyObject(s, h), CKR_OK);
}

TEST_F(Create, WritePermissionsBySessionState) {
  // Public and private, session and token data objects in each kind of
  // session; the core itself writes only for a logged-in user.
  const CK_SESSION_HANDLE ro_public = open(0, CKF_SERIAL_SESSION);
  const CK_SESSION_HANDLE rw_public = open();
  const CK_SESSION_HANDLE ro_user = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(ro_user), CKR_OK);
  struct Case {
    const char* name;
    CK_SESSION_HANDLE session;
    bool token, priv;
    CK_RV rv;
  } cases[] = {
      {"ro public, private session object", ro_public, false, true, CKR_SESSION_READ_ONLY},
      {"ro public, public token object", ro_public, true, false, CKR_SESSION_READ_ONLY},
      {"ro user, private session object", ro_user, false, true, CKR_OK},
      {"ro user, public token object", ro_user, true, false, CKR_SESSION_READ_ONLY},
      {"rw public, private session object", rw_public, false, true, CKR_FUNCTION_REJECTED},
      {"rw public, private token object", rw_public, true, true, CKR_FUNCTION_REJECTED},
      {"rw public, public token object", rw_public, true, false, CKR_USER_NOT_LOGGED_IN},  // the core's answer
      {"rw user, private token object", s, true, true, CKR_OK},
  };
  for (const auto& c : cases) {
    Tmpl t = data_object("perm", b("v"), c.token);
    t.flag(CKA_PRIVATE, c.priv);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(create(t, &h, c.session), c.rv) << c.name;
  }
}

TEST_F(Create, CopyIsRefusedAndAttributesCannotBeSet) {
  Tmpl t = data_object("x", b("v"));
  const CK_OBJECT_HANDLE h = made(t);
  CK_OBJECT_HANDLE copy = 0;
  EXPECT_EQ(p11->C_CopyObject(s, h, t.attrs(), t.count(), &copy), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(copy, 0u);
  EXPECT_EQ(p11->C_SetAttributeValue(s, h, t.attrs(), t.count()), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(attr(h, CKA_LABEL), b("x"));
}

TEST_F(Create, ObjectSizeIsTheStoredSize) {
  Tmpl small = data_object("x", Bytes(10, 1), true);
  Tmpl big = data_object("x", Bytes(1000, 1), true);
  CK_ULONG a = 0, c = 0;
  ASSERT_EQ(p11->C_GetObjectSize(s, made(small), &a), CKR_OK);
  ASSERT_EQ(p11->C_GetObjectSize(s, made(big), &c), CKR_OK);
  EXPECT_EQ(c - a, 990u);
  EXPECT_EQ(p11->C_GetObjectSize(s, 0x7777, &a), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(p11->C_GetObjectSize(s, made(small), nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetObjectSize(s, 0x1'0000'0001ul, &a), CKR_OBJECT_HANDLE_INVALID);
}

}  // namespace
}  // namespace zt
