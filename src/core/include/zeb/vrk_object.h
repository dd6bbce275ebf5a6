// The core service's object API: objects and their headers, raw keys,
// session objects with their extension objects, and token objects in the
// store (persistency).
//
// An object buffer is the 96-byte header (VRK_OBJECT_META), the context and
// the device's integrity tag: context length + 128 bytes, plain heap memory
// that its allocator's caller frees. Secret and private key contexts are key
// blobs: under the session key in the caller's hands, under the token key in
// the store. A handle with bit 31 set names a session object (0x80000000 +
// slot), any other a token object (its store index, never 0).
#pragma once

#include "zeb/vrk.h"

typedef ZEB_DEVICE_OBJECT_META VRK_OBJECT_META;
typedef VRK_OBJECT_META* VRK_OBJECT_META_PTR;
typedef STO_SEOBJ_LIST VRK_SEOBJ_LIST;
typedef STO_SEOBJ VRK_SEOBJ;
typedef uint8_t VRK_OBJ_KEY_ALGO;

// Life span of an object.
enum : uint8_t { VRK_OBJ_TOKEN = 0, VRK_OBJ_SESSION = 1 };
enum : uint8_t { VRK_MAC_EXTENDED = 255 };
enum : uint8_t { VRK_ENC_EXTENDED = 255 };

inline constexpr uint32_t VRK_OBJ_OVERHEAD = 128;  // header + integrity tag
inline constexpr uint32_t VRK_SESS_OBJ_HANDLE_BASE = 0x80000000u;
inline constexpr uint64_t VRK_KEY_USAGE_ALL = ~uint64_t{0};

extern "C" {

// ---- Objects ---------------------------------------------------------------

// Key size, cipher type, hash type or curve -> VRK_KEY_*; VRK_ERR_KEY_ALGO
// (and 0) for anything else.
VRK_RV VRK_GetObjKeyAlgo(VRK_UINT32 u32KeyAlgo, VRK_UINT32_PTR pu32ObjKeyAlgo);
// Context length + 128 bytes from the heap (release with free);
// VRK_ERR_FAILED when none.
VRK_RV VRK_AllocObject(VRK_UINT32 u32ContextLen, VRK_UCHAR_PTR* pObject);
// VRK_ERR_EMPTY_ID when the ID or label is null or empty; texts are cut at
// their field.
VRK_RV VRK_SetObjMeta(VRK_UCHAR ObjMac, VRK_UCHAR ObjEnc, VRK_TOKEN_ID* pTknId, VRK_UCHAR_PTR pObjId,
                      VRK_UCHAR_PTR pObjLabel, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UINT32 u32ObjExtIndex,
                      VRK_UINT64 u64ObjKeyUsage, VRK_UINT32 u32DataLen, VRK_OBJECT_META_PTR pObjMeta);

// Session-bound object calls: VRK_ERR_SESSION_HANDLE for an unknown session,
// VRK_ERR_USER_NOT_LOGGED_IN unless the session's status is exactly
// VRK_SESS_TOKENUSER_LOGIN. The first four answer VRK_ERR_FAILED for any device
// failure. pObject of VRK_SetObject must hold u32ObjContextLen + 128 bytes.
VRK_RV VRK_SetObject(VRK_HANDLE hSession, VRK_OBJECT_META_PTR pObjMeta, VRK_UCHAR_PTR pObjContext,
                     VRK_UINT32 u32ObjContextLen, VRK_UCHAR_PTR pObject, VRK_UINT32_PTR pu32ObjectLen);
VRK_RV VRK_GetObjMetaPtr(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                         VRK_OBJECT_META_PTR pObjMeta);
// The context is at most the header's u32DataLen bytes (an object that claims
// less than it carries is refused with VRK_ERR_FAILED).
VRK_RV VRK_GetObjCtxPtr(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen, VRK_UCHAR_PTR pObjContext,
                        VRK_UINT32_PTR pu32ObjContextLen);
VRK_RV VRK_DivideObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                        VRK_OBJECT_META_PTR pObjMeta, VRK_UCHAR_PTR pObjContext, VRK_UINT32_PTR pu32KeyObjectLen);
VRK_RV VRK_CheckObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen);
VRK_RV VRK_UpdObjectMeta(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 objectLen,
                         VRK_OBJECT_META_PTR pUpdatedmeta);
