// Helpers for the hash tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quarzel/hash.h"
#include "support/hex.h"
#include "support/seams.h"

namespace hash_test {

struct TypeInfo {
  hash_type_t type;
  const char* name;     // for messages
  const char* hashlib;  // Python hashlib name, or nullptr (Keccak-n)
  uint32_t digest;      // context API digest size
  uint32_t block;
};

inline const std::vector<TypeInfo>& all_types() {
  static const std::vector<TypeInfo> types = {
      {HASH_TYPE_SHA1, "SHA-1", "sha1", 20, 64},
      {HASH_TYPE_SHA2_224, "SHA-224", "sha224", 28, 64},
      {HASH_TYPE_SHA2_256, "SHA-256", "sha256", 32, 64},
      {HASH_TYPE_SHA2_384, "SHA-384", "sha384", 48, 128},
      {HASH_TYPE_SHA2_512, "SHA-512", "sha512", 64, 128},
      {HASH_TYPE_SHA2_512_224, "SHA-512/224", "sha512_224", 28, 128},
      {HASH_TYPE_SHA2_512_256, "SHA-512/256", "sha512_256", 32, 128},
      {HASH_TYPE_SHA3_224, "SHA3-224", "sha3_224", 28, 144},
      {HASH_TYPE_SHA3_256, "SHA3-256", "sha3_256", 32, 136},
      {HASH_TYPE_SHA3_384, "SHA3-384", "sha3_384", 48, 104},
      {HASH_TYPE_SHA3_512, "SHA3-512", "sha3_512", 64, 72},
      {HASH_TYPE_KECCAK_224, "Keccak-224", nullptr, 28, 144},
      {HASH_TYPE_KECCAK_256, "Keccak-256", nullptr, 32, 136},
      {HASH_TYPE_KECCAK_384, "Keccak-384", nullptr, 48, 104},
      {HASH_TYPE_KECCAK_512, "Keccak-512", nullptr, 64, 72},
      {HASH_TYPE_SHAKE128, "SHAKE128", "shake_128", 32, 168},
      {HASH_TYPE_SHAKE256, "SHAKE256", "shake_256", 64, 136},
  };
  return types;
}

// Digest through the context API, the message fed in pieces of the given sizes
// (the rest in one last piece).
inline zt::Bytes digest_ctx(hash_type_t type, const zt::Bytes& msg, const std::vector<size_t>& pieces = {}) {
  hash_ctx_t ctx;
  EXPECT_EQ(hash_init(&ctx, type), 0u);
  size_t off = 0;
  for (size_t p : pieces) {
    if (off + p > msg.size()) break;
    EXPECT_EQ(hash_update(&ctx, static_cast<uint32_t>(p), msg.data() + off), 0u);
    off += p;
  }
  EXPECT_EQ(hash_update(&ctx, static_cast<uint32_t>(msg.size() - off), msg.data() + off), 0u);
  zt::Bytes out(HASH_MAX_DIGEST_SIZE);
  uint32_t n = static_cast<uint32_t>(out.size());
  EXPECT_EQ(hash_final(&ctx, &n, out.data()), 0u);
  out.resize(n);
  return out;
}

inline zt::Bytes digest_onestep(hash_type_t type, const zt::Bytes& msg, uint32_t len = HASH_MAX_DIGEST_SIZE) {
  zt::Bytes out(len);
  uint32_t n = len;
  EXPECT_EQ(hash_onestep(type, static_cast<uint32_t>(msg.size()), msg.data(), &n, out.data()), 0u);
  out.resize(n);
  return out;
}

// Runs the SHA-1/SHA-256 cores on the portable code while alive.
struct PortableSha : zt::PortablePath {
  explicit PortableSha(bool on) : zt::PortablePath(quarzel::testing::Path::sha, on) {}
};

// Parameter for tests that run on both block-function paths.
inline std::string path_name(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "Portable" : "Native";
}

}  // namespace hash_test
