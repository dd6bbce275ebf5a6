// Device middleware: HSM and token sessions, key transfer between the token's
// and the session's wrapping, and the session key (class 0x86, and 0x88 for
// the key).
#include <cstring>

#include "mw/mw_call.h"
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

}  // namespace

extern "C" {

uint32_t FWD_OpenHsmSession_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession) {
  return send(SE_HERE, dev::OpenHsmSession, {{&hHsm}}, {{phHsmSession}});
}

uint32_t FWD_CloseHsmSession_mw(ZEB_DEVICE_HANDLE hHsmSession) {
  return send(SE_HERE, dev::CloseHsmSession, {{&hHsmSession}});
}

uint32_t FWD_GetHsmSessInfo_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo) {
  return send(SE_HERE, dev::GetHsmSessInfo, {{&hHsmSession}}, {{pInfo}});
}

uint32_t FWD_OpenTokenSession_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_HANDLE_PTR phSession) {
  return send(SE_HERE, dev::OpenTokenSession, {{&hHsm}, {pTknId}}, {{phSession}});
}

uint32_t FWD_CloseTokenSession_mw(ZEB_DEVICE_HANDLE hSession) {
  return send(SE_HERE, dev::CloseTokenSession, {{&hSession}});
}

uint32_t FWD_GetTokenSessionInfo_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo) {
  return send(SE_HERE, dev::GetTokenSessionInfo, {{&hSession}}, {{pInfo}});
}

// The request is packed before the reply is read, so input and output may be
// one buffer (the core re-wraps in place); *pu32SwKeyLen is the output's room.
uint32_t FWD_SetTknKey2Sw_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen, uint8_t* pSwKey,
                             uint32_t* pu32SwKeyLen) {
  if (pu32SwKeyLen == nullptr) return kBad;
  return send(SE_HERE, dev::SetTknKey2Sw, {{&hSession}, {pTknKey, u32TknKeyLen}},
              {{pSwKey, *pu32SwKeyLen, pu32SwKeyLen}});
}

uint32_t FWD_SetSwKey2Tkn_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pTknKey,
                             uint32_t* pu32TknKeyLen) {
  if (pu32TknKeyLen == nullptr) return kBad;
  return send(SE_HERE, dev::SetSwKey2Tkn, {{&hSession}, {pSwKey, u32SwKeyLen}},
              {{pTknKey, *pu32TknKeyLen, pu32TknKeyLen}});
}

// The session key is the device's: it made it at the token user's login, and
// the host's crypto provider gets the same key so that both wrap alike.
uint32_t FWD_GenSwKey_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t* pu32SwKeyLen) {
  if (pSwKey == nullptr || pu32SwKeyLen == nullptr) return kBad;
  quarzel::SecretArray<cmd::SE_SESSION_KEY_LEN> key;
  uint32_t n = 0;
  const uint32_t rv = mw::call(SE_HERE, cmd::cry::GetMK, {{&hSession}}, {{key.data(), cmd::SE_SESSION_KEY_LEN, &n}},
                               kBad);
  if (rv != 0) return rv;
  if (n != cmd::SE_SESSION_KEY_LEN) {
    se_log_failure(SE_ERR_SERIALIZER, SE_HERE);
    return SE_ERR_SERIALIZER;
  }
  std::memcpy(pSwKey, key.data(), n);
  *pu32SwKeyLen = n;
  return 0;
}

}  // extern "C"
