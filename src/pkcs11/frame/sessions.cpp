// The session table: 20 entries, each standing on one core token session.
// One lock guards the table; core calls are made outside it, with the entry
// reserved (its core handle set, its session handle still 0) so that no other
// thread can take or find it meanwhile. A session's cryptographic operation
// ends with it, however it ends.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include "crypto/operation.h"
#include "frame/frame_internal.h"
#include "frame/tables.h"

namespace {

bool in_use(const ZEBP11_SESSION_INFO& e) noexcept { return e.hSess != 0 && e.hVRK != 0; }

// The open session with this handle; the caller holds the lock.
ZEBP11_SESSION_INFO* find_locked(CK_SESSION_HANDLE h) noexcept {
  if (h == CK_INVALID_HANDLE) return nullptr;
  for (auto& e : p11_sess_table.entries) {
    if (in_use(e) && e.hSess == h) return &e;
  }
  return nullptr;
}

// Runs `f` on the session's entry under the lock.
template <class F>
CK_RV with_session(CK_SESSION_HANDLE h, F&& f) noexcept {
  std::lock_guard lock(p11_sess_table.mutex);
  ZEBP11_SESSION_INFO* e = find_locked(h);
  if (e == nullptr) return CKR_SESSION_HANDLE_INVALID;
  f(*e);
  return CKR_OK;
}

template <class Pred>
bool any_session(Pred&& pred) noexcept {
  std::lock_guard lock(p11_sess_table.mutex);
  for (const auto& e : p11_sess_table.entries) {
    if (in_use(e) && pred(e)) return true;
  }
  return false;
}

// Closes a core session that no entry names any more; its failure only
// reported, since the caller already has a result to return.
void close_core_session(VRK_HANDLE hVRK, const zebp11::Site& site) noexcept {
  const VRK_RV rv = VRK_CloseTokenSession(hVRK);
  if (rv != VRK_OK) zebp11::red_line(site, rv);
}

// Draws a session handle for a reserved entry and makes the entry an open
// session with it: up to 10 draws from the core session's random generator,
// throwing away 0 and handles already in use.
CK_RV gen_session_handle(size_t slot, VRK_HANDLE hVRK, const ZEBP11_SESSION_INFO& fill,
                         CK_SESSION_HANDLE* out) noexcept {
  for (int draw = 0; draw < 10; ++draw) {
    uint8_t bytes[8] = {};
    P11_TRY_CORE(VRK_GenerateRandom(hVRK, sizeof bytes, bytes));
    CK_SESSION_HANDLE candidate = 0;
    for (int i = 7; i >= 0; --i) candidate = (candidate << 8) | bytes[i];  // little-endian
    std::lock_guard lock(p11_sess_table.mutex);
    if (candidate == CK_INVALID_HANDLE || find_locked(candidate) != nullptr) continue;
    ZEBP11_SESSION_INFO& e = p11_sess_table.entries[slot];
    e = fill;
    e.hSess = candidate;
    *out = candidate;
    return CKR_OK;
  }
  return CKR_SESSION_HANDLE_INVALID;
}

}  // namespace

void P11_CloseEverySession() noexcept {
  std::array<VRK_HANDLE, P11_MAX_SESSIONS> open{};
  std::array<CK_SESSION_HANDLE, P11_MAX_SESSIONS> handles{};
  {
    std::lock_guard lock(p11_sess_table.mutex);
    for (size_t i = 0; i < P11_MAX_SESSIONS; ++i) {
      open[i] = p11_sess_table.entries[i].hVRK;
      handles[i] = p11_sess_table.entries[i].hSess;
      reset_p11_session_entry(p11_sess_table.entries[i]);
    }
  }
  for (size_t i = 0; i < P11_MAX_SESSIONS; ++i) {
    if (handles[i] != CK_INVALID_HANDLE) P11_EndSessionOperation(handles[i]);
    if (open[i] != 0) close_core_session(open[i], ZEBP11_SITE);
  }
}

CK_RV P11_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE* phSession) noexcept {
  VRK_UCHAR tknId[P11_TOKEN_ID_LEN] = {};
  if (P11_SlotIDtoVRKTokenID(slotID, tknId) != CKR_OK) return CKR_SESSION_COUNT;
  VRK_HANDLE hVRK = 0;
  P11_TRY_CORE(VRK_OpenTokenSession(P11_GetHsmHandle(), tknId, &hVRK));

  // Reserve the first free entry; with none, the core session goes again.
  size_t slot = P11_MAX_SESSIONS;
  {
    std::lock_guard lock(p11_sess_table.mutex);
    for (size_t i = 0; i < P11_MAX_SESSIONS; ++i) {
      if (p11_sess_table.entries[i].hVRK == 0) {
        slot = i;
        p11_sess_table.entries[i].hVRK = hVRK;
        break;
      }
    }
  }
  if (slot == P11_MAX_SESSIONS) {
    close_core_session(hVRK, ZEBP11_SITE);
    return CKR_SESSION_COUNT;
  }

  ZEBP11_SESSION_INFO fill{};
  fill.hVRK = hVRK;
  std::memcpy(fill.TknId, tknId, sizeof fill.TknId);
  fill.SessInfo.slotID = slotID;
  fill.SessInfo.flags = flags;
  fill.SessInfo.state = (flags & CKF_RW_SESSION) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
  fill.SessInfo.ulDeviceError = 0;
  fill.Mech = P11_MECH_NONE;

  zebp11::log_trace(ZEBP11_SITE);
  const CK_RV rv = gen_session_handle(slot, hVRK, fill, phSession);
  if (rv != CKR_OK) {
    zebp11::log_failure(ZEBP11_SITE, rv);
    {
      std::lock_guard lock(p11_sess_table.mutex);
      reset_p11_session_entry(p11_sess_table.entries[slot]);
    }
    close_core_session(hVRK, ZEBP11_SITE);
  }
  return rv;
}

