// The word-level entry points of the point engine: domain record and
// most-significant-first word arrays in, the curve's engine underneath.
#include <cstring>

#include "ec/curves.h"
#include "ec/engine.h"
#include "quarzel/ecc.h"
#include "quarzel/secure.h"

namespace quarzel::ec {
namespace {

constexpr uint32_t kCurveIds[] = {17, 18, 19, 20, 34, 67, 69, 70};

// The group of the curve whose tables the record maps.
const ecpi_group_t* group_of(const ecpbn_dp_t* dp) {
  for (const uint32_t id : kCurveIds) {
    ecpbn_dp_t known{};
    const ecpi_group_t* grp = nullptr;
    if (ecpi_dp_mapping(&known, id) == 0 && known.crv_p == dp->crv_p && known.crv_nw == dp->crv_nw &&
        ecpi_group_load_and_alloc(&grp, id) == 0)
      return grp;
  }
  return nullptr;
}

void words_to_bytes(const uint32_t* w, uint32_t nw, uint8_t* b) {
  for (uint32_t i = 0; i < nw; ++i) {
    for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<uint8_t>(w[i] >> (24 - 8 * k));
  }
}
void bytes_to_words(const uint8_t* b, uint32_t nw, uint32_t* w) {
  for (uint32_t i = 0; i < nw; ++i) {
    w[i] = (uint32_t{b[4 * i]} << 24) | (uint32_t{b[4 * i + 1]} << 16) | (uint32_t{b[4 * i + 2]} << 8) | b[4 * i + 3];
  }
}

// Writes an affine result, or only the infinity flag.
void put_result(uint32_t nw, const ecpi_point_t& r, ecpbn_out_t* out) {
  out->infinity = ecpi_point_is_infinity(&r) ? 1 : 0;
  if (out->infinity != 0) return;
  bytes_to_words(r.x, nw, out->result_x);
  bytes_to_words(r.y, nw, out->result_y);
}

}  // namespace

core_ret_t ecpbn_zdn_mul(const ecpbn_dp_t* dp, const ecpbn_in_t* in, ecpbn_out_t* out) {
  const uint32_t w = dp->crv_nw;
  if (w > 20 || in->scalar_nw > dp->nw_zdn_p) return ECPBN_ERR_MUL_SIZE;
  const ecpi_group_t* grp = group_of(dp);
  if (grp == nullptr) return ECPBN_ERR_CURVE;
  // The scalar's words above the curve's w must be zero.
  uint32_t high = 0;
  const uint32_t extra = in->scalar_nw > w ? in->scalar_nw - w : 0;
  for (uint32_t i = 0; i < extra; ++i) high |= in->scalar[i];
  if (high != 0) return ECPBN_ERR_MUL_SIZE;
  SecretArray<ECC_MAX_LEN> k;
  uint8_t bx[ECC_MAX_LEN], by[ECC_MAX_LEN];
  ecpi_point_t r;
  const uint32_t L = 4 * w, kept = in->scalar_nw - extra;
  std::memset(k.data(), 0, L);
  words_to_bytes(in->scalar + extra, kept, k.data() + 4 * (w - kept));
  words_to_bytes(in->base_x, w, bx);
  words_to_bytes(in->base_y, w, by);
  bool infinity = false;
  const core_ret_t ret = grp->mul(k.data(), bx, by, r.x, r.y, &infinity);
  r.z = infinity ? 0 : 1;
  if (ret == 0) put_result(w, r, out);
  return ret;
}

core_ret_t ecpbn_zdn_add(const ecpbn_dp_t* dp, const ecpbn_in_t* in, ecpbn_out_t* out) {
  const uint32_t w = dp->crv_nw;
  if (w > 20) return ECPBN_ERR_ADD_SIZE;
  const ecpi_group_t* grp = group_of(dp);
  if (grp == nullptr) return ECPBN_ERR_CURVE;
  ecpi_point_t p, q, r;
  words_to_bytes(in->base_x, w, p.x);
  words_to_bytes(in->base_y, w, p.y);
  words_to_bytes(in->base_ax, w, q.x);
  words_to_bytes(in->base_ay, w, q.y);
  const core_ret_t ret = ecpi_add(grp, &p, &q, &r);
  if (ret == 0) put_result(w, r, out);
  return ret;
}

}  // namespace quarzel::ec
