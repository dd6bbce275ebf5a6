// Wycheproof PBKDF2 vectors (all valid): each derived key is reproduced.
// Empty passwords are refused by design (0x0708FF73): those cases check the
// refusal instead. Iteration counts in the millions run only in optimised
// builds.
#include <gtest/gtest.h>

#include "quarzel/kdf.h"
#include "quarzel/testing.h"
#include "support/hex.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;

struct File {
  const char* name;
  hash_type_t type;
  bool portable;  // force the portable SHA-1 / SHA-256 block functions
  bool many;      // the file has cases of more than 100000 iterations
};

void PrintTo(const File& f, std::ostream* os) { *os << f.name << (f.portable ? " (portable)" : ""); }

// SHA-1, SHA-224 and SHA-256 run on both block-function paths.
const File kFiles[] = {
    {"pbkdf2_hmacsha1.json", HASH_TYPE_SHA1, false, true},
    {"pbkdf2_hmacsha1.json", HASH_TYPE_SHA1, true, true},
    {"pbkdf2_hmacsha224.json", HASH_TYPE_SHA2_224, false, false},
    {"pbkdf2_hmacsha224.json", HASH_TYPE_SHA2_224, true, false},
    {"pbkdf2_hmacsha256.json", HASH_TYPE_SHA2_256, false, false},
    {"pbkdf2_hmacsha256.json", HASH_TYPE_SHA2_256, true, false},
    {"pbkdf2_hmacsha384.json", HASH_TYPE_SHA2_384, false, false},
    {"pbkdf2_hmacsha512.json", HASH_TYPE_SHA2_512, false, false},
};

enum class Which { ordinary, many_iterations, empty_password };

Which classify(const nlohmann::json& t) {
  if (t.at("password").get<std::string>().empty()) return Which::empty_password;
  if (t.at("iterationCount").get<uint32_t>() > 100000) return Which::many_iterations;
  return Which::ordinary;
}

// Runs every test of the file in class `which`; returns how many ran.
size_t run_cases(const File& f, Which which) {
  const auto doc = zt::load_vectors(f.name);
  size_t ran = 0;
  for (const auto& group : doc.at("testGroups")) {
    for (const auto& t : group.at("tests")) {
      if (classify(t) != which) continue;
      SCOPED_TRACE(::testing::Message() << f.name << " tcId " << t.at("tcId").get<int>() << " ("
                                        << t.at("comment").get<std::string>() << ")");
      EXPECT_EQ(t.at("result"), "valid");
      const Bytes pw = zt::unhex(t.at("password").get<std::string>());
      const Bytes salt = zt::unhex(t.at("salt").get<std::string>());
      const uint32_t len = t.at("dkLen");
      Bytes dk(len);
      const uint8_t none = 0;  // non-null pointers for empty inputs
      const quarzel_ret_t r =
          pbkdf2(f.type, t.at("iterationCount").get<uint32_t>(), static_cast<uint32_t>(pw.size()),
                 pw.empty() ? &none : pw.data(), static_cast<uint32_t>(salt.size()),
                 salt.empty() ? &none : salt.data(), &len, dk.data());
      if (which == Which::empty_password) {
        EXPECT_EQ(r, 0x0708FF73u);
      } else {
        EXPECT_EQ(r, 0u);
        EXPECT_EQ(zt::hex(dk), t.at("dk").get<std::string>());
      }
      ++ran;
    }
  }
  return ran;
}

#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
constexpr bool kOptimisedBuild = false;
#else
constexpr bool kOptimisedBuild = true;
#endif

class Pbkdf2Wycheproof : public ::testing::TestWithParam<File> {
 protected:
  void SetUp() override {
    // Unoptimised builds are too slow for a second pass of millions of block
    // functions; there the HMAC vectors cover the portable path.
    if (GetParam().portable && !kOptimisedBuild) GTEST_SKIP() << "portable path: optimised builds only";
    quarzel::testing::force_portable(quarzel::testing::Path::sha, GetParam().portable);
  }
  void TearDown() override { quarzel::testing::force_portable(quarzel::testing::Path::sha, false); }
};

TEST_P(Pbkdf2Wycheproof, DerivedKeysMatch) { EXPECT_GT(run_cases(GetParam(), Which::ordinary), 0u); }

TEST_P(Pbkdf2Wycheproof, DerivedKeysMatchWithManyIterations) {
  if (!kOptimisedBuild) GTEST_SKIP() << "millions of iterations: optimised builds only";
  const size_t ran = run_cases(GetParam(), Which::many_iterations);
  // A file that carries such cases must have run them; one that carries none
  // must not have grown some unseen.
  if (GetParam().many) {
    EXPECT_GT(ran, 0u);
  } else {
    EXPECT_EQ(ran, 0u);
  }
}

// Valid per RFC 8018, but this library refuses an empty password.
TEST_P(Pbkdf2Wycheproof, EmptyPasswordIsRefused) { EXPECT_GT(run_cases(GetParam(), Which::empty_password), 0u); }

INSTANTIATE_TEST_SUITE_P(Files, Pbkdf2Wycheproof, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<File>& info) {
                           const std::string s = info.param.name;
                           return s.substr(0, s.find('.')) + (info.param.portable ? "_portable" : "");
                         });

}  // namespace