CK_RV P11_CloseSession(CK_SESSION_HANDLE hSession) noexcept {
  // Detach the entry (it keeps its core handle, so it stays reserved) while
  // the core closes its session; a failed close puts it back, still open.
  ZEBP11_SESSION_INFO* e = nullptr;
  VRK_HANDLE hVRK = 0;
  {
    std::lock_guard lock(p11_sess_table.mutex);
    e = find_locked(hSession);
    if (e == nullptr) return CKR_SESSION_HANDLE_INVALID;
    hVRK = e->hVRK;
    e->hSess = 0;
  }
  // Its operation ends with the session, while the core session still runs.
  P11_EndSessionOperation(hSession);
  const VRK_RV rv = VRK_CloseTokenSession(hVRK);
  std::lock_guard lock(p11_sess_table.mutex);
  if (rv != VRK_OK) {
    zebp11::red_line(ZEBP11_SITE, rv);
    e->hSess = hSession;
    e->Mech = P11_MECH_NONE;
    return zebp11::ck_rv(rv);
  }
  reset_p11_session_entry(*e);
  return CKR_OK;
}

CK_RV P11_CloseAllSession(CK_SLOT_ID slotID) noexcept {
  std::array<CK_SESSION_HANDLE, P11_MAX_SESSIONS> handles{};
  {
    std::lock_guard lock(p11_sess_table.mutex);
    for (size_t i = 0; i < P11_MAX_SESSIONS; ++i) {
      const auto& e = p11_sess_table.entries[i];
      if (in_use(e) && e.SessInfo.slotID == slotID) handles[i] = e.hSess;
    }
  }
  for (CK_SESSION_HANDLE h : handles) {
    if (h == CK_INVALID_HANDLE) continue;
    const CK_RV rv = P11_CloseSession(h);
    // A session another thread closed meanwhile is no failure of this call.
    if (rv != CKR_OK && rv != CKR_SESSION_HANDLE_INVALID) {
      zebp11::log_failure(ZEBP11_SITE, rv);
      return rv;
    }
  }
  return CKR_OK;
}

CK_RV P11_CheckSessionExists(CK_SESSION_HANDLE hSession) noexcept {
  return with_session(hSession, [](ZEBP11_SESSION_INFO&) {});
}

CK_RV P11_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO* info) noexcept {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { *info = e.SessInfo; });
}

CK_RV P11_SetSessionInfo(CK_SESSION_HANDLE hSession, const CK_SESSION_INFO* info) noexcept {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { e.SessInfo = *info; });
}

CK_RV P11_SetSessionState(CK_SESSION_HANDLE hSession, CK_STATE state) noexcept {
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { e.SessInfo.state = state; });
}

CK_RV P11_GetVRKSessionHdle(CK_SESSION_HANDLE hSession, VRK_HANDLE* hVRK) noexcept {
  if (hVRK == nullptr) return CKR_ARGUMENTS_BAD;
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { *hVRK = e.hVRK; });
}

CK_RV P11_GetVRKTokenId(CK_SESSION_HANDLE hSession, VRK_UCHAR* tknId) noexcept {
  if (tknId == nullptr) return CKR_ARGUMENTS_BAD;
  return with_session(
      hSession, [&](ZEBP11_SESSION_INFO& e) { std::memcpy(tknId, e.TknId, p11_text_len(e.TknId, sizeof e.TknId)); });
}

CK_RV P11_GetSessionMech(CK_SESSION_HANDLE hSession, CK_MECHANISM_TYPE* mech) noexcept {
  if (mech == nullptr) return CKR_ARGUMENTS_BAD;
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { *mech = e.Mech; });
}

CK_RV P11_SetSessionMech(CK_SESSION_HANDLE hSession, CK_MECHANISM_TYPE mech) noexcept {
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { e.Mech = mech; });
}

CK_RV P11_SetFindObjectInfo(CK_SESSION_HANDLE hSession, ZEBP11_FINDOBJ_INFO&& info) noexcept {
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) { e.FindObj = std::move(info); });
}

CK_RV P11_GetFindObjectInfo(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE* out, CK_ULONG max, CK_ULONG* count) noexcept {
  if (count == nullptr || (out == nullptr && max != 0)) return CKR_ARGUMENTS_BAD;
  return with_session(hSession, [&](ZEBP11_SESSION_INFO& e) {
    ZEBP11_FINDOBJ_INFO& f = e.FindObj;
    const size_t n = std::min<size_t>(max, f.matches.size() - f.position);
    std::copy_n(f.matches.begin() + static_cast<std::ptrdiff_t>(f.position), n, out);
    f.position += n;
    *count = n;
  });
}

bool P11_CheckRWSOExists() noexcept {
  return any_session([](const ZEBP11_SESSION_INFO& e) { return e.SessInfo.state == CKS_RW_SO_FUNCTIONS; });
}

bool P11_CheckROSessionExists() noexcept {
  return any_session([](const ZEBP11_SESSION_INFO& e) {
    return e.SessInfo.state == CKS_RO_PUBLIC_SESSION || e.SessInfo.state == CKS_RO_USER_FUNCTIONS;
  });
}
