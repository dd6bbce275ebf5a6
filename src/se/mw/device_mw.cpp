// Device middleware: HSM and token commands (class 0x86). PINs leave the host
// only as their SHA-256 digest.
#include <cstdio>

#include "mw/mw_call.h"
#include "quarzel/hash.h"
#include "quarzel/secure.h"
#include "se/middleware.h"

using namespace se;
using se::mw::In;
using se::mw::Out;

namespace {

namespace dev = se::cmd::dev;
constexpr mw::device_mw_error kBad = mw::MW_ERR_PARAMETER;

uint32_t send(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
              std::initializer_list<Out> out = {}) {
  return mw::call(where, c, in, out, kBad);
}

// A command whose request is a handle and a PIN, sent as its digest.
uint32_t send_pin(const SeSite& where, const cmd::Command& c, uint32_t h, const uint8_t* pin, uint32_t pin_len,
                  std::initializer_list<Out> out = {}) {
  if (pin == nullptr && pin_len != 0) return kBad;
  quarzel::SecretArray<cmd::SE_PIN_DIGEST_LEN> digest;
  uint32_t digest_len = cmd::SE_PIN_DIGEST_LEN;
  const quarzel_ret_t rv = hash_onestep(HASH_TYPE_SHA2_256, pin_len, pin, &digest_len, digest.data());
  if (rv != 0 || digest_len != cmd::SE_PIN_DIGEST_LEN) {
    std::fprintf(stderr, "\033[1;32m[%s,%s,%d]\033[m ", "zeb_device_mw", where.func, where.line);
    std::fprintf(stderr, "hash_onestep failed, ret:%d\n\n", static_cast<int>(rv));
    return mw::MW_ERR_QUARZEL;
  }
  return mw::call(where, c, {{&h}, {digest.data(), digest_len}}, out, kBad);
}

}  // namespace

extern "C" {

uint32_t FWD_GetVersion_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion) {
  return send(SE_HERE, dev::GetVersion, {{&hHsm}}, {{pVersion}});
}

// The device is opened by the device adapter around these two; the HSM
// handle later commands carry is the one the device answers to.
uint32_t FWD_Initialize_mw(ZEB_DEVICE_HSM_SN* /*pSn*/, ZEB_DEVICE_HANDLE_PTR phHsm) {
  if (phHsm == nullptr) return kBad;
  *phHsm = cmd::SE_HSM_HANDLE;
  return mw::MW_ERR_OK;
}

uint32_t FWD_Finalize_mw(ZEB_DEVICE_HANDLE /*hHsm*/) { return mw::MW_ERR_OK; }

uint32_t FWD_GetHsmInfo_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pInfo) {
  return send(SE_HERE, dev::GetHsmInfo, {{&hHsm}}, {{pInfo}});
}

uint32_t FWD_LoginHsmByPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::LoginHsmByPin, hHsmSession, pPin, u32PinLen);
}

uint32_t FWD_SetHsmLabel_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pLabel, uint32_t u32LabelLen) {
  return send(SE_HERE, dev::SetHsmLabel, {{&hHsmSession}, {pLabel, u32LabelLen}});
}

uint32_t FWD_SetHsmPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::SetHsmPin, hHsmSession, pNewPin, u32PinLen);
}

uint32_t FWD_GetHsmPolicy_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy) {
  return send(SE_HERE, dev::GetHsmPolicy, {{&hHsmSession}}, {{pPolicy}});
}

uint32_t FWD_SetHsmPolicy_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy) {
  return send(SE_HERE, dev::SetHsmPolicy, {{&hHsmSession}, {pPolicy}});
}

uint32_t FWD_CreateDefaultToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                   ZEB_DEVICE_TOKEN_SN* pTknSn) {
  return send(SE_HERE, dev::CreateDefaultToken, {{&hHsmSession}}, {{pTknId}, {pTknSn}});
}

uint32_t FWD_CreateToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_SN* pTknSn) {
  return send(SE_HERE, dev::CreateToken, {{&hHsmSession}}, {{pTknId}, {pTknSn}});
}

