// The forms in which a caller above the core sees its EC values, a one-call
// hash, and wiping of secrets a caller holds. The core's EC calls work with
// one value length per curve (r, s, coordinates and secrets alike); callers
// that speak PKCS#11 want r || s each as long as the curve's order (PKCS#11
// v3.0 §2.3.1) and an ECDH secret as long as its field. These calls convert
// between the two, so no caller needs to know the core's lengths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zeb/vrk_secret.h"
#include "zeb/vrk_types.h"

// Room for any signature or ECDH secret in the core's form.
inline constexpr VRK_UINT32 VRK_EC_CORE_SIG_MAX = 136;
inline constexpr VRK_UINT32 VRK_EC_CORE_VALUE_MAX = 68;

// What a caller needs of an EC key algorithm (VRK_KEY_EC_*).
typedef struct VRK_EC_FORM {
  VRK_UCHAR KeyAlgo;
  VRK_UCHAR CurveId;        // the curve of a key context (grp_id of a public key)
  VRK_UINT32 OrderLength;   // bytes of r and of s
  VRK_UINT32 FieldLength;   // bytes of a coordinate and of the ECDH secret
} VRK_EC_FORM;

extern "C" {

// The form of a key algorithm with EC arithmetic; VRK_ERR_KEY_ALGO for any
// other (secp192k1 and secp224k1 included), VRK_ERR_ARGUMENTS for a null
// output.
VRK_RV VRK_GetECForm(VRK_UCHAR KeyAlgo, VRK_EC_FORM* pForm);

// A signature of VRK_ECDSASign(Final) to r || s of the order's length.
// *pSignatureLength: capacity in, 2 * OrderLength out. VRK_ERR_DATA_LEN when
// the core's signature has not the curve's length, VRK_ERR_BUFFER_TOO_SMALL
// for a short output.
VRK_RV VRK_ECDSASignatureFromCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pCoreSignature, VRK_UINT32 CoreLength,
                                  VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pSignatureLength);
// r || s of the order's length to the form VRK_ECDSAVerify(Final) takes.
// *pCoreLength: capacity in, bytes written out. VRK_ERR_DATA_LEN unless the
// signature is 2 * OrderLength bytes.
VRK_RV VRK_ECDSASignatureToCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pSignature, VRK_UINT32 SignatureLength,
                                VRK_UCHAR_PTR pCoreSignature, VRK_UINT32_PTR pCoreLength);
// A caller's digest (signed or verified without hashing) as the core must
// read it: the digest's leftmost bits, as many as the order has (FIPS 186-4
// §6.4). *pOutLength: capacity in, bytes written out.
VRK_RV VRK_ECDSADigestToCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pDigest, VRK_UINT32 DigestLength, VRK_UCHAR_PTR pOut,
                             VRK_UINT32_PTR pOutLength);
// A secret of VRK_ECDH to the field element x(dQ), FieldLength bytes.
// VRK_ERR_DATA_LEN for a core secret shorter than that.
VRK_RV VRK_ECDHSecretFromCore(VRK_UCHAR KeyAlgo, const VRK_UCHAR* pCoreSecret, VRK_UINT32 CoreLength,
                              VRK_UCHAR_PTR pSecret, VRK_UINT32_PTR pSecretLength);

// One digest of `pData` in one call, with no session (hash types as
// VRK_DigestInit takes them). *pDigestLength: capacity in, bytes out.
VRK_RV VRK_HashOneStep(VRK_UCHAR HashType, const VRK_UCHAR* pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDigest,
                       VRK_UINT32_PTR pDigestLength);

// Overwrites `n` bytes with zeros in a way the compiler keeps.
void VRK_SecureWipe(void* p, size_t n);

}  // extern "C"
