// Encryption schemes: RSAES-OAEP and RSAES-PKCS1-v1_5 (RFC 8017 7.1, 7.2).
// The decoders scan the whole encoded message and merge every check into one
// mask before deciding, so the kind of padding failure does not show.
#include <cstring>

#include "quarzel/ct.h"
#include "quarzel/rsa.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_num.h"

namespace quarzel::rsa {
namespace {

constexpr uint32_t FN_OAEP_ENCODE = 0x0440;
constexpr uint32_t FN_OAEP_DECODE = 0x0441;
constexpr uint32_t FN_PKCS1_ENCODE = 0x0442;
constexpr uint32_t FN_PKCS1_DECODE = 0x0443;
constexpr uint32_t FN_OAEP_ENCRYPT = 0x0448;
constexpr uint32_t FN_OAEP_DECRYPT = 0x0449;
constexpr uint32_t FN_PKCS1_ENCRYPT = 0x044A;
constexpr uint32_t FN_PKCS1_DECRYPT = 0x044B;

bool lhash_len_ok(uint32_t n) { return n == 20 || n == 28 || n == 32 || n == 48 || n == 64; }

quarzel_ret_t encrypt(uint32_t fn, const rsa_pubkey_t* pubkey, uint8_t* ciphertext,
                      quarzel_ret_t (*encode)(const rsa_pubkey_t*, uint8_t*, const void*), const void* arg) {
  if (pubkey == nullptr || ciphertext == nullptr) return rsa_err(fn, RSA_R_NULL);
  Buf em;
  if (!em.alloc(pubkey->rsa_size / 8)) return rsa_err(fn, RSA_R_ALLOC);
  RSA_TRY(encode(pubkey, em.data(), arg));
  return rsa_rsaep(pubkey, em.data(), ciphertext);
}

struct OaepArgs {
  rsa_mgf_t mgf_type;
  uint32_t mgf_digest_len, message_len;
  const uint8_t* message;
  uint32_t label_len;
  const uint8_t* label;
};

struct Decoder {
  uint32_t fn;           // function number of the decrypting operation
  uint32_t rsadp_fn;     // number under which other RSADP failures are reported
  quarzel_ret_t (*decode)(const rsa_prikey_t*, const uint8_t* em, uint32_t* message_len,
                          uint8_t* message, uint32_t* valid, const void* arg);
};

// RSADP, then the decoder; with `check`, the recovered EM is encrypted again
// and must give the ciphertext back.
quarzel_ret_t decrypt(const Decoder& d, const rsa_prikey_t* prikey, const uint8_t* ciphertext,
                      uint32_t* message_len, uint8_t* message, uint32_t* valid, const void* arg,
                      bool check) {
  if (valid == nullptr) return rsa_err(d.fn, RSA_R_NULL);
  *valid = QZ_FALSE;
  if (prikey == nullptr || ciphertext == nullptr || message_len == nullptr) return rsa_err(d.fn, RSA_R_NULL);
  const uint32_t k = prikey->rsa_size / 8;
  Buf em;
  if (!em.alloc(k)) return rsa_err(d.fn, RSA_R_ALLOC);
  if (const quarzel_ret_t r = rsa_rsadp(prikey, ciphertext, em.data()); r != 0) {
    if ((r & 0xFF) != RSA_R_RANGE) return rsa_err(d.rsadp_fn, static_cast<uint8_t>(r));
    // A ciphertext out of range is an invalid one: nothing was recovered.
    *message_len = 0;
    return 0;
  }
  RSA_TRY(d.decode(prikey, em.data(), message_len, message, valid, arg));
  if (!check) return 0;
  DerivedPubKey pub;
  RSA_TRY(pub.derive(prikey));
  Buf again;
  if (!again.alloc(k)) return rsa_err(d.fn, RSA_R_ALLOC);
  // Not rsa_rsaep: its range checks would stop at the first byte that
  // differs from n, telling whether the recovered block starts with zero.
  // em is below n as the result of the private operation.
  RSA_TRY(public_power(pub.get(), em.data(), again.data()));
  // The outcome of the check is public: it only fails on a fault.
  if (!ct::declassify(quarzel::ct_equal(again.data(), ciphertext, k))) return rsa_err(d.fn, RSA_R_CHECK);
  return 0;
}

quarzel_ret_t oaep_decode_with(const rsa_prikey_t* k, const uint8_t* em, uint32_t* message_len,
                               uint8_t* message, uint32_t* valid, const void* arg) {
  const auto* a = static_cast<const OaepArgs*>(arg);
  return rsa_eme_oaep_decode(k->rsa_size, a->mgf_type, a->mgf_digest_len, em, a->label_len, a->label,
                             message_len, message, valid);
}

quarzel_ret_t pkcs1_decode_with(const rsa_prikey_t* k, const uint8_t* em, uint32_t* message_len,
                                uint8_t* message, uint32_t* valid, const void*) {
  return rsa_eme_pkcs1_v1_5_decode(k->rsa_size, em, message_len, message, valid);
}

constexpr Decoder kOaep{FN_OAEP_DECRYPT, FN_OAEP_DECRYPT, oaep_decode_with};
constexpr Decoder kPkcs1{FN_PKCS1_DECRYPT, 0x042D, pkcs1_decode_with};

}  // namespace
}  // namespace quarzel::rsa

