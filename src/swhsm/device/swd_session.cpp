// Device sessions: the 20-slot table, login-state bits, login checks, the
// session software key and key re-wrapping between token and session keys.
#include <atomic>
#include <mutex>

#include "provider/swc_internal.h"
#include "swd_internal.h"

namespace swd {

namespace {
// Handles are read without a lock by every lookup, so they are atomic; a
// slot's record belongs to whoever holds the slot's mutex (SessionPin).
// Opens claim slots under g_open_mutex.
std::atomic<ZEB_DEVICE_HANDLE> g_hSessTkn[SWD_MAX_SESSIONS];
ZEB_DEVICE_TOKEN_SESSION_INFO g_TknSessInfo[SWD_MAX_SESSIONS];
std::recursive_mutex g_slot_mutex[SWD_MAX_SESSIONS];
std::mutex g_open_mutex;

bool slot_ok(uint8_t slot) { return slot < SWD_MAX_SESSIONS; }

int free_slot() {
  for (size_t i = 0; i < SWD_MAX_SESSIONS; ++i) {
    if (g_hSessTkn[i].load() == 0) return static_cast<int>(i);
  }
  return -1;
}

// Claims a free slot for a new session with a fresh handle, fills its record
// through `fill` and only then publishes the handle (so no lookup meets a
// half-made session). SWD_ERR_HSM_SESS_FULL-style codes are the caller's:
// -1 when no slot is free, -2 when no handle could be drawn.
template <class Fill>
int open_slot(ZEB_DEVICE_HANDLE_PTR out, Fill fill) {
  std::lock_guard<std::mutex> guard(g_open_mutex);
  const int s = free_slot();
  if (s < 0) return -1;
  uint32_t taken[SWD_MAX_SESSIONS];
  for (size_t i = 0; i < SWD_MAX_SESSIONS; ++i) taken[i] = g_hSessTkn[i].load();
  uint32_t h = 0;
  if (!random_handle(&h, taken, SWD_MAX_SESSIONS)) return -2;
  std::lock_guard<std::recursive_mutex> slot_guard(g_slot_mutex[s]);
  fill(static_cast<uint8_t>(s));
  g_hSessTkn[s].store(h);
  *out = h;
  return s;
}

uint32_t check_bits(ZEB_DEVICE_HANDLE h, uint8_t bit) {
  const SessionPin pin(h);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  return (pin.info().SessStatus & bit) != 0 ? 0 : SWD_ERR_NOT_LOGGED_IN;
}

bool session_key(ZEB_DEVICE_HANDLE h, uint8_t key[SWD_KEY_LEN]) { return session_key_digest(h, key); }

// The key-blob transform (AES-256-CTR, the same in both directions).
bool transform(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out) {
  if (len == 0) return true;
  uint8_t iv[16];
  uint8_t k[SWD_KEY_LEN];
  std::memcpy(k, key, sizeof k);
  const bool ok = keyblob_crypt(k, SWD_KEY_LEN, 2, iv, const_cast<uint8_t*>(in), len, out) == 0;
  quarzel::secure_wipe(k, sizeof k);
  return ok;
}

// Moves a key blob from one wrapping key to another through wiped memory.
bool rewrap(const uint8_t* from_key, const uint8_t* to_key, const uint8_t* in, uint32_t len, uint8_t* out) {
  quarzel::SecretBytes plain;
  if (!quarzel::try_assign(plain, len)) return false;
  return transform(from_key, in, len, plain.data()) && transform(to_key, plain.data(), len, out);
}
}  // namespace

int session_slot(ZEB_DEVICE_HANDLE h) {
  if (h == 0) return -1;  // 0 marks a free slot, never a session
  for (size_t i = 0; i < SWD_MAX_SESSIONS; ++i) {
    if (g_hSessTkn[i].load() == h) return static_cast<int>(i);
  }
  return -1;
}

SessionPin::SessionPin(ZEB_DEVICE_HANDLE h) noexcept {
  const int s = session_slot(h);
  if (s < 0) return;
  g_slot_mutex[s].lock();
  // Closed (and perhaps reopened) while we waited: not this session.
  if (g_hSessTkn[s].load() != h) {
    g_slot_mutex[s].unlock();
    return;
  }
  slot_ = s;
}

SessionPin::~SessionPin() {
  if (slot_ >= 0) g_slot_mutex[slot_].unlock();
}

SlotLock::SlotLock(int slot) noexcept : slot_(slot) { g_slot_mutex[slot_].lock(); }
SlotLock::~SlotLock() { g_slot_mutex[slot_].unlock(); }

ZEB_DEVICE_TOKEN_SESSION_INFO* session_info(int slot) {
  return slot >= 0 && static_cast<size_t>(slot) < SWD_MAX_SESSIONS ? &g_TknSessInfo[slot] : nullptr;
}

void close_all_sessions() {
  for (size_t i = 0; i < SWD_MAX_SESSIONS; ++i) {
    std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[i]);
    forget_session_keys(static_cast<int>(i));
    g_hSessTkn[i].store(0);
  }
}

}  // namespace swd

