// The module's object layer as the rest of the module uses it: template
// reading, template rules and permission checks, object creation, the key
// generation routines, object save and load with the extension word, and the
// conversion of a DER EC point into the EC public-key record.
//
// Template convention: CKA_CLASS and CKA_KEY_TYPE (and every other CK_ULONG
// attribute) count only with an 8-byte value, CKA_TOKEN and CKA_PRIVATE (and
// every other CK_BBOOL) only with a 1-byte value. A value pointer that is null
// while its length is not 0 is CKR_ARGUMENTS_BAD wherever a template is read.
#pragma once

#include <pkcs11/pkcs11.h>

#include <cstdint>

#include "zeb/vrk_keyimport.h"
#include "zeb/vrk_object.h"

// ---- Records ----------------------------------------------------------------

// The 8-byte word kept beside a session object (in a linked session object of
// the core); token objects keep none.
typedef struct ZEBP11_COMMON_OBJ_EXTENSION {
  VRK_UINT64 u64ObjCmnStoAttr;
} ZEBP11_COMMON_OBJ_EXTENSION;
static_assert(sizeof(ZEBP11_COMMON_OBJ_EXTENSION) == 8);

// Bits of u64ObjCmnStoAttr.
inline constexpr VRK_UINT64 P11_EXT_CERTIFICATE = 0x05;
inline constexpr VRK_UINT64 P11_EXT_MODIFIABLE = 0x08;
inline constexpr VRK_UINT64 P11_EXT_COPYABLE = 0x10;
inline constexpr VRK_UINT64 P11_EXT_PRIVATE = 0x40;

// Bits of the object header's u64ObjKeyUsage. The core does not test them:
// an operation's Init must refuse a key whose bit is clear.
inline constexpr VRK_UINT64 P11_USAGE_ENCRYPT = 0x02;
inline constexpr VRK_UINT64 P11_USAGE_DECRYPT = 0x04;
inline constexpr VRK_UINT64 P11_USAGE_SIGN = 0x08;
inline constexpr VRK_UINT64 P11_USAGE_VERIFY = 0x10;
inline constexpr VRK_UINT64 P11_USAGE_WRAP = 0x20;
inline constexpr VRK_UINT64 P11_USAGE_UNWRAP = 0x40;
inline constexpr VRK_UINT64 P11_USAGE_SENSITIVE = 0x80;  // the value never leaves the module
inline constexpr VRK_UINT64 P11_USAGE_DERIVE = 0x100;
// Not a usage: set in the all-ones word the core gives the keys it
// generates, never by an import, so it tells a key made on the token
// (CKA_LOCAL) from one brought in.
inline constexpr VRK_UINT64 P11_USAGE_LOCAL = 0x200;

// The operation whose attribute rules a template is checked against.
typedef enum e_P11OP : uint32_t {
  OP_CREATE_OBJECT = 1,
  OP_GENERATE_KEY = 2,
  OP_GENERATE_PUBKEY = 3,
  OP_GENERATE_PRIVKEY = 4,
  OP_COPY_OBJECT = 5,
  OP_UNWRAP_KEY = 6,
  OP_SET_ATTRIBUTE_VALUE = 7,
} e_P11OP;

// The EC public-key record of the module: the context that EC key-pair
// generation keeps in a public-key object (the curve id as a little-endian
// word, then x and y of the curve's length L), zero-padded to 144 bytes.
// Its meaningful length is 4 + 2L (P11_EcPubKeyLength).
typedef struct ZEBP11_EC_PUBKEY {
  uint32_t grp_id;       // the core's curve id (VRK_CURVE_*)
  uint8_t q_point[140];  // x || y, then zero bytes
} ZEBP11_EC_PUBKEY;
static_assert(sizeof(ZEBP11_EC_PUBKEY) == 144);

