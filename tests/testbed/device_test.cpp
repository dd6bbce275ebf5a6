// Class 0x86 on the simulator, in process: HSM and token administration,
// logins with failure counting and locking, PIN changes, sessions.
#include <cstring>

#include "fixture.h"

namespace sst {
namespace {

namespace d = cmd::dev;

TEST_F(Sim, HsmInformationIsTheTestBedsAndPersists) {
  auto info = l().ok(d::GetHsmInfo, {u32(cmd::SE_HSM_HANDLE)})[0];
  ASSERT_EQ(info.size(), 76u);
  EXPECT_EQ(info[0], 8u);  // HsmType: test bed
  EXPECT_EQ(info[1], 3u);  // initialised
  EXPECT_EQ(std::string(info.begin() + 4, info.begin() + 20), kSn);
  // The HSM is addressed by its one handle only.
  EXPECT_EQ(l().code(d::GetHsmInfo, {u32(1)}), 0xB3u);
  reopen();
  info = l().ok(d::GetHsmInfo, {u32(cmd::SE_HSM_HANDLE)})[0];
  EXPECT_EQ(std::string(info.begin() + 4, info.begin() + 20), kSn);
}

TEST_F(Sim, AdministratorLoginCountsFailuresAndLocks) {
  const uint32_t h = host().hsm_session();
  auto policy = [&] { return l().ok(d::GetHsmPolicy, {u32(h)})[0]; };
  EXPECT_EQ(policy()[0], 0u);
  const uint32_t wrong = l().code(d::LoginHsmByPin, {u32(h), sha256("wrong")});
  EXPECT_NE(wrong, 0u);
  EXPECT_EQ(policy()[0], 1u);
  // The right PIN resets the count.
  EXPECT_EQ(l().code(d::LoginHsmByPin, {u32(h), sha256(kAdminPin)}), 0u);
  EXPECT_EQ(policy()[0], 0u);
  EXPECT_EQ(l().code(d::LogoutHsm, {u32(h)}), 0u);
  const uint8_t max = policy()[1];
  ASSERT_GT(max, 0u);
  for (int i = 0; i < max; ++i) l().code(d::LoginHsmByPin, {u32(h), sha256("wrong")});
  // Locked: even the right PIN is refused, also after a restart.
  EXPECT_EQ(l().code(d::LoginHsmByPin, {u32(h), sha256(kAdminPin)}), 0xA4u);
  reopen();
  const uint32_t h2 = host().hsm_session();
  EXPECT_EQ(l().code(d::LoginHsmByPin, {u32(h2), sha256(kAdminPin)}), 0xA4u);
}

TEST_F(Sim, TokensAreCreatedListedAndDeleted) {
  const Bytes id = host().token(kAdminPin, kSoPin);
  auto list = l().ok(d::ListTokens, {u32(cmd::SE_HSM_HANDLE)})[0];
  ASSERT_EQ(list.size(), 260u);
  EXPECT_EQ(list[256], 1u);  // TknNum
  EXPECT_EQ(Bytes(list.begin(), list.begin() + 16), id);
  auto info = l().ok(d::GetTokenInfo, {u32(cmd::SE_HSM_HANDLE), id})[0];
  EXPECT_EQ(Bytes(info.begin() + 20, info.begin() + 36), id);
  // Creating needs the administrator.
  const uint32_t h = host().hsm_session();
  EXPECT_EQ(l().code(d::CreateTokenByPin, {u32(h), sha256("x")}), 0x101u);
  const uint32_t a = host().admin(kAdminPin);
  EXPECT_EQ(l().code(d::DeleteToken, {u32(a), id}), 0u);
  list = l().ok(d::ListTokens, {u32(cmd::SE_HSM_HANDLE)})[0];
  EXPECT_EQ(list[256], 0u);
  EXPECT_NE(l().code(d::GetTokenInfo, {u32(cmd::SE_HSM_HANDLE), id}), 0u);
}

TEST_F(Sim, UserLoginCountsLocksAndIsUnlockedBySuperUser) {
  const Bytes id = host().token(kAdminPin, kSoPin);
  const uint32_t s = host().user(id, kSoPin, kUserPin);
  EXPECT_EQ(l().code(d::LogoutToken, {u32(s)}), 0u);
  auto fails = [&] { return l().ok(d::GetTokenInfo, {u32(cmd::SE_HSM_HANDLE), id})[0]; };
  const uint8_t max = fails()[71];
  ASSERT_GT(max, 0u);
  EXPECT_NE(l().code(d::LoginTokenByPin, {u32(s), sha256("wrong")}), 0u);
  EXPECT_EQ(fails()[70], 1u);
  for (int i = 1; i < max; ++i) l().code(d::LoginTokenByPin, {u32(s), sha256("wrong")});
  EXPECT_EQ(l().code(d::LoginTokenByPin, {u32(s), sha256(kUserPin)}), 0xA4u);
  EXPECT_EQ(l().ok(d::GetTokenStatus, {u32(cmd::SE_HSM_HANDLE), id})[0][0], 4u);  // normal user locked
  // The super user unlocks; the user's PIN works again.
  EXPECT_EQ(l().code(d::LoginTokenSuperUserByPin, {u32(s), sha256(kSoPin)}), 0u);
  EXPECT_EQ(l().code(d::UnlockToken, {u32(s), id}), 0u);
  EXPECT_EQ(l().code(d::LogoutTokenSuperUser, {u32(s)}), 0u);
  EXPECT_EQ(l().code(d::LoginTokenByPin, {u32(s), sha256(kUserPin)}), 0u);
}

TEST_F(Sim, PinChangesTakeTheNewDigestOnly) {
  const Bytes id = host().token(kAdminPin, kSoPin);
  const uint32_t s = host().user(id, kSoPin, kUserPin);
  EXPECT_EQ(l().code(d::SetTokenPin, {u32(s), sha256("new-user-pin")}), 0u);
  EXPECT_EQ(l().code(d::LogoutToken, {u32(s)}), 0u);
  EXPECT_NE(l().code(d::LoginTokenByPin, {u32(s), sha256(kUserPin)}), 0u);
  EXPECT_EQ(l().code(d::LoginTokenByPin, {u32(s), sha256("new-user-pin")}), 0u);
  // Administrator PIN.
  const uint32_t a = host().admin(kAdminPin);
  EXPECT_EQ(l().code(d::SetHsmPin, {u32(a), sha256("new-admin")}), 0u);
  reopen();
  const uint32_t h = host().hsm_session();
  EXPECT_NE(l().code(d::LoginHsmByPin, {u32(h), sha256(kAdminPin)}), 0u);
  EXPECT_EQ(l().code(d::LoginHsmByPin, {u32(h), sha256("new-admin")}), 0u);
}

TEST_F(Sim, SessionsCarryTheirLoginState) {
  const Bytes id = host().token(kAdminPin, kSoPin);
  const uint32_t s = host().user(id, kSoPin, kUserPin);
  EXPECT_NE(s, 0u);
  EXPECT_NE(s, 0xFFFFFFFFu);
  auto info = l().ok(d::GetTokenSessionInfo, {u32(s)})[0];
  ASSERT_EQ(info.size(), 100u);
  EXPECT_EQ(info[0], 8u);  // token user
  EXPECT_EQ(Bytes(info.begin() + 52, info.begin() + 68), id);
  EXPECT_EQ(l().code(d::CloseTokenSession, {u32(s)}), 0u);
  // The software device's answer for a session it does not know.
  EXPECT_EQ(l().code(d::GetTokenSessionInfo, {u32(s)}), 6u);
  EXPECT_EQ(l().code(d::CloseTokenSession, {u32(s)}), 6u);
  // The crypto class follows the session: closed, it is unknown there too.
  EXPECT_EQ(l().code(cmd::cry::GetMK, {u32(s)}), 0xB3u);
}

TEST_F(Sim, DefaultTokenPinsAreTheSerialNumbersDigests) {
  const uint32_t a = host().admin(kAdminPin);
  auto r = l().ok(d::CreateToken, {u32(a)});
  ASSERT_EQ(r.size(), 2u);
  const Bytes id = r[0];
  const std::string tsn(r[1].begin(), r[1].end());
  const uint32_t s = host().open(id);
  // The software device's defaults: user PIN the token's serial number,
  // super-user PIN the HSM's, both sent as digests like any PIN.
  EXPECT_EQ(l().code(d::LoginTokenByPin, {u32(s), sha256(tsn)}), 0u);
  EXPECT_EQ(l().code(d::LogoutToken, {u32(s)}), 0u);
  EXPECT_EQ(l().code(d::LoginTokenSuperUserByPin, {u32(s), sha256(kSn)}), 0u);
}

TEST_F(Sim, MalformedRequestsAreRefusedWithACode) {
  const std::vector<Bytes> cases = {
      {},                                            // shorter than a header
      {0x86, 0x03, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0},    // count says 4, 2 bytes follow
      {0x86, 0x03, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0},    // a handle of 2 bytes
      {0x86, 0x03, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 9},  // a byte too many
      {0x86, 0x22, 0, 0, 0, 0, 0, 0, 7, 0, 1, 0, 0, 0, 1, 0, 0},  // a PIN digest of 1 byte
      {0x86, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0},          // unknown instruction
      {0x42, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},          // unknown class
  };
  for (const Bytes& c : cases) {
    const Bytes r = l().exchange(c);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[6], 0x66);
    EXPECT_EQ(r[7], 0xDD);
    EXPECT_NE(le32(Bytes(r.begin() + 2, r.begin() + 6)), 0u);
  }
}

TEST_F(Sim, AnyInputGetsAReply) {
  // Every row with truncated and random data: a reply, never a crash.
  uint32_t x = 12345;
  for (const cmd::Command* c : cmd::kAll) {
    for (size_t n = 0; n < 60; n += 7) {
      Bytes raw = {c->cla, c->ins, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(n), 0};
      for (size_t i = 0; i < n; ++i) raw.push_back(static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16));
      const Bytes r = l().exchange(raw);
      ASSERT_GE(r.size(), 4u) << c->name;
    }
  }
  // Well-formed requests of every row, arrays of odd sizes, handles of live
  // and dead sessions.
  const Bytes id = host().token(kAdminPin, kSoPin);
  const uint32_t live = host().user(id, kSoPin, kUserPin);
  for (const cmd::Command* c : cmd::kAll) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{100}, size_t{3000}}) {
      for (uint32_t h : {live, 0x5A5A5A5Au}) {
        std::vector<Bytes> fields;
        for (const cmd::Field& f : c->request) {
          if (f.kind == cmd::Kind::array) {
            fields.push_back(Bytes(f.width != 0 ? f.width : n, static_cast<uint8_t>(n)));
          } else if (f.width == 4 && fields.empty()) {
            fields.push_back(u32(h));
          } else {
            fields.push_back(Bytes(f.width, static_cast<uint8_t>(n + 1)));
          }
        }
        const Bytes r = l().exchange(raw(*c, fields));
        ASSERT_GE(r.size(), 4u) << c->name;
      }
    }
  }
}

}  // namespace
}  // namespace sst
