// P-521's windowed product (ECDH) on its BMI2/ADX code against the template
// on the portable field, and ECDH through the library against OpenSSL on the
// CPU's path and on the portable one, for edge and random scalars.
#include "ec_test_util.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ec/scalar_mul.h"
#include "quarzel/cpu.h"

namespace {

using ect::Bytes;
using quarzel::ec::kP521;
using quarzel::ec::Mont;
using quarzel::ec::u64;
using Limbs = std::array<u64, 9>;
using P = quarzel::ec::ecpbn_proj_t<9>;

bool has_adx() { return quarzel::cpu_features().bmi2 && quarzel::cpu_features().adx; }

Limbs limbs_of(const uint8_t* be, size_t len) {
  Limbs r;
  quarzel::ec::fe_from_bytes<9>(r.data(), be, len);
  return r;
}

// Scalars below 2^521 (the engine hands the window k mod n): 0, 1, n and
// n - 1, 2^521 - 1, those where the last addition meets its own operand
// (k = 2 d, n - 2 d), signed digits at their extremes (runs of 16s and 17s),
// and random ones.
std::vector<Limbs> scalars(const Limbs& n) {
  Limbs top{}, nm1 = n, sixteens{}, ones{};
  for (auto& w : top) w = ~0ull;
  top[8] = 0x1FF;
  nm1[0] -= 1;
  for (size_t bit = 4; bit < 520; bit += 5) sixteens[bit / 64] |= u64{1} << (bit % 64);  // every digit 16
  for (size_t bit = 0; bit < 520; bit += 5) ones[bit / 64] |= u64{1} << (bit % 64);
  std::vector<Limbs> ks = {{}, {1}, n, nm1, top, sixteens, ones};
  for (u64 d = 1; d <= 40; ++d) {
    ks.push_back({2 * d});
    Limbs below = n;
    below[0] -= 2 * d;  // no borrow: n's low limb is far above 80
    ks.push_back(below);
  }
  std::mt19937_64 rng(521);
  for (int i = 0; i < 24; ++i) {
    Limbs r;
    for (auto& w : r) w = rng();
    r[8] &= 0x1FF;
    ks.push_back(r);
  }
  return ks;
}

TEST(P521Window, AdxPathMatchesTheTemplate) {
  if (!has_adx()) GTEST_SKIP() << "no BMI2/ADX";
  Mont<9> fast;
  fast.init(kP521);
  ASSERT_TRUE(quarzel::ec::p521_window_adx_applies(fast, nullptr));
  Mont<9> slow = fast;
  slow.adx = false;
  ASSERT_FALSE(quarzel::ec::p521_window_adx_applies(slow, nullptr));
  const quarzel::ec::ecpi_group_t& e = ect::group(ECC_CRV_NIST_P521);
  const Limbs n = limbs_of(e.n_bytes(), 68);
  // Bases G and 7 G, affine in Montgomery form.
  std::vector<P> bases(2);
  Bytes x7(68), y7(68), seven(68, 0);
  seven[67] = 7;
  bool inf = false;
  ASSERT_EQ(0, e.mul(seven.data(), e.G().x, e.G().y, x7.data(), y7.data(), &inf));
  const std::pair<const uint8_t*, const uint8_t*> coords[] = {{e.G().x, e.G().y}, {x7.data(), y7.data()}};
  for (size_t i = 0; i < 2; ++i) {
    fast.to_mont(bases[i].x, limbs_of(coords[i].first, 68).data());
    fast.to_mont(bases[i].y, limbs_of(coords[i].second, 68).data());
    std::memcpy(bases[i].z, fast.one, sizeof bases[i].z);
  }
  for (const P& g : bases) {
    for (const Limbs& k : scalars(n)) {
      P table1[quarzel::ec::kBoothEntries + 1], table2[quarzel::ec::kBoothEntries + 1], r1, r2;
      quarzel::ec::mul_window_ct<9>(fast, nullptr, r1, g, k.data(), 9, 521, 521, table1);
      quarzel::ec::mul_window_ct<9>(slow, nullptr, r2, g, k.data(), 9, 521, 521, table2);
      const u64 inf1 = quarzel::ec::fe_is_zero_mask<9>(r1.z), inf2 = quarzel::ec::fe_is_zero_mask<9>(r2.z);
      ASSERT_EQ(inf1, inf2) << std::hex << k[0];
      if (inf1 != 0) continue;
      Limbs x1, y1, x2, y2;
      quarzel::ec::ecpbn_zdn_proj_normalize<9>(slow, x1.data(), y1.data(), r1);
      quarzel::ec::ecpbn_zdn_proj_normalize<9>(slow, x2.data(), y2.data(), r2);
      ASSERT_EQ(x1, x2) << std::hex << k[0];
      ASSERT_EQ(y1, y2) << std::hex << k[0];
    }
  }
}

// x(d Q) by ecdh_derive_shared_secret against OpenSSL's product, for private
// keys at the edges of the range and of the digits, and random keys and peer
// points; on the CPU's path (the BMI2/ADX window here) and on the portable
// field.
TEST(P521Window, EcdhMatchesOpenSsl) {
  const ect::CurveCase& c = *ect::curve_by_name("secp521r1");
  const quarzel::ec::ecpi_group_t& e = ect::group(c.id);
  const Bytes n(e.n_bytes(), e.n_bytes() + c.L);
  auto minus = [](Bytes v, int d) {
    for (size_t i = v.size(); i-- > 0 && d != 0;) {
      const int x = v[i] - d;
      v[i] = static_cast<uint8_t>(x & 0xFF);
      d = x < 0 ? 1 : 0;
    }
    return v;
  };
  auto small = [&c](uint8_t v) {
    Bytes b(c.L, 0);
    b[c.L - 1] = v;
    return b;
  };
  std::vector<Bytes> keys = {small(1), small(2), small(31), small(32), small(33), minus(n, 1), minus(n, 2),
                             minus(n, 32)};
  Bytes pow2(c.L, 0);
  pow2[c.L - 66] = 1;  // 2^520
  keys.push_back(pow2);
  keys.push_back(minus(pow2, 1));
  for (int i = 0; i < 8; ++i) {
    Bytes d(c.L, 0);
    RAND_bytes(d.data() + 2, 66);
    d[2] &= 1;
    if (!(d < n)) d[3] = 0;
    keys.push_back(d);
  }
  for (const bool portable : {false, true}) {
    std::unique_ptr<ect::PortableField> path(portable ? new ect::PortableField : nullptr);
    for (size_t i = 0; i < keys.size(); ++i) {
      const Bytes& d = keys[i];
      // A fresh peer point from OpenSSL.
      Bytes peer_d(c.L, 0), qx, qy;
      RAND_bytes(peer_d.data() + 3, 65);
      ect::ossl_mul_g(c, peer_d, &qx, &qy);
      ect::PriKey pri(c.id, d);
      ect::PubKey pub(c.id, qx, qy);
      Bytes ss(c.L);
      uint32_t len = c.L;
      ASSERT_EQ(0u, ecdh_derive_shared_secret(&pri.k, &pub.k, &len, ss.data())) << zt::hex(d);
      // OpenSSL: d (peer_d G) = (d peer_d) G, through its own point product.
      ect::GroupPtr g(EC_GROUP_new_by_curve_name(c.nid));
      ect::PointPtr q(EC_POINT_new(g.get())), r(EC_POINT_new(g.get()));
      ect::BnPtr bx = ect::bn(qx), by = ect::bn(qy), bd = ect::bn(d), rx(BN_new()), ry(BN_new());
      ASSERT_EQ(1, EC_POINT_set_affine_coordinates(g.get(), q.get(), bx.get(), by.get(), nullptr));
      ASSERT_EQ(1, EC_POINT_mul(g.get(), r.get(), nullptr, q.get(), bd.get(), nullptr));
      ASSERT_EQ(1, EC_POINT_get_affine_coordinates(g.get(), r.get(), rx.get(), ry.get(), nullptr));
      EXPECT_EQ(zt::hex(ect::bytes_of(rx.get(), c.L)), zt::hex(ss)) << (portable ? "portable " : "cpu ")
                                                                    << zt::hex(d);
    }
  }
}

}  // namespace
