// Field serializer: byte layouts, limits, every tag set both ways, and the
// bounds of reply reading.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "se/frame.h"
#include "se/piv.h"
#include "se/secure_channel.h"
#include "se/time.h"
#include "zeb/device.h"
#include "zeb/storage.h"
#include "support/hex.h"

namespace {

using zt::Bytes;
using zt::unhex;

Bytes pack(std::vector<ZEB_TLV> list, uint16_t max = SE_MW_CDATA_SIZE, uint32_t* rv_out = nullptr) {
  Bytes buf(max + 16, 0xEE);
  uint16_t filled = 0xBEEF;
  const uint32_t rv = tlv_serialize_and_fill_buf(static_cast<uint8_t>(list.size()), list.data(), max, &filled, buf.data());
  if (rv_out != nullptr) *rv_out = rv;
  if (rv != 0) {
    EXPECT_EQ(filled, 0xBEEF) << "nothing is stored on failure";
    return {};
  }
  buf.resize(filled);
  return buf;
}

TEST(Serializer, ByteLayoutOfAMixedList) {
  uint8_t u8 = 0xA5;
  uint16_t u16 = 0x1234;
  uint32_t handle = 0x102;
  const uint8_t arr[3] = {0xDE, 0xAD, 0x01};
  const uint8_t empty = 0;
  int32_t neg = -2;
  const Bytes got = pack({se_field(TAG_UINT8_T, &u8), se_field(TAG_UINT16_T, &u16), se_field(TAG_UINT32_T, &handle),
                          ZEB_TLV{TAG_UINT8_T_ARR, 3, const_cast<uint8_t*>(arr)},
                          ZEB_TLV{TAG_UINT8_T_ARR, 0, const_cast<uint8_t*>(&empty)}, se_field(TAG_INT_T, &neg)});
  EXPECT_EQ(zt::hex(got), "a5" "3412" "02010000" "0300dead01" "0000" "feffffff");
}

TEST(Serializer, RecordsGoAsTheirLayout) {
  ZEB_DEVICE_VERSION v{1, 2, 3};
  uint32_t h = 7;
  const Bytes got = pack({se_field(TAG_ZEB_DEVICE_HANDLE, &h), se_field(TAG_ZEB_DEVICE_VERSION, &v)});
  EXPECT_EQ(zt::hex(got), "07000000010203");
}

TEST(Serializer, EmptyListWritesNothing) {
  uint16_t filled = 99;
  uint8_t buf[4];
  EXPECT_EQ(tlv_serialize_and_fill_buf(0, nullptr, SE_MW_CDATA_SIZE, &filled, buf), 0u);
  EXPECT_EQ(filled, 0);
}

TEST(Serializer, RequestLimits) {
  struct Case {
    uint16_t tag;
    size_t len;
    uint32_t rv;
  } cases[] = {
      {TAG_UINT8_T_ARR, 4083, 0},            // 2 + 4083 = 4085: the largest request
      {TAG_UINT8_T_ARR, 4084, SE_ERR_SERIALIZER},  // would be 4086
      {TAG_UINT32_T, 4085, 0},
      {TAG_UINT32_T, 4086, SE_ERR_SERIALIZER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.len);
    Bytes value(c.len, 0x5A);
    uint32_t rv = 0;
    const Bytes got = pack({ZEB_TLV{c.tag, static_cast<uint16_t>(c.len), value.data()}}, SE_MW_CDATA_SIZE, &rv);
    EXPECT_EQ(rv, c.rv);
    if (c.rv == 0) {
      EXPECT_EQ(got.size(), c.tag == TAG_UINT8_T_ARR ? c.len + 2 : c.len);
    }
  }
  // The limit holds for the running total, not just one field.
  Bytes a(2000, 1), b(2083, 2);
  uint32_t rv = 0;
  (void)pack({ZEB_TLV{TAG_UINT8_T_ARR, 2000, a.data()}, ZEB_TLV{TAG_UINT8_T_ARR, 2081, b.data()}},
             SE_MW_CDATA_SIZE, &rv);
  EXPECT_EQ(rv, 0u);
  (void)pack({ZEB_TLV{TAG_UINT8_T_ARR, 2000, a.data()}, ZEB_TLV{TAG_UINT8_T_ARR, 2082, b.data()}},
             SE_MW_CDATA_SIZE, &rv);
  EXPECT_EQ(rv, SE_ERR_SERIALIZER);
}

TEST(Serializer, NullValueWithALengthIsRefused) {
  uint32_t rv = 0;
  (void)pack({ZEB_TLV{TAG_UINT32_T, 4, nullptr}}, SE_MW_CDATA_SIZE, &rv);
  EXPECT_EQ(rv, SE_ERR_SERIALIZER);
}

// Every tag of every set, packed and read back with the set's reader.
TEST(Serializer, EveryTagSetRoundTrips) {
  struct Case {
    uint16_t tag;
    uint16_t width;
    bool store;
  } cases[] = {
      {TAG_UINT8_T, 1, false}, {TAG_UINT16_T, 2, false}, {TAG_UINT32_T, 4, false}, {TAG_INT_T, 4, false},
      {TAG_SHORT_T, 2, false}, {TAG_LONG_T, 8, false}, {TAG_UINT8_T_ARR, 37, false},
      {TAG_SC2_HOST_ID_T, 8, false}, {TAG_SC2_PUB_KEY_T, 64, false}, {TAG_SC2_NONCE_T, 16, false},
      {TAG_SC2_AUTH_ICC_T, 16, false}, {TAG_SC2_CVC_T, 141, false}, {TAG_SESS_INFO, 20, false},
      // device set
      {TAG_ZEB_DEVICE_HANDLE, 4, false}, {TAG_ZEB_DEVICE_VERSION, 3, false}, {TAG_ZEB_DEVICE_HSM_SN, 16, false},
      {TAG_ZEB_DEVICE_HSM_INFO, 76, false}, {TAG_ZEB_DEVICE_HSM_POLICY, 8, false},
      {TAG_ZEB_DEVICE_TOKEN_ID, 16, false}, {TAG_ZEB_DEVICE_TOKEN_SN, 16, false},
      {TAG_ZEB_DEVICE_TKN_USER_LIST, 260, false}, {TAG_ZEB_DEVICE_TOKEN_INFO, 76, false},
      {TAG_ZEB_DEVICE_TOKEN_POLICY, 8, false}, {TAG_ZEB_DEVICE_OBJECT_META, 96, false},
      {TAG_ZEB_DEVICE_TOKEN_SESSION_INFO, 100, false},
      // crypto set
      {TAG_ZEB_CRYPTO_HANDLE, 4, false}, {TAG_FWC_MECHANISM_INFO, 12, false}, {TAG_CIPHER_MODE_T, 4, false},
      {TAG_CIPHER_DIR_T, 4, false}, {TAG_CIPHER_PADDING_T, 4, false}, {TAG_HASH_TYPE_T, 4, false},
      {TAG_CIPHER_TYPE_T, 4, false}, {TAG_KWP_TYPE_T, 4, false},
      // store set
      {TAG_ZEB_STORE_UINT8_T, 1, true}, {TAG_ZEB_STORE_UINT16_T, 2, true}, {TAG_ZEB_STORE_UINT32_T, 4, true},
      {TAG_ZEB_STORE_INT_T, 4, true}, {TAG_ZEB_STORE_SHORT_T, 2, true}, {TAG_ZEB_STORE_LONG_T, 8, true},
      {TAG_ZEB_STORE_UINT8_T_ARR, 300, true}, {TAG_PERSISTENCY_INPUT, 36, true}, {TAG_STO_LAYOUT, 136, true},
      {TAG_STO_TKN_OBJECT_CONFIG_PATH, 64, true}, {TAG_STO_UINT32, 4, true}, {TAG_STO_UCHAR, 1, true},
      {TAG_STO_SEOBJ, 80, true}, {TAG_STO_SEOBJ_LIST, 2000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag " << c.tag << (c.store ? " store" : ""));
    Bytes in(c.width);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + c.tag);
    uint32_t marker = 0xC0FFEE01;  // a field after it shows the offset advanced right
    const Bytes wire = pack({ZEB_TLV{c.tag, c.width, in.data()}, se_field(TAG_UINT32_T, &marker)});
    const bool arr = c.tag == TAG_UINT8_T_ARR;
    ASSERT_EQ(wire.size(), c.width + 4u + (arr ? 2u : 0u));
    Bytes out(c.width + 8, 0xEE);
    uint32_t marker_out = 0;
    ZEB_TLV rsp[2] = {{c.tag, c.width, out.data()}, se_field(TAG_UINT32_T, &marker_out)};
    const uint16_t n = static_cast<uint16_t>(wire.size());
    const uint32_t rv = c.store ? tlv_sto_deserialize_and_copy_to_arg(2, n, wire.data(), rsp)
                                : tlv_deserialize_and_copy_to_arg(2, n, wire.data(), rsp);
    ASSERT_EQ(rv, 0u);
    EXPECT_EQ(int{rsp[0].length}, c.width);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.width), in);
    EXPECT_EQ(out[c.width], 0xEE) << "nothing written past the field";
    EXPECT_EQ(marker_out, marker);
  }
}

