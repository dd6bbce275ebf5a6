// Crypto middleware over a scripted device: request layouts, answers bounded
// by the caller's room, and the one-step AES template.
#include "scripted_device.h"
#include "se/middleware.h"

namespace {

using namespace semw;
namespace cry = se::cmd::cry;

class CryptoMw : public ScriptedDevice {
 protected:
  void TearDown() override {
    // Leave no one-step operation behind for the next test.
    (void)FWC_AesInit_mw(0, 0, 0, 0, nullptr, 0, nullptr, 0);
    ScriptedDevice::TearDown();
  }
};

TEST_F(CryptoMw, RequestLayouts) {
  expect(cry::DigestInit, {0x02, 0x01, 0x00, 0x00, 0x09});
  EXPECT_EQ(FWC_DigestInit_mw(0x102, 9), 0u);

  uint8_t rnd[32];
  expect(cry::DrngSeed, cat({le32(0x102), le32(32)}), arr(fill(32, 0x5E)));
  EXPECT_EQ(FWC_Drng_SEED_mw(0x102, rnd, 32), 0u);
  EXPECT_EQ(Bytes(rnd, rnd + 32), fill(32, 0x5E));
  // More random bytes than asked for are not taken.
  expect(cry::DrngSeed, cat({le32(0x102), le32(16)}), arr(fill(32, 0x5E)));
  EXPECT_EQ(quietly([&] { return FWC_Drng_SEED_mw(0x102, rnd, 16); }), SE_ERR_SERIALIZER);

  Bytes data = {1, 2, 3, 4, 5};
  uint8_t out[64];
  uint32_t n = sizeof out;
  expect(cry::AesGcmEncryptFinal, cat({le32(3), {0x10}, arr(data)}), arr(fill(21, 0x6C)));
  EXPECT_EQ(FWC_AesGcmEncryptFinal_mw(3, 16, data.data(), 5, out, &n), 0u);
  EXPECT_EQ(n, 21u);

  expect(cry::OpenSession, {}, le32(0x77));
  uint32_t h = 0;
  EXPECT_EQ(FWC_OpenSession_mw(&h), 0u);
  EXPECT_EQ(h, 0x77u);
  expect(cry::CloseAllSessions, {});
  EXPECT_EQ(FWC_CloseAllSessions_mw(), 0u);
  uint32_t list = 0, count = 0;
  expect(cry::GetMechanismList, {}, cat({le32(0x1082), le32(1), le32(0xFFFF)}));
  EXPECT_EQ(FWC_GetMechanismList_mw(&list, &count), 0u);
  EXPECT_EQ(list, 0x1082u);
  EXPECT_EQ(count, 1u);

  expect(cry::Padding, cat({le32(3), le32(16), arr(data)}), arr(fill(16, 0x0B)));
  n = sizeof out;
  EXPECT_EQ(FWC_Padding_mw(3, 16, data.data(), 5, out, &n), 0u);
  EXPECT_EQ(n, 16u);

  Bytes mk = fill(32, 0x4B);
  expect(cry::SetMK, cat({le32(9), arr(mk)}));
  EXPECT_EQ(FWC_SetMK_mw(9, mk.data(), 32), 0u);
  expect(cry::ClearMK, le32(9));
  EXPECT_EQ(FWC_ClearMK_mw(9), 0u);
  expect(cry::CloseSession, le32(9));
  EXPECT_EQ(FWC_CloseSession_mw(9), 0u);
}

TEST_F(CryptoMw, KeyPairLengthsComeFromTheAnswer) {
  uint8_t priv[64], pub[64];
  uint32_t priv_len = sizeof priv, pub_len = sizeof pub;
  expect(cry::RSAGenerateKeyPair, cat({le32(5), le32(2048), le32(65537)}), cat({arr(fill(10, 1)), arr(fill(20, 2))}));
  ASSERT_EQ(FWC_RSAGenerateKeyPair_mw(5, 2048, 65537, priv, &priv_len, pub, &pub_len), 0u);
  EXPECT_EQ(priv_len, 10u);
  EXPECT_EQ(pub_len, 20u);
  // A failure writes no length.
  expect_code(cry::ECGenerateKeyPair, cat({le32(5), {3}}), 0x130);
  EXPECT_EQ(quietly([&] { return FWC_ECGenerateKeyPair_mw(5, 3, priv, &priv_len, pub, &pub_len); }), 0x130u);
  EXPECT_EQ(priv_len, 10u);
  Bytes sig = fill(64, 0x51), dig = fill(32, 0xD1), key = fill(65, 4);
  expect(cry::ECDSAVerifySingle, cat({le32(5), arr(key), arr(dig), arr(sig)}));
  EXPECT_EQ(FWC_ECDSAVerifySingle_mw(5, key.data(), 65, dig.data(), 32, sig.data(), 64), 0u);
  expect_code(cry::RSAVerify, cat({le32(5), le32(9), arr(key), arr(dig), arr(sig)}), 0xC0);
  EXPECT_EQ(quietly([&] { return FWC_RSAVerify_PKCS1_mw(5, 9, key.data(), 65, dig.data(), 32, sig.data(), 64); }),
            0xC0u);
  // 32-bit lengths the wire cannot carry are refused before anything is sent.
  std::vector<uint8_t> big(0x10000);
  uint32_t n = sizeof priv;
  EXPECT_EQ(quietly([&] { return FWC_Key_Encrypt_mw(5, big.data(), 0x10000, priv, &n); }), SE_ERR_SERIALIZER);
}

// A signature longer than the caller's buffer: CKR_BUFFER_TOO_SMALL with the
// length needed, nothing written; a buffer that holds it gets it exactly.
TEST_F(CryptoMw, RsaSignatureIntoAShortBufferGivesTheLengthNeeded) {
  const Bytes key = fill(40, 0x4B), dig = fill(32, 0xD1), sig = fill(256, 0x5A);
  const Bytes request = cat({le32(5), le32(9), arr(key), arr(dig)});
  Bytes out(256, 0);
  uint32_t n = 255;
  expect(cry::RSASign, request, arr(sig));
  EXPECT_EQ(FWC_RSASign_PKCS1_mw(5, 9, const_cast<uint8_t*>(key.data()), 40, const_cast<uint8_t*>(dig.data()), 32,
                                 out.data(), &n),
            0x150u);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(out, Bytes(256, 0));
  n = 0;  // a length query
  expect(cry::RSASign, request, arr(sig));
  EXPECT_EQ(FWC_RSASign_PKCS1_mw(5, 9, const_cast<uint8_t*>(key.data()), 40, const_cast<uint8_t*>(dig.data()), 32,
                                 nullptr, &n),
            0x150u);
  EXPECT_EQ(n, 256u);
  expect(cry::RSASign, request, arr(sig));
  ASSERT_EQ(FWC_RSASign_PKCS1_mw(5, 9, const_cast<uint8_t*>(key.data()), 40, const_cast<uint8_t*>(dig.data()), 32,
                                 out.data(), &n),
            0u);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(out, sig);
}

// --- One-step AES ---

Bytes aes_request(uint32_t h, const Bytes& iv, const Bytes& key, const Bytes& data) {
  return cat({le32(h), le32(2), le32(2), le32(0), arr(iv), arr(key), arr(data)});
}

TEST_F(CryptoMw, OneStepAesSendsOneCommandAtTheFinal) {
  Bytes iv = fill(16, 0x1F), key = fill(32, 0x2E), a = fill(100, 0xA1), b = fill(28, 0xB2);
  ASSERT_EQ(FWC_AesInit_mw(4, 2, 2, 0, iv.data(), 16, key.data(), 32), 0u);
  uint32_t n = 999;
  ASSERT_EQ(FWC_AesUpdate_mw(4, a.data(), 100, nullptr, &n), 0u);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(sent(), 0u);
  // Another handle is not the running operation.
  EXPECT_EQ(FWC_AesUpdate_mw(5, a.data(), 100, nullptr, &n), 0x91u);
  std::vector<uint8_t> out(128);
  n = 128;
  expect(cry::AesCrypt, aes_request(4, iv, key, cat({a, b})), arr(fill(128, 0xC3)));
  ASSERT_EQ(FWC_AesFinal_mw(4, b.data(), 28, out.data(), &n), 0u);
  EXPECT_EQ(n, 128u);
  // The template is empty after the final.
  EXPECT_EQ(FWC_AesFinal_mw(4, nullptr, 0, out.data(), &n), 0x91u);
}

// The whole output comes back at the final: bounded by the caller's room.
TEST_F(CryptoMw, OneStepFinalIsBoundedByTheCallersRoom) {
  Bytes key = fill(16, 1), data = fill(4000, 2);
  ASSERT_EQ(FWC_AesInit_mw(4, 1, 2, 0, nullptr, 0, key.data(), 16), 0u);
  uint8_t out[64];
  uint32_t n = sizeof out;
  expect(cry::AesCrypt, cat({le32(4), le32(1), le32(2), le32(0), le16(0), arr(key), arr(data)}),
         arr(fill(4000, 3)));
  EXPECT_EQ(quietly([&] { return FWC_AesFinal_mw(4, data.data(), 4000, out, &n); }), SE_ERR_SERIALIZER);
  EXPECT_EQ(n, 64u);
}

// Refusals of the one-step operations are reported, not just printed.
TEST_F(CryptoMw, OneStepRefusalsAreReturned) {
  Bytes iv(17, 1), key(65, 2), data(4096, 3);
  EXPECT_EQ(quietly([&] { return FWC_AesInit_mw(4, 1, 2, 0, iv.data(), 17, key.data(), 32); }), 0x07u);
  EXPECT_EQ(quietly([&] { return FWC_AesInit_mw(4, 1, 2, 0, iv.data(), 16, key.data(), 65); }), 0x07u);
  // Nothing stays armed after a refused Init.
  uint32_t n = 0;
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 1, nullptr, &n), 0x91u);

  ASSERT_EQ(FWC_AesInit_mw(4, 1, 2, 0, nullptr, 0, key.data(), 32), 0u);
  ASSERT_EQ(FWC_AesUpdate_mw(4, data.data(), 4000, nullptr, &n), 0u);
  EXPECT_EQ(quietly([&] { return FWC_AesUpdate_mw(4, data.data(), 100, nullptr, &n); }), 0x21u);
  // Exactly the room left is accepted.
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 96, nullptr, &n), 0u);
  // 4096 bytes do not fit one request: refused at the final, nothing sent.
  uint8_t out[16];
  n = sizeof out;
  EXPECT_EQ(quietly([&] { return FWC_AesFinal_mw(4, nullptr, 0, out, &n); }), SE_ERR_SERIALIZER);
  EXPECT_EQ(sent(), 0u);
}

