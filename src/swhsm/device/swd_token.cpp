// The token level of the software device: listing and information, the user
// and super-user logins with failure counting and the token state machine,
// label, PINs and policy, unlock, backup and restore, and the logouts.
#include "swd_internal.h"

namespace swd {
namespace {

void id_of(const uint8_t* id16, char (&out)[17]) {
  std::memset(out, 0, sizeof out);
  std::memcpy(out, id16, text_len(id16, 16));
}

// The session's record and the configuration of its token.
uint32_t load_session_token(const SessionPin& pin, ZEB_DEVICE_TOKEN_SESSION_INFO* info, TKN_USER_CFG* cfg) {
  *info = pin.info();
  char id[17];
  id_of(info->TknId, id);
  return _swdev_GetTokenUserCFG(id, cfg);
}

// Read-modify-write of the configuration of a pinned session's token.
template <class Fn>
uint32_t update_session_token(const SessionPin& pin, Fn& fn) {
  char id[17];
  id_of(pin.info().TknId, id);
  return update_token(id, fn);
}

// Rewrites a pinned session's record with `status` and its token's id and
// `label`.
uint32_t set_token_session(const SessionPin& pin, uint8_t status, const uint8_t* label) {
  char id[17], lab[33] = {};
  id_of(pin.info().TknId, id);
  std::memcpy(lab, label, text_len(label, 32));
  return _swdev_SetTokenSessInfo(static_cast<uint8_t>(pin.slot()), status, id, lab);
}

// A field that the text files carry intact: no line feed, and zero bytes
// only as trailing padding.
bool carried_intact(const uint8_t* p, size_t width) {
  bool zero = false;
  for (size_t i = 0; i < width; ++i) {
    if (p[i] == 0x0A || (zero && p[i] != 0)) return false;
    zero = zero || p[i] == 0;
  }
  return true;
}

bool restorable(const TKN_USER_CFG& c) {
  return c.u32SuperUserPinLen <= SWD_PIN_MAX && c.u32LabelLen <= SWD_LABEL_MAX && carried_intact(c.Sn, 16) &&
         carried_intact(c.SuperUserPin, 32) && carried_intact(c.MK, 32) && carried_intact(c.MacK, 32) &&
         carried_intact(c.Label, 32);
}

// Shared body of the two PIN logins: the user's (true) or the super user's.
struct LoginRule {
  bool user;
};

uint32_t login(ZEB_DEVICE_HANDLE hSession, const uint8_t* pin, uint32_t len, LoginRule rule) {
  // The session is held for the whole login, so that its state cannot change
  // (or the session close) between the idle test and the new state.
  const SessionPin held(hSession);
  if (!held) return SWD_ERR_SESSION_HANDLE;
  if (held.info().SessStatus != ZEB_DEVICE_SESS_IDLE) return rule.user ? SWD_ERR_USER_NOT_IDLE : SWD_ERR_NOT_IDLE;
  if (pin == nullptr && len != 0) return SWD_ERR_ARGUMENTS;
  // The counter is read, raised and written under the configuration's writer
  // lock: a login failing in another process or thread at the same moment
  // is never lost (a guesser gets no more tries than the limit), and a PIN
  // changed elsewhere is never written back to its old value.
  uint8_t label[32];
  auto check = [&](TKN_USER_CFG& cfg, bool* write) -> uint32_t {
    const bool locked = rule.user ? (cfg.TknStatus == ZEB_DEVICE_TKN_NORMALUSER_LOCKED ||
                                     cfg.TknStatus == ZEB_DEVICE_TKN_TERMINATED)
                                  : cfg.TknStatus == ZEB_DEVICE_TKN_TERMINATED;
    if (locked) return SWD_ERR_PIN_LOCKED;
    uint8_t& fails = rule.user ? cfg.NormalUserLoginFailCount : cfg.SuperUserLoginFailCount;
    const uint8_t max = rule.user ? cfg.MaxNormalUserLoginFailCount : cfg.MaxSuperUserLoginFailCount;
    const bool ok = rule.user ? pin_matches(cfg.NormalUserPin, cfg.u32NormalUserPinLen, pin, len)
                              : pin_matches(cfg.SuperUserPin, cfg.u32SuperUserPinLen, pin, len);
    if (!ok) {
      fails = static_cast<uint8_t>(fails + 1);
      if (fails >= max) cfg.TknStatus = rule.user ? ZEB_DEVICE_TKN_NORMALUSER_LOCKED : ZEB_DEVICE_TKN_TERMINATED;
      *write = true;
      return SWD_ERR_PIN_INCORRECT;
    }
    // A clean counter means the record is unchanged: rewriting it would only
    // cost a synced write.
    *write = fails != 0;
    fails = 0;
    std::memcpy(label, cfg.Label, sizeof label);
    return 0;
  };
  const uint32_t rc = update_session_token(held, check);
  if (rc != 0) return rc;
  const uint8_t bit = rule.user ? ZEB_DEVICE_SESS_TOKENUSER_LOGIN : ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN;
  return set_token_session(held, bit, label);
}

// A session whose status holds one of `bits`: 0, else its code.
uint32_t require_any(const SessionPin& pin, uint8_t bits) {
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  return (pin.info().SessStatus & bits) != 0 ? 0 : SWD_ERR_NOT_LOGGED_IN;
}

// Changes one PIN of the session's token.
uint32_t set_pin(ZEB_DEVICE_HANDLE hSession, uint8_t bits, const uint8_t* pin, uint32_t len, bool user) {
  const SessionPin held(hSession);
  uint32_t rc = require_any(held, bits);
  if (rc != 0) return rc;
  if ((rc = check_new_pin(pin, len)) != 0) return rc;
  auto edit = [&](TKN_USER_CFG& cfg, bool* write) -> uint32_t {
    uint8_t* field = user ? cfg.NormalUserPin : cfg.SuperUserPin;
    std::memset(field, 0, 32);
    if (len != 0) std::memcpy(field, pin, len);
    if (user) {
      cfg.u32NormalUserPinLen = len;
      if (cfg.TknStatus == ZEB_DEVICE_TKN_SUPERUSER_INIT) cfg.TknStatus = ZEB_DEVICE_TKN_NORMALUSER_INIT;
    } else {
      cfg.u32SuperUserPinLen = len;
      if (cfg.TknStatus == ZEB_DEVICE_TKN_UNINIT) cfg.TknStatus = ZEB_DEVICE_TKN_SUPERUSER_INIT;
    }
    *write = true;
    return 0;
  };
  return update_session_token(held, edit);
}

uint32_t logout(ZEB_DEVICE_HANDLE hSession, uint8_t bit) {
  const SessionPin held(hSession);
  const uint32_t rc = require_any(held, bit);
  if (rc != 0) return rc;
  uint8_t label[32];
  std::memcpy(label, held.info().TknLabel, 32);
  return set_token_session(held, ZEB_DEVICE_SESS_IDLE, label);
}

}  // namespace
}  // namespace swd

