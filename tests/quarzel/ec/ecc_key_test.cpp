// EC key objects, raw key blobs and key-pair generation.
#include <gtest/gtest.h>

#include <cstring>

#include "ec_test_util.h"
#include "quarzel/testing.h"

namespace {

using ect::Bytes;

TEST(EccKey, PrivateLifecycleAndBlob) {
  ecc_prikey_t k;
  ASSERT_EQ(ecc_prikey_init(&k, ECC_CRV_NIST_P256), 0u);
  EXPECT_EQ(k.state, 0xB403E030u);
  ASSERT_EQ(ecc_prikey_value_alloc(&k), 0u);
  EXPECT_EQ(k.state, 0x1C5C2E4Au);
  Bytes d(31);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i + 1);
  ASSERT_EQ(ecc_prikey_value_set(&k, 31, d.data()), 0u);
  EXPECT_EQ(k.state, 0x1C5C2E4Bu);
  EXPECT_EQ(k.d_value[0], 0);
  EXPECT_EQ(std::memcmp(k.d_value + 1, d.data(), 31), 0);

  Bytes raw(40, 0xAA);
  uint32_t len = 35;
  EXPECT_EQ(ecc_prikey_to_raw(&k, &len, raw.data()), 0x0261FF71u);
  EXPECT_EQ(len, 36u);
  ASSERT_EQ(ecc_prikey_to_raw(&k, &len, raw.data()), 0u);
  EXPECT_EQ(len, 36u);
  EXPECT_EQ(raw[0], 0x12);
  // The reserved bytes are written as zero: no stale caller bytes in the file.
  EXPECT_EQ(raw[1], 0);
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(raw[3], 0);
  EXPECT_EQ(std::memcmp(raw.data() + 4, k.d_value, 32), 0);
  EXPECT_EQ(raw[36], 0xAA);

  ecc_prikey_t back;
  ecc_prikey_init(&back, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_prikey_value_alloc(&back), 0u);
  ASSERT_EQ(ecc_raw_to_prikey(36, raw.data(), &back), 0u);
  EXPECT_EQ(back.state, 0x1C5C2E4Bu);
  EXPECT_EQ(std::memcmp(back.d_value, k.d_value, 32), 0);

  Bytes out(31);
  uint32_t out_len = 31;
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  EXPECT_EQ(ecc_prikey_value_get(&k, &crv, &out_len, out.data()), 0x020DFF06u);
  EXPECT_EQ(out_len, 32u);
  out.resize(32);
  ASSERT_EQ(ecc_prikey_value_get(&k, &crv, &out_len, out.data()), 0u);
  EXPECT_EQ(crv, ECC_CRV_NIST_P256);

  EXPECT_EQ(ecc_prikey_value_free(&k), 0u);
  EXPECT_EQ(k.state, 0xB403E030u);
  EXPECT_EQ(k.d_value, nullptr);
  EXPECT_EQ(ecc_prikey_value_free(&back), 0u);
}

TEST(EccKey, ErrorsMarkTheKeyInvalid) {
  ecc_prikey_t k;
  ecc_prikey_init(&k, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_prikey_value_alloc(&k), 0u);
  Bytes d33(33, 1);
  EXPECT_EQ(ecc_prikey_value_set(&k, 33, d33.data()), 0x0205FF31u);
  EXPECT_EQ(k.state, 0xEF0B5652u);
  EXPECT_EQ(ecc_prikey_value_free(&k), 0u);  // frees the buffer, stays invalid
  EXPECT_EQ(k.state, 0xEF0B5652u);
  EXPECT_EQ(k.d_value, nullptr);

  ecc_prikey_init(&k, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_prikey_value_alloc(&k), 0u);
  EXPECT_EQ(ecc_prikey_value_alloc(&k), 0x0203FF09u);
  EXPECT_EQ(k.state, 0xEF0B5652u);
  EXPECT_EQ(ecc_prikey_value_free(&k), 0u);

  ecc_prikey_init(&k, ECC_CRV_BP160R1);
  EXPECT_EQ(ecc_prikey_value_alloc(&k), 0x02148481u);
  EXPECT_EQ(k.state, 0xEF0B5652u);
}

