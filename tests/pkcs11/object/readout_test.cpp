// Attribute read-out through the loaded module: the standard's answers per
// entry, every returned byte written, and the attributes of each kind.
#include <algorithm>

#include "pkcs11/object/object_fixture.h"
#include "support/fail_alloc.h"

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

// Objects are found and read only with the user logged in, so every one of
// them reads as private, whatever its template asked and wherever it lives
// (a token object keeps no private flag of its own).
TEST_F(Readout, EveryObjectIsPrivate) {
  Pkey ec = ec_key("P-256");
  const Bytes d = bn_padded(ec.get(), OSSL_PKEY_PARAM_PRIV_KEY, 32);
  Pkey rsa = rsa_key(2048);
  const Bytes cert = b("\x30\x03\x02\x01\x05");
  struct Case {
    const char* what;
    Tmpl t;
  };
  std::vector<Case> cases = {
      {"token data object", data_object("d", b("v"), true)},
      {"session data object", data_object("d", b("v"), false)},
      {"token secret key", aes_object(Bytes(16, 0x42), true, true)},
      {"session secret key", aes_object(Bytes(32, 0x42), false)},
      {"token EC private key", ec_private(d, NID_X9_62_prime256v1, true)},
      {"token EC public key", ec_public(ec.get(), NID_X9_62_prime256v1, true, true)},
      {"session EC public key", ec_public(ec.get(), NID_X9_62_prime256v1)},
      {"token RSA private key", rsa_private(rsa.get(), true, true)},
      {"token RSA public key", rsa_public(rsa.get(), true)},
      {"session certificate", Tmpl{}},
  };
  cases.back().t.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).bytes(CKA_VALUE, cert);
  std::vector<CK_OBJECT_HANDLE> made_here;
  for (const bool asked : {false, true}) {
    for (Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (asked ? ", CKA_PRIVATE TRUE asked" : ", CKA_PRIVATE FALSE asked"));
      Tmpl t = c.t;
      t.flag(CKA_PRIVATE, asked);
      const CK_OBJECT_HANDLE h = made(t);
      EXPECT_EQ(attr_bool(h, CKA_PRIVATE), CK_TRUE);
      made_here.push_back(h);
    }
  }
  // A search goes by the same answer.
  Tmpl public_ones;
  public_ones.flag(CKA_PRIVATE, false);
  EXPECT_TRUE(find(public_ones).empty());
  Tmpl private_ones;
  private_ones.flag(CKA_PRIVATE, true);
  std::vector<CK_OBJECT_HANDLE> found = find(private_ones);
  std::sort(found.begin(), found.end());
  std::sort(made_here.begin(), made_here.end());
  EXPECT_EQ(found, made_here);
  // And a session where no user logged in sees none of them.
  const CK_SESSION_HANDLE other = open();
  Tmpl everything;
  everything.flag(CKA_TOKEN, true);
  EXPECT_TRUE(find(everything, 1000, other).empty());
}

