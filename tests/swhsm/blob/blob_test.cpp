// The device object blob: meta | data | HMAC-SHA-256 under the token's MAC
// key, checked with OpenSSL's HMAC as the oracle.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <vector>

#include "se/middleware.h"
#include "se/mw/scripted_device.h"
#include "support/hex.h"
#include "swhsm/device/fixture.h"
#include "swhsm/swd_blob.h"
#include "zeb/swhsm_services.h"

namespace {

using namespace swt;
using Bytes = std::vector<uint8_t>;

class Blob : public Device {
 protected:
  void SetUp() override {
    Device::SetUp();
    ZEB_DEVICE_HANDLE a = admin_session();
    uint8_t id[16] = {};
    ASSERT_EQ(SWD_CreateTokenByPin(a, u8("123456"), 6, id), 0u);
    (void)SWD_CloseHsmSession(a);  // not what this test checks
    id_ = reinterpret_cast<char*>(id);
    user_ = open_token(id_);
    ASSERT_EQ(SWD_LoginTokenByPin(user_, u8("123456"), 6), 0u);
  }

  static ZEB_DEVICE_OBJECT_META meta(uint8_t mac = 1) {
    ZEB_DEVICE_OBJECT_META m{};
    m.Version[0] = 1;
    m.ObjMac = mac;
    m.ObjEnc = 0;
    std::memcpy(m.TknId, "Tkn01", 5);
    std::memcpy(m.ObjId, "obj-id", 6);
    std::memcpy(m.ObjLabel, "obj-label", 9);
    m.ObjType = 1;
    m.u32ObjExtIndex = 0xFFFFFFFF;
    m.u64ObjKeyUsage = ~uint64_t{0};
    m.u32DataLen = 5;
    return m;
  }

  Bytes build(const ZEB_DEVICE_OBJECT_META& m, const Bytes& data) {
    Bytes out(data.size() + 128);
    uint32_t len = 0;
    ZEB_DEVICE_OBJECT_META mm = m;
    EXPECT_EQ(SWD_SetObject(user_, &mm, const_cast<uint8_t*>(data.data()), static_cast<uint32_t>(data.size()),
                            out.data(), &len),
              0u);
    EXPECT_EQ(len, out.size());
    return out;
  }

  Bytes oracle_mac(const Bytes& msg) {
    const TKN_USER_CFG cfg = token_cfg(id_);
    unsigned char mac[32];
    unsigned int n = 32;
    HMAC(EVP_sha256(), cfg.MacK, 32, msg.data(), msg.size(), mac, &n);
    return Bytes(mac, mac + 32);
  }

  std::string id_;
  ZEB_DEVICE_HANDLE user_ = 0;
};

const Bytes kData = {'h', 'e', 'l', 'l', 'o'};

TEST_F(Blob, LayoutAndMacMatchTheOracle) {
  const Bytes blob = build(meta(), kData);
  EXPECT_EQ(zt::hex(blob.data(), 96),
            "01000100"                                                          // Version, ObjMac, ObjEnc
            "546b6e30310000000000000000000000"                                  // TknId
            "6f626a2d696400000000000000000000"                                  // ObjId
            "6f626a2d6c6162656c0000000000000000000000000000000000000000000000"  // ObjLabel
            "01000000"                                                          // ObjType, ObjKeyAlgo, Res
            "00000000"                                                          // Res2
            "ffffffff"                                                          // u32ObjExtIndex
            "ffffffffffffffff"                                                  // u64ObjKeyUsage
            "05000000"                                                          // u32DataLen
            "00000000");
  EXPECT_EQ(Bytes(blob.begin() + 96, blob.begin() + 101), kData);
  EXPECT_EQ(Bytes(blob.begin() + 101, blob.end()), oracle_mac(Bytes(blob.begin(), blob.begin() + 101)));

  ZEB_DEVICE_OBJECT_META m{};
  Bytes ctx(16);
  uint32_t n = 0;
  Bytes b = blob;
  ASSERT_EQ(SWD_DivideObj(user_, b.data(), static_cast<uint32_t>(b.size()), &m, ctx.data(), &n), 0u);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(Bytes(ctx.begin(), ctx.begin() + 5), kData);
  EXPECT_EQ(std::memcmp(&m, blob.data(), 96), 0);
  ASSERT_EQ(SWD_GetObjMetaPtr(user_, b.data(), static_cast<uint32_t>(b.size()), &m), 0u);
  ASSERT_EQ(SWD_GetObjCxtPtr(user_, b.data(), static_cast<uint32_t>(b.size()), ctx.data(), &n), 0u);
  EXPECT_EQ(n, 5u);
}

TEST_F(Blob, EveryChangedByteIsRefused) {
  const Bytes blob = build(meta(), kData);
  for (size_t i = 0; i < blob.size(); ++i) {
    Bytes b = blob;
    b[i] ^= 0x01;
    EXPECT_EQ(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size())), SWD_ERR_MAC_MISMATCH) << i;
  }
}

