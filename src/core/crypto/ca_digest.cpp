// Digests and random numbers: always the software provider's session.
#include "core_internal.h"
#include "zeb/swhsm_services.h"

extern "C" {

int CA_DigestInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (pCaCtx->Crypto_Operation != VRK_OP_NONE) return VRK_ERR_OPERATION_ACTIVE;
  pCaCtx->Crypto_Operation = VRK_OP_DIGEST;
  const uint32_t rv = SWC_DigestInit(pCaCtx->hSW, HashType);
  if (rv != VRK_OK) pCaCtx->Crypto_Operation = VRK_OP_NONE;
  return static_cast<int>(rv);
}

int CA_DigestUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  // Without a running digest the provider's working context may hold another
  // operation's state: refuse rather than hash over it.
  if (pCaCtx->Crypto_Operation != VRK_OP_DIGEST) return VRK_ERR_NOT_INITIALIZED;
  const uint32_t rv = SWC_DigestUpdate(pCaCtx->hSW, pData, DataLength);
  if (rv != VRK_OK) pCaCtx->Crypto_Operation = VRK_OP_NONE;
  return static_cast<int>(rv);
}

int CA_DigestFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDigest, uint32_t* pu32DigestLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (pCaCtx->Crypto_Operation != VRK_OP_DIGEST) return VRK_ERR_NOT_INITIALIZED;
  const uint32_t rv = SWC_DigestFinal(pCaCtx->hSW, pDigest, pu32DigestLength);
  pCaCtx->Crypto_Operation = VRK_OP_NONE;
  return static_cast<int>(rv);
}

int CA_Drng(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t u32DataLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  return static_cast<int>(SWC_Drbg_SEED(pCaCtx->hSW, pData, u32DataLength));
}

}  // extern "C"
