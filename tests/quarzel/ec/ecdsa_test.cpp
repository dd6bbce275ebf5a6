// ECDSA: RFC 6979 vectors with their nonces, Wycheproof verification vectors
// (DER and IEEE P1363 signatures), interoperation with OpenSSL, and the
// degenerate cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ec_test_util.h"
#include "quarzel/testing.h"
#include "support/oracle.h"
#include "support/vectors.h"

namespace {

using ect::Bytes;

// Hex of any length, as an integer of L bytes.
Bytes num(std::string hex, uint32_t L) {
  if (hex.size() % 2 != 0) hex.insert(hex.begin(), '0');
  return ect::pad(zt::unhex(hex), L);
}

const char* kRfcKey(ecc_crv_t crv) {
  switch (crv) {
    case ECC_CRV_NIST_P224: return "F220266E1105BFE3083E03EC7A3A654651F45E37167E88600BF257C1";
    case ECC_CRV_NIST_P256: return "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721";
    case ECC_CRV_NIST_P384:
      return "6B9D3DAD2E1B8C1C05B19875B6659F4DE23C3B667BF297BA9AA47740787137D896D5724E4C70A825F872C9EA60D2EDF5";
    default:
      return "0FAD06DAA62BA3B25D2FB40133DA757205DE67F5BB0018FEE8C86E1B68C7E75CAA896EB32F1F47C70855836A6D16FCC1"
             "466F6D8FBEC67DB89EC0C08B0E996B83538";
  }
}

// RFC 6979 appendix A.2.3 to A.2.7: private keys and nonces as published.
struct RfcCase {
  ecc_crv_t crv;
  const char* hash;
  const char* msg;
  const char* k;
  const char* r;
  const char* s;
};
const RfcCase kRfc6979[] = {
    {ECC_CRV_NIST_P224, "SHA-256", "sample",
     "AD3029E0278F80643DE33917CE6908C70A8FF50A411F06E41DEDFCDC",
     "61AA3DA010E8E8406C656BC477A7A7189895E7E840CDFE8FF42307BA",
     "BC814050DAB5D23770879494F9E0A680DC1AF7161991BDE692B10101"},
    {ECC_CRV_NIST_P224, "SHA-256", "test",
     "FF86F57924DA248D6E44E8154EB69F0AE2AEBAEE9931D0B5A969F904",
     "AD04DDE87B84747A243A631EA47A1BA6D1FAA059149AD2440DE6FBA6",
     "178D49B1AE90E3D8B629BE3DB5683915F4E8C99FDF6E666CF37ADCFD"},
    {ECC_CRV_NIST_P224, "SHA-512", "sample",
     "9DB103FFEDEDF9CFDBA05184F925400C1653B8501BAB89CEA0FBEC14",
     "74BD1D979D5F32BF958DDC61E4FB4872ADCAFEB2256497CDAC30397",
     "A4CECA196C3D5A1FF31027B33185DC8EE43F288B21AB342E5D8EB084"},
    {ECC_CRV_NIST_P224, "SHA-512", "test",
     "E39C2AA4EA6BE2306C72126D40ED77BF9739BB4D6EF2BBB1DCB6169D",
     "49F050477C5ADD858CAC56208394B5A55BAEBBE887FDF765047C17C",
     "77EB13E7005929CEFA3CD0403C7CDCC077ADF4E44F3C41B2F60ECFF"},
    {ECC_CRV_NIST_P256, "SHA-256", "sample",
     "A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60",
     "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
     "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
    {ECC_CRV_NIST_P256, "SHA-256", "test",
     "D16B6AE827F17175E040871A1C7EC3500192C4C92677336EC2537ACAEE0008E0",
     "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367",
     "19F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    {ECC_CRV_NIST_P256, "SHA-512", "sample",
     "5FA81C63109BADB88C1F367B47DA606DA28CAD69AA22C4FE6AD7DF73A7173AA5",
     "8496A60B5E9B47C825488827E0495B0E3FA109EC4568FD3F8D1097678EB97F00",
     "2362AB1ADBE2B8ADF9CB9EDAB740EA6049C028114F2460F96554F61FAE3302FE"},
    {ECC_CRV_NIST_P256, "SHA-512", "test",
     "6915D11632ACA3C40D5D51C08DAF9C555933819548784480E93499000D9F0B7F",
     "461D93F31B6540894788FD206C07CFA0CC35F46FA3C91816FFF1040AD1581A04",
     "39AF9F15DE0DB8D97E72719C74820D304CE5226E32DEDAE67519E840D1194E55"},
    {ECC_CRV_NIST_P384, "SHA-256", "sample",
     "180AE9F9AEC5438A44BC159A1FCB277C7BE54FA20E7CF404B490650A8ACC414E375572342863C899F9F2EDF9747A9B60",
     "21B13D1E013C7FA1392D03C5F99AF8B30C570C6F98D4EA8E354B63A21D3DAA33BDE1E888E63355D92FA2B3C36D8FB2CD",
     "F3AA443FB107745BF4BD77CB3891674632068A10CA67E3D45DB2266FA7D1FEEBEFDC63ECCD1AC42EC0CB8668A4FA0AB0"},
    {ECC_CRV_NIST_P384, "SHA-256", "test",
     "CFAC37587532347DC3389FDC98286BBA8C73807285B184C83E62E26C401C0FAA48DD070BA79921A3457ABFF2D630AD7",
     "6D6DEFAC9AB64DABAFE36C6BF510352A4CC27001263638E5B16D9BB51D451559F918EEDAF2293BE5B475CC8F0188636B",
     "2D46F3BECBCC523D5F1A1256BF0C9B024D879BA9E838144C8BA6BAEB4B53B47D51AB373F9845C0514EEFB14024787265"},
    {ECC_CRV_NIST_P384, "SHA-512", "sample",
     "92FC3C7183A883E24216D1141F1A8976C5B0DD797DFA597E3D7B32198BD35331A4E966532593A52980D0E3AAA5E10EC3",
     "ED0959D5880AB2D869AE7F6C2915C6D60F96507F9CB3E047C0046861DA4A799CFE30F35CC900056D7C99CD7882433709",
     "512C8CCEEE3890A84058CE1E22DBC2198F42323CE8ACA9135329F03C068E5112DC7CC3EF3446DEFCEB01A45C2667FDD5"},
    {ECC_CRV_NIST_P384, "SHA-512", "test",
     "3780C4F67CB15518B6ACAE34C9F83568D2E12E47DEAB6C50A4E4EE5319D1E8CE0E2CC8A136036DC4B9C00E6888F66B6C",
     "A0D5D090C9980FAF3C2CE57B7AE951D31977DD11C775D314AF55F76C676447D06FB6495CD21B4B6E340FC236584FB277",
     "976984E59B4C77B0E8E4460DCA3D9F20E07B9BB1F63BEEFAF576F6B2E8B224634A2092CD3792E0159AD9CEE37659C736"},
    {ECC_CRV_NIST_P521, "SHA-256", "sample",
     "EDF38AFCAAECAB4383358B34D67C9F2216C8382AAEA44A3DAD5FDC9C32575761793FEF24EB0FC276DFC4F6E3EC476752F043CF01415387470BCBD8678ED2C7E1A0",
     "1511BB4D675114FE266FC4372B87682BAECC01D3CC62CF2303C92B3526012659D16876E25C7C1E57648F23B73564D67F61C6F14D527D54972810421E7D87589E1A7",
     "4A171143A83163D6DF460AAF61522695F207A58B95C0644D87E52AA1A347916E4F7A72930B1BC06DBE22CE3F58264AFD23704CBB63B29B931F7DE6C9D949A7ECFC"},
    {ECC_CRV_NIST_P521, "SHA-256", "test",
     "1DE74955EFAABC4C4F17F8E84D881D1310B5392D7700275F82F145C61E843841AF09035BF7A6210F5A431A6A9E81C9323354A9E69135D44EBD2FCAA7731B909258",
     "E871C4A14F993C6C7369501900C4BC1E9C7B0B4BA44E04868B30B41D8071042EB28C4C250411D0CE08CD197E4188EA4876F279F90B3D8D74A3C76E6F1E4656AA8",
     "CD52DBAA33B063C3A6CD8058A1FB0A46A4754B034FCC644766CA14DA8CA5CA9FDE00E88C1AD60CCBA759025299079D7A427EC3CC5B619BFBC828E7769BCD694E86"},
    {ECC_CRV_NIST_P521, "SHA-512", "sample",
     "1DAE2EA071F8110DC26882D4D5EAE0621A3256FC8847FB9022E2B7D28E6F10198B1574FDD03A9053C08A1854A168AA5A57470EC97DD5CE090124EF52A2F7ECBFFD3",
     "C328FAFCBD79DD77850370C46325D987CB525569FB63C5D3BC53950E6D4C5F174E25A1EE9017B5D450606ADD152B534931D7D4E8455CC91F9B15BF05EC36E377FA",
     "617CCE7CF5064806C467F678D3B4080D6F1CC50AF26CA209417308281B68AF282623EAA63E5B5C0723D8B8C37FF0777B1A20F8CCB1DCCC43997F1EE0E44DA4A67A"},
    {ECC_CRV_NIST_P521, "SHA-512", "test",
     "16200813020EC986863BEDFC1B121F605C1215645018AEA1A7B215A564DE9EB1B38A67AA1128B80CE391C4FB71187654AAA3431027BFC7F395766CA988C964DC56D",
     "13E99020ABF5CEE7525D16B69B229652AB6BDF2AFFCAEF38773B4B7D08725F10CDB93482FDCC54EDCEE91ECA4166B2A7C6265EF0CE2BD7051B7CEF945BABD47EE6D",
     "1FBD0013C674AA79CB39849527916CE301C66EA7CE8B80682786AD60F98F7E78A19CA69EFF5C57400E3B3A0AD66CE0978214D13BAF4E9AC60752F7B155E2DE4DCE3"},
};

const ect::CurveCase& curve(ecc_crv_t id) {
  for (const auto& c : ect::curves())
    if (c.id == id) return c;
  throw std::runtime_error("curve");
}

TEST(EcdsaRfc6979, SignaturesWithGivenNoncesAreExact) {
  for (const RfcCase& t : kRfc6979) {
    const auto& c = curve(t.crv);
    ect::PriKey pri(t.crv, num(kRfcKey(t.crv), c.L));
    const Bytes digest = ect::ossl_digest(t.hash, zt::ascii(t.msg));
    const Bytes k = num(t.k, c.L);
    Bytes r(c.L), s(c.L);
    ASSERT_EQ(ecdsa_sign(&pri.k, static_cast<uint32_t>(digest.size()), digest.data(), k.data(),
                         r.data(), s.data()),
              0u);
    EXPECT_EQ(zt::hex(r), zt::hex(num(t.r, c.L))) << t.msg << " " << t.hash << " L=" << c.L;
    EXPECT_EQ(zt::hex(s), zt::hex(num(t.s, c.L))) << t.msg << " " << t.hash;
    // The public key of A.2 verifies the signature here.
    ect::PubKey pub(t.crv);
    ASSERT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0u);
    uint32_t verdict = 0;
    ASSERT_EQ(ecdsa_verify(&pub.k, static_cast<uint32_t>(digest.size()), digest.data(), r.data(),
                           s.data(), &verdict),
              0u);
    EXPECT_EQ(verdict, QZ_TRUE);
  }
}

TEST(EcdsaRfc6979, P256PublicKey) {
  ect::PriKey pri(ECC_CRV_NIST_P256, num(kRfcKey(ECC_CRV_NIST_P256), 32));
  ect::PubKey pub(ECC_CRV_NIST_P256);
  ASSERT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0u);
  EXPECT_EQ(zt::hex(pub.x(32)), "60fed4ba255a9d31c961eb74c6356d68c049b8923b61fa6ce669622e60f29fb6");
  EXPECT_EQ(zt::hex(pub.y(32)), "7903fe1008b8bc99a41ae9e95628bc64f2f1b20c2d7e9f5177a3c294d4462299");
}

