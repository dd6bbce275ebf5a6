// The adapter's AES and GCM operations on a logged-in session of a software
// HSM: held-back input in random splits against OpenSSL, GCM against
// Wycheproof, and the operation state.
#include <gtest/gtest.h>

#include "core/crypto_api/fixture.h"
#include "support/vectors.h"

namespace {

using ct::Bytes;

constexpr uint8_t kEcb = 1, kCbc = 2, kDec = 1, kEnc = 2;
constexpr uint8_t kNoPad = 1, kPkcs7 = 3;

class Aes : public ct::UserSession {
 protected:
  // Runs the whole operation in updates of random sizes.
  Bytes run(const Bytes& key, uint8_t mode, uint8_t dir, uint8_t pad, Bytes iv, const Bytes& in, bool in_place) {
    Bytes blob = session_blob(key);
    EXPECT_EQ(CA_AesInit(ctx, mode, dir, pad, iv.data(), 16, blob.data(), static_cast<uint32_t>(blob.size())), 0);
    Bytes out;
    std::uniform_int_distribution<size_t> cut(0, 70);
    for (size_t at = 0; at < in.size();) {
      const size_t n = std::min(cut(rng), in.size() - at);
      Bytes buf(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + n));
      buf.resize(n + 32);  // held bytes come out too
      Bytes sep(n + 48);
      uint8_t* dst = in_place ? buf.data() : sep.data();
      uint32_t got = static_cast<uint32_t>(in_place ? buf.size() : sep.size());
      EXPECT_EQ(CA_AesUpdate(ctx, buf.data(), static_cast<uint32_t>(n), dst, &got), 0);
      out.insert(out.end(), dst, dst + got);
      at += n;
    }
    Bytes last(48);
    uint32_t got = 48;
    EXPECT_EQ(CA_AesFinal(ctx, last.data(), &got), 0);
    out.insert(out.end(), last.begin(), last.begin() + got);
    return out;
  }
};

TEST_F(Aes, RandomSplitsEqualOpenSslOneShot) {
  for (size_t key_len : {16u, 24u, 32u}) {
    for (bool cbc : {false, true}) {
      for (bool pad : {false, true}) {
        for (size_t len : {0u, 16u, 31u, 32u, 33u, 160u, 1000u}) {
          if (!pad && len % 16 != 0) continue;
          SCOPED_TRACE(testing::Message() << key_len << (cbc ? " CBC " : " ECB ") << (pad ? "PKCS7 " : "") << len);
          Bytes key(key_len), iv(16), msg(len);
          for (auto& b : key) b = static_cast<uint8_t>(rng());
          for (auto& b : iv) b = static_cast<uint8_t>(rng());
          for (auto& b : msg) b = static_cast<uint8_t>(rng());
          const uint8_t mode = cbc ? kCbc : kEcb;
          const uint8_t p = pad ? kPkcs7 : kNoPad;
          const Bytes expect = zt::openssl_aes(key, cbc, pad, true, iv, msg);
          for (bool in_place : {false, true}) {
            EXPECT_EQ(run(key, mode, kEnc, p, iv, msg, in_place), expect);
            EXPECT_EQ(run(key, mode, kDec, p, iv, expect, in_place), msg);
          }
        }
      }
    }
  }
}

