// The EC group interface: group loading, the range and curve tests, and the
// multiplications on any L-byte scalar (up to 2^(8L) - 1, far beyond n)
// against OpenSSL.
#include "ec_test_util.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <cstring>
#include <vector>

namespace {

using ect::Bytes;
using ect::BnPtr;
using quarzel::ec::ecpi_group_t;
using quarzel::ec::ecpi_point_t;

struct Affine {
  bool infinity = false;
  Bytes x, y;
};

// (k mod n) * (px, py) by OpenSSL; k of any length.
Affine ossl_mul(const ect::CurveCase& c, const Bytes& k, const Bytes& px, const Bytes& py) {
  ect::GroupPtr g(EC_GROUP_new_by_curve_name(c.nid));
  BN_CTX* ctx = BN_CTX_new();
  BnPtr bk = ect::bn(k), bx = ect::bn(px), by = ect::bn(py), rx(BN_new()), ry(BN_new());
  EXPECT_EQ(1, BN_nnmod(bk.get(), bk.get(), EC_GROUP_get0_order(g.get()), ctx));
  ect::PointPtr p(EC_POINT_new(g.get())), r(EC_POINT_new(g.get()));
  EXPECT_EQ(1, EC_POINT_set_affine_coordinates(g.get(), p.get(), bx.get(), by.get(), ctx));
  EXPECT_EQ(1, EC_POINT_mul(g.get(), r.get(), nullptr, p.get(), bk.get(), ctx));
  Affine out;
  out.infinity = EC_POINT_is_at_infinity(g.get(), r.get()) == 1;
  if (!out.infinity) {
    EXPECT_EQ(1, EC_POINT_get_affine_coordinates(g.get(), r.get(), rx.get(), ry.get(), ctx));
    out.x = ect::bytes_of(rx.get(), c.L);
    out.y = ect::bytes_of(ry.get(), c.L);
  }
  BN_CTX_free(ctx);
  return out;
}

// 2^(8L) - v for v < 2^(8L), L bytes.
Bytes top_minus(const BIGNUM* v, uint32_t L) {
  BnPtr t(BN_new());
  BN_set_bit(t.get(), static_cast<int>(8 * L));
  BN_sub(t.get(), t.get(), v);
  return ect::bytes_of(t.get(), L);
}

// L-byte scalars near 2^(8L): its last values; 2^(8L) - n; the largest
// multiple of n and its neighbours; and, where it is positive, the threshold
// 2^(8L) - 0x2BCDEF n from which the blinded scalar k + 0x2BCDEF n leaves 8L
// bits (P-521), with its neighbours; and random values with the top byte set.
std::vector<Bytes> scalars_near_the_top(const ecpi_group_t& grp) {
  const uint32_t L = grp.byte_size();
  BnPtr n = ect::bn(Bytes(grp.n_bytes(), grp.n_bytes() + L)), v(BN_new()), one(BN_new()), q(BN_new()),
        m(BN_new());
  BN_one(one.get());
  BN_CTX* ctx = BN_CTX_new();
  std::vector<Bytes> out;
  for (BN_ULONG d : {1, 2, 3}) {
    BN_set_word(v.get(), d);
    out.push_back(top_minus(v.get(), L));
  }
  out.push_back(top_minus(n.get(), L));
  // m = floor((2^(8L) - 1) / n) n: m G is the point at infinity.
  BN_zero(v.get());
  BN_set_bit(v.get(), static_cast<int>(8 * L));
  BN_sub(v.get(), v.get(), one.get());
  BN_div(q.get(), nullptr, v.get(), n.get(), ctx);
  BN_mul(m.get(), q.get(), n.get(), ctx);
  for (int delta : {-1, 0, 1}) {
    BnPtr k(BN_dup(m.get()));
    if (delta < 0) BN_sub(k.get(), k.get(), one.get());
    if (delta > 0) BN_add(k.get(), k.get(), one.get());
    if (BN_num_bytes(k.get()) <= static_cast<int>(L)) out.push_back(ect::bytes_of(k.get(), L));
  }
  BnPtr blind(BN_dup(n.get()));
  BN_mul_word(blind.get(), 0x2BCDEF);
  if (BN_num_bits(blind.get()) <= static_cast<int>(8 * L)) {
    const Bytes t = top_minus(blind.get(), L);
    BnPtr bt = ect::bn(t);
    out.push_back(t);
    BN_sub(v.get(), bt.get(), one.get());
    out.push_back(ect::bytes_of(v.get(), L));
    BN_add(v.get(), bt.get(), one.get());
    out.push_back(ect::bytes_of(v.get(), L));
  }
  for (int i = 0; i < 4; ++i) {
    Bytes r(L);
    RAND_bytes(r.data(), static_cast<int>(L));
    r[0] |= 0x80;
    out.push_back(r);
  }
  BN_CTX_free(ctx);
  return out;
}

class GroupInterface : public ::testing::TestWithParam<ect::CurveCase> {};

// Every method (the generator's table, the fixed windows, the blinded
// ladder) takes any L-byte scalar: k P = (k mod n) P.
TEST_P(GroupInterface, MultipliesScalarsNearTheTopOfTheirLength) {
  const ect::CurveCase& c = GetParam();
  const ecpi_group_t& grp = ect::group(c.id);
  const uint32_t L = grp.byte_size();
  const Bytes gx(grp.G().x, grp.G().x + L), gy(grp.G().y, grp.G().y + L);
  const Affine seven = ossl_mul(c, {7}, gx, gy);
  ecpi_point_t p;
  quarzel::ec::ecpi_point_set_xy(&p, L, seven.x.data(), seven.y.data());
  const Bytes untouched(L, 0xA5);
  for (const Bytes& k : scalars_near_the_top(grp)) {
    SCOPED_TRACE(zt::hex(k));
    for (const bool on_g : {true, false}) {
      SCOPED_TRACE(on_g ? "on G" : "on 7G");
      const Affine want = on_g ? ossl_mul(c, k, gx, gy) : ossl_mul(c, k, seven.x, seven.y);
      ecpi_point_t r;
      std::memset(r.x, 0xA5, L);
      std::memset(r.y, 0xA5, L);
      ASSERT_EQ(0, quarzel::ec::ecpi_mul(&grp, k.data(), on_g ? &grp.G() : &p, &r));
      ASSERT_EQ(want.infinity, quarzel::ec::ecpi_point_is_infinity(&r));
      EXPECT_EQ(want.infinity ? untouched : want.x, Bytes(r.x, r.x + L));
      EXPECT_EQ(want.infinity ? untouched : want.y, Bytes(r.y, r.y + L));

      Bytes x(L, 0xA5), y(L, 0xA5);
      bool infinity = false;
      const Bytes& base_x = on_g ? gx : seven.x;
      const Bytes& base_y = on_g ? gy : seven.y;
      ASSERT_EQ(0, grp.mul(k.data(), base_x.data(), base_y.data(), x.data(), y.data(), &infinity));
      ASSERT_EQ(want.infinity, infinity) << "ladder";
      if (!want.infinity) {
        EXPECT_EQ(want.x, x) << "ladder";
        EXPECT_EQ(want.y, y) << "ladder";
      }
    }
  }
}

TEST_P(GroupInterface, RangeCurveAndInfinityResults) {
  const ect::CurveCase& c = GetParam();
  const ecpi_group_t& grp = ect::group(c.id);
  const uint32_t L = grp.byte_size();
  const Bytes n(grp.n_bytes(), grp.n_bytes() + L);
  Bytes zero(L, 0), one(L, 0), nm1 = n;
  one[L - 1] = 1;
  nm1[L - 1] -= 1;  // n is odd
  EXPECT_FALSE(quarzel::ec::ecpi_check_prikey_valid(&grp, zero.data()));
  EXPECT_TRUE(quarzel::ec::ecpi_check_prikey_valid(&grp, one.data()));
  EXPECT_TRUE(quarzel::ec::ecpi_check_prikey_valid(&grp, nm1.data()));
  EXPECT_FALSE(quarzel::ec::ecpi_check_prikey_valid(&grp, n.data()));
  EXPECT_FALSE(quarzel::ec::ecpi_check_prikey_valid(&grp, Bytes(L, 0xFF).data()));

  EXPECT_TRUE(quarzel::ec::ecpi_point_on_curve(&grp, &grp.G()));
  Bytes y1(grp.G().y, grp.G().y + L);
  y1[L - 1] ^= 1;
  ecpi_point_t off;
  quarzel::ec::ecpi_point_set_xy(&off, L, grp.G().x, y1.data());
  EXPECT_FALSE(quarzel::ec::ecpi_point_on_curve(&grp, &off));

  // G + G = 2 G; G + (n - 1) G = infinity.
  ecpi_point_t twice, neg, sum;
  ASSERT_EQ(0, quarzel::ec::ecpi_add(&grp, &grp.G(), &grp.G(), &twice));
  Bytes want_x, want_y;
  ect::ossl_mul_g(c, {2}, &want_x, &want_y);
  EXPECT_EQ(want_x, Bytes(twice.x, twice.x + L));
  EXPECT_EQ(want_y, Bytes(twice.y, twice.y + L));
  ASSERT_EQ(0, quarzel::ec::ecpi_gen_pubkey_from_private(&grp, nm1.data(), &neg));
  ASSERT_EQ(0, quarzel::ec::ecpi_add(&grp, &grp.G(), &neg, &sum));
  EXPECT_TRUE(quarzel::ec::ecpi_point_is_infinity(&sum));

  // d G and d B at infinity are errors of the public-key derivations.
  ecpi_point_t q;
  EXPECT_EQ(0x8D82, quarzel::ec::ecpi_gen_pubkey_from_private(&grp, n.data(), &q));
  EXPECT_EQ(0x8E82, quarzel::ec::ecpi_gen_pubkey_from_private_base(&grp, n.data(), &twice, &q));
  EXPECT_EQ(0x8D82, quarzel::ec::ecpi_gen_pubkey_from_private(&grp, zero.data(), &q));
}

INSTANTIATE_TEST_SUITE_P(Curves, GroupInterface, ::testing::ValuesIn(ect::curves()),
                         [](const auto& info) { return std::string(info.param.wycheproof); });

TEST(GroupLoading, CurvesWithArithmeticOnly) {
  for (const auto& c : ect::curves()) {
    const ecpi_group_t* grp = nullptr;
    ASSERT_EQ(0, quarzel::ec::ecpi_group_load_and_alloc(&grp, c.id));
    EXPECT_EQ(c.id, grp->id());
    EXPECT_EQ(c.L, grp->byte_size());
  }
  EXPECT_EQ(521u, ect::group(ECC_CRV_NIST_P521).nbits());
  // Length-only curves, unsupported brainpool sizes and unknown ids.
  for (const uint32_t id : {0u, 16u, 32u, 33u, 64u, 65u, 66u, 68u, 71u}) {
    const ecpi_group_t* grp = &ect::group(ECC_CRV_NIST_P256);
    EXPECT_EQ(0x8281, quarzel::ec::ecpi_group_load_and_alloc(&grp, id)) << id;
    EXPECT_EQ(nullptr, grp) << id;
  }
}

}  // namespace
