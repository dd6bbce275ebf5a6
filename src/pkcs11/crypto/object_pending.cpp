// Temporary: the object layer's generation and creation routines until they
// land (weak, so the real ones replace them).
#include "object/p11_object.h"

__attribute__((weak)) CK_RV P11_CreateObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_BBOOL,
                                             CK_OBJECT_HANDLE_PTR) {
  return CKR_FUNCTION_NOT_SUPPORTED;
}
__attribute__((weak)) CK_RV P11_GenerateAES(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG,
                                            CK_OBJECT_HANDLE_PTR) {
  return CKR_FUNCTION_NOT_SUPPORTED;
}
__attribute__((weak)) CK_RV P11_GenerateRSA(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG,
                                            CK_OBJECT_HANDLE_PTR, CK_OBJECT_HANDLE_PTR) {
  return CKR_FUNCTION_NOT_SUPPORTED;
}
__attribute__((weak)) CK_RV P11_GenerateEC(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG,
                                           CK_OBJECT_HANDLE_PTR, CK_OBJECT_HANDLE_PTR) {
  return CKR_FUNCTION_NOT_SUPPORTED;
}
