// Crypto adapter frame: the selected crypto tables, provider sessions and the
// session master key.
#include <atomic>
#include <cstring>

#include "core_internal.h"
#include "quarzel/port.h"
#include "zeb/se_services.h"
#include "zeb/swhsm_services.h"

namespace zeb::core {

// The crypto tables start-up installed for the HSM type. Atomic: a start-up
// may install them while another thread's operation reads them.
std::atomic<const C_AESFunc_t*> g_pAESFunctionList{nullptr};
std::atomic<const C_RSAFunc_t*> g_pRSAFunctionList{nullptr};
std::atomic<const C_ECCFunc_t*> g_pECCFunctionList{nullptr};
std::atomic<const C_KeyBlobFunc_t*> g_pKeyBlobFuncList{nullptr};
std::atomic<const C_KdfFunc_t*> g_pKdfFunctionList{nullptr};

}  // namespace zeb::core

namespace {

using zeb::core::g_pAESFunctionList;
using zeb::core::g_pECCFunctionList;
using zeb::core::g_pKdfFunctionList;
using zeb::core::g_pKeyBlobFuncList;
using zeb::core::g_pRSAFunctionList;

// The handle for the tables that start-up chose for this HSM type: the
// secure element's session when it serves them, else the software session.
ZEB_CRYPTO_HANDLE crypto_handle(const CryptoAdapterCtx& ctx) {
  return zeb::core::uses_se_crypto(ctx.Hsm_Type) ? ctx.hSE : ctx.hSW;
}

}  // namespace

namespace zeb::core {
void set_crypto_tables(const CryptoTables& tables) noexcept {
  g_pAESFunctionList.store(tables.aes, std::memory_order_release);
  g_pRSAFunctionList.store(tables.rsa, std::memory_order_release);
  g_pECCFunctionList.store(tables.ecc, std::memory_order_release);
  g_pKeyBlobFuncList.store(tables.keyblob, std::memory_order_release);
  g_pKdfFunctionList.store(tables.kdf, std::memory_order_release);
}
}  // namespace zeb::core

using zeb::core::uses_se_crypto;

extern "C" {

const C_AESFunc_t* CA_GetAESFunctionList(void) { return g_pAESFunctionList.load(std::memory_order_acquire); }
const C_RSAFunc_t* CA_GetRSAFunctionList(void) { return g_pRSAFunctionList.load(std::memory_order_acquire); }
const C_ECCFunc_t* CA_GetECCFunctionList(void) { return g_pECCFunctionList.load(std::memory_order_acquire); }
const C_KeyBlobFunc_t* CA_GetKeyBlobFunctionList(void) { return g_pKeyBlobFuncList.load(std::memory_order_acquire); }
const C_KdfFunc_t* CA_GetKdfFunctionList(void) { return g_pKdfFunctionList.load(std::memory_order_acquire); }

int CA_OpenSession(CryptoAdapterCtx* pCaCtx, ZEB_CRYPTO_HANDLE* phSW, ZEB_CRYPTO_HANDLE* phSE) {
  if (pCaCtx == nullptr || phSW == nullptr || phSE == nullptr) return VRK_ERR_ARGUMENTS;
  const uint32_t rv = SWC_OpenSession(phSW);
  if (rv != VRK_OK) return static_cast<int>(rv);
  pCaCtx->hSW = *phSW;
  pCaCtx->hSE = *phSE;
  pCaCtx->hCrypto = crypto_handle(*pCaCtx);
  pCaCtx->Crypto_Operation = VRK_OP_NONE;
  return VRK_OK;
}

int CA_CloseSession(CryptoAdapterCtx* pCaCtx, ZEB_CRYPTO_HANDLE* phSW, ZEB_CRYPTO_HANDLE* phSE) {
  if (pCaCtx == nullptr || phSW == nullptr || phSE == nullptr) return VRK_ERR_ARGUMENTS;
  uint32_t rv = SWC_CloseSession(*phSW);
  if (uses_se_crypto(pCaCtx->Hsm_Type)) rv = FWC_CloseSession_mw(*phSE);
  quarzel::secure_wipe(pCaCtx, sizeof *pCaCtx);
  *phSW = 0;
  *phSE = 0;
  return static_cast<int>(rv);
}

int CA_SetMK(CryptoAdapterCtx* pCaCtx, uint8_t* pSwMK, uint32_t u32SwMKLen) {
  if (pCaCtx == nullptr || pSwMK == nullptr) return VRK_ERR_ARGUMENTS;
  // Only a whole 32-byte key is installed; anything else leaves the session
  // keyed as it was and says so.
  if (u32SwMKLen != VRK_MK_LEN) return VRK_ERR_ARGUMENTS;
  uint32_t rv = SWC_SetMK(pCaCtx->hSW, pSwMK, u32SwMKLen);
  if (rv != VRK_OK) return static_cast<int>(rv);
  if (uses_se_crypto(pCaCtx->Hsm_Type)) rv = FWC_SetMK_mw(pCaCtx->hSE, pSwMK, u32SwMKLen);
  return static_cast<int>(rv);
}

int CA_GetMK(CryptoAdapterCtx* pCaCtx, uint8_t* pSwMK, uint32_t* pu32SwMKLen) {
  if (pCaCtx == nullptr || pSwMK == nullptr || pu32SwMKLen == nullptr) return VRK_ERR_ARGUMENTS;
  if (*pu32SwMKLen < VRK_MK_LEN) return VRK_ERR_BUFFER_TOO_SMALL;
  return static_cast<int>(SWC_GetMK(pCaCtx->hSW, pSwMK, pu32SwMKLen));
}

int CA_ClearMK(CryptoAdapterCtx* pCaCtx) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  const uint32_t rv = SWC_ClearMK(pCaCtx->hSW);
  if (uses_se_crypto(pCaCtx->Hsm_Type)) {
    const uint32_t se = FWC_ClearMK_mw(pCaCtx->hSE);
    if (se != VRK_OK) return static_cast<int>(se);
  }
  return static_cast<int>(rv);
}

