// The adapter's ECDSA, ECDH and RSA operations on a logged-in session of a
// software HSM, against OpenSSL, and the session's operation state.
#include <gtest/gtest.h>

#include "core/crypto_api/fixture.h"

namespace {

using ct::Bytes;

constexpr uint8_t kSha256 = 9;

struct Pair {
  Bytes priv, pub;
};

class Sign : public ct::UserSession {
 protected:
  Pair ec_pair(uint8_t curve) {
    Pair p{Bytes(76), Bytes(144)};
    uint32_t pl = 76, ql = 144;
    EXPECT_EQ(CA_ECGenerateKeyPair(ctx, curve, p.priv.data(), &pl, p.pub.data(), &ql), 0);
    p.priv.resize(pl);
    p.pub.resize(ql);
    return p;
  }
  const Pair& rsa_pair() {
    if (rsa_.priv.empty()) {
      rsa_ = {Bytes(2856), Bytes(1040)};
      uint32_t pl = 2856, ql = 1040;
      EXPECT_EQ(CA_RSAGenerateKeyPair(ctx, 2048, 0x10001, rsa_.priv.data(), &pl, rsa_.pub.data(), &ql), 0);
      rsa_.priv.resize(pl);
      rsa_.pub.resize(ql);
    }
    return rsa_;
  }
  // Feeds data to an update in random splits.
  template <class Update>
  void feed(Update fn, const Bytes& data) {
    std::uniform_int_distribution<size_t> cut(0, 50);
    for (size_t at = 0; at < data.size();) {
      const size_t n = std::min(cut(rng), data.size() - at);
      Bytes part(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
      ASSERT_EQ(fn(ctx, part.data(), static_cast<uint32_t>(n)), 0);
      at += n;
    }
  }
  Pair rsa_;
};

struct HashCase {
  uint8_t type;
  const EVP_MD* md;
};

TEST_F(Sign, EcdsaSignaturesVerifyWithOpenSslOnEveryCurve) {
  Bytes msg(300);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    Pair k = ec_pair(c.id);
    for (const HashCase& hc : {HashCase{9, EVP_sha256()}, HashCase{10, EVP_sha384()}, HashCase{11, EVP_sha512()}}) {
      Bytes digest = ct::digest(hc.md, msg);
      // Several calls.
      ASSERT_EQ(CA_ECDSASignInit(ctx, hc.type, k.priv.data(), static_cast<uint32_t>(k.priv.size())), 0);
      feed(CA_ECDSASignUpdate, msg);
      Bytes sig(2 * c.L);
      uint32_t n = static_cast<uint32_t>(sig.size());
      ASSERT_EQ(CA_ECDSASignFinal(ctx, sig.data(), &n), 0);
      EXPECT_TRUE(ct::ec_verify(c, k.pub, digest, sig));
      // One call after init, and the verify twins.
      ASSERT_EQ(CA_ECDSASignInit(ctx, hc.type, k.priv.data(), static_cast<uint32_t>(k.priv.size())), 0);
      ASSERT_EQ(CA_ECDSASign(ctx, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), &n), 0);
      EXPECT_TRUE(ct::ec_verify(c, k.pub, digest, sig));
      ASSERT_EQ(CA_ECDSAVerifyInit(ctx, hc.type, k.pub.data(), static_cast<uint32_t>(k.pub.size())), 0);
      feed(CA_ECDSAVerifyUpdate, msg);
      EXPECT_EQ(CA_ECDSAVerifyFinal(ctx, sig.data(), n), 0);
      ASSERT_EQ(CA_ECDSAVerifyInit(ctx, hc.type, k.pub.data(), static_cast<uint32_t>(k.pub.size())), 0);
      msg[0] ^= 1;
      EXPECT_EQ(CA_ECDSAVerify(ctx, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), n),
                VRK_ERR_SIGNATURE_INVALID);
      msg[0] ^= 1;
    }
    // Raw: the data is the digest, in one call or as a single operation.
    Bytes digest = ct::digest(EVP_sha256(), msg);
    ASSERT_EQ(CA_ECDSASignInit(ctx, NO_HASH_TYPE, k.priv.data(), static_cast<uint32_t>(k.priv.size())), 0);
    EXPECT_EQ(CA_ECDSASignUpdate(ctx, digest.data(), 32), VRK_ERR_FAILED);
    Bytes sig(2 * c.L);
    uint32_t n = static_cast<uint32_t>(sig.size());
    ASSERT_EQ(CA_ECDSASign(ctx, digest.data(), 32, sig.data(), &n), 0);
    EXPECT_TRUE(ct::ec_verify(c, k.pub, digest, sig));
    ASSERT_EQ(
        CA_ECDSASignSingle(ctx, k.priv.data(), static_cast<uint32_t>(k.priv.size()), digest.data(), 32, sig.data(), &n),
        0);
    EXPECT_TRUE(ct::ec_verify(c, k.pub, digest, sig));
    EXPECT_EQ(
        CA_ECDSAVerifySingle(ctx, k.pub.data(), static_cast<uint32_t>(k.pub.size()), digest.data(), 32, sig.data(), n),
        0);
  }
}

