// The Montgomery kernels of every path (the MULX/ADX ones unrolled per size,
// the looped one, the portable ones) and the paired exponentiations (IFMA
// and its model) against OpenSSL's BIGNUM on random and edge operands: 0, 1,
// n-1, n-2, all-ones limbs, moduli of one bit and of all ones.
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <random>
#include <string>
#include <vector>

#include "mpbn/mpbn_internal.h"
#include "quarzel/cpu.h"
#include "quarzel/mpbn.h"
#include "support/seams.h"

namespace {

namespace md = quarzel::mpbn_detail;
using Limbs = std::vector<uint64_t>;

bool cpu_has_adx() { return quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx; }

struct Bn {
  BIGNUM* b = BN_new();
  Bn() = default;
  explicit Bn(const Limbs& x) {
    std::vector<uint8_t> be(8 * x.size());
    for (size_t i = 0; i < x.size(); ++i) {
      for (int k = 0; k < 8; ++k) be[be.size() - 1 - 8 * i - k] = static_cast<uint8_t>(x[i] >> (8 * k));
    }
    BN_bin2bn(be.data(), static_cast<int>(be.size()), b);
  }
  ~Bn() { BN_free(b); }
  Bn(const Bn&) = delete;
  Bn& operator=(const Bn&) = delete;
  Limbs limbs(size_t L) const {
    std::vector<uint8_t> be(8 * L);
    EXPECT_GT(BN_bn2binpad(b, be.data(), static_cast<int>(be.size())), -1);
    Limbs x(L);
    for (size_t i = 0; i < L; ++i) {
      for (int k = 0; k < 8; ++k) x[i] |= static_cast<uint64_t>(be[be.size() - 1 - 8 * i - k]) << (8 * k);
    }
    return x;
  }
};

struct Oracle {
  BN_CTX* ctx = BN_CTX_new();
  size_t L;
  Bn n, rinv, r2;
  explicit Oracle(const Limbs& modulus) : L(modulus.size()), n(modulus) {
    Bn r;
    BN_set_bit(r.b, static_cast<int>(64 * L));
    EXPECT_NE(nullptr, BN_mod_inverse(rinv.b, r.b, n.b, ctx));
    BN_mod_mul(r2.b, r.b, r.b, n.b, ctx);
  }
  ~Oracle() { BN_CTX_free(ctx); }
  // a b R^-1 mod n
  Limbs mont(const Limbs& a, const Limbs& b) {
    Bn A(a), B(b), x;
    BN_mod_mul(x.b, A.b, B.b, n.b, ctx);
    BN_mod_mul(x.b, x.b, rinv.b, n.b, ctx);
    return x.limbs(L);
  }
};

// Moduli of L limbs: random with the top bit set, all ones, a top limb of 1,
// a top bit over a low limb of ones, and an empty top limb.
std::vector<Limbs> moduli(size_t L, std::mt19937_64& rng) {
  std::vector<Limbs> out;
  for (int i = 0; i < 3; ++i) {
    Limbs n(L);
    for (auto& x : n) x = rng();
    n[0] |= 1;
    n[L - 1] |= uint64_t{1} << 63;
    out.push_back(n);
  }
  out.push_back(Limbs(L, ~uint64_t{0}));
  if (L >= 2) {
    Limbs small_top(L);
    for (auto& x : small_top) x = rng();
    small_top[0] |= 1;
    small_top[L - 1] = 1;
    out.push_back(small_top);
  }
  Limbs one_bit_top(L, 0);
  one_bit_top[0] = 0xFFFFFFFFFFFFFFC5ull;  // odd
  one_bit_top[L - 1] |= uint64_t{1} << 63;
  out.push_back(one_bit_top);
  if (L >= 2) {  // an empty top limb
    Limbs short_n(L, 0);
    for (size_t i = 0; i + 1 < L; ++i) short_n[i] = rng();
    short_n[0] |= 1;
    short_n[L - 2] |= uint64_t{1} << 63;
    out.push_back(short_n);
  }
  return out;
}

Limbs sub_small(Limbs x, uint64_t v) {
  for (auto& limb : x) {
    const uint64_t before = limb;
    limb -= v;
    v = limb > before ? 1 : 0;
    if (v == 0) break;
  }
  return x;
}

// Operands below n: 0, 1, n-1, n-2, all-ones limbs below the top, random.
std::vector<Limbs> operands(const Limbs& n, std::mt19937_64& rng) {
  const size_t L = n.size();
  Limbs zero(L, 0), one(L, 0), ones_below(L, ~uint64_t{0});
  one[0] = 1;
  ones_below[L - 1] = 0;
  if (L >= 2 && n[L - 1] == 0) ones_below[L - 2] = 0;
  std::vector<Limbs> out{zero, one, sub_small(n, 1), sub_small(n, 2), ones_below};
  for (int i = 0; i < 4; ++i) {
    Limbs r(L);
    for (auto& x : r) x = rng();
    const size_t top = n[L - 1] != 0 ? L - 1 : L - 2;
    for (size_t k = top + 1; k < L; ++k) r[k] = 0;
    r[top] %= n[top];  // below n
    out.push_back(r);
  }
  return out;
}

void check_kernel(size_t L) {
  std::mt19937_64 rng(0x4D4F4E54 + L);
  for (const Limbs& n : moduli(L, rng)) {
    Oracle oracle(n);
    const uint64_t ninv = md::neg_inv64(n[0]);
    const md::MontKernel k = md::mont_kernel(L);
    SCOPED_TRACE(std::string(k.name) + " L=" + std::to_string(L));
    Limbs t(md::mont_rr_work_limbs(L)), r(L), rr(L);
    md::mont_rr_ct(L, rr.data(), n.data(), ninv, t.data());
    EXPECT_EQ(oracle.r2.limbs(L), rr);
    const std::vector<Limbs> ops = operands(n, rng);
    for (size_t i = 0; i < ops.size(); ++i) {
      k.sqr(L, r.data(), ops[i].data(), n.data(), ninv, t.data());
      EXPECT_EQ(oracle.mont(ops[i], ops[i]), r) << "sqr " << i;
      for (size_t j = 0; j < ops.size(); ++j) {
        k.mul(L, r.data(), ops[i].data(), ops[j].data(), n.data(), ninv, t.data());
        EXPECT_EQ(oracle.mont(ops[i], ops[j]), r) << "mul " << i << " " << j;
      }
    }
  }
}

// The sizes with kernels of their own, and sizes that take the general ones.
constexpr size_t kSizes[] = {1, 3, 4, 8, 16, 17, 24, 32, 48, 64};

TEST(MontKernel, EveryPathAgreesWithOpenSsl) {
  for (const bool portable : {false, true}) {
    if (!portable && !cpu_has_adx()) continue;
    const zt::PortablePath path(quarzel::testing::Path::mpbn, portable);
    for (size_t L : kSizes) check_kernel(L);
  }
}

// The sizes of RSA's CRT halves and moduli run on their unrolled MULX/ADX
// kernels where the CPU has the instructions, the others on the looped one;
// forcing the portable path reaches the portable kernels.
TEST(MontKernel, SizesGetTheirKernels) {
  {
    const zt::PortablePath portable(quarzel::testing::Path::mpbn);
    EXPECT_STREQ("portable16", quarzel::mpbn_mont_kernel_name(16));
    EXPECT_STREQ("portable32", quarzel::mpbn_mont_kernel_name(32));
    EXPECT_STREQ("portable", quarzel::mpbn_mont_kernel_name(17));
  }
  if (!cpu_has_adx()) GTEST_SKIP() << "this CPU has no BMI2/ADX";
  for (size_t L : {16, 24, 32, 48, 64}) {
    EXPECT_EQ("adx" + std::to_string(L), quarzel::mpbn_mont_kernel_name(L));
  }
  EXPECT_STREQ("adx", quarzel::mpbn_mont_kernel_name(17));
}

// ---- RSA's paired exponentiations on 52-bit digits ----

bool cpu_has_ifma() { return quarzel::cpu_features().avx512ifma; }

Limbs bn_mod_exp(const Limbs& b, const Limbs& e, const Limbs& n) {
  Bn B(b), E(e), N(n), r;
  BN_CTX* ctx = BN_CTX_new();
  EXPECT_EQ(1, BN_mod_exp(r.b, B.b, E.b, N.b, ctx));
  BN_CTX_free(ctx);
  return r.limbs(n.size());
}

// Exponents of L limbs: 0, 1, all ones, one top bit, and random ones.
std::vector<Limbs> exponents(size_t L, std::mt19937_64& rng) {
  Limbs zero(L, 0), one(L, 0), ones(L, ~uint64_t{0}), top(L, 0), r1(L), r2(L);
  one[0] = 1;
  top[L - 1] = uint64_t{1} << 63;
  for (auto& x : r1) x = rng();
  for (auto& x : r2) x = rng();
  return {zero, one, ones, top, r1, r2};
}

// Every modulus beside the next, every base shape beside some exponent
// shape: both results against OpenSSL.
void check_exp2(const md::MontExp2Kernel& k, size_t L) {
  ASSERT_NE(nullptr, k.run) << k.name;
  SCOPED_TRACE(std::string(k.name) + " L=" + std::to_string(L));
  std::mt19937_64 rng(0x45585032 + L);
  const std::vector<Limbs> ns = moduli(L, rng);
  const std::vector<Limbs> es = exponents(L, rng);
  for (size_t m = 0; m < ns.size(); ++m) {
    const Limbs* n[2] = {&ns[m], &ns[(m + 1) % ns.size()]};
    Limbs rr[2], t(md::mont_rr_work_limbs(L));
    uint64_t ninv[2];
    for (size_t h = 0; h < 2; ++h) {
      ninv[h] = md::neg_inv64((*n[h])[0]);
      rr[h].resize(L);
      md::mont_rr_ct(L, rr[h].data(), n[h]->data(), ninv[h], t.data());
    }
    const std::vector<Limbs> bases[2] = {operands(*n[0], rng), operands(*n[1], rng)};
    for (size_t i = 0; i < bases[0].size(); ++i) {
      const Limbs* e[2] = {&es[i % es.size()], &es[(i + 1) % es.size()]};
      Limbs r[2] = {Limbs(L), bases[1][i]};  // the second runs in place
      const md::ExpOperand ops[2] = {
          {r[0].data(), bases[0][i].data(), e[0]->data(), n[0]->data(), ninv[0], rr[0].data()},
          {r[1].data(), r[1].data(), e[1]->data(), n[1]->data(), ninv[1], rr[1].data()}};
      // Work space as a caller leaves it: full of earlier values.
      Limbs work(k.work, 0xA5A5A5A5A5A5A5A5ull);
      k.run(ops, work.data());
      for (size_t h = 0; h < 2; ++h) {
        EXPECT_EQ(bn_mod_exp(bases[h][i], *e[h], *n[h]), r[h]) << "modulus " << m << " base " << i << " half " << h;
      }
    }
  }
}

constexpr size_t kCrtHalves[] = {8, 16, 24, 32};

TEST(MontExp2, ModelAgreesWithOpenSsl) {
  for (size_t L : kCrtHalves) check_exp2(md::mont_exp2_model(L), L);
}

TEST(MontExp2, IfmaAgreesWithOpenSsl) {
  if (!cpu_has_ifma()) GTEST_SKIP() << "this CPU has no AVX-512 IFMA";
  for (size_t L : kCrtHalves) check_exp2(md::mont_exp2_ifma(L), L);
}

// IFMA pairs the halves where the CPU has it; forcing the portable
// Montgomery kernels turns pairing off, forcing the pair's model turns the
// model on; other sizes are never paired.
TEST(MontExp2, SizesGetTheirKernels) {
  {
    const zt::PortablePath model(quarzel::testing::Path::mpbn_exp2);
    EXPECT_STREQ("model16", quarzel::mpbn_exp2_kernel_name(16));
    EXPECT_STREQ("model32", quarzel::mpbn_exp2_kernel_name(32));
  }
  {
    const zt::PortablePath portable(quarzel::testing::Path::mpbn);
    EXPECT_STREQ("none", quarzel::mpbn_exp2_kernel_name(16));
  }
  EXPECT_STREQ("none", quarzel::mpbn_exp2_kernel_name(17));
  EXPECT_EQ(nullptr, md::mont_exp2_ifma(12).run);
  if (!cpu_has_ifma()) {
    EXPECT_STREQ("none", quarzel::mpbn_exp2_kernel_name(16));
    GTEST_SKIP() << "this CPU has no AVX-512 IFMA";
  }
  for (size_t L : kCrtHalves) EXPECT_EQ("ifma" + std::to_string(L), quarzel::mpbn_exp2_kernel_name(L));
}

}  // namespace
