// Crypto middleware (class 0x88): sessions, master key, mechanisms, random
// bytes, digest, HMAC, AES in one shot, key wrapping and AES-GCM. The device
// does the work; the host lays out arguments and copies answers back.
#include <mutex>

#include "mw/mw_call.h"
#include "quarzel/aes.h"
#include "se/middleware.h"

using namespace se;
using se::mw::cap_of;
using se::mw::In;
using se::mw::Out;

namespace {

namespace cry = se::cmd::cry;

// A mechanism's information arrives as the record's byte image.
static_assert(sizeof(FWC_MECHANISM_INFO) == cmd::kMechanismInfo);

uint32_t send(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
              std::initializer_list<Out> out = {}) {
  return mw::call(where, c, in, out, mw::kArguments);
}

// Output array and its in/out length.
Out out_array(void* p, uint32_t* len) { return Out{p, cap_of(len), len}; }

// GCM data crosses in pieces of whole blocks that one request carries with
// room to spare; the device keeps the GCM state between them, so a long step
// is the same operation as several short ones.
constexpr uint32_t kBlock = AES_BLOCK_SIZE;
constexpr uint32_t kGcmPiece = 4032;
static_assert(kGcmPiece % kBlock == 0 && kGcmPiece + 16 < SE_REQ_MAX);

// Bytes of a final's data sent ahead through update commands, so that at
// most `last_max` remain for the final command.
uint32_t gcm_lead_length(uint32_t n, uint32_t last_max) {
  return n <= last_max ? 0 : (n - last_max + kBlock - 1) / kBlock * kBlock;
}

// Update commands over n bytes in pieces; `*done` answer bytes land at out,
// whose room is `room`.
uint32_t gcm_pieces(const cmd::Command& c, const SeSite& where, ZEB_CRYPTO_HANDLE h, const uint8_t* in, uint32_t n,
                    uint8_t* out, uint32_t room, uint32_t* done) {
  *done = 0;
  while (n != 0) {
    const uint32_t take = n < kGcmPiece ? n : kGcmPiece;
    uint32_t got = room - *done;
    if (uint32_t rv = send(where, c, {{&h}, {in, take}}, {out_array(out == nullptr ? nullptr : out + *done, &got)});
        rv != 0) {
      return rv;
    }
    *done += got;
    in += take;
    n -= take;
  }
  return 0;
}

uint32_t gcm_update(const cmd::Command& c, const SeSite& where, ZEB_CRYPTO_HANDLE h, const uint8_t* in, uint32_t n,
                    uint8_t* out, uint32_t* out_len) {
  if (out_len == nullptr || (in == nullptr && n != 0)) return mw::kArguments;
  if (n <= kGcmPiece) return send(where, c, {{&h}, {in, n}}, {out_array(out, out_len)});
  std::lock_guard lock(mw::channel_lock());
  uint32_t done = 0;
  if (uint32_t rv = gcm_pieces(c, where, h, in, n, out, *out_len, &done); rv != 0) return rv;
  *out_len = done;
  return 0;
}

// The head of a final's data, through update commands.
uint32_t gcm_lead(const cmd::Command& c, const SeSite& where, ZEB_CRYPTO_HANDLE h, const uint8_t* in, uint32_t n,
                  uint32_t last_max, uint8_t* out, uint32_t room, uint32_t* done) {
  if (in == nullptr && n != 0) return mw::kArguments;
  return gcm_pieces(c, where, h, in, gcm_lead_length(n, last_max), out, room, done);
}

}  // namespace

extern "C" {

uint32_t FWC_OpenSession_mw(ZEB_CRYPTO_HANDLE* phSession) { return send(SE_HERE, cry::OpenSession, {}, {{phSession}}); }

uint32_t FWC_CloseSession_mw(ZEB_CRYPTO_HANDLE hSession) { return send(SE_HERE, cry::CloseSession, {{&hSession}}); }

uint32_t FWC_CloseAllSessions_mw(void) { return send(SE_HERE, cry::CloseAllSessions, {}); }

uint32_t FWC_SetMK_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwMK, uint32_t SwMKLen) {
  return send(SE_HERE, cry::SetMK, {{&hSession}, {SwMK, SwMKLen}});
}

