// Point engine of one curve: the blinded Montgomery ladder, the fixed-base
// and fixed-window multiplications, point addition, curve tests, and the
// scalar arithmetic modulo n that ECDSA needs; and the registry of the
// process's groups.
//
// The field arithmetic is hundreds of thousands of small limb operations per
// second of tests; an unoptimised (debug, sanitizer) build would spend minutes
// on the curve vectors. Optimise this file even there; the sanitizers still
// instrument it.
#if !defined(__OPTIMIZE__) && defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2")
#endif
// GCC vectorises the masked selections of the field code (two limbs per
// SSE register) over limbs just stored one by one: every such load waits for
// a failed store forwarding, and the point formulas ran at two thirds of the
// scalar code's speed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-vectorize")
#endif

#include "ec/engine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#include "ec/curves.h"
#include "ec/field.h"
#include "ec/jacobian.h"
#include "ec/scalar_mul.h"
#include "quarzel/port.h"

namespace quarzel::ec {
namespace {

constexpr uint32_t kBlindFactor = 0x2BCDEF;   // scalar blinding multiple of n
constexpr uint32_t kMaskWord = 0x89ABCDEF;    // ladder mask pattern and rescaling word
constexpr size_t kMaxKLimbs = 9;              // 17 words of 32 bits fit in 9 limbs

// Most-significant-first 32-bit words to little-endian 64-bit limbs.
void words_to_limbs(u64* r, size_t nl, const uint32_t* w, size_t nw) {
  for (size_t j = 0; j < nl; ++j) r[j] = 0;
  for (size_t i = 0; i < nw; ++i) {
    const size_t pos = nw - 1 - i;  // word significance
    r[pos / 2] |= static_cast<u64>(w[i]) << (32 * (pos % 2));
  }
}

template <size_t N>
class EngineImpl final : public ecpi_group_t {
 public:
  explicit EngineImpl(const ecpbn_dp_t& dp) {
    id_ = 0;
    nw_ = dp.crv_nw;
    nw_zdn_p_ = dp.nw_zdn_p;
    byte_size_ = 4 * dp.crv_nw;
    nbits_ = dp.crv_nbits;
    u64 tmp[N];
    words_to_limbs(tmp, N, dp.crv_p, nw_);
    fp_.init(tmp);
    words_to_limbs(n_l_, N, dp.crv_n, nw_);
    fn_.init(n_l_);
    words_to_limbs(tmp, N, dp.crv_a, nw_);
    fp_.to_mont(a_, tmp);
    {  // a = -3 (the NIST curves) has a cheaper doubling, chosen by a null a.
      u64 three[N] = {}, minus3[N] = {};
      fp_.add(three, fp_.one, fp_.one);
      fp_.add(three, three, fp_.one);
      fp_.sub(minus3, minus3, three);
      dbl_a_ = fe_eq_mask<N>(minus3, a_) != 0 ? nullptr : a_;
    }
    words_to_limbs(tmp, N, dp.crv_b, nw_);
    fp_.to_mont(b_, tmp);
    // lambda: crv_nw words of the mask word, reduced by the Montgomery product.
    for (size_t j = 0; j < N; ++j) tmp[j] = 0;
    for (uint32_t i = 0; i < nw_; ++i) tmp[i / 2] |= static_cast<u64>(kMaskWord) << (32 * (i % 2));
    fp_.to_mont(lambda_, tmp);
    // blind = kBlindFactor * n over the working width.
    u64 carry = 0;
    for (size_t j = 0; j < kMaxKLimbs; ++j) {
      const u128 x = static_cast<u128>(j < N ? n_l_[j] : 0) * kBlindFactor + carry;
      blind_[j] = static_cast<u64>(x);
      carry = static_cast<u64>(x >> 64);
    }
    u64 gx[N], gy[N];
    words_to_limbs(gx, N, dp.crv_Gx, nw_);
    words_to_limbs(gy, N, dp.crv_Gy, nw_);
    fe_to_bytes<N>(g_.x, byte_size_, gx);
    fe_to_bytes<N>(g_.y, byte_size_, gy);
    g_.z = 1;
    fe_to_bytes<N>(n_, byte_size_, n_l_);
    // K = k + 0x2BCDEF n < 2^(8L) + 2^(nbits + 22) for any L-byte k: the
    // working width holds it on every curve but P-521, whose working width
    // is its field width and whose K may carry into one bit more.
    const size_t k_bound = std::max<size_t>(8 * static_cast<size_t>(byte_size_), nbits_ + 22) + 1;
    ladder_bits_ = std::max<size_t>(32 * static_cast<size_t>(nw_zdn_p_), k_bound);
  }
  void set_id(uint32_t id) { id_ = id; }

