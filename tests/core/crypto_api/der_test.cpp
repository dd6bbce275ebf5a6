// DER forms of ECDSA signatures and EC public keys, against OpenSSL's
// encoders and parsers, and the strict reader's refusals.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/crypto_api/ossl.h"
#include "zeb/swhsm_services.h"

namespace {

using ct::Bytes;

Bytes encode(Bytes r, Bytes s) {
  Bytes der(160);
  uint32_t n = static_cast<uint32_t>(der.size());
  EXPECT_EQ(SignatureToDER(r.data(), s.data(), static_cast<uint32_t>(r.size()), der.data(), &n), 0u);
  der.resize(n);
  return der;
}

Bytes with_first(uint8_t first, size_t len, uint8_t fill = 0x33) {
  Bytes b(len, fill);
  b[0] = first;
  return b;
}

TEST(SignatureDer, IntegersAreMinimalAndPositive) {
  struct Case {
    Bytes r;
    size_t r_int;  // content length of r's INTEGER
  };
  Bytes lead_zeros = with_first(0x00, 32);
  lead_zeros[1] = lead_zeros[2] = 0;
  lead_zeros[3] = 0x7F;
  for (const Case& c : {Case{with_first(0x7F, 32), 32}, Case{with_first(0x80, 32), 33}, Case{lead_zeros, 29}}) {
    const Bytes der = encode(c.r, with_first(0x11, 32));
    EXPECT_EQ(der[0], 0x30);
    EXPECT_EQ(der[2], 0x02);
    EXPECT_EQ(der[3], c.r_int);
    // OpenSSL reads the same r back.
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(sig, nullptr);
    EXPECT_EQ(ct::bn_bytes(ECDSA_SIG_get0_r(sig), 32), c.r);
    ECDSA_SIG_free(sig);
  }
  const Bytes both = encode(with_first(0x80, 32), with_first(0xFF, 32));
  EXPECT_EQ(both.size(), 72u);
  EXPECT_EQ(both[1], 0x46);
  // brainpoolP512r1 with both pads: the long form of the length.
  const Bytes wide = encode(with_first(0x90, 64), with_first(0x90, 64));
  EXPECT_EQ(wide[0], 0x30);
  EXPECT_EQ(wide[1], 0x81);
  EXPECT_EQ(wide.size(), 3u + 2 * (2 + 65));
}

TEST(SignatureDer, ZeroValuesAndShortBuffersAreRefused) {
  Bytes zero(32, 0), one = with_first(1, 32), der(8);
  uint32_t n = 160;
  Bytes big(160);
  EXPECT_EQ(SignatureToDER(zero.data(), one.data(), 32, big.data(), &n), 7u);
  n = 8;
  EXPECT_EQ(SignatureToDER(one.data(), one.data(), 32, der.data(), &n), 0x150u);
  EXPECT_EQ(n, 70u);
}

TEST(SignatureDer, ReaderGivesTheValuesWithoutSignBytes) {
  const Bytes r = with_first(0x80, 32), s = with_first(0x01, 32);
  Bytes der = encode(r, s);
  Bytes rv(32), sv(32);
  uint32_t rl = 32, sl = 32;
  ASSERT_EQ(SignatureDERToRS(der.data(), static_cast<uint32_t>(der.size()), rv.data(), sv.data(), &rl, &sl), 0u);
  EXPECT_EQ(rl, 32u);
  EXPECT_EQ(rv, r);
  EXPECT_EQ(sv, s);
}

TEST(SignatureDer, ReaderRefusesMalformedInputWith192) {
  const Bytes good = zt::unhex("3006020101020102");
  const char* bad[] = {
      "",                      // empty
      "31060201010201 02",     // SET, not SEQUENCE
      "3007020101020102",      // length past the end
      "300602010102010200",    // trailing byte
      "3006030101020102",      // BIT STRING for r
      "3006020181020102",      // negative r
      "300702020001020102",    // non-minimal r
      "3004020101 0200",       // empty s
      "30820006020101020102",  // two-byte length form
      "30810602010102 0102",   // long form for a short length
      "3006020101",            // s missing
  };
  Bytes r(32), s(32);
  for (const char* hex : bad) {
    SCOPED_TRACE(hex);
    std::string h(hex);
    h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
    Bytes der = zt::unhex(h);
    uint32_t rl = 32, sl = 32;
    EXPECT_EQ(SignatureDERToRS(der.empty() ? r.data() : der.data(), static_cast<uint32_t>(der.size()), r.data(),
                               s.data(), &rl, &sl),
              0xC0u);
  }
  Bytes ok = good;
  uint32_t rl = 32, sl = 32;
  EXPECT_EQ(SignatureDERToRS(ok.data(), static_cast<uint32_t>(ok.size()), r.data(), s.data(), &rl, &sl), 0u);
  // r longer than the curve's length.
  Bytes long_r = encode(with_first(0x12, 33), with_first(0x12, 33));
  rl = 32;
  sl = 32;
  EXPECT_EQ(SignatureDERToRS(long_r.data(), static_cast<uint32_t>(long_r.size()), r.data(), s.data(), &rl, &sl), 0xC0u);
}

TEST(PublicKeyDer, MatchesOpenSslOnEveryNamedCurve) {
  for (const ct::Curve& c : ct::curves()) {
    SCOPED_TRACE(c.name);
    ct::EcPeer peer = ct::ec_peer(c);
    unsigned char* p = nullptr;
    const int len = i2d_EC_PUBKEY(peer.key.get(), &p);
    ASSERT_GT(len, 0);
    const Bytes ossl(p, p + len);
    OPENSSL_free(p);
    // The point in standard coordinate lengths.
    Bytes q;
    for (int half = 0; half < 2; ++half) {
      const auto* v = peer.blob.data() + 4 + half * c.L + (c.L - c.field);
      q.insert(q.end(), v, v + c.field);
    }
    Bytes der(256);
    uint32_t n = 256;
    ASSERT_EQ(ECCPubkeyToDER(c.id, q.data(), static_cast<uint32_t>(q.size()), der.data(), &n), 0u);
    der.resize(n);
    EXPECT_EQ(der, ossl);
    uint8_t curve = 0;
    Bytes back(2 * c.L);
    uint32_t qn = static_cast<uint32_t>(back.size());
    Bytes in = ossl;
    ASSERT_EQ(ECCPubkeyDERToQ(in.data(), static_cast<uint32_t>(in.size()), &curve, back.data(), &qn), 0u);
    back.resize(qn);
    EXPECT_EQ(curve, c.id);
    EXPECT_EQ(back, q);
    // Cut short, or with a byte too many: refused.
    EXPECT_EQ(ECCPubkeyDERToQ(in.data(), static_cast<uint32_t>(in.size()) - 1, &curve, back.data(), &qn), 7u);
    in.push_back(0);
    qn = 2 * c.L;
    EXPECT_EQ(ECCPubkeyDERToQ(in.data(), static_cast<uint32_t>(in.size()), &curve, back.data(), &qn), 7u);
  }
  uint8_t q[64] = {1};
  uint8_t der[128];
  uint32_t n = sizeof der;
  EXPECT_EQ(ECCPubkeyToDER(17, q, 56, der, &n), 7u);  // P-224: no OID in the table
}

}  // namespace
