// Crypto middleware over a scripted device: request layouts, answers bounded
// by the caller's room, and AES in steps.
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

// --- AES in steps ---

// Mode, direction, padding: 32-bit words on the wire.
Bytes aes_request(uint32_t h, uint32_t mode, uint32_t dir, uint32_t pad, const Bytes& iv, const Bytes& key,
                  const Bytes& data) {
  return cat({le32(h), le32(mode), le32(dir), le32(pad), arr(iv), arr(key), arr(data)});
}
Bytes slice(const Bytes& b, size_t from, size_t n) { return Bytes(b.begin() + from, b.begin() + from + n); }
Bytes counting(size_t n, uint8_t from) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(from + i);
  return b;
}

constexpr uint32_t kEcb = 1, kCbc = 2, kOfb = 4, kCtr = 5;
constexpr uint32_t kDec = 1, kEnc = 2;
constexpr uint32_t kPadNone = 1, kPadPkcs7 = 3;

// Each step answers its own data; the CBC chain goes on from the last
// ciphertext block, and only the final carries the padding word.
TEST_F(CryptoMw, StepsAnswerTheirOwnData) {
  Bytes iv = fill(16, 0x1F), key = fill(32, 0x2E), a = fill(96, 0xA1), b = fill(32, 0xB2);
  Bytes c1 = counting(96, 0x40), c2 = fill(32, 0xC3);
  ASSERT_EQ(FWC_AesInit_mw(4, kCbc, kEnc, kPadPkcs7, iv.data(), 16, key.data(), 32), 0u);
  EXPECT_EQ(sent(), 0u);
  Bytes out(96);
  uint32_t n = 96;
  expect(cry::AesCrypt, aes_request(4, kCbc, kEnc, kPadNone, iv, key, a), arr(c1));
  ASSERT_EQ(FWC_AesUpdate_mw(4, a.data(), 96, out.data(), &n), 0u);
  EXPECT_EQ(n, 96u);
  EXPECT_EQ(out, c1);
  // Another handle is not the running operation.
  EXPECT_EQ(FWC_AesUpdate_mw(5, a.data(), 16, out.data(), &n), 0x91u);
  n = 96;
  expect(cry::AesCrypt, aes_request(4, kCbc, kEnc, kPadPkcs7, slice(c1, 80, 16), key, b), arr(c2));
  ASSERT_EQ(FWC_AesFinal_mw(4, b.data(), 32, out.data(), &n), 0u);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(slice(out, 0, 32), c2);
  // The template is empty after the final.
  EXPECT_EQ(FWC_AesFinal_mw(4, nullptr, 0, out.data(), &n), 0x91u);
}

// A step longer than a request goes in pieces. In place, a CBC decryption
// still chains from the ciphertext the piece was given.
TEST_F(CryptoMw, LongStepGoesInPiecesInPlace) {
  Bytes iv = fill(16, 0x11), key = fill(32, 0x22), data = counting(4800, 0);
  const Bytes given = data;
  // 4085 - 22 - 16 - 32 = 4015: 4000 bytes a piece.
  ASSERT_EQ(FWC_AesInit_mw(7, kCbc, kDec, kPadPkcs7, iv.data(), 16, key.data(), 32), 0u);
  expect(cry::AesCrypt, aes_request(7, kCbc, kDec, kPadNone, iv, key, slice(given, 0, 4000)), arr(fill(4000, 0xD1)));
  expect(cry::AesCrypt, aes_request(7, kCbc, kDec, kPadNone, slice(given, 3984, 16), key, slice(given, 4000, 800)),
         arr(fill(800, 0xD2)));
  uint32_t n = 4800;
  ASSERT_EQ(FWC_AesUpdate_mw(7, data.data(), 4800, data.data(), &n), 0u);
  EXPECT_EQ(n, 4800u);
  EXPECT_EQ(data, cat({fill(4000, 0xD1), fill(800, 0xD2)}));
}

