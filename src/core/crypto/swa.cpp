// The crypto auxiliaries over the primitive library.
#include <cstring>

#include "quarzel/drbg.h"
#include "quarzel/ecc.h"
#include "quarzel/hash.h"
#include "quarzel/secure.h"
#include "zeb/backend_codes.h"
#include "zeb/crypto_aux.h"
#include "zeb/swhsm_services.h"  // the signature DER codec

namespace {

using zeb::rc::kArguments;
using zeb::rc::kSignatureInvalid;

static_assert(sizeof(hash_ctx_t) <= SWA_HASH_CTX_SIZE);

hash_ctx_t* hash_ctx(uint8_t* buf) {
  if (buf == nullptr || reinterpret_cast<uintptr_t>(buf) % alignof(hash_ctx_t) != 0) return nullptr;
  return reinterpret_cast<hash_ctx_t*>(buf);
}

// A caller's key object copied into a cleared local one; its size must match.
template <class Key>
bool copy_key(Key& key, const uint8_t* p, uint32_t len) {
  if (p == nullptr || len != sizeof(Key)) return false;
  std::memcpy(&key, p, sizeof(Key));
  return true;
}

}  // namespace

extern "C" {

uint32_t SWA_Drng(uint32_t ulDataLength, uint8_t* pData) {
  if (pData == nullptr && ulDataLength != 0) return kArguments;
  // 16 bytes of entropy input and an 8-byte nonce: the minimum of Hash_DRBG
  // with SHA-256 (SP 800-90A 10.1). No personalisation string.
  quarzel::SecretArray<24> seed;
  uint32_t rc = quarzel_get_random(seed.data(), seed.size());
  if (rc != 0) return rc;
  drbg_ctx_t drbg;
  quarzel::WipeOnExit<drbg_ctx_t> wipe(drbg);
  rc = drbg_instantiate(&drbg, DRBG_TYPE_HASH_SHA_2_256, 16, seed.data(), 8, seed.data() + 16, 0, nullptr);
  if (rc == 0) rc = drbg_generate(&drbg, 0, nullptr, &ulDataLength, pData);
  (void)drbg_uninstantiate(&drbg);
  return rc;
}

uint32_t SWA_HashInit(uint8_t* swcctx, uint8_t HashType) {
  hash_ctx_t* ctx = hash_ctx(swcctx);
  if (ctx == nullptr) return kArguments;
  std::memset(ctx, 0, sizeof *ctx);
  return hash_init(ctx, static_cast<hash_type_t>(HashType));
}

uint32_t SWA_HashUpdate(uint8_t* swcctx, uint8_t* pData, uint32_t DataLength) {
  hash_ctx_t* ctx = hash_ctx(swcctx);
  if (ctx == nullptr) return kArguments;
  return hash_update(ctx, DataLength, pData);
}

uint32_t SWA_HashFinal(uint8_t* swcctx, uint8_t* pDigest, uint32_t* pulDigestLength) {
  hash_ctx_t* ctx = hash_ctx(swcctx);
  if (ctx == nullptr || pulDigestLength == nullptr) return kArguments;
  uint32_t len = *pulDigestLength;
  const uint32_t rc = hash_final(ctx, &len, pDigest);
  if (rc == 0) *pulDigestLength = len;
  return rc;
}

uint32_t SWA_ECGenerateKeyPair(uint8_t EccCurveType, uint8_t* pPrivKey, uint32_t* pPrivKeyLength, uint8_t* pPubKey,
                               uint32_t* pPubKeyLength) {
  if (pPrivKey == nullptr || pPrivKeyLength == nullptr || pPubKey == nullptr || pPubKeyLength == nullptr ||
      *pPrivKeyLength < sizeof(ecc_prikey_t) || *pPubKeyLength < sizeof(ecc_pubkey_t)) {
    return kArguments;
  }
  const auto crv = static_cast<ecc_crv_t>(EccCurveType);
  ecc_prikey_t d{};
  ecc_pubkey_t q{};
  uint32_t rc = ecc_prikey_init(&d, crv);
  if (rc == 0) rc = ecc_pubkey_init(&q, crv);
  if (rc == 0) rc = ecc_prikey_value_alloc(&d);
  if (rc == 0) rc = ecc_pubkey_value_alloc(&q);
  if (rc == 0) rc = ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, &d, &q);
  if (rc != 0) {
    // Nothing is handed out: release what was allocated.
    (void)ecc_prikey_value_free(&d);
    (void)ecc_pubkey_value_free(&q);
    return rc;
  }
  // The value buffers now belong to the holder of the two objects.
  std::memcpy(pPrivKey, &d, sizeof d);
  std::memcpy(pPubKey, &q, sizeof q);
  *pPrivKeyLength = sizeof d;
  *pPubKeyLength = sizeof q;
  return 0;
}

