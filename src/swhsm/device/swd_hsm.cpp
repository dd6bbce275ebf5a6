// The HSM level of the software device: start and stop, HSM information,
// administrator login with failure counting, label, PIN and policy, token
// creation and deletion, reset, logout and the listing of software HSMs.
#include <cstdio>
#include <mutex>

#include "oxlu/file.h"
#include "swd_internal.h"

namespace swd {
namespace {

// Token creation shared by the three creating operations. `count_rule`
// decides the new token count from the record (0, or the operation's code).
template <class CountRule>
uint32_t create_token(CountRule count_rule, bool zero_on_read_failure, uint8_t* pTknId, uint8_t* token_sn) {
  // The list's lock first, held to the end: another creator's entry and
  // count go in before or after this one's, never in between.
  TokenListEdit edit;
  uint32_t rc = 0;
  const ListRead read = edit.begin(&rc);
  if (read == ListRead::failed) return rc;
  Wiped<HSM_ADMIN_CFG> rec;
  rc = GetHsmAdminCFG(rec.get());
  if (rc != 0) {
    if (!zero_on_read_failure) return rc;
    std::memset(rec.get(), 0, sizeof(HSM_ADMIN_CFG));
  }
  if ((rc = count_rule(*rec.get())) != 0) return rc;

  // Prepare the list entry before anything is written, so that a full or
  // unreadable list leaves every file as it was. Only a missing list starts a
  // new one: a busy or damaged list must never be replaced by a fresh one.
  ZEB_DEVICE_TKN_USER_LIST& list = edit.list();
  uint8_t sn[16];
  if (!random_digits(sn, sizeof sn)) return SWD_ERR_FAILED;
  uint8_t id[16] = {};
  if ((rc = _swdev_addTokenInTokenUserList(&list, sn, id)) != 0) return rc;

  // The token's own file first, then the list that makes it exist, then the
  // count: a failure on the way leaves no listed token without its file.
  Wiped<TKN_USER_CFG> cfg;
  if ((rc = _swdev_setup_token_user_cfg(cfg.get(), sn, rec.HsmSn)) != 0) return rc;
  char idz[17] = {};
  std::memcpy(idz, id, 16);
  if ((rc = _swdev_SetTokenUserCFG(idz, cfg.get())) != 0) return rc;
  if ((rc = edit.commit()) != 0) return rc;
  if ((rc = SetHsmAdminCFG(rec.get())) != 0) return rc;
  std::memcpy(pTknId, id, 16);
  if (token_sn != nullptr) std::memcpy(token_sn, sn, 16);
  return 0;
}

// Temporary files of configuration writers that were killed: the HSM's
// directory and every token's.
void remove_dead_config_temps() {
  char dir[SWD_PATH_LEN];
  if (compose_path(dir, "%s%s", g_hsmAdminPath, "SwHsm/") != 0) return;
  oxlu::remove_dead_temps(dir);
  ZEB_DEVICE_TKN_USER_LIST list{};
  uint32_t rc = 0;
  if (read_token_list(&list, &rc) != ListRead::ok) return;
  for (size_t i = 0; i < SWD_MAX_TOKENS; ++i) {
    if (!token_id_ok(list.TknId[i])) continue;
    char idz[17] = {};
    std::memcpy(idz, list.TknId[i], 16);
    char tdir[SWD_PATH_LEN];
    if (compose_path(tdir, "%s%s%s", g_hsmAdminPath, "SwHsm/", idz) == 0) oxlu::remove_dead_temps(tdir);
  }
}

}  // namespace
}  // namespace swd

using namespace swd;

extern "C" uint32_t SWD_GetVersion(ZEB_DEVICE_HANDLE /*hHsm*/, ZEB_DEVICE_VERSION* pVersion) {
  if (pVersion == nullptr) return SWD_ERR_ARGUMENTS;
  *pVersion = ZEB_DEVICE_VERSION{0, 1, 0};
  return 0;
}