using namespace swd;

extern "C" uint32_t SWD_ListTokens(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* ptknuserlist) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  if (ptknuserlist == nullptr) return SWD_ERR_ARGUMENTS;
  ZEB_DEVICE_TKN_USER_LIST list{};
  uint32_t rc = 0;
  if (read_token_list(&list, &rc) == ListRead::failed) return rc;
  *ptknuserlist = list;
  return 0;
}

extern "C" uint32_t SWD_GetTokenInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID,
                                     ZEB_DEVICE_TOKEN_INFO* pTokenInfo) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  if (TknID == nullptr || pTokenInfo == nullptr) return SWD_ERR_ARGUMENTS;
  char id[17];
  id_of(TknID, id);
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = _swdev_GetTokenUserCFG(id, cfg.get());
  if (rc != 0) return rc;
  ZEB_DEVICE_TOKEN_INFO info{};
  std::memcpy(info.TknSn, cfg.Sn, 16);
  info.TknStatus = cfg.TknStatus;
  std::memcpy(info.TknId, id, 16);
  std::memcpy(info.TknLabel, cfg.Label, text_len(cfg.Label, 32));
  info.SuperUserLoginFailCount = cfg.SuperUserLoginFailCount;
  info.MaxSuperUserLoginFailCount = cfg.MaxSuperUserLoginFailCount;
  info.NormalUserLoginFailCount = cfg.NormalUserLoginFailCount;
  info.MaxNormalUserLoginFailCount = cfg.MaxNormalUserLoginFailCount;
  (void)_swdev_getSessionCount(&info.SessionCount);  // fails only on a null target
  info.MaxSessionCount = SWD_MAX_SESSIONS;
  *pTokenInfo = info;
  return 0;
}

