// Storage operations table and the store records.
//
// The object list and layout records are in zeb/vrk_records.h. Host byte
// order (little-endian).
#pragma once

#include "zeb/vrk_records.h"

typedef uint32_t STO_HANDLE;

// zeb_store_function_type: note the opposite sense of the device selector.
typedef uint32_t zeb_store_function_type;
enum : uint32_t { SWStore_FUNCTIONS = 0, FWStore_FUNCTIONS = 1 };

// Which token a store call is about.
typedef struct PERSISTENCY_INPUT {
  STO_HANDLE hSession;
  ZEB_DEVICE_HSM_SN HsmSn[16];
  ZEB_DEVICE_TOKEN_ID TknId[16];
} PERSISTENCY_INPUT;
typedef PERSISTENCY_INPUT* PERSISTENCY_INPUT_PTR;

typedef struct STO_TKN_OBJECT_CONFIG_PATH {
  char path[128];
} STO_TKN_OBJECT_CONFIG_PATH;

static_assert(sizeof(PERSISTENCY_INPUT) == 36);
static_assert(offsetof(PERSISTENCY_INPUT, TknId) == 20);
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
