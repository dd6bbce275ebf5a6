// Storage operations table and the store records.
//
// The layouts are storage formats: the software store writes STO_SEOBJ_LIST to
// a file as it stands, and the secure-element middleware sends these records to
// the device. Host byte order (little-endian).
#pragma once

#include "zeb/vrk_types.h"

typedef uint32_t STO_HANDLE;

// zeb_store_function_type: note the opposite sense of the device selector.
typedef uint32_t zeb_store_function_type;
enum : uint32_t { SWStore_FUNCTIONS = 0, FWStore_FUNCTIONS = 1 };

// Which token a store call is about.
typedef struct PERSISTENCY_INPUT {
  STO_HANDLE hSession;
  uint8_t HsmSn[16];
  uint8_t TknId[16];
} PERSISTENCY_INPUT;
typedef PERSISTENCY_INPUT* PERSISTENCY_INPUT_PTR;

// One object-list entry.
typedef struct STO_SEOBJ {
  uint8_t Res[4];
  uint32_t ObjIndex;
  uint8_t TknId[16];
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

typedef struct STO_TKN_OBJECT_CONFIG_PATH {
  char path[128];
} STO_TKN_OBJECT_CONFIG_PATH;

static_assert(sizeof(PERSISTENCY_INPUT) == 36);
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
static_assert(sizeof(STO_TKN_OBJECT_CONFIG_PATH) == 128);

// The storage operations table: a type word, then 13 operations.
typedef struct SA_Functions_t {
  zeb_store_function_type func_type;
  uint32_t (*S_GetStorageInfo)(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pStorageStatus,
                               STO_LAYOUT* pTotalLayout, STO_LAYOUT* pFreeLayout);
  uint32_t (*S_SetLayout)(PERSISTENCY_INPUT_PTR pStoInput, STO_LAYOUT* pInputLayout,
                          STO_LAYOUT* pOutputLayout);
  uint32_t (*S_Initialize)(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf);
  uint32_t (*S_CreateTokenStorage)(PERSISTENCY_INPUT_PTR pStoInput);
  uint32_t (*S_CreateObject)(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjIndex, uint8_t* pObject,
                             uint32_t u32ObjectLen, STO_SEOBJ* pEntry);
  uint32_t (*S_UpdateObject)(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint8_t* pObject,
                             uint32_t u32ObjectLen, STO_SEOBJ* pEntry);
  uint32_t (*S_DeleteObject)(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex);
  uint32_t (*S_DeleteObjList)(PERSISTENCY_INPUT_PTR pStoInput);
  uint32_t (*S_DeleteObjDir)(PERSISTENCY_INPUT_PTR pStoInput);
  uint32_t (*S_GetObjectSize)(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint32_t* pu32ObjectLen);
  uint32_t (*S_GetObject)(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint8_t* pObject,
                          uint32_t* pu32ObjectLen);
  uint32_t (*S_SaveObjectList)(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pList);
  uint32_t (*S_LoadObjectList)(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pList);
} SA_Functions_t;

static_assert(sizeof(SA_Functions_t) == 8 + 13 * sizeof(void*));
