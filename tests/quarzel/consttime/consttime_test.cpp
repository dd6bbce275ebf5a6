// Constant-time check: under Valgrind's memcheck, secrets are marked as
// undefined memory, so any branch or memory address that depends on them is
// reported ("conditional jump depends on uninitialised value", "use of
// uninitialised value"). Outputs that are public by design (signatures,
// public keys, validity flags, status words) are marked defined before the
// test looks at them. Run outside Valgrind, the marks do nothing and the
// test only checks results.
//
//   valgrind --error-exitcode=1 build/.../test_quarzel_consttime
//
// The portable AES (T-tables) is variable-time by design and not covered.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <valgrind/memcheck.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "../../../src/quarzel/ec/engine.h"
#include "ec/scalar_mul.h"
#include "quarzel/cpu.h"
#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/ecc.h"
#include "quarzel/gcm.h"
#include "quarzel/hash.h"
#include "quarzel/hmac.h"
#include "quarzel/mpi.h"
#include "quarzel/mpbn.h"
#include "quarzel/port.h"
#include "quarzel/rsa.h"
#include "quarzel/rsa_key.h"
#include "support/seams.h"

namespace {

using Bytes = std::vector<uint8_t>;

void secret(void* p, size_t n) { (void)VALGRIND_MAKE_MEM_UNDEFINED(p, n); }
void secret(Bytes& b) { secret(b.data(), b.size()); }
template <class T>
T declassify(T v) {
  (void)VALGRIND_MAKE_MEM_DEFINED(&v, sizeof v);
  return v;
}
void declassify(void* p, size_t n) { (void)VALGRIND_MAKE_MEM_DEFINED(p, n); }
void declassify(Bytes& b) { declassify(b.data(), b.size()); }

Bytes random_bytes(size_t n) {
  Bytes b(n);
  EXPECT_EQ(1, RAND_bytes(b.data(), static_cast<int>(n)));
  return b;
}

// The library's random bytes are secret too (nonces, key candidates).
uint32_t secret_random(uint8_t* dest, uint32_t size) {
  if (RAND_bytes(dest, static_cast<int>(size)) != 1) return 1;
  secret(dest, size);
  return 0;
}
struct SecretRandom : zt::RandomSourceScope {
  SecretRandom() : zt::RandomSourceScope(secret_random) {}
};

// Every CPU path of the big-number, EC and SHA code: the best the CPU offers,
// then the portable one.
enum class Run { cpu, portable, paired_model };
template <class F>
void on_paths(std::initializer_list<Run> runs, F&& body) {
  for (const Run run : runs) {
    const bool portable = run == Run::portable;
    SCOPED_TRACE(run == Run::cpu ? "CPU path" : portable ? "portable path" : "paired model");
    const zt::PortablePath mpbn(quarzel::testing::Path::mpbn, portable);
    const zt::PortablePath pair(quarzel::testing::Path::mpbn_exp2, run == Run::paired_model);
    const zt::PortablePath ec(quarzel::testing::Path::ec, portable);
    const zt::PortablePath sha(quarzel::testing::Path::sha, portable);
    body();
  }
}
template <class F>
void on_every_path(F&& body) {
  on_paths({Run::cpu, Run::portable}, body);
}
// RSA's private operations once more with the CRT halves paired on the
// portable model of their IFMA kernels: Valgrind cannot execute AVX-512, so
// the model is where the pairing's constant time is checked.
template <class F>
void on_every_rsa_path(F&& body) {
  on_paths({Run::cpu, Run::portable, Run::paired_model}, body);
}

// ---- Elliptic curves ----

class ConstantTimeEc : public ::testing::TestWithParam<ecc_crv_t> {};

TEST_P(ConstantTimeEc, KeyGenerationSigningAndKeyAgreement) {
  const ecc_crv_t crv = GetParam();
  uint32_t L = 0;
  ASSERT_EQ(0u, ecc_get_length(crv, &L));
  ecc_prikey_t *d = nullptr, *peer_d = nullptr;
  ecc_pubkey_t *q = nullptr, *peer_q = nullptr;
  ASSERT_EQ(0u, ecc_prikey_alloc(&d));
  ASSERT_EQ(0u, ecc_prikey_alloc(&peer_d));
  ASSERT_EQ(0u, ecc_pubkey_alloc(&q));
  ASSERT_EQ(0u, ecc_pubkey_alloc(&peer_q));
  ecc_prikey_init(d, crv);
  ecc_prikey_init(peer_d, crv);
  ecc_pubkey_init(q, crv);
  ecc_pubkey_init(peer_q, crv);
  ASSERT_EQ(0u, ecc_prikey_value_alloc(d));
  ASSERT_EQ(0u, ecc_prikey_value_alloc(peer_d));
  ASSERT_EQ(0u, ecc_pubkey_value_alloc(q));
  ASSERT_EQ(0u, ecc_pubkey_value_alloc(peer_q));
  ASSERT_EQ(0u, ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, peer_d, peer_q));
  ASSERT_EQ(0u, ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, d, q));
  Bytes digest = random_bytes(32);
  on_every_path([&] {
    secret(d->d_value, L);
    // Public key from a secret scalar.
    ASSERT_EQ(0u, declassify(ecc_gen_puk_from_prk(d, q)));
    declassify(q->q_point_x, L);
    declassify(q->q_point_y, L);
    // ECDSA with a drawn nonce and with a caller's nonce.
    Bytes r(L), s(L);
    {
      SecretRandom rnd;
      ASSERT_EQ(0u, declassify(ecdsa_sign(d, 32, digest.data(), nullptr, r.data(), s.data())));
    }
    declassify(r);
    declassify(s);
    uint32_t ok = 0;
    ASSERT_EQ(0u, ecdsa_verify(q, 32, digest.data(), r.data(), s.data(), &ok));
    EXPECT_EQ(QZ_TRUE, ok);
    Bytes k(L, 0);
    k[L - 1] = 7;
    k[L - 2] = 0x5A;
    secret(k);
    ASSERT_EQ(0u, declassify(ecdsa_sign(d, 32, digest.data(), k.data(), r.data(), s.data())));
    declassify(r);
    declassify(s);
    // ECDH both ways.
    Bytes z1(L), z2(L);
    uint32_t len = L;
    ASSERT_EQ(0u, declassify(ecdh_derive_shared_secret(d, peer_q, &len, z1.data())));
    secret(peer_d->d_value, L);
    len = L;
    ASSERT_EQ(0u, declassify(ecdh_derive_shared_secret(peer_d, q, &len, z2.data())));
    declassify(z1);
    declassify(z2);
    EXPECT_EQ(z1, z2);
    // Key generation from secret random bytes.
    {
      SecretRandom rnd;
      ASSERT_EQ(0u, declassify(ecc_gen_keypair(crv, ECC_KEYGEN_EXTRA_RND_BITS, peer_d, peer_q)));
    }
    declassify(peer_q->q_point_x, L);
    declassify(peer_q->q_point_y, L);
    declassify(d->d_value, L);
    declassify(peer_d->d_value, L);
  });
  ecc_prikey_free(&d);
  ecc_prikey_free(&peer_d);
  ecc_pubkey_free(&q);
  ecc_pubkey_free(&peer_q);
}

