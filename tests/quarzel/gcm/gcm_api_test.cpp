// Contract of the GCM/GMAC API: states, lengths, tag rules, the IV and
// tag-check faults.
#include <gtest/gtest.h>

#include <cstring>

#include "gcm_util.h"
#include "quarzel/blockcipher.h"

namespace {

using zt::Bytes;

const Bytes kKey = zt::unhex("feffe9928665731c6d6a8f9467308308");
const Bytes kIv12 = zt::unhex("cafebabefacedbaddecaf888");

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

gcm_ctx_t ready_ctx(cipher_type_t type = CIPHER_TYPE_AES128, const Bytes& key = kKey, const Bytes& iv = kIv12) {
  gcm_ctx_t ctx;  // key and IV set, no AAD call
  EXPECT_EQ(gmac_init(&ctx, type, static_cast<uint32_t>(key.size()), key.data(), static_cast<uint32_t>(iv.size()),
                      iv.data()),
            0u);
  return ctx;
}

// McGrew-Viega test cases 1 and 2 (also in the SP 800-38D validation set).
TEST(Gcm, PublishedZeroKeyCases) {
  const Bytes key(16, 0), iv(12, 0);
  auto r = zt::gcm_run(CIPHER_TYPE_AES128, key, iv, {}, {}, true, {}, 16);
  ASSERT_EQ(r.ret, 0u);
  EXPECT_EQ(zt::hex(r.tag), "58e2fccefa7e3061367f1d57a4e7455a");
  r = zt::gcm_run(CIPHER_TYPE_AES128, key, iv, {}, Bytes(16, 0), true, {}, 16);
  EXPECT_EQ(zt::hex(r.out), "0388dace60b6a392f328c2b971b2fe78");
  EXPECT_EQ(zt::hex(r.tag), "ab6e47d42cec13bdf53a67b21257bddf");
}

// An empty IV used to leave J0 at zero: the first key-stream block became H
// and the tag a bare GHASH value, which lets anyone forge.
TEST(GcmIv, EmptyIvIsRefused) {
  gcm_ctx_t ctx;
  ASSERT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  EXPECT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_IS_FINAL, 0, kIv12.data()), 0x0160FF37u);
  EXPECT_EQ(ctx.state, GCM_STATE_ERROR);
  uint8_t out[16], tag[16];
  uint32_t out_len = 16, tag_len = 16;
  const uint8_t in[16] = {};
  EXPECT_EQ(gcm_auth_enc_final(&ctx, 16, in, &out_len, out, &tag_len, tag), 0x0170FF08u);
  EXPECT_EQ(gcm_init(&ctx, CIPHER_TYPE_AES256, 32, Bytes(32, 1).data(), 0, nullptr, 0, nullptr), 0x0160FF37u);
  EXPECT_EQ(gmac_init(&ctx, CIPHER_TYPE_TDES3, 24, Bytes(24, 1).data(), 0, nullptr), 0x0160FF37u);
  // A zero-byte non-final chunk is harmless and does not count as an IV.
  ASSERT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  EXPECT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_NOT_FINAL, 0, nullptr), 0u);
  EXPECT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_IS_FINAL, 0, nullptr), 0x0160FF37u);
}

// A zero-byte final call after whole-block chunks completes J0 from them.
TEST(GcmIv, ZeroByteFinalAfterChunksCompletesJ0) {
  const Bytes iv16 = zt::unhex("000102030405060708090a0b0c0d0e0f");
  const Bytes pt(40, 0x5A);
  const auto one = zt::gcm_run(CIPHER_TYPE_AES128, kKey, iv16, {}, pt, true, {}, 16);
  ASSERT_EQ(one.ret, 0u);
  const auto chunked = zt::gcm_run(CIPHER_TYPE_AES128, kKey, iv16, {}, pt, true, {}, 16, zt::Chunks{{16}, {}, {}});
  ASSERT_EQ(chunked.ret, 0u);
  EXPECT_EQ(chunked.out, one.out);
  EXPECT_EQ(chunked.tag, one.tag);
  // And the key stream is not E(K, 0) = H's block.
  gcm_ctx_t ctx;
  ASSERT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  ASSERT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_NOT_FINAL, 16, iv16.data()), 0u);
  ASSERT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_IS_FINAL, 0, iv16.data()), 0u);
  EXPECT_EQ(ctx.state, GCM_STATE_IV_DONE);
  EXPECT_FALSE(all_zero(ctx.e0_val, 16));
  // TDES: the same with 8-byte chunks.
  const Bytes k24(24, 0x42);
  const auto d1 = zt::gcm_run(CIPHER_TYPE_TDES3, k24, iv16, {}, pt, true, {}, 8);
  const auto d2 = zt::gcm_run(CIPHER_TYPE_TDES3, k24, iv16, {}, pt, true, {}, 8, zt::Chunks{{8, 8}, {}, {}});
  EXPECT_EQ(d1.tag, d2.tag);
  EXPECT_EQ(d1.out, d2.out);
}

