// What files and the secure-element wire carry: record sizes and every
// field's offset of the records stored as their byte image (the object
// header at the start of every device object, the store's object-list file)
// and of those sent to the device as raw fields. A change here breaks stored
// tokens or the device. The PKCS#11 header's layout is the standard's, as
// clients compiled against it expect. Structures that live only in memory
// are free to change and are not pinned.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "pkcs11/pkcs11.h"
#include "zeb/adapters.h"
#include "zeb/vrk.h"

namespace {

struct Field {
  const char* name;
  size_t offset;
  size_t expected;
};
#define ZEB_AT(rec, field, off) Field{#rec "." #field, offsetof(rec, field), off}

void expect_offsets(std::initializer_list<Field> fields) {
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
}

}  // namespace

// The 96-byte header of every object file and device object.
TEST(RecordLayout, ObjectHeader) {
  EXPECT_EQ(sizeof(ZEB_DEVICE_OBJECT_META), 96u);
  expect_offsets({ZEB_AT(ZEB_DEVICE_OBJECT_META, Version, 0), ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjMac, 2),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjEnc, 3), ZEB_AT(ZEB_DEVICE_OBJECT_META, TknId, 4),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjId, 20), ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjLabel, 36),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjType, 68), ZEB_AT(ZEB_DEVICE_OBJECT_META, ObjKeyAlgo, 69),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, Res2, 72), ZEB_AT(ZEB_DEVICE_OBJECT_META, u32ObjExtIndex, 76),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, u64ObjKeyUsage, 80), ZEB_AT(ZEB_DEVICE_OBJECT_META, u32DataLen, 88),
                  ZEB_AT(ZEB_DEVICE_OBJECT_META, Pad, 92)});
  EXPECT_EQ(ZEB_OBJ_NO_EXTENSION, 0xFFFFFFFFu);
}

// The store's object-list file (written as it stands) and its entries, which
// also cross the wire one at a time.
TEST(RecordLayout, ObjectListFile) {
  EXPECT_EQ(sizeof(STO_SEOBJ), 80u);
  expect_offsets({ZEB_AT(STO_SEOBJ, Res, 0), ZEB_AT(STO_SEOBJ, ObjIndex, 4), ZEB_AT(STO_SEOBJ, TknId, 8),
                  ZEB_AT(STO_SEOBJ, ObjId, 24), ZEB_AT(STO_SEOBJ, ObjLabel, 40), ZEB_AT(STO_SEOBJ, ObjType, 72),
                  ZEB_AT(STO_SEOBJ, ObjKeyAlgo, 73), ZEB_AT(STO_SEOBJ, u32DataLen, 76)});
  EXPECT_EQ(STO_MAX_OBJECTS, 512u);
  EXPECT_EQ(sizeof(STO_SEOBJ_LIST), 40968u);
  expect_offsets({ZEB_AT(STO_SEOBJ_LIST, seobj_array, 0), ZEB_AT(STO_SEOBJ_LIST, ObjNum, 40960),
                  ZEB_AT(STO_SEOBJ_LIST, ObjSeq, 40964)});
}