TEST_F(Aes, HeldBytesFollowTheBlocks) {
  Bytes key(32, 7), iv(16, 9), msg(64);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i);
  const Bytes expect = zt::openssl_aes(key, true, false, true, iv, msg);
  Bytes blob = session_blob(key);
  ASSERT_EQ(CA_AesInit(ctx, kCbc, kEnc, kNoPad, iv.data(), 16, blob.data(), 32), 0);
  Bytes out(64);
  uint32_t n = 64;
  for (int i = 0; i < 3; ++i) {
    n = 64;
    ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 10 * i, 10, out.data(), &n), 0);
    EXPECT_EQ(n, 0u);
  }
  EXPECT_EQ(ctx->RemainDataLength, 30);
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 30, 10, out.data(), &n), 0);
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(ctx->RemainDataLength, 24);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(expect.begin(), expect.begin() + 16));
  // 24 held and 1 new: still below two blocks.
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 40, 1, out.data(), &n), 0);
  EXPECT_EQ(n, 0u);
  // Many held bytes and few new ones: only whole blocks of held || new go.
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 41, 6, out.data(), &n), 0);
  EXPECT_EQ(ctx->RemainDataLength, 31);
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 47, 1, out.data(), &n), 0);
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(expect.begin() + 16, expect.begin() + 32));
  EXPECT_EQ(ctx->RemainDataLength, 16);
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data() + 48, 16, out.data(), &n), 0);
  ASSERT_EQ(n, 16u);
  n = 64;
  ASSERT_EQ(CA_AesFinal(ctx, out.data() + 16, &n), 0);
  EXPECT_EQ(n, 16u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), Bytes(expect.begin() + 32, expect.end()));
}

TEST_F(Aes, PaddedBlockComesOutAtTheFinal) {
  Bytes key(16, 1), iv(16, 2), msg(16, 3);
  Bytes blob = session_blob(key);
  ASSERT_EQ(CA_AesInit(ctx, kCbc, kEnc, kPkcs7, iv.data(), 16, blob.data(), 16), 0);
  Bytes out(48);
  uint32_t n = 48;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data(), 16, out.data(), &n), 0);
  EXPECT_EQ(n, 0u);
  n = 48;
  ASSERT_EQ(CA_AesFinal(ctx, out.data(), &n), 0);
  ASSERT_EQ(n, 32u);
  out.resize(32);
  EXPECT_EQ(out, zt::openssl_aes(key, true, true, true, iv, msg));
}

TEST_F(Aes, ShortOutputBufferKeepsTheOperation) {
  Bytes key(16, 1), iv(16, 2), msg(64, 3);
  const Bytes expect = zt::openssl_aes(key, true, false, true, iv, msg);
  Bytes blob = session_blob(key);
  ASSERT_EQ(CA_AesInit(ctx, kCbc, kEnc, kNoPad, iv.data(), 16, blob.data(), 16), 0);
  Bytes out(64);
  uint32_t n = 8;
  EXPECT_EQ(CA_AesUpdate(ctx, msg.data(), 64, out.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 48u);
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data(), 64, out.data(), &n), 0);
  ASSERT_EQ(n, 48u);
  uint32_t f = 4;
  EXPECT_EQ(CA_AesFinal(ctx, out.data() + 48, &f), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(f, 16u);
  ASSERT_EQ(CA_AesFinal(ctx, out.data() + 48, &f), 0);
  EXPECT_EQ(out, expect);
}