TEST(EccKey, InvalidMappedKeyNeverFreesCallerMemory) {
  // A mapped key that fails becomes invalid; freeing it must not release the
  // caller's buffer (under ASan a stray free of this stack buffer aborts).
  uint8_t d[32];
  std::memset(d, 0x42, sizeof d);
  ecc_prikey_t k;
  ecc_prikey_init(&k, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_prikey_value_mapping(&k, 32, d), 0u);
  EXPECT_EQ(k.state, ECC_PRIKEY_ACTIVE | ECC_PRIKEY_MAPPED | ECC_PRIKEY_D_SET);
  Bytes long_d(40, 1);
  EXPECT_EQ(ecc_prikey_value_set(&k, 40, long_d.data()), 0x0205FF31u);
  EXPECT_EQ(ecc_prikey_value_free(&k), 0u);
  EXPECT_EQ(d[0], 0x42);

  uint8_t x[32] = {}, y[32] = {};
  ecc_pubkey_t q;
  ecc_pubkey_init(&q, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_pubkey_value_mapping(&q, 32, x, 32, y), 0u);
  EXPECT_EQ(ecc_pubkey_value_free(&q), 0x0208FF09u);  // a mapped key is refused
  EXPECT_EQ(q.state, 0x2979BEF9u);
  EXPECT_EQ(ecc_pubkey_value_free(&q), 0u);  // and stays harmless afterwards
}

TEST(EccKey, FreeingAnObjectReleasesItsValues) {
  // Leak checking of the sanitizer build reports a buffer left behind.
  ecc_prikey_t* d = nullptr;
  ecc_pubkey_t* q = nullptr;
  ASSERT_EQ(ecc_prikey_alloc(&d), 0u);
  ASSERT_EQ(ecc_pubkey_alloc(&q), 0u);
  ecc_prikey_init(d, ECC_CRV_NIST_P384);
  ecc_pubkey_init(q, ECC_CRV_NIST_P384);
  ASSERT_EQ(ecc_prikey_value_alloc(d), 0u);
  ASSERT_EQ(ecc_pubkey_value_alloc(q), 0u);
  ASSERT_EQ(ecc_gen_keypair(ECC_CRV_NIST_P384, ECC_KEYGEN_REJECT_SAMPLING, d, q), 0u);
  EXPECT_EQ(ecc_prikey_free(&d), 0u);
  EXPECT_EQ(ecc_pubkey_free(&q), 0u);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(ecc_prikey_free(&d), 0u);  // a second call finds nothing
}

TEST(EccKey, PublicKeyRules) {
  ecc_pubkey_t q;
  ecc_pubkey_init(&q, ECC_CRV_NIST_P256);
  uint8_t x31[31] = {}, y32[32] = {};
  EXPECT_EQ(ecc_pubkey_value_mapping(&q, 31, x31, 32, y32), 0x020AFF34u);

  ecc_pubkey_init(&q, ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_pubkey_value_alloc(&q), 0u);
  EXPECT_EQ(q.state, 0xB3E0EA94u);
  Bytes x(32, 7);
  ASSERT_EQ(ecc_pubkey_value_set(&q, 32, x.data(), 0, nullptr), 0u);
  uint8_t ox[32], oy[32];
  uint32_t lx = 32, ly = 32;
  EXPECT_EQ(ecc_pubkey_value_get(&q, nullptr, &lx, ox, &ly, oy), 0x020DFF09u);
  Bytes y(30, 9);
  ASSERT_EQ(ecc_pubkey_value_set(&q, 0, nullptr, 30, y.data()), 0u);
  EXPECT_EQ(q.state, 0xB3E0EA97u);
  ASSERT_EQ(ecc_pubkey_value_get(&q, nullptr, &lx, ox, &ly, oy), 0u);
  EXPECT_EQ(oy[0], 0);
  EXPECT_EQ(oy[2], 9);

  Bytes blob(100, 0xCC);
  uint32_t len = 100;
  ASSERT_EQ(ecc_pubkey_to_raw(&q, &len, blob.data()), 0u);
  EXPECT_EQ(len, 68u);
  EXPECT_EQ(blob[0], 18);
  EXPECT_EQ(blob[1] | blob[2] | blob[3], 0);

  ecc_pubkey_t back;
  ecc_pubkey_init(&back, ECC_CRV_NIST_P256);
  EXPECT_EQ(ecc_raw_to_pubkey(68, blob.data(), &back), 0x0265FF09u);  // not active yet
  ASSERT_EQ(ecc_pubkey_value_alloc(&back), 0u);
  EXPECT_EQ(ecc_raw_to_pubkey(3, blob.data(), &back), 0x0263FF71u);
  EXPECT_EQ(ecc_raw_to_pubkey(67, blob.data(), &back), 0x0265FF71u);
  ASSERT_EQ(ecc_raw_to_pubkey(68, blob.data(), &back), 0u);
  EXPECT_EQ(std::memcmp(back.q_point_x, q.q_point_x, 32), 0);
  EXPECT_EQ(std::memcmp(back.q_point_y, q.q_point_y, 32), 0);
  EXPECT_EQ(ecc_pubkey_value_free(&q), 0u);
  EXPECT_EQ(ecc_pubkey_value_free(&back), 0u);
}