// ---- Wycheproof ----

// Strict DER: SEQUENCE { INTEGER r, INTEGER s }, minimal lengths and minimal
// non-negative integers, nothing after. Values right-aligned into L bytes.
bool parse_der_sig(const Bytes& der, uint32_t L, Bytes* r, Bytes* s) {
  size_t pos = 0;
  auto read_len = [&](size_t* len) {
    if (pos >= der.size()) return false;
    const uint8_t b = der[pos++];
    if (b < 0x80) {
      *len = b;
      return true;
    }
    if (b != 0x81) return false;  // signatures here are shorter than 256 bytes
    if (pos >= der.size() || der[pos] < 0x80) return false;
    *len = der[pos++];
    return true;
  };
  auto read_int = [&](Bytes* out) {
    if (pos >= der.size() || der[pos++] != 0x02) return false;
    size_t len = 0;
    if (!read_len(&len) || len == 0 || len > der.size() - pos) return false;
    Bytes v(der.begin() + static_cast<long>(pos), der.begin() + static_cast<long>(pos + len));
    pos += len;
    if ((v[0] & 0x80) != 0) return false;                         // negative
    if (v.size() > 1 && v[0] == 0 && (v[1] & 0x80) == 0) return false;  // not minimal
    return ect::fit(v, L, out);
  };
  if (der.empty() || der[pos++] != 0x30) return false;
  size_t len = 0;
  if (!read_len(&len) || len != der.size() - pos) return false;
  return read_int(r) && read_int(s) && pos == der.size();
}

