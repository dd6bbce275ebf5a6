// EC key import: scalars and points checked on their curve, and the raw
// blobs of the back ends built from them.
#include "import_internal.h"
#include "quarzel/ecc.h"
#include "quarzel/key_holders.h"
#include "quarzel/secure.h"

using namespace zeb::core::keyimport;

namespace {

constexpr uint32_t kBlobHead = 4;  // curve id, three zero bytes (a little-endian word)

// The length of a field element in the SEC 1 point encoding: L, except for
// P-521 (66 bytes, where the blobs keep 68 with two leading zero bytes).
uint32_t field_length(uint32_t curve, uint32_t L) { return curve == ECC_CRV_NIST_P521 ? 66 : L; }

// x and y (L bytes each) name a point of the curve: both below p, on the
// curve (so not the point at infinity).
bool point_valid(uint32_t curve, uint32_t L, const uint8_t* x, const uint8_t* y) {
  quarzel::EcPubKey Q, G;
  quarzel::EcPriKey one;
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

// The uncompressed point 04 || x || y of field length F: given bare, or as
// the content of a DER OCTET STRING (short or long length form). Empty when
// it is neither.
Bytes bare_point(Bytes q, uint32_t F) {
  const size_t point = 1 + size_t{2} * F;
  if (q.size() == point) return q;
  const size_t head = point < 0x80 ? 2 : 3;
  if (q.size() != head + point || q[0] != 0x04) return {};
  const bool length_ok = head == 2 ? q[1] == point : q[1] == 0x81 && q[2] == point;
  return length_ok ? q.subspan(head) : Bytes{};
}

}  // namespace

extern "C" {

VRK_UINT32 VRK_ECCurveLength(VRK_UCHAR EccCurveType) {
  uint32_t L = 0;
  if (ecc_get_length(static_cast<ecc_crv_t>(EccCurveType), &L) != 0 || L > ECC_MAX_LEN) return 0;
  return L;
}

VRK_RV VRK_ECImportPrivateKey(VRK_UCHAR EccCurveType, const VRK_UCHAR* pScalar, VRK_UINT32 u32ScalarLen,
                              VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen) {
  if (pScalar == nullptr && u32ScalarLen != 0) return VRK_ERR_ARGUMENTS;
  const uint32_t L = VRK_ECCurveLength(EccCurveType);
  if (L == 0) return VRK_ERR_KEY_VALUE;
  quarzel::SecretArray<kBlobHead + ECC_MAX_LEN> blob;
  blob[0] = EccCurveType;
  uint8_t* d = blob.data() + kBlobHead;
  if (!fit(bytes(pScalar, u32ScalarLen), L, d)) return VRK_ERR_KEY_VALUE;
  // Deriving the public key refuses 0 and every scalar from n on.
  quarzel::EcPriKey k;
  quarzel::EcPubKey Q;
  const auto crv = static_cast<ecc_crv_t>(EccCurveType);
  if (ecc_prikey_init(&k.k, crv) != 0 || ecc_prikey_value_alloc(&k.k) != 0 || ecc_prikey_value_set(&k.k, L, d) != 0 ||
      ecc_pubkey_init(&Q.k, crv) != 0 || ecc_pubkey_value_alloc(&Q.k) != 0 || ecc_gen_puk_from_prk(&k.k, &Q.k) != 0) {
    return VRK_ERR_KEY_VALUE;
  }
  return hand_out({blob.data(), kBlobHead + L}, pBlob, pu32BlobLen);
}

VRK_RV VRK_ECImportPublicKey(VRK_UCHAR EccCurveType, const VRK_UCHAR* pPoint, VRK_UINT32 u32PointLen,
                             VRK_UCHAR_PTR pBlob, VRK_UINT32_PTR pu32BlobLen) {
  if (pPoint == nullptr) return VRK_ERR_ARGUMENTS;
  const uint32_t L = VRK_ECCurveLength(EccCurveType);
  if (L == 0) return VRK_ERR_KEY_VALUE;
  const uint32_t F = field_length(EccCurveType, L);
  const Bytes point = bare_point({pPoint, u32PointLen}, F);
  if (point.size() != 1 + 2 * F || point[0] != 0x04) return VRK_ERR_KEY_VALUE;
  // Coordinates right-aligned in the L bytes the blob keeps.
  uint8_t blob[kBlobHead + 2 * ECC_MAX_LEN] = {};
  blob[0] = EccCurveType;
  uint8_t* xy = blob + kBlobHead;
  std::memcpy(xy + (L - F), point.data() + 1, F);
  std::memcpy(xy + L + (L - F), point.data() + 1 + F, F);
  if (!point_valid(EccCurveType, L, xy, xy + L)) return VRK_ERR_KEY_VALUE;
  return hand_out({blob, kBlobHead + 2 * L}, pBlob, pu32BlobLen);
}

VRK_RV VRK_ECPublicKeyToPoint(const VRK_UCHAR* pBlob, VRK_UINT32 u32BlobLen, VRK_UCHAR_PTR pPoint,
                              VRK_UINT32_PTR pu32PointLen) {
  if (pBlob == nullptr || pu32PointLen == nullptr) return VRK_ERR_ARGUMENTS;
  if (u32BlobLen < kBlobHead || pBlob[1] != 0 || pBlob[2] != 0 || pBlob[3] != 0) return VRK_ERR_KEY_VALUE;
  const uint32_t L = VRK_ECCurveLength(pBlob[0]);
  if (L == 0 || u32BlobLen != kBlobHead + 2 * L) return VRK_ERR_KEY_VALUE;
  const uint32_t F = field_length(pBlob[0], L);
  const uint32_t point = 1 + 2 * F;            // 04 || x || y
  const uint32_t head = point < 0x80 ? 2 : 3;  // tag and length
  uint8_t der[3 + 1 + 2 * ECC_MAX_LEN] = {};
  der[0] = 0x04;
  if (head == 2) {
    der[1] = static_cast<uint8_t>(point);
  } else {
    der[1] = 0x81;
    der[2] = static_cast<uint8_t>(point);
  }
  der[head] = 0x04;
  const uint8_t* xy = pBlob + kBlobHead;
  std::memcpy(der + head + 1, xy + (L - F), F);
  std::memcpy(der + head + 1 + F, xy + L + (L - F), F);
  if (pPoint == nullptr) {
    *pu32PointLen = head + point;
    return VRK_OK;
  }
  return hand_out({der, head + point}, pPoint, pu32PointLen);
}

}  // extern "C"
