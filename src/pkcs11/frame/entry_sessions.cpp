// Entry points of sessions.
#include "frame/frame_internal.h"

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR /*pApplication*/, CK_NOTIFY /*Notify*/,
                    CK_SESSION_HANDLE_PTR phSession) try {
  P11_ENTRY_CHECKS(.required = {phSession});
  P11_TRY(P11_CheckSlotIDValid(slotID));
  if (!(flags & CKF_SERIAL_SESSION)) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
  if (P11_CheckRWSOExists() && !(flags & CKF_RW_SESSION)) return CKR_SESSION_READ_WRITE_SO_EXISTS;
  P11_TRY(P11_OpenSession(slotID, flags, phSession));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) try {
  P11_ENTRY_CHECKS();
  P11_TRY(P11_CloseSession(hSession));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) try {
  P11_ENTRY_CHECKS();
  P11_TRY(P11_CheckSlotIDValid(slotID));
  P11_TRY(P11_CloseAllSession(slotID));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) try {
  P11_ENTRY_CHECKS(.required = {pInfo}, .session = hSession);
  P11_TRY(P11_GetSessionInfo(hSession, pInfo));
  return CKR_OK;
}
P11_CATCH_ALL

// Operation state cannot be saved: the running operation lives in the core
// session, which has no way to export it.
CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready("C_GetOperationState");
  return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready("C_SetOperationState");
  return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV C_SessionCancel(CK_SESSION_HANDLE, CK_FLAGS) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready("C_SessionCancel");
  return CKR_FUNCTION_NOT_SUPPORTED;
}