using namespace swd;

// ---- Slot operations -------------------------------------------------------

extern "C" uint32_t _swdev_SetHsmSessInfo(uint8_t slot, uint8_t status, const ZEB_DEVICE_HSM_SN* HsmSn,
                                          const uint8_t* HsmLabel) {
  if (!slot_ok(slot)) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  forget_session_keys(slot);
  ZEB_DEVICE_TOKEN_SESSION_INFO& r = g_TknSessInfo[slot];
  const uint8_t old = r.SessStatus;
  std::memset(&r, 0, sizeof r);
  if (HsmSn != nullptr) std::memcpy(r.HsmSn, HsmSn, 16);
  if (HsmLabel != nullptr) std::memcpy(r.HsmLabel, HsmLabel, 32);
  r.SessStatus = status == ZEB_DEVICE_SESS_IDLE ? uint8_t{ZEB_DEVICE_SESS_IDLE} : static_cast<uint8_t>(old | status);
  return 0;
}

extern "C" uint32_t _swdev_GetHsmSessInfo(uint8_t slot, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo) {
  if (!slot_ok(slot) || pInfo == nullptr) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  *pInfo = g_TknSessInfo[slot];
  return 0;
}

extern "C" uint32_t _swdev_SetHsmSessStatus(uint8_t slot, uint8_t status) {
  if (!slot_ok(slot)) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  forget_session_keys(slot);
  uint8_t& s = g_TknSessInfo[slot].SessStatus;
  s = status == ZEB_DEVICE_SESS_IDLE ? uint8_t{ZEB_DEVICE_SESS_IDLE} : static_cast<uint8_t>(s | status);
  return 0;
}

extern "C" uint32_t _swdev_GetHsmSessStatus(uint8_t slot, uint8_t* pStatus) {
  if (!slot_ok(slot) || pStatus == nullptr) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  *pStatus = g_TknSessInfo[slot].SessStatus;
  return 0;
}

extern "C" int _swdev_GetHsmSessionIndex(ZEB_DEVICE_HANDLE handle) { return session_slot(handle); }

extern "C" uint32_t _swdev_SetTokenSessInfo(uint8_t slot, uint8_t status, const char* TknId, const char* TknLabel) {
  if (!slot_ok(slot)) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  forget_session_keys(slot);
  ZEB_DEVICE_TOKEN_SESSION_INFO& r = g_TknSessInfo[slot];
  std::memset(&r, 0, sizeof r);
  r.SessStatus = status;
  if (TknId != nullptr) std::memcpy(r.TknId, TknId, text_len(reinterpret_cast<const uint8_t*>(TknId), 16));
  if (TknLabel != nullptr) {
    std::memcpy(r.TknLabel, TknLabel, text_len(reinterpret_cast<const uint8_t*>(TknLabel), 32));
  }
  return 0;
}

extern "C" uint32_t _swdev_GetTokenSessInfo(uint8_t slot, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo) {
  return _swdev_GetHsmSessInfo(slot, pInfo);
}

