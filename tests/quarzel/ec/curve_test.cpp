// Curve catalogue, table checksums and the point engine, through the public
// key routines and (white-box) the table check itself.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ec/curves.h"
#include "ec_test_util.h"
#include "support/oracle.h"
#include "support/vectors.h"

namespace {

using ect::Bytes;
using quarzel::ec::ecpbn_dp_t;

TEST(CurveLength, TableOfLengths) {
  struct Row {
    ecc_crv_t id;
    uint32_t L;
  };
  const Row rows[] = {{ECC_CRV_NIST_P192, 24}, {ECC_CRV_NIST_P224, 28}, {ECC_CRV_NIST_P256, 32},
                      {ECC_CRV_NIST_P384, 48}, {ECC_CRV_NIST_P521, 68}, {ECC_CRV_SECP192K1, 24},
                      {ECC_CRV_SECP224K1, 28}, {ECC_CRV_SECP256K1, 32}, {ECC_CRV_BP256R1, 32},
                      {ECC_CRV_BP384R1, 48},   {ECC_CRV_BP512R1, 64}};
  for (const Row& r : rows) {
    uint32_t len = 0;
    EXPECT_EQ(ecc_get_length(r.id, &len), 0u) << r.id;
    EXPECT_EQ(len, r.L) << r.id;
  }
  for (uint32_t id : {0u, 64u, 65u, 66u, 68u, 21u, 255u}) {
    uint32_t len = 99;
    EXPECT_EQ(ecc_get_length(static_cast<ecc_crv_t>(id), &len), 0x02148481u) << id;
    EXPECT_EQ(len, 0u);
  }
}

TEST(CurveTables, LengthOnlyCurvesHaveNoTables) {
  for (uint32_t id : {16u, 32u, 33u, 64u, 0u}) {
    ecpbn_dp_t dp{};
    EXPECT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, id), 0x8181) << id;
  }
}

TEST(CurveTables, EveryChecksumHolds) {
  for (const auto& c : ect::curves()) {
    ecpbn_dp_t dp{};
    ASSERT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, c.id), 0);
    EXPECT_EQ(4 * dp.crv_nw, c.L);
    uint32_t ok = 7;
    ASSERT_EQ(quarzel::ec::ecpbn_zdn_proj_curve_integrity_check(&dp, &ok), 0);
    EXPECT_EQ(ok, 1u) << c.wycheproof;
    bool once = false;
    EXPECT_EQ(quarzel::ec::curve_integrity_once(c.id, &once), 0);
    EXPECT_TRUE(once);
  }
}

TEST(CurveTables, ChecksumMatchesHashlib) {
  // The same digests computed by Python's hashlib over the table words: one
  // line per curve, eight fields (p a b Gx Gy n zdnp checksum).
  std::string in;
  for (const auto& c : ect::curves()) {
    ecpbn_dp_t dp{};
    ASSERT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, c.id), 0);
    auto put = [&](const uint32_t* w, uint32_t nw) {
      for (uint32_t i = 0; i < nw; ++i) {
        char buf[9];
        snprintf(buf, sizeof buf, "%08x", w[i]);
        in += buf;
      }
      in += ' ';
    };
    for (const uint32_t* v : {dp.crv_p, dp.crv_a, dp.crv_b, dp.crv_Gx, dp.crv_Gy, dp.crv_n})
      put(v, dp.crv_nw);
    put(dp.crv_zdnp, dp.nw_zdn_p);
    put(dp.checksum, 8);
    in += '\n';
  }
  const std::string out = zt::run_python(
      "import hashlib,sys\n"
      "for line in sys.stdin:\n"
      "  f=line.split()\n"
      "  print(hashlib.sha3_256(bytes.fromhex(''.join(f[:7]))).hexdigest()==f[7])\n",
      in);
  std::string want;
  for (size_t i = 0; i < ect::curves().size(); ++i) want += "True\n";
  EXPECT_EQ(out, want);
}

TEST(CurveTables, AnyChangedWordFailsTheCheck) {
  ecpbn_dp_t dp{};
  ASSERT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, ECC_CRV_NIST_P256), 0);
  const uint32_t* ecpbn_dp_t::* const fields[] = {
      &ecpbn_dp_t::crv_p,  &ecpbn_dp_t::crv_a, &ecpbn_dp_t::crv_b,    &ecpbn_dp_t::crv_Gx,
      &ecpbn_dp_t::crv_Gy, &ecpbn_dp_t::crv_n, &ecpbn_dp_t::crv_zdnp, &ecpbn_dp_t::checksum};
  const uint32_t sizes[] = {8, 8, 8, 8, 8, 8, 9, 8};
  for (size_t f = 0; f < 8; ++f) {
    for (uint32_t word : {0u, sizes[f] - 1}) {
      std::vector<uint32_t> copy(dp.*fields[f], dp.*fields[f] + sizes[f]);
      copy[word] ^= 0x00010000;
      ecpbn_dp_t bad = dp;
      bad.*fields[f] = copy.data();
      uint32_t ok = 7;
      ASSERT_EQ(quarzel::ec::ecpbn_zdn_proj_curve_integrity_check(&bad, &ok), 0);
      EXPECT_EQ(ok, 0u) << "field " << f << " word " << word;
    }
  }
  ecpbn_dp_t wide = dp;
  wide.crv_nw = 18;
  uint32_t ok = 7;
  EXPECT_EQ(quarzel::ec::ecpbn_zdn_proj_curve_integrity_check(&wide, &ok), 0x7174);
}

