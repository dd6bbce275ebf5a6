#include "mt_api.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace velm {
namespace {

constexpr VRK_RV kArgumentsBad = 0x07;     // CKR_ARGUMENTS_BAD
constexpr VRK_RV kTokenNotPresent = 0xE0;  // CKR_TOKEN_NOT_PRESENT
constexpr VRK_RV kFunctionFailed = 0x06;   // CKR_FUNCTION_FAILED

// The tool's diagnostic of a refused copy; like every diagnostic, on standard
// error, so that standard output holds only the command's results.
void report_overflow(const char* func, int line) {
  std::fprintf(stderr, "\033[1;31m[%s, %s, Line %d] tarvin: abort memcpy due to buffer overflow!\033[m\n", "VRK_MT_API",
               func, line);
}

// Bounded copy of a token ID from the command line into a zeroed 16-byte
// field. A longer ID is refused: going on with an all-zero ID would address a
// token nobody named.
[[nodiscard]] VRK_RV copy_token_id(const VRK_UCHAR* src, uint32_t len, VRK_TOKEN_ID (&dst)[VRK_ID_LEN],
                                   const char* func, int line) {
  std::memset(dst, 0, sizeof dst);
  if (len > sizeof dst) {
    report_overflow(func, line);
    return kArgumentsBad;
  }
  std::memcpy(dst, src, len);
  return 0;
}
#define VELM_COPY_ID(src, len, dst) copy_token_id((src), (len), (dst), __func__, __LINE__)

VRK_UCHAR* u(const VRK_UCHAR* p) { return const_cast<VRK_UCHAR*>(p); }

// Finalises the core service; its failure replaces the result.
VRK_RV finish(VRK_HANDLE hsm, VRK_RV rv) {
  const VRK_RV fin = VRK_Finalize(hsm);
  return fin != 0 ? fin : rv;
}

// A token ID the HSM does not list is CKR_TOKEN_NOT_PRESENT before any other
// work: the back ends would only fail on its missing files or records, with a
// code that says nothing of the cause.
[[nodiscard]] VRK_RV require_listed_token(VRK_HANDLE hsm, const VRK_TOKEN_ID (&id)[VRK_ID_LEN]) {
  VRK_TKN_USER_LIST tokens{};
  if (const VRK_RV rv = VRK_ListTokens(hsm, &tokens); rv != 0) return rv;
  const size_t n = std::min<size_t>(tokens.TknNum, std::size(tokens.TknId));
  for (size_t i = 0; i < n; ++i) {
    if (std::memcmp(tokens.TknId[i], id, VRK_ID_LEN) == 0) return 0;
  }
  return kTokenNotPresent;
}

// See mt_failure_reason.
const char* g_failure_reason = nullptr;

// Opens a token session, logs in with `login`, runs `op` (HSM handle, session),
// closes the session and finalises, as every token-user sequence does.
template <typename Login, typename Op>
VRK_RV token_sequence(const VRK_TOKEN_ID (&id)[VRK_ID_LEN], Login login, Op op) {
  g_failure_reason = nullptr;
  VRK_HANDLE hsm = 0;
  VRK_RV rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  rv = require_listed_token(hsm, id);
  if (rv != 0) return finish(hsm, rv);
  VRK_HANDLE session = 0;
  rv = VRK_OpenTokenSession(hsm, u(id), &session);
  if (rv == 0) {
    rv = login(session);
    if (rv == 0) rv = op(hsm, session);
    (void)VRK_CloseTokenSession(session);
  }
  return finish(hsm, rv);
}

}  // namespace

VRK_RV mt_list_hsm(VRK_UCHAR* pHsmType, VRK_UCHAR* ppHsmSnList, VRK_UCHAR* ppHsmLabelList, uint32_t* pu32Count) {
  if (pHsmType == nullptr || ppHsmSnList == nullptr || ppHsmLabelList == nullptr || pu32Count == nullptr)
    return kNullArgument;
  return VRK_ListHSMs(pHsmType, reinterpret_cast<VRK_UCHAR**>(ppHsmSnList),
                      reinterpret_cast<VRK_UCHAR**>(ppHsmLabelList), pu32Count);
}

VRK_RV mt_list_hsm(HsmList& list) {
  list = HsmList{};
  return mt_list_hsm(list.types, &list.sns[0][0], &list.labels[0][0], &list.count);
}

VRK_RV mt_set_hsm_sn_to_login_config(const VRK_HSM_SN* sn, VRK_UCHAR hsmtype) {
  if (sn == nullptr) return kNullArgument;
  return VRK_SetHsmSnToLoginConfig(const_cast<VRK_HSM_SN*>(sn), hsmtype);
}

