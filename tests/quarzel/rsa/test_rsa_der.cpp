// DER readers and writers against OpenSSL's encodings.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "quarzel/rsa_key.h"
#include "rsa_test_util.h"

using rt::Bytes;
using rt::PriKey;
using rt::PubKey;

namespace {

const Bytes kRsaOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

struct Fixture {
  Bytes pkcs8;
  rt::Evp evp;
  uint32_t bits;
  rt::Components c;
  explicit Fixture(const std::string& file)
      : pkcs8(rt::wycheproof_pkcs8(file)), evp(rt::evp_from_pkcs8(pkcs8)),
        bits(rt::evp_bits(evp.get())), c(rt::components_of(evp.get(), bits)) {}
};

Bytes write_with(const std::function<quarzel_ret_t(uint32_t*, uint8_t*)>& fn) {
  uint32_t len = 0;
  uint8_t probe = 0;
  EXPECT_EQ(0x71u, fn(&len, &probe) & 0xFFFFu & 0xFF);  // capacity 0: needed length
  Bytes out(len);
  EXPECT_EQ(0u, fn(&len, out.data()));
  EXPECT_EQ(out.size(), len);
  return out;
}

// Every proper prefix, and the input with one byte added, must be refused;
// each is read from a buffer of exactly its size so ASan sees any over-read.
void expect_truncations_refused(const Bytes& der,
                                const std::function<quarzel_ret_t(uint32_t, const uint8_t*)>& read) {
  for (size_t n = 0; n < der.size(); ++n) {
    std::vector<uint8_t> prefix(der.begin(), der.begin() + n);
    uint8_t dummy = 0;
    EXPECT_NE(0u, read(static_cast<uint32_t>(n), n == 0 ? &dummy : prefix.data())) << "prefix " << n;
  }
  std::vector<uint8_t> longer = der;
  longer.push_back(0x00);
  EXPECT_NE(0u, read(static_cast<uint32_t>(longer.size()), longer.data()));
}

}  // namespace

class RsaDerBySize : public ::testing::TestWithParam<const char*> {};

TEST_P(RsaDerBySize, WritersMatchOpenSsl) {
  Fixture f(GetParam());
  PriKey key(f.bits);
  rt::load_prikey(key, f.c);
  PubKey pub(f.bits);
  rt::load_pubkey(pub, f.c.n, f.c.e);

  EXPECT_EQ(rt::i2d_pkcs1_private(f.evp.get()), write_with([&](uint32_t* l, uint8_t* o) {
              return rsa_prikey_to_pkcs1_der(key.get(), l, o);
            }));
  EXPECT_EQ(rt::i2d_pkcs8(f.evp.get()), write_with([&](uint32_t* l, uint8_t* o) {
              return rsa_prikey_to_pkcs8_der(key.get(), 9, kRsaOid.data(), l, o);
            }));
  EXPECT_EQ(f.pkcs8, write_with([&](uint32_t* l, uint8_t* o) {
              return rsa_prikey_to_pkcs8_der(key.get(), 9, kRsaOid.data(), l, o);
            }));
  EXPECT_EQ(rt::i2d_pkcs1_public(f.evp.get()), write_with([&](uint32_t* l, uint8_t* o) {
              return rsa_pubkey_to_pkcs1_der(pub.get(), l, o);
            }));
  EXPECT_EQ(rt::i2d_spki(f.evp.get()), write_with([&](uint32_t* l, uint8_t* o) {
              return rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), l, o);
            }));
}

TEST_P(RsaDerBySize, ReadersLoadOpenSslEncodings) {
  Fixture f(GetParam());
  uint32_t bits = 0;
  ASSERT_EQ(0u, rsa_pkcs8_prikey_der_get_length(static_cast<uint32_t>(f.pkcs8.size()), f.pkcs8.data(), &bits));
  EXPECT_EQ(f.bits, bits);
  PriKey key(bits);
  uint32_t oid_len = 16;
  Bytes oid(16);
  ASSERT_EQ(0u, rsa_pkcs8_der_to_prikey(static_cast<uint32_t>(f.pkcs8.size()), f.pkcs8.data(),
                                        key.get(), &oid_len, oid.data()));
  EXPECT_EQ(kRsaOid, Bytes(oid.begin(), oid.begin() + oid_len));
  EXPECT_EQ(0x5D1C4BFFu, key->state);
  EXPECT_EQ(f.c.d, Bytes(key->d_exponent, key->d_exponent + bits / 8));
  EXPECT_EQ(f.c.qinv, Bytes(key->crt_coefficient, key->crt_coefficient + bits / 16));

  const Bytes pkcs1 = rt::i2d_pkcs1_private(f.evp.get());
  PriKey key2(bits);
  ASSERT_EQ(0u, rsa_pkcs1_der_to_prikey(static_cast<uint32_t>(pkcs1.size()), pkcs1.data(), key2.get()));
  EXPECT_EQ(0, std::memcmp(key2->p_prime, key->p_prime, bits / 16));

  const Bytes spki = rt::i2d_spki(f.evp.get());
  ASSERT_EQ(0u, rsa_x509_pubkey_der_get_length(static_cast<uint32_t>(spki.size()), spki.data(), &bits));
  EXPECT_EQ(f.bits, bits);
  PubKey pub(bits);
  ASSERT_EQ(0u, rsa_x509_der_to_pubkey(static_cast<uint32_t>(spki.size()), spki.data(), pub.get(),
                                       nullptr, nullptr));
  EXPECT_EQ(0xFBC943BFu, pub->state);
  EXPECT_EQ(f.c.n, Bytes(pub->n_modulus, pub->n_modulus + bits / 8));
}