INSTANTIATE_TEST_SUITE_P(Curves, ConstantTimeEc,
                         ::testing::Values(ECC_CRV_NIST_P224, ECC_CRV_NIST_P256, ECC_CRV_NIST_P384,
                                           ECC_CRV_NIST_P521, ECC_CRV_SECP256K1, ECC_CRV_BP256R1,
                                           ECC_CRV_BP384R1, ECC_CRV_BP512R1));

// The windowed product on the BMI2/ADX kernels (P-256: inlined in its own
// file; P-521: its own code, the table made affine). Valgrind runs these
// instructions but hides them from CPUID, so the library never chooses them
// under it: the field is set to them here, under Valgrind or on a CPU that
// has them. The scalar is secret; the result must match the template on the
// portable field.
namespace ec = quarzel::ec;

template <size_t N>
void window_on_adx_kernels(const ec::u64* prime, uint32_t curve, bool (*applies)(const ec::Mont<N>&, const ec::u64*),
                           size_t field_len, size_t scalar_len, uint8_t top_mask, uint32_t nbits) {
  const bool adx = quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx;
  if (!RUNNING_ON_VALGRIND && !adx) GTEST_SKIP() << "no BMI2/ADX";
  ec::Mont<N> fast;
  fast.init(prime);
  fast.adx = true;
  ASSERT_TRUE(applies(fast, nullptr));
  ec::Mont<N> slow = fast;
  slow.adx = false;
  const ec::ecpi_group_t* grp = nullptr;
  ASSERT_EQ(ec::ecpi_group_load_and_alloc(&grp, curve), 0u);
  ec::ecpbn_proj_t<N> g, r1, r2, table[ec::kBoothEntries + 1];
  ec::fe_from_bytes<N>(g.x, grp->G().x, field_len);
  ec::fe_from_bytes<N>(g.y, grp->G().y, field_len);
  slow.to_mont(g.x, g.x);
  slow.to_mont(g.y, g.y);
  std::memcpy(g.z, slow.one, sizeof g.z);
  for (int round = 0; round < 3; ++round) {
    Bytes kb = random_bytes(scalar_len);
    kb[0] &= top_mask;
    ec::u64 k[N];
    ec::fe_from_bytes<N>(k, kb.data(), scalar_len);
    secret(k, sizeof k);
    ec::mul_window_ct<N>(fast, nullptr, r1, g, k, N, nbits, nbits, table);
    declassify(&r1, sizeof r1);
    declassify(k, sizeof k);
    ec::mul_window_ct<N>(slow, nullptr, r2, g, k, N, nbits, nbits, table);
    ec::u64 x1[N], y1[N], x2[N], y2[N];
    ec::ecpbn_zdn_proj_normalize<N>(slow, x1, y1, r1);
    ec::ecpbn_zdn_proj_normalize<N>(slow, x2, y2, r2);
    EXPECT_EQ(0, std::memcmp(x1, x2, sizeof x1));
    EXPECT_EQ(0, std::memcmp(y1, y2, sizeof y1));
  }
}

