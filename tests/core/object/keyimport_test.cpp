// Key import through the core's API: EC scalars and points checked on their
// curve, RSA components that must make one key, the raw blobs they become,
// and an RSA key object's public values read without its private part
// leaving the core. OpenSSL makes the keys and is the oracle.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>

#include "core/object/object_fixture.h"
#include "zeb/vrk_keyimport.h"

namespace zt {
namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Bytes bn(EVP_PKEY* k, const char* name, size_t pad = 0) {
  BIGNUM* b = nullptr;
  if (EVP_PKEY_get_bn_param(k, name, &b) != 1) return {};
  Bytes out(pad != 0 ? pad : static_cast<size_t>(BN_num_bytes(b)));
  BN_bn2binpad(b, out.data(), static_cast<int>(out.size()));
  BN_free(b);
  return out;
}

Bytes ec_point(EVP_PKEY* k) {
  size_t n = 0;
  EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &n);
  Bytes out(n);
  EVP_PKEY_get_octet_string_param(k, OSSL_PKEY_PARAM_PUB_KEY, out.data(), n, &n);
  return out;
}

Bytes der_octet_string(const Bytes& v) {
  Bytes out{0x04};
  if (v.size() >= 0x80) out.push_back(0x81);
  out.push_back(static_cast<uint8_t>(v.size()));
  out.insert(out.end(), v.begin(), v.end());
  return out;
}

Pkey rsa_key(int bits) { return Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits))); }

struct Blob {
  VRK_RV rv;
  Bytes bytes;
};

template <class F>
Blob blob(F build) {
  Bytes out(4096);
  VRK_UINT32 len = static_cast<VRK_UINT32>(out.size());
  const VRK_RV rv = build(out.data(), &len);
  out.resize(rv == 0 ? len : 0);
  return {rv, out};
}

class KeyImport : public ObjectHsm {};