// Records the secure-element wire carries as raw fields.
TEST(RecordLayout, DeviceWireRecords) {
  EXPECT_EQ(sizeof(ZEB_DEVICE_VERSION), 3u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_POLICY), 8u);
  EXPECT_EQ(sizeof(VRK_HSM_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_INFO), 76u);
  expect_offsets({ZEB_AT(ZEB_DEVICE_HSM_INFO, HsmType, 0), ZEB_AT(ZEB_DEVICE_HSM_INFO, HsmStatus, 1),
                  ZEB_AT(ZEB_DEVICE_HSM_INFO, HsmSn, 4), ZEB_AT(ZEB_DEVICE_HSM_INFO, HsmLabel, 20),
                  ZEB_AT(ZEB_DEVICE_HSM_INFO, FwVersion, 52), ZEB_AT(ZEB_DEVICE_HSM_INFO, u32TokenCount, 68),
                  ZEB_AT(ZEB_DEVICE_HSM_INFO, u32MaxTokenCount, 72)});
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_INFO), 76u);
  expect_offsets({ZEB_AT(ZEB_DEVICE_TOKEN_INFO, TknSn, 0), ZEB_AT(ZEB_DEVICE_TOKEN_INFO, TknStatus, 16),
                  ZEB_AT(ZEB_DEVICE_TOKEN_INFO, TknId, 20), ZEB_AT(ZEB_DEVICE_TOKEN_INFO, TknLabel, 36),
                  ZEB_AT(ZEB_DEVICE_TOKEN_INFO, SuperUserLoginFailCount, 68),
                  ZEB_AT(ZEB_DEVICE_TOKEN_INFO, MaxSessionCount, 73)});
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO), 100u);
  expect_offsets({ZEB_AT(ZEB_DEVICE_TOKEN_SESSION_INFO, SessStatus, 0),
                  ZEB_AT(ZEB_DEVICE_TOKEN_SESSION_INFO, HsmSn, 4), ZEB_AT(ZEB_DEVICE_TOKEN_SESSION_INFO, HsmLabel, 20),
                  ZEB_AT(ZEB_DEVICE_TOKEN_SESSION_INFO, TknId, 52),
                  ZEB_AT(ZEB_DEVICE_TOKEN_SESSION_INFO, TknLabel, 68)});
  EXPECT_EQ(sizeof(ZEB_DEVICE_TKN_USER_LIST), 260u);
  expect_offsets({ZEB_AT(ZEB_DEVICE_TKN_USER_LIST, TknId, 0), ZEB_AT(ZEB_DEVICE_TKN_USER_LIST, TknLabel, 64),
                  ZEB_AT(ZEB_DEVICE_TKN_USER_LIST, TknSn, 192), ZEB_AT(ZEB_DEVICE_TKN_USER_LIST, TknNum, 256),
                  ZEB_AT(ZEB_DEVICE_TKN_USER_LIST, TknSeq, 257)});
  EXPECT_EQ(sizeof(PERSISTENCY_INPUT), 36u);
  expect_offsets({ZEB_AT(PERSISTENCY_INPUT, hSession, 0), ZEB_AT(PERSISTENCY_INPUT, HsmSn, 4),
                  ZEB_AT(PERSISTENCY_INPUT, TknId, 20)});
  EXPECT_EQ(sizeof(STO_KEY_STORE_GROUP), 4u);
  EXPECT_EQ(sizeof(STO_LAYOUT), 136u);
  expect_offsets({ZEB_AT(STO_LAYOUT, uninit_pages, 2), ZEB_AT(STO_LAYOUT, key_store_obj_count, 4),
                  ZEB_AT(STO_LAYOUT, key_store_group, 8)});
}

TEST(RecordLayout, Pkcs11Structures) {
  EXPECT_EQ(sizeof(CK_ULONG), 8u);
  EXPECT_EQ(sizeof(CK_VERSION), 2u);
  EXPECT_EQ(sizeof(CK_INFO), 88u);
  EXPECT_EQ(sizeof(CK_SLOT_INFO), 112u);
  EXPECT_EQ(sizeof(CK_TOKEN_INFO), 208u);
  EXPECT_EQ(sizeof(CK_SESSION_INFO), 32u);
  EXPECT_EQ(sizeof(CK_ATTRIBUTE), 24u);
  EXPECT_EQ(sizeof(CK_MECHANISM), 24u);
  EXPECT_EQ(sizeof(CK_MECHANISM_INFO), 24u);
  EXPECT_EQ(sizeof(CK_INTERFACE), 24u);
  EXPECT_EQ(sizeof(CK_FUNCTION_LIST), 8u + 68u * 8u);
  EXPECT_EQ(sizeof(CK_FUNCTION_LIST_3_0), 8u + 92u * 8u);
  EXPECT_EQ(offsetof(CK_FUNCTION_LIST_3_0, C_GetInterfaceList), offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) + 8u);
  EXPECT_EQ(CKR_PIN_INVALID, 0xA1u);
  EXPECT_EQ(CKR_PIN_LEN_RANGE, 0xA2u);
  EXPECT_EQ(CKR_USER_NOT_LOGGED_IN, 0x101u);
  EXPECT_EQ(CKR_MUTEX_BAD, 0x1A0u);
  EXPECT_EQ(CKM_AES_GCM, 0x1087u);
  EXPECT_EQ(CKA_EC_POINT, 0x181u);
}

TEST(RecordLayout, Version) {
  char v[VRK_VERSION_LEN + 1];
  std::memset(v, 0x55, sizeof v);
  ASSERT_EQ(VRK_GetVersion(v), 0u);
  EXPECT_STREQ(v, "QPX-0326");
  EXPECT_EQ(static_cast<unsigned char>(v[VRK_VERSION_LEN]), 0x55);  // exactly 9 bytes
  EXPECT_EQ(VRK_GetVersion(nullptr), VRK_ERR_ARGUMENTS);
}
