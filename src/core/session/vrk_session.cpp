// HSM and token sessions, logins and logouts. Every operation here holds the
// HSM mutex for its whole run.
#include <cstring>
#include <memory>

#include "core_internal.h"
#include "quarzel/port.h"
#include "quarzel/secure.h"

using namespace zeb::core;

namespace {

// The administrator login shared by the by-PIN and the stored-PIN forms.
uint32_t login_admin(VRK_SESSION_CTX* ctx, uint8_t* pin, uint32_t len) {
  // Already administrator: nothing to prove again.
  if (ctx->SessStatus & VRK_SESS_HSMADMIN_LOGIN) return VRK_OK;
  // Any other state must prove the PIN; a wrong one leaves the state as it was.
  const uint32_t rv = DA_LoginHsmByPin(ctx->hSe, pin, len);
  if (rv != VRK_OK) return rv;
  ctx->SessStatus = VRK_SESS_HSMADMIN_LOGIN | VRK_SESS_TOKENSUPERUSER_LOGIN;
  return VRK_OK;
}

// Token user login after the device accepted the PIN: install the session key
// and prove the token's store readable. On failure the device is logged out
// again, so that device and core agree that nobody is logged in.
uint32_t finish_user_login(VRK_SESSION_CTX* ctx, bool check_store) {
  quarzel::SecretArray<VRK_MK_LEN> key;
  uint32_t keyLen = VRK_MK_LEN;
  uint32_t rv = DA_GenSwKey(ctx->hSe, key.data(), &keyLen);
  if (rv == VRK_OK) rv = static_cast<uint32_t>(CA_SetMK(&ctx->CaCtx, key.data(), keyLen));
  if (rv == VRK_OK && check_store) {
    PERSISTENCY_INPUT input;
    SwStore_SetStoInput(ctx->hSe, ctx->HsmSn, ctx->TknId, &input);
    auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
    rv = list ? SA_LoadObjectList(&input, list.get()) : VRK_ERR_HOST_MEMORY;
  }
  if (rv != VRK_OK) {
    // Undo of a failed login: the login's own failure is the one reported.
    (void)CA_ClearMK(&ctx->CaCtx);
    (void)DA_LogoutToken(ctx->hSe);
    return rv;
  }
  ctx->SessStatus = VRK_SESS_TOKENUSER_LOGIN;
  return VRK_OK;
}

// Reads "HSM.cfg" and hands back one of its PIN fields.
uint32_t stored_pin(bool admin, uint8_t (&pin)[VRK_PIN_LEN], uint32_t* len) {
  HSM_LOGIN_CONFIG cfg{};
  const uint32_t rv = SwHsm_LoadConfig(&cfg);
  if (rv == VRK_OK) {
    std::memcpy(pin, admin ? cfg.Pin : cfg.TknPin, VRK_PIN_LEN);
    *len = static_cast<uint32_t>(field_len(pin, VRK_PIN_LEN));
  }
  quarzel::secure_wipe(&cfg, sizeof cfg);
  return rv;
}

}  // namespace

