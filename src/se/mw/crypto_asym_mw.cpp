// Crypto middleware (class 0x88): ECC, RSA, key derivation, key generation,
// key blobs and padding. Keys pass as the caller holds them; the device works
// with them.
#include <cstring>

#include "mw/mw_call.h"
#include "se/middleware.h"

using namespace se;
using se::mw::cap_of;
using se::mw::In;
using se::mw::Out;

namespace {

namespace cry = se::cmd::cry;

constexpr uint32_t kRsaSignatureMax = 512;  // RSA-4096

uint32_t send(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
              std::initializer_list<Out> out = {}) {
  return mw::call(where, c, in, out, mw::kArguments);
}

Out out_array(void* p, uint32_t* len) { return Out{p, cap_of(len), len}; }

uint32_t gen_pair(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in, uint8_t* priv,
                  uint32_t* priv_len, uint8_t* pub, uint32_t* pub_len) {
  if (priv_len == nullptr || pub_len == nullptr) return mw::kArguments;
  return send(where, c, in, {out_array(priv, priv_len), out_array(pub, pub_len)});
}

}  // namespace

extern "C" {

uint32_t FWC_ECDSASignSingle_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* FWPrivKey, uint32_t FWPrivKeyLen, uint8_t* Digest,
                                uint32_t DigestLen, uint8_t* pSignature, uint32_t* pSignatureLen) {
  if (pSignatureLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::ECDSASignSingle, {{&hSession}, {FWPrivKey, FWPrivKeyLen}, {Digest, DigestLen}},
              {out_array(pSignature, pSignatureLen)});
}

uint32_t FWC_ECDSAVerifySingle_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pPubKeyDer, uint32_t PubKeyDerLen,
                                  uint8_t* Digest, uint32_t DigestLen, uint8_t* Signature, uint32_t SignatureLen) {
  return send(SE_HERE, cry::ECDSAVerifySingle,
              {{&hSession}, {pPubKeyDer, PubKeyDerLen}, {Digest, DigestLen}, {Signature, SignatureLen}});
}

uint32_t FWC_ECDH_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwPrivKeyA, uint32_t SwPrivKeyALen, uint8_t* PubKeyDerB,
                     uint32_t PubKeyDerBLen, uint8_t* ShareSercet, uint32_t* ShareSercetLen) {
  if (ShareSercetLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::ECDH, {{&hSession}, {SwPrivKeyA, SwPrivKeyALen}, {PubKeyDerB, PubKeyDerBLen}},
              {out_array(ShareSercet, ShareSercetLen)});
}

// The hash type travels as a 32-bit word. The signature comes back into a
// buffer for the largest modulus: a caller's buffer shorter than it gets
// CKR_BUFFER_TOO_SMALL with the length it needs, as from the software
// provider, so that it can retry (the reply alone would not say).
uint32_t FWC_RSASign_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* SwPrivKey, uint32_t SwPrivKeyLen,
                              uint8_t* Data, uint32_t DataLen, uint8_t* Signature, uint32_t* pSignatureLen) {
  if (pSignatureLen == nullptr) return mw::kArguments;
  const uint32_t hash = HashType;
  uint8_t sig[kRsaSignatureMax];
  uint32_t n = sizeof sig;
  const uint32_t rv = send(SE_HERE, cry::RSASign, {{&hSession}, {&hash}, {SwPrivKey, SwPrivKeyLen}, {Data, DataLen}},
                           {out_array(sig, &n)});
  if (rv != 0) return rv;
  if (n > *pSignatureLen) {
    *pSignatureLen = n;
    return mw::kBufferTooSmall;
  }
  if (n != 0) {
    if (Signature == nullptr) return mw::kArguments;
    std::memcpy(Signature, sig, n);
  }
  *pSignatureLen = n;
  return 0;
}

uint32_t FWC_RSAVerify_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* PubKey, uint32_t PubKeyLen,
                                uint8_t* Data, uint32_t DataLen, uint8_t* Signature, uint32_t SignatureLen) {
  const uint32_t hash = HashType;
  return send(SE_HERE, cry::RSAVerify,
              {{&hSession}, {&hash}, {PubKey, PubKeyLen}, {Data, DataLen}, {Signature, SignatureLen}});
}

uint32_t FWC_RSAEncrypt_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* PubKey, uint32_t PubKeyLen, uint8_t* Data,
                                 uint32_t DataLen, uint8_t* Cipher, uint32_t* pCipherLen) {
  if (pCipherLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::RSAEncrypt, {{&hSession}, {PubKey, PubKeyLen}, {Data, DataLen}},
              {out_array(Cipher, pCipherLen)});
}

