// The word-level point operations on a domain record, and the rejection
// sampling of private values and nonces.
#include "ec_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../../../src/quarzel/ec/curves.h"
#include "quarzel/port.h"
#include "support/seams.h"

namespace {

using quarzel::ec::ecpbn_dp_t;
using quarzel::ec::ecpbn_in_t;
using quarzel::ec::ecpbn_out_t;
using Words = std::vector<uint32_t>;

struct Curve {
  ecpbn_dp_t dp{};
  uint32_t w = 0;
  Words gx, gy, n, p;
  explicit Curve(uint32_t id) {
    EXPECT_EQ(0, quarzel::ec::ecpi_dp_mapping(&dp, id));
    w = dp.crv_nw;
    gx.assign(dp.crv_Gx, dp.crv_Gx + w);
    gy.assign(dp.crv_Gy, dp.crv_Gy + w);
    n.assign(dp.crv_n, dp.crv_n + w);
    p.assign(dp.crv_p, dp.crv_p + w);
  }
};

// a - b over MSW-first words of one length (a >= b).
Words sub(const Words& a, const Words& b) {
  Words r(a.size());
  uint64_t br = 0;
  for (size_t i = a.size(); i-- > 0;) {
    const uint64_t d = uint64_t{a[i]} - b[i] - br;
    r[i] = static_cast<uint32_t>(d);
    br = (d >> 32) & 1;
  }
  return r;
}

struct Result {
  uint32_t rc = 0;
  ecpbn_out_t out{};
  Words x, y;
};

Result mul(const Curve& c, const Words& k, const Words& bx, const Words& by) {
  Result r;
  r.x.assign(c.w, 0);
  r.y.assign(c.w, 0);
  r.out = {0xFFFF, r.x.data(), r.y.data()};
  const ecpbn_in_t in{static_cast<uint32_t>(k.size()), bx.data(), by.data(), nullptr, nullptr, k.data()};
  r.rc = quarzel::ec::ecpbn_zdn_mul(&c.dp, &in, &r.out);
  return r;
}

Result add(const Curve& c, const Words& px, const Words& py, const Words& qx, const Words& qy) {
  Result r;
  r.x.assign(c.w, 0);
  r.y.assign(c.w, 0);
  r.out = {0xFFFF, r.x.data(), r.y.data()};
  const ecpbn_in_t in{0, px.data(), py.data(), qx.data(), qy.data(), nullptr};
  r.rc = quarzel::ec::ecpbn_zdn_add(&c.dp, &in, &r.out);
  return r;
}

class WordEntries : public ::testing::TestWithParam<ect::CurveCase> {};

TEST_P(WordEntries, MultiplicationAndAdditionOnTheGenerator) {
  const Curve c(GetParam().id);
  Words one(c.w, 0), two(c.w, 0);
  one.back() = 1;
  two.back() = 2;
  const Result g = mul(c, one, c.gx, c.gy);
  ASSERT_EQ(0u, g.rc);
  EXPECT_EQ(0u, g.out.infinity);
  EXPECT_EQ(c.gx, g.x);
  EXPECT_EQ(c.gy, g.y);
  // (n - 1) G = -G = (Gx, p - Gy).
  Words nm1 = c.n;
  nm1.back() -= 1;
  const Result neg = mul(c, nm1, c.gx, c.gy);
  ASSERT_EQ(0u, neg.rc);
  EXPECT_EQ(c.gx, neg.x);
  EXPECT_EQ(sub(c.p, c.gy), neg.y);
  // 2 G by the ladder and by adding G to itself.
  const Result twice = mul(c, two, c.gx, c.gy);
  const Result sum = add(c, c.gx, c.gy, c.gx, c.gy);
  ASSERT_EQ(0u, sum.rc);
  EXPECT_EQ(twice.x, sum.x);
  EXPECT_EQ(twice.y, sum.y);
  // G + (-G) and n G: the point at infinity, coordinates untouched.
  const Result inf = add(c, c.gx, c.gy, neg.x, neg.y);
  ASSERT_EQ(0u, inf.rc);
  EXPECT_EQ(1u, inf.out.infinity);
  EXPECT_EQ(Words(c.w, 0), inf.x);
  const Result ng = mul(c, c.n, c.gx, c.gy);
  ASSERT_EQ(0u, ng.rc);
  EXPECT_EQ(1u, ng.out.infinity);
  // A scalar with a leading zero word (up to the working width) is the same scalar.
  Words long_two(c.dp.nw_zdn_p, 0);
  long_two.back() = 2;
  EXPECT_EQ(twice.x, mul(c, long_two, c.gx, c.gy).x);
}

TEST_P(WordEntries, RefusalsOfTheEngine) {
  const Curve c(GetParam().id);
  Words one(c.w, 0);
  one.back() = 1;
  Words off = c.gy;
  off.back() ^= 1;
  EXPECT_EQ(0x7976u, mul(c, one, c.gx, off).rc);
  Words too_long(c.dp.nw_zdn_p + 1, 0);
  EXPECT_EQ(0x7974u, mul(c, too_long, c.gx, c.gy).rc);
  Curve wide = c;
  wide.dp.crv_nw = 21;
  EXPECT_EQ(0x7974u, mul(wide, one, c.gx, c.gy).rc);
  EXPECT_EQ(0x7A74u, add(wide, c.gx, c.gy, c.gx, c.gy).rc);
}

INSTANTIATE_TEST_SUITE_P(Curves, WordEntries, ::testing::ValuesIn(ect::curves()),
                         [](const auto& info) { return std::string(info.param.wycheproof); });

// ---- ecc_gen_d, ecdsa_gen_k ----

uint32_t all_ones(uint8_t* dest, uint32_t size) {
  std::memset(dest, 0xFF, size);
  return 0;
}
uint32_t failing(uint8_t*, uint32_t) { return 1; }

TEST(RejectionSampling, DrawsBelowNInBothLayouts) {
  for (const auto& curve : ect::curves()) {
    const quarzel::ec::ecpi_group_t& e = ect::group(curve.id);
    const uint32_t L = e.byte_size();
    ect::Bytes n(e.n_bytes(), e.n_bytes() + L), v(L);
    mpi_t N = mpi_default, V = mpi_default;
    ASSERT_EQ(0, mpi_mapping(&N, MPI_ENDIAN_MF_U8, L, n.data()));
    ASSERT_EQ(0, mpi_mapping(&V, MPI_ENDIAN_MF_U8, L, v.data()));
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(0u, ecc_gen_d(e.nbits(), L, &N, &V));
      EXPECT_LT(v, n) << curve.wycheproof;
      ASSERT_EQ(0u, ecdsa_gen_k(e.nbits(), L, &N, &V));
      EXPECT_LT(v, n) << curve.wycheproof;
    }
    // Words: n and the result as native 32-bit words, most significant first.
    std::vector<uint32_t> nw(L / 4), vw(L / 4);
    for (uint32_t i = 0; i < L / 4; ++i)
      nw[i] = (uint32_t{n[4 * i]} << 24) | (uint32_t{n[4 * i + 1]} << 16) | (uint32_t{n[4 * i + 2]} << 8) | n[4 * i + 3];
    ASSERT_EQ(0, mpi_mapping(&N, MPI_ENDIAN_MF_U32, L, nw.data()));
    ASSERT_EQ(0, mpi_mapping(&V, MPI_ENDIAN_MF_U32, L, vw.data()));
    ASSERT_EQ(0u, ecc_gen_d(e.nbits(), L, &N, &V));
    EXPECT_LT(vw, nw) << curve.wycheproof;
  }
}

