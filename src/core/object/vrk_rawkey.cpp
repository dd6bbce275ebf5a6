// Raw key import into an object and export of a token object's plain key.
#include "object_internal.h"

using namespace zeb::core;

namespace {

// Raw keys and stored objects this path serves (an RSA-4096 private key blob
// is under 3 KiB).
constexpr uint32_t kMaxRawKey = 1u << 20;
constexpr uint32_t kWrapHeadroom = 256;

}  // namespace

extern "C" {

VRK_RV VRK_ImportRawKey(VRK_HANDLE hSession, VRK_UCHAR_PTR pRawKey, VRK_UINT32 u32RawKeyLen, VRK_UCHAR ObjKeyType,
                        VRK_UCHAR_PTR pObjectID, VRK_UCHAR_PTR pObjectLabel, VRK_UCHAR ObjType,
                        VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pRawKey == nullptr || u32RawKeyLen == 0 || pKeyObject == nullptr || pKeyObjectLength == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  if (u32RawKeyLen > kMaxRawKey) return VRK_ERR_ARGUMENTS;
  // Room beyond the raw length for a provider whose key blobs carry more
  // than the key (the software provider's do not); the length goes in as
  // the capacity.
  ObjBuf work;
  if (!work.reset(size_t{u32RawKeyLen} + kWrapHeadroom)) return VRK_ERR_FAILED;
  uint32_t len = static_cast<uint32_t>(work.size());
  if (is_wrapped_type(ObjType)) {
    const int rv = CA_WrapKey(&ctx->CaCtx, pRawKey, u32RawKeyLen, work.data(), &len);
    if (rv != VRK_OK) return rv;
    if (len > work.size()) return VRK_ERR_FAILED;
  } else {
    std::memcpy(work.data(), pRawKey, u32RawKeyLen);
    len = u32RawKeyLen;
  }
  if (*pKeyObjectLength < len + VRK_OBJ_OVERHEAD) {
    *pKeyObjectLength = len + VRK_OBJ_OVERHEAD;
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  VRK_OBJECT_META meta;
  SwObj_SetObjMeta(VRK_MAC_SHA_256, VRK_ENC_CTR, ctx->TknId, pObjectID, pObjectLabel, ObjType, ObjKeyType,
                   ZEB_OBJ_NO_EXTENSION, VRK_KEY_USAGE_ALL, len, &meta);
  return static_cast<int>(DA_SetObject(ctx->hSe, &meta, work.data(), len, pKeyObject, pKeyObjectLength));
}

VRK_RV VRK_ExportRawKey(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pKey,
                        VRK_UINT32_PTR pu32KeyLength) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pKey == nullptr || pu32KeyLength == nullptr) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  uint32_t size = 0;
  if (SA_GetObjectSize(&in, u32ObjectIndex, &size) != VRK_OK) return VRK_ERR_OBJECT_ABSENT;
  ObjBuf object, context;
  if (!object.reset(size) || !context.reset(size)) return VRK_ERR_FAILED;
  uint32_t len = size;
  uint32_t rv = SA_GetObject(&in, u32ObjectIndex, object.data(), &len);
  if (rv != VRK_OK) return static_cast<int>(rv);
  VRK_OBJECT_META meta;
  uint32_t n = 0;
  if ((rv = DA_DivideObj(ctx->hSe, object.data(), len, &meta, context.data(), &n)) != VRK_OK) {
    return static_cast<int>(rv);
  }
  // Only secret and private keys are wrapped; every other context is
  // returned as stored.
  if (is_wrapped_type(meta.ObjType)) {
    if ((rv = DA_SetTknKey2Sw(ctx->hSe, context.data(), n, context.data(), &n)) != VRK_OK) {
      return static_cast<int>(rv);
    }
    int crv = CA_UnwrapKey(&ctx->CaCtx, context.data(), n, context.data(), &n);
    if (crv == VRK_OK) crv = CA_ExportValue(&ctx->CaCtx, context.data(), n, context.data(), &n);
    if (crv != VRK_OK) return crv;
  }
  if (n > context.size()) return VRK_ERR_FAILED;
  if (*pu32KeyLength < n) {
    *pu32KeyLength = n;
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(pKey, context.data(), n);
  *pu32KeyLength = n;
  return VRK_OK;
}

}  // extern "C"

// The fixed-kind import forms: key algorithm and object type preset.
#define VRK_IMPORT_FORM(name, algo, type)                                                                     \
  extern "C" int name(VRK_HANDLE hSession, VRK_UCHAR_PTR pRawKey, VRK_UINT32 u32RawKeyLen,                   \
                      VRK_UCHAR_PTR pObjectID, VRK_UCHAR_PTR pObjectLabel, VRK_UCHAR_PTR pKeyObject,         \
                      VRK_UINT32_PTR pKeyObjectLength) {                                                     \
    return VRK_ImportRawKey(hSession, pRawKey, u32RawKeyLen, algo, pObjectID, pObjectLabel, type, pKeyObject, \
                            pKeyObjectLength);                                                               \
  }
VRK_IMPORT_FORM(VRK_Import_RAW_RSA1024_PrivateKey, VRK_KEY_RSA1024, VRK_OBJ_PRIVATEKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_RSA1024_PublicKey, VRK_KEY_RSA1024, VRK_OBJ_PUBLICKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_RSA4096_PrivateKey, VRK_KEY_RSA4096, VRK_OBJ_PRIVATEKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_RSA4096_PublicKey, VRK_KEY_RSA4096, VRK_OBJ_PUBLICKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_AES128_Key, VRK_KEY_AES128, VRK_OBJ_SECRETKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_AES192_Key, VRK_KEY_AES192, VRK_OBJ_SECRETKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_AES256_Key, VRK_KEY_AES256, VRK_OBJ_SECRETKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P256_PrivateKey, VRK_KEY_EC_NIST256, VRK_OBJ_PRIVATEKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P256_PublicKey, VRK_KEY_EC_NIST256, VRK_OBJ_PUBLICKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P384_PrivateKey, VRK_KEY_EC_NIST384, VRK_OBJ_PRIVATEKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P384_PublicKey, VRK_KEY_EC_NIST384, VRK_OBJ_PUBLICKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P521_PrivateKey, VRK_KEY_EC_NIST521, VRK_OBJ_PRIVATEKEY)
VRK_IMPORT_FORM(VRK_Import_RAW_ECC_P521_PublicKey, VRK_KEY_EC_NIST521, VRK_OBJ_PUBLICKEY)
#undef VRK_IMPORT_FORM
