// C_SignInit ... C_VerifyFinal: ECDSA over a caller's digest (CKM_ECDSA,
// one call) or over a digest the core computes (CKM_ECDSA_SHA*). Signatures
// are r || s, each as long as the curve's order (PKCS#11 v3.0 §2.3.1); the
// core works with its own value length, which only P-521 exceeds (68 bytes
// for an order of 66), so the module narrows and widens the two halves.
#include <zeb/vrk_crypto.h>

#include <algorithm>
#include <cstring>

#include "crypto/key_object.h"
#include "crypto/operation.h"
#include "object/p11_object.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

constexpr uint32_t kCoreSigMax = 2 * 68;

bool is_ec_algo(uint8_t algo) { return find_ec_curve(algo) != nullptr; }
bool raw(const Operation& op) { return op.mech->hash == kHashNone; }

CK_RV sign_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey,
                OpKind kind) {
  const Mechanism* row = nullptr;
  VRK_HANDLE vrk = 0;
  if (CK_RV rv = open_init(site, hSession, pMechanism, {Worker::kEcdsa}, &row, &vrk); rv != CKR_OK) return rv;
  const bool sign = kind == OpKind::kSign;
  KeyObject key;
  CK_RV rv = key.load(vrk, hKey);
  if (rv == CKR_OK) rv = key.expect(sign ? VRK_OBJ_PRIVATEKEY : VRK_OBJ_PUBLICKEY, is_ec_algo);
  if (rv == CKR_OK) rv = key.permits(sign ? P11_USAGE_SIGN : P11_USAGE_VERIFY);
  if (rv != CKR_OK) {
    log_failure(site, rv);
    return rv;
  }
  const int core = sign ? VRK_ECDSASignInit(vrk, row->hash, key.data(), key.size())
                        : VRK_ECDSAVerifyInit(vrk, row->hash, key.data(), key.size());
  if (core != 0) {
    red_line(site, static_cast<uint32_t>(core));
    return static_cast<CK_RV>(static_cast<uint32_t>(core));
  }
  const EcCurve* curve = find_ec_curve(key.meta().ObjKeyAlgo);
  return start_operation(hSession, Operation{.kind = kind,
                                             .mech = row,
                                             .vrk = vrk,
                                             .key_len = curve->order_len,
                                             .core_len = curve->core_len});
}

// The data of a one-call signature or verification: CKM_ECDSA takes a digest
// that fits the core's digest buffer.
CK_RV check_data(const Operation& op, CK_BYTE_PTR data, CK_ULONG n) {
  if (data == nullptr && n != 0) return CKR_ARGUMENTS_BAD;
  if (!fits_u32(n) || (raw(op) && n > CA_DIGEST_BUFFER)) return CKR_DATA_LEN_RANGE;
  return CKR_OK;
}

// The digest of CKM_ECDSA as FIPS 186-4 §6.4 reads it: its leftmost bits,
// as many as the order has. Only P-521's order (521 bits) is no whole number
// of bytes; there the core would read a longer digest by whole bytes, so the
// module hands it the leftmost 521 bits, right-aligned.
struct RawDigest {
  uint8_t bytes[CA_DIGEST_BUFFER];
  uint32_t len;
};
RawDigest raw_digest(const Operation& op, const uint8_t* data, CK_ULONG n) {
  RawDigest d{};
  constexpr uint32_t kP521Bytes = 66;
  constexpr unsigned kP521Spare = 7;  // 8 * 66 - 521
  if (op.key_len != kP521Bytes || n < kP521Bytes) {
    d.len = static_cast<uint32_t>(n);
    if (n != 0) std::memcpy(d.bytes, data, n);
    return d;
  }
  d.len = kP521Bytes;
  for (uint32_t i = kP521Bytes; i-- > 0;) {
    const unsigned hi = i == 0 ? 0 : data[i - 1];
    d.bytes[i] = static_cast<uint8_t>((hi << (8 - kP521Spare)) | (data[i] >> kP521Spare));
  }
  return d;
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
  uint8_t full[kCoreSigMax];
  VRK_UINT32 len = 2 * op.core_len;
  if (int rv = core_sign(full, &len); rv != 0) return core_result(rv);
  if (len != 2 * op.core_len) return failed(CKR_GENERAL_ERROR);
  // The core's extra leading bytes of r and s are zero: both are below the
  // order.
  const uint32_t skip = op.core_len - op.key_len;
  std::memcpy(sig, full + skip, op.key_len);
  std::memcpy(sig + op.key_len, full + op.core_len + skip, op.key_len);
  *sig_len = 2 * op.key_len;
  return kDone;
}

