// The software provider's table operations, called directly on provider
// sessions, against OpenSSL.
#include <gtest/gtest.h>

#include "core/crypto_api/ossl.h"
#include "zeb/swhsm_services.h"

namespace {

using ct::Bytes;

class Provider : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SWC_OpenSession(&h), 0u); }
  void TearDown() override { EXPECT_EQ(SWC_CloseSession(h), 0u); }
  Bytes wrap(Bytes plain) {
    Bytes out(plain.size());
    uint32_t n = static_cast<uint32_t>(out.size());
    EXPECT_EQ(SWC_KeyBlobFunc.C_KeyEncrypt(h, plain.data(), static_cast<uint32_t>(plain.size()), out.data(), &n), 0u);
    return out;
  }
  Bytes unwrap(Bytes blob) {
    Bytes out(blob.size());
    uint32_t n = static_cast<uint32_t>(out.size());
    EXPECT_EQ(SWC_KeyBlobFunc.C_KeyDecrypt(h, blob.data(), static_cast<uint32_t>(blob.size()), out.data(), &n), 0u);
    return out;
  }
  uint32_t h = 0;
};

constexpr uint8_t kCbc = 2, kEnc = 2;

TEST_F(Provider, AesKeyOfAnotherLengthGivesOne) {
  Bytes blob = wrap(Bytes(20, 0x11));
  uint8_t iv[16] = {};
  EXPECT_EQ(SWC_AESFunc.C_AesInit(h, kCbc, kEnc, 1, iv, 16, blob.data(), 20), 1u);
  EXPECT_EQ(SWC_AESFunc.C_AesGcmInit(h, nullptr, 0, iv, 12, blob.data(), 20), 1u);
  EXPECT_EQ(SWC_AESFunc.C_AesInit(h + 1, kCbc, kEnc, 1, iv, 16, blob.data(), 16), 0xB3u);
}

TEST_F(Provider, AesCbcStepsEqualOpenSsl) {
  const Bytes key = zt::unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes iv = zt::unhex("000102030405060708090a0b0c0d0e0f");
  Bytes data(96);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Bytes blob = wrap(key);
  Bytes ivc = iv;
  ASSERT_EQ(SWC_AESFunc.C_AesInit(h, kCbc, kEnc, 1, ivc.data(), 16, blob.data(), 32), 0u);
  Bytes out(96);
  uint32_t n = 64;
  ASSERT_EQ(SWC_AESFunc.C_AesUpdate(h, data.data(), 64, out.data(), &n), 0u);
  EXPECT_EQ(n, 64u);
  n = 32;
  ASSERT_EQ(SWC_AESFunc.C_AesFinal(h, data.data() + 64, 32, out.data() + 64, &n), 0u);
  EXPECT_EQ(out, zt::openssl_aes(key, true, false, true, iv, data));
  // The operation ended with its final step.
  n = 16;
  EXPECT_NE(SWC_AESFunc.C_AesUpdate(h, data.data(), 16, out.data(), &n), 0u);
}

