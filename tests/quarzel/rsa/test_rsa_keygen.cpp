// Key-pair generation: every size and key type, checked with OpenSSL's big
// numbers; the prime-search steps; argument errors.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <cstring>

#include "quarzel/rsa.h"
#include "rsa_test_util.h"

using rt::Bytes;

namespace {

struct Bn {
  BIGNUM* b;
  explicit Bn(const uint8_t* p, size_t n) : b(BN_bin2bn(p, static_cast<int>(n), nullptr)) {}
  Bn() : b(BN_new()) {}
  ~Bn() { BN_free(b); }
  Bn(const Bn&) = delete;
  Bn& operator=(const Bn&) = delete;
};

struct BnCtx {
  BN_CTX* c = BN_CTX_new();
  ~BnCtx() { BN_CTX_free(c); }
};

bool bn_eq(const BIGNUM* a, const BIGNUM* b) { return BN_cmp(a, b) == 0; }

struct Gen {
  uint32_t bits;
  rsa_keytype_t type;
};

void check_prime_pair(const rsa_prikey_t& k) {
  const uint32_t L = k.rsa_size / 8, H = k.rsa_size / 16;
  BnCtx ctx;
  Bn p(k.p_prime, H), q(k.q_prime, H), n(k.n_modulus, L), d(k.d_exponent, L), e, t, pm1, qm1, g, lambda;
  BN_set_word(e.b, 65537);
  EXPECT_EQ(1, BN_check_prime(p.b, ctx.c, nullptr));
  EXPECT_EQ(1, BN_check_prime(q.b, ctx.c, nullptr));
  EXPECT_EQ(0xC0, k.p_prime[0] & 0xC0);
  EXPECT_EQ(0xC0, k.q_prime[0] & 0xC0);
  ASSERT_EQ(1, BN_mul(t.b, p.b, q.b, ctx.c));
  EXPECT_TRUE(bn_eq(t.b, n.b));
  BN_sub(pm1.b, p.b, BN_value_one());
  BN_sub(qm1.b, q.b, BN_value_one());
  EXPECT_NE(0u, BN_mod_word(pm1.b, 65537));
  EXPECT_NE(0u, BN_mod_word(qm1.b, 65537));
  uint8_t far = 0;
  mpi_t mp = mpi_default, mq = mpi_default;
  ASSERT_EQ(0, mpi_mapping(&mp, MPI_ENDIAN_MF_U8, H, k.p_prime));
  ASSERT_EQ(0, mpi_mapping(&mq, MPI_ENDIAN_MF_U8, H, k.q_prime));
  mpi_check_rsa_prime_distance(&mp, &mq, &far);
  EXPECT_EQ(1, far);
  // d * e = 1 mod lcm(p - 1, q - 1)
  BN_gcd(g.b, pm1.b, qm1.b, ctx.c);
  BN_mul(t.b, pm1.b, qm1.b, ctx.c);
  BN_div(lambda.b, nullptr, t.b, g.b, ctx.c);
  BN_mod_mul(t.b, d.b, e.b, lambda.b, ctx.c);
  EXPECT_TRUE(BN_is_one(t.b));
  EXPECT_LT(BN_cmp(d.b, lambda.b), 0);
}

void check_crt(const rsa_prikey_t& k) {
  const uint32_t L = k.rsa_size / 8, H = k.rsa_size / 16;
  BnCtx ctx;
  Bn p(k.p_prime, H), q(k.q_prime, H), d(k.d_exponent, L), dp(k.dp_exponent, H), dq(k.dq_exponent, H),
      qinv(k.crt_coefficient, H), pm1, qm1, t;
  BN_sub(pm1.b, p.b, BN_value_one());
  BN_sub(qm1.b, q.b, BN_value_one());
  BN_mod(t.b, d.b, pm1.b, ctx.c);
  EXPECT_TRUE(bn_eq(t.b, dp.b));
  BN_mod(t.b, d.b, qm1.b, ctx.c);
  EXPECT_TRUE(bn_eq(t.b, dq.b));
  BN_mod_mul(t.b, qinv.b, q.b, p.b, ctx.c);
  EXPECT_TRUE(BN_is_one(t.b));
}

}  // namespace

class RsaKeyGen : public ::testing::TestWithParam<Gen> {};

