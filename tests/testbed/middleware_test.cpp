// The host middleware (device, store and crypto classes) against the
// simulated device both ways: in process, the record's transport calling the
// simulator's dispatch (fast), and over TCP to the test bed (the real road).
// Crypto results are checked against OpenSSL.
#define OPENSSL_SUPPRESS_DEPRECATED  // support/openssl_ec.h names the point through EC_KEY
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <vector>

#include "se/channel.h"
#include "support/openssl_ec.h"
#include "se/commands.h"
#include "se/middleware.h"
#include "se_sim/simulator.h"
#include "sim_transport.h"
#include "support/testbed.h"
#include "support/workdir.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kSn = "MW00000000000003";
constexpr const char* kAdmin = "mw-admin";
constexpr const char* kSo = "mw-so-pin";
constexpr const char* kUser = "mw-user-pin";
constexpr uint32_t kLocked = 0xA4;  // a locked user's login
uint8_t* u8p(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
uint32_t len(const char* s) { return static_cast<uint32_t>(std::strlen(s)); }

enum class Road { kInProcess, kTestbed };

class Middleware : public ::testing::TestWithParam<Road> {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<zt::WorkDir>();
    gl_device = se_device_t{};
    if (GetParam() == Road::kInProcess) {
      se::sim::Setup setup;
      ASSERT_EQ(se::sim::Simulator::open(dir_->path() + "/state", kSn, kAdmin, &sim_, &setup), 0u);
      ASSERT_EQ(trix::attach(&gl_device, std::make_unique<sst::SimTransport>(*sim_)), 0);
    } else {
      tb_ = std::make_unique<zt::Testbed>(SE_TESTBED_PATH, dir_->path() + "/state", 0,
                                          std::vector<std::string>{"--sn", kSn, "--admin-pin", kAdmin});
      ASSERT_EQ(zeb_console_client_open(&gl_device, "127.0.0.1", tb_->port()), 0);
    }
  }
  void TearDown() override {
    (void)trix::detach(&gl_device);
    std::memset(&gl_device, 0, sizeof gl_device);
    sim_.reset();
    tb_.reset();
    dir_.reset();
  }

  // An HSM session with the administrator logged in.
  ZEB_DEVICE_HANDLE admin() {
    ZEB_DEVICE_HANDLE a = 0;
    EXPECT_EQ(FWD_OpenHsmSession_mw(cmd_hsm(), &a), 0u);
    EXPECT_EQ(FWD_LoginHsmByPin_mw(a, u8p(kAdmin), len(kAdmin)), 0u);
    return a;
  }
  // A new token (SO PIN kSo, user PIN kUser); its ID.
  Bytes token() {
    const ZEB_DEVICE_HANDLE a = admin();
    Bytes id(16);
    EXPECT_EQ(FWD_CreateTokenByPin_mw(a, u8p(kSo), len(kSo), id.data()), 0u);
    const ZEB_DEVICE_HANDLE s = open(id);
    EXPECT_EQ(FWD_LoginTokenSuperUserByPin_mw(s, u8p(kSo), len(kSo)), 0u);
    EXPECT_EQ(FWD_SetTokenPin_mw(s, u8p(kUser), len(kUser)), 0u);
    EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
    EXPECT_EQ(FWD_CloseHsmSession_mw(a), 0u);
    return id;
  }
  ZEB_DEVICE_HANDLE open(Bytes& id) {
    ZEB_DEVICE_HANDLE s = 0;
    EXPECT_EQ(FWD_OpenTokenSession_mw(cmd_hsm(), id.data(), &s), 0u);
    return s;
  }
  // A token session with its user logged in.
  ZEB_DEVICE_HANDLE user(Bytes& id) {
    const ZEB_DEVICE_HANDLE s = open(id);
    EXPECT_EQ(FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)), 0u);
    return s;
  }
  static ZEB_DEVICE_HANDLE cmd_hsm() { return se::cmd::SE_HSM_HANDLE; }

  std::unique_ptr<zt::WorkDir> dir_;
  std::unique_ptr<se::sim::Simulator> sim_;
  std::unique_ptr<zt::Testbed> tb_;
};

