// ECDH derivation through the module: the secret equals OpenSSL's on every
// curve, read back as CKA_VALUE; the template, parameter and key checks.
#include "crypto_fixture.h"
#include "keys.h"
#include "ossl_ec.h"

namespace zt {
namespace {

class Derive : public CryptoTest {
 protected:
  CK_RV derive(CK_OBJECT_HANDLE base, const Bytes& peer_der, std::vector<Attr> attrs, CK_OBJECT_HANDLE* out,
               CK_EC_KDF_TYPE kdf = CKD_NULL) {
    Bytes pub = peer_der;
    CK_ECDH1_DERIVE_PARAMS params{kdf, 0, nullptr, pub.size(), pub.data()};
    CK_MECHANISM mech{CKM_ECDH1_DERIVE, &params, sizeof params};
    auto t = tmpl(attrs);
    return p11->C_DeriveKey(s, &mech, base, t.data(), t.size(), out);
  }
  static std::vector<Attr> secret_template(CK_KEY_TYPE type = CKK_GENERIC_SECRET) {
    return {attr_ulong(CKA_CLASS, CKO_SECRET_KEY), attr_ulong(CKA_KEY_TYPE, type), attr_bool(CKA_SENSITIVE, false),
            attr_bool(CKA_EXTRACTABLE, true)};
  }
  Keys keys() { return Keys(p11, s); }
};

TEST_F(Derive, SecretsEqualOpenSslOnEveryCurve) {
  for (const EcCurveCase& c : ec_curves()) {
    SCOPED_TRACE(c.name);
    const Bytes oid = unhex(c.oid_hex);
    const KeyPair mine = keys().ec_pair(oid);
    const Bytes my_point = der_content(keys().attribute(mine.pub, CKA_EC_POINT));
    EcKeyPtr peer = ec_new_key(c.nid);
    CK_OBJECT_HANDLE key = 0;
    // The peer's point as a DER OCTET STRING, and bare.
    for (const Bytes& form : {der_octets(ec_point(peer.get())), ec_point(peer.get())}) {
      ASSERT_EQ(derive(mine.priv, form, secret_template(), &key), CKR_OK);
      const Bytes value = keys().attribute(key, CKA_VALUE);
      EXPECT_EQ(hex(value), hex(ec_dh(peer.get(), my_point, c.nid, c.field_len)));
      Bytes len = keys().attribute(key, CKA_VALUE_LEN);
      CK_ULONG n = 0;
      std::memcpy(&n, len.data(), sizeof n);
      EXPECT_EQ(n, c.field_len);
    }
  }
}

TEST_F(Derive, TheKeyKeepsTheCallersAttributes) {
  const Bytes oid = unhex("06082a8648ce3d030107");
  const KeyPair mine = keys().ec_pair(oid);
  EcKeyPtr peer = ec_new_key(NID_X9_62_prime256v1);
  const Bytes peer_der = der_octets(ec_point(peer.get()));
  CK_OBJECT_HANDLE key = 0;
  auto t = secret_template(CKK_AES);
  t.push_back(attr_bool(CKA_PRIVATE, true));
  t.push_back(attr_bool(CKA_ENCRYPT, true));
  t.push_back(attr_bool(CKA_DECRYPT, true));
  ASSERT_EQ(derive(mine.priv, peer_der, t, &key), CKR_OK);
  EXPECT_EQ(keys().attribute(key, CKA_PRIVATE), Bytes{1});
  EXPECT_EQ(keys().attribute(key, CKA_KEY_TYPE), attr_ulong(0, CKK_AES).value);
  // The derived AES-256 key encrypts as OpenSSL's secret does.
  const Bytes z = ec_dh(peer.get(), der_content(keys().attribute(mine.pub, CKA_EC_POINT)), NID_X9_62_prime256v1, 32);
  CK_MECHANISM ecb{CKM_AES_ECB, nullptr, 0};
  ASSERT_EQ(p11->C_EncryptInit(s, &ecb, key), CKR_OK);
  Bytes block(16, 0x5A);
  Bytes out(16);
  CK_ULONG len = 16;
  ASSERT_EQ(p11->C_Encrypt(s, block.data(), 16, out.data(), &len), CKR_OK);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes want(32);
  int n = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, z.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, want.data(), &n, block.data(), 16);
  EVP_CIPHER_CTX_free(ctx);
  want.resize(16);
  EXPECT_EQ(hex(out), hex(want));

