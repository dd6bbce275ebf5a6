// Login configuration: "./VRK_Filepath.cfg" names the directory of "HSM.cfg",
// which records the HSM type and serial number (and optionally a label and
// stored PINs).
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core_internal.h"
#include "oxlu/file.h"
#include "oxlu/scan.h"
#include "quarzel/port.h"

namespace zeb::core {
namespace {

constexpr char kFilePathConfig[] = "./VRK_Filepath.cfg";
constexpr char kLoginConfigName[] = "HSM.cfg";
constexpr char kLoginPathKey[] = "Hsm_login_config_path=";
constexpr size_t kMaxLine = 1024;

// Reads one line of at most kMaxLine - 1 bytes into `line`; the rest of a
// longer line is skipped, so that no piece of it is taken for a line start.
bool read_line(FILE* f, char (&line)[kMaxLine]) {
  if (std::fgets(line, sizeof line, f) == nullptr) return false;
  const size_t n = std::strlen(line);
  if (n > 0 && line[n - 1] != '\n') {
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') {
    }
  }
  return true;
}

// Opens a configuration file for reading. Null when it cannot be; `*missing`
// then tells a file that is not there (a default applies) from one that
// cannot be read (a failure, whose reason oxlu_file_error gives).
FILE* open_config(const char* path, bool* missing) {
  FILE* f = fopen_safe(path, "r");
  *missing = f == nullptr && ::access(path, F_OK) != 0 && errno == ENOENT;
  return f;
}

// Forms "<dir>HSM.cfg" in `path`; 336 when it needs 128 characters or more.
uint32_t login_config_file(char (&path)[VRK_PATH_LEN]) {
  VRK_LOGIN_CONFIG_PATH dir{};
  const uint32_t rv = SwHsm_LoadHsmLoginFilePathConfig(&dir);
  if (rv != VRK_OK) return rv;
  const int n = std::snprintf(path, sizeof path, "%s%s", dir.Hsm_login_config_path, kLoginConfigName);
  if (n < 0 || static_cast<size_t>(n) >= sizeof path) return VRK_ERR_BUFFER_TOO_SMALL;
  return VRK_OK;
}

// Loads HSM.cfg; `*missing` as for open_config.
uint32_t load_config(HSM_LOGIN_CONFIG* pHSMConf, bool* missing) {
  *missing = false;
  if (pHSMConf == nullptr) return VRK_ERR_ARGUMENTS;
  char path[VRK_PATH_LEN];
  uint32_t rv = login_config_file(path);
  if (rv != VRK_OK) return rv;
  FILE* f = open_config(path, missing);
  if (f == nullptr) return VRK_ERR_CONFIG_OPEN;

  HSM_LOGIN_CONFIG cfg{};
  char line[kMaxLine];
  while (read_line(f, line)) {
    scan_uint8(line, "HSMType=", &cfg.HsmType);
    scan_char(line, "HSMSn=", cfg.Sn, sizeof cfg.Sn);
    scan_char(line, "HSMLabel=", cfg.Label, sizeof cfg.Label);
    scan_char(line, "HSMPin=", cfg.Pin, sizeof cfg.Pin);
    scan_char(line, "TKNPin=", cfg.TknPin, sizeof cfg.TknPin);
  }
  quarzel::secure_wipe(line, sizeof line);
  // A read that failed part way is not an empty or shorter file.
  const bool read_failed = std::ferror(f) != 0;
  (void)fclose_safe(f);  // read only: nothing to lose on close
  if (read_failed) {
    quarzel::secure_wipe(&cfg, sizeof cfg);
    return VRK_ERR_CONFIG_OPEN;
  }
  *pHSMConf = cfg;
  quarzel::secure_wipe(&cfg, sizeof cfg);
  return VRK_OK;
}

}  // namespace

size_t field_len(const uint8_t* field, size_t width) noexcept {
  size_t n = 0;
  while (n < width && field[n] != 0) ++n;
  return n;
}

}  // namespace zeb::core

using namespace zeb::core;

