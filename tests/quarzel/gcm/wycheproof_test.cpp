// Wycheproof AES-GCM and GMAC vectors, in one call and in random chunks, on
// every instruction-set path.
#include <gtest/gtest.h>

#include <random>

#include "gcm_paths.h"
#include "gcm_util.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;

class Wycheproof : public zt::GcmPathTest {};

TEST_P(Wycheproof, AesGcm) {
  const auto doc = zt::load_vectors("aes_gcm.json");
  std::mt19937 rng(61);
  size_t checked = 0;
  for (const auto& group : doc["testGroups"]) {
    for (const auto& t : group["tests"]) {
      const Bytes key = zt::unhex(t["key"].get<std::string>()), iv = zt::unhex(t["iv"].get<std::string>());
      const Bytes aad = zt::unhex(t["aad"].get<std::string>()), msg = zt::unhex(t["msg"].get<std::string>());
      const Bytes ct = zt::unhex(t["ct"].get<std::string>()), tag = zt::unhex(t["tag"].get<std::string>());
      const std::string result = t["result"];
      const cipher_type_t type = zt::aes_type_for(key.size());
      const uint32_t tag_len = static_cast<uint32_t>(tag.size());
      SCOPED_TRACE("tcId " + std::to_string(t["tcId"].get<int>()) + " " + t["comment"].get<std::string>());
      zt::Chunks chunks{{}, zt::block_chunks(rng, aad.size(), 16), zt::block_chunks(rng, msg.size(), 16)};
      // IV chunks only for IVs longer than a 12-byte single call.
      if (iv.size() != 12) chunks.iv = zt::block_chunks(rng, iv.size(), 16);
      for (const zt::Chunks& ch : {zt::Chunks{}, chunks}) {
        const auto dec = zt::gcm_run(type, key, iv, aad, ct, false, tag, tag_len, ch);
        if (result == "valid") {
          ASSERT_EQ(dec.ret, 0u);
          EXPECT_EQ(dec.valid, GCM_TAG_VALID);
          EXPECT_EQ(dec.out, msg);
          const auto enc = zt::gcm_run(type, key, iv, aad, msg, true, {}, tag_len, ch);
          ASSERT_EQ(enc.ret, 0u);
          EXPECT_EQ(enc.out, ct);
          EXPECT_EQ(enc.tag, tag);
        } else if (iv.empty()) {
          // An empty IV is refused outright, for encryption as for decryption.
          EXPECT_EQ(dec.ret, 0x0160FF37u);
          EXPECT_EQ(zt::gcm_run(type, key, iv, aad, msg, true, {}, tag_len, ch).ret, 0x0160FF37u);
        } else {
          ASSERT_EQ(dec.ret, 0u);
          EXPECT_EQ(dec.valid, GCM_TAG_INVALID);
          // The final call clears its output; update calls cannot take theirs back.
          size_t final_off = 0;
          for (size_t n : ch.data) final_off += n;
          EXPECT_EQ(Bytes(dec.out.begin() + final_off, dec.out.end()), Bytes(ct.size() - final_off, 0))
              << "output of a refused message is cleared";
        }
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
}

// Truncated tags: every allowed length verifies with the prefix of the full
// tag and refuses a changed last byte.
TEST_P(Wycheproof, AesGcmTruncatedTags) {
  const auto doc = zt::load_vectors("aes_gcm.json");
  int done = 0;
  for (const auto& group : doc["testGroups"]) {
    for (const auto& t : group["tests"]) {
      if (t["result"] != "valid" || done >= 40) continue;
      ++done;
      const Bytes key = zt::unhex(t["key"].get<std::string>()), iv = zt::unhex(t["iv"].get<std::string>());
      const Bytes aad = zt::unhex(t["aad"].get<std::string>()), msg = zt::unhex(t["msg"].get<std::string>());
      const Bytes ct = zt::unhex(t["ct"].get<std::string>()), tag = zt::unhex(t["tag"].get<std::string>());
      const cipher_type_t type = zt::aes_type_for(key.size());
      for (uint32_t n : {4u, 8u, 12u, 13u, 14u, 15u, 16u}) {
        const auto enc = zt::gcm_run(type, key, iv, aad, msg, true, {}, n);
        ASSERT_EQ(enc.ret, 0u);
        EXPECT_EQ(enc.tag, Bytes(tag.begin(), tag.begin() + n));
        Bytes bad(tag.begin(), tag.begin() + n);
        EXPECT_EQ(zt::gcm_run(type, key, iv, aad, ct, false, bad, n).valid, GCM_TAG_VALID);
        bad[n - 1] ^= 0x01;
        EXPECT_EQ(zt::gcm_run(type, key, iv, aad, ct, false, bad, n).valid, GCM_TAG_INVALID);
      }
    }
  }
}

TEST_P(Wycheproof, AesGmac) {
  const auto doc = zt::load_vectors("aes_gmac.json");
  std::mt19937 rng(67);
  for (const auto& group : doc["testGroups"]) {
    for (const auto& t : group["tests"]) {
      const Bytes key = zt::unhex(t["key"].get<std::string>()), iv = zt::unhex(t["iv"].get<std::string>());
      const Bytes msg = zt::unhex(t["msg"].get<std::string>()), tag = zt::unhex(t["tag"].get<std::string>());
      const cipher_type_t type = zt::aes_type_for(key.size());
      SCOPED_TRACE("tcId " + std::to_string(t["tcId"].get<int>()));
      // In one call.
      uint8_t out[16];
      uint32_t tag_len = static_cast<uint32_t>(tag.size());
      const quarzel_ret_t ret = gmac_onestep(type, static_cast<uint32_t>(key.size()), key.data(),
                                             static_cast<uint32_t>(iv.size()), iv.data(),
                                             static_cast<uint32_t>(msg.size()), msg.data(), &tag_len, out);
      // In chunks of whole blocks (IV chunks only for IVs other than 12 bytes).
      gcm_ctx_t ctx;
      ASSERT_EQ(gmac_key_setup(&ctx, type, static_cast<uint32_t>(key.size()), key.data()), 0u);
      const auto iv_chunks = iv.size() == 12 ? std::vector<size_t>{} : zt::block_chunks(rng, iv.size(), 16);
      quarzel_ret_t ret2 = zt::feed(iv, iv_chunks, [&](cipher_flag_t f, size_t n, const uint8_t* p, size_t) {
        return gmac_iv_setup(&ctx, f, static_cast<uint32_t>(n), p);
      });
      uint8_t out2[16];
      uint32_t tag_len2 = static_cast<uint32_t>(tag.size());
      if (ret2 == 0) {
        ret2 = zt::feed(msg, zt::block_chunks(rng, msg.size(), 16), [&](cipher_flag_t f, size_t n, const uint8_t* p, size_t) {
          return gmac_calc(&ctx, f, static_cast<uint32_t>(n), n ? p : nullptr, &tag_len2, out2);
        });
      }
      if (iv.empty()) {
        EXPECT_EQ(ret, 0x0160FF37u);
        EXPECT_EQ(ret2, 0x0160FF37u);
        continue;
      }
      ASSERT_EQ(ret, 0u);
      ASSERT_EQ(ret2, 0u);
      const bool match = Bytes(out, out + tag_len) == tag;
      EXPECT_EQ(Bytes(out2, out2 + tag_len2), Bytes(out, out + tag_len));
      EXPECT_EQ(match, t["result"] == "valid") << zt::hex(out, tag_len);
    }
  }
}

ZT_INSTANTIATE_GCM_PATHS(Wycheproof);

}  // namespace