TEST_F(Readout, CertificatesAnswerValueAndType) {
  const Bytes der = b("\x30\x03\x02\x01\x05");
  Tmpl t;
  t.ulong(CKA_CLASS, CKO_CERTIFICATE).ulong(CKA_CERTIFICATE_TYPE, CKC_X_509).bytes(CKA_VALUE, der).text(CKA_ID, "c");
  const CK_OBJECT_HANDLE h = made(t);
  EXPECT_EQ(attr(h, CKA_VALUE), der);
  EXPECT_EQ(attr_ulong(h, CKA_CERTIFICATE_TYPE), CKC_X_509);
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


TEST_F(Readout, ATypeAskedTwiceIsAnsweredTwice) {
  const Bytes key(16, 0x3C);
  Tmpl t = aes_object(key);
  const CK_OBJECT_HANDLE h = made(t);
  uint8_t v1[32], v2[16], label[32], tiny[2];
  CK_ATTRIBUTE a[] = {
      {CKA_VALUE, v1, sizeof v1}, {CKA_LABEL, label, sizeof label}, {CKA_VALUE, v2, sizeof v2},
      {CKA_VALUE, nullptr, 0},    {CKA_LABEL, tiny, sizeof tiny},
  };
  EXPECT_EQ(p11->C_GetAttributeValue(s, h, a, 5), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(a[0].ulValueLen, key.size());
  EXPECT_EQ(Bytes(v1, v1 + key.size()), key);
  EXPECT_EQ(a[2].ulValueLen, key.size());
  EXPECT_EQ(Bytes(v2, v2 + key.size()), key);
  EXPECT_EQ(a[3].ulValueLen, key.size());
  EXPECT_EQ(Bytes(label, label + a[1].ulValueLen), b("aes key"));
  EXPECT_EQ(a[4].ulValueLen, CK_UNAVAILABLE_INFORMATION);
}

// Every type the standard numbers below 0x300 and the template types, asked
// at once (far more distinct types than any object has), get the answers
// they get one by one, and the call the result those answers give.
TEST_F(Readout, EveryTypeAtOnceIsAnsweredAsEachAlone) {
  std::vector<CK_ATTRIBUTE_TYPE> types;
  for (CK_ATTRIBUTE_TYPE t = 0; t < 0x300; ++t) types.push_back(t);
  for (CK_ATTRIBUTE_TYPE t : {CKA_WRAP_TEMPLATE, CKA_UNWRAP_TEMPLATE, CKA_ALLOWED_MECHANISMS, CKA_VENDOR_DEFINED}) {
    types.push_back(t);
  }
  Pkey rsa = rsa_key(2048);
  Pkey ec = ec_key("P-256");
  Tmpl data_t = data_object("data", b("some value"));
  Tmpl aes_t = aes_object(Bytes(32, 0x11));
  Tmpl sens_t = aes_object(Bytes(16, 0x22), false, true);
  Tmpl ecpub_t = ec_public(ec.get(), NID_X9_62_prime256v1);
  Tmpl rsapriv_t = rsa_private(rsa.get());
  Tmpl rsapub_t = rsa_public(rsa.get(), true);
  const struct {
    const char* name;
    CK_OBJECT_HANDLE h;
  } objects[] = {{"data", made(data_t)},           {"secret key", made(aes_t)},
                 {"sensitive secret key", made(sens_t)}, {"EC public key", made(ecpub_t)},
                 {"RSA private key", made(rsapriv_t)},   {"RSA public token key", made(rsapub_t)}};
  constexpr size_t kRoom = 600;
  for (const auto& o : objects) {
    SCOPED_TRACE(o.name);
    std::vector<Bytes> alone(types.size());
    std::vector<CK_ULONG> alone_len(types.size());
    bool sensitive = false, invalid = false;
    for (size_t i = 0; i < types.size(); ++i) {
      alone[i].assign(kRoom, 0x5A);
      CK_ATTRIBUTE a{types[i], alone[i].data(), kRoom};
      const CK_RV rv = p11->C_GetAttributeValue(s, o.h, &a, 1);
      ASSERT_TRUE(rv == CKR_OK || rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID) << rv;
      sensitive |= rv == CKR_ATTRIBUTE_SENSITIVE;
      invalid |= rv == CKR_ATTRIBUTE_TYPE_INVALID;
      alone_len[i] = a.ulValueLen;
    }
    std::vector<Bytes> bufs(types.size(), Bytes(kRoom, 0x5A));
    std::vector<CK_ATTRIBUTE> all;
    for (size_t i = 0; i < types.size(); ++i) all.push_back({types[i], bufs[i].data(), kRoom});
    const CK_RV rv = p11->C_GetAttributeValue(s, o.h, all.data(), all.size());
    EXPECT_EQ(rv, sensitive ? CKR_ATTRIBUTE_SENSITIVE : invalid ? CKR_ATTRIBUTE_TYPE_INVALID : CKR_OK);
    size_t answered = 0;
    for (size_t i = 0; i < types.size(); ++i) {
      EXPECT_EQ(all[i].ulValueLen, alone_len[i]) << std::hex << types[i];
      EXPECT_EQ(bufs[i], alone[i]) << std::hex << types[i];
      answered += alone_len[i] != CK_UNAVAILABLE_INFORMATION;
    }
    EXPECT_GE(answered, 10u);  // the fewest, a data object's
  }
}

// A failed allocation anywhere in the call, the value buffers' block
// included, ends it with nothing written to the template.
TEST_F(Readout, AFailedAllocationLeavesTheTemplateAsGiven) {
  const Bytes key(24, 0x6B);
  Tmpl t = aes_object(key);
  const CK_OBJECT_HANDLE h = made(t);
  uint8_t label[32], value[32], len[8], date[4];
  CK_ATTRIBUTE a[4];
  const auto reset = [&] {
    std::memset(label, 0xA5, sizeof label);
    std::memset(value, 0xA5, sizeof value);
    std::memset(len, 0xA5, sizeof len);
    std::memset(date, 0xA5, sizeof date);
    a[0] = {CKA_LABEL, label, sizeof label};
    a[1] = {CKA_VALUE, value, sizeof value};
    a[2] = {CKA_VALUE_LEN, len, sizeof len};
    a[3] = {CKA_START_DATE, date, sizeof date};
  };
  bool host_memory = false;
  const long runs = sweep_allocation_failures(
      [&] {
        reset();
        return p11->C_GetAttributeValue(s, h, a, 4);
      },
      [&](CK_RV rv, bool failed) {
        if (!failed) {
          ASSERT_EQ(rv, CKR_OK);
          EXPECT_EQ(Bytes(value, value + a[1].ulValueLen), key);
          EXPECT_EQ(Bytes(len, len + a[2].ulValueLen), ulong_bytes(key.size()));
          EXPECT_EQ(a[3].ulValueLen, 0u);
          return;
        }
        EXPECT_NE(rv, CKR_OK);
        host_memory |= rv == CKR_HOST_MEMORY;
        const CK_ULONG given[] = {sizeof label, sizeof value, sizeof len, sizeof date};
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(a[i].ulValueLen, given[i]) << i;
        for (const auto* buf : {+label, +value, +len, +date}) EXPECT_EQ(buf[0], 0xA5);
        EXPECT_EQ(Bytes(value, value + sizeof value), Bytes(sizeof value, 0xA5));
      });
  EXPECT_GT(runs, 0);
  EXPECT_TRUE(host_memory);
}

}  // namespace
}  // namespace zt
