// RSA primitives: range checks, the three private component sets, the fixed
// public exponent and public keys derived from private ones.
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <cstring>

#include "quarzel/rsa.h"
#include "rsa_test_util.h"

using rt::Bytes;

namespace {

// The 2048-bit key of the Wycheproof PKCS#1 decryption file.
struct TestKey {
  rt::Evp evp = rt::evp_from_pkcs8(rt::wycheproof_pkcs8("rsa_pkcs1_2048.json"));
  rt::Components c = rt::components_of(evp.get(), 2048);
};
const TestKey& test_key() {
  static const TestKey* k = new TestKey;
  return *k;
}

Bytes be_add(Bytes x, int delta) {  // small signed adjustment of a big-endian number
  int carry = delta;
  for (size_t i = x.size(); i-- > 0 && carry != 0;) {
    const int v = x[i] + carry;
    x[i] = static_cast<uint8_t>(v & 0xFF);
    carry = v < 0 ? -1 : (v >> 8);
  }
  return x;
}

Bytes small(uint8_t v) {
  Bytes b(256, 0);
  b[255] = v;
  return b;
}

}  // namespace

TEST(RsaPrimitive, RangeChecks) {
  const TestKey& tk = test_key();
  rt::PriKey pri(2048);
  rt::load_prikey(pri, tk.c);
  rt::PubKey pub(2048);
  rt::load_pubkey(pub, tk.c.n, tk.c.e);
  const Bytes n = tk.c.n, nm1 = be_add(n, -1), nm2 = be_add(n, -2);
  Bytes out(256);
  for (const Bytes& x : {small(0), small(1), nm1}) {
    EXPECT_EQ(0x042CFF61u, rsa_rsaep(pub.get(), x.data(), out.data()));
    EXPECT_EQ(0x042DFF61u, rsa_rsadp(pri.get(), x.data(), out.data()));
  }
  EXPECT_EQ(n, Bytes(pub->n_modulus, pub->n_modulus + 256));
  for (const Bytes& x : {small(2), nm2}) {
    EXPECT_EQ(0u, rsa_rsaep(pub.get(), x.data(), out.data()));
    EXPECT_EQ(0u, rsa_rsadp(pri.get(), x.data(), out.data()));
  }
  EXPECT_EQ(0x042EFF61u, rsa_rsasp1(pri.get(), n.data(), out.data()));
  EXPECT_EQ(0x042FFF61u, rsa_rsavp1(pub.get(), n.data(), out.data()));
  EXPECT_EQ(0u, rsa_rsasp1(pri.get(), nm1.data(), out.data()));
  EXPECT_EQ(0u, rsa_rsavp1(pub.get(), small(0).data(), out.data()));

  rt::PubKey empty(2048);
  EXPECT_EQ(0x042CFF09u, rsa_rsaep(empty.get(), small(2).data(), out.data()));
  EXPECT_EQ(0x042CFF05u, rsa_rsaep(pub.get(), nullptr, out.data()));
}

