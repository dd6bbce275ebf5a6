// Helpers of the RSA tests: self-releasing key objects, Wycheproof keys and
// OpenSSL as an oracle.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>

#include "quarzel/rsa_key.h"
#include "support/hex.h"

namespace rt {

using zt::Bytes;

struct PriKey {
  rsa_prikey_t k{};
  explicit PriKey(uint32_t bits, rsa_keytype_t type = RSA_KEYTYPE_CRTFAST);
  ~PriKey();
  PriKey(const PriKey&) = delete;
  PriKey& operator=(const PriKey&) = delete;
  rsa_prikey_t* operator->() { return &k; }
  rsa_prikey_t* get() { return &k; }
};

struct PubKey {
  rsa_pubkey_t k{};
  explicit PubKey(uint32_t bits);
  ~PubKey();
  PubKey(const PubKey&) = delete;
  PubKey& operator=(const PubKey&) = delete;
  rsa_pubkey_t* operator->() { return &k; }
  rsa_pubkey_t* get() { return &k; }
};

struct EvpDeleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Evp = std::unique_ptr<EVP_PKEY, EvpDeleter>;

// The eight components of an OpenSSL key, at the field sizes of `bits`.
struct Components {
  Bytes n, e, d, p, q, dp, dq, qinv;
};

Evp evp_from_pkcs8(const Bytes& der);
Evp evp_from_spki(const Bytes& der);
uint32_t evp_bits(const EVP_PKEY* pkey);
Components components_of(const EVP_PKEY* pkey, uint32_t bits);

// Fills a CRT-fast key (of the OpenSSL key's size) with every component.
void load_prikey(PriKey& key, const Components& c);
// Fills a public key with n and e.
void load_pubkey(PubKey& key, const Bytes& n, const Bytes& e);

Bytes i2d_pkcs1_private(EVP_PKEY* pkey);
Bytes i2d_pkcs1_public(EVP_PKEY* pkey);
Bytes i2d_spki(EVP_PKEY* pkey);
Bytes i2d_pkcs8(EVP_PKEY* pkey);

// A private key of a Wycheproof decryption file (its first test group).
Bytes wycheproof_pkcs8(const std::string& file);

}  // namespace rt

#include "quarzel/hash.h"

namespace rt {
// Hash type of a Wycheproof name ("SHA-256", "SHA-512/224", "SHA3-256", ...).
hash_type_t hash_by_name(const std::string& name);
Bytes digest(hash_type_t type, const Bytes& msg);
// The OpenSSL digest of the same hash type.
const EVP_MD* evp_md(hash_type_t type);
}  // namespace rt

namespace rt {
// A fresh OpenSSL key pair with public exponent `e`.
Evp openssl_keygen(uint32_t bits, unsigned long e = 65537);
// OpenSSL's public key of (n, e).
Evp openssl_pubkey(const Bytes& n, const Bytes& e);
}  // namespace rt
