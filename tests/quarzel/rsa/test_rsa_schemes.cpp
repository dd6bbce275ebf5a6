// Signature and encryption schemes: encodings, error words, X9.31, checking
// variants and the decryption range handling.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>

#include "quarzel/rsa.h"
#include "rsa_test_util.h"

using rt::Bytes;

namespace {

struct Keys {
  rt::Components c;
  rt::PriKey pri{2048};
  rt::PubKey pub{2048};
  Keys() : c(rt::components_of(rt::evp_from_pkcs8(rt::wycheproof_pkcs8("rsa_pkcs1_2048.json")).get(), 2048)) {
    rt::load_prikey(pri, c);
    rt::load_pubkey(pub, c.n, c.e);
  }
};

Bytes sha256(const Bytes& m) { return rt::digest(HASH_TYPE_SHA2_256, m); }

}  // namespace

TEST(RsaMgf, Mgf1MatchesOpenSslHashBlocks) {
  const Bytes seed = zt::ascii("mgf seed");
  Bytes mask(70);
  ASSERT_EQ(0u, rsa_mgf(RSA_MGF_MGF1_SHA2_256, 0, static_cast<uint32_t>(seed.size()), seed.data(), 70, mask.data()));
  Bytes short_blocks(70);
  ASSERT_EQ(0u, rsa_mgf(RSA_MGF_MGF1_SHA2_256, 16, static_cast<uint32_t>(seed.size()), seed.data(), 70,
                        short_blocks.data()));
  Bytes want, want16;
  for (uint32_t c = 0; c < 5; ++c) {
    Bytes in = seed;
    for (int s = 24; s >= 0; s -= 8) in.push_back(static_cast<uint8_t>(c >> s));
    unsigned char md[32];
    unsigned int len = 0;
    ASSERT_EQ(1, EVP_Digest(in.data(), in.size(), md, &len, EVP_sha256(), nullptr));
    want.insert(want.end(), md, md + 32);
    want16.insert(want16.end(), md, md + 16);
  }
  EXPECT_EQ(Bytes(want.begin(), want.begin() + 70), mask);
  EXPECT_EQ(Bytes(want16.begin(), want16.begin() + 70), short_blocks);

  EXPECT_EQ(0x0410FF63u, rsa_mgf(RSA_MGF_MGF1_SHA2_256, 33, 4, seed.data(), 8, mask.data()));
  EXPECT_EQ(0x0410FF6Au, rsa_mgf(static_cast<rsa_mgf_t>(24), 0, 4, seed.data(), 8, mask.data()));

  Bytes shake(100), ref(100);
  ASSERT_EQ(0u, rsa_mgf(RSA_MGF_SHAKE256, 0, static_cast<uint32_t>(seed.size()), seed.data(), 100, shake.data()));
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  ASSERT_EQ(1, EVP_DigestInit_ex(ctx, EVP_shake256(), nullptr));
  ASSERT_EQ(1, EVP_DigestUpdate(ctx, seed.data(), seed.size()));
  ASSERT_EQ(1, EVP_DigestFinalXOF(ctx, ref.data(), ref.size()));
  EVP_MD_CTX_free(ctx);
  EXPECT_EQ(ref, shake);
}

TEST(RsaPkcs1Signature, EncodingAndErrors) {
  const Bytes md = sha256(zt::ascii("abc"));
  Bytes em(128);
  ASSERT_EQ(0u, rsa_emsa_pkcs1_v1_5_encode(1024, HASH_TYPE_SHA2_256, 32, md.data(), em.data()));
  const Bytes want = zt::unhex("0001" + std::string(2 * 74, 'f') + "00" +
                               "3031300d060960864801650304020105000420" + zt::hex(md));
  EXPECT_EQ(want, em);

  const Bytes md64(64, 1), md32(32, 2), md31(31, 3);
  EXPECT_EQ(0x0432FF69u, rsa_emsa_pkcs1_v1_5_encode(512, HASH_TYPE_SHA2_512, 64, md64.data(), em.data()));
  EXPECT_EQ(0x0432FF6Au, rsa_emsa_pkcs1_v1_5_encode(1024, HASH_TYPE_SHAKE128, 32, md32.data(), em.data()));
  EXPECT_EQ(0x0432FF6Au, rsa_emsa_pkcs1_v1_5_encode(1024, HASH_TYPE_KECCAK_256, 32, md32.data(), em.data()));
  EXPECT_EQ(0x0432FF6Bu, rsa_emsa_pkcs1_v1_5_encode(1024, HASH_TYPE_SHA2_256, 31, md31.data(), em.data()));
  EXPECT_NE(0u, rsa_emsa_pkcs1_v1_5_encode(1024, HASH_TYPE_RIPEMD, 20, md32.data(), em.data()));
}