struct Tally {
  int valid_ok = 0, invalid_ok = 0, run = 0;
};

void run_ecdsa_file(const std::string& file, bool p1363, Tally* tally) {
  const auto doc = zt::load_vectors(file);
  for (const auto& group : doc["testGroups"]) {
    const auto* c = ect::curve_by_name(group["publicKey"]["curve"]);
    ASSERT_NE(c, nullptr) << file;
    Bytes x, y;
    ASSERT_TRUE(ect::fit(zt::unhex(group["publicKey"]["wx"].get<std::string>()), c->L, &x));
    ASSERT_TRUE(ect::fit(zt::unhex(group["publicKey"]["wy"].get<std::string>()), c->L, &y));
    ect::PubKey pub(c->id, x, y);
    const std::string sha = group["sha"];
    for (const auto& t : group["tests"]) {
      const std::string result = t["result"];
      const Bytes digest = ect::ossl_digest(sha, zt::unhex(t["msg"].get<std::string>()));
      ASSERT_FALSE(digest.empty()) << sha;
      const Bytes sig = zt::unhex(t["sig"].get<std::string>());
      Bytes r, s;
      bool parsed = false;
      if (p1363) {
        parsed = sig.size() == 2 * c->field_bytes &&
                 ect::fit(Bytes(sig.begin(), sig.begin() + c->field_bytes), c->L, &r) &&
                 ect::fit(Bytes(sig.begin() + c->field_bytes, sig.end()), c->L, &s);
      } else {
        parsed = parse_der_sig(sig, c->L, &r, &s);
      }
      uint32_t verdict = 0;
      quarzel_ret_t ret = 0;
      if (parsed)
        ret = ecdsa_verify(&pub.k, static_cast<uint32_t>(digest.size()), digest.data(), r.data(),
                           s.data(), &verdict);
      const bool accepted = parsed && ret == 0 && verdict == QZ_TRUE;
      ++tally->run;
      if (result == "valid") {
        EXPECT_TRUE(accepted) << file << " tcId " << t["tcId"] << " " << t["comment"];
        tally->valid_ok += accepted;
      } else if (result == "invalid") {
        EXPECT_FALSE(accepted) << file << " tcId " << t["tcId"] << " " << t["comment"];
        tally->invalid_ok += !accepted;
        if (parsed) {
          EXPECT_EQ(ret, 0u) << file << " tcId " << t["tcId"];  // a bad signature is no error
        }
      }
    }
  }
}

