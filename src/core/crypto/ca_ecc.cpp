// Crypto adapter, EC: key pairs, ECDSA in one or several calls (the adapter
// hashes, the EC table signs and verifies digests) and ECDH. The EC table is
// always the software provider's, so it gets the software session.
#include <cstring>

#include "crypto/ca_internal.h"
#include "quarzel/port.h"
#include "zeb/crypto_aux.h"

using namespace zeb::core;

namespace {

const C_ECCFunc_t* ecc_table() { return CA_GetECCFunctionList(); }

bool no_hash(const CryptoAdapterCtx& c) { return c.HashType == NO_HASH_TYPE; }

int sign_digest(CryptoAdapterCtx& c, uint8_t* digest, uint32_t digest_len, uint8_t* sig, uint32_t* sig_len) {
  return static_cast<int>(
      ecc_table()->C_ECDSASignSingle(c.hSW, c.PrivKey, c.PrivKeyLength, digest, digest_len, sig, sig_len));
}

int verify_digest(CryptoAdapterCtx& c, uint8_t* digest, uint32_t digest_len, uint8_t* sig, uint32_t sig_len) {
  return static_cast<int>(
      ecc_table()->C_ECDSAVerifySingle(c.hSW, c.PubKey, c.PubKeyLength, digest, digest_len, sig, sig_len));
}

// Start of a multi-part signature or verification.
int start(CryptoAdapterCtx* c, uint8_t op, CaRunning run, uint8_t hash_type, uint8_t* buf, uint32_t cap, uint32_t* kept,
          const uint8_t* key, uint32_t len, uint8_t kept_bit) {
  if (c == nullptr) return VRK_ERR_ARGUMENTS;
  if (!idle(*c)) return VRK_ERR_OPERATION_ACTIVE;
  if (ecc_table() == nullptr) return kNotSupported;
  if (int rv = keep_key(buf, cap, kept, key, len); rv != VRK_OK) return rv;
  // The buffer no longer holds a key kept for encryption or decryption.
  c->KeyAlgo &= static_cast<uint8_t>(~kept_bit);
  end_op(*c);
  start_op(*c, op, run);
  c->HashType = hash_type;
  if (hash_type == NO_HASH_TYPE) return VRK_OK;
  const uint32_t rv = SWA_HashInit(c->DigestCtx, hash_type);
  if (rv != VRK_OK) end_op(*c);
  return static_cast<int>(rv);
}

// An update of the running operation `run`.
int update(CryptoAdapterCtx* c, CaRunning run, uint8_t* data, uint32_t n) {
  if (c == nullptr || (data == nullptr && n != 0)) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != run) return VRK_ERR_NOT_INITIALIZED;
  // Without hashing the caller gives the digest in one call.
  if (no_hash(*c)) return VRK_ERR_FAILED;
  const uint32_t rv = SWA_HashUpdate(c->DigestCtx, data, n);
  if (rv != VRK_OK) end_op(*c);
  return static_cast<int>(rv);
}

// Hash (or take the data as the digest) and sign; the one-call and final
// forms. A short signature buffer leaves the operation as it was.
int sign_end(CryptoAdapterCtx* c, bool one_call, uint8_t* data, uint32_t n, uint8_t* sig, uint32_t* sig_len) {
  if (c == nullptr || sig_len == nullptr) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != kRunEcSign) return VRK_ERR_NOT_INITIALIZED;
  if (!one_call && no_hash(*c)) return VRK_ERR_FAILED;
  DigestSnapshot saved;
  saved.save(*c);
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = 0;
  int rv = finish_digest(*c, no_hash(*c), data, n, one_call, digest, &digest_len);
  if (rv == VRK_OK) rv = sign_digest(*c, digest, digest_len, sig, sig_len);
  if (rv == static_cast<int>(VRK_ERR_BUFFER_TOO_SMALL)) {
    saved.restore(*c);
  } else {
    end_op(*c);
  }
  quarzel::secure_wipe(digest, sizeof digest);
  return rv;
}