// Verifies r || s of the order's length through `core_verify`, which takes
// the core's form.
template <class VerifyFn>
Step verify_in(Operation& op, CK_BYTE_PTR sig, CK_ULONG sig_len, VerifyFn core_verify) {
  if (sig_len != 2 * op.key_len) return failed(CKR_SIGNATURE_LEN_RANGE);
  uint8_t full[kCoreSigMax] = {};
  const uint32_t skip = op.core_len - op.key_len;
  std::memcpy(full + skip, sig, op.key_len);
  std::memcpy(full + op.core_len + skip, sig + op.key_len, op.key_len);
  if (int rv = core_verify(full, 2 * op.core_len); rv != 0) return core_result(rv);
  return kDone;
}

}  // namespace

extern "C" {

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return sign_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kSign);
} P11_CATCH_ALL

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {pulSignatureLen}, [&](Operation& op) {
    if (op.updated) return failed(CKR_OPERATION_ACTIVE);
    if (CK_RV rv = check_data(op, pData, ulDataLen); rv != CKR_OK) return failed(rv);
    if (raw(op)) {
      RawDigest d = raw_digest(op, pData, ulDataLen);
      return sign_out(op, pSignature, pulSignatureLen,
                      [&](uint8_t* out, VRK_UINT32* len) { return VRK_ECDSASign(op.vrk, d.bytes, d.len, out, len); });
    }
    return sign_out(op, pSignature, pulSignatureLen, [&](uint8_t* out, VRK_UINT32* len) {
      return VRK_ECDSASign(op.vrk, pData, static_cast<uint32_t>(ulDataLen), out, len);
    });
  });
} P11_CATCH_ALL

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {},
                  [&](Operation& op) { return feed(op, pPart, ulPartLen, VRK_ECDSASignUpdate); });
} P11_CATCH_ALL

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kSign}, {pulSignatureLen}, [&](Operation& op) {
    if (raw(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
    return sign_out(op, pSignature, pulSignatureLen,
                    [&](uint8_t* out, VRK_UINT32* len) { return VRK_ECDSASignFinal(op.vrk, out, len); });
  });
} P11_CATCH_ALL

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return sign_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kVerify);
} P11_CATCH_ALL

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {pSignature}, [&](Operation& op) {
    if (op.updated) return failed(CKR_OPERATION_ACTIVE);
    if (CK_RV rv = check_data(op, pData, ulDataLen); rv != CKR_OK) return failed(rv);
    if (raw(op)) {
      RawDigest d = raw_digest(op, pData, ulDataLen);
      return verify_in(op, pSignature, ulSignatureLen,
                       [&](uint8_t* sig, uint32_t len) { return VRK_ECDSAVerify(op.vrk, d.bytes, d.len, sig, len); });
    }
    return verify_in(op, pSignature, ulSignatureLen, [&](uint8_t* sig, uint32_t len) {
      return VRK_ECDSAVerify(op.vrk, pData, static_cast<uint32_t>(ulDataLen), sig, len);
    });
  });
} P11_CATCH_ALL

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {},
                  [&](Operation& op) { return feed(op, pPart, ulPartLen, VRK_ECDSAVerifyUpdate); });
} P11_CATCH_ALL

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kVerify}, {pSignature}, [&](Operation& op) {
    if (raw(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
    return verify_in(op, pSignature, ulSignatureLen,
                     [&](uint8_t* sig, uint32_t len) { return VRK_ECDSAVerifyFinal(op.vrk, sig, len); });
  });
} P11_CATCH_ALL

}  // extern "C"