TEST(EccKey, BlobOfAnotherCurveIsRefused) {
  struct Case {
    ecc_crv_t blob_curve;
    uint32_t blob_L;
  };
  // Shorter (P-224) and equally long (brainpoolP256r1) values of other curves.
  for (const Case& c : {Case{ECC_CRV_NIST_P224, 28}, Case{ECC_CRV_BP256R1, 32}}) {
    Bytes raw(4 + 2 * c.blob_L, 0x11);
    raw[0] = static_cast<uint8_t>(c.blob_curve);
    ect::PriKey pri(ECC_CRV_NIST_P256);
    EXPECT_EQ(ecc_raw_to_prikey(static_cast<uint32_t>(raw.size()), raw.data(), &pri.k), 0x0262FF38u);
    EXPECT_EQ(pri.k.state & ECC_PRIKEY_D_SET, 0u);
    ect::PubKey pub(ECC_CRV_NIST_P256);
    EXPECT_EQ(ecc_raw_to_pubkey(static_cast<uint32_t>(raw.size()), raw.data(), &pub.k), 0x0265FF38u);
    EXPECT_EQ(pub.k.state & (ECC_PUBKEY_X_SET | ECC_PUBKEY_Y_SET), 0u);
  }
}

TEST(EccKey, P521BlobSizes) {
  ect::PriKey pri(ECC_CRV_NIST_P521);
  ect::PubKey pub(ECC_CRV_NIST_P521);
  ASSERT_EQ(ecc_gen_keypair(ECC_CRV_NIST_P521, ECC_KEYGEN_EXTRA_RND_BITS, &pri.k, &pub.k), 0u);
  Bytes raw(200);
  uint32_t len = 200;
  ASSERT_EQ(ecc_prikey_to_raw(&pri.k, &len, raw.data()), 0u);
  EXPECT_EQ(len, 72u);
  EXPECT_EQ(raw[4] | raw[5], 0);  // d has 521 bits: the first 2 of 68 bytes are zero
  EXPECT_LE(raw[6], 1);
  len = 200;
  ASSERT_EQ(ecc_pubkey_to_raw(&pub.k, &len, raw.data()), 0u);
  EXPECT_EQ(len, 140u);
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t L = 0;
  ASSERT_EQ(ecc_raw_pubkey_get_length(len, raw.data(), &crv, &L), 0u);
  EXPECT_EQ(crv, ECC_CRV_NIST_P521);
  EXPECT_EQ(L, 68u);
  EXPECT_EQ(ecc_raw_prikey_get_length(4, raw.data(), nullptr, &L), 0x0260FF05u);
}

// ---- Key pairs ----

TEST(EccKeygen, BothMethodsOnEveryCurve) {
  for (const auto& c : ect::curves()) {
    for (ecc_keygen_t method : {ECC_KEYGEN_EXTRA_RND_BITS, ECC_KEYGEN_REJECT_SAMPLING}) {
      ect::PriKey pri(c.id);
      ect::PubKey pub(c.id);
      ASSERT_EQ(ecc_gen_keypair(c.id, method, &pri.k, &pub.k), 0u) << c.wycheproof;
      EXPECT_EQ(pri.k.state, 0x1C5C2E4Bu);
      EXPECT_EQ(pub.k.state, 0xB3E0EA97u);
      uint32_t on = 0;
      ASSERT_EQ(ecc_check_point_on_curve(&pub.k, &on), 0u);
      EXPECT_EQ(on, QZ_TRUE);
      Bytes x, y;
      ect::ossl_mul_g(c, pri.d(c.L), &x, &y);
      EXPECT_EQ(zt::hex(pub.x(c.L)), zt::hex(x)) << c.wycheproof << " method " << method;
      EXPECT_EQ(zt::hex(pub.y(c.L)), zt::hex(y)) << c.wycheproof;
      // OpenSSL's own key check: on the curve, right order, d*G = Q.
      const Bytes d = pri.d(c.L);
      ect::KeyPtr key = ect::ossl_key(c, x, y, &d);
      EXPECT_EQ(EC_KEY_check_key(key.get()), 1) << c.wycheproof;
    }
  }
}

