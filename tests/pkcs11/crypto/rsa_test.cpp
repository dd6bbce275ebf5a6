// RSA PKCS#1 v1.5 encryption through the module: both ways with OpenSSL on
// imported and generated keys, Wycheproof rsa_pkcs1_* decryption, lengths,
// key classes and failures.
#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include <openssl/bn.h>
#include <openssl/rsa.h>

#include <functional>
#include <memory>

#include "crypto_fixture.h"
#include "keys.h"
#include "support/vectors.h"

namespace zt {
namespace {

using RsaPtr = std::unique_ptr<RSA, decltype(&RSA_free)>;

RsaPtr rsa_new(int bits) {
  RsaPtr r(RSA_new(), RSA_free);
  BIGNUM* e = BN_new();
  BN_set_word(e, 65537);
  RSA_generate_key_ex(r.get(), bits, e, nullptr);
  BN_free(e);
  return r;
}

Bytes bn(const BIGNUM* b) {
  Bytes out(static_cast<size_t>(BN_num_bytes(b)));
  BN_bn2bin(b, out.data());
  return out;
}

class Rsa : public CryptoTest {
 protected:
  CK_RV init(bool enc, CK_OBJECT_HANDLE k) {
    CK_MECHANISM mech{CKM_RSA_PKCS, nullptr, 0};
    return enc ? p11->C_EncryptInit(s, &mech, k) : p11->C_DecryptInit(s, &mech, k);
  }
  Bytes run(bool enc, CK_OBJECT_HANDLE k, Bytes in) {
    EXPECT_EQ(init(enc, k), CKR_OK);
    CK_ULONG len = 0;
    auto call = [&](CK_BYTE_PTR out) {
      return enc ? p11->C_Encrypt(s, bp(in), in.size(), out, &len) : p11->C_Decrypt(s, bp(in), in.size(), out, &len);
    };
    EXPECT_EQ(call(nullptr), CKR_OK);
    Bytes out(len + 1);
    const CK_ULONG asked = len;
    EXPECT_EQ(call(out.data()), CKR_OK);
    EXPECT_EQ(len, asked);  // the exact length, also for a decryption
    out.resize(len);
    return out;
  }
  CK_OBJECT_HANDLE import_private(const RSA* r) {
    const BIGNUM *n, *e, *d, *p, *q, *dp, *dq, *qi;
    RSA_get0_key(r, &n, &e, &d);
    RSA_get0_factors(r, &p, &q);
    RSA_get0_crt_params(r, &dp, &dq, &qi);
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(keys().create({attr_ulong(CKA_CLASS, CKO_PRIVATE_KEY), attr_ulong(CKA_KEY_TYPE, CKK_RSA),
                             {CKA_MODULUS, bn(n)}, {CKA_PUBLIC_EXPONENT, bn(e)}, {CKA_PRIVATE_EXPONENT, bn(d)},
                             {CKA_PRIME_1, bn(p)}, {CKA_PRIME_2, bn(q)}, {CKA_EXPONENT_1, bn(dp)},
                             {CKA_EXPONENT_2, bn(dq)}, {CKA_COEFFICIENT, bn(qi)}, attr_bool(CKA_DECRYPT, true),
                             attr_bool(CKA_PRIVATE, true)},
                            &h),
              CKR_OK);
    return h;
  }
  CK_OBJECT_HANDLE import_public(const Bytes& n, const Bytes& e) {
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(keys().create({attr_ulong(CKA_CLASS, CKO_PUBLIC_KEY), attr_ulong(CKA_KEY_TYPE, CKK_RSA),
                             {CKA_MODULUS, n}, {CKA_PUBLIC_EXPONENT, e}, attr_bool(CKA_ENCRYPT, true)},
                            &h),
              CKR_OK);
    return h;
  }
  Keys keys() { return Keys(p11, s); }
};

TEST_F(Rsa, BothWaysWithOpenSslOnImportedKeys) {
  for (int bits : {1024, 2048, 3072, 4096}) {
    SCOPED_TRACE(bits);
    RsaPtr r = rsa_new(bits);
    const BIGNUM *n, *e, *d;
    RSA_get0_key(r.get(), &n, &e, &d);
    const CK_OBJECT_HANDLE priv = import_private(r.get());
    const CK_OBJECT_HANDLE pub = import_public(bn(n), bn(e));
    const size_t k = static_cast<size_t>(bits / 8);
    for (size_t len : {size_t{0}, size_t{1}, size_t{32}, k - 11}) {
      const Bytes msg = random_bytes(len);
      const Bytes ct = run(true, pub, msg);
      ASSERT_EQ(ct.size(), k);
      Bytes back(k);
      const int m = RSA_private_decrypt(static_cast<int>(k), ct.data(), back.data(), r.get(), RSA_PKCS1_PADDING);
      ASSERT_EQ(m, static_cast<int>(len));
      back.resize(len);
      EXPECT_EQ(hex(back), hex(msg));

      Bytes theirs(k);
      ASSERT_EQ(RSA_public_encrypt(static_cast<int>(len), msg.data(), theirs.data(), r.get(), RSA_PKCS1_PADDING),
                static_cast<int>(k));
      EXPECT_EQ(hex(run(false, priv, theirs)), hex(msg));
    }
  }
}

TEST_F(Rsa, GeneratedPairRoundTripsAndOpenSslEncryptsToIt) {
  const KeyPair kp = keys().rsa_pair(2048);
  const Bytes n = keys().attribute(kp.pub, CKA_MODULUS);
  const Bytes e = keys().attribute(kp.pub, CKA_PUBLIC_EXPONENT);
  ASSERT_EQ(n.size(), 256u);
  const Bytes msg = random_bytes(100);
  EXPECT_EQ(hex(run(false, kp.priv, run(true, kp.pub, msg))), hex(msg));
  RsaPtr r(RSA_new(), RSA_free);
  RSA_set0_key(r.get(), BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr),
               BN_bin2bn(e.data(), static_cast<int>(e.size()), nullptr), nullptr);
  Bytes ct(256);
  ASSERT_EQ(RSA_public_encrypt(static_cast<int>(msg.size()), msg.data(), ct.data(), r.get(), RSA_PKCS1_PADDING), 256);
  EXPECT_EQ(hex(run(false, kp.priv, ct)), hex(msg));
}

TEST_F(Rsa, WycheproofPkcs1Decryption) {
  size_t cases = 0;
  for (const char* file : {"rsa_pkcs1_2048.json", "rsa_pkcs1_3072.json", "rsa_pkcs1_4096.json"}) {
    const auto vectors = load_vectors(file);
    for (const auto& g : vectors["testGroups"]) {
      const auto& key = g["privateKey"];
      auto v = [&](const char* name) { return unhex(key[name].get<std::string>()); };
      CK_OBJECT_HANDLE priv = 0;
      ASSERT_EQ(keys().create({attr_ulong(CKA_CLASS, CKO_PRIVATE_KEY), attr_ulong(CKA_KEY_TYPE, CKK_RSA),
                               {CKA_MODULUS, v("modulus")}, {CKA_PUBLIC_EXPONENT, v("publicExponent")},
                               {CKA_PRIVATE_EXPONENT, v("privateExponent")}, {CKA_PRIME_1, v("prime1")},
                               {CKA_PRIME_2, v("prime2")}, {CKA_EXPONENT_1, v("exponent1")},
                               {CKA_EXPONENT_2, v("exponent2")}, {CKA_COEFFICIENT, v("coefficient")},
                               attr_bool(CKA_DECRYPT, true)},
                              &priv),
                CKR_OK);
      for (const auto& t : g["tests"]) {
        SCOPED_TRACE(std::string(file) + " #" + std::to_string(t["tcId"].get<int>()));
        Bytes ct = unhex(t["ct"].get<std::string>());
        ASSERT_EQ(init(false, priv), CKR_OK);
        Bytes out(ct.size());
        CK_ULONG len = out.size();
        const CK_RV rv = p11->C_Decrypt(s, bp(ct), ct.size(), out.data(), &len);
        if (t["result"] == "valid") {
          ASSERT_EQ(rv, CKR_OK);
          out.resize(len);
          EXPECT_EQ(hex(out), t["msg"].get<std::string>());
        } else {
          EXPECT_TRUE(rv == CKR_ENCRYPTED_DATA_INVALID || rv == CKR_ENCRYPTED_DATA_LEN_RANGE) << std::hex << rv;
        }
        ++cases;
      }
    }
  }
  EXPECT_GT(cases, 0u);  // the files were read
}

TEST_F(Rsa, LengthsAndKeyClasses) {
  RsaPtr r = rsa_new(2048);
  const BIGNUM *n, *e, *d;
  RSA_get0_key(r.get(), &n, &e, &d);
  const CK_OBJECT_HANDLE priv = import_private(r.get());
  const CK_OBJECT_HANDLE pub = import_public(bn(n), bn(e));
  const KeyPair ec = keys().ec_pair(unhex("06082a8648ce3d030107"));
  EXPECT_EQ(init(true, priv), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(init(false, pub), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(init(true, ec.pub), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(init(false, ec.priv), CKR_KEY_TYPE_INCONSISTENT);

  // The ciphertext is the modulus long: a buffer as long as the message is
  // too small, and the operation waits for the retry.
  Bytes msg = random_bytes(20);
  Bytes ct(256, 0xEE);
  ASSERT_EQ(init(true, pub), CKR_OK);
  CK_ULONG len = 200;
  EXPECT_EQ(p11->C_Encrypt(s, msg.data(), msg.size(), ct.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 256u);
  EXPECT_EQ(ct[0], 0xEE);
  ASSERT_EQ(p11->C_Encrypt(s, msg.data(), msg.size(), ct.data(), &len), CKR_OK);
  // The decryption needs room for the message only.
  ASSERT_EQ(init(false, priv), CKR_OK);
  Bytes back(20);
  len = 19;
  EXPECT_EQ(p11->C_Decrypt(s, ct.data(), ct.size(), back.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 20u);
  ASSERT_EQ(p11->C_Decrypt(s, ct.data(), ct.size(), back.data(), &len), CKR_OK);
  EXPECT_EQ(hex(back), hex(msg));
}

TEST_F(Rsa, EveryFailingStepEndsTheOperation) {
  const KeyPair kp = keys().rsa_pair(2048);
  Bytes data = random_bytes(300);
  Bytes out(512);
  CK_ULONG len = 0;
  struct Case {
    const char* what;
    bool enc;
    std::function<CK_RV()> step;
    CK_RV want;
  };
  const std::vector<Case> cases = {
      {"message over k - 11", true, [&] { return p11->C_Encrypt(s, data.data(), 246, out.data(), &len); },
       CKR_DATA_LEN_RANGE},
      {"ciphertext not k long", false, [&] { return p11->C_Decrypt(s, data.data(), 255, out.data(), &len); },
       CKR_ENCRYPTED_DATA_LEN_RANGE},
      {"ciphertext that does not unpad", false,
       [&] {
         data[0] = 0;  // below the modulus
         return p11->C_Decrypt(s, data.data(), 256, out.data(), &len);
       },
       CKR_ENCRYPTED_DATA_INVALID},
      {"multi-part", true, [&] { return p11->C_EncryptUpdate(s, data.data(), 10, out.data(), &len); },
       CKR_FUNCTION_NOT_SUPPORTED},
      {"null length", false, [&] { return p11->C_Decrypt(s, data.data(), 256, out.data(), nullptr); },
       CKR_ARGUMENTS_BAD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    len = out.size();
    ASSERT_EQ(init(c.enc, c.enc ? kp.pub : kp.priv), CKR_OK);
    EXPECT_EQ(c.step(), c.want);
    len = out.size();
    EXPECT_EQ(c.enc ? p11->C_Encrypt(s, data.data(), 10, out.data(), &len)
                    : p11->C_Decrypt(s, data.data(), 256, out.data(), &len),
              CKR_OPERATION_NOT_INITIALIZED);
    const Bytes msg = random_bytes(30);
    EXPECT_EQ(hex(run(false, kp.priv, run(true, kp.pub, msg))), hex(msg));
  }
}

}  // namespace
}  // namespace zt
