// What the core service calls directly in the secure-element back end.
#pragma once

#include "zeb/crypto.h"
#include "zeb/device.h"
#include "zeb/storage.h"

// The secure-element device record (88 bytes); its contents belong to the
// secure-element back end.
typedef struct SE_DEVICE {
  uint8_t raw[88];
} SE_DEVICE;
static_assert(sizeof(SE_DEVICE) == 88);

extern "C" {

// Appends up to maxCount attached devices (type byte, 16-byte serial number,
// 32-byte label each) to the flat arrays and sets the count; always 0.
uint32_t FWD_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                      uint32_t* pulCount);

[[nodiscard]] uint32_t open_test_device(int argc, char** argv, SE_DEVICE* dev);
[[nodiscard]] uint32_t sdb_init(void);
[[nodiscard]] uint32_t set_current_device(SE_DEVICE* device);
[[nodiscard]] uint32_t close_test_device(SE_DEVICE* dev);
SE_DEVICE* FWD_get_se_device(void);
[[nodiscard]] uint32_t FWSto_set_se_device(SE_DEVICE* dev);

// Two new objects stored as one change of the device (both data streams,
// then one closing part that commits both): after a crash of the host or the
// device there are both or neither. Indexes are written on success only.
[[nodiscard]] uint32_t FWSto_CreateObjectPair_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pFirst,
                                                 uint32_t u32FirstLen, STO_SEOBJ* pFirstEntry, uint8_t* pSecond,
                                                 uint32_t u32SecondLen, STO_SEOBJ* pSecondEntry,
                                                 uint32_t* pu32FirstIndex, uint32_t* pu32SecondIndex);

extern const DA_Functions_t fwd_functions;
extern const SA_Functions_t fwstore_functions;

[[nodiscard]] uint32_t FWC_CloseSession_mw(ZEB_CRYPTO_HANDLE hSession);
[[nodiscard]] uint32_t FWC_SetMK_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pSwMK, uint32_t u32SwMKLen);
[[nodiscard]] uint32_t FWC_ClearMK_mw(ZEB_CRYPTO_HANDLE hSession);
uint32_t FWC_ExportValue_mw(ZEB_CRYPTO_HANDLE hFWCryptoSession, uint8_t* pFakeAddress, uint32_t fakeAddressLen,
                            uint8_t* pValue, uint32_t* pValueLen);

extern const C_AESFunc_t FWC_AESFunc;
extern const C_RSAFunc_t FWC_RSAFunc;
extern const C_ECCFunc_t FWC_ECCFunc;
extern const C_KeyBlobFunc_t FWC_KeyBlobFunc;

}  // extern "C"
