// Configuration files of the software HSM: the administration directory
// pointer, the HSM list, the HSM record, the token list and the token
// configurations.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "oxlu/file.h"
#include "oxlu/scan.h"
#include "swd_internal.h"

namespace swd {
namespace {

constexpr const char* kSwHsmDir = "SwHsm/";
constexpr const char* kHsmAdminFile = "HsmAdmin.cfg";
constexpr const char* kTknListFile = "TknUser.list";
constexpr const char* kTknCfgFile = "TknUser.cfg";

// Largest file any reader accepts; the writers never come near it.
constexpr size_t kMaxFile = 16384;
// Longest line any reader scans.
constexpr size_t kMaxLine = 8192;

// Composes a file's text in wiped memory.
class Text {
 public:
  bool ok() const { return ok_; }
  const char* data() const { return reinterpret_cast<const char*>(buf_.data()); }
  size_t size() const { return len_; }
  Text& key(const char* k) { return raw(k, std::strlen(k)); }
  // A text field: its bytes up to the first zero, at most `width`.
  Text& field(const uint8_t* p, size_t width) { return raw(reinterpret_cast<const char*>(p), text_len(p, width)); }
  Text& num(int64_t v) {
    char tmp[24];
    const int n = std::snprintf(tmp, sizeof tmp, "%d", static_cast<int>(v));
    return raw(tmp, static_cast<size_t>(n));
  }
  Text& nl() { return raw("\n", 1); }

