// The core's crypto calls end to end: keys generated into or imported as
// objects on a software HSM, the VRK_* calls of a logged-in token user, and
// OpenSSL, Wycheproof and Python's hashlib as oracles.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "core/crypto_api/fixture.h"
#include "support/oracle.h"
#include "support/vectors.h"
#include "zeb/vrk_object.h"

namespace {

using ct::Bytes;

constexpr uint8_t kEcb = 1, kCbc = 2, kDec = 1, kEnc = 2, kNoPad = 1, kPkcs7 = 3, kSha256 = 9;

uint8_t* id() { return zt::u8("key-id"); }
uint8_t* label() { return zt::u8("key-label"); }

class Vrk : public ct::UserSession {
 protected:
  Bytes import(const Bytes& raw, uint8_t algo, uint8_t type) {
    Bytes obj(raw.size() + 128);
    uint32_t n = static_cast<uint32_t>(obj.size());
    EXPECT_EQ(VRK_ImportRawKey(user, const_cast<uint8_t*>(raw.data()), static_cast<uint32_t>(raw.size()), algo, id(),
                               label(), type, obj.data(), &n),
              0);
    obj.resize(n);
    return obj;
  }
  Bytes context(Bytes& obj) {
    Bytes ctx_bytes(obj.size());
    uint32_t n = static_cast<uint32_t>(ctx_bytes.size());
    EXPECT_EQ(VRK_GetObjCtxPtr(user, obj.data(), static_cast<uint32_t>(obj.size()), ctx_bytes.data(), &n), 0);
    ctx_bytes.resize(n);
    return ctx_bytes;
  }
  struct Pair {
    Bytes priv, pub;
  };
  Pair ec_pair(uint8_t curve) {
    Pair p{Bytes(512), Bytes(512)};
    uint32_t pl = 512, ql = 512;
    EXPECT_EQ(VRK_ECGenerateKeyPair(user, curve, id(), label(), p.priv.data(), &pl, p.pub.data(), &ql), 0);
    p.priv.resize(pl);
    p.pub.resize(ql);
    return p;
  }
  Pair rsa_pair() {
    Pair p{Bytes(4096), Bytes(2048)};
    uint32_t pl = 4096, ql = 2048;
    EXPECT_EQ(VRK_RSAGenerateKeyPair(user, 2048, 0x10001, id(), label(), p.priv.data(), &pl, p.pub.data(), &ql), 0);
    p.priv.resize(pl);
    p.pub.resize(ql);
    return p;
  }
  template <class Fn>
  void feed(Fn fn, Bytes data) {
    std::uniform_int_distribution<size_t> cut(0, 60);
    for (size_t at = 0; at < data.size();) {
      const size_t n = std::min(cut(rng), data.size() - at);
      ASSERT_EQ(fn(user, data.data() + at, static_cast<uint32_t>(n)), 0);
      at += n;
    }
  }
};

TEST_F(Vrk, AesInRandomSplitsEqualsOpenSsl) {
  for (size_t key_len : {16u, 24u, 32u}) {
    Bytes key(key_len), iv(16);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : iv) b = static_cast<uint8_t>(rng());
    Bytes obj = import(key, static_cast<uint8_t>(VRK_KEY_AES128 + key_len / 8 - 2), VRK_OBJ_SECRETKEY);
    for (bool cbc : {false, true}) {
      for (bool pad : {false, true}) {
        Bytes msg(pad ? 203 : 208);
        for (auto& b : msg) b = static_cast<uint8_t>(rng());
        for (bool enc : {true, false}) {
          SCOPED_TRACE(testing::Message() << key_len << cbc << pad << enc);
          const Bytes in = enc ? msg : zt::openssl_aes(key, cbc, pad, true, iv, msg);
          Bytes ivc = iv;
          ASSERT_EQ(VRK_AesInit(user, cbc ? kCbc : kEcb, enc ? kEnc : kDec, pad ? kPkcs7 : kNoPad, ivc.data(), 16,
                                obj.data(), static_cast<uint32_t>(obj.size())),
                    0);
          Bytes out;
          std::uniform_int_distribution<size_t> cut(0, 60);
          for (size_t at = 0; at < in.size();) {
            const size_t n = std::min(cut(rng), in.size() - at);
            Bytes part(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + n));
            Bytes dst(n + 32);
            uint32_t got = static_cast<uint32_t>(dst.size());
            ASSERT_EQ(VRK_AesUpdate(user, part.data(), static_cast<uint32_t>(n), dst.data(), &got), 0);
            out.insert(out.end(), dst.begin(), dst.begin() + got);
            at += n;
          }
          Bytes last(48);
          uint32_t got = 48;
          ASSERT_EQ(VRK_AesFinal(user, last.data(), &got), 0);
          out.insert(out.end(), last.begin(), last.begin() + got);
          EXPECT_EQ(out, enc ? zt::openssl_aes(key, cbc, pad, true, iv, msg) : msg);
        }
      }
    }
  }
}

