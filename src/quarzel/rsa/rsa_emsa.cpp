// Signature encodings: EMSA-PKCS1-v1_5 and EMSA-PSS (RFC 8017 9.2, 9.1) and
// the ANSI X9.31 representative.
#include <cstring>

#include "quarzel/rsa.h"
#include "quarzel/secure.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_num.h"
#include "rsa/rsa_sig_internal.h"

namespace quarzel::rsa {
namespace {

constexpr uint32_t FN_PSS_ENCODE = 0x0430;
constexpr uint32_t FN_PSS_VERIFY = 0x0431;
constexpr uint32_t FN_PKCS1_ENCODE = 0x0432;
constexpr uint32_t FN_PKCS1_VERIFY = 0x0433;
constexpr uint32_t FN_X931_ENCODE = 0x0434;
constexpr uint32_t FN_X931_VERIFY = 0x0435;

// DER DigestInfo headers that precede the digest: SEQUENCE, AlgorithmIdentifier
// { hash OID, NULL }, OCTET STRING header (RFC 8017 9.2 note 1; the SHA-3 rows
// use the NIST hash OIDs 2.16.840.1.101.3.4.2.7 to .10).
constexpr uint8_t emsa_pkcs_padding_tail_sha1[] = {
    0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_224[] = {
    0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1c};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_256[] = {
    0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_384[] = {
    0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_512[] = {
    0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_512_224[] = {
    0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x05, 0x05, 0x00, 0x04, 0x1c};
constexpr uint8_t emsa_pkcs_padding_tail_sha2_512_256[] = {
    0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x06, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t emsa_pkcs_padding_tail_sha3_224[] = {
    0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x07, 0x05, 0x00, 0x04, 0x1c};
constexpr uint8_t emsa_pkcs_padding_tail_sha3_256[] = {
    0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x08, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t emsa_pkcs_padding_tail_sha3_384[] = {
    0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x09, 0x05, 0x00, 0x04, 0x30};
constexpr uint8_t emsa_pkcs_padding_tail_sha3_512[] = {
    0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x0a, 0x05, 0x00, 0x04, 0x40};

// A prefix announces a SEQUENCE holding itself and the digest, and an OCTET
// STRING of the digest's length.
template <size_t N>
constexpr bool prefix_fits(const uint8_t (&t)[N], uint32_t hlen) {
  return t[0] == 0x30 && t[1] == N - 2 + hlen && t[N - 2] == 0x04 && t[N - 1] == hlen;
}
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha1, 20));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_224, 28));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_256, 32));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_384, 48));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_512, 64));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_512_224, 28));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha2_512_256, 32));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha3_224, 28));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha3_256, 32));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha3_384, 48));
static_assert(prefix_fits(emsa_pkcs_padding_tail_sha3_512, 64));

struct DigestInfoPrefix {
  const uint8_t* bytes;
  uint32_t len;  // 0: no DigestInfo for the hash
};

template <size_t N>
constexpr DigestInfoPrefix tail_of(const uint8_t (&t)[N]) {
  return {t, N};
}

DigestInfoPrefix digest_info(hash_type_t t) {
  switch (t) {
    case HASH_TYPE_SHA1: return tail_of(emsa_pkcs_padding_tail_sha1);
    case HASH_TYPE_SHA2_224: return tail_of(emsa_pkcs_padding_tail_sha2_224);
    case HASH_TYPE_SHA2_256: return tail_of(emsa_pkcs_padding_tail_sha2_256);
    case HASH_TYPE_SHA2_384: return tail_of(emsa_pkcs_padding_tail_sha2_384);
    case HASH_TYPE_SHA2_512: return tail_of(emsa_pkcs_padding_tail_sha2_512);
    case HASH_TYPE_SHA2_512_224: return tail_of(emsa_pkcs_padding_tail_sha2_512_224);
    case HASH_TYPE_SHA2_512_256: return tail_of(emsa_pkcs_padding_tail_sha2_512_256);
    case HASH_TYPE_SHA3_224: return tail_of(emsa_pkcs_padding_tail_sha3_224);
    case HASH_TYPE_SHA3_256: return tail_of(emsa_pkcs_padding_tail_sha3_256);
    case HASH_TYPE_SHA3_384: return tail_of(emsa_pkcs_padding_tail_sha3_384);
    case HASH_TYPE_SHA3_512: return tail_of(emsa_pkcs_padding_tail_sha3_512);
    default: return {nullptr, 0};
  }
}

