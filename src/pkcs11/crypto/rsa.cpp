// RSA PKCS#1 v1.5 encryption with a public key and decryption with a private
// key, single-part; the core keeps only the key between Init and the call.
#include <zeb/vrk_crypto.h>

#include <algorithm>

#include "crypto/key_object.h"
#include "crypto/workers.h"
#include "object/p11_object.h"

namespace zebp11::crypto {

namespace {

constexpr uint32_t kPkcs1Overhead = 11;  // RFC 8017 §7.2.1: mLen <= k - 11

bool is_rsa_algo(uint8_t algo) { return rsa_modulus_bytes(algo) != 0; }

CK_RV decrypt_into(Operation& op, CK_BYTE_PTR in, CK_BYTE_PTR out, CK_ULONG room, CK_ULONG* written) {
  VRK_UINT32 got = static_cast<VRK_UINT32>(std::min<CK_ULONG>(room, UINT32_MAX));
  const int rv = VRK_RSADecrypt(op.vrk, in, op.key_len, out, &got);
  if (rv != 0) {
    // A block that does not unpad is the ciphertext's fault.
    return rv == static_cast<int>(CKR_SIGNATURE_INVALID) ? CKR_ENCRYPTED_DATA_INVALID
                                                         : static_cast<CK_RV>(static_cast<uint32_t>(rv));
  }
  *written = got;
  return CKR_OK;
}

}  // namespace

CK_RV P11_RSAEncDecInit(Operation& op, CK_OBJECT_HANDLE hKey, CK_CHAR dir) {
  if (dir != RSA_DIR_ENC && dir != RSA_DIR_DEC) return CKR_GENERAL_ERROR;
  const bool enc = dir == RSA_DIR_ENC;
  KeyObject key;
  if (CK_RV rv = key.load(op.vrk, hKey); rv != CKR_OK) return rv;
  if (CK_RV rv = key.expect(enc ? VRK_OBJ_PUBLICKEY : VRK_OBJ_PRIVATEKEY, is_rsa_algo); rv != CKR_OK) return rv;
  if (CK_RV rv = key.permits(enc ? P11_USAGE_ENCRYPT : P11_USAGE_DECRYPT); rv != CKR_OK) return rv;
  op.key_len = rsa_modulus_bytes(key.meta().ObjKeyAlgo);
  const int rv = enc ? VRK_RSAEncryptInit(op.vrk, key.data(), key.size())
                     : VRK_RSADecryptInit(op.vrk, key.data(), key.size());
  if (rv != 0) red_line(ZEBP11_SITE, static_cast<uint32_t>(rv));
  return static_cast<CK_RV>(static_cast<uint32_t>(rv));
}

Step _P11_RSAEnc(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pExecutedData,
                 CK_ULONG_PTR pulExecutedDataLen) {
  if (pData == nullptr && ulDataLen != 0) return failed(CKR_ARGUMENTS_BAD);
  const CK_ULONG k = op.key_len;
  if (ulDataLen > k - kPkcs1Overhead) return failed(CKR_DATA_LEN_RANGE);
  if (const Step* asked = output_room(pExecutedData, pulExecutedDataLen, k)) return *asked;
  VRK_UINT32 got = static_cast<VRK_UINT32>(std::min<CK_ULONG>(*pulExecutedDataLen, UINT32_MAX));
  const int rv = VRK_RSAEncrypt(op.vrk, pData, static_cast<uint32_t>(ulDataLen), pExecutedData, &got);
  if (rv != 0) return core_result(rv);
  *pulExecutedDataLen = got;
  return kDone;
}

Step _P11_RSADec(Operation& op, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                 CK_ULONG_PTR pulDataLen) {
  if (pEncryptedData == nullptr && ulEncryptedDataLen != 0) return failed(CKR_ARGUMENTS_BAD);
  const CK_ULONG k = op.key_len;
  if (ulEncryptedDataLen != k) return failed(CKR_ENCRYPTED_DATA_LEN_RANGE);
  if (op.has_result && has_result_for(op, pEncryptedData, ulEncryptedDataLen)) {
    return deliver_result(op, pData, pulDataLen);
  }
  // Any message fits k - 11 bytes; a smaller buffer, or a length query,
  // needs the message first.
  if (pData != nullptr && *pulDataLen >= k - kPkcs1Overhead) {
    CK_ULONG written = 0;
    if (CK_RV rv = decrypt_into(op, pEncryptedData, pData, *pulDataLen, &written); rv != CKR_OK) return failed(rv);
    *pulDataLen = written;
    return kDone;
  }
  zeb::SecretBytes plain(k);
  CK_ULONG written = 0;
  if (CK_RV rv = decrypt_into(op, pEncryptedData, plain.data(), plain.size(), &written); rv != CKR_OK) {
    return failed(rv);
  }
  plain.resize(written);
  if (CK_RV rv = keep_result(op, pEncryptedData, ulEncryptedDataLen, std::move(plain)); rv != CKR_OK) {
    return failed(rv);
  }
  return deliver_result(op, pData, pulDataLen);
}

}  // namespace zebp11::crypto
