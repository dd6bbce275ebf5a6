// Entry points the module answers without work: random seeding, the legacy
// parallel-function calls and the message-based family of PKCS#11 v3.0, plus
// C_GenerateRandom, which draws from the core session's generator.
#include <algorithm>

#include "frame/frame_internal.h"

namespace {

CK_RV not_ready(const char* name, CK_RV rv) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready(name);
  return rv;
}

}  // namespace

CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) {
  return not_ready("C_SeedRandom", CKR_RANDOM_SEED_NOT_SUPPORTED);
}

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen) try {
  P11_ENTRY_CHECKS();
  if (RandomData == nullptr && ulRandomLen != 0) return CKR_ARGUMENTS_BAD;
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));  // the session check and its core handle in one lookup
  // The core takes 32-bit lengths: a longer request goes in pieces.
  while (ulRandomLen > 0) {
    const auto piece = static_cast<VRK_UINT32>(std::min<CK_ULONG>(ulRandomLen, 0x10000));
    P11_TRY_CORE(VRK_GenerateRandom(hVRK, piece, RandomData));
    RandomData += piece;
    ulRandomLen -= piece;
  }
  return CKR_OK;
}
P11_CATCH_ALL

// Functions do not run in parallel with the application (PKCS#11 v3.0 §5.16).
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) { return not_ready("C_GetFunctionStatus", CKR_FUNCTION_NOT_PARALLEL); }

CK_RV C_CancelFunction(CK_SESSION_HANDLE) { return not_ready("C_CancelFunction", CKR_FUNCTION_NOT_PARALLEL); }

CK_RV C_MessageEncryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_ready("C_MessageEncryptInit", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_EncryptMessage(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG,
                       CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_ready("C_EncryptMessage", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_EncryptMessageBegin(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
  return not_ready("C_EncryptMessageBegin", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_EncryptMessageNext(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR,
                           CK_FLAGS) {
  return not_ready("C_EncryptMessageNext", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageEncryptFinal(CK_SESSION_HANDLE) {
  return not_ready("C_MessageEncryptFinal", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageDecryptInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_ready("C_MessageDecryptInit", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_DecryptMessage(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG,
                       CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_ready("C_DecryptMessage", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_DecryptMessageBegin(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
  return not_ready("C_DecryptMessageBegin", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_DecryptMessageNext(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR,
                           CK_FLAGS) {
  return not_ready("C_DecryptMessageNext", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageDecryptFinal(CK_SESSION_HANDLE) {
  return not_ready("C_MessageDecryptFinal", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageSignInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_ready("C_MessageSignInit", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_SignMessage(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_ready("C_SignMessage", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_SignMessageBegin(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG) {
  return not_ready("C_SignMessageBegin", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_SignMessageNext(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_ready("C_SignMessageNext", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageSignFinal(CK_SESSION_HANDLE) { return not_ready("C_MessageSignFinal", CKR_FUNCTION_NOT_SUPPORTED); }

CK_RV C_MessageVerifyInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_ready("C_MessageVerifyInit", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_VerifyMessage(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
  return not_ready("C_VerifyMessage", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_VerifyMessageBegin(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG) {
  return not_ready("C_VerifyMessageBegin", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_VerifyMessageNext(CK_SESSION_HANDLE, CK_VOID_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
  return not_ready("C_VerifyMessageNext", CKR_FUNCTION_NOT_SUPPORTED);
}

CK_RV C_MessageVerifyFinal(CK_SESSION_HANDLE) { return not_ready("C_MessageVerifyFinal", CKR_FUNCTION_NOT_SUPPORTED); }