TEST(ConstantTimeEcKernels, P256WindowOnAdxKernels) {
  window_on_adx_kernels<4>(ec::kP256, ECC_CRV_NIST_P256, ec::p256_window_adx_applies, 32, 32, 0xFF, 256);
}

// 521 bits, as the engine hands over k mod n.
TEST(ConstantTimeEcKernels, P521WindowOnAdxKernels) {
  window_on_adx_kernels<9>(ec::kP521, ECC_CRV_NIST_P521, ec::p521_window_adx_applies, 68, 66, 0x01, 521);
}

// ---- RSA ----

struct RsaKey {
  uint32_t bits;
  Bytes n, e, d, p, q, dp, dq, qinv;
};

Bytes bn_bytes(const BIGNUM* b, size_t len) {
  Bytes out(len);
  EXPECT_EQ(static_cast<int>(len), BN_bn2binpad(b, out.data(), static_cast<int>(len)));
  return out;
}

const RsaKey& rsa_key() {
  static const RsaKey* key = [] {
    auto* k = new RsaKey;
    k->bits = 2048;
    EVP_PKEY* pkey = EVP_RSA_gen(2048);
    BIGNUM* v = nullptr;
    const size_t L = 256, H = 128;
    const std::pair<const char*, std::pair<Bytes*, size_t>> fields[] = {
        {"n", {&k->n, L}},        {"e", {&k->e, L}},        {"d", {&k->d, L}},
        {"rsa-factor1", {&k->p, H}}, {"rsa-factor2", {&k->q, H}}, {"rsa-exponent1", {&k->dp, H}},
        {"rsa-exponent2", {&k->dq, H}}, {"rsa-coefficient1", {&k->qinv, H}}};
    for (const auto& [name, dst] : fields) {
      EVP_PKEY_get_bn_param(pkey, name, &v);
      *dst.first = bn_bytes(v, dst.second);
      BN_clear_free(v);
      v = nullptr;
    }
    EVP_PKEY_free(pkey);
    return k;
  }();
  return *key;
}