TEST(CurveTables, GeneratorScriptReproducesTheTables) {
  const std::string out = zt::run_command("python3 " + zt::test_source_dir() +
                                          "/../scripts/gen_curve_tables.py --check");
  EXPECT_NE(out.find("verified"), std::string::npos) << out;
}

// ---- Scalar multiplication through the public-key derivation ----

Bytes n_minus(const ect::CurveCase& c, uint32_t k) {
  ecpbn_dp_t dp{};
  EXPECT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, c.id), 0);
  Bytes n;
  for (uint32_t i = 0; i < dp.crv_nw; ++i)
    for (int s = 24; s >= 0; s -= 8) n.push_back(static_cast<uint8_t>(dp.crv_n[i] >> s));
  // n - k for a small k
  int borrow = static_cast<int>(k);
  for (size_t i = n.size(); i-- > 0 && borrow != 0;) {
    const int v = n[i] - borrow;
    n[i] = static_cast<uint8_t>(v & 0xFF);
    borrow = v < 0 ? (-(v >> 8)) : 0;
  }
  return n;
}

TEST(ScalarMul, MatchesOpenSsl) {
  for (const auto& c : ect::curves()) {
    std::vector<Bytes> scalars = {ect::pad({1}, c.L), ect::pad({2}, c.L), ect::pad({3}, c.L),
                                  n_minus(c, 1), n_minus(c, 2)};
    for (int i = 0; i < 6; ++i) {
      Bytes d(c.L);
      ASSERT_EQ(quarzel_get_random(d.data(), c.L), 0u);
      // Below n: P-521 scalars have 521 bits, every other n starts above 0x80.
      if (c.id == ECC_CRV_NIST_P521) {
        d[0] = d[1] = 0;
        d[2] &= 1;
      } else {
        d[0] &= 0x7F;
      }
      scalars.push_back(d);
    }
    for (const Bytes& d : scalars) {
      ect::PriKey pri(c.id, d);
      ect::PubKey pub(c.id);
      ASSERT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0u) << c.wycheproof << " " << zt::hex(d);
      Bytes x, y;
      ect::ossl_mul_g(c, d, &x, &y);
      EXPECT_EQ(zt::hex(pub.x(c.L)), zt::hex(x)) << c.wycheproof << " d=" << zt::hex(d);
      EXPECT_EQ(zt::hex(pub.y(c.L)), zt::hex(y)) << c.wycheproof;
    }
  }
}

TEST(ScalarMul, ZeroAndOrderAreRefused) {
  for (const auto& c : ect::curves()) {
    for (const Bytes& d : {Bytes(c.L, 0), n_minus(c, 0)}) {
      ect::PriKey pri(c.id, d);
      ect::PubKey pub(c.id);
      EXPECT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0x0217FF33u) << c.wycheproof;
      EXPECT_EQ(pub.k.state, ECC_PUBKEY_INVALID);
    }
  }
}

TEST(ScalarMul, CustomBaseOffCurveRefused) {
  const auto& c = ect::curves()[1];
  Bytes gx, gy;
  ect::ossl_mul_g(c, ect::pad({1}, c.L), &gx, &gy);
  gy.back() ^= 1;
  ect::PriKey pri(c.id, ect::pad({5}, c.L));
  ect::PubKey base(c.id, gx, gy);
  ect::PubKey out(c.id);
  EXPECT_EQ(ecc_gen_puk_from_prk_custom_base(&pri.k, &base.k, &out.k), 0x0218FF35u);
  uint32_t verdict = 0;
  EXPECT_EQ(ecc_check_point_on_curve(&base.k, &verdict), 0u);
  EXPECT_EQ(verdict, QZ_FALSE);
  gy.back() ^= 1;
  ect::PubKey good(c.id, gx, gy);
  EXPECT_EQ(ecc_check_point_on_curve(&good.k, &verdict), 0u);
  EXPECT_EQ(verdict, QZ_TRUE);
}

TEST(ScalarMul, LengthOnlyCurveHasNoArithmetic) {
  ect::PriKey pri(ECC_CRV_NIST_P192, ect::pad({5}, 24));
  ect::PubKey pub(ECC_CRV_NIST_P192);
  EXPECT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0x02178281u);
}

}  // namespace