// The final's last piece keeps a whole block ahead of a partial one, for
// ciphertext stealing.
TEST_F(CryptoMw, FinalKeepsABlockBeforeAPartialOne) {
  Bytes key = fill(16, 0x33), data = counting(4040, 7);
  // 4085 - 22 - 16 = 4047: 4032 bytes a piece; 4040 = 4016 + 24.
  ASSERT_EQ(FWC_AesInit_mw(2, kEcb, kEnc, 0, nullptr, 0, key.data(), 16), 0u);
  expect(cry::AesCrypt, aes_request(2, kEcb, kEnc, kPadNone, {}, key, slice(data, 0, 4016)), arr(fill(4016, 1)));
  expect(cry::AesCrypt, aes_request(2, kEcb, kEnc, 0, {}, key, slice(data, 4016, 24)), arr(fill(24, 2)));
  Bytes out(4040);
  uint32_t n = 4040;
  ASSERT_EQ(FWC_AesFinal_mw(2, data.data(), 4040, out.data(), &n), 0u);
  EXPECT_EQ(n, 4040u);
  EXPECT_EQ(out, cat({fill(4016, 1), fill(24, 2)}));
}

// The next command's IV: CTR's counter advanced by the blocks sent (carry
// across bytes), OFB's last key-stream block (input XOR output).
TEST_F(CryptoMw, ChainingValues) {
  Bytes key = fill(16, 0x44), data = fill(4032, 0x0F);
  Bytes ctr = cat({fill(14, 0), {0xFF, 0xFF}});
  // 4085 - 22 - 16 - 16 = 4031: 4016 bytes (251 blocks) a piece.
  ASSERT_EQ(FWC_AesInit_mw(3, kCtr, kEnc, 0, ctr.data(), 16, key.data(), 16), 0u);
  Bytes next = cat({fill(13, 0), {0x01, 0x00, 0xFA}});
  expect(cry::AesCrypt, aes_request(3, kCtr, kEnc, kPadNone, ctr, key, slice(data, 0, 4016)), arr(fill(4016, 0)));
  expect(cry::AesCrypt, aes_request(3, kCtr, kEnc, kPadNone, next, key, slice(data, 4016, 16)), arr(fill(16, 0)));
  Bytes out(4032);
  uint32_t n = 4032;
  ASSERT_EQ(FWC_AesUpdate_mw(3, data.data(), 4032, out.data(), &n), 0u);

  Bytes iv = fill(16, 0x5A), a = fill(32, 0x0F), c = cat({fill(16, 0), fill(16, 0xF0)});
  ASSERT_EQ(FWC_AesInit_mw(3, kOfb, kEnc, 0, iv.data(), 16, key.data(), 16), 0u);
  expect(cry::AesCrypt, aes_request(3, kOfb, kEnc, kPadNone, iv, key, a), arr(c));
  n = 32;
  ASSERT_EQ(FWC_AesUpdate_mw(3, a.data(), 32, out.data(), &n), 0u);
  expect(cry::AesCrypt, aes_request(3, kOfb, kEnc, 0, fill(16, 0xFF), key, slice(a, 0, 16)), arr(fill(16, 7)));
  n = 32;
  ASSERT_EQ(FWC_AesFinal_mw(3, a.data(), 16, out.data(), &n), 0u);
  EXPECT_EQ(n, 16u);
  // Once something went out, an empty final sends nothing more.
  ASSERT_EQ(FWC_AesInit_mw(3, kEcb, kEnc, 0, nullptr, 0, key.data(), 16), 0u);
  expect(cry::AesCrypt, aes_request(3, kEcb, kEnc, kPadNone, {}, key, a), arr(fill(32, 8)));
  n = 32;
  ASSERT_EQ(FWC_AesUpdate_mw(3, a.data(), 32, out.data(), &n), 0u);
  ASSERT_EQ(FWC_AesFinal_mw(3, nullptr, 0, out.data(), &n), 0u);
  EXPECT_EQ(n, 0u);
}

