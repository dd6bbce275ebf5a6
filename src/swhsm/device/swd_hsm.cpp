// The HSM level of the software device: start and stop, HSM information,
// administrator login with failure counting, label, PIN and policy, token
// creation and deletion, reset, logout and the listing of software HSMs.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <mutex>

#include "oxlu/file.h"
#include "swd_internal.h"

namespace swd {
namespace {

// The token count the list gives: the list is what makes a token exist, so
// the record's count is only its copy (a kill between the two writes leaves
// the record behind; creation never trusts it).
uint8_t listed_count(const ZEB_DEVICE_TKN_USER_LIST& list) {
  static const uint8_t kZero[16] = {};
  uint8_t n = 0;
  for (const auto& id : list.TknId) n = static_cast<uint8_t>(n + (std::memcmp(id, kZero, 16) != 0));
  return n;
}

// Writes the list's token count into the HSM record, under its writer lock
// (the caller holds the list's). A failure leaves the old count, which the
// next start-up puts right: nothing relies on it.
void store_token_count(uint8_t count) {
  auto edit = [count](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    *write = rec.TokenCount != count;
    rec.TokenCount = count;
    return 0;
  };
  (void)update_admin(edit);
}

// The PIN a token created by PIN gets for both its users.
struct NewTokenPin {
  const uint8_t* pin;
  uint32_t len;
};

// Whether one more token fits, from the record and the listed count: 0, or
// the creating operation's code.
using CountRule = uint32_t (*)(const HSM_ADMIN_CFG& rec, uint8_t listed);

// Token creation shared by the three creating operations; `pin` null gives
// the defaults of a plain creation.
uint32_t create_token(CountRule count_rule, bool zero_on_read_failure, const NewTokenPin* pin, uint8_t* pTknId,
                      uint8_t* token_sn) {
  // The list's lock first, held to the end: another creator's entry and
  // count go in before or after this one's, never in between.
  TokenListEdit edit;
  uint32_t rc = 0;
  const ListRead read = edit.begin(&rc);
  if (read == ListRead::failed) return rc;
  ZEB_DEVICE_TKN_USER_LIST& list = edit.list();
  Wiped<HSM_ADMIN_CFG> rec;
  rc = GetHsmAdminCFG(rec.get());
  if (rc != 0) {
    if (!zero_on_read_failure) return rc;
    std::memset(rec.get(), 0, sizeof(HSM_ADMIN_CFG));
  }
  if ((rc = count_rule(*rec.get(), listed_count(list))) != 0) return rc;

  // Prepare the list entry before anything is written, so that a full or
  // unreadable list leaves every file as it was. Only a missing list starts a
  // new one: a busy or damaged list must never be replaced by a fresh one.
  uint8_t sn[16];
  if (!random_digits(sn, sizeof sn)) return SWD_ERR_FAILED;
  uint8_t id[16] = {};
  if ((rc = _swdev_addTokenInTokenUserList(&list, sn, id)) != 0) return rc;

  // The token's whole file first (with its PINs), then the list that makes
  // it exist, then the count: a kill or failure anywhere leaves either no
  // token (an unlisted folder, which start-up removes) or the whole token.
  Wiped<TKN_USER_CFG> cfg;
  if ((rc = _swdev_setup_token_user_cfg(cfg.get(), sn, rec.HsmSn)) != 0) return rc;
  if (pin != nullptr) {
    std::memset(cfg.SuperUserPin, 0, 32);
    std::memset(cfg.NormalUserPin, 0, 32);
    if (pin->len != 0) {
      std::memcpy(cfg.SuperUserPin, pin->pin, pin->len);
      std::memcpy(cfg.NormalUserPin, pin->pin, pin->len);
    }
    cfg.u32SuperUserPinLen = pin->len;
    cfg.u32NormalUserPinLen = pin->len;
    cfg.TknStatus = ZEB_DEVICE_TKN_NORMALUSER_INIT;
  }
  char idz[17] = {};
  std::memcpy(idz, id, 16);
  if ((rc = _swdev_SetTokenUserCFG(idz, cfg.get())) != 0) return rc;
  step("token file written");
  if ((rc = edit.commit()) != 0) return rc;
  step("list saved");
  store_token_count(listed_count(list));
  step("count saved");
  std::memcpy(pTknId, id, 16);
  if (token_sn != nullptr) std::memcpy(token_sn, sn, 16);
  return 0;
}

// Removes the files of a token the list no longer names (its own file, lock
// companion, temporary files of killed writers) and its folder. A folder
// holding anything else stays. The caller holds the list's writer lock, so no
// creator is filling such a folder meanwhile. `report`: a folder that stays
// is named on standard error.
void remove_token_files(const char* idz, bool report) {
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  if (compose_path(dir, "%s%s%s", g_hsmAdminPath, "SwHsm/", idz) != 0 ||
      compose_path(file, "%s%s%s/%s", g_hsmAdminPath, "SwHsm/", idz, "TknUser.cfg") != 0) {
    return;
  }
  // Under the file's lock, so that a writer of the token (a session opened
  // before the deletion) is never cut off mid-write; a file still busy stays
  // for the next start-up.
  char lock[SWD_PATH_LEN];
  if (remove_safe(file) != 0 && ::access(file, F_OK) != 0 && errno == ENOENT &&
      compose_path(lock, "%s.lock", file) == 0) {
    (void)::unlink(lock);  // the file was gone already: its companion guards nothing
  }
  oxlu::remove_dead_temps(dir);
  if (cross_rmdir(dir) != 0 && report && errno != ENOENT) std::perror(dir);
}

// Start-up housekeeping of the HSM's folder, done only when nobody is
// changing the token list (a creator or deleter holds its lock throughout;
// never waited for): the temporary files of killed configuration writers,
// the folders of tokens no list names (a creation killed before its list was
// saved, a deletion killed after), and the record's token count (`count`,
// as just read), set to the list's. Without a readable list nothing is
// removed.
void tidy_hsm_folder(uint8_t count) {
  char dir[SWD_PATH_LEN];
  if (compose_path(dir, "%s%s", g_hsmAdminPath, "SwHsm/") != 0) return;
  oxlu::remove_dead_temps(dir);
  TokenListEdit edit;
  uint32_t rc = 0;
  if (edit.begin(&rc, false) != ListRead::ok) return;
  const ZEB_DEVICE_TKN_USER_LIST& list = edit.list();
  if (count != listed_count(list)) store_token_count(listed_count(list));  // refreshes the cache
  DIR* d = opendir(dir);
  if (d == nullptr) return;
  // More than a list can hold, by a margin; any beyond go at the next start-up.
  char unlisted[2 * SWD_MAX_TOKENS][17] = {};
  size_t n_unlisted = 0;
  while (const dirent* e = readdir(d)) {
    char idz[17] = {};
    const size_t len = strnlen(e->d_name, sizeof idz);
    if (len == 0 || len >= sizeof idz) continue;
    std::memcpy(idz, e->d_name, len);
    char tdir[SWD_PATH_LEN];
    struct stat st{};
    if (!token_id_ok(reinterpret_cast<const uint8_t*>(idz)) ||
        compose_path(tdir, "%s%s%s", g_hsmAdminPath, "SwHsm/", idz) != 0 || ::lstat(tdir, &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
      continue;
    }
    bool listed = false;
    for (const auto& id : list.TknId) listed = listed || std::memcmp(id, idz, 16) == 0;
    if (listed) {
      oxlu::remove_dead_temps(tdir);
    } else if (n_unlisted < std::size(unlisted)) {
      std::memcpy(unlisted[n_unlisted++], idz, sizeof idz);
    }
  }
  closedir(d);
  if (n_unlisted == 0) return;
  // Announced like any token file change: a process still holding a session
  // on such a token finds its file gone at its next use.
  const TokenFileChange change;
  if (change.status() != 0) return;
  for (size_t i = 0; i < n_unlisted; ++i) remove_token_files(unlisted[i], false);
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

  // Looked at before the read, which makes the folder when it is missing.
  note_missing_hsm_files();
  Wiped<HSM_ADMIN_CFG> rec;
  if (GetHsmAdminCFG(rec.get()) != 0) std::memset(rec.get(), 0, sizeof(HSM_ADMIN_CFG));
  (void)_swdev_SetHsmInfo(rec.get());  // fills the cache; cannot fail
  if (Sn == nullptr) return SWD_ERR_NULL;
  if (std::memcmp(Sn, rec.HsmSn, 16) != 0) return SWD_ERR_SN_MISMATCH;
  tidy_hsm_folder(rec.TokenCount);
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

namespace {

// One more token, up to the record's maximum.
uint32_t one_more_token(const HSM_ADMIN_CFG& rec, uint8_t listed) {
  return listed + 1 > rec.MaxTokenCount ? SWD_ERR_FAILED : 0;
}

}  // namespace

extern "C" uint32_t SWD_CreateToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                    ZEB_DEVICE_TOKEN_SN* token_sn) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if (pTknId == nullptr) return SWD_ERR_ARGUMENTS;
  return create_token(one_more_token, true, nullptr, pTknId, token_sn);
}

extern "C" uint32_t SWD_CreateDefaultToken(ZEB_DEVICE_HANDLE /*hHsmSession*/, ZEB_DEVICE_TOKEN_ID* pTknId,
                                           ZEB_DEVICE_TOKEN_SN* token_sn) {
  if (pTknId == nullptr) return SWD_ERR_ARGUMENTS;
  // Only on an HSM without tokens.
  auto rule = [](const HSM_ADMIN_CFG&, uint8_t listed) -> uint32_t { return listed != 0 ? SWD_ERR_HSM_CFG : 0; };
  return create_token(rule, false, nullptr, pTknId, token_sn);
}

extern "C" uint32_t SWD_CreateTokenByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32TknPinLen,
                                         ZEB_DEVICE_TOKEN_ID* pTknId) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if ((rc = check_new_pin(pTknPin, u32TknPinLen)) != 0) return rc;  // before anything is created
  if (pTknId == nullptr) return SWD_ERR_ARGUMENTS;
  // The PINs go into the token's first file: the token is never listed with
  // the default PINs (the super user's would be the HSM's serial number).
  const NewTokenPin pin{pTknPin, u32TknPinLen};
  return create_token(one_more_token, true, &pin, pTknId, nullptr);
}