uint32_t FWC_RSADecrypt_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwPrivKey, uint32_t SwPrivKeyLen, uint8_t* Cihper,
                                 uint32_t CihperLen, uint8_t* pPlain, uint32_t* pPlainLen) {
  if (pPlainLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::RSADecrypt, {{&hSession}, {SwPrivKey, SwPrivKeyLen}, {Cihper, CihperLen}},
              {out_array(pPlain, pPlainLen)});
}

uint32_t FWC_Pbkdf_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* password, uint32_t password_len, uint8_t* salt,
                      uint32_t salt_len, uint8_t* dk, uint32_t* dk_len) {
  if (dk_len == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::Pbkdf, {{&hSession}, {password, password_len}, {salt, salt_len}}, {out_array(dk, dk_len)});
}

uint32_t FWC_Key_Encrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* PlainKey, uint32_t PlainKeyLen, uint8_t* SwKey,
                            uint32_t* pSwKeyLen) {
  if (pSwKeyLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::KeyEncrypt, {{&hSession}, {PlainKey, PlainKeyLen}}, {out_array(SwKey, pSwKeyLen)});
}

uint32_t FWC_Key_Decrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwKey, uint32_t SwKeyLen, uint8_t* PlainKey,
                            uint32_t* pPlainKeyLen) {
  if (pPlainKeyLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::KeyDecrypt, {{&hSession}, {SwKey, SwKeyLen}}, {out_array(PlainKey, pPlainKeyLen)});
}

uint32_t FWC_AESGenerateKey_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherType, uint8_t* SwKey, uint32_t* pSwKeyLen) {
  if (pSwKeyLen == nullptr) return mw::kArguments;
  const uint32_t type = AESCipherType;
  return send(SE_HERE, cry::AESGenerateKey, {{&hSession}, {&type}}, {out_array(SwKey, pSwKeyLen)});
}

uint32_t FWC_ECGenerateKeyPair_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                                  uint32_t* pSwPrivKeyLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen) {
  return gen_pair(SE_HERE, cry::ECGenerateKeyPair, {{&hSession}, {&EccCurveType}}, pSwPrivKey, pSwPrivKeyLen,
                  pPubKeyDer, pPubKeyDerLen);
}

uint32_t FWC_ECGenerateKeyPair_EXTRA_B_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                                          uint32_t* pSwPrivKeyLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen) {
  return gen_pair(SE_HERE, cry::ECGenerateKeyPairExtraB, {{&hSession}, {&EccCurveType}}, pSwPrivKey, pSwPrivKeyLen,
                  pPubKeyDer, pPubKeyDerLen);
}

uint32_t FWC_RSAGenerateKeyPair_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t RsaModeSize, uint32_t Exponent,
                                   uint8_t* pSwPrivKey, uint32_t* pSwPrivKeyLen, uint8_t* pPubKey,
                                   uint32_t* pPubKeyLen) {
  return gen_pair(SE_HERE, cry::RSAGenerateKeyPair, {{&hSession}, {&RsaModeSize}, {&Exponent}}, pSwPrivKey,
                  pSwPrivKeyLen, pPubKey, pPubKeyLen);
}

uint32_t FWC_Padding_mw(uint32_t PaddingType, uint32_t BlockSize, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                        uint32_t* pDataOutLen) {
  if (pDataOutLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::Padding, {{&PaddingType}, {&BlockSize}, {Data, DataLen}},
              {out_array(pDataOut, pDataOutLen)});
}

uint32_t FWC_Unpadding_mw(uint32_t PaddingType, uint32_t BlockSize, uint8_t* Data, uint32_t DataLen,
                          uint8_t* pDataOut, uint32_t* pDataOutLen) {
  if (pDataOutLen == nullptr) return mw::kArguments;
  return send(SE_HERE, cry::Unpadding, {{&PaddingType}, {&BlockSize}, {Data, DataLen}},
              {out_array(pDataOut, pDataOutLen)});
}

// The core passes one buffer as reference and value: the value is what it
// already holds.
uint32_t FWC_ExportValue_mw(ZEB_CRYPTO_HANDLE /*hFWCryptoSession*/, uint8_t* /*pFakeAddress*/,
                            uint32_t /*fakeAddressLen*/, uint8_t* /*pValue*/, uint32_t* /*pValueLen*/) {
  return 0;
}

}  // extern "C"
