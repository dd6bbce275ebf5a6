// Keys the module generates and keys it imports, used through the loaded
// module's key generation and cipher entry points.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class Keygen : public ObjectTest {
 protected:
  CK_RV pair(Tmpl& pub, Tmpl& priv, CK_MECHANISM_TYPE mech, CK_OBJECT_HANDLE* hpub, CK_OBJECT_HANDLE* hpriv) {
    CK_MECHANISM m{mech, nullptr, 0};
    return p11->C_GenerateKeyPair(s, &m, pub.attrs(), pub.count(), priv.attrs(), priv.count(), hpub, hpriv);
  }
  // Skips the test where the module has no key generation yet.
  bool generation_missing() {
    CK_MECHANISM m{CKM_AES_KEY_GEN, nullptr, 0};
    CK_OBJECT_HANDLE h = 0;
    return p11->C_GenerateKey(s, &m, nullptr, 0, &h) == CKR_FUNCTION_NOT_SUPPORTED;
  }
  size_t object_count() {
    Tmpl none;
    return find(none).size();
  }
};

TEST_F(Keygen, EcPairsOnEveryCurveOfTheTable) {
  if (generation_missing()) GTEST_SKIP() << "no C_GenerateKeyPair in this module";
  struct Curve {
    int nid;
    bool works;
  } curves[] = {{NID_X9_62_prime256v1, true}, {NID_secp384r1, true},        {NID_secp521r1, true},
                {NID_secp256k1, true},        {NID_brainpoolP256r1, true},  {NID_brainpoolP384r1, true},
                {NID_brainpoolP512r1, true},  {NID_secp192k1, false},       {NID_secp224k1, false}};
  for (const auto& c : curves) {
    SCOPED_TRACE(OBJ_nid2sn(c.nid));
    Tmpl pub, priv;
    pub.bytes(CKA_EC_PARAMS, curve_oid(c.nid)).text(CKA_ID, "k").text(CKA_LABEL, "pair").flag(CKA_TOKEN, true);
    pub.flag(CKA_VERIFY, true);
    priv.flag(CKA_TOKEN, true).flag(CKA_SIGN, true).flag(CKA_DERIVE, false);
    CK_OBJECT_HANDLE hpub = 0, hpriv = 0;
    const size_t before = object_count();
    const CK_RV rv = pair(pub, priv, CKM_EC_KEY_PAIR_GEN, &hpub, &hpriv);
    if (!c.works) {
      EXPECT_NE(rv, CKR_OK);  // the curves without arithmetic fail cleanly
      EXPECT_EQ(object_count(), before);
      continue;
    }
    ASSERT_EQ(rv, CKR_OK);
    EXPECT_EQ(attr(hpub, CKA_EC_PARAMS), curve_oid(c.nid));
    EXPECT_EQ(attr(hpriv, CKA_EC_PARAMS), curve_oid(c.nid));
    EXPECT_EQ(attr_bool(hpriv, CKA_DERIVE), 0);
    EXPECT_EQ(attr_bool(hpriv, CKA_SIGN), 1);
    EXPECT_EQ(attr(hpub, CKA_ID), b("k"));
    EXPECT_EQ(attr(hpriv, CKA_LABEL), b("pair"));
    const Bytes point = attr(hpub, CKA_EC_POINT);
    const uint8_t* p = point.data();
    ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(point.size()));
    ASSERT_NE(os, nullptr);
    EC_GROUP* g = EC_GROUP_new_by_curve_name(c.nid);
    EC_POINT* pt = EC_POINT_new(g);
    EXPECT_EQ(EC_POINT_oct2point(g, pt, ASN1_STRING_get0_data(os), ASN1_STRING_length(os), nullptr), 1);
    EXPECT_EQ(EC_POINT_is_on_curve(g, pt, nullptr), 1);
    EC_POINT_free(pt);
    EC_GROUP_free(g);
    ASN1_OCTET_STRING_free(os);
    CK_RV vrv = CKR_OK;
    attr(hpriv, CKA_VALUE, &vrv);
    EXPECT_EQ(vrv, CKR_ATTRIBUTE_SENSITIVE);
  }
}