extern "C" {

uint32_t SwHsm_LoadHsmLoginFilePathConfig(VRK_LOGIN_CONFIG_PATH* pfilepathConf) {
  if (pfilepathConf == nullptr) return VRK_ERR_ARGUMENTS;
  *pfilepathConf = VRK_LOGIN_CONFIG_PATH{};
  bool missing = false;
  FILE* f = open_config(kFilePathConfig, &missing);
  if (f == nullptr) {
    // No file: HSM.cfg in the working directory. One that cannot be read
    // is no such default: it names a directory we do not know.
    if (!missing) return VRK_ERR_CONFIG_OPEN;
    std::memcpy(pfilepathConf->Hsm_login_config_path, "./", 3);
    return VRK_OK;
  }
  // One byte more than the field, so that a value that would fill the field
  // with no terminator is seen and refused.
  uint8_t value[VRK_PATH_LEN + 1] = {};
  bool found = false;
  char line[kMaxLine];
  while (read_line(f, line)) {
    if (scan_char(line, kLoginPathKey, value, sizeof value) == 0) found = true;
  }
  const bool read_failed = std::ferror(f) != 0;
  (void)fclose_safe(f);  // read only: nothing to lose on close
  if (read_failed) return VRK_ERR_CONFIG_OPEN;
  if (!found) return VRK_OK;  // the empty directory: "HSM.cfg" in the working directory
  const size_t n = field_len(value, sizeof value);
  if (n >= VRK_PATH_LEN) return VRK_ERR_BUFFER_TOO_SMALL;
  std::memcpy(pfilepathConf->Hsm_login_config_path, value, n);
  return VRK_OK;
}

uint32_t SwHsm_LoadConfig(HSM_LOGIN_CONFIG* pHSMConf) {
  bool missing = false;
  return load_config(pHSMConf, &missing);
}


uint32_t create_dir_if_not_exist(const char* dir_path) {
  if (dir_path == nullptr) return VRK_ERR_ARGUMENTS;
  if (DIR* d = opendir(dir_path)) {
    closedir(d);
    return VRK_OK;
  }
  if (errno != ENOENT) return VRK_ERR_FAILED;
  return cross_mkdir(dir_path) == 0 ? VRK_OK : VRK_ERR_FAILED;
}

uint32_t SwHsm_UpdateVRKLoginConfig(const HSM_LOGIN_CONFIG* config) {
  if (config == nullptr) return VRK_ERR_ARGUMENTS;
  VRK_LOGIN_CONFIG_PATH dir{};
  uint32_t rv = SwHsm_LoadHsmLoginFilePathConfig(&dir);
  if (rv != VRK_OK) return rv;
  rv = create_dir_if_not_exist(dir.Hsm_login_config_path);
  if (rv != VRK_OK) return rv;
  char path[VRK_PATH_LEN];
  rv = login_config_file(path);
  if (rv != VRK_OK) return rv;
  // Copies of the file left by writers that were killed mid-write (they may
  // hold PINs); a live writer's copy stays.
  oxlu::remove_dead_temps_of(path);

  // The file may hold PINs: owner-only, and replaced atomically on close.
  FILE* f = fopen_safe_perm(path, "w", OXLU_PERM_SECRET);
  if (f == nullptr) return VRK_ERR_CONFIG_OPEN;
  const auto* c = config;
  std::fprintf(f, "HSMType=%d\n", c->HsmType);
  std::fprintf(f, "HSMSn=%.*s\n", 16, reinterpret_cast<const char*>(c->Sn));
  std::fprintf(f, "HSMLabel=%.*s\n", 32, reinterpret_cast<const char*>(c->Label));
  std::fprintf(f, "HSMPin=%.*s\n", 16, reinterpret_cast<const char*>(c->Pin));
  std::fprintf(f, "TKNPin=%.*s\n", 16, reinterpret_cast<const char*>(c->TknPin));
  // A failed write or commit leaves the earlier file in place.
  return fclose_safe(f) == 0 ? VRK_OK : VRK_ERR_FAILED;
}

uint32_t SwHsm_FilePathChecker(VRK_FILEPATH_CONFIG* pfilepathConf) {
  if (pfilepathConf == nullptr) return VRK_ERR_ARGUMENTS;
  char* paths[] = {pfilepathConf->HsmAdmin_config_path, pfilepathConf->Hsm_config_path,
                   pfilepathConf->tknobj_config_path};
  for (char* p : paths) {
    const size_t n = strnlen(p, VRK_PATH_LEN);
    if (n == VRK_PATH_LEN) return VRK_ERR_DATA_LEN;  // not terminated
    if (n > 0 && p[n - 1] == '/') continue;
    if (n >= 126) return VRK_ERR_DATA_LEN;
    // An empty path means the working directory.
    if (n == 0) {
      std::memcpy(p, "./", 3);
    } else {
      p[n] = '/';
      p[n + 1] = '\0';
    }
  }
  return VRK_OK;
}

}  // extern "C"

extern "C" VRK_RV VRK_SetHsmSnToLoginConfig(VRK_HSM_SN* sn, VRK_UCHAR hsmtype) {
  if (sn == nullptr) return VRK_ERR_ARGUMENTS;
  // Keep the label and stored PINs of an existing file; start from an empty
  // record only when there is none. A file that cannot be read is a failure:
  // rewriting it would lose what it holds.
  HSM_LOGIN_CONFIG cfg{};
  bool missing = false;
  uint32_t rv = load_config(&cfg, &missing);
  if (rv != VRK_OK && !(rv == VRK_ERR_CONFIG_OPEN && missing)) return rv;
  if (rv != VRK_OK) cfg = HSM_LOGIN_CONFIG{};
  std::memcpy(cfg.Sn, sn, sizeof cfg.Sn);
  cfg.HsmType = hsmtype;
  rv = SwHsm_UpdateVRKLoginConfig(&cfg);
  quarzel::secure_wipe(&cfg, sizeof cfg);
  return rv;
}

extern "C" VRK_RV VRK_GetFileError(char* pText, VRK_UINT32 u32TextLen) {
  if (pText == nullptr || u32TextLen == 0) return VRK_ERR_ARGUMENTS;
  (void)oxlu_file_error(pText, u32TextLen);
  return VRK_OK;
}