// A private key of one component set over copies of the key's values, the
// private ones marked secret.
struct PrivateKey {
  Bytes n, e, d, p, q, dp, dq, qinv;
  rsa_prikey_t k{};
  PrivateKey(const RsaKey& src, rsa_keytype_t type, bool with_n)
      : n(src.n), e(src.e), d(src.d), p(src.p), q(src.q), dp(src.dp), dq(src.dq), qinv(src.qinv) {
    EXPECT_EQ(0u, rsa_prikey_init(&k, RSA_SIZE_2048));
    auto len = [](const Bytes& b, bool use) { return use ? static_cast<uint32_t>(b.size()) : 0u; };
    auto ptr = [](Bytes& b, bool use) { return use ? b.data() : nullptr; };
    const bool crt = type != RSA_KEYTYPE_NONCRT, fast = type == RSA_KEYTYPE_CRTFAST;
    const bool has_d = type != RSA_KEYTYPE_CRTFAST || with_n;
    EXPECT_EQ(0u, rsa_prikey_value_mapping(&k, len(n, with_n), ptr(n, with_n), len(e, with_n), ptr(e, with_n),
                                           len(d, has_d), ptr(d, has_d), len(p, crt), ptr(p, crt), len(q, crt),
                                           ptr(q, crt), len(dp, fast), ptr(dp, fast), len(dq, fast),
                                           ptr(dq, fast), len(qinv, fast), ptr(qinv, fast)));
    for (Bytes* b : {&d, &p, &q, &dp, &dq, &qinv}) secret(*b);
  }
  ~PrivateKey() { (void)rsa_prikey_value_free(&k); }
};

struct KeyForm {
  const char* name;
  rsa_keytype_t type;
  bool with_n;
};
constexpr KeyForm kForms[] = {
    {"n, e, d, p, q, dp, dq, qinv", RSA_KEYTYPE_CRTFAST, true},
    {"p, q, dp, dq, qinv", RSA_KEYTYPE_CRTFAST, false},
    {"n, e, d, p, q", RSA_KEYTYPE_CRT, true},
    {"d, p, q", RSA_KEYTYPE_CRT, false},
    {"n, e, d", RSA_KEYTYPE_NONCRT, true},
};

class ConstantTimeRsa : public ::testing::TestWithParam<KeyForm> {};