// Runs f with standard output captured: refusals print a failure line.
template <class F>
auto quietly(F f) {
  testing::internal::CaptureStderr();
  auto rv = f();
  (void)testing::internal::GetCapturedStderr();
  return rv;
}

TEST_P(Middleware, TokenLifeAndObjectsThroughTheMiddleware) {
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(FWD_GetHsmInfo_mw(0, &info), 0u);
  EXPECT_EQ(info.HsmType, 8u);
  EXPECT_EQ(std::memcmp(info.HsmSn, kSn, 16), 0);

  ZEB_DEVICE_HANDLE a = 0, s = 0;
  ASSERT_EQ(FWD_OpenHsmSession_mw(0, &a), 0u);
  EXPECT_NE(FWD_LoginHsmByPin_mw(a, u8p("wrong"), 5), 0u);
  ASSERT_EQ(FWD_LoginHsmByPin_mw(a, u8p(kAdmin), len(kAdmin)), 0u);
  uint8_t id[16] = {};
  ASSERT_EQ(FWD_CreateTokenByPin_mw(a, u8p(kSo), len(kSo), id), 0u);
  ASSERT_EQ(FWD_OpenTokenSession_mw(0, id, &s), 0u);
  ASSERT_EQ(FWD_LoginTokenSuperUserByPin_mw(s, u8p(kSo), len(kSo)), 0u);
  ASSERT_EQ(FWD_SetTokenPin_mw(s, u8p(kUser), len(kUser)), 0u);
  ASSERT_EQ(FWD_LogoutTokenSuperUser_mw(s), 0u);
  ASSERT_EQ(FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)), 0u);

  // The session key from the device wraps blobs the device reads.
  uint8_t key[32] = {};
  uint32_t n = 0;
  ASSERT_EQ(FWD_GenSwKey_mw(s, key, &n), 0u);
  EXPECT_EQ(n, 32u);

  PERSISTENCY_INPUT in{};
  in.hSession = s;
  std::memcpy(in.HsmSn, kSn, 16);
  std::memcpy(in.TknId, id, 16);
  ASSERT_EQ(FWSto_CreateTokenStorage_mw(&in), 0u);
  std::vector<uint8_t> obj(2000);
  for (size_t i = 0; i < obj.size(); ++i) obj[i] = static_cast<uint8_t>(i * 13);
  STO_SEOBJ entry{};
  entry.u32DataLen = static_cast<uint32_t>(obj.size() - 128);
  uint32_t index = 0;
  ASSERT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), static_cast<uint32_t>(obj.size()), &entry), 0u);
  EXPECT_EQ(index, 1u);  // device slot 0
  std::vector<uint8_t> back(4096);
  uint32_t back_len = static_cast<uint32_t>(back.size());
  ASSERT_EQ(FWSto_GetObject_mw(&in, index, back.data(), &back_len), 0u);
  back.resize(back_len);
  EXPECT_EQ(back, obj);
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  std::memset(list.get(), 0, sizeof *list);
  ASSERT_EQ(FWSto_LoadObjectList_mw(&in, list.get()), 0u);
  EXPECT_EQ(list->ObjNum, 1u);
  EXPECT_EQ(list->seobj_array[0].ObjIndex, 1u);
  ASSERT_EQ(FWSto_DeleteObject_mw(&in, index), 0u);
  EXPECT_NE(FWSto_GetObjectSize_mw(&in, index, &n), 0u);
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
}

