// Division, reduction, modular arithmetic and inversion: documented cases,
// error words, and the mended faults.
#include <gtest/gtest.h>

#include <vector>

#include "big_util.h"
#include "mpbn/mpbn_internal.h"
#include "quarzel/mpbn.h"
#include "support/oracle.h"

namespace {

using W = std::vector<mpbn_word_t>;
constexpr mpbn_word_t kJunk = 0xA5A5A5A5;

// The Montgomery set-up finds the top bit of a secret prime's top limb
// with it; zero has none.
TEST(MpbnHighestBit, EveryPositionAndZero) {
  struct {
    uint64_t w, bit;
  } const cases[] = {
      {0, ~0ull},           {1, 0},    {2, 1},   {3, 1},
      {0xFFFFFFFFull, 31},  {0x100000000ull, 32}, {0x0000F00000000001ull, 47},
      {0x8000000000000000ull, 63},    {~0ull, 63},
  };
  for (const auto& c : cases) EXPECT_EQ(quarzel::mpbn_detail::mpbn_highest_bit_in_word(c.w), c.bit) << c.w;
  for (uint64_t b = 0; b < 64; ++b) EXPECT_EQ(quarzel::mpbn_detail::mpbn_highest_bit_in_word((1ull << b) | 1), b);
}

TEST(MpbnDiv, SmallerZeroAndZeroDivisor) {
  W a{0, 5}, b{0, 7}, q(2, kJunk), r(2, kJunk);
  ASSERT_EQ(mpbn_div(2, a.data(), 2, b.data(), 2, q.data(), r.data()), 0);
  EXPECT_EQ(q, (W{0, 0}));
  EXPECT_EQ(r, a);
  W zero{0, 0};
  ASSERT_EQ(mpbn_div(2, zero.data(), 2, b.data(), 2, q.data(), r.data()), 0);
  EXPECT_EQ(q, zero);
  EXPECT_EQ(r, zero);
  q.assign(2, kJunk);
  r.assign(2, kJunk);
  EXPECT_EQ(mpbn_div(2, a.data(), 2, zero.data(), 2, q.data(), r.data()), 0x4736);
  EXPECT_EQ(q, W(2, kJunk));
  EXPECT_EQ(r, W(2, kJunk));
}

// The quotient may share the dividend's words: the remainder is still
// taken from the dividend, also when it is the dividend itself (a < b).
TEST(MpbnDiv, QuotientInTheDividendsWords) {
  const W bs[] = {{1, 7}, {0, 3}};  // above and below a
  for (const W& b : bs) {
    const W a0{0, 5};
    W q(2), r(2);
    ASSERT_EQ(mpbn_div(2, a0.data(), 2, b.data(), 2, q.data(), r.data()), 0);
    W a = a0, r_shared(2, kJunk);
    ASSERT_EQ(mpbn_div(2, a.data(), 2, b.data(), 2, a.data(), r_shared.data()), 0);
    EXPECT_EQ(a, q) << "b = " << bt::hex(b);
    EXPECT_EQ(r_shared, r) << "b = " << bt::hex(b);
  }
}

TEST(MpbnDiv, QuotientArrayLength) {
  W a{1, 2, 3, 4}, b{5, 6};
  W q(4, kJunk), r(2);
  EXPECT_EQ(mpbn_div(4, a.data(), 2, b.data(), 2, q.data(), r.data()), 0x4737);
  EXPECT_EQ(q, W(4, kJunk));  // nothing written
  ASSERT_EQ(mpbn_div(4, a.data(), 2, b.data(), 4, q.data(), r.data()), 0);
  // 0x00000001_00000002_00000003_00000004 / 0x00000005_00000006
  EXPECT_EQ(q, (W{0, 0, 0x33333333, 0x5C28F5C2}));
  EXPECT_EQ(r, (W{0x4, 0xD70A3D78}));
  EXPECT_EQ(mpbn_div(4, a.data(), 2, b.data(), 3, q.data(), nullptr), 0);
}

TEST(MpbnDiv, DivisorUnchangedWithoutRemainder) {
  W a{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, b{0x00000003, 0x12345678}, q(3);
  const W b0 = b;
  ASSERT_EQ(mpbn_div(3, a.data(), 2, b.data(), 3, q.data(), nullptr), 0);
  EXPECT_EQ(b, b0);
}

// A divisor with one significant word behind zero words goes through the
// one-word division (the two-word estimate would read a missing word).
TEST(MpbnDiv, OneSignificantDivisorWordBehindZeros) {
  W a{0x89ABCDEF, 0x01234567, 0xFEDCBA98}, b{0, 0, 0x10001}, q(3), r(3);
  ASSERT_EQ(mpbn_div(3, a.data(), 3, b.data(), 3, q.data(), r.data()), 0);
  // Checked against q*b + r == a with the 64-bit arithmetic of the test.
  unsigned __int128 av = (static_cast<unsigned __int128>(a[0]) << 64) | (static_cast<uint64_t>(a[1]) << 32) | a[2];
  unsigned __int128 qv = (static_cast<unsigned __int128>(q[0]) << 64) | (static_cast<uint64_t>(q[1]) << 32) | q[2];
  EXPECT_EQ(qv, av / 0x10001);
  EXPECT_EQ(r, (W{0, 0, static_cast<mpbn_word_t>(av % 0x10001)}));
}

// Dividends whose first digit estimate survives both corrections and is
// one too large, so the divisor is added back (found by simulating the
// algorithm on 64-bit digits; random operands almost never do this).
TEST(MpbnDiv, AddBackCases) {
  const char* cases[][2] = {
      {"fffffffffffffffe000000010000000000000000ffffffff00000001000000000000000000000002",
       "fffffffffffffffe00000001000000000000000100000000"},
      {"180000000000000017fffffffffffffff00000000000000020000000100000000",
       "80000000000000010000000000000000fffffffffffffffe"},
      {"ffffffff7fffffffffffffffffffffffffffffff0000000000000002", "7ffffffffffffffffffffffffffffffffffffffffffffffe"},
      {"80000000000000000000000000000000000000000000000200000000000000028000000000000000",
       "10000000000000000000000000000000000000001"},
  };
  auto words = [](std::string hex) {
    hex.insert(0, (8 - hex.size() % 8) % 8, '0');
    W w(hex.size() / 8);
    for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<mpbn_word_t>(std::stoul(hex.substr(8 * i, 8), nullptr, 16));
    return w;
  };
  std::string lines;
  for (const auto& c : cases) {
    const W a = words(c[0]), b = words(c[1]);
    W q(a.size()), r(b.size());
    ASSERT_EQ(mpbn_div(static_cast<uint32_t>(a.size()), a.data(), static_cast<uint32_t>(b.size()), b.data(),
                       static_cast<uint32_t>(q.size()), q.data(), r.data()),
              0);
    W m(b.size());
    ASSERT_EQ(mpbn_mod(static_cast<uint32_t>(a.size()), a.data(), static_cast<uint32_t>(b.size()), b.data(), m.data()),
              0);
    EXPECT_EQ(m, r);
    lines += std::string(c[0]) + " " + c[1] + " " + bt::hex(q) + " " + bt::hex(r) + "\n";
  }
  const std::string out = zt::run_python(R"PY(
import sys
for line in sys.stdin:
    a, b, q, r = (int(x, 16) for x in line.split())
    print('ok' if divmod(a, b) == (q, r) else 'bad ' + line.strip())
)PY",
                                         lines);
  EXPECT_EQ(out, "ok\nok\nok\nok\n");
}

TEST(MpbnDiv1Word, ShortDivision) {
  W a{1, 0}, q(2), r(2);
  ASSERT_EQ(mpbn_div_1word(2, a.data(), 3, 2, q.data(), 2, r.data()), 0);
  EXPECT_EQ(q, (W{0, 0x55555555}));
  EXPECT_EQ(r, (W{0, 1}));
  EXPECT_EQ(mpbn_div_1word(2, a.data(), 0, 2, q.data(), 2, r.data()), 0x4836);
  EXPECT_EQ(mpbn_div_1word(2, a.data(), 3, 1, q.data(), 2, r.data()), 0x4837);
  // Quotient written in place over the dividend, with room in front.
  W inplace{0, 0, 6, 9};
  ASSERT_EQ(mpbn_div_1word(2, inplace.data() + 2, 3, 4, inplace.data(), 0, nullptr), 0);
  EXPECT_EQ(inplace, (W{0, 0, 2, 3}));
}

TEST(MpbnMod, ProductReductionAndZeroModulus) {
  W a{0x12345678, 0x9ABCDEF0, 0x0FEDCBA9, 0x87654321}, n{0x7FFFFFFF, 0xFFFFFFFF}, r(2, kJunk);
  ASSERT_EQ(mpbn_mod(4, a.data(), 2, n.data(), r.data()), 0);
  // a mod (2^63 - 1): fold the 63-bit pieces.
  unsigned __int128 av = (static_cast<unsigned __int128>((static_cast<uint64_t>(a[0]) << 32) | a[1]) << 64) |
                         ((static_cast<uint64_t>(a[2]) << 32) | a[3]);
  const uint64_t nv = 0x7FFFFFFFFFFFFFFFull;
  const uint64_t want = static_cast<uint64_t>(av % nv);
  EXPECT_EQ(r, (W{static_cast<mpbn_word_t>(want >> 32), static_cast<mpbn_word_t>(want)}));
  W zero{0, 0};
  r.assign(2, kJunk);
  EXPECT_EQ(mpbn_mod(4, a.data(), 2, zero.data(), r.data()), 0x3B36);
  EXPECT_EQ(r, W(2, kJunk));
  EXPECT_EQ(mpbn_mod(0, a.data(), 2, n.data(), r.data()), 0x3B3A);
  EXPECT_EQ(mpbn_mod(4, nullptr, 2, n.data(), r.data()), 0x3B05);
}

TEST(MpbnModAddSub, WrapAround) {
  W n{0, 101}, nm1{0, 100}, zero{0, 0}, one{0, 1}, r(2);
  ASSERT_EQ(mpbn_mod_add(2, nm1.data(), nm1.data(), n.data(), r.data()), 0);
  EXPECT_EQ(r, (W{0, 99}));
  ASSERT_EQ(mpbn_mod_sub(2, zero.data(), one.data(), n.data(), r.data()), 0);
  EXPECT_EQ(r, nm1);
  // A sum that carries out of the top word.
  W big{0xFFFFFFFF, 0xFFFFFFFF}, bm1{0xFFFFFFFF, 0xFFFFFFFE};
  ASSERT_EQ(mpbn_mod_add(2, bm1.data(), bm1.data(), big.data(), r.data()), 0);
  EXPECT_EQ(r, (W{0xFFFFFFFF, 0xFFFFFFFD}));
  EXPECT_EQ(mpbn_mod_add(0, bm1.data(), bm1.data(), big.data(), r.data()), core_err(MPBN_FID_MOD_ADD, 0x3A));
}

TEST(MpbnModInv, DocumentedCases) {
  W r(1, kJunk);
  W three{3}, seven{7}, eight{8}, six{6}, nine{9};
  ASSERT_EQ(mpbn_mod_inv(1, three.data(), seven.data(), r.data()), 0);
  EXPECT_EQ(r, W{5});
  ASSERT_EQ(mpbn_mod_inv(1, three.data(), eight.data(), r.data()), 0);
  EXPECT_EQ(r, W{3});
  EXPECT_EQ(mpbn_mod_inv(1, six.data(), nine.data(), r.data()), 0x4D41);
  EXPECT_EQ(mpbn_mod_inv(1, three.data(), six.data(), r.data()), 0x4241);
}

// An even operand has no inverse modulo an even modulus: reported, never a
// value returned as success.
TEST(MpbnModInv, EvenOperandEvenModulusHasNoInverse) {
  W r(2, kJunk);
  for (mpbn_word_t a : {2u, 4u, 6u, 0x10u, 0xFFFFFFFEu}) {
    W av{0, a}, n{0, 0x40};
    EXPECT_EQ(mpbn_mod_inv(2, av.data(), n.data(), r.data()), 0x4241) << a;
    W n2{1, 0x2};
    EXPECT_EQ(mpbn_mod_inv(2, av.data(), n2.data(), r.data()), 0x4241) << a;
  }
}

TEST(MpbnModInv, ZeroOperandAndZeroModulus) {
  W r(2, kJunk), zero{0, 0}, odd{0, 9}, even{0, 10};
  EXPECT_EQ(mpbn_mod_inv(2, zero.data(), odd.data(), r.data()), 0x4D41);
  EXPECT_EQ(mpbn_mod_inv(2, zero.data(), even.data(), r.data()), 0x4241);
  EXPECT_EQ(mpbn_mod_inv(2, odd.data(), zero.data(), r.data()), 0x4236);
  EXPECT_EQ(mpbn_mod_inv(0, odd.data(), odd.data(), r.data()), core_err(MPBN_FID_MOD_INV, 0x3A));
  EXPECT_EQ(mpbn_mod_inv_fast(2, odd.data(), even.data(), r.data()), 0x4D3B);
}

}  // namespace
