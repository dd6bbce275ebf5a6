// One hash or HMAC computation over several pieces, with the first failure
// kept and the context (which holds secret-derived state) wiped at the end.
#pragma once

#include <cstdint>

#include "quarzel/hash.h"
#include "quarzel/hmac.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {

class Hasher {
 public:
  explicit Hasher(hash_type_t type) : ret_(hash_init(&ctx_, type)) {}
  ~Hasher() { secure_wipe(&ctx_, sizeof ctx_); }
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  Hasher& add(uint32_t len, const uint8_t* data) {
    if (ret_ == 0 && len != 0) ret_ = hash_update(&ctx_, len, data);
    return *this;
  }
  // Writes the digest (at most HASH_MAX_DIGEST_SIZE bytes) and its length.
  [[nodiscard]] quarzel_ret_t finish(uint8_t* digest, uint32_t* len) {
    *len = HASH_MAX_DIGEST_SIZE;
    if (ret_ == 0) ret_ = hash_final(&ctx_, len, digest);
    return ret_;
  }

 private:
  hash_ctx_t ctx_{};
  quarzel_ret_t ret_;
};

class Hmac {
 public:
  Hmac(hash_type_t type, uint32_t key_len, const uint8_t* key) : ret_(hmac_init(&ctx_, type, key_len, key)) {}
  ~Hmac() { secure_wipe(&ctx_, sizeof ctx_); }
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;

  Hmac& add(uint32_t len, const uint8_t* data) {
    if (ret_ == 0 && len != 0) ret_ = hmac_update(&ctx_, len, data);
    return *this;
  }
  // Writes the MAC (exactly mac_len bytes, the digest length).
  [[nodiscard]] quarzel_ret_t finish(uint8_t* mac, uint32_t mac_len) {
    if (ret_ == 0) ret_ = hmac_final(&ctx_, &mac_len, mac);
    return ret_;
  }

 private:
  hmac_ctx_t ctx_{};
  quarzel_ret_t ret_;
};

}  // namespace quarzel::drbg
