// Entry points of functions the module does not offer: key wrapping,
// signatures with recovery, digests of keys and the dual-function updates.
// Each answers CKR_FUNCTION_NOT_SUPPORTED and writes no output, so that no
// caller goes on with data that was never produced.
#include "frame/p11_frame.h"

namespace {

CK_RV not_supported(const char* name) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready(name);
  return CKR_FUNCTION_NOT_SUPPORTED;
}

}  // namespace

extern "C" {

CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return not_supported("C_DigestKey"); }

CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_supported("C_SignRecoverInit");
}

CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_SignRecover");
}

CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
  return not_supported("C_VerifyRecoverInit");
}

CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_VerifyRecover");
}

CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_DigestEncryptUpdate");
}

CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_DecryptDigestUpdate");
}

CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_SignEncryptUpdate");
}

CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_DecryptVerifyUpdate");
}

CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
  return not_supported("C_WrapKey");
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR,
                  CK_ULONG, CK_OBJECT_HANDLE_PTR) {
  return not_supported("C_UnwrapKey");
}

}  // extern "C"
