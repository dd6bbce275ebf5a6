// C_DigestInit ... C_DigestFinal: SHA-1, SHA-2 and SHA-3 computed by the
// core in the session's hash context. C_DigestKey is not offered.
#include <zeb/vrk.h>

#include <algorithm>

#include "crypto/operation.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

CK_RV digest_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
  const Mechanism* row = nullptr;
  VRK_HANDLE vrk = 0;
  if (CK_RV rv = open_init(site, hSession, pMechanism, {Worker::kDigest}, &row, &vrk); rv != CKR_OK) return rv;
  if (int rv = VRK_DigestInit(vrk, row->hash); rv != 0) {
    const auto code = static_cast<CK_RV>(static_cast<uint32_t>(rv));
    log_failure(site, code);
    return code;
  }
  return start_operation(hSession, Operation{.kind = OpKind::kDigest, .mech = row, .vrk = vrk});
}

// Hashes data in pieces the core's 32-bit lengths can carry.
Step feed(Operation& op, CK_BYTE_PTR part, CK_ULONG n) {
  if (part == nullptr && n != 0) return failed(CKR_ARGUMENTS_BAD);
  do {
    const auto piece = static_cast<uint32_t>(std::min<CK_ULONG>(n, UINT32_MAX));
    if (int rv = VRK_DigestUpdate(op.vrk, part, piece); rv != 0) return core_result(rv);
    part += piece;
    n -= piece;
  } while (n != 0);
  return kGoesOn;
}

Step finish(Operation& op, CK_BYTE_PTR digest, CK_ULONG_PTR digest_len) {
  if (const Step* asked = output_room(digest, digest_len, op.mech->digest_len)) return *asked;
  VRK_UINT32 len = op.mech->digest_len;
  if (int rv = VRK_DigestFinal(op.vrk, digest, &len); rv != 0) return core_result(rv);
  *digest_len = len;
  return kDone;
}

}  // namespace

extern "C" {

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) try {
  return digest_init(ZEBP11_SITE, hSession, pMechanism);
} P11_CATCH_ALL

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {pulDigestLen}, [&](Operation& op) {
    if (op.updated) return failed(CKR_OPERATION_ACTIVE);
    if (pData == nullptr && ulDataLen != 0) return failed(CKR_ARGUMENTS_BAD);
    // The length is known before any data is hashed.
    if (const Step* asked = output_room(pDigest, pulDigestLen, op.mech->digest_len)) return *asked;
    const Step fed = feed(op, pData, ulDataLen);
    return fed.rv == CKR_OK ? finish(op, pDigest, pulDigestLen) : fed;
  });
} P11_CATCH_ALL

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {}, [&](Operation& op) {
    op.updated = true;
    return feed(op, pPart, ulPartLen);
  });
} P11_CATCH_ALL

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {pulDigestLen},
                  [&](Operation& op) { return finish(op, pDigest, pulDigestLen); });
} P11_CATCH_ALL

}  // extern "C"
