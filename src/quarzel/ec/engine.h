// The point engine of one curve, behind a width-independent interface.
//
// Values cross this interface as big-endian byte strings of the curve's length
// L (scalars, coordinates, signature halves). Inside, field and scalar
// arithmetic run in Montgomery form on fixed-width limbs on the stack: no
// operation allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::ec {

class Engine {
 public:
  virtual ~Engine() = default;

  uint32_t id() const { return id_; }
  uint32_t byte_size() const { return byte_size_; }  // L
  uint32_t nbits() const { return nbits_; }
  const uint8_t* n_bytes() const { return n_; }    // group order, L bytes
  const uint8_t* gx_bytes() const { return gx_; }  // base point, L bytes each
  const uint8_t* gy_bytes() const { return gy_; }

  // r = k * (px, py): the blinded Montgomery ladder of fixed length. The table
  // checksum (verified once per process), the base point and the result are
  // checked against the curve. When the result is the point at infinity,
  // *infinity is set and rx, ry are not written.
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
  // 0 < d < n, in constant time.
  virtual bool scalar_valid(const uint8_t* d) const = 0;
  // k < n, in constant time.
  virtual bool below_n(const uint8_t* k) const = 0;

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
  uint8_t n_[68] = {};
  uint8_t gx_[68] = {};
  uint8_t gy_[68] = {};
};

// The engine of a curve with tables, built once per process; null for any
// other id.
const Engine* engine_for(uint32_t crv_id);

}  // namespace quarzel::ec