uint32_t FWC_GetMK_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pSwMK, uint32_t* pSwMKLen) {
  if (pSwMKLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::GetMK, {{&hSession}}, {out_array(pSwMK, pSwMKLen)});
}

uint32_t FWC_ClearMK_mw(ZEB_CRYPTO_HANDLE hSession) { return send(SE_HERE, cry::ClearMK, {{&hSession}}); }

uint32_t FWC_GetMechanismList_mw(uint32_t* pMechanismList, uint32_t* pCount) {
  return send(SE_HERE, cry::GetMechanismList, {}, {{pMechanismList}, {pCount}});
}

uint32_t FWC_GetMechanismInfo_mw(uint32_t ulType, FWC_MECHANISM_INFO* pInfo) {
  return send(SE_HERE, cry::GetMechanismInfo, {{&ulType}}, {{pInfo}});
}

// DataLen bytes are asked for, and at most DataLen are taken.
uint32_t FWC_Drng_SEED_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pData, uint32_t DataLen) {
  return send(SE_HERE, cry::DrngSeed, {{&hSession}, {&DataLen}}, {{pData, DataLen}});
}

uint32_t FWC_DigestInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType) {
  return send(SE_HERE, cry::DigestInit, {{&hSession}, {&HashType}});
}

uint32_t FWC_DigestUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen) {
  return send(SE_HERE, cry::DigestUpdate, {{&hSession}, {Data, DataLen}});
}

uint32_t FWC_DigestFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pDigest, uint32_t* pDigestLen) {
  if (pDigestLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::DigestFinal, {{&hSession}}, {out_array(pDigest, pDigestLen)});
}

uint32_t FWC_HmacGenerateKey_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pSwKey, uint32_t* pSwKeyLen) {
  if (pSwKeyLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::HmacGenerateKey, {{&hSession}}, {out_array(pSwKey, pSwKeyLen)});
}

uint32_t FWC_HmacInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* SwKey, uint32_t SwKeyLen) {
  return send(SE_HERE, cry::HmacInit, {{&hSession}, {&HashType}, {SwKey, SwKeyLen}});
}

uint32_t FWC_HmacUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen) {
  return send(SE_HERE, cry::HmacUpdate, {{&hSession}, {Data, DataLen}});
}

uint32_t FWC_HmacFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pMac, uint32_t* pMacLen) {
  if (pMacLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::HmacFinal, {{&hSession}}, {out_array(pMac, pMacLen)});
}

uint32_t FWC_AesCrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherMode, uint8_t AESCipherDir,
                         uint8_t AESCipherPadding, uint8_t* IV, uint32_t IVLen, uint8_t* SwKey, uint32_t SwKeyLen,
                         uint8_t* Data, uint32_t DataLen, uint8_t* DataOut, uint32_t* pDataOutLen) {
  if (pDataOutLen == nullptr) return mw::kArguments;
  // Mode, direction and padding travel as 32-bit words.
  const uint32_t mode = AESCipherMode;
  const uint32_t dir = AESCipherDir;
  const uint32_t padding = AESCipherPadding;
  return send(SE_HERE, cry::AesCrypt,
              {{&hSession}, {&mode}, {&dir}, {&padding}, {IV, IVLen}, {SwKey, SwKeyLen}, {Data, DataLen}},
              {out_array(DataOut, pDataOutLen)});
}

uint32_t FWC_AesWrapKey_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t KeyWrapType, uint8_t* SwWrappingKey,
                           uint32_t SwWrappingKeyLen, uint8_t* SwTargetKey, uint32_t SwTargetKeyLen,
                           uint8_t* WrappedKey, uint32_t* pWrappedKeyLen) {
  if (pWrappedKeyLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::AesWrapKey,
              {{&hSession}, {&KeyWrapType}, {SwWrappingKey, SwWrappingKeyLen}, {SwTargetKey, SwTargetKeyLen}},
              {out_array(WrappedKey, pWrappedKeyLen)});
}

