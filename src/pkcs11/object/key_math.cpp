// EC point and scalar checks and RSA blobs from components, over quarzel.
#include "object/key_math.h"

#include <cstring>

#include "quarzel/ecc.h"
#include "quarzel/mpi.h"
#include "quarzel/rsa.h"

namespace zebp11::keymath {

namespace {

// Library key objects released (private values wiped) with the scope.
struct EcPub {
  ecc_pubkey_t k{};
  ~EcPub() {
    if (k.state != 0) (void)ecc_pubkey_value_free(&k);
  }
};
struct EcPri {
  ecc_prikey_t k{};
  ~EcPri() {
    if (k.state != 0) (void)ecc_prikey_value_free(&k);
  }
};
struct RsaPri {
  rsa_prikey_t k{};
  ~RsaPri() {
    if (k.state != 0) (void)rsa_prikey_value_free(&k);
  }
};
struct RsaPub {
  rsa_pubkey_t k{};
  ~RsaPub() {
    if (k.state != 0) (void)rsa_pubkey_value_free(&k);
  }
};

bool supported_bits(uint32_t bits) { return bits == 1024 || bits == 2048 || bits == 3072 || bits == 4096; }

// A right-aligned copy of `v` in `len` bytes; false when it does not fit.
bool fit(Bytes v, uint32_t len, uint8_t* out) {
  v = significant(v);
  if (v.size() > len) return false;
  std::memset(out, 0, len - v.size());
  if (!v.empty()) std::memcpy(out + len - v.size(), v.data(), v.size());
  return true;
}

bool is_odd(Bytes v) { return !v.empty() && (v.back() & 1) != 0; }

// a * b == n, all big-endian: H-byte factors, L-byte n.
bool product_is(const uint8_t* a, const uint8_t* b, uint32_t H, const uint8_t* n, uint32_t L) {
  quarzel::SecretBytes prod(2 * H);
  if (mpbn_mul(MPBN_ENDIAN_MF_U8, H, a, H, b, 2 * H, prod.data()) != 0) return false;
  return 2 * H == L && std::memcmp(prod.data(), n, L) == 0;
}

// The key signs and verifies test values back to themselves.
bool round_trips(const rsa_prikey_t& d, const rsa_pubkey_t& q, uint32_t L) {
  quarzel::SecretBytes m(L), s(L), back(L);
  // Two test values below n: 2, and n with its top byte cleared.
  for (int round = 0; round < 2; ++round) {
    std::memset(m.data(), 0, L);
    if (round == 0) {
      m[L - 1] = 2;
    } else {
      std::memcpy(m.data() + 1, q.n_modulus + 1, L - 1);
    }
    if (rsa_rsasp1(&d, m.data(), s.data()) != 0) return false;
    if (rsa_rsavp1(&q, s.data(), back.data()) != 0) return false;
    if (std::memcmp(m.data(), back.data(), L) != 0) return false;
  }
  return true;
}

}  // namespace

uint32_t ec_length(uint32_t curve) {
  uint32_t L = 0;
  if (ecc_get_length(static_cast<ecc_crv_t>(curve), &L) != 0) return 0;
  return L;
}

uint32_t ec_field_length(uint32_t curve) { return curve == ECC_CRV_NIST_P521 ? 66 : ec_length(curve); }

bool ec_point_valid(uint32_t curve, const uint8_t* x, const uint8_t* y) {
  const uint32_t L = ec_length(curve);
  if (L == 0) return false;
  EcPub Q;
  EcPub G;
  EcPri one;
  const auto crv = static_cast<ecc_crv_t>(curve);
  if (ecc_pubkey_init(&G.k, crv) != 0 || ecc_pubkey_value_alloc(&G.k) != 0 ||
      ecc_pubkey_value_set(&G.k, L, x, L, y) != 0) {
    return false;
  }
  uint32_t on_curve = QZ_FALSE;
  if (ecc_check_point_on_curve(&G.k, &on_curve) != 0 || on_curve != QZ_TRUE) return false;
  // 1 * P comes back reduced modulo p: equal coordinates show both were
  // below p.
  uint8_t d1[ECC_MAX_LEN] = {};
  d1[L - 1] = 1;
  if (ecc_prikey_init(&one.k, crv) != 0 || ecc_prikey_value_alloc(&one.k) != 0 ||
      ecc_prikey_value_set(&one.k, L, d1) != 0 || ecc_pubkey_init(&Q.k, crv) != 0 ||
      ecc_pubkey_value_alloc(&Q.k) != 0 || ecc_gen_puk_from_prk_custom_base(&one.k, &G.k, &Q.k) != 0) {
    return false;
  }
  return std::memcmp(Q.k.q_point_x, x, L) == 0 && std::memcmp(Q.k.q_point_y, y, L) == 0;
}

bool ec_scalar_valid(uint32_t curve, Bytes scalar, uint8_t* d) {
  const uint32_t L = ec_length(curve);
  if (L == 0 || !fit(scalar, L, d)) return false;
  // Deriving the public key refuses 0 and every scalar from n on.
  EcPri k;
  EcPub Q;
  const auto crv = static_cast<ecc_crv_t>(curve);
  return ecc_prikey_init(&k.k, crv) == 0 && ecc_prikey_value_alloc(&k.k) == 0 &&
         ecc_prikey_value_set(&k.k, L, d) == 0 && ecc_pubkey_init(&Q.k, crv) == 0 &&
         ecc_pubkey_value_alloc(&Q.k) == 0 && ecc_gen_puk_from_prk(&k.k, &Q.k) == 0;
}

RsaResult rsa_private_blob(const RsaComponents& c, quarzel::SecretBytes& blob) {
  const Bytes n = significant(c.n);
  const uint32_t bits = static_cast<uint32_t>(n.size()) * 8;
  if (!supported_bits(bits)) return RsaResult::kUnsupportedSize;
  const uint32_t L = bits / 8;
  const uint32_t H = L / 2;
  const bool crt = !c.p.empty() || !c.q.empty();
  quarzel::SecretBytes e(L), d(L), p(H), q(H), dp(H), dq(H), qinv(H);
  if (!is_odd(n) || !is_odd(c.e) || (significant(c.e).size() == 1 && significant(c.e)[0] < 3)) {
    return RsaResult::kInconsistent;
  }
  if (!fit(c.e, L, e.data()) || !fit(c.d, L, d.data()) || significant(c.d).empty()) return RsaResult::kInconsistent;
  if (std::memcmp(d.data(), n.data(), L) >= 0) return RsaResult::kInconsistent;
  if (crt) {
    if (!fit(c.p, H, p.data()) || !fit(c.q, H, q.data()) || !product_is(p.data(), q.data(), H, n.data(), L)) {
      return RsaResult::kInconsistent;
    }
    if (rsa_gen_crt_component_from_prikey(bits, d.data(), p.data(), q.data(), dp.data(), dq.data(), qinv.data()) !=
        0) {
      return RsaResult::kInconsistent;
    }
    // CRT values a client sends must be the ones that follow from d, p, q.
    const Bytes given[] = {c.dp, c.dq, c.qinv};
    const uint8_t* derived[] = {dp.data(), dq.data(), qinv.data()};
    quarzel::SecretBytes tmp(H);
    for (size_t i = 0; i < 3; ++i) {
      if (given[i].empty()) continue;
      if (!fit(given[i], H, tmp.data()) || std::memcmp(tmp.data(), derived[i], H) != 0) return RsaResult::kInconsistent;
    }
  }
  RsaPri key;
  RsaPub pub;
  const auto size = static_cast<rsa_size_t>(bits);
  if (rsa_prikey_init(&key.k, size) != 0 ||
      rsa_prikey_value_alloc(&key.k, crt ? RSA_KEYTYPE_CRTFAST : RSA_KEYTYPE_NONCRT) != 0 ||
      rsa_pubkey_init(&pub.k, size) != 0 || rsa_pubkey_value_alloc(&pub.k) != 0) {
    return RsaResult::kFailed;
  }
  const uint32_t h = crt ? H : 0;
  if (rsa_prikey_value_set(&key.k, L, n.data(), L, e.data(), L, d.data(), h, p.data(), h, q.data(), h, dp.data(), h,
                           dq.data(), h, qinv.data()) != 0 ||
      rsa_pubkey_value_set(&pub.k, L, n.data(), L, e.data()) != 0) {
    return RsaResult::kInconsistent;
  }
  if (!round_trips(key.k, pub.k, L)) return RsaResult::kInconsistent;
  if (crt) {
    // The CRT path above never used d itself: check it alone too.
    quarzel::SecretBytes m(L), s(L), back(L);
    m[L - 1] = 3;
    if (rsa_power(bits, m.data(), n.data(), d.data(), s.data()) != 0 || rsa_rsavp1(&pub.k, s.data(), back.data()) != 0 ||
        std::memcmp(m.data(), back.data(), L) != 0) {
      return RsaResult::kInconsistent;
    }
  }
  uint32_t len = 0;
  (void)rsa_prikey_to_raw(&key.k, &len, nullptr);
  blob.assign(len, 0);
  if (rsa_prikey_to_raw(&key.k, &len, blob.data()) != 0) return RsaResult::kFailed;
  blob.resize(len);
  return RsaResult::kOk;
}

RsaResult rsa_public_blob(Bytes n_given, Bytes e_given, quarzel::SecretBytes& blob) {
  const Bytes n = significant(n_given);
  const uint32_t bits = static_cast<uint32_t>(n.size()) * 8;
  if (!supported_bits(bits)) return RsaResult::kUnsupportedSize;
  const uint32_t L = bits / 8;
  const Bytes e = significant(e_given);
  if (!is_odd(n) || !is_odd(e) || (e.size() == 1 && e[0] < 3) || e.size() > L) return RsaResult::kInconsistent;
  RsaPub pub;
  if (rsa_pubkey_init(&pub.k, static_cast<rsa_size_t>(bits)) != 0 || rsa_pubkey_value_alloc(&pub.k) != 0) {
    return RsaResult::kFailed;
  }
  if (rsa_pubkey_value_set(&pub.k, L, n.data(), static_cast<uint32_t>(e.size()), e.data()) != 0) {
    return RsaResult::kInconsistent;
  }
  uint32_t len = 2 * L + 4;
  blob.assign(len, 0);
  if (rsa_pubkey_to_raw(&pub.k, &len, blob.data()) != 0) return RsaResult::kFailed;
  blob.resize(len);
  return RsaResult::kOk;
}

bool rsa_public_parts(Bytes blob, bool is_private, quarzel::SecretBytes& n, quarzel::SecretBytes& e) {
  const auto len = static_cast<uint32_t>(blob.size());
  const uint8_t* n_buf = nullptr;
  const uint8_t* e_buf = nullptr;
  uint32_t L = 0;
  RsaPri d;
  RsaPub q;
  if (is_private) {
    rsa_size_t size{};
    rsa_keytype_t type{};
    if (rsa_raw_prikey_get_length(len, blob.data(), &size, &type) != 0 || !supported_bits(size) ||
        rsa_prikey_init(&d.k, size) != 0 || rsa_prikey_value_alloc(&d.k, type) != 0 ||
        rsa_raw_to_prikey(len, blob.data(), &d.k) != 0) {
      return false;
    }
    n_buf = d.k.n_modulus;
    e_buf = d.k.e_exponent;
    L = size / 8;
  } else {
    rsa_size_t size{};
    if (rsa_raw_pubkey_get_length(len, blob.data(), &size) != 0 || !supported_bits(size) ||
        rsa_pubkey_init(&q.k, size) != 0 || rsa_pubkey_value_alloc(&q.k) != 0 ||
        rsa_raw_to_pubkey(len, blob.data(), &q.k) != 0) {
      return false;
    }
    n_buf = q.k.n_modulus;
    e_buf = q.k.e_exponent;
    L = size / 8;
  }
  if (n_buf == nullptr || e_buf == nullptr) return false;
  const Bytes nn = significant({n_buf, L});
  const Bytes ee = significant({e_buf, L});
  n.assign(nn.begin(), nn.end());
  e.assign(ee.begin(), ee.end());
  return !n.empty() && !e.empty();
}

}  // namespace zebp11::keymath
