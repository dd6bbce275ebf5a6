// Objects saved and loaded together with their extension word, and the EC
// point conversions between CKA_EC_POINT and the EC public-key record.
#include <cstdlib>
#include <cstring>

#include "frame/p11_frame.h"
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
  if (key->grp_id > 0xFF) return CKR_ATTRIBUTE_VALUE_INVALID;
  ZEBP11_EC_PUBKEY rec{};
  VRK_UINT32 len = sizeof rec;
  if (VRK_ECImportPublicKey(static_cast<VRK_UCHAR>(key->grp_id), Q, Q_len, reinterpret_cast<VRK_UCHAR_PTR>(&rec),
                            &len) != 0) {
    return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  *key = rec;
  return CKR_OK;
}

VRK_RV VRK_ECCPubKeyToDerQ(const ZEBP11_EC_PUBKEY* key, VRK_UCHAR* Q, VRK_UINT32* Q_len) {
  if (key == nullptr || Q_len == nullptr) return CKR_ARGUMENTS_BAD;
  const uint32_t len = P11_EcPubKeyLength(*key);
  if (len == 0) return CKR_ATTRIBUTE_VALUE_INVALID;
  const VRK_RV rv = VRK_ECPublicKeyToPoint(reinterpret_cast<const VRK_UCHAR*>(key), len, Q, Q_len);
  if (rv == VRK_ERR_BUFFER_TOO_SMALL) return CKR_BUFFER_TOO_SMALL;
  return rv == 0 ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

}  // extern "C"

uint32_t P11_EcPubKeyLength(const ZEBP11_EC_PUBKEY& key) {
  const uint32_t L = key.grp_id > 0xFF ? 0 : VRK_ECCurveLength(static_cast<VRK_UCHAR>(key.grp_id));
  return L == 0 || 2 * L > sizeof key.q_point ? 0 : 4 + 2 * L;
}