// Every usable component set gives the same private result, including a key
// with only p, q, dp, dq, qinv (n computed from p * q for the range check).
TEST(RsaPrimitive, ComponentSetsAgree) {
  const rt::Components c = test_key().c;
  const Bytes x = be_add(c.n, -12345);
  Bytes want(256);
  {
    rt::PriKey full(2048);
    rt::load_prikey(full, c);
    ASSERT_EQ(0u, rsa_rsasp1(full.get(), x.data(), want.data()));
  }
  Bytes out(256);
  rt::PriKey noncrt(2048, RSA_KEYTYPE_NONCRT);
  ASSERT_EQ(0u, rsa_prikey_value_set(noncrt.get(), 256, c.n.data(), 256, c.e.data(), 256, c.d.data(), 0,
                                     nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  ASSERT_EQ(0u, rsa_rsasp1(noncrt.get(), x.data(), out.data()));
  EXPECT_EQ(want, out);

  rt::PriKey crt(2048, RSA_KEYTYPE_CRT);
  ASSERT_EQ(0u, rsa_prikey_value_set(crt.get(), 0, nullptr, 0, nullptr, 256, c.d.data(), 128, c.p.data(), 128,
                                     c.q.data(), 0, nullptr, 0, nullptr, 0, nullptr));
  ASSERT_EQ(0u, rsa_rsasp1(crt.get(), x.data(), out.data()));
  EXPECT_EQ(want, out);

  rt::Components m = c;  // mapped: the key refers to these buffers
  rsa_prikey_t only_crt{};
  ASSERT_EQ(0u, rsa_prikey_init(&only_crt, RSA_SIZE_2048));
  ASSERT_EQ(0u, rsa_prikey_value_mapping(&only_crt, 0, nullptr, 0, nullptr, 0, nullptr, 128, m.p.data(), 128,
                                         m.q.data(), 128, m.dp.data(), 128, m.dq.data(), 128, m.qinv.data()));
  ASSERT_EQ(0u, rsa_rsasp1(&only_crt, x.data(), out.data()));
  EXPECT_EQ(want, out);
  ASSERT_EQ(0u, rsa_rsadp(&only_crt, x.data(), out.data()));
  EXPECT_EQ(want, out);
  EXPECT_EQ(0x042DFF61u, rsa_rsadp(&only_crt, be_add(c.n, -1).data(), out.data()));
}

TEST(RsaPrimitive, Power65537MatchesGenericPower) {
  const rt::Components& c = test_key().c;
  const Bytes x = be_add(c.n, -999);
  Bytes a(256), b(256);
  ASSERT_EQ(0u, rsa_power_65537(2048, x.data(), c.n.data(), a.data()));
  ASSERT_EQ(0u, rsa_power(2048, x.data(), c.n.data(), c.e.data(), b.data()));
  EXPECT_EQ(a, b);
  // Results may overwrite the base.
  Bytes inplace = x;
  ASSERT_EQ(0u, rsa_power_65537(2048, inplace.data(), c.n.data(), inplace.data()));
  EXPECT_EQ(a, inplace);
}

// A public blob that claims e = 65537 for a key with e = 3 must still
// encrypt with e = 3.
TEST(RsaPrimitive, KeyWithOtherExponentIsNotTreatedAs65537) {
  rt::Evp evp = rt::openssl_keygen(1024, 3);
  const rt::Components c = rt::components_of(evp.get(), 1024);
  Bytes blob = {0x00, 0x04, 0x03, 0x01};
  blob.resize(4 + 256);
  std::memcpy(blob.data() + 4, c.n.data(), 128);
  std::memcpy(blob.data() + 4 + 128, c.e.data(), 128);
  rt::PubKey pub(1024);
  ASSERT_EQ(0u, rsa_raw_to_pubkey(static_cast<uint32_t>(blob.size()), blob.data(), pub.get()));
  const Bytes m = be_add(c.n, -77);
  Bytes ours(128), theirs(128);
  ASSERT_EQ(0u, rsa_rsaep(pub.get(), m.data(), ours.data()));
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(evp.get(), nullptr);
  size_t len = 128;
  ASSERT_EQ(1, EVP_PKEY_encrypt_init(ctx));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING));
  ASSERT_EQ(1, EVP_PKEY_encrypt(ctx, theirs.data(), &len, m.data(), m.size()));
  EVP_PKEY_CTX_free(ctx);
  EXPECT_EQ(theirs, ours);

  // Signatures of the e = 3 key verify through it as well.
  rt::PriKey pri(1024);
  rt::load_prikey(pri, c);
  const Bytes md = rt::digest(HASH_TYPE_SHA2_256, zt::ascii("e=3"));
  Bytes sig(128);
  ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_sign(pri.get(), HASH_TYPE_SHA2_256, 32, md.data(), sig.data()));
  uint32_t verdict = 0;
  ASSERT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(pub.get(), HASH_TYPE_SHA2_256, 32, md.data(), sig.data(), &verdict));
  EXPECT_EQ(QZ_TRUE, verdict);
}