extern "C" uint32_t SWD_DeleteToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* TknId) {
  uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  if (TknId == nullptr) return SWD_ERR_ARGUMENTS;
  TokenListEdit edit;
  if (edit.begin(&rc) != ListRead::ok) return rc;
  ZEB_DEVICE_TKN_USER_LIST& list = edit.list();
  char doomed[SWD_MAX_TOKENS][17] = {};
  size_t n_doomed = 0;
  bool found = false;
  for (size_t i = 0; i < SWD_MAX_TOKENS; ++i) {
    if (std::memcmp(list.TknId[i], TknId, 16) != 0) continue;
    found = true;
    if (token_id_ok(list.TknId[i])) {  // never a path outside the HSM's directory
      std::memcpy(doomed[n_doomed++], list.TknId[i], 16);
    }
    std::memset(list.TknId[i], 0, 16);
    std::memset(list.TknLabel[i], 0, 32);
  }
  // No such token: nothing to delete, and the token count must not drop.
  if (!found) return 0;
  // The list without the token is saved first: a kill or failure after it
  // leaves only an unlisted folder, which start-up removes, and never a
  // listed token without its file. The removal is announced before the list
  // changes, so a busy stamp fails the whole deletion with nothing changed.
  const TokenFileChange change;
  if (change.status() != 0) return change.status();
  if ((rc = edit.commit()) != 0) return rc;
  step("list saved");
  store_token_count(listed_count(list));
  step("count saved");
  for (size_t i = 0; i < n_doomed; ++i) remove_token_files(doomed[i], true);
  step("files removed");
  return 0;
}

