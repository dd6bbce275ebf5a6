// Key objects and raw blobs.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "quarzel/rsa_key.h"
#include "rsa_test_util.h"

using rt::Bytes;
using rt::PriKey;
using rt::PubKey;

namespace {

const Bytes kE65537 = {0x01, 0x00, 0x01};

// Concatenation of byte strings (a blob header and its components).
Bytes cat(std::initializer_list<Bytes> parts) {
  size_t n = 0;
  for (const Bytes& b : parts) n += b.size();
  Bytes out;
  out.reserve(n);
  for (const Bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
  return out;
}
const Bytes kE3 = {0x03};

// A CRT-fast key whose components are recognisable patterns (no arithmetic here).
void fill_pattern(PriKey& key, const Bytes& e) {
  const uint32_t L = key->rsa_size / 8, H = key->rsa_size / 16;
  Bytes full(L), half(H);
  for (uint32_t i = 0; i < L; ++i) full[i] = static_cast<uint8_t>(0x80 | i);
  for (uint32_t i = 0; i < H; ++i) half[i] = static_cast<uint8_t>(0xC0 | i);
  ASSERT_EQ(0u, rsa_prikey_value_set(key.get(), L, full.data(), static_cast<uint32_t>(e.size()),
                                     e.data(), L, full.data(), H, half.data(), H, half.data(), H,
                                     half.data(), H, half.data(), H, half.data()));
}

}  // namespace

TEST(RsaKeyObject, AllocSetsLengthsAndState) {
  PriKey key(2048);
  EXPECT_EQ(0x5D1C4A00u, key->state);
  const uint32_t lens[8] = {key->n_modulus_len,  key->e_exponent_len,  key->d_exponent_len,
                            key->p_prime_len,    key->q_prime_len,     key->dp_exponent_len,
                            key->dq_exponent_len, key->crt_coefficient_len};
  const uint32_t want[8] = {256, 256, 256, 128, 128, 128, 128, 128};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(want[i], lens[i]) << i;
  fill_pattern(key, kE65537);
  EXPECT_EQ(0x5D1C4BFFu, key->state);

  PubKey pub(2048);
  EXPECT_EQ(0xFBC942BCu, pub->state);
  rt::load_pubkey(pub, Bytes(256, 0x80), kE65537);
  EXPECT_EQ(0xFBC943BFu, pub->state);
}

TEST(RsaKeyObject, AllocFailuresLeaveInvalidKeys) {
  rsa_prikey_t k{};
  ASSERT_EQ(0u, rsa_prikey_init(&k, RSA_SIZE_2048));
  EXPECT_EQ(0x0418FF58u, rsa_prikey_value_alloc(&k, static_cast<rsa_keytype_t>(4)));
  EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, k.state);
  EXPECT_EQ(0u, rsa_prikey_value_free(&k));
  EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, k.state);

  ASSERT_EQ(0u, rsa_prikey_init(&k, static_cast<rsa_size_t>(1536)));
  EXPECT_EQ(0x0418FF5Bu, rsa_prikey_value_alloc(&k, RSA_KEYTYPE_CRT));

  rsa_pubkey_t p{};
  ASSERT_EQ(0u, rsa_pubkey_init(&p, RSA_SIZE_8192));
  EXPECT_EQ(0x0419FF5Bu, rsa_pubkey_value_alloc(&p));
  EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, p.state);
  EXPECT_EQ(0u, rsa_pubkey_value_free(&p));
  EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, p.state);
}

