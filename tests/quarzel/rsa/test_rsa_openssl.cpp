// Interoperation with OpenSSL: PKCS#1 v1.5 signatures byte for byte, PSS and
// OAEP both ways.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <vector>

#include "quarzel/rsa.h"
#include "rsa_test_util.h"

using rt::Bytes;

namespace {

struct Ctx {
  EVP_PKEY_CTX* p;
  explicit Ctx(EVP_PKEY* k) : p(EVP_PKEY_CTX_new(k, nullptr)) {}
  ~Ctx() { EVP_PKEY_CTX_free(p); }
};

struct KeyPair {
  rt::Evp evp;
  uint32_t bits;
  std::unique_ptr<rt::PriKey> pri;
  std::unique_ptr<rt::PubKey> pub;
};

KeyPair load(const char* file) {
  KeyPair kp;
  kp.evp = rt::evp_from_pkcs8(rt::wycheproof_pkcs8(file));
  kp.bits = rt::evp_bits(kp.evp.get());
  const rt::Components c = rt::components_of(kp.evp.get(), kp.bits);
  kp.pri = std::make_unique<rt::PriKey>(kp.bits);
  rt::load_prikey(*kp.pri, c);
  kp.pub = std::make_unique<rt::PubKey>(kp.bits);
  rt::load_pubkey(*kp.pub, c.n, c.e);
  return kp;
}

Bytes openssl_sign(EVP_PKEY* k, int padding, hash_type_t h, const Bytes& md, int salt_len = 0) {
  Ctx c(k);
  EXPECT_EQ(1, EVP_PKEY_sign_init(c.p));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(c.p, padding));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(c.p, rt::evp_md(h)));
  if (padding == RSA_PKCS1_PSS_PADDING) {
    EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_pss_saltlen(c.p, salt_len));
  }
  size_t len = 0;
  EXPECT_EQ(1, EVP_PKEY_sign(c.p, nullptr, &len, md.data(), md.size()));
  Bytes sig(len);
  EXPECT_EQ(1, EVP_PKEY_sign(c.p, sig.data(), &len, md.data(), md.size()));
  sig.resize(len);
  return sig;
}

bool openssl_verify_pss(EVP_PKEY* k, hash_type_t h, const Bytes& md, const Bytes& sig, int salt_len) {
  Ctx c(k);
  EXPECT_EQ(1, EVP_PKEY_verify_init(c.p));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PSS_PADDING));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(c.p, rt::evp_md(h)));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_pss_saltlen(c.p, salt_len));
  return EVP_PKEY_verify(c.p, sig.data(), sig.size(), md.data(), md.size()) == 1;
}

}  // namespace

class RsaOpenSslBySize : public ::testing::TestWithParam<const char*> {};

// PKCS#1 v1.5 signatures are deterministic: ours equal OpenSSL's.
TEST_P(RsaOpenSslBySize, Pkcs1SignaturesEqualOpenSsl) {
  KeyPair kp = load(GetParam());
  const uint32_t k = kp.bits / 8;
  const Bytes msg = zt::ascii("quarzel interoperation message");
  // Every DigestInfo prefix on the 2048-bit key; SHA-1, SHA-256 and SHA-512 on
  // the larger ones (private operations are slow under ASan).
  std::vector<hash_type_t> hashes = {HASH_TYPE_SHA1, HASH_TYPE_SHA2_256, HASH_TYPE_SHA2_512};
  if (kp.bits == 2048) {
    hashes.insert(hashes.end(), {HASH_TYPE_SHA2_224, HASH_TYPE_SHA2_384, HASH_TYPE_SHA2_512_224,
                                 HASH_TYPE_SHA2_512_256, HASH_TYPE_SHA3_224, HASH_TYPE_SHA3_256,
                                 HASH_TYPE_SHA3_384, HASH_TYPE_SHA3_512});
  }
  for (const hash_type_t h : hashes) {
    const Bytes md = rt::digest(h, msg);
    Bytes sig(k);
    ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_sign(kp.pri->get(), h, static_cast<uint32_t>(md.size()), md.data(),
                                             sig.data()));
    EXPECT_EQ(openssl_sign(kp.evp.get(), RSA_PKCS1_PADDING, h, md), sig) << h;
    if (h == HASH_TYPE_SHA2_256) {
      Bytes checked(k);
      ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_sign_with_checking(kp.pri->get(), h, static_cast<uint32_t>(md.size()),
                                                             md.data(), checked.data()));
      EXPECT_EQ(sig, checked);
    }
    uint32_t verdict = 0;
    ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(kp.pub->get(), h, static_cast<uint32_t>(md.size()), md.data(),
                                               sig.data(), &verdict));
    EXPECT_EQ(QZ_TRUE, verdict);
  }
}

