// What the core service calls directly in the software back end (software
// device, software object store, software crypto provider). The back end
// implements these; the core selects its tables at start-up for HSM type 1.
#pragma once

#include "zeb/crypto.h"
#include "zeb/device.h"
#include "zeb/storage.h"

extern "C" {

// Reads the software HSM list (at most 4 entries) into three flat arrays:
// one type byte, one 16-byte serial number and one 32-byte label per HSM, each
// array with room for 4 entries. Returns 0, also for an empty or unreadable
// list (count 0).
[[nodiscard]] uint32_t SWD_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t* pulCount);

// One call of the core on this thread, begun and ended around its device
// operations (nested pairs count as one): within it the software device
// checks a token's keys against the token's file once, at their first use.
void SWD_BeginCall(void);
void SWD_EndCall(void);

// The software device's table (type word SWD_FUNCTIONS) and the software
// store's table (type word SWStore_FUNCTIONS).
extern const DA_Functions_t swd_functions;
extern const SA_Functions_t swstore_functions;

// Two objects stored as one change of the software store: both files, then
// one list naming both (a crash in between leaves neither listed, and
// start-up removes the files). Indexes are written on success only.
[[nodiscard]] uint32_t Sto_CreateObjectPair(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pFirst, uint32_t u32FirstLen,
                                            STO_SEOBJ* pFirstEntry, uint8_t* pSecond, uint32_t u32SecondLen,
                                            STO_SEOBJ* pSecondEntry, uint32_t* pu32FirstIndex,
                                            uint32_t* pu32SecondIndex);

// The key-blob cipher under a given key (AES-256-CTR, 1000-byte chunks each
// started from the fixed counter block, which is left in IV). Output may alias
// input; *pu32CipherLength becomes u32PlainDataLength. Errors of the cipher
// are returned.
uint32_t _AES_Encrypt(uint8_t* pAesKey, uint32_t u32AesKeyLength, uint8_t* pPlainData, uint32_t u32PlainDataLength,
                      uint8_t* IV, uint8_t* pCipher, uint32_t* pu32CipherLength);
uint32_t _AES_Decrypt(uint8_t* pAesKey, uint32_t u32AesKeyLength, uint8_t* pCipherData, uint32_t u32CipherDataLength,
                      uint8_t* IV, uint8_t* pPlain, uint32_t* pu32PlainLength);

// Software crypto provider sessions (20 slots). Unknown handles give
// VRK_ERR_SESSION_HANDLE; an open with all slots taken VRK_ERR_SESSION_COUNT.
[[nodiscard]] uint32_t SWC_OpenSession(uint32_t* phSwCryptoSession);
[[nodiscard]] uint32_t SWC_CloseSession(uint32_t hSwCryptoSession);
// Master key: exactly 32 bytes; any other length is refused with
// VRK_ERR_ARGUMENTS and the old key stays.
[[nodiscard]] uint32_t SWC_SetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t u32SwMKLen);
[[nodiscard]] uint32_t SWC_GetMK(uint32_t hSwCryptoSession, uint8_t* pSwMK, uint32_t* pu32SwMKLen);
[[nodiscard]] uint32_t SWC_ClearMK(uint32_t hSwCryptoSession);
// Fresh CTR_DRBG (AES-128 with derivation function) per call, seeded from the
// OS random source; u32DataLength bytes in one request.
[[nodiscard]] uint32_t SWC_Drbg_SEED(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t u32DataLength);
[[nodiscard]] uint32_t SWC_DigestInit(uint32_t hSWCryptoSession, uint8_t HashType);
[[nodiscard]] uint32_t SWC_DigestUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] uint32_t SWC_DigestFinal(uint32_t hSWCryptoSession, uint8_t* pDigest, uint32_t* pu32DigestLength);
// Block padding (no session).
uint32_t SWC_Padding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                     uint32_t* pDataOutLength);
uint32_t SWC_Unpadding(uint8_t PaddingType, uint32_t BlockSize, uint8_t* pData, uint32_t DataLength,
                       uint8_t* pDataOut, uint32_t* pDataOutLength);

// Crypto tables of the software provider (type word SWC_FUNCTIONS).
extern const C_AESFunc_t SWC_AESFunc;
extern const C_RSAFunc_t SWC_RSAFunc;
extern const C_ECCFunc_t SWC_ECCFunc;
extern const C_KeyBlobFunc_t SWC_KeyBlobFunc;
extern const C_KdfFunc_t SWC_KdfFunc;

// DER encoding of an ECDSA signature (r, s each rsLen big-endian bytes, not
// zero); *pDerLen is capacity in, length out. VRK_OK, VRK_ERR_ARGUMENTS or
// VRK_ERR_BUFFER_TOO_SMALL.
[[nodiscard]] uint32_t SignatureToDER(uint8_t* r, uint8_t* s, uint32_t rsLen, uint8_t* pDer, uint32_t* pDerLen);
// Strict DER reader: r and s without sign bytes; *pRLen and *pSLen are the
// capacities in (the curve's length) and the value lengths out. A malformed
// encoding, or an r or s longer than its capacity, gives
// VRK_ERR_SIGNATURE_INVALID.
uint32_t SignatureDERToRS(uint8_t* pDer, uint32_t derLen, uint8_t* r, uint8_t* s, uint32_t* pRLen,
                          uint32_t* pSLen);
// An EC public point (x || y, without 0x04) to and from a DER
// SubjectPublicKeyInfo on a named curve (ecc_crv_t id); *pPubKeyDerLen and
// *pQLen are capacity in, length out. VRK_OK, VRK_ERR_ARGUMENTS (malformed,
// unknown curve) or VRK_ERR_BUFFER_TOO_SMALL.
[[nodiscard]] uint32_t ECCPubkeyToDER(uint8_t Curve, uint8_t* QKey, uint32_t QLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen);
uint32_t ECCPubkeyDERToQ(uint8_t* pPubKeyDer, uint32_t PubkeyDerLen, uint8_t* pCurve, uint8_t* QKey,
                         uint32_t* pQLen);

}  // extern "C"