TEST_F(Sign, EcdhAgreesWithOpenSsl) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    Pair ours = ec_pair(c.id);
    ct::EcPeer peer = ct::ec_peer(c);
    Bytes z(c.L);
    uint32_t n = c.L;
    ASSERT_EQ(CA_ECDH(ctx, ours.priv.data(), static_cast<uint32_t>(ours.priv.size()), peer.blob.data(),
                      static_cast<uint32_t>(peer.blob.size()), z.data(), &n),
              0);
    EXPECT_EQ(z, ct::ecdh(c, peer, ours.pub));
  }
}

TEST_F(Sign, OperationsDoNotOverwriteARunningOne) {
  Pair ec = ec_pair(18);
  Pair rsa = rsa_pair();
  Bytes msg = zt::ascii("the whole message");
  // A verification holds the context until it ends.
  ASSERT_EQ(CA_ECDSAVerifyInit(ctx, kSha256, ec.pub.data(), static_cast<uint32_t>(ec.pub.size())), 0);
  EXPECT_EQ(CA_ECDSASignInit(ctx, kSha256, ec.priv.data(), static_cast<uint32_t>(ec.priv.size())),
            VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(CA_RSAEncryptInit(ctx, rsa.pub.data(), static_cast<uint32_t>(rsa.pub.size())), VRK_ERR_OPERATION_ACTIVE);
  Bytes sig(64);
  EXPECT_EQ(CA_ECDSAVerifyFinal(ctx, sig.data(), 64), VRK_ERR_SIGNATURE_INVALID);
  // An RSA signature in several calls: a sign init, a decrypt init or a
  // digest is refused; a single-call signature does not touch its hash.
  ASSERT_EQ(CA_RSASignInit(ctx, kSha256, rsa.priv.data(), static_cast<uint32_t>(rsa.priv.size())), 0);
  ASSERT_EQ(CA_RSASignUpdate(ctx, msg.data(), 9), 0);
  EXPECT_EQ(CA_ECDSASignInit(ctx, kSha256, ec.priv.data(), static_cast<uint32_t>(ec.priv.size())),
            VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(CA_RSADecryptInit(ctx, rsa.priv.data(), static_cast<uint32_t>(rsa.priv.size())), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_DigestInit(user, kSha256), VRK_ERR_OPERATION_ACTIVE);
  Bytes other(256);
  uint32_t on = 256;
  Bytes junk = zt::ascii("something else");
  ASSERT_EQ(CA_RSASign_PKCS1(ctx, kSha256, rsa.priv.data(), static_cast<uint32_t>(rsa.priv.size()), junk.data(),
                             static_cast<uint32_t>(junk.size()), other.data(), &on),
            0);
  Bytes random(32);
  ASSERT_EQ(VRK_GenerateRandom(user, 32, random.data()), 0);
  ASSERT_EQ(CA_RSASignUpdate(ctx, msg.data() + 9, static_cast<uint32_t>(msg.size() - 9)), 0);
  Bytes rsig(256);
  uint32_t rn = 255;
  // A short buffer leaves the signature open.
  EXPECT_EQ(CA_RSASignFinal(ctx, rsig.data(), &rn), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(rn, 256u);
  ASSERT_EQ(CA_RSASignFinal(ctx, rsig.data(), &rn), 0);
  ct::Rsa ossl = ct::rsa_private(session_plain(rsa.priv));
  Bytes digest = ct::digest(EVP_sha256(), msg);
  Bytes expect(256);
  unsigned en = 0;
  ASSERT_EQ(RSA_sign(NID_sha256, digest.data(), 32, expect.data(), &en, ossl.get()), 1);
  EXPECT_EQ(rsig, expect);
  // Steps without their start.
  EXPECT_EQ(CA_RSASignUpdate(ctx, msg.data(), 1), VRK_ERR_NOT_INITIALIZED);
  EXPECT_EQ(CA_ECDSAVerifyUpdate(ctx, msg.data(), 1), VRK_ERR_NOT_INITIALIZED);
  EXPECT_EQ(CA_RSAEncrypt(ctx, msg.data(), 1, rsig.data(), &rn), VRK_ERR_NOT_INITIALIZED);
}

TEST_F(Sign, KeyContextsAndRawDataMustFitTheirBuffers) {
  Bytes huge(4097, 1);
  EXPECT_EQ(CA_ECDSASignInit(ctx, kSha256, huge.data(), 4097), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_ECDSAVerifyInit(ctx, kSha256, huge.data(), 2049), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_RSASignInit(ctx, kSha256, huge.data(), 4097), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_RSAEncryptInit(ctx, huge.data(), 2049), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
  Pair ec = ec_pair(18);
  ASSERT_EQ(CA_ECDSASignInit(ctx, NO_HASH_TYPE, ec.priv.data(), static_cast<uint32_t>(ec.priv.size())), 0);
  Bytes sig(64);
  uint32_t n = 64;
  EXPECT_EQ(CA_ECDSASign(ctx, huge.data(), 513, sig.data(), &n), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
}

TEST_F(Sign, RsaPkcs1MatchesOpenSslAndRoundTrips) {
  const Pair& k = rsa_pair();
  ct::Rsa ossl = ct::rsa_private(session_plain(k.priv));
  Bytes priv = k.priv, pub = k.pub;
  Bytes msg(777);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  for (const auto& [type, md, nid] :
       {std::tuple{uint8_t{4}, EVP_sha1(), NID_sha1}, std::tuple{uint8_t{9}, EVP_sha256(), NID_sha256},
        std::tuple{uint8_t{11}, EVP_sha512(), NID_sha512}}) {
    Bytes digest = ct::digest(md, msg);
    Bytes expect(256);
    unsigned en = 0;
    ASSERT_EQ(RSA_sign(nid, digest.data(), static_cast<unsigned>(digest.size()), expect.data(), &en, ossl.get()), 1);
    ASSERT_EQ(CA_RSASignInit(ctx, type, priv.data(), static_cast<uint32_t>(priv.size())), 0);
    feed(CA_RSASignUpdate, msg);
    Bytes sig(256);
    uint32_t n = 256;
    ASSERT_EQ(CA_RSASignFinal(ctx, sig.data(), &n), 0);
    EXPECT_EQ(sig, expect);
    n = 256;
    ASSERT_EQ(CA_RSASign_PKCS1(ctx, type, priv.data(), static_cast<uint32_t>(priv.size()), msg.data(),
                               static_cast<uint32_t>(msg.size()), sig.data(), &n),
              0);
    EXPECT_EQ(sig, expect);
    EXPECT_EQ(CA_RSAVerify_PKCS1(ctx, type, pub.data(), static_cast<uint32_t>(pub.size()), msg.data(),
                                 static_cast<uint32_t>(msg.size()), sig.data(), 256),
              0);
    ASSERT_EQ(CA_RSAVerifyInit(ctx, type, pub.data(), static_cast<uint32_t>(pub.size())), 0);
    sig[0] ^= 1;
    EXPECT_EQ(CA_RSAVerify(ctx, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), 256),
              VRK_ERR_SIGNATURE_INVALID);
  }
  // Encrypt with the kept key several times; OpenSSL decrypts each, and what
  // OpenSSL encrypts decrypts with the kept private key.
  ASSERT_EQ(CA_RSAEncryptInit(ctx, pub.data(), static_cast<uint32_t>(pub.size())), 0);
  ASSERT_EQ(CA_RSADecryptInit(ctx, priv.data(), static_cast<uint32_t>(priv.size())), 0);
  Bytes secret = zt::ascii("key material 123");
  Bytes prev;
  for (int i = 0; i < 3; ++i) {
    Bytes c(256);
    uint32_t n = 256;
    ASSERT_EQ(CA_RSAEncrypt(ctx, secret.data(), static_cast<uint32_t>(secret.size()), c.data(), &n), 0);
    EXPECT_NE(c, prev);
    prev = c;
    Bytes p(256);
    const int m = RSA_private_decrypt(256, c.data(), p.data(), ossl.get(), RSA_PKCS1_PADDING);
    ASSERT_EQ(m, static_cast<int>(secret.size()));
    p.resize(static_cast<size_t>(m));
    EXPECT_EQ(p, secret);
    Bytes c2(256);
    ASSERT_EQ(
        RSA_public_encrypt(static_cast<int>(secret.size()), secret.data(), c2.data(), ossl.get(), RSA_PKCS1_PADDING),
        256);
    Bytes p2(64);
    uint32_t pn = 64;
    ASSERT_EQ(CA_RSADecrypt(ctx, c2.data(), 256, p2.data(), &pn), 0);
    p2.resize(pn);
    EXPECT_EQ(p2, secret);
  }
}

}  // namespace