int verify_end(CryptoAdapterCtx* c, bool one_call, uint8_t* data, uint32_t n, uint8_t* sig, uint32_t sig_len) {
  if (c == nullptr || sig == nullptr) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_State != kRunEcVerify) return VRK_ERR_NOT_INITIALIZED;
  if (!one_call && no_hash(*c)) return VRK_ERR_FAILED;
  uint8_t digest[CA_DIGEST_BUFFER];
  uint32_t digest_len = 0;
  int rv = finish_digest(*c, no_hash(*c), data, n, one_call, digest, &digest_len);
  if (rv == VRK_OK) rv = verify_digest(*c, digest, digest_len, sig, sig_len);
  end_op(*c);
  return rv;
}

// A single-call table operation, holding the context for its duration.
template <class Fn>
int single(CryptoAdapterCtx* c, uint8_t op, Fn fn) {
  if (c == nullptr) return VRK_ERR_ARGUMENTS;
  if (!idle(*c)) return VRK_ERR_OPERATION_ACTIVE;
  if (ecc_table() == nullptr) return kNotSupported;
  c->Crypto_Operation = op;
  const int rv = static_cast<int>(fn(*ecc_table(), c->hSW));
  c->Crypto_Operation = VRK_OP_NONE;
  return rv;
}

}  // namespace

extern "C" {

int CA_ECGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint8_t EccCurveType, uint8_t* pPrivKey, uint32_t* pPrivKeyLength,
                         uint8_t* pPubKey, uint32_t* pPubKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (ecc_table() == nullptr) return kNotSupported;
  return static_cast<int>(
      ecc_table()->C_ECGenerateKeyPair(pCaCtx->hSW, EccCurveType, pPrivKey, pPrivKeyLength, pPubKey, pPubKeyLength));
}

int CA_ECDSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  return start(pCaCtx, VRK_OP_SIGN, kRunEcSign, HashType, pCaCtx->PrivKey, CA_PRIVKEY_MAX, &pCaCtx->PrivKeyLength,
               pPrivKey, PrivKeyLength, kKeptDecryptKey);
}

int CA_ECDSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength) {
  return update(pCaCtx, kRunEcSign, pData, DataLength);
}

int CA_ECDSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength) {
  return sign_end(pCaCtx, false, nullptr, 0, pSignature, pSignatureLength);
}

int CA_ECDSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t* pSignatureLength) {
  return sign_end(pCaCtx, true, pData, DataLength, pSignature, pSignatureLength);
}

int CA_ECDSASignSingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest,
                       uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength) {
  return single(pCaCtx, VRK_OP_SIGN, [&](const C_ECCFunc_t& t, uint32_t h) {
    return t.C_ECDSASignSingle(h, pPrivKey, PrivKeyLength, pDigest, DigestLength, pSignature, pSignatureLength);
  });
}

int CA_ECDSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  // The verification holds the context until it ends, like a signature: a
  // later start would overwrite its key and hash.
  return start(pCaCtx, VRK_OP_VERIFY, kRunEcVerify, HashType, pCaCtx->PubKey, CA_PUBKEY_MAX, &pCaCtx->PubKeyLength,
               pPubKey, PubKeyLength, kKeptEncryptKey);
}

int CA_ECDSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength) {
  return update(pCaCtx, kRunEcVerify, pData, DataLength);
}

int CA_ECDSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength) {
  return verify_end(pCaCtx, false, nullptr, 0, pSignature, SignatureLength);
}

int CA_ECDSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                   uint32_t SignatureLength) {
  return verify_end(pCaCtx, true, pData, DataLength, pSignature, SignatureLength);
}

int CA_ECDSAVerifySingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                         uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength) {
  return single(pCaCtx, VRK_OP_VERIFY, [&](const C_ECCFunc_t& t, uint32_t h) {
    return t.C_ECDSAVerifySingle(h, pPubKey, PubKeyLength, pDigest, DigestLength, pSignature, SignatureLength);
  });
}

int CA_ECDH(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKeyA, uint32_t u32PrivKeyALength, uint8_t* pPubKeyB,
            uint32_t u32PubKeyBLength, uint8_t* pShareSecret, uint32_t* pShareSecretLength) {
  if (pCaCtx == nullptr) return VRK_ERR_ARGUMENTS;
  if (ecc_table() == nullptr) return kNotSupported;
  return static_cast<int>(ecc_table()->C_ECDH(pCaCtx->hSW, pPrivKeyA, u32PrivKeyALength, pPubKeyB, u32PubKeyBLength,
                                              pShareSecret, pShareSecretLength));
}

}  // extern "C"
