// Login configuration of the core service: "./VRK_Filepath.cfg" names the
// directory of "HSM.cfg" (HSM type, serial number, label, stored PINs).
#pragma once

#include "zeb/vrk.h"

// In-memory form of "HSM.cfg". Text fields are zero-padded, not terminated
// when full.
typedef struct HSM_LOGIN_CONFIG {
  uint8_t HsmType;
  uint8_t Res[3];
  VRK_HSM_SN Sn[16];
  uint8_t Label[32];
  uint8_t Pin[16];     // HSM administrator PIN
  uint8_t TknPin[16];  // token user PIN
} HSM_LOGIN_CONFIG;
static_assert(sizeof(HSM_LOGIN_CONFIG) == 84);

// Directory of "HSM.cfg", used as a prefix ("./" by default).
typedef struct VRK_LOGIN_CONFIG_PATH {
  char Hsm_login_config_path[128];
} VRK_LOGIN_CONFIG_PATH;
static_assert(sizeof(VRK_LOGIN_CONFIG_PATH) == 128);

typedef struct VRK_FILEPATH_CONFIG {
  char Hsm_config_path[128];
  char HsmAdmin_config_path[128];
  char tknobj_config_path[128];
} VRK_FILEPATH_CONFIG;
static_assert(sizeof(VRK_FILEPATH_CONFIG) == 384);

extern "C" {

// The directory of "HSM.cfg": "./" when "./VRK_Filepath.cfg" cannot be
// opened, "" when it has no "Hsm_login_config_path=" line.
// VRK_ERR_BUFFER_TOO_SMALL for a value of 128 bytes or more.
[[nodiscard]] uint32_t SwHsm_LoadHsmLoginFilePathConfig(VRK_LOGIN_CONFIG_PATH* pfilepathConf);
// Reads "HSM.cfg": VRK_ERR_CONFIG_OPEN when it cannot be opened (missing or
// busy), VRK_ERR_BUFFER_TOO_SMALL when its path needs 128 characters or more.
[[nodiscard]] uint32_t SwHsm_LoadConfig(HSM_LOGIN_CONFIG* pHSMConf);
// Rewrites "HSM.cfg" atomically, owner-only (it may hold PINs).
[[nodiscard]] uint32_t SwHsm_UpdateVRKLoginConfig(const HSM_LOGIN_CONFIG* config);
[[nodiscard]] uint32_t create_dir_if_not_exist(const char* dir_path);
[[nodiscard]] uint32_t SwHsm_FilePathChecker(VRK_FILEPATH_CONFIG* pfilepathConf);

}  // extern "C"
