// Software provider: RSA key pairs and PKCS#1 v1.5 signatures and encryption
// (RFC 8017). Private keys are raw RSA blobs wrapped under the session's
// master key, unwrapped into a wiped working copy for one operation.
#include <cstring>

#include "swc_crypto.h"
#include "swc_work.h"
#include "quarzel/key_holders.h"
#include "quarzel/rsa.h"

using namespace swc;

namespace {

constexpr uint32_t kMaxBytes = 512;                                        // 4096-bit modulus
constexpr uint32_t kMaxPriBlob = 4 + 3 * kMaxBytes + 5 * (kMaxBytes / 2);  // CRT-fast key
constexpr uint32_t kMaxPubBlob = 4 + 2 * kMaxBytes;
constexpr uint8_t kE65537[3] = {0x01, 0x00, 0x01};

using PriKey = quarzel::RsaPriKey;
using PubKey = quarzel::RsaPubKey;

bool supported_size(uint32_t bits) { return bits == 1024 || bits == 2048 || bits == 3072 || bits == 4096; }

uint32_t load_prikey(const SessionView& s, const uint8_t* blob, uint32_t len, PriKey& d) {
  if (blob == nullptr || len == 0 || len > kMaxPriBlob) return kArguments;
  quarzel::SecretBytes raw;
  if (!make_secret(raw, len)) return kFailed;
  uint32_t rc = unwrap(s, blob, len, raw.data());
  rsa_size_t size{};
  rsa_keytype_t type{};
  if (rc == 0) rc = rsa_raw_prikey_get_length(len, raw.data(), &size, &type);
  if (rc == 0) rc = rsa_prikey_init(&d.k, size);
  if (rc == 0) rc = rsa_prikey_value_alloc(&d.k, type);
  if (rc == 0) rc = rsa_raw_to_prikey(len, raw.data(), &d.k);
  return rc;
}

uint32_t load_pubkey(const uint8_t* blob, uint32_t len, PubKey& q) {
  if (blob == nullptr || len == 0 || len > kMaxPubBlob) return kArguments;
  rsa_size_t size{};
  uint32_t rc = rsa_raw_pubkey_get_length(len, blob, &size);
  if (rc == 0) rc = rsa_pubkey_init(&q.k, size);
  if (rc == 0) rc = rsa_pubkey_value_alloc(&q.k);
  if (rc == 0) rc = rsa_raw_to_pubkey(len, blob, &q.k);
  return rc;
}

uint32_t modulus_bytes(const rsa_prikey_t& k) { return static_cast<uint32_t>(k.rsa_size) / 8; }
uint32_t modulus_bytes(const rsa_pubkey_t& k) { return static_cast<uint32_t>(k.rsa_size) / 8; }

}  // namespace

extern "C" {

uint32_t SWC_RSAGenerateKeyPair(uint32_t hSWCryptoSession, uint32_t ulRsaKeySize, uint32_t ulExponent,
                                uint8_t* pSwPrivKey, uint32_t* pulSwPrivKeyLength, uint8_t* pPubKey,
                                uint32_t* pulPubKeyLength) {
  if (ulExponent != 0x10001 || !supported_size(ulRsaKeySize)) return kArguments;
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pSwPrivKey == nullptr || pulSwPrivKeyLength == nullptr || pPubKey == nullptr || pulPubKeyLength == nullptr) {
    return kArguments;
  }
  const auto size = static_cast<rsa_size_t>(ulRsaKeySize);
  PriKey d;
  PubKey q;
  uint32_t rc = rsa_prikey_init(&d.k, size);
  if (rc == 0) rc = rsa_prikey_value_alloc(&d.k, RSA_KEYTYPE_CRTFAST);
  if (rc == 0) rc = rsa_pubkey_init(&q.k, size);
  if (rc == 0) rc = rsa_pubkey_value_alloc(&q.k);
  if (rc == 0) rc = rsa_gen_keypair(&d.k, &q.k, RSA_KEYTYPE_CRTFAST, sizeof kE65537, kE65537);
  if (rc != 0) return rc;
  // The private blob is written to a working copy and leaves only wrapped.
  quarzel::SecretBytes raw;
  if (!make_secret(raw, kMaxPriBlob)) return kFailed;
  uint32_t raw_len = *pulSwPrivKeyLength < kMaxPriBlob ? *pulSwPrivKeyLength : kMaxPriBlob;
  rc = rsa_prikey_to_raw(&d.k, &raw_len, raw.data());
  if (rc != 0) {
    if (raw_len > *pulSwPrivKeyLength) *pulSwPrivKeyLength = raw_len;
    return rc;
  }
  rc = rsa_pubkey_to_raw(&q.k, pulPubKeyLength, pPubKey);
  if (rc == 0) rc = wrap(s, raw.data(), raw_len, pSwPrivKey);
  if (rc == 0) *pulSwPrivKeyLength = raw_len;
  return rc;
}