// One row of the curve table.
typedef struct ec_oid_t {
  const char* curve_name;
  uint8_t asn1_oid_value_len;
  const uint8_t* asn1_oid_value;  // OID content bytes, without tag and length
  VRK_OBJ_KEY_ALGO vrk_key_algo;
  uint32_t ecc_curve_type;        // the core's curve id (VRK_CURVE_*)
} ec_oid_t;

inline constexpr CK_ULONG P11_EC_PARAMS_MAX = 16;  // DER OID of every curve of the table, with room

// ---- Template reading ---------------------------------------------------------

// The first attribute of `cka_type`: its length to *value_len (when given)
// and, when `value` is given, its bytes copied there. 0xD0 for a null or
// empty template, 6 (CKR_FUNCTION_FAILED) when absent. A value is copied only
// when its length is right for the type: 8 for CK_ULONG types, 1 for
// CK_BBOOL types, at most P11_EC_PARAMS_MAX for CKA_EC_PARAMS; otherwise
// CKR_ATTRIBUTE_VALUE_INVALID and nothing is copied. Other types: the
// caller's buffer must hold *value_len bytes (ask for the length first).
CK_RV P11_GetCKAttrParams(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_ATTRIBUTE_TYPE cka_type, void* value,
                          CK_ULONG* value_len);
// The first CKA_KEY_TYPE of length 8; CKR_TEMPLATE_INCONSISTENT when none.
CK_RV P11_GetKeyType(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_KEY_TYPE* pkeytype);
// Class, token and private flags of a template into the outputs given
// (preset by the caller); a certificate or public key without CKA_PRIVATE is
// public. Always CKR_OK.
CK_RV P11_GetCommonAttribute(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_OBJECT_CLASS* objClass,
                             CK_BBOOL* istokenobj, CK_BBOOL* isprivobj);
// The shape of a template that creates or generates an object: no null value
// with a length (CKR_ARGUMENTS_BAD), every attribute of a fixed width with
// that width (CKR_ATTRIBUTE_VALUE_INVALID), no type twice
// (CKR_TEMPLATE_INCONSISTENT).
CK_RV P11_CheckTemplateShape(const CK_ATTRIBUTE* attrs, CK_ULONG attrs_len);

// ---- Permissions and rules ----------------------------------------------------------

// May the session create or destroy an object with these flags: CKR_OK, or
// CKR_SESSION_READ_ONLY, CKR_USER_NOT_LOGGED_IN, 0xB3 for an unknown session.
CK_RV P11_CheckWriteObjectPermitted(CK_SESSION_HANDLE hSession, CK_BBOOL istokenobj, CK_BBOOL isprivobj);
// May the session read an object with these flags: CKR_OK, 0x101 or 0xB3.
CK_RV P11_CheckReadObjectPermitted(CK_SESSION_HANDLE hSession, CK_BBOOL istokenobj, CK_BBOOL isprivobj);
// The attribute rules of an operation: CKR_OK or the first broken rule's code
// (0x12; 0xD1 for a key class without an 8-byte CKA_KEY_TYPE); 8 for an
// operation without rules.
CK_RV P11_CheckOPLegalwithCKAttr(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, e_P11OP OP);
// The rule sets it applies, by the class the template states: object
// creation's, and key generation's (all three generating operations).
CK_RV _P11_CheckCreateObjectCKAttrLegal(CK_OBJECT_CLASS objclass, CK_ATTRIBUTE* attrs, CK_ULONG attrs_len);
CK_RV _P11_CheckGenKeyCKAttrLegal(CK_OBJECT_CLASS objclass, CK_ATTRIBUTE* attrs, CK_ULONG attrs_len);

// ---- Objects and keys ---------------------------------------------------------------

// Builds one object from a template (already checked by the caller) and
// stores it as a token object when `istokenobj` is CK_TRUE, else as a session
// object; writes its handle. Nothing is stored on failure.
CK_RV P11_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_BBOOL istokenobj,
                       CK_OBJECT_HANDLE_PTR phObject);
CK_RV P11_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject);