extern "C" uint32_t SWD_Initialize(ZEB_DEVICE_HSM_SN* Sn, ZEB_DEVICE_HANDLE_PTR phHsm) {
  uint8_t path[SWD_PATH_LEN];
  (void)SWD_LoadHsmAdminFilePathConfig(path);  // a missing pointer file leaves "./"
  std::memcpy(g_hsmAdminPath, path, SWD_PATH_LEN);
  g_hsmAdminPath[SWD_PATH_LEN] = '\0';
  remove_dead_config_temps();

  // Looked at before the read, which makes the folder when it is missing.
  note_missing_hsm_files();
  Wiped<HSM_ADMIN_CFG> rec;
  if (GetHsmAdminCFG(rec.get()) != 0) std::memset(rec.get(), 0, sizeof(HSM_ADMIN_CFG));
  (void)_swdev_SetHsmInfo(rec.get());  // fills the cache; cannot fail
  if (Sn == nullptr) return SWD_ERR_NULL;
  if (std::memcmp(Sn, rec.HsmSn, 16) != 0) return SWD_ERR_SN_MISMATCH;
  uint32_t h = 0;
  if (!random_handle(&h, &g_hHsm, 1)) return SWD_ERR_FAILED;
  g_hHsm = h;
  if (phHsm == nullptr) return SWD_ERR_NULL;
  *phHsm = h;
  return 0;
}

extern "C" uint32_t SWD_Finalize(ZEB_DEVICE_HANDLE hHsm) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  g_hHsm = 0;
  close_all_sessions();
  const HSM_ADMIN_CFG none{};
  (void)_swdev_SetHsmInfo(&none);  // clears the cache; cannot fail
  return 0;
}

extern "C" uint32_t SWD_GetHsmInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pHSMInfo) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  if (pHSMInfo == nullptr) return SWD_ERR_ARGUMENTS;
  *pHSMInfo = hsm_info();
  return 0;
}

extern "C" uint32_t SWD_LoginHsmByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen) {
  const SessionPin pin(hHsmSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  uint32_t rc = _swdev_checkSessionIdle(hHsmSession);
  if (rc != 0) return rc;
  if (pPin == nullptr && u32PinLen != 0) return SWD_ERR_ARGUMENTS;
  // The failure count is read, raised and written under the record's writer
  // lock: a failed login elsewhere at the same moment is never lost.
  uint8_t sn[16], label[32];
  auto check = [&](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    if (rec.HsmStatus == ZEB_DEVICE_HSM_TAMPERED) return SWD_ERR_PIN_LOCKED;
    if (!pin_matches(rec.Pin, rec.u32PinLen, pPin, u32PinLen)) {
      rec.LoginFailCount = static_cast<uint8_t>(rec.LoginFailCount + 1);
      if (rec.LoginFailCount >= rec.MaxLoginFailCount) rec.HsmStatus = ZEB_DEVICE_HSM_TAMPERED;
      *write = true;
      return SWD_ERR_PIN_INCORRECT;
    }
    *write = rec.LoginFailCount != 0;  // else the record is unchanged: no rewrite
    rec.LoginFailCount = 0;
    std::memcpy(sn, rec.HsmSn, sizeof sn);
    std::memcpy(label, rec.HsmLabel, sizeof label);
    return 0;
  };
  if ((rc = update_admin(check)) != 0) return rc;
  const auto slot = static_cast<uint8_t>(pin.slot());
  if ((rc = _swdev_SetHsmSessInfo(slot, ZEB_DEVICE_SESS_HSMADMIN_LOGIN, sn, label)) != 0) return rc;
  return _swdev_SetHsmSessInfo(slot, ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN, sn, label);
}

extern "C" uint32_t SWD_SetHsmLabel(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pHsmLabel, uint32_t u32HsmLabelLen) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if ((rc = check_new_label(pHsmLabel, u32HsmLabelLen)) != 0) return rc;
  auto edit = [&](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    std::memset(rec.HsmLabel, 0, sizeof rec.HsmLabel);
    if (u32HsmLabelLen != 0) std::memcpy(rec.HsmLabel, pHsmLabel, u32HsmLabelLen);
    rec.u32LabelLen = u32HsmLabelLen;
    *write = true;
    return 0;
  };
  return update_admin(edit);
}

