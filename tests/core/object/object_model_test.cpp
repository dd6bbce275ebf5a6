// The object model: key algorithms, headers, object buffers and the session
// checks of the object calls.
#include "object_fixture.h"
#include "support/hex.h"
#include "zeb/core_testing.h"
#include "zeb/object_layers.h"

namespace {

using namespace zt;
using ObjectModel = ObjectHsm;

TEST(ObjectKeyAlgo, Table) {
  const struct {
    uint32_t in;
    uint32_t out;
  } cases[] = {{1, 16},  {2, 17},  {3, 18},  {4, 1},    {8, 2},    {9, 3},    {10, 4},   {11, 5},
               {18, 64}, {19, 65}, {20, 66}, {32, 67},  {33, 68},  {34, 69},  {67, 70},  {69, 71},
               {70, 72}, {1024, 48}, {2048, 49}, {3072, 50}, {4096, 51}};
  for (const auto& c : cases) {
    uint32_t algo = 0;
    EXPECT_EQ(VRK_GetObjKeyAlgo(c.in, &algo), 0) << c.in;
    EXPECT_EQ(algo, c.out) << c.in;
  }
  for (uint32_t bad : {0u, 5u, 68u, 4097u}) {
    uint32_t algo = 99;
    EXPECT_EQ(VRK_GetObjKeyAlgo(bad, &algo), VRK_ERR_KEY_ALGO) << bad;
    EXPECT_EQ(algo, 0u);
  }
}

TEST(ObjectMeta, GoldenHeader) {
  VRK_OBJECT_META m;
  ASSERT_EQ(VRK_SetObjMeta(1, 1, u8("Tkn01"), u8("my-id"), u8(std::string(40, 'L').c_str()), 3, 64, 0xFFFFFFFF,
                           0x0102030405060708ull, 76, &m),
            0);
  EXPECT_EQ(hex(reinterpret_cast<const uint8_t*>(&m), sizeof m),
            "01000101"                                                          // Version 1.0, MAC, ENC
            "546b6e30310000000000000000000000"                                  // TknId
            "6d792d69640000000000000000000000"                                  // ObjId
            "4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c4c"  // 32 of 40 'L'
            "03400000"                                                          // type, algo, Res
            "00000000"                                                          // Res2
            "ffffffff"                                                          // no extension
            "0807060504030201"                                                  // key usage
            "4c000000"                                                          // data length 76
            "00000000");
  VRK_OBJECT_META untouched;
  std::memset(&untouched, 0xAB, sizeof untouched);
  VRK_OBJECT_META copy = untouched;
  EXPECT_EQ(VRK_SetObjMeta(1, 1, nullptr, u8("id"), u8(""), 1, 0, 0, 0, 0, &copy), VRK_ERR_EMPTY_ID);
  EXPECT_EQ(VRK_SetObjMeta(1, 1, nullptr, nullptr, u8("l"), 1, 0, 0, 0, 0, &copy), VRK_ERR_EMPTY_ID);
  EXPECT_EQ(std::memcmp(&copy, &untouched, sizeof copy), 0);
}

TEST(ObjectBuffers, AllocObject) {
  uint8_t* p = nullptr;
  ASSERT_EQ(VRK_AllocObject(100, &p), 0);
  std::memset(p, 0, 228);  // context + 128 bytes are usable
  std::free(p);
  zeb::core::testing::set_object_alloc_failure(0);
  EXPECT_EQ(VRK_AllocObject(100, &p), VRK_ERR_FAILED);
  zeb::core::testing::set_object_alloc_failure(-1);
}

TEST_F(ObjectModel, ObjectCallsNeedExactlyTheTokenUser) {
  Bytes obj = make(kKinds[0], "x", "x", pattern(8, 1));
  VRK_OBJECT_META m;
  EXPECT_EQ(VRK_GetObjMetaPtr(0x1234, obj.data(), static_cast<uint32_t>(obj.size()), &m), VRK_ERR_SESSION_HANDLE);
  // A super-user session gets 257 from every object call.
  VRK_HANDLE so = token_session(tkn);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(so, u8(kUserPin), len(kUserPin)), 0u);
  uint32_t n = 0;
  uint8_t span = 0;
  Bytes buf(400);
  EXPECT_EQ(VRK_GetObjMetaPtr(so, obj.data(), static_cast<uint32_t>(obj.size()), &m), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_SetObject(so, &m, buf.data(), 8, buf.data(), &n), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_GetObjCtxPtr(so, obj.data(), static_cast<uint32_t>(obj.size()), buf.data(), &n),
            VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_CheckObject(so, obj.data(), static_cast<uint32_t>(obj.size())), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_GetObjectLifeSpan(so, 1, &span), VRK_ERR_USER_NOT_LOGGED_IN);
  n = static_cast<uint32_t>(buf.size());
  EXPECT_EQ(VRK_Import_RAW_AES128_Key(so, buf.data(), 16, u8("i"), u8("l"), buf.data(), &n),
            VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_ExportRawKey(so, 1, buf.data(), &n), VRK_ERR_USER_NOT_LOGGED_IN);
}

