// The administration tool's commands: printers of the HSM and token tables and
// information blocks, and the command-line dispatcher.
#pragma once

#include <zeb/vrk.h>

#include <cstdint>

namespace velm {

const char* HsmTypeToString(VRK_UCHAR type);
const char* HsmStatusToString(VRK_UCHAR status);
// "SOFTWARE", "QUILLSTAR", "TALON", "TESTBED" back to their type; 84 for any
// other name, 0x500 for a null one.
[[nodiscard]] VRK_RV get_hsm_type_from_str(const char* hsmtype_str, VRK_UCHAR* hsmtype);

// The HSM type the tool records in the login configuration for a listed HSM:
// a software HSM keeps its own type, every secure element is driven as type 5.
VRK_UCHAR login_type_for(VRK_UCHAR listed_type);

[[nodiscard]] VRK_RV cli_list_hsm();
[[nodiscard]] VRK_RV cli_set_hsm_sn_to_login_config(const VRK_HSM_SN* sn, VRK_UCHAR listed_type);
[[nodiscard]] VRK_RV cli_create_token_by_pin(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len,
                                             const VRK_UCHAR* token_su_pin, uint32_t token_su_pin_len,
                                             const VRK_UCHAR* token_nu_pin, uint32_t token_nu_pin_len);
[[nodiscard]] VRK_RV cli_list_token();
[[nodiscard]] VRK_RV cli_delete_token(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_id,
                                      uint32_t token_id_len);
[[nodiscard]] VRK_RV cli_get_token_info(const VRK_UCHAR* token_id, uint32_t token_id_len);
[[nodiscard]] VRK_RV cli_get_hsm_info();
[[nodiscard]] VRK_RV cli_set_token_super_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                  const VRK_UCHAR* origin_pin, uint32_t origin_pin_len,
                                                  const VRK_UCHAR* new_pin, uint32_t new_pin_len);
[[nodiscard]] VRK_RV cli_set_token_normal_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                   const VRK_UCHAR* origin_pin, uint32_t origin_pin_len,
                                                   const VRK_UCHAR* new_pin, uint32_t new_pin_len);
[[nodiscard]] VRK_RV cli_unlock_token_normal_user(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                  const VRK_UCHAR* token_super_user_pin,
                                                  uint32_t token_super_user_pin_len);
[[nodiscard]] VRK_RV cli_reset_vrk(const VRK_UCHAR* hsm_sn, uint32_t hsm_sn_len, VRK_UCHAR listed_type);

// The process exit status of a result: 0 only for success.
int exit_status(VRK_RV rv);

// Runs one command line; returns the process exit status.
int velm_main(int argc, char** argv);

}  // namespace velm
