// Token management: label, PINs and policy of a token, unlocking, reset,
// backup and restore, and key re-wrapping between token and session keys.
#include <cstring>
#include <memory>

#include "core_internal.h"
#include "quarzel/secure.h"
#include "zeb/swhsm_services.h"

using namespace zeb::core;

namespace {

constexpr uint32_t kBackupIvLen = 16;
constexpr uint32_t kBackupSaltLen = 8;
constexpr uint32_t kBackupHeaderLen = kBackupIvLen + kBackupSaltLen;

// The session (null when unknown) and whether its status has one of `bits`.
struct Checked {
  VRK_SESSION_CTX* ctx;
  uint32_t rv;
};
Checked token_session(VRK_HANDLE h, uint32_t unknown_rv, uint32_t bits) {
  const SessionRef ctx(h);
  if (!ctx) return {nullptr, unknown_rv};
  if ((ctx->SessStatus & bits) == 0) return {nullptr, VRK_ERR_USER_NOT_LOGGED_IN};
  return {ctx, VRK_OK};
}

constexpr uint32_t kSuOrUser = VRK_SESS_TOKENSUPERUSER_LOGIN | VRK_SESS_TOKENUSER_LOGIN;

// The backup key: PBKDF2 over the backup PIN and the salt.
uint32_t backup_key(CryptoAdapterCtx* ca, uint8_t* pin, uint32_t pinLen, uint8_t* salt, uint8_t* key) {
  uint32_t keyLen = VRK_MK_LEN;
  return static_cast<uint32_t>(CA_Pbkdf(ca, pin, pinLen, salt, kBackupSaltLen, key, &keyLen));
}

}  // namespace

extern "C" {

VRK_RV VRK_SetTokenLabel(VRK_HANDLE hSession, VRK_UCHAR_PTR pTknLabel, VRK_UINT32 u32TknLabelLen) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, kSuOrUser);
  if (rv == VRK_OK) rv = check_label(pTknLabel, u32TknLabelLen);
  if (rv == VRK_OK) rv = DA_SetTokenLabel(ctx->hSe, pTknLabel, u32TknLabelLen);
  return rv;
}

