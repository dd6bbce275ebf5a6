// Class 0x88 on the simulator, in process: results checked against OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED  // support/openssl_ec.h names the point through EC_KEY
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/obj_mac.h>

#include "fixture.h"
#include "support/openssl_ec.h"

namespace sst {
namespace {

namespace k = cmd::cry;

class Crypto : public Sim {
 protected:
  void SetUp() override {
    Sim::SetUp();
    id_ = host().token(kAdminPin, kSoPin);
    s_ = host().user(id_, kSoPin, kUserPin);
  }
  Bytes h() const { return u32(s_); }
  // A key blob of `plain` under the session's master key.
  Bytes blob(const Bytes& plain) { return l().ok(k::KeyEncrypt, {h(), plain})[0]; }
  Bytes id_;
  uint32_t s_ = 0;
};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed * 31 + i);
  return b;
}

TEST_F(Crypto, EcdsaP256SignatureVerifiesWithOpenSsl) {
  auto kp = l().ok(k::ECGenerateKeyPair, {h(), u8(18)});  // P-256
  ASSERT_EQ(kp.size(), 2u);
  const Bytes& pub = kp[1];
  ASSERT_EQ(pub.size(), 4u + 64u);  // curve id, three zero bytes, x, y
  const Bytes digest = sha256("message to sign");
  const Bytes sig = l().ok(k::ECDSASignSingle, {h(), kp[0], digest})[0];
  ASSERT_EQ(sig.size(), 64u);

  EXPECT_TRUE(zt::openssl_ecdsa_verify(NID_X9_62_prime256v1, pub.data() + 4, pub.data() + 36, 32, digest.data(), 32, sig.data()));

  // The device's own verification agrees, and refuses a changed digest.
  EXPECT_EQ(l().code(k::ECDSAVerifySingle, {h(), pub, digest, sig}), 0u);
  Bytes other = digest;
  other[0] ^= 1;
  EXPECT_NE(l().code(k::ECDSAVerifySingle, {h(), pub, other, sig}), 0u);
}

TEST_F(Crypto, AesCbcMatchesOpenSsl) {
  const Bytes key = pattern(32, 1), iv = pattern(16, 2), data = pattern(1024, 3);
  const Bytes kb = blob(key);
  // Mode CBC (2), direction encrypt (2), no padding.
  const Bytes ct = l().ok(k::AesCrypt, {h(), u32(2), u32(2), u32(0), iv, kb, data})[0];
  Bytes want(data.size() + 16);
  int n1 = 0, n2 = 0;
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(c, EVP_aes_256_cbc(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(c, 0);
  EVP_EncryptUpdate(c, want.data(), &n1, data.data(), static_cast<int>(data.size()));
  EVP_EncryptFinal_ex(c, want.data() + n1, &n2);
  EVP_CIPHER_CTX_free(c);
  want.resize(n1 + n2);
  EXPECT_EQ(ct, want);
  EXPECT_EQ(l().ok(k::AesCrypt, {h(), u32(2), u32(1), u32(0), iv, kb, ct})[0], data);
  // Words the provider takes as bytes must fit one.
  EXPECT_EQ(l().code(k::AesCrypt, {h(), u32(0x102), u32(2), u32(0), iv, kb, data}), 7u);
}

TEST_F(Crypto, AesGcmMatchesOpenSsl) {
  const Bytes key = pattern(32, 4), iv = pattern(12, 5), aad = pattern(20, 6), data = pattern(48, 7);
  ASSERT_EQ(l().code(k::AesGcmInit, {h(), aad, iv, blob(key)}), 0u);
  Bytes got = l().ok(k::AesGcmEncryptUpdate, {h(), Bytes(data.begin(), data.begin() + 32)})[0];
  const Bytes last = l().ok(k::AesGcmEncryptFinal, {h(), u8(16), Bytes(data.begin() + 32, data.end())})[0];
  got.insert(got.end(), last.begin(), last.end());

  Bytes want(data.size() + 16);
  int n = 0;
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, 12, nullptr);
  EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), iv.data());
  EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(aad.size()));
  EVP_EncryptUpdate(c, want.data(), &n, data.data(), static_cast<int>(data.size()));
  EVP_EncryptFinal_ex(c, want.data() + n, &n);
  EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, 16, want.data() + data.size());
  EVP_CIPHER_CTX_free(c);
  EXPECT_EQ(got, want);

  // Decryption with the tag; a changed tag is refused.
  const Bytes ct(want.begin(), want.begin() + 48), tag(want.begin() + 48, want.end());
  ASSERT_EQ(l().code(k::AesGcmInit, {h(), aad, iv, blob(key)}), 0u);
  EXPECT_EQ(l().ok(k::AesGcmDecryptFinal, {h(), ct, tag})[0], data);
  Bytes bad = tag;
  bad[0] ^= 1;
  ASSERT_EQ(l().code(k::AesGcmInit, {h(), aad, iv, blob(key)}), 0u);
  EXPECT_NE(l().code(k::AesGcmDecryptFinal, {h(), ct, bad}), 0u);
}

