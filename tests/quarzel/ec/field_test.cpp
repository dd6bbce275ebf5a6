// The field arithmetic: the BMI2/ADX Montgomery product against the portable
// one, and a proof that the fast path runs on this CPU.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstring>
#include <array>
#include <initializer_list>
#include <random>
#include <vector>

#include "ec/curves.h"
#include "ec/field.h"
#include "ec_group.h"
#include "quarzel/cpu.h"
#include "quarzel/testing.h"

namespace {

using quarzel::ec::Mont;
using quarzel::ec::u64;

// p and n of the curves whose values fit N limbs.
template <size_t N>
std::vector<std::array<u64, N>> moduli(std::initializer_list<uint32_t> curves) {
  std::vector<std::array<u64, N>> out;
  for (uint32_t id : curves) {
    quarzel::ec::ecpbn_dp_t dp{};
    EXPECT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, id), 0);
    for (const uint32_t* w : {dp.crv_p, dp.crv_n}) {
      std::array<u64, N> m{};
      for (uint32_t i = 0; i < dp.crv_nw; ++i) {
        const uint32_t pos = dp.crv_nw - 1 - i;
        m[pos / 2] |= static_cast<u64>(w[i]) << (32 * (pos % 2));
      }
      out.push_back(m);
    }
  }
  return out;
}
std::vector<std::array<u64, 4>> four_limb_moduli() { return moduli<4>({17, 18, 34, 67}); }

// Limbs drawn mostly from values that make long carry chains.
struct LimbSource {
  std::mt19937_64 rng{20261210};
  u64 operator()() {
    static constexpr u64 special[] = {0, 1, 2, 0xFFFFFFFFull, 0x100000000ull, 1ull << 63, ~0ull,
                                      ~0ull - 1, 0xFFFFFFFF00000000ull};
    const u64 k = rng() % 12;
    return k < 9 ? special[k] : rng();
  }
};

// The row and the column products agree on every width the curves use.
template <size_t N>
void rows_match_columns(std::initializer_list<uint32_t> curves) {
  LimbSource limb;
  for (const auto& mod : moduli<N>(curves)) {
    Mont<N> f;
    f.init(mod.data());
    for (int i = 0; i < 20000; ++i) {
      u64 a[N], b[N], r1[N], r2[N];
      for (size_t j = 0; j < N; ++j) {
        a[j] = limb();
        b[j] = limb();
      }
      size_t top = N - 1;
      while (mod[top] == 0) b[top--] = 0;  // P-521 fits 9 limbs with room
      b[top] %= mod[top];
      f.mul_rows(r1, a, b);
      f.mul_columns(r2, a, b);
      ASSERT_EQ(std::memcmp(r1, r2, sizeof r1), 0) << "N=" << N << " case " << i;
    }
  }
}

TEST(Field, RowAndColumnProductsAgree) {
  rows_match_columns<4>({17, 18, 34, 67});
  rows_match_columns<6>({19, 69});
  rows_match_columns<8>({70});
  rows_match_columns<9>({20});
}

TEST(FieldAdx, FastPathRunsOnThisCpu) {
  ASSERT_TRUE(quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx)
      << "this machine class has BMI2 and ADX";
  EXPECT_TRUE(ect::group(18).uses_adx());
  EXPECT_TRUE(ect::group(34).uses_adx());
  EXPECT_FALSE(ect::group(19).uses_adx());  // six limbs: portable only
  quarzel::testing::force_portable(quarzel::testing::Path::ec, true);
  EXPECT_FALSE(ect::group(18).uses_adx());
  quarzel::testing::force_portable(quarzel::testing::Path::ec, false);
  EXPECT_TRUE(ect::group(18).uses_adx());
}

