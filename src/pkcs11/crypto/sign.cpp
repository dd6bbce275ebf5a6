// C_SignInit ... C_VerifyFinal: ECDSA over a caller's digest (CKM_ECDSA,
// one call) or over a digest the core computes (CKM_ECDSA_SHA*). Signatures
// are r || s, each as long as the curve's order (PKCS#11 v3.0 §2.3.1); the
// core works with its own value length, which only P-521 exceeds (68 bytes
// for an order of 66): the core's value-form calls narrow and widen them.
#include <zeb/vrk_crypto.h>
#include <zeb/vrk_sigform.h>

#include <algorithm>
#include <cstring>

#include "crypto/key_object.h"
#include "crypto/workers.h"
#include "object/p11_object.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

bool raw(const Operation& op) { return op.mech->hash == kHashNone; }

// Reads an EC key for `op` and checks its class and usage; records the
// key's algorithm and order length, which name the signature's form.
CK_RV load_ec_key(Operation& op, CK_OBJECT_HANDLE hKey, uint8_t type, uint64_t usage, KeyObject& key) {
  if (CK_RV rv = key.load(op.vrk, hKey); rv != CKR_OK) return rv;
  if (CK_RV rv = key.expect(type, is_ec_algo); rv != CKR_OK) return rv;
  if (CK_RV rv = key.permits(usage); rv != CKR_OK) return rv;
  VRK_EC_FORM form{};
  if (VRK_GetECForm(key.meta().ObjKeyAlgo, &form) != 0) return CKR_KEY_TYPE_INCONSISTENT;
  op.key_algo = form.KeyAlgo;
  op.key_len = form.OrderLength;
  return CKR_OK;
}

CK_RV core_init_result(const Site& site, int core) {
  if (core != 0) red_line(site, static_cast<uint32_t>(core));
  return static_cast<CK_RV>(static_cast<uint32_t>(core));
}

// The data of a one-call signature or verification: CKM_ECDSA takes a digest
// that fits the core's digest buffer.
CK_RV check_data(const Operation& op, CK_BYTE_PTR data, CK_ULONG n) {
  if (data == nullptr && n != 0) return CKR_ARGUMENTS_BAD;
  if (!fits_u32(n) || (raw(op) && n > CA_DIGEST_BUFFER)) return CKR_DATA_LEN_RANGE;
  return CKR_OK;
}

// The digest of CKM_ECDSA in the form the core reads (its leftmost bits, as
// many as the order has).
struct RawDigest {
  uint8_t bytes[CA_DIGEST_BUFFER];
  VRK_UINT32 len;
};
CK_RV raw_digest(const Operation& op, const uint8_t* data, CK_ULONG n, RawDigest& d) {
  d.len = sizeof d.bytes;
  return VRK_ECDSADigestToCore(op.key_algo, data, static_cast<VRK_UINT32>(n), d.bytes, &d.len) == 0
             ? CKR_OK
             : CKR_GENERAL_ERROR;
}

