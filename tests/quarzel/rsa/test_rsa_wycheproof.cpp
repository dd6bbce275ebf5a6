// Wycheproof: PKCS#1 v1.5 and PSS verification, OAEP and PKCS#1 v1.5
// decryption. Every valid case must pass and every invalid one be refused;
// keys are loaded through the DER readers.
#include <gtest/gtest.h>

#include "quarzel/rsa.h"
#include "rsa_test_util.h"
#include "support/vectors.h"

using rt::Bytes;

namespace {

struct Tally {
  int valid = 0, invalid = 0;
};

// The public key of a verification group, from its SubjectPublicKeyInfo.
std::unique_ptr<rt::PubKey> group_pubkey(const nlohmann::json& g) {
  const Bytes spki = zt::unhex(g["publicKeyDer"].get<std::string>());
  uint32_t bits = 0;
  EXPECT_EQ(0u, rsa_x509_pubkey_der_get_length(static_cast<uint32_t>(spki.size()), spki.data(), &bits));
  auto key = std::make_unique<rt::PubKey>(bits);
  EXPECT_EQ(0u, rsa_x509_der_to_pubkey(static_cast<uint32_t>(spki.size()), spki.data(), key->get(),
                                       nullptr, nullptr));
  return key;
}

std::unique_ptr<rt::PriKey> group_prikey(const nlohmann::json& g) {
  const Bytes der = zt::unhex(g["privateKeyPkcs8"].get<std::string>());
  uint32_t bits = 0;
  EXPECT_EQ(0u, rsa_pkcs8_prikey_der_get_length(static_cast<uint32_t>(der.size()), der.data(), &bits));
  auto key = std::make_unique<rt::PriKey>(bits);
  EXPECT_EQ(0u, rsa_pkcs8_der_to_prikey(static_cast<uint32_t>(der.size()), der.data(), key->get(),
                                        nullptr, nullptr));
  return key;
}

void record(Tally& tally, const nlohmann::json& t, bool accepted) {
  const std::string result = t["result"];
  if (result == "valid") {
    EXPECT_TRUE(accepted) << "tcId " << t["tcId"] << " " << t["comment"];
    ++tally.valid;
  } else if (result == "invalid") {
    EXPECT_FALSE(accepted) << "tcId " << t["tcId"] << " " << t["comment"];
    ++tally.invalid;
  }
}

}  // namespace