TEST(RsaPkcs1Signature, OutOfRangeSignatureIsNotVerified) {
  Keys k;
  const Bytes md = sha256(zt::ascii("x"));
  uint32_t verdict = 0;
  EXPECT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(k.pub.get(), HASH_TYPE_SHA2_256, 32, md.data(), k.c.n.data(), &verdict));
  EXPECT_EQ(QZ_FALSE, verdict);
  const Bytes ff(256, 0xFF);
  EXPECT_EQ(0u, rsa_rsassa_pkcs1_v1_5_verify(k.pub.get(), HASH_TYPE_SHA2_256, 32, md.data(), ff.data(), &verdict));
  EXPECT_EQ(QZ_FALSE, verdict);
}

// A fault in the CRT computation (here a wrong dp) is caught by the checking
// variants instead of releasing a signature that leaks a factor of n.
TEST(RsaCheckingVariants, CatchAFaultyPrivateKey) {
  Keys k;
  const Bytes md = sha256(zt::ascii("fault"));
  Bytes plain(256), checked(256);
  ASSERT_EQ(0u, rsa_rsassa_pss_sign(k.pri.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(), 0,
                                    nullptr, plain.data()));
  ASSERT_EQ(0u, rsa_rsassa_pss_sign_with_checking(k.pri.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 0, 32,
                                                  md.data(), 0, nullptr, checked.data()));
  EXPECT_EQ(plain, checked);

  k.pri->dp_exponent[127] ^= 0x02;
  EXPECT_EQ(0x043AFF6Eu,
            rsa_rsassa_pkcs1_v1_5_sign_with_checking(k.pri.get(), HASH_TYPE_SHA2_256, 32, md.data(), checked.data()));
  EXPECT_EQ(0x0438FF6Eu, rsa_rsassa_pss_sign_with_checking(k.pri.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256,
                                                           0, 32, md.data(), 0, nullptr, checked.data()));
  Bytes ct(256);
  const Bytes msg = zt::ascii("hello");
  ASSERT_EQ(0u, rsa_rsaes_pkcs1_v1_5_encrypt(k.pub.get(), 5, msg.data(), ct.data()));
  Bytes out(256);
  uint32_t len = 256, valid = 0;
  EXPECT_EQ(0x044BFF6Eu, rsa_rsaes_pkcs1_v1_5_decrypt_with_checking(k.pri.get(), ct.data(), &len, out.data(), &valid));
}

TEST(RsaPss, SaltHandling) {
  Keys k;
  const Bytes md = sha256(zt::ascii("pss"));
  auto sign = [&](uint32_t salt_len, const uint8_t* salt, Bytes& sig) {
    return rsa_rsassa_pss_sign(k.pri.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(), salt_len,
                               salt, sig.data());
  };
  auto verify = [&](uint32_t salt_len, const Bytes& sig) {
    uint32_t verdict = 0;
    EXPECT_EQ(0u, rsa_rsassa_pss_verify(k.pub.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(),
                                        salt_len, nullptr, sig.data(), &verdict));
    return verdict;
  };
  Bytes a(256), b(256);
  ASSERT_EQ(0u, sign(0, nullptr, a));
  ASSERT_EQ(0u, sign(0, nullptr, b));
  EXPECT_EQ(a, b);
  EXPECT_EQ(QZ_TRUE, verify(0, a));
  ASSERT_EQ(0u, sign(32, nullptr, a));
  ASSERT_EQ(0u, sign(32, nullptr, b));
  EXPECT_NE(a, b);
  EXPECT_EQ(QZ_TRUE, verify(32, a));
  EXPECT_EQ(QZ_TRUE, verify(32, b));
  EXPECT_EQ(QZ_FALSE, verify(31, a));
  const Bytes salt(223, 0x11);  // 32 + 223 + 2 > 256
  EXPECT_EQ(0x0430FF6Du, sign(223, salt.data(), a));
  EXPECT_EQ(QZ_FALSE, verify(223, b));
}

