// The object model: key algorithms, headers, object buffers, the device's
// object operations behind the session checks, and object life spans.
#include <iterator>

#include "object_internal.h"

using namespace zeb::core;

namespace {

struct AlgoMap {
  uint32_t input;
  uint8_t algo;
};

// Cipher types, hash types, curve ids and RSA modulus sizes.
constexpr AlgoMap kKeyAlgos[] = {
    {1, VRK_KEY_AES128},          {2, VRK_KEY_AES192},         {3, VRK_KEY_AES256},
    {4, VRK_KEY_SHA1_HMAC},       {8, VRK_KEY_SHA224_HMAC},    {9, VRK_KEY_SHA256_HMAC},
    {10, VRK_KEY_SHA384_HMAC},    {11, VRK_KEY_SHA512_HMAC},   {18, VRK_KEY_EC_NIST256},
    {19, VRK_KEY_EC_NIST384},     {20, VRK_KEY_EC_NIST521},    {32, VRK_KEY_EC_SECP192K1},
    {33, VRK_KEY_EC_SECP224K1},   {34, VRK_KEY_EC_SECP256K1},  {67, VRK_KEY_EC_BP256R1},
    {69, VRK_KEY_EC_BP384R1},     {70, VRK_KEY_EC_BP512R1},    {1024, VRK_KEY_RSA1024},
    {2048, VRK_KEY_RSA2048},      {3072, VRK_KEY_RSA3072},     {4096, VRK_KEY_RSA4096},
};

// Device failures of the plain object calls are reported as 6.
int as_failed(uint32_t rv) { return rv == VRK_OK ? 0 : static_cast<int>(VRK_ERR_FAILED); }

}  // namespace

namespace zeb::core {

// Fills a header as the core builds every object (no argument checks).
void SwObj_SetObjMeta(uint8_t ObjMac, uint8_t ObjEnc, const VRK_TOKEN_ID* pTknId, const uint8_t* pObjId,
                      const uint8_t* pObjLabel, uint8_t ObjType, uint8_t ObjKeyAlgo, uint32_t u32ObjExtIndex,
                      uint64_t u64ObjKeyUsage, uint32_t u32DataLen, VRK_OBJECT_META* m) {
  std::memset(m, 0, sizeof *m);
  m->Version[0] = 1;
  m->Version[1] = 0;
  m->ObjMac = ObjMac;
  m->ObjEnc = ObjEnc;
  copy_field(m->TknId, pTknId, sizeof m->TknId);
  copy_field(m->ObjId, pObjId, sizeof m->ObjId);
  copy_field(m->ObjLabel, pObjLabel, sizeof m->ObjLabel);
  m->ObjType = ObjType;
  m->ObjKeyAlgo = ObjKeyAlgo;
  m->u32ObjExtIndex = u32ObjExtIndex;
  m->u64ObjKeyUsage = u64ObjKeyUsage;
  m->u32DataLen = u32DataLen;
}

}  // namespace zeb::core

extern "C" {

uint32_t SwObj_GetObjKeyAlgo(uint32_t u32KeyAlgo, uint8_t* pObjKeyAlgo) {
  for (const auto& m : kKeyAlgos) {
    if (m.input == u32KeyAlgo) {
      *pObjKeyAlgo = m.algo;
      return VRK_OK;
    }
  }
  *pObjKeyAlgo = VRK_KEY_NONE;
  return VRK_ERR_KEY_ALGO;
}

VRK_RV VRK_GetObjKeyAlgo(VRK_UINT32 u32KeyAlgo, VRK_UINT32_PTR pu32ObjKeyAlgo) {
  if (pu32ObjKeyAlgo == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t algo = VRK_KEY_NONE;
  const uint32_t rv = SwObj_GetObjKeyAlgo(u32KeyAlgo, &algo);
  *pu32ObjKeyAlgo = algo;
  return static_cast<int>(rv);
}

VRK_RV VRK_AllocObject(VRK_UINT32 u32ContextLen, VRK_UCHAR_PTR* pObject) {
  if (pObject == nullptr) return VRK_ERR_ARGUMENTS;
  if (u32ContextLen > UINT32_MAX - VRK_OBJ_OVERHEAD) return VRK_ERR_FAILED;
  auto* p = static_cast<uint8_t*>(object_alloc(size_t{u32ContextLen} + VRK_OBJ_OVERHEAD));
  if (p == nullptr) return VRK_ERR_FAILED;
  *pObject = p;
  return VRK_OK;
}

VRK_RV VRK_SetObjMeta(VRK_UCHAR ObjMac, VRK_UCHAR ObjEnc, VRK_TOKEN_ID* pTknId, VRK_UCHAR_PTR pObjId,
                      VRK_UCHAR_PTR pObjLabel, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UINT32 u32ObjExtIndex,
                      VRK_UINT64 u64ObjKeyUsage, VRK_UINT32 u32DataLen, VRK_OBJECT_META_PTR pObjMeta) {
  if (pObjId == nullptr || pObjId[0] == 0) return VRK_ERR_EMPTY_ID;
  if (pObjLabel == nullptr || pObjLabel[0] == 0) return VRK_ERR_EMPTY_ID;
  if (pObjMeta == nullptr) return VRK_ERR_ARGUMENTS;
  SwObj_SetObjMeta(ObjMac, ObjEnc, pTknId, pObjId, pObjLabel, ObjType, ObjKeyAlgo, u32ObjExtIndex, u64ObjKeyUsage,
                   u32DataLen, pObjMeta);
  return VRK_OK;
}

VRK_RV VRK_SetObject(VRK_HANDLE hSession, VRK_OBJECT_META_PTR pObjMeta, VRK_UCHAR_PTR pObjContext,
                     VRK_UINT32 u32ObjContextLen, VRK_UCHAR_PTR pObject, VRK_UINT32_PTR pu32ObjectLen) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pObjMeta == nullptr || pObject == nullptr || pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  return as_failed(DA_SetObject(ctx->hSe, pObjMeta, pObjContext, u32ObjContextLen, pObject, pu32ObjectLen));
}

VRK_RV VRK_GetObjMetaPtr(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                         VRK_OBJECT_META_PTR pObjMeta) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pObject == nullptr || pObjMeta == nullptr) return VRK_ERR_ARGUMENTS;
  uint32_t rv = DA_GetObjMetaPtr(ctx->hSe, pObject, u32ObjectLen, pObjMeta);
  return as_failed(rv);
}

