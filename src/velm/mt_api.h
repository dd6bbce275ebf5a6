// Call sequences of the administration tool: each brings the core service up,
// opens the session its operation needs, logs in, runs one core operation,
// closes the session and finalises the core service, returning one result.
#pragma once

#include <zeb/vrk.h>

#include <cstdint>

namespace velm {

// The tool's own code for a null argument handed to a call sequence.
inline constexpr VRK_RV kNullArgument = 0x500;
// No HSM found (CKR_DEVICE_REMOVED): nothing to run a command on.
inline constexpr VRK_RV kNoHsmFound = 0x32;
// HSM listing capacity: at most 4 software HSMs and 10 secure elements.
inline constexpr uint32_t kHsmListCapacity = 14;

struct HsmList {
  VRK_UCHAR types[kHsmListCapacity] = {};
  VRK_UCHAR sns[kHsmListCapacity][VRK_SN_LEN] = {};
  VRK_UCHAR labels[kHsmListCapacity][VRK_LABEL_LEN] = {};
  uint32_t count = kHsmListCapacity;
};

[[nodiscard]] VRK_RV mt_list_hsm(VRK_UCHAR* pHsmType, VRK_UCHAR* ppHsmSnList, VRK_UCHAR* ppHsmLabelList,
                                 uint32_t* pu32Count);
[[nodiscard]] VRK_RV mt_list_hsm(HsmList& list);
[[nodiscard]] VRK_RV mt_set_hsm_sn_to_login_config(const VRK_HSM_SN* sn, VRK_UCHAR hsmtype);
[[nodiscard]] VRK_RV mt_create_token_by_pin(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_su_pin,
                                            uint32_t token_su_pin_len, const VRK_UCHAR* token_nu_pin,
                                            uint32_t token_nu_pin_len, VRK_UCHAR* token_id, uint32_t* token_id_len);
// Why each listed token cannot be used (its file missing, unreadable or
// busy), entry by entry of the list: the core's reason, or an empty text.
struct TokenNotes {
  char text[VRK_MAX_TOKENS][512] = {};
};
// The token list; with `notes`, also why each listed token cannot be used.
[[nodiscard]] VRK_RV mt_list_token(VRK_TKN_USER_LIST* tkn_user_list, TokenNotes* notes = nullptr);
[[nodiscard]] VRK_RV mt_get_hsm_info(VRK_HSM_INFO* pHSMInfo);
[[nodiscard]] VRK_RV mt_get_token_info(const VRK_UCHAR* token_id, uint32_t token_id_len, VRK_TOKEN_INFO* pTokenInfo);
[[nodiscard]] VRK_RV mt_delete_token(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_id,
                                     uint32_t token_id_len);
[[nodiscard]] VRK_RV mt_set_token_normal_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                  const VRK_UCHAR* origin_pin, uint32_t origin_pin_len,
                                                  const VRK_UCHAR* new_pin, uint32_t new_pin_len);
[[nodiscard]] VRK_RV mt_set_token_super_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                 const VRK_UCHAR* origin_pin, uint32_t origin_pin_len,
                                                 const VRK_UCHAR* new_pin, uint32_t new_pin_len);
[[nodiscard]] VRK_RV mt_unlock_token_normal_user(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                                 const VRK_UCHAR* token_super_user_pin,
                                                 uint32_t token_super_user_pin_len);
[[nodiscard]] VRK_RV mt_reset_vrk(const VRK_UCHAR* hsm_sn, uint32_t hsm_sn_len);

// Why the last call sequence failed when its code alone would mislead (a
// general code for a particular refusal), or nullptr.
const char* mt_failure_reason();

}  // namespace velm
