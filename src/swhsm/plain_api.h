// Declarations with plain integer types only, for the source files that also
// include the primitive library's headers (which must not meet the core's
// type headers in one translation unit: both name a NO_HASH_TYPE).
#pragma once

#include <cstdint>

extern "C" {

// The core's key-blob cipher (AES-256-CTR in 1000-byte chunks).
uint32_t keyblob_crypt(uint8_t* pKEK, uint32_t u32KEKLength, uint8_t ucDir, uint8_t* pIV, uint8_t* pData,
                       uint32_t u32DataLength, uint8_t* pResult);

uint32_t SWC_OpenSession(uint32_t* phSwCryptoSession);
uint32_t SWC_CloseSession(uint32_t hSwCryptoSession);
uint32_t SWC_CloseAllSessions(void);
uint32_t SWC_SetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t u32SwMKLen);
uint32_t SWC_GetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t* pu32SwMKLen);
uint32_t SWC_ClearMK(uint32_t hSwCryptoSession);
uint32_t SWC_Drbg_SEED(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t u32DataLength);
uint32_t SWC_DigestInit(uint32_t hSWCryptoSession, uint8_t HashType);
uint32_t SWC_DigestUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength);
uint32_t SWC_DigestFinal(uint32_t hSWCryptoSession, uint8_t* pDigest, uint32_t* pu32DigestLength);
uint32_t SWC_Padding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                     uint32_t* pDataOutLength);
uint32_t SWC_Unpadding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength,
                       uint8_t* pDataOut, uint32_t* pDataOutLength);
uint32_t SWC_Pbkdf(uint32_t hSWCryptoSession, uint8_t* password, uint32_t password_len, uint8_t* salt,
                   uint32_t salt_len, uint8_t* dk, uint32_t* dk_len);

}  // extern "C"

// True when a provider session has handle `h`.
bool swc_session_exists(uint32_t h);

namespace swd {
// The session software key: SHA3-256 over the handle's 4 bytes (host order).
bool session_key_digest(uint32_t handle, uint8_t key[32]);
}  // namespace swd

