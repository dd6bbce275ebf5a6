// The function list and the interface queries: the one "PKCS 11" interface,
// whose list holds the module's 92 PKCS#11 v3.0 entry points in the
// standard's order.
#include <cstring>

#include "frame/frame_internal.h"

namespace {

CK_FUNCTION_LIST_3_0 functionList = {
    CK_VERSION{3, 1},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
    C_GetInterfaceList,
    C_GetInterface,
    C_LoginUser,
    C_SessionCancel,
    C_MessageEncryptInit,
    C_EncryptMessage,
    C_EncryptMessageBegin,
    C_EncryptMessageNext,
    C_MessageEncryptFinal,
    C_MessageDecryptInit,
    C_DecryptMessage,
    C_DecryptMessageBegin,
    C_DecryptMessageNext,
    C_MessageDecryptFinal,
    C_MessageSignInit,
    C_SignMessage,
    C_SignMessageBegin,
    C_SignMessageNext,
    C_MessageSignFinal,
    C_MessageVerifyInit,
    C_VerifyMessage,
    C_VerifyMessageBegin,
    C_VerifyMessageNext,
    C_MessageVerifyFinal,
};

CK_CHAR kInterfaceName[] = "PKCS 11";

CK_INTERFACE p11_interface = {kInterfaceName, &functionList, 0};

// A request names this interface when its name and version, where given,
// are ours: the v3.0 layout serves v3.0 and v3.1 callers alike.
bool interface_matches(const CK_UTF8CHAR* name, const CK_VERSION* version, CK_FLAGS flags) {
  if (name != nullptr && std::strcmp(reinterpret_cast<const char*>(name), "PKCS 11") != 0) return false;
  if (version != nullptr && (version->major != 3 || version->minor > functionList.version.minor)) return false;
  return (flags & ~p11_interface.flags) == 0;
}

}  // namespace

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
  if (ppFunctionList == nullptr) return CKR_ARGUMENTS_BAD;
  *ppFunctionList = reinterpret_cast<CK_FUNCTION_LIST*>(&functionList);
  return CKR_OK;
}

CK_RV C_GetInterfaceList(CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount) {
  if (pulCount == nullptr) return CKR_ARGUMENTS_BAD;
  if (pInterfacesList == nullptr) {
    *pulCount = 1;
    return CKR_OK;
  }
  if (*pulCount < 1) {
    *pulCount = 1;
    return CKR_BUFFER_TOO_SMALL;
  }
  pInterfacesList[0] = p11_interface;
  *pulCount = 1;
  return CKR_OK;
}

CK_RV C_GetInterface(CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion, CK_INTERFACE_PTR_PTR ppInterface,
                     CK_FLAGS flags) {
  if (ppInterface == nullptr) return CKR_ARGUMENTS_BAD;
  if (!interface_matches(pInterfaceName, pVersion, flags)) return CKR_ARGUMENTS_BAD;
  *ppInterface = &p11_interface;
  return CKR_OK;
}
