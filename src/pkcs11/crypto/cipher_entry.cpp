// C_EncryptInit ... C_DecryptFinal: AES ECB and CBC-PAD in one call or in
// parts, RSA PKCS#1 v1.5 in one call.
#include "crypto/workers.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

constexpr std::initializer_list<Worker> kCipherWorkers = {Worker::kAesEcb, Worker::kAesCbcPad, Worker::kRsaPkcs};

bool is_rsa(const Operation& op) { return op.mech->worker == Worker::kRsaPkcs; }

// `aes_dir` and `rsa_dir` are the entry point's direction for each family.
CK_RV cipher_init(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey,
                  OpKind kind, CK_CHAR aes_dir, CK_CHAR rsa_dir) {
  return run_init(site, hSession, pMechanism, kCipherWorkers, kind, [&](Operation& op) {
    return is_rsa(op) ? P11_RSAEncDecInit(op, hKey, rsa_dir) : P11_AESInit(op, pMechanism, hKey, aes_dir);
  });
}

}  // namespace

namespace zebp11::crypto {

// The single-part workers dispatch on the running mechanism. After an Update
// only the multi-part road goes on.
Step P11_Encrypt(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                 CK_ULONG_PTR pulEncryptedDataLen) {
  if (op.updated) return failed(CKR_OPERATION_ACTIVE);
  return is_rsa(op) ? _P11_RSAEnc(op, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen)
                    : aes_single(op, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
}

Step P11_Decrypt(Operation& op, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                 CK_ULONG_PTR pulDataLen) {
  if (op.updated) return failed(CKR_OPERATION_ACTIVE);
  return is_rsa(op) ? _P11_RSADec(op, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen)
                    : aes_single(op, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
}

}  // namespace zebp11::crypto

extern "C" {

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return cipher_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kEncrypt, AES_DIR_ENC, RSA_DIR_ENC);
} P11_CATCH_ALL

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kEncrypt}, {pulEncryptedDataLen}, [&](Operation& op) {
    return P11_Encrypt(op, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen);
  });
} P11_CATCH_ALL

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG_PTR pulEncryptedPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kEncrypt}, {pulEncryptedPartLen}, [&](Operation& op) {
    return P11_AESUpdate(op, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
  });
} P11_CATCH_ALL

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kEncrypt}, {pulLastEncryptedPartLen}, [&](Operation& op) {
    return P11_AESFinal(op, pLastEncryptedPart, pulLastEncryptedPartLen);
  });
} P11_CATCH_ALL

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
  return cipher_init(ZEBP11_SITE, hSession, pMechanism, hKey, OpKind::kDecrypt, AES_DIR_DEC, RSA_DIR_DEC);
} P11_CATCH_ALL

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDecrypt}, {pulDataLen}, [&](Operation& op) {
    return P11_Decrypt(op, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
  });
} P11_CATCH_ALL

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDecrypt}, {pulPartLen}, [&](Operation& op) {
    return P11_AESUpdate(op, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen);
  });
} P11_CATCH_ALL

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) try {
  return run_step(ZEBP11_SITE, hSession, {OpKind::kDecrypt}, {pulLastPartLen},
                  [&](Operation& op) { return P11_AESFinal(op, pLastPart, pulLastPartLen); });
} P11_CATCH_ALL

}  // extern "C"
