// Digest and random numbers of the core API: no login needed, no lock taken.
#include "core_internal.h"

using zeb::core::SessionRef;

extern "C" {

int VRK_DigestInit(VRK_HANDLE hSession, VRK_UCHAR HashType) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  return CA_DigestInit(&ctx->CaCtx, HashType);
}

int VRK_DigestUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pData == nullptr && DataLength != 0) return VRK_ERR_ARGUMENTS;
  return CA_DigestUpdate(&ctx->CaCtx, pData, DataLength);
}

int VRK_DigestFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDigest, VRK_UINT32_PTR pu32DigestLength) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pDigest == nullptr || pu32DigestLength == nullptr) return VRK_ERR_ARGUMENTS;
  return CA_DigestFinal(&ctx->CaCtx, pDigest, pu32DigestLength);
}

int VRK_Digest(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDigest,
               VRK_UINT32_PTR pu32DigestLength) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if ((pData == nullptr && DataLength != 0) || pDigest == nullptr || pu32DigestLength == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  // Both calls always run, so the digest always ends.
  const int first = CA_DigestUpdate(&ctx->CaCtx, pData, DataLength);
  const int second = CA_DigestFinal(&ctx->CaCtx, pDigest, pu32DigestLength);
  return first != 0 ? first : second;
}

int VRK_GenerateRandom(VRK_HANDLE hSession, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pData) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pData == nullptr && u32DataLength != 0) return VRK_ERR_ARGUMENTS;
  return CA_Drng(&ctx->CaCtx, pData, u32DataLength);
}

}  // extern "C"
