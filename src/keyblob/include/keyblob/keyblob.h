// Key blobs: a key encrypted under a 32-byte wrapping key with AES-256 in
// counter mode, in 1000-byte chunks that each start from the same fixed
// counter block. No header, no MAC: the blob is exactly as long as the key.
//
// The core (session keys) and the back ends (their master and token keys)
// both write this format, so it sits below both of them.
#pragma once

#include <cstdint>

extern "C" {

// AES-256-CTR under the wrapping key, chunk by chunk; the fixed counter block
// is left in pIV. pResult may equal pData. Returns 0, 7 (CKR_ARGUMENTS_BAD)
// for a missing pointer, or the block cipher's error.
[[nodiscard]] uint32_t keyblob_crypt(uint8_t* pKEK, uint32_t u32KEKLength, uint8_t ucDir, uint8_t* pIV,
                                     uint8_t* pData, uint32_t u32DataLength, uint8_t* pResult);
// Wrap and unwrap a whole key; the output length equals the input length and
// is written only on success.
[[nodiscard]] uint32_t Key_Encrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pPlainKey,
                                   uint32_t u32PlainKeyLength, uint8_t* pKey, uint32_t* pu32KeyLength);
[[nodiscard]] uint32_t Key_Decrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pKey, uint32_t u32KeyLength,
                                   uint8_t* pPlainKey, uint32_t* pu32PlainKeyLength);

}  // extern "C"