TEST_P(Middleware, HsmAndTokenAdministration) {
  const ZEB_DEVICE_HANDLE a = admin();
  ASSERT_EQ(FWD_SetHsmLabel_mw(a, u8p("renamed"), 7), 0u);
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(FWD_GetHsmInfo_mw(cmd_hsm(), &info), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.HsmLabel), 7), "renamed");
  EXPECT_EQ(info.u32TokenCount, 0u);
  ZEB_DEVICE_HSM_POLICY policy{};
  ASSERT_EQ(FWD_GetHsmPolicy_mw(a, &policy), 0u);
  EXPECT_GT(policy.MaxLoginFailCount, 0);

  Bytes first = token(), second = token();
  ZEB_DEVICE_TKN_USER_LIST list{};
  ASSERT_EQ(FWD_ListTokens_mw(cmd_hsm(), &list), 0u);
  ASSERT_EQ(list.TknNum, 2);
  EXPECT_EQ(Bytes(list.TknId[0], list.TknId[0] + 16), first);
  EXPECT_EQ(Bytes(list.TknId[1], list.TknId[1] + 16), second);
  ZEB_DEVICE_TOKEN_INFO ti{};
  ASSERT_EQ(FWD_GetTokenInfo_mw(cmd_hsm(), second.data(), &ti), 0u);
  EXPECT_EQ(Bytes(ti.TknId, ti.TknId + 16), second);
  EXPECT_EQ(ti.NormalUserLoginFailCount, 0);

  ASSERT_EQ(FWD_DeleteToken_mw(a, second.data()), 0u);
  ASSERT_EQ(FWD_ListTokens_mw(cmd_hsm(), &list), 0u);
  EXPECT_EQ(list.TknNum, 1);
  EXPECT_NE(quietly([&] { return FWD_GetTokenInfo_mw(cmd_hsm(), second.data(), &ti); }), 0u);
  // Without the administrator no token is made.
  ZEB_DEVICE_HANDLE idle = 0;
  ASSERT_EQ(FWD_OpenHsmSession_mw(cmd_hsm(), &idle), 0u);
  Bytes id(16);
  EXPECT_NE(quietly([&] { return FWD_CreateTokenByPin_mw(idle, u8p(kSo), len(kSo), id.data()); }), 0u);
  EXPECT_EQ(FWD_CloseHsmSession_mw(idle), 0u);
  EXPECT_EQ(FWD_CloseHsmSession_mw(a), 0u);
}

// Wrong user PINs are counted up to the token's limit, which locks the user
// (the right PIN then fails too) until the administrator unlocks it; a good
// login resets the count.
TEST_P(Middleware, LoginFailuresCountAndLockUntilUnlocked) {
  Bytes id = token();
  ZEB_DEVICE_HANDLE s = open(id);
  ZEB_DEVICE_TOKEN_INFO ti{};
  ASSERT_EQ(FWD_GetTokenInfo_mw(cmd_hsm(), id.data(), &ti), 0u);
  const int limit = ti.MaxNormalUserLoginFailCount;
  ASSERT_GT(limit, 1);
  EXPECT_NE(quietly([&] { return FWD_LoginTokenByPin_mw(s, u8p("wrong"), 5); }), 0u);
  ASSERT_EQ(FWD_GetTokenInfo_mw(cmd_hsm(), id.data(), &ti), 0u);
  EXPECT_EQ(ti.NormalUserLoginFailCount, 1);
  ASSERT_EQ(FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)), 0u);
  ASSERT_EQ(FWD_LogoutToken_mw(s), 0u);
  ASSERT_EQ(FWD_GetTokenInfo_mw(cmd_hsm(), id.data(), &ti), 0u);
  EXPECT_EQ(ti.NormalUserLoginFailCount, 0);

  for (int i = 0; i < limit; ++i) EXPECT_NE(quietly([&] { return FWD_LoginTokenByPin_mw(s, u8p("wrong"), 5); }), 0u);
  EXPECT_EQ(quietly([&] { return FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)); }), kLocked);
  const ZEB_DEVICE_HANDLE a = admin();
  ASSERT_EQ(FWD_UnlockToken_mw(a, id.data()), 0u);
  EXPECT_EQ(FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)), 0u);
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
  EXPECT_EQ(FWD_CloseHsmSession_mw(a), 0u);
}

