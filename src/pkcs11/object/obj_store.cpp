// Objects saved and loaded together with their extension word, and the EC
// point conversions between CKA_EC_POINT and the EC public-key record.
#include <cstdlib>
#include <cstring>

#include "frame/p11_frame.h"
#include "object/key_math.h"
#include "object/p11_object.h"

namespace {

// The red line of a failed core call, and its result.
int reported(const zebp11::Site& site, int rv) {
  if (rv != 0) zebp11::red_line(site, static_cast<unsigned long>(static_cast<uint32_t>(rv)));
  return rv;
}
#define CORE(call) reported(ZEBP11_SITE, (call))

// The first buffer for reading a token object: more than any EC or RSA-2048
// key object takes.
constexpr VRK_UINT32 kFirstReadLen = 4096;

void release(VRK_UCHAR_PTR* p) {
  std::free(*p);
  *p = nullptr;
}

// The uncompressed point 04 || x || y of a curve of value length L: given
// bare (1 + 2L bytes), or as the content of a DER OCTET STRING (short or long
// length form). Empty when it is neither.
std::span<const uint8_t> bare_point(std::span<const uint8_t> q, uint32_t L) {
  const size_t point = 1 + size_t{2} * L;
  if (q.size() == point) return q;
  const size_t head = point < 0x80 ? 2 : 3;
  if (q.size() != head + point || q[0] != 0x04) return {};
  const bool length_ok = head == 2 ? q[1] == point : q[1] == 0x81 && q[2] == point;
  return length_ok ? q.subspan(head) : std::span<const uint8_t>{};
}

}  // namespace