TEST_F(Keygen, RsaPairsOfEachSizeAcceptTheExponentTheyGet) {
  if (generation_missing()) GTEST_SKIP() << "no C_GenerateKeyPair in this module";
  for (CK_ULONG bits : {1024ul, 2048ul, 3072ul, 4096ul}) {
    Tmpl pub, priv;
    pub.ulong(CKA_MODULUS_BITS, bits).bytes(CKA_PUBLIC_EXPONENT, Bytes{1, 0, 1}).flag(CKA_TOKEN, bits == 2048);
    priv.flag(CKA_SIGN, false);
    CK_OBJECT_HANDLE hpub = 0, hpriv = 0;
    ASSERT_EQ(pair(pub, priv, CKM_RSA_PKCS_KEY_PAIR_GEN, &hpub, &hpriv), CKR_OK) << bits;
    const Bytes n = attr(hpub, CKA_MODULUS);
    BIGNUM* bn = BN_bin2bn(n.data(), static_cast<int>(n.size()), nullptr);
    EXPECT_EQ(static_cast<CK_ULONG>(BN_num_bits(bn)), bits);
    BN_free(bn);
    EXPECT_EQ(attr(hpub, CKA_PUBLIC_EXPONENT), (Bytes{1, 0, 1}));
    EXPECT_EQ(attr(hpriv, CKA_MODULUS), n);
    EXPECT_EQ(attr_ulong(hpub, CKA_MODULUS_BITS), bits);
    EXPECT_EQ(attr_bool(hpriv, CKA_SIGN), 0);
    EXPECT_EQ(attr_bool(hpriv, CKA_DECRYPT), 1);
  }
  Tmpl pub, priv;
  pub.ulong(CKA_MODULUS_BITS, 2048).bytes(CKA_PUBLIC_EXPONENT, Bytes{3});
  CK_OBJECT_HANDLE hpub = 0, hpriv = 0;
  const size_t before = object_count();
  EXPECT_EQ(pair(pub, priv, CKM_RSA_PKCS_KEY_PAIR_GEN, &hpub, &hpriv), CKR_TEMPLATE_INCONSISTENT);
  EXPECT_EQ(object_count(), before);
}

TEST_F(Keygen, AesKeysAndANullHandleStoreNothing) {
  if (generation_missing()) GTEST_SKIP() << "no C_GenerateKey in this module";
  const size_t before = object_count();
  CK_MECHANISM m{CKM_AES_KEY_GEN, nullptr, 0};
  for (CK_ULONG len : {16ul, 24ul, 32ul}) {
    Tmpl t;
    t.ulong(CKA_VALUE_LEN, len).flag(CKA_TOKEN, true).flag(CKA_WRAP, false);
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(p11->C_GenerateKey(s, &m, t.attrs(), t.count(), &h), CKR_OK);
    EXPECT_EQ(attr_ulong(h, CKA_VALUE_LEN), len);
    EXPECT_EQ(attr_bool(h, CKA_WRAP), 0);
    EXPECT_EQ(attr_bool(h, CKA_ENCRYPT), 1);
    CK_RV rv = CKR_OK;
    attr(h, CKA_VALUE, &rv);
    EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
  }
  Tmpl t;
  t.ulong(CKA_VALUE_LEN, 32).flag(CKA_TOKEN, true);
  EXPECT_NE(p11->C_GenerateKey(s, &m, t.attrs(), t.count(), nullptr), CKR_OK);
  Tmpl bad_len;
  bad_len.ulong(CKA_VALUE_LEN, 20);
  CK_OBJECT_HANDLE h = 0;
  EXPECT_NE(p11->C_GenerateKey(s, &m, bad_len.attrs(), bad_len.count(), &h), CKR_OK);
  EXPECT_EQ(object_count(), before + 3);
}

TEST_F(Keygen, AHalfMadeSessionPairLeavesNothingBehind) {
  if (generation_missing()) GTEST_SKIP() << "no C_GenerateKeyPair in this module";
  // 127 session objects take 254 of the session's 256 object slots (each
  // keeps its extension word in a slot of its own): the private key of the
  // pair fits, its public key does not.
  for (int i = 0; i < 127; ++i) {
    Tmpl t = data_object("fill", b("v"));
    made(t);
  }
  Tmpl pub, priv;
  pub.bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1));
  CK_OBJECT_HANDLE hpub = 7, hpriv = 7;
  EXPECT_NE(pair(pub, priv, CKM_EC_KEY_PAIR_GEN, &hpub, &hpriv), CKR_OK);
  Tmpl session;
  session.flag(CKA_TOKEN, false);
  EXPECT_EQ(find(session).size(), 127u);
  Tmpl keys;
  keys.ulong(CKA_CLASS, CKO_PRIVATE_KEY);
  EXPECT_TRUE(find(keys).empty());
}