extern "C" {

VRK_RV VRK_OpenHsmSession(VRK_HANDLE hHsm, VRK_HANDLE_PTR phHsmSession) {
  if (phHsmSession == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  ClaimedSlot ctx;
  if (!ctx) return VRK_ERR_FAILED;
  if (DA_OpenHsmSession(hHsm, &ctx->hSe) != VRK_OK) return VRK_ERR_FAILED;
  ZEB_DEVICE_HSM_INFO info{};
  const VRK_HANDLE h = DA_GetHsmInfo(hHsm, &info) == VRK_OK ? new_session_handle() : 0;
  if (h == 0) {
    (void)DA_CloseHsmSession(ctx->hSe);  // undo; the open's failure is reported
    return VRK_ERR_FAILED;
  }
  std::memcpy(ctx->HsmSn, info.HsmSn, sizeof ctx->HsmSn);
  ctx->hHsm = hHsm;
  ctx->SessStatus = VRK_SESS_IDLE;
  ctx.publish(h);
  *phHsmSession = h;
  return lock.release() == VRK_OK ? VRK_OK : VRK_ERR_MUTEX_BAD;
}

VRK_RV VRK_CloseHsmSession(VRK_HANDLE hHsmSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hHsmSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (DA_CloseHsmSession(ctx->hSe) != VRK_OK) return VRK_ERR_FAILED;
  release_slot(ctx.get());
  return VRK_OK;
}

VRK_RV VRK_GetHsmSessionInfo(VRK_HANDLE hHsmSession, VRK_SESSION_INFO_PTR pHsmSessionInfo) {
  if (pHsmSessionInfo == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hHsmSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  const uint32_t rv = DA_GetHsmSessInfo(ctx->hSe, pHsmSessionInfo);
  if (rv != VRK_OK) return rv;
  return lock.release();
}

VRK_RV VRK_OpenTokenSession(VRK_HANDLE hHsm, VRK_TOKEN_ID* pTokenID, VRK_HANDLE_PTR phSession) {
  if (pTokenID == nullptr || phSession == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  ClaimedSlot ctx;
  if (!ctx) return VRK_ERR_FAILED;
  uint32_t rv = DA_OpenTokenSession(hHsm, pTokenID, &ctx->hSe);
  if (rv != VRK_OK) {
    if (ctx->hSe != 0) (void)DA_CloseTokenSession(ctx->hSe);  // undo; the open's failure is reported
    return rv;
  }
  ctx->hHsm = hHsm;
  ctx->SessStatus = VRK_SESS_IDLE;
  const VRK_HANDLE h = new_session_handle();
  ZEB_DEVICE_HSM_INFO info{};
  rv = h == 0 ? VRK_ERR_FAILED : DA_GetHsmInfo(hHsm, &info);
  if (rv == VRK_OK) {
    std::memcpy(ctx->HsmSn, info.HsmSn, sizeof ctx->HsmSn);
    std::memcpy(ctx->TknId, pTokenID, field_len(pTokenID, VRK_ID_LEN));
    ctx->CaCtx.Hsm_Type = info.HsmType;
    ctx->CaCtx.hSE = ctx->hSe;
    rv = static_cast<uint32_t>(CA_OpenSession(&ctx->CaCtx, &ctx->CaCtx.hSW, &ctx->CaCtx.hSE));
  }
  if (rv != VRK_OK) {
    // Undo of a failed open: the open's failure is the one reported.
    if (ctx->CaCtx.hSW != 0) (void)CA_CloseSession(&ctx->CaCtx, &ctx->CaCtx.hSW, &ctx->CaCtx.hSE);
    (void)DA_CloseTokenSession(ctx->hSe);
    return rv;
  }
  ctx.publish(h);
  *phSession = h;
  return VRK_OK;
}

VRK_RV VRK_CloseTokenSession(VRK_HANDLE hSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  // Held: a call of another thread on this session finishes first, and one
  // that comes after finds the handle gone.
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_FAILED;
  uint32_t rv = SwSess_DeleteSessionObjects(hSession);
  // The crypto session stands on the device session (on a secure element its
  // handle is the device session's): it is closed first.
  if (rv == VRK_OK) rv = static_cast<uint32_t>(CA_CloseSession(&ctx->CaCtx, &ctx->CaCtx.hSW, &ctx->CaCtx.hSE));
  if (rv == VRK_OK) rv = DA_CloseTokenSession(ctx->hSe);
  if (rv != VRK_OK) return rv;
  release_slot(ctx.get());
  return VRK_OK;
}

VRK_RV VRK_GetTokenSessionInfo(VRK_HANDLE hSession, VRK_SESSION_INFO_PTR pSessionInfo) {
  if (pSessionInfo == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_FAILED;
  return DA_GetTokenSessionInfo(ctx->hSe, pSessionInfo) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_LoginHsmByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen) {
  if (pPin == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hHsmSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  const uint32_t rv = login_admin(ctx.get(), pPin, u32PinLen);
  if (rv != VRK_OK) return rv;
  return lock.release();
}

VRK_RV VRK_LoginHsmAdminByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen) {
  return VRK_LoginHsmByPin(hHsmSession, pPin, u32PinLen);
}

VRK_RV VRK_LoginHsm(VRK_HANDLE hHsmSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  uint8_t pin[VRK_PIN_LEN];
  uint32_t len = 0;
  uint32_t rv = stored_pin(true, pin, &len);
  if (rv == VRK_OK) {
    const SessionRef ctx(hHsmSession);
    rv = !ctx ? VRK_ERR_SESSION_HANDLE : login_admin(ctx.get(), pin, len);
  }
  quarzel::secure_wipe(pin, sizeof pin);
  if (rv != VRK_OK) return rv;
  return lock.release();
}

VRK_RV VRK_LoginTokenNormalUserByPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen) {
  if (pPin == nullptr) return VRK_ERR_FAILED;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  const uint32_t rv = DA_LoginTokenByPin(ctx->hSe, pPin, u32PinLen);
  if (rv != VRK_OK) return rv;
  return finish_user_login(ctx.get(), true);
}

VRK_RV VRK_Login(VRK_HANDLE hSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  uint8_t pin[VRK_PIN_LEN];
  uint32_t len = 0;
  uint32_t rv = stored_pin(false, pin, &len);
  if (rv == VRK_OK) {
    const SessionRef ctx(hSession);
    if (!ctx) {
      rv = VRK_ERR_FAILED;
    } else {
      rv = DA_LoginTokenByPin(ctx->hSe, pin, len);
      if (rv == VRK_OK) rv = finish_user_login(ctx.get(), false);
    }
  }
  quarzel::secure_wipe(pin, sizeof pin);
  return rv;
}

VRK_RV VRK_LoginTokenSuperUserByPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen) {
  if (pPin == nullptr) return VRK_ERR_FAILED;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  const uint32_t rv = DA_LoginTokenSuperUserByPin(ctx->hSe, pPin, u32PinLen);
  if (rv != VRK_OK) return rv;
  // A token's super user administers that token only, never the HSM.
  ctx->SessStatus = VRK_SESS_TOKENSUPERUSER_LOGIN;
  return VRK_OK;
}

VRK_RV VRK_LogoutHsm(VRK_HANDLE hHsmSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hHsmSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (!(ctx->SessStatus & VRK_SESS_HSMADMIN_LOGIN)) return VRK_OK;
  const uint32_t rv = DA_LogoutHsm(ctx->hSe);
  if (rv != VRK_OK) return rv;
  ctx->SessStatus = VRK_SESS_IDLE;
  return VRK_OK;
}

VRK_RV VRK_LogoutTokenNormalUser(VRK_HANDLE hSession) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  uint32_t rv = SwSess_checkTokenUserLoggedIn(ctx->SessStatus);
  if (rv == VRK_OK) rv = DA_LogoutToken(ctx->hSe);
  if (rv == VRK_OK) rv = static_cast<uint32_t>(CA_ClearMK(&ctx->CaCtx));
  if (rv != VRK_OK) return rv;
  ctx->SessStatus = VRK_SESS_IDLE;
  return VRK_OK;
}

VRK_RV VRK_LogoutTokenSuperUser(VRK_HANDLE hSession) {
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  uint32_t rv = SwSess_checkTokenSuperUserLoggedIn(ctx->SessStatus);
  if (rv == VRK_OK) rv = DA_LogoutTokenSuperUser(ctx->hSe);
  if (rv != VRK_OK) return rv;
  ctx->SessStatus = VRK_SESS_IDLE;
  return VRK_OK;
}

VRK_RV VRK_GetMutexState(VRK_UINT32_PTR pMtxState) {
  if (pMtxState == nullptr) return VRK_ERR_ARGUMENTS;
  return Sync_GetState_Mtx(g_pHsmMutex, pMtxState) == VRK_OK ? VRK_OK : VRK_ERR_MUTEX_BAD;
}

}  // extern "C"