// H = Hash(8 zero bytes || mHash || salt) of EMSA-PSS.
quarzel_ret_t pss_hash(hash_type_t t, uint32_t digest_len, const uint8_t* digest, uint32_t salt_len,
                       const uint8_t* salt, uint8_t* out) {
  static constexpr uint8_t kZeros[8] = {};
  hash_ctx_t ctx{};
  WipeOnExit<hash_ctx_t> wipe(ctx);
  uint32_t out_len = 64;
  RSA_TRY(hash_init(&ctx, t));
  RSA_TRY(hash_update(&ctx, 8, kZeros));
  RSA_TRY(hash_update(&ctx, digest_len, digest));
  if (salt_len != 0) RSA_TRY(hash_update(&ctx, salt_len, salt));
  return hash_final(&ctx, &out_len, out);
}

}  // namespace

const X931Id* x931_by_type(hash_type_t t) {
  for (const X931Id& x : kX931Ids) {
    if (x.type == t) return &x;
  }
  return nullptr;
}
const X931Id* x931_by_id(uint8_t id) {
  for (const X931Id& x : kX931Ids) {
    if (x.id == id) return &x;
  }
  return nullptr;
}

}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

quarzel_ret_t rsa_emsa_pkcs1_v1_5_encode(uint32_t rsa_size, hash_type_t hash_type,
                                         uint32_t digest_len, const uint8_t* digest, uint8_t* em) {
  constexpr uint32_t fn = FN_PKCS1_ENCODE;
  if (digest == nullptr || em == nullptr) return rsa_err(fn, RSA_R_NULL);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  const DigestInfoPrefix prefix = digest_info(hash_type);
  if (prefix.len == 0) return rsa_err(fn, RSA_R_HASH_TYPE);
  const uint32_t k = rsa_size / 8;
  const uint32_t tlen = prefix.len + hlen;
  if (k < tlen + 11) return rsa_err(fn, RSA_R_EM_SHORT);
  em[0] = 0x00;
  em[1] = 0x01;
  std::memset(em + 2, 0xFF, k - tlen - 3);
  em[k - tlen - 1] = 0x00;
  std::memcpy(em + k - tlen, prefix.bytes, prefix.len);
  std::memcpy(em + k - hlen, digest, hlen);
  return 0;
}

quarzel_ret_t rsa_emsa_pkcs1_v1_5_verify(uint32_t rsa_size, hash_type_t hash_type,
                                         uint32_t digest_len, const uint8_t* digest,
                                         const uint8_t* em, uint32_t* verify_result) {
  constexpr uint32_t fn = FN_PKCS1_VERIFY;
  if (verify_result == nullptr || em == nullptr || digest == nullptr) return rsa_err(fn, RSA_R_NULL);
  *verify_result = QZ_FALSE;
  const uint32_t k = rsa_size / 8;
  Buf expected;
  if (!expected.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  RSA_TRY(rsa_emsa_pkcs1_v1_5_encode(rsa_size, hash_type, digest_len, digest, expected.data()));
  if (quarzel::ct_equal(expected.data(), em, k)) *verify_result = QZ_TRUE;
  return 0;
}

quarzel_ret_t rsa_emsa_pss_encode(uint32_t rsa_size, hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                                  uint32_t mgf_digest_len, uint32_t digest_len,
                                  const uint8_t* digest, uint32_t salt_len, const uint8_t* salt,
                                  uint8_t* em) {
  constexpr uint32_t fn = FN_PSS_ENCODE;
  if (digest == nullptr || em == nullptr) return rsa_err(fn, RSA_R_NULL);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type_msg, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  const uint32_t k = rsa_size / 8;
  if (static_cast<uint64_t>(k) < static_cast<uint64_t>(hlen) + salt_len + 2) {
    return rsa_err(fn, RSA_R_SALT);
  }
  Buf drawn;
  if (salt_len != 0 && salt == nullptr) {
    if (!drawn.alloc(salt_len)) return rsa_err(fn, RSA_R_ALLOC);
    if (quarzel_get_random(drawn.data(), salt_len) != 0) return rsa_err(fn, QZ_R_RANDOM);
    salt = drawn.data();
  }
  const uint32_t db_len = k - hlen - 1;
  uint8_t* h = em + db_len;
  RSA_TRY(pss_hash(hash_type_msg, digest_len, digest, salt_len, salt, h));
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, hlen, h, db_len, em));  // mask written straight to em
  em[k - salt_len - hlen - 2] ^= 0x01;
  for (uint32_t i = 0; i < salt_len; ++i) em[k - salt_len - hlen - 1 + i] ^= salt[i];
  em[k - 1] = 0xBC;
  em[0] &= 0x7F;
  return 0;
}