using namespace quarzel::rsa;
namespace ct = quarzel::ct;

extern "C" {

quarzel_ret_t rsa_eme_oaep_encode(uint32_t rsa_size, rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
                                  uint32_t message_len, const uint8_t* message, uint32_t label_len,
                                  const uint8_t* label, uint8_t* em) {
  constexpr uint32_t fn = FN_OAEP_ENCODE;
  if (label == nullptr || em == nullptr || (message == nullptr && message_len != 0)) {
    return rsa_err(fn, RSA_R_NULL);
  }
  const uint32_t hlen = label_len;
  if (!lhash_len_ok(hlen)) return rsa_err(fn, RSA_R_LHASH);
  const int64_t k = rsa_size / 8;
  if (static_cast<int64_t>(message_len) > k - 2 * static_cast<int64_t>(hlen) - 2) {
    return rsa_err(fn, RSA_R_MSG_LONG);
  }
  const uint32_t klen = static_cast<uint32_t>(k);
  const uint32_t db_len = klen - hlen - 1;
  Buf db, seed;
  if (!db.alloc(klen) || !seed.alloc(hlen)) return rsa_err(fn, RSA_R_ALLOC);
  std::memcpy(db.data(), label, hlen);
  db.data()[db_len - message_len - 1] = 0x01;
  if (message_len != 0) std::memcpy(db.data() + db_len - message_len, message, message_len);
  if (quarzel_get_random(seed.data(), hlen) != 0) return rsa_err(fn, QZ_R_RANDOM);
  std::memset(em, 0, klen);
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, hlen, seed.data(), db_len, em + hlen + 1));
  for (uint32_t i = 0; i < db_len; ++i) em[hlen + 1 + i] ^= db.data()[i];
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, db_len, em + hlen + 1, hlen, em + 1));
  for (uint32_t i = 0; i < hlen; ++i) em[1 + i] ^= seed.data()[i];
  return 0;
}