  core_ret_t mul(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx, uint8_t* ry,
                 bool* infinity) const override;
  core_ret_t mul_base(const uint8_t* k, uint8_t* rx, uint8_t* ry, bool* infinity) const override;
  core_ret_t mul_window(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx, uint8_t* ry,
                        bool* infinity) const override;
  core_ret_t mul_dual_vartime(const uint8_t* u1, const uint8_t* u2, const uint8_t* qx, const uint8_t* qy,
                              uint8_t* rx, uint8_t* ry, bool* infinity) const override;
  core_ret_t add(const uint8_t* px, const uint8_t* py, const uint8_t* qx, const uint8_t* qy,
                 uint8_t* rx, uint8_t* ry, bool* infinity) const override;
  bool on_curve(const uint8_t* x, const uint8_t* y) const override;
  void ecdsa_rs(const uint8_t* d, const uint8_t* e, const uint8_t* k, const uint8_t* x, uint8_t* r,
                uint8_t* s) const override;
  void ecdsa_u1u2(const uint8_t* e, const uint8_t* r, const uint8_t* s, uint8_t* u1,
                  uint8_t* u2) const override;
  core_ret_t ecdsa_check_vartime(const uint8_t* u1, const uint8_t* u2, const uint8_t* qx, const uint8_t* qy,
                                 const uint8_t* r, bool* match) const override;
  void reduce_to_scalar(const uint8_t* c, size_t c_len, uint8_t* d) const override;
  bool uses_adx() const override { return fp_.adx; }
  bool uses_special_form() const override { return fp_.p521; }
  bool uses_window_kernels() const override {
    if constexpr (N == 4) return p256_window_adx_applies(fp_, dbl_a_);
    if constexpr (N == 9) return p521_window_adx_applies(fp_, dbl_a_);
    return false;
  }
  void force_portable(bool portable) override {
    portable_ = portable;
    choose_products();
  }
  void force_general(bool general) override {
    general_ = general;
    choose_products();
  }

 private:
  using P = ecpbn_proj_t<N>;

  // The field products under the test seams: the prime's form unless the
  // general reduction is asked for, BMI2/ADX unless the portable code is.
  void choose_products() {
    fp_.use_special_form(!general_);
    const bool adx = !portable_ && cpu_has_adx();
    fn_.adx = adx && N == 4;
    fp_.adx = adx && (N == 4 || fp_.p521);
  }

  void dbl(P& r, const P& p) const { ecpbn_zdn_proj_double<N>(fp_, dbl_a_, r, p); }
  void add_jac(P& r, const P& p1, const P& p2) const { ecpbn_zdn_proj_add<N>(fp_, r, p1, p2); }
  bool on_curve_jac(const P& p) const { return ecpbn_zdn_proj_on_curve<N>(fp_, a_, b_, p); }
  // Affine coordinates (L bytes, any value below 2^(8L)) in Montgomery form.
  void load_affine(u64* x, u64* y, const uint8_t* bx, const uint8_t* by) const {
    fe_from_bytes<N>(x, bx, byte_size_);
    fe_from_bytes<N>(y, by, byte_size_);
    fp_.to_mont(x, x);
    fp_.to_mont(y, y);
  }
  void store_affine(uint8_t* bx, uint8_t* by, const P& p) const {
    u64 x[N], y[N];
    ecpbn_zdn_proj_normalize<N>(fp_, x, y, p);
    fe_to_bytes<N>(bx, byte_size_, x);
    fe_to_bytes<N>(by, byte_size_, y);
    secure_wipe(x, sizeof x);  // an ECDH result is a shared secret
    secure_wipe(y, sizeof y);
  }
  // Plain integer (L bytes, may exceed n) to Montgomery form modulo n.
  void load_mod_n(u64* r, const uint8_t* b) const {
    fe_from_bytes<N>(r, b, byte_size_);
    fn_.to_mont(r, r);
  }
  void store_mod_n(uint8_t* b, const u64* a) const {
    u64 t[N];
    fn_.from_mont(t, a);
    fe_to_bytes<N>(b, byte_size_, t);
  }