TEST(FieldAdx, ProductsMatchThePortableProduct) {
  for (const auto& mod : four_limb_moduli()) {
    Mont<4> fast, slow;
    fast.init(mod.data());
    slow.init(mod.data());
    ASSERT_TRUE(fast.adx);
    slow.adx = false;
    // Edge limbs and values: 0, 1, m - 1, m - 2, and (first operand only,
    // as in conversions into Montgomery form) values up to 2^256 - 1.
    std::array<u64, 4> m1 = mod, m2 = mod;
    m1[0] -= 1;
    m2[0] -= 2;
    const std::vector<std::array<u64, 4>> edges = {
        {0, 0, 0, 0}, {1, 0, 0, 0}, m1, m2, {~0ull, ~0ull, ~0ull, ~0ull}, {0, 0, 0, 1ull << 63}};
    auto check = [&](const u64* a, const u64* b) {
      u64 r1[4], r2[4];
      fast.mul(r1, a, b);
      slow.mul(r2, a, b);
      ASSERT_EQ(std::memcmp(r1, r2, sizeof r1), 0);
    };
    for (const auto& a : edges)
      for (const auto& b : edges)
        if (quarzel::ec::fe_lt<4>(b.data(), mod.data())) check(a.data(), b.data());
    LimbSource limb;
    for (int i = 0; i < 100000; ++i) {
      u64 a[4], b[4];
      for (int j = 0; j < 4; ++j) {
        a[j] = limb();
        b[j] = limb();
      }
      if (!quarzel::ec::fe_lt<4>(b, mod.data())) b[3] %= mod[3];  // b below m, a any 256 bits
      check(a, b);
    }
  }
}

// a a^-1 = 1 modulo every curve's p and n (divsteps on four limbs, the
// sliding windows over m - 2 wider), for edge values and random ones, on both
// 4-limb paths; 0 inverts to 0.
template <size_t N>
void inverses_give_one(std::initializer_list<uint32_t> curves) {
  LimbSource limb;
  for (const auto& mod : moduli<N>(curves)) {
    for (const bool adx : {false, true}) {
      Mont<N> f;
      f.init(mod.data());
      f.p256 = false;
      f.adx = adx && f.adx;
      std::vector<std::array<u64, N>> values(3);
      values[1][0] = 1;
      values[2] = mod;
      values[2][0] -= 1;  // m - 1
      for (int i = 0; i < 300; ++i) {
        std::array<u64, N> v;
        for (auto& w : v) w = limb();
        if (!quarzel::ec::fe_lt<N>(v.data(), mod.data())) v[N - 1] %= mod[N - 1] | 1;
        if (quarzel::ec::fe_lt<N>(v.data(), mod.data())) values.push_back(v);
      }
      for (const auto& v : values) {
        u64 inv[N], prod[N];
        f.inv_prime(inv, v.data());
        f.mul(prod, inv, v.data());
        const u64 zero[N] = {};
        const u64* want = quarzel::ec::fe_is_zero_mask<N>(v.data()) != 0 ? zero : f.one;
        ASSERT_EQ(std::memcmp(prod, want, sizeof prod), 0) << "N=" << N << " adx=" << adx;
      }
    }
  }
}

// a / 2 doubles back to a and 2a halves back to a, modulo every curve's p
// and n, for 0, 1, m - 1, (m - 1) / 2 and random values (odd and even).
template <size_t N>
void halves_double_back(std::initializer_list<uint32_t> curves) {
  LimbSource limb;
  for (const auto& mod : moduli<N>(curves)) {
    Mont<N> f;
    f.init(mod.data());
    std::vector<std::array<u64, N>> values(4);
    values[1][0] = 1;
    values[2] = mod;
    values[2][0] -= 1;  // m - 1 (m is odd)
    for (size_t j = 0; j + 1 < N; ++j) values[3][j] = (values[2][j] >> 1) | (values[2][j + 1] << 63);
    values[3][N - 1] = values[2][N - 1] >> 1;  // (m - 1) / 2
    for (int i = 0; i < 2000; ++i) {
      std::array<u64, N> v;
      for (auto& w : v) w = limb();
      if (!quarzel::ec::fe_lt<N>(v.data(), mod.data())) v[N - 1] %= mod[N - 1] | 1;
      if (quarzel::ec::fe_lt<N>(v.data(), mod.data())) values.push_back(v);
    }
    for (const auto& v : values) {
      u64 h[N], back[N];
      f.half(h, v.data());
      ASSERT_EQ(quarzel::ec::fe_lt<N>(h, mod.data()), 1u) << "N=" << N;
      f.dbl(back, h);
      ASSERT_EQ(std::memcmp(back, v.data(), sizeof back), 0) << "N=" << N;
      f.dbl(h, v.data());
      f.half(back, h);
      ASSERT_EQ(std::memcmp(back, v.data(), sizeof back), 0) << "N=" << N;
    }
  }
}

