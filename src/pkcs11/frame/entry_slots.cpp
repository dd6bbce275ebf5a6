// Entry points of slots, tokens and mechanisms.
#include "crypto/mechanisms.h"
#include "frame/frame_internal.h"

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) try {
  P11_ENTRY_CHECKS(.required = {pulCount});
  P11_TRY(P11_GetSlotList(pSlotList, pulCount));
  P11_LOG_D("got %lu slots %s token", *pulCount, tokenPresent == CK_TRUE ? "with" : "with/without");
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) try {
  P11_ENTRY_CHECKS(.required = {pInfo});
  P11_TRY(P11_GetSlotInfo(slotID, pInfo));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) try {
  P11_ENTRY_CHECKS(.required = {pInfo});
  CK_SLOT_INFO slot{};
  P11_TRY(P11_GetSlotInfo(slotID, &slot));
  if (!(slot.flags & CKF_TOKEN_PRESENT)) return CKR_TOKEN_NOT_PRESENT;
  P11_TRY(P11_GetTokenInfo(slotID, pInfo));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) try {
  P11_ENTRY_CHECKS(.required = {pulCount});
  P11_TRY(P11_CheckSlotIDValid(slotID));
  const CK_ULONG n = p11_mechanisms.size();
  // PKCS#11 v3.0 §5.2: no list asks for the count; a short one gets it
  // with CKR_BUFFER_TOO_SMALL.
  if (pMechanismList != nullptr) {
    if (*pulCount < n) {
      *pulCount = n;
      return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < n; ++i) pMechanismList[i] = p11_mechanisms[i].type;
  }
  *pulCount = n;
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) try {
  P11_ENTRY_CHECKS(.required = {pInfo});
  P11_TRY(P11_CheckSlotIDValid(slotID));
  const P11_MECHANISM* m = P11_FindMechanism(type);
  if (m == nullptr) return CKR_MECHANISM_INVALID;
  pInfo->ulMinKeySize = m->ulMinKeySize;
  pInfo->ulMaxKeySize = m->ulMaxKeySize;
  pInfo->flags = m->flags;
  return CKR_OK;
}
P11_CATCH_ALL

// Slots are the tokens found at start-up; no slot events happen.
CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready("C_WaitForSlotEvent");
  return CKR_FUNCTION_NOT_SUPPORTED;
}