TEST_F(Aes, OneOperationAtATime) {
  Bytes key(16, 1), iv(16, 2), msg(32, 3);
  Bytes blob = session_blob(key);
  ASSERT_EQ(CA_AesInit(ctx, kCbc, kEnc, kNoPad, iv.data(), 16, blob.data(), 16), 0);
  // A second start, a digest or a GCM step is refused; the AES goes on.
  EXPECT_EQ(CA_AesInit(ctx, kEcb, kDec, kNoPad, iv.data(), 16, blob.data(), 16), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(CA_AesGcmInit(ctx, 16, nullptr, 0, iv.data(), 12, blob.data(), 16), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_DigestInit(user, 9), VRK_ERR_OPERATION_ACTIVE);
  Bytes out(64);
  uint32_t n = 64;
  EXPECT_EQ(CA_AesGcmEncryptUpdate(ctx, msg.data(), 32, out.data(), &n), VRK_ERR_NOT_INITIALIZED);
  n = 64;
  ASSERT_EQ(CA_AesUpdate(ctx, msg.data(), 32, out.data(), &n), 0);
  n = 64;
  ASSERT_EQ(CA_AesFinal(ctx, out.data() + 16, &n), 0);
  out.resize(32);
  EXPECT_EQ(out, zt::openssl_aes(key, true, false, true, iv, msg));
  // Steps without a start.
  n = 64;
  EXPECT_EQ(CA_AesUpdate(ctx, msg.data(), 32, out.data(), &n), VRK_ERR_NOT_INITIALIZED);
  EXPECT_EQ(CA_AesFinal(ctx, out.data(), &n), VRK_ERR_NOT_INITIALIZED);
}

TEST_F(Aes, OneCallOnTheSoftwareTablesIsNotSupported) {
  Bytes key(16, 1), iv(16, 2), msg(32, 3), out(48);
  Bytes blob = session_blob(key);
  uint32_t n = 48;
  EXPECT_EQ(CA_AesCrypt(ctx, kCbc, kEnc, kNoPad, iv.data(), 16, blob.data(), 16, msg.data(), 32, out.data(), &n),
            VRK_ERR_NOT_SUPPORTED);
  EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
  EXPECT_EQ(CA_AesInit(ctx, kCbc, kEnc, kNoPad, iv.data(), 16, blob.data(), 16), 0);
}

// ---- GCM ----

struct GcmCase {
  Bytes key, iv, aad, msg, ct, tag;
  bool valid;
  int id;
};

std::vector<GcmCase> gcm_cases() {
  std::vector<GcmCase> out;
  const auto doc = zt::load_vectors("aes_gcm.json");
  for (const auto& g : doc["testGroups"]) {
    for (const auto& t : g["tests"]) {
      out.push_back({zt::unhex(t["key"].get<std::string>()), zt::unhex(t["iv"].get<std::string>()),
                     zt::unhex(t["aad"].get<std::string>()), zt::unhex(t["msg"].get<std::string>()),
                     zt::unhex(t["ct"].get<std::string>()), zt::unhex(t["tag"].get<std::string>()),
                     t["result"].get<std::string>() != "invalid", t["tcId"].get<int>()});
    }
  }
  return out;
}

class Gcm : public ct::UserSession {
 protected:
  // Streams `in` in random splits through the update `fn`, then the final.
  template <class Update, class Final>
  int stream(Update fn, Final fin, const Bytes& in, Bytes* out) {
    std::uniform_int_distribution<size_t> cut(0, 40);
    for (size_t at = 0; at < in.size();) {
      const size_t n = std::min(cut(rng), in.size() - at);
      Bytes buf(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + n));
      Bytes dst(n + 32);
      uint32_t got = static_cast<uint32_t>(dst.size());
      if (int rv = fn(ctx, buf.data(), static_cast<uint32_t>(n), dst.data(), &got); rv != 0) return rv;
      out->insert(out->end(), dst.begin(), dst.begin() + got);
      at += n;
    }
    Bytes last(64, 0xEE);
    uint32_t got = 64;
    const int rv = fin(ctx, last.data(), &got);
    if (rv == 0) out->insert(out->end(), last.begin(), last.begin() + got);
    return rv;
  }
};