TEST_F(Provider, GcmTagMismatchClearsThePlaintext) {
  Bytes key(16, 0x42), iv(12, 0x24), msg(20, 0x5A);
  Bytes blob = wrap(key);
  ASSERT_EQ(SWC_AESFunc.C_AesGcmInit(h, nullptr, 0, iv.data(), 12, blob.data(), 16), 0u);
  Bytes ct(36);
  uint32_t n = 36;
  ASSERT_EQ(SWC_AESFunc.C_AesGcmEncryptFinal(h, 16, msg.data(), 20, ct.data(), &n), 0u);
  ASSERT_EQ(n, 36u);
  ct[35] ^= 1;
  ASSERT_EQ(SWC_AESFunc.C_AesGcmInit(h, nullptr, 0, iv.data(), 12, blob.data(), 16), 0u);
  Bytes pt(20, 0xEE);
  n = 20;
  EXPECT_EQ(SWC_AESFunc.C_AesGcmDecryptFinal(h, ct.data(), 20, ct.data() + 20, 16, pt.data(), &n), 6u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(pt, Bytes(20, 0));
}

TEST_F(Provider, AesKeyGenerationWrapsAFreshKey) {
  for (uint8_t type : {1, 2, 3}) {
    Bytes blob(32);
    uint32_t n = 32;
    ASSERT_EQ(SWC_AESFunc.C_AESGenerateKey(h, type, blob.data(), &n), 0u);
    EXPECT_EQ(n, 8u + 8u * type);
  }
  Bytes small(8);
  uint32_t n = 8;
  EXPECT_EQ(SWC_AESFunc.C_AESGenerateKey(h, 3, small.data(), &n), 0x150u);
  EXPECT_EQ(n, 32u);
}

// ---- EC ----

struct EcPair {
  Bytes priv, pub;
};

EcPair ec_pair(uint32_t h, uint8_t curve) {
  EcPair p{Bytes(76), Bytes(144)};
  uint32_t pl = 76, ql = 144;
  EXPECT_EQ(SWC_ECCFunc.C_ECGenerateKeyPair(h, curve, p.priv.data(), &pl, p.pub.data(), &ql), 0u);
  p.priv.resize(pl);
  p.pub.resize(ql);
  return p;
}

TEST_F(Provider, EcSignaturesVerifyWithOpenSslOnEveryCurve) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    EcPair k = ec_pair(h, c.id);
    ASSERT_EQ(k.priv.size(), 4 + c.L);
    ASSERT_EQ(k.pub.size(), 4 + 2 * c.L);
    const Bytes blob_before = k.priv;
    Bytes digest = ct::digest(EVP_sha256(), zt::ascii("message"));
    for (int round = 0; round < 2; ++round) {
      // The caller's key blob stays wrapped; a second signature works alike.
      Bytes sig(2 * c.L);
      uint32_t n = static_cast<uint32_t>(sig.size());
      ASSERT_EQ(SWC_ECCFunc.C_ECDSASignSingle(h, k.priv.data(), static_cast<uint32_t>(k.priv.size()), digest.data(), 32,
                                              sig.data(), &n),
                0u);
      ASSERT_EQ(n, 2 * c.L);
      EXPECT_EQ(k.priv, blob_before);
      EXPECT_TRUE(ct::ec_verify(c, k.pub, digest, sig));
      EXPECT_EQ(SWC_ECCFunc.C_ECDSAVerifySingle(h, k.pub.data(), static_cast<uint32_t>(k.pub.size()), digest.data(), 32,
                                                sig.data(), n),
                0u);
      sig[n - 1] ^= 1;
      EXPECT_EQ(SWC_ECCFunc.C_ECDSAVerifySingle(h, k.pub.data(), static_cast<uint32_t>(k.pub.size()), digest.data(), 32,
                                                sig.data(), n),
                0xC0u);
    }
  }
}

TEST_F(Provider, EcSignatureBufferIsChecked) {
  EcPair k = ec_pair(h, 18);
  Bytes digest(32, 1), sig(63);
  uint32_t n = 63;
  EXPECT_EQ(SWC_ECCFunc.C_ECDSASignSingle(h, k.priv.data(), 36, digest.data(), 32, sig.data(), &n), 0x150u);
  EXPECT_EQ(n, 64u);
  // A signature of another length than 2L never verifies.
  Bytes long_sig(136, 1);
  EXPECT_EQ(SWC_ECCFunc.C_ECDSAVerifySingle(h, k.pub.data(), 68, digest.data(), 32, long_sig.data(), 136), 0xC0u);
}

TEST_F(Provider, EcdhAgreesWithOpenSsl) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    EcPair ours = ec_pair(h, c.id);
    const Bytes before = ours.priv;
    ct::EcPeer peer = ct::ec_peer(c);
    Bytes z(c.L);
    uint32_t n = c.L;
    ASSERT_EQ(SWC_ECCFunc.C_ECDH(h, ours.priv.data(), static_cast<uint32_t>(ours.priv.size()), peer.blob.data(),
                                 static_cast<uint32_t>(peer.blob.size()), z.data(), &n),
              0u);
    EXPECT_EQ(n, c.L);
    EXPECT_EQ(z, ct::ecdh(c, peer, ours.pub));
    // Our key blob is unwrapped into a working copy, not in place.
    EXPECT_EQ(ours.priv, before);
  }
}

// ---- RSA ----

struct RsaPair {
  Bytes priv, pub;
};

// One 2048-bit pair for the suite, wrapped under the default master key.
const RsaPair& rsa2048() {
  static const RsaPair pair = [] {
    uint32_t h = 0;
    EXPECT_EQ(SWC_OpenSession(&h), 0u);
    RsaPair p{Bytes(2856), Bytes(1040)};
    uint32_t pl = 2856, ql = 1040;
    EXPECT_EQ(SWC_RSAFunc.C_RSAGenerateKeyPair(h, 2048, 0x10001, p.priv.data(), &pl, p.pub.data(), &ql), 0u);
    p.priv.resize(pl);
    p.pub.resize(ql);
    EXPECT_EQ(SWC_CloseSession(h), 0u);
    return p;
  }();
  return pair;
}

TEST_F(Provider, RsaKeyGenerationRefusesOtherSizesAndExponents) {
  Bytes a(2856), b(1040);
  uint32_t al = 2856, bl = 1040;
  EXPECT_EQ(SWC_RSAFunc.C_RSAGenerateKeyPair(0xDEAD, 2048, 3, a.data(), &al, b.data(), &bl), 7u);
  EXPECT_EQ(SWC_RSAFunc.C_RSAGenerateKeyPair(0xDEAD, 1536, 0x10001, a.data(), &al, b.data(), &bl), 7u);
}