 private:
  Text& raw(const char* p, size_t n) {
    if (len_ + n > buf_.size()) {
      ok_ = false;
      return *this;
    }
    std::memcpy(buf_.data() + len_, p, n);
    len_ += n;
    return *this;
  }
  quarzel::SecretArray<8192> buf_;
  size_t len_ = 0;
  bool ok_ = true;
};

// Reads a whole file into wiped memory. An OXLU_* result, or kNoMemory when
// no buffer can be had.
constexpr int kNoMemory = -1;
int read_file(const char* path, quarzel::SecretBytes* out) {
  if (!quarzel::try_assign(*out, kMaxFile)) return kNoMemory;
  size_t len = 0;
  const int rc = oxlu_read_file(path, out->data(), out->size(), &len);
  out->resize(rc == OXLU_OK ? len : 0);
  return rc;
}

// A file error of read_file as the device reports it.
uint32_t read_error(int rc, uint32_t file_code) { return rc == kNoMemory ? SWD_ERR_HOST_MEMORY : file_code; }

// Applies `fn` to every line (lines cut to `max_line` - 1 bytes).
template <class Fn>
void for_lines(const quarzel::SecretBytes& text, size_t max_line, Fn&& fn) {
  quarzel::SecretArray<kMaxLine> line;
  oxlu::for_each_line(reinterpret_cast<const char*>(text.data()), text.size(),
                      reinterpret_cast<char*>(line.data()), max_line < kMaxLine ? max_line : kMaxLine, fn);
}

// Makes `dir` when it does not exist. 0, or `fail` when it cannot be opened
// or made.
uint32_t ensure_dir(const char* dir, uint32_t fail) {
  DIR* d = opendir(dir);
  if (d != nullptr) {
    closedir(d);
    return 0;
  }
  if (errno != ENOENT) return fail;
  return cross_mkdir(dir) == 0 ? 0 : fail;
}

uint32_t admin_paths(char (&dir)[SWD_PATH_LEN], char (&file)[SWD_PATH_LEN]) {
  uint32_t rc = compose_path(dir, "%s%s", g_hsmAdminPath, kSwHsmDir);
  if (rc == 0) rc = compose_path(file, "%s%s%s", g_hsmAdminPath, kSwHsmDir, kHsmAdminFile);
  return rc;
}

uint32_t token_paths(const char* id, char (&dir)[SWD_PATH_LEN], char (&file)[SWD_PATH_LEN]) {
  char idz[17] = {};
  std::memcpy(idz, id, text_len(reinterpret_cast<const uint8_t*>(id), 16));
  uint32_t rc = compose_path(dir, "%s%s%s", g_hsmAdminPath, kSwHsmDir, idz);
  if (rc == 0) rc = compose_path(file, "%s%s%s/%s", g_hsmAdminPath, kSwHsmDir, idz, kTknCfgFile);
  return rc;
}


void parse_admin(const quarzel::SecretBytes& text, HSM_ADMIN_CFG* out) {
  Wiped<HSM_ADMIN_CFG> c;
  for_lines(text, 8192, [&](const char* l) {
    _swdev_scan_char(l, "Pin=", c.Pin, 32);
    _swdev_scan_uint32(l, "PinLen=", &c.u32PinLen);
    _swdev_scan_char(l, "Sn=", c.HsmSn, 16);
    _swdev_scan_char(l, "Label=", c.HsmLabel, 32);
    _swdev_scan_uint32(l, "LabelLen=", &c.u32LabelLen);
    _swdev_scan_char(l, "FwVer=", c.FwVersion, 16);
    _swdev_scan_uint32(l, "FwVerLen=", &c.u32FwVerLen);
    _swdev_scan_uint8(l, "Type=", &c.HsmType);
    _swdev_scan_uint8(l, "Status=", &c.HsmStatus);
    _swdev_scan_uint8(l, "CurrTknCount=", &c.TokenCount);
    _swdev_scan_uint8(l, "MaxTknCount=", &c.MaxTokenCount);
    _swdev_scan_uint8(l, "CurrLoginFail=", &c.LoginFailCount);
    _swdev_scan_uint8(l, "MaxLoginFail=", &c.MaxLoginFailCount);
    _swdev_scan_char(l, "Default=", c.Default, 32);
    _swdev_scan_uint32(l, "DefaultLen=", &c.u32DefLen);
  });
  *out = *c.get();
}

bool admin_text(const HSM_ADMIN_CFG& c, Text* out) {
  Text& t = *out;
  const size_t label_len = c.u32LabelLen < 32 ? c.u32LabelLen : 32;
  t.key("Pin=").field(c.Pin, 32).nl();
  t.key("PinLen=").num(c.u32PinLen).nl();
  t.key("Sn=").field(c.HsmSn, 16).nl();
  t.key("Label=").field(c.HsmLabel, label_len).nl();
  t.key("LabelLen=").num(c.u32LabelLen).nl();
  t.key("FwVer=").field(c.FwVersion, 16).nl();
  t.key("FwVerLen=").num(c.u32FwVerLen).nl();
  t.key("Type=").num(c.HsmType).nl();
  t.key("Status=").num(c.HsmStatus).nl();
  t.key("CurrTknCount=").num(c.TokenCount).nl();
  t.key("MaxTknCount=").num(c.MaxTokenCount).nl();
  t.key("CurrLoginFail=").num(c.LoginFailCount).nl();
  t.key("MaxLoginFail=").num(c.MaxLoginFailCount).nl();
  t.key("Default=").field(c.Default, 32).nl();
  t.key("DefaultLen=").num(c.u32DefLen).nl();
  return t.ok();
}

void parse_token(const quarzel::SecretBytes& text, TKN_USER_CFG* out) {
  Wiped<TKN_USER_CFG> c;
  for_lines(text, 4096, [&](const char* l) {
    _swdev_scan_char(l, "Sn=", c.Sn, 16);
    _swdev_scan_char(l, "NormalUserPin=", c.NormalUserPin, 32);
    _swdev_scan_uint32(l, "u32NormalUserPinLen=", &c.u32NormalUserPinLen);
    _swdev_scan_char(l, "SuperUserPin=", c.SuperUserPin, 32);
    _swdev_scan_uint32(l, "u32SuperUserPinLen=", &c.u32SuperUserPinLen);
    _swdev_scan_char(l, "MK=", c.MK, 32);
    _swdev_scan_char(l, "MacK=", c.MacK, 32);
    _swdev_scan_char(l, "Label=", c.Label, 32);
    _swdev_scan_uint32(l, "u32LabelLen=", &c.u32LabelLen);
    _swdev_scan_uint8(l, "Status=", &c.TknStatus);
    _swdev_scan_uint8(l, "CurrSuperUserLoginFailCount=", &c.SuperUserLoginFailCount);
    _swdev_scan_uint8(l, "MaxSuperUserLoginFailCount=", &c.MaxSuperUserLoginFailCount);
    _swdev_scan_uint8(l, "CurrNormalUserLoginFailCount=", &c.NormalUserLoginFailCount);
    _swdev_scan_uint8(l, "MaxNormalUserLoginFailCount=", &c.MaxNormalUserLoginFailCount);
  });
  *out = *c.get();
}

bool token_text(const TKN_USER_CFG& c, Text* out) {
  Text& t = *out;
  t.key("Sn=").field(c.Sn, 16).nl();
  t.key("NormalUserPin=").field(c.NormalUserPin, 32).nl();
  t.key("u32NormalUserPinLen=").num(c.u32NormalUserPinLen).nl();
  t.key("SuperUserPin=").field(c.SuperUserPin, 32).nl();
  t.key("u32SuperUserPinLen=").num(c.u32SuperUserPinLen).nl();
  t.key("MK=").field(c.MK, 32).nl();
  t.key("MacK=").field(c.MacK, 32).nl();
  t.key("Label=").field(c.Label, 32).nl();
  t.key("u32LabelLen=").num(c.u32LabelLen).nl();
  t.key("Status=").num(c.TknStatus).nl();
  t.key("CurrSuperUserLoginFailCount=").num(c.SuperUserLoginFailCount).nl();
  t.key("MaxSuperUserLoginFailCount=").num(c.MaxSuperUserLoginFailCount).nl();
  t.key("CurrNormalUserLoginFailCount=").num(c.NormalUserLoginFailCount).nl();
  t.key("MaxNormalUserLoginFailCount=").num(c.MaxNormalUserLoginFailCount).nl();
  return t.ok();
}

// The configuration file of an existing token directory: 0, 0x150, or 0x50
// when the id is unusable or the directory does not open. A missing
// directory is named as this thread's file error: the code cannot tell a
// token whose folder is gone from a malformed id.
uint32_t token_cfg_path(const char* id, char (&file)[SWD_PATH_LEN]) {
  if (!token_id_ok(reinterpret_cast<const uint8_t*>(id))) return SWD_ERR_HSM_CFG;
  char dir[SWD_PATH_LEN];
  uint32_t rc = token_paths(id, dir, file);
  if (rc != 0) return rc;
  DIR* d = opendir(dir);
  if (d == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) oxlu_note_file_error("find", file, ENOENT);
    return SWD_ERR_HSM_CFG;
  }
  closedir(d);
  return 0;
}

}  // namespace