TEST(RsaX931, SignVerifyAndRepresentative) {
  Keys k;
  for (const hash_type_t h : {HASH_TYPE_SHA2_256, HASH_TYPE_SHA2_512_256, HASH_TYPE_SHA1}) {
    const Bytes md = rt::digest(h, zt::ascii("x9.31"));
    const uint32_t dl = static_cast<uint32_t>(md.size());
    Bytes sig(256), checked(256);
    ASSERT_EQ(0u, rsa_ansi_x9_31_sign(k.pri.get(), h, dl, md.data(), sig.data()));
    ASSERT_EQ(0u, rsa_ansi_x9_31_sign_with_checking(k.pri.get(), h, dl, md.data(), checked.data()));
    EXPECT_EQ(sig, checked);
    // The signature is at most floor(n / 2).
    Bytes twice = sig;
    int carry = 0;
    for (size_t i = 256; i-- > 0;) {
      const int v = (twice[i] << 1) | carry;
      twice[i] = static_cast<uint8_t>(v);
      carry = v >> 8;
    }
    EXPECT_TRUE(carry == 0 && std::memcmp(twice.data(), k.c.n.data(), 256) < 0);
    // The representative: 6B BB .. BB BA digest id CC, as s^e or n - s^e.
    Bytes rep(256);
    ASSERT_EQ(0u, rsa_rsavp1(k.pub.get(), sig.data(), rep.data()));
    uint32_t verdict = 0;
    ASSERT_EQ(0u, ansi_x9_31_verify(2048, k.c.n.data(), dl, md.data(), rep.data(), &verdict));
    EXPECT_EQ(QZ_TRUE, verdict);
    Bytes em(256);
    ASSERT_EQ(0u, ansi_x9_31_encode(2048, h, dl, md.data(), em.data()));
    EXPECT_EQ(0x6B, em[0]);
    EXPECT_EQ(0xBB, em[1]);
    EXPECT_EQ(0xBA, em[256 - dl - 3]);
    EXPECT_EQ(h == HASH_TYPE_SHA2_512_256 ? 0x40 : h == HASH_TYPE_SHA1 ? 0x33 : 0x34, em[254]);
    EXPECT_EQ(0xCC, em[255]);

    ASSERT_EQ(0u, rsa_ansi_x9_31_verify(k.pub.get(), h, dl, md.data(), sig.data(), &verdict));
    EXPECT_EQ(QZ_TRUE, verdict);
    ASSERT_EQ(0u, rsa_ansi_x9_31_verify(k.pub.get(), HASH_TYPE_UNDEFINED, dl, md.data(), sig.data(), &verdict));
    EXPECT_EQ(QZ_TRUE, verdict);
    Bytes other = md;
    other[0] ^= 1;
    ASSERT_EQ(0u, rsa_ansi_x9_31_verify(k.pub.get(), h, dl, other.data(), sig.data(), &verdict));
    EXPECT_EQ(QZ_FALSE, verdict);
    // n - s is the other root, above floor(n / 2): refused.
    Bytes big(256);
    int borrow = 0;
    for (size_t i = 256; i-- > 0;) {
      const int v = k.c.n[i] - sig[i] - borrow;
      big[i] = static_cast<uint8_t>(v & 0xFF);
      borrow = v < 0;
    }
    ASSERT_EQ(0u, rsa_ansi_x9_31_verify(k.pub.get(), h, dl, md.data(), big.data(), &verdict));
    EXPECT_EQ(QZ_FALSE, verdict);
  }
  const Bytes md(32, 1);
  Bytes sig(256);
  EXPECT_EQ(0x043CFF63u, rsa_ansi_x9_31_sign(k.pri.get(), HASH_TYPE_SHA2_256, 33, md.data(), sig.data()));
  EXPECT_EQ(0x043CFF6Au, rsa_ansi_x9_31_sign(k.pri.get(), HASH_TYPE_SHA3_256, 32, md.data(), sig.data()));
  EXPECT_EQ(0x043CFF6Bu, rsa_ansi_x9_31_sign(k.pri.get(), HASH_TYPE_SHA2_256, 20, md.data(), sig.data()));
}

