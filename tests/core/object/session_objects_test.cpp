// Session objects: the 256 slots, handles, finds, extension objects, and
// what happens to slots when a session closes.
#include "object_fixture.h"
#include "zeb/core_testing.h"
#include "zeb/object_layers.h"

namespace {

using namespace zt;
using SessionObjects = ObjectHsm;

uint32_t cache(VRK_HANDLE s, Bytes obj) {
  uint32_t h = 0;
  EXPECT_EQ(VRK_CacheSessionObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &h), 0);
  return h;
}

TEST_F(SessionObjects, EveryKindCachedFoundReadAndDeleted) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    const std::string id = std::string("sid-") + k.name;
    const std::string label = std::string("slabel-") + k.name;
    const Bytes obj = make(k, id.c_str(), label.c_str(), pattern(24, k.type));
    const uint32_t h = cache(s, obj);
    EXPECT_EQ(h & 0x80000000u, 0x80000000u);
    uint32_t found = 0;
    ASSERT_EQ(VRK_FindSessionObjects(s, k.type, k.algo, u8(id.c_str()), nullptr, &found), 0);
    EXPECT_EQ(found, h);
    ASSERT_EQ(VRK_FindSessionObjects(s, k.type, k.algo, nullptr, u8(label.c_str()), &found), 0);
    EXPECT_EQ(found, h);
    uint32_t len = 0;
    ASSERT_EQ(VRK_GetSessionObjectSize(s, h, &len), 0);
    Bytes back(len);
    ASSERT_EQ(VRK_GetSessionObject(s, h, back.data(), &len), 0);
    EXPECT_EQ(back, obj);
    uint8_t span = 9;
    ASSERT_EQ(VRK_GetObjectLifeSpan(s, h, &span), 0);
    EXPECT_EQ(span, VRK_OBJ_SESSION);
    ASSERT_EQ(VRK_DeleteSessionObject(s, h), 0);
    EXPECT_EQ(VRK_CheckSessionObjectExists(s, h), VRK_ERR_OBJECT_ABSENT);
    EXPECT_EQ(VRK_FindSessionObjects(s, k.type, k.algo, u8(id.c_str()), nullptr, &found), VRK_ERR_NO_MATCH);
  }
}

TEST_F(SessionObjects, TwoHundredFiftySixSlotsAndTheLowestFreeOne) {
  const Bytes obj = make(kKinds[0], "x", "x", pattern(4, 1));
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(cache(s, obj), 0x80000000u + i);
  uint32_t h = 0;
  Bytes o = obj;
  EXPECT_EQ(VRK_CacheSessionObject(s, o.data(), static_cast<uint32_t>(o.size()), &h), VRK_ERR_SESS_OBJECTS_FULL);
  ASSERT_EQ(VRK_DeleteSessionObject(s, 0x80000000u + 77), 0);
  ASSERT_EQ(VRK_DeleteSessionObject(s, 0x80000000u + 12), 0);
  EXPECT_EQ(cache(s, obj), 0x80000000u + 12);
  EXPECT_EQ(cache(s, obj), 0x80000000u + 77);
}

TEST_F(SessionObjects, HandlesOutsideTheSlotsAreRejected) {
  uint32_t len = 0;
  uint8_t b[8];
  for (uint32_t h : {0x80000100u, 5u, 0xFFFFFFFFu}) {
    EXPECT_EQ(VRK_GetSessionObjectSize(s, h, &len), VRK_ERR_ARGUMENTS) << h;
    len = sizeof b;
    EXPECT_EQ(VRK_GetSessionObject(s, h, b, &len), VRK_ERR_ARGUMENTS) << h;
    EXPECT_EQ(VRK_CheckSessionObjectExists(s, h), VRK_ERR_ARGUMENTS) << h;
    EXPECT_EQ(VRK_DeleteSessionObject(s, h), VRK_ERR_ARGUMENTS) << h;
  }
  uint8_t span;
  EXPECT_EQ(VRK_GetObjectLifeSpan(s, 0x80000005u, &span), VRK_ERR_OBJECT_ABSENT);  // a free slot
  const int rv = VRK_GetObjectLifeSpan(s, 5, &span);  // no such store object
  EXPECT_TRUE(absent(rv)) << rv;
}

