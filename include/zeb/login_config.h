// Login configuration of the core service: "./VRK_Filepath.cfg" names the
// directory of "HSM.cfg" (HSM type, serial number, label, stored PINs).
#pragma once

#include "zeb/vrk.h"

extern "C" {

// The directory of "HSM.cfg": "./" when "./VRK_Filepath.cfg" cannot be
// opened, "" when it has no "Hsm_login_config_path=" line. 336 for a value of
// 128 bytes or more.
uint32_t SwHsm_LoadHsmLoginFilePathConfig(VRK_LOGIN_CONFIG_PATH* pfilepathConf);
// Reads "HSM.cfg": 80 when it cannot be opened (missing or busy), 336 when its
// path needs 128 characters or more.
uint32_t SwHsm_LoadConfig(HSM_LOGIN_CONFIG* pHSMConf);
// Rewrites "HSM.cfg" atomically, owner-only (it may hold PINs).
uint32_t SwHsm_UpdateVRKLoginConfig(const HSM_LOGIN_CONFIG* config);
uint32_t create_dir_if_not_exist(const char* dir_path);
uint32_t SwHsm_FilePathChecker(VRK_FILEPATH_CONFIG* pfilepathConf);

}  // extern "C"