TEST(GcmDecrypt, MismatchClearsOutputAndReportsFalse) {
  Bytes pt(37, 0x11);
  auto enc = zt::gcm_run(CIPHER_TYPE_AES128, kKey, kIv12, {}, pt, true, {}, 16);
  ASSERT_EQ(enc.ret, 0u);
  Bytes tag = enc.tag;
  tag[5] ^= 0x80;
  gcm_ctx_t ctx = ready_ctx();
  Bytes out(37, 0xCC);
  uint32_t out_len = 37, valid = 0;
  ASSERT_EQ(gcm_auth_dec_final(&ctx, 37, enc.out.data(), 16, tag.data(), &out_len, out.data(), &valid), 0u);
  EXPECT_EQ(valid, GCM_TAG_INVALID);
  EXPECT_EQ(out, Bytes(37, 0));
  EXPECT_EQ(ctx.state, GCM_STATE_DEC_FINAL);
  EXPECT_TRUE(all_zero(ctx.round_key, sizeof ctx.round_key));
  EXPECT_TRUE(all_zero(ctx.h_val, 16));
}

TEST(GcmData, LengthRulesAndStates) {
  gcm_ctx_t ctx = ready_ctx();
  uint8_t in[64] = {}, out[64], tag[16];
  uint32_t out_len = 64, tag_len = 16;
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 20, in, &out_len, out), 0x0162FF39u);
  EXPECT_EQ(ctx.state, GCM_STATE_ERROR);
  EXPECT_TRUE(all_zero(ctx.round_key, sizeof ctx.round_key));

  ctx = ready_ctx();
  out_len = 32;
  ASSERT_EQ(gcm_auth_enc_update(&ctx, 32, in, &out_len, out), 0u);
  EXPECT_EQ(ctx.state, GCM_STATE_ENCRYPTING);
  out_len = 5;
  ASSERT_EQ(gcm_auth_enc_final(&ctx, 5, in + 32, &out_len, out + 32, &tag_len, tag), 0u);
  EXPECT_EQ(out_len, 5u);
  EXPECT_EQ(ctx.state, GCM_STATE_ENC_FINAL);
  const auto one = zt::gcm_run(CIPHER_TYPE_AES128, kKey, kIv12, {}, Bytes(37, 0), true, {}, 16);
  EXPECT_EQ(Bytes(out, out + 37), one.out);
  EXPECT_EQ(Bytes(tag, tag + 16), one.tag);
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0x0170FF08u) << "final needs a new key set-up";

  ctx = ready_ctx();
  out_len = 15;
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0x0170FF06u);
  EXPECT_EQ(out_len, 16u);
  ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, nullptr, &out_len, out), 0x0170FF05u);
  ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_enc(&ctx, static_cast<cipher_flag_t>(7), 16, in, &out_len, out, &tag_len, tag), 0x0170FF3Cu);
  ctx = ready_ctx();
  out_len = 16;
  EXPECT_EQ(gcm_auth_enc_final(&ctx, 16, in, &out_len, out, nullptr, tag), 0x0170FF05u);
  ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_dec_update(&ctx, 16, in, &out_len, out), 0u);
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0x0170FF08u) << "no switching direction";
  ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_dec_final(&ctx, 16, in, 16, tag, &out_len, out, nullptr), 0x0174FF05u);
}

