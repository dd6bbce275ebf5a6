// The table of 20 core sessions: slots, handles, lookups and login checks.
#include <cstdlib>
#include <cstring>

#include "core_internal.h"
#include "quarzel/port.h"

namespace zeb::core {
namespace {

VRK_SESSION_CTX g_aVrkCtx[VRK_MAX_SESSIONS];

bool handle_in_use(VRK_HANDLE h) {
  for (const auto& ctx : g_aVrkCtx) {
    if (ctx.hVrk == h) return true;
  }
  return false;
}

}  // namespace

VRK_SESSION_CTX* session_table() noexcept { return g_aVrkCtx; }

VRK_SESSION_CTX* claim_slot() noexcept {
  for (auto& ctx : g_aVrkCtx) {
    if (ctx.hVrk == 0) {
      std::memset(&ctx, 0, sizeof ctx);
      ctx.hVrk = kClaimedSlot;
      return &ctx;
    }
  }
  return nullptr;
}

void release_slot(VRK_SESSION_CTX* ctx) noexcept {
  if (ctx != nullptr) quarzel::secure_wipe(ctx, sizeof *ctx);
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

VRK_SESSION_CTX* SwSess_GetCtx(VRK_HANDLE hSession) {
  if (hSession == 0 || hSession == kClaimedSlot) return nullptr;
  VRK_SESSION_CTX* table = session_table();
  for (size_t i = 0; i < VRK_MAX_SESSIONS; ++i) {
    if (table[i].hVrk == hSession) return &table[i];
  }
  return nullptr;
}

uint8_t SwSess_GetIndex(VRK_HANDLE hSession) {
  const VRK_SESSION_CTX* ctx = SwSess_GetCtx(hSession);
  return ctx == nullptr ? 255 : static_cast<uint8_t>(ctx - session_table());
}

uint32_t SwSess_GetStatus(VRK_HANDLE hSession) {
  const VRK_SESSION_CTX* ctx = SwSess_GetCtx(hSession);
  return ctx == nullptr ? 255 : ctx->SessStatus;
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
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(hSession);
  if (ctx == nullptr) return VRK_ERR_SESSION_HANDLE;
  for (auto& obj : ctx->s_objlist) {
    if (obj.pObj != nullptr) {
      quarzel::secure_wipe(obj.pObj, obj.u32DataLen);
      std::free(obj.pObj);
    }
    obj = VRK_SESS_OBJECT{};
  }
  return VRK_OK;
}

void SwStore_SetStoInput(uint32_t hSession, const uint8_t* pHsmSn, const uint8_t* pTknId,
                         PERSISTENCY_INPUT* pInput) {
  if (pInput == nullptr) return;
  *pInput = PERSISTENCY_INPUT{};
  pInput->hSession = hSession;
  if (pHsmSn != nullptr) std::memcpy(pInput->HsmSn, pHsmSn, sizeof pInput->HsmSn);
  if (pTknId != nullptr) std::memcpy(pInput->TknId, pTknId, sizeof pInput->TknId);
}

}  // extern "C"