// FIPS-197 appendix C.1: the imported key must be the key the cipher uses.
TEST_F(Keygen, ImportedAesKeyEncryptsTheFips197Vector) {
  Bytes key(16), plain(16);
  for (int i = 0; i < 16; ++i) {
    key[i] = static_cast<uint8_t>(i);
    plain[i] = static_cast<uint8_t>(i * 0x11);
  }
  const Bytes expected = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                          0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
  for (bool token : {true, false}) {
    Tmpl t = aes_object(key, token, true);
    const CK_OBJECT_HANDLE h = made(t);
    CK_MECHANISM m{CKM_AES_ECB, nullptr, 0};
    const CK_RV init = p11->C_EncryptInit(s, &m, h);
    if (init == CKR_FUNCTION_NOT_SUPPORTED) GTEST_SKIP() << "no C_EncryptInit in this module";
    ASSERT_EQ(init, CKR_OK);
    Bytes out(16);
    CK_ULONG n = out.size();
    ASSERT_EQ(p11->C_Encrypt(s, plain.data(), plain.size(), out.data(), &n), CKR_OK);
    EXPECT_EQ(out, expected) << (token ? "token" : "session");
  }
}

}  // namespace
}  // namespace zt

namespace zt {
namespace {

// Processes generating token key pairs through the module, killed at
// whatever point each has reached: a fresh process then finds every
// private key with its public key, and nothing else.
class KeygenKilled : public P11Test {};

TEST_F(KeygenKilled, NoHalfPairAfterAKill) {
  add_token();
  const int kills = 40;
  std::mt19937 rng(2026);
  for (int k = 0; k < kills; ++k) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(done[0]);
      if (p11->C_Initialize(nullptr) != CKR_OK) _exit(2);
      CK_SESSION_HANDLE s = 0;
      if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK) _exit(3);
      if (p11->C_Login(s, CKU_USER, p11_bytes(kP11UserPin), sizeof kP11UserPin - 1) != CKR_OK) _exit(4);
      for (int n = 0;; ++n) {
        Tmpl pub, priv;
        const std::string id = "p" + std::to_string(k) + "-" + std::to_string(n);
        pub.bytes(CKA_EC_PARAMS, curve_oid(NID_X9_62_prime256v1)).flag(CKA_TOKEN, true).text(CKA_ID, id);
        priv.flag(CKA_TOKEN, true);
        CK_MECHANISM m{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_HANDLE hp = 0, hv = 0;
        if (p11->C_GenerateKeyPair(s, &m, pub.attrs(), pub.count(), priv.attrs(), priv.count(), &hp, &hv) != CKR_OK) {
          _exit(5);
        }
        const char one = 1;
        if (write(done[1], &one, 1) != 1) _exit(6);
      }
    }
    close(done[1]);
    // Killed once it has made a pair, somewhere in the next one (a random
    // delay spreads the kills over the steps of a generation).
    char c = 0;
    ASSERT_EQ(read(done[0], &c, 1), 1);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 4000)(rng)));
    kill(pid, SIGKILL);
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(st)) << WEXITSTATUS(st);
    close(done[0]);
  }
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s), CKR_OK);
  std::map<std::string, int> by_id;  // +1 per private key, +100 per public key
  for (CK_OBJECT_CLASS cls : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
    CK_ATTRIBUTE t{CKA_CLASS, &cls, sizeof cls};
    ASSERT_EQ(p11->C_FindObjectsInit(s, &t, 1), CKR_OK);
    CK_OBJECT_HANDLE h[64];
    CK_ULONG n = 0;
    ASSERT_EQ(p11->C_FindObjects(s, h, 64, &n), CKR_OK);
    ASSERT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
    for (CK_ULONG i = 0; i < n; ++i) {
      char id[16] = {};
      CK_ATTRIBUTE a{CKA_ID, id, sizeof id};
      ASSERT_EQ(p11->C_GetAttributeValue(s, h[i], &a, 1), CKR_OK);
      by_id[std::string(id, a.ulValueLen)] += cls == CKO_PRIVATE_KEY ? 1 : 100;
    }
  }
  EXPECT_GE(by_id.size(), static_cast<size_t>(kills));
  for (const auto& [id, mark] : by_id) EXPECT_EQ(mark, 101) << id;
}

}  // namespace
}  // namespace zt