TEST(Deserializer, FixedReadLengthsWhateverThePreset) {
  const Bytes wire = unhex("11223344556677889900aabbccddeeff" "0102");
  // TAG_UINT8_T preset to 4 still reads one byte.
  uint32_t v = 0;
  uint8_t next = 0;
  ZEB_TLV a[2] = {ZEB_TLV{TAG_UINT8_T, 4, &v}, se_field(TAG_UINT8_T, &next)};
  ASSERT_EQ(tlv_deserialize_and_copy_to_arg(2, static_cast<uint16_t>(wire.size()), wire.data(), a), 0u);
  EXPECT_EQ(v, 0x11u);
  EXPECT_EQ(next, 0x22);
  // Value 10 is a 16-byte field in the general set and a 4-byte one in the store set.
  uint8_t auth[16] = {};
  ZEB_TLV g = {TAG_SC2_AUTH_ICC_T, 16, auth};
  ASSERT_EQ(tlv_deserialize_and_copy_to_arg(1, static_cast<uint16_t>(wire.size()), wire.data(), &g), 0u);
  EXPECT_EQ(zt::hex(auth, 16), "11223344556677889900aabbccddeeff");
  uint32_t sto = 0;
  ZEB_TLV s = se_field(TAG_STO_UINT32, &sto);
  ASSERT_EQ(tlv_sto_deserialize_and_copy_to_arg(1, static_cast<uint16_t>(wire.size()), wire.data(), &s), 0u);
  EXPECT_EQ(sto, 0x44332211u);
  EXPECT_EQ(int{s.length}, 4);
}

