// Crypto adapter, RSA PKCS#1 v1.5: hashed signatures in one or several calls
// (the adapter hashes, the RSA table signs digests), single-call forms with
// hash contexts of their own, and encryption and decryption with a key kept
// by an init.
#include <cstring>

#include "crypto/ca_internal.h"
#include "quarzel/port.h"
#include "zeb/crypto_aux.h"

using namespace zeb::core;

namespace {

const C_RSAFunc_t* rsa_table() { return CA_GetRSAFunctionList(); }

int start(CryptoAdapterCtx* c, uint8_t op, CaRunning run, uint8_t hash_type, uint8_t* buf, uint32_t cap, uint32_t* kept,
          const uint8_t* key, uint32_t len, uint8_t kept_bit) {
  if (c == nullptr) return VRK_ERR_ARGUMENTS;
  if (!idle(*c)) return VRK_ERR_OPERATION_ACTIVE;
  if (rsa_table() == nullptr) return kNotSupported;
  if (int rv = keep_key(buf, cap, kept, key, len); rv != VRK_OK) return rv;
  // The buffer no longer holds a key kept for encryption or decryption.
  c->KeyAlgo &= static_cast<uint8_t>(~kept_bit);
  end_op(*c);
  start_op(*c, op, run);
  c->HashType = hash_type;
  // RSA always hashes: an unknown type (no hashing among them) fails here.
  const uint32_t rv = SWA_HashInit(c->DigestCtx, hash_type);
  if (rv != VRK_OK) end_op(*c);
  return static_cast<int>(rv);
}

int update(CryptoAdapterCtx* c, CaRunning run, uint8_t* data, uint32_t n) {
  if (c == nullptr || (data == nullptr && n != 0)) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != run) return VRK_ERR_NOT_INITIALIZED;
  const uint32_t rv = SWA_HashUpdate(c->DigestCtx, data, n);
  if (rv != VRK_OK) end_op(*c);
  return static_cast<int>(rv);
}

int sign_end(CryptoAdapterCtx* c, bool one_call, uint8_t* data, uint32_t n, uint8_t* sig, uint32_t* sig_len) {
  if (c == nullptr || sig_len == nullptr) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != kRunRsaSign) return VRK_ERR_NOT_INITIALIZED;
  DigestSnapshot saved;
  saved.save(*c);
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = 0;
  int rv = finish_digest(*c, false, data, n, one_call, digest, &digest_len);
  if (rv == VRK_OK) {
    rv = static_cast<int>(rsa_table()->C_RSASign_PKCS1(c->hCrypto, c->HashType, c->PrivKey, c->PrivKeyLength, digest,
                                                       digest_len, sig, sig_len));
  }
  // A short signature buffer leaves the operation as it was, for a retry.
  if (rv == static_cast<int>(VRK_ERR_BUFFER_TOO_SMALL)) {
    saved.restore(*c);
  } else {
    end_op(*c);
  }
  return rv;
}

int verify_end(CryptoAdapterCtx* c, bool one_call, uint8_t* data, uint32_t n, uint8_t* sig, uint32_t sig_len) {
  if (c == nullptr || sig == nullptr) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != kRunRsaVerify) return VRK_ERR_NOT_INITIALIZED;
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = 0;
  int rv = finish_digest(*c, false, data, n, one_call, digest, &digest_len);
  if (rv == VRK_OK) {
    rv = static_cast<int>(rsa_table()->C_RSAVerify_PKCS1(c->hCrypto, c->HashType, c->PubKey, c->PubKeyLength, digest,
                                                         digest_len, sig, sig_len));
  }
  end_op(*c);
  return rv;
}

}  // namespace

extern "C" {

int CA_RSAGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint32_t ulRsaModuleSize, uint32_t ulExponent, uint8_t* pPrivKey,
                          uint32_t* pPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (rsa_table() == nullptr) return kNotSupported;
  return static_cast<int>(rsa_table()->C_RSAGenerateKeyPair(pCaCtx->hCrypto, ulRsaModuleSize, ulExponent, pPrivKey,
                                                            pPrivKeyLength, pPubKey, pPubKeyLength));
}

int CA_RSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  return start(pCaCtx, VRK_OP_SIGN, kRunRsaSign, HashType, pCaCtx->PrivKey, CA_PRIVKEY_MAX, &pCaCtx->PrivKeyLength,
               pPrivKey, PrivKeyLength, kKeptDecryptKey);
}

int CA_RSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength) {
  return update(pCaCtx, kRunRsaSign, pData, DataLength);
}

int CA_RSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength) {
  return sign_end(pCaCtx, false, nullptr, 0, pSignature, pSignatureLength);
}

int CA_RSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
               uint32_t* pSignatureLength) {
  return sign_end(pCaCtx, true, pData, DataLength, pSignature, pSignatureLength);
}

