// Key import and the public values of keys: the raw key blobs the back ends
// keep, built from a key's components after checking that they make a key;
// EC points in their SEC 1 form; and an RSA key object's modulus and public
// exponent, read inside the core (a private key's other components never
// leave it). Raw blobs go on into VRK_ImportRawKey or VRK_SetObject.
//
// Output lengths are capacity in, length out: a short buffer gives
// VRK_ERR_BUFFER_TOO_SMALL with the needed length.
#pragma once

#include "zeb/vrk_types.h"

// The core's EC curve ids (EccCurveType of VRK_ECGenerateKeyPair, the first
// byte of an EC key blob).
enum : uint8_t {
  VRK_CURVE_NIST_P256 = 18,
  VRK_CURVE_NIST_P384 = 19,
  VRK_CURVE_NIST_P521 = 20,
  VRK_CURVE_SECP192K1 = 32,
  VRK_CURVE_SECP224K1 = 33,
  VRK_CURVE_SECP256K1 = 34,
  VRK_CURVE_BP256R1 = 67,
  VRK_CURVE_BP384R1 = 69,
  VRK_CURVE_BP512R1 = 70,
};

// Why an import was refused.
enum : uint32_t {
  VRK_ERR_KEY_VALUE = 0x013,  // CKR_ATTRIBUTE_VALUE_INVALID: the values make no key
  VRK_ERR_KEY_SIZE = 0x062,   // CKR_KEY_SIZE_RANGE: a size the back ends do not keep
};

// The components of an RSA private key, big-endian; a null pointer or a
// length of 0 means "not given". p and q come together; dp, dq and qinv,
// when given, must be the ones p, q and d make.
typedef struct VRK_RSA_COMPONENTS {
  const VRK_UCHAR* n;
  VRK_UINT32 n_len;
  const VRK_UCHAR* e;
  VRK_UINT32 e_len;
  const VRK_UCHAR* d;
  VRK_UINT32 d_len;
  const VRK_UCHAR* p;
  VRK_UINT32 p_len;
  const VRK_UCHAR* q;
  VRK_UINT32 q_len;
  const VRK_UCHAR* dp;
  VRK_UINT32 dp_len;
  const VRK_UCHAR* dq;
  VRK_UINT32 dq_len;
  const VRK_UCHAR* qinv;
  VRK_UINT32 qinv_len;
} VRK_RSA_COMPONENTS;

extern "C" {

// The value length L of a curve (bytes of a scalar or a coordinate as the
// blobs keep them; 68 for P-521); 0 for a curve the core has no arithmetic
// for.
VRK_UINT32 VRK_ECCurveLength(VRK_UCHAR EccCurveType);

// An EC private blob (curve id, three zero bytes, d of L bytes) from a
// scalar of at most L significant bytes in 1 .. n-1; VRK_ERR_KEY_VALUE for
// any other scalar or an unknown curve.
VRK_RV VRK_ECImportPrivateKey(VRK_UCHAR EccCurveType, const VRK_UCHAR* pScalar, VRK_UINT32 u32ScalarLen,
                              VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen);
// An EC public blob (curve id as a little-endian word, x, y of L bytes each)
// from an uncompressed point 04 || x || y (coordinates of the field's length,
// SEC 1 §2.3.3), bare or as a DER OCTET STRING. The point must lie on the
// curve with coordinates below p; VRK_ERR_KEY_VALUE otherwise.
VRK_RV VRK_ECImportPublicKey(VRK_UCHAR EccCurveType, const VRK_UCHAR* pPoint, VRK_UINT32 u32PointLen,
                             VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen);
// The DER OCTET STRING of a public blob's uncompressed point; a null pPoint
// asks for the length alone. VRK_ERR_KEY_VALUE for a blob that is not one.
VRK_RV VRK_ECPublicKeyToPoint(const VRK_UCHAR* pBlob, VRK_UINT32 u32BlobLen, VRK_UCHAR_PTR pPoint,
                              VRK_UINT32_PTR pu32PointLen);

// An RSA private blob (all CRT components when p and q are given, else n,
// e, d) after checking that the components make one key: n = p q, e odd
// above 1, d and the CRT values agree with them, and the key inverts itself
// on test values. VRK_ERR_KEY_SIZE for a modulus other than 1024, 2048,
// 3072 or 4096 bits; VRK_ERR_KEY_VALUE for components that do not fit.
VRK_RV VRK_RSAImportPrivateKey(const VRK_RSA_COMPONENTS* pKey, VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen);
// An RSA public blob of a modulus and exponent as they are given.
VRK_RV VRK_RSAImportPublicKey(const VRK_UCHAR* pModulus, VRK_UINT32 u32ModulusLen, const VRK_UCHAR* pExponent,
                              VRK_UINT32 u32ExponentLen, VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen);
// Modulus and public exponent (significant bytes) of an RSA public or
// private key object as the core hands objects out (a token object read
// with VRK_GetObject, a session object); the object is checked first. Needs
// the token user's login; VRK_ERR_KEY_VALUE for an object that holds no
// RSA key.
VRK_RV VRK_RSAGetPublicComponents(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                                  VRK_UCHAR_PTR pModulus, VRK_UINT32_PTR pu32ModulusLen, VRK_UCHAR_PTR pExponent,
                                  VRK_UINT32_PTR pu32ExponentLen);

}  // extern "C"