TEST_F(KeyImport, EcScalarsMustLieBelowTheOrder) {
  // n of P-256 (FIPS 186-4 D.1.2.3).
  Bytes n = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
             0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};
  Bytes n_minus_1 = n;
  n_minus_1.back() = 0x50;
  const Bytes one = {0, 0, 1};  // leading zero bytes are no part of the value
  struct Case {
    const char* name;
    Bytes d;
    VRK_RV rv;
  } cases[] = {{"0", Bytes(32, 0), VRK_ERR_KEY_VALUE}, {"n", n, VRK_ERR_KEY_VALUE},
               {"33 bytes", Bytes(33, 1), VRK_ERR_KEY_VALUE}, {"n-1", n_minus_1, 0}, {"1", one, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Blob b = blob([&](uint8_t* out, VRK_UINT32* len) {
      return VRK_ECImportPrivateKey(VRK_CURVE_NIST_P256, c.d.data(), static_cast<VRK_UINT32>(c.d.size()), out, len);
    });
    EXPECT_EQ(b.rv, c.rv);
    if (c.rv != 0) continue;
    // Curve id, three zero bytes, d right-aligned in 32 bytes.
    ASSERT_EQ(b.bytes.size(), 36u);
    EXPECT_EQ(Bytes(b.bytes.begin(), b.bytes.begin() + 4), (Bytes{VRK_CURVE_NIST_P256, 0, 0, 0}));
    EXPECT_EQ(b.bytes.back(), c.d.back());
  }
  uint8_t small[8];
  VRK_UINT32 len = sizeof small;
  EXPECT_EQ(VRK_ECImportPrivateKey(VRK_CURVE_NIST_P256, one.data(), 3, small, &len), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(len, 36u);
  EXPECT_EQ(VRK_ECImportPrivateKey(0x77, one.data(), 3, small, &len), VRK_ERR_KEY_VALUE);
}

TEST_F(KeyImport, EcPointsMustLieOnTheirCurveAndComeBackInTheirSec1Form) {
  const struct {
    const char* curve;
    uint8_t id;
    uint32_t L;
  } curves[] = {{"P-256", VRK_CURVE_NIST_P256, 32}, {"P-521", VRK_CURVE_NIST_P521, 68},
                {"brainpoolP384r1", VRK_CURVE_BP384R1, 48}};
  for (const auto& c : curves) {
    SCOPED_TRACE(c.curve);
    Pkey k(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", c.curve));
    const Bytes bare = ec_point(k.get());
    for (const Bytes& given : {bare, der_octet_string(bare)}) {
      const Blob b = blob([&](uint8_t* out, VRK_UINT32* len) {
        return VRK_ECImportPublicKey(c.id, given.data(), static_cast<VRK_UINT32>(given.size()), out, len);
      });
      ASSERT_EQ(b.rv, 0u);
      EXPECT_EQ(b.bytes.size(), 4 + 2 * c.L);
      Bytes point(200);
      VRK_UINT32 n = 0;
      ASSERT_EQ(VRK_ECPublicKeyToPoint(b.bytes.data(), static_cast<VRK_UINT32>(b.bytes.size()), nullptr, &n), 0u);
      EXPECT_EQ(n, der_octet_string(bare).size());
      n = static_cast<VRK_UINT32>(point.size());
      ASSERT_EQ(VRK_ECPublicKeyToPoint(b.bytes.data(), static_cast<VRK_UINT32>(b.bytes.size()), point.data(), &n), 0u);
      point.resize(n);
      EXPECT_EQ(point, der_octet_string(bare));
    }
    Bytes off = bare;
    off.back() ^= 1;  // y no longer fits x
    Bytes compressed = bare;
    compressed[0] = 0x02;
    for (const Bytes& bad : {off, compressed, Bytes(bare.begin(), bare.end() - 1)}) {
      const Blob b = blob([&](uint8_t* out, VRK_UINT32* len) {
        return VRK_ECImportPublicKey(c.id, bad.data(), static_cast<VRK_UINT32>(bad.size()), out, len);
      });
      EXPECT_EQ(b.rv, VRK_ERR_KEY_VALUE);
    }
  }
}

TEST_F(KeyImport, RsaComponentsMustMakeOneKey) {
  Pkey k = rsa_key(2048);
  const Bytes n = bn(k.get(), OSSL_PKEY_PARAM_RSA_N), e = bn(k.get(), OSSL_PKEY_PARAM_RSA_E);
  const Bytes d = bn(k.get(), OSSL_PKEY_PARAM_RSA_D), p = bn(k.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  const Bytes q = bn(k.get(), OSSL_PKEY_PARAM_RSA_FACTOR2), dp = bn(k.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
  Bytes wrong_d = d;
  wrong_d.back() ^= 2;
  Bytes wrong_dp = dp;
  wrong_dp.back() ^= 2;
  const Bytes short_n(n.begin() + 3, n.end());
  struct Case {
    const char* name;
    const Bytes *n, *d, *p, *q, *dp;
    VRK_RV rv;
  } cases[] = {
      {"n, e, d", &n, &d, nullptr, nullptr, nullptr, 0},
      {"with p, q and dp", &n, &d, &p, &q, &dp, 0},
      {"another d", &n, &wrong_d, nullptr, nullptr, nullptr, VRK_ERR_KEY_VALUE},
      {"another dp", &n, &d, &p, &q, &wrong_dp, VRK_ERR_KEY_VALUE},
      {"p without q", &n, &d, &p, nullptr, nullptr, VRK_ERR_KEY_VALUE},
      {"p for q", &n, &d, &p, &p, nullptr, VRK_ERR_KEY_VALUE},
      {"2024-bit modulus", &short_n, &d, nullptr, nullptr, nullptr, VRK_ERR_KEY_SIZE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VRK_RSA_COMPONENTS rc{};
    rc.n = c.n->data();
    rc.n_len = static_cast<VRK_UINT32>(c.n->size());
    rc.e = e.data();
    rc.e_len = static_cast<VRK_UINT32>(e.size());
    rc.d = c.d->data();
    rc.d_len = static_cast<VRK_UINT32>(c.d->size());
    if (c.p != nullptr) rc.p = c.p->data(), rc.p_len = static_cast<VRK_UINT32>(c.p->size());
    if (c.q != nullptr) rc.q = c.q->data(), rc.q_len = static_cast<VRK_UINT32>(c.q->size());
    if (c.dp != nullptr) rc.dp = c.dp->data(), rc.dp_len = static_cast<VRK_UINT32>(c.dp->size());
    EXPECT_EQ(blob([&](uint8_t* out, VRK_UINT32* len) { return VRK_RSAImportPrivateKey(&rc, out, len); }).rv, c.rv);
  }
  const Bytes even_e = {0x01, 0x00, 0x00};
  EXPECT_EQ(blob([&](uint8_t* out, VRK_UINT32* len) {
              return VRK_RSAImportPublicKey(n.data(), 256, even_e.data(), 3, out, len);
            }).rv,
            VRK_ERR_KEY_VALUE);
  const Blob pub = blob([&](uint8_t* out, VRK_UINT32* len) {
    return VRK_RSAImportPublicKey(n.data(), 256, e.data(), static_cast<VRK_UINT32>(e.size()), out, len);
  });
  ASSERT_EQ(pub.rv, 0u);
  EXPECT_EQ(pub.bytes.size(), 4 + 2 * 256u);  // size, flags, n, e of the modulus's length
}

// The modulus and exponent of an RSA private key object, token or session,
// as the core hands it out: equal to OpenSSL's, with nothing else returned.
TEST_F(KeyImport, AnRsaPrivateKeyGivesItsPublicValuesOnly) {
  Pkey k = rsa_key(2048);
  const Bytes n = bn(k.get(), OSSL_PKEY_PARAM_RSA_N), e = bn(k.get(), OSSL_PKEY_PARAM_RSA_E);
  const Bytes d = bn(k.get(), OSSL_PKEY_PARAM_RSA_D);
  VRK_RSA_COMPONENTS rc{};
  rc.n = n.data(), rc.n_len = 256, rc.e = e.data(), rc.e_len = static_cast<VRK_UINT32>(e.size());
  rc.d = d.data(), rc.d_len = static_cast<VRK_UINT32>(d.size());
  const Blob raw = blob([&](uint8_t* out, VRK_UINT32* len) { return VRK_RSAImportPrivateKey(&rc, out, len); });
  ASSERT_EQ(raw.rv, 0u);
  const Kind rsa{"rsa", VRK_OBJ_PRIVATEKEY, VRK_KEY_RSA2048};
  const Bytes session_form = make(rsa, "rsa", "rsa", raw.bytes);
  const Bytes token_form = read(save(session_form));
  for (const Bytes* obj : {&session_form, &token_form}) {
    Bytes mod(512, 0xEE), exp(512, 0xEE);
    VRK_UINT32 mod_len = static_cast<VRK_UINT32>(mod.size()), exp_len = static_cast<VRK_UINT32>(exp.size());
    ASSERT_EQ(VRK_RSAGetPublicComponents(s, const_cast<uint8_t*>(obj->data()), static_cast<VRK_UINT32>(obj->size()),
                                         mod.data(), &mod_len, exp.data(), &exp_len),
              0u);
    EXPECT_EQ(Bytes(mod.begin(), mod.begin() + mod_len), n);
    EXPECT_EQ(Bytes(exp.begin(), exp.begin() + exp_len), e);
    EXPECT_EQ(mod[mod_len], 0xEE);  // nothing written past the values
    VRK_UINT32 short_len = 100;
    exp_len = static_cast<VRK_UINT32>(exp.size());
    EXPECT_EQ(VRK_RSAGetPublicComponents(s, const_cast<uint8_t*>(obj->data()), static_cast<VRK_UINT32>(obj->size()),
                                         mod.data(), &short_len, exp.data(), &exp_len),
              VRK_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(short_len, 256u);
  }
  // The object is checked: one bit changed and it is refused.
  Bytes altered = session_form;
  altered[100] ^= 1;
  VRK_UINT32 a = 512, b = 512;
  Bytes mod(512), exp(512);
  EXPECT_NE(VRK_RSAGetPublicComponents(s, altered.data(), static_cast<VRK_UINT32>(altered.size()), mod.data(), &a,
                                       exp.data(), &b),
            0u);
  // An EC key is no RSA key.
  const Bytes ec = make(kKinds[2], "ec", "ec", pattern(36, 3));
  EXPECT_EQ(VRK_RSAGetPublicComponents(s, const_cast<uint8_t*>(ec.data()), static_cast<VRK_UINT32>(ec.size()),
                                       mod.data(), &a, exp.data(), &b),
            VRK_ERR_KEY_VALUE);
  // The token user's login is needed.
  ASSERT_EQ(VRK_LogoutTokenNormalUser(s), 0u);
  EXPECT_EQ(VRK_RSAGetPublicComponents(s, const_cast<uint8_t*>(session_form.data()),
                                       static_cast<VRK_UINT32>(session_form.size()), mod.data(), &a, exp.data(), &b),
            VRK_ERR_USER_NOT_LOGGED_IN);
}

}  // namespace
}  // namespace zt
