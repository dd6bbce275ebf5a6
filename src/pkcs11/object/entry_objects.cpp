// Entry points of objects: create, copy, destroy, size and attributes.
#include <cstdio>
#include <cstring>

#include "frame/p11_frame.h"
#include "object/object_internal.h"

namespace {

using namespace zebp11::obj;

constexpr CK_ULONG kMaxTemplate = 32;

// A write the session may not make: a read-only session keeps its own
// code, every other refusal is reported as CKR_FUNCTION_REJECTED.
CK_RV write_refusal(CK_RV rv) {
  if (rv == CKR_OK || rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_READ_ONLY) return rv;
  return CKR_FUNCTION_REJECTED;
}

// The core session and handle of an object the application may name: not
// an extension word kept for another object.
CK_RV named_object(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, VRK_HANDLE* hVRK, uint32_t* handle) {
  P11_TRY(P11_GetVRKSessionHdle(hSession, hVRK));
  const auto h = core_handle(hObject);
  if (!h || is_extension_object(*hVRK, *h)) return CKR_OBJECT_HANDLE_INVALID;
  *handle = *h;
  return CKR_OK;
}

// The read-out of one loaded object into the caller's template. The values
// are all in the list before the first entry is answered: a failure leaves
// the template as given. Not inlined: the list (over a kilobyte of stack)
// is not held through the object's load in the core.
[[gnu::noinline]] CK_RV read_out(LoadedObject& o, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
  ObjAttrList list;
  P11_TRY(P11_LoadObjTypesandLen(o, pTemplate, ulCount, P11_MAX_OBJ_ATTRS, list.attrs, &list.count));
  P11_TRY(P11_AllocObjAttr(list.count, list.attrs));
  P11_TRY(P11_LoadObjAttrValue(o, list.count, list.attrs));
  bool sensitive = false, invalid = false, small = false;
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    CK_ATTRIBUTE& a = pTemplate[i];
    const CK_ATTRIBUTE* v = listed_attr(list.attrs, list.count, a.type);
    if (v == nullptr || v->ulValueLen == CK_UNAVAILABLE_INFORMATION) {
      // Not in the list: withheld, or not an attribute of the object.
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      if (v == nullptr && attr_source(o, a.type).kind == AttrSource::kWithheld) {
        sensitive = true;
      } else {
        P11_LOG_D("non-fatal error, attribute %s(%08lx) not found", P11_CKAToString(a.type), a.type);
        invalid = true;
      }
    } else if (a.pValue == nullptr) {
      a.ulValueLen = v->ulValueLen;
    } else if (a.ulValueLen < v->ulValueLen) {
      a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      small = true;
    } else {
      if (v->ulValueLen != 0) std::memcpy(a.pValue, v->pValue, v->ulValueLen);
      a.ulValueLen = v->ulValueLen;
    }
  }
  if (sensitive) return CKR_ATTRIBUTE_SENSITIVE;
  if (invalid) return CKR_ATTRIBUTE_TYPE_INVALID;
  return small ? CKR_BUFFER_TOO_SMALL : CKR_OK;
}

}  // namespace

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) try {
  P11_ENTRY_CHECKS(.required = {pTemplate, phObject});
  if (ulCount > kMaxTemplate) return CKR_DATA_LEN_RANGE;
  P11_LOG_D("ulCount = %lu", ulCount);
  P11_TRY(P11_CheckTemplateShape(pTemplate, ulCount));
  P11_TRY(P11_CheckSessionExists(hSession));
  CK_OBJECT_CLASS objclass = CKO_DATA;
  CK_BBOOL token = CK_FALSE;
  CK_BBOOL priv = CK_TRUE;
  P11_TRY(P11_GetCommonAttribute(pTemplate, ulCount, &objclass, &token, &priv));
  if (const CK_RV rv = write_refusal(P11_CheckWriteObjectPermitted(hSession, token, priv)); rv != CKR_OK) return rv;
  P11_TRY(P11_CheckOPLegalwithCKAttr(pTemplate, ulCount, OP_CREATE_OBJECT));
  P11_TRY(P11_CreateObject(hSession, pTemplate, ulCount, token, phObject));
  return CKR_OK;
} P11_CATCH_ALL

CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                   CK_OBJECT_HANDLE_PTR phNewObject) try {
  P11_ENTRY_CHECKS(.required = {pTemplate, phNewObject});
  if (ulCount > kMaxTemplate) return CKR_DATA_LEN_RANGE;
  P11_TRY(P11_CheckSessionExists(hSession));
  if (P11_CheckReadObjectPermitted(hSession, CK_FALSE, CK_TRUE) != CKR_OK) return CKR_USER_NOT_LOGGED_IN;
  return CKR_FUNCTION_NOT_SUPPORTED;
} P11_CATCH_ALL

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) try {
  P11_ENTRY_CHECKS(.session = hSession);
  const auto h = core_handle(hObject);
  if (!h) return CKR_OBJECT_HANDLE_INVALID;
  // A token object is written by its destruction; any object asks for
  // the user (the header keeps no private flag of a token object).
  const CK_BBOOL token = is_session_handle(*h) ? CK_FALSE : CK_TRUE;
  if (const CK_RV rv = write_refusal(P11_CheckWriteObjectPermitted(hSession, token, CK_TRUE)); rv != CKR_OK) {
    return rv;
  }
  VRK_HANDLE hVRK = 0;
  uint32_t handle = 0;
  P11_TRY(named_object(hSession, hObject, &hVRK, &handle));
  P11_TRY(P11_DestroyObject(hSession, hObject));
  return CKR_OK;
} P11_CATCH_ALL

CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ULONG_PTR pulSize) try {
  P11_ENTRY_CHECKS(.required = {pulSize}, .session = hSession);
  if (P11_CheckReadObjectPermitted(hSession, CK_FALSE, CK_TRUE) != CKR_OK) return CKR_USER_NOT_LOGGED_IN;
  VRK_HANDLE hVRK = 0;
  uint32_t handle = 0;
  P11_TRY(named_object(hSession, hObject, &hVRK, &handle));
  VRK_UCHAR span = 0;
  P11_TRY(object_lifespan(hVRK, handle, &span));
  VRK_UINT32 size = 0;
  P11_TRY_CORE(span == VRK_OBJ_TOKEN ? VRK_GetObjectSize(hVRK, handle, &size)
                                     : VRK_GetSessionObjectSize(hVRK, handle, &size));
  *pulSize = size;
  return CKR_OK;
} P11_CATCH_ALL

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) try {
  P11_ENTRY_CHECKS(.required = {pTemplate}, .session = hSession);
  if (P11_CheckReadObjectPermitted(hSession, CK_FALSE, CK_TRUE) != CKR_OK) return CKR_USER_NOT_LOGGED_IN;
  P11_LOG_D("hObject = %08lx, ulCount = %08lu", hObject, ulCount);
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  const auto handle = core_handle(hObject);
  if (!handle) return CKR_OBJECT_HANDLE_INVALID;
  LoadedObject o;
  P11_TRY(load_object(hVRK, *handle, o));
  // Only an 8-byte data object can be another object's extension word.
  if (o.meta.ObjType == VRK_OBJ_DATA && o.meta.u32DataLen == sizeof(ZEBP11_COMMON_OBJ_EXTENSION) &&
      is_extension_object(hVRK, *handle)) {
    return CKR_OBJECT_HANDLE_INVALID;
  }
  return read_out(o, pTemplate, ulCount);
} P11_CATCH_ALL

// Attributes are fixed at creation: the object header has no way to change
// them in place.
CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  return CKR_FUNCTION_NOT_SUPPORTED;
}
