#include "rsa_test_util.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "support/vectors.h"

namespace rt {

PriKey::PriKey(uint32_t bits, rsa_keytype_t type) {
  (void)rsa_prikey_init(&k, static_cast<rsa_size_t>(bits));
  EXPECT_EQ(0u, rsa_prikey_value_alloc(&k, type));
}
PriKey::~PriKey() { (void)rsa_prikey_value_free(&k); }

PubKey::PubKey(uint32_t bits) {
  (void)rsa_pubkey_init(&k, static_cast<rsa_size_t>(bits));
  EXPECT_EQ(0u, rsa_pubkey_value_alloc(&k));
}
PubKey::~PubKey() { (void)rsa_pubkey_value_free(&k); }

Evp evp_from_pkcs8(const Bytes& der) {
  const unsigned char* p = der.data();
  EVP_PKEY* k = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size()));
  if (k == nullptr) throw std::runtime_error("OpenSSL cannot read the private key");
  return Evp(k);
}

Evp evp_from_spki(const Bytes& der) {
  const unsigned char* p = der.data();
  EVP_PKEY* k = d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
  if (k == nullptr) throw std::runtime_error("OpenSSL cannot read the public key");
  return Evp(k);
}

uint32_t evp_bits(const EVP_PKEY* pkey) { return static_cast<uint32_t>(EVP_PKEY_get_bits(pkey)); }

namespace {
Bytes bn_param(const EVP_PKEY* pkey, const char* name, size_t len) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) throw std::runtime_error(name);
  Bytes out(len);
  BN_bn2binpad(bn, out.data(), static_cast<int>(len));
  BN_clear_free(bn);
  return out;
}

Bytes i2d_with(EVP_PKEY* pkey, int (*fn)(const EVP_PKEY*, unsigned char**)) {
  unsigned char* buf = nullptr;
  const int len = fn(pkey, &buf);
  if (len <= 0) throw std::runtime_error("OpenSSL cannot encode the key");
  Bytes out(buf, buf + len);
  OPENSSL_free(buf);
  return out;
}

int i2d_pubkey_const(const EVP_PKEY* k, unsigned char** out) { return i2d_PUBKEY(k, out); }
int i2d_public_const(const EVP_PKEY* k, unsigned char** out) { return i2d_PublicKey(k, out); }
int i2d_private_const(const EVP_PKEY* k, unsigned char** out) { return i2d_PrivateKey(k, out); }
}  // namespace

Components components_of(const EVP_PKEY* pkey, uint32_t bits) {
  const size_t L = bits / 8;
  const size_t H = bits / 16;
  return {bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, L),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_E, L),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_D, L),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1, H),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2, H),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1, H),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2, H),
          bn_param(pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, H)};
}

void load_prikey(PriKey& key, const Components& c) {
  auto u = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  ASSERT_EQ(0u, rsa_prikey_value_set(key.get(), u(c.n), c.n.data(), u(c.e), c.e.data(), u(c.d),
                                     c.d.data(), u(c.p), c.p.data(), u(c.q), c.q.data(), u(c.dp),
                                     c.dp.data(), u(c.dq), c.dq.data(), u(c.qinv), c.qinv.data()));
}

void load_pubkey(PubKey& key, const Bytes& n, const Bytes& e) {
  ASSERT_EQ(0u, rsa_pubkey_value_set(key.get(), static_cast<uint32_t>(n.size()), n.data(),
                                     static_cast<uint32_t>(e.size()), e.data()));
}

Bytes i2d_pkcs1_private(EVP_PKEY* pkey) { return i2d_with(pkey, i2d_private_const); }
Bytes i2d_pkcs1_public(EVP_PKEY* pkey) { return i2d_with(pkey, i2d_public_const); }
Bytes i2d_spki(EVP_PKEY* pkey) { return i2d_with(pkey, i2d_pubkey_const); }

Bytes i2d_pkcs8(EVP_PKEY* pkey) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(pkey);
  if (p8 == nullptr) throw std::runtime_error("OpenSSL cannot build PKCS#8");
  unsigned char* buf = nullptr;
  const int len = i2d_PKCS8_PRIV_KEY_INFO(p8, &buf);
  PKCS8_PRIV_KEY_INFO_free(p8);
  if (len <= 0) throw std::runtime_error("OpenSSL cannot encode PKCS#8");
  Bytes out(buf, buf + len);
  OPENSSL_free(buf);
  return out;
}

