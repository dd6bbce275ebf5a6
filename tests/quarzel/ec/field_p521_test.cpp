// The P-521 field's arithmetic by the form of 2^521 - 1, on both kernels
// (BMI2/ADX and portable), against the general Montgomery reduction on the
// same prime and against OpenSSL's big numbers, for values at the edges of
// every carry and of the fold at bit 521.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "ec/field.h"
#include "ec_group.h"
#include "quarzel/cpu.h"
#include "quarzel/testing.h"
#include "support/seams.h"

namespace {

using quarzel::ec::kP521;
using quarzel::ec::Mont;
using quarzel::ec::u64;
using Limbs = std::array<u64, 9>;

constexpr u64 kOnes = ~0ull;

// Values below p at the edges: 0, 1, 2, p - 1, p - 2, 2^520, 2^521 - 2^k,
// a single limb of ones, a single bit at the top of each limb, and ones up to
// each limb boundary (the carries out of every limb).
std::vector<Limbs> edges_below_p() {
  std::vector<Limbs> v = {{}, {1}, {2}, {kOnes - 1, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x1FF},
                          {kOnes - 2, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x1FF},
                          {0, 0, 0, 0, 0, 0, 0, 0, 0x100},
                          {0, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x1FF},
                          {kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x1FE}};
  for (size_t j = 0; j < 9; ++j) {
    Limbs one_limb{}, top_bit{}, ones_below{};
    one_limb[j] = j < 8 ? kOnes : 0x1FF;
    top_bit[j] = j < 8 ? 1ull << 63 : 0x100;
    for (size_t i = 0; i < j; ++i) ones_below[i] = kOnes;
    v.insert(v.end(), {one_limb, top_bit, ones_below});
  }
  return v;
}

// First operands beyond p, as conversions into Montgomery form pass them
// (any 68-byte value, any 9 limbs): p itself (2^521 - 1, a second form of
// zero), 2^521, 2p, 2p + 1, 2^544 - 1, 2^575 and 2^576 - 1.
std::vector<Limbs> edges_above_p() {
  Limbs p, top544{}, all{};
  std::memcpy(p.data(), kP521, sizeof p);
  const Limbs bit521 = {0, 0, 0, 0, 0, 0, 0, 0, 0x200};
  const Limbs twice_p = {kOnes - 1, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x3FF};
  const Limbs twice_p1 = {kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x3FF};
  const Limbs bit575 = {0, 0, 0, 0, 0, 0, 0, 0, 1ull << 63};
  for (auto& w : top544) w = kOnes;
  top544[8] = 0xFFFFFFFF;
  for (auto& w : all) w = kOnes;
  return {p, bit521, twice_p, twice_p1, top544, bit575, all};
}

struct LimbSource {
  std::mt19937_64 rng{5212026};
  Limbs below_p() {
    Limbs v;
    for (auto& w : v) {
      const u64 k = rng() % 6;
      w = k == 0 ? 0 : k == 1 ? kOnes : rng();
    }
    v[8] &= 0x1FF;
    if (v == Limbs{kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, 0x1FF}) v[0] = 0;
    return v;
  }
};

// A field on the general reduction, and the prime's form on each kernel.
Mont<9> general_field() {
  Mont<9> f;
  f.init(kP521);
  f.use_special_form(false);
  f.adx = false;
  return f;
}
std::vector<std::pair<const char*, Mont<9>>> special_fields() {
  std::vector<std::pair<const char*, Mont<9>>> out;
  Mont<9> f;
  f.init(kP521);
  EXPECT_TRUE(f.p521);
  if (quarzel::ec::cpu_has_adx()) {
    EXPECT_TRUE(f.adx);
    out.emplace_back("adx", f);
  }
  f.adx = false;
  out.emplace_back("portable", f);
  return out;
}

TEST(FieldP521, SpecialFormMatchesTheGeneralReduction) {
  const Mont<9> general = general_field();
  ASSERT_FALSE(general.p521);
  std::vector<Limbs> bs = edges_below_p(), as = bs;
  const std::vector<Limbs> above = edges_above_p();
  as.insert(as.end(), above.begin(), above.end());
  LimbSource src;
  for (int i = 0; i < 50000; ++i) bs.push_back(src.below_p());
  for (const auto& [name, special] : special_fields()) {
    auto check = [&, name = name, &special = special](const Limbs& a, const Limbs& b) {
      u64 want[9], got[9];
      general.mul(want, a.data(), b.data());
      special.mul(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " mul";
    };
    for (const auto& a : as)
      for (const auto& b : edges_below_p()) check(a, b);
    // Sums, differences and doubles: every pair of edges (sums at p and
    // above, differences that borrow), then random operands.
    auto linear = [&, name = name, &special = special](const Limbs& a, const Limbs& b) {
      u64 want[9], got[9];
      general.add(want, a.data(), b.data());
      special.add(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " add";
      general.sub(want, a.data(), b.data());
      special.sub(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " sub";
      general.dbl(want, a.data());
      special.dbl(got, a.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " dbl";
    };
    for (const auto& a : edges_below_p())
      for (const auto& b : edges_below_p()) linear(a, b);
    for (size_t i = 0; i < bs.size(); ++i) {
      check(bs[(i * 7 + 3) % bs.size()], bs[i]);
      linear(bs[i], bs[(i * 11 + 5) % bs.size()]);
      u64 want[9], got[9];
      general.mul(want, bs[i].data(), bs[i].data());
      special.sqr(got, bs[i].data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " sqr, case " << i;
    }
  }
}

// The point doubling feeds its products unreduced sums (below 2^522) and
// differences (a - b + 2p, below 2^523): both kernels against the general
// reduction, whose bound a b < p 2^576 they respect; then the unreduced sums
// and differences and the halving, brought back by a product with R, against
// the reduced ones.
TEST(FieldP521, UnreducedOperandsOfTheDoubling) {
  const Mont<9> general = general_field();
  std::vector<Limbs> vs = edges_below_p();
  LimbSource src;
  for (int i = 0; i < 20000; ++i) vs.push_back(src.below_p());
  Limbs p;
  std::memcpy(p.data(), kP521, sizeof p);
  for (const auto& [name, f] : special_fields()) {
    for (size_t i = 0; i < vs.size(); ++i) {
      const Limbs& a = vs[i];
      const Limbs& b = vs[(i * 13 + 7) % vs.size()];
      u64 sum[9], diff[9], want[9], got[9], reduced[9];
      quarzel::ec::p521_add_lazy(sum, a.data(), b.data());
      quarzel::ec::p521_sub_lazy(diff, a.data(), b.data());
      ASSERT_LT(diff[8] >> 11, 1u) << "below 2^523";
      general.mul(want, sum, diff);
      f.mul(got, sum, diff);
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " mul, case " << i;
      general.mul(want, diff, diff);
      f.sqr(got, diff);
      ASSERT_EQ(0, std::memcmp(want, got, sizeof want)) << name << " sqr, case " << i;
      // sum R R^-1 and diff R R^-1 are the reduced a + b and a - b.
      f.mul(got, sum, f.one);
      f.add(reduced, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(reduced, got, sizeof got)) << name << " lazy add, case " << i;
      f.mul(got, diff, f.one);
      f.sub(reduced, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(reduced, got, sizeof got)) << name << " lazy sub, case " << i;
      // Halving: twice the half is a again, and the half is below p.
      quarzel::ec::p521_half(got, a.data());
      ASSERT_EQ(1u, quarzel::ec::fe_lt<9>(got, p.data())) << "case " << i;
      f.dbl(reduced, got);
      ASSERT_EQ(0, std::memcmp(reduced, a.data(), sizeof reduced)) << "half, case " << i;
    }
  }
}

// a b, a^2 and a^-1 mod p through Montgomery form, and the conversions of
// values at or above p, against OpenSSL.
TEST(FieldP521, MatchesOpenSslBigNumbers) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *bp = BN_new(), *ba = BN_new(), *bb = BN_new(), *want = BN_new();
  auto to_bn = [](const u64* v, BIGNUM* b) {
    uint8_t be[72];
    quarzel::ec::fe_to_bytes<9>(be, sizeof be, v);
    BN_bin2bn(be, sizeof be, b);
  };
  auto expect_bn = [](const BIGNUM* b, const u64* got) {
    uint8_t be[72];
    BN_bn2binpad(b, be, sizeof be);
    u64 v[9];
    quarzel::ec::fe_from_bytes<9>(v, be, sizeof be);
    return std::memcmp(v, got, sizeof v) == 0;
  };
  to_bn(kP521, bp);
  std::vector<Limbs> values = edges_below_p();
  LimbSource src;
  for (int i = 0; i < 2000; ++i) values.push_back(src.below_p());
  for (const auto& [name, f] : special_fields()) {
    // Any 9 limbs convert to their residue; p and 2p to zero.
    for (const auto& a : edges_above_p()) {
      u64 m[9], got[9];
      f.to_mont(m, a.data());
      f.from_mont(got, m);
      to_bn(a.data(), ba);
      ASSERT_EQ(1, BN_nnmod(want, ba, bp, ctx));
      EXPECT_TRUE(expect_bn(want, got)) << name << " conversion";
    }
    for (size_t i = 0; i < values.size(); ++i) {
      const Limbs& a = values[i];
      const Limbs& b = values[(i * 5 + 1) % values.size()];
      u64 ma[9], mb[9], got[9];
      f.to_mont(ma, a.data());
      f.to_mont(mb, b.data());
      to_bn(a.data(), ba);
      to_bn(b.data(), bb);
      f.mul(got, ma, mb);
      f.from_mont(got, got);
      ASSERT_EQ(1, BN_mod_mul(want, ba, bb, bp, ctx));
      ASSERT_TRUE(expect_bn(want, got)) << name << " mul, case " << i;
      f.sqr(got, ma);
      f.from_mont(got, got);
      ASSERT_EQ(1, BN_mod_sqr(want, ba, bp, ctx));
      ASSERT_TRUE(expect_bn(want, got)) << name << " sqr, case " << i;
      if (i % 16 == 0 && !BN_is_zero(ba)) {
        f.inv_prime(got, ma);
        f.from_mont(got, got);
        ASSERT_NE(nullptr, BN_mod_inverse(want, ba, bp, ctx));
        ASSERT_TRUE(expect_bn(want, got)) << name << " inv, case " << i;
      }
    }
  }
  BN_free(bp);
  BN_free(ba);
  BN_free(bb);
  BN_free(want);
  BN_CTX_free(ctx);
}

// The engine of P-521 reduces by the prime's form, on BMI2/ADX on this
// machine class; the seams reach the portable kernel and the general
// reduction, and give the fast path back.
TEST(FieldP521, FastPathRunsOnThisCpu) {
  ASSERT_TRUE(quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx) << "this machine class has BMI2 and ADX";
  const quarzel::ec::ecpi_group_t& e = ect::group(20);
  EXPECT_TRUE(e.uses_special_form());
  EXPECT_TRUE(e.uses_adx());
  EXPECT_TRUE(e.uses_window_kernels());
  EXPECT_FALSE(ect::group(19).uses_special_form());
  {
    const zt::PortablePath portable(quarzel::testing::Path::ec);
    EXPECT_TRUE(e.uses_special_form());
    EXPECT_FALSE(e.uses_adx());
    EXPECT_FALSE(e.uses_window_kernels());
  }
  {
    const zt::PortablePath general(quarzel::testing::Path::ec_general);
    EXPECT_FALSE(e.uses_special_form());
    EXPECT_FALSE(e.uses_adx());
    EXPECT_FALSE(e.uses_window_kernels());
  }
  EXPECT_TRUE(e.uses_special_form());
  EXPECT_TRUE(e.uses_adx());
  EXPECT_TRUE(e.uses_window_kernels());
}

}  // namespace