bool parse_token_text(const uint8_t* text, size_t len, TKN_USER_CFG* out) {
  quarzel::SecretBytes copy;
  if (!quarzel::try_assign(copy, len)) return false;
  if (len != 0) std::memcpy(copy.data(), text, len);
  parse_token(copy, out);
  return true;
}

uint32_t token_cfg_file(const char* id, char (&file)[SWD_PATH_LEN]) {
  if (!token_id_ok(reinterpret_cast<const uint8_t*>(id))) return SWD_ERR_HSM_CFG;
  char dir[SWD_PATH_LEN];
  return token_paths(id, dir, file);
}

uint32_t update_token_cfg(const char* id, CfgEdit<TKN_USER_CFG> edit, void* ctx) {
  char file[SWD_PATH_LEN];
  uint32_t rc = token_cfg_path(id, file);
  if (rc != 0) return rc;
  oxlu::WriteLock lock;
  if (lock.acquire(file) != OXLU_OK) return SWD_ERR_TKN_CFG;
  quarzel::SecretBytes text;
  if (!quarzel::try_assign(text, kMaxFile)) return SWD_ERR_HOST_MEMORY;
  size_t len = 0;
  if (lock.read(text.data(), text.size(), &len) != OXLU_OK) return SWD_ERR_TKN_CFG;
  text.resize(len);
  Wiped<TKN_USER_CFG> cfg;
  parse_token(text, cfg.get());
  bool write = false;
  rc = edit(ctx, *cfg.get(), &write);
  if (!write) return rc;
  Text t;
  if (!token_text(*cfg.get(), &t)) return SWD_ERR_PATH_LONG;
  const TokenFileChange change;
  if (change.status() != 0) return change.status();
  if (lock.write(t.data(), t.size(), OXLU_PERM_SECRET) != OXLU_OK) return SWD_ERR_TKN_CFG;
  return rc;
}