TEST_F(SessionObjects, FindRules) {
  const uint32_t a = cache(s, make(kKinds[0], "A", "one", pattern(4, 1)));
  const uint32_t ab = cache(s, make(kKinds[0], "AB", "two", pattern(4, 2)));
  const uint32_t a2 = cache(s, make(kKinds[0], "A", "three", pattern(4, 3)));
  uint32_t f = 0;
  ASSERT_EQ(VRK_FindSessionObjects(s, VRK_OBJ_DATA, 0, u8("A"), nullptr, &f), 0);
  EXPECT_EQ(f, a);  // "A" is not "AB"; of two matches the lower slot
  ASSERT_EQ(VRK_FindSessionObjects(s, VRK_OBJ_DATA, 0, u8("AB"), nullptr, &f), 0);
  EXPECT_EQ(f, ab);
  ASSERT_EQ(VRK_FindSessionObjects(s, VRK_OBJ_DATA, 0, u8("A"), u8("three"), &f), 0);
  EXPECT_EQ(f, a2);  // both must match
  EXPECT_EQ(VRK_FindSessionObjects(s, VRK_OBJ_DATA, 0, u8("AB"), u8("three"), &f), VRK_ERR_NO_MATCH);
  EXPECT_EQ(VRK_FindSessionObjects(s, VRK_OBJ_DATA, 0, nullptr, nullptr, &f), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_CheckSessionObjectIdConflict(s, u8("AB")), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_CheckSessionObjectIdConflict(s, u8("ABC")), 0);
}

TEST_F(SessionObjects, CopiesOutNeedRoom) {
  const Bytes obj = make(kKinds[0], "x", "x", pattern(10, 1));
  const uint32_t h = cache(s, obj);
  Bytes out(obj.size() - 1, 0xEE);
  uint32_t len = static_cast<uint32_t>(out.size());
  EXPECT_EQ(VRK_GetSessionObject(s, h, out.data(), &len), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, obj.size() - 1);
  EXPECT_EQ(out, Bytes(obj.size() - 1, 0xEE));
}

TEST_F(SessionObjects, ObjectsWithoutIdAndDamagedObjectsAreNotCached) {
  Bytes obj = make(kKinds[0], "x", "x", pattern(10, 1));
  VRK_OBJECT_META m = meta_of(obj);
  m.ObjId[0] = 0;
  ASSERT_EQ(VRK_UpdObjectMeta(s, obj.data(), static_cast<uint32_t>(obj.size()), &m), 0);
  uint32_t h = 0;
  EXPECT_EQ(VRK_CacheSessionObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &h), VRK_ERR_EMPTY_ID);
  Bytes bad = make(kKinds[0], "y", "y", pattern(10, 1));
  bad[100] ^= 1;
  EXPECT_EQ(VRK_CacheSessionObject(s, bad.data(), static_cast<uint32_t>(bad.size()), &h), 0x560);
  EXPECT_EQ(VRK_CacheSessionObject(s, bad.data(), 0, &h), VRK_ERR_ARGUMENTS);
}

