// Software crypto provider: 20 provider sessions, each with a 32-byte master
// key and one working context, and the operations the core calls directly.
// The declarations shared with the core are in zeb/swhsm_services.h.
#pragma once

#include <cstdint>

#include "zeb/swhsm_services.h"

inline constexpr uint32_t SWC_ERR_ARGUMENTS = 0x007;
inline constexpr uint32_t SWC_ERR_NOT_SUPPORTED = 0x054;
inline constexpr uint32_t SWC_ERR_SESSION_COUNT = 0x0B1;
inline constexpr uint32_t SWC_ERR_SESSION_HANDLE = 0x0B3;

inline constexpr uint32_t SWC_MAX_SESSIONS = 20;
inline constexpr uint32_t SWC_MK_LEN = 32;

extern "C" {

[[nodiscard]] uint32_t SWC_CloseAllSessions(void);

// The key-blob transform with a given key (output length = input length).
uint32_t _Key_Encrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pPlainKey, uint32_t u32PlainKeyLength,
                      uint8_t* pKey, uint32_t* pu32KeyLength);
uint32_t _Key_Decrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                      uint32_t* pu32PlainKeyLength);
// The same under the session's master key (the key-blob table's slots).
uint32_t SWC_Key_Encrypt(uint32_t hSWCryptoSession, uint8_t* pPlainKey, uint32_t u32PlainKeyLength, uint8_t* pKey,
                         uint32_t* pu32KeyLength);
uint32_t SWC_Key_Decrypt(uint32_t hSWCryptoSession, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                         uint32_t* pu32PlainKeyLength);
// PBKDF2 with HMAC-SHA-256 and 4096 iterations; *dk_len bytes are derived.
uint32_t SWC_Pbkdf(uint32_t hSWCryptoSession, uint8_t* password, uint32_t password_len, uint8_t* salt,
                   uint32_t salt_len, uint8_t* dk, uint32_t* dk_len);

}  // extern "C"