TEST(Field, HalvesDoubleBack) {
  halves_double_back<4>({17, 18, 34, 67});
  halves_double_back<6>({19, 69});
  halves_double_back<8>({70});
  halves_double_back<9>({20});
}

TEST(Field, InversesGiveOne) {
  inverses_give_one<4>({17, 18, 34, 67});
  inverses_give_one<6>({19, 69});
  inverses_give_one<8>({70});
  inverses_give_one<9>({20});
}

// The P-256 prime's products and inversion (both paths) against the general
// Montgomery arithmetic on the same prime: operands at the edges of the carry
// chains (0, 1, p - 1, p - 2, limbs of all ones or at 2^32 boundaries), and
// any 256-bit first operand as conversions into Montgomery form pass.
TEST(FieldP256, SpecialFormMatchesTheGeneralReduction) {
  const std::array<u64, 4> p = {quarzel::ec::kP256[0], quarzel::ec::kP256[1], quarzel::ec::kP256[2],
                                quarzel::ec::kP256[3]};
  Mont<4> general;
  general.init(p.data());
  ASSERT_TRUE(general.p256);
  general.p256 = false;
  general.adx = false;
  for (const bool adx : {false, true}) {
    Mont<4> special;
    special.init(p.data());
    special.adx = adx && quarzel::ec::cpu_has_adx();
    std::array<u64, 4> p1 = p, p2 = p, half = p;
    p1[0] -= 1;
    p2[0] -= 2;
    half[3] >>= 1;
    std::vector<std::array<u64, 4>> values = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, p1, p2, half,
                                              {~0ull, ~0ull, ~0ull, ~0ull}, {0, 0, 0, 1ull << 63},
                                              {~0ull, 0, ~0ull, 0}, {0, ~0ull, 0, 0xFFFFFFFF00000000ull},
                                              {0xFFFFFFFFull, 0x100000000ull, ~0ull, 0xFFFFFFFEFFFFFFFFull}};
    LimbSource limb;
    for (int i = 0; i < 200000; ++i) {
      std::array<u64, 4> v;
      for (auto& w : v) w = limb();
      values.push_back(v);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      const u64* a = values[i].data();
      std::array<u64, 4> b = values[(i * 7 + 3) % values.size()];
      if (!quarzel::ec::fe_lt<4>(b.data(), p.data())) b[3] %= p[3];  // b < p, a any 256 bits
      u64 want[4], got[4];
      general.mul(want, a, b.data());
      special.mul(got, a, b.data());
      ASSERT_EQ(std::memcmp(want, got, sizeof want), 0) << "mul, adx=" << adx << " case " << i;
      general.mul(want, b.data(), b.data());
      special.sqr(got, b.data());
      ASSERT_EQ(std::memcmp(want, got, sizeof want), 0) << "sqr, adx=" << adx << " case " << i;
      if (i % 64 == 0) {  // the inversion against the windowed power
        general.inv_fermat(want, b.data());
        special.inv_prime(got, b.data());
        ASSERT_EQ(std::memcmp(want, got, sizeof want), 0) << "inv, adx=" << adx << " case " << i;
        special.mul(got, got, b.data());  // b b^-1 is one (R in Montgomery form), or 0 for b = 0
        const u64 zero[4] = {};
        const u64* unit = quarzel::ec::fe_is_zero_mask<4>(b.data()) != 0 ? zero : special.one;
        ASSERT_EQ(std::memcmp(got, unit, sizeof got), 0) << "inv, adx=" << adx << " case " << i;
      }
    }
  }
}