uint32_t update_admin_cfg(CfgEdit<HSM_ADMIN_CFG> edit, void* ctx) {
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  uint32_t rc = admin_paths(dir, file);
  if (rc != 0) return rc;
  if ((rc = ensure_dir(dir, SWD_ERR_FAILED)) != 0) return rc;
  oxlu::WriteLock lock;
  if (lock.acquire(file) != OXLU_OK) return SWD_ERR_HSM_CFG;
  quarzel::SecretBytes text;
  if (!quarzel::try_assign(text, kMaxFile)) return SWD_ERR_HOST_MEMORY;
  size_t len = 0;
  if (lock.read(text.data(), text.size(), &len) != OXLU_OK) return SWD_ERR_HSM_CFG;
  text.resize(len);
  Wiped<HSM_ADMIN_CFG> cfg;
  parse_admin(text, cfg.get());
  bool write = false;
  rc = edit(ctx, *cfg.get(), &write);
  if (!write) return rc;
  Text t;
  if (!admin_text(*cfg.get(), &t)) return SWD_ERR_PATH_LONG;
  if (lock.write(t.data(), t.size(), OXLU_PERM_SECRET) != OXLU_OK) return SWD_ERR_HSM_CFG;
  (void)_swdev_SetHsmInfo(cfg.get());  // fills the cache; cannot fail
  return rc;
}

uint32_t compose_path(char (&out)[SWD_PATH_LEN], const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(out, SWD_PATH_LEN, fmt, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= SWD_PATH_LEN) return SWD_ERR_PATH_LONG;
  return 0;
}

namespace {

uint32_t token_list_path(char (&path)[SWD_PATH_LEN]) {
  return compose_path(path, "%s%s%s", g_hsmAdminPath, kSwHsmDir, kTknListFile);
}

// The list's text read into `out`: false (code set) when it holds more
// entries than the device has slots.
bool parse_token_list(const quarzel::SecretBytes& text, ZEB_DEVICE_TKN_USER_LIST* out, uint32_t* code) {
  ZEB_DEVICE_TKN_USER_LIST list{};
  size_t idx = 0;
  bool too_many = false;
  for_lines(text, 1024, [&](const char* l) {
    uint8_t seq = 0;
    if (_swdev_scan_uint8(l, "TknSeq=", &seq) == 0) {
      list.TknSeq = seq;
      return;
    }
    const bool is_entry = std::strncmp(l, "TknID=", 6) == 0 || std::strncmp(l, "TknSn=", 6) == 0 ||
                          std::strncmp(l, "TknLabel=", 9) == 0;
    if (!is_entry) return;
    if (idx >= SWD_MAX_TOKENS) {  // a fifth entry: never written past the arrays
      too_many = true;
      return;
    }
    _swdev_scan_char(l, "TknID=", list.TknId[idx], 16);
    _swdev_scan_char(l, "TknSn=", list.TknSn[idx], 16);
    if (_swdev_scan_char(l, "TknLabel=", list.TknLabel[idx], 32) == 0) ++idx;
  });
  if (too_many) {
    *code = SWD_ERR_FAILED;
    return false;
  }
  list.TknNum = static_cast<uint8_t>(idx);
  *out = list;
  *code = 0;
  return true;
}

bool token_list_text(const ZEB_DEVICE_TKN_USER_LIST& l, Text* out) {
  Text& t = *out;
  const size_t want = l.TknNum > static_cast<size_t>(l.TknSeq) + 1 ? l.TknNum : static_cast<size_t>(l.TknSeq) + 1;
  const size_t n = want < SWD_MAX_TOKENS ? want : SWD_MAX_TOKENS;
  for (size_t i = 0; i < n; ++i) {
    static const uint8_t kZero[16] = {};
    if (std::memcmp(l.TknId[i], kZero, 16) == 0) continue;  // an empty slot
    t.key("TknID=").field(l.TknId[i], 16).nl();
    t.key("TknSn=").field(l.TknSn[i], 16).nl();
    t.key("TknLabel=").field(l.TknLabel[i], 32).nl();
  }
  t.key("TknSeq=").num(l.TknSeq).nl();
  return t.ok();
}

}  // namespace