uint32_t SWA_ECDH(uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pPubKey, uint32_t PubKeyLength,
                  uint8_t* ShareSercet, uint32_t* ShareSercetLength) {
  ecc_prikey_t d{};
  ecc_pubkey_t q{};
  if (!copy_key(d, pPrivKey, PrivKeyLength) || !copy_key(q, pPubKey, PubKeyLength) || ShareSercet == nullptr ||
      ShareSercetLength == nullptr) {
    return kArguments;
  }
  ecc_crv_t crv{};
  uint32_t L = 0;
  uint32_t rc = ecc_prikey_value_get_length(&d, &crv, &L);
  if (rc != 0) return rc;
  if (*ShareSercetLength < L) {
    *ShareSercetLength = L;
    return 0x150;
  }
  return ecdh_derive_shared_secret(&d, &q, ShareSercetLength, ShareSercet);
}

uint32_t SWA_ECDSASignSingle(uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest, uint32_t DigestLength,
                             uint8_t* pSignature, uint32_t* pSignatureLength) {
  ecc_prikey_t d{};
  if (!copy_key(d, pPrivKey, PrivKeyLength) || pSignature == nullptr || pSignatureLength == nullptr) {
    return kArguments;
  }
  ecc_crv_t crv{};
  uint32_t L = 0;
  uint32_t rc = ecc_prikey_value_get_length(&d, &crv, &L);
  if (rc != 0) return rc;
  // The library draws k below the group order itself: a k drawn here would
  // need rejection on the curves whose order is well below 2^(8L).
  uint8_t r[ECC_MAX_LEN] = {};
  uint8_t s[ECC_MAX_LEN] = {};
  rc = ecdsa_sign(&d, DigestLength, pDigest, nullptr, r, s);
  if (rc != 0) return rc;
  return SignatureToDER(r, s, L, pSignature, pSignatureLength);
}

uint32_t SWA_ECDSAVerifySingle(uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest, uint32_t DigestLength,
                               uint8_t* pSignature, uint32_t SignatureLength) {
  ecc_pubkey_t q{};
  if (!copy_key(q, pPubKey, PubKeyLength) || pSignature == nullptr) return kArguments;
  ecc_crv_t crv{};
  uint32_t xl = 0;
  uint32_t yl = 0;
  uint32_t rc = ecc_pubkey_value_get_length(&q, &crv, &xl, &yl);
  if (rc != 0) return rc;
  const uint32_t L = xl;
  // r and s right-aligned in fields of the curve's length; a longer value or
  // a malformed encoding is refused by the reader before any copy.
  uint8_t rv[ECC_MAX_LEN] = {};
  uint8_t sv[ECC_MAX_LEN] = {};
  uint32_t rl = L;
  uint32_t sl = L;
  rc = SignatureDERToRS(pSignature, SignatureLength, rv, sv, &rl, &sl);
  if (rc != 0) return rc;
  uint8_t r[ECC_MAX_LEN] = {};
  uint8_t s[ECC_MAX_LEN] = {};
  std::memcpy(r + (L - rl), rv, rl);
  std::memcpy(s + (L - sl), sv, sl);
  uint32_t verdict = QZ_FALSE;
  rc = ecdsa_verify(&q, DigestLength, pDigest, r, s, &verdict);
  if (rc != 0) return rc;
  return verdict == QZ_TRUE ? 0 : kSignatureInvalid;
}

}  // extern "C"