extern "C" uint32_t SWD_ResetVrk(ZEB_DEVICE_HANDLE hHsmSession) {
  const uint32_t rc = _swdev_checkHSMAdminLoggedIn(hHsmSession);
  if (rc != 0) return rc;
  return SWD_ResetVrkBySn(0, nullptr);
}

extern "C" uint32_t SWD_ResetVrkBySn(ZEB_DEVICE_HANDLE /*hHsm*/, ZEB_DEVICE_HSM_SN* /*sn*/) {
  // The list is emptied in place under its writer lock, not removed: a
  // removal takes the lock companion along, and a creator waiting on the old
  // companion and one opening a new one would both get in. The lock is held
  // until the record is written, so no creation falls between the two; a
  // list that stays busy fails the reset with nothing changed.
  TokenListEdit edit;
  uint32_t rc = 0;
  (void)edit.begin(&rc);  // a damaged list is what a reset replaces
  edit.list() = ZEB_DEVICE_TKN_USER_LIST{};
  if ((rc = edit.commit()) != 0) return rc;
  auto reset = [](HSM_ADMIN_CFG& rec, bool* write) -> uint32_t {
    rec.TokenCount = 0;
    rec.MaxTokenCount = SWD_MAX_TOKENS;
    rec.LoginFailCount = 0;
    rec.MaxLoginFailCount = SWD_DEFAULT_MAX_FAILS;
    rec.HsmStatus = ZEB_DEVICE_HSM_UNINIT;
    std::memset(rec.Pin, 0, sizeof rec.Pin);
    std::memcpy(rec.Pin, rec.HsmSn, 16);
    rec.u32PinLen = 16;
    *write = true;
    return 0;
  };
  return update_admin(reset);
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