quarzel_ret_t rsa_emsa_pss_verify(uint32_t rsa_size, hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                                  uint32_t mgf_digest_len, uint32_t digest_len,
                                  const uint8_t* digest, uint32_t salt_len, const uint8_t* salt,
                                  const uint8_t* em, uint32_t* verify_result) {
  constexpr uint32_t fn = FN_PSS_VERIFY;
  (void)salt;  // the salt is recovered from em
  if (verify_result == nullptr || em == nullptr || digest == nullptr) return rsa_err(fn, RSA_R_NULL);
  *verify_result = QZ_FALSE;
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type_msg, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  const uint32_t k = rsa_size / 8;
  if (static_cast<uint64_t>(k) < static_cast<uint64_t>(hlen) + salt_len + 2) return 0;
  if (em[k - 1] != 0xBC || (em[0] & 0x80) != 0) return 0;
  const uint32_t db_len = k - hlen - 1;
  Buf db, h2;
  if (!db.alloc(db_len) || !h2.alloc(hlen)) return rsa_err(fn, RSA_R_ALLOC);
  const uint8_t* h = em + db_len;
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, hlen, h, db_len, db.data()));
  for (uint32_t i = 0; i < db_len; ++i) db.data()[i] ^= em[i];
  db.data()[0] &= 0x7F;
  const uint32_t sep = db_len - salt_len - 1;
  uint8_t bad = 0;
  for (uint32_t i = 0; i < sep; ++i) bad |= db.data()[i];
  bad |= static_cast<uint8_t>(db.data()[sep] ^ 0x01);
  if (bad != 0) return 0;
  RSA_TRY(pss_hash(hash_type_msg, digest_len, digest, salt_len, db.data() + sep + 1, h2.data()));
  if (quarzel::ct_equal(h2.data(), h, hlen)) *verify_result = QZ_TRUE;
  return 0;
}

quarzel_ret_t ansi_x9_31_encode(uint32_t rsa_size, hash_type_t hash_type, uint32_t digest_len,
                                const uint8_t* digest, uint8_t* em) {
  constexpr uint32_t fn = FN_X931_ENCODE;
  if (digest == nullptr || em == nullptr) return rsa_err(fn, RSA_R_NULL);
  const X931Id* id = x931_by_type(hash_type);
  if (id == nullptr) return rsa_err(fn, RSA_R_HASH_TYPE);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type, &hlen));
  const uint32_t k = rsa_size / 8;
  if (k < hlen + 4) return rsa_err(fn, RSA_R_EM_SHORT);
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  em[0] = 0x6B;
  std::memset(em + 1, 0xBB, k - hlen - 4);
  em[k - hlen - 3] = 0xBA;
  std::memcpy(em + k - hlen - 2, digest, hlen);
  em[k - 2] = id->id;
  em[k - 1] = 0xCC;
  return 0;
}

quarzel_ret_t ansi_x9_31_verify(uint32_t rsa_size, const uint8_t* N_modulus, uint32_t digest_len,
                                const uint8_t* digest, const uint8_t* em, uint32_t* verify_result) {
  constexpr uint32_t fn = FN_X931_VERIFY;
  if (N_modulus == nullptr || digest == nullptr || em == nullptr || verify_result == nullptr) {
    return rsa_err(fn, RSA_R_NULL);
  }
  *verify_result = QZ_FALSE;
  const uint32_t k = rsa_size / 8;
  if (k < 4 || k % 4 != 0) return rsa_err(fn, RSA_R_SIZE);
  Num rep;
  RSA_TRY_CORE(fn, rep.alloc_copy(k, em));
  if (em[k - 1] != 0xCC) {
    const mpi_t n = view(k, N_modulus), e = view(k, em);
    RSA_TRY_CORE(fn, mpi_sub(rep.get(), &n, &e));
    if (rep.data()[k - 1] != 0xCC) return 0;
  }
  const uint8_t* r = rep.data();
  const X931Id* id = r[0] == 0x6B ? x931_by_id(r[k - 2]) : nullptr;
  if (id == nullptr) return 0;
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(id->type, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  if (k < hlen + 4 || r[k - hlen - 3] != 0xBA) return 0;
  for (uint32_t i = 1; i <= k - hlen - 4; ++i) {
    if (r[i] != 0xBB) return 0;
  }
  if (quarzel::ct_equal(r + k - hlen - 2, digest, hlen)) *verify_result = QZ_TRUE;
  return 0;
}

}  // extern "C"