extern "C" uint32_t _swdev_SetTokenSessStatus(uint8_t slot, uint8_t status) {
  if (!slot_ok(slot)) return SWD_ERR_SESSION_HANDLE;
  std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot]);
  forget_session_keys(slot);
  g_TknSessInfo[slot].SessStatus = status;
  return 0;
}

extern "C" uint32_t _swdev_GetTokenSessStatus(uint8_t slot, uint8_t* pStatus) {
  return _swdev_GetHsmSessStatus(slot, pStatus);
}

extern "C" int _swdev_GetTokenSessionIndex(ZEB_DEVICE_HANDLE handle) { return session_slot(handle); }

extern "C" uint32_t _swdev_getSessionCount(uint8_t* pCount) {
  if (pCount == nullptr) return SWD_ERR_NULL;
  uint8_t n = 0;
  for (const auto& h : g_hSessTkn) n = static_cast<uint8_t>(n + (h.load() != 0));
  *pCount = n;
  return 0;
}

// ---- Login checks ----------------------------------------------------------

extern "C" uint32_t _swdev_checkHSMAdminLoggedIn(ZEB_DEVICE_HANDLE hSession) {
  return check_bits(hSession, ZEB_DEVICE_SESS_HSMADMIN_LOGIN);
}

extern "C" uint32_t _swdev_checkTokenSuperUserLoggedIn(ZEB_DEVICE_HANDLE hSession) {
  return check_bits(hSession, ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN);
}

extern "C" uint32_t _swdev_checkTokenNormalUserLoggedIn(ZEB_DEVICE_HANDLE hSession) {
  return check_bits(hSession, ZEB_DEVICE_SESS_TOKENUSER_LOGIN);
}

extern "C" uint32_t _swdev_checkSessionIdle(ZEB_DEVICE_HANDLE hSession) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  return pin.info().SessStatus == ZEB_DEVICE_SESS_IDLE ? 0 : SWD_ERR_NOT_IDLE;
}

// ---- Table operations ------------------------------------------------------

extern "C" uint32_t SWD_OpenHsmSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_FAILED;
  if (phHsmSession == nullptr) return SWD_ERR_ARGUMENTS;
  const ZEB_DEVICE_HSM_INFO hsm = hsm_info();
  const int s = open_slot(phHsmSession, [&](uint8_t slot) {
    (void)_swdev_SetHsmSessInfo(slot, ZEB_DEVICE_SESS_IDLE, hsm.HsmSn, hsm.HsmLabel);  // a held slot: cannot fail
  });
  if (s == -1) return SWD_ERR_HSM_SESS_FULL;
  return s < 0 ? SWD_ERR_FAILED : 0;
}

extern "C" uint32_t SWD_CloseHsmSession(ZEB_DEVICE_HANDLE hHsmSession) {
  const SessionPin pin(hHsmSession);
  if (!pin) return SWD_ERR_FAILED;
  // A held slot: the updates below cannot fail.
  (void)_swdev_SetHsmSessInfo(static_cast<uint8_t>(pin.slot()), ZEB_DEVICE_SESS_IDLE, nullptr, nullptr);
  g_hSessTkn[pin.slot()].store(0);
  return 0;
}

extern "C" uint32_t SWD_GetHsmSessInfo(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pHsmSessionInfo) {
  const SessionPin pin(hHsmSession);
  if (!pin) return SWD_ERR_FAILED;
  if (pHsmSessionInfo == nullptr) return SWD_ERR_ARGUMENTS;
  *pHsmSessionInfo = pin.info();
  return 0;
}

extern "C" uint32_t SWD_OpenTokenSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID,
                                         ZEB_DEVICE_HANDLE_PTR phSession) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_FAILED;
  if (TknID == nullptr || phSession == nullptr) return SWD_ERR_ARGUMENTS;
  char id[17] = {};
  std::memcpy(id, TknID, text_len(TknID, 16));
  Wiped<TKN_USER_CFG> cfg;
  if (_swdev_GetTokenUserCFG(id, cfg.get()) != 0) return SWD_ERR_FAILED;
  char label[33] = {};
  std::memcpy(label, cfg.Label, text_len(cfg.Label, 32));
  // The configuration was read just now and nothing in it changes: it is not
  // written back (a rewrite of identical content would only cost a synced
  // write of the file that holds the token's keys).
  const int s = open_slot(phSession, [&](uint8_t slot) {
    (void)_swdev_SetTokenSessInfo(slot, ZEB_DEVICE_SESS_IDLE, id, label);  // a held slot: cannot fail
  });
  return s < 0 ? SWD_ERR_FAILED : 0;
}

