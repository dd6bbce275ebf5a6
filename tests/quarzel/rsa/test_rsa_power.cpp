// The private exponentiations (plain, CRT from d, CRT with its components)
// and the CRT components derived from d, against OpenSSL's BN_mod_exp on
// fresh keys, on both Montgomery paths, with bases at and beyond n.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <map>
#include <memory>
#include <vector>

#include "quarzel/mpbn.h"
#include "quarzel/rsa.h"
#include "rsa_test_util.h"
#include "support/seams.h"

using rt::Bytes;

namespace {

struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn bn(const Bytes& b) { return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr)); }

// base^exp mod m, at len bytes.
Bytes oracle_pow(const Bytes& base, const Bytes& exp, const Bytes& m, size_t len) {
  Bn r(BN_new());
  BN_CTX* ctx = BN_CTX_new();
  EXPECT_EQ(1, BN_mod_exp(r.get(), bn(base).get(), bn(exp).get(), bn(m).get(), ctx));
  BN_CTX_free(ctx);
  Bytes out(len);
  EXPECT_EQ(static_cast<int>(len), BN_bn2binpad(r.get(), out.data(), static_cast<int>(len)));
  return out;
}

Bytes random_bytes(size_t n) {
  Bytes b(n);
  EXPECT_EQ(1, RAND_bytes(b.data(), static_cast<int>(n)));
  return b;
}

// Bases for a modulus n of len bytes: the edges and a few random values,
// some of them not below n (the bare power functions take any base).
std::vector<Bytes> bases(const Bytes& n) {
  const size_t len = n.size();
  std::vector<Bytes> v;
  v.push_back(Bytes(len, 0));
  Bytes one(len, 0);
  one.back() = 1;
  v.push_back(one);
  Bytes nm1 = n;
  if (!nm1.empty()) nm1.back() ^= 1;  // n - 1 (n odd)
  v.push_back(nm1);
  v.push_back(n);
  v.push_back(Bytes(len, 0xFF));
  for (int i = 0; i < 4; ++i) v.push_back(random_bytes(len));
  return v;
}

// One OpenSSL key per size for the whole binary (4096-bit generation is slow).
const rt::Components& key_of(uint32_t bits) {
  static std::map<uint32_t, rt::Components>* keys = new std::map<uint32_t, rt::Components>;
  auto it = keys->find(bits);
  if (it == keys->end()) {
    rt::Evp evp = rt::openssl_keygen(bits);
    it = keys->emplace(bits, rt::components_of(evp.get(), bits)).first;
  }
  return it->second;
}

class RsaPower : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(RsaPower, EveryKeyFormMatchesOpenSsl) {
  const auto [bits, portable] = GetParam();
  const zt::PortablePath path(quarzel::testing::Path::mpbn, portable);
  const rt::Components& c = key_of(bits);
  const size_t L = bits / 8;
  for (const Bytes& x : bases(c.n)) {
    const Bytes want = oracle_pow(x, c.d, c.n, L);
    Bytes out(L);
    ASSERT_EQ(0u, rsa_power(bits, x.data(), c.n.data(), c.d.data(), out.data()));
    EXPECT_EQ(want, out);
    ASSERT_EQ(0u, rsa_power_crt(bits, x.data(), c.d.data(), c.p.data(), c.q.data(), out.data()));
    EXPECT_EQ(want, out);
    // The primes the other way round: q^-1 mod p is then computed for q > p.
    ASSERT_EQ(0u, rsa_power_crt(bits, x.data(), c.d.data(), c.q.data(), c.p.data(), out.data()));
    EXPECT_EQ(want, out);
    ASSERT_EQ(0u, rsa_power_crt_fast(bits, x.data(), c.p.data(), c.q.data(), c.dp.data(), c.dq.data(),
                                     c.qinv.data(), out.data()));
    EXPECT_EQ(want, out);
    Bytes inplace = x;  // the result may overwrite the base
    ASSERT_EQ(0u, rsa_power_crt_fast(bits, inplace.data(), c.p.data(), c.q.data(), c.dp.data(), c.dq.data(),
                                     c.qinv.data(), inplace.data()));
    EXPECT_EQ(want, inplace);
  }
}

TEST_P(RsaPower, CrtComponentsFromDMatchOpenSsl) {
  const auto [bits, portable] = GetParam();
  const zt::PortablePath path(quarzel::testing::Path::mpbn, portable);
  const rt::Components& c = key_of(bits);
  const size_t H = bits / 16;
  Bytes dp(H), dq(H), qinv(H);
  ASSERT_EQ(0u, rsa_gen_crt_component_from_prikey(bits, c.d.data(), c.p.data(), c.q.data(), dp.data(), dq.data(),
                                                  qinv.data()));
  EXPECT_EQ(c.dp, dp);
  EXPECT_EQ(c.dq, dq);
  EXPECT_EQ(c.qinv, qinv);
}

INSTANTIATE_TEST_SUITE_P(SizesAndPaths, RsaPower,
                         ::testing::Combine(::testing::Values(512u, 1024u, 2048u, 3072u, 4096u),
                                            ::testing::Bool()));

TEST(RsaPowerRefusal, EvenPrimeIsRefused) {
  rt::Evp evp = rt::openssl_keygen(1024);
  rt::Components c = rt::components_of(evp.get(), 1024);
  c.p.back() ^= 1;
  Bytes out(128);
  EXPECT_NE(0u, rsa_power_crt_fast(1024, c.n.data(), c.p.data(), c.q.data(), c.dp.data(), c.dq.data(),
                                   c.qinv.data(), out.data()));
  EXPECT_NE(0u, rsa_power_crt(1024, c.n.data(), c.d.data(), c.p.data(), c.q.data(), out.data()));
}

}  // namespace