class WycheproofEcdsa : public ::testing::TestWithParam<const char*> {};

TEST_P(WycheproofEcdsa, ValidAcceptedInvalidRefused) {
  const std::string file = GetParam();
  const bool p1363 = file.find("p1363") != std::string::npos;
  Tally tally;
  run_ecdsa_file(file, p1363, &tally);
  EXPECT_GT(tally.valid_ok, 0);
  EXPECT_GT(tally.invalid_ok, 0);
  // 4-limb curves have a second, portable field product: run it too.
  if (ect::four_limb_file(file)) {
    ect::PortableField portable;
    Tally again;
    run_ecdsa_file(file, p1363, &again);
    EXPECT_EQ(again.valid_ok, tally.valid_ok);
    EXPECT_EQ(again.invalid_ok, tally.invalid_ok);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WycheproofEcdsa,
    ::testing::Values("ecdsa_secp224r1_sha224.json", "ecdsa_secp256r1_sha256.json",
                      "ecdsa_secp384r1_sha384.json", "ecdsa_secp521r1_sha512.json",
                      "ecdsa_secp256k1_sha256.json", "ecdsa_brainpoolP256r1_sha256.json",
                      "ecdsa_brainpoolP384r1_sha384.json", "ecdsa_brainpoolP512r1_sha512.json",
                      "ecdsa_secp256r1_sha256_p1363.json", "ecdsa_secp384r1_sha384_p1363.json",
                      "ecdsa_secp521r1_sha512_p1363.json"),
    [](const auto& info) {
      std::string n = info.param;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// ---- Interoperation with OpenSSL, every curve ----

TEST(EcdsaInterop, SignaturesCrossVerifyWithOpenSsl) {
  for (const auto& c : ect::curves()) {
    ect::PriKey pri(c.id);
    ect::PubKey pub(c.id);
    ASSERT_EQ(ecc_gen_keypair(c.id, ECC_KEYGEN_EXTRA_RND_BITS, &pri.k, &pub.k), 0u);
    for (const char* hash : {"SHA-256", "SHA-512"}) {
      const Bytes digest = ect::ossl_digest(hash, zt::ascii(std::string("message on ") + c.wycheproof));
      Bytes r(c.L), s(c.L);
      ASSERT_EQ(ecdsa_sign(&pri.k, static_cast<uint32_t>(digest.size()), digest.data(), nullptr,
                           r.data(), s.data()),
                0u);
      // OpenSSL keeps the leftmost bits of the order's length, this library
      // the first L bytes: the same value for these digests on every curve.
      EXPECT_TRUE(ect::ossl_verify(c, pub.x(c.L), pub.y(c.L), digest, r, s)) << c.wycheproof << hash;
      Bytes orr, oss;
      ect::ossl_sign(c, pri.d(c.L), pub.x(c.L), pub.y(c.L), digest, &orr, &oss);
      uint32_t verdict = 0;
      ASSERT_EQ(ecdsa_verify(&pub.k, static_cast<uint32_t>(digest.size()), digest.data(), orr.data(),
                             oss.data(), &verdict),
                0u);
      EXPECT_EQ(verdict, QZ_TRUE) << c.wycheproof << hash;
    }
  }
}

// ---- Edge cases and mended faults ----

struct P256Fixture : ::testing::Test {
  const ect::CurveCase& c = curve(ECC_CRV_NIST_P256);
  ect::PriKey pri{ECC_CRV_NIST_P256, num(kRfcKey(ECC_CRV_NIST_P256), 32)};
  ect::PubKey pub{ECC_CRV_NIST_P256};
  Bytes n = num("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551", 32);
  void SetUp() override { ASSERT_EQ(ecc_gen_puk_from_prk(&pri.k, &pub.k), 0u); }
  uint32_t verify(const Bytes& digest, const Bytes& r, const Bytes& s, quarzel_ret_t* ret) {
    uint32_t verdict = 0;
    *ret = ecdsa_verify(&pub.k, static_cast<uint32_t>(digest.size()), digest.data(), r.data(),
                        s.data(), &verdict);
    return verdict;
  }
};

TEST_F(P256Fixture, VerifyOfEmptyDigestIsAnErrorWord) {
  // Raw ECDSA over empty data: refused with a result word, the process lives on.
  Bytes r(32, 1), s(32, 1);
  uint32_t verdict = 0;
  const uint8_t dummy = 0;
  EXPECT_EQ(ecdsa_verify(&pub.k, 0, &dummy, r.data(), s.data(), &verdict), 0x0222FF73u);
  EXPECT_EQ(verdict, QZ_FALSE);
  EXPECT_EQ(ecdsa_verify(&pub.k, 0, nullptr, r.data(), s.data(), &verdict), 0x0222FF73u);
}

TEST_F(P256Fixture, SigningAnEmptyDigestUsesZero) {
  Bytes r(32), s(32);
  ASSERT_EQ(ecdsa_sign(&pri.k, 0, nullptr, nullptr, r.data(), s.data()), 0u);
  // e = 0 is the same as a digest of one zero byte.
  const Bytes zero(1, 0);
  quarzel_ret_t ret = 0;
  EXPECT_EQ(verify(zero, r, s, &ret), QZ_TRUE);
}

TEST_F(P256Fixture, CallerNonceRange) {
  const Bytes digest = ect::ossl_digest("SHA-256", zt::ascii("sample"));
  Bytes r(32), s(32);
  EXPECT_EQ(ecdsa_sign(&pri.k, 32, digest.data(), n.data(), r.data(), s.data()), 0x0221FF32u);
  const Bytes zero(32, 0);
  EXPECT_EQ(ecdsa_sign(&pri.k, 32, digest.data(), zero.data(), r.data(), s.data()), 0x02218D82u);
  Bytes nm1 = n;
  nm1.back() -= 1;
  ASSERT_EQ(ecdsa_sign(&pri.k, 32, digest.data(), nm1.data(), r.data(), s.data()), 0u);
  quarzel_ret_t ret = 0;
  EXPECT_EQ(verify(digest, r, s, &ret), QZ_TRUE);
}

TEST_F(P256Fixture, LongShortAndLargeDigests) {
  Bytes r(32), s(32);
  quarzel_ret_t ret = 0;
  // A 64-byte digest is used through its first 32 bytes.
  Bytes d64(64);
  for (size_t i = 0; i < 64; ++i) d64[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(ecdsa_sign(&pri.k, 64, d64.data(), nullptr, r.data(), s.data()), 0u);
  EXPECT_EQ(verify(Bytes(d64.begin(), d64.begin() + 32), r, s, &ret), QZ_TRUE);
  // A 20-byte digest is right-aligned.
  Bytes d20(20, 0xA5);
  ASSERT_EQ(ecdsa_sign(&pri.k, 20, d20.data(), nullptr, r.data(), s.data()), 0u);
  Bytes d20p(12, 0);
  d20p.insert(d20p.end(), d20.begin(), d20.end());
  EXPECT_EQ(verify(d20p, r, s, &ret), QZ_TRUE);
  // A digest not below n signs and verifies.
  Bytes dff(32, 0xFF);
  ASSERT_EQ(ecdsa_sign(&pri.k, 32, dff.data(), nullptr, r.data(), s.data()), 0u);
  EXPECT_EQ(verify(dff, r, s, &ret), QZ_TRUE);
}

TEST_F(P256Fixture, VerifyRangeAndCurveChecks) {
  const Bytes digest = ect::ossl_digest("SHA-256", zt::ascii("sample"));
  Bytes r(32), s(32);
  ASSERT_EQ(ecdsa_sign(&pri.k, 32, digest.data(), nullptr, r.data(), s.data()), 0u);
  quarzel_ret_t ret = 1;
  for (const Bytes& bad : {Bytes(32, 0), n}) {
    EXPECT_EQ(verify(digest, bad, s, &ret), QZ_FALSE);
    EXPECT_EQ(ret, 0u);
    EXPECT_EQ(verify(digest, r, bad, &ret), QZ_FALSE);
    EXPECT_EQ(ret, 0u);
  }
  Bytes y = pub.y(32);
  y.back() ^= 1;
  ect::PubKey off(ECC_CRV_NIST_P256, pub.x(32), y);
  uint32_t verdict = 0;
  EXPECT_EQ(ecdsa_verify(&off.k, 32, digest.data(), r.data(), s.data(), &verdict), 0x0222FF35u);
  EXPECT_EQ(verdict, QZ_FALSE);
}

// s = k^-1 (e + d r) is zero exactly when e = -d r mod n. With the RFC key and
// nonce this digest makes s = 0.
Bytes digest_for_zero_s(const Bytes& d, const Bytes& k) {
  const std::string out = zt::run_python(
      "import sys\n"
      "p=2**256-2**224+2**192+2**96-1\n"
      "n=0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551\n"
      "gx=0x6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296\n"
      "gy=0x4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5\n"
      "def add(P,Q):\n"
      "  if P is None: return Q\n"
      "  if Q is None: return P\n"
      "  if P[0]==Q[0] and (P[1]+Q[1])%p==0: return None\n"
      "  l=((3*P[0]*P[0]-3)*pow(2*P[1],-1,p) if P==Q else (Q[1]-P[1])*pow(Q[0]-P[0],-1,p))%p\n"
      "  x=(l*l-P[0]-Q[0])%p\n"
      "  return (x,(l*(P[0]-x)-P[1])%p)\n"
      "d,k=[int(v,16) for v in sys.stdin.read().split()]\n"
      "R=None\n"
      "for b in bin(k)[2:]:\n"
      "  R=add(R,R)\n"
      "  if b=='1': R=add(R,(gx,gy))\n"
      "r=R[0]%n\n"
      "print('%064x'%((-d*r)%n))\n",
      zt::hex(d) + " " + zt::hex(k));
  return zt::unhex(out.substr(0, 64));
}

TEST_F(P256Fixture, ZeroSWithCallerNonceFails) {
  const Bytes k = num("A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60", 32);
  const Bytes digest = digest_for_zero_s(pri.d(32), k);
  Bytes r(32, 0x55), s(32, 0x55);
  EXPECT_EQ(ecdsa_sign(&pri.k, 32, digest.data(), k.data(), r.data(), s.data()), 0x0221FF32u);
}

// Random source that hands out a scripted nonce first, then OS bytes.
Bytes g_scripted;
int g_draws = 0;
uint32_t scripted_source(uint8_t* dest, uint32_t size) {
  ++g_draws;
  if (!g_scripted.empty() && g_scripted.size() == size) {
    std::memcpy(dest, g_scripted.data(), size);
    g_scripted.clear();
    return 0;
  }
  for (uint32_t i = 0; i < size; ++i) dest[i] = static_cast<uint8_t>(i * 37 + g_draws * 11 + 3);
  return 0;
}

TEST_F(P256Fixture, ZeroSWithDrawnNonceDrawsAgain) {
  const Bytes k = num("A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60", 32);
  const Bytes digest = digest_for_zero_s(pri.d(32), k);
  g_scripted = k;
  g_draws = 0;
  quarzel::testing::set_random_source(scripted_source);
  Bytes r(32), s(32);
  const quarzel_ret_t sret = ecdsa_sign(&pri.k, 32, digest.data(), nullptr, r.data(), s.data());
  quarzel::testing::set_random_source(nullptr);
  ASSERT_EQ(sret, 0u);
  EXPECT_EQ(g_draws, 2);
  EXPECT_NE(zt::hex(s), std::string(64, '0'));
  quarzel_ret_t ret = 1;
  EXPECT_EQ(verify(digest, r, s, &ret), QZ_TRUE);
  EXPECT_EQ(ret, 0u);
}

TEST(EcdsaVerify, SumAtInfinityIsRefused) {
  // With Q = G, u1*G + u2*Q = ((e + r)/s) G, the point at infinity when e = -r.
  const auto& c = curve(ECC_CRV_NIST_P256);
  ect::PriKey one(c.id, Bytes{1});
  ect::PubKey g(c.id);
  ASSERT_EQ(ecc_gen_puk_from_prk(&one.k, &g.k), 0u);
  const Bytes r = num("05", 32), s = num("07", 32);
  const Bytes e = num("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC63254C", 32);  // n - 5
  uint32_t verdict = 0;
  EXPECT_EQ(ecdsa_verify(&g.k, 32, e.data(), r.data(), s.data(), &verdict), 0u);
  EXPECT_EQ(verdict, QZ_FALSE);
}

TEST(EcdsaThreads, ConcurrentSignAndVerifyOnEveryCurve) {
  // Each thread's first call may be the process's first use of a curve.
  std::vector<std::thread> threads;
  std::vector<int> ok(ect::curves().size(), 0);
  for (size_t i = 0; i < ect::curves().size(); ++i) {
    threads.emplace_back([i, &ok] {
      const auto& c = ect::curves()[i];
      ect::PriKey d(c.id);
      ect::PubKey q(c.id);
      if (ecc_gen_keypair(c.id, ECC_KEYGEN_REJECT_SAMPLING, &d.k, &q.k) != 0) return;
      Bytes digest(32, static_cast<uint8_t>(i)), r(c.L), s(c.L);
      for (int round = 0; round < 3; ++round) {
        uint32_t verdict = 0;
        if (ecdsa_sign(&d.k, 32, digest.data(), nullptr, r.data(), s.data()) != 0 ||
            ecdsa_verify(&q.k, 32, digest.data(), r.data(), s.data(), &verdict) != 0 || verdict != QZ_TRUE)
          return;
      }
      ok[i] = 1;
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < ok.size(); ++i) EXPECT_EQ(ok[i], 1) << ect::curves()[i].wycheproof;
}

TEST(EcdsaErrors, KeyStatesAndCurves) {
  ecc_prikey_t d;
  ecc_prikey_init(&d, ECC_CRV_NIST_P256);
  uint8_t digest[32] = {1}, r[32], s[32];
  EXPECT_EQ(ecdsa_sign(&d, 32, digest, nullptr, r, s), 0x0221FF09u);
  ecc_pubkey_t q;
  ecc_pubkey_init(&q, ECC_CRV_NIST_P256);
  uint32_t verdict = 0;
  EXPECT_EQ(ecdsa_verify(&q, 32, digest, r, s, &verdict), 0x0222FF09u);
  EXPECT_EQ(ecdsa_verify(&q, 32, digest, r, s, nullptr), 0x0222FF05u);
  ect::PriKey p192(ECC_CRV_NIST_P192, Bytes(24, 1));
  EXPECT_EQ(ecdsa_sign(&p192.k, 32, digest, nullptr, r, s), 0x02218281u);
}

}  // namespace
