// Fixed-layout records of the core service's API: HSM, token and session
// information, token user lists, the object header and the store's object
// list and layout. The layouts are storage formats (device objects carry
// ZEB_DEVICE_OBJECT_META; the software store writes STO_SEOBJ_LIST to a file
// as it stands; the secure-element middleware sends these records to the
// device). Host byte order (little-endian).
#pragma once

#include "zeb/vrk_types.h"

// The device layer's serial numbers and token IDs: 16 bytes each, not
// terminated when full (arguments point at the first byte).
typedef uint8_t ZEB_DEVICE_HSM_SN;
typedef uint8_t ZEB_DEVICE_TOKEN_ID;
typedef uint8_t ZEB_DEVICE_TOKEN_SN;

// HSM states (HsmStatus of ZEB_DEVICE_HSM_INFO).
typedef uint8_t ZEB_DEVICE_HSM_STATUS;
enum : uint8_t {
  ZEB_DEVICE_HSM_UNINIT = 1,
  ZEB_DEVICE_HSM_CONTEXT_GENERATING = 2,
  ZEB_DEVICE_HSM_INITED = 3,
  ZEB_DEVICE_HSM_TAMPERED = 4,
  ZEB_DEVICE_HSM_ERASING = 5,
  ZEB_DEVICE_HSM_ERROR = 6,
};

// Token states.
enum : uint8_t {
  ZEB_DEVICE_TKN_UNINIT = 1,
  ZEB_DEVICE_TKN_SUPERUSER_INIT = 2,
  ZEB_DEVICE_TKN_NORMALUSER_INIT = 3,
  ZEB_DEVICE_TKN_NORMALUSER_LOCKED = 4,
  ZEB_DEVICE_TKN_TERMINATED = 5,
  ZEB_DEVICE_TKN_ERROR = 6,
  ZEB_DEVICE_TKN_IDLE = 7,
  ZEB_DEVICE_TKN_SUSPEND = 8,
};

typedef struct ZEB_DEVICE_HSM_INFO {
  uint8_t HsmType;
  ZEB_DEVICE_HSM_STATUS HsmStatus;
  uint8_t Reserved[2];
  ZEB_DEVICE_HSM_SN HsmSn[16];
  uint8_t HsmLabel[32];
  uint8_t FwVersion[16];
  uint32_t u32TokenCount;
  uint32_t u32MaxTokenCount;
} ZEB_DEVICE_HSM_INFO;

typedef struct ZEB_DEVICE_TOKEN_INFO {
  ZEB_DEVICE_TOKEN_SN TknSn[16];
  uint8_t TknStatus;
  uint8_t Reserved[3];
  ZEB_DEVICE_TOKEN_ID TknId[16];
  uint8_t TknLabel[32];
  uint8_t SuperUserLoginFailCount;
  uint8_t MaxSuperUserLoginFailCount;
  uint8_t NormalUserLoginFailCount;
  uint8_t MaxNormalUserLoginFailCount;
  uint8_t SessionCount;
  uint8_t MaxSessionCount;
  uint8_t Reserved2[2];
} ZEB_DEVICE_TOKEN_INFO;

typedef struct ZEB_DEVICE_TOKEN_POLICY {
  uint8_t SuperUserLoginFailCount;
  uint8_t MaxSuperUserLoginFailCount;
  uint8_t NormalUserLoginFailCount;
  uint8_t MaxNormalUserLoginFailCount;
  uint8_t Reserved[4];
} ZEB_DEVICE_TOKEN_POLICY;

typedef struct ZEB_DEVICE_TOKEN_SESSION_INFO {
  uint8_t SessStatus;
  uint8_t Res[3];
  ZEB_DEVICE_HSM_SN HsmSn[16];
  uint8_t HsmLabel[32];
  ZEB_DEVICE_TOKEN_ID TknId[16];
  uint8_t TknLabel[32];
} ZEB_DEVICE_TOKEN_SESSION_INFO;

typedef struct ZEB_DEVICE_TKN_USER_LIST {
  ZEB_DEVICE_TOKEN_ID TknId[4][16];
  uint8_t TknLabel[4][32];
  ZEB_DEVICE_TOKEN_SN TknSn[4][16];
  uint8_t TknNum;  // entries in use, at most 4
  uint8_t TknSeq;  // change counter
  uint8_t Res[2];
} ZEB_DEVICE_TKN_USER_LIST;

// The 96-byte header at the start of every device object. Host byte order.
typedef struct ZEB_DEVICE_OBJECT_META {
  uint8_t Version[2];  // 1, 0
  uint8_t ObjMac;      // VRK_MAC_*
  uint8_t ObjEnc;      // VRK_ENC_*
  ZEB_DEVICE_TOKEN_ID TknId[16];
  uint8_t ObjId[16];
  uint8_t ObjLabel[32];
  uint8_t ObjType;     // VRK_OBJ_*
  uint8_t ObjKeyAlgo;  // VRK_KEY_*
  uint8_t Res[2];
  uint32_t Res2;
  uint32_t u32ObjExtIndex;  // 0xFFFFFFFF: no extension object
  uint64_t u64ObjKeyUsage;
  uint32_t u32DataLen;      // context length
  uint8_t Pad[4];           // zero
} ZEB_DEVICE_OBJECT_META;

