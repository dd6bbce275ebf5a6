// Key blobs (see keyblob/keyblob.h).
#include "keyblob/keyblob.h"

#include <cstring>

#include "quarzel/blockcipher.h"
#include "quarzel/aes.h"
#include "quarzel/secure.h"
#include "zeb/vrk_types.h"

namespace {

constexpr uint32_t kChunk = 1000;
constexpr uint8_t kCounterByte = 0x5A;  // every byte of the fixed counter block
constexpr uint32_t kBlock = AES_BLOCK_SIZE;

}  // namespace

extern "C" {

uint32_t keyblob_crypt(uint8_t* pKEK, uint32_t u32KEKLength, uint8_t ucDir, uint8_t* pIV, uint8_t* pData,
                       uint32_t u32DataLength, uint8_t* pResult) {
  if (pKEK == nullptr || pIV == nullptr) return VRK_ERR_ARGUMENTS;
  if (u32DataLength == 0) {
    std::memset(pIV, kCounterByte, kBlock);
    return VRK_OK;
  }
  if (pData == nullptr || pResult == nullptr) return VRK_ERR_ARGUMENTS;
  const auto dir = static_cast<cipher_dir_t>(ucDir);
  blockcipher_ctx_t ctx;
  quarzel::WipeOnExit<blockcipher_ctx_t> wipe(ctx);
  for (uint32_t off = 0; off < u32DataLength; off += kChunk) {
    const uint32_t n = (u32DataLength - off < kChunk) ? u32DataLength - off : kChunk;
    std::memset(pIV, kCounterByte, kBlock);
    // The key schedule is set up once; every later chunk restarts the counter.
    quarzel_ret_t rv = off == 0 ? blockcipher_init(&ctx, CIPHER_TYPE_AES256, CIPHER_MODE_CTR, dir, u32KEKLength,
                                                   pKEK, kBlock, pIV)
                                : blockcipher_reset_iv(&ctx, kBlock, pIV);
    uint32_t outLen = n;
    if (rv == 0) rv = blockcipher_calc(&ctx, CIPHER_FLAG_IS_FINAL, n, pData + off, &outLen, pResult + off);
    if (rv != 0) return rv;
  }
  return VRK_OK;
}

uint32_t Key_Encrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pPlainKey, uint32_t u32PlainKeyLength,
                     uint8_t* pKey, uint32_t* pu32KeyLength) {
  if (pu32KeyLength == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t iv[kBlock];
  const uint32_t rv = keyblob_crypt(pMK, u32MKLength, CIPHER_DIR_ENC, iv, pPlainKey, u32PlainKeyLength, pKey);
  if (rv == VRK_OK) *pu32KeyLength = u32PlainKeyLength;
  return rv;
}

uint32_t Key_Decrypt(uint8_t* pMK, uint32_t u32MKLength, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                     uint32_t* pu32PlainKeyLength) {
  if (pu32PlainKeyLength == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t iv[kBlock];
  const uint32_t rv = keyblob_crypt(pMK, u32MKLength, CIPHER_DIR_DEC, iv, pKey, u32KeyLength, pPlainKey);
  if (rv == VRK_OK) *pu32PlainKeyLength = u32KeyLength;
  return rv;
}

}  // extern "C"
