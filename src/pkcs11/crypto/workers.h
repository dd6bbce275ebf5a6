// The workers of the crypto entry points, one per job: each takes the
// session's operation record (which carries its core session, mechanism and
// key facts) in place of the session handle, then the entry point's own
// arguments. Inits read the key object, check that it suits the operation and
// start it in the core; steps take input and give output under the
// standard's length convention.
#pragma once

#include "crypto/operation.h"

namespace zebp11::crypto {

// ECDSA (sign.cpp).
[[nodiscard]] CK_RV P11_ECSignInit(Operation& op, CK_OBJECT_HANDLE hKey);
[[nodiscard]] CK_RV P11_ECVerifyInit(Operation& op, CK_OBJECT_HANDLE hKey);
[[nodiscard]] Step P11_Sign(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                            CK_ULONG_PTR pulSignatureLen);
[[nodiscard]] Step P11_SignUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
[[nodiscard]] Step P11_SignFinal(Operation& op, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen);
[[nodiscard]] Step P11_Verify(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                              CK_ULONG ulSignatureLen);
[[nodiscard]] Step P11_VerifyUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
[[nodiscard]] Step P11_VerifyFinal(Operation& op, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen);

// Encryption and decryption: single-part dispatch (cipher_entry.cpp), RSA
// PKCS#1 v1.5 (rsa.cpp), AES ECB and CBC-PAD (aes.cpp). The Init workers take
// the direction the entry point asks for; the steps follow the record's kind.
enum : CK_CHAR { AES_DIR_DEC = 1, AES_DIR_ENC = 2, RSA_DIR_DEC = 3, RSA_DIR_ENC = 4 };
[[nodiscard]] Step P11_Encrypt(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                               CK_ULONG_PTR pulEncryptedDataLen);
[[nodiscard]] Step P11_Decrypt(Operation& op, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                               CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen);
[[nodiscard]] CK_RV P11_RSAEncDecInit(Operation& op, CK_OBJECT_HANDLE hKey, CK_CHAR dir);
[[nodiscard]] Step _P11_RSAEnc(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pExecutedData,
                               CK_ULONG_PTR pulExecutedDataLen);
[[nodiscard]] Step _P11_RSADec(Operation& op, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                               CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen);
[[nodiscard]] CK_RV P11_AESInit(Operation& op, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey, CK_CHAR dir);
[[nodiscard]] Step P11_AESUpdate(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pExecutedData,
                                 CK_ULONG_PTR pulExecutedDataLen);
[[nodiscard]] Step P11_AESFinal(Operation& op, CK_BYTE_PTR pExecutedData, CK_ULONG_PTR pulExecutedDataLen);
// The AES single-part sequence of P11_Encrypt and P11_Decrypt.
[[nodiscard]] Step aes_single(Operation& op, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR out_len);

// Digests (digest.cpp).
[[nodiscard]] CK_RV P11_DigestInit(Operation& op);
[[nodiscard]] Step P11_Digest(Operation& op, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
                              CK_ULONG_PTR pulDigestLen);
[[nodiscard]] Step P11_DigestUpdate(Operation& op, CK_BYTE_PTR pPart, CK_ULONG ulPartLen);
[[nodiscard]] Step P11_DigestFinal(Operation& op, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen);

}  // namespace zebp11::crypto

// ECDH key derivation (derive.cpp): the whole of C_DeriveKey's work after its
// opening checks, with its six arguments.
[[nodiscard]] CK_RV P11_ECDH(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                             CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey);
