// C_DigestInit ... C_DigestFinal: SHA-1, SHA-2 and SHA-3 computed by the
// core in the session's hash context. C_DigestKey is not offered.
#include <zeb/vrk.h>

#include <algorithm>

#include "crypto/workers.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

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

}  // namespace

namespace zebp11::crypto {

CK_RV P11_DigestInit(Operation& op) {
  return static_cast<CK_RV>(static_cast<uint32_t>(VRK_DigestInit(op.vrk, op.mech->hash)));
}

Step P11_Digest(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
  if (op.updated) return failed(CKR_OPERATION_ACTIVE);
  if (pData == nullptr && ulDataLen != 0) return failed(CKR_ARGUMENTS_BAD);
  // The length is known before any data is hashed.
  if (const Step* asked = output_room(pDigest, pulDigestLen, op.mech->digest_len)) return *asked;
  const Step fed = feed(op, pData, ulDataLen);
  return fed.rv == CKR_OK ? P11_DigestFinal(op, pDigest, pulDigestLen) : fed;
}

Step P11_DigestUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
  op.updated = true;
  return feed(op, pPart, ulPartLen);
}

Step P11_DigestFinal(Operation& op, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
  if (const Step* asked = output_room(pDigest, pulDigestLen, op.mech->digest_len)) return *asked;
  VRK_UINT32 len = op.mech->digest_len;
  if (int rv = VRK_DigestFinal(op.vrk, pDigest, &len); rv != 0) return core_result(rv);
  *pulDigestLen = len;
  return kDone;
}

}  // namespace zebp11::crypto

extern "C" {

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) try {
  return run_init(ZEBP11_SITE, hSession, pMechanism, {Worker::kDigest}, OpKind::kDigest,
                  [](Operation& op) { return P11_DigestInit(op); });
} P11_CATCH_ALL

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {pulDigestLen},
                  [&](Operation& op) { return P11_Digest(op, pData, ulDataLen, pDigest, pulDigestLen); });
} P11_CATCH_ALL

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {},
                  [&](Operation& op) { return P11_DigestUpdate(op, pPart, ulPartLen); });
} P11_CATCH_ALL

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDigest}, {pulDigestLen},
                  [&](Operation& op) { return P11_DigestFinal(op, pDigest, pulDigestLen); });
} P11_CATCH_ALL

}  // extern "C"
