// Every DRBG against the plain Python reference of SP 800-90A kept beside
// this test (sp800_90a_ref.py): instantiate, generate with and without
// additional input, reseed, generate again; all outputs must agree.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quarzel/aes.h"
#include "quarzel/drbg.h"
#include "support/hex.h"
#include "support/oracle.h"
#include "support/seams.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;
using zt::random_bytes;

struct Scenario {
  drbg_type_t type;
  const char* mech;
  const char* alg;
  bool df;
  uint32_t entropy_len;  // exact seed length for CTR without df
  uint32_t nonce_len;
  uint32_t max_request;
  uint32_t max_addin;  // CTR without df: seed length
};

constexpr uint32_t kBig = 1000;

const Scenario kScenarios[] = {
    {DRBG_TYPE_HASH_SHA_1, "hash", "sha1", false, 10, 5, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_2_256, "hash", "sha256", false, 32, 16, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_2_384, "hash", "sha384", false, 24, 12, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_2_512, "hash", "sha512", false, 64, 32, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_2_512_224, "hash", "sha512_224", false, 14, 0, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_3_256, "hash", "sha3_256", false, 16, 8, 65536, kBig},
    {DRBG_TYPE_HASH_SHA_3_512, "hash", "sha3_512", false, 32, 16, 65536, kBig},
    {DRBG_TYPE_HMAC_SHA_1, "hmac", "sha1", false, 10, 5, 65536, kBig},
    {DRBG_TYPE_HMAC_SHA_2_256, "hmac", "sha256", false, 32, 16, 65536, kBig},
    {DRBG_TYPE_HMAC_SHA_2_512, "hmac", "sha512", false, 32, 0, 65536, kBig},
    {DRBG_TYPE_HMAC_SHA_2_224, "hmac", "sha224", false, 14, 7, 65536, kBig},
    {DRBG_TYPE_HMAC_SHA_3_384, "hmac", "sha3_384", false, 24, 12, 65536, kBig},
    {DRBG_TYPE_CTR_AES_128_WITH_DF, "ctr", "aes128", true, 32, 8, 1024, kBig},
    {DRBG_TYPE_CTR_AES_192_WITH_DF, "ctr", "aes192", true, 24, 12, 1024, kBig},
    {DRBG_TYPE_CTR_AES_256_WITH_DF, "ctr", "aes256", true, 32, 16, 1024, kBig},
    {DRBG_TYPE_CTR_TDES_WITH_DF, "ctr", "tdes", true, 14, 7, 1024, kBig},
    {DRBG_TYPE_CTR_AES_128_NO_DF, "ctr", "aes128", false, 32, 0, 1024, 32},
    {DRBG_TYPE_CTR_AES_192_NO_DF, "ctr", "aes192", false, 40, 0, 1024, 40},
    {DRBG_TYPE_CTR_AES_256_NO_DF, "ctr", "aes256", false, 48, 0, 1024, 48},
    {DRBG_TYPE_CTR_TDES_NO_DF, "ctr", "tdes", false, 29, 0, 1024, 29},
};

struct Step {
  bool reseed;
  uint32_t n;  // generate: bytes
  Bytes entropy, addin;
};

const uint8_t* ptr(const Bytes& b) { return b.empty() ? nullptr : b.data(); }

std::string run_reference(const nlohmann::json& cases) {
  return zt::run_command("/usr/bin/python3 " + zt::test_source_dir() + "/quarzel/drbg/sp800_90a_ref.py",
                         cases.dump());
}

// The AES block function runs on the path the key set-up picks (AES-NI
// where the CPU has it, the portable tables otherwise, or when forced).
struct CipherPath : zt::PortablePath {
  explicit CipherPath(bool portable) : zt::PortablePath(quarzel::testing::Path::aes, portable) {}
};

void check_against_reference(bool portable) {
  const CipherPath path(portable);
  std::mt19937 rng(2026);
  nlohmann::json cases = nlohmann::json::array();
  std::vector<std::string> ours;
  std::vector<std::string> labels;
  for (const Scenario& s : kScenarios) {
    for (int variant = 0; variant < 2; ++variant) {
      // CTR_DRBG without df takes exactly seedlen bytes of entropy.
      const bool exact = std::string(s.mech) == "ctr" && !s.df;
      const Bytes entropy = random_bytes(rng, s.entropy_len + (exact ? 0 : variant * 9));
      const Bytes nonce = random_bytes(rng, s.nonce_len + variant * 3 * (s.nonce_len != 0));
      const Bytes perso = random_bytes(rng, variant == 0 ? 0 : (s.max_addin < 13 ? s.max_addin : 13));
      const uint32_t addin_cap = s.max_addin;
      std::vector<Step> steps = {
          {false, 1, {}, {}},
          {false, 20, {}, random_bytes(rng, 7)},
          {false, variant == 0 ? s.max_request : 129, {}, {}},
          {true, 0, random_bytes(rng, s.entropy_len), random_bytes(rng, variant == 0 ? 0 : 5)},
          {false, 33, {}, {}},
          {false, 64, {}, random_bytes(rng, addin_cap == kBig ? 100 : addin_cap)},
          {false, 16, {}, random_bytes(rng, 1)},
      };

      drbg_ctx_t ctx;
      ASSERT_EQ(drbg_instantiate(&ctx, s.type, static_cast<uint32_t>(entropy.size()), entropy.data(),
                                 static_cast<uint32_t>(nonce.size()), ptr(nonce),
                                 static_cast<uint32_t>(perso.size()), ptr(perso)),
                0u)
          << s.type;
      nlohmann::json js_steps = nlohmann::json::array();
      for (const Step& st : steps) {
        if (st.reseed) {
          ASSERT_EQ(drbg_reseed(&ctx, static_cast<uint32_t>(st.entropy.size()), st.entropy.data(),
                                static_cast<uint32_t>(st.addin.size()), ptr(st.addin)),
                    0u)
              << s.type;
          js_steps.push_back({{"op", "reseed"}, {"entropy", zt::hex(st.entropy)}, {"addin", zt::hex(st.addin)}});
        } else {
          Bytes out(st.n);
          ASSERT_EQ(drbg_generate(&ctx, static_cast<uint32_t>(st.addin.size()), ptr(st.addin), &st.n, out.data()),
                    0u)
              << s.type;
          ours.push_back(zt::hex(out));
          labels.push_back(std::to_string(s.type) + "/" + std::to_string(variant) + "/n=" + std::to_string(st.n));
          js_steps.push_back({{"op", "generate"}, {"n", st.n}, {"addin", zt::hex(st.addin)}});
        }
      }
      EXPECT_EQ(drbg_uninstantiate(&ctx), 0u);
      cases.push_back({{"mech", s.mech},
                       {"alg", s.alg},
                       {"df", s.df},
                       {"entropy", zt::hex(entropy)},
                       {"nonce", zt::hex(nonce)},
                       {"perso", zt::hex(perso)},
                       {"steps", js_steps}});
    }
  }

  std::istringstream lines(run_reference(cases));
  std::string line;
  size_t i = 0;
  for (; std::getline(lines, line); ++i) {
    ASSERT_LT(i, ours.size());
    EXPECT_EQ(ours[i], line) << labels[i];
  }
  EXPECT_EQ(i, ours.size());
}

TEST(DrbgOracle, EveryMechanismMatchesTheReference) { check_against_reference(false); }
TEST(DrbgOracle, PortableCipherPathMatchesTheReference) { check_against_reference(true); }

}  // namespace