// SP 800-38D 5.2.1.1: at most 2^32 - 2 counter blocks per message; beyond
// that the 32-bit counter would wrap and repeat the key stream.
TEST(GcmData, MessageLengthLimit) {
  uint8_t in[32] = {}, out[32];
  uint32_t out_len = 32;
  for (cipher_type_t type : {CIPHER_TYPE_AES128, CIPHER_TYPE_TDES3}) {
    const Bytes key(type == CIPHER_TYPE_AES128 ? 16 : 24, 9), iv(type == CIPHER_TYPE_AES128 ? 12 : 4, 1);
    gcm_ctx_t ctx = ready_ctx(type, key, iv);
    const uint64_t limit = (uint64_t{0xFFFFFFFF} - 1) * ctx.block_size;
    ctx.data_len = limit - 16;  // as if that much had been processed
    out_len = 16;
    EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0u);
    out_len = 32;
    EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0x0162FF39u);
  }
}

TEST(GcmTag, LengthRules) {
  uint8_t in[16] = {}, out[16], tag[16];
  uint32_t out_len = 16, tag_len = 10, valid = 0;
  gcm_ctx_t ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_enc_final(&ctx, 16, in, &out_len, out, &tag_len, tag), 0x0170FF3Cu);
  EXPECT_EQ(tag_len, 16u);

  const Bytes k24(24, 3), iv4 = zt::unhex("00000005");
  ctx = ready_ctx(CIPHER_TYPE_TDES3, k24, iv4);
  tag_len = 16;
  ASSERT_EQ(gcm_auth_enc_final(&ctx, 16, in, &out_len, out, &tag_len, tag), 0u);
  EXPECT_EQ(tag_len, 8u);
  ctx = ready_ctx(CIPHER_TYPE_TDES3, k24, iv4);
  tag_len = 7;
  EXPECT_EQ(gcm_auth_enc_final(&ctx, 16, in, &out_len, out, &tag_len, tag), 0x0170FF3Cu);
  EXPECT_EQ(tag_len, 8u);
  ctx = ready_ctx(CIPHER_TYPE_TDES3, k24, iv4);
  EXPECT_EQ(gcm_auth_dec_final(&ctx, 16, in, 4, tag, &out_len, out, &valid), 0x0174FF3Cu);
  ctx = ready_ctx();
  EXPECT_EQ(gcm_auth_dec_final(&ctx, 16, in, 11, tag, &out_len, out, &valid), 0x0174FF3Cu);
}

TEST(GcmAad, OrderRules) {
  gcm_ctx_t ctx;
  uint8_t aad[16] = {}, in[16] = {}, out[16];
  uint32_t out_len = 16;
  ASSERT_EQ(gcm_init(&ctx, CIPHER_TYPE_AES128, 16, kKey.data(), 12, kIv12.data(), 0, nullptr), 0u);
  ctx = ready_ctx();
  ASSERT_EQ(gcm_aad_setup(&ctx, CIPHER_FLAG_NOT_FINAL, 16, aad), 0u);
  EXPECT_EQ(gcm_auth_enc_update(&ctx, 16, in, &out_len, out), 0x0170FF08u);
  // IV alone (no AAD call) is accepted.
  gcm_ctx_t c2;
  ASSERT_EQ(gcm_key_setup(&c2, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  ASSERT_EQ(gcm_iv_setup(&c2, CIPHER_FLAG_IS_FINAL, 12, kIv12.data()), 0u);
  EXPECT_EQ(gcm_auth_enc_update(&c2, 16, in, &out_len, out), 0u);
  // AAD before the IV is done is refused; a partial AAD chunk is too.
  ASSERT_EQ(gcm_key_setup(&c2, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  EXPECT_EQ(gcm_aad_setup(&c2, CIPHER_FLAG_IS_FINAL, 16, aad), 0x0168FF08u);
  c2 = ready_ctx();
  EXPECT_EQ(gcm_aad_setup(&c2, CIPHER_FLAG_NOT_FINAL, 5, aad), 0x0161FF38u);
  c2 = ready_ctx();
  EXPECT_EQ(gcm_aad_setup(&c2, CIPHER_FLAG_NOT_FINAL, 5, nullptr), 0x0168FF05u);
}

TEST(GcmKey, SetupChecks) {
  gcm_ctx_t ctx;
  EXPECT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_SERPENT, 16, kKey.data()), 0x0165FF32u);
  EXPECT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_UNDEFINED, 16, kKey.data()), 0x0165FF32u);
  EXPECT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES192, 16, kKey.data()), 0x0165FF36u);
  EXPECT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, nullptr), 0x0165FF05u);
  EXPECT_EQ(gcm_key_setup(nullptr, CIPHER_TYPE_AES128, 16, kKey.data()), 0x0165FF05u);
  EXPECT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_IS_FINAL, 12, kIv12.data()), 0x0167FF08u);
  ASSERT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  EXPECT_EQ(gcm_iv_setup(&ctx, static_cast<cipher_flag_t>(2), 12, kIv12.data()), 0x0167FF3Cu);
  ASSERT_EQ(gcm_key_setup(&ctx, CIPHER_TYPE_AES128, 16, kKey.data()), 0u);
  EXPECT_EQ(gcm_iv_setup(&ctx, CIPHER_FLAG_NOT_FINAL, 12, kIv12.data()), 0x0160FF37u);
}