// Key generation: the mechanism of P11_GenerateAES is not read. Handles are
// written on success only; a failure stores nothing.
CK_RV P11_GenerateAES(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey);
CK_RV P11_GenerateRSA(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pub_attrs, CK_ULONG pub_attrs_len,
                      CK_ATTRIBUTE_PTR priv_attrs, CK_ULONG priv_attrs_len, CK_OBJECT_HANDLE_PTR phpuk,
                      CK_OBJECT_HANDLE_PTR phpriv);
CK_RV P11_GenerateEC(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pub_attrs, CK_ULONG pub_attrs_len,
                     CK_ATTRIBUTE_PTR priv_attrs, CK_ULONG priv_attrs_len, CK_OBJECT_HANDLE_PTR phpuk,
                     CK_OBJECT_HANDLE_PTR phpriv);

// ---- Curve table ----------------------------------------------------------------

// DER OID (06 L content) to key algorithm or the core's curve id: the whole
// OID must equal a row's; 7 when `ec_param` is null or not an OID,
// CKR_CURVE_NOT_SUPPORTED (0x140) for another curve. `ec_param` must hold
// P11_EC_PARAMS_MAX bytes or the whole OID.
CK_RV ECParamToVRKKeyAlgo(const uint8_t* ec_param, VRK_UCHAR* vrk_key_algo);
CK_RV ECParamToVRKECCurveType(const uint8_t* ec_param, uint32_t* ecc_curve_type);
// Key algorithm to the DER OID and its length (either output optional).
CK_RV VRKKeyAlgoToECParam(VRK_UCHAR vrk_key_algo, uint8_t* ec_param, uint8_t* ec_param_len);
CK_RV CurveNameToOid(const char* curve_name, uint8_t* ec_param, uint8_t* ec_param_len);

// ---- Save, load, EC points ---------------------------------------------------------

extern "C" {

// Stores a finished object (token or session object) and then its extension
// (none when null or 0 long); a failed extension save removes the object
// again. The handle is written on success only.
VRK_RV VRK_SaveObject_and_Extension(VRK_HANDLE tkn_sess_hdle, CK_BBOOL as_token_obj, VRK_UCHAR_PTR pVRKObj,
                                    VRK_UINT32 VRKObjLen, VRK_UCHAR_PTR pObjExt, VRK_UINT32 VRKObjExtLen,
                                    VRK_UINT32* vrk_obj_handle);
// Loads an object by its core handle: header into *pObjMeta and three heap
// buffers (context, whole object, extension or null) that the caller frees
// with free(), whatever the result; the pointers must be null on entry.
VRK_RV VRK_GetObject_and_Extension(VRK_HANDLE tkn_sess_hdle, VRK_UINT32 vrk_obj_handle, VRK_UINT32 exten_obj_len,
                                   VRK_OBJECT_META* pObjMeta, VRK_UCHAR_PTR* ppObjCtx, VRK_UCHAR_PTR* ppObject,
                                   VRK_UCHAR_PTR* ppObjExt);
// A DER OCTET STRING holding an uncompressed point (04 || x || y), or that
// bare point, into the record; key->grp_id names the curve on entry (a
// core's curve id). The point must lie on that curve (coordinates below p,
// not the point at infinity). Anything else is CKR_ATTRIBUTE_VALUE_INVALID
// with the record untouched; 7 for null arguments.
VRK_RV VRK_DerQToECCPubKey(const VRK_UCHAR* Q, VRK_UINT32 Q_len, ZEBP11_EC_PUBKEY* key);
// The record to the DER OCTET STRING of its uncompressed point. *Q_len:
// capacity in, length out; a null Q asks for the length alone;
// CKR_BUFFER_TOO_SMALL with the length when short.
VRK_RV VRK_ECCPubKeyToDerQ(const ZEBP11_EC_PUBKEY* key, VRK_UCHAR* Q, VRK_UINT32* Q_len);

}  // extern "C"

// 4 + 2L for the record's curve; 0 for an unknown curve.
uint32_t P11_EcPubKeyLength(const ZEBP11_EC_PUBKEY& key);