extern "C" uint32_t SWD_CloseTokenSession(ZEB_DEVICE_HANDLE hSession) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_FAILED;
  const ZEB_DEVICE_TOKEN_SESSION_INFO& r = pin.info();
  char id[17] = {}, label[33] = {};
  std::memcpy(id, r.TknId, 16);
  std::memcpy(label, r.TknLabel, 32);
  // A held slot: the update cannot fail.
  (void)_swdev_SetTokenSessInfo(static_cast<uint8_t>(pin.slot()), ZEB_DEVICE_SESS_IDLE, id, label);
  g_hSessTkn[pin.slot()].store(0);
  return 0;
}

extern "C" uint32_t SWD_GetTokenSessionInfo(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pSessionInfo) {
  return SWD_GetHsmSessInfo(hSession, pSessionInfo);
}

extern "C" uint32_t SWD_GenSwKey(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t* pu32SwKeyLen) {
  if (session_slot(hSession) < 0) return SWD_ERR_FAILED;
  if (pSwKey == nullptr || pu32SwKeyLen == nullptr) return SWD_ERR_ARGUMENTS;
  quarzel::SecretArray<SWD_KEY_LEN> key;
  if (!session_key(hSession, key.data())) return SWD_ERR_FAILED;
  std::memcpy(pSwKey, key.data(), SWD_KEY_LEN);
  *pu32SwKeyLen = SWD_KEY_LEN;
  return 0;
}

extern "C" uint32_t SWD_SetTknKey2Sw(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen,
                                     uint8_t* pSwKey, uint32_t* pu32SwKeyLen) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_FAILED;
  uint32_t rc = _swdev_checkTokenNormalUserLoggedIn(hSession);
  if (rc != 0) return rc;
  if ((pTknKey == nullptr && u32TknKeyLen != 0) || pSwKey == nullptr || pu32SwKeyLen == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  quarzel::SecretArray<SWD_KEY_LEN> mk;
  if (session_token_keys(pin, nullptr, mk.data()) != 0) return SWD_ERR_FAILED;
  quarzel::SecretArray<SWD_KEY_LEN> sw;
  if (!session_key(hSession, sw.data())) return SWD_ERR_KEY_WRAP;
  if (!rewrap(mk.data(), sw.data(), pTknKey, u32TknKeyLen, pSwKey)) return SWD_ERR_KEY_WRAP;
  *pu32SwKeyLen = u32TknKeyLen;
  return 0;
}

extern "C" uint32_t SWD_SetSwKey2Tkn(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen,
                                     uint8_t* pTknKey, uint32_t* pu32TknKeyLen) {
  const SessionPin pin(hSession);
  uint32_t rc = _swdev_checkTokenNormalUserLoggedIn(hSession);
  if (rc != 0) return rc;
  if (!pin) return SWD_ERR_FAILED;
  if ((pSwKey == nullptr && u32SwKeyLen != 0) || pTknKey == nullptr || pu32TknKeyLen == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  quarzel::SecretArray<SWD_KEY_LEN> mk;
  if (session_token_keys(pin, nullptr, mk.data()) != 0) return SWD_ERR_FAILED;
  quarzel::SecretArray<SWD_KEY_LEN> sw;
  if (!session_key(hSession, sw.data())) return SWD_ERR_FAILED;
  if (!rewrap(sw.data(), mk.data(), pSwKey, u32SwKeyLen, pTknKey)) return SWD_ERR_FAILED;
  *pu32TknKeyLen = u32SwKeyLen;
  return 0;
}