// A mebibyte of AES-256-CBC with PKCS#7 padding, in one update and in uneven
// parts: far more than one secure-element command carries.
TEST_F(Vrk, MebibyteCbcPadEqualsOpenSsl) {
  Bytes key(32), iv(16), msg(1 << 20);
  for (auto& b : key) b = static_cast<uint8_t>(rng());
  for (auto& b : iv) b = static_cast<uint8_t>(rng());
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  Bytes obj = import(key, VRK_KEY_AES256, VRK_OBJ_SECRETKEY);
  const Bytes cipher = zt::openssl_aes(key, true, true, true, iv, msg);
  for (bool enc : {true, false}) {
    const Bytes& in = enc ? msg : cipher;
    for (size_t part : {in.size(), size_t{65536 + 7}, size_t{4099}}) {
      SCOPED_TRACE(testing::Message() << (enc ? "encrypt" : "decrypt") << " in parts of " << part);
      ASSERT_EQ(VRK_AesInit(user, kCbc, enc ? kEnc : kDec, kPkcs7, iv.data(), 16, obj.data(),
                            static_cast<uint32_t>(obj.size())),
                0);
      Bytes out(in.size() + 32);
      size_t done = 0;
      for (size_t at = 0; at < in.size(); at += part) {
        const size_t n = std::min(part, in.size() - at);
        uint32_t got = static_cast<uint32_t>(out.size() - done);
        ASSERT_EQ(VRK_AesUpdate(user, const_cast<uint8_t*>(in.data()) + at, static_cast<uint32_t>(n),
                                out.data() + done, &got),
                  0);
        done += got;
      }
      uint32_t got = static_cast<uint32_t>(out.size() - done);
      ASSERT_EQ(VRK_AesFinal(user, out.data() + done, &got), 0);
      out.resize(done + got);
      EXPECT_TRUE(out == (enc ? cipher : msg));
    }
  }
}

