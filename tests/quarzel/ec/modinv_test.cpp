// The divsteps inversion against OpenSSL's BN_mod_inverse, for every modulus
// it serves (p and n of the 4-limb curves) and for odd moduli that push the
// divstep bound (all ones, 2^255 + 1, random 256-bit), on edge inputs (0, 1,
// 2, m - 1, m - 2, (m - 1) / 2, powers of two, all-ones limbs) and random
// ones; and the Montgomery-form inversion of the fields against Fermat's.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "ec/curves.h"
#include "ec/field.h"
#include "ec/modinv.h"

namespace {

using quarzel::ec::u64;
using Limbs = std::array<u64, 4>;

std::vector<Limbs> curve_moduli() {
  std::vector<Limbs> out;
  for (uint32_t id : {17u, 18u, 34u, 67u}) {  // P-224, P-256, secp256k1, brainpoolP256r1
    quarzel::ec::ecpbn_dp_t dp{};
    EXPECT_EQ(quarzel::ec::ecpi_dp_mapping(&dp, id), 0);
    for (const uint32_t* w : {dp.crv_p, dp.crv_n}) {
      Limbs m{};
      for (uint32_t i = 0; i < dp.crv_nw; ++i) {
        const uint32_t pos = dp.crv_nw - 1 - i;
        m[pos / 2] |= static_cast<u64>(w[i]) << (32 * (pos % 2));
      }
      out.push_back(m);
    }
  }
  return out;
}

struct Bn {
  BIGNUM* b = BN_new();
  ~Bn() { BN_free(b); }
  void set(const Limbs& v) {
    uint8_t be[32];
    quarzel::ec::fe_to_bytes<4>(be, 32, v.data());
    ASSERT_NE(nullptr, BN_bin2bn(be, 32, b));
  }
  Limbs get() const {
    uint8_t be[32];
    EXPECT_EQ(32, BN_bn2binpad(b, be, 32));
    Limbs v{};
    quarzel::ec::fe_from_bytes<4>(v.data(), be, 32);
    return v;
  }
};

// Edge values below m and random ones (some with long runs of equal limbs).
std::vector<Limbs> inputs(const Limbs& m, std::mt19937_64& rng) {
  Limbs m1 = m, m2 = m, half{};
  m1[0] -= 1;
  m2[0] -= 2;
  for (int j = 0; j < 4; ++j) half[j] = (m1[j] >> 1) | (j < 3 ? m1[j + 1] << 63 : 0);
  std::vector<Limbs> v = {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, m1, m2, half, {~0ull, 0, 0, 0}};
  for (int bit = 1; bit < 256; bit += 7) {
    Limbs p{};
    p[bit / 64] = u64{1} << (bit % 64);
    v.push_back(p);
  }
  for (int i = 0; i < 2000; ++i) {
    Limbs r;
    for (auto& w : r) w = i % 5 == 0 ? ~0ull : rng();
    if (i % 3 == 0) r[0] = rng() % 1000;
    v.push_back(r);
  }
  std::vector<Limbs> below;
  for (auto& x : v) {
    while (!quarzel::ec::fe_lt<4>(x.data(), m.data())) {
      int top = 3;
      while (m[top] == 0) x[top--] = 0;
      x[top] %= m[top];
    }
    below.push_back(x);
  }
  return below;
}

void matches_openssl(const Limbs& m, std::mt19937_64& rng) {
  quarzel::ec::ModInv4 mi;
  mi.init(m.data());
  BN_CTX* ctx = BN_CTX_new();
  Bn bm, ba, want;
  bm.set(m);
  for (const Limbs& a : inputs(m, rng)) {
    Limbs got;
    quarzel::ec::modinv4(got.data(), a.data(), mi);
    ba.set(a);
    if (BN_mod_inverse(want.b, ba.b, bm.b, ctx) == nullptr) {
      // Not invertible: only 0 is defined (it gives 0).
      ERR_clear_error();
      if (BN_is_zero(ba.b)) {
        EXPECT_EQ(got, (Limbs{0, 0, 0, 0}));
      }
      continue;
    }
    ASSERT_EQ(got, want.get()) << std::hex << "m = " << m[3] << ' ' << m[2] << ' ' << m[1] << ' ' << m[0]
                               << ", a = " << a[3] << ' ' << a[2] << ' ' << a[1] << ' ' << a[0];
    Limbs again = a;
    quarzel::ec::modinv4(again.data(), again.data(), mi);  // in place
    ASSERT_EQ(again, got);
  }
  BN_CTX_free(ctx);
}

TEST(ModInv, MatchesOpenSslOnTheCurveModuli) {
  std::mt19937_64 rng(20261211);
  for (const Limbs& m : curve_moduli()) matches_openssl(m, rng);
}

TEST(ModInv, MatchesOpenSslOnOddModuliUpTo2To256) {
  std::mt19937_64 rng(7);
  std::vector<Limbs> moduli = {{~0ull, ~0ull, ~0ull, ~0ull}, {1, 0, 0, 1ull << 63}, {3, 0, 0, 0},
                               {~0ull, ~0ull, ~0ull, 0}, {0xFFFFFFFFFFFFFFC5ull, ~0ull, ~0ull, ~0ull}};
  for (int i = 0; i < 8; ++i) moduli.push_back({rng() | 1, rng(), rng(), rng() | (1ull << 63)});
  for (const Limbs& m : moduli) matches_openssl(m, rng);
}

// The fields' inverse in Montgomery form (divsteps, then R^3) against the
// windowed Fermat power, on both product paths.
TEST(ModInv, MontgomeryInverseMatchesFermat) {
  std::mt19937_64 rng(99);
  for (const Limbs& m : curve_moduli()) {
    for (const bool adx : {false, true}) {
      quarzel::ec::Mont<4> f;
      f.init(m.data());
      f.adx = adx && f.adx;
      for (const Limbs& a : inputs(m, rng)) {
        Limbs got, want;
        f.inv_prime(got.data(), a.data());
        f.inv_fermat(want.data(), a.data());
        ASSERT_EQ(got, want) << "adx=" << adx;
      }
    }
  }
}

}  // namespace
