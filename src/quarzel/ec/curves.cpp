#include "ec/curves.h"

#include <array>
#include <cstring>

#include "ec/curve_tables_data.h"
#include "quarzel/hash.h"
#include "quarzel/secure.h"

namespace quarzel::ec {
namespace {

using namespace tables;

struct CurveRow {
  uint32_t id;
  uint32_t byte_size;  // L; 0 = unknown
  bool has_tables;
  uint32_t good;
  uint32_t nw;
  uint32_t nbits;
  uint32_t nw_zdn_p;
  const uint32_t *p, *a, *b, *gx, *gy, *n, *zdnp, *checksum, *h_n;
};

#define QZ_CURVE(id, good, nw, nbits, nwz, tag, hn)                                          \
  CurveRow{id,                         4 * (nw),                    true,                     \
           good,                       nw,                          nbits,                    \
           nwz,                        Sec_crv_p_##tag##_p_const,   Sec_crv_p_##tag##_a_const, \
           Sec_crv_p_##tag##_b_const,  Sec_crv_p_##tag##_Gx_const,  Sec_crv_p_##tag##_Gy_const, \
           Sec_crv_p_##tag##_n_const,  Sec_crv_p_##tag##_zdnp_const, Sec_crv_p_##tag##_checksum_const, \
           hn}
#define QZ_LENGTH_ONLY(id, len) \
  CurveRow{id, len, false, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}

constexpr std::array kCurves = {
    QZ_LENGTH_ONLY(16, 24),  // P-192
    QZ_CURVE(17, 1, 7, 224, 8, nistp224, nullptr),
    QZ_CURVE(18, 1, 8, 256, 9, nistp256, nullptr),
    QZ_CURVE(19, 1, 12, 384, 13, nistp384, nullptr),
    QZ_CURVE(20, 1, 17, 521, 17, nistp521, nullptr),
    QZ_LENGTH_ONLY(32, 24),  // secp192k1
    QZ_LENGTH_ONLY(33, 28),  // secp224k1
    QZ_CURVE(34, 0, 8, 256, 9, 256k1, Sec_crv_p_256k1_n_h_const),
    QZ_CURVE(67, 0, 8, 256, 9, brainp256r1, nullptr),
    QZ_CURVE(69, 0, 12, 384, 13, brainp384r1, nullptr),
    QZ_CURVE(70, 0, 16, 512, 17, brainp512r1, nullptr),
};

#undef QZ_CURVE
#undef QZ_LENGTH_ONLY

const CurveRow* find(uint32_t id) {
  for (const auto& row : kCurves)
    if (row.id == id) return &row;
  return nullptr;
}

// Absorbs nw words as their big-endian bytes.
void put_words(std::array<uint8_t, 4 * 17 * 7>& buf, size_t& off, const uint32_t* w, uint32_t nw) {
  for (uint32_t i = 0; i < nw; ++i) {
    buf[off++] = static_cast<uint8_t>(w[i] >> 24);
    buf[off++] = static_cast<uint8_t>(w[i] >> 16);
    buf[off++] = static_cast<uint8_t>(w[i] >> 8);
    buf[off++] = static_cast<uint8_t>(w[i]);
  }
}

}  // namespace

core_ret_t ecpi_group_get_size(uint32_t crv_id, uint32_t* size) {
  if (size == nullptr) return core_err(0x84, QZ_CORE_R_NULL);
  const CurveRow* row = find(crv_id);
  *size = row != nullptr ? row->byte_size : 0;
  return row != nullptr ? 0 : ECPI_ERR_GET_SIZE;
}

core_ret_t ecpi_dp_mapping(ecpbn_dp_t* dp, uint32_t crv_id) {
  if (dp == nullptr) return core_err(0x81, QZ_CORE_R_NULL);
  const CurveRow* row = find(crv_id);
  if (row == nullptr || !row->has_tables) return ECPI_ERR_DP_MAPPING;
  dp->dp_endian = 2;
  dp->good_crv = row->good;
  dp->crv_nw = row->nw;
  dp->crv_nbits = row->nbits;
  dp->nw_zdn_p = row->nw_zdn_p;
  dp->crv_p = row->p;
  dp->crv_a = row->a;
  dp->crv_b = row->b;
  dp->crv_Gx = row->gx;
  dp->crv_Gy = row->gy;
  dp->crv_n = row->n;
  dp->crv_zdnp = row->zdnp;
  dp->checksum = row->checksum;
  dp->crv_h_n = row->h_n;
  return 0;
}

core_ret_t ecpbn_zdn_proj_curve_integrity_check(const ecpbn_dp_t* dp, uint32_t* no_error) {
  if (dp == nullptr || no_error == nullptr) return core_err(0x71, QZ_CORE_R_NULL);
  if (dp->crv_nw * 32 > 544 || dp->nw_zdn_p * 32 > 544) return ECPBN_ERR_INTEGRITY_SIZE;
  std::array<uint8_t, 4 * 17 * 7> buf{};
  size_t off = 0;
  for (const uint32_t* v : {dp->crv_p, dp->crv_a, dp->crv_b, dp->crv_Gx, dp->crv_Gy, dp->crv_n})
    put_words(buf, off, v, dp->crv_nw);
  put_words(buf, off, dp->crv_zdnp, dp->nw_zdn_p);
  uint8_t digest[32];
  uint32_t digest_len = sizeof digest;
  const quarzel_ret_t ret =
      hash_onestep(HASH_TYPE_SHA3_256, static_cast<uint32_t>(off), buf.data(), &digest_len, digest);
  if (ret != 0) return static_cast<core_ret_t>(ret & 0xFFFF);
  std::array<uint8_t, 32> stored{};
  size_t soff = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    stored[soff++] = static_cast<uint8_t>(dp->checksum[i] >> 24);
    stored[soff++] = static_cast<uint8_t>(dp->checksum[i] >> 16);
    stored[soff++] = static_cast<uint8_t>(dp->checksum[i] >> 8);
    stored[soff++] = static_cast<uint8_t>(dp->checksum[i]);
  }
  *no_error = ct_equal(digest, stored.data(), 32) ? 1 : 0;
  return 0;
}

core_ret_t curve_integrity_once(uint32_t crv_id, bool* ok) {
  struct Verdict {
    core_ret_t ret = ECPI_ERR_DP_MAPPING;
    bool ok = false;
  };
  // Computed once for every curve on first use; function-local statics are
  // initialised thread-safely.
  static const std::array<Verdict, kCurves.size()> verdicts = [] {
    std::array<Verdict, kCurves.size()> v{};
    for (size_t i = 0; i < kCurves.size(); ++i) {
      ecpbn_dp_t dp{};
      if (!kCurves[i].has_tables || ecpi_dp_mapping(&dp, kCurves[i].id) != 0) continue;
      uint32_t no_error = 0;
      v[i].ret = ecpbn_zdn_proj_curve_integrity_check(&dp, &no_error);
      v[i].ok = v[i].ret == 0 && no_error == 1;
    }
    return v;
  }();
  for (size_t i = 0; i < kCurves.size(); ++i) {
    if (kCurves[i].id != crv_id) continue;
    *ok = verdicts[i].ok;
    return verdicts[i].ret;
  }
  *ok = false;
  return ECPI_ERR_DP_MAPPING;
}

}  // namespace quarzel::ec