TEST_F(Vrk, GeneratedAesKeyObjectsWork) {
  Bytes obj(256);
  uint32_t n = 10;
  EXPECT_EQ(VRK_GenerateKey(user, 3, id(), label(), obj.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 160u);
  ASSERT_EQ(VRK_GenerateKey(user, 3, id(), label(), obj.data(), &n), 0);
  obj.resize(n);
  Bytes iv(16, 1), msg(32, 2), ct_(64), pt(64);
  uint32_t a = 64, b = 64;
  ASSERT_EQ(VRK_AesInit(user, kCbc, kEnc, kNoPad, iv.data(), 16, obj.data(), n), 0);
  ASSERT_EQ(VRK_AesUpdate(user, msg.data(), 32, ct_.data(), &a), 0);
  ASSERT_EQ(VRK_AesFinal(user, ct_.data() + a, &b), 0);
  ASSERT_EQ(a + b, 32u);
  ASSERT_EQ(VRK_AesInit(user, kCbc, kDec, kNoPad, iv.data(), 16, obj.data(), n), 0);
  a = 64;
  b = 64;
  ASSERT_EQ(VRK_AesUpdate(user, ct_.data(), 32, pt.data(), &a), 0);
  ASSERT_EQ(VRK_AesFinal(user, pt.data() + a, &b), 0);
  pt.resize(32);
  EXPECT_EQ(pt, msg);
  // The one-call form has no software implementation; a secure element
  // gives the steps' ciphertext.
  uint32_t c = 64;
  Bytes one(64);
  const int rv = VRK_AesCrypt(user, kCbc, kEnc, kNoPad, iv.data(), 16, obj.data(), n, msg.data(), 32, one.data(), &c);
  if (testbed == nullptr) {
    EXPECT_EQ(rv, VRK_ERR_NOT_SUPPORTED);
  } else {
    ASSERT_EQ(rv, 0);
    one.resize(c);
    EXPECT_EQ(one, Bytes(ct_.begin(), ct_.begin() + 32));
  }
}

TEST_F(Vrk, AesGcmWycheproof) {
  const auto doc = zt::load_vectors("aes_gcm.json");
  int checked = 0;
  for (const auto& g : doc["testGroups"]) {
    const size_t key_len = g["keySize"].get<size_t>() / 8;
    const size_t tag_len = g["tagSize"].get<size_t>() / 8;
    if (key_len != 16 && key_len != 24 && key_len != 32) continue;
    for (const auto& t : g["tests"]) {
      SCOPED_TRACE(t["tcId"].get<int>());
      Bytes key = zt::unhex(t["key"].get<std::string>()), iv = zt::unhex(t["iv"].get<std::string>());
      Bytes aad = zt::unhex(t["aad"].get<std::string>()), msg = zt::unhex(t["msg"].get<std::string>());
      Bytes ct_tag = zt::unhex(t["ct"].get<std::string>() + t["tag"].get<std::string>());
      const bool valid = t["result"].get<std::string>() != "invalid";
      Bytes obj = import(key, static_cast<uint8_t>(VRK_KEY_AES128 + key_len / 8 - 2), VRK_OBJ_SECRETKEY);
      const int init =
          VRK_AesGcmInit(user, static_cast<uint8_t>(tag_len), aad.data(), static_cast<uint32_t>(aad.size()), iv.data(),
                         static_cast<uint32_t>(iv.size()), obj.data(), static_cast<uint32_t>(obj.size()));
      if (init != 0) {
        EXPECT_FALSE(valid && !iv.empty() && (tag_len == 4 || tag_len == 8 || tag_len >= 12));
        continue;
      }
      Bytes out(ct_tag.size() + 64);
      uint32_t a = static_cast<uint32_t>(out.size());
      ASSERT_EQ(VRK_AesGcmDecryptUpdate(user, ct_tag.data(), static_cast<uint32_t>(ct_tag.size()), out.data(), &a), 0);
      uint32_t b = static_cast<uint32_t>(out.size() - a);
      const int fin = VRK_AesGcmDecryptFinal(user, out.data() + a, &b);
      if (valid) {
        ASSERT_EQ(fin, 0);
        out.resize(a + b);
        EXPECT_EQ(out, msg);
        ASSERT_EQ(
            VRK_AesGcmInit(user, static_cast<uint8_t>(tag_len), aad.data(), static_cast<uint32_t>(aad.size()),
                           iv.data(), static_cast<uint32_t>(iv.size()), obj.data(), static_cast<uint32_t>(obj.size())),
            0);
        Bytes enc(msg.size() + 64);
        a = static_cast<uint32_t>(enc.size());
        ASSERT_EQ(VRK_AesGcmEncryptUpdate(user, msg.data(), static_cast<uint32_t>(msg.size()), enc.data(), &a), 0);
        b = static_cast<uint32_t>(enc.size() - a);
        ASSERT_EQ(VRK_AesGcmEncryptFinal(user, enc.data() + a, &b), 0);
        enc.resize(a + b);
        EXPECT_EQ(enc, ct_tag);
      } else {
        EXPECT_EQ(fin, 6);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
}

// GCM over 100,000 bytes in one update each way: many device commands.
TEST_F(Vrk, LongGcmEqualsOpenSsl) {
  Bytes key(32), iv(12), aad(20), msg(100000);
  for (Bytes* b : {&key, &iv, &aad, &msg}) {
    for (auto& x : *b) x = static_cast<uint8_t>(rng());
  }
  Bytes expect(msg.size() + 16);
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  int n = 0, m = 0;
  ASSERT_EQ(EVP_EncryptInit_ex(c, EVP_aes_256_gcm(), nullptr, key.data(), iv.data()), 1);
  ASSERT_EQ(EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(aad.size())), 1);
  ASSERT_EQ(EVP_EncryptUpdate(c, expect.data(), &n, msg.data(), static_cast<int>(msg.size())), 1);
  ASSERT_EQ(EVP_EncryptFinal_ex(c, expect.data() + n, &m), 1);
  ASSERT_EQ(EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, 16, expect.data() + msg.size()), 1);
  EVP_CIPHER_CTX_free(c);

  Bytes obj = import(key, VRK_KEY_AES256, VRK_OBJ_SECRETKEY);
  const auto obj_len = static_cast<uint32_t>(obj.size());
  for (bool enc : {true, false}) {
    SCOPED_TRACE(enc ? "encrypt" : "decrypt");
    Bytes& in = enc ? msg : expect;
    ASSERT_EQ(VRK_AesGcmInit(user, 16, aad.data(), 20, iv.data(), 12, obj.data(), obj_len), 0);
    Bytes out(in.size() + 32);
    uint32_t a = static_cast<uint32_t>(out.size());
    const auto in_len = static_cast<uint32_t>(in.size());
    ASSERT_EQ(enc ? VRK_AesGcmEncryptUpdate(user, in.data(), in_len, out.data(), &a)
                  : VRK_AesGcmDecryptUpdate(user, in.data(), in_len, out.data(), &a),
              0);
    uint32_t b = static_cast<uint32_t>(out.size() - a);
    ASSERT_EQ(enc ? VRK_AesGcmEncryptFinal(user, out.data() + a, &b) : VRK_AesGcmDecryptFinal(user, out.data() + a, &b),
              0);
    out.resize(a + b);
    EXPECT_TRUE(out == (enc ? expect : msg));
  }
}

TEST_F(Vrk, DigestsEqualHashlib) {
  struct Case {
    uint8_t type;
    const char* name;
  };
  const Case cases[] = {{4, "sha1"},      {8, "sha224"},    {9, "sha256"},    {10, "sha384"},  {11, "sha512"},
                        {16, "sha3_224"}, {17, "sha3_256"}, {18, "sha3_384"}, {19, "sha3_512"}};
  Bytes msg(1000);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  std::ostringstream script;
  script << "import hashlib,sys\nd=bytes.fromhex(sys.stdin.read().strip())\n";
  for (const Case& c : cases) script << "print(hashlib.new('" << c.name << "', d).hexdigest())\n";
  std::istringstream expect(zt::run_python(script.str(), zt::hex(msg)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string want;
    expect >> want;
    ASSERT_EQ(VRK_DigestInit(user, c.type), 0);
    feed(VRK_DigestUpdate, msg);
    Bytes d(64);
    uint32_t n = 64;
    ASSERT_EQ(VRK_DigestFinal(user, d.data(), &n), 0);
    d.resize(n);
    EXPECT_EQ(zt::hex(d), want);
  }
}

TEST_F(Vrk, EcdsaOnEveryCurveVerifiesWithOpenSsl) {
  Bytes msg(500);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  Bytes digest = ct::digest(EVP_sha256(), msg);
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    Pair k = ec_pair(c.id);
    const Bytes pub_blob = context(k.pub);
    const auto pl = static_cast<uint32_t>(k.priv.size());
    const auto ql = static_cast<uint32_t>(k.pub.size());
    std::vector<Bytes> sigs;
    Bytes sig(2 * c.L);
    uint32_t n = 0;
    // Several calls, hashed.
    ASSERT_EQ(VRK_ECDSASignInit(user, kSha256, k.priv.data(), pl), 0);
    feed(VRK_ECDSASignUpdate, msg);
    n = static_cast<uint32_t>(sig.size());
    ASSERT_EQ(VRK_ECDSASignFinal(user, sig.data(), &n), 0);
    sigs.push_back(sig);
    // One call, hashed and raw.
    ASSERT_EQ(VRK_ECDSASignInit(user, kSha256, k.priv.data(), pl), 0);
    ASSERT_EQ(VRK_ECDSASign(user, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), &n), 0);
    sigs.push_back(sig);
    ASSERT_EQ(VRK_ECDSASignInit(user, NO_HASH_TYPE, k.priv.data(), pl), 0);
    ASSERT_EQ(VRK_ECDSASign(user, digest.data(), 32, sig.data(), &n), 0);
    sigs.push_back(sig);
    ASSERT_EQ(VRK_ECDSASignSingle(user, k.priv.data(), pl, digest.data(), 32, sig.data(), &n), 0);
    sigs.push_back(sig);
    for (Bytes& s : sigs) {
      EXPECT_TRUE(ct::ec_verify(c, pub_blob, digest, s));
      ASSERT_EQ(VRK_ECDSAVerifyInit(user, kSha256, k.pub.data(), ql), 0);
      feed(VRK_ECDSAVerifyUpdate, msg);
      EXPECT_EQ(VRK_ECDSAVerifyFinal(user, s.data(), n), 0);
      EXPECT_EQ(VRK_ECDSAVerifySingle(user, k.pub.data(), ql, digest.data(), 32, s.data(), n), 0);
    }
    // ECDH with an OpenSSL peer whose public key is imported as an object.
    ct::EcPeer peer = ct::ec_peer(c);
    VRK_OBJECT_META meta{};
    ASSERT_EQ(VRK_GetObjMetaPtr(user, k.pub.data(), ql, &meta), 0);
    Bytes peer_obj = import(peer.blob, meta.ObjKeyAlgo, VRK_OBJ_PUBLICKEY);
    Bytes z(c.L);
    uint32_t zl = c.L;
    ASSERT_EQ(VRK_ECDH(user, k.priv.data(), pl, peer_obj.data(), static_cast<uint32_t>(peer_obj.size()), z.data(), &zl),
              0);
    EXPECT_EQ(z, ct::ecdh(c, peer, pub_blob));
  }
  // A curve without a key algorithm.
  Bytes a(512), b(512);
  uint32_t al = 512, bl = 512;
  EXPECT_EQ(VRK_ECGenerateKeyPair(user, 17, id(), label(), a.data(), &al, b.data(), &bl), VRK_ERR_KEY_ALGO);
  // Curves with a key algorithm but no arithmetic in the library fail cleanly.
  for (uint8_t curve : {32, 33}) {
    al = bl = 512;
    EXPECT_NE(VRK_ECGenerateKeyPair(user, curve, id(), label(), a.data(), &al, b.data(), &bl), 0);
    EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
  }
}

TEST_F(Vrk, RsaSignaturesEqualOpenSslAndEncryptionRoundTrips) {
  Pair k = rsa_pair();
  ct::Rsa ossl = ct::rsa_private(session_plain(context(k.priv)));
  const auto pl = static_cast<uint32_t>(k.priv.size());
  const auto ql = static_cast<uint32_t>(k.pub.size());
  Bytes msg(321);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  Bytes digest = ct::digest(EVP_sha256(), msg);
  Bytes expect(256);
  unsigned en = 0;
  ASSERT_EQ(RSA_sign(NID_sha256, digest.data(), 32, expect.data(), &en, ossl.get()), 1);
  Bytes sig(256);
  uint32_t n = 256;
  ASSERT_EQ(VRK_RSASignInit(user, kSha256, k.priv.data(), pl), 0);
  feed(VRK_RSASignUpdate, msg);
  ASSERT_EQ(VRK_RSASignFinal(user, sig.data(), &n), 0);
  EXPECT_EQ(sig, expect);
  ASSERT_EQ(VRK_RSASignInit(user, kSha256, k.priv.data(), pl), 0);
  ASSERT_EQ(VRK_RSASign(user, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), &n), 0);
  EXPECT_EQ(sig, expect);
  ASSERT_EQ(VRK_RSASign_PKCS1(user, kSha256, k.priv.data(), pl, msg.data(), static_cast<uint32_t>(msg.size()),
                              sig.data(), &n),
            0);
  EXPECT_EQ(sig, expect);
  EXPECT_EQ(VRK_RSAVerify_PKCS1(user, kSha256, k.pub.data(), ql, msg.data(), static_cast<uint32_t>(msg.size()),
                                sig.data(), 256),
            0);
  ASSERT_EQ(VRK_RSAVerifyInit(user, kSha256, k.pub.data(), ql), 0);
  feed(VRK_RSAVerifyUpdate, msg);
  EXPECT_EQ(VRK_RSAVerifyFinal(user, sig.data(), 256), 0);
  // Encryption both ways.
  Bytes secret = zt::ascii("0123456789abcdef");
  Bytes c1(256);
  n = 256;
  ASSERT_EQ(VRK_RSAEncrypt_PKCS1(user, k.pub.data(), ql, secret.data(), 16, c1.data(), &n), 0);
  Bytes p1(256);
  ASSERT_EQ(RSA_private_decrypt(256, c1.data(), p1.data(), ossl.get(), RSA_PKCS1_PADDING), 16);
  p1.resize(16);
  EXPECT_EQ(p1, secret);
  Bytes c2(256);
  ASSERT_EQ(RSA_public_encrypt(16, secret.data(), c2.data(), ossl.get(), RSA_PKCS1_PADDING), 256);
  Bytes p2(16);
  n = 16;
  ASSERT_EQ(VRK_RSADecrypt_PKCS1(user, k.priv.data(), pl, c2.data(), 256, p2.data(), &n), 0);
  EXPECT_EQ(p2, secret);
  ASSERT_EQ(VRK_RSAEncryptInit(user, k.pub.data(), ql), 0);
  ASSERT_EQ(VRK_RSADecryptInit(user, k.priv.data(), pl), 0);
  n = 256;
  ASSERT_EQ(VRK_RSAEncrypt(user, secret.data(), 16, c1.data(), &n), 0);
  n = 16;
  ASSERT_EQ(VRK_RSADecrypt(user, c1.data(), 256, p2.data(), &n), 0);
  EXPECT_EQ(p2, secret);
  // Decryption needs the login like every other call.
  ASSERT_EQ(VRK_LogoutTokenNormalUser(user), 0u);
  n = 16;
  EXPECT_EQ(VRK_RSADecrypt(user, c1.data(), 256, p2.data(), &n), VRK_ERR_USER_NOT_LOGGED_IN);
}