extern "C" uint32_t SWD_GetTokenStatus(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID, uint8_t* pTokenStatus) {
  if (!hsm_handle_ok(hHsm)) return SWD_ERR_SESSION_HANDLE;
  if (TknID == nullptr || pTokenStatus == nullptr) return SWD_ERR_ARGUMENTS;
  char id[17];
  id_of(TknID, id);
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = _swdev_GetTokenUserCFG(id, cfg.get());
  if (rc != 0) return rc;
  *pTokenStatus = cfg.TknStatus;
  return 0;
}

extern "C" uint32_t SWD_LoginTokenByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return login(hSession, pPin, u32PinLen, LoginRule{true});
}

extern "C" uint32_t SWD_LoginTokenSuperUserByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  const uint32_t rc = login(hSession, pPin, u32PinLen, LoginRule{false});
  if (rc != 0) return rc;
  ZEB_DEVICE_TKN_USER_LIST list{};
  return _swdev_GetTokenUsrList(&list);  // the super user stays logged in either way
}

extern "C" uint32_t SWD_GetTokenSn(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* tkn_sn) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  if (tkn_sn == nullptr) return SWD_ERR_ARGUMENTS;
  ZEB_DEVICE_TOKEN_SESSION_INFO info;
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = load_session_token(pin, &info, cfg.get());
  if (rc != 0) return rc;
  std::memcpy(tkn_sn, cfg.Sn, 16);
  return 0;
}

extern "C" uint32_t SWD_SetTokenLabel(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknLabel, uint32_t u32TknLabelLen) {
  const SessionPin pin(hSession);
  uint32_t rc = require_any(pin, ZEB_DEVICE_SESS_TOKENUSER_LOGIN | ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN);
  if (rc != 0) return rc;
  if ((rc = check_new_label(pTknLabel, u32TknLabelLen)) != 0) return rc;
  const ZEB_DEVICE_TOKEN_SESSION_INFO info = pin.info();
  uint8_t label[32];
  auto edit = [&](TKN_USER_CFG& cfg, bool* write) -> uint32_t {
    std::memset(cfg.Label, 0, 32);
    if (u32TknLabelLen != 0) std::memcpy(cfg.Label, pTknLabel, u32TknLabelLen);
    cfg.u32LabelLen = u32TknLabelLen;
    std::memcpy(label, cfg.Label, 32);
    *write = true;
    return 0;
  };
  if ((rc = update_session_token(pin, edit)) != 0) return rc;
  TokenListEdit list_edit;
  if (list_edit.begin(&rc) != ListRead::ok) return rc;
  ZEB_DEVICE_TKN_USER_LIST& list = list_edit.list();
  for (size_t i = 0; i < SWD_MAX_TOKENS; ++i) {
    if (std::memcmp(list.TknId[i], info.TknId, 16) == 0) std::memcpy(list.TknLabel[i], label, 32);
  }
  if ((rc = list_edit.commit()) != 0) return rc;
  return set_token_session(pin, info.SessStatus, label);
}

