// A logged-in read/write session on a fresh token of the loaded module, and
// what the crypto tests share: random bytes, OpenSSL digests, key import and
// generation through the module's function list.
#pragma once

// The EC oracle uses OpenSSL's EC_KEY interface.
#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <string>
#include <vector>

#include "support/hex.h"
#include "support/p11_module.h"

namespace zt {

class CryptoTest : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
    initialize();
    s = open();
    ASSERT_EQ(login(s), CKR_OK);
  }

  // A second session of the same token, logged in through the first.
  CK_SESSION_HANDLE second_session() {
    CK_SESSION_HANDLE h = open();
    return h;
  }

  CK_SESSION_HANDLE s = 0;
};

inline Bytes random_bytes(size_t n) {
  Bytes b(n);
  if (n != 0) RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

inline Bytes openssl_digest(const char* name, const Bytes& data) {
  const EVP_MD* md = EVP_get_digestbyname(name);
  if (md == nullptr) throw std::runtime_error(std::string("no digest ") + name);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr) != 1) throw std::runtime_error("digest");
  out.resize(n);
  return out;
}

// Random cut points that split n bytes into parts (empty parts included).
inline std::vector<size_t> random_splits(size_t n, size_t parts) {
  std::vector<size_t> cuts;
  for (size_t i = 0; i + 1 < parts; ++i) {
    uint32_t r = 0;
    RAND_bytes(reinterpret_cast<uint8_t*>(&r), sizeof r);
    cuts.push_back(n == 0 ? 0 : r % (n + 1));
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(n);
  return cuts;
}

inline CK_BYTE_PTR bp(Bytes& b) { return b.empty() ? nullptr : b.data(); }

}  // namespace zt