quarzel_ret_t rsa_eme_oaep_decode(uint32_t rsa_size, rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
                                  const uint8_t* em, uint32_t label_len, const uint8_t* label,
                                  uint32_t* message_len, uint8_t* message, uint32_t* valid) {
  constexpr uint32_t fn = FN_OAEP_DECODE;
  if (valid == nullptr) return rsa_err(fn, RSA_R_NULL);
  *valid = QZ_FALSE;
  if (em == nullptr || label == nullptr || message_len == nullptr) return rsa_err(fn, RSA_R_NULL);
  const uint32_t hlen = label_len;
  if (!lhash_len_ok(hlen)) return rsa_err(fn, RSA_R_LHASH);
  const uint32_t k = rsa_size / 8;
  if (k < 2 * hlen + 2) return rsa_err(fn, RSA_R_SIZE);
  const uint32_t max_msg = k - 2 * hlen - 2;
  if (*message_len < max_msg) {
    *message_len = max_msg;
    return rsa_err(fn, RSA_R_OUT_SMALL);
  }
  if (message == nullptr) return rsa_err(fn, RSA_R_NULL);
  *message_len = 0;
  const uint32_t db_len = k - hlen - 1;
  Buf db, seed;
  if (!db.alloc(k) || !seed.alloc(hlen)) return rsa_err(fn, RSA_R_ALLOC);
  const uint8_t* masked_seed = em + 1;
  const uint8_t* masked_db = em + 1 + hlen;
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, db_len, masked_db, hlen, seed.data()));
  for (uint32_t i = 0; i < hlen; ++i) seed.data()[i] ^= masked_seed[i];
  RSA_TRY(rsa_mgf(mgf_type, mgf_digest_len, hlen, seed.data(), db_len, db.data()));
  uint8_t* d = db.data();
  for (uint32_t i = 0; i < db_len; ++i) d[i] ^= masked_db[i];

  uint32_t bad = ~ct::is_zero<uint32_t>(em[0]);
  uint32_t diff = 0;
  for (uint32_t i = 0; i < hlen; ++i) diff |= d[i] ^ label[i];
  bad |= ~ct::is_zero<uint32_t>(diff);
  uint32_t found = 0, sep = 0;
  for (uint32_t i = hlen; i < db_len; ++i) {
    const uint32_t is_one = ct::eq<uint32_t>(d[i], 1), is_zero = ct::is_zero<uint32_t>(d[i]);
    sep |= i & is_one & ~found;
    bad |= ~found & ~is_one & ~is_zero;  // a non-zero byte before the separator
    found |= is_one;
  }
  bad |= ~found;
  // Validity and length reach the caller: public from here on.
  if (ct::declassify(bad) != 0) return 0;
  const uint32_t len = ct::declassify(db_len - sep - 1);
  if (len != 0) std::memcpy(message, d + (db_len - len), len);
  *message_len = len;
  *valid = QZ_TRUE;
  return 0;
}

quarzel_ret_t rsa_eme_pkcs1_v1_5_encode(uint32_t rsa_size, uint32_t message_len,
                                        const uint8_t* message, uint8_t* em) {
  constexpr uint32_t fn = FN_PKCS1_ENCODE;
  if (em == nullptr || (message == nullptr && message_len != 0)) return rsa_err(fn, RSA_R_NULL);
  const uint32_t k = rsa_size / 8;
  if (k < 11 || message_len > k - 11) return rsa_err(fn, RSA_R_MSG_LONG);
  const uint32_t ps_len = k - message_len - 3;
  em[0] = 0x00;
  em[1] = 0x02;
  // PS: random non-zero bytes. One draw fills it; the zero bytes (about one
  // in 256) are drawn again together, pass after pass.
  uint8_t* ps = em + 2;
  if (quarzel_get_random(ps, ps_len) != 0) return rsa_err(fn, QZ_R_RANDOM);
  uint8_t refill[64];
  for (;;) {
    uint32_t zeros = 0;
    for (uint32_t i = 0; i < ps_len; ++i) zeros += ps[i] == 0 ? 1u : 0u;
    if (zeros == 0) break;
    const uint32_t n = zeros < sizeof refill ? zeros : static_cast<uint32_t>(sizeof refill);
    if (quarzel_get_random(refill, n) != 0) return rsa_err(fn, QZ_R_RANDOM);
    for (uint32_t i = 0, j = 0; i < ps_len && j < n; ++i) {
      if (ps[i] == 0) ps[i] = refill[j++];
    }
  }
  em[2 + ps_len] = 0x00;
  if (message_len != 0) std::memcpy(em + 3 + ps_len, message, message_len);
  return 0;
}

quarzel_ret_t rsa_eme_pkcs1_v1_5_decode(uint32_t rsa_size, const uint8_t* em, uint32_t* message_len,
                                        uint8_t* message, uint32_t* valid) {
  constexpr uint32_t fn = FN_PKCS1_DECODE;
  if (valid == nullptr) return rsa_err(fn, RSA_R_NULL);
  *valid = QZ_FALSE;
  if (em == nullptr || message_len == nullptr) return rsa_err(fn, RSA_R_NULL);
  const uint32_t k = rsa_size / 8;
  if (k <= 10) return rsa_err(fn, RSA_R_SIZE);
  if (*message_len < k - 11) {
    *message_len = k - 11;
    return rsa_err(fn, RSA_R_OUT_SMALL);
  }
  if (message == nullptr) return rsa_err(fn, RSA_R_NULL);
  *message_len = 0;
  uint32_t bad = ~ct::is_zero<uint32_t>(em[0]) | ~ct::eq<uint32_t>(em[1], 2);
  uint32_t found = 0, sep = 0;
  for (uint32_t i = 2; i < k; ++i) {
    const uint32_t is_zero = ct::is_zero<uint32_t>(em[i]);
    sep |= i & is_zero & ~found;
    found |= is_zero;
  }
  bad |= ~found | ct::lt<uint32_t>(sep, 10);  // at least 8 padding bytes
  // Validity and length reach the caller: public from here on.
  if (ct::declassify(bad) != 0) return 0;
  const uint32_t len = ct::declassify(k - sep - 1);
  if (len != 0) std::memcpy(message, em + (k - len), len);
  *message_len = len;
  *valid = QZ_TRUE;
  return 0;
}

