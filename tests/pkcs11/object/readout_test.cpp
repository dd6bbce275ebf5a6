// Attribute read-out through the loaded module: the standard's answers per
// entry, every returned byte written, and the attributes of each kind.
#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class Readout : public ObjectTest {};

TEST_F(Readout, EachEntryIsAnsweredOnItsOwn) {
  Tmpl t = data_object("label", b("value"));
  t.text(CKA_ID, "id");
  const CK_OBJECT_HANDLE h = made(t);
  uint8_t label[5], small[3], id[16];
  std::memset(id, 0xEE, sizeof id);
  CK_ATTRIBUTE a[] = {
      {CKA_LABEL, label, sizeof label},     // exactly long enough
      {CKA_VALUE, small, sizeof small},     // too short
      {CKA_MODULUS, nullptr, 0},            // not an attribute of a data object
      {CKA_ID, id, sizeof id},              // longer than needed
      {CKA_VALUE, nullptr, 77},             // length only
      {CKA_START_DATE, nullptr, 5},         // an attribute of keys and certificates only
  };
  EXPECT_EQ(p11->C_GetAttributeValue(s, h, a, 6), CKR_ATTRIBUTE_TYPE_INVALID);
  EXPECT_EQ(a[0].ulValueLen, 5u);
  EXPECT_EQ(Bytes(label, label + 5), b("label"));
  EXPECT_EQ(a[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(a[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(a[3].ulValueLen, 2u);
  EXPECT_EQ(id[0], 'i');
  EXPECT_EQ(id[2], 0xEE);  // nothing written past the value
  EXPECT_EQ(a[4].ulValueLen, 5u);
  EXPECT_EQ(a[5].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  CK_ATTRIBUTE only_small[] = {{CKA_VALUE, small, sizeof small}};
  EXPECT_EQ(p11->C_GetAttributeValue(s, h, only_small, 1), CKR_BUFFER_TOO_SMALL);
}

TEST_F(Readout, ArgumentsSessionsAndLogins) {
  Tmpl t = data_object("l", b("v"));
  const CK_OBJECT_HANDLE h = made(t);
  CK_ATTRIBUTE a{CKA_LABEL, nullptr, 0};
  EXPECT_EQ(p11->C_GetAttributeValue(s, h, nullptr, 1), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetAttributeValue(0x1234, h, &a, 1), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11->C_GetAttributeValue(s, 0x80000000u + 200, &a, 1), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(p11->C_GetAttributeValue(s, 0x1'8000'0000ul | h, &a, 1), CKR_OBJECT_HANDLE_INVALID);
  const CK_SESSION_HANDLE other = open();
  EXPECT_EQ(p11->C_GetAttributeValue(other, h, &a, 1), CKR_USER_NOT_LOGGED_IN);
}

TEST_F(Readout, CommonAttributesOfEveryObject) {
  Tmpl t = data_object("l", b("v"), true);
  t.flag(CKA_PRIVATE, false);
  const CK_OBJECT_HANDLE tok = made(t);
  Tmpl st = data_object("l", b("v"), false);
  const CK_OBJECT_HANDLE ses = made(st);
  EXPECT_EQ(attr_bool(tok, CKA_TOKEN), 1);
  EXPECT_EQ(attr_bool(ses, CKA_TOKEN), 0);
  EXPECT_EQ(attr_bool(ses, CKA_PRIVATE), 1);  // a data object is private unless said otherwise
  EXPECT_EQ(attr_bool(ses, CKA_MODIFIABLE), 0);
  EXPECT_EQ(attr_bool(ses, CKA_COPYABLE), 0);
  EXPECT_EQ(attr_bool(ses, CKA_DESTROYABLE), 1);
  EXPECT_EQ(attr_ulong(ses, CKA_KEY_TYPE), CKK_VENDOR_DEFINED);
  EXPECT_EQ(attr(ses, CKA_VALUE), b("v"));
}

TEST_F(Readout, CertificatesAnswerValueAndType) {
  const Bytes der = b("\x30\x03\x02\x01\x05");
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).bytes(CKA_VALUE, der).text(CKA_ID, "c");
  const CK_OBJECT_HANDLE h = made(t);
  EXPECT_EQ(attr(h, CKA_VALUE), der);
  EXPECT_EQ(attr_ulong(h, CKA_CERTIFICATE_TYPE), CKC_X_509);
  EXPECT_EQ(attr_bool(h, CKA_PRIVATE), 0);
  Tmpl wtls;
  wtls.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_WTLS).bytes(CKA_VALUE, der);
  CK_OBJECT_HANDLE h2 = 0;
  EXPECT_EQ(create(wtls, &h2), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST_F(Readout, PublicKeysParseWithOpenSsl) {
  Pkey rsa = rsa_key(2048);
  Tmpl rt = rsa_public(rsa.get());
  const CK_OBJECT_HANDLE r = made(rt);
  BIGNUM* n = BN_bin2bn(attr(r, CKA_MODULUS).data(), static_cast<int>(attr(r, CKA_MODULUS).size()), nullptr);
  const Bytes e = attr(r, CKA_PUBLIC_EXPONENT);
  EXPECT_EQ(e, (Bytes{1, 0, 1}));
  EXPECT_EQ(BN_num_bits(n), 2048);
  BN_free(n);
  EXPECT_FALSE(attr(r, CKA_VALUE).empty());

  Pkey ec = ec_key("P-384");
  Tmpl et = ec_public(ec.get(), NID_secp384r1);
  const CK_OBJECT_HANDLE q = made(et);
  const Bytes point = attr(q, CKA_EC_POINT);
  const uint8_t* p = point.data();
  ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(point.size()));
  ASSERT_NE(os, nullptr);
  EC_GROUP* g = EC_GROUP_new_by_curve_name(NID_secp384r1);
  EC_POINT* pt = EC_POINT_new(g);
  EXPECT_EQ(EC_POINT_oct2point(g, pt, ASN1_STRING_get0_data(os), ASN1_STRING_length(os), nullptr), 1);
  EXPECT_EQ(EC_POINT_is_on_curve(g, pt, nullptr), 1);
  EC_POINT_free(pt);
  EC_GROUP_free(g);
  ASN1_OCTET_STRING_free(os);
}

}  // namespace
}  // namespace zt