int CA_RSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  return start(pCaCtx, VRK_OP_VERIFY, kRunRsaVerify, HashType, pCaCtx->PubKey, CA_PUBKEY_MAX, &pCaCtx->PubKeyLength,
               pPubKey, PubKeyLength, kKeptEncryptKey);
}

int CA_RSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength) {
  return update(pCaCtx, kRunRsaVerify, pData, DataLength);
}

int CA_RSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength) {
  return verify_end(pCaCtx, false, nullptr, 0, pSignature, SignatureLength);
}

int CA_RSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t SignatureLength) {
  return verify_end(pCaCtx, true, pData, DataLength, pSignature, SignatureLength);
}

int CA_RSASign_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength,
                     uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t* pSignatureLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (rsa_table() == nullptr) return kNotSupported;
  // A hash context of its own: a multi-part operation of the session goes on.
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = sizeof digest;
  int rv = digest_once(HashType, pData, DataLength, digest, &digest_len);
  if (rv == VRK_OK) {
    rv = static_cast<int>(rsa_table()->C_RSASign_PKCS1(pCaCtx->hCrypto, HashType, pPrivKey, PrivKeyLength, digest,
                                                       digest_len, pSignature, pSignatureLength));
  }
  return rv;
}

int CA_RSAVerify_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength,
                       uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t SignatureLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (rsa_table() == nullptr) return kNotSupported;
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = sizeof digest;
  int rv = digest_once(HashType, pData, DataLength, digest, &digest_len);
  if (rv == VRK_OK) {
    rv = static_cast<int>(rsa_table()->C_RSAVerify_PKCS1(pCaCtx->hCrypto, HashType, pPubKey, PubKeyLength, digest,
                                                         digest_len, pSignature, SignatureLength));
  }
  return rv;
}

int CA_RSAEncryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  // The key would replace the one a running verification uses.
  if (!idle(*pCaCtx)) return VRK_ERR_OPERATION_ACTIVE;
  const int rv = keep_key(pCaCtx->PubKey, CA_PUBKEY_MAX, &pCaCtx->PubKeyLength, pPubKey, PubKeyLength);
  if (rv == VRK_OK) pCaCtx->KeyAlgo |= kKeptEncryptKey;
  return rv;
}

int CA_RSAEncrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pCipher,
                  uint32_t* pCipherLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if ((pCaCtx->KeyAlgo & kKeptEncryptKey) == 0) return VRK_ERR_NOT_INITIALIZED;
  if (rsa_table() == nullptr) return kNotSupported;
  return static_cast<int>(rsa_table()->C_RSAEncrypt_PKCS1(pCaCtx->hCrypto, pCaCtx->PubKey, pCaCtx->PubKeyLength, pData,
                                                          DataLength, pCipher, pCipherLength));
}

int CA_RSAEncrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pData,
                        uint32_t DataLength, uint8_t* pCipher, uint32_t* pCipherLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (rsa_table() == nullptr) return kNotSupported;
  return static_cast<int>(rsa_table()->C_RSAEncrypt_PKCS1(pCaCtx->hCrypto, pPubKey, PubKeyLength, pData, DataLength,
                                                          pCipher, pCipherLength));
}

int CA_RSADecryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  // The key would replace the one a running signature uses.
  if (!idle(*pCaCtx)) return VRK_ERR_OPERATION_ACTIVE;
  const int rv = keep_key(pCaCtx->PrivKey, CA_PRIVKEY_MAX, &pCaCtx->PrivKeyLength, pPrivKey, PrivKeyLength);
  if (rv == VRK_OK) pCaCtx->KeyAlgo |= kKeptDecryptKey;
  return rv;
}

int CA_RSADecrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pCipher, uint32_t CipherLength, uint8_t* pPlain,
                  uint32_t* pPlainLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if ((pCaCtx->KeyAlgo & kKeptDecryptKey) == 0) return VRK_ERR_NOT_INITIALIZED;
  if (rsa_table() == nullptr) return kNotSupported;
  return static_cast<int>(rsa_table()->C_RSADecrypt_PKCS1(pCaCtx->hCrypto, pCaCtx->PrivKey, pCaCtx->PrivKeyLength,
                                                          pCipher, CipherLength, pPlain, pPlainLength));
}

int CA_RSADecrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pCipher,
                        uint32_t CipherLength, uint8_t* pPlain, uint32_t* pPlainLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (rsa_table() == nullptr) return kNotSupported;
  return static_cast<int>(rsa_table()->C_RSADecrypt_PKCS1(pCaCtx->hCrypto, pPrivKey, PrivKeyLength, pCipher,
                                                          CipherLength, pPlain, pPlainLength));
}

}  // extern "C"