TEST_P(ConstantTimeRsa, DecryptionAndSigning) {
  const RsaKey& key = rsa_key();
  const KeyForm form = GetParam();
  rsa_pubkey_t pub{};
  ASSERT_EQ(0u, rsa_pubkey_init(&pub, RSA_SIZE_2048));
  Bytes pn = key.n, pe = key.e;
  ASSERT_EQ(0u, rsa_pubkey_value_mapping(&pub, 256, pn.data(), 256, pe.data()));
  const Bytes msg = random_bytes(32), digest = random_bytes(32);
  Bytes oaep_ct(256), pkcs1_ct(256);
  Bytes lhash(32);
  ASSERT_EQ(0u, rsa_rsaes_oaep_encrypt(&pub, RSA_MGF_MGF1_SHA2_256, 32, 32, msg.data(), 32, lhash.data(),
                                       oaep_ct.data()));
  ASSERT_EQ(0u, rsa_rsaes_pkcs1_v1_5_encrypt(&pub, 32, msg.data(), pkcs1_ct.data()));
  on_every_rsa_path([&] {
    PrivateKey priv(key, form.type, form.with_n);
    for (const bool check : {false, true}) {
      if (check && !form.with_n) continue;  // checking re-encrypts: it needs e
      SCOPED_TRACE(check ? "with checking" : "without checking");
      Bytes out(256);
      uint32_t out_len = 256, valid = 0;
      const auto oaep = check ? rsa_rsaes_oaep_decrypt_with_checking : rsa_rsaes_oaep_decrypt;
      ASSERT_EQ(0u, declassify(oaep(&priv.k, RSA_MGF_MGF1_SHA2_256, 32, oaep_ct.data(), 32, lhash.data(),
                                    &out_len, out.data(), &valid)));
      declassify(out);
      EXPECT_EQ(QZ_TRUE, declassify(valid));
      EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + declassify(out_len)));
      out_len = 256;
      const auto pkcs1 = check ? rsa_rsaes_pkcs1_v1_5_decrypt_with_checking : rsa_rsaes_pkcs1_v1_5_decrypt;
      ASSERT_EQ(0u, declassify(pkcs1(&priv.k, pkcs1_ct.data(), &out_len, out.data(), &valid)));
      declassify(out);
      EXPECT_EQ(QZ_TRUE, declassify(valid));
      EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + declassify(out_len)));
      // A ciphertext whose padding is wrong: the failure must not show either.
      Bytes junk = random_bytes(256);
      junk[0] = 0;
      out_len = 256;
      ASSERT_EQ(0u, declassify(pkcs1(&priv.k, junk.data(), &out_len, out.data(), &valid)));
      declassify(out);
      EXPECT_EQ(QZ_FALSE, declassify(valid));
      // Signatures.
      Bytes sig(256);
      const auto pkcs1_sign = check ? rsa_rsassa_pkcs1_v1_5_sign_with_checking : rsa_rsassa_pkcs1_v1_5_sign;
      ASSERT_EQ(0u, declassify(pkcs1_sign(&priv.k, HASH_TYPE_SHA2_256, 32, digest.data(), sig.data())));
      declassify(sig);
      uint32_t ok = 0;
      ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(&pub, HASH_TYPE_SHA2_256, 32, digest.data(), sig.data(), &ok));
      EXPECT_EQ(QZ_TRUE, ok);
      Bytes salt = random_bytes(32);
      const auto pss_sign = check ? rsa_rsassa_pss_sign_with_checking : rsa_rsassa_pss_sign;
      ASSERT_EQ(0u, declassify(pss_sign(&priv.k, HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 32, 32,
                                        digest.data(), 32, salt.data(), sig.data())));
      declassify(sig);
      ASSERT_EQ(0u, rsa_rsassa_pss_verify(&pub, HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 32, 32,
                                          digest.data(), 32, salt.data(), sig.data(), &ok));
      EXPECT_EQ(QZ_TRUE, ok);
    }
  });
  (void)rsa_pubkey_value_free(&pub);
}

INSTANTIATE_TEST_SUITE_P(KeyForms, ConstantTimeRsa, ::testing::ValuesIn(kForms),
                         [](const ::testing::TestParamInfo<KeyForm>& info) {
                           return std::string("Form") + std::to_string(info.index);
                         });

TEST(ConstantTimeRsa, CrtComponentsFromD) {
  const RsaKey& key = rsa_key();
  Bytes d = key.d, p = key.p, q = key.q;
  secret(d);
  secret(p);
  secret(q);
  Bytes dp(128), dq(128), qinv(128);
  ASSERT_EQ(0u, declassify(rsa_gen_crt_component_from_prikey(2048, d.data(), p.data(), q.data(), dp.data(),
                                                              dq.data(), qinv.data())));
  declassify(dp);
  declassify(dq);
  declassify(qinv);
  EXPECT_EQ(key.dp, dp);
  EXPECT_EQ(key.dq, dq);
  EXPECT_EQ(key.qinv, qinv);
}

