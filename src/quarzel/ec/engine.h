// The EC group interface: one loaded curve (its point engine behind a
// width-independent interface), affine points, and the operations through
// which key generation, ECDSA and ECDH reach the curve.
//
// Values cross this interface as big-endian byte strings of the curve's length
// L (scalars, coordinates, signature halves). Inside, field and scalar
// arithmetic run in Montgomery form on fixed-width limbs on the stack: no
// operation allocates. A group is built once per process on first use and
// lives until the process ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarzel/ecc.h"
#include "quarzel/port.h"

namespace quarzel::ec {

// An affine point of a group: x and y as L-byte big-endian strings, and z = 1
// for a finite point, 0 for the point at infinity (x and y are then
// meaningless). A product may be a shared secret: the record is zeroed when
// made and wiped by ecpi_point_free when it leaves scope, and it is never
// copied.
struct ecpi_point_t;
void ecpi_point_free(ecpi_point_t* pt);
struct ecpi_point_t {
  uint8_t x[ECC_MAX_LEN]{};
  uint8_t y[ECC_MAX_LEN]{};
  uint32_t z = 0;
  ecpi_point_t() = default;
  ecpi_point_t(const ecpi_point_t&) = delete;
  ecpi_point_t& operator=(const ecpi_point_t&) = delete;
  ~ecpi_point_t() { ecpi_point_free(this); }
};

// One loaded curve.
class ecpi_group_t {
 public:
  virtual ~ecpi_group_t() = default;

  uint32_t id() const { return id_; }
  uint32_t byte_size() const { return byte_size_; }  // L
  uint32_t nbits() const { return nbits_; }
  const uint8_t* n_bytes() const { return n_; }  // group order, L bytes
  const ecpi_point_t& G() const { return g_; }   // base point

  // The point engine of the curve; callers reach it through the ecpi_*
  // operations below (the tests and the word-level entries also directly).
  //
  // r = k * (px, py) for any L-byte k: the blinded Montgomery ladder of fixed
  // length. The table checksum (verified once per process), the base point
  // and the result are checked against the curve. When the result is the
  // point at infinity, *infinity is set and rx, ry are not written.
  virtual core_ret_t mul(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx,
                         uint8_t* ry, bool* infinity) const = 0;
  // r = k * G, the same result as mul() on the base point, from a table of
  // multiples of G read under masks, by signed 6-bit windows.
  virtual core_ret_t mul_base(const uint8_t* k, uint8_t* rx, uint8_t* ry, bool* infinity) const = 0;
  // r = k * (px, py), the same result as mul(), by signed 5-bit windows
  // over the multiples 0P .. 16P read under masks.
  virtual core_ret_t mul_window(const uint8_t* k, const uint8_t* px, const uint8_t* py, uint8_t* rx,
                                uint8_t* ry, bool* infinity) const = 0;
  // r = u1 * G + u2 * (qx, qy) for public u1, u2 below n and a public point on
  // the curve: variable time, for verification only.
  virtual core_ret_t mul_dual_vartime(const uint8_t* u1, const uint8_t* u2, const uint8_t* qx,
                                      const uint8_t* qy, uint8_t* rx, uint8_t* ry, bool* infinity) const = 0;
  // r = p + q for two finite affine points (equal points are doubled).
  virtual core_ret_t add(const uint8_t* px, const uint8_t* py, const uint8_t* qx,
                         const uint8_t* qy, uint8_t* rx, uint8_t* ry, bool* infinity) const = 0;
  // y^2 == x^3 + a*x + b (mod p).
  virtual bool on_curve(const uint8_t* x, const uint8_t* y) const = 0;

