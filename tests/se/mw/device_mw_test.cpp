// Device middleware over a scripted device: exact request bytes of every
// command, replies copied into the caller's records, device codes and status
// words passed on with nothing written, PINs only as their SHA-256 digest.
#include <openssl/sha.h>

#include <functional>

#include "scripted_device.h"
#include "se/middleware.h"

namespace {

using namespace semw;
namespace dev = se::cmd::dev;

constexpr uint32_t kH = 0x01020304;  // a handle: 04 03 02 01 on the wire

Bytes sha256(const Bytes& m) {
  Bytes d(32);
  SHA256(m.data(), m.size(), d.data());
  return d;
}

class DeviceMw : public ScriptedDevice {};

// Commands that carry a handle (and a fixed-width value) and answer a record:
// the reply is copied as it stands, and nothing else is written.
TEST_F(DeviceMw, RecordRepliesAreCopiedAsTheyStand) {
  const Bytes id = fill(16, 0x1D);
  struct Case {
    const se::cmd::Command* c;
    Bytes request;
    Bytes reply;
    std::function<uint32_t(uint8_t*)> run;
  };
  const Case cases[] = {
      {&dev::GetVersion, le32(kH), {1, 2, 3},
       [](uint8_t* o) { return FWD_GetVersion_mw(kH, reinterpret_cast<ZEB_DEVICE_VERSION*>(o)); }},
      {&dev::GetHsmInfo, le32(kH), fill(76, 0x76),
       [](uint8_t* o) { return FWD_GetHsmInfo_mw(kH, reinterpret_cast<ZEB_DEVICE_HSM_INFO*>(o)); }},
      {&dev::GetHsmPolicy, le32(kH), fill(8, 0x08),
       [](uint8_t* o) { return FWD_GetHsmPolicy_mw(kH, reinterpret_cast<ZEB_DEVICE_HSM_POLICY*>(o)); }},
      {&dev::ListTokens, le32(kH), fill(260, 0x26),
       [](uint8_t* o) { return FWD_ListTokens_mw(kH, reinterpret_cast<ZEB_DEVICE_TKN_USER_LIST*>(o)); }},
      {&dev::GetTokenStatus, cat({le32(kH), id}), {7},
       [id](uint8_t* o) { return FWD_GetTokenStatus_mw(kH, const_cast<uint8_t*>(id.data()), o); }},
      {&dev::GetTokenInfo, cat({le32(kH), id}), fill(76, 0x21),
       [id](uint8_t* o) {
         return FWD_GetTokenInfo_mw(kH, const_cast<uint8_t*>(id.data()), reinterpret_cast<ZEB_DEVICE_TOKEN_INFO*>(o));
       }},
      {&dev::GetTokenSn, le32(kH), fill(16, 0x2D), [](uint8_t* o) { return FWD_GetTokenSn_mw(kH, o); }},
      {&dev::GetTokenPolicy, le32(kH), fill(8, 0x27),
       [](uint8_t* o) { return FWD_GetTokenPolicy_mw(kH, reinterpret_cast<ZEB_DEVICE_TOKEN_POLICY*>(o)); }},
      {&dev::OpenHsmSession, le32(kH), le32(0xA1B2C3D4),
       [](uint8_t* o) { return FWD_OpenHsmSession_mw(kH, reinterpret_cast<uint32_t*>(o)); }},
      {&dev::GetHsmSessInfo, le32(kH), fill(100, 0x52),
       [](uint8_t* o) {
         return FWD_GetHsmSessInfo_mw(kH, reinterpret_cast<ZEB_DEVICE_TOKEN_SESSION_INFO*>(o));
       }},
      {&dev::OpenTokenSession, cat({le32(kH), id}), le32(0x55667788),
       [id](uint8_t* o) {
         return FWD_OpenTokenSession_mw(kH, const_cast<uint8_t*>(id.data()), reinterpret_cast<uint32_t*>(o));
       }},
      {&dev::GetTokenSessionInfo, le32(kH), fill(100, 0x55),
       [](uint8_t* o) {
         return FWD_GetTokenSessionInfo_mw(kH, reinterpret_cast<ZEB_DEVICE_TOKEN_SESSION_INFO*>(o));
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.c->name);
    alignas(8) uint8_t out[300];
    std::memset(out, 0xEE, sizeof out);
    expect(*k.c, k.request, k.reply);
    ASSERT_EQ(k.run(out), 0u);
    EXPECT_EQ(Bytes(out, out + k.reply.size()), k.reply);
    EXPECT_EQ(out[k.reply.size()], 0xEE) << "wrote past the record";
    // A refusal writes nothing and comes back as the device's code.
    std::memset(out, 0xEE, sizeof out);
    expect_code(*k.c, k.request, 0xB3);
    EXPECT_EQ(quietly([&] { return k.run(out); }), 0xB3u);
    EXPECT_EQ(out[0], 0xEE);
  }
}

TEST_F(DeviceMw, CreateTokensGiveIdAndSerial) {
  uint8_t id[16], sn[16];
  expect(dev::CreateDefaultToken, le32(kH), cat({fill(16, 1), fill(16, 2)}));
  ASSERT_EQ(FWD_CreateDefaultToken_mw(kH, id, sn), 0u);
  EXPECT_EQ(Bytes(id, id + 16), fill(16, 1));
  EXPECT_EQ(Bytes(sn, sn + 16), fill(16, 2));
  // Instructions 0x09 and 0x0A differ in nothing else.
  expect(dev::CreateToken, le32(kH), cat({fill(16, 3), fill(16, 4)}));
  ASSERT_EQ(FWD_CreateToken_mw(kH, id, sn), 0u);
  EXPECT_EQ(Bytes(sn, sn + 16), fill(16, 4));
  // A reply too short for the serial: an error, not stale bytes.
  expect(dev::CreateToken, le32(kH), fill(20, 5));
  EXPECT_EQ(quietly([&] { return FWD_CreateToken_mw(kH, id, sn); }), SE_ERR_SERIALIZER);
}

// Every PIN command sends the 32-byte SHA-256 of the PIN, never the PIN.
TEST_F(DeviceMw, PinsTravelAsTheirDigest) {
  const Bytes pin = zt::ascii("123456");
  uint8_t* p = const_cast<uint8_t*>(pin.data());
  const uint32_t n = static_cast<uint32_t>(pin.size());
  const Bytes req = cat({le32(kH), arr(sha256(pin))});
  ASSERT_EQ(req.size(), 38u);
  const std::pair<const se::cmd::Command*, std::function<uint32_t()>> cases[] = {
      {&dev::LoginHsmByPin, [&] { return FWD_LoginHsmByPin_mw(kH, p, n); }},
      {&dev::SetHsmPin, [&] { return FWD_SetHsmPin_mw(kH, p, n); }},
      {&dev::LoginTokenByPin, [&] { return FWD_LoginTokenByPin_mw(kH, p, n); }},
      {&dev::LoginTokenSuperUserByPin, [&] { return FWD_LoginTokenSuperUserByPin_mw(kH, p, n); }},
      {&dev::SetTokenSuperUserPin, [&] { return FWD_SetTokenSuperUserPin_mw(kH, p, n); }},
      {&dev::SetTokenPin, [&] { return FWD_SetTokenPin_mw(kH, p, n); }},
  };
  for (const auto& [c, run] : cases) {
    SCOPED_TRACE(c->name);
    expect(*c, req);
    EXPECT_EQ(run(), 0u);
    expect_code(*c, req, 0xA0);  // a wrong PIN, as the device counts it
    EXPECT_EQ(quietly(run), 0xA0u);
  }
  uint8_t id[16] = {};
  expect(dev::CreateTokenByPin, req, fill(16, 0x0B));
  ASSERT_EQ(FWD_CreateTokenByPin_mw(kH, p, n, id), 0u);
  EXPECT_EQ(Bytes(id, id + 16), fill(16, 0x0B));
  // The empty PIN is the digest of the empty message.
  expect(dev::LoginTokenByPin, cat({le32(kH), arr(sha256({}))}));
  EXPECT_EQ(FWD_LoginTokenByPin_mw(kH, nullptr, 0), 0u);
}

TEST_F(DeviceMw, ValuesAndLabelsGoAsGiven) {
  const Bytes id = fill(16, 0x1D);
  uint8_t* idp = const_cast<uint8_t*>(id.data());
  ZEB_DEVICE_HSM_POLICY hp{1, 2, 1, {3, 4, 5, 6, 7}};
  ZEB_DEVICE_TOKEN_POLICY tp{};
  std::memset(&tp, 0x22, sizeof tp);
  Bytes label = zt::ascii("my label");
  const std::pair<std::pair<const se::cmd::Command*, Bytes>, std::function<uint32_t()>> cases[] = {
      {{&dev::SetHsmLabel, cat({le32(kH), arr(label)})},
       [&] { return FWD_SetHsmLabel_mw(kH, label.data(), static_cast<uint32_t>(label.size())); }},
      {{&dev::SetTokenLabel, cat({le32(kH), le16(0)})}, [&] { return FWD_SetTokenLabel_mw(kH, nullptr, 0); }},
      {{&dev::SetHsmPolicy, cat({le32(kH), bytes_of(hp)})}, [&] { return FWD_SetHsmPolicy_mw(kH, &hp); }},
      {{&dev::SetTokenPolicy, cat({le32(kH), bytes_of(tp)})}, [&] { return FWD_SetTokenPolicy_mw(kH, &tp); }},
      {{&dev::DeleteToken, cat({le32(kH), id})}, [&] { return FWD_DeleteToken_mw(kH, idp); }},
      {{&dev::UnlockToken, cat({le32(kH), id})}, [&] { return FWD_UnlockToken_mw(kH, idp); }},
      {{&dev::ResetVrk, le32(kH)}, [&] { return FWD_ResetVrk_mw(kH); }},
      {{&dev::ResetVrkBySn, cat({le32(0), id})}, [&] { return FWD_ResetVrkBySn_mw(0, idp); }},
      {{&dev::LogoutHsm, le32(kH)}, [&] { return FWD_LogoutHsm_mw(kH); }},
      {{&dev::LogoutToken, le32(kH)}, [&] { return FWD_LogoutToken_mw(kH); }},
      {{&dev::LogoutTokenSuperUser, le32(kH)}, [&] { return FWD_LogoutTokenSuperUser_mw(kH); }},
      {{&dev::CloseHsmSession, le32(kH)}, [&] { return FWD_CloseHsmSession_mw(kH); }},
      {{&dev::CloseTokenSession, le32(kH)}, [&] { return FWD_CloseTokenSession_mw(kH); }},
  };
  for (const auto& [cmd, run] : cases) {
    SCOPED_TRACE(cmd.first->name);
    expect(*cmd.first, cmd.second);
    EXPECT_EQ(run(), 0u);
    // Status words other than 90 00 come back as they are.
    expect(*cmd.first, cmd.second, {}, 0x6A82);
    EXPECT_EQ(quietly(run), 0x6A82u);
  }
}

TEST_F(DeviceMw, BackupAndRestoreSendThePinAsGiven) {
  Bytes pin = zt::ascii("87654321");
  uint8_t data[64];
  uint32_t len = sizeof data;
  const Bytes req = cat({le32(kH), arr(pin)});
  EXPECT_EQ(req.size(), 14u);
  expect(dev::BackupToken, req, arr(fill(40, 0xBA)));
  ASSERT_EQ(FWD_BackupToken_mw(kH, pin.data(), 8, data, &len), 0u);
  EXPECT_EQ(len, 40u);
  EXPECT_EQ(Bytes(data, data + 40), fill(40, 0xBA));
  // A backup larger than the caller's buffer is refused, not copied.
  len = 16;
  expect(dev::BackupToken, req, arr(fill(40, 0xBA)));
  EXPECT_EQ(quietly([&] { return FWD_BackupToken_mw(kH, pin.data(), 8, data, &len); }), SE_ERR_SERIALIZER);
  EXPECT_EQ(len, 16u);
  Bytes image = fill(30, 0x5A);
  expect(dev::RestoreToken, cat({le32(kH), arr(pin), arr(image)}));
  EXPECT_EQ(FWD_RestoreToken_mw(kH, pin.data(), 8, image.data(), 30), 0u);
}

// 32-bit lengths that the 16-bit count cannot carry are refused, not cut.
TEST_F(DeviceMw, LengthsBeyondTheWireAreRefused) {
  std::vector<uint8_t> big(0x10001, 1);
  EXPECT_EQ(quietly([&] { return FWD_SetHsmLabel_mw(kH, big.data(), 0x10001); }), SE_ERR_SERIALIZER);
  EXPECT_EQ(quietly([&] { return FWD_SetTokenLabel_mw(kH, big.data(), 0x10000); }), SE_ERR_SERIALIZER);
  uint32_t len = 16;
  EXPECT_EQ(quietly([&] { return FWD_SetTknKey2Sw_mw(kH, big.data(), 0x10000 + 16, big.data(), &len); }),
            SE_ERR_SERIALIZER);
  EXPECT_EQ(sent(), 0u);
}

// The core re-wraps in place: one buffer and one length for both sides.
TEST_F(DeviceMw, KeyTransferInPlace) {
  uint8_t key[48];
  std::memset(key, 0x11, sizeof key);
  uint32_t n = 40;
  expect(dev::SetTknKey2Sw, cat({le32(kH), arr(fill(40, 0x11))}), arr(fill(40, 0x22)));
  ASSERT_EQ(FWD_SetTknKey2Sw_mw(kH, key, n, key, &n), 0u);
  EXPECT_EQ(n, 40u);
  EXPECT_EQ(Bytes(key, key + 40), fill(40, 0x22));
  expect(dev::SetSwKey2Tkn, cat({le32(kH), arr(fill(40, 0x22))}), arr(fill(40, 0x33)));
  ASSERT_EQ(FWD_SetSwKey2Tkn_mw(kH, key, n, key, &n), 0u);
  EXPECT_EQ(Bytes(key, key + 40), fill(40, 0x33));
  // An answer longer than the room is refused.
  n = 40;
  expect(dev::SetSwKey2Tkn, cat({le32(kH), arr(fill(40, 0x33))}), arr(fill(41, 0x44)));
  EXPECT_EQ(quietly([&] { return FWD_SetSwKey2Tkn_mw(kH, key, n, key, &n); }), SE_ERR_SERIALIZER);
  EXPECT_EQ(n, 40u);
}

// The HSM handle is written, and is the one the device answers to.
TEST_F(DeviceMw, InitializeWritesTheHsmHandle) {
  uint32_t h = 0xDEADBEEF;
  uint8_t sn[16] = {};
  EXPECT_EQ(FWD_Initialize_mw(sn, &h), 0u);
  EXPECT_EQ(h, se::cmd::SE_HSM_HANDLE);
  EXPECT_EQ(FWD_Initialize_mw(sn, nullptr), 0x3009u);
  EXPECT_EQ(FWD_Finalize_mw(h), 0u);
  EXPECT_EQ(sent(), 0u);
}

// The session key comes from the device (the session's master key).
TEST_F(DeviceMw, SessionKeyComesFromTheDevice) {
  uint8_t key[32];
  uint32_t len = 0;
  expect(se::cmd::cry::GetMK, le32(kH), arr(fill(32, 0x6B)));
  ASSERT_EQ(FWD_GenSwKey_mw(kH, key, &len), 0u);
  EXPECT_EQ(len, 32u);
  EXPECT_EQ(Bytes(key, key + 32), fill(32, 0x6B));
  // A key of another length is not taken.
  expect(se::cmd::cry::GetMK, le32(kH), arr(fill(16, 0x6B)));
  EXPECT_EQ(quietly([&] { return FWD_GenSwKey_mw(kH, key, &len); }), SE_ERR_SERIALIZER);
  expect_code(se::cmd::cry::GetMK, le32(kH), 0x101);
  EXPECT_EQ(quietly([&] { return FWD_GenSwKey_mw(kH, key, &len); }), 0x101u);
}

TEST_F(DeviceMw, TheTableHoldsEveryOperationInOrder) {
  EXPECT_EQ(fwd_functions.func_type, FWD_FUNCTIONS);
  EXPECT_EQ(fwd_functions.D_UnlockTokenNormalUser, &FWD_UnlockToken_mw);
  EXPECT_EQ(fwd_functions.D_ResetVrkBySn, &FWD_ResetVrkBySn_mw);
  EXPECT_EQ(fwd_functions.D_UpdateObjectMeta, &FWD_UpdateObjectMeta_mw);
  const auto* slots = reinterpret_cast<const void* const*>(&fwd_functions.D_GetVersion);
  for (int i = 0; i < 47; ++i) EXPECT_NE(slots[i], nullptr) << i;
}

}  // namespace