TEST_P(Middleware, PinChangesTakeEffect) {
  Bytes id = token();
  ZEB_DEVICE_HANDLE s = user(id);
  ASSERT_EQ(FWD_SetTokenPin_mw(s, u8p("new-user-pin"), 12), 0u);
  ASSERT_EQ(FWD_LogoutToken_mw(s), 0u);
  EXPECT_NE(quietly([&] { return FWD_LoginTokenByPin_mw(s, u8p(kUser), len(kUser)); }), 0u);
  ASSERT_EQ(FWD_LoginTokenByPin_mw(s, u8p("new-user-pin"), 12), 0u);
  ASSERT_EQ(FWD_LogoutToken_mw(s), 0u);
  ASSERT_EQ(FWD_LoginTokenSuperUserByPin_mw(s, u8p(kSo), len(kSo)), 0u);
  ASSERT_EQ(FWD_SetTokenSuperUserPin_mw(s, u8p("new-so-pin"), 10), 0u);
  ASSERT_EQ(FWD_LogoutTokenSuperUser_mw(s), 0u);
  EXPECT_NE(quietly([&] { return FWD_LoginTokenSuperUserByPin_mw(s, u8p(kSo), len(kSo)); }), 0u);
  EXPECT_EQ(FWD_LoginTokenSuperUserByPin_mw(s, u8p("new-so-pin"), 10), 0u);
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);

  ZEB_DEVICE_HANDLE a = admin();
  ASSERT_EQ(FWD_SetHsmPin_mw(a, u8p("new-admin"), 9), 0u);
  EXPECT_EQ(FWD_CloseHsmSession_mw(a), 0u);
  ASSERT_EQ(FWD_OpenHsmSession_mw(cmd_hsm(), &a), 0u);
  EXPECT_NE(quietly([&] { return FWD_LoginHsmByPin_mw(a, u8p(kAdmin), len(kAdmin)); }), 0u);
  EXPECT_EQ(FWD_LoginHsmByPin_mw(a, u8p("new-admin"), 9), 0u);
  EXPECT_EQ(FWD_CloseHsmSession_mw(a), 0u);
}

TEST_P(Middleware, SessionsCarryTheirStateAndEndAtClose) {
  Bytes id = token();
  ZEB_DEVICE_HANDLE s = open(id), u = user(id);
  EXPECT_NE(s, u);
  ZEB_DEVICE_TOKEN_SESSION_INFO si{};
  ASSERT_EQ(FWD_GetTokenSessionInfo_mw(u, &si), 0u);
  EXPECT_EQ(Bytes(si.TknId, si.TknId + 16), id);
  ZEB_DEVICE_TOKEN_SESSION_INFO idle{};
  ASSERT_EQ(FWD_GetTokenSessionInfo_mw(s, &idle), 0u);
  EXPECT_NE(idle.SessStatus, si.SessStatus);  // one logged in, one not
  ASSERT_EQ(FWD_CloseTokenSession_mw(s), 0u);
  EXPECT_NE(quietly([&] { return FWD_GetTokenSessionInfo_mw(s, &idle); }), 0u);
  EXPECT_NE(quietly([&] { return FWD_CloseTokenSession_mw(s); }), 0u);
  EXPECT_EQ(FWD_CloseTokenSession_mw(u), 0u);
}

// A key under the session key goes to the token key and back unchanged; the
// session's own key is 32 bytes, the same through the login and another in
// another login.
TEST_P(Middleware, KeyTransferRoundTrips) {
  Bytes id = token();
  ZEB_DEVICE_HANDLE s = user(id), other = user(id);
  Bytes k1(64), k2(64), k3(64);
  uint32_t n1 = 64, n2 = 64, n3 = 64;
  ASSERT_EQ(FWD_GenSwKey_mw(s, k1.data(), &n1), 0u);
  ASSERT_EQ(FWD_GenSwKey_mw(s, k2.data(), &n2), 0u);
  ASSERT_EQ(FWD_GenSwKey_mw(other, k3.data(), &n3), 0u);
  ASSERT_EQ(n1, 32u);
  EXPECT_EQ(k1, k2);
  EXPECT_NE(k1, k3);
  EXPECT_EQ(FWD_CloseTokenSession_mw(other), 0u);
  k1.resize(n1);
  Bytes tkn(128), back(128);
  uint32_t tn = 128, bn = 128;
  ASSERT_EQ(FWD_SetSwKey2Tkn_mw(s, k1.data(), n1, tkn.data(), &tn), 0u);
  tkn.resize(tn);
  EXPECT_NE(tkn, k1);
  ASSERT_EQ(FWD_SetTknKey2Sw_mw(s, tkn.data(), tn, back.data(), &bn), 0u);
  back.resize(bn);
  EXPECT_EQ(back, k1);
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
}