uint32_t SWC_RSASign_PKCS1(uint32_t hSWCryptoSession, uint8_t HashType, uint8_t* pSwPrivKey, uint32_t ulSwPrivKeyLength,
                           uint8_t* pData, uint32_t ulDataLength, uint8_t* pSignature, uint32_t* pulSignatureLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pSignature == nullptr || pulSignatureLength == nullptr || (pData == nullptr && ulDataLength != 0)) {
    return kArguments;
  }
  PriKey d;
  uint32_t rc = load_prikey(s, pSwPrivKey, ulSwPrivKeyLength, d);
  if (rc != 0) return rc;
  const uint32_t k = modulus_bytes(d.k);
  if (!fits(pulSignatureLength, k)) return kBufferTooSmall;
  rc = rsa_rsassa_pkcs1_v1_5_sign(&d.k, static_cast<hash_type_t>(HashType), ulDataLength, pData, pSignature);
  if (rc == 0) *pulSignatureLength = k;
  return rc;
}

uint32_t SWC_RSAVerify_PKCS1(uint32_t hSWCryptoSession, uint8_t HashType, uint8_t* pPubKey, uint32_t ulPubKeyLength,
                             uint8_t* pData, uint32_t ulDataLength, uint8_t* pSignature, uint32_t ulSignatureLength) {
  if (!session_view(hSWCryptoSession)) return kSessionHandle;
  if (pSignature == nullptr || (pData == nullptr && ulDataLength != 0)) return kArguments;
  PubKey q;
  uint32_t rc = load_pubkey(pPubKey, ulPubKeyLength, q);
  if (rc != 0) return rc;
  // A signature is exactly as long as the modulus.
  if (ulSignatureLength != modulus_bytes(q.k)) return kSignatureInvalid;
  uint32_t verdict = QZ_FALSE;
  rc =
      rsa_rsassa_pkcs1_v1_5_verify(&q.k, static_cast<hash_type_t>(HashType), ulDataLength, pData, pSignature, &verdict);
  if (rc != 0) return rc;
  return verdict == QZ_TRUE ? 0 : kSignatureInvalid;
}

uint32_t SWC_RSAEncrypt_PKCS1(uint32_t hSWCryptoSession, uint8_t* pPubKey, uint32_t ulPubKeyLength, uint8_t* pData,
                              uint32_t ulDataLength, uint8_t* pCipher, uint32_t* pulCipherLength) {
  if (!session_view(hSWCryptoSession)) return kSessionHandle;
  if (pCipher == nullptr || pulCipherLength == nullptr || (pData == nullptr && ulDataLength != 0)) {
    return kArguments;
  }
  PubKey q;
  uint32_t rc = load_pubkey(pPubKey, ulPubKeyLength, q);
  if (rc != 0) return rc;
  const uint32_t k = modulus_bytes(q.k);
  if (!fits(pulCipherLength, k)) return kBufferTooSmall;
  rc = rsa_rsaes_pkcs1_v1_5_encrypt(&q.k, ulDataLength, pData, pCipher);
  if (rc == 0) *pulCipherLength = k;
  return rc;
}

uint32_t SWC_RSADecrypt_PKCS1(uint32_t hSWCryptoSession, uint8_t* pSwPrivKey, uint32_t ulSwPrivKeyLength,
                              uint8_t* pCihper, uint32_t ulCihperLength, uint8_t* pPlain, uint32_t* pulPlainLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pCihper == nullptr || pPlain == nullptr || pulPlainLength == nullptr) return kArguments;
  PriKey d;
  uint32_t rc = load_prikey(s, pSwPrivKey, ulSwPrivKeyLength, d);
  if (rc != 0) return rc;
  const uint32_t k = modulus_bytes(d.k);
  if (ulCihperLength != k) return kEncryptedLen;
  // Decrypted into a working copy: the caller's capacity is kept as it is
  // and tested against the message length.
  quarzel::SecretBytes msg;
  if (!make_secret(msg, k)) return kFailed;
  uint32_t msg_len = k;
  uint32_t valid = QZ_FALSE;
  rc = rsa_rsaes_pkcs1_v1_5_decrypt(&d.k, pCihper, &msg_len, msg.data(), &valid);
  if (rc != 0) return rc;
  if (valid != QZ_TRUE) return kSignatureInvalid;
  if (!fits(pulPlainLength, msg_len)) return kBufferTooSmall;
  std::memcpy(pPlain, msg.data(), msg_len);
  *pulPlainLength = msg_len;
  return 0;
}

}  // extern "C"