TEST_F(Gcm, WycheproofCases) {
  int checked = 0;
  for (GcmCase& c : gcm_cases()) {
    SCOPED_TRACE(testing::Message() << "tcId " << c.id);
    const size_t tl = c.tag.size();
    if (c.key.size() != 16 && c.key.size() != 24 && c.key.size() != 32) continue;
    Bytes blob = session_blob(c.key);
    const auto tag_len = static_cast<uint8_t>(tl);
    int rv = CA_AesGcmInit(ctx, tag_len, c.aad.data(), static_cast<uint32_t>(c.aad.size()), c.iv.data(),
                           static_cast<uint32_t>(c.iv.size()), blob.data(), static_cast<uint32_t>(blob.size()));
    if (rv != 0) {
      // Empty IVs and unusual tag lengths are refused at the start.
      EXPECT_FALSE(c.valid && !c.iv.empty() && (tl == 4 || tl == 8 || tl >= 12));
      EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
      continue;
    }
    Bytes ct_tag = c.ct;
    ct_tag.insert(ct_tag.end(), c.tag.begin(), c.tag.end());
    if (c.valid) {
      Bytes enc;
      ASSERT_EQ(stream(CA_AesGcmEncryptUpdate, CA_AesGcmEncryptFinal, c.msg, &enc), 0);
      EXPECT_EQ(enc, ct_tag);
      blob = session_blob(c.key);
      ASSERT_EQ(CA_AesGcmInit(ctx, tag_len, c.aad.data(), static_cast<uint32_t>(c.aad.size()), c.iv.data(),
                              static_cast<uint32_t>(c.iv.size()), blob.data(), static_cast<uint32_t>(blob.size())),
                0);
    }
    Bytes dec;
    rv = stream(CA_AesGcmDecryptUpdate, CA_AesGcmDecryptFinal, ct_tag, &dec);
    if (c.valid) {
      EXPECT_EQ(rv, 0);
      EXPECT_EQ(dec, c.msg);
    } else {
      EXPECT_EQ(rv, VRK_ERR_FAILED);
    }
    EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

TEST_F(Gcm, WrongTagEndsWithSixAndAnIdleSession) {
  Bytes key(16, 5), iv(12, 6), msg(40, 7);
  Bytes blob = session_blob(key);
  ASSERT_EQ(CA_AesGcmInit(ctx, 16, nullptr, 0, iv.data(), 12, blob.data(), 16), 0);
  Bytes enc;
  ASSERT_EQ(stream(CA_AesGcmEncryptUpdate, CA_AesGcmEncryptFinal, msg, &enc), 0);
  enc.back() ^= 0x80;
  ASSERT_EQ(CA_AesGcmInit(ctx, 16, nullptr, 0, iv.data(), 12, blob.data(), 16), 0);
  Bytes out(64, 0xEE);
  uint32_t n = 64;
  ASSERT_EQ(CA_AesGcmDecryptUpdate(ctx, enc.data(), 40, out.data(), &n), 0);
  Bytes mid(64);
  uint32_t m = 64;
  ASSERT_EQ(CA_AesGcmDecryptUpdate(ctx, enc.data() + 40, 16, mid.data(), &m), 0);
  Bytes last(64, 0xEE);
  m = 64;
  EXPECT_EQ(CA_AesGcmDecryptFinal(ctx, last.data(), &m), VRK_ERR_FAILED);
  EXPECT_EQ(m, 0u);
  EXPECT_EQ(last, Bytes(64, 0xEE));  // nothing unauthenticated written
  EXPECT_EQ(CA_AesGcmInit(ctx, 16, nullptr, 0, iv.data(), 12, blob.data(), 16), 0);
  // Directions do not mix, and tag lengths outside SP 800-38D are refused.
  n = 64;
  ASSERT_EQ(CA_AesGcmEncryptUpdate(ctx, msg.data(), 40, out.data(), &n), 0);
  n = 64;
  EXPECT_EQ(CA_AesGcmDecryptUpdate(ctx, msg.data(), 40, out.data(), &n), VRK_ERR_NOT_INITIALIZED);
  m = 64;
  ASSERT_EQ(CA_AesGcmEncryptFinal(ctx, out.data(), &m), 0);
  EXPECT_EQ(CA_AesGcmInit(ctx, 10, nullptr, 0, iv.data(), 12, blob.data(), 16), VRK_ERR_ARGUMENTS);
  // Fewer bytes than a tag: no message at all.
  ASSERT_EQ(CA_AesGcmInit(ctx, 16, nullptr, 0, iv.data(), 12, blob.data(), 16), 0);
  n = 64;
  ASSERT_EQ(CA_AesGcmDecryptUpdate(ctx, enc.data(), 10, out.data(), &n), 0);
  m = 64;
  EXPECT_EQ(CA_AesGcmDecryptFinal(ctx, last.data(), &m), 0x41);
  EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
}

}  // namespace
