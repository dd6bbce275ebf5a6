// ECDSA through the module on every curve: signatures the module makes are
// verified by OpenSSL and OpenSSL's by the module, in one call and in parts;
// Wycheproof's P1363 cases through C_Verify; the length convention and the
// refusals.
#include <functional>

#include "crypto_fixture.h"
#include "keys.h"
#include "ossl_ec.h"
#include "support/vectors.h"

namespace zt {
namespace {

struct HashCase {
  CK_MECHANISM_TYPE mech;
  const char* openssl;  // null: CKM_ECDSA over a caller's digest
};
const HashCase kHashes[] = {{CKM_ECDSA, nullptr},         {CKM_ECDSA_SHA1, "SHA1"},     {CKM_ECDSA_SHA224, "SHA224"},
                            {CKM_ECDSA_SHA256, "SHA256"}, {CKM_ECDSA_SHA384, "SHA384"}, {CKM_ECDSA_SHA512, "SHA512"}};

class Ecdsa : public CryptoTest {
 protected:
  CK_RV sign_init(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k) {
    CK_MECHANISM mech{m, nullptr, 0};
    return p11->C_SignInit(s, &mech, k);
  }
  CK_RV verify_init(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k) {
    CK_MECHANISM mech{m, nullptr, 0};
    return p11->C_VerifyInit(s, &mech, k);
  }
  Bytes sign(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k, Bytes data, size_t expect_len) {
    EXPECT_EQ(sign_init(m, k), CKR_OK);
    CK_ULONG len = 0;
    EXPECT_EQ(p11->C_Sign(s, bp(data), data.size(), nullptr, &len), CKR_OK);
    EXPECT_EQ(len, expect_len);
    Bytes sig(len);
    EXPECT_EQ(p11->C_Sign(s, bp(data), data.size(), sig.data(), &len), CKR_OK);
    sig.resize(len);
    return sig;
  }
  Bytes sign_parts(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k, Bytes data) {
    EXPECT_EQ(sign_init(m, k), CKR_OK);
    size_t at = 0;
    for (size_t cut : random_splits(data.size(), 3)) {
      EXPECT_EQ(p11->C_SignUpdate(s, data.data() + at, cut - at), CKR_OK);
      at = cut;
    }
    CK_ULONG len = 0;
    EXPECT_EQ(p11->C_SignFinal(s, nullptr, &len), CKR_OK);
    Bytes sig(len);
    EXPECT_EQ(p11->C_SignFinal(s, sig.data(), &len), CKR_OK);
    sig.resize(len);
    return sig;
  }
  CK_RV verify(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k, Bytes data, Bytes sig) {
    EXPECT_EQ(verify_init(m, k), CKR_OK);
    return p11->C_Verify(s, bp(data), data.size(), bp(sig), sig.size());
  }
  CK_RV verify_parts(CK_MECHANISM_TYPE m, CK_OBJECT_HANDLE k, Bytes data, Bytes sig) {
    EXPECT_EQ(verify_init(m, k), CKR_OK);
    size_t at = 0;
    for (size_t cut : random_splits(data.size(), 3)) {
      EXPECT_EQ(p11->C_VerifyUpdate(s, data.data() + at, cut - at), CKR_OK);
      at = cut;
    }
    return p11->C_VerifyFinal(s, bp(sig), sig.size());
  }
  Keys keys() { return Keys(p11, s); }
  uint8_t sig_part[4] = {1, 2, 3, 4};
};

TEST_F(Ecdsa, ModuleSignaturesVerifyInOpenSslAndBackOnEveryCurve) {
  for (const EcCurveCase& c : ec_curves()) {
    SCOPED_TRACE(c.name);
    const Bytes oid = unhex(c.oid_hex);
    // Generated as session objects (no CKA_TOKEN given for one of them).
    KeyPair k = keys().ec_pair(oid);
    const Bytes point = der_content(keys().attribute(k.pub, CKA_EC_POINT));
    EcKeyPtr ossl = ec_new_key(c.nid);
    const CK_OBJECT_HANDLE ossl_pub = keys().ec_public(oid, ec_point(ossl.get()));
    for (const HashCase& h : kHashes) {
      SCOPED_TRACE(h.mech);
      const Bytes msg = h.openssl ? random_bytes(777) : random_bytes(c.order_len);
      const Bytes digest = h.openssl ? openssl_digest(h.openssl, msg) : msg;
      const Bytes sig = sign(h.mech, k.priv, msg, 2 * c.order_len);
      EXPECT_TRUE(ec_verify(c.nid, point, digest, sig, c.order_len));
      EXPECT_EQ(verify(h.mech, k.pub, msg, sig), CKR_OK);
      Bytes bad = sig;
      bad[bad.size() / 3] ^= 0x40;
      EXPECT_EQ(verify(h.mech, k.pub, msg, bad), CKR_SIGNATURE_INVALID);
      // OpenSSL's signature, verified by the module with an imported key.
      const Bytes theirs = ec_sign(ossl.get(), digest, c.order_len);
      EXPECT_EQ(verify(h.mech, ossl_pub, msg, theirs), CKR_OK);
      if (h.openssl == nullptr) continue;
      const Bytes parts = sign_parts(h.mech, k.priv, msg);
      EXPECT_TRUE(ec_verify(c.nid, point, digest, parts, c.order_len));
      EXPECT_EQ(verify_parts(h.mech, k.pub, msg, parts), CKR_OK);
      EXPECT_EQ(verify_parts(h.mech, ossl_pub, msg, theirs), CKR_OK);
      EXPECT_EQ(verify_parts(h.mech, ossl_pub, msg, bad), CKR_SIGNATURE_INVALID);
    }
  }
}

TEST_F(Ecdsa, ImportedAndTokenKeysSign) {
  const EcCurveCase& c = ec_curves()[0];
  const Bytes oid = unhex(c.oid_hex);
  EcKeyPtr ossl = ec_new_key(c.nid);
  const CK_OBJECT_HANDLE priv = keys().ec_private(oid, ec_private_value(ossl.get(), c.order_len));
  const Bytes msg = random_bytes(100);
  Bytes sig = sign(CKM_ECDSA_SHA256, priv, msg, 64);
  EXPECT_TRUE(ec_verify(c.nid, ec_point(ossl.get()), openssl_digest("SHA256", msg), sig, 32));
  KeyPair token = keys().ec_pair(oid, true);
  sig = sign(CKM_ECDSA_SHA256, token.priv, msg, 64);
  EXPECT_EQ(verify(CKM_ECDSA_SHA256, token.pub, msg, sig), CKR_OK);
}

TEST_F(Ecdsa, WycheproofP1363ThroughCVerify) {
  const std::pair<const char*, CK_MECHANISM_TYPE> files[] = {
      {"ecdsa_secp256r1_sha256_p1363.json", CKM_ECDSA_SHA256},
      {"ecdsa_secp384r1_sha384_p1363.json", CKM_ECDSA_SHA384},
      {"ecdsa_secp521r1_sha512_p1363.json", CKM_ECDSA_SHA512},
  };
  const char* oids[] = {"06082a8648ce3d030107", "06052b81040022", "06052b81040023"};
  size_t i = 0;
  size_t cases = 0;
  for (const auto& [file, mech] : files) {
    const Bytes oid = unhex(oids[i++]);
    const auto vectors = load_vectors(file);
    for (const auto& g : vectors["testGroups"]) {
      const CK_OBJECT_HANDLE pub = keys().ec_public(oid, unhex(g["publicKey"]["uncompressed"].get<std::string>()));
      for (const auto& t : g["tests"]) {
        SCOPED_TRACE(std::string(file) + " #" + std::to_string(t["tcId"].get<int>()));
        const std::string result = t["result"];
        const CK_RV rv = verify(mech, pub, unhex(t["msg"].get<std::string>()), unhex(t["sig"].get<std::string>()));
        if (result == "valid") {
          EXPECT_EQ(rv, CKR_OK);
        } else if (result == "invalid") {
          EXPECT_TRUE(rv == CKR_SIGNATURE_INVALID || rv == CKR_SIGNATURE_LEN_RANGE) << std::hex << rv;
        }
        ++cases;
      }
      EXPECT_EQ(p11->C_DestroyObject(s, pub), CKR_OK);
    }
  }
  EXPECT_GT(cases, 0u);  // the files were read
}

TEST_F(Ecdsa, LengthConventionAndP521Form) {
  KeyPair k = keys().ec_pair(unhex("06052b81040023"));
  const Bytes msg = random_bytes(40);
  ASSERT_EQ(sign_init(CKM_ECDSA_SHA512, k.priv), CKR_OK);
  Bytes sig(200);
  CK_ULONG len = 131;
  EXPECT_EQ(p11->C_Sign(s, bp(const_cast<Bytes&>(msg)), msg.size(), sig.data(), &len), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 132u);
  len = sig.size();  // more room than needed: the length written is the signature's
  ASSERT_EQ(p11->C_Sign(s, bp(const_cast<Bytes&>(msg)), msg.size(), sig.data(), &len), CKR_OK);
  EXPECT_EQ(len, 132u);
  sig.resize(len);
  EXPECT_EQ(verify(CKM_ECDSA_SHA512, k.pub, msg, sig), CKR_OK);
  sig.push_back(0);
  EXPECT_EQ(verify(CKM_ECDSA_SHA512, k.pub, msg, sig), CKR_SIGNATURE_LEN_RANGE);
}

TEST_F(Ecdsa, RefusedInits) {
  const Bytes oid = unhex("06082a8648ce3d030107");
  KeyPair k = keys().ec_pair(oid);
  KeyPair no_sign = keys().ec_pair(oid, false, {attr_bool(CKA_VERIFY, false)}, {attr_bool(CKA_SIGN, false)});
  const CK_OBJECT_HANDLE aes = keys().aes(random_bytes(32));
  EXPECT_EQ(sign_init(CKM_RSA_PKCS, k.priv), CKR_MECHANISM_INVALID);
  EXPECT_EQ(sign_init(CKM_ECDSA_SHA3_256, k.priv), CKR_MECHANISM_INVALID);
  EXPECT_EQ(sign_init(0x1047, k.priv), CKR_MECHANISM_INVALID);
  EXPECT_EQ(verify_init(CKM_SHA256, k.pub), CKR_MECHANISM_INVALID);
  EXPECT_EQ(sign_init(CKM_ECDSA, k.pub), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(verify_init(CKM_ECDSA, k.priv), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(sign_init(CKM_ECDSA, aes), CKR_KEY_TYPE_INCONSISTENT);
  EXPECT_EQ(sign_init(CKM_ECDSA, 0x7ffffff0), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(sign_init(CKM_ECDSA, 0x80000123), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(sign_init(CKM_ECDSA, no_sign.priv), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(verify_init(CKM_ECDSA, no_sign.pub), CKR_KEY_FUNCTION_NOT_PERMITTED);
  EXPECT_EQ(p11->C_SignInit(s, nullptr, k.priv), CKR_ARGUMENTS_BAD);
  // One operation at a time; the running one goes on.
  ASSERT_EQ(sign_init(CKM_ECDSA_SHA256, k.priv), CKR_OK);
  EXPECT_EQ(verify_init(CKM_ECDSA_SHA256, k.pub), CKR_OPERATION_ACTIVE);
  EXPECT_EQ(p11->C_VerifyUpdate(s, sig_part, 4), CKR_OPERATION_NOT_INITIALIZED);  // not a verification
  ASSERT_EQ(p11->C_SignUpdate(s, sig_part, 4), CKR_OK);
  CK_ULONG len = 64;
  Bytes sig(64);
  ASSERT_EQ(p11->C_SignFinal(s, sig.data(), &len), CKR_OK);
  EXPECT_EQ(verify(CKM_ECDSA_SHA256, k.pub, Bytes(sig_part, sig_part + 4), sig), CKR_OK);
}

// Every failing step ends the operation in the module and in the core: the
// next step is refused as uninitialised and a fresh Init works at once.
TEST_F(Ecdsa, EveryFailingStepEndsTheOperation) {
  KeyPair k = keys().ec_pair(unhex("06082a8648ce3d030107"));
  Bytes big = random_bytes(513);
  Bytes sig(64);
  CK_ULONG len = 64;
  struct Case {
    const char* what;
    CK_MECHANISM_TYPE mech;
    bool sign;
    std::function<CK_RV()> step;
    CK_RV want;
  };
  const std::vector<Case> cases = {
      {"raw data over the digest buffer", CKM_ECDSA, true,
       [&] { return p11->C_Sign(s, big.data(), big.size(), sig.data(), &len); }, CKR_DATA_LEN_RANGE},
      {"raw update", CKM_ECDSA, true, [&] { return p11->C_SignUpdate(s, big.data(), 10); },
       CKR_FUNCTION_NOT_SUPPORTED},
      {"raw final", CKM_ECDSA, true, [&] { return p11->C_SignFinal(s, sig.data(), &len); },
       CKR_FUNCTION_NOT_SUPPORTED},
      {"null signature length", CKM_ECDSA_SHA256, true,
       [&] { return p11->C_Sign(s, big.data(), 5, sig.data(), nullptr); }, CKR_ARGUMENTS_BAD},
      {"null part", CKM_ECDSA_SHA256, true, [&] { return p11->C_SignUpdate(s, nullptr, 5); }, CKR_ARGUMENTS_BAD},
      {"sign after update", CKM_ECDSA_SHA256, true,
       [&] {
         EXPECT_EQ(p11->C_SignUpdate(s, big.data(), 5), CKR_OK);
         return p11->C_Sign(s, big.data(), 5, sig.data(), &len);
       },
       CKR_OPERATION_ACTIVE},
      {"bad signature", CKM_ECDSA_SHA256, false, [&] { return p11->C_Verify(s, big.data(), 5, sig.data(), 64); },
       CKR_SIGNATURE_INVALID},
      {"short signature", CKM_ECDSA_SHA256, false, [&] { return p11->C_Verify(s, big.data(), 5, sig.data(), 63); },
       CKR_SIGNATURE_LEN_RANGE},
      {"null verify signature", CKM_ECDSA_SHA256, false,
       [&] { return p11->C_VerifyFinal(s, nullptr, 64); }, CKR_ARGUMENTS_BAD},
      {"bad final signature", CKM_ECDSA_SHA384, false,
       [&] {
         EXPECT_EQ(p11->C_VerifyUpdate(s, big.data(), 5), CKR_OK);
         return p11->C_VerifyFinal(s, sig.data(), 64);
       },
       CKR_SIGNATURE_INVALID},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    len = 64;
    ASSERT_EQ(c.sign ? sign_init(c.mech, k.priv) : verify_init(c.mech, k.pub), CKR_OK);
    EXPECT_EQ(c.step(), c.want);
    EXPECT_EQ(p11->C_SignFinal(s, sig.data(), &len), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(p11->C_VerifyFinal(s, sig.data(), 64), CKR_OPERATION_NOT_INITIALIZED);
    const Bytes msg = random_bytes(20);
    const Bytes fresh = sign(CKM_ECDSA_SHA256, k.priv, msg, 64);
    EXPECT_EQ(verify(CKM_ECDSA_SHA256, k.pub, msg, fresh), CKR_OK);
  }
}

}  // namespace
}  // namespace zt