// Data of an operation that never reached its Final is not sent with the next.
TEST_F(CryptoMw, InitEmptiesTheDataBuffer) {
  Bytes key = fill(16, 1), stale = fill(48, 0x5A), fresh = fill(16, 0xF0);
  uint32_t n = 0;
  ASSERT_EQ(FWC_AesInit_mw(4, 1, 2, 0, nullptr, 0, key.data(), 16), 0u);
  ASSERT_EQ(FWC_AesUpdate_mw(4, stale.data(), 48, nullptr, &n), 0u);
  ASSERT_EQ(FWC_AesInit_mw(4, 1, 2, 0, nullptr, 0, key.data(), 16), 0u);
  uint8_t out[16];
  n = sizeof out;
  expect(cry::AesCrypt, cat({le32(4), le32(1), le32(2), le32(0), le16(0), arr(key), arr(fresh)}),
         arr(fill(16, 0xE0)));
  ASSERT_EQ(FWC_AesFinal_mw(4, fresh.data(), 16, out, &n), 0u);
  // A failed command also empties the template.
  ASSERT_EQ(FWC_AesInit_mw(4, 1, 2, 0, nullptr, 0, key.data(), 16), 0u);
  expect_code(cry::AesCrypt, cat({le32(4), le32(1), le32(2), le32(0), le16(0), arr(key), arr(fresh)}), 0x6A);
  n = sizeof out;
  EXPECT_EQ(quietly([&] { return FWC_AesFinal_mw(4, fresh.data(), 16, out, &n); }), 0x6Au);
  EXPECT_EQ(FWC_AesFinal_mw(4, nullptr, 0, out, &n), 0x91u);
}

TEST_F(CryptoMw, TablesAreFilled) {
  EXPECT_EQ(FWC_AESFunc.func_type, FWC_FUNCTIONS);
  EXPECT_EQ(FWC_AESFunc.C_AesFinal, &FWC_AesFinal_mw);
  EXPECT_EQ(FWC_RSAFunc.C_RSAGenerateKeyPair, &FWC_RSAGenerateKeyPair_mw);
  EXPECT_EQ(FWC_KeyBlobFunc.C_KeyDecrypt, &FWC_Key_Decrypt_mw);
  EXPECT_EQ(FWC_ECCFunc.C_ECDH, &FWC_ECDH_mw);
}

}  // namespace
