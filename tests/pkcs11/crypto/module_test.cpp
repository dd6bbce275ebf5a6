// What every crypto entry point shares: the mechanism list is what the Init
// gates serve, the functions not offered say so, nothing runs before
// C_Initialize, and two sessions work at once from two threads.
#include <thread>

#include "crypto_fixture.h"
#include "keys.h"
#include "ossl_ec.h"

namespace zt {
namespace {

class CryptoModule : public CryptoTest {
 protected:
  std::vector<CK_MECHANISM_TYPE> mechanisms() {
    CK_ULONG n = 0;
    EXPECT_EQ(p11->C_GetMechanismList(0, nullptr, &n), CKR_OK);
    std::vector<CK_MECHANISM_TYPE> list(n);
    EXPECT_EQ(p11->C_GetMechanismList(0, list.data(), &n), CKR_OK);
    return list;
  }
  // The Init entry point a mechanism's flags name answers something other
  // than CKR_MECHANISM_INVALID (here: a key handle that names nothing).
  CK_RV init_by_flags(CK_MECHANISM_TYPE m, CK_FLAGS f) {
    Bytes iv(16);
    CK_MECHANISM mech{m, iv.data(), iv.size()};
    CK_OBJECT_HANDLE h = 0;
    CK_ATTRIBUTE none{CKA_LABEL, nullptr, 0};
    if (f & CKF_ENCRYPT) return p11->C_EncryptInit(s, &mech, 0x7777);
    if (f & CKF_SIGN) return p11->C_SignInit(s, &mech, 0x7777);
    if (f & CKF_DIGEST) {
      const CK_RV rv = p11->C_DigestInit(s, &mech);
      Bytes d(64);
      CK_ULONG len = d.size();
      if (rv == CKR_OK) {
        EXPECT_EQ(p11->C_Digest(s, d.data(), 1, d.data(), &len), CKR_OK);
      }
      return rv;
    }
    if (f & CKF_GENERATE) return p11->C_GenerateKey(s, &mech, &none, 1, &h);
    if (f & CKF_GENERATE_KEY_PAIR) return p11->C_GenerateKeyPair(s, &mech, &none, 1, &none, 1, &h, &h);
    if (f & CKF_DERIVE) return p11->C_DeriveKey(s, &mech, 0x7777, &none, 1, &h);
    return CKR_GENERAL_ERROR;
  }
};

TEST_F(CryptoModule, TheMechanismListIsWhatTheGatesServe) {
  const auto list = mechanisms();
  ASSERT_EQ(list.size(), 24u);
  for (CK_MECHANISM_TYPE m : list) {
    CK_MECHANISM_INFO info{};
    ASSERT_EQ(p11->C_GetMechanismInfo(0, m, &info), CKR_OK);
    EXPECT_NE(init_by_flags(m, info.flags), CKR_MECHANISM_INVALID) << std::hex << m;
  }
  CK_MECHANISM_INFO info{};
  ASSERT_EQ(p11->C_GetMechanismInfo(0, CKM_ECDSA_SHA256, &info), CKR_OK);
  EXPECT_EQ(info.flags & (CKF_SIGN | CKF_VERIFY), CKF_SIGN | CKF_VERIFY);
  EXPECT_EQ(info.ulMinKeySize, 256u);
  EXPECT_EQ(info.ulMaxKeySize, 521u);
  ASSERT_EQ(p11->C_GetMechanismInfo(0, CKM_AES_CBC_PAD, &info), CKR_OK);
  EXPECT_EQ(info.ulMinKeySize, 16u);
  EXPECT_EQ(info.ulMaxKeySize, 32u);
  // Mechanisms not served: every Init refuses them as clients expect when
  // they probe (CKR_MECHANISM_INVALID, never CKR_ARGUMENTS_BAD).
  for (CK_MECHANISM_TYPE m : {CKM_AES_CBC, CKM_AES_GCM, CKM_RSA_PKCS_OAEP, CKM_SHA256_RSA_PKCS, CKM_MD5,
                              CKM_VENDOR_DEFINED, 0x12345678UL}) {
    EXPECT_EQ(p11->C_GetMechanismInfo(0, m, &info), CKR_MECHANISM_INVALID);
    for (CK_FLAGS f : {CKF_ENCRYPT, CKF_SIGN, CKF_DIGEST, CKF_GENERATE, CKF_GENERATE_KEY_PAIR, CKF_DERIVE}) {
      EXPECT_EQ(init_by_flags(m, f), CKR_MECHANISM_INVALID) << std::hex << m << " " << f;
    }
  }
}

TEST_F(CryptoModule, FunctionsNotOfferedSayNotSupportedAndWriteNothing) {
  CK_MECHANISM mech{CKM_ECDSA, nullptr, 0};
  Bytes buf(64, 0xAB);
  CK_ULONG len = 64;
  CK_OBJECT_HANDLE h = 0x55;
  EXPECT_EQ(p11->C_WrapKey(s, &mech, 1, 2, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_UnwrapKey(s, &mech, 1, buf.data(), 16, nullptr, 0, &h), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_SignRecoverInit(s, &mech, 1), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_SignRecover(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_VerifyRecoverInit(s, &mech, 1), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_VerifyRecover(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_DigestKey(s, 1), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_DigestEncryptUpdate(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_DecryptDigestUpdate(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_SignEncryptUpdate(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(p11->C_DecryptVerifyUpdate(s, buf.data(), 4, buf.data(), &len), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(len, 64u);
  EXPECT_EQ(h, 0x55u);
  EXPECT_EQ(buf, Bytes(64, 0xAB));
}

TEST_F(CryptoModule, NothingRunsBeforeInitialisation) {
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  CK_MECHANISM mech{CKM_ECDSA, nullptr, 0};
  Bytes buf(64);
  CK_ULONG len = 64;
  CK_OBJECT_HANDLE h = 0;
  EXPECT_EQ(p11->C_SignInit(s, nullptr, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_Sign(s, buf.data(), 4, nullptr, &len), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_VerifyInit(s, &mech, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_EncryptInit(s, &mech, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_EncryptFinal(s, nullptr, &len), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_Decrypt(s, buf.data(), 4, nullptr, &len), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_DigestInit(s, &mech), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_GenerateKey(s, &mech, nullptr, 0, &h), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_GenerateKeyPair(s, &mech, nullptr, 0, nullptr, 0, &h, &h), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_DeriveKey(s, &mech, 1, nullptr, 0, &h), CKR_CRYPTOKI_NOT_INITIALIZED);
}

// An operation left running when its session closes is gone with it.
TEST_F(CryptoModule, ClosingASessionEndsItsOperation) {
  Keys keys(p11, s);
  const CK_OBJECT_HANDLE k = keys.aes(random_bytes(16), true);
  CK_MECHANISM ecb{CKM_AES_ECB, nullptr, 0};
  ASSERT_EQ(p11->C_EncryptInit(s, &ecb, k), CKR_OK);
  ASSERT_EQ(p11->C_CloseSession(s), CKR_OK);
  s = open();
  ASSERT_EQ(login(s), CKR_OK);
  Bytes block(16);
  CK_ULONG len = 16;
  EXPECT_EQ(p11->C_Encrypt(s, block.data(), 16, block.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_EncryptInit(s, &ecb, k), CKR_OK);
  EXPECT_EQ(p11->C_Encrypt(s, block.data(), 16, block.data(), &len), CKR_OK);
}

TEST_F(CryptoModule, TwoSessionsWorkAtOnceInThreads) {
  const CK_SESSION_HANDLE other = open();
  ASSERT_EQ(login(other), CKR_OK);
  const Bytes oid = unhex("06082a8648ce3d030107");
  auto work = [&](CK_SESSION_HANDLE h, int rounds, std::vector<CK_RV>* failures) {
    Keys keys(p11, h);
    const KeyPair k = keys.ec_pair(oid);
    const CK_OBJECT_HANDLE aes = keys.aes(random_bytes(32));
    const Bytes point = der_content(keys.attribute(k.pub, CKA_EC_POINT));
    auto check = [&](CK_RV rv) {
      if (rv != CKR_OK) failures->push_back(rv);
    };
    for (int i = 0; i < rounds; ++i) {
      Bytes msg = random_bytes(100 + static_cast<size_t>(i));
      CK_MECHANISM sign{CKM_ECDSA_SHA256, nullptr, 0};
      Bytes sig(64);
      CK_ULONG len = 64;
      check(p11->C_SignInit(h, &sign, k.priv));
      check(p11->C_Sign(h, msg.data(), msg.size(), sig.data(), &len));
      if (!ec_verify(NID_X9_62_prime256v1, point, openssl_digest("SHA256", msg), sig, 32)) failures->push_back(0xBAD);
      Bytes iv = random_bytes(16);
      CK_MECHANISM cbc{CKM_AES_CBC_PAD, iv.data(), 16};
      Bytes ct(msg.size() + 16);
      len = ct.size();
      check(p11->C_EncryptInit(h, &cbc, aes));
      check(p11->C_Encrypt(h, msg.data(), msg.size(), ct.data(), &len));
      ct.resize(len);
      Bytes back(ct.size());
      len = back.size();
      check(p11->C_DecryptInit(h, &cbc, aes));
      check(p11->C_Decrypt(h, ct.data(), ct.size(), back.data(), &len));
      back.resize(len);
      if (back != msg) failures->push_back(0xBAD);
      CK_MECHANISM sha{CKM_SHA384, nullptr, 0};
      Bytes d(48);
      len = 48;
      check(p11->C_DigestInit(h, &sha));
      check(p11->C_DigestUpdate(h, msg.data(), 50));
      check(p11->C_DigestUpdate(h, msg.data() + 50, msg.size() - 50));
      check(p11->C_DigestFinal(h, d.data(), &len));
      if (d != openssl_digest("SHA384", msg)) failures->push_back(0xBAD);
    }
  };
  std::vector<CK_RV> fa, fb;
  std::thread a(work, s, 40, &fa);
  std::thread b(work, other, 40, &fb);
  a.join();
  b.join();
  EXPECT_TRUE(fa.empty()) << std::hex << (fa.empty() ? 0 : fa[0]);
  EXPECT_TRUE(fb.empty()) << std::hex << (fb.empty() ? 0 : fb[0]);
}

}  // namespace
}  // namespace zt