// Key generation: the steps on accepted primes (the prime tests that pass,
// gcd, lcm, d, the CRT components) with the primes secret, then a whole
// key-pair generation from secret random bytes. Rejected candidates are made
// public on purpose (their verdicts); nothing else may be.
TEST(ConstantTimeRsa, KeyGenerationOnSecretPrimes) {
  const RsaKey& key = rsa_key();
  on_every_rsa_path([&] {
    SecretRandom rnd;
    Bytes p = key.p, q = key.q;
    secret(p);
    secret(q);
    mpi_t P = mpi_default;
    ASSERT_EQ(0u, mpi_mapping(&P, MPI_ENDIAN_MF_U8, 128, p.data()));
    uint32_t coprime = 0;
    ASSERT_EQ(0u, declassify(mpi_coprime_a_minus_1_with_0x10001(&P, &coprime)));
    EXPECT_EQ(1u, declassify(coprime));
    uint8_t verdict = 0;
    ASSERT_EQ(0u, declassify(mpi_known_prime_test(&P, &verdict)));
    EXPECT_EQ(1, declassify(verdict));
    ASSERT_EQ(0u, declassify(mpi_miller_rabin_test(&P, &verdict, get_MR_iteration(2048, 0))));
    EXPECT_EQ(1, declassify(verdict));

    Bytes n(256), d(256);
    ASSERT_EQ(0u, declassify(rsa_key_from_prime(2048, p.data(), q.data(), n.data(), d.data())));
    declassify(d);
    EXPECT_EQ(key.n, n);
    // d = e^-1 mod lcm(p - 1, q - 1), computed here with OpenSSL.
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *pm1 = BN_bin2bn(key.p.data(), 128, nullptr), *qm1 = BN_bin2bn(key.q.data(), 128, nullptr);
    BIGNUM *g = BN_new(), *t = BN_new(), *lambda = BN_new(), *e = BN_new(), *want = BN_new();
    BN_sub_word(pm1, 1);
    BN_sub_word(qm1, 1);
    BN_gcd(g, pm1, qm1, ctx);
    BN_mul(t, pm1, qm1, ctx);
    BN_div(lambda, nullptr, t, g, ctx);
    BN_set_word(e, 65537);
    ASSERT_NE(nullptr, BN_mod_inverse(want, e, lambda, ctx));
    EXPECT_EQ(bn_bytes(want, 256), d);
    for (BIGNUM* b : {pm1, qm1, g, t, lambda, e, want}) BN_free(b);
    BN_CTX_free(ctx);

    rsa_prikey_t pri{};
    rsa_pubkey_t pub{};
    ASSERT_EQ(0u, rsa_prikey_init(&pri, RSA_SIZE_2048));
    ASSERT_EQ(0u, rsa_pubkey_init(&pub, RSA_SIZE_2048));
    ASSERT_EQ(0u, rsa_prikey_value_alloc(&pri, RSA_KEYTYPE_CRTFAST));
    ASSERT_EQ(0u, rsa_pubkey_value_alloc(&pub));
    EXPECT_EQ(0u, declassify(rsa_gen_keypair(&pri, &pub, RSA_KEYTYPE_CRTFAST, 0, nullptr)));
    (void)rsa_prikey_value_free(&pri);
    (void)rsa_pubkey_value_free(&pub);
  });
}

// ---- Big numbers ----

