// The operations of the EC group interface on affine points: the choice of
// multiplication method, the point at infinity as a flag, the curve and range
// tests.
#include <cstring>

#include "ec/curves.h"
#include "ec/engine.h"
#include "quarzel/ct.h"

namespace quarzel::ec {

void ecpi_point_free(ecpi_point_t* pt) { secure_wipe(pt, sizeof *pt); }

void ecpi_point_set_xy(ecpi_point_t* pt, uint32_t grp_size, const uint8_t* px, const uint8_t* py) {
  std::memcpy(pt->x, px, grp_size);
  std::memcpy(pt->y, py, grp_size);
  pt->z = 1;
}

bool ecpi_point_on_curve(const ecpi_group_t* grp, const ecpi_point_t* pt) {
  return grp->on_curve(pt->x, pt->y);
}

uint32_t be_less_than(const uint8_t* a, const uint8_t* b, uint32_t len) {
  // The borrow out of a - b, from the last byte up.
  uint32_t borrow = 0;
  for (uint32_t i = len; i-- > 0;) borrow = (static_cast<uint32_t>(a[i]) - b[i] - borrow) >> 31;
  return borrow;
}

bool ecpi_check_prikey_valid(const ecpi_group_t* grp, const uint8_t* d) {
  const uint32_t L = grp->byte_size();
  uint32_t any = 0;
  for (uint32_t i = 0; i < L; ++i) any |= d[i];
  const uint32_t below_n = ct::mask_from_bit<uint32_t>(be_less_than(d, grp->n_bytes(), L));
  return (ct::is_nonzero<uint32_t>(any) & below_n) != 0;
}

core_ret_t ecpi_mul(const ecpi_group_t* grp, const uint8_t* m, const ecpi_point_t* P, ecpi_point_t* R) {
  bool infinity = false;
  const core_ret_t ret = P == &grp->G() ? grp->mul_base(m, R->x, R->y, &infinity)
                                        : grp->mul_window(m, P->x, P->y, R->x, R->y, &infinity);
  if (ret != 0) return ret;
  R->z = infinity ? 0 : 1;
  return 0;
}

core_ret_t ecpi_add(const ecpi_group_t* grp, const ecpi_point_t* P, const ecpi_point_t* Q, ecpi_point_t* R) {
  bool infinity = false;
  const core_ret_t ret = grp->add(P->x, P->y, Q->x, Q->y, R->x, R->y, &infinity);
  if (ret != 0) return ret;
  R->z = infinity ? 0 : 1;
  return 0;
}

core_ret_t ecpi_gen_pubkey_from_private(const ecpi_group_t* grp, const uint8_t* d, ecpi_point_t* Q) {
  if (const core_ret_t ret = ecpi_mul(grp, d, &grp->G(), Q); ret != 0) return ret;
  return ecpi_point_is_infinity(Q) ? ECPI_ERR_PUBKEY_INFINITY : 0;
}

core_ret_t ecpi_gen_pubkey_from_private_base(const ecpi_group_t* grp, const uint8_t* d, const ecpi_point_t* G,
                                             ecpi_point_t* Q) {
  if (const core_ret_t ret = ecpi_mul(grp, d, G, Q); ret != 0) return ret;
  return ecpi_point_is_infinity(Q) ? ECPI_ERR_PUBKEY_BASE_INFINITY : 0;
}

}  // namespace quarzel::ec