extern "C" uint32_t SWD_SetTokenPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return set_pin(hSession, ZEB_DEVICE_SESS_TOKENUSER_LOGIN | ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN, pPin, u32PinLen,
                 true);
}

extern "C" uint32_t SWD_SetTokenSuperUserPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return set_pin(hSession, ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN, pPin, u32PinLen, false);
}

extern "C" uint32_t SWD_GetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pTknPolicy) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  if (pTknPolicy == nullptr) return SWD_ERR_ARGUMENTS;
  ZEB_DEVICE_TOKEN_SESSION_INFO info;
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = load_session_token(pin, &info, cfg.get());
  if (rc != 0) return rc;
  ZEB_DEVICE_TOKEN_POLICY p{};
  p.SuperUserLoginFailCount = cfg.SuperUserLoginFailCount;
  p.MaxSuperUserLoginFailCount = cfg.MaxSuperUserLoginFailCount;
  p.NormalUserLoginFailCount = cfg.NormalUserLoginFailCount;
  p.MaxNormalUserLoginFailCount = cfg.MaxNormalUserLoginFailCount;
  *pTknPolicy = p;
  return 0;
}

extern "C" uint32_t SWD_SetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pTknPolicy) {
  const SessionPin pin(hSession);
  uint32_t rc = require_any(pin, ZEB_DEVICE_SESS_TOKENUSER_LOGIN);
  if (rc != 0) return rc;
  if (pTknPolicy == nullptr) return SWD_ERR_ARGUMENTS;
  const bool super_user = (pin.info().SessStatus & ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN) != 0;
  auto edit = [&](TKN_USER_CFG& cfg, bool* write) -> uint32_t {
    // The super user's counters belong to the super user: a user session may
    // not rewrite them (that would undo a lock-out of the super-user PIN).
    const bool su_changes = pTknPolicy->SuperUserLoginFailCount != cfg.SuperUserLoginFailCount ||
                            pTknPolicy->MaxSuperUserLoginFailCount != cfg.MaxSuperUserLoginFailCount;
    if (su_changes && !super_user) return SWD_ERR_NOT_LOGGED_IN;
    cfg.SuperUserLoginFailCount = pTknPolicy->SuperUserLoginFailCount;
    cfg.MaxSuperUserLoginFailCount = pTknPolicy->MaxSuperUserLoginFailCount;
    cfg.NormalUserLoginFailCount = pTknPolicy->NormalUserLoginFailCount;
    cfg.MaxNormalUserLoginFailCount = pTknPolicy->MaxNormalUserLoginFailCount;
    *write = true;
    return 0;
  };
  return update_session_token(pin, edit);
}