TEST_P(RsaKeyGen, GeneratesAConsistentKeyPair) {
  const Gen g = GetParam();
  rt::PriKey pri(g.bits, g.type);
  rt::PubKey pub(g.bits);
  const Bytes e = {0x01, 0x00, 0x01};
  ASSERT_EQ(0u, rsa_gen_keypair(pri.get(), pub.get(), g.type, 3, e.data()));
  const uint32_t L = g.bits / 8;
  const uint32_t want_bits = g.type == RSA_KEYTYPE_NONCRT ? 0x107u : g.type == RSA_KEYTYPE_CRT ? 0x11Fu : 0x1FFu;
  EXPECT_EQ(RSA_PRIKEY_STATE_ACTIVE | RSA_FLAG_ALLOCATED | want_bits, pri->state);
  EXPECT_EQ(RSA_PUBKEY_STATE_ACTIVE | RSA_FLAG_ALLOCATED | 0x103u, pub->state);
  EXPECT_GE(pri->n_modulus[0], 0x80);  // exactly `bits` bits
  EXPECT_EQ(0, std::memcmp(pri->n_modulus, pub->n_modulus, L));
  Bytes e_full(L, 0);
  e_full[L - 3] = e_full[L - 1] = 1;
  EXPECT_EQ(e_full, Bytes(pub->e_exponent, pub->e_exponent + L));
  EXPECT_EQ(e_full, Bytes(pri->e_exponent, pri->e_exponent + L));
  if (g.type != RSA_KEYTYPE_NONCRT) check_prime_pair(pri.k);
  if (g.type == RSA_KEYTYPE_CRTFAST) check_crt(pri.k);

  // Sign, verify here and with OpenSSL.
  const hash_type_t h = g.bits == 512 ? HASH_TYPE_SHA1 : HASH_TYPE_SHA2_256;
  const Bytes md = rt::digest(h, zt::ascii("generated key"));
  Bytes sig(L);
  ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_sign(pri.get(), h, static_cast<uint32_t>(md.size()), md.data(), sig.data()));
  uint32_t verdict = 0;
  ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(pub.get(), h, static_cast<uint32_t>(md.size()), md.data(), sig.data(),
                                             &verdict));
  EXPECT_EQ(QZ_TRUE, verdict);
  rt::Evp ossl = rt::openssl_pubkey(Bytes(pub->n_modulus, pub->n_modulus + L), e);
  EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(ossl.get(), nullptr);
  ASSERT_EQ(1, EVP_PKEY_verify_init(c));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_PADDING));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_signature_md(c, rt::evp_md(h)));
  EXPECT_EQ(1, EVP_PKEY_verify(c, sig.data(), sig.size(), md.data(), md.size()));
  EVP_PKEY_CTX_free(c);
}

// Every size once and every key type; 4096 bits only once (run time under ASan).
INSTANTIATE_TEST_SUITE_P(SizesAndTypes, RsaKeyGen,
                         ::testing::Values(Gen{512, RSA_KEYTYPE_CRTFAST}, Gen{1024, RSA_KEYTYPE_NONCRT},
                                           Gen{1024, RSA_KEYTYPE_CRT}, Gen{2048, RSA_KEYTYPE_CRTFAST},
                                           Gen{3072, RSA_KEYTYPE_CRT}, Gen{4096, RSA_KEYTYPE_CRTFAST}),
                         [](const auto& info) {
                           return std::to_string(info.param.bits) + "_type" + std::to_string(info.param.type);
                         });

TEST(RsaKeyGenArgs, ExponentChecks) {
  struct Case {
    Bytes e;
    quarzel_ret_t want;
  } cases[] = {{{}, 0u},
               {{0x01, 0x00, 0x01}, 0u},
               {{0x00, 0x00, 0x01, 0x00, 0x01}, 0u},
               {{0x03}, 0x040FFF5Du},
               {{0x01, 0x01}, 0x040FFF5Du},
               {{0x01, 0x00, 0x03}, 0x040FFF5Du}};
  for (const Case& c : cases) {
    rt::PriKey pri(512);
    rt::PubKey pub(512);
    EXPECT_EQ(c.want, rsa_gen_keypair(pri.get(), pub.get(), RSA_KEYTYPE_NONCRT, static_cast<uint32_t>(c.e.size()),
                                      c.e.empty() ? nullptr : c.e.data()))
        << zt::hex(c.e);
    if (c.want == 0) {
      EXPECT_TRUE(pub->state & RSA_FLAG_E65537);
    } else {
      EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, pri->state);
      EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, pub->state);
    }
  }
}

