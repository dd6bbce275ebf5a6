// Wycheproof AES-CBC with PKCS #7 padding, through the block-cipher API and
// the padding routines: every valid case encrypts to the given ciphertext and
// decrypts back; every invalid ciphertext is refused.
#include <gtest/gtest.h>

#include <string>

#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/padding.h"
#include "quarzel/testing.h"
#include "support/hex.h"
#include "support/vectors.h"

namespace {

using zt::Bytes;

cipher_type_t aes_type(int key_bits) {
  return key_bits == 128 ? CIPHER_TYPE_AES128 : key_bits == 192 ? CIPHER_TYPE_AES192 : CIPHER_TYPE_AES256;
}

// Whole-block CBC over `in` (update calls never steal ciphertext).
quarzel_ret_t cbc(cipher_dir_t dir, cipher_type_t type, const Bytes& key, const Bytes& iv, const Bytes& in,
                  Bytes& out) {
  blockcipher_ctx_t ctx;
  quarzel_ret_t r = blockcipher_init(&ctx, type, CIPHER_MODE_CBC, dir, static_cast<uint32_t>(key.size()),
                                     key.data(), static_cast<uint32_t>(iv.size()), iv.data());
  if (r != 0) return r;
  out.assign(in.size(), 0);
  uint32_t len = static_cast<uint32_t>(out.size());
  uint8_t dummy = 0;
  return blockcipher_update(&ctx, static_cast<uint32_t>(in.size()), in.empty() ? &dummy : in.data(), &len,
                            out.empty() ? &dummy : out.data());
}

void run_all(bool portable) {
  quarzel::testing::force_portable(quarzel::testing::Path::aes, portable);
  const auto doc = zt::load_vectors("aes_cbc_pkcs5.json");
  int valid = 0, refused = 0;
  for (const auto& group : doc["testGroups"]) {
    const cipher_type_t type = aes_type(group["keySize"].get<int>());
    for (const auto& t : group["tests"]) {
      SCOPED_TRACE("tcId " + std::to_string(t["tcId"].get<int>()));
      const Bytes key = zt::unhex(t["key"].get<std::string>());
      const Bytes iv = zt::unhex(t["iv"].get<std::string>());
      const Bytes msg = zt::unhex(t["msg"].get<std::string>());
      const Bytes ct = zt::unhex(t["ct"].get<std::string>());
      const std::string result = t["result"].get<std::string>();

      Bytes plain;
      quarzel_ret_t r = cbc(CIPHER_DIR_DEC, type, key, iv, ct, plain);
      Bytes unpadded(plain.size());
      uint32_t len = static_cast<uint32_t>(unpadded.size());
      uint8_t dummy = 0;
      if (r == 0)
        r = blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 16, static_cast<uint32_t>(plain.size()),
                                  plain.empty() ? &dummy : plain.data(), &len,
                                  unpadded.empty() ? &dummy : unpadded.data());
      if (result == "valid") {
        ++valid;
        ASSERT_EQ(r, 0u);
        unpadded.resize(len);
        EXPECT_EQ(zt::hex(unpadded), zt::hex(msg));

        Bytes padded(msg.size() + 16);
        uint32_t plen = static_cast<uint32_t>(padded.size());
        ASSERT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 16, static_cast<uint32_t>(msg.size()),
                                      msg.empty() ? &dummy : msg.data(), &plen, padded.data()),
                  0u);
        padded.resize(plen);
        Bytes enc;
        ASSERT_EQ(cbc(CIPHER_DIR_ENC, type, key, iv, padded, enc), 0u);
        EXPECT_EQ(zt::hex(enc), zt::hex(ct));
      } else {
        ++refused;
        EXPECT_NE(r, 0u) << "invalid ciphertext accepted";
        // Whole-block inputs reach the padding check, which must say why.
        if (!ct.empty() && ct.size() % 16 == 0) {
          EXPECT_EQ(r, 0x0102FF3Fu);
        }
      }
    }
  }
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
  EXPECT_GT(valid, 0);
  EXPECT_GT(refused, 0);
}

TEST(WycheproofAesCbcPkcs5, AcceleratedPath) { run_all(false); }
TEST(WycheproofAesCbcPkcs5, PortablePath) { run_all(true); }

}  // namespace