TEST(RejectionSampling, ExhaustedDrawsAndRandomFailures) {
  const quarzel::ec::ecpi_group_t& e = ect::group(ECC_CRV_BP256R1);  // n well below 2^256
  ect::Bytes n(e.n_bytes(), e.n_bytes() + 32), v(32);
  mpi_t N = mpi_default, V = mpi_default;
  ASSERT_EQ(0, mpi_mapping(&N, MPI_ENDIAN_MF_U8, 32, n.data()));
  ASSERT_EQ(0, mpi_mapping(&V, MPI_ENDIAN_MF_U8, 32, v.data()));
  {
    zt::RandomSourceScope src(all_ones);  // every draw is 2^256 - 1 > n
    EXPECT_EQ(0x0213FF32u, ecc_gen_d(256, 32, &N, &V));
    EXPECT_EQ(0x0223FF32u, ecdsa_gen_k(256, 32, &N, &V));
  }
  {
    zt::RandomSourceScope src(failing);
    EXPECT_EQ(0x0213FF04u, ecc_gen_d(256, 32, &N, &V));
  }
  EXPECT_EQ(0x0213FF05u, ecc_gen_d(256, 32, nullptr, &V));
  EXPECT_EQ(0x0213FF31u, ecc_gen_d(256, 28, &N, &V));  // lengths disagree
}

}  // namespace