// Within one core call a blob's MAC, once computed, answers its repeats: a
// changed byte anywhere, in place or in a copy, must still be refused, and
// the unchanged blob accepted again after each.
TEST_F(Blob, RepeatedChecksWithinOneCallStillSeeEveryChange) {
  const Bytes blob = build(meta(), kData);
  Bytes other = build(meta(2), kData);
  SWD_BeginCall();
  Bytes b = blob;
  for (size_t i = 0; i < b.size(); ++i) {
    ASSERT_EQ(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size())), 0u) << i;
    ASSERT_EQ(SWD_CheckObjMAC(user_, other.data(), static_cast<uint32_t>(other.size())), 0u) << i;
    b[i] ^= 0x01;
    EXPECT_EQ(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size())), SWD_ERR_MAC_MISMATCH) << i;
    b[i] ^= 0x01;
  }
  // One byte shorter.
  EXPECT_NE(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size() - 1)), 0u);
  SWD_EndCall();
}

TEST_F(Blob, MacIsCheckedWhateverTheMetaSays) {
  // Clearing the ObjMac byte of a stored blob does not switch its check off.
  Bytes b = build(meta(1), kData);
  b[2] = 0;
  ZEB_DEVICE_OBJECT_META m;
  EXPECT_EQ(SWD_GetObjMetaPtr(user_, b.data(), static_cast<uint32_t>(b.size()), &m), SWD_ERR_MAC_MISMATCH);
  // A blob built with ObjMac 0 carries a MAC all the same, and it is checked.
  Bytes z = build(meta(0), kData);
  EXPECT_EQ(SWD_CheckObjMAC(user_, z.data(), static_cast<uint32_t>(z.size())), 0u);
  z[100] ^= 0xFF;
  EXPECT_EQ(SWD_CheckObjMAC(user_, z.data(), static_cast<uint32_t>(z.size())), SWD_ERR_MAC_MISMATCH);
  // ... and only for a logged-in token user.
  ASSERT_EQ(SWD_LogoutToken(user_), 0u);
  EXPECT_EQ(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size())), SWD_ERR_FAILED);
}

TEST_F(Blob, SessionsWithoutTheUserGetNoMacKey) {
  Bytes b = build(meta(), kData);
  const ZEB_DEVICE_HANDLE admin = admin_session();
  EXPECT_EQ(SWD_CheckObjMAC(admin, b.data(), static_cast<uint32_t>(b.size())), SWD_ERR_FAILED);
  uint8_t key[32];
  EXPECT_EQ(GetTknMacKey(admin, key), 6u);
  EXPECT_EQ(GetTknMacKey(0x12345678, key), 0xB3u);
  Bytes out(200);
  uint32_t n = 0;
  ZEB_DEVICE_OBJECT_META m = meta();
  EXPECT_EQ(SWD_SetObject(0x12345678, &m, b.data(), 5, out.data(), &n), SWD_ERR_SESSION_HANDLE);
  EXPECT_EQ(SWD_CheckObjMAC(0x12345678, b.data(), static_cast<uint32_t>(b.size())), SWD_ERR_FAILED);
}

TEST_F(Blob, ShortAndNullBlobsAreRefused) {
  Bytes b(200, 0);
  ZEB_DEVICE_OBJECT_META m;
  uint32_t n = 0;
  for (uint32_t len : {0u, 1u, 31u, 32u, 96u, 127u}) {
    EXPECT_EQ(SWD_CheckObjMAC(user_, b.data(), len), SWD_ERR_ARGUMENTS) << len;
    EXPECT_EQ(SWD_GetObjMetaPtr(user_, b.data(), len, &m), SWD_ERR_ARGUMENTS) << len;
    EXPECT_EQ(SWD_GetObjCxtPtr(user_, b.data(), len, b.data(), &n), SWD_ERR_ARGUMENTS) << len;
    EXPECT_EQ(SWD_UpdateObjectMeta(user_, b.data(), len, &m), SWD_ERR_ARGUMENTS) << len;
  }
  EXPECT_EQ(SWD_GetObjMetaPtr(user_, nullptr, 200, &m), SWD_ERR_ARGUMENTS);
  EXPECT_EQ(CalulateMac(b.data(), nullptr, 4, b.data()), 0x500u);
}

TEST_F(Blob, EmptyData) {
  ZEB_DEVICE_OBJECT_META m0 = meta();
  m0.u32DataLen = 0;
  Bytes b = build(m0, {});
  ASSERT_EQ(b.size(), 128u);
  Bytes ctx(1, 0xAA);
  uint32_t n = 99;
  ASSERT_EQ(SWD_GetObjCxtPtr(user_, b.data(), 128, ctx.data(), &n), 0u);
  EXPECT_EQ(n, 0u);
}