extern "C" uint32_t SWD_SetHsmPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32NewPinLen) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if ((rc = check_new_pin(pNewPin, u32NewPinLen)) != 0) return rc;
  auto edit = [&](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    std::memset(rec.Pin, 0, sizeof rec.Pin);
    if (u32NewPinLen != 0) std::memcpy(rec.Pin, pNewPin, u32NewPinLen);
    rec.u32PinLen = u32NewPinLen;
    if (rec.HsmStatus == ZEB_DEVICE_HSM_UNINIT) rec.HsmStatus = ZEB_DEVICE_HSM_INITED;
    *write = true;
    return 0;
  };
  return update_admin(edit);
}

extern "C" uint32_t SWD_GetHsmPolicy(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_POLICY* pHsmPolicy) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  if (pHsmPolicy == nullptr) return SWD_ERR_ARGUMENTS;
  Wiped<HSM_ADMIN_CFG> rec;
  if (GetHsmAdminCFG(rec.get()) != 0) std::memset(rec.get(), 0, sizeof(HSM_ADMIN_CFG));
  pHsmPolicy->LoginFailCount = rec.LoginFailCount;
  pHsmPolicy->MaxLoginFailCount = rec.MaxLoginFailCount;
  pHsmPolicy->fipsMode = rec.fipsMode;
  return 0;
}

extern "C" uint32_t SWD_SetHsmPolicy(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pHsmPolicy) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if (pHsmPolicy == nullptr) return SWD_ERR_ARGUMENTS;
  auto edit = [&](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    if (rec.fipsMode == 0) rec.fipsMode = pHsmPolicy->fipsMode;  // not stored: no lasting effect
    if (pHsmPolicy->MaxLoginFailCount != 0) rec.MaxLoginFailCount = pHsmPolicy->MaxLoginFailCount;
    *write = true;
    return 0;
  };
  return update_admin(edit);
}

extern "C" uint32_t SWD_CreateToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                    ZEB_DEVICE_TOKEN_SN* token_sn) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if (pTknId == nullptr) return SWD_ERR_ARGUMENTS;
  auto rule = [](HSM_ADMIN_CFG& rec) -> uint32_t {
    if (rec.TokenCount + 1 > rec.MaxTokenCount) return SWD_ERR_FAILED;
    rec.TokenCount = static_cast<uint8_t>(rec.TokenCount + 1);
    return 0;
  };
  return create_token(rule, true, pTknId, token_sn);
}

extern "C" uint32_t SWD_CreateDefaultToken(ZEB_DEVICE_HANDLE /*hHsmSession*/, ZEB_DEVICE_TOKEN_ID* pTknId,
                                           ZEB_DEVICE_TOKEN_SN* token_sn) {
  if (pTknId == nullptr) return SWD_ERR_ARGUMENTS;
  auto rule = [](HSM_ADMIN_CFG& rec) -> uint32_t {
    if (rec.TokenCount != 0) return SWD_ERR_HSM_CFG;
    rec.TokenCount = 1;
    return 0;
  };
  return create_token(rule, false, pTknId, token_sn);
}

extern "C" uint32_t SWD_CreateTokenByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32TknPinLen,
                                         ZEB_DEVICE_TOKEN_ID* pTknId) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if ((rc = check_new_pin(pTknPin, u32TknPinLen)) != 0) return rc;  // before anything is created
  if ((rc = SWD_CreateToken(hHsmSession, pTknId, nullptr)) != 0) return rc;
  char id[17] = {};
  std::memcpy(id, pTknId, 16);
  Wiped<TKN_USER_CFG> cfg;
  if ((rc = _swdev_GetTokenUserCFG(id, cfg.get())) != 0) return rc;
  std::memset(cfg.SuperUserPin, 0, 32);
  std::memset(cfg.NormalUserPin, 0, 32);
  if (u32TknPinLen != 0) {
    std::memcpy(cfg.SuperUserPin, pTknPin, u32TknPinLen);
    std::memcpy(cfg.NormalUserPin, pTknPin, u32TknPinLen);
  }
  cfg.u32SuperUserPinLen = u32TknPinLen;
  cfg.u32NormalUserPinLen = u32TknPinLen;
  cfg.TknStatus = ZEB_DEVICE_TKN_NORMALUSER_INIT;
  return _swdev_SetTokenUserCFG(id, cfg.get());
}