int CA_ExportValue(CryptoAdapterCtx* pCaCtx, uint8_t* pFakeAddress, uint32_t fakeAddressLen, uint8_t* pValue,
                   uint32_t* pValueLen) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (!uses_se_crypto(pCaCtx->Hsm_Type)) return VRK_OK;
  return static_cast<int>(FWC_ExportValue_mw(pCaCtx->hSE, pFakeAddress, fakeAddressLen, pValue, pValueLen));
}

int CA_Pbkdf(CryptoAdapterCtx* pCaCtx, uint8_t* password, uint32_t password_len, uint8_t* salt, uint32_t salt_len,
             uint8_t* dk, uint32_t* dk_len) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  const C_KdfFunc_t* kdf = CA_GetKdfFunctionList();
  if (kdf == nullptr || kdf->C_Pbkdf == nullptr) return VRK_ERR_FAILED;
  // The KDF table is always the software provider's.
  return static_cast<int>(kdf->C_Pbkdf(pCaCtx->hSW, password, password_len, salt, salt_len, dk, dk_len));
}

int CA_GetMechanismList(uint32_t*, uint32_t*) { return VRK_ERR_NO_MECHANISM_INFO; }
int CA_GetMechanismInfo(uint32_t, void*) { return VRK_ERR_NO_MECHANISM_INFO; }

int CA_WrapKey(CryptoAdapterCtx* pCaCtx, uint8_t* pPlainKey, uint32_t u32PlainKeyLength, uint8_t* pKey,
               uint32_t* pu32KeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  const C_KeyBlobFunc_t* keyblob = CA_GetKeyBlobFunctionList();
  if (keyblob == nullptr || keyblob->C_KeyEncrypt == nullptr) return VRK_ERR_FAILED;
  return static_cast<int>(
      keyblob->C_KeyEncrypt(pCaCtx->hCrypto, pPlainKey, u32PlainKeyLength, pKey, pu32KeyLength));
}

int CA_UnwrapKey(CryptoAdapterCtx* pCaCtx, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                 uint32_t* pu32PlainKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  const C_KeyBlobFunc_t* keyblob = CA_GetKeyBlobFunctionList();
  if (keyblob == nullptr || keyblob->C_KeyDecrypt == nullptr) return VRK_ERR_FAILED;
  return static_cast<int>(
      keyblob->C_KeyDecrypt(pCaCtx->hCrypto, pKey, u32KeyLength, pPlainKey, pu32PlainKeyLength));
}

}  // extern "C"