  // K = k + 0x2BCDEF * n, exact over ladder_bits_ bits.
  void blind_scalar(u64* kk, const uint8_t* k) const {
    const size_t kbits = ladder_bits_;
    u64 kl[kMaxKLimbs] = {};
    fe_from_bytes<kMaxKLimbs>(kl, k, byte_size_);
    u64 c = 0;
    for (size_t j = 0; j < kMaxKLimbs; ++j) {
      const u128 x = static_cast<u128>(kl[j]) + blind_[j] + c;
      kk[j] = static_cast<u64>(x);
      c = static_cast<u64>(x >> 64);
    }
    if (kbits % 64 != 0) kk[kbits / 64] &= (u64{1} << (kbits % 64)) - 1;
    for (size_t j = (kbits + 63) / 64; j < kMaxKLimbs; ++j) kk[j] = 0;
    secure_wipe(kl, sizeof kl);
  }
  // Multiples of G for every window of a blinded scalar, built on first use.
  const BaseTable<N>& base_table() const {
    std::call_once(table_once_, [this] {
      Aff<N> g;
      load_affine(g.x, g.y, g_.x, g_.y);
      table_.build(fp_, dbl_a_, g, 8 * static_cast<size_t>(byte_size_));
    });
    return table_;
  }
  // The common end of the multiplications: infinity, curve check, output.
  core_ret_t finish(const P& q, uint8_t* rx, uint8_t* ry, bool* infinity) const;
  [[nodiscard]] core_ret_t dual_product(const uint8_t* u1, const uint8_t* u2, const uint8_t* qx, const uint8_t* qy,
                                        P& out) const;

