// Wycheproof HMAC vectors: every valid tag is reproduced, every invalid one is
// refused. Tags may be truncated (tagSize < digest size): the MAC is computed
// at the group's tag size and compared at that length.
#include <gtest/gtest.h>

#include "quarzel/hmac.h"
#include "quarzel/testing.h"
#include "support/hex.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;

struct File {
  const char* name;
  hash_type_t type;
  bool portable;  // force the portable SHA-1 / SHA-256 block functions
};

void PrintTo(const File& f, std::ostream* os) { *os << f.name << (f.portable ? " (portable)" : ""); }

// SHA-1, SHA-224 and SHA-256 run on both block-function paths.
const File kFiles[] = {
    {"hmac_sha1.json", HASH_TYPE_SHA1, false},
    {"hmac_sha1.json", HASH_TYPE_SHA1, true},
    {"hmac_sha224.json", HASH_TYPE_SHA2_224, false},
    {"hmac_sha224.json", HASH_TYPE_SHA2_224, true},
    {"hmac_sha256.json", HASH_TYPE_SHA2_256, false},
    {"hmac_sha256.json", HASH_TYPE_SHA2_256, true},
    {"hmac_sha384.json", HASH_TYPE_SHA2_384, false},
    {"hmac_sha512.json", HASH_TYPE_SHA2_512, false},
    {"hmac_sha512_224.json", HASH_TYPE_SHA2_512_224, false},
    {"hmac_sha512_256.json", HASH_TYPE_SHA2_512_256, false},
    {"hmac_sha3_224.json", HASH_TYPE_SHA3_224, false},
    {"hmac_sha3_256.json", HASH_TYPE_SHA3_256, false},
    {"hmac_sha3_384.json", HASH_TYPE_SHA3_384, false},
    {"hmac_sha3_512.json", HASH_TYPE_SHA3_512, false},
};

// The verdict a caller would reach: the MAC at the tag size equals the tag.
bool verifies(hash_type_t type, const Bytes& key, const Bytes& msg, uint32_t tag_bytes, const Bytes& tag) {
  Bytes mac(64);
  uint32_t n = tag_bytes;
  EXPECT_EQ(hmac_onestep(type, static_cast<uint32_t>(key.size()), key.data(), static_cast<uint32_t>(msg.size()),
                         msg.data(), &n, mac.data()),
            0u);
  return n == tag.size() && quarzel::ct_equal(mac.data(), tag.data(), n);
}

class HmacWycheproof : public ::testing::TestWithParam<File> {
 protected:
  void SetUp() override { quarzel::testing::force_portable(quarzel::testing::Path::sha, GetParam().portable); }
  void TearDown() override { quarzel::testing::force_portable(quarzel::testing::Path::sha, false); }
};

TEST_P(HmacWycheproof, ValidAcceptedInvalidRefused) {
  const File& f = GetParam();
  const auto doc = zt::load_vectors(f.name);
  size_t valid = 0, invalid = 0;
  for (const auto& group : doc.at("testGroups")) {
    const uint32_t tag_bits = group.at("tagSize").get<uint32_t>();
    ASSERT_EQ(tag_bits % 8, 0u);
    for (const auto& t : group.at("tests")) {
      const std::string result = t.at("result");
      SCOPED_TRACE(::testing::Message() << f.name << " tcId " << t.at("tcId").get<int>() << " ("
                                        << t.at("comment").get<std::string>() << ")");
      const bool ok = verifies(f.type, zt::unhex(t.at("key").get<std::string>()),
                               zt::unhex(t.at("msg").get<std::string>()), tag_bits / 8,
                               zt::unhex(t.at("tag").get<std::string>()));
      if (result == "valid") {
        EXPECT_TRUE(ok);
        ++valid;
      } else if (result == "invalid") {
        EXPECT_FALSE(ok);
        ++invalid;
      }
    }
  }
  EXPECT_GT(valid, 0u);
  EXPECT_GT(invalid, 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, HmacWycheproof, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<File>& info) {
                           const std::string s = info.param.name;
                           return s.substr(0, s.find('.')) + (info.param.portable ? "_portable" : "");
                         });

}  // namespace