extern "C" {

VRK_RV VRK_SaveObject_and_Extension(VRK_HANDLE tkn_sess_hdle, CK_BBOOL as_token_obj, VRK_UCHAR_PTR pVRKObj,
                                    VRK_UINT32 VRKObjLen, VRK_UCHAR_PTR pObjExt, VRK_UINT32 VRKObjExtLen,
                                    VRK_UINT32* vrk_obj_handle) {
  if (vrk_obj_handle == nullptr) return CKR_ARGUMENTS_BAD;
  const bool with_ext = pObjExt != nullptr && VRKObjExtLen != 0;
  VRK_UINT32 handle = 0;
  if (as_token_obj == CK_TRUE) {
    P11_DUMP("pVRKObj", pVRKObj, VRKObjLen);
    if (const int rv = CORE(VRK_SaveObject(tkn_sess_hdle, pVRKObj, VRKObjLen, &handle)); rv != 0) return rv;
    P11_LOG_D("got vrk_obj_handle = %u", handle);
    if (with_ext) {
      if (const int rv = CORE(VRK_SaveObjExtension(tkn_sess_hdle, handle, pObjExt, VRKObjExtLen)); rv != 0) {
        (void)VRK_DeleteObject(tkn_sess_hdle, handle);  // nothing half-made stays behind
        return rv;
      }
    }
  } else {
    if (const int rv = CORE(VRK_CacheSessionObject(tkn_sess_hdle, pVRKObj, VRKObjLen, &handle)); rv != 0) return rv;
    if (with_ext) {
      if (const int rv = CORE(VRK_CacheSessionObjExtension(tkn_sess_hdle, handle, pObjExt, VRKObjExtLen)); rv != 0) {
        (void)VRK_DeleteSessionObject(tkn_sess_hdle, handle);
        return rv;
      }
    }
  }
  *vrk_obj_handle = handle;
  return 0;
}

VRK_RV VRK_GetObject_and_Extension(VRK_HANDLE tkn_sess_hdle, VRK_UINT32 vrk_obj_handle, VRK_UINT32 exten_obj_len,
                                   VRK_OBJECT_META* pObjMeta, VRK_UCHAR_PTR* ppObjCtx, VRK_UCHAR_PTR* ppObject,
                                   VRK_UCHAR_PTR* ppObjExt) {
  if (pObjMeta == nullptr || ppObjCtx == nullptr || ppObject == nullptr || ppObjExt == nullptr) {
    return CKR_ARGUMENTS_BAD;
  }
  // The handle tells the lifespan; a handle naming no object fails below, and
  // the caller tells the cause apart.
  const bool token = (vrk_obj_handle & VRK_SESS_OBJ_HANDLE_BASE) == 0;
  P11_LOG_I("vrk_obj_handle = %08x is %s object", vrk_obj_handle, token ? "token" : "session");
  const auto fail = [&](int code) {
    release(ppObject);
    release(ppObjCtx);
    release(ppObjExt);
    return code;
  };
  int rv = 0;
  VRK_UINT32 len = 0;
  if (token) {
    // A token object is read whole from its file on every call: a buffer
    // that holds most objects saves asking for the size (one more look at
    // the file); a larger object is read once more into a buffer of its size.
    VRK_UINT32 cap = kFirstReadLen;
    for (int attempt = 0; attempt < 3; ++attempt) {
      release(ppObject);
      *ppObject = static_cast<VRK_UCHAR_PTR>(std::malloc(cap));
      if (*ppObject == nullptr) return CKR_HOST_MEMORY;
      len = cap;
      rv = VRK_GetObject(tkn_sess_hdle, vrk_obj_handle, *ppObject, &len);
      if (rv != VRK_ERR_BUFFER_TOO_SMALL || len <= cap) break;
      cap = len;
    }
  } else {
    VRK_UINT32 size = 0;
    if ((rv = CORE(VRK_GetSessionObjectSize(tkn_sess_hdle, vrk_obj_handle, &size))) != 0) return rv;
    if (size < VRK_OBJ_OVERHEAD) return CKR_GENERAL_ERROR;
    *ppObject = static_cast<VRK_UCHAR_PTR>(std::malloc(size));
    if (*ppObject == nullptr) return CKR_HOST_MEMORY;
    len = size;
    rv = VRK_GetSessionObject(tkn_sess_hdle, vrk_obj_handle, *ppObject, &len);
  }
  if (CORE(rv) != 0) return fail(rv);
  if (len < VRK_OBJ_OVERHEAD) return fail(CKR_GENERAL_ERROR);
  // Header and context in one pass over the object (one integrity check);
  // one byte more than the object, so that an empty context still has a
  // buffer.
  *ppObjCtx = static_cast<VRK_UCHAR_PTR>(std::calloc(size_t{len} + 1, 1));
  if (*ppObjCtx == nullptr) return fail(CKR_HOST_MEMORY);
  VRK_UINT32 ctx_len = 0;
  if ((rv = CORE(VRK_DivideObject(tkn_sess_hdle, *ppObject, len, pObjMeta, *ppObjCtx, &ctx_len))) != 0) {
    return fail(rv);
  }
  if (pObjMeta->u32ObjExtIndex != ZEB_OBJ_NO_EXTENSION && exten_obj_len != 0) {
    *ppObjExt = static_cast<VRK_UCHAR_PTR>(std::calloc(exten_obj_len, 1));
    if (*ppObjExt == nullptr) return fail(CKR_HOST_MEMORY);
    VRK_UINT32 ext_len = exten_obj_len;
    rv = token ? VRK_GetObjExtension(tkn_sess_hdle, vrk_obj_handle, *ppObjExt, &ext_len)
               : VRK_GetSessionObjExtension(tkn_sess_hdle, vrk_obj_handle, *ppObjExt, &ext_len);
    if (CORE(rv) != 0) return fail(rv);
    if (ext_len != exten_obj_len) return fail(CKR_DATA_LEN_RANGE);
  }
  return 0;
}

VRK_RV VRK_DerQToECCPubKey(const VRK_UCHAR* Q, VRK_UINT32 Q_len, ZEBP11_EC_PUBKEY* key) {
  if (Q == nullptr || key == nullptr) return CKR_ARGUMENTS_BAD;
  const uint32_t L = zebp11::keymath::ec_length(key->grp_id);
  const uint32_t F = zebp11::keymath::ec_field_length(key->grp_id);
  if (L == 0 || 2 * L > sizeof key->q_point) return CKR_ATTRIBUTE_VALUE_INVALID;
  const std::span<const uint8_t> point = bare_point({Q, Q_len}, F);
  if (point.size() != 1 + 2 * F || point[0] != 0x04) return CKR_ATTRIBUTE_VALUE_INVALID;
  // Coordinates right-aligned in the L bytes the record keeps.
  uint8_t xy[sizeof key->q_point] = {};
  std::memcpy(xy + (L - F), point.data() + 1, F);
  std::memcpy(xy + L + (L - F), point.data() + 1 + F, F);
  if (!zebp11::keymath::ec_point_valid(key->grp_id, xy, xy + L)) return CKR_ATTRIBUTE_VALUE_INVALID;
  std::memcpy(key->q_point, xy, sizeof xy);
  return CKR_OK;
}

VRK_RV VRK_ECCPubKeyToDerQ(const ZEBP11_EC_PUBKEY* key, VRK_UCHAR* Q, VRK_UINT32* Q_len) {
  if (key == nullptr || Q_len == nullptr) return CKR_ARGUMENTS_BAD;
  const uint32_t L = zebp11::keymath::ec_length(key->grp_id);
  const uint32_t F = zebp11::keymath::ec_field_length(key->grp_id);
  if (L == 0 || 2 * L > sizeof key->q_point) return CKR_ATTRIBUTE_VALUE_INVALID;
  const uint32_t point = 1 + 2 * F;            // 04 || x || y
  const uint32_t head = point < 0x80 ? 2 : 3;  // tag and length
  const uint32_t need = head + point;
  if (Q == nullptr) {
    *Q_len = need;
    return CKR_OK;
  }
  if (*Q_len < need) {
    *Q_len = need;
    return CKR_BUFFER_TOO_SMALL;
  }
  Q[0] = 0x04;
  if (head == 2) {
    Q[1] = static_cast<VRK_UCHAR>(point);
  } else {
    Q[1] = 0x81;
    Q[2] = static_cast<VRK_UCHAR>(point);
  }
  Q[head] = 0x04;
  std::memcpy(Q + head + 1, key->q_point + (L - F), F);
  std::memcpy(Q + head + 1 + F, key->q_point + L + (L - F), F);
  *Q_len = need;
  return CKR_OK;
}

}  // extern "C"

uint32_t P11_EcPubKeyLength(const ZEBP11_EC_PUBKEY& key) {
  const uint32_t L = zebp11::keymath::ec_length(key.grp_id);
  return L == 0 ? 0 : 4 + 2 * L;
}