TEST(Deserializer, EmptyArrayReportsZero) {
  const Bytes wire = unhex("0000" "2a");
  uint8_t arr[8];
  std::memset(arr, 0xEE, sizeof arr);
  uint8_t after = 0;
  ZEB_TLV a[2] = {ZEB_TLV{TAG_UINT8_T_ARR, 8, arr}, se_field(TAG_UINT8_T, &after)};
  ASSERT_EQ(tlv_deserialize_and_copy_to_arg(2, 3, wire.data(), a), 0u);
  EXPECT_EQ(int{a[0].length}, 0);
  EXPECT_EQ(arr[0], 0xEE);
  EXPECT_EQ(after, 0x2A);
}

// Replies are read against the bytes received: a field that runs past them is
// an error, never stale bytes of an earlier reply.
TEST(Deserializer, ReplyShorterThanItsFieldsIsRefused) {
  Bytes io(64, 0x77);  // stale bytes after the reply
  const Bytes reply = unhex("01000000" "0200");
  std::memcpy(io.data(), reply.data(), reply.size());
  struct Case {
    uint16_t len;
    uint32_t rv;
  } cases[] = {{6, SE_ERR_SERIALIZER}, {7, SE_ERR_SERIALIZER}, {8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.len);
    uint32_t h = 0, extra = 0;
    ZEB_TLV list[2] = {se_field(TAG_UINT32_T, &h), se_field(TAG_UINT32_T, &extra)};
    if (c.len == 8) list[1] = ZEB_TLV{TAG_UINT16_T, 2, &extra};
    // c.len 6: the u32 after the handle has 2 of its 4 bytes; 7: 3 of them.
    EXPECT_EQ(tlv_deserialize_and_copy_to_arg(2, c.len, io.data(), list), c.rv);
    EXPECT_EQ(h, 1u) << "fields before the failing one stay copied";
  }
  // An array prefix that runs past the reply, and a prefix cut in half.
  const Bytes arr = unhex("0500aabbcc");
  uint8_t out[16];
  ZEB_TLV a = {TAG_UINT8_T_ARR, sizeof out, out};
  EXPECT_EQ(tlv_deserialize_and_copy_to_arg(1, 5, arr.data(), &a), SE_ERR_SERIALIZER);
  a.length = sizeof out;
  EXPECT_EQ(tlv_deserialize_and_copy_to_arg(1, 1, arr.data(), &a), SE_ERR_SERIALIZER);
}

