// Key-blob cipher against OpenSSL's AES-256-CTR: every 1000-byte chunk is
// the counter-mode encryption from the fixed counter block.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "keyblob/keyblob.h"

namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

std::vector<uint8_t> ossl_ctr(const std::vector<uint8_t>& key, const uint8_t* iv, const uint8_t* in, size_t n) {
  std::vector<uint8_t> out(n + 16);
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  int len = 0;
  EXPECT_EQ(EVP_EncryptInit_ex(c, EVP_aes_256_ctr(), nullptr, key.data(), iv), 1);
  EXPECT_EQ(EVP_EncryptUpdate(c, out.data(), &len, in, static_cast<int>(n)), 1);
  EVP_CIPHER_CTX_free(c);
  out.resize(n);
  return out;
}

// The oracle: each chunk restarts the counter from the fixed block.
std::vector<uint8_t> oracle(const std::vector<uint8_t>& key, const uint8_t* iv, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  for (size_t off = 0; off < in.size(); off += 1000) {
    const size_t n = std::min<size_t>(1000, in.size() - off);
    auto part = ossl_ctr(key, iv, in.data() + off, n);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

const std::vector<uint8_t> kKek = pattern(32, 0x11);

}  // namespace

TEST(KeyBlob, MatchesOpenSslPerChunkAndRoundTrips) {
  for (size_t n : {0u, 1u, 15u, 16u, 17u, 999u, 1000u, 1001u, 2500u}) {
    SCOPED_TRACE(n);
    auto plain = pattern(n, 0x40);
    std::vector<uint8_t> blob(n), back(n);
    uint8_t iv[16];
    ASSERT_EQ(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 2, iv, plain.data(), n, blob.data()), 0u);
    EXPECT_EQ(blob, oracle(kKek, iv, plain));
    ASSERT_EQ(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 1, iv, blob.data(), n, back.data()), 0u);
    EXPECT_EQ(back, plain);
  }
}

TEST(KeyBlob, InPlaceAndIvLeftAsFixedBlock) {
  auto data = pattern(1500, 3);
  auto plain = data;
  uint8_t iv[16];
  std::memset(iv, 0xEE, sizeof iv);
  ASSERT_EQ(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 2, iv, data.data(), 1500, data.data()), 0u);
  uint8_t iv2[16] = {};
  std::vector<uint8_t> other(1500);
  ASSERT_EQ(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 2, iv2, plain.data(), 1500, other.data()), 0u);
  EXPECT_EQ(data, other);
  EXPECT_EQ(std::memcmp(iv, iv2, 16), 0);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(iv[i], iv[0]);  // one constant byte
}

TEST(KeyBlob, EqualHalvesGiveEqualChunks) {
  auto half = pattern(1000, 9);
  std::vector<uint8_t> plain(half);
  plain.insert(plain.end(), half.begin(), half.end());
  std::vector<uint8_t> blob(2000);
  uint8_t iv[16];
  ASSERT_EQ(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 2, iv, plain.data(), 2000, blob.data()), 0u);
  EXPECT_TRUE(std::equal(blob.begin(), blob.begin() + 1000, blob.begin() + 1000));
}

TEST(KeyBlob, DifferentWrappingKeysDiffer) {
  auto key = pattern(32, 0x77);
  auto kek2 = pattern(32, 0x12);
  uint8_t a[32], b[32], c[32];
  uint32_t la = 0, lb = 0, lc = 0;
  ASSERT_EQ(Key_Encrypt(const_cast<uint8_t*>(kKek.data()), 32, key.data(), 32, a, &la), 0u);
  ASSERT_EQ(Key_Encrypt(kek2.data(), 32, key.data(), 32, b, &lb), 0u);
  ASSERT_EQ(Key_Encrypt(const_cast<uint8_t*>(kKek.data()), 32, key.data(), 32, c, &lc), 0u);
  EXPECT_NE(std::memcmp(a, b, 32), 0);
  EXPECT_EQ(std::memcmp(a, c, 32), 0);
  EXPECT_EQ(la, 32u);
}

TEST(KeyBlob, KeyEncryptDecryptLengths) {
  auto key = pattern(48, 1);
  uint8_t blob[48], back[48];
  uint32_t n = 0, m = 0;
  ASSERT_EQ(Key_Encrypt(const_cast<uint8_t*>(kKek.data()), 32, key.data(), 48, blob, &n), 0u);
  EXPECT_EQ(n, 48u);
  ASSERT_EQ(Key_Decrypt(const_cast<uint8_t*>(kKek.data()), 32, blob, 48, back, &m), 0u);
  EXPECT_EQ(m, 48u);
  EXPECT_EQ(std::memcmp(back, key.data(), 48), 0);
}

// The library's errors are passed on: a wrapping key of the wrong length used
// to be reported as success with nothing encrypted.
TEST(KeyBlob, LibraryErrorsArePassedOn) {
  auto key = pattern(32, 5);
  uint8_t out[32];
  uint8_t iv[16];
  EXPECT_NE(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 16, 2, iv, key.data(), 32, out), 0u);
  EXPECT_NE(keyblob_crypt(const_cast<uint8_t*>(kKek.data()), 32, 9, iv, key.data(), 32, out), 0u);
  uint32_t n = 0;
  EXPECT_NE(Key_Encrypt(const_cast<uint8_t*>(kKek.data()), 31, key.data(), 32, out, &n), 0u);
  EXPECT_EQ(n, 0u);  // no length reported for a failed wrap
  EXPECT_EQ(keyblob_crypt(nullptr, 32, 2, iv, key.data(), 32, out), 7u);
}
