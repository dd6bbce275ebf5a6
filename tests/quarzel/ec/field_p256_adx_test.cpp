// The P-256 kernels of the BMI2/ADX path (sum, difference, half, product,
// square) against the portable field code, and that path's windowed
// multiplication against the template it stands in for.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "ec/field_p256_adx.h"
#include "ec/scalar_mul.h"
#include "quarzel/cpu.h"

namespace {

using quarzel::ec::kP256;
using quarzel::ec::Mont;
using quarzel::ec::u64;
using Fe = std::array<u64, 4>;

bool has_adx() { return quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx; }

// The portable reference: P-256's own reduction off, products not on ADX.
Mont<4> reference() {
  Mont<4> f;
  f.init(kP256);
  f.p256 = false;
  f.adx = false;
  return f;
}

// Values below p that make long carry and borrow chains, and random ones.
std::vector<Fe> operands() {
  const Fe p = {kP256[0], kP256[1], kP256[2], kP256[3]};
  Fe p1 = p, p2 = p, half = p;
  p1[0] -= 1;
  p2[0] -= 2;
  for (int j = 0; j < 3; ++j) half[j] = (p1[j] >> 1) | (p1[j + 1] << 63);
  half[3] = p1[3] >> 1;  // (p - 1) / 2
  std::vector<Fe> v = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, p1, p2, half,
                       {~0ull, ~0ull, ~0ull, 0}, {0, 0, 0, 0xFFFFFFFF00000000ull}, {0, 0xFFFFFFFFull, 0, 0}};
  std::mt19937_64 rng(20261211);
  static constexpr u64 special[] = {0, 1, 0xFFFFFFFFull, 0x100000000ull, 1ull << 63, ~0ull, 0xFFFFFFFF00000000ull};
  while (v.size() < 400) {
    Fe x;
    for (auto& w : x) w = rng() % 3 == 0 ? special[rng() % 7] : rng();
    if (quarzel::ec::fe_lt<4>(x.data(), kP256) != 0) v.push_back(x);
  }
  return v;
}

TEST(FieldP256Adx, KernelsMatchThePortableField) {
  if (!has_adx()) GTEST_SKIP() << "no BMI2/ADX";
  const Mont<4> ref = reference();
  const std::vector<Fe> ops = operands();
  for (const Fe& a : ops) {
    Fe want, got;
    ref.half(want.data(), a.data());
    quarzel::ec::p256x_half(got.data(), a.data());
    ASSERT_EQ(want, got);
    ref.mul(want.data(), a.data(), a.data());
    quarzel::ec::p256x_sqr(got.data(), a.data());
    ASSERT_EQ(want, got);
    for (size_t i = 0; i < ops.size(); i += 7) {
      const Fe& b = ops[i];
      ref.add(want.data(), a.data(), b.data());
      quarzel::ec::p256x_add(got.data(), a.data(), b.data());
      ASSERT_EQ(want, got);
      ref.sub(want.data(), a.data(), b.data());
      quarzel::ec::p256x_sub(got.data(), a.data(), b.data());
      ASSERT_EQ(want, got);
      ref.mul(want.data(), a.data(), b.data());
      quarzel::ec::p256x_mul(got.data(), a.data(), b.data());
      ASSERT_EQ(want, got);
    }
  }
}

// The product's first operand may be any 256-bit value (a b < p 2^256), as
// in conversions into Montgomery form; the results alias their inputs.
TEST(FieldP256Adx, ProductTakesUnreducedFirstOperandAndAliases) {
  if (!has_adx()) GTEST_SKIP() << "no BMI2/ADX";
  const Mont<4> ref = reference();
  const std::vector<Fe> ops = operands();
  const std::vector<Fe> wide = {{~0ull, ~0ull, ~0ull, ~0ull},
                                {kP256[0], kP256[1], kP256[2], kP256[3]},
                                {0, 0, 0, ~0ull},
                                {kP256[0], kP256[1] + 1, kP256[2], kP256[3]}};
  for (const Fe& a : wide)
    for (const Fe& b : ops) {
      Fe want, got = a;
      ref.mul(want.data(), a.data(), b.data());
      quarzel::ec::p256x_mul(got.data(), got.data(), b.data());
      ASSERT_EQ(want, got);
    }
  for (const Fe& a : ops) {
    Fe want, got = a;
    ref.sub(want.data(), a.data(), a.data());
    quarzel::ec::p256x_sub(got.data(), got.data(), got.data());
    ASSERT_EQ(want, got);
    got = a;
    ref.add(want.data(), a.data(), a.data());
    quarzel::ec::p256x_add(got.data(), got.data(), got.data());
    ASSERT_EQ(want, got);
  }
}

Fe from_hex(const char* h) {
  Fe r{};
  for (int i = 0; i < 64; ++i) {
    const char c = h[i];
    const u64 d = c <= '9' ? c - '0' : c - 'A' + 10;
    const int pos = 63 - i;
    r[pos / 16] |= d << (4 * (pos % 16));
  }
  return r;
}

// k G by the ADX path and by the template on the portable field, for the
// scalars where the signed digits change sign or the last addition meets its
// own operand (k = 2 d, n - 2 d), 0, n and random ones: equal affine results,
// or both at infinity.
TEST(FieldP256Adx, WindowedProductMatchesTheTemplate) {
  if (!has_adx()) GTEST_SKIP() << "no BMI2/ADX";
  using P = quarzel::ec::ecpbn_proj_t<4>;
  Mont<4> fast;
  fast.init(kP256);
  ASSERT_TRUE(quarzel::ec::p256_window_adx_applies(fast, nullptr));
  Mont<4> slow = fast;
  slow.adx = false;
  ASSERT_FALSE(quarzel::ec::p256_window_adx_applies(slow, nullptr));
  const Fe n = from_hex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
  P g;
  fast.to_mont(g.x, from_hex("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296").data());
  fast.to_mont(g.y, from_hex("4FE342E2FE1A7F9B8E7EEB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5").data());
  std::memcpy(g.z, fast.one, sizeof g.z);
  std::vector<Fe> ks = {{0, 0, 0, 0}, {1, 0, 0, 0}, n, {~0ull, ~0ull, ~0ull, ~0ull}};
  for (u64 d = 1; d <= 40; ++d) {
    ks.push_back({d, 0, 0, 0});
    Fe below = n;
    below[0] -= 2 * d;  // no borrow: n's low limb is far above 80
    ks.push_back(below);
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20; ++i) ks.push_back({rng(), rng(), rng(), rng() % n[3]});
  for (const Fe& k : ks) {
    P table1[quarzel::ec::kBoothEntries + 1], table2[quarzel::ec::kBoothEntries + 1], r1, r2;
    quarzel::ec::mul_window_ct<4>(fast, nullptr, r1, g, k.data(), 4, 256, 256, table1);
    quarzel::ec::mul_window_ct<4>(slow, nullptr, r2, g, k.data(), 4, 256, 256, table2);
    const u64 inf1 = quarzel::ec::fe_is_zero_mask<4>(r1.z), inf2 = quarzel::ec::fe_is_zero_mask<4>(r2.z);
    ASSERT_EQ(inf1, inf2) << k[0];
    if (inf1 != 0) continue;
    Fe x1, y1, x2, y2;
    quarzel::ec::ecpbn_zdn_proj_normalize<4>(slow, x1.data(), y1.data(), r1);
    quarzel::ec::ecpbn_zdn_proj_normalize<4>(slow, x2.data(), y2.data(), r2);
    ASSERT_EQ(x1, x2) << k[0];
    ASSERT_EQ(y1, y2) << k[0];
  }
}

}  // namespace
