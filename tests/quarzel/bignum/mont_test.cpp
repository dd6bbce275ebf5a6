// Montgomery arithmetic, exponentiation, gcd and the 65537 test: documented
// cases, error words and the mended faults.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "big_util.h"
#include "quarzel/cpu.h"
#include "quarzel/mpbn.h"
#include "quarzel/mpi.h"
#include "quarzel/testing.h"
#include "support/oracle.h"

namespace {

using W = std::vector<mpbn_word_t>;

// The fast Montgomery path runs where the CPU has BMI2 and ADX; elsewhere
// there is nothing to check (a test of the CPU, not of the code).
TEST(MpbnMont, FastPathRunsWhereTheCpuHasIt) {
  const bool has = quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx;
  if (!has) GTEST_SKIP() << "this CPU has no BMI2/ADX";
  EXPECT_TRUE(quarzel::mpbn_mont_uses_adx());
  quarzel::testing::force_portable(quarzel::testing::Path::mpbn, true);
  EXPECT_FALSE(quarzel::mpbn_mont_uses_adx());
  quarzel::testing::force_portable(quarzel::testing::Path::mpbn, false);
  EXPECT_EQ(quarzel::mpbn_mont_uses_adx(), has);
}

TEST(MpbnMont, InverseWord) {
  mpbn_word_t x = 0;
  for (auto [m, want] : {std::pair{1u, 0xFFFFFFFFu}, {3u, 0x55555555u}, {7u, 0x49249249u}}) {
    ASSERT_EQ(mpbn_mul_inv_word(m, &x), 0);
    EXPECT_EQ(x, want) << m;
  }
  EXPECT_EQ(mpbn_mul_inv_word(8, &x), core_err(MPBN_FID_MUL_INV_WORD, MPBN_R_EVEN_MODULUS));
}

TEST(MpbnMont, InitAndProductModuloSeven) {
  mpbn_mont_ctx_t ctx{};
  W m{7}, rm(1), r2(1), r(1);
  ASSERT_EQ(mpbn_mont_init(&ctx, 1, m.data(), rm.data(), r2.data()), 0);
  EXPECT_EQ(rm, W{4});
  EXPECT_EQ(r2, W{2});
  W four{4};
  ASSERT_EQ(mpbn_mont_mult(&ctx, 1, m.data(), four.data(), four.data(), r.data()), 0);
  EXPECT_EQ(r, W{4});
  W eight{8};
  EXPECT_EQ(mpbn_mont_init(&ctx, 1, eight.data(), rm.data(), r2.data()), 0x393B);
  EXPECT_EQ(mpbn_mont_init(&ctx, 0, m.data(), rm.data(), r2.data()), 0x393A);
  EXPECT_EQ(mpbn_mont_init(&ctx, 1, m.data(), rm.data(), nullptr), 0x3905);
  EXPECT_EQ(mpbn_mont_mult(nullptr, 1, m.data(), four.data(), four.data(), r.data()), 0x3A05);
  EXPECT_EQ(mpbn_mont_mod_mul(1, four.data(), four.data(), eight.data(), r.data()), 0x3F3B);
  EXPECT_EQ(mpbn_mont_mod_mul(0, four.data(), four.data(), m.data(), r.data()), 0x3F3A);
  ASSERT_EQ(mpbn_mont_mod_mul(1, four.data(), four.data(), m.data(), r.data()), 0);
  EXPECT_EQ(r, W{2});
}

TEST(MpbnModExp, DocumentedCasesAndErrors) {
  W a{3}, n{7}, e{5}, r(1);
  ASSERT_EQ(mpbn_mod_exp(1, a.data(), n.data(), 1, e.data(), r.data()), 0);
  EXPECT_EQ(r, W{5});
  W zero{0};
  ASSERT_EQ(mpbn_mod_exp(1, a.data(), n.data(), 1, zero.data(), r.data()), 0);
  EXPECT_EQ(r, W{1});
  W even{8};
  EXPECT_EQ(mpbn_mod_exp(1, a.data(), even.data(), 1, e.data(), r.data()), 0x403B);
  EXPECT_EQ(mpbn_mod_exp(0, a.data(), n.data(), 1, e.data(), r.data()), 0x403A);
  EXPECT_EQ(mpbn_mod_exp(1, a.data(), n.data(), 1, nullptr, r.data()), 0x4005);
  // Modulus 1: everything is 0.
  W one{1};
  ASSERT_EQ(mpbn_mod_exp(1, a.data(), one.data(), 1, e.data(), r.data()), 0);
  EXPECT_EQ(r, W{0});
  // The result may be written over the base.
  ASSERT_EQ(mpbn_mod_exp(1, a.data(), n.data(), 1, e.data(), a.data()), 0);
  EXPECT_EQ(a, W{5});
}

// A modulus with leading zero words (an imported key shorter than its
// buffer) is computed on, not refused by an assertion: the results equal
// those of the trimmed modulus.
TEST(MpbnModExp, ModulusWithLeadingZeroWords) {
  bt::Rng rng(42);
  for (size_t n : {3u, 8u, 33u}) {
    W m = rng.random(n), a = rng.random(n), e = rng.random(2);
    m.back() |= 1;
    m[0] = m[1] = 0;
    a[0] = 0;
    W r(n);
    ASSERT_EQ(mpbn_mod_exp(static_cast<uint32_t>(n), a.data(), m.data(), 2, e.data(), r.data()), 0);
    // The same with the trimmed modulus, on the base reduced by it.
    W ar(n - 2), rt2(n - 2);
    ASSERT_EQ(mpbn_mod(static_cast<uint32_t>(n), a.data(), static_cast<uint32_t>(n - 2), m.data() + 2, ar.data()), 0);
    ASSERT_EQ(mpbn_mod_exp(static_cast<uint32_t>(n - 2), ar.data(), m.data() + 2, 2, e.data(), rt2.data()), 0);
    EXPECT_EQ(r[0], 0u);
    EXPECT_EQ(r[1], 0u);
    EXPECT_EQ(W(r.begin() + 2, r.end()), rt2) << n;

    mpbn_mont_ctx_t ctx{};
    W rm(n), r2(n);
    EXPECT_EQ(mpbn_mont_init(&ctx, static_cast<uint32_t>(n), m.data(), rm.data(), r2.data()), 0);
  }
}

TEST(MpbnGcd, DocumentedCases) {
  W a{12}, b{18}, r(1), zero{0};
  ASSERT_EQ(mpbn_gcd(1, 1, a.data(), 1, b.data(), 1, r.data()), 0);
  EXPECT_EQ(r, W{6});
  ASSERT_EQ(mpbn_gcd(1, 1, b.data(), 1, a.data(), 1, r.data()), 0);
  EXPECT_EQ(r, W{6});
  EXPECT_EQ(mpbn_gcd(1, 1, a.data(), 1, zero.data(), 1, r.data()), 0x3B36);
  EXPECT_EQ(mpbn_gcd(1, 0, a.data(), 1, b.data(), 1, r.data()), core_err(MPBN_FID_GCD, 0x3A));
}

// gcd(p - 1, q - 1) of 3072- and 4096-bit key generation: the result handle
// has the modulus' size, beyond any fixed work array.
TEST(MpbnGcd, KeySizedOperands) {
  bt::Rng rng(7);
  for (size_t bits : {3072u, 4096u}) {
    const size_t nw = bits / 32;
    bt::Big a = rng.random(nw / 2), b = rng.random(nw / 2);
    a.front() |= 0x80000000u;
    b.front() |= 0x80000000u;
    a.back() &= ~1u;  // both even: the gcd is at least 2
    b.back() &= ~1u;
    bt::Handle A(a, 4 * nw / 2, MPI_ENDIAN_MF_U32, true), B(b, 4 * nw / 2, MPI_ENDIAN_MF_U8, false);
    bt::Handle G(bt::Big{}, 4 * nw, MPI_ENDIAN_MF_U32, true);
    ASSERT_EQ(mpi_gcd(G.get(), A.get(), B.get()), 0) << bits;
    const std::string want =
        zt::run_python("import math,sys\na,b=(int(x,16) for x in sys.stdin.read().split())\nprint(format(math.gcd(a,b),'x'))",
                       bt::hex(a) + " " + bt::hex(b));
    EXPECT_EQ(bt::hex(G.value()) + "\n", want) << bits;
    uint32_t co = 9;
    ASSERT_EQ(mpi_check_coprime(A.get(), B.get(), &co), 0);
    EXPECT_EQ(co, 0u);
    // Word level, every count at the key size.
    W r(nw);
    bt::Big wa(nw, 0), wb(nw, 0);
    std::copy(a.begin(), a.end(), wa.begin() + nw / 2);
    std::copy(b.begin(), b.end(), wb.begin() + nw / 2);
    ASSERT_EQ(mpbn_gcd(static_cast<uint32_t>(nw), static_cast<uint32_t>(nw), wa.data(), static_cast<uint32_t>(nw),
                       wb.data(), static_cast<uint32_t>(nw), r.data()),
              0);
    EXPECT_EQ(bt::hex(r), bt::hex(G.value()));
  }
}

TEST(MpbnCoprime, WithF4) {
  uint32_t c = 9;
  W a{0, 65538};
  ASSERT_EQ(mpbn_coprime_a_minus_1_with_0x10001(2, a.data(), &c), 0);
  EXPECT_EQ(c, 0u);
  a = {0, 65539};
  ASSERT_EQ(mpbn_coprime_a_minus_1_with_0x10001(2, a.data(), &c), 0);
  EXPECT_EQ(c, 1u);
  a = {0, 1};
  ASSERT_EQ(mpbn_coprime_a_minus_1_with_0x10001(2, a.data(), &c), 0);
  EXPECT_EQ(c, 0u);
  c = 9;
  EXPECT_EQ(mpbn_coprime_a_minus_1_with_0x10001(0, a.data(), &c), 0x4B3A);
  EXPECT_EQ(c, 9u);
  // Sizes beyond 260 bytes are fine too.
  W big(100, 0);
  big.back() = 2;
  big[0] = 0;
  ASSERT_EQ(mpbn_coprime_a_minus_1_with_0x10001(100, big.data(), &c), 0);
  EXPECT_EQ(c, 1u);
}

}  // namespace