// The P-256 field on both paths against OpenSSL's big numbers: a b, a^2 and
// a^-1 mod p, in and out of Montgomery form, for values at the carry edges
// (below p: p - 1, all-ones limbs, 2^255, 2^224 boundaries) and random ones.
TEST(FieldP256, MatchesOpenSslBigNumbers) {
  const u64* p = quarzel::ec::kP256;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *bp = BN_new(), *ba = BN_new(), *bb = BN_new(), *want = BN_new();
  auto to_bn = [](const u64* v, BIGNUM* b) {
    uint8_t be[32];
    quarzel::ec::fe_to_bytes<4>(be, 32, v);
    BN_bin2bn(be, 32, b);
  };
  auto from_bn = [](const BIGNUM* b, u64* v) {
    uint8_t be[32];
    BN_bn2binpad(b, be, 32);
    quarzel::ec::fe_from_bytes<4>(v, be, 32);
  };
  to_bn(p, bp);
  std::vector<std::array<u64, 4>> values = {{0, 0, 0, 0},
                                            {1, 0, 0, 0},
                                            {p[0] - 1, p[1], p[2], p[3]},
                                            {p[0] - 2, p[1], p[2], p[3]},
                                            {~0ull, ~0ull, ~0ull, 0xFFFFFFFEFFFFFFFFull},
                                            {0, 0, 0, 1ull << 63},
                                            {0, 0, 0, 0xFFFFFFFF00000000ull},
                                            {~0ull, 0xFFFFFFFFull, 0, 0xFFFFFFFF00000000ull},
                                            {0, 0x100000000ull, 0, 1}};
  LimbSource limb;
  for (int i = 0; i < 3000; ++i) {
    std::array<u64, 4> v;
    for (auto& w : v) w = limb();
    if (!quarzel::ec::fe_lt<4>(v.data(), p)) v[3] &= 0x7FFFFFFFFFFFFFFFull;
    values.push_back(v);
  }
  for (const bool adx : {false, true}) {
    Mont<4> f;
    f.init(p);
    ASSERT_TRUE(f.p256);
    f.adx = adx && f.adx;
    for (size_t i = 0; i < values.size(); ++i) {
      const auto& a = values[i];
      const auto& b = values[(i * 5 + 1) % values.size()];
      u64 ma[4], mb[4], got[4], exp[4];
      f.to_mont(ma, a.data());
      f.to_mont(mb, b.data());
      to_bn(a.data(), ba);
      to_bn(b.data(), bb);
      f.mul(got, ma, mb);
      f.from_mont(got, got);
      ASSERT_EQ(1, BN_mod_mul(want, ba, bb, bp, ctx));
      from_bn(want, exp);
      ASSERT_EQ(std::memcmp(got, exp, sizeof got), 0) << "mul, adx=" << adx << " case " << i;
      f.sqr(got, ma);
      f.from_mont(got, got);
      ASSERT_EQ(1, BN_mod_sqr(want, ba, bp, ctx));
      from_bn(want, exp);
      ASSERT_EQ(std::memcmp(got, exp, sizeof got), 0) << "sqr, adx=" << adx << " case " << i;
      if (i % 8 == 0 && !BN_is_zero(ba)) {
        f.inv_prime(got, ma);
        f.from_mont(got, got);
        ASSERT_NE(nullptr, BN_mod_inverse(want, ba, bp, ctx));
        from_bn(want, exp);
        ASSERT_EQ(std::memcmp(got, exp, sizeof got), 0) << "inv, adx=" << adx << " case " << i;
      }
    }
  }
  BN_free(bp);
  BN_free(ba);
  BN_free(bb);
  BN_free(want);
  BN_CTX_free(ctx);
}

}  // namespace