INSTANTIATE_TEST_SUITE_P(Wycheproof, RsaDerBySize,
                         ::testing::Values("rsa_pkcs1_2048.json", "rsa_pkcs1_3072.json",
                                           "rsa_pkcs1_4096.json"));

TEST(RsaDer, ReadersRefuseEveryTruncation) {
  Fixture f("rsa_pkcs1_2048.json");
  const Bytes pkcs1 = rt::i2d_pkcs1_private(f.evp.get());
  const Bytes pub1 = rt::i2d_pkcs1_public(f.evp.get());
  const Bytes spki = rt::i2d_spki(f.evp.get());
  expect_truncations_refused(f.pkcs8, [&](uint32_t n, const uint8_t* p) {
    PriKey k(2048);
    uint32_t bits = 0;
    const quarzel_ret_t r = rsa_pkcs8_der_to_prikey(n, p, k.get(), nullptr, nullptr);
    (void)rsa_pkcs8_prikey_der_get_length(n, p, &bits);
    return r;
  });
  expect_truncations_refused(pkcs1, [&](uint32_t n, const uint8_t* p) {
    PriKey k(2048);
    uint32_t bits = 0;
    (void)rsa_pkcs1_prikey_der_get_length(n, p, &bits);
    return rsa_pkcs1_der_to_prikey(n, p, k.get());
  });
  expect_truncations_refused(pub1, [&](uint32_t n, const uint8_t* p) {
    PubKey k(2048);
    uint32_t bits = 0;
    (void)rsa_pkcs1_pubkey_der_get_length(n, p, &bits);
    return rsa_pkcs1_der_to_pubkey(n, p, k.get());
  });
  expect_truncations_refused(spki, [&](uint32_t n, const uint8_t* p) {
    PubKey k(2048);
    uint32_t bits = 0;
    (void)rsa_x509_pubkey_der_get_length(n, p, &bits);
    return rsa_x509_der_to_pubkey(n, p, k.get(), nullptr, nullptr);
  });
}

// Inner lengths that run past the end, or wrap a 32-bit offset, are refused
// before anything is read from them.
TEST(RsaDer, InnerLengthsPastTheEndAreRefused) {
  Fixture f("rsa_pkcs1_2048.json");
  const Bytes pub1 = rt::i2d_pkcs1_public(f.evp.get());  // 30 82 01 0a 02 82 01 01 00 ...
  ASSERT_EQ(0x02, pub1[4]);
  for (const Bytes& len : {Bytes{0x82, 0x01, 0x0B}, Bytes{0x84, 0xFF, 0xFF, 0xFF, 0xF8},
                           Bytes{0x84, 0x7F, 0xFF, 0xFF, 0xFF}}) {
    Bytes bad(pub1.begin(), pub1.begin() + 5);
    bad.insert(bad.end(), len.begin(), len.end());
    bad.insert(bad.end(), pub1.begin() + 8, pub1.end());
    // Keep the outer length consistent with the new size.
    const uint32_t content = static_cast<uint32_t>(bad.size() - 4);
    bad[2] = static_cast<uint8_t>(content >> 8);
    bad[3] = static_cast<uint8_t>(content);
    PubKey k(2048);
    EXPECT_NE(0u, rsa_pkcs1_der_to_pubkey(static_cast<uint32_t>(bad.size()), bad.data(), k.get()));
    uint32_t bits = 0;
    EXPECT_NE(0u, rsa_pkcs1_pubkey_der_get_length(static_cast<uint32_t>(bad.size()), bad.data(), &bits));
  }
}