TEST_F(Provider, RsaSignaturesEqualOpenSslByteForByte) {
  const RsaPair& k = rsa2048();
  ct::Rsa ossl = ct::rsa_private(unwrap(k.priv));
  struct Case {
    uint8_t type;
    const EVP_MD* md;
    int nid;
  };
  for (const Case& cs : {Case{4, EVP_sha1(), NID_sha1}, Case{9, EVP_sha256(), NID_sha256},
                         Case{10, EVP_sha384(), NID_sha384}, Case{11, EVP_sha512(), NID_sha512}}) {
    Bytes digest = ct::digest(cs.md, zt::ascii("sign me"));
    Bytes sig(256);
    uint32_t n = 256;
    Bytes priv = k.priv;
    ASSERT_EQ(SWC_RSAFunc.C_RSASign_PKCS1(h, cs.type, priv.data(), static_cast<uint32_t>(priv.size()), digest.data(),
                                          static_cast<uint32_t>(digest.size()), sig.data(), &n),
              0u);
    ASSERT_EQ(n, 256u);
    Bytes expect(256);
    unsigned en = 0;
    ASSERT_EQ(RSA_sign(cs.nid, digest.data(), static_cast<unsigned>(digest.size()), expect.data(), &en, ossl.get()), 1);
    EXPECT_EQ(sig, expect);
    Bytes pub = k.pub;
    EXPECT_EQ(SWC_RSAFunc.C_RSAVerify_PKCS1(h, cs.type, pub.data(), static_cast<uint32_t>(pub.size()), digest.data(),
                                            static_cast<uint32_t>(digest.size()), sig.data(), 256),
              0u);
    sig[10] ^= 0x40;
    EXPECT_EQ(SWC_RSAFunc.C_RSAVerify_PKCS1(h, cs.type, pub.data(), static_cast<uint32_t>(pub.size()), digest.data(),
                                            static_cast<uint32_t>(digest.size()), sig.data(), 256),
              0xC0u);
  }
}

TEST_F(Provider, RsaEncryptionRoundTripsBothWaysWithOpenSsl) {
  const RsaPair& k = rsa2048();
  ct::Rsa ossl = ct::rsa_private(unwrap(k.priv));
  Bytes msg = zt::ascii("a short secret");
  Bytes priv = k.priv, pub = k.pub;
  // Ours to OpenSSL.
  Bytes c1(256);
  uint32_t n = 256;
  ASSERT_EQ(SWC_RSAFunc.C_RSAEncrypt_PKCS1(h, pub.data(), static_cast<uint32_t>(pub.size()), msg.data(),
                                           static_cast<uint32_t>(msg.size()), c1.data(), &n),
            0u);
  Bytes p1(256);
  const int m = RSA_private_decrypt(256, c1.data(), p1.data(), ossl.get(), RSA_PKCS1_PADDING);
  ASSERT_EQ(m, static_cast<int>(msg.size()));
  p1.resize(static_cast<size_t>(m));
  EXPECT_EQ(p1, msg);
  // OpenSSL to ours; the plain capacity is tested, not overwritten.
  Bytes c2(256);
  ASSERT_EQ(RSA_public_encrypt(static_cast<int>(msg.size()), msg.data(), c2.data(), ossl.get(), RSA_PKCS1_PADDING),
            256);
  Bytes p2(msg.size() - 1);
  n = static_cast<uint32_t>(p2.size());
  EXPECT_EQ(
      SWC_RSAFunc.C_RSADecrypt_PKCS1(h, priv.data(), static_cast<uint32_t>(priv.size()), c2.data(), 256, p2.data(), &n),
      0x150u);
  EXPECT_EQ(n, msg.size());
  p2.resize(msg.size());
  ASSERT_EQ(
      SWC_RSAFunc.C_RSADecrypt_PKCS1(h, priv.data(), static_cast<uint32_t>(priv.size()), c2.data(), 256, p2.data(), &n),
      0u);
  EXPECT_EQ(p2, msg);
  EXPECT_EQ(priv, k.priv);
  // Bad padding and a wrong ciphertext length.
  c2[100] ^= 1;
  n = 256;
  Bytes p3(256);
  EXPECT_EQ(
      SWC_RSAFunc.C_RSADecrypt_PKCS1(h, priv.data(), static_cast<uint32_t>(priv.size()), c2.data(), 256, p3.data(), &n),
      0xC0u);
  EXPECT_EQ(
      SWC_RSAFunc.C_RSADecrypt_PKCS1(h, priv.data(), static_cast<uint32_t>(priv.size()), c2.data(), 255, p3.data(), &n),
      0x41u);
}

}  // namespace