extern "C" uint32_t SWD_BackupToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32VerifyPinLen,
                                    uint8_t* pBackupData, uint32_t* pu32BackupDataLen) {
  const SessionPin pin(hSession);
  uint32_t rc = require_any(pin, ZEB_DEVICE_SESS_TOKENUSER_LOGIN);
  if (rc != 0) return rc;
  if (u32VerifyPinLen > SWD_PIN_MAX || (pVerifyPin == nullptr && u32VerifyPinLen != 0) ||
      pBackupData == nullptr || pu32BackupDataLen == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  ZEB_DEVICE_TOKEN_SESSION_INFO info;
  Wiped<TKN_USER_CFG> cfg;
  if ((rc = load_session_token(pin, &info, cfg.get())) != 0) return rc;
  const uint32_t size = u32VerifyPinLen + static_cast<uint32_t>(SWD_BACKUP_CFG_LEN);
  if (*pu32BackupDataLen < size) return SWD_ERR_FAILED;
  if (u32VerifyPinLen != 0) std::memcpy(pBackupData, pVerifyPin, u32VerifyPinLen);
  std::memcpy(pBackupData + u32VerifyPinLen, cfg.get(), SWD_BACKUP_CFG_LEN);
  *pu32BackupDataLen = size;
  return 0;
}

extern "C" uint32_t SWD_RestoreToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32VerifyPinLen,
                                     uint8_t* pBackupData, uint32_t u32BackupDataLen) {
  // A backup is exactly the verify PIN followed by the configuration: refuse
  // anything shorter, and demand the whole PIN (an empty or shorter PIN would
  // otherwise match any prefix).
  if (pBackupData == nullptr || u32BackupDataLen < SWD_BACKUP_CFG_LEN || u32VerifyPinLen > SWD_PIN_MAX ||
      (pVerifyPin == nullptr && u32VerifyPinLen != 0)) {
    return SWD_ERR_ARGUMENTS;
  }
  const uint32_t prefix = u32BackupDataLen - static_cast<uint32_t>(SWD_BACKUP_CFG_LEN);
  if (prefix > SWD_PIN_MAX) return SWD_ERR_ARGUMENTS;
  if (prefix != u32VerifyPinLen || !pin_matches(pBackupData, prefix, pVerifyPin, u32VerifyPinLen)) {
    return SWD_ERR_FAILED;
  }
  Wiped<TKN_USER_CFG> backup;
  std::memcpy(backup.get(), pBackupData + prefix, SWD_BACKUP_CFG_LEN);

  const SessionPin pin(hSession);
  uint32_t rc = require_any(pin, ZEB_DEVICE_SESS_TOKENUSER_LOGIN);
  if (rc != 0) return rc;
  // The current user PIN is kept: read and written under one hold of the
  // writer lock, so that a PIN changed meanwhile is the one kept.
  auto edit = [&](TKN_USER_CFG& current, bool* write) -> uint32_t {
    if (!restorable(*backup.get())) return SWD_ERR_ARGUMENTS;  // would not survive the text file
    std::memcpy(backup.NormalUserPin, current.NormalUserPin, 32);
    backup.u32NormalUserPinLen = current.u32NormalUserPinLen;
    current = *backup.get();
    *write = true;
    return 0;
  };
  return update_session_token(pin, edit);
}

extern "C" uint32_t SWD_UnlockTokenNormalUser(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_ID* TknId) {
  const SessionPin pin(hSession);
  uint32_t rc = require_any(pin, ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN);
  if (rc != 0) return rc;
  if (TknId == nullptr) return SWD_ERR_ARGUMENTS;
  // A token's super user unlocks that token only; the HSM administrator any.
  char target[17], own[17];
  id_of(TknId, target);
  id_of(pin.info().TknId, own);
  const bool admin = (pin.info().SessStatus & ZEB_DEVICE_SESS_HSMADMIN_LOGIN) != 0;
  if (!admin && std::strcmp(target, own) != 0) return SWD_ERR_NOT_LOGGED_IN;
  auto edit = [](TKN_USER_CFG& cfg, bool* write) -> uint32_t {
    if (cfg.TknStatus != ZEB_DEVICE_TKN_NORMALUSER_LOCKED) return SWD_ERR_FAILED;
    cfg.TknStatus = ZEB_DEVICE_TKN_NORMALUSER_INIT;
    cfg.NormalUserLoginFailCount = 0;
    cfg.MaxNormalUserLoginFailCount = SWD_DEFAULT_MAX_FAILS;
    *write = true;
    return 0;
  };
  return update_token(target, edit);
}

extern "C" uint32_t SWD_LogoutToken(ZEB_DEVICE_HANDLE hSession) {
  return logout(hSession, ZEB_DEVICE_SESS_TOKENUSER_LOGIN);
}

extern "C" uint32_t SWD_LogoutTokenSuperUser(ZEB_DEVICE_HANDLE hSession) {
  return logout(hSession, ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN);
}