quarzel_ret_t rsa_rsaes_oaep_encrypt(const rsa_pubkey_t* pubkey, rsa_mgf_t mgf_type,
                                     uint32_t mgf_digest_len, uint32_t message_len,
                                     const uint8_t* message, uint32_t label_len,
                                     const uint8_t* label, uint8_t* ciphertext) {
  const OaepArgs a{mgf_type, mgf_digest_len, message_len, message, label_len, label};
  return encrypt(FN_OAEP_ENCRYPT, pubkey, ciphertext,
                 [](const rsa_pubkey_t* k, uint8_t* em, const void* arg) {
                   const auto* x = static_cast<const OaepArgs*>(arg);
                   return rsa_eme_oaep_encode(k->rsa_size, x->mgf_type, x->mgf_digest_len,
                                              x->message_len, x->message, x->label_len, x->label, em);
                 },
                 &a);
}

quarzel_ret_t rsa_rsaes_oaep_decrypt(const rsa_prikey_t* prikey, rsa_mgf_t mgf_type,
                                     uint32_t mgf_digest_len, const uint8_t* ciphertext,
                                     uint32_t label_len, const uint8_t* label,
                                     uint32_t* message_len, uint8_t* message, uint32_t* valid) {
  const OaepArgs a{mgf_type, mgf_digest_len, 0, nullptr, label_len, label};
  return decrypt(kOaep, prikey, ciphertext, message_len, message, valid, &a, false);
}

quarzel_ret_t rsa_rsaes_oaep_decrypt_with_checking(const rsa_prikey_t* prikey, rsa_mgf_t mgf_type,
                                                   uint32_t mgf_digest_len,
                                                   const uint8_t* ciphertext, uint32_t label_len,
                                                   const uint8_t* label, uint32_t* message_len,
                                                   uint8_t* message, uint32_t* valid) {
  const OaepArgs a{mgf_type, mgf_digest_len, 0, nullptr, label_len, label};
  return decrypt(kOaep, prikey, ciphertext, message_len, message, valid, &a, true);
}

quarzel_ret_t rsa_rsaes_pkcs1_v1_5_encrypt(const rsa_pubkey_t* pubkey, uint32_t message_len,
                                           const uint8_t* message, uint8_t* ciphertext) {
  struct Args {
    uint32_t len;
    const uint8_t* msg;
  } a{message_len, message};
  return encrypt(FN_PKCS1_ENCRYPT, pubkey, ciphertext,
                 [](const rsa_pubkey_t* k, uint8_t* em, const void* arg) {
                   const auto* x = static_cast<const Args*>(arg);
                   return rsa_eme_pkcs1_v1_5_encode(k->rsa_size, x->len, x->msg, em);
                 },
                 &a);
}

quarzel_ret_t rsa_rsaes_pkcs1_v1_5_decrypt(const rsa_prikey_t* prikey, const uint8_t* ciphertext,
                                           uint32_t* message_len, uint8_t* message,
                                           uint32_t* valid) {
  return decrypt(kPkcs1, prikey, ciphertext, message_len, message, valid, nullptr, false);
}

quarzel_ret_t rsa_rsaes_pkcs1_v1_5_decrypt_with_checking(const rsa_prikey_t* prikey,
                                                         const uint8_t* ciphertext,
                                                         uint32_t* message_len, uint8_t* message,
                                                         uint32_t* valid) {
  return decrypt(kPkcs1, prikey, ciphertext, message_len, message, valid, nullptr, true);
}

}  // extern "C"