  // A token key when asked; private even when asked otherwise, as every
  // object of the module (none is seen without the user's login).
  t = secret_template();
  t.push_back(attr_bool(CKA_TOKEN, true));
  t.push_back(attr_bool(CKA_PRIVATE, false));
  ASSERT_EQ(derive(mine.priv, peer_der, t, &key), CKR_OK);
  EXPECT_EQ(keys().attribute(key, CKA_TOKEN), Bytes{1});
  EXPECT_EQ(keys().attribute(key, CKA_PRIVATE), Bytes{1});
}

TEST_F(Derive, RefusedRequests) {
  const Bytes oid = unhex("06082a8648ce3d030107");
  const KeyPair mine = keys().ec_pair(oid);
  const KeyPair no_derive = keys().ec_pair(oid, false, {}, {attr_bool(CKA_DERIVE, false)});
  const KeyPair p384 = keys().ec_pair(unhex("06052b81040022"));
  EcKeyPtr peer = ec_new_key(NID_X9_62_prime256v1);
  const Bytes peer_der = der_octets(ec_point(peer.get()));
  CK_OBJECT_HANDLE key = 0;
  auto with = [](std::vector<Attr> t, Attr a) {
    t.push_back(std::move(a));
    return t;
  };
  EXPECT_EQ(derive(mine.priv, peer_der, secret_template(), &key, CKD_SHA1_KDF), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(derive(mine.priv, Bytes(200, 4), secret_template(), &key), CKR_MECHANISM_PARAM_INVALID);
  Bytes off_curve = ec_point(peer.get());
  off_curve.back() ^= 1;
  EXPECT_EQ(derive(mine.priv, off_curve, secret_template(), &key), CKR_MECHANISM_PARAM_INVALID);
  EXPECT_EQ(derive(p384.priv, peer_der, secret_template(), &key), CKR_MECHANISM_PARAM_INVALID);  // other curve
  EXPECT_EQ(derive(mine.priv, peer_der, with(secret_template(), {CKA_VALUE, Bytes(32)}), &key),
            CKR_ATTRIBUTE_READ_ONLY);
  // CKA_VALUE_LEN is a CK_ULONG: any other width is refused, never copied.
  EXPECT_EQ(derive(mine.priv, peer_der, with(secret_template(), {CKA_VALUE_LEN, Bytes(64, 1)}), &key),
            CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(derive(mine.priv, peer_der, with(secret_template(CKK_AES), attr_ulong(CKA_VALUE_LEN, 20)), &key),
            CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(derive(mine.priv, peer_der, with(secret_template(), attr_ulong(CKA_VALUE_LEN, 16)), &key),
            CKR_TEMPLATE_INCONSISTENT);
  EXPECT_EQ(derive(mine.priv, peer_der, secret_template(CKK_RSA), &key), CKR_ATTRIBUTE_VALUE_INVALID);
  EXPECT_EQ(derive(mine.priv, peer_der, {attr_ulong(CKA_CLASS, CKO_SECRET_KEY)}, &key), CKR_TEMPLATE_INCONSISTENT);
  EXPECT_EQ(derive(mine.pub, peer_der, secret_template(), &key), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(derive(no_derive.priv, peer_der, secret_template(), &key), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(derive(0x7000, peer_der, secret_template(), &key), CKR_KEY_HANDLE_INVALID);
  std::vector<Attr> attrs = secret_template();
  auto t = tmpl(attrs);
  CK_ECDH1_DERIVE_PARAMS params{CKD_NULL, 0, nullptr, peer_der.size(), const_cast<uint8_t*>(peer_der.data())};
  for (const CK_MECHANISM& m : {CK_MECHANISM{CKM_ECDH1_DERIVE, nullptr, 0},
                                CK_MECHANISM{CKM_ECDH1_DERIVE, &params, sizeof params - 1}}) {
    EXPECT_EQ(p11->C_DeriveKey(s, const_cast<CK_MECHANISM*>(&m), mine.priv, t.data(), t.size(), &key),
              CKR_MECHANISM_PARAM_INVALID);
  }
  for (CK_MECHANISM_TYPE other : {CKM_DH_PKCS_DERIVE, CKM_CONCATENATE_BASE_AND_KEY, CKM_SHA256_KEY_DERIVATION}) {
    CK_MECHANISM m{other, &params, sizeof params};
    EXPECT_EQ(p11->C_DeriveKey(s, &m, mine.priv, t.data(), t.size(), &key), CKR_MECHANISM_INVALID);
  }
  CK_MECHANISM m{CKM_ECDH1_DERIVE, &params, sizeof params};
  EXPECT_EQ(p11->C_DeriveKey(s, &m, mine.priv, nullptr, 3, &key), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_DeriveKey(s, &m, mine.priv, t.data(), t.size(), nullptr), CKR_ARGUMENTS_BAD);
}

}  // namespace
}  // namespace zt