TEST(RsaKeyGenArgs, SizeAndTypeErrorsInvalidateBothKeys) {
  {
    rt::PriKey pri(1024);
    rt::PubKey pub(2048);
    EXPECT_EQ(0x040FFF5Cu, rsa_gen_keypair(pri.get(), pub.get(), RSA_KEYTYPE_CRTFAST, 0, nullptr));
    EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, pri->state);
    EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, pub->state);
  }
  for (const uint32_t type : {0u, 4u}) {
    rt::PriKey pri(512);
    rt::PubKey pub(512);
    EXPECT_EQ(0x040FFF58u, rsa_gen_keypair(pri.get(), pub.get(), static_cast<rsa_keytype_t>(type), 0, nullptr));
    EXPECT_EQ(RSA_PRIKEY_STATE_INVALID, pri->state);
    EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, pub->state);
  }
  rt::PriKey noncrt(512, RSA_KEYTYPE_NONCRT);  // no p, q buffers for a CRT key
  rt::PubKey pub(512);
  EXPECT_EQ(0x040FFF5Cu, rsa_gen_keypair(noncrt.get(), pub.get(), RSA_KEYTYPE_CRT, 0, nullptr));
}

namespace {

// A big-endian number of `len` bytes: small * (primes of at most 512 bits),
// so that `small` is its only factor below 2^500.
Bytes times_primes(unsigned small, size_t len) {
  BnCtx ctx;
  Bn prod;
  BN_set_word(prod.b, small);
  int left = static_cast<int>(len * 8) - 12;
  while (left > 0) {
    const int bits = left > 512 ? 509 : left;
    Bn prime;
    EXPECT_EQ(1, BN_generate_prime_ex(prime.b, bits < 16 ? 16 : bits, 0, nullptr, nullptr, nullptr));
    BN_mul(prod.b, prod.b, prime.b, ctx.c);
    left -= bits < 16 ? 16 : bits;
  }
  Bytes out(len);
  EXPECT_GT(BN_bn2binpad(prod.b, out.data(), static_cast<int>(len)), 0);
  return out;
}

uint8_t known(const Bytes& x) {
  mpi_t m = mpi_default;
  EXPECT_EQ(0, mpi_mapping(&m, MPI_ENDIAN_MF_U8, static_cast<uint32_t>(x.size()), const_cast<uint8_t*>(x.data())));
  uint8_t r = 0xEE;
  EXPECT_EQ(0u, mpi_known_prime_test(&m, &r));
  return r;
}

uint8_t miller_rabin(const Bytes& x, uint32_t rounds) {
  mpi_t m = mpi_default;
  EXPECT_EQ(0, mpi_mapping(&m, MPI_ENDIAN_MF_U8, static_cast<uint32_t>(x.size()), const_cast<uint8_t*>(x.data())));
  uint8_t r = 0xEE;
  EXPECT_EQ(0u, mpi_miller_rabin_test(&m, &r, rounds));
  return r;
}

}  // namespace

TEST(RsaPrimeSearch, TrialDivisionRanges) {
  EXPECT_EQ(0, known(times_primes(401, 128)));
  EXPECT_EQ(1, known(times_primes(409, 128)));   // 409 is screened for 2048-bit candidates only
  EXPECT_EQ(0, known(times_primes(409, 256)));
  EXPECT_EQ(0, known(times_primes(1231, 256)));
  EXPECT_EQ(3, known(times_primes(809, 256)));   // 797..857 are in no range
  EXPECT_EQ(0, known(times_primes(3, 64)));
}

TEST(RsaPrimeSearch, MillerRabin) {
  Bn prime;
  ASSERT_EQ(1, BN_generate_prime_ex(prime.b, 512, 0, nullptr, nullptr, nullptr));
  Bytes p(64);
  BN_bn2binpad(prime.b, p.data(), 64);
  EXPECT_EQ(1, miller_rabin(p, 7));
  EXPECT_EQ(0, miller_rabin(times_primes(1009, 64), 7));
  // 561 = 3 * 11 * 17 (a Carmichael number) and 2^32 + 1 = 641 * 6700417.
  EXPECT_EQ(0, miller_rabin(zt::unhex("00000231"), 5));
  EXPECT_EQ(0, miller_rabin(zt::unhex("0000000100000001"), 5));
  EXPECT_EQ(1, miller_rabin(zt::unhex("7fffffff"), 5));  // 2^31 - 1

  EXPECT_EQ(17u, get_MR_iteration(512, 0));
  EXPECT_EQ(4u, get_MR_iteration(2048, 0));
  EXPECT_EQ(22u, get_MR_iteration(4096, 1));
  EXPECT_EQ(0u, get_MR_iteration(1536, 0));
}