TEST_F(ObjectModel, DeviceFailuresAndShortObjects) {
  Bytes obj = make(kKinds[0], "x", "x", pattern(8, 1));
  VRK_OBJECT_META m;
  Bytes ctx(64);
  uint32_t n = 0;
  obj[97] ^= 1;
  EXPECT_EQ(VRK_GetObjMetaPtr(s, obj.data(), static_cast<uint32_t>(obj.size()), &m), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_GetObjCtxPtr(s, obj.data(), static_cast<uint32_t>(obj.size()), ctx.data(), &n), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_CheckObject(s, obj.data(), static_cast<uint32_t>(obj.size())), 0x560);
  // Lengths no object can have are refused before anything is allocated.
  EXPECT_EQ(VRK_GetObjCtxPtr(s, obj.data(), 0xFFFFFFFFu, ctx.data(), &n), VRK_ERR_FAILED);
  for (uint32_t short_len : {0u, 31u, 127u}) {
    EXPECT_EQ(VRK_CheckObject(s, obj.data(), short_len), VRK_ERR_ARGUMENTS) << short_len;
    EXPECT_EQ(VRK_GetObjMetaPtr(s, obj.data(), short_len, &m), VRK_ERR_FAILED) << short_len;
  }
}

TEST_F(ObjectModel, ContextIsNeverLongerThanTheHeaderSays) {
  // A header that claims less than the object carries: the context is not
  // copied into a buffer sized from the header.
  VRK_OBJECT_META m;
  ASSERT_EQ(VRK_SetObjMeta(1, 0, tkn.data(), u8("i"), u8("l"), 1, 0, 0xFFFFFFFF, 0, 4, &m), 0);
  Bytes ctx = pattern(64, 1), obj(64 + 128);
  uint32_t len = 0;
  ASSERT_EQ(VRK_SetObject(s, &m, ctx.data(), 64, obj.data(), &len), 0);
  Bytes out(4);
  uint32_t n = 0;
  EXPECT_EQ(VRK_GetObjCtxPtr(s, obj.data(), len, out.data(), &n), VRK_ERR_FAILED);
}

TEST_F(ObjectModel, ImportedKeysAreWrappedUnderTheSessionKey) {
  const Bytes raw = pattern(32, 9);
  Bytes obj(160);
  uint32_t len = 160;
  ASSERT_EQ(VRK_Import_RAW_AES256_Key(s, const_cast<uint8_t*>(raw.data()), 32, u8("aes"), u8("label"), obj.data(),
                                      &len),
            0);
  const VRK_OBJECT_META m = meta_of(obj);
  EXPECT_EQ(m.ObjMac, 1);
  EXPECT_EQ(m.ObjEnc, 1);
  EXPECT_EQ(m.ObjType, VRK_OBJ_SECRETKEY);
  EXPECT_EQ(m.ObjKeyAlgo, VRK_KEY_AES256);
  EXPECT_EQ(m.u32ObjExtIndex, 0xFFFFFFFFu);
  EXPECT_EQ(m.u64ObjKeyUsage, ~uint64_t{0});
  EXPECT_EQ(std::memcmp(m.TknId, tkn.data(), 16), 0);
  const Bytes wrapped = context_of(obj);
  ASSERT_EQ(wrapped.size(), 32u);
  EXPECT_NE(wrapped, raw);
  Bytes plain(32);
  uint32_t n = 32;
  ASSERT_EQ(VRK_SetSwKey2Plain(s, const_cast<uint8_t*>(wrapped.data()), 32, plain.data(), &n), 0u);
  EXPECT_EQ(plain, raw);
  Bytes bad(160);
  len = 160;
  EXPECT_EQ(VRK_ImportRawKey(s, nullptr, 32, 18, u8("a"), u8("b"), 2, bad.data(), &len), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_ImportRawKey(s, bad.data(), 0, 18, u8("a"), u8("b"), 2, bad.data(), &len), VRK_ERR_ARGUMENTS);
}

}  // namespace