// Feeds data to the core's hash in pieces its 32-bit lengths can carry.
template <class UpdateFn>
Step feed(Operation& op, CK_BYTE_PTR part, CK_ULONG n, UpdateFn core_update) {
  if (part == nullptr && n != 0) return failed(CKR_ARGUMENTS_BAD);
  // CKM_ECDSA signs a digest the caller made: one call only.
  if (raw(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
  op.updated = true;
  do {
    const auto piece = static_cast<uint32_t>(std::min<CK_ULONG>(n, UINT32_MAX));
    if (int rv = core_update(op.vrk, part, piece); rv != 0) return core_result(rv);
    part += piece;
    n -= piece;
  } while (n != 0);
  return kGoesOn;
}

// Signs through `core_sign` (which fills the core's form) into the caller's
// buffer as r || s of the order's length.
template <class SignFn>
Step sign_out(Operation& op, CK_BYTE_PTR sig, CK_ULONG_PTR sig_len, SignFn core_sign) {
  if (const Step* asked = output_room(sig, sig_len, 2 * op.key_len)) return *asked;
  uint8_t full[VRK_EC_CORE_SIG_MAX];
  VRK_UINT32 len = sizeof full;
  if (int rv = core_sign(full, &len); rv != 0) return core_result(rv);
  VRK_UINT32 out_len = 2 * op.key_len;
  if (VRK_ECDSASignatureFromCore(op.key_algo, full, len, sig, &out_len) != 0) return failed(CKR_GENERAL_ERROR);
  *sig_len = out_len;
  return kDone;
}

// Verifies r || s of the order's length through `core_verify`, which takes
// the core's form.
template <class VerifyFn>
Step verify_in(Operation& op, CK_BYTE_PTR sig, CK_ULONG sig_len, VerifyFn core_verify) {
  if (sig_len != 2 * op.key_len) return failed(CKR_SIGNATURE_LEN_RANGE);
  uint8_t full[VRK_EC_CORE_SIG_MAX];
  VRK_UINT32 len = sizeof full;
  if (VRK_ECDSASignatureToCore(op.key_algo, sig, static_cast<VRK_UINT32>(sig_len), full, &len) != 0) {
    return failed(CKR_GENERAL_ERROR);
  }
  if (int rv = core_verify(full, len); rv != 0) return core_result(rv);
  return kDone;
}

}  // namespace

namespace zebp11::crypto {

CK_RV P11_ECSignInit(Operation& op, CK_OBJECT_HANDLE hKey) {
  KeyObject key;
  if (CK_RV rv = load_ec_key(op, hKey, VRK_OBJ_PRIVATEKEY, P11_USAGE_SIGN, key); rv != CKR_OK) return rv;
  return core_init_result(ZEBP11_SITE, VRK_ECDSASignInit(op.vrk, op.mech->hash, key.data(), key.size()));
}

CK_RV P11_ECVerifyInit(Operation& op, CK_OBJECT_HANDLE hKey) {
  KeyObject key;
  if (CK_RV rv = load_ec_key(op, hKey, VRK_OBJ_PUBLICKEY, P11_USAGE_VERIFY, key); rv != CKR_OK) return rv;
  return core_init_result(ZEBP11_SITE, VRK_ECDSAVerifyInit(op.vrk, op.mech->hash, key.data(), key.size()));
}

Step P11_Sign(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
              CK_ULONG_PTR pulSignatureLen) {
  if (op.updated) return failed(CKR_OPERATION_ACTIVE);
  if (CK_RV rv = check_data(op, pData, ulDataLen); rv != CKR_OK) return failed(rv);
  if (raw(op)) {
    RawDigest d;
    if (CK_RV rv = raw_digest(op, pData, ulDataLen, d); rv != CKR_OK) return failed(rv);
    return sign_out(op, pSignature, pulSignatureLen,
                    [&](uint8_t* out, VRK_UINT32* len) { return VRK_ECDSASign(op.vrk, d.bytes, d.len, out, len); });
  }
  return sign_out(op, pSignature, pulSignatureLen, [&](uint8_t* out, VRK_UINT32* len) {
    return VRK_ECDSASign(op.vrk, pData, static_cast<uint32_t>(ulDataLen), out, len);
  });
}

Step P11_SignUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return feed(op, pPart, ulPartLen, VRK_ECDSASignUpdate);
}

Step P11_SignFinal(Operation& op, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
  if (raw(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
  return sign_out(op, pSignature, pulSignatureLen,
                  [&](uint8_t* out, VRK_UINT32* len) { return VRK_ECDSASignFinal(op.vrk, out, len); });
}

Step P11_Verify(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                CK_ULONG ulSignatureLen) {
  if (op.updated) return failed(CKR_OPERATION_ACTIVE);
  if (CK_RV rv = check_data(op, pData, ulDataLen); rv != CKR_OK) return failed(rv);
  if (raw(op)) {
    RawDigest d;
    if (CK_RV rv = raw_digest(op, pData, ulDataLen, d); rv != CKR_OK) return failed(rv);
    return verify_in(op, pSignature, ulSignatureLen,
                     [&](uint8_t* sig, uint32_t len) { return VRK_ECDSAVerify(op.vrk, d.bytes, d.len, sig, len); });
  }
  return verify_in(op, pSignature, ulSignatureLen, [&](uint8_t* sig, uint32_t len) {
    return VRK_ECDSAVerify(op.vrk, pData, static_cast<uint32_t>(ulDataLen), sig, len);
  });
}

Step P11_VerifyUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  return feed(op, pPart, ulPartLen, VRK_ECDSAVerifyUpdate);
}

Step P11_VerifyFinal(Operation& op, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
  if (raw(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
  return verify_in(op, pSignature, ulSignatureLen,
                   [&](uint8_t* sig, uint32_t len) { return VRK_ECDSAVerifyFinal(op.vrk, sig, len); });
}

}  // namespace zebp11::crypto

extern "C" {

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return run_init(ZEBP11_SITE, hSession, pMechanism, {Worker::kEcdsa}, OpKind::kSign,
                  [&](Operation& op) { return P11_ECSignInit(op, hKey); });
} P11_CATCH_ALL

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {pulSignatureLen}, [&](Operation& op) {
    return P11_Sign(op, pData, ulDataLen, pSignature, pulSignatureLen);
  });
} P11_CATCH_ALL

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {},
                  [&](Operation& op) { return P11_SignUpdate(op, pPart, ulPartLen); });
} P11_CATCH_ALL

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {pulSignatureLen},
                  [&](Operation& op) { return P11_SignFinal(op, pSignature, pulSignatureLen); });
} P11_CATCH_ALL

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return run_init(ZEBP11_SITE, hSession, pMechanism, {Worker::kEcdsa}, OpKind::kVerify,
                  [&](Operation& op) { return P11_ECVerifyInit(op, hKey); });
} P11_CATCH_ALL

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {pSignature}, [&](Operation& op) {
    return P11_Verify(op, pData, ulDataLen, pSignature, ulSignatureLen);
  });
} P11_CATCH_ALL

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {},
                  [&](Operation& op) { return P11_VerifyUpdate(op, pPart, ulPartLen); });
} P11_CATCH_ALL

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {pSignature},
                  [&](Operation& op) { return P11_VerifyFinal(op, pSignature, ulSignatureLen); });
} P11_CATCH_ALL

}  // extern "C"