TEST_P(RsaOpenSslBySize, PssBothWays) {
  KeyPair kp = load(GetParam());
  const uint32_t k = kp.bits / 8;
  const hash_type_t h = HASH_TYPE_SHA2_256;
  const Bytes md = rt::digest(h, zt::ascii("pss"));
  Bytes sig(k);
  ASSERT_EQ(0u, rsa_rsassa_pss_sign(kp.pri->get(), h, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(), 32, nullptr,
                                    sig.data()));
  EXPECT_TRUE(openssl_verify_pss(kp.evp.get(), h, md, sig, 32));
  const Bytes theirs = openssl_sign(kp.evp.get(), RSA_PKCS1_PSS_PADDING, h, md, 20);
  uint32_t verdict = 0;
  ASSERT_EQ(0u, rsa_rsassa_pss_verify(kp.pub->get(), h, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(), 20, nullptr,
                                      theirs.data(), &verdict));
  EXPECT_EQ(QZ_TRUE, verdict);
}

TEST_P(RsaOpenSslBySize, OaepBothWays) {
  KeyPair kp = load(GetParam());
  const uint32_t k = kp.bits / 8;
  const Bytes label = zt::ascii("label");
  const Bytes lhash = rt::digest(HASH_TYPE_SHA2_256, label);
  const Bytes msg = zt::ascii("secret message for OAEP");
  Bytes ct(k);
  ASSERT_EQ(0u, rsa_rsaes_oaep_encrypt(kp.pub->get(), RSA_MGF_MGF1_SHA2_256, 0, static_cast<uint32_t>(msg.size()),
                                       msg.data(), 32, lhash.data(), ct.data()));
  {
    Ctx c(kp.evp.get());
    ASSERT_EQ(1, EVP_PKEY_decrypt_init(c.p));
    ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_OAEP_PADDING));
    ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_oaep_md(c.p, EVP_sha256()));
    ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_mgf1_md(c.p, EVP_sha256()));
    unsigned char* l = static_cast<unsigned char*>(OPENSSL_memdup(label.data(), label.size()));
    ASSERT_EQ(1, EVP_PKEY_CTX_set0_rsa_oaep_label(c.p, l, static_cast<int>(label.size())));
    size_t len = k;
    Bytes out(k);
    ASSERT_EQ(1, EVP_PKEY_decrypt(c.p, out.data(), &len, ct.data(), ct.size()));
    out.resize(len);
    EXPECT_EQ(msg, out);
  }
  Bytes theirs(k);
  {
    Ctx c(kp.evp.get());
    ASSERT_EQ(1, EVP_PKEY_encrypt_init(c.p));
    ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(c.p, RSA_PKCS1_PADDING));
    size_t len = k;
    ASSERT_EQ(1, EVP_PKEY_encrypt(c.p, theirs.data(), &len, msg.data(), msg.size()));
  }
  Bytes out(k);
  uint32_t len = k, valid = 0;
  ASSERT_EQ(0u, rsa_rsaes_pkcs1_v1_5_decrypt(kp.pri->get(), theirs.data(), &len, out.data(), &valid));
  EXPECT_EQ(QZ_TRUE, valid);
  EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + len));
}

INSTANTIATE_TEST_SUITE_P(Wycheproof, RsaOpenSslBySize,
                         ::testing::Values("rsa_pkcs1_2048.json", "rsa_pkcs1_3072.json",
                                           "rsa_pkcs1_4096.json"));
