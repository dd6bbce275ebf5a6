// ECDH: Wycheproof shared secrets and invalid points (SubjectPublicKeyInfo and
// raw point encodings), the unified-model schemes and the output rules.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ec_test_util.h"
#include "support/vectors.h"

namespace {

using ect::Bytes;

// DER of the named-curve OIDs.
const std::map<ecc_crv_t, std::string> kCurveOid = {
    {ECC_CRV_NIST_P224, "2b81040021"},         {ECC_CRV_NIST_P256, "2a8648ce3d030107"},
    {ECC_CRV_NIST_P384, "2b81040022"},         {ECC_CRV_NIST_P521, "2b81040023"},
    {ECC_CRV_SECP256K1, "2b8104000a"},         {ECC_CRV_BP256R1, "2b2403030208010107"},
    {ECC_CRV_BP384R1, "2b240303020801010b"},   {ECC_CRV_BP512R1, "2b240303020801010d"},
};

// Uncompressed point 04 || x || y with coordinates of the standard length.
bool parse_point(const Bytes& p, const ect::CurveCase& c, Bytes* x, Bytes* y) {
  if (p.size() != 1 + 2 * c.field_bytes || p[0] != 0x04) return false;
  const auto mid = p.begin() + 1 + c.field_bytes;
  return ect::fit(Bytes(p.begin() + 1, mid), c.L, x) && ect::fit(Bytes(mid, p.end()), c.L, y);
}

// Strict DER SubjectPublicKeyInfo of an id-ecPublicKey with this named curve.
bool parse_spki(const Bytes& der, const ect::CurveCase& c, Bytes* x, Bytes* y) {
  size_t pos = 0;
  auto header = [&](uint8_t tag, size_t* len) {
    if (pos + 2 > der.size() || der[pos] != tag) return false;
    ++pos;
    const uint8_t b = der[pos++];
    if (b < 0x80) {
      *len = b;
    } else if (b == 0x81 && pos < der.size() && der[pos] >= 0x80) {
      *len = der[pos++];
    } else {
      return false;
    }
    return *len <= der.size() - pos;
  };
  auto expect = [&](const std::string& hex) {
    const Bytes want = zt::unhex(hex);
    if (der.size() - pos < want.size() || !std::equal(want.begin(), want.end(), der.begin() + static_cast<long>(pos)))
      return false;
    pos += want.size();
    return true;
  };
  size_t len = 0, alg_len = 0, oid_len = 0, bits_len = 0;
  if (!header(0x30, &len) || len != der.size() - pos) return false;
  if (!header(0x30, &alg_len)) return false;
  const size_t alg_end = pos + alg_len;
  if (!expect("06072a8648ce3d0201")) return false;
  const std::string& oid = kCurveOid.at(c.id);
  if (!header(0x06, &oid_len) || oid_len * 2 != oid.size() || !expect(oid) || pos != alg_end) return false;
  if (!header(0x03, &bits_len) || pos + bits_len != der.size() || bits_len < 1 || der[pos] != 0) return false;
  ++pos;
  return parse_point(Bytes(der.begin() + static_cast<long>(pos), der.end()), c, x, y);
}

void run_ecdh_file(const std::string& file, bool spki) {
  const auto doc = zt::load_vectors(file);
  int valid_ok = 0, invalid_ok = 0;
  for (const auto& group : doc["testGroups"]) {
    const auto* c = ect::curve_by_name(group["curve"]);
    ASSERT_NE(c, nullptr) << file;
    for (const auto& t : group["tests"]) {
      const std::string result = t["result"];
      const Bytes pub_enc = zt::unhex(t["public"].get<std::string>());
      Bytes x, y, d;
      const bool parsed = spki ? parse_spki(pub_enc, *c, &x, &y) : parse_point(pub_enc, *c, &x, &y);
      ASSERT_TRUE(ect::fit(zt::unhex(t["private"].get<std::string>()), c->L, &d)) << t["tcId"];
      quarzel_ret_t ret = 1;
      Bytes ss(c->L);
      if (parsed) {
        ect::PriKey pri(c->id, d);
        ect::PubKey pub(c->id, x, y);
        uint32_t ss_len = c->L;
        ret = ecdh_derive_shared_secret(&pri.k, &pub.k, &ss_len, ss.data());
        EXPECT_EQ(ss_len, c->L);
      }
      const std::string id = file + " tcId " + std::to_string(t["tcId"].get<int>()) + " " +
                             t["comment"].get<std::string>();
      if (result == "valid") {
        ASSERT_TRUE(parsed) << id;
        EXPECT_EQ(ret, 0u) << id;
        EXPECT_EQ(zt::hex(ss), zt::hex(ect::pad(zt::unhex(t["shared"].get<std::string>()), c->L))) << id;
        valid_ok += ret == 0;
      } else if (result == "invalid") {
        EXPECT_NE(ret, 0u) << id;
        invalid_ok += ret != 0;
        // A parsed point that is refused is refused for being off the curve.
        if (parsed) {
          EXPECT_EQ(ret, 0x0218FF35u) << id;
        }
      }
    }
  }
  EXPECT_GT(valid_ok, 0);
  EXPECT_GT(invalid_ok, 0);
}

class WycheproofEcdh : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofEcdh, SharedSecretsAndInvalidPoints) {
  const std::string file = GetParam();
  run_ecdh_file(file, file.find("ecpoint") == std::string::npos);
  if (ect::four_limb_file(file)) {  // and on the portable field product
    ect::PortableField portable;
    run_ecdh_file(file, file.find("ecpoint") == std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WycheproofEcdh,
    ::testing::Values("ecdh_secp224r1.json", "ecdh_secp256r1.json", "ecdh_secp384r1.json",
                      "ecdh_secp521r1.json", "ecdh_secp256k1.json", "ecdh_brainpoolP256r1.json",
                      "ecdh_brainpoolP384r1.json", "ecdh_brainpoolP512r1.json",
                      "ecdh_secp256r1_ecpoint.json", "ecdh_secp384r1_ecpoint.json",
                      "ecdh_secp521r1_ecpoint.json"),
    [](const auto& info) {
      std::string n = info.param;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// ---- Output rules and the unified model ----

struct Pair {
  ect::PriKey d;
  ect::PubKey q;
  explicit Pair(ecc_crv_t crv) : d(crv), q(crv) {
    EXPECT_EQ(ecc_gen_keypair(crv, ECC_KEYGEN_REJECT_SAMPLING, &d.k, &q.k), 0u);
  }
};

TEST(Ecdh, BothSidesAgreeAndCapacityIsReported) {
  for (const auto& c : ect::curves()) {
    Pair a(c.id), b(c.id);
    Bytes s1(c.L + 4, 0xEE), s2(c.L, 0);
    uint32_t len = c.L - 1;
    EXPECT_EQ(ecdh_derive_shared_secret(&a.d.k, &b.q.k, &len, s1.data()), 0x021BFF06u);
    EXPECT_EQ(len, c.L);
    len = c.L + 4;
    ASSERT_EQ(ecdh_derive_shared_secret(&a.d.k, &b.q.k, &len, s1.data()), 0u);
    EXPECT_EQ(len, c.L);
    EXPECT_EQ(s1[c.L], 0xEE);  // nothing written past L
    len = c.L;
    ASSERT_EQ(ecdh_derive_shared_secret(&b.d.k, &a.q.k, &len, s2.data()), 0u);
    EXPECT_EQ(zt::hex(Bytes(s1.begin(), s1.begin() + c.L)), zt::hex(s2)) << c.wycheproof;
    if (c.id == ECC_CRV_NIST_P521) {
      EXPECT_EQ(s2[0], 0);
      EXPECT_EQ(s2[1], 0);
    }
  }
}

TEST(Ecdh, KeysOfOtherCurvesAndStates) {
  Pair a(ECC_CRV_NIST_P256), b(ECC_CRV_BP256R1);
  uint8_t ss[64];
  uint32_t len = sizeof ss;
  EXPECT_EQ(ecdh_derive_shared_secret(&a.d.k, &b.q.k, &len, ss), 0x021BFF38u);
  ecc_pubkey_t empty;
  ecc_pubkey_init(&empty, ECC_CRV_NIST_P256);
  EXPECT_EQ(ecdh_derive_shared_secret(&a.d.k, &empty, &len, ss), 0x021BFF09u);
  EXPECT_EQ(ecdh_derive_shared_secret(&a.d.k, &b.q.k, nullptr, ss), 0x021BFF05u);
}

TEST(EcdhUnified, OnePassPartiesAgree) {
  for (ecc_crv_t crv : {ECC_CRV_NIST_P256, ECC_CRV_NIST_P521}) {
    uint32_t L = 0;
    ASSERT_EQ(ecc_get_length(crv, &L), 0u);
    Pair A(crv), B(crv), U(crv);
    Bytes su(2 * L), sv(2 * L);
    uint32_t len = 2 * L - 1;
    EXPECT_EQ(ecdh_unified_one_pass_party_u(&A.d.k, &U.d.k, &B.q.k, &len, su.data()), 0x021DFF06u);
    EXPECT_EQ(len, 2 * L);
    ASSERT_EQ(ecdh_unified_one_pass_party_u(&A.d.k, &U.d.k, &B.q.k, &len, su.data()), 0u);
    len = 2 * L;
    ASSERT_EQ(ecdh_unified_one_pass_party_v(&B.d.k, &A.q.k, &U.q.k, &len, sv.data()), 0u);
    EXPECT_EQ(zt::hex(su), zt::hex(sv));
    // Ze || Zs: Ze = x(dU QB), Zs = x(dA QB).
    Bytes ze(L), zs(L);
    uint32_t l1 = L;
    ASSERT_EQ(ecdh_derive_shared_secret(&U.d.k, &B.q.k, &l1, ze.data()), 0u);
    ASSERT_EQ(ecdh_derive_shared_secret(&A.d.k, &B.q.k, &l1, zs.data()), 0u);
    EXPECT_EQ(zt::hex(su), zt::hex(ze) + zt::hex(zs));
  }
}

TEST(EcdhUnified, FullSchemeBothSidesAgree) {
  Pair A(ECC_CRV_NIST_P384), B(ECC_CRV_NIST_P384), U(ECC_CRV_NIST_P384), V(ECC_CRV_NIST_P384);
  Bytes s1(96), s2(96);
  uint32_t len = 96;
  ASSERT_EQ(ecdh_unified_full(&A.d.k, &B.q.k, &U.d.k, &V.q.k, &len, s1.data()), 0u);
  ASSERT_EQ(ecdh_unified_full(&B.d.k, &A.q.k, &V.d.k, &U.q.k, &len, s2.data()), 0u);
  EXPECT_EQ(zt::hex(s1), zt::hex(s2));
  Pair W(ECC_CRV_NIST_P256);
  EXPECT_EQ(ecdh_unified_full(&A.d.k, &B.q.k, &U.d.k, &W.q.k, &len, s1.data()), 0x021FFF38u);
  ecc_prikey_t unset;
  ecc_prikey_init(&unset, ECC_CRV_NIST_P384);
  EXPECT_EQ(ecdh_unified_full(&A.d.k, &B.q.k, &unset, &V.q.k, &len, s1.data()), 0x021FFF09u);
}

}  // namespace
