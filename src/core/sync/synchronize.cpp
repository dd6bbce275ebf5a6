// Mutex layer: the calling side forwards to the one operations table; the
// Linux implementation wraps heap-allocated, non-recursive POSIX mutexes.
#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "zeb/sync.h"

extern "C" {

const SynchronizeFunc_t SynchronizeFunc = {
    CreateMtx_Lin,    DestroyMtx_Lin,    LockMtx_Lin,    UnlockMtx_Lin,    GetMtxState_Lin,
    CreateSYSMtx_Lin, DestroySYSMtx_Lin, LockSYSMtx_Lin, UnlockSYSMtx_Lin,
};

uint32_t Sync_CreateMtx(VRK_VOID_PTR_PTR newMutex) { return SynchronizeFunc.Create_Mutex(newMutex); }
uint32_t Sync_DestroyMtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Destroy_Mutex(mutex); }
uint32_t Sync_Lock_Mtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Lock_Mutex(mutex); }
uint32_t Sync_Unlock_Mtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Unlock_Mutex(mutex); }
uint32_t Sync_GetState_Mtx(VRK_VOID_PTR mutex, VRK_UINT32_PTR mtxState) {
  return SynchronizeFunc.GetState_Mutex(mutex, mtxState);
}
uint32_t Sync_CreateSYSMtx(VRK_VOID_PTR_PTR newMutex) { return SynchronizeFunc.Create_SYS_Mutex(newMutex); }
uint32_t Sync_DestroySYSMtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Destroy_SYS_Mutex(mutex); }
uint32_t Sync_LockSYSMtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Lock_SYS_Mutex(mutex); }
uint32_t Sync_UnlockSYSMtx(VRK_VOID_PTR mutex) { return SynchronizeFunc.Unlock_SYS_Mutex(mutex); }

uint32_t CreateMtx_Lin(VRK_VOID_PTR_PTR newMutex) {
  if (newMutex == nullptr) return VRK_ERR_ARGUMENTS;
  auto* m = new (std::nothrow) pthread_mutex_t;
  if (m == nullptr) return VRK_ERR_HOST_MEMORY;
  if (pthread_mutex_init(m, nullptr) != 0) {
    delete m;
    return VRK_ERR_GENERAL;
  }
  *newMutex = m;
  return VRK_OK;
}

uint32_t DestroyMtx_Lin(VRK_VOID_PTR mutex) {
  if (mutex == nullptr) return VRK_ERR_ARGUMENTS;
  auto* m = static_cast<pthread_mutex_t*>(mutex);
  // glibc destroys a locked default mutex without complaint; refuse it here so
  // that a mutex still in use is never freed under its holder.
  if (pthread_mutex_trylock(m) != 0) {
    std::fprintf(stderr, "strerror(rv) = %s\n", std::strerror(EBUSY));
    return EBUSY;
  }
  pthread_mutex_unlock(m);
  const int rv = pthread_mutex_destroy(m);
  if (rv != 0) {
    std::fprintf(stderr, "strerror(rv) = %s\n", std::strerror(rv));
    return static_cast<uint32_t>(rv);
  }
  delete m;
  return VRK_OK;
}

uint32_t LockMtx_Lin(VRK_VOID_PTR mutex) {
  if (mutex == nullptr) return VRK_ERR_ARGUMENTS;
  return pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex)) == 0 ? VRK_OK : VRK_ERR_GENERAL;
}

uint32_t UnlockMtx_Lin(VRK_VOID_PTR mutex) {
  if (mutex == nullptr) return VRK_ERR_ARGUMENTS;
  uint32_t state = VRK_MUTEX_UNKNOWN;
  const uint32_t rv = GetMtxState_Lin(mutex, &state);
  // An unreadable state is reported, not guessed: unlocking a mutex the
  // caller does not hold is undefined.
  if (rv != VRK_OK) return rv;
  if (state != VRK_MUTEX_LOCK) return VRK_OK;
  return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex)) == 0 ? VRK_OK : VRK_ERR_GENERAL;
}

uint32_t GetMtxState_Lin(VRK_VOID_PTR mutex, VRK_UINT32_PTR mtxState) {
  if (mutex == nullptr || mtxState == nullptr) return VRK_ERR_ARGUMENTS;
  auto* m = static_cast<pthread_mutex_t*>(mutex);
  const int rv = pthread_mutex_trylock(m);
  if (rv == 0) {
    pthread_mutex_unlock(m);
    *mtxState = VRK_MUTEX_UNLOCK;
    return VRK_OK;
  }
  if (rv == EBUSY) {
    *mtxState = VRK_MUTEX_LOCK;
    return VRK_OK;
  }
  return VRK_ERR_GENERAL;
}

uint32_t CreateSYSMtx_Lin(VRK_VOID_PTR_PTR) { return VRK_OK; }
uint32_t DestroySYSMtx_Lin(VRK_VOID_PTR) { return VRK_OK; }
uint32_t LockSYSMtx_Lin(VRK_VOID_PTR) { return VRK_OK; }
uint32_t UnlockSYSMtx_Lin(VRK_VOID_PTR) { return VRK_OK; }

}  // extern "C"