  mutable std::once_flag table_once_;
  mutable BaseTable<N> table_;
  Mont<N> fp_{}, fn_{};
  u64 a_[N]{}, b_[N]{}, lambda_[N]{};
  const u64* dbl_a_ = nullptr;  // a for the doubling formulas; null when a = -3
  u64 n_l_[N]{};
  u64 blind_[kMaxKLimbs]{};
  uint32_t nw_ = 0, nw_zdn_p_ = 0;
  size_t ladder_bits_ = 0;  // steps of the ladder: every bit K may have
  bool portable_ = false, general_ = false;
};

template <size_t N>
core_ret_t EngineImpl<N>::mul(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx,
                              uint8_t* ry, bool* infinity) const {
  bool tables_ok = false;
  const core_ret_t ret = curve_integrity_once(id_, &tables_ok);
  if (ret != 0) return ret;
  if (!tables_ok) return ECPBN_ERR_MUL_CHECKSUM;

  // Every secret of the multiplication lives here and is wiped on return.
  struct Scratch {
    P r[3];
    u64 kk[kMaxKLimbs];
  } s;
  struct Wipe {
    Scratch& s;
    ~Wipe() { secure_wipe(&s, sizeof s); }
  } wipe{s};

  // Base point, rescaled to (l^2 x, l^3 y, l): same affine point, other Z.
  P& base = s.r[1];
  load_affine(base.x, base.y, px, py);
  std::memcpy(base.z, fp_.one, sizeof base.z);
  ecpbn_zdn_proj_rand_proj<N>(fp_, lambda_, base, base);

  const size_t kbits = ladder_bits_;
  blind_scalar(s.kk, k);

  ecpbn_zdn_proj_set_infinity<N>(fp_, s.r[0]);
  if (!on_curve_jac(base)) return ECPBN_ERR_MUL_NOT_ON_CURVE;

  // Ladder over every bit of K, leading zeros included. The pair (A, A+P) is
  // held as (R0, R1) when m = 0 and swapped when m = 1; the mask bit d decides
  // the storage order of the next step.
  u64 m = 0;
  for (size_t i = kbits; i-- > 0;) {
    const u64 b = (s.kk[i / 64] >> (i % 64)) & 1;
    const u64 d = (kMaskWord >> (i % 32)) & 1;
    ecpbn_zdn_proj_select<N>(s.r[2], ct::mask_from_bit<u64>(b ^ m), s.r[1], s.r[0]);
    dbl(s.r[2], s.r[2]);
    add_jac(s.r[1], s.r[0], s.r[1]);
    const u64 t = ct::mask_from_bit<u64>(b ^ d);
    ecpbn_zdn_proj_select<N>(s.r[0], t, s.r[1], s.r[2]);
    ecpbn_zdn_proj_select<N>(s.r[1], t, s.r[2], s.r[1]);
    m = d;
  }
  P& q = s.r[0];
  ecpbn_zdn_proj_select<N>(q, ct::mask_from_bit<u64>(m), s.r[1], s.r[0]);

  return finish(q, rx, ry, infinity);
}

template <size_t N>
core_ret_t EngineImpl<N>::finish(const P& q, uint8_t* rx, uint8_t* ry, bool* infinity) const {
  // Infinity is an output (never reached by a scalar in [1, n-1] on a point
  // of order n), and the curve check only fails on a fault: both public.
  if (ct::declassify(fe_is_zero_mask<N>(q.z)) != 0) {
    *infinity = true;
    return 0;
  }
  *infinity = false;
  if (!ct::declassify(on_curve_jac(q))) return ECPBN_ERR_MUL_NOT_ON_CURVE;
  store_affine(rx, ry, q);
  return 0;
}

template <size_t N>
core_ret_t EngineImpl<N>::mul_base(const uint8_t* k, uint8_t* rx, uint8_t* ry, bool* infinity) const {
  bool tables_ok = false;
  const core_ret_t ret = curve_integrity_once(id_, &tables_ok);
  if (ret != 0) return ret;
  if (!tables_ok) return ECPBN_ERR_MUL_CHECKSUM;
  struct Scratch {
    P q;
    u64 kk[N];
  } s;
  struct Wipe {
    Scratch& s;
    ~Wipe() { secure_wipe(&s, sizeof s); }
  } wipe{s};
  fe_from_bytes<N>(s.kk, k, byte_size_);  // every signed digit is read: no blinding needed
  mul_base_ct<N>(fp_, dbl_a_, base_table(), s.q, s.kk, N, nbits_);
  return finish(s.q, rx, ry, infinity);
}

template <size_t N>
core_ret_t EngineImpl<N>::mul_window(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx,
                                     uint8_t* ry, bool* infinity) const {
  bool tables_ok = false;
  const core_ret_t ret = curve_integrity_once(id_, &tables_ok);
  if (ret != 0) return ret;
  if (!tables_ok) return ECPBN_ERR_MUL_CHECKSUM;
  struct Scratch {
    P base, q, table[kBoothEntries + 1];
    u64 kk[N];
  } s;
  struct Wipe {
    Scratch& s;
    ~Wipe() { secure_wipe(&s, sizeof s); }
  } wipe{s};
  load_affine(s.base.x, s.base.y, px, py);
  std::memcpy(s.base.z, fp_.one, sizeof s.base.z);
  if (!on_curve_jac(s.base)) return ECPBN_ERR_MUL_NOT_ON_CURVE;
  // Every signed digit of k is read whatever its value: no blinding needed.
  fe_from_bytes<N>(s.kk, k, byte_size_);
  size_t kbits = 8 * static_cast<size_t>(byte_size_);
  if (kbits > nbits_) {
    // Wider than n (P-521: 544 bits against 521): k mod n has the same
    // product and fewer digits. Two Montgomery products, constant time:
    // k R mod n (k < 2^(8L) <= R), then back.
    fn_.to_mont(s.kk, s.kk);
    fn_.from_mont(s.kk, s.kk);
    kbits = nbits_;
  }
  mul_window_ct<N>(fp_, dbl_a_, s.q, s.base, s.kk, N, kbits, nbits_, s.table);
  return finish(s.q, rx, ry, infinity);
}

template <size_t N>
core_ret_t EngineImpl<N>::mul_dual_vartime(const uint8_t* bu1, const uint8_t* bu2, const uint8_t* qx,
                                           const uint8_t* qy, uint8_t* rx, uint8_t* ry, bool* infinity) const {
  P r;
  const core_ret_t ret = dual_product(bu1, bu2, qx, qy, r);
  if (ret != 0) return ret;
  return finish(r, rx, ry, infinity);
}

// u1 G + u2 Q in Jacobian form, once the curve's tables passed their check.
template <size_t N>
core_ret_t EngineImpl<N>::dual_product(const uint8_t* bu1, const uint8_t* bu2, const uint8_t* qx,
                                       const uint8_t* qy, P& out) const {
  bool tables_ok = false;
  const core_ret_t ret = curve_integrity_once(id_, &tables_ok);
  if (ret != 0) return ret;
  if (!tables_ok) return ECPBN_ERR_MUL_CHECKSUM;
  Aff<N> q;
  load_affine(q.x, q.y, qx, qy);
  u64 u1[N], u2[N];
  fe_from_bytes<N>(u1, bu1, byte_size_);
  fe_from_bytes<N>(u2, bu2, byte_size_);
  ec::mul_dual_vartime<N>(fp_, dbl_a_, base_table(), out, u1, u2, q);
  return 0;
}

template <size_t N>
core_ret_t EngineImpl<N>::add(const uint8_t* px, const uint8_t* py, const uint8_t* qx,
                              const uint8_t* qy, uint8_t* rx, uint8_t* ry, bool* infinity) const {
  P a, b;
  load_affine(a.x, a.y, px, py);
  load_affine(b.x, b.y, qx, qy);
  std::memcpy(a.z, fp_.one, sizeof a.z);
  std::memcpy(b.z, fp_.one, sizeof b.z);
  if ((fe_eq_mask<N>(a.x, b.x) & fe_eq_mask<N>(a.y, b.y)) != 0)
    dbl(b, a);
  else
    add_jac(b, b, a);
  if (fe_is_zero_mask<N>(b.z) != 0) {
    *infinity = true;
    return 0;
  }
  *infinity = false;
  store_affine(rx, ry, b);
  return 0;
}

template <size_t N>
bool EngineImpl<N>::on_curve(const uint8_t* bx, const uint8_t* by) const {
  u64 x[N], y[N], t[N], u[N];
  load_affine(x, y, bx, by);
  fp_.sqr(t, x);
  fp_.add(t, t, a_);
  fp_.mul(t, t, x);
  fp_.add(t, t, b_);
  fp_.sqr(u, y);
  return fe_eq_mask<N>(t, u) != 0;
}

template <size_t N>
void EngineImpl<N>::ecdsa_rs(const uint8_t* bd, const uint8_t* be, const uint8_t* bk,
                             const uint8_t* bx, uint8_t* br, uint8_t* bs) const {
  struct {
    u64 d[N], e[N], k[N], r[N], t[N];
  } v;
  load_mod_n(v.r, bx);  // x < p < 2^(8L): reduced modulo n on the way in
  load_mod_n(v.d, bd);
  load_mod_n(v.e, be);
  load_mod_n(v.k, bk);
  fn_.mul(v.t, v.d, v.r);
  fn_.add(v.t, v.t, v.e);
  fn_.inv_prime(v.k, v.k);
  fn_.mul(v.t, v.t, v.k);
  store_mod_n(br, v.r);
  store_mod_n(bs, v.t);
  secure_wipe(&v, sizeof v);
}

template <size_t N>
void EngineImpl<N>::ecdsa_u1u2(const uint8_t* be, const uint8_t* br, const uint8_t* bs,
                               uint8_t* bu1, uint8_t* bu2) const {
  u64 e[N], r[N], w[N];
  load_mod_n(e, be);
  load_mod_n(r, br);
  load_mod_n(w, bs);
  fn_.inv_prime(w, w);
  fn_.mul(e, e, w);
  fn_.mul(r, r, w);
  store_mod_n(bu1, e);
  store_mod_n(bu2, r);
}

template <size_t N>
core_ret_t EngineImpl<N>::ecdsa_check_vartime(const uint8_t* bu1, const uint8_t* bu2, const uint8_t* qx,
                                              const uint8_t* qy, const uint8_t* br, bool* match) const {
  *match = false;
  P pt;
  const core_ret_t ret = dual_product(bu1, bu2, qx, qy, pt);
  if (ret != 0) return ret;
  if (fe_is_zero_mask<N>(pt.z) != 0) return 0;
  if (!on_curve_jac(pt)) return ECPBN_ERR_MUL_NOT_ON_CURVE;
  // x = X / Z^2 < p, and x mod n = r means x = r or x = r + n.
  u64 zz[N], c[N], t[N];
  fp_.sqr(zz, pt.z);
  fe_from_bytes<N>(c, br, byte_size_);
  for (int pass = 0; pass < 2; ++pass) {
    if (fe_lt<N>(c, fp_.m) == 0) break;
    fp_.to_mont(t, c);
    fp_.mul(t, t, zz);
    if (fe_eq_mask<N>(t, pt.x) != 0) {
      *match = true;
      return 0;
    }
    unsigned char carry = 0;
    for (size_t j = 0; j < N; ++j) carry = addc(carry, c[j], n_l_[j], &c[j]);
    if (carry != 0) break;
  }
  return 0;
}

// Bit-serial reduction modulo n - 1 by masked conditional subtraction, then +1.
template <size_t N>
void EngineImpl<N>::reduce_to_scalar(const uint8_t* c, size_t c_len, uint8_t* bd) const {
  u64 m1[N], acc[N + 1] = {}, diff[N + 1];
  std::memcpy(m1, n_l_, sizeof m1);
  m1[0] &= ~u64{1};  // n is odd
  for (size_t i = 0; i < 8 * c_len; ++i) {
    const u64 bit = (c[i / 8] >> (7 - i % 8)) & 1;
    // acc = 2 acc + bit (acc < n - 1, so it fits in N + 1 limbs)
    u64 carry = bit;
    for (size_t j = 0; j <= N; ++j) {
      const u64 nv = (acc[j] << 1) | carry;
      carry = acc[j] >> 63;
      acc[j] = nv;
    }
    u64 borrow = 0;
    for (size_t j = 0; j <= N; ++j) {
      const u128 x = static_cast<u128>(acc[j]) - (j < N ? m1[j] : 0) - borrow;
      diff[j] = static_cast<u64>(x);
      borrow = static_cast<u64>(x >> 64) & 1;
    }
    const u64 keep = ct::mask_from_bit<u64>(borrow);
    for (size_t j = 0; j <= N; ++j) acc[j] = (acc[j] & keep) | (diff[j] & ~keep);
  }
  u64 carry = 1;
  for (size_t j = 0; j < N; ++j) {
    const u128 x = static_cast<u128>(acc[j]) + carry;
    acc[j] = static_cast<u64>(x);
    carry = static_cast<u64>(x >> 64);
  }
  fe_to_bytes<N>(bd, byte_size_, acc);
  secure_wipe(acc, sizeof acc);
  secure_wipe(diff, sizeof diff);
}

template <size_t N>
std::unique_ptr<ecpi_group_t> make_engine(uint32_t id) {
  ecpbn_dp_t dp{};
  if (ecpi_dp_mapping(&dp, id) != 0) return nullptr;
  auto e = std::make_unique<EngineImpl<N>>(dp);
  e->set_id(id);
  return e;
}

struct Registry {
  std::unique_ptr<ecpi_group_t> p224 = make_engine<4>(17);
  std::unique_ptr<ecpi_group_t> p256 = make_engine<4>(18);
  std::unique_ptr<ecpi_group_t> p384 = make_engine<6>(19);
  std::unique_ptr<ecpi_group_t> p521 = make_engine<9>(20);
  std::unique_ptr<ecpi_group_t> k256 = make_engine<4>(34);
  std::unique_ptr<ecpi_group_t> bp256 = make_engine<4>(67);
  std::unique_ptr<ecpi_group_t> bp384 = make_engine<6>(69);
  std::unique_ptr<ecpi_group_t> bp512 = make_engine<8>(70);
};

Registry& registry() {
  static Registry reg;  // built once, thread-safely
  return reg;
}

}  // namespace

core_ret_t ecpi_group_load_and_alloc(const ecpi_group_t** grp, uint32_t crv_id) {
  if (grp == nullptr) return core_err(0x82, QZ_CORE_R_NULL);
  const Registry& reg = registry();
  switch (crv_id) {
    case 17: *grp = reg.p224.get(); break;
    case 18: *grp = reg.p256.get(); break;
    case 19: *grp = reg.p384.get(); break;
    case 20: *grp = reg.p521.get(); break;
    case 34: *grp = reg.k256.get(); break;
    case 67: *grp = reg.bp256.get(); break;
    case 69: *grp = reg.bp384.get(); break;
    case 70: *grp = reg.bp512.get(); break;
    default: *grp = nullptr; break;
  }
  return *grp != nullptr ? 0 : ECPI_ERR_GROUP_LOAD;
}

}  // namespace quarzel::ec
