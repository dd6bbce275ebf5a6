// The table of 20 core sessions: slots, handles, lookups and login checks.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

#include "core_internal.h"
#include "quarzel/port.h"
#include "zeb/swhsm_services.h"

namespace zeb::core {
namespace {

VRK_SESSION_CTX g_aVrkCtx[VRK_MAX_SESSIONS];
// One per slot: held by every call working on the slot's session (and by
// the open and close that fill and wipe it).
std::recursive_mutex g_slot_mutex[VRK_MAX_SESSIONS];

static_assert(offsetof(VRK_SESSION_CTX, hVrk) == 0);

std::atomic_ref<VRK_HANDLE> handle_of(VRK_SESSION_CTX& ctx) { return std::atomic_ref<VRK_HANDLE>(ctx.hVrk); }

bool handle_in_use(VRK_HANDLE h) {
  for (auto& ctx : g_aVrkCtx) {
    if (handle_of(ctx).load() == h) return true;
  }
  return false;
}

size_t slot_of(const VRK_SESSION_CTX* ctx) { return static_cast<size_t>(ctx - g_aVrkCtx); }

// Everything of a context but its handle, which lookups read meanwhile.
void wipe_body(VRK_SESSION_CTX* ctx) {
  quarzel::secure_wipe(reinterpret_cast<uint8_t*>(ctx) + sizeof ctx->hVrk, sizeof *ctx - sizeof ctx->hVrk);
}

}  // namespace

VRK_SESSION_CTX* session_table() noexcept { return g_aVrkCtx; }

SessionRef::SessionRef(VRK_HANDLE h) noexcept {
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(h);
  if (ctx == nullptr) return;
  const size_t slot = slot_of(ctx);
  g_slot_mutex[slot].lock();
  // Closed (and perhaps reopened under another handle) while we waited.
  if (handle_of(*ctx).load() != h) {
    g_slot_mutex[slot].unlock();
    return;
  }
  ctx_ = ctx;
  slot_ = slot;
  SWD_BeginCall();
}

SessionRef::~SessionRef() {
  if (ctx_ == nullptr) return;
  SWD_EndCall();
  g_slot_mutex[slot_].unlock();
}

ClaimedSlot::ClaimedSlot() noexcept {
  // Opens run under the HSM mutex, so no two claim at once; lookups only
  // read the handles.
  for (auto& ctx : g_aVrkCtx) {
    VRK_HANDLE expected = 0;
    if (!handle_of(ctx).compare_exchange_strong(expected, kClaimedSlot)) continue;
    const size_t slot = slot_of(&ctx);
    g_slot_mutex[slot].lock();
    wipe_body(&ctx);
    ref_.ctx_ = &ctx;
    ref_.slot_ = slot;
    SWD_BeginCall();  // ended with the reference
    return;
  }
}

ClaimedSlot::~ClaimedSlot() {
  if (ref_.ctx_ != nullptr && !published_) release_slot(ref_.ctx_);
}

void ClaimedSlot::publish(VRK_HANDLE h) noexcept {
  if (ref_.ctx_ == nullptr) return;
  handle_of(*ref_.ctx_).store(h);
  published_ = true;
}

void release_slot(VRK_SESSION_CTX* ctx) noexcept {
  if (ctx == nullptr) return;
  wipe_body(ctx);
  handle_of(*ctx).store(0);
}

void end_all_sessions() noexcept {
  for (auto& ctx : g_aVrkCtx) {
    std::lock_guard<std::recursive_mutex> guard(g_slot_mutex[slot_of(&ctx)]);
    const VRK_HANDLE h = handle_of(ctx).load();
    if (h == 0 || h == kClaimedSlot) continue;
    // Ending everything: a failure to release one part must not keep the rest.
    (void)SwSess_DeleteSessionObjects(h);
    if (ctx.CaCtx.hSW != 0) (void)CA_CloseSession(&ctx.CaCtx, &ctx.CaCtx.hSW, &ctx.CaCtx.hSE);
    // The device session under it (an HSM session has no token ID).
    const bool token = std::any_of(std::begin(ctx.TknId), std::end(ctx.TknId), [](uint8_t b) { return b != 0; });
    (void)(token ? DA_CloseTokenSession(ctx.hSe) : DA_CloseHsmSession(ctx.hSe));
    release_slot(&ctx);
  }
}

VRK_HANDLE new_session_handle() noexcept {
  // Handles are unguessable and unique among live sessions: 0 marks a free
  // slot and the claimed-slot marker a slot being opened, so neither is given.
  for (int attempt = 0; attempt < 64; ++attempt) {
    uint8_t b[4];
    if (quarzel_get_random(b, sizeof b) != 0) return 0;
    const VRK_HANDLE h = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    if (h != 0 && h != kClaimedSlot && !handle_in_use(h)) return h;
  }
  return 0;
}

}  // namespace zeb::core