VRK_RV mt_create_token_by_pin(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_su_pin,
                              uint32_t token_su_pin_len, const VRK_UCHAR* token_nu_pin, uint32_t token_nu_pin_len,
                              VRK_UCHAR* token_id, uint32_t* token_id_len) {
  if (hsm_pin == nullptr || token_su_pin == nullptr || token_nu_pin == nullptr || token_id == nullptr ||
      token_id_len == nullptr)
    return kNullArgument;
  VRK_HANDLE hsm = 0;
  VRK_RV rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;

  VRK_HANDLE hsm_session = 0;
  VRK_TOKEN_ID new_id[VRK_ID_LEN] = {};
  rv = VRK_OpenHsmSession(hsm, &hsm_session);
  if (rv == 0) rv = VRK_LoginHsmByPin(hsm_session, u(hsm_pin), hsm_pin_len);
  if (rv == 0) rv = VRK_CreateTknByPin(hsm_session, u(token_su_pin), token_su_pin_len, new_id);
  if (rv != 0) {
    if (hsm_session != 0) (void)VRK_CloseHsmSession(hsm_session);
    return finish(hsm, rv);
  }
  rv = VRK_CloseHsmSession(hsm_session);
  if (rv != 0) {
    (void)VRK_Finalize(hsm);  // leave nothing of the core running in this process
    return rv;
  }

  VRK_HANDLE session = 0;
  rv = VRK_OpenTokenSession(hsm, new_id, &session);
  if (rv != 0) return finish(hsm, rv);
  // A token created by PIN accepts the super user's PIN for its normal user
  // until that user's own PIN is set.
  rv = VRK_LoginTokenNormalUserByPin(session, u(token_su_pin), token_su_pin_len);
  if (rv == 0) rv = VRK_SetTokenNormalUserPin(session, u(token_nu_pin), token_nu_pin_len);
  if (rv == 0) {
    if (*token_id_len >= VRK_ID_LEN) {
      std::memcpy(token_id, new_id, VRK_ID_LEN);
    } else {
      report_overflow(__func__, __LINE__);
      rv = kArgumentsBad;
    }
  }
  (void)VRK_CloseTokenSession(session);
  return finish(hsm, rv);
}

VRK_RV mt_list_token(VRK_TKN_USER_LIST* tkn_user_list, TokenNotes* notes) {
  if (tkn_user_list == nullptr) return kNullArgument;
  VRK_HANDLE hsm = 0;
  VRK_RV rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  rv = VRK_ListTokens(hsm, tkn_user_list);
  if (rv == 0 && notes != nullptr) {
    *notes = TokenNotes{};
    static constexpr VRK_UCHAR kEmpty[VRK_ID_LEN] = {};
    for (size_t i = 0; i < std::size(tkn_user_list->TknId); ++i) {
      if (std::memcmp(tkn_user_list->TknId[i], kEmpty, VRK_ID_LEN) == 0) continue;
      VRK_TOKEN_INFO info{};
      if (VRK_GetTokenInfo(hsm, tkn_user_list->TknId[i], &info) == 0) continue;
      // Only a reason the core found is worth a note: a token that merely
      // answered with an error is listed as it is.
      (void)VRK_GetFileError(notes->text[i], sizeof notes->text[i]);
    }
  }
  return finish(hsm, rv);
}

VRK_RV mt_get_hsm_info(VRK_HSM_INFO* pHSMInfo) {
  if (pHSMInfo == nullptr) return kNullArgument;
  VRK_HANDLE hsm = 0;
  VRK_RV rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  return finish(hsm, VRK_GetHsmInfo(hsm, pHSMInfo));
}

VRK_RV mt_get_token_info(const VRK_UCHAR* token_id, uint32_t token_id_len, VRK_TOKEN_INFO* pTokenInfo) {
  if (token_id == nullptr || pTokenInfo == nullptr) return kNullArgument;
  VRK_TOKEN_ID id[VRK_ID_LEN];
  VRK_RV rv = VELM_COPY_ID(token_id, token_id_len, id);
  if (rv != 0) return rv;
  VRK_HANDLE hsm = 0;
  rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  rv = require_listed_token(hsm, id);
  if (rv == 0) rv = VRK_GetTokenInfo(hsm, id, pTokenInfo);
  return finish(hsm, rv);
}

