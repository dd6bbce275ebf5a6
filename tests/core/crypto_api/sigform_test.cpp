// The EC value forms callers above the core see (r || s of the order's
// length, the CKM_ECDSA digest's leftmost bits, the ECDH field element) and
// the one-call hash, against OpenSSL where it has the answer.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "support/hex.h"
#include "zeb/vrk_sigform.h"

namespace {

using zt::Bytes;

Bytes random_bytes(size_t n) {
  Bytes b(n);
  if (n != 0) RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

struct FormCase {
  VRK_UCHAR algo;
  uint32_t order;
  uint32_t field;
  uint32_t core;  // the core's value length
};
constexpr FormCase kForms[] = {
    {VRK_KEY_EC_NIST256, 32, 32, 32},   {VRK_KEY_EC_NIST384, 48, 48, 48}, {VRK_KEY_EC_NIST521, 66, 66, 68},
    {VRK_KEY_EC_SECP256K1, 32, 32, 32}, {VRK_KEY_EC_BP256R1, 32, 32, 32}, {VRK_KEY_EC_BP384R1, 48, 48, 48},
    {VRK_KEY_EC_BP512R1, 64, 64, 64},
};

TEST(SignatureForms, EveryCurveWithArithmeticHasItsLengths) {
  for (const FormCase& c : kForms) {
    VRK_EC_FORM f{};
    ASSERT_EQ(VRK_GetECForm(c.algo, &f), VRK_OK) << int(c.algo);
    EXPECT_EQ(f.KeyAlgo, c.algo);
    EXPECT_EQ(f.OrderLength, c.order);
    EXPECT_EQ(f.FieldLength, c.field);
  }
  VRK_EC_FORM f{};
  for (VRK_UCHAR other : {VRK_KEY_EC_SECP192K1, VRK_KEY_EC_SECP224K1, VRK_KEY_RSA2048, VRK_KEY_AES256, VRK_KEY_NONE}) {
    EXPECT_EQ(VRK_GetECForm(other, &f), VRK_ERR_KEY_ALGO) << int(other);
  }
  EXPECT_EQ(VRK_GetECForm(VRK_KEY_EC_NIST256, nullptr), VRK_ERR_ARGUMENTS);
}

// r || s goes to the core's form (each half widened with leading zeros) and
// back unchanged; only a signature of the order's length is taken.
TEST(SignatureForms, SignaturesRoundTripThroughTheCoresForm) {
  for (const FormCase& c : kForms) {
    SCOPED_TRACE(int(c.algo));
    Bytes sig = random_bytes(2 * c.order);
    if (c.order == 66) sig[0] &= 0x01, sig[66] &= 0x01;  // below a 521-bit order
    Bytes core(VRK_EC_CORE_SIG_MAX);
    VRK_UINT32 core_len = core.size();
    ASSERT_EQ(VRK_ECDSASignatureToCore(c.algo, sig.data(), sig.size(), core.data(), &core_len), VRK_OK);
    ASSERT_EQ(core_len, 2 * c.core);
    const uint32_t pad = c.core - c.order;
    EXPECT_EQ(Bytes(core.begin(), core.begin() + pad), Bytes(pad, 0));
    EXPECT_EQ(Bytes(core.begin() + pad, core.begin() + c.core), Bytes(sig.begin(), sig.begin() + c.order));
    EXPECT_EQ(Bytes(core.begin() + c.core, core.begin() + c.core + pad), Bytes(pad, 0));
    Bytes back(2 * c.order);
    VRK_UINT32 back_len = back.size();
    ASSERT_EQ(VRK_ECDSASignatureFromCore(c.algo, core.data(), core_len, back.data(), &back_len), VRK_OK);
    EXPECT_EQ(back_len, 2 * c.order);
    EXPECT_EQ(back, sig);

    // Lengths: a signature of another length, a core form of another
    // length, a short output (which names the length it needs).
    VRK_UINT32 n = core.size();
    EXPECT_EQ(VRK_ECDSASignatureToCore(c.algo, sig.data(), sig.size() - 1, core.data(), &n), VRK_ERR_DATA_LEN);
    n = back.size();
    EXPECT_EQ(VRK_ECDSASignatureFromCore(c.algo, core.data(), core_len - 2, back.data(), &n), VRK_ERR_DATA_LEN);
    n = 2 * c.order - 1;
    EXPECT_EQ(VRK_ECDSASignatureFromCore(c.algo, core.data(), core_len, back.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 2 * c.order);
    n = 2 * c.core - 1;
    EXPECT_EQ(VRK_ECDSASignatureToCore(c.algo, sig.data(), sig.size(), core.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 2 * c.core);
  }
  Bytes any(64);
  VRK_UINT32 n = any.size();
  EXPECT_EQ(VRK_ECDSASignatureToCore(VRK_KEY_RSA2048, any.data(), 64, any.data(), &n), VRK_ERR_KEY_ALGO);
}

// FIPS 186-4 §6.4: the leftmost bits of the digest, as many as the order
// has. OpenSSL's big numbers give the expected value: the digest as a number
// shifted right by its surplus bits.
Bytes leftmost_bits(const Bytes& digest, int bits, size_t out_len) {
  BIGNUM* bn = BN_bin2bn(digest.data(), static_cast<int>(digest.size()), nullptr);
  BN_rshift(bn, bn, static_cast<int>(8 * digest.size()) - bits);
  Bytes out(out_len);
  BN_bn2binpad(bn, out.data(), static_cast<int>(out_len));
  BN_free(bn);
  return out;
}

TEST(SignatureForms, RawDigestsKeepTheOrdersLeftmostBits) {
  for (size_t len : {66, 67, 80, 512}) {
    SCOPED_TRACE(len);
    Bytes d = random_bytes(len);
    Bytes out(512);
    VRK_UINT32 n = out.size();
    ASSERT_EQ(VRK_ECDSADigestToCore(VRK_KEY_EC_NIST521, d.data(), d.size(), out.data(), &n), VRK_OK);
    out.resize(n);
    EXPECT_EQ(out, leftmost_bits(d, 521, 66));
  }
  // Shorter digests, and every curve whose order is whole bytes: the core's
  // own truncation by bytes is exact, so the digest goes as it is.
  for (auto [algo, len] : {std::pair{VRK_KEY_EC_NIST521, 64}, {VRK_KEY_EC_NIST521, 0}, {VRK_KEY_EC_NIST256, 64},
                           {VRK_KEY_EC_BP512R1, 20}}) {
    Bytes d = random_bytes(len);
    Bytes out(512);
    VRK_UINT32 n = out.size();
    ASSERT_EQ(VRK_ECDSADigestToCore(algo, len == 0 ? nullptr : d.data(), len, out.data(), &n), VRK_OK);
    out.resize(n);
    EXPECT_EQ(out, d);
  }
}

TEST(SignatureForms, EcdhSecretsAreTheFieldElement) {
  Bytes core = random_bytes(68);
  core[0] = core[1] = 0;
  Bytes out(68);
  VRK_UINT32 n = out.size();
  ASSERT_EQ(VRK_ECDHSecretFromCore(VRK_KEY_EC_NIST521, core.data(), 68, out.data(), &n), VRK_OK);
  out.resize(n);
  EXPECT_EQ(out, Bytes(core.begin() + 2, core.end()));
  n = 68;
  EXPECT_EQ(VRK_ECDHSecretFromCore(VRK_KEY_EC_NIST521, core.data(), 65, out.data(), &n), VRK_ERR_DATA_LEN);
  Bytes p256 = random_bytes(32);
  Bytes out256(32);
  n = 31;
  EXPECT_EQ(VRK_ECDHSecretFromCore(VRK_KEY_EC_NIST256, p256.data(), 32, out256.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 32u);
  ASSERT_EQ(VRK_ECDHSecretFromCore(VRK_KEY_EC_NIST256, p256.data(), 32, out256.data(), &n), VRK_OK);
  EXPECT_EQ(out256, p256);
}

TEST(SignatureForms, OneCallHashAgreesWithOpenSsl) {
  struct HashCase {
    VRK_UCHAR type;
    const char* name;
  };
  for (const HashCase& h : {HashCase{4, "SHA1"}, {8, "SHA224"}, {9, "SHA256"}, {11, "SHA512"}, {17, "SHA3-256"},
                            {19, "SHA3-512"}}) {
    SCOPED_TRACE(h.name);
    for (size_t len : {0, 1, 64, 1000}) {
      Bytes data = random_bytes(len);
      Bytes want(EVP_MAX_MD_SIZE);
      unsigned want_len = 0;
      ASSERT_EQ(EVP_Digest(data.data(), len, want.data(), &want_len, EVP_get_digestbyname(h.name), nullptr), 1);
      want.resize(want_len);
      Bytes got(64);
      VRK_UINT32 n = got.size();
      ASSERT_EQ(VRK_HashOneStep(h.type, len == 0 ? nullptr : data.data(), len, got.data(), &n), VRK_OK);
      got.resize(n);
      EXPECT_EQ(got, want);
    }
  }
  Bytes d(64);
  VRK_UINT32 n = 31;
  EXPECT_EQ(VRK_HashOneStep(9, d.data(), 1, d.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 32u);
  n = 64;
  EXPECT_EQ(VRK_HashOneStep(200, d.data(), 1, d.data(), &n), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_HashOneStep(9, nullptr, 1, d.data(), &n), VRK_ERR_ARGUMENTS);
}

TEST(SignatureForms, WipedBytesAreZero) {
  Bytes b = random_bytes(100);
  b[0] = 1;
  VRK_SecureWipe(b.data(), b.size());
  EXPECT_EQ(b, Bytes(100, 0));
  VRK_SecureWipe(nullptr, 0);
}

}  // namespace