TEST_F(Crypto, DigestAndHmacMatchOpenSsl) {
  const Bytes msg = pattern(300, 8);
  ASSERT_EQ(l().code(k::DigestInit, {h(), u8(cmd::SE_HASH_SHA2_256)}), 0u);
  ASSERT_EQ(l().code(k::DigestUpdate, {h(), Bytes(msg.begin(), msg.begin() + 100)}), 0u);
  ASSERT_EQ(l().code(k::DigestUpdate, {h(), Bytes(msg.begin() + 100, msg.end())}), 0u);
  Bytes want(32);
  SHA256(msg.data(), msg.size(), want.data());
  EXPECT_EQ(l().ok(k::DigestFinal, {h()})[0], want);

  // A generated HMAC key is a blob; its plain key gives OpenSSL's MAC.
  const Bytes kb = l().ok(k::HmacGenerateKey, {h()})[0];
  const Bytes key = l().ok(k::KeyDecrypt, {h(), kb})[0];
  ASSERT_EQ(key.size(), 32u);
  ASSERT_EQ(l().code(k::HmacInit, {h(), u8(cmd::SE_HASH_SHA2_256), kb}), 0u);
  ASSERT_EQ(l().code(k::HmacUpdate, {h(), msg}), 0u);
  unsigned n = 32;
  HMAC(EVP_sha256(), key.data(), 32, msg.data(), msg.size(), want.data(), &n);
  EXPECT_EQ(l().ok(k::HmacFinal, {h()})[0], want);
  EXPECT_EQ(l().code(k::HmacFinal, {h()}), 0x91u);  // a MAC needs an Init again
}

TEST_F(Crypto, ObjectMacKeyIsTheTokensAndStaysOnTheDevice) {
  auto mac = [&](uint32_t s, const Bytes& msg) {
    EXPECT_EQ(l().code(k::HmacInit, {u32(s), u8(cmd::SE_HASH_SHA2_256), {}}), 0u);
    EXPECT_EQ(l().code(k::HmacUpdate, {u32(s), msg}), 0u);
    return l().ok(k::HmacFinal, {u32(s)})[0];
  };
  const Bytes m1 = mac(s_, str("object"));
  ASSERT_EQ(m1.size(), 32u);
  // Another session of the same token, even after a restart: the same key.
  reopen();
  const uint32_t s2 = host().open(id_);
  ASSERT_EQ(l().code(cmd::dev::LoginTokenByPin, {u32(s2), sha256(kUserPin)}), 0u);
  EXPECT_EQ(mac(s2, str("object")), m1);
  EXPECT_NE(mac(s2, str("objecu")), m1);
}

TEST_F(Crypto, SessionKeyIsFreshPerLoginAndGoneAtLogout) {
  const Bytes mk1 = l().ok(k::GetMK, {h()})[0];
  ASSERT_EQ(mk1.size(), 32u);
  ASSERT_EQ(l().code(cmd::dev::LogoutToken, {h()}), 0u);
  EXPECT_EQ(l().code(k::GetMK, {h()}), 0x101u);
  EXPECT_EQ(l().code(k::KeyEncrypt, {h(), pattern(32, 1)}), 0x101u);
  const uint32_t s2 = host().open(id_);
  ASSERT_EQ(l().code(cmd::dev::LoginTokenByPin, {u32(s2), sha256(kUserPin)}), 0u);
  EXPECT_NE(l().ok(k::GetMK, {u32(s2)})[0], mk1);
  // SetMK replaces it.
  const Bytes mine = pattern(32, 9);
  ASSERT_EQ(l().code(k::SetMK, {u32(s2), mine}), 0u);
  EXPECT_EQ(l().ok(k::GetMK, {u32(s2)})[0], mine);
  EXPECT_EQ(l().code(k::SetMK, {u32(s2), pattern(31, 9)}), 7u);
}

TEST_F(Crypto, KeyTransferMovesBetweenTokenAndSessionWrapping) {
  const Bytes plain = pattern(32, 3);
  const Bytes sw = blob(plain);
  const Bytes tkn = l().ok(cmd::dev::SetSwKey2Tkn, {h(), sw})[0];
  ASSERT_EQ(tkn.size(), sw.size());
  EXPECT_NE(tkn, sw);
  // In another session (another session key) it comes back as that session's blob.
  const uint32_t s2 = host().open(id_);
  ASSERT_EQ(l().code(cmd::dev::LoginTokenByPin, {u32(s2), sha256(kUserPin)}), 0u);
  const Bytes sw2 = l().ok(cmd::dev::SetTknKey2Sw, {u32(s2), tkn})[0];
  EXPECT_EQ(l().ok(k::KeyDecrypt, {u32(s2), sw2})[0], plain);
}

TEST_F(Crypto, RsaKeyPairSignsVerifiesEncryptsAndDecrypts) {
  auto kp = l().ok(k::RSAGenerateKeyPair, {h(), u32(2048), u32(65537)});
  ASSERT_EQ(kp.size(), 2u);
  const Bytes digest = sha256("rsa message");
  const Bytes sig = l().ok(k::RSASign, {h(), u32(cmd::SE_HASH_SHA2_256), kp[0], digest})[0];
  EXPECT_EQ(sig.size(), 256u);
  EXPECT_EQ(l().code(k::RSAVerify, {h(), u32(cmd::SE_HASH_SHA2_256), kp[1], digest, sig}), 0u);
  const Bytes ct = l().ok(k::RSAEncrypt, {h(), kp[1], str("secret")})[0];
  EXPECT_EQ(l().ok(k::RSADecrypt, {h(), kp[0], ct})[0], str("secret"));
  EXPECT_EQ(l().code(k::RSAGenerateKeyPair, {h(), u32(1 << 20), u32(65537)}), 7u);
}

TEST_F(Crypto, RefusalsOfTheCryptoClass) {
  EXPECT_EQ(l().code(k::GetMK, {u32(0x12345678)}), 0xB3u);
  EXPECT_EQ(l().code(k::DrngSeed, {h(), u32(5000)}), 0x21u);
  EXPECT_EQ(l().ok(k::DrngSeed, {h(), u32(48)})[0].size(), 48u);
  EXPECT_EQ(l().code(k::HmacUpdate, {h(), str("x")}), 0x91u);
}

}  // namespace
}  // namespace sst