TEST(ConstantTimeBigNumber, ExponentiationAndPrimeInverseWithSecretModulus) {
  const RsaKey& key = rsa_key();
  on_every_path([&] {
    // Words of p (the modulus), a base and an exponent, all secret.
    Bytes p = key.p, base = random_bytes(128), exp = key.dp;
    secret(p);
    secret(base);
    secret(exp);
    mpi_t P = mpi_default, B = mpi_default, E = mpi_default, X = mpi_default;
    ASSERT_EQ(0u, mpi_mapping(&P, MPI_ENDIAN_MF_U8, 128, p.data()));
    ASSERT_EQ(0u, mpi_mapping(&B, MPI_ENDIAN_MF_U8, 128, base.data()));
    ASSERT_EQ(0u, mpi_mapping(&E, MPI_ENDIAN_MF_U8, 128, exp.data()));
    Bytes x(128);
    ASSERT_EQ(0u, mpi_mapping(&X, MPI_ENDIAN_MF_U8, 128, x.data()));
    ASSERT_EQ(0u, declassify(mpi_mod_exp(&X, &B, &E, &P)));
    ASSERT_EQ(0u, declassify(mpi_mod_inv_prime(&X, &B, &P)));
    ASSERT_EQ(0u, declassify(mpi_mod_add(&X, &X, &X, &P)));
    ASSERT_EQ(0u, declassify(mpi_mod_sub(&X, &X, &B, &P)));
    declassify(x);
  });
}

// ---- AES-NI, GCM, HMAC ----

TEST(ConstantTimeSymmetric, AesNiModesGcmAndHmac) {
  if (!quarzel::cipher_accel_cpu_supported()) GTEST_SKIP() << "no AES-NI on this CPU";
  Bytes key = random_bytes(32), iv = random_bytes(16), data = random_bytes(64);
  secret(key);
  secret(data);
  for (const cipher_mode_t mode : {CIPHER_MODE_ECB, CIPHER_MODE_CBC, CIPHER_MODE_CTR}) {
    for (const cipher_dir_t dir : {CIPHER_DIR_ENC, CIPHER_DIR_DEC}) {
      Bytes out(64);
      uint32_t out_len = 64;
      ASSERT_EQ(0u, declassify(blockcipher_onestep(CIPHER_TYPE_AES256, mode, dir, 32, key.data(), 16, iv.data(),
                                                   64, data.data(), &out_len, out.data())));
    }
  }
  Bytes ct(64), tag(16), pt(64);
  uint32_t ct_len = 64, tag_len = 16, pt_len = 64, valid = 0;
  Bytes aad = random_bytes(20);
  ASSERT_EQ(0u, declassify(gcm_auth_enc_onestep(CIPHER_TYPE_AES256, 32, key.data(), 12, iv.data(), 20, aad.data(),
                                                64, data.data(), &ct_len, ct.data(), &tag_len, tag.data())));
  declassify(ct);
  declassify(tag);
  ASSERT_EQ(0u, declassify(gcm_auth_dec_onestep(CIPHER_TYPE_AES256, 32, key.data(), 12, iv.data(), 20, aad.data(),
                                                64, ct.data(), 16, tag.data(), &pt_len, pt.data(), &valid)));
  EXPECT_EQ(QZ_TRUE, declassify(valid));
  tag[3] ^= 1;
  ASSERT_EQ(0u, declassify(gcm_auth_dec_onestep(CIPHER_TYPE_AES256, 32, key.data(), 12, iv.data(), 20, aad.data(),
                                                64, ct.data(), 16, tag.data(), &pt_len, pt.data(), &valid)));
  EXPECT_EQ(QZ_FALSE, declassify(valid));
  on_every_path([&] {
    for (const hash_type_t h : {HASH_TYPE_SHA1, HASH_TYPE_SHA2_256, HASH_TYPE_SHA2_384, HASH_TYPE_SHA2_512,
                                HASH_TYPE_SHA3_256}) {
      Bytes mac(64);
      uint32_t mac_len = 64;
      ASSERT_EQ(0u, declassify(hmac_onestep(h, 32, key.data(), 64, data.data(), &mac_len, mac.data())));
    }
  });
}

}  // namespace