// GMAC over empty data is the first tag bytes of E(K, J0).
TEST(Gmac, EmptyDataIsEncryptedJ0) {
  uint8_t tag[16];
  uint32_t tag_len = 16;
  ASSERT_EQ(gmac_onestep(CIPHER_TYPE_AES128, 16, kKey.data(), 12, kIv12.data(), 0, nullptr, &tag_len, tag), 0u);
  Bytes j0 = kIv12;
  j0.insert(j0.end(), {0, 0, 0, 1});
  uint8_t e[16];
  uint32_t e_len = 16;
  ASSERT_EQ(blockcipher_onestep(CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, kKey.data(), 0, nullptr, 16,
                                j0.data(), &e_len, e),
            0u);
  EXPECT_EQ(Bytes(tag, tag + 16), Bytes(e, e + 16));
  gcm_ctx_t ctx = ready_ctx();
  uint8_t data[8] = {};
  EXPECT_EQ(gmac_calc(&ctx, CIPHER_FLAG_NOT_FINAL, 8, data, &tag_len, tag), 0x0161FF38u);
  ctx = ready_ctx();
  EXPECT_EQ(gmac_calc(&ctx, CIPHER_FLAG_NOT_FINAL, 8, nullptr, &tag_len, tag), 0x0183FF05u);
  ctx = ready_ctx();
  tag_len = 9;
  EXPECT_EQ(gmac_calc(&ctx, CIPHER_FLAG_IS_FINAL, 8, data, &tag_len, tag), 0x0183FF3Cu);
}

// TDES-GCM with IV 00 00 00 05: J0 = 00 00 00 01 00 00 00 05, and the first
// data block uses the key stream E(K, 00 00 00 01 00 00 00 06).
TEST(Gcm64, ShortIvCounterLayout) {
  const Bytes key = zt::unhex("0123456789abcdeffedcba987654321089abcdef01234567"), iv = zt::unhex("00000005");
  const auto r = zt::gcm_run(CIPHER_TYPE_TDES3, key, iv, {}, Bytes(8, 0), true, {}, 8);
  ASSERT_EQ(r.ret, 0u);
  uint8_t ks[8];
  uint32_t n = 8;
  const Bytes ctr = zt::unhex("0000000100000006");
  ASSERT_EQ(blockcipher_onestep(CIPHER_TYPE_TDES3, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 24, key.data(), 0, nullptr, 8,
                                ctr.data(), &n, ks),
            0u);
  EXPECT_EQ(r.out, Bytes(ks, ks + 8));
  gcm_ctx_t ctx;
  ASSERT_EQ(gcm_init(&ctx, CIPHER_TYPE_TDES3, 24, key.data(), 4, iv.data(), 0, nullptr), 0u);
  EXPECT_EQ(zt::hex(ctx.iv, 8), "0000000100000006");
}

}  // namespace