class WycheproofPkcs1Verify : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofPkcs1Verify, AllCases) {
  const auto j = zt::load_vectors(GetParam());
  Tally tally;
  for (const auto& g : j["testGroups"]) {
    auto key = group_pubkey(g);
    const hash_type_t h = rt::hash_by_name(g["sha"]);
    const uint32_t k = (*key)->rsa_size / 8;
    for (const auto& t : g["tests"]) {
      const Bytes sig = zt::unhex(t["sig"].get<std::string>());
      const Bytes md = rt::digest(h, zt::unhex(t["msg"].get<std::string>()));
      bool accepted = false;
      if (sig.size() == k) {  // a signature is exactly k bytes (RFC 8017 8.2.2 step 1)
        uint32_t verdict = 0;
        const quarzel_ret_t r = rsa_rsassa_pkcs1_v1_5_verify(key->get(), h, static_cast<uint32_t>(md.size()),
                                                              md.data(), sig.data(), &verdict);
        accepted = r == 0 && verdict == QZ_TRUE;
        if (r != 0) {
          EXPECT_EQ(QZ_FALSE, verdict);
        }
      }
      record(tally, t, accepted);
    }
  }
  EXPECT_GT(tally.valid, 0);
  EXPECT_GT(tally.invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofPkcs1Verify,
                         ::testing::Values("rsa_signature_2048_sha256.json",
                                           "rsa_signature_2048_sha384.json",
                                           "rsa_signature_2048_sha512.json",
                                           "rsa_signature_3072_sha256.json",
                                           "rsa_signature_4096_sha512.json"));

class WycheproofPssVerify : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofPssVerify, AllCases) {
  const auto j = zt::load_vectors(GetParam());
  Tally tally;
  for (const auto& g : j["testGroups"]) {
    ASSERT_EQ("MGF1", g["mgf"].get<std::string>());
    auto key = group_pubkey(g);
    const hash_type_t h = rt::hash_by_name(g["sha"]);
    const auto mgf = static_cast<rsa_mgf_t>(rt::hash_by_name(g["mgfSha"]));
    const uint32_t salt_len = g["sLen"];
    const uint32_t k = (*key)->rsa_size / 8;
    for (const auto& t : g["tests"]) {
      const Bytes sig = zt::unhex(t["sig"].get<std::string>());
      const Bytes md = rt::digest(h, zt::unhex(t["msg"].get<std::string>()));
      bool accepted = false;
      if (sig.size() == k) {
        uint32_t verdict = 0;
        const quarzel_ret_t r = rsa_rsassa_pss_verify(key->get(), h, mgf, 0, static_cast<uint32_t>(md.size()),
                                                       md.data(), salt_len, nullptr, sig.data(), &verdict);
        accepted = r == 0 && verdict == QZ_TRUE;
      }
      record(tally, t, accepted);
    }
  }
  EXPECT_GT(tally.valid, 0);
  EXPECT_GT(tally.invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofPssVerify,
                         ::testing::Values("rsa_pss_2048_sha1_mgf1_20.json",
                                           "rsa_pss_2048_sha256_mgf1_32.json",
                                           "rsa_pss_3072_sha256_mgf1_32.json",
                                           "rsa_pss_4096_sha512_mgf1_64.json"));

class WycheproofOaepDecrypt : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofOaepDecrypt, AllCases) {
  const auto j = zt::load_vectors(GetParam());
  Tally tally;
  for (const auto& g : j["testGroups"]) {
    ASSERT_EQ("MGF1", g["mgf"].get<std::string>());
    auto key = group_prikey(g);
    const hash_type_t h = rt::hash_by_name(g["sha"]);
    const auto mgf = static_cast<rsa_mgf_t>(rt::hash_by_name(g["mgfSha"]));
    const uint32_t k = (*key)->rsa_size / 8;
    for (const auto& t : g["tests"]) {
      const Bytes ct = zt::unhex(t["ct"].get<std::string>());
      const Bytes lhash = rt::digest(h, zt::unhex(t["label"].get<std::string>()));
      const Bytes want = zt::unhex(t["msg"].get<std::string>());
      bool accepted = false;
      if (ct.size() == k) {
        // The checking variants run on the 2048-bit files (ASan builds stay fast).
        for (const bool check : {false, true}) {
          if (check && k != 256) continue;
          Bytes msg(k);
          uint32_t len = k, valid = 0;
          const auto fn = check ? rsa_rsaes_oaep_decrypt_with_checking : rsa_rsaes_oaep_decrypt;
          const quarzel_ret_t r = fn(key->get(), mgf, 0, ct.data(), static_cast<uint32_t>(lhash.size()),
                                     lhash.data(), &len, msg.data(), &valid);
          ASSERT_EQ(0u, r) << "tcId " << t["tcId"];
          accepted = valid == QZ_TRUE && Bytes(msg.begin(), msg.begin() + len) == want;
          if (valid != QZ_TRUE) {
            EXPECT_EQ(0u, len);
          }
        }
      }
      record(tally, t, accepted);
    }
  }
  EXPECT_GT(tally.valid, 0);
  EXPECT_GT(tally.invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofOaepDecrypt,
                         ::testing::Values("rsa_oaep_2048_sha1_mgf1sha1.json",
                                           "rsa_oaep_2048_sha256_mgf1sha256.json",
                                           "rsa_oaep_3072_sha256_mgf1sha256.json",
                                           "rsa_oaep_4096_sha512_mgf1sha512.json"));

class WycheproofPkcs1Decrypt : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofPkcs1Decrypt, AllCases) {
  const auto j = zt::load_vectors(GetParam());
  Tally tally;
  for (const auto& g : j["testGroups"]) {
    auto key = group_prikey(g);
    const uint32_t k = (*key)->rsa_size / 8;
    for (const auto& t : g["tests"]) {
      const Bytes ct = zt::unhex(t["ct"].get<std::string>());
      const Bytes want = zt::unhex(t["msg"].get<std::string>());
      bool accepted = false;
      if (ct.size() == k) {
        // The checking variants run on the 2048-bit files (ASan builds stay fast).
        for (const bool check : {false, true}) {
          if (check && k != 256) continue;
          Bytes msg(k);
          uint32_t len = k, valid = 0;
          const auto fn = check ? rsa_rsaes_pkcs1_v1_5_decrypt_with_checking : rsa_rsaes_pkcs1_v1_5_decrypt;
          const quarzel_ret_t r = fn(key->get(), ct.data(), &len, msg.data(), &valid);
          ASSERT_EQ(0u, r) << "tcId " << t["tcId"];
          accepted = valid == QZ_TRUE && Bytes(msg.begin(), msg.begin() + len) == want;
          if (valid != QZ_TRUE) {
            EXPECT_EQ(0u, len);
          }
        }
      }
      record(tally, t, accepted);
    }
  }
  EXPECT_GT(tally.valid, 0);
  EXPECT_GT(tally.invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofPkcs1Decrypt,
                         ::testing::Values("rsa_pkcs1_2048.json", "rsa_pkcs1_3072.json",
                                           "rsa_pkcs1_4096.json"));