// Sessions keep their own operations: another session's Init leaves the
// first one running. With every slot taken, the operation started longest
// ago gives way, and only its session is told there is none.
TEST_F(CryptoMw, SessionsKeepTheirOwnOperations) {
  Bytes k1 = fill(16, 0x61), k2 = fill(32, 0x62), a = fill(16, 0x63), out(16);
  ASSERT_EQ(FWC_AesInit_mw(11, kEcb, kEnc, 0, nullptr, 0, k1.data(), 16), 0u);
  ASSERT_EQ(FWC_AesInit_mw(12, kEcb, kDec, 0, nullptr, 0, k2.data(), 32), 0u);
  uint32_t n = 16;
  expect(cry::AesCrypt, aes_request(11, kEcb, kEnc, 0, {}, k1, a), arr(fill(16, 1)));
  ASSERT_EQ(FWC_AesFinal_mw(11, a.data(), 16, out.data(), &n), 0u);
  EXPECT_EQ(out, fill(16, 1));
  n = 16;
  expect(cry::AesCrypt, aes_request(12, kEcb, kDec, 0, {}, k2, a), arr(fill(16, 2)));
  ASSERT_EQ(FWC_AesFinal_mw(12, a.data(), 16, out.data(), &n), 0u);
  EXPECT_EQ(out, fill(16, 2));

  constexpr uint32_t kFirst = 100, kMany = 65;  // one more than there are slots
  for (uint32_t h = kFirst; h < kFirst + kMany; ++h) {
    ASSERT_EQ(FWC_AesInit_mw(h, kEcb, kEnc, 0, nullptr, 0, k1.data(), 16), 0u) << h;
  }
  n = 16;
  EXPECT_EQ(FWC_AesUpdate_mw(kFirst, a.data(), 16, out.data(), &n), 0x91u);
  expect(cry::AesCrypt, aes_request(kFirst + 1, kEcb, kEnc, kPadNone, {}, k1, a), arr(fill(16, 3)));
  EXPECT_EQ(FWC_AesUpdate_mw(kFirst + 1, a.data(), 16, out.data(), &n), 0u);
  // A refused Init empties its session's slot: leave none running.
  for (uint32_t h = kFirst; h < kFirst + kMany; ++h) (void)FWC_AesInit_mw(h, 16, kEnc, 0, nullptr, 0, nullptr, 0);
}

// Refusals come back as codes before anything is sent, and a refused step
// leaves the operation running.
TEST_F(CryptoMw, StepRefusalsAreReturned) {
  Bytes iv(17, 1), key(65, 2), data(64, 3), out(64);
  EXPECT_EQ(quietly([&] { return FWC_AesInit_mw(4, kEcb, kEnc, 0, iv.data(), 17, key.data(), 32); }), 0x07u);
  EXPECT_EQ(quietly([&] { return FWC_AesInit_mw(4, kEcb, kEnc, 0, iv.data(), 16, key.data(), 65); }), 0x07u);
  // A mode whose chaining the host does not know (CFB-1).
  EXPECT_EQ(FWC_AesInit_mw(4, 16, kEnc, 0, iv.data(), 16, key.data(), 32), 0x70u);
  // Nothing stays armed after a refused Init.
  uint32_t n = 64;
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 16, out.data(), &n), 0x91u);

  ASSERT_EQ(FWC_AesInit_mw(4, kEcb, kEnc, 0, nullptr, 0, key.data(), 32), 0u);
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 20, out.data(), &n), 0x21u);  // not whole blocks
  n = 31;
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 32, out.data(), &n), 0x150u);
  EXPECT_EQ(n, 31u);
  n = 15;
  EXPECT_EQ(FWC_AesFinal_mw(4, data.data(), 16, out.data(), &n), 0x150u);
  n = 64;
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 16, nullptr, &n), 0x07u);
  EXPECT_EQ(sent(), 0u);
  // Still running.
  expect(cry::AesCrypt, aes_request(4, kEcb, kEnc, 0, {}, Bytes(32, 2), slice(data, 0, 16)), arr(fill(16, 9)));
  n = 16;
  EXPECT_EQ(FWC_AesFinal_mw(4, data.data(), 16, out.data(), &n), 0u);
}