// X9.31 reads d (signing) or e (verifying) only from a key whose state says
// they are there; other keys are refused, never dereferenced.
TEST(RsaX931, KeysWithoutTheExponentAreRefused) {
  rt::Components m = Keys().c;
  const Bytes md(32, 7);
  Bytes sig(256);
  rsa_prikey_t crt_only{};
  ASSERT_EQ(0u, rsa_prikey_init(&crt_only, RSA_SIZE_2048));
  ASSERT_EQ(0u, rsa_prikey_value_mapping(&crt_only, 256, m.n.data(), 256, m.e.data(), 0, nullptr, 128, m.p.data(),
                                         128, m.q.data(), 128, m.dp.data(), 128, m.dq.data(), 128, m.qinv.data()));
  EXPECT_EQ(0x043CFF09u, rsa_ansi_x9_31_sign(&crt_only, HASH_TYPE_SHA2_256, 32, md.data(), sig.data()));
  rsa_prikey_t blank{};
  EXPECT_EQ(0x043CFF09u, rsa_ansi_x9_31_sign(&blank, HASH_TYPE_SHA2_256, 32, md.data(), sig.data()));
  rsa_pubkey_t blank_pub{};
  ASSERT_EQ(0u, rsa_pubkey_init(&blank_pub, RSA_SIZE_2048));
  uint32_t verdict = 0;
  EXPECT_EQ(0x043DFF09u, rsa_ansi_x9_31_verify(&blank_pub, HASH_TYPE_SHA2_256, 32, md.data(), sig.data(), &verdict));
  EXPECT_EQ(QZ_FALSE, verdict);
}

TEST(RsaOaep, EncodingLimits) {
  const Bytes lhash(32, 0xAB), lhash64(64, 0xCD), msg(63, 0x42);
  Bytes em(128);
  EXPECT_EQ(0u, rsa_eme_oaep_encode(1024, RSA_MGF_MGF1_SHA2_256, 0, 62, msg.data(), 32, lhash.data(), em.data()));
  EXPECT_EQ(0x0440FF66u, rsa_eme_oaep_encode(1024, RSA_MGF_MGF1_SHA2_256, 0, 63, msg.data(), 32, lhash.data(), em.data()));
  EXPECT_EQ(0x0440FF66u, rsa_eme_oaep_encode(1024, RSA_MGF_MGF1_SHA2_512, 0, 0, nullptr, 64, lhash64.data(), em.data()));
  EXPECT_EQ(0x0440FF66u, rsa_eme_oaep_encode(512, RSA_MGF_MGF1_SHA2_256, 0, 0, nullptr, 32, lhash.data(), em.data()));
  EXPECT_EQ(0x0440FF64u, rsa_eme_oaep_encode(1024, RSA_MGF_MGF1_SHA2_256, 0, 1, msg.data(), 16, lhash.data(), em.data()));
}