uint32_t FWC_AesUnwrapKey_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t KeyWrapType, uint8_t* SwUnwrappingKey,
                             uint32_t SwUnwrappingKeyLen, uint8_t* WrappedKey, uint32_t WrappedKeyLen,
                             uint8_t* SwTargetKey, uint32_t* pSwTargetKeyLen) {
  if (pSwTargetKeyLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::AesUnwrapKey,
              {{&hSession}, {&KeyWrapType}, {SwUnwrappingKey, SwUnwrappingKeyLen}, {WrappedKey, WrappedKeyLen}},
              {out_array(SwTargetKey, pSwTargetKeyLen)});
}

uint32_t FWC_AesGcmInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* AAD, uint32_t AADLen, uint8_t* IV, uint32_t IVLen,
                           uint8_t* SwKey, uint32_t SwKeyLen) {
  return send(SE_HERE, cry::AesGcmInit, {{&hSession}, {AAD, AADLen}, {IV, IVLen}, {SwKey, SwKeyLen}});
}

uint32_t FWC_AesGcmEncryptUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                                    uint32_t* pDataOutLen) {
  return gcm_update(cry::AesGcmEncryptUpdate, SE_HERE, hSession, Data, DataLen, pDataOut, pDataOutLen);
}

uint32_t FWC_AesGcmEncryptFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t TagLen, uint8_t* Data, uint32_t DataLen,
                                   uint8_t* pDataOut, uint32_t* pDataOutLen) {
  if (pDataOutLen == nullptr) return mw::kArguments;
  std::lock_guard lock(mw::channel_lock());
  uint32_t lead = 0;
  if (uint32_t rv = gcm_lead(cry::AesGcmEncryptUpdate, SE_HERE, hSession, Data, DataLen, kGcmPiece, pDataOut,
                             *pDataOutLen, &lead);
      rv != 0) {
    return rv;
  }
  const uint32_t rest = DataLen - gcm_lead_length(DataLen, kGcmPiece);
  uint32_t got = *pDataOutLen - lead;
  const uint32_t rv = send(SE_HERE, cry::AesGcmEncryptFinal, {{&hSession}, {&TagLen}, {Data + (DataLen - rest), rest}},
                           {out_array(pDataOut == nullptr ? nullptr : pDataOut + lead, &got)});
  if (rv == 0) *pDataOutLen = lead + got;
  return rv;
}

uint32_t FWC_AesGcmDecryptUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                                    uint32_t* pDataOutLen) {
  return gcm_update(cry::AesGcmDecryptUpdate, SE_HERE, hSession, Data, DataLen, pDataOut, pDataOutLen);
}

uint32_t FWC_AesGcmDecryptFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* Tag,
                                   uint8_t TagLen, uint8_t* pDataOut, uint32_t* pDataOutLen) {
  if (pDataOutLen == nullptr) return mw::kArguments;
  std::lock_guard lock(mw::channel_lock());
  // The last command carries the tag as well.
  constexpr uint32_t kLastMax = kGcmPiece - kBlock;
  uint32_t lead = 0;
  if (uint32_t rv = gcm_lead(cry::AesGcmDecryptUpdate, SE_HERE, hSession, Data, DataLen, kLastMax, pDataOut,
                             *pDataOutLen, &lead);
      rv != 0) {
    return rv;
  }
  const uint32_t rest = DataLen - gcm_lead_length(DataLen, kLastMax);
  uint32_t got = *pDataOutLen - lead;
  const uint32_t rv =
      send(SE_HERE, cry::AesGcmDecryptFinal, {{&hSession}, {Data + (DataLen - rest), rest}, {Tag, TagLen}},
           {out_array(pDataOut == nullptr ? nullptr : pDataOut + lead, &got)});
  if (rv == 0) *pDataOutLen = lead + got;
  return rv;
}

}  // extern "C"