TEST_F(SessionObjects, ExtensionObjects) {
  const uint32_t h = cache(s, make(kKinds[1], "k", "k", pattern(32, 1)));
  uint8_t word[8] = {0x05, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(VRK_CacheSessionObjExtension(s, h, word, 8), 0);
  VRK_SESS_OBJECT slots[256];
  ASSERT_EQ(VRK_ListSessionObjects(s, slots), 0);
  ASSERT_NE(slots[1].pObj, nullptr);
  EXPECT_EQ(slots[1].u32DataLen, 8u + 128u);
  Bytes owner(slots[0].pObj, slots[0].pObj + slots[0].u32DataLen);
  EXPECT_EQ(meta_of(owner).u32ObjExtIndex, 0x80000001u);
  Bytes ext(slots[1].pObj, slots[1].pObj + slots[1].u32DataLen);
  const VRK_OBJECT_META em = meta_of(ext);
  EXPECT_STREQ(reinterpret_cast<const char*>(em.ObjId), "extid");
  EXPECT_STREQ(reinterpret_cast<const char*>(em.ObjLabel), "extlab");
  EXPECT_EQ(em.ObjType, VRK_OBJ_DATA);
  EXPECT_EQ(em.ObjEnc, 0);

  uint8_t got[8] = {};
  uint32_t n = 8;
  ASSERT_EQ(VRK_GetSessionObjExtension(s, h, got, &n), 0);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(got[0], 0x05);
  n = 4;
  EXPECT_EQ(VRK_GetSessionObjExtension(s, h, got, &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 8u);
  uint8_t word2[8] = {0x40, 0, 0, 0, 0, 0, 0, 1};
  ASSERT_EQ(VRK_UpdateSessionObjExtension(s, h, word2, 8), 0);
  n = 8;
  ASSERT_EQ(VRK_GetSessionObjExtension(s, h, got, &n), 0);
  EXPECT_EQ(std::memcmp(got, word2, 8), 0);

  ASSERT_EQ(VRK_DeleteSessionObjExtension(s, h), 0);
  EXPECT_EQ(VRK_CheckSessionObjectExists(s, 0x80000001u), VRK_ERR_OBJECT_ABSENT);
  ASSERT_EQ(VRK_ListSessionObjects(s, slots), 0);
  owner.assign(slots[0].pObj, slots[0].pObj + slots[0].u32DataLen);
  EXPECT_EQ(meta_of(owner).u32ObjExtIndex, 0xFFFFFFFFu);
  EXPECT_EQ(VRK_GetSessionObjExtension(s, h, got, &n), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_DeleteSessionObjExtension(s, h), VRK_ERR_OBJECT_ABSENT);

  // Deleting an object that has an extension frees both slots.
  ASSERT_EQ(VRK_CacheSessionObjExtension(s, h, word, 8), 0);
  ASSERT_EQ(VRK_DeleteSessionObject(s, h), 0);
  EXPECT_EQ(VRK_CheckSessionObjectExists(s, 0x80000000u), VRK_ERR_OBJECT_ABSENT);
  EXPECT_EQ(VRK_CheckSessionObjectExists(s, 0x80000001u), VRK_ERR_OBJECT_ABSENT);
  EXPECT_EQ(VRK_ListSessionObjects(s, nullptr), VRK_ERR_BUFFER_TOO_SMALL);
}

TEST_F(SessionObjects, FailedAllocationKeepsTheSlotsObject) {
  const Bytes obj = make(kKinds[1], "k", "k", pattern(32, 1));
  const uint32_t h = cache(s, obj);
  Bytes other = make(kKinds[0], "o", "o", pattern(64, 2));
  zeb::core::testing::set_object_alloc_failure(0);
  const uint32_t rv = SwSess_UpdateSessionObject(s, h, other.data(), static_cast<uint32_t>(other.size()));
  zeb::core::testing::set_object_alloc_failure(-1);
  EXPECT_EQ(rv, VRK_ERR_HOST_MEMORY);
  Bytes back(obj.size());
  uint32_t len = static_cast<uint32_t>(back.size());
  ASSERT_EQ(VRK_GetSessionObject(s, h, back.data(), &len), 0);
  EXPECT_EQ(back, obj);
}

TEST_F(SessionObjects, SlotsAreFreedWhenTheirHeadersCannotBeRead) {
  // After logout the device gives no MAC key, so no header can be read; the
  // slots are released (and wiped) at close all the same. LeakSanitizer
  // guards the "released" half.
  for (int i = 0; i < 5; ++i) cache(s, make(kKinds[1], "k", "k", pattern(32, static_cast<uint8_t>(i))));
  uint32_t h = 0;
  Bytes obj = make(kKinds[0], "x", "x", pattern(4, 1));
  ASSERT_EQ(VRK_CacheSessionObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &h), 0);
  ASSERT_EQ(VRK_CacheSessionObjExtension(s, h, obj.data(), 8), 0);
  ASSERT_EQ(VRK_LogoutTokenNormalUser(s), 0u);
  EXPECT_EQ(SwSess_DeleteSessionObject(s, h), 6u);  // header unreadable
  ASSERT_EQ(SwSess_DeleteSessionObjects(s), 0u);
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(s);
  ASSERT_NE(ctx, nullptr);
  for (const VRK_SESS_OBJECT& o : ctx->s_objlist) {
    EXPECT_EQ(o.pObj, nullptr);
    EXPECT_EQ(o.u32DataLen, 0u);
  }
  ASSERT_EQ(VRK_CloseTokenSession(s), 0u);
}

TEST_F(SessionObjects, LoginRules) {
  const uint32_t h = cache(s, make(kKinds[0], "x", "x", pattern(4, 1)));
  ASSERT_EQ(VRK_LogoutTokenNormalUser(s), 0u);
  uint32_t len = 0;
  EXPECT_EQ(VRK_GetSessionObjectSize(s, h, &len), 0);  // the one call without a login
  EXPECT_EQ(VRK_CheckSessionObjectExists(s, h), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_DeleteSessionObject(s, h), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_GetSessionObjectSize(0x1234, h, &len), VRK_ERR_SESSION_HANDLE);
}

}  // namespace

namespace {

using namespace zt;

size_t g_freed = 0, g_freed_dirty = 0;
void observe_free(const void* p, size_t n) {
  ++g_freed;
  const auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (b[i] != 0) {
      ++g_freed_dirty;
      return;
    }
  }
}

TEST_F(SessionObjects, BuffersAreWipedBeforeTheyAreFreed) {
  g_freed = g_freed_dirty = 0;
  zeb::core::testing::set_free_observer(observe_free);
  const Bytes raw = pattern(32, 77);
  const uint32_t h = cache(s, make(kKinds[1], "k", "k", raw));
  uint8_t word[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(VRK_CacheSessionObjExtension(s, h, word, 8), 0);
  const uint32_t idx = save(make(kKinds[1], "t", "t", raw));
  EXPECT_EQ(export_raw(idx), raw);
  read(idx);
  ASSERT_EQ(VRK_DeleteSessionObject(s, h), 0);
  ASSERT_EQ(VRK_DeleteObject(s, idx), 0);
  zeb::core::testing::set_free_observer(nullptr);
  EXPECT_GT(g_freed, 5u);
  EXPECT_EQ(g_freed_dirty, 0u);
}

}  // namespace