TEST_F(Blob, UpdateObjectMeta) {
  const Bytes blob = build(meta(), kData);
  Bytes b = blob;
  ZEB_DEVICE_OBJECT_META m = meta();
  ASSERT_EQ(SWD_UpdateObjectMeta(user_, b.data(), static_cast<uint32_t>(b.size()), &m), 0u);
  EXPECT_EQ(b, blob);  // same meta, same bytes
  m.u32ObjExtIndex = 0x80000003;
  ASSERT_EQ(SWD_UpdateObjectMeta(user_, b.data(), static_cast<uint32_t>(b.size()), &m), 0u);
  EXPECT_EQ(std::memcmp(b.data(), &m, 96), 0);
  EXPECT_EQ(SWD_CheckObjMAC(user_, b.data(), static_cast<uint32_t>(b.size())), 0u);
  // A damaged blob is not rebuilt (its MAC would otherwise be made good).
  b[97] ^= 1;
  const Bytes damaged = b;
  EXPECT_EQ(SWD_UpdateObjectMeta(user_, b.data(), static_cast<uint32_t>(b.size()), &m), SWD_ERR_MAC_MISMATCH);
  EXPECT_EQ(b, damaged);
}

// The secure element frames its blobs with the same code, only its device
// computes the MAC: given the MAC this token's key gives, its blob, header
// update and reads are the software HSM's byte for byte.
TEST_F(Blob, TheSecureElementFramesTheSameBytes) {
  se_device_t& device = gl_device;
  device = se_device_t{};
  trix::ScriptedTransport* script = trix::attach_scripted(&device);
  ASSERT_NE(script, nullptr);
  constexpr uint32_t kSe = 9;
  namespace cry = se::cmd::cry;
  // The device's answer: the HMAC of meta || context under this token's key.
  auto device_mac = [&](const Bytes& meta_bytes, const Bytes& context) {
    using namespace semw;
    const Bytes mac = oracle_mac(cat({meta_bytes, context}));
    script->expect(trix::make_command(cry::HmacInit.cla, cry::HmacInit.ins, 0, 0, 0, 0,
                                      cat({le32(kSe), {se::cmd::SE_HASH_SHA2_256}, le16(0)})),
                   trix::make_reply({}, 0x9000));
    for (const Bytes* part : {&meta_bytes, &context}) {
      if (part->empty()) continue;
      script->expect(trix::make_command(cry::HmacUpdate.cla, cry::HmacUpdate.ins, 0, 0, 0, 0,
                                        cat({le32(kSe), arr(*part)})),
                     trix::make_reply({}, 0x9000));
    }
    script->expect(trix::make_command(cry::HmacFinal.cla, cry::HmacFinal.ins, 0, 0, 0, 0, le32(kSe)),
                   trix::make_reply(arr(mac), 0x9000));
  };
  for (const Bytes& data : {Bytes{}, kData, Bytes(700, 0x3C)}) {
    SCOPED_TRACE(data.size());
    ZEB_DEVICE_OBJECT_META m = meta();
    m.u32DataLen = static_cast<uint32_t>(data.size());
    const Bytes sw = build(m, data);
    const Bytes head = semw::bytes_of(m);
    Bytes fw(sw.size());
    uint32_t len = 0;
    device_mac(head, data);
    ASSERT_EQ(FWD_SetObject_mw(kSe, &m, const_cast<uint8_t*>(data.data()), static_cast<uint32_t>(data.size()),
                               fw.data(), &len),
              0u);
    ASSERT_EQ(len, sw.size());
    EXPECT_EQ(fw, sw);

    // The same header update on both.
    ZEB_DEVICE_OBJECT_META m2 = m;
    m2.u32ObjExtIndex = 0x80000011;
    Bytes sw2 = sw;
    ASSERT_EQ(SWD_UpdateObjectMeta(user_, sw2.data(), len, &m2), 0u);
    device_mac(head, data);
    device_mac(semw::bytes_of(m2), data);
    ASSERT_EQ(FWD_UpdateObjectMeta_mw(kSe, fw.data(), len, &m2), 0u);
    EXPECT_EQ(fw, sw2);

    // Each reads the other's blob back alike.
    ZEB_DEVICE_OBJECT_META got{};
    Bytes ctx(data.size() + 1, 0);
    uint32_t n = 0;
    device_mac(semw::bytes_of(m2), data);
    ASSERT_EQ(FWD_DivideObj_mw(kSe, sw2.data(), len, &got, ctx.data(), &n), 0u);
    EXPECT_EQ(semw::bytes_of(got), semw::bytes_of(m2));
    EXPECT_EQ(Bytes(ctx.begin(), ctx.begin() + n), data);
    ASSERT_EQ(SWD_DivideObj(user_, fw.data(), len, &got, ctx.data(), &n), 0u);
    EXPECT_EQ(Bytes(ctx.begin(), ctx.begin() + n), data);
  }
  EXPECT_EQ(script->mismatches(), 0u);
  EXPECT_EQ(script->pending(), 0u);
  (void)trix::detach(&device);
}

}  // namespace