VRK_RV VRK_SetTokenNormalUserPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_MUTEX_BAD, kSuOrUser);
  if (rv == VRK_OK) rv = check_new_pin(pNewPin, u32NewPinLen);
  if (rv != VRK_OK) return rv;
  return DA_SetTokenPin(ctx->hSe, pNewPin, u32NewPinLen) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_SetTokenSuperUserPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_MUTEX_BAD, VRK_SESS_TOKENSUPERUSER_LOGIN);
  if (rv == VRK_OK) rv = check_new_pin(pNewPin, u32NewPinLen);
  if (rv != VRK_OK) return rv;
  return DA_SetTokenSuperUserPin(ctx->hSe, pNewPin, u32NewPinLen) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_GetTokenPolicy(VRK_HANDLE hSession, VRK_TOKEN_POLICY_PTR pTknPolicy) {
  if (pTknPolicy == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return DA_GetTokenPolicy(ctx->hSe, pTknPolicy) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_SetTokenPolicy(VRK_HANDLE hSession, VRK_TOKEN_POLICY_PTR pTknPolicy) {
  if (pTknPolicy == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return DA_SetTokenPolicy(ctx->hSe, pTknPolicy) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_UnlockTokenNormalUser(VRK_HANDLE hSession, VRK_TOKEN_ID* pTknId) {
  if (pTknId == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  auto [ctx, rv] = token_session(hSession, VRK_ERR_SESSION_HANDLE, VRK_SESS_TOKENSUPERUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return DA_UnlockTokenNormalUser(ctx->hSe, pTknId);
}

// Takes no lock: its caller serialises.
VRK_RV VRK_ResetToken(VRK_HANDLE hSession) {
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, VRK_SESS_TOKENSUPERUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  PERSISTENCY_INPUT input;
  SwStore_SetStoInput(hSession, ctx->HsmSn, ctx->TknId, &input);
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return VRK_ERR_HOST_MEMORY;
  if ((rv = SA_LoadObjectList(&input, list.get())) != VRK_OK) return rv;
  // Every used entry from the last to the first: once objects have been
  // deleted the used entries need not be the first ObjNum ones.
  for (uint32_t i = STO_MAX_OBJECTS; i-- > 0;) {
    const STO_SEOBJ& e = list->seobj_array[i];
    if (e.ObjIndex == 0 && e.ObjId[0] == 0) continue;
    if ((rv = SA_DeleteObject(&input, e.ObjIndex)) != VRK_OK) return rv;
  }
  if ((rv = SA_DeleteObjList(&input)) != VRK_OK) return rv;
  uint8_t sn[VRK_SN_LEN] = {};
  if ((rv = DA_GetTokenSn(ctx->hSe, sn)) != VRK_OK) return rv;
  return DA_SetTokenPin(ctx->hSe, sn, sizeof sn);
}

// Backup image: 16-byte IV field, 8-byte salt, then the device's image
// encrypted under PBKDF2(PIN, salt) with the key-blob cipher.
VRK_RV VRK_BackupToken(VRK_HANDLE hSession, VRK_UCHAR_PTR pBackupPin, VRK_UINT32 u32BackupPinLen,
                       VRK_UCHAR_PTR pBackupData, VRK_UINT32_PTR pu32BackupDataLen) {
  if (pBackupData == nullptr || pu32BackupDataLen == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  // The device writes behind the header, into exactly the room left there.
  if (*pu32BackupDataLen < kBackupHeaderLen) return VRK_ERR_BUFFER_TOO_SMALL;
  uint8_t* image = pBackupData + kBackupHeaderLen;
  uint32_t imageLen = *pu32BackupDataLen - kBackupHeaderLen;
  if (DA_BackupToken(ctx->hSe, pBackupPin, u32BackupPinLen, image, &imageLen) != VRK_OK) return VRK_ERR_FAILED;
  if (imageLen > *pu32BackupDataLen - kBackupHeaderLen) return VRK_ERR_FAILED;

  uint8_t iv[kBackupIvLen];
  uint8_t salt[kBackupSaltLen];
  if ((rv = static_cast<uint32_t>(CA_Drng(&ctx->CaCtx, iv, sizeof iv))) != VRK_OK) return rv;
  if ((rv = static_cast<uint32_t>(CA_Drng(&ctx->CaCtx, salt, sizeof salt))) != VRK_OK) return rv;
  quarzel::SecretArray<VRK_MK_LEN> key;
  if ((rv = backup_key(&ctx->CaCtx, pBackupPin, u32BackupPinLen, salt, key.data())) != VRK_OK) return rv;
  uint32_t outLen = 0;
  if ((rv = _AES_Encrypt(key.data(), VRK_MK_LEN, image, imageLen, iv, image, &outLen)) != VRK_OK) return rv;
  std::memcpy(pBackupData, iv, kBackupIvLen);
  std::memcpy(pBackupData + kBackupIvLen, salt, kBackupSaltLen);
  *pu32BackupDataLen = imageLen + kBackupHeaderLen;
  return VRK_OK;
}

VRK_RV VRK_RestoreToken(VRK_HANDLE hSession, VRK_UCHAR_PTR pBackupPin, VRK_UINT32 u32BackupPinLen,
                        VRK_UCHAR_PTR pBackupData, VRK_UINT32 u32BackupDataLen) {
  if (pBackupData == nullptr || u32BackupDataLen < kBackupHeaderLen) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_FAILED, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  uint8_t iv[kBackupIvLen];
  std::memcpy(iv, pBackupData, kBackupIvLen);
  uint8_t salt[kBackupSaltLen];
  std::memcpy(salt, pBackupData + kBackupIvLen, kBackupSaltLen);
  quarzel::SecretArray<VRK_MK_LEN> key;
  if ((rv = backup_key(&ctx->CaCtx, pBackupPin, u32BackupPinLen, salt, key.data())) != VRK_OK) return rv;
  // Decrypt into a private buffer: the caller's backup stays intact for a
  // retry (after a wrong PIN, for example).
  const uint32_t n = u32BackupDataLen - kBackupHeaderLen;
  quarzel::SecretBytes image;
  if (!quarzel::try_assign(image, pBackupData + kBackupHeaderLen, pBackupData + u32BackupDataLen)) {
    return VRK_ERR_HOST_MEMORY;
  }
  uint32_t outLen = 0;
  if ((rv = _AES_Decrypt(key.data(), VRK_MK_LEN, image.data(), n, iv, image.data(), &outLen)) != VRK_OK) return rv;
  return DA_RestoreToken(ctx->hSe, pBackupPin, u32BackupPinLen, image.data(), n);
}

VRK_RV VRK_SetTknKey2Sw(VRK_HANDLE hSession, VRK_UCHAR_PTR pTknKey, VRK_UINT32 u32TknKeyLen, VRK_UCHAR_PTR pSwKey,
                        VRK_UINT32_PTR pu32SwKeyLen) {
  if (pTknKey == nullptr || pSwKey == nullptr || pu32SwKeyLen == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_SESSION_HANDLE, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return DA_SetTknKey2Sw(ctx->hSe, pTknKey, u32TknKeyLen, pSwKey, pu32SwKeyLen) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_SetSwKey2Tkn(VRK_HANDLE hSession, VRK_UCHAR_PTR pSwKey, VRK_UINT32 u32SwKeyLen, VRK_UCHAR_PTR pTknKey,
                        VRK_UINT32_PTR pu32TknKeyLen) {
  if (pSwKey == nullptr || pTknKey == nullptr || pu32TknKeyLen == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_SESSION_HANDLE, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return DA_SetSwKey2Tkn(ctx->hSe, pSwKey, u32SwKeyLen, pTknKey, pu32TknKeyLen) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_SetPlainKey2Sw(VRK_HANDLE hSession, VRK_UCHAR_PTR pPlainKey, VRK_UINT32 u32PlainKeyLen,
                          VRK_UCHAR_PTR pSwKey, VRK_UINT32_PTR pu32SwKeyLen) {
  if (pPlainKey == nullptr || pSwKey == nullptr || pu32SwKeyLen == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_SESSION_HANDLE, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return SwTkn_PlainKey2Sw(hSession, pPlainKey, u32PlainKeyLen, pSwKey, pu32SwKeyLen) == VRK_OK ? VRK_OK
                                                                                               : VRK_ERR_FAILED;
}

VRK_RV VRK_SetSwKey2Plain(VRK_HANDLE hSession, VRK_UCHAR_PTR pSwKey, VRK_UINT32 u32SwKeyLen,
                          VRK_UCHAR_PTR pPlainKey, VRK_UINT32_PTR pu32PlainKeyLen) {
  if (pSwKey == nullptr || pPlainKey == nullptr || pu32PlainKeyLen == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  auto [ctx, rv] = token_session(hSession, VRK_ERR_SESSION_HANDLE, VRK_SESS_TOKENUSER_LOGIN);
  if (rv != VRK_OK) return rv;
  return SwTkn_SwKey2Plain(hSession, pSwKey, u32SwKeyLen, pPlainKey, pu32PlainKeyLen);
}

}  // extern "C"