ListRead read_token_list(ZEB_DEVICE_TKN_USER_LIST* out, uint32_t* code) {
  char path[SWD_PATH_LEN];
  *code = token_list_path(path);
  if (*code != 0) return ListRead::failed;
  quarzel::SecretBytes text;
  const int rc = read_file(path, &text);
  if (rc != OXLU_OK) {
    *code = read_error(rc, SWD_ERR_TKN_LIST);
    return rc == OXLU_E_NOENT ? ListRead::missing : ListRead::failed;
  }
  return parse_token_list(text, out, code) ? ListRead::ok : ListRead::failed;
}

ListRead TokenListEdit::begin(uint32_t* code, bool wait) {
  char path[SWD_PATH_LEN];
  *code = token_list_path(path);
  if (*code != 0) return ListRead::failed;
  if ((wait ? lock_.acquire(path) : lock_.try_acquire(path)) != OXLU_OK) {
    *code = SWD_ERR_TKN_LIST;
    return ListRead::failed;
  }
  quarzel::SecretBytes text;
  if (!quarzel::try_assign(text, kMaxFile)) {
    *code = SWD_ERR_HOST_MEMORY;
    return ListRead::failed;
  }
  size_t len = 0;
  const int rc = lock_.read(text.data(), text.size(), &len);
  if (rc != OXLU_OK) {
    *code = SWD_ERR_TKN_LIST;
    return rc == OXLU_E_NOENT ? ListRead::missing : ListRead::failed;
  }
  text.resize(len);
  return parse_token_list(text, &list_, code) ? ListRead::ok : ListRead::failed;
}

uint32_t TokenListEdit::commit() {
  if (!lock_.held()) return SWD_ERR_TKN_LIST;
  Text t;
  if (!token_list_text(list_, &t)) return SWD_ERR_PATH_LONG;
  if (lock_.write(t.data(), t.size(), OXLU_PERM_PUBLIC) != OXLU_OK) return SWD_ERR_TKN_CFG;
  return 0;
}

bool token_id_ok(const uint8_t* id) {
  if (id == nullptr) return false;
  const size_t n = text_len(id, 16);
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    if (id[i] == '/' || id[i] < 0x20) return false;
  }
  return !(n == 1 && id[0] == '.') && !(n == 2 && id[0] == '.' && id[1] == '.');
}

void note_missing_hsm_files() {
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  if (admin_paths(dir, file) != 0) return;
  struct stat st{};
  if (::stat(dir, &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    oxlu_note_file_error("find", dir, errno);
  } else if (::stat(file, &st) != 0 && errno == ENOENT) {
    oxlu_note_file_error("find", file, ENOENT);
  }
}

}  // namespace swd

using namespace swd;

extern "C" uint32_t SWD_LoadHsmAdminFilePathConfig(uint8_t* pfilepathConf) {
  if (pfilepathConf == nullptr) return SWD_ERR_NULL;
  std::memset(pfilepathConf, 0, SWD_PATH_LEN);
  std::memcpy(pfilepathConf, "./", 3);
  quarzel::SecretBytes text;
  if (const int rf = read_file("./device_filepath.cfg", &text); rf != OXLU_OK) return read_error(rf, SWD_ERR_PATH_FILE);
  for_lines(text, 1024, [&](const char* l) { _swdev_scan_char(l, "HsmAdmin_config_path=", pfilepathConf, SWD_PATH_LEN); });
  return 0;
}