VRK_RV VRK_DivideObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                        VRK_OBJECT_META_PTR pObjMeta, VRK_UCHAR_PTR pObjContext, VRK_UINT32_PTR pu32KeyObjectLen) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pObject == nullptr || pObjMeta == nullptr || pObjContext == nullptr || pu32KeyObjectLen == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  // The caller sized its context buffer from the header: take the context
  // apart in a buffer of our own and hand over no more than the header says.
  ObjBuf work;
  if (!work.reset(u32ObjectLen)) return VRK_ERR_FAILED;
  VRK_OBJECT_META meta;
  uint32_t n = 0;
  if (DA_DivideObj(ctx->hSe, pObject, u32ObjectLen, &meta, work.data(), &n) != VRK_OK) {
    return VRK_ERR_FAILED;
  }
  if (n > meta.u32DataLen) return VRK_ERR_FAILED;
  std::memcpy(pObjContext, work.data(), n);
  *pObjMeta = meta;
  *pu32KeyObjectLen = n;
  return VRK_OK;
}

VRK_RV VRK_GetObjCtxPtr(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen, VRK_UCHAR_PTR pObjContext,
                        VRK_UINT32_PTR pu32ObjContextLen) {
  VRK_OBJECT_META meta;
  return VRK_DivideObject(hSession, pObject, u32ObjectLen, &meta, pObjContext, pu32ObjContextLen);
}

VRK_RV VRK_CheckObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  // No object is shorter than its header and tag: refused here for every
  // device alike.
  if (pObject == nullptr || u32ObjectLen < VRK_OBJ_OVERHEAD) return VRK_ERR_ARGUMENTS;
  return static_cast<int>(DA_CheckObjMAC(ctx->hSe, pObject, u32ObjectLen));
}

VRK_RV VRK_UpdObjectMeta(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 objectLen,
                         VRK_OBJECT_META_PTR pUpdatedmeta) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  return static_cast<int>(DA_UpdateObjectMeta(ctx->hSe, pObject, objectLen, pUpdatedmeta));
}

VRK_RV VRK_GetObjectLifeSpan(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObjLifespan) {
  VRK_SESSION_CTX* ctx = nullptr;
  const SessionRef held(hSession);
  if (uint32_t rv = user_session(held, &ctx); rv != VRK_OK) return static_cast<int>(rv);
  if (pObjLifespan == nullptr) return VRK_ERR_ARGUMENTS;
  if (u32ObjectIndex & VRK_SESS_OBJ_HANDLE_BASE) {
    const uint32_t rv = SwSess_CheckSessionObjectExists(hSession, u32ObjectIndex);
    if (rv != VRK_OK) return static_cast<int>(rv);
    *pObjLifespan = VRK_OBJ_SESSION;
    return VRK_OK;
  }
  const uint32_t rv = SwStore_CheckObjectExist(hSession, u32ObjectIndex);
  if (rv != VRK_OK) return static_cast<int>(rv);
  *pObjLifespan = VRK_OBJ_TOKEN;
  return VRK_OK;
}

}  // extern "C"