TEST(RsaPublicFromPrivate, CrtKeyWithoutModulus) {
  rt::Components m = test_key().c;
  rsa_prikey_t pri{};
  ASSERT_EQ(0u, rsa_prikey_init(&pri, RSA_SIZE_2048));
  ASSERT_EQ(0u, rsa_prikey_value_mapping(&pri, 0, nullptr, 256, m.e.data(), 0, nullptr, 128, m.p.data(), 128,
                                         m.q.data(), 128, m.dp.data(), 128, m.dq.data(), 128, m.qinv.data()));
  rt::PubKey pub(2048);
  ASSERT_EQ(0u, rsa_gen_puk_from_prk(&pri, pub.get()));
  EXPECT_EQ(m.n, Bytes(pub->n_modulus, pub->n_modulus + 256));
  EXPECT_EQ(m.e, Bytes(pub->e_exponent, pub->e_exponent + 256));
  EXPECT_TRUE(pub->state & RSA_FLAG_E65537);

  // Without e there is no public key to give.
  rsa_prikey_t no_e{};
  ASSERT_EQ(0u, rsa_prikey_init(&no_e, RSA_SIZE_2048));
  ASSERT_EQ(0u, rsa_prikey_value_mapping(&no_e, 256, m.n.data(), 0, nullptr, 256, m.d.data(), 0, nullptr, 0,
                                         nullptr, 0, nullptr, 0, nullptr, 0, nullptr));
  rt::PubKey pub2(2048);
  EXPECT_EQ(0x046AFF09u, rsa_gen_puk_from_prk(&no_e, pub2.get()));
  EXPECT_EQ(RSA_PUBKEY_STATE_INVALID, pub2->state);

  rt::PubKey other(1024);
  EXPECT_EQ(0x046AFF5Cu, rsa_gen_puk_from_prk(&pri, other.get()));
}

// Public exponents other than 65537 take the public-exponent path (their
// bits only) and agree with OpenSSL: small, large, and as long as n.
TEST(RsaPublicExponent, AnyExponentMatchesOpenSsl) {
  rt::Evp evp = rt::openssl_keygen(2048);
  const rt::Components c = rt::components_of(evp.get(), 2048);
  const size_t L = 256;
  Bytes full_e(L, 0xA5);
  full_e[0] = 0x01;
  const Bytes exponents[] = {rt::Bytes{0x03}, rt::Bytes{0x11}, rt::Bytes{0x01, 0x00, 0x00, 0x00, 0x01},
                             rt::Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, full_e};
  BN_CTX* ctx = BN_CTX_new();
  for (const Bytes& e : exponents) {
    Bytes padded(L, 0);
    std::memcpy(padded.data() + L - e.size(), e.data(), e.size());
    Bytes n = c.n;
    rsa_pubkey_t pub{};
    ASSERT_EQ(0u, rsa_pubkey_init(&pub, RSA_SIZE_2048));
    ASSERT_EQ(0u, rsa_pubkey_value_mapping(&pub, static_cast<uint32_t>(L), n.data(), static_cast<uint32_t>(L),
                                           padded.data()));
    EXPECT_EQ(e.size() == 3 && e[0] == 1 && e[2] == 1, (pub.state & RSA_FLAG_E65537) != 0);
    Bytes m(L, 0x3C), out(L);
    m[0] = 0x01;
    ASSERT_EQ(0u, rsa_rsaep(&pub, m.data(), out.data()));
    (void)rsa_pubkey_value_free(&pub);
    BIGNUM* bm = BN_bin2bn(m.data(), static_cast<int>(L), nullptr);
    BIGNUM* be = BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr);
    BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(L), nullptr);
    BIGNUM* r = BN_new();
    ASSERT_EQ(1, BN_mod_exp(r, bm, be, bn, ctx));
    Bytes want(L);
    BN_bn2binpad(r, want.data(), static_cast<int>(L));
    EXPECT_EQ(want, out) << e.size();
    for (BIGNUM* b : {bm, be, bn, r}) BN_free(b);
  }
  BN_CTX_free(ctx);
}