TEST(RsaOaep, RoundTripAndBadEncodings) {
  Keys k;
  const Bytes lhash = sha256(zt::ascii("")), msg = zt::ascii("oaep message");
  Bytes c1(256), c2(256);
  ASSERT_EQ(0u, rsa_rsaes_oaep_encrypt(k.pub.get(), RSA_MGF_MGF1_SHA2_256, 0, 12, msg.data(), 32, lhash.data(), c1.data()));
  ASSERT_EQ(0u, rsa_rsaes_oaep_encrypt(k.pub.get(), RSA_MGF_MGF1_SHA2_256, 0, 12, msg.data(), 32, lhash.data(), c2.data()));
  EXPECT_NE(c1, c2);
  Bytes out(256);
  uint32_t len = 256, valid = 0;
  ASSERT_EQ(0u, rsa_rsaes_oaep_decrypt(k.pri.get(), RSA_MGF_MGF1_SHA2_256, 0, c2.data(), 32, lhash.data(), &len,
                                       out.data(), &valid));
  EXPECT_EQ(QZ_TRUE, valid);
  EXPECT_EQ(msg, Bytes(out.begin(), out.begin() + len));

  // Hand-made encodings: em = 00 || seed ^ mgf(maskedDB) || DB ^ mgf(seed).
  auto encode = [&](Bytes db, uint8_t first) {
    Bytes em(256, 0), seed(32, 0x5C), mask(223), smask(32);
    EXPECT_EQ(0u, rsa_mgf(RSA_MGF_MGF1_SHA2_256, 0, 32, seed.data(), 223, mask.data()));
    for (int i = 0; i < 223; ++i) em[33 + i] = db[i] ^ mask[i];
    EXPECT_EQ(0u, rsa_mgf(RSA_MGF_MGF1_SHA2_256, 0, 223, em.data() + 33, 32, smask.data()));
    for (int i = 0; i < 32; ++i) em[1 + i] = seed[i] ^ smask[i];
    em[0] = first;
    return em;
  };
  Bytes db(223, 0);
  std::memcpy(db.data(), lhash.data(), 32);
  db[222 - 12] = 0x01;
  std::memcpy(db.data() + 223 - 12, msg.data(), 12);
  auto decode = [&](const Bytes& em, const Bytes& lh) {
    uint32_t l = 256, v = 0;
    Bytes o(256);
    EXPECT_EQ(0u, rsa_eme_oaep_decode(2048, RSA_MGF_MGF1_SHA2_256, 0, em.data(), 32, lh.data(), &l, o.data(), &v));
    if (v != QZ_TRUE) {
      EXPECT_EQ(0u, l);
    }
    return v;
  };
  EXPECT_EQ(QZ_TRUE, decode(encode(db, 0x00), lhash));
  EXPECT_EQ(QZ_FALSE, decode(encode(db, 0x01), lhash));
  EXPECT_EQ(QZ_FALSE, decode(encode(db, 0x00), sha256(zt::ascii("other label"))));
  Bytes stray = db;
  stray[100] = 0x02;  // non-zero byte before the separator
  EXPECT_EQ(QZ_FALSE, decode(encode(stray, 0x00), lhash));
  Bytes none = db;
  none[222 - 12] = 0x00;
  std::fill(none.begin() + 211, none.end(), 0x00);  // no separator at all
  EXPECT_EQ(QZ_FALSE, decode(encode(none, 0x00), lhash));
}