// A failed command, or a piece answered with a length other than its own,
// ends the operation.
TEST_F(CryptoMw, FailedCommandEndsTheOperation) {
  Bytes key = fill(16, 1), data = fill(32, 0xF0), out(32);
  uint32_t n = 32;
  ASSERT_EQ(FWC_AesInit_mw(4, kEcb, kEnc, 0, nullptr, 0, key.data(), 16), 0u);
  expect_code(cry::AesCrypt, aes_request(4, kEcb, kEnc, kPadNone, {}, key, data), 0x6A);
  EXPECT_EQ(quietly([&] { return FWC_AesUpdate_mw(4, data.data(), 32, out.data(), &n); }), 0x6Au);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 32, out.data(), &n), 0x91u);

  ASSERT_EQ(FWC_AesInit_mw(4, kEcb, kEnc, 0, nullptr, 0, key.data(), 16), 0u);
  expect(cry::AesCrypt, aes_request(4, kEcb, kEnc, kPadNone, {}, key, data), arr(fill(16, 0)));
  EXPECT_EQ(FWC_AesUpdate_mw(4, data.data(), 32, out.data(), &n), 0x05u);
  EXPECT_EQ(FWC_AesFinal_mw(4, nullptr, 0, out.data(), &n), 0x91u);

  ASSERT_EQ(FWC_AesInit_mw(4, kEcb, kEnc, 0, nullptr, 0, key.data(), 16), 0u);
  expect_code(cry::AesCrypt, aes_request(4, kEcb, kEnc, 0, {}, key, data), 0x6A);
  EXPECT_EQ(quietly([&] { return FWC_AesFinal_mw(4, data.data(), 32, out.data(), &n); }), 0x6Au);
  EXPECT_EQ(FWC_AesFinal_mw(4, nullptr, 0, out.data(), &n), 0x91u);
}

// A GCM step longer than a request goes in pieces through the update
// command; the final command gets the rest.
TEST_F(CryptoMw, LongGcmStepsGoInPieces) {
  Bytes data = counting(4100, 3), out(4200);
  expect(cry::AesGcmEncryptUpdate, cat({le32(6), arr(slice(data, 0, 4032))}), arr(fill(4032, 1)));
  expect(cry::AesGcmEncryptUpdate, cat({le32(6), arr(slice(data, 4032, 68))}), arr(fill(68, 2)));
  uint32_t n = 4100;
  ASSERT_EQ(FWC_AesGcmEncryptUpdate_mw(6, data.data(), 4100, out.data(), &n), 0u);
  EXPECT_EQ(n, 4100u);
  EXPECT_EQ(slice(out, 0, 4100), cat({fill(4032, 1), fill(68, 2)}));

  // 4100 - 4032 = 68 left: 80 (whole blocks) go ahead, 4020 with the final.
  expect(cry::AesGcmEncryptUpdate, cat({le32(6), arr(slice(data, 0, 80))}), arr(fill(80, 3)));
  expect(cry::AesGcmEncryptFinal, cat({le32(6), {16}, arr(slice(data, 80, 4020))}), arr(fill(4036, 4)));
  n = 4200;
  ASSERT_EQ(FWC_AesGcmEncryptFinal_mw(6, 16, data.data(), 4100, out.data(), &n), 0u);
  EXPECT_EQ(n, 4116u);
}

TEST_F(CryptoMw, TablesAreFilled) {
  EXPECT_EQ(FWC_AESFunc.func_type, FWC_FUNCTIONS);
  EXPECT_EQ(FWC_AESFunc.C_AesFinal, &FWC_AesFinal_mw);
  EXPECT_EQ(FWC_RSAFunc.C_RSAGenerateKeyPair, &FWC_RSAGenerateKeyPair_mw);
  EXPECT_EQ(FWC_KeyBlobFunc.C_KeyDecrypt, &FWC_Key_Decrypt_mw);
  EXPECT_EQ(FWC_ECCFunc.C_ECDH, &FWC_ECDH_mw);
}

}  // namespace