inline constexpr uint32_t ZEB_OBJ_NO_EXTENSION = 0xFFFFFFFFu;

// One object-list entry.
typedef struct STO_SEOBJ {
  uint8_t Res[4];
  uint32_t ObjIndex;
  ZEB_DEVICE_TOKEN_ID TknId[16];
  uint8_t ObjId[16];
  uint8_t ObjLabel[32];
  uint8_t ObjType;
  uint8_t ObjKeyAlgo;
  uint8_t Res2[2];
  uint32_t u32DataLen;
} STO_SEOBJ;

inline constexpr size_t STO_MAX_OBJECTS = 512;

typedef struct STO_SEOBJ_LIST {
  STO_SEOBJ seobj_array[512];
  uint32_t ObjNum;  // entries in use
  uint32_t ObjSeq;  // change counter
} STO_SEOBJ_LIST;

// STO_LAYOUT_* object kinds of a key-store group.
enum : uint8_t {
  STO_LAYOUT_UNKNOWN = 0,
  STO_LAYOUT_AES = 1,
  STO_LAYOUT_ECC_PUB = 2,
  STO_LAYOUT_ECC_PRIV = 3,
  STO_LAYOUT_RSA_PUB = 4,
  STO_LAYOUT_RSA_PRIV = 5,
  STO_LAYOUT_CERT = 6,
  STO_LAYOUT_EXTENSION = 7,
};

typedef struct STO_KEY_STORE_GROUP {
  uint8_t obj_type;
  uint8_t obj_size_in_page;
  uint16_t obj_count;
} STO_KEY_STORE_GROUP;

typedef struct STO_LAYOUT {
  uint16_t total_pages;
  uint16_t uninit_pages;
  uint16_t key_store_obj_count;
  uint16_t uninit_key_store_obj_count;
  STO_KEY_STORE_GROUP key_store_group[32];
} STO_LAYOUT;

static_assert(sizeof(ZEB_DEVICE_HSM_SN) == 1 && sizeof(ZEB_DEVICE_TOKEN_ID) == 1 && sizeof(ZEB_DEVICE_TOKEN_SN) == 1);
static_assert(sizeof(ZEB_DEVICE_HSM_STATUS) == 1);
static_assert(sizeof(ZEB_DEVICE_HSM_INFO) == 76);
static_assert(offsetof(ZEB_DEVICE_HSM_INFO, HsmStatus) == 1);
static_assert(offsetof(ZEB_DEVICE_HSM_INFO, HsmSn) == 4);
static_assert(offsetof(ZEB_DEVICE_HSM_INFO, u32TokenCount) == 68);
static_assert(sizeof(ZEB_DEVICE_TOKEN_INFO) == 76);
static_assert(offsetof(ZEB_DEVICE_TOKEN_INFO, TknId) == 20);
static_assert(offsetof(ZEB_DEVICE_TOKEN_INFO, SuperUserLoginFailCount) == 68);
static_assert(sizeof(ZEB_DEVICE_TOKEN_POLICY) == 8);
static_assert(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO) == 100);
static_assert(offsetof(ZEB_DEVICE_TOKEN_SESSION_INFO, TknId) == 52);
static_assert(sizeof(ZEB_DEVICE_TKN_USER_LIST) == 260);
static_assert(offsetof(ZEB_DEVICE_TKN_USER_LIST, TknSn) == 192);
static_assert(offsetof(ZEB_DEVICE_TKN_USER_LIST, TknNum) == 256);
static_assert(sizeof(ZEB_DEVICE_OBJECT_META) == 96);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, TknId) == 4);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjId) == 20);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjLabel) == 36);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjType) == 68);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, Res2) == 72);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u32ObjExtIndex) == 76);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u64ObjKeyUsage) == 80);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u32DataLen) == 88);
static_assert(sizeof(STO_SEOBJ) == 80);
static_assert(offsetof(STO_SEOBJ, ObjIndex) == 4);
static_assert(offsetof(STO_SEOBJ, TknId) == 8);
static_assert(offsetof(STO_SEOBJ, ObjId) == 24);
static_assert(offsetof(STO_SEOBJ, ObjLabel) == 40);
static_assert(offsetof(STO_SEOBJ, ObjType) == 72);
static_assert(offsetof(STO_SEOBJ, u32DataLen) == 76);
static_assert(sizeof(STO_SEOBJ_LIST) == 40968);
static_assert(offsetof(STO_SEOBJ_LIST, ObjNum) == 40960);
static_assert(offsetof(STO_SEOBJ_LIST, ObjSeq) == 40964);
static_assert(sizeof(STO_KEY_STORE_GROUP) == 4);
static_assert(sizeof(STO_LAYOUT) == 136);
static_assert(offsetof(STO_LAYOUT, key_store_group) == 8);