TEST(RsaKeyObject, SetRightAlignsAndTracksE65537BothWays) {
  PubKey pub(2048);
  ASSERT_EQ(0u, rsa_pubkey_value_set(pub.get(), 0, nullptr, 3, kE65537.data()));
  Bytes want(256, 0);
  want[253] = 1;
  want[255] = 1;
  EXPECT_EQ(want, Bytes(pub->e_exponent, pub->e_exponent + 256));
  EXPECT_TRUE(pub->state & RSA_FLAG_E65537);
  // e = 3 after 65537 must clear the flag, or the fixed-65537 path would run.
  ASSERT_EQ(0u, rsa_pubkey_value_set(pub.get(), 0, nullptr, 1, kE3.data()));
  EXPECT_FALSE(pub->state & RSA_FLAG_E65537);

  PriKey pri(1024);
  ASSERT_EQ(0u, rsa_prikey_value_set(pri.get(), 0, nullptr, 3, kE65537.data(), 0, nullptr, 0,
                                     nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(pri->state & RSA_FLAG_E65537);
  ASSERT_EQ(0u, rsa_prikey_value_set(pri.get(), 0, nullptr, 1, kE3.data(), 0, nullptr, 0, nullptr,
                                     0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_FALSE(pri->state & RSA_FLAG_E65537);
}

TEST(RsaKeyObject, SetErrors) {
  PriKey noncrt(2048, RSA_KEYTYPE_NONCRT);
  const Bytes half(128, 0xC1);
  EXPECT_EQ(0x041AFF05u, rsa_prikey_value_set(noncrt.get(), 0, nullptr, 0, nullptr, 0, nullptr,
                                              128, half.data(), 0, nullptr, 0, nullptr, 0,
                                              nullptr, 0, nullptr));
  EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, noncrt->state);

  PubKey pub(1024);
  const Bytes long_n(129, 1);
  EXPECT_EQ(0x041BFF5Cu, rsa_pubkey_value_set(pub.get(), 129, long_n.data(), 0, nullptr));
  EXPECT_EQ(0x041BFF09u, rsa_pubkey_value_set(pub.get(), 3, kE65537.data(), 0, nullptr));
}

TEST(RsaKeyObject, CheckE65537) {
  struct Case {
    Bytes e;
    bool want;
  } cases[] = {{{0x01, 0x00}, false},
               {{0x00, 0x00, 0x01, 0x00, 0x01}, true},
               {{0x01, 0x00, 0x01, 0x00}, false},
               {{0x01, 0x00, 0x01}, true},
               {{0x01, 0x00, 0x00, 0x01}, false},
               {{0x01, 0x00, 0x03}, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, rsa_check_e_is_65537(static_cast<uint32_t>(c.e.size()), c.e.data()))
        << zt::hex(c.e);
  }
}

TEST(RsaKeyObject, GetReportsLengthsAndShortBuffers) {
  PriKey key(1024);
  fill_pattern(key, kE65537);
  uint32_t n_len = 100;
  Bytes n(128);
  EXPECT_EQ(0x0422FF06u, rsa_prikey_value_get(key.get(), nullptr, &n_len, n.data(), nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr));
  EXPECT_EQ(128u, n_len);
  rsa_size_t size{};
  uint32_t qinv_len = 64;
  Bytes qinv(64);
  ASSERT_EQ(0u, rsa_prikey_value_get(key.get(), &size, &n_len, n.data(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, &qinv_len, qinv.data()));
  EXPECT_EQ(RSA_SIZE_1024, size);
  EXPECT_EQ(0, std::memcmp(n.data(), key->n_modulus, 128));
  EXPECT_EQ(0, std::memcmp(qinv.data(), key->crt_coefficient, 64));

  PriKey empty(1024);  // no usable set yet
  EXPECT_EQ(0x0422FF09u, rsa_prikey_value_get(empty.get(), &size, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr));
}

// A mapped key that becomes invalid must not free the caller's buffers: the
// vectors below are freed by their owner (ASan reports a double or bad free).
TEST(RsaKeyObject, FreeingAnInvalidMappedKeyLeavesCallerBuffers) {
  std::vector<uint8_t> n(128, 0xA5), e(128, 0), d(128, 0x5A);
  e[125] = 1;
  e[127] = 1;
  rsa_prikey_t k{};
  ASSERT_EQ(0u, rsa_prikey_init(&k, RSA_SIZE_1024));
  ASSERT_EQ(0u, rsa_prikey_value_mapping(&k, 128, n.data(), 128, e.data(), 128, d.data(), 0,
                                         nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(RSA_PRIKEY_STATE_ACTIVE | RSA_FLAG_MAPPED | RSA_FLAG_E65537 | 0x07, k.state);
  // Freeing a mapped key is refused and leaves it invalid ...
  EXPECT_EQ(0x041CFF09u, rsa_prikey_value_free(&k));
  EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, k.state);
  // ... and freeing the invalid key now forgets the references without freeing them.
  EXPECT_EQ(0u, rsa_prikey_value_free(&k));
  EXPECT_EQ(nullptr, k.n_modulus);
  EXPECT_EQ(std::vector<uint8_t>(128, 0xA5), n);
  EXPECT_EQ(std::vector<uint8_t>(128, 0x5A), d);

  std::vector<uint8_t> pn(64, 0x77), pe(64, 0);
  pe[63] = 3;
  rsa_pubkey_t p{};
  ASSERT_EQ(0u, rsa_pubkey_init(&p, RSA_SIZE_512));
  ASSERT_EQ(0u, rsa_pubkey_value_mapping(&p, 64, pn.data(), 64, pe.data()));
  EXPECT_FALSE(p.state & RSA_FLAG_E65537);
  EXPECT_EQ(0x041FFF5Cu, rsa_pubkey_value_mapping(&p, 63, pn.data(), 0, nullptr));
  EXPECT_EQ(0u, rsa_pubkey_value_free(&p));
  EXPECT_EQ(std::vector<uint8_t>(64, 0x77), pn);
}

// ---- raw blobs ----

TEST(RsaRawBlob, PrivateBlobLayoutAndCapacity) {
  PriKey key(2048);
  fill_pattern(key, kE65537);
  uint32_t len = 1411;
  Bytes raw(1412);
  EXPECT_EQ(0x0471FF71u, rsa_prikey_to_raw(key.get(), &len, raw.data()));
  EXPECT_EQ(1412u, len);
  ASSERT_EQ(0u, rsa_prikey_to_raw(key.get(), &len, raw.data()));
  EXPECT_EQ(1412u, len);
  EXPECT_EQ((Bytes{0x00, 0x08, 0xFF, 0x01}), Bytes(raw.begin(), raw.begin() + 4));
  EXPECT_EQ(0, std::memcmp(raw.data() + 4, key->n_modulus, 256));
  EXPECT_EQ(0, std::memcmp(raw.data() + 4 + 3 * 256 + 4 * 128, key->crt_coefficient, 128));

  PriKey back(2048);
  ASSERT_EQ(0u, rsa_raw_to_prikey(len, raw.data(), back.get()));
  EXPECT_EQ(key->state, back->state);
  EXPECT_EQ(0, std::memcmp(back->dq_exponent, key->dq_exponent, 128));
}

TEST(RsaRawBlob, UnusableSetsAndShortBlobs) {
  PriKey key(1024);
  ASSERT_EQ(0u, rsa_prikey_value_set(key.get(), 0, nullptr, 3, kE65537.data(), 1, kE3.data(), 0,
                                     nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  uint32_t len = 2000;
  Bytes raw(2000);
  EXPECT_EQ(0x0471FF09u, rsa_prikey_to_raw(key.get(), &len, raw.data()));

  const Bytes mask3 = {0x00, 0x04, 0x03, 0x00};
  rsa_keytype_t type{};
  EXPECT_EQ(0x0470FF70u, rsa_raw_prikey_get_length(4, mask3.data(), nullptr, &type));
  EXPECT_EQ(0x0470FF71u, rsa_raw_to_prikey(3, mask3.data(), key.get()));
}

TEST(RsaRawBlob, NonCrtBlobLoads) {
  Bytes n(128, 0xE1), e(128, 0), d(128, 0x35);
  e[125] = e[127] = 1;
  const Bytes raw = cat({{0x00, 0x04, 0x07, 0x01}, n, e, d});
  ASSERT_EQ(388u, raw.size());
  rsa_size_t size{};
  rsa_keytype_t type{};
  ASSERT_EQ(0u, rsa_raw_prikey_get_length(388, raw.data(), &size, &type));
  EXPECT_EQ(RSA_SIZE_1024, size);
  EXPECT_EQ(RSA_KEYTYPE_NONCRT, type);
  PriKey key(1024, RSA_KEYTYPE_NONCRT);
  ASSERT_EQ(0u, rsa_raw_to_prikey(388, raw.data(), key.get()));
  EXPECT_EQ(0x5D1C4A00u | 0x107u, key->state);
  EXPECT_EQ(0x0472FF71u, rsa_raw_to_prikey(387, raw.data(), key.get()));
}

// The e = 65537 flag of a loaded key follows e itself, whatever the blob's mask says.
TEST(RsaRawBlob, E65537FlagDerivedFromE) {
  Bytes n(64, 0xD3), e3(64, 0);
  e3[63] = 3;
  const Bytes pub = cat({{0x00, 0x02, 0x03, 0x01}, n, e3});  // claims e = 65537
  PubKey key(512);
  ASSERT_EQ(0u, rsa_raw_to_pubkey(static_cast<uint32_t>(pub.size()), pub.data(), key.get()));
  EXPECT_FALSE(key->state & RSA_FLAG_E65537);

  Bytes e65537(64, 0);
  e65537[61] = e65537[63] = 1;
  const Bytes pub2 = cat({{0x00, 0x02, 0x03, 0x00}, n, e65537});  // does not claim it
  ASSERT_EQ(0u, rsa_raw_to_pubkey(static_cast<uint32_t>(pub2.size()), pub2.data(), key.get()));
  EXPECT_TRUE(key->state & RSA_FLAG_E65537);

  const Bytes pri = cat({{0x00, 0x02, 0x07, 0x01}, n, e3, n});
  PriKey pk(512, RSA_KEYTYPE_NONCRT);
  ASSERT_EQ(0u, rsa_raw_to_prikey(static_cast<uint32_t>(pri.size()), pri.data(), pk.get()));
  EXPECT_FALSE(pk->state & RSA_FLAG_E65537);
}

TEST(RsaRawBlob, RefusesForeignMaskBitsAndOtherSizes) {
  Bytes pri(4 + 3 * 64, 0x11);
  pri[0] = 0x00;
  pri[1] = 0x02;
  pri[2] = 0x07;
  pri[3] = 0x02;  // 0x0207: bit 0x200 is outside the format
  PriKey pk(512, RSA_KEYTYPE_NONCRT);
  EXPECT_EQ(0x0470FF70u, rsa_raw_to_prikey(static_cast<uint32_t>(pri.size()), pri.data(), pk.get()));
  EXPECT_EQ(0x5D1C4A00u, pk->state);

  Bytes pub(4 + 2 * 64, 0x22);
  pub[0] = 0x00;
  pub[1] = 0x02;
  pub[2] = 0x07;  // 0x0007: d's bit in a public blob
  pub[3] = 0x00;
  PubKey key(512);
  EXPECT_EQ(0x0473FF70u, rsa_raw_to_pubkey(static_cast<uint32_t>(pub.size()), pub.data(), key.get()));

  // A 512-bit blob given to a 1024-bit key is refused, not read as another key.
  pub[2] = 0x03;
  Bytes big = pub;
  big.resize(4 + 2 * 128, 0);
  PubKey key1024(1024);
  EXPECT_EQ(0x0475FF5Cu, rsa_raw_to_pubkey(static_cast<uint32_t>(big.size()), big.data(), key1024.get()));
  EXPECT_EQ(0xFBC942BCu, key1024->state);
  pri[3] = 0x00;
  pri.resize(4 + 3 * 128, 0);
  PriKey pk1024(1024, RSA_KEYTYPE_NONCRT);
  EXPECT_EQ(0x0472FF5Cu, rsa_raw_to_prikey(static_cast<uint32_t>(pri.size()), pri.data(), pk1024.get()));
}

TEST(RsaRawBlob, PublicRoundTrip) {
  PubKey key(4096);
  rt::load_pubkey(key, Bytes(512, 0x9C), kE65537);
  uint32_t len = 0;
  Bytes raw(1028);
  EXPECT_EQ(0x0474FF71u, rsa_pubkey_to_raw(key.get(), &len, raw.data()));
  EXPECT_EQ(1028u, len);
  ASSERT_EQ(0u, rsa_pubkey_to_raw(key.get(), &len, raw.data()));
  EXPECT_EQ((Bytes{0x00, 0x10, 0x03, 0x01}), Bytes(raw.begin(), raw.begin() + 4));
  PubKey back(4096);
  ASSERT_EQ(0u, rsa_raw_to_pubkey(len, raw.data(), back.get()));
  EXPECT_EQ(key->state, back->state);
  EXPECT_EQ(0, std::memcmp(back->n_modulus, key->n_modulus, 512));
  EXPECT_EQ(0x0475FF71u, rsa_raw_to_pubkey(1027, raw.data(), back.get()));
}
