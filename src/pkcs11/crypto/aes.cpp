// AES through the core's operation. The core hands the cipher only whole
// blocks and keeps the last 16 to 31 bytes of the input back for the final
// (fewer than 32 in all: everything); the module follows that count so that
// it can name every output length before the core writes anything.
#include <zeb/vrk_crypto.h>

#include <algorithm>

#include "crypto/workers.h"
#include "crypto/key_object.h"
#include "object/p11_object.h"

namespace zebp11::crypto {

namespace {

constexpr uint32_t kBlock = 16;
constexpr uint32_t kHeldMax = 2 * kBlock;
constexpr uint8_t kModeEcb = 1;
constexpr uint8_t kModeCbc = 2;
constexpr uint8_t kPaddingNone = 0;
constexpr uint8_t kPaddingPkcs7 = 3;

bool padded(const Operation& op) { return op.mech->worker == Worker::kAesCbcPad; }
bool encrypting(const Operation& op) { return op.kind == OpKind::kEncrypt; }

// Output of an update of n bytes over h held ones, and the bytes then held.
struct Split {
  uint64_t out;
  uint64_t held;
};
Split split(uint64_t h, uint64_t n) {
  const uint64_t t = h + n;
  if (t < kHeldMax) return {0, t};
  const uint64_t out = (t / kBlock - 1) * kBlock;
  return {out, t - out};
}

// The data-length code of the running direction.
CK_RV len_range(const Operation& op) { return encrypting(op) ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE; }

// Exact output of the final for `held` bytes; false when only the
// decryption can tell (PKCS#7 padding removed) or the length is refused.
bool final_length(const Operation& op, uint32_t held, CK_ULONG* len, CK_RV* refused) {
  *refused = CKR_OK;
  if (padded(op) && encrypting(op)) {
    *len = (held / kBlock + 1) * kBlock;
    return true;
  }
  if (held % kBlock != 0 || (padded(op) && held == 0)) {
    *refused = len_range(op);
    return false;
  }
  *len = held;
  return !padded(op);
}

// A padded decryption whose padding does not check out gets the standard's
// code; the primitive library reports it with a code of its own, above the
// range of PKCS#11 result values.
CK_RV final_failure(const Operation& op, int rv) {
  const auto code = static_cast<CK_RV>(static_cast<uint32_t>(rv));
  if (!encrypting(op) && padded(op) && code > 0xFFFF) return CKR_ENCRYPTED_DATA_INVALID;
  return code;
}

// An update the caller's buffer has room for: `room` bytes.
CK_RV core_update(Operation& op, CK_BYTE_PTR in, uint32_t n, CK_BYTE_PTR out, CK_ULONG room, CK_ULONG* written) {
  VRK_UINT32 got = static_cast<VRK_UINT32>(std::min<CK_ULONG>(room, UINT32_MAX));
  const int rv = VRK_AesUpdate(op.vrk, in, n, out, &got);
  if (rv != 0) return static_cast<CK_RV>(static_cast<uint32_t>(rv));
  op.held = static_cast<uint32_t>(split(op.held, n).held);
  *written = got;
  return CKR_OK;
}

CK_RV core_final(Operation& op, CK_BYTE_PTR out, CK_ULONG room, CK_ULONG* written) {
  VRK_UINT32 got = static_cast<VRK_UINT32>(std::min<CK_ULONG>(room, UINT32_MAX));
  const int rv = VRK_AesFinal(op.vrk, out, &got);
  op.held = 0;
  if (rv != 0) return final_failure(op, rv);
  *written = got;
  return CKR_OK;
}

}  // namespace

CK_RV P11_AESInit(Operation& op, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey, CK_CHAR dir) {
  if (dir != AES_DIR_ENC && dir != AES_DIR_DEC) return CKR_GENERAL_ERROR;
  const bool enc = dir == AES_DIR_ENC;
  const bool cbc = op.mech->worker == Worker::kAesCbcPad;
  // CBC needs its 16-byte IV; a missing one never reaches the cipher.
  if (cbc && (pMechanism->pParameter == nullptr || pMechanism->ulParameterLen != kBlock)) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  KeyObject key;
  if (CK_RV rv = key.load(op.vrk, hKey); rv != CKR_OK) return rv;
  if (CK_RV rv = key.expect(VRK_OBJ_SECRETKEY, is_aes_algo); rv != CKR_OK) return rv;
  if (CK_RV rv = key.permits(enc ? P11_USAGE_ENCRYPT : P11_USAGE_DECRYPT); rv != CKR_OK) return rv;
  const uint8_t core_dir = enc ? VRK_AES_DIR_ENCRYPT : VRK_AES_DIR_DECRYPT;
  auto* iv = cbc ? static_cast<VRK_UCHAR_PTR>(pMechanism->pParameter) : nullptr;
  const int rv = VRK_AesInit(op.vrk, cbc ? kModeCbc : kModeEcb, core_dir, cbc ? kPaddingPkcs7 : kPaddingNone, iv,
                             cbc ? kBlock : 0, key.data(), key.size());
  if (rv != 0) red_line(ZEBP11_SITE, static_cast<uint32_t>(rv));
  return static_cast<CK_RV>(static_cast<uint32_t>(rv));
}

Step P11_AESUpdate(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pExecutedData,
                   CK_ULONG_PTR pulExecutedDataLen) {
  // RSA PKCS#1 v1.5 is single-part only; a padded decryption whose result
  // waits for its caller has no more input to take.
  if (op.mech->worker == Worker::kRsaPkcs || op.has_result) return failed(CKR_FUNCTION_NOT_SUPPORTED);
  if (pData == nullptr && ulDataLen != 0) return failed(CKR_ARGUMENTS_BAD);
  if (!fits_u32(ulDataLen)) return failed(len_range(op));
  const Split s = split(op.held, ulDataLen);
  if (const Step* asked = output_room(pExecutedData, pulExecutedDataLen, s.out)) return *asked;
  op.updated = true;
  CK_ULONG written = 0;
  if (CK_RV rv = core_update(op, pData, static_cast<uint32_t>(ulDataLen), pExecutedData, *pulExecutedDataLen, &written);
      rv != CKR_OK) {
    return failed(rv);
  }
  *pulExecutedDataLen = written;
  return kGoesOn;
}

Step P11_AESFinal(Operation& op, CK_BYTE_PTR pExecutedData, CK_ULONG_PTR pulExecutedDataLen) {
  if (op.mech->worker == Worker::kRsaPkcs) return failed(CKR_FUNCTION_NOT_SUPPORTED);
  if (op.has_result) return deliver_result(op, pExecutedData, pulExecutedDataLen);
  CK_ULONG len = 0;
  CK_RV refused = CKR_OK;
  if (final_length(op, op.held, &len, &refused)) {
    if (const Step* asked = output_room(pExecutedData, pulExecutedDataLen, len)) return *asked;
    CK_ULONG written = 0;
    if (CK_RV rv = core_final(op, pExecutedData, *pulExecutedDataLen, &written); rv != CKR_OK) return failed(rv);
    *pulExecutedDataLen = written;
    return kDone;
  }
  if (refused != CKR_OK) return failed(refused);
  // Unpadding decides the length: decrypt into a buffer of the module's and
  // keep the plaintext until the caller takes it.
  zeb::SecretBytes plain(kHeldMax);
  CK_ULONG written = 0;
  if (CK_RV rv = core_final(op, plain.data(), plain.size(), &written); rv != CKR_OK) return failed(rv);
  plain.resize(written);
  if (CK_RV rv = keep_result(op, nullptr, 0, std::move(plain)); rv != CKR_OK) return failed(rv);
  return deliver_result(op, pExecutedData, pulExecutedDataLen);
}

namespace {

// The AES single-part sequence: one update over all the input, then the
// final right behind its output, into `out` of *out_len bytes, which has room
// for all of it; *out_len becomes the sum of both. The update is the
// sequence's own: the operation stays one that single-part calls serve.
Step aes_single_sequence(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
  CK_ULONG first = *out_len;
  const Step u = P11_AESUpdate(op, in, n, out, &first);
  op.updated = false;
  if (u.rv != CKR_OK) return u;
  CK_ULONG last = *out_len - first;
  const Step f = P11_AESFinal(op, out + first, &last);
  if (f.rv != CKR_OK) return f;
  *out_len = first + last;
  return kDone;
}

}  // namespace

Step aes_single(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
  if (in == nullptr && n != 0) return failed(CKR_ARGUMENTS_BAD);
  if (op.has_result && has_result_for(op, in, n)) return deliver_result(op, out, out_len);
  if (!fits_u32(n)) return failed(len_range(op));
  // ECB takes whole blocks; a padded decryption at least one. The length is
  // then known ahead except where unpadding decides it.
  const bool pad_enc = padded(op) && encrypting(op);
  const bool exact = !padded(op) || encrypting(op);
  if ((n % kBlock != 0 && !pad_enc) || (!exact && n == 0)) return failed(len_range(op));
  const CK_ULONG needed = pad_enc ? (n / kBlock + 1) * kBlock : n;
  if (exact) {
    if (const Step* asked = output_room(out, out_len, needed)) return *asked;
    return aes_single_sequence(op, in, n, out, out_len);
  }
  // A padded decryption fits any buffer of the ciphertext's length; a smaller
  // one, or a length query, needs the plaintext first.
  if (out != nullptr && *out_len >= needed) return aes_single_sequence(op, in, n, out, out_len);
  zeb::SecretBytes plain(needed);
  CK_ULONG written = plain.size();
  if (const Step s = aes_single_sequence(op, in, n, plain.data(), &written); s.rv != CKR_OK) return s;
  plain.resize(written);
  if (CK_RV rv = keep_result(op, in, n, std::move(plain)); rv != CKR_OK) return failed(rv);
  return deliver_result(op, out, out_len);
}

}  // namespace zebp11::crypto