  // ECDSA: r = x mod n and s = k^-1 * (e + d*r) mod n, with e an L-byte value
  // that may exceed n.
  virtual void ecdsa_rs(const uint8_t* d, const uint8_t* e, const uint8_t* k, const uint8_t* x,
                        uint8_t* r, uint8_t* s) const = 0;
  // ECDSA verification scalars u1 = e/s and u2 = r/s mod n (s must be in 1..n-1).
  virtual void ecdsa_u1u2(const uint8_t* e, const uint8_t* r, const uint8_t* s, uint8_t* u1,
                          uint8_t* u2) const = 0;
  // ECDSA's final test: whether R = u1 * G + u2 * (qx, qy) (as for
  // mul_dual_vartime) is finite with x(R) mod n == r, for r in 1..n-1. The
  // x-coordinate is compared projectively (X == c Z^2 for c = r and, when
  // below p, r + n): no inversion. Variable time: verification only.
  virtual core_ret_t ecdsa_check_vartime(const uint8_t* u1, const uint8_t* u2, const uint8_t* qx,
                                         const uint8_t* qy, const uint8_t* r, bool* match) const = 0;
  // d = (c mod (n - 1)) + 1 for a big-endian c of c_len bytes (FIPS 186-4 B.4.1).
  virtual void reduce_to_scalar(const uint8_t* c, size_t c_len, uint8_t* d) const = 0;

  // True when this curve's field products run on BMI2/ADX.
  virtual bool uses_adx() const = 0;
  // True when they reduce by the form of the curve's prime (P-521), not by
  // the general Montgomery reduction.
  virtual bool uses_special_form() const = 0;
  // True when mul_window runs on the curve's own BMI2/ADX code (P-256,
  // P-521) rather than on the template.
  virtual bool uses_window_kernels() const = 0;
  // Test seam: run the portable products (true) or the CPU's best (false).
  virtual void force_portable(bool portable) = 0;
  // Test seam: products by the general Montgomery reduction (true) even
  // where the field's prime has a form with its own (P-521), or by that
  // form (false).
  virtual void force_general(bool general) = 0;

 protected:
  uint32_t id_ = 0;
  uint32_t byte_size_ = 0;
  uint32_t nbits_ = 0;
  uint8_t n_[ECC_MAX_LEN] = {};
  ecpi_point_t g_;
};

// *grp := the group of a curve with tables (the process's groups are built on
// the first call, thread-safely, and never freed); 0x8281 for any other id.
[[nodiscard]] core_ret_t ecpi_group_load_and_alloc(const ecpi_group_t** grp, uint32_t crv_id);

// pt := (px, py), finite; grp_size (L) bytes each, at most ECC_MAX_LEN.
void ecpi_point_set_xy(ecpi_point_t* pt, uint32_t grp_size, const uint8_t* px, const uint8_t* py);
inline bool ecpi_point_is_infinity(const ecpi_point_t* pt) { return pt->z == 0; }
// y^2 == x^3 + a*x + b (mod p) for the affine x, y; z is not looked at.
bool ecpi_point_on_curve(const ecpi_group_t* grp, const ecpi_point_t* pt);
// 0 < d < n for an L-byte d, in constant time (the verdict is secret until
// the caller declassifies it).
bool ecpi_check_prikey_valid(const ecpi_group_t* grp, const uint8_t* d);
// 1 when a < b for two big-endian strings of len bytes, else 0; in constant
// time.
[[nodiscard]] uint32_t be_less_than(const uint8_t* a, const uint8_t* b, uint32_t len);

// R = m * P for any L-byte m, P taken as affine (its z is not looked at).
// P = the group's own G (by address) takes the generator's table; any other
// point the signed fixed windows, after its curve test. R.z = 1, or 0 with
// R.x, R.y untouched when the product is the point at infinity.
[[nodiscard]] core_ret_t ecpi_mul(const ecpi_group_t* grp, const uint8_t* m, const ecpi_point_t* P,
                                  ecpi_point_t* R);
// R = P + Q for two finite affine points (equal points are doubled); R.z as
// for ecpi_mul. R may be P or Q.
[[nodiscard]] core_ret_t ecpi_add(const ecpi_group_t* grp, const ecpi_point_t* P, const ecpi_point_t* Q,
                                  ecpi_point_t* R);
// Q = d * G; 0x8D82 when it is the point at infinity. d's range is the
// caller's to test.
[[nodiscard]] core_ret_t ecpi_gen_pubkey_from_private(const ecpi_group_t* grp, const uint8_t* d,
                                                      ecpi_point_t* Q);
// Q = d * G for a given base G; 0x8E82 when it is the point at infinity.
[[nodiscard]] core_ret_t ecpi_gen_pubkey_from_private_base(const ecpi_group_t* grp, const uint8_t* d,
                                                           const ecpi_point_t* G, ecpi_point_t* Q);

}  // namespace quarzel::ec