// VRK_OBJ_SESSION or VRK_OBJ_TOKEN after checking that the object exists.
VRK_RV VRK_GetObjectLifeSpan(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObjLifespan);

// Builds an object from raw key bytes (secret and private keys wrapped under
// the session key). *pKeyObjectLength: capacity in, object length out; a
// buffer too small gives VRK_ERR_BUFFER_TOO_SMALL with the needed length
// written.
VRK_RV VRK_ImportRawKey(VRK_HANDLE hSession, VRK_UCHAR_PTR pRawKey, VRK_UINT32 u32RawKeyLen, VRK_UCHAR ObjKeyType,
                        VRK_UCHAR_PTR pObjectID, VRK_UCHAR_PTR pObjectLabel, VRK_UCHAR ObjType,
                        VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength);
#define VRK_IMPORT_RAW_FORM(name)                                                                        \
  int name(VRK_HANDLE hSession, VRK_UCHAR_PTR pRawKey, VRK_UINT32 u32RawKeyLen, VRK_UCHAR_PTR pObjectID, \
           VRK_UCHAR_PTR pObjectLabel, VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength)
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_RSA1024_PrivateKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_RSA1024_PublicKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_RSA4096_PrivateKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_RSA4096_PublicKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_AES128_Key);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_AES192_Key);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_AES256_Key);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P256_PrivateKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P256_PublicKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P384_PrivateKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P384_PublicKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P521_PrivateKey);
VRK_IMPORT_RAW_FORM(VRK_Import_RAW_ECC_P521_PublicKey);
#undef VRK_IMPORT_RAW_FORM
// The plain context of a token object (secret and private keys unwrapped).
// *pu32KeyLength: capacity in, length out; VRK_ERR_BUFFER_TOO_SMALL with the
// needed length when the buffer is too small.
VRK_RV VRK_ExportRawKey(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pKey,
                        VRK_UINT32_PTR pu32KeyLength);

// ---- Session objects (256 slots per session) ---------------------------------

VRK_RV VRK_CacheSessionObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                              VRK_UINT32_PTR pu32Handle);
VRK_RV VRK_CheckSessionObjectIdConflict(VRK_HANDLE hSession, VRK_UCHAR_PTR pObjId);
VRK_RV VRK_GetSessionObjectSize(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UINT32_PTR pu32Len);
// *pu32Len: capacity in, length out; VRK_ERR_BUFFER_TOO_SMALL (length
// untouched) when too small.
VRK_RV VRK_GetSessionObject(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pObject, VRK_UINT32_PTR pu32Len);
VRK_RV VRK_CheckSessionObjectExists(VRK_HANDLE hSession, VRK_UINT32 u32Handle);
VRK_RV VRK_DeleteSessionObject(VRK_HANDLE hSession, VRK_UINT32 u32Handle);
VRK_RV VRK_DeleteSessionObjects(VRK_HANDLE hSession);
VRK_RV VRK_FindSessionObjects(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjId,
                              VRK_UCHAR_PTR pObjLabel, VRK_UINT32_PTR pu32Handle);
// Copies the 256 slots (the buffers stay the session's);
// VRK_ERR_BUFFER_TOO_SMALL for a null list.
VRK_RV VRK_ListSessionObjects(VRK_HANDLE hSession, VRK_SESS_OBJECT* pList);
VRK_RV VRK_CacheSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                                    VRK_UINT32 extDatalen);
// *pu32ExtDataLen: capacity in, length out; VRK_ERR_BUFFER_TOO_SMALL with the
// needed length when the buffer is too small.
VRK_RV VRK_GetSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                                  VRK_UINT32_PTR pu32ExtDataLen);
VRK_RV VRK_UpdateSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                                     VRK_UINT32 extDatalen);
VRK_RV VRK_DeleteSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle);

