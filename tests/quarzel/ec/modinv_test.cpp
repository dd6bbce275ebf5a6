// The divsteps inversion against OpenSSL's BN_mod_inverse, for every modulus
// it serves (p and n of the 4-limb, 6-limb and P-521 curves) and for odd
// moduli that push the divstep bound (all ones, 2^255 + 1, 2^383 + 1,
// 2^520 + 1, random ones of the full width), on edge inputs (0, 1, 2, m - 1,
// m - 2, (m - 1) / 2, powers of two, all-ones limbs) and random ones; and the
// Montgomery-form inversion of the fields against Fermat's.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <array>
#include <initializer_list>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ec/curves.h"
#include "ec/field.h"
#include "ec/modinv.h"

namespace {

using quarzel::ec::u64;
using Limbs = std::array<u64, 4>;
using Limbs6 = std::array<u64, 6>;
using Limbs9 = std::array<u64, 9>;

template <size_t N>
std::vector<std::array<u64, N>> curve_moduli(std::initializer_list<uint32_t> ids) {
  std::vector<std::array<u64, N>> out;
  for (uint32_t id : ids) {
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
// P-224, P-256, secp256k1, brainpoolP256r1; P-384, brainpoolP384r1; P-521.
std::vector<Limbs> curve_moduli() { return curve_moduli<4>({17u, 18u, 34u, 67u}); }
std::vector<Limbs6> curve_moduli6() { return curve_moduli<6>({19u, 69u}); }
std::vector<Limbs9> curve_moduli9() { return curve_moduli<9>({20u}); }

template <size_t N>
struct Bn {
  BIGNUM* b = BN_new();
  ~Bn() { BN_free(b); }
  void set(const std::array<u64, N>& v) {
    uint8_t be[8 * N];
    quarzel::ec::fe_to_bytes<N>(be, sizeof be, v.data());
    ASSERT_NE(nullptr, BN_bin2bn(be, sizeof be, b));
  }
  std::array<u64, N> get() const {
    uint8_t be[8 * N];
    EXPECT_EQ(static_cast<int>(sizeof be), BN_bn2binpad(b, be, sizeof be));
    std::array<u64, N> v{};
    quarzel::ec::fe_from_bytes<N>(v.data(), be, sizeof be);
    return v;
  }
};

// Edge values below m and random ones (some with long runs of equal limbs).
template <size_t N>
std::vector<std::array<u64, N>> inputs(const std::array<u64, N>& m, std::mt19937_64& rng, int randoms) {
  using L = std::array<u64, N>;
  L m1 = m, m2 = m, half{}, zero{}, one{}, two{}, low_ones{};
  m1[0] -= 1;
  m2[0] -= 2;
  for (size_t j = 0; j < N; ++j) half[j] = (m1[j] >> 1) | (j + 1 < N ? m1[j + 1] << 63 : 0);
  one[0] = 1;
  two[0] = 2;
  low_ones[0] = ~0ull;
  std::vector<L> v = {zero, one, two, m1, m2, half, low_ones};
  for (size_t bit = 1; bit < 64 * N; bit += 7) {
    L p{};
    p[bit / 64] = u64{1} << (bit % 64);
    v.push_back(p);
  }
  for (int i = 0; i < randoms; ++i) {
    L r;
    for (auto& w : r) w = i % 5 == 0 ? ~0ull : rng();
    if (i % 3 == 0) r[0] = rng() % 1000;
    v.push_back(r);
  }
  std::vector<L> below;
  for (auto& x : v) {
    while (!quarzel::ec::fe_lt<N>(x.data(), m.data())) {
      int top = N - 1;
      while (m[top] == 0) x[top--] = 0;
      x[top] %= m[top];
    }
    below.push_back(x);
  }
  return below;
}

std::string hex(const BIGNUM* b) {
  char* h = BN_bn2hex(b);
  std::string s = h != nullptr ? h : "";
  OPENSSL_free(h);
  return s;
}

template <size_t N>
void matches_openssl(const std::array<u64, N>& m, std::mt19937_64& rng, int randoms) {
  using L = std::array<u64, N>;
  quarzel::ec::ModInv<N> mi;
  mi.init(m.data());
  BN_CTX* ctx = BN_CTX_new();
  Bn<N> bm, ba, want;
  bm.set(m);
  for (const L& a : inputs<N>(m, rng, randoms)) {
    L got;
    quarzel::ec::modinv<N>(got.data(), a.data(), mi);
    ba.set(a);
    if (BN_mod_inverse(want.b, ba.b, bm.b, ctx) == nullptr) {
      // Not invertible: only 0 is defined (it gives 0).
      ERR_clear_error();
      if (BN_is_zero(ba.b)) {
        EXPECT_EQ(got, L{});
      }
      continue;
    }
    ASSERT_EQ(got, want.get()) << "m = " << hex(bm.b) << ", a = " << hex(ba.b);
    L again = a;
    quarzel::ec::modinv<N>(again.data(), again.data(), mi);  // in place
    ASSERT_EQ(again, got);
  }
  BN_CTX_free(ctx);
}
void matches_openssl(const Limbs& m, std::mt19937_64& rng) { matches_openssl<4>(m, rng, 2000); }
void matches_openssl(const Limbs6& m, std::mt19937_64& rng) { matches_openssl<6>(m, rng, 1000); }
void matches_openssl(const Limbs9& m, std::mt19937_64& rng) { matches_openssl<9>(m, rng, 1000); }

TEST(ModInv, MatchesOpenSslOnTheCurveModuli) {
  std::mt19937_64 rng(20261211);
  for (const Limbs& m : curve_moduli()) matches_openssl(m, rng);
  for (const Limbs6& m : curve_moduli6()) matches_openssl(m, rng);
  for (const Limbs9& m : curve_moduli9()) matches_openssl(m, rng);
}

TEST(ModInv, MatchesOpenSslOnOddModuliUpTo2To256) {
  std::mt19937_64 rng(7);
  std::vector<Limbs> moduli = {{~0ull, ~0ull, ~0ull, ~0ull}, {1, 0, 0, 1ull << 63}, {3, 0, 0, 0},
                               {~0ull, ~0ull, ~0ull, 0}, {0xFFFFFFFFFFFFFFC5ull, ~0ull, ~0ull, ~0ull}};
  for (int i = 0; i < 8; ++i) moduli.push_back({rng() | 1, rng(), rng(), rng() | (1ull << 63)});
  for (const Limbs& m : moduli) matches_openssl(m, rng);
}

// The six-limb form: all ones, 2^383 + 1, small ones, one limb short, and
// random ones of 384 bits.
TEST(ModInv, MatchesOpenSslOnOddModuliUpTo2To384) {
  std::mt19937_64 rng(13);
  const u64 ones = ~0ull;
  std::vector<Limbs6> moduli = {{ones, ones, ones, ones, ones, ones}, {1, 0, 0, 0, 0, 1ull << 63}, {3},
                                {ones, ones, ones, ones, ones, 0}, {0xFFFFFFFFFFFFFFC5ull, ones, ones, ones, ones, ones}};
  for (int i = 0; i < 6; ++i) moduli.push_back({rng() | 1, rng(), rng(), rng(), rng(), rng() | (1ull << 63)});
  for (const Limbs6& m : moduli) matches_openssl(m, rng);
}

// The nine-limb form serves moduli below 2^521: all ones, 2^520 + 1, small
// ones, one limb short, and random ones of 521 bits.
TEST(ModInv, MatchesOpenSslOnOddModuliUpTo2To521) {
  std::mt19937_64 rng(11);
  const u64 ones = ~0ull;
  std::vector<Limbs9> moduli = {{ones, ones, ones, ones, ones, ones, ones, ones, 0x1FF},
                                {1, 0, 0, 0, 0, 0, 0, 0, 0x100},
                                {3},
                                {ones, ones, ones, ones, ones, ones, ones, ones, 0},
                                {0xFFFFFFFFFFFFFFC5ull, ones, ones, ones, ones, ones, ones, ones, 0x1FF}};
  for (int i = 0; i < 6; ++i) {
    Limbs9 m;
    for (auto& w : m) w = rng();
    m[0] |= 1;
    m[8] = (m[8] & 0x1FF) | 0x100;
    moduli.push_back(m);
  }
  for (const Limbs9& m : moduli) matches_openssl(m, rng);
}

// The fields' inverse in Montgomery form (divsteps, then R^3) against the
// windowed Fermat power, on both product paths.
TEST(ModInv, MontgomeryInverseMatchesFermat) {
  std::mt19937_64 rng(99);
  for (const Limbs9& m : curve_moduli9()) {
    for (const bool adx : {false, true}) {
      quarzel::ec::Mont<9> f;
      f.init(m.data());
      f.adx = adx && f.adx;
      for (const Limbs9& a : inputs<9>(m, rng, 100)) {
        Limbs9 got, want;
        f.inv_prime(got.data(), a.data());
        f.inv_fermat(want.data(), a.data());
        ASSERT_EQ(got, want) << "adx=" << adx;
      }
    }
  }
  for (const Limbs6& m : curve_moduli6()) {
    quarzel::ec::Mont<6> f;
    f.init(m.data());
    for (const Limbs6& a : inputs<6>(m, rng, 200)) {
      Limbs6 got, want;
      f.inv_prime(got.data(), a.data());
      f.inv_fermat(want.data(), a.data());
      ASSERT_EQ(got, want);
    }
  }
  for (const Limbs& m : curve_moduli()) {
    for (const bool adx : {false, true}) {
      quarzel::ec::Mont<4> f;
      f.init(m.data());
      f.adx = adx && f.adx;
      for (const Limbs& a : inputs<4>(m, rng, 2000)) {
        Limbs got, want;
        f.inv_prime(got.data(), a.data());
        f.inv_fermat(want.data(), a.data());
        ASSERT_EQ(got, want) << "adx=" << adx;
      }
    }
  }
}

}  // namespace