namespace {

// A prime of `bits` bits with p = 1 mod `add`, as H big-endian bytes.
Bytes prime_one_mod(int bits, const BIGNUM* add) {
  Bn p;
  EXPECT_EQ(1, BN_generate_prime_ex(p.b, bits, 0, add, BN_value_one(), nullptr));
  Bytes out(static_cast<size_t>(bits) / 8);
  EXPECT_GT(BN_bn2binpad(p.b, out.data(), static_cast<int>(out.size())), 0);
  return out;
}

}  // namespace

// n and d from the primes against OpenSSL, where gcd(p - 1, q - 1) is 2 (the
// usual case) and where it is large, so that the lcm differs much from phi.
TEST(RsaKeyFromPrime, AgreesWithOpenSslForSmallAndLargeCommonFactors) {
  struct Case {
    uint32_t bits;
    int shared_pow2;  // p = q = 1 mod 2^shared_pow2 * 3 * 5 * 7; 0: independent primes
  };
  for (const Case c : {Case{1024, 0}, Case{1024, 40}, Case{2048, 0}, Case{2048, 300}, Case{4096, 64}}) {
    SCOPED_TRACE(std::to_string(c.bits) + "/" + std::to_string(c.shared_pow2));
    const uint32_t L = c.bits / 8, H = c.bits / 16;
    BnCtx ctx;
    Bn add;
    BN_set_word(add.b, c.shared_pow2 == 0 ? 2 : 105);
    if (c.shared_pow2 != 0) BN_lshift(add.b, add.b, c.shared_pow2);
    Bytes p, q;
    for (;;) {  // e = 65537 must have an inverse mod lambda
      p = prime_one_mod(static_cast<int>(8 * H), add.b);
      q = prime_one_mod(static_cast<int>(8 * H), add.b);
      Bn bp(p.data(), H), bq(q.data(), H);
      BN_sub_word(bp.b, 1);
      BN_sub_word(bq.b, 1);
      if (BN_mod_word(bp.b, 65537) != 0 && BN_mod_word(bq.b, 65537) != 0) break;
    }
    Bytes n(L), d(L);
    ASSERT_EQ(0u, rsa_key_from_prime(c.bits, p.data(), q.data(), n.data(), d.data()));
    Bn bp(p.data(), H), bq(q.data(), H), pm1, qm1, g, t, lambda, e, want;
    BN_mul(t.b, bp.b, bq.b, ctx.c);
    EXPECT_TRUE(bn_eq(t.b, Bn(n.data(), L).b));
    BN_sub(pm1.b, bp.b, BN_value_one());
    BN_sub(qm1.b, bq.b, BN_value_one());
    BN_gcd(g.b, pm1.b, qm1.b, ctx.c);
    if (c.shared_pow2 != 0) {
      EXPECT_GE(BN_num_bits(g.b), c.shared_pow2 + 7);
    }
    BN_mul(t.b, pm1.b, qm1.b, ctx.c);
    BN_div(lambda.b, nullptr, t.b, g.b, ctx.c);
    BN_set_word(e.b, 65537);
    ASSERT_NE(nullptr, BN_mod_inverse(want.b, e.b, lambda.b, ctx.c));
    EXPECT_TRUE(bn_eq(want.b, Bn(d.data(), L).b));
  }
}

// No key where 65537 divides p - 1, or where p - 1 is zero: the error words
// of the division-based computation they replace.
TEST(RsaKeyFromPrime, RefusesPrimesWithoutAnInverseOrWithPOne) {
  Bn add;
  BN_set_word(add.b, 65537 * 2);
  const Bytes p = prime_one_mod(512, add.b);
  Bn two;
  BN_set_word(two.b, 2);
  const Bytes q = prime_one_mod(512, two.b);
  Bytes n(128), d(128);
  EXPECT_EQ(rsa_err_core(0x0409, core_err(MPBN_FID_MOD_INV_SLOW, MPBN_R_NO_INVERSE)),
            rsa_key_from_prime(1024, p.data(), q.data(), n.data(), d.data()));
  Bytes one(64, 0);
  one[63] = 1;
  EXPECT_EQ(rsa_err_core(0x0409, core_err(MPBN_FID_MOD, MPBN_R_ZERO_DIVISOR)),
            rsa_key_from_prime(1024, one.data(), q.data(), n.data(), d.data()));
}
