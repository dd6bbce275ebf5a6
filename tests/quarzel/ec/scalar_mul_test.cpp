// The table and double-scalar multiplications against the ladder (and the
// ladder-plus-addition of verification) on every curve and both field paths,
// for edge scalars and random ones.
#include "ec_test_util.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <vector>

namespace {

using ect::Bytes;
using quarzel::ec::ecpi_group_t;

// Big-endian byte strings of one length: x + delta (small), and x - y for x >= y.
Bytes add(Bytes x, int delta) {
  int carry = delta;
  for (size_t i = x.size(); i-- > 0 && carry != 0;) {
    const int v = x[i] + carry;
    x[i] = static_cast<uint8_t>(v & 0xFF);
    carry = v < 0 ? -1 : (v >> 8);
  }
  return x;
}
Bytes sub(Bytes x, const Bytes& y) {
  int borrow = 0;
  for (size_t i = x.size(); i-- > 0;) {
    const int v = x[i] - y[i] - borrow;
    x[i] = static_cast<uint8_t>(v & 0xFF);
    borrow = v < 0 ? 1 : 0;
  }
  return x;
}

// L-byte scalars: 0, 1, 2, n-1, n, n+1 (beyond n, the ladder's contract still
// holds), long runs of ones and zeros, alternating bits, and random values.
std::vector<Bytes> scalars(const ecpi_group_t& e) {
  const uint32_t L = e.byte_size();
  const Bytes n(e.n_bytes(), e.n_bytes() + L);
  std::vector<Bytes> v = {Bytes(L, 0), add(Bytes(L, 0), 1), add(Bytes(L, 0), 2), add(n, -1), n, add(n, 1)};
  Bytes ones_low(L, 0), ones_high(L, 0), alternating(L, 0x55), sparse(L, 0);
  for (uint32_t i = L / 2; i < L; ++i) ones_low[i] = 0xFF;  // a long run of ones, then of zeros above
  for (uint32_t i = 0; i < L / 2; ++i) ones_high[i] = 0xFF;
  ones_high[0] = 0;
  ones_high[1] = 0x7F;  // stays below n on every curve
  sparse[L - 1] = 0x80;
  sparse[L / 2] = 0x01;
  v.insert(v.end(), {ones_low, ones_high, alternating, sparse});
  // Where signed 5-bit digits change sign or meet their own multiple in the
  // last window (k = 2 d, n - 2 d), and the largest L-byte value.
  for (int d : {16, 17, 31, 32, 33}) v.push_back(add(Bytes(L, 0), d));
  for (int d = 1; d <= 16; ++d) {  // one of these has k = 2 d_0 mod n, d_0 its last digit
    v.push_back(add(n, -2 * d));
    v.push_back(add(n, 2 * d));
  }
  v.push_back(Bytes(L, 0xFF));
  for (int i = 0; i < 6; ++i) {
    Bytes r(L);
    RAND_bytes(r.data(), static_cast<int>(L));
    v.push_back(r);
  }
  return v;
}

struct Point {
  bool infinity = false;
  Bytes x, y;
  bool operator==(const Point& o) const { return infinity == o.infinity && (infinity || (x == o.x && y == o.y)); }
};

Point ladder(const ecpi_group_t& e, const Bytes& k, const uint8_t* px, const uint8_t* py) {
  Point p;
  p.x.resize(e.byte_size());
  p.y.resize(e.byte_size());
  EXPECT_EQ(0, e.mul(k.data(), px, py, p.x.data(), p.y.data(), &p.infinity));
  return p;
}

class ScalarMulMethods : public ::testing::TestWithParam<std::tuple<ect::CurveCase, bool>> {};

// Scalars k = 2 S + j n whose signed 6-bit digits below window w sum to S
// with S = d 2^(6w) - j n for a digit d: there the generator table's sum
// meets its own entry (mod n) and must double. For every window w near the
// top and j = 1, 2, 3 where such a k fits L bytes.
std::vector<Bytes> base_collisions(const ecpi_group_t& e) {
  const int L = static_cast<int>(e.byte_size());
  std::vector<Bytes> out;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *n = BN_bin2bn(e.n_bytes(), L, nullptr), *jn = BN_new(), *s = BN_new(), *k = BN_new(),
         *pw = BN_new(), *half = BN_new();
  for (int w = 1; 6 * w < 8 * L; ++w) {
    if (6 * (w + 1) < static_cast<int>(e.nbits())) continue;
    BN_zero(pw);
    BN_set_bit(pw, 6 * w);
    BN_rshift1(half, pw);
    for (int j = 1; j <= 3; ++j) {
      BN_copy(jn, n);
      BN_mul_word(jn, static_cast<BN_ULONG>(j));
      BN_nnmod(s, jn, pw, ctx);  // S = -(j n) mod 2^(6w), into [-2^(6w-1), 2^(6w-1))
      BN_sub(s, pw, s);
      if (BN_cmp(s, half) >= 0) BN_sub(s, s, pw);
      BN_lshift1(k, s);
      BN_add(k, k, jn);
      if (BN_is_negative(k) || BN_num_bytes(k) > L) continue;
      Bytes kb(static_cast<size_t>(L));
      BN_bn2binpad(k, kb.data(), L);
      out.push_back(kb);
    }
  }
  BN_free(n);
  BN_free(jn);
  BN_free(s);
  BN_free(k);
  BN_free(pw);
  BN_free(half);
  BN_CTX_free(ctx);
  return out;
}

TEST_P(ScalarMulMethods, BaseTableMatchesTheLadder) {
  const auto& [curve, portable] = GetParam();
  std::unique_ptr<ect::PortableField> path(portable ? new ect::PortableField : nullptr);
  const ecpi_group_t& e = ect::group(curve.id);
  std::vector<Bytes> all = scalars(e), extra = base_collisions(e);
  all.insert(all.end(), extra.begin(), extra.end());
  for (const Bytes& k : all) {
    Point table;
    table.x.resize(e.byte_size());
    table.y.resize(e.byte_size());
    ASSERT_EQ(0, e.mul_base(k.data(), table.x.data(), table.y.data(), &table.infinity));
    EXPECT_EQ(ladder(e, k, e.G().x, e.G().y), table) << zt::hex(k);
  }
}

TEST_P(ScalarMulMethods, FixedWindowMatchesTheLadder) {
  const auto& [curve, portable] = GetParam();
  std::unique_ptr<ect::PortableField> path(portable ? new ect::PortableField : nullptr);
  const ecpi_group_t& e = ect::group(curve.id);
  const uint32_t L = e.byte_size();
  Bytes seven(L, 0);
  seven[L - 1] = 7;
  const Point p = ladder(e, seven, e.G().x, e.G().y);
  for (const Bytes& k : scalars(e)) {
    Point win;
    win.x.resize(L);
    win.y.resize(L);
    ASSERT_EQ(0, e.mul_window(k.data(), p.x.data(), p.y.data(), win.x.data(), win.y.data(), &win.infinity));
    EXPECT_EQ(ladder(e, k, p.x.data(), p.y.data()), win) << zt::hex(k);
  }
  Bytes off = p.y;
  off[L - 1] ^= 1;
  bool inf = false;
  Bytes x(L), y(L);
  EXPECT_NE(0, e.mul_window(seven.data(), p.x.data(), off.data(), x.data(), y.data(), &inf));
}

TEST_P(ScalarMulMethods, DualProductMatchesTwoLaddersAndAnAddition) {
  const auto& [curve, portable] = GetParam();
  std::unique_ptr<ect::PortableField> path(portable ? new ect::PortableField : nullptr);
  const ecpi_group_t& e = ect::group(curve.id);
  const uint32_t L = e.byte_size();
  const Bytes n(e.n_bytes(), e.n_bytes() + L);
  auto small = [L](uint8_t v) {
    Bytes b(L, 0);
    b[L - 1] = v;
    return b;
  };
  const Bytes nm1 = sub(n, small(1)), nm10 = sub(n, small(10));
  std::vector<Bytes> all;
  for (const Bytes& k : scalars(e))
    if (k < n) all.push_back(k);  // verification scalars are below n (equal lengths: byte order is numeric order)
  std::vector<std::pair<Bytes, Bytes>> pairs;
  for (size_t i = 0; i < all.size(); ++i) pairs.emplace_back(all[i], all[(i + 3) % all.size()]);
  // With Q = 5 G: 10 G + 2 Q has equal halves, -10 G + 2 Q is infinity. With
  // Q = G or -G the shared chain of doublings also adds a point to itself or
  // to its negative on the way.
  for (const auto& u : {small(10), nm10, small(1), nm1, small(3)})
    for (const auto& v : {small(2), small(10), small(1), small(3)}) pairs.emplace_back(u, v);
  for (const Bytes& base : {small(5), small(1), nm1}) {
    const Point q = ladder(e, base, e.G().x, e.G().y);
    for (const auto& [u1, u2] : pairs) {
      const Point a = ladder(e, u1, e.G().x, e.G().y);
      const Point b = ladder(e, u2, q.x.data(), q.y.data());
      Point want;
      if (a.infinity) {
        want = b;
      } else if (b.infinity) {
        want = a;
      } else {
        want.x.resize(L);
        want.y.resize(L);
        ASSERT_EQ(0, e.add(a.x.data(), a.y.data(), b.x.data(), b.y.data(), want.x.data(), want.y.data(),
                           &want.infinity));
      }
      Point got;
      got.x.resize(L);
      got.y.resize(L);
      ASSERT_EQ(0, e.mul_dual_vartime(u1.data(), u2.data(), q.x.data(), q.y.data(), got.x.data(),
                                      got.y.data(), &got.infinity));
      EXPECT_EQ(want, got) << zt::hex(base) << ": " << zt::hex(u1) << " " << zt::hex(u2);
      // ECDSA's projective test of x(R) mod n against r, and against r + 1.
      if (want.infinity) continue;
      Bytes r = want.x;
      if (!(r < n)) r = sub(r, n);  // x < p < 2n
      if (r == Bytes(L, 0)) continue;
      for (const bool same : {true, false}) {
        const Bytes candidate = same ? r : add(r, 1);
        bool match = !same;
        ASSERT_EQ(0, e.ecdsa_check_vartime(u1.data(), u2.data(), q.x.data(), q.y.data(), candidate.data(),
                                           &match));
        EXPECT_EQ(same, match) << zt::hex(u1) << " " << zt::hex(u2);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CurvesAndPaths, ScalarMulMethods,
                         ::testing::Combine(::testing::ValuesIn(ect::curves()), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).wycheproof) +
                                  (std::get<1>(info.param) ? "_portable" : "_cpu");
                         });

}  // namespace