TEST(EccKeygen, MethodAndCurveChecksInvalidateBothKeys) {
  for (uint32_t method : {0u, 3u}) {
    ect::PriKey pri(ECC_CRV_NIST_P256);
    ect::PubKey pub(ECC_CRV_NIST_P256);
    EXPECT_EQ(ecc_gen_keypair(ECC_CRV_NIST_P256, static_cast<ecc_keygen_t>(method), &pri.k, &pub.k),
              0x0215FF39u);
    EXPECT_EQ(pri.k.state, ECC_PRIKEY_INVALID);
    EXPECT_EQ(pub.k.state, ECC_PUBKEY_INVALID);
  }
  ect::PriKey pri(ECC_CRV_NIST_P256);
  ect::PubKey pub(ECC_CRV_NIST_P384);
  EXPECT_EQ(ecc_gen_keypair(ECC_CRV_NIST_P256, ECC_KEYGEN_EXTRA_RND_BITS, &pri.k, &pub.k), 0x0215FF38u);
  EXPECT_EQ(pri.k.state, ECC_PRIKEY_INVALID);
  EXPECT_EQ(pub.k.state, ECC_PUBKEY_INVALID);
  ect::PriKey p192(ECC_CRV_NIST_P192);
  ect::PubKey q192(ECC_CRV_NIST_P192);
  EXPECT_EQ(ecc_gen_keypair(ECC_CRV_NIST_P192, ECC_KEYGEN_EXTRA_RND_BITS, &p192.k, &q192.k), 0x02158281u);
}

uint32_t all_ff(uint8_t* dest, uint32_t size) {
  std::memset(dest, 0xFF, size);
  return 0;
}
uint32_t failing(uint8_t*, uint32_t) { return 1; }

TEST(EccKeygen, RejectionSamplingGivesUpAndRandomFailureIsReported) {
  ect::PriKey pri(ECC_CRV_NIST_P256);
  ect::PubKey pub(ECC_CRV_NIST_P256);
  quarzel::testing::set_random_source(all_ff);
  const quarzel_ret_t r1 = ecc_gen_keypair(ECC_CRV_NIST_P256, ECC_KEYGEN_REJECT_SAMPLING, &pri.k, &pub.k);
  Bytes digest(32, 1), r(32), s(32);
  ect::PriKey signer(ECC_CRV_NIST_P256, Bytes(32, 1));
  const quarzel_ret_t r2 = ecdsa_sign(&signer.k, 32, digest.data(), nullptr, r.data(), s.data());
  quarzel::testing::set_random_source(failing);
  ect::PriKey pri2(ECC_CRV_NIST_P256);
  ect::PubKey pub2(ECC_CRV_NIST_P256);
  const quarzel_ret_t r3 = ecc_gen_keypair(ECC_CRV_NIST_P256, ECC_KEYGEN_EXTRA_RND_BITS, &pri2.k, &pub2.k);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_EQ(r1, 0x0213FF32u);
  EXPECT_EQ(r2, 0x0223FF32u);
  EXPECT_EQ(r3, 0x0215FF04u);
}

TEST(EccKeygen, PublicKeyOfKnownScalars) {
  const auto& c = ect::curves()[1];  // P-256
  ect::PriKey one(c.id, Bytes{1});
  ect::PubKey q(c.id);
  ASSERT_EQ(ecc_gen_puk_from_prk(&one.k, &q.k), 0u);
  EXPECT_EQ(zt::hex(q.x(32)), "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296");
  ect::PubKey other(ECC_CRV_NIST_P384);
  EXPECT_EQ(ecc_gen_puk_from_prk(&one.k, &other.k), 0x0217FF38u);
  ecc_prikey_t unset;
  ecc_prikey_init(&unset, c.id);
  ect::PubKey q2(c.id);
  EXPECT_EQ(ecc_gen_puk_from_prk(&unset, &q2.k), 0x0217FF09u);
  EXPECT_EQ(q2.k.state, ECC_PUBKEY_INVALID);
}

}  // namespace