// ---- Token objects (persistency) ---------------------------------------------

VRK_RV VRK_GetStorageInfo(VRK_HANDLE hSession, VRK_UCHAR_PTR pStorage_status, STO_LAYOUT* pTotalLayout,
                          STO_LAYOUT* pFreeLayout);
VRK_RV VRK_SetStorageLayout(VRK_HANDLE hSession, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout);
VRK_RV VRK_ListObjects(VRK_HANDLE hSession, VRK_SEOBJ_LIST* pObjList, VRK_UINT32_PTR pu32Count);
// *pu32PubObjectLen: capacity in, length out (VRK_ERR_BUFFER_TOO_SMALL when
// too small).
VRK_RV VRK_GetPubObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pPubObject,
                        VRK_UINT32_PTR pu32PubObjectLen);
// Stores a copy of the object (keys re-wrapped to the token key); the
// caller's buffer is left as it was.
VRK_RV VRK_SaveObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                      VRK_UINT32_PTR pu32ObjectIndex);
// Stores two objects (a key pair) as one change: after a crash the store
// holds both or neither. The indexes are written on success only.
VRK_RV VRK_SaveObjectPair(VRK_HANDLE hSession, VRK_UCHAR_PTR pFirst, VRK_UINT32 u32FirstLen, VRK_UCHAR_PTR pSecond,
                          VRK_UINT32 u32SecondLen, VRK_UINT32_PTR pu32FirstIndex, VRK_UINT32_PTR pu32SecondIndex);
VRK_RV VRK_DeleteTknObjects(VRK_HANDLE hHsmSess, VRK_TOKEN_ID* tknid);
VRK_RV VRK_DeleteObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex);
VRK_RV VRK_GetObjectSize(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UINT32_PTR pu32ObjectLen);
// *pu32ObjectLen: capacity in, length out (VRK_ERR_BUFFER_TOO_SMALL with the
// needed length when too small). Keys come back under the session key.
VRK_RV VRK_GetObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject,
                     VRK_UINT32_PTR pu32ObjectLen);
// Replaces a stored object; keys are re-wrapped to the token key as on save.
VRK_RV VRK_UpdObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen);
VRK_RV VRK_FindObjectsID(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectID,
                         VRK_UINT32_PTR pu32ObjectIndex);
VRK_RV VRK_FindObjectsLabel(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectLabel,
                            VRK_UINT32_PTR pu32ObjectIndex);
VRK_RV VRK_FindObjects(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectID,
                       VRK_UCHAR_PTR pObjectLabel, VRK_UINT32_PTR pu32ObjectIndex);
VRK_RV VRK_ImportTknObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pImportObject, VRK_UINT32 u32ImportObjectLen,
                           VRK_UCHAR object_lifespan, VRK_UINT32_PTR pobjectIndex);
// *pu32ObjectLen: capacity in, length out (VRK_ERR_BUFFER_TOO_SMALL when too
// small).
VRK_RV VRK_ExportTknObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject,
                           VRK_UINT32_PTR pu32ObjectLen);
VRK_RV VRK_SaveObjExtension(VRK_HANDLE htknsess, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pExtData,
                            VRK_UINT32 extDatalen);
VRK_RV VRK_GetObjExtension(VRK_HANDLE htknsess, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pExtData,
                           VRK_UINT32_PTR extDatalen);
VRK_RV VRK_UpdateObjExtension(VRK_HANDLE htknsess, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pExtData,
                              VRK_UINT32 extDatalen);
VRK_RV VRK_DeleteObjExtension(VRK_HANDLE htknsess, VRK_UINT32 u32ObjectIndex);
VRK_RV VRK_CheckObjectExist(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex);

}  // extern "C"