// Objects of every part count, the exact part boundaries among them, are
// written and read back byte for byte, and deleted.
TEST_P(Middleware, ObjectsWrittenAndReadInParts) {
  Bytes id = token();
  ZEB_DEVICE_HANDLE s = user(id);
  PERSISTENCY_INPUT in{};
  in.hSession = s;
  std::memcpy(in.HsmSn, kSn, 16);
  std::memcpy(in.TknId, id.data(), 16);
  ASSERT_EQ(FWSto_CreateTokenStorage_mw(&in), 0u);
  for (size_t size : {size_t{129}, size_t{767}, size_t{768}, size_t{769}, size_t{1536}, size_t{3000}}) {
    SCOPED_TRACE(size);
    Bytes obj(size);
    for (size_t i = 0; i < size; ++i) obj[i] = static_cast<uint8_t>(i * 7 + size);
    STO_SEOBJ entry{};
    entry.u32DataLen = static_cast<uint32_t>(size - 128);
    uint32_t index = 0;
    ASSERT_EQ(FWSto_CreateObject_mw(&in, &index, obj.data(), static_cast<uint32_t>(size), &entry), 0u);
    uint32_t got = 0;
    ASSERT_EQ(FWSto_GetObjectSize_mw(&in, index, &got), 0u);
    EXPECT_EQ(got, size);
    Bytes back(size);
    uint32_t n = static_cast<uint32_t>(size - 1);  // one byte short: the size comes back
    EXPECT_EQ(quietly([&] { return FWSto_GetObject_mw(&in, index, back.data(), &n); }), 0x150u);
    EXPECT_EQ(n, size);
    ASSERT_EQ(FWSto_GetObject_mw(&in, index, back.data(), &n), 0u);
    EXPECT_EQ(back, obj);
    ASSERT_EQ(FWSto_DeleteObject_mw(&in, index), 0u);
    EXPECT_NE(quietly([&] { return FWSto_GetObjectSize_mw(&in, index, &got); }), 0u);
  }
  EXPECT_EQ(FWD_CloseTokenSession_mw(s), 0u);
}

class MiddlewareCrypto : public Middleware {
 protected:
  void SetUp() override {
    Middleware::SetUp();
    if (HasFatalFailure()) return;
    id_ = token();
    s_ = user(id_);
  }
  Bytes id_;
  ZEB_DEVICE_HANDLE s_ = 0;
};

TEST_P(MiddlewareCrypto, DigestAndHmacEqualOpenSsl) {
  Bytes msg(1000);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i * 13);
  ASSERT_EQ(FWC_DigestInit_mw(s_, se::cmd::SE_HASH_SHA2_256), 0u);
  ASSERT_EQ(FWC_DigestUpdate_mw(s_, msg.data(), 333), 0u);
  ASSERT_EQ(FWC_DigestUpdate_mw(s_, msg.data() + 333, 667), 0u);
  Bytes d(64), want(32);
  uint32_t n = 64;
  ASSERT_EQ(FWC_DigestFinal_mw(s_, d.data(), &n), 0u);
  d.resize(n);
  SHA256(msg.data(), msg.size(), want.data());
  EXPECT_EQ(d, want);

  Bytes kb(128), key(64);
  uint32_t kn = 128, pn = 64;
  ASSERT_EQ(FWC_HmacGenerateKey_mw(s_, kb.data(), &kn), 0u);
  ASSERT_EQ(FWC_Key_Decrypt_mw(s_, kb.data(), kn, key.data(), &pn), 0u);
  ASSERT_EQ(FWC_HmacInit_mw(s_, se::cmd::SE_HASH_SHA2_256, kb.data(), kn), 0u);
  ASSERT_EQ(FWC_HmacUpdate_mw(s_, msg.data(), 500), 0u);
  ASSERT_EQ(FWC_HmacUpdate_mw(s_, msg.data() + 500, 500), 0u);
  Bytes mac(64);
  n = 64;
  ASSERT_EQ(FWC_HmacFinal_mw(s_, mac.data(), &n), 0u);
  mac.resize(n);
  unsigned wn = 32;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(pn), msg.data(), msg.size(), want.data(), &wn);
  EXPECT_EQ(mac, want);
}

