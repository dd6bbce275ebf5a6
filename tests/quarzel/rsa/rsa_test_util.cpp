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