TEST(RsaPkcs1Encryption, LimitsAndPadding) {
  Keys k;
  const Bytes m245(245, 0x33), m246(246, 0x33);
  Bytes ct(256), em(256);
  EXPECT_EQ(0u, rsa_rsaes_pkcs1_v1_5_encrypt(k.pub.get(), 245, m245.data(), ct.data()));
  EXPECT_EQ(0x0442FF66u, rsa_rsaes_pkcs1_v1_5_encrypt(k.pub.get(), 246, m246.data(), ct.data()));
  ASSERT_EQ(0u, rsa_eme_pkcs1_v1_5_encode(2048, 0, nullptr, em.data()));
  EXPECT_EQ(0x00, em[0]);
  EXPECT_EQ(0x02, em[1]);
  for (int i = 2; i < 255; ++i) EXPECT_NE(0, em[i]) << i;
  EXPECT_EQ(0x00, em[255]);

  ASSERT_EQ(0u, rsa_rsaes_pkcs1_v1_5_encrypt(k.pub.get(), 3, m245.data(), ct.data()));
  Bytes out(256);
  uint32_t len = 244, valid = 0;
  EXPECT_EQ(0x0443FF06u, rsa_rsaes_pkcs1_v1_5_decrypt(k.pri.get(), ct.data(), &len, out.data(), &valid));
  EXPECT_EQ(245u, len);

  auto decode = [&](const Bytes& e) {
    uint32_t l = 256, v = 0;
    Bytes o(256);
    EXPECT_EQ(0u, rsa_eme_pkcs1_v1_5_decode(2048, e.data(), &l, o.data(), &v));
    EXPECT_EQ(v == QZ_TRUE ? 256u - 11u : 0u, l);
    return v;
  };
  Bytes e(256, 0x77);
  e[0] = 0x00;
  e[1] = 0x02;
  e[10] = 0x00;
  EXPECT_EQ(QZ_TRUE, decode(e));
  e[9] = 0x00;  // separator at index 9: only 7 padding bytes
  EXPECT_EQ(QZ_FALSE, decode(e));
  std::fill(e.begin() + 2, e.end(), 0x77);  // no separator
  EXPECT_EQ(QZ_FALSE, decode(e));
}

// A ciphertext outside 1 < c < n - 1 is an invalid ciphertext: length 0,
// invalid word, and the checking variants do not re-encrypt anything.
TEST(RsaDecryption, OutOfRangeCiphertexts) {
  Keys k;
  Bytes nm1 = k.c.n;
  nm1[255] -= 1;  // n is odd
  const Bytes zero(256, 0), one = [] { Bytes b(256, 0); b[255] = 1; return b; }(), ff(256, 0xFF);
  const Bytes& n = k.c.n;
  const Bytes lhash = sha256(zt::ascii(""));
  for (const Bytes* c : {&zero, &one, static_cast<const Bytes*>(&nm1), &n, &ff}) {
    for (int variant = 0; variant < 4; ++variant) {
      Bytes out(256, 0xEE);
      uint32_t len = 256, valid = 0;
      quarzel_ret_t r = 0;
      switch (variant) {
        case 0: r = rsa_rsaes_pkcs1_v1_5_decrypt(k.pri.get(), c->data(), &len, out.data(), &valid); break;
        case 1: r = rsa_rsaes_pkcs1_v1_5_decrypt_with_checking(k.pri.get(), c->data(), &len, out.data(), &valid); break;
        case 2:
          r = rsa_rsaes_oaep_decrypt(k.pri.get(), RSA_MGF_MGF1_SHA2_256, 0, c->data(), 32, lhash.data(), &len,
                                     out.data(), &valid);
          break;
        default:
          r = rsa_rsaes_oaep_decrypt_with_checking(k.pri.get(), RSA_MGF_MGF1_SHA2_256, 0, c->data(), 32,
                                                   lhash.data(), &len, out.data(), &valid);
      }
      EXPECT_EQ(0u, r) << variant;
      EXPECT_EQ(QZ_FALSE, valid) << variant;
      EXPECT_EQ(0u, len) << variant;
      EXPECT_EQ(Bytes(256, 0xEE), out) << variant;
    }
  }
}

// PSS fills 8k - 1 bits: a modulus shorter than its 8k-bit field is refused.
TEST(RsaPss, ModulusWithoutTopBitIsRefused) {
  rt::Evp evp = rt::openssl_keygen(1016);
  const rt::Components c = rt::components_of(evp.get(), 1024);  // right-aligned in 1024-bit fields
  ASSERT_EQ(0x00, c.n[0]);
  rt::PriKey pri(1024);
  rt::load_prikey(pri, c);
  const Bytes md = sha256(zt::ascii("short modulus"));
  Bytes sig(128);
  EXPECT_EQ(0x0438FF5Bu, rsa_rsassa_pss_sign(pri.get(), HASH_TYPE_SHA2_256, RSA_MGF_MGF1_SHA2_256, 0, 32, md.data(),
                                             0, nullptr, sig.data()));
}
