// Object blobs: the MAC comes from the device's HMAC under the token's
// object-MAC key (an empty key array), is checked in constant time before
// every read and header update, and no blob shorter than its header and MAC
// is read.
#include "scripted_device.h"
#include "se/middleware.h"

namespace {

using namespace semw;
namespace cry = se::cmd::cry;

constexpr uint32_t kH = 7;

class Blob : public ScriptedDevice {
 protected:
  // The device's HMAC over meta || context answering `mac`.
  void expect_mac(const Bytes& meta, const Bytes& context, const Bytes& mac) {
    expect(cry::HmacInit, cat({le32(kH), {se::cmd::SE_HASH_SHA2_256}, le16(0)}));
    expect(cry::HmacUpdate, cat({le32(kH), arr(meta)}));
    for (size_t off = 0; off < context.size(); off += SE_REQ_MAX - 6) {
      const size_t n = std::min<size_t>(SE_REQ_MAX - 6, context.size() - off);
      expect(cry::HmacUpdate, cat({le32(kH), arr(Bytes(context.begin() + off, context.begin() + off + n))}));
    }
    expect(cry::HmacFinal, le32(kH), arr(mac));
  }
};

ZEB_DEVICE_OBJECT_META meta_of(uint8_t v) {
  ZEB_DEVICE_OBJECT_META m;
  std::memset(&m, v, sizeof m);
  return m;
}

TEST_F(Blob, BuildSplitCheckAndUpdate) {
  ZEB_DEVICE_OBJECT_META m = meta_of(0x4D);
  Bytes ctx = fill(50, 0xC0);
  const Bytes mac = fill(32, 0xAC);
  expect_mac(bytes_of(m), ctx, mac);
  Bytes blob(ctx.size() + 128);
  uint32_t len = 0;
  ASSERT_EQ(FWD_SetObject_mw(kH, &m, ctx.data(), 50, blob.data(), &len), 0u);
  ASSERT_EQ(len, 178u);
  EXPECT_EQ(blob, cat({bytes_of(m), ctx, mac}));

  ZEB_DEVICE_OBJECT_META got{};
  Bytes out(50);
  uint32_t n = 0;
  expect_mac(bytes_of(m), ctx, mac);
  ASSERT_EQ(FWD_DivideObj_mw(kH, blob.data(), len, &got, out.data(), &n), 0u);
  EXPECT_EQ(n, 50u);
  EXPECT_EQ(out, ctx);
  EXPECT_EQ(bytes_of(got), bytes_of(m));

  // The stored MAC matches the device's; one bit off does not.
  expect_mac(bytes_of(m), ctx, mac);
  EXPECT_EQ(FWD_CheckObjMAC_mw(kH, blob.data(), len), 0u);
  blob[len - 1] ^= 1;
  expect_mac(bytes_of(m), ctx, mac);
  EXPECT_NE(FWD_CheckObjMAC_mw(kH, blob.data(), len), 0u);
  blob[len - 1] ^= 1;

  // A new header changes the first 96 and the last 32 bytes only.
  ZEB_DEVICE_OBJECT_META m2 = meta_of(0x2E);
  expect_mac(bytes_of(m), ctx, mac);
  expect_mac(bytes_of(m2), ctx, fill(32, 0xBD));
  ASSERT_EQ(FWD_UpdateObjectMeta_mw(kH, blob.data(), len, &m2), 0u);
  EXPECT_EQ(blob, cat({bytes_of(m2), ctx, fill(32, 0xBD)}));
  // A failed MAC leaves the blob as it was.
  expect_code(cry::HmacInit, cat({le32(kH), {9}, le16(0)}), 0x101);
  EXPECT_EQ(quietly([&] { return FWD_UpdateObjectMeta_mw(kH, blob.data(), len, &m); }), 0x300Au);
  EXPECT_EQ(blob, cat({bytes_of(m2), ctx, fill(32, 0xBD)}));
}

TEST_F(Blob, EmptyAndLargeContexts) {
  ZEB_DEVICE_OBJECT_META m = meta_of(1);
  uint8_t blob[128];
  uint32_t len = 0;
  expect_mac(bytes_of(m), {}, fill(32, 3));
  ASSERT_EQ(FWD_SetObject_mw(kH, &m, nullptr, 0, blob, &len), 0u);
  EXPECT_EQ(len, 128u);
  uint32_t n = 99;
  expect_mac(bytes_of(m), {}, fill(32, 3));
  EXPECT_EQ(FWD_GetObjCxtPtr_mw(kH, blob, 128, nullptr, &n), 0u);
  EXPECT_EQ(n, 0u);
  // A context beyond one request is MACed in several updates.
  Bytes big = fill(5000, 0x77);
  Bytes obj(big.size() + 128);
  expect_mac(bytes_of(m), big, fill(32, 4));
  ASSERT_EQ(FWD_SetObject_mw(kH, &m, big.data(), 5000, obj.data(), &len), 0u);
  EXPECT_EQ(len, 5128u);
}

// A blob whose MAC the device does not give back is neither read nor given a
// new header: the mismatch code, nothing written.
TEST_F(Blob, ReadsAndHeaderUpdatesCheckTheMacFirst) {
  const ZEB_DEVICE_OBJECT_META m = meta_of(0x31);
  const Bytes ctx = fill(20, 0x5C);
  Bytes blob = cat({bytes_of(m), ctx, fill(32, 0xA1)});
  const uint32_t len = static_cast<uint32_t>(blob.size());
  const Bytes other = fill(32, 0xA2);
  ZEB_DEVICE_OBJECT_META got = meta_of(0);
  Bytes out(20, 0);
  uint32_t n = 7;
  expect_mac(bytes_of(m), ctx, other);
  EXPECT_EQ(FWD_GetObjMetaPtr_mw(kH, blob.data(), len, &got), 0x560u);
  expect_mac(bytes_of(m), ctx, other);
  EXPECT_EQ(FWD_GetObjCxtPtr_mw(kH, blob.data(), len, out.data(), &n), 0x560u);
  expect_mac(bytes_of(m), ctx, other);
  EXPECT_EQ(FWD_DivideObj_mw(kH, blob.data(), len, &got, out.data(), &n), 0x560u);
  EXPECT_EQ(bytes_of(got), bytes_of(meta_of(0)));
  EXPECT_EQ(out, Bytes(20, 0));
  EXPECT_EQ(n, 7u);
  ZEB_DEVICE_OBJECT_META m2 = meta_of(0x32);
  expect_mac(bytes_of(m), ctx, other);
  EXPECT_EQ(FWD_UpdateObjectMeta_mw(kH, blob.data(), len, &m2), 0x560u);
  EXPECT_EQ(blob, cat({bytes_of(m), ctx, fill(32, 0xA1)}));
  // The header read answers once the MAC matches.
  expect_mac(bytes_of(m), ctx, fill(32, 0xA1));
  EXPECT_EQ(FWD_GetObjMetaPtr_mw(kH, blob.data(), len, &got), 0u);
  EXPECT_EQ(bytes_of(got), bytes_of(m));
}

// A blob under 128 bytes has no context length: refused, nothing read.
TEST_F(Blob, ShortBlobsAreRefused) {
  uint8_t blob[127] = {};
  uint8_t out[200];
  uint32_t n = 0;
  ZEB_DEVICE_OBJECT_META m{};
  for (uint32_t len : {0u, 1u, 96u, 127u}) {
    SCOPED_TRACE(len);
    EXPECT_EQ(FWD_GetObjCxtPtr_mw(kH, blob, len, out, &n), 0x3009u);
    EXPECT_EQ(FWD_DivideObj_mw(kH, blob, len, &m, out, &n), 0x3009u);
    EXPECT_EQ(FWD_GetObjMetaPtr_mw(kH, blob, len, &m), 0x3009u);
    EXPECT_EQ(FWD_CheckObjMAC_mw(kH, blob, len), 0x3009u);
    EXPECT_EQ(FWD_UpdateObjectMeta_mw(kH, blob, len, &m), 0x300Au);
  }
  EXPECT_EQ(FWD_GetObjMetaPtr_mw(kH, nullptr, 128, &m), 0x3009u);
  EXPECT_EQ(sent(), 0u);
}

TEST_F(Blob, ObjectMacFailureIsTheMiddlewaresCode) {
  ZEB_DEVICE_OBJECT_META m = meta_of(5);
  uint8_t blob[128];
  uint32_t len = 77;
  expect_code(cry::HmacInit, cat({le32(kH), {9}, le16(0)}), 0x101);
  EXPECT_EQ(quietly([&] { return FWD_SetObject_mw(kH, &m, nullptr, 0, blob, &len); }), 0x3006u);
  EXPECT_EQ(len, 77u);
}

}  // namespace