using namespace zeb::core;

extern "C" {

// The context of a handle, found without a lock: a snapshot for a caller
// that holds the session (SessionRef) or the HSM mutex across an open and
// close; everyone else takes a SessionRef.
VRK_SESSION_CTX* SwSess_GetCtx(VRK_HANDLE hSession) {
  if (hSession == 0 || hSession == kClaimedSlot) return nullptr;
  for (auto& ctx : g_aVrkCtx) {
    if (std::atomic_ref<VRK_HANDLE>(ctx.hVrk).load() == hSession) return &ctx;
  }
  return nullptr;
}

uint8_t SwSess_GetIndex(VRK_HANDLE hSession) {
  const VRK_SESSION_CTX* ctx = SwSess_GetCtx(hSession);
  return ctx == nullptr ? 255 : static_cast<uint8_t>(ctx - session_table());
}

uint32_t SwSess_GetStatus(VRK_HANDLE hSession) {
  const SessionRef ref(hSession);
  return !ref ? 255 : ref->SessStatus;
}

uint32_t SwSess_checkHSMAdminLoggedIn(uint32_t status) {
  return (status & VRK_SESS_HSMADMIN_LOGIN) ? VRK_OK : VRK_ERR_USER_NOT_LOGGED_IN;
}
uint32_t SwSess_checkTokenSuperUserLoggedIn(uint32_t status) {
  return (status & VRK_SESS_TOKENSUPERUSER_LOGIN) ? VRK_OK : VRK_ERR_USER_NOT_LOGGED_IN;
}
uint32_t SwSess_checkTokenUserLoggedIn(uint32_t status) {
  return (status & VRK_SESS_TOKENUSER_LOGIN) ? VRK_OK : VRK_ERR_USER_NOT_LOGGED_IN;
}

// Session objects are heap copies (malloc) owned by their slots.
uint32_t SwSess_DeleteSessionObjects(VRK_HANDLE hSession) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  for (auto& obj : ctx->s_objlist) {
    if (obj.pObj != nullptr) {
      quarzel::secure_wipe(obj.pObj, obj.u32DataLen);
      std::free(obj.pObj);
    }
    obj = VRK_SESS_OBJECT{};
  }
  return VRK_OK;
}

void SwStore_SetStoInput(uint32_t hSession, const VRK_HSM_SN* pHsmSn, const VRK_TOKEN_ID* pTknId,
                         PERSISTENCY_INPUT* pInput) {
  if (pInput == nullptr) return;
  *pInput = PERSISTENCY_INPUT{};
  pInput->hSession = hSession;
  if (pHsmSn != nullptr) std::memcpy(pInput->HsmSn, pHsmSn, sizeof pInput->HsmSn);
  if (pTknId != nullptr) std::memcpy(pInput->TknId, pTknId, sizeof pInput->TknId);
}

void VRK_BeginCallScope(void) { SWD_BeginCall(); }

void VRK_EndCallScope(void) { SWD_EndCall(); }

}  // extern "C"
