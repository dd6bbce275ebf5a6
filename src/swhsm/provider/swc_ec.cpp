// Software provider: EC key pairs, ECDSA over a digest and ECDH. Private keys
// are raw EC blobs wrapped under the session's master key; they are unwrapped
// into a wiped working copy for the one operation, never in the caller's
// buffer.
#include <cstring>

#include "swc_crypto.h"
#include "swc_work.h"
#include "quarzel/key_holders.h"
#include "quarzel/ecc.h"

using namespace swc;

namespace {

constexpr uint32_t kBlobHead = 4;
constexpr uint32_t kMaxPriBlob = kBlobHead + ECC_MAX_LEN;
constexpr uint32_t kMaxPubBlob = kBlobHead + 2 * ECC_MAX_LEN;

// A private and a public key object whose library buffers are released (the
// private value wiped) when the scope ends.
using PriKey = quarzel::EcPriKey;
using PubKey = quarzel::EcPubKey;

uint32_t new_prikey(PriKey& d, ecc_crv_t crv) {
  uint32_t rc = ecc_prikey_init(&d.k, crv);
  if (rc == 0) rc = ecc_prikey_value_alloc(&d.k);
  return rc;
}

uint32_t new_pubkey(PubKey& q, ecc_crv_t crv) {
  uint32_t rc = ecc_pubkey_init(&q.k, crv);
  if (rc == 0) rc = ecc_pubkey_value_alloc(&q.k);
  return rc;
}

// Unwraps a private-key blob and loads it; L is the curve's value length.
uint32_t load_prikey(const SessionView& s, const uint8_t* blob, uint32_t len, PriKey& d, uint32_t* L) {
  if (blob == nullptr || len == 0) return kArguments;
  if (len > kMaxPriBlob) return kArguments;
  quarzel::SecretArray<kMaxPriBlob> raw;
  uint32_t rc = unwrap(s, blob, len, raw.data());
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  if (rc == 0) rc = ecc_raw_prikey_get_length(len, raw.data(), &crv, L);
  if (rc == 0) rc = new_prikey(d, crv);
  if (rc == 0) rc = ecc_raw_to_prikey(len, raw.data(), &d.k);
  return rc;
}

uint32_t load_pubkey(const uint8_t* blob, uint32_t len, PubKey& q, uint32_t* L) {
  if (blob == nullptr || len == 0) return kArguments;
  if (len > kMaxPubBlob) return kArguments;
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t rc = ecc_raw_pubkey_get_length(len, blob, &crv, L);
  if (rc == 0) rc = new_pubkey(q, crv);
  if (rc == 0) rc = ecc_raw_to_pubkey(len, blob, &q.k);
  return rc;
}

}  // namespace

extern "C" {

uint32_t SWC_ECGenerateKeyPair(uint32_t hSWCryptoSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                               uint32_t* pSwPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pSwPrivKey == nullptr || pSwPrivKeyLength == nullptr || pPubKey == nullptr || pPubKeyLength == nullptr) {
    return kArguments;
  }
  const auto crv = static_cast<ecc_crv_t>(EccCurveType);
  PriKey d;
  PubKey q;
  uint32_t rc = new_prikey(d, crv);
  if (rc == 0) rc = new_pubkey(q, crv);
  if (rc == 0) rc = ecc_gen_keypair(crv, ECC_KEYGEN_REJECT_SAMPLING, &d.k, &q.k);
  // The private blob is written to a working copy and leaves only wrapped.
  quarzel::SecretArray<kMaxPriBlob> raw;
  uint32_t raw_len = *pSwPrivKeyLength < kMaxPriBlob ? *pSwPrivKeyLength : kMaxPriBlob;
  if (rc == 0) rc = ecc_prikey_to_raw(&d.k, &raw_len, raw.data());
  if (rc != 0) {
    if (raw_len > *pSwPrivKeyLength) *pSwPrivKeyLength = raw_len;
    return rc;
  }
  rc = ecc_pubkey_to_raw(&q.k, pPubKeyLength, pPubKey);
  if (rc == 0) rc = wrap(s, raw.data(), raw_len, pSwPrivKey);
  if (rc == 0) *pSwPrivKeyLength = raw_len;
  return rc;
}

uint32_t SWC_ECDSASignSingle(uint32_t hSWCryptoSession, uint8_t* pSwPrivKey, uint32_t SwPrivKeyLength, uint8_t* pDigest,
                             uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pSignature == nullptr || pSignatureLength == nullptr || (pDigest == nullptr && DigestLength != 0)) {
    return kArguments;
  }
  PriKey d;
  uint32_t L = 0;
  uint32_t rc = load_prikey(s, pSwPrivKey, SwPrivKeyLength, d, &L);
  if (rc != 0) return rc;
  if (!fits(pSignatureLength, 2 * L)) return kBufferTooSmall;
  // k is drawn by the library for every signature.
  rc = ecdsa_sign(&d.k, DigestLength, pDigest, nullptr, pSignature, pSignature + L);
  if (rc == 0) {
    *pSignatureLength = 2 * L;
  } else {
    quarzel::secure_wipe(pSignature, 2 * L);
  }
  return rc;
}

uint32_t SWC_ECDSAVerifySingle(uint32_t hSWCryptoSession, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                               uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength) {
  if (!session_view(hSWCryptoSession)) return kSessionHandle;
  if (pSignature == nullptr || (pDigest == nullptr && DigestLength != 0)) return kArguments;
  PubKey q;
  uint32_t L = 0;
  uint32_t rc = load_pubkey(pPubKey, PubKeyLength, q, &L);
  if (rc != 0) return rc;
  // r || s of the curve's length each; anything else cannot be a signature.
  if (SignatureLength != 2 * L) return kSignatureInvalid;
  uint32_t verdict = QZ_FALSE;
  rc = ecdsa_verify(&q.k, DigestLength, pDigest, pSignature, pSignature + L, &verdict);
  if (rc != 0) return rc;
  return verdict == QZ_TRUE ? 0 : kSignatureInvalid;
}

uint32_t SWC_ECDH(uint32_t hSWCryptoSession, uint8_t* pSwPrivKeyA, uint32_t SwPrivKeyALength, uint8_t* pPubKeyB,
                  uint32_t PubKeyBLength, uint8_t* ShareSecret, uint32_t* pShareSecretLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (ShareSecret == nullptr || pShareSecretLength == nullptr) return kArguments;
  PriKey d;
  PubKey q;
  uint32_t L = 0;
  uint32_t peer_L = 0;
  uint32_t rc = load_prikey(s, pSwPrivKeyA, SwPrivKeyALength, d, &L);
  if (rc == 0) rc = load_pubkey(pPubKeyB, PubKeyBLength, q, &peer_L);
  if (rc != 0) return rc;
  if (!fits(pShareSecretLength, L)) return kBufferTooSmall;
  return ecdh_derive_shared_secret(&d.k, &q.k, pShareSecretLength, ShareSecret);
}

}  // extern "C"