extern "C" uint32_t _swdev_LoadHsmSNList(SW_HSM_LIST* phsm_sn_list, uint8_t* hsm_count) {
  if (phsm_sn_list == nullptr || hsm_count == nullptr) return SWD_ERR_NULL;
  quarzel::SecretBytes text;
  if (const int rf = read_file("./sw_hsm_list.txt", &text); rf != OXLU_OK) {
    // The list is where every software HSM starts: its absence is the reason
    // none is found, and the user is told so.
    if (rf == OXLU_E_NOENT) oxlu_note_file_error("read", "./sw_hsm_list.txt", ENOENT);
    return read_error(rf, SWD_ERR_PATH_FILE);
  }
  SW_HSM_LIST list{};
  size_t idx = 0;
  bool too_many = false;
  for_lines(text, 1024, [&](const char* l) {
    const bool is_entry = std::strncmp(l, "HSMSn=", 6) == 0 || std::strncmp(l, "HSMLabel=", 9) == 0 ||
                          std::strncmp(l, "HSMType=", 8) == 0;
    if (!is_entry) return;
    if (idx >= SWD_MAX_HSMS) {
      too_many = true;
      return;
    }
    HSM_LIST_INFO& e = list.hsminfo[idx];
    _swdev_scan_char(l, "HSMSn=", e.hsm_sn, 16);
    _swdev_scan_char(l, "HSMLabel=", e.hsm_label, 32);
    if (_swdev_scan_uint8(l, "HSMType=", &e.hsm_type) == 0) ++idx;
  });
  if (too_many) return SWD_ERR_FAILED;
  *phsm_sn_list = list;
  *hsm_count = static_cast<uint8_t>(idx);
  return 0;
}

extern "C" uint32_t GetHsmAdminCFG(HSM_ADMIN_CFG* pHsmAdminCFG) {
  if (pHsmAdminCFG == nullptr) return SWD_ERR_NULL;
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  uint32_t rc = admin_paths(dir, file);
  if (rc != 0) return rc;
  if ((rc = ensure_dir(dir, SWD_ERR_FAILED)) != 0) return rc;
  quarzel::SecretBytes text;
  if (const int rf = read_file(file, &text); rf != OXLU_OK) return read_error(rf, SWD_ERR_HSM_CFG);
  parse_admin(text, pHsmAdminCFG);
  return 0;
}

extern "C" uint32_t SetHsmAdminCFG(const HSM_ADMIN_CFG* pHsmAdminCFG) {
  if (pHsmAdminCFG == nullptr) return SWD_ERR_NULL;
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  uint32_t rc = admin_paths(dir, file);
  if (rc != 0) return rc;
  Text t;
  if (!admin_text(*pHsmAdminCFG, &t)) return SWD_ERR_PATH_LONG;
  if ((rc = ensure_dir(dir, SWD_ERR_FAILED)) != 0) return rc;
  if (oxlu_write_file_atomic(file, t.data(), t.size(), OXLU_PERM_SECRET) != OXLU_OK) return SWD_ERR_HSM_CFG;
  return _swdev_SetHsmInfo(pHsmAdminCFG);
}

extern "C" uint32_t _swdev_GetTokenUsrList(ZEB_DEVICE_TKN_USER_LIST* pTknUsrList) {
  if (pTknUsrList == nullptr) return SWD_ERR_NULL;
  uint32_t code = 0;
  read_token_list(pTknUsrList, &code);
  return code;
}

extern "C" uint32_t _swdev_SetTokenUserList(const ZEB_DEVICE_TKN_USER_LIST* pTknUsrList) {
  if (pTknUsrList == nullptr) return SWD_ERR_NULL;
  char path[SWD_PATH_LEN];
  const uint32_t rc = token_list_path(path);
  if (rc != 0) return rc;
  Text t;
  if (!token_list_text(*pTknUsrList, &t)) return SWD_ERR_PATH_LONG;
  if (oxlu_write_file_atomic(path, t.data(), t.size(), OXLU_PERM_PUBLIC) != OXLU_OK) return SWD_ERR_TKN_CFG;
  return 0;
}