TEST(RsaDer, ReaderErrorWords) {
  Fixture f("rsa_pkcs1_2048.json");
  Bytes pkcs1 = rt::i2d_pkcs1_private(f.evp.get());
  PriKey small(1024);
  EXPECT_EQ(0x0461FF73u, rsa_pkcs1_der_to_prikey(static_cast<uint32_t>(pkcs1.size()), pkcs1.data(), small.get()));

  Bytes v1 = pkcs1;
  ASSERT_EQ((Bytes{0x02, 0x01, 0x00}), Bytes(v1.begin() + 4, v1.begin() + 7));
  v1[6] = 0x01;
  PriKey k(2048);
  EXPECT_EQ(0x0460FF71u, rsa_pkcs1_der_to_prikey(static_cast<uint32_t>(v1.size()), v1.data(), k.get()));

  Bytes extra = pkcs1;
  extra.push_back(0);
  EXPECT_EQ(0x0460FF71u, rsa_pkcs1_der_to_prikey(static_cast<uint32_t>(extra.size()), extra.data(), k.get()));

  uint32_t oid_len = 4;
  Bytes oid(4);
  EXPECT_EQ(0x0464FF06u, rsa_pkcs8_der_to_prikey(static_cast<uint32_t>(f.pkcs8.size()), f.pkcs8.data(),
                                                 k.get(), &oid_len, oid.data()));
  EXPECT_EQ(9u, oid_len);
  oid_len = 0;
  EXPECT_EQ(0u, rsa_pkcs8_der_to_prikey(static_cast<uint32_t>(f.pkcs8.size()), f.pkcs8.data(), k.get(),
                                        &oid_len, nullptr));
  EXPECT_EQ(9u, oid_len);

  Bytes spki = rt::i2d_spki(f.evp.get());  // 30 82 01 22 30 0d ... 03 82 01 0f 00 30 ...
  ASSERT_EQ(0x03, spki[19]);
  ASSERT_EQ(0x00, spki[23]);
  spki[23] = 0x01;
  PubKey pub(2048);
  EXPECT_EQ(0x0466F4A1u, rsa_x509_der_to_pubkey(static_cast<uint32_t>(spki.size()), spki.data(),
                                                pub.get(), nullptr, nullptr));
}

TEST(RsaDer, WriterEdgeCases) {
  Fixture f("rsa_pkcs1_2048.json");
  PubKey pub(2048);
  rt::load_pubkey(pub, f.c.n, f.c.e);
  uint32_t need = 0;
  uint8_t probe = 0;
  EXPECT_EQ(0x046BFF71u, rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), &need, &probe));
  uint32_t len = need - 1;
  Bytes out(need);
  EXPECT_EQ(0x046BFF71u, rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), &len, out.data()));
  EXPECT_EQ(need, len);
  ASSERT_EQ(0u, rsa_pubkey_to_x509_der(pub.get(), 9, kRsaOid.data(), &len, out.data()));

  // The modulus has its top bit set: 02 82 01 01 00 ..., and e = 65537 is 02 03 01 00 01.
  Bytes pkcs1(600);
  len = 600;
  ASSERT_EQ(0u, rsa_pubkey_to_pkcs1_der(pub.get(), &len, pkcs1.data()));
  EXPECT_EQ((Bytes{0x02, 0x82, 0x01, 0x01, 0x00}), Bytes(pkcs1.begin() + 4, pkcs1.begin() + 9));
  EXPECT_EQ((Bytes{0x02, 0x03, 0x01, 0x00, 0x01}), Bytes(pkcs1.begin() + len - 5, pkcs1.begin() + len));

  PubKey empty(2048);
  EXPECT_EQ(0x0469FF09u, rsa_pubkey_to_pkcs1_der(empty.get(), &len, pkcs1.data()));
  PriKey nokey(2048);
  EXPECT_EQ(0x0468FF09u, rsa_prikey_to_pkcs1_der(nokey.get(), &len, pkcs1.data()));
}

// An all-zero component is written as INTEGER 0 (02 01 00), without reading
// before or past its buffer, and reads back.
TEST(RsaDer, ZeroComponentWritesIntegerZero) {
  Fixture f("rsa_pkcs1_2048.json");
  PriKey key(2048);
  rt::Components c = f.c;
  std::fill(c.dq.begin(), c.dq.end(), 0);
  rt::load_prikey(key, c);
  uint32_t len = 0;
  uint8_t probe = 0;
  (void)rsa_prikey_to_pkcs1_der(key.get(), &len, &probe);
  Bytes der(len);
  ASSERT_EQ(0u, rsa_prikey_to_pkcs1_der(key.get(), &len, der.data()));
  const Bytes pattern = {0x02, 0x01, 0x00, 0x02, 0x81};  // dq = 0, then qinv (128 or 129 bytes)
  EXPECT_NE(der.end(), std::search(der.begin() + 7, der.end(), pattern.begin(), pattern.begin() + 4));
  PriKey back(2048);
  ASSERT_EQ(0u, rsa_pkcs1_der_to_prikey(len, der.data(), back.get()));
  EXPECT_EQ(Bytes(128, 0), Bytes(back->dq_exponent, back->dq_exponent + 128));
}