// An array is copied only up to the caller's capacity.
TEST(Deserializer, ArrayBoundedByCapacity) {
  Bytes wire = unhex("1000");
  wire.resize(2 + 16, 0x42);
  uint8_t dst[12 + 4];
  std::memset(dst, 0xEE, sizeof dst);
  ZEB_TLV a = {TAG_UINT8_T_ARR, 12, dst};
  EXPECT_EQ(tlv_deserialize_and_copy_to_arg(1, static_cast<uint16_t>(wire.size()), wire.data(), &a), SE_ERR_SERIALIZER);
  for (uint8_t b : dst) EXPECT_EQ(b, 0xEE);
  a.length = 16;
  EXPECT_EQ(tlv_deserialize_and_copy_to_arg(1, static_cast<uint16_t>(wire.size()), wire.data(), &a), 0u);
  EXPECT_EQ(int{a.length}, 16);
  // A fixed-length field needs a destination at least that wide.
  uint8_t small[8];
  ZEB_TLV n = {TAG_SC2_NONCE_T, sizeof small, small};
  EXPECT_EQ(tlv_deserialize_and_copy_to_arg(1, static_cast<uint16_t>(wire.size()), wire.data(), &n), SE_ERR_SERIALIZER);
}

TEST(Records, WireSizes) {
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_INFO), 76u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_INFO), 76u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TKN_USER_LIST), 260u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO), 100u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_VERSION), 3u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_OBJECT_META), 96u);
  EXPECT_EQ(sizeof(PERSISTENCY_INPUT), 36u);
  EXPECT_EQ(sizeof(STO_LAYOUT), 136u);
  EXPECT_EQ(sizeof(STO_SEOBJ), 80u);
  EXPECT_EQ(sizeof(STO_SEOBJ_LIST), 40968u);
  EXPECT_EQ(sizeof(sess_info_t), 20u);
  EXPECT_EQ(sizeof(CVC_t), 141u);
  EXPECT_EQ(sizeof(asn1_time), 8u);
  EXPECT_EQ(sizeof(ZEB_TLV), 12u);
  EXPECT_EQ(sizeof(se_device_t), 88u);
  EXPECT_EQ(sizeof(apdu_t), 16u);
}

}  // namespace