uint32_t FWD_CreateTokenByPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32PinLen,
                                 ZEB_DEVICE_TOKEN_ID* pTknId) {
  if (pTknId == nullptr) return kBad;
  return send_pin(SE_HERE, dev::CreateTokenByPin, hHsmSession, pTknPin, u32PinLen, {{pTknId}});
}

uint32_t FWD_DeleteToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId) {
  return send(SE_HERE, dev::DeleteToken, {{&hHsmSession}, {pTknId}});
}

uint32_t FWD_UnlockToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId) {
  return send(SE_HERE, dev::UnlockToken, {{&hHsmSession}, {pTknId}});
}

uint32_t FWD_ResetVrk_mw(ZEB_DEVICE_HANDLE hHsmSession) { return send(SE_HERE, dev::ResetVrk, {{&hHsmSession}}); }

uint32_t FWD_ResetVrkBySn_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_SN* pSn) {
  return send(SE_HERE, dev::ResetVrkBySn, {{&hHsm}, {pSn}});
}

uint32_t FWD_LogoutHsm_mw(ZEB_DEVICE_HANDLE hHsmSession) { return send(SE_HERE, dev::LogoutHsm, {{&hHsmSession}}); }

uint32_t FWD_ListTokens_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* pList) {
  return send(SE_HERE, dev::ListTokens, {{&hHsm}}, {{pList}});
}

uint32_t FWD_GetTokenStatus_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, uint8_t* pStatus) {
  return send(SE_HERE, dev::GetTokenStatus, {{&hHsm}, {pTknId}}, {{pStatus}});
}

uint32_t FWD_GetTokenInfo_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_INFO* pInfo) {
  return send(SE_HERE, dev::GetTokenInfo, {{&hHsm}, {pTknId}}, {{pInfo}});
}

uint32_t FWD_LoginTokenByPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::LoginTokenByPin, hSession, pPin, u32PinLen);
}

uint32_t FWD_LoginTokenSuperUserByPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::LoginTokenSuperUserByPin, hSession, pPin, u32PinLen);
}

uint32_t FWD_SetTokenLabel_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pLabel, uint32_t u32LabelLen) {
  return send(SE_HERE, dev::SetTokenLabel, {{&hSession}, {pLabel, u32LabelLen}});
}

uint32_t FWD_SetTokenPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::SetTokenPin, hSession, pPin, u32PinLen);
}

uint32_t FWD_SetTokenSuperUserPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen) {
  return send_pin(SE_HERE, dev::SetTokenSuperUserPin, hSession, pPin, u32PinLen);
}

uint32_t FWD_GetTokenSn_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* pTknSn) {
  return send(SE_HERE, dev::GetTokenSn, {{&hSession}}, {{pTknSn}});
}

uint32_t FWD_GetTokenPolicy_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy) {
  return send(SE_HERE, dev::GetTokenPolicy, {{&hSession}}, {{pPolicy}});
}

uint32_t FWD_SetTokenPolicy_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy) {
  return send(SE_HERE, dev::SetTokenPolicy, {{&hSession}, {pPolicy}});
}

// The backup's verify PIN goes out as given: the device checks it itself.
uint32_t FWD_BackupToken_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                            uint32_t* pu32DataLen) {
  if (pu32DataLen == nullptr) return kBad;
  return send(SE_HERE, dev::BackupToken, {{&hSession}, {pVerifyPin, u32PinLen}},
              {{pData, *pu32DataLen, pu32DataLen}});
}

uint32_t FWD_RestoreToken_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                             uint32_t u32DataLen) {
  return send(SE_HERE, dev::RestoreToken, {{&hSession}, {pVerifyPin, u32PinLen}, {pData, u32DataLen}});
}

uint32_t FWD_LogoutToken_mw(ZEB_DEVICE_HANDLE hSession) { return send(SE_HERE, dev::LogoutToken, {{&hSession}}); }

uint32_t FWD_LogoutTokenSuperUser_mw(ZEB_DEVICE_HANDLE hSession) {
  return send(SE_HERE, dev::LogoutTokenSuperUser, {{&hSession}});
}

}  // extern "C"