VRK_RV mt_delete_token(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_id,
                       uint32_t token_id_len) {
  if (hsm_pin == nullptr || token_id == nullptr) return kNullArgument;
  VRK_TOKEN_ID id[VRK_ID_LEN];
  VRK_RV rv = VELM_COPY_ID(token_id, token_id_len, id);
  if (rv != 0) return rv;
  VRK_HANDLE hsm = 0;
  rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  VRK_HANDLE session = 0;
  rv = VRK_OpenHsmSession(hsm, &session);
  if (rv == 0) {
    rv = VRK_LoginHsmByPin(session, u(hsm_pin), hsm_pin_len);
    if (rv == 0) rv = VRK_DeleteToken(session, id);
    const VRK_RV closed = VRK_CloseHsmSession(session);
    if (rv == 0) rv = closed;
  }
  return finish(hsm, rv);
}

VRK_RV mt_set_token_normal_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len, const VRK_UCHAR* origin_pin,
                                    uint32_t origin_pin_len, const VRK_UCHAR* new_pin, uint32_t new_pin_len) {
  if (token_id == nullptr || origin_pin == nullptr || new_pin == nullptr) return kNullArgument;
  VRK_TOKEN_ID id[VRK_ID_LEN];
  if (const VRK_RV rv = VELM_COPY_ID(token_id, token_id_len, id); rv != 0) return rv;
  return token_sequence(
      id, [&](VRK_HANDLE s) { return VRK_LoginTokenNormalUserByPin(s, u(origin_pin), origin_pin_len); },
      [&](VRK_HANDLE, VRK_HANDLE s) { return VRK_SetTokenNormalUserPin(s, u(new_pin), new_pin_len); });
}

VRK_RV mt_set_token_super_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len, const VRK_UCHAR* origin_pin,
                                   uint32_t origin_pin_len, const VRK_UCHAR* new_pin, uint32_t new_pin_len) {
  if (token_id == nullptr || origin_pin == nullptr || new_pin == nullptr) return kNullArgument;
  VRK_TOKEN_ID id[VRK_ID_LEN];
  if (const VRK_RV rv = VELM_COPY_ID(token_id, token_id_len, id); rv != 0) return rv;
  return token_sequence(
      id, [&](VRK_HANDLE s) { return VRK_LoginTokenSuperUserByPin(s, u(origin_pin), origin_pin_len); },
      [&](VRK_HANDLE, VRK_HANDLE s) { return VRK_SetTokenSuperUserPin(s, u(new_pin), new_pin_len); });
}

VRK_RV mt_unlock_token_normal_user(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                   const VRK_UCHAR* token_super_user_pin, uint32_t token_super_user_pin_len) {
  if (token_id == nullptr || token_super_user_pin == nullptr) return kNullArgument;
  VRK_TOKEN_ID id[VRK_ID_LEN];
  if (const VRK_RV rv = VELM_COPY_ID(token_id, token_id_len, id); rv != 0) return rv;
  return token_sequence(
      id,
      [&](VRK_HANDLE s) {
        return VRK_LoginTokenSuperUserByPin(s, u(token_super_user_pin), token_super_user_pin_len);
      },
      [&](VRK_HANDLE hsm, VRK_HANDLE s) {
        const VRK_RV rv = VRK_UnlockTokenNormalUser(s, id);
        // The devices refuse a token that is not locked with the general
        // failure code: say which it was.
        VRK_TOKEN_INFO info{};
        if (rv == kFunctionFailed && VRK_GetTokenInfo(hsm, id, &info) == 0 &&
            info.TknStatus != ZEB_DEVICE_TKN_NORMALUSER_LOCKED) {
          g_failure_reason = "the token's user PIN is not locked";
        }
        return rv;
      });
}

VRK_RV mt_reset_vrk(const VRK_UCHAR* hsm_sn, uint32_t /*hsm_sn_len*/) {
  if (hsm_sn == nullptr) return kNullArgument;
  VRK_HANDLE hsm = 0;
  VRK_RV rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  rv = VRK_Finalize(hsm);
  if (rv != 0) return rv;
  // The HSM reset is the first of a fresh listing.
  HsmList list;
  rv = mt_list_hsm(list);
  if (rv != 0) return rv;
  rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  rv = VRK_ResetVrkBySn(hsm, list.sns[0]);
  if (rv != 0) {
    (void)VRK_Finalize(hsm);  // leave nothing of the core running in this process
    return rv;
  }
  return VRK_Finalize(hsm);
}

const char* mt_failure_reason() { return g_failure_reason; }

}  // namespace velm
