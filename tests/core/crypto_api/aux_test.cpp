// The crypto auxiliaries: random bytes, hashing, and the EC family with DER
// signatures, against OpenSSL.
#include <gtest/gtest.h>

#include "core/crypto_api/ossl.h"
#include "quarzel/ecc.h"
#include "zeb/crypto_aux.h"
#include "zeb/swhsm_services.h"

namespace {

using ct::Bytes;

TEST(Auxiliaries, RandomBytesDifferAndRequestsAreBounded) {
  Bytes a(64), b(64);
  ASSERT_EQ(SWA_Drng(64, a.data()), 0u);
  ASSERT_EQ(SWA_Drng(64, b.data()), 0u);
  EXPECT_NE(a, b);
  Bytes big(65537);
  EXPECT_EQ(SWA_Drng(65536, big.data()), 0u);
  EXPECT_NE(SWA_Drng(65537, big.data()), 0u);
  EXPECT_NE(SWA_Drng(0, big.data()), 0u);
}

TEST(Auxiliaries, HashFinalKeepsTheCapacityWhenShort) {
  alignas(8) uint8_t ctx[SWA_HASH_CTX_SIZE];
  Bytes msg = zt::ascii("abc"), d(64);
  ASSERT_EQ(SWA_HashInit(ctx, 9), 0u);
  ASSERT_EQ(SWA_HashUpdate(ctx, msg.data(), 3), 0u);
  uint32_t n = 31;
  EXPECT_NE(SWA_HashFinal(ctx, d.data(), &n), 0u);
  EXPECT_EQ(n, 31u);
  ASSERT_EQ(SWA_HashInit(ctx, 9), 0u);
  ASSERT_EQ(SWA_HashUpdate(ctx, msg.data(), 3), 0u);
  n = 64;
  ASSERT_EQ(SWA_HashFinal(ctx, d.data(), &n), 0u);
  d.resize(n);
  EXPECT_EQ(d, ct::digest(EVP_sha256(), msg));
  EXPECT_NE(SWA_HashInit(ctx, 255), 0u);  // no hashing is no hash type
}

// A key pair handed out by value; the holder frees the value buffers.
struct AuxPair {
  ecc_prikey_t d{};
  ecc_pubkey_t q{};
  explicit AuxPair(uint8_t curve) {
    uint32_t dl = sizeof d, ql = sizeof q;
    EXPECT_EQ(SWA_ECGenerateKeyPair(curve, reinterpret_cast<uint8_t*>(&d), &dl, reinterpret_cast<uint8_t*>(&q), &ql),
              0u);
    EXPECT_EQ(dl, sizeof d);
    EXPECT_EQ(ql, sizeof q);
  }
  ~AuxPair() {
    (void)ecc_prikey_value_free(&d);
    (void)ecc_pubkey_value_free(&q);
  }
  Bytes pub_blob(const ct::Curve& c) const {
    Bytes b = {c.id, 0, 0, 0};
    b.insert(b.end(), q.q_point_x, q.q_point_x + c.L);
    b.insert(b.end(), q.q_point_y, q.q_point_y + c.L);
    return b;
  }
};

TEST(Auxiliaries, DerSignaturesVerifyWithOpenSslOnEveryCurve) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    AuxPair k(c.id);
    Bytes digest = ct::digest(EVP_sha256(), zt::ascii("aux"));
    for (int i = 0; i < 4; ++i) {
      Bytes der(160);
      uint32_t n = 160;
      ASSERT_EQ(SWA_ECDSASignSingle(reinterpret_cast<uint8_t*>(&k.d), sizeof k.d, digest.data(), 32, der.data(), &n),
                0u);
      der.resize(n);
      // OpenSSL reads the DER form and verifies it.
      ct::EcKey pub = ct::ec_public(c, k.pub_blob(c));
      EXPECT_EQ(ECDSA_verify(0, digest.data(), 32, der.data(), static_cast<int>(n), pub.get()), 1);
      EXPECT_EQ(SWA_ECDSAVerifySingle(reinterpret_cast<uint8_t*>(&k.q), sizeof k.q, digest.data(), 32, der.data(), n),
                0u);
      digest[0] ^= 1;
      EXPECT_EQ(SWA_ECDSAVerifySingle(reinterpret_cast<uint8_t*>(&k.q), sizeof k.q, digest.data(), 32, der.data(), n),
                0xC0u);
      digest[0] ^= 1;
    }
  }
}

TEST(Auxiliaries, OversizedValuesAndKeysAreRefused) {
  const ct::Curve& p256 = ct::curves()[0];
  AuxPair k(p256.id);
  Bytes digest(32, 7);
  // r of 33 significant bytes: longer than the curve's length.
  Bytes r(33, 0x41), s(33, 0x41), der(80);
  uint32_t n = 80;
  ASSERT_EQ(SignatureToDER(r.data(), s.data(), 33, der.data(), &n), 0u);
  EXPECT_EQ(SWA_ECDSAVerifySingle(reinterpret_cast<uint8_t*>(&k.q), sizeof k.q, digest.data(), 32, der.data(), n),
            0xC0u);
  // Truncated DER.
  EXPECT_EQ(SWA_ECDSAVerifySingle(reinterpret_cast<uint8_t*>(&k.q), sizeof k.q, digest.data(), 32, der.data(), 5),
            0xC0u);
  // Key objects of another size.
  Bytes big(sizeof k.d + 8);
  std::memcpy(big.data(), &k.d, sizeof k.d);
  uint32_t sn = 160;
  Bytes sig(160);
  EXPECT_EQ(SWA_ECDSASignSingle(big.data(), static_cast<uint32_t>(big.size()), digest.data(), 32, sig.data(), &sn), 7u);
  Bytes z(32);
  uint32_t zl = 32;
  EXPECT_EQ(SWA_ECDH(big.data(), static_cast<uint32_t>(big.size()), reinterpret_cast<uint8_t*>(&k.q), sizeof k.q,
                     z.data(), &zl),
            7u);
}

TEST(Auxiliaries, EcdhAgreesWithOpenSsl) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    AuxPair ours(c.id);
    ct::EcPeer peer = ct::ec_peer(c);
    ecc_pubkey_t q{};
    ASSERT_EQ(ecc_pubkey_init(&q, static_cast<ecc_crv_t>(c.id)), 0u);
    ASSERT_EQ(ecc_pubkey_value_alloc(&q), 0u);
    ASSERT_EQ(ecc_raw_to_pubkey(static_cast<uint32_t>(peer.blob.size()), peer.blob.data(), &q), 0u);
    Bytes z(c.L);
    uint32_t zl = c.L;
    ASSERT_EQ(SWA_ECDH(reinterpret_cast<uint8_t*>(&ours.d), sizeof ours.d, reinterpret_cast<uint8_t*>(&q), sizeof q,
                       z.data(), &zl),
              0u);
    EXPECT_EQ(z, ct::ecdh(c, peer, ours.pub_blob(c)));
    (void)ecc_pubkey_value_free(&q);
  }
}

}  // namespace