Bytes wycheproof_pkcs8(const std::string& file) {
  const auto j = zt::load_vectors(file);
  return zt::unhex(j["testGroups"][0]["privateKeyPkcs8"].get<std::string>());
}

}  // namespace rt

namespace rt {

hash_type_t hash_by_name(const std::string& name) {
  static const std::pair<const char*, hash_type_t> kNames[] = {
      {"SHA-1", HASH_TYPE_SHA1},           {"SHA-224", HASH_TYPE_SHA2_224},
      {"SHA-256", HASH_TYPE_SHA2_256},     {"SHA-384", HASH_TYPE_SHA2_384},
      {"SHA-512", HASH_TYPE_SHA2_512},     {"SHA-512/224", HASH_TYPE_SHA2_512_224},
      {"SHA-512/256", HASH_TYPE_SHA2_512_256}, {"SHA3-224", HASH_TYPE_SHA3_224},
      {"SHA3-256", HASH_TYPE_SHA3_256},    {"SHA3-384", HASH_TYPE_SHA3_384},
      {"SHA3-512", HASH_TYPE_SHA3_512}};
  for (const auto& [n, t] : kNames) {
    if (name == n) return t;
  }
  throw std::runtime_error("unknown hash " + name);
}

Bytes digest(hash_type_t type, const Bytes& msg) {
  uint32_t len = 0;
  if (hash_get_length(type, &len) != 0) throw std::runtime_error("hash length");
  Bytes out(len);
  if (hash_onestep(type, static_cast<uint32_t>(msg.size()), msg.data(), &len, out.data()) != 0) {
    throw std::runtime_error("hash");
  }
  return out;
}

const EVP_MD* evp_md(hash_type_t type) {
  switch (type) {
    case HASH_TYPE_SHA1: return EVP_sha1();
    case HASH_TYPE_SHA2_224: return EVP_sha224();
    case HASH_TYPE_SHA2_256: return EVP_sha256();
    case HASH_TYPE_SHA2_384: return EVP_sha384();
    case HASH_TYPE_SHA2_512: return EVP_sha512();
    case HASH_TYPE_SHA2_512_224: return EVP_sha512_224();
    case HASH_TYPE_SHA2_512_256: return EVP_sha512_256();
    case HASH_TYPE_SHA3_224: return EVP_sha3_224();
    case HASH_TYPE_SHA3_256: return EVP_sha3_256();
    case HASH_TYPE_SHA3_384: return EVP_sha3_384();
    case HASH_TYPE_SHA3_512: return EVP_sha3_512();
    default: throw std::runtime_error("no OpenSSL digest");
  }
}

}  // namespace rt

#include <openssl/param_build.h>
#include <openssl/rsa.h>

namespace rt {

Evp openssl_keygen(uint32_t bits, unsigned long e) {
  EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_id(EVP_PKEY_RSA, nullptr);
  BIGNUM* be = BN_new();
  BN_set_word(be, e);
  EVP_PKEY* k = nullptr;
  const bool ok = c != nullptr && EVP_PKEY_keygen_init(c) == 1 &&
                  EVP_PKEY_CTX_set_rsa_keygen_bits(c, static_cast<int>(bits)) == 1 &&
                  EVP_PKEY_CTX_set1_rsa_keygen_pubexp(c, be) == 1 && EVP_PKEY_keygen(c, &k) == 1;
  BN_free(be);
  EVP_PKEY_CTX_free(c);
  if (!ok) throw std::runtime_error("OpenSSL key generation");
  return Evp(k);
}

Evp openssl_pubkey(const Bytes& n, const Bytes& e) {
  BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
  BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
  OSSL_PARAM_BLD* b = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(b, OSSL_PKEY_PARAM_RSA_N, bn);
  OSSL_PARAM_BLD_push_BN(b, OSSL_PKEY_PARAM_RSA_E, be);
  OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(b);
  EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY* k = nullptr;
  const bool ok = EVP_PKEY_fromdata_init(c) == 1 &&
                  EVP_PKEY_fromdata(c, &k, EVP_PKEY_PUBLIC_KEY, params) == 1;
  EVP_PKEY_CTX_free(c);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(b);
  BN_free(bn);
  BN_free(be);
  if (!ok) throw std::runtime_error("OpenSSL public key");
  return Evp(k);
}

}  // namespace rt
