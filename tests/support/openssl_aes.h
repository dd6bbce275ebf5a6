// One-shot AES (ECB or CBC, PKCS#7 padding or none) with OpenSSL, the oracle
// of the AES tests of the core and the module (test binaries only).
#pragma once

#include <openssl/evp.h>

#include <stdexcept>

#include "support/hex.h"

namespace zt {

inline Bytes openssl_aes(const Bytes& key, bool cbc, bool pad, bool enc, const Bytes& iv, const Bytes& in) {
  const EVP_CIPHER* c = nullptr;
  switch (key.size()) {
    case 16:
      c = cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
      break;
    case 24:
      c = cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
      break;
    default:
      c = cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
      break;
  }
  EVP_CIPHER_CTX* x = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(x, c, nullptr, key.data(), cbc ? iv.data() : nullptr, enc ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(x, pad ? 1 : 0);
  Bytes out(in.size() + 32);
  int n1 = 0;
  int n2 = 0;
  EVP_CipherUpdate(x, out.data(), &n1, in.data(), static_cast<int>(in.size()));
  const int ok = EVP_CipherFinal_ex(x, out.data() + n1, &n2);
  EVP_CIPHER_CTX_free(x);
  if (ok != 1) throw std::runtime_error("OpenSSL AES final");
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

}  // namespace zt