TEST_F(Vrk, WrongKeyKindsAreRefused) {
  Bytes aes = import(Bytes(32, 1), VRK_KEY_AES256, VRK_OBJ_SECRETKEY);
  Pair ec = ec_pair(18);
  Pair rsa = rsa_pair();
  Bytes iv(16), sig(256), d(32, 1);
  uint32_t n = 256;
  auto len = [](const Bytes& b) { return static_cast<uint32_t>(b.size()); };
  EXPECT_EQ(VRK_AesInit(user, kCbc, kEnc, kNoPad, iv.data(), 16, ec.priv.data(), len(ec.priv)),
            VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_AesGcmInit(user, 16, nullptr, 0, iv.data(), 12, rsa.priv.data(), len(rsa.priv)),
            VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_ECDSASignInit(user, kSha256, rsa.priv.data(), len(rsa.priv)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_ECDSASignInit(user, kSha256, ec.pub.data(), len(ec.pub)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_ECDSAVerifyInit(user, kSha256, rsa.pub.data(), len(rsa.pub)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_ECDSASignSingle(user, aes.data(), len(aes), d.data(), 32, sig.data(), &n),
            VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_ECDH(user, ec.priv.data(), len(ec.priv), rsa.pub.data(), len(rsa.pub), sig.data(), &n),
            VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_RSASignInit(user, kSha256, ec.priv.data(), len(ec.priv)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_RSAVerifyInit(user, kSha256, ec.pub.data(), len(ec.pub)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_RSAEncryptInit(user, rsa.priv.data(), len(rsa.priv)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(VRK_RSADecryptInit(user, aes.data(), len(aes)), VRK_ERR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(ctx->Crypto_Operation, VRK_OP_NONE);
  // A corrupted object: the device refuses it.
  ec.priv[100] ^= 1;
  EXPECT_EQ(VRK_ECDSASignInit(user, kSha256, ec.priv.data(), len(ec.priv)), VRK_ERR_FAILED);
}

TEST_F(Vrk, AStartWhileAnOperationRunsIsRefused) {
  Bytes aes = import(Bytes(16, 1), VRK_KEY_AES128, VRK_OBJ_SECRETKEY);
  Pair ec = ec_pair(18);
  Bytes iv(16);
  const auto al = static_cast<uint32_t>(aes.size());
  const auto el = static_cast<uint32_t>(ec.priv.size());
  ASSERT_EQ(VRK_DigestInit(user, kSha256), 0);
  EXPECT_EQ(VRK_AesInit(user, kCbc, kEnc, kNoPad, iv.data(), 16, aes.data(), al), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_AesGcmInit(user, 16, nullptr, 0, iv.data(), 12, aes.data(), al), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_ECDSASignInit(user, kSha256, ec.priv.data(), el), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_DigestInit(user, kSha256), VRK_ERR_OPERATION_ACTIVE);
  Bytes d(32);
  uint32_t n = 32;
  ASSERT_EQ(VRK_DigestFinal(user, d.data(), &n), 0);
  ASSERT_EQ(VRK_ECDSASignInit(user, kSha256, ec.priv.data(), el), 0);
  EXPECT_EQ(VRK_ECDSASignInit(user, kSha256, ec.priv.data(), el), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_ECDSAVerifyInit(user, kSha256, ec.pub.data(), static_cast<uint32_t>(ec.pub.size())),
            VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_AesInit(user, kCbc, kEnc, kNoPad, iv.data(), 16, aes.data(), al), VRK_ERR_OPERATION_ACTIVE);
  EXPECT_EQ(VRK_DigestInit(user, kSha256), VRK_ERR_OPERATION_ACTIVE);
}

TEST_F(Vrk, RandomBytesDoNotDisturbARunningDigest) {
  Bytes msg = zt::ascii("hash me across a random draw");
  ASSERT_EQ(VRK_DigestInit(user, kSha256), 0);
  ASSERT_EQ(VRK_DigestUpdate(user, msg.data(), 10), 0);
  Bytes rnd(1000);
  ASSERT_EQ(VRK_GenerateRandom(user, 1000, rnd.data()), 0);
  ASSERT_EQ(VRK_DigestUpdate(user, msg.data() + 10, static_cast<uint32_t>(msg.size() - 10)), 0);
  Bytes d(32);
  uint32_t n = 32;
  ASSERT_EQ(VRK_DigestFinal(user, d.data(), &n), 0);
  EXPECT_EQ(d, ct::digest(EVP_sha256(), msg));
}

TEST_F(Vrk, EveryCallNeedsTheTokenUserLogin) {
  VRK_HANDLE plain = token_session(token);
  Bytes b(4096), c(4096);
  uint32_t n = 4096, m = 4096;
  uint8_t* p = b.data();
  const std::vector<std::function<int(VRK_HANDLE)>> calls = {
      [&](VRK_HANDLE h) { return VRK_GenerateKey(h, 3, id(), label(), p, &n); },
      [&](VRK_HANDLE h) { return VRK_AesInit(h, kCbc, kEnc, kNoPad, p, 16, p, 200); },
      [&](VRK_HANDLE h) { return VRK_AesUpdate(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_AesFinal(h, p, &n); },
      [&](VRK_HANDLE h) { return VRK_AesCrypt(h, kCbc, kEnc, kNoPad, p, 16, p, 200, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_AesGcmInit(h, 16, p, 0, p, 12, p, 200); },
      [&](VRK_HANDLE h) { return VRK_AesGcmEncryptUpdate(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_AesGcmEncryptFinal(h, p, &n); },
      [&](VRK_HANDLE h) { return VRK_AesGcmDecryptUpdate(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_AesGcmDecryptFinal(h, p, &n); },
      [&](VRK_HANDLE h) { return VRK_ECGenerateKeyPair(h, 18, id(), label(), p, &n, c.data(), &m); },
      [&](VRK_HANDLE h) { return VRK_ECDSASignInit(h, kSha256, p, 200); },
      [&](VRK_HANDLE h) { return VRK_ECDSASignUpdate(h, p, 16); },
      [&](VRK_HANDLE h) { return VRK_ECDSASignFinal(h, p, &n); },
      [&](VRK_HANDLE h) { return VRK_ECDSASign(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_ECDSASignSingle(h, p, 200, p, 32, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_ECDSAVerifyInit(h, kSha256, p, 200); },
      [&](VRK_HANDLE h) { return VRK_ECDSAVerifyUpdate(h, p, 16); },
      [&](VRK_HANDLE h) { return VRK_ECDSAVerifyFinal(h, p, 64); },
      [&](VRK_HANDLE h) { return VRK_ECDSAVerify(h, p, 16, c.data(), 64); },
      [&](VRK_HANDLE h) { return VRK_ECDSAVerifySingle(h, p, 200, p, 32, c.data(), 64); },
      [&](VRK_HANDLE h) { return VRK_ECDH(h, p, 200, p, 200, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSAGenerateKeyPair(h, 2048, 0x10001, id(), label(), p, &n, c.data(), &m); },
      [&](VRK_HANDLE h) { return VRK_RSASignInit(h, kSha256, p, 200); },
      [&](VRK_HANDLE h) { return VRK_RSASignUpdate(h, p, 16); },
      [&](VRK_HANDLE h) { return VRK_RSASignFinal(h, p, &n); },
      [&](VRK_HANDLE h) { return VRK_RSASign(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSASign_PKCS1(h, kSha256, p, 200, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSAVerifyInit(h, kSha256, p, 200); },
      [&](VRK_HANDLE h) { return VRK_RSAVerifyUpdate(h, p, 16); },
      [&](VRK_HANDLE h) { return VRK_RSAVerifyFinal(h, p, 256); },
      [&](VRK_HANDLE h) { return VRK_RSAVerify(h, p, 16, c.data(), 256); },
      [&](VRK_HANDLE h) { return VRK_RSAVerify_PKCS1(h, kSha256, p, 200, p, 16, c.data(), 256); },
      [&](VRK_HANDLE h) { return VRK_RSAEncryptInit(h, p, 200); },
      [&](VRK_HANDLE h) { return VRK_RSAEncrypt(h, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSAEncrypt_PKCS1(h, p, 200, p, 16, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSADecryptInit(h, p, 200); },
      [&](VRK_HANDLE h) { return VRK_RSADecrypt(h, p, 256, c.data(), &n); },
      [&](VRK_HANDLE h) { return VRK_RSADecrypt_PKCS1(h, p, 200, p, 256, c.data(), &n); },
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i](plain), 0x101);
    EXPECT_EQ(calls[i](0x7777), 0xB3);
  }
}

}  // namespace