extern "C" uint32_t SWD_DeleteToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* TknId) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if (TknId == nullptr) return SWD_ERR_ARGUMENTS;
  TokenListEdit edit;
  if (edit.begin(&rc) != ListRead::ok) return rc;
  ZEB_DEVICE_TKN_USER_LIST& list = edit.list();
  bool found = false;
  for (size_t i = 0; i < SWD_MAX_TOKENS; ++i) {
    if (std::memcmp(list.TknId[i], TknId, 16) != 0) continue;
    found = true;
    if (token_id_ok(list.TknId[i])) {  // never a path outside the HSM's directory
      char idz[17] = {};
      std::memcpy(idz, list.TknId[i], 16);
      char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
      if ((rc = compose_path(dir, "%s%s%s", g_hsmAdminPath, "SwHsm/", idz)) != 0) return rc;
      if ((rc = compose_path(file, "%s%s%s/%s", g_hsmAdminPath, "SwHsm/", idz, "TknUser.cfg")) != 0) return rc;
      {
        const TokenFileChange change;
        if (change.status() != 0) return change.status();
        (void)remove_safe(file);  // a token file left behind is ignored once the list drops it
        if (cross_rmdir(dir) != 0) std::perror(dir);
      }
    }
    std::memset(list.TknId[i], 0, 16);
    std::memset(list.TknLabel[i], 0, 32);
  }
  // No such token: nothing to delete, and the token count must not drop.
  if (!found) return 0;
  if ((rc = edit.commit()) != 0) return rc;
  Wiped<HSM_ADMIN_CFG> rec;
  if ((rc = GetHsmAdminCFG(rec.get())) != 0) return rc;
  if (rec.TokenCount > 0) rec.TokenCount = static_cast<uint8_t>(rec.TokenCount - 1);
  return SetHsmAdminCFG(rec.get());
}

extern "C" uint32_t SWD_ResetVrk(ZEB_DEVICE_HANDLE hHsmSession) {
  const uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  return SWD_ResetVrkBySn(0, nullptr);
}

extern "C" uint32_t SWD_ResetVrkBySn(ZEB_DEVICE_HANDLE /*hHsm*/, ZEB_DEVICE_HSM_SN* /*sn*/) {
  char list[SWD_PATH_LEN];
  uint32_t rc = compose_path(list, "%s%s%s", g_hsmAdminPath, "SwHsm/", "TknUser.list");
  if (rc != 0) return rc;
  (void)remove_safe(list);  // no list is the same as an empty one
  Wiped<HSM_ADMIN_CFG> rec;
  if ((rc = GetHsmAdminCFG(rec.get())) != 0) return rc;
  rec.TokenCount = 0;
  rec.MaxTokenCount = SWD_MAX_TOKENS;
  rec.LoginFailCount = 0;
  rec.MaxLoginFailCount = SWD_DEFAULT_MAX_FAILS;
  rec.HsmStatus = ZEB_DEVICE_HSM_UNINIT;
  std::memset(rec.Pin, 0, sizeof rec.Pin);
  std::memcpy(rec.Pin, rec.HsmSn, 16);
  rec.u32PinLen = 16;
  return SetHsmAdminCFG(rec.get());
}

extern "C" uint32_t SWD_LogoutHsm(ZEB_DEVICE_HANDLE hHsmSession) {
  const SessionPin pin(hHsmSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  const uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  const ZEB_DEVICE_TOKEN_SESSION_INFO info = pin.info();
  return _swdev_SetHsmSessInfo(static_cast<uint8_t>(pin.slot()), ZEB_DEVICE_SESS_IDLE, info.HsmSn, info.HsmLabel);
}

extern "C" uint32_t SWD_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList,
                                 uint32_t* pulCount) {
  if (pHsmType == nullptr || pHsmSnList == nullptr || pHsmLabelList == nullptr || pulCount == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  SW_HSM_LIST list{};
  uint8_t count = 0;
  if (_swdev_LoadHsmSNList(&list, &count) != 0) {
    *pulCount = 0;  // an unreadable or refused list lists nothing
    return 0;
  }
  for (uint8_t i = 0; i < count; ++i) {
    pHsmType[i] = list.hsminfo[i].hsm_type;
    std::memcpy(pHsmSnList + 16 * i, list.hsminfo[i].hsm_sn, 16);
    std::memcpy(pHsmLabelList + 32 * i, list.hsminfo[i].hsm_label, 32);
  }
  *pulCount = count;
  return 0;
}
