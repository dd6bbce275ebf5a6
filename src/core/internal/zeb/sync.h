// Mutex operations table: the core reaches the system's mutexes only through it.
#pragma once

#include "zeb/vrk_types.h"

typedef struct SynchronizeFunc_t {
  uint32_t (*Create_Mutex)(VRK_VOID_PTR_PTR newMutex);
  uint32_t (*Destroy_Mutex)(VRK_VOID_PTR mutex);
  uint32_t (*Lock_Mutex)(VRK_VOID_PTR mutex);
  uint32_t (*Unlock_Mutex)(VRK_VOID_PTR mutex);
  uint32_t (*GetState_Mutex)(VRK_VOID_PTR mutex, VRK_UINT32_PTR mtxState);
  uint32_t (*Create_SYS_Mutex)(VRK_VOID_PTR_PTR newMutex);
  uint32_t (*Destroy_SYS_Mutex)(VRK_VOID_PTR mutex);
  uint32_t (*Lock_SYS_Mutex)(VRK_VOID_PTR mutex);
  uint32_t (*Unlock_SYS_Mutex)(VRK_VOID_PTR mutex);
} SynchronizeFunc_t;

static_assert(sizeof(SynchronizeFunc_t) == 9 * sizeof(void*));

extern "C" {

extern const SynchronizeFunc_t SynchronizeFunc;

[[nodiscard]] uint32_t Sync_CreateMtx(VRK_VOID_PTR_PTR newMutex);
[[nodiscard]] uint32_t Sync_DestroyMtx(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t Sync_Lock_Mtx(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t Sync_Unlock_Mtx(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t Sync_GetState_Mtx(VRK_VOID_PTR mutex, VRK_UINT32_PTR mtxState);
[[nodiscard]] uint32_t Sync_CreateSYSMtx(VRK_VOID_PTR_PTR newMutex);
[[nodiscard]] uint32_t Sync_DestroySYSMtx(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t Sync_LockSYSMtx(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t Sync_UnlockSYSMtx(VRK_VOID_PTR mutex);

[[nodiscard]] uint32_t CreateMtx_Lin(VRK_VOID_PTR_PTR newMutex);
[[nodiscard]] uint32_t DestroyMtx_Lin(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t LockMtx_Lin(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t UnlockMtx_Lin(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t GetMtxState_Lin(VRK_VOID_PTR mutex, VRK_UINT32_PTR mtxState);
[[nodiscard]] uint32_t CreateSYSMtx_Lin(VRK_VOID_PTR_PTR newMutex);
[[nodiscard]] uint32_t DestroySYSMtx_Lin(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t LockSYSMtx_Lin(VRK_VOID_PTR mutex);
[[nodiscard]] uint32_t UnlockSYSMtx_Lin(VRK_VOID_PTR mutex);

}  // extern "C"
