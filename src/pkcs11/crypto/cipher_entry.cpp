// C_EncryptInit ... C_DecryptFinal: AES ECB and CBC-PAD in one call or in
// parts, RSA PKCS#1 v1.5 in one call.
#include "crypto/cipher.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

CK_RV cipher_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey,
                  OpKind kind) {
  const Mechanism* row = nullptr;
  VRK_HANDLE vrk = 0;
  if (CK_RV rv = open_init(site, hSession, pMechanism, {Worker::kAesEcb, Worker::kAesCbcPad, Worker::kRsaPkcs}, &row,
                           &vrk);
      rv != CKR_OK) {
    return rv;
  }
  Operation op{.kind = kind, .mech = row, .vrk = vrk};
  const CK_RV rv = row->worker == Worker::kRsaPkcs ? rsa_init(site, hKey, op) : aes_init(site, pMechanism, hKey, op);
  if (rv != CKR_OK) {
    log_failure(site, rv);
    return rv;
  }
  return start_operation(hSession, std::move(op));
}

bool is_rsa(const Operation& op) { return op.mech->worker == Worker::kRsaPkcs; }

CK_RV one_call(const Site& site, CK_SESSION_HANDLE hSession, OpKind kind, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out,
               CK_ULONG_PTR out_len) {
  return run_step(site, hSession, {kind}, {out_len}, [&](Operation& op) {
    // After an Update only the multi-part road goes on.
    if (op.updated) return failed(CKR_OPERATION_ACTIVE);
    return is_rsa(op) ? rsa_single(op, in, n, out, out_len) : aes_single(op, in, n, out, out_len);
  });
}

CK_RV update(const Site& site, CK_SESSION_HANDLE hSession, OpKind kind, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out,
             CK_ULONG_PTR out_len) {
  return run_step(site, hSession, {kind}, {out_len}, [&](Operation& op) {
    // RSA PKCS#1 v1.5 is single-part only.
    if (is_rsa(op) || op.has_result) return failed(CKR_FUNCTION_NOT_SUPPORTED);
    return aes_update(op, in, n, out, out_len);
  });
}

CK_RV last_part(const Site& site, CK_SESSION_HANDLE hSession, OpKind kind, CK_BYTE_PTR out, CK_ULONG_PTR out_len) {
  return run_step(site, hSession, {kind}, {out_len}, [&](Operation& op) {
    if (is_rsa(op)) return failed(CKR_FUNCTION_NOT_SUPPORTED);
    return aes_final(op, out, out_len);
  });
}

}  // namespace

extern "C" {

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return cipher_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kEncrypt);
} P11_CATCH_ALL

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) try {
  return one_call(ZEBP11_SITE, hSession, OpKind::kEncrypt, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
} P11_CATCH_ALL

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG_PTR pulEncryptedPartLen) try {
  return update(ZEBP11_SITE, hSession, OpKind::kEncrypt, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
} P11_CATCH_ALL

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen) try {
  return last_part(ZEBP11_SITE, hSession, OpKind::kEncrypt, pLastEncryptedPart, pulLastEncryptedPartLen);
} P11_CATCH_ALL

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return cipher_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kDecrypt);
} P11_CATCH_ALL

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen) try {
  return one_call(ZEBP11_SITE, hSession, OpKind::kDecrypt, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
} P11_CATCH_ALL

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) try {
  return update(ZEBP11_SITE, hSession, OpKind::kDecrypt, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
} P11_CATCH_ALL

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) try {
  return last_part(ZEBP11_SITE, hSession, OpKind::kDecrypt, pLastPart, pulLastPartLen);
} P11_CATCH_ALL

}  // extern "C"