extern "C" uint32_t _swdev_addTokenInTokenUserList(ZEB_DEVICE_TKN_USER_LIST* tknusrlist,
                                                   const ZEB_DEVICE_TOKEN_SN* tokenSN, ZEB_DEVICE_TOKEN_ID* pTknId) {
  if (tknusrlist == nullptr || tokenSN == nullptr || pTknId == nullptr) return SWD_ERR_NULL;
  ZEB_DEVICE_TKN_USER_LIST& l = *tknusrlist;
  if (l.TknNum + 1 > static_cast<int>(SWD_MAX_TOKENS)) return SWD_ERR_FAILED;
  static const uint8_t kZero[16] = {};
  size_t slot = SWD_MAX_TOKENS;
  for (size_t i = 0; i < SWD_MAX_TOKENS; ++i) {
    if (std::memcmp(l.TknId[i], kZero, 16) == 0) {
      slot = i;
      break;
    }
  }
  if (slot == SWD_MAX_TOKENS) return SWD_ERR_FAILED;
  const int num = l.TknNum + 1 > l.TknSeq + 1 ? l.TknNum + 1 : l.TknSeq + 1;
  char id[17] = {};
  std::snprintf(id, sizeof id, "Tkn%02d", num);
  std::memcpy(l.TknId[slot], id, 16);
  std::memcpy(pTknId, id, 16);
  std::memset(l.TknLabel[slot], 0, 32);
  std::memcpy(l.TknLabel[slot], "ZEB-Default-Token-Label", 23);
  std::memcpy(l.TknSn[slot], tokenSN, 16);
  l.TknNum = static_cast<uint8_t>(l.TknNum + 1);
  l.TknSeq = static_cast<uint8_t>(l.TknSeq + 1);
  return 0;
}

extern "C" uint32_t _swdev_GetTokenUserCFG(const char* TknID, TKN_USER_CFG* pTknUsrCFG) {
  if (TknID == nullptr || pTknUsrCFG == nullptr) return SWD_ERR_NULL;
  char file[SWD_PATH_LEN];
  uint32_t rc = token_cfg_path(TknID, file);
  if (rc != 0) return rc;
  quarzel::SecretBytes text;
  if (const int rf = read_file(file, &text); rf != OXLU_OK) {
    if (rf == OXLU_E_NOENT) oxlu_note_file_error("find", file, ENOENT);  // the folder holds no token
    return read_error(rf, SWD_ERR_TKN_CFG);
  }
  parse_token(text, pTknUsrCFG);
  return 0;
}

extern "C" uint32_t _swdev_SetTokenUserCFG(const char* pTknID, const TKN_USER_CFG* pTknUsrCFG) {
  if (pTknID == nullptr || pTknUsrCFG == nullptr) return SWD_ERR_NULL;
  if (!token_id_ok(reinterpret_cast<const uint8_t*>(pTknID))) return SWD_ERR_TKN_CFG;
  char dir[SWD_PATH_LEN], file[SWD_PATH_LEN];
  uint32_t rc = token_paths(pTknID, dir, file);
  if (rc != 0) return rc;
  Text t;
  if (!token_text(*pTknUsrCFG, &t)) return SWD_ERR_PATH_LONG;
  if (ensure_dir(dir, SWD_ERR_TKN_CFG) != 0) return SWD_ERR_TKN_CFG;
  const TokenFileChange change;
  if (change.status() != 0) return change.status();
  if (oxlu_write_file_atomic(file, t.data(), t.size(), OXLU_PERM_SECRET) != OXLU_OK) return SWD_ERR_TKN_CFG;
  return 0;
}

extern "C" uint32_t _swdev_setup_token_user_cfg(TKN_USER_CFG* tknusrcfg, const ZEB_DEVICE_TOKEN_SN* tkn_sn,
                                                const ZEB_DEVICE_HSM_SN* hsm_sn) {
  if (tknusrcfg == nullptr || tkn_sn == nullptr || hsm_sn == nullptr) return SWD_ERR_NULL;
  TKN_USER_CFG& c = *tknusrcfg;
  std::memset(&c, 0, sizeof c);
  std::memcpy(c.Sn, tkn_sn, 16);
  std::memcpy(c.NormalUserPin, tkn_sn, 16);
  c.u32NormalUserPinLen = 16;
  std::memcpy(c.SuperUserPin, hsm_sn, 16);
  c.u32SuperUserPinLen = 16;
  std::memcpy(c.Label, "ZEB-Default-Token-Label", 23);
  c.u32LabelLen = 23;
  if (!random_key_bytes(c.MacK, 32) || !random_key_bytes(c.MK, 32)) {
    quarzel::secure_wipe(&c, sizeof c);
    return SWD_ERR_FAILED;
  }
  c.TknStatus = ZEB_DEVICE_TKN_UNINIT;
  c.MaxSuperUserLoginFailCount = SWD_DEFAULT_MAX_FAILS;
  c.MaxNormalUserLoginFailCount = SWD_DEFAULT_MAX_FAILS;
  return 0;
}
