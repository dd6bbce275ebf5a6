// Wrapping and unwrapping of plain keys under a session's key.
#include "core_internal.h"
#include "keyblob/keyblob.h"
#include "quarzel/secure.h"

using zeb::core::SessionRef;

extern "C" {

uint32_t SwTkn_PlainKey2Sw(VRK_HANDLE hSession, uint8_t* pPlainKey, uint32_t u32PlainKeyLen, uint8_t* pSwKey,
                           uint32_t* pu32SwKeyLen) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  quarzel::SecretArray<VRK_MK_LEN> mk;
  uint32_t mkLen = VRK_MK_LEN;
  const auto rv = static_cast<uint32_t>(CA_GetMK(&ctx->CaCtx, mk.data(), &mkLen));
  if (rv != VRK_OK) return rv;
  return Key_Encrypt(mk.data(), mkLen, pPlainKey, u32PlainKeyLen, pSwKey, pu32SwKeyLen);
}

uint32_t SwTkn_SwKey2Plain(VRK_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pPlainKey,
                           uint32_t* pu32PlainKeyLen) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  quarzel::SecretArray<VRK_MK_LEN> mk;
  uint32_t mkLen = VRK_MK_LEN;
  const auto rv = static_cast<uint32_t>(CA_GetMK(&ctx->CaCtx, mk.data(), &mkLen));
  if (rv != VRK_OK) return rv;
  return Key_Decrypt(mk.data(), mkLen, pSwKey, u32SwKeyLen, pPlainKey, pu32PlainKeyLen);
}

}  // extern "C"
