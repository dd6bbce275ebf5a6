// The vocabulary between PKCS#11 templates and the core's object header:
// classes and object kinds, key types and key algorithms, the curve table,
// object ID and label, and the usage and extension words.
#pragma once

#include <pkcs11/pkcs11.h>

#include <cstdint>
#include <optional>
#include <span>

#include "object/p11_object.h"

inline constexpr size_t P11_ID_LEN = 16;     // ObjId of the header
inline constexpr size_t P11_LABEL_MAX = 32;  // ObjLabel of the header

// Class to core object kind (any class the core has no kind for:
// VRK_OBJ_P11); `need_key_algo` (optional) tells a key class.
CK_RV P11_CKObjClassToVRKObjType(CK_OBJECT_CLASS objclass, VRK_UCHAR* vrk_objtype, CK_BBOOL* need_key_algo);
// Core object kind to class; 7 for a kind without one.
CK_RV P11_VRKObjTypeToCKObjClass(VRK_UCHAR vrk_objtype, CK_OBJECT_CLASS* objclass);
// Core key algorithm to key type: CKK_VENDOR_DEFINED for "not a key";
// 7 for VRK_KEY_NOTSUPPORT; other unknown algorithms write nothing.
CK_RV P11_VRKKeyAlgoToCKKeyType(VRK_UCHAR vrk_keyalgo, CK_KEY_TYPE* p11_keytype);
// Key algorithm of a key template (CKA_KEY_TYPE and the value that sizes
// it); VRK_KEY_NOTSUPPORT for a key type or size the module does not keep.
// CKR_TEMPLATE_INCOMPLETE without what sizes the key, CKR_CURVE_NOT_SUPPORTED,
// CKR_ATTRIBUTE_VALUE_INVALID for an AES value of another length.
CK_RV P11_CKAttrToVRKKeyAlgo(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UCHAR* vrk_keyalgo);
// ID (16-byte buffer) and label (33-byte buffer) of a template, both zeroed
// by the caller, with the defaults "default_id" and "default_label". An ID
// or label the header cannot hold as given (empty, too long, or with a zero
// byte) is CKR_ATTRIBUTE_VALUE_INVALID.
CK_RV P11_GetObjectIDAndLabel(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UCHAR* objid, VRK_UCHAR* objlabel,
                              CK_BBOOL* hasid, CK_BBOOL* haslabel);
// Extension and usage words of a template, by the attributes' values.
CK_RV P11_CKAttrToVRKAttr(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UINT64* u64ObjCmnStoAttr,
                          VRK_UINT64* u64ObjKeyUsage);
// The reverse: each entry of a usage or extension attribute (CKA_ENCRYPT ...
// CKA_DERIVE, CKA_PRIVATE, CKA_MODIFIABLE, CKA_COPYABLE) gets its CK_BBOOL
// from the words (written when its buffer holds one byte) and length 1; other
// entries are left as given. Which of them an object's class has is the
// caller's to know.
CK_RV P11_VRKAttrToCKAttr(VRK_UINT64 u64ObjCmnStoAttr, VRK_UINT64 u64ObjKeyUsage, CK_ATTRIBUTE* attrs,
                          CK_ULONG attrs_len);
// Applies the usage attributes a template gives to a usage word.
VRK_UINT64 P11_ApplyUsage(const CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UINT64 usage);
// AES key length in bytes to the core's cipher type (1, 2, 3); 7 otherwise.
CK_RV _aes_key_length_to_vrkkeytype(CK_ULONG key_length, VRK_UCHAR* KeyType);

namespace zebp11::obj {

// The curve table.
extern const ec_oid_t ec_oid_arr[10];

// The row whose whole DER OID (06 L content) equals `der`, or null.
const ec_oid_t* curve_by_oid(std::span<const uint8_t> der);
// The first row of a key algorithm, or null.
const ec_oid_t* curve_by_algo(uint8_t algo);
// The curve's value length L (bytes); 0 for an unknown curve.
uint32_t curve_length(uint32_t ecc_curve_type);

inline bool is_ec_algo(uint8_t a) { return a >= VRK_KEY_EC_NIST256 && a <= VRK_KEY_EC_BP512R1; }
inline bool is_rsa_algo(uint8_t a) { return a >= VRK_KEY_RSA1024 && a <= VRK_KEY_RSA4096; }
inline bool is_aes_algo(uint8_t a) { return a >= VRK_KEY_AES128 && a <= VRK_KEY_AES256; }
inline uint32_t rsa_bits(uint8_t a) { return 1024u * (a - VRK_KEY_RSA1024 + 1); }
inline uint32_t aes_len(uint8_t a) { return 16u + 8u * (a - VRK_KEY_AES128); }

}  // namespace zebp11::obj