TEST_P(MiddlewareCrypto, EcdsaAndEcdhAgreeWithOpenSsl) {
  Bytes priv(256), pub(256), priv2(256), pub2(256);
  uint32_t pl = 256, ql = 256, pl2 = 256, ql2 = 256;
  ASSERT_EQ(FWC_ECGenerateKeyPair_mw(s_, 18, priv.data(), &pl, pub.data(), &ql), 0u);  // P-256
  ASSERT_EQ(ql, 4u + 64u);  // curve id, three zero bytes, x, y
  Bytes digest(32);
  SHA256(reinterpret_cast<const uint8_t*>("message"), 7, digest.data());
  Bytes sig(128);
  uint32_t sl = 128;
  ASSERT_EQ(FWC_ECDSASignSingle_mw(s_, priv.data(), pl, digest.data(), 32, sig.data(), &sl), 0u);
  ASSERT_EQ(sl, 64u);
  EXPECT_TRUE(zt::openssl_ecdsa_verify(NID_X9_62_prime256v1, pub.data() + 4, pub.data() + 36, 32, digest.data(), 32, sig.data()));
  EXPECT_EQ(FWC_ECDSAVerifySingle_mw(s_, pub.data(), ql, digest.data(), 32, sig.data(), 64), 0u);
  sig[5] ^= 1;
  EXPECT_NE(quietly([&] { return FWC_ECDSAVerifySingle_mw(s_, pub.data(), ql, digest.data(), 32, sig.data(), 64); }),
            0u);

  // Both sides of an agreement reach the same secret.
  ASSERT_EQ(FWC_ECGenerateKeyPair_mw(s_, 18, priv2.data(), &pl2, pub2.data(), &ql2), 0u);
  Bytes ab(128), ba(128);
  uint32_t abn = 128, ban = 128;
  ASSERT_EQ(FWC_ECDH_mw(s_, priv.data(), pl, pub2.data(), ql2, ab.data(), &abn), 0u);
  ASSERT_EQ(FWC_ECDH_mw(s_, priv2.data(), pl2, pub.data(), ql, ba.data(), &ban), 0u);
  ab.resize(abn);
  ba.resize(ban);
  EXPECT_EQ(abn, 32u);
  EXPECT_EQ(ab, ba);
}

// An RSA-2048 signature verifies on the device and fails once changed; a
// short signature buffer gets the length needed.
TEST_P(MiddlewareCrypto, RsaSignatureVerifiesAndReportsItsLength) {
  Bytes priv(4096), pub(1024);
  uint32_t pl = 4096, ql = 1024;
  ASSERT_EQ(FWC_RSAGenerateKeyPair_mw(s_, 2048, 65537, priv.data(), &pl, pub.data(), &ql), 0u);
  Bytes digest(32);
  SHA256(reinterpret_cast<const uint8_t*>("message"), 7, digest.data());
  Bytes sig(256);
  uint32_t sl = 255;
  EXPECT_EQ(FWC_RSASign_PKCS1_mw(s_, se::cmd::SE_HASH_SHA2_256, priv.data(), pl, digest.data(), 32, sig.data(), &sl),
            0x150u);
  ASSERT_EQ(sl, 256u);
  ASSERT_EQ(FWC_RSASign_PKCS1_mw(s_, se::cmd::SE_HASH_SHA2_256, priv.data(), pl, digest.data(), 32, sig.data(), &sl),
            0u);
  EXPECT_EQ(FWC_RSAVerify_PKCS1_mw(s_, se::cmd::SE_HASH_SHA2_256, pub.data(), ql, digest.data(), 32, sig.data(), sl),
            0u);
  sig[100] ^= 1;
  EXPECT_NE(quietly([&] {
              return FWC_RSAVerify_PKCS1_mw(s_, se::cmd::SE_HASH_SHA2_256, pub.data(), ql, digest.data(), 32,
                                            sig.data(), sl);
            }),
            0u);
}

std::string road_name(const testing::TestParamInfo<Road>& i) {
  return i.param == Road::kInProcess ? "InProcess" : "Testbed";
}
INSTANTIATE_TEST_SUITE_P(Roads, Middleware, testing::Values(Road::kInProcess, Road::kTestbed), road_name);
INSTANTIATE_TEST_SUITE_P(Roads, MiddlewareCrypto, testing::Values(Road::kInProcess, Road::kTestbed), road_name);

}  // namespace
