// Record sizes and offsets are storage and wire formats; pin them, and check
// that the PKCS#11 header has the standard's layout on this platform.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "pkcs11/pkcs11.h"
#include "zeb/adapters.h"
#include "zeb/login_config.h"
#include "zeb/se_services.h"
#include "zeb/swhsm_services.h"
#include "zeb/sync.h"
#include "zeb/vrk.h"

TEST(RecordLayout, DeviceRecords) {
  EXPECT_EQ(sizeof(ZEB_DEVICE_VERSION), 3u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_INFO), 76u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_POLICY), 8u);
  EXPECT_EQ(sizeof(VRK_HSM_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_INFO), 76u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_POLICY), 8u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO), 100u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TKN_USER_LIST), 260u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_OBJECT_META), 96u);
  EXPECT_EQ(offsetof(ZEB_DEVICE_OBJECT_META, u64ObjKeyUsage), 80u);
  EXPECT_EQ(offsetof(ZEB_DEVICE_OBJECT_META, u32DataLen), 88u);
  EXPECT_EQ(sizeof(DA_Functions_t), 8u + 47u * 8u);
}

TEST(RecordLayout, StoreRecords) {
  EXPECT_EQ(sizeof(PERSISTENCY_INPUT), 36u);
  EXPECT_EQ(sizeof(STO_SEOBJ), 80u);
  EXPECT_EQ(sizeof(STO_SEOBJ_LIST), 40968u);
  EXPECT_EQ(sizeof(STO_KEY_STORE_GROUP), 4u);
  EXPECT_EQ(sizeof(STO_LAYOUT), 136u);
  EXPECT_EQ(sizeof(SA_Functions_t), 8u + 13u * 8u);
}

TEST(RecordLayout, CoreRecords) {
  EXPECT_EQ(sizeof(HSM_LOGIN_CONFIG), 84u);
  EXPECT_EQ(sizeof(CryptoAdapterCtx), 7240u);
  EXPECT_EQ(sizeof(VRK_SESS_OBJECT), 16u);
  EXPECT_EQ(sizeof(VRK_SESSION_CTX), 11392u);
  EXPECT_EQ(sizeof(SynchronizeFunc_t), 9u * 8u);
  EXPECT_EQ(sizeof(SE_DEVICE), 88u);
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
