// Object creation from a template, and destruction.
#include <cstring>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/object_internal.h"

namespace {

using zebp11::obj::Template;
using zebp11::obj::HeapBytes;

// What an object's data is built from.
struct Built {
  zeb::SecretBytes data;
  bool wrap = false;  // a secret or private value: the core wraps it
};

CK_RV ec_curve(const Template& t, const ec_oid_t** row) {
  const auto params = t.bytes(CKA_EC_PARAMS);
  if (!params) return CKR_TEMPLATE_INCOMPLETE;
  *row = zebp11::obj::curve_by_oid(*params);
  return *row != nullptr ? CKR_OK : CKR_CURVE_NOT_SUPPORTED;
}

// The core's refusals of a key import, as the module reports them.
struct ImportCode {
  VRK_RV core;
  CK_RV rv;
};
constexpr ImportCode kImportCodes[] = {
    {VRK_OK, CKR_OK},
    {VRK_ERR_KEY_SIZE, CKR_TEMPLATE_INCOMPLETE},
    {VRK_ERR_KEY_VALUE, CKR_ATTRIBUTE_VALUE_INVALID},
    {VRK_ERR_HOST_MEMORY, CKR_HOST_MEMORY},
};

CK_RV import_code(VRK_RV core) {
  for (const ImportCode& c : kImportCodes) {
    if (c.core == core) return c.rv;
  }
  return CKR_FUNCTION_FAILED;
}

// Room for every raw blob the core builds (an RSA-4096 private key with its
// CRT components takes 2,820 bytes).
constexpr VRK_UINT32 kBlobRoom = 4096;

// A raw blob the core builds, into `out`.
template <class Build>
CK_RV blob_from_core(Build build, zeb::SecretBytes& out) {
  out.assign(kBlobRoom, 0);
  VRK_UINT32 len = kBlobRoom;
  const VRK_RV rv = build(out.data(), &len);
  out.resize(rv == VRK_OK ? len : 0);
  return import_code(rv);
}

// The object's data by class and key algorithm.
CK_RV build_data(const Template& t, uint8_t type, uint8_t algo, Built& out) {
  const auto value = t.bytes(CKA_VALUE);
  switch (type) {
    case VRK_OBJ_SECRETKEY: {
      if (!value || value->empty()) return CKR_TEMPLATE_INCOMPLETE;
      if (const auto len = t.number(CKA_VALUE_LEN); len && *len != value->size()) return CKR_TEMPLATE_INCONSISTENT;
      out.data.assign(value->begin(), value->end());
      out.wrap = true;
      return CKR_OK;
    }
    case VRK_OBJ_PRIVATEKEY:
      if (zebp11::obj::is_ec_algo(algo)) {
        if (!value) return CKR_TEMPLATE_INCOMPLETE;
        const ec_oid_t* row = nullptr;
        if (const CK_RV rv = ec_curve(t, &row); rv != CKR_OK) return rv;
        out.wrap = true;
        return blob_from_core(
            [&](VRK_UCHAR_PTR blob, VRK_UINT32_PTR len) {
              return VRK_ECImportPrivateKey(static_cast<VRK_UCHAR>(row->ecc_curve_type), value->data(),
                                            static_cast<VRK_UINT32>(value->size()), blob, len);
            },
            out.data);
      }
      if (zebp11::obj::is_rsa_algo(algo)) {
        VRK_RSA_COMPONENTS c{};
        const auto get = [&](CK_ATTRIBUTE_TYPE a, const VRK_UCHAR** p, VRK_UINT32* n) {
          const std::span<const uint8_t> v = t.bytes(a).value_or(std::span<const uint8_t>{});
          *p = v.data();
          *n = static_cast<VRK_UINT32>(v.size());
        };
        get(CKA_MODULUS, &c.n, &c.n_len);
        get(CKA_PUBLIC_EXPONENT, &c.e, &c.e_len);
        get(CKA_PRIVATE_EXPONENT, &c.d, &c.d_len);
        get(CKA_PRIME_1, &c.p, &c.p_len);
        get(CKA_PRIME_2, &c.q, &c.q_len);
        get(CKA_EXPONENT_1, &c.dp, &c.dp_len);
        get(CKA_EXPONENT_2, &c.dq, &c.dq_len);
        get(CKA_COEFFICIENT, &c.qinv, &c.qinv_len);
        if ((c.p_len == 0) != (c.q_len == 0)) return CKR_TEMPLATE_INCOMPLETE;
        out.wrap = true;
        return blob_from_core(
            [&](VRK_UCHAR_PTR blob, VRK_UINT32_PTR len) { return VRK_RSAImportPrivateKey(&c, blob, len); }, out.data);
      }
      return CKR_TEMPLATE_INCONSISTENT;
    case VRK_OBJ_PUBLICKEY:
      if (zebp11::obj::is_ec_algo(algo)) {
        const ec_oid_t* row = nullptr;
        if (const CK_RV rv = ec_curve(t, &row); rv != CKR_OK) return rv;
        const auto point = t.bytes(CKA_EC_POINT);
        if (!point) return CKR_TEMPLATE_INCOMPLETE;
        ZEBP11_EC_PUBKEY rec{};
        rec.grp_id = row->ecc_curve_type;
        if (const VRK_RV rv = VRK_DerQToECCPubKey(point->data(), static_cast<VRK_UINT32>(point->size()), &rec);
            rv != CKR_OK) {
          return rv;
        }
        const auto* p = reinterpret_cast<const uint8_t*>(&rec);
        out.data.assign(p, p + P11_EcPubKeyLength(rec));
        return CKR_OK;
      }
      if (zebp11::obj::is_rsa_algo(algo)) {
        const auto n = t.bytes(CKA_MODULUS);
        const auto e = t.bytes(CKA_PUBLIC_EXPONENT);
        if (!n || !e) return CKR_TEMPLATE_INCOMPLETE;
        return blob_from_core(
            [&](VRK_UCHAR_PTR blob, VRK_UINT32_PTR len) {
              return VRK_RSAImportPublicKey(n->data(), static_cast<VRK_UINT32>(n->size()), e->data(),
                                            static_cast<VRK_UINT32>(e->size()), blob, len);
            },
            out.data);
      }
      return CKR_TEMPLATE_INCONSISTENT;
    case VRK_OBJ_CERTIFICATE:
      if (const auto ct = t.number(CKA_CERTIFICATE_TYPE); ct && *ct != CKC_X_509) return CKR_ATTRIBUTE_VALUE_INVALID;
      [[fallthrough]];
    default:
      if (!value) return CKR_TEMPLATE_INCOMPLETE;
      out.data.assign(value->begin(), value->end());
      return CKR_OK;
  }
}

// The finished object: plain data through the header the module builds;
// secret and private values wrapped by the core's raw-key import, then
// given the template's usage.
CK_RV build_object(VRK_HANDLE hVRK, const Built& b, uint8_t type, uint8_t algo, uint8_t* tkn_id, uint8_t* id,
                   uint8_t* label, VRK_UINT64 usage, HeapBytes& object, VRK_UINT32* len) {
  if (b.data.size() > 0xFFFFFF) return CKR_ATTRIBUTE_VALUE_INVALID;
  const auto n = static_cast<VRK_UINT32>(b.data.size());
  // Import headroom: a provider's key blob may carry more than the key.
  const VRK_UINT32 cap = n + VRK_OBJ_OVERHEAD + 256;
  VRK_UCHAR_PTR buf = nullptr;
  P11_TRY_CORE(VRK_AllocObject(cap - VRK_OBJ_OVERHEAD, &buf));
  object.reset(buf);
  *len = cap;
  if (!b.wrap) {
    VRK_OBJECT_META meta{};
    P11_TRY_CORE(VRK_SetObjMeta(VRK_MAC_SHA_256, VRK_ENC_CTR, tkn_id, id, label, type, algo, ZEB_OBJ_NO_EXTENSION, usage,
                                n, &meta));
    P11_TRY_CORE(VRK_SetObject(hVRK, &meta, const_cast<uint8_t*>(b.data.data()), n, buf, len));
    return CKR_OK;
  }
  P11_TRY_CORE(VRK_ImportRawKey(hVRK, const_cast<uint8_t*>(b.data.data()), n, algo, id, label, type, buf, len));
  VRK_OBJECT_META meta{};
  P11_TRY_CORE(VRK_GetObjMetaPtr(hVRK, buf, *len, &meta));
  meta.u64ObjKeyUsage = usage;
  P11_TRY_CORE(VRK_UpdObjectMeta(hVRK, buf, *len, &meta));
  return CKR_OK;
}

}  // namespace

CK_RV P11_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_BBOOL istokenobj,
                       CK_OBJECT_HANDLE_PTR phObject) {
  if (phObject == nullptr) return CKR_ARGUMENTS_BAD;
  P11_TRY(P11_CheckTemplateShape(pTemplate, ulCount));
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  VRK_UINT64 ext = 0, usage = 0;
  P11_TRY(P11_CKAttrToVRKAttr(pTemplate, ulCount, &ext, &usage));
  uint8_t id[P11_ID_LEN + 1] = {};
  uint8_t label[P11_LABEL_MAX + 1] = {};
  P11_TRY(P11_GetObjectIDAndLabel(pTemplate, ulCount, id, label, nullptr, nullptr));
  uint8_t tkn_id[17] = {};
  P11_TRY(P11_GetVRKTokenId(hSession, tkn_id));
  CK_OBJECT_CLASS objclass = CKO_DATA;
  P11_TRY(P11_GetCommonAttribute(pTemplate, ulCount, &objclass, nullptr, nullptr));
  VRK_UCHAR type = 0;
  CK_BBOOL key = CK_FALSE;
  P11_TRY(P11_CKObjClassToVRKObjType(objclass, &type, &key));
  VRK_UCHAR algo = VRK_KEY_NOTKEY;
  if (key == CK_TRUE) {
    P11_TRY(P11_CKAttrToVRKKeyAlgo(pTemplate, ulCount, &algo));
    if (algo == VRK_KEY_NOTSUPPORT) return CKR_TEMPLATE_INCOMPLETE;
  }
  Built built;
  P11_TRY(build_data(Template{pTemplate, ulCount}, type, algo, built));
  HeapBytes object;
  VRK_UINT32 len = 0;
  P11_TRY(build_object(hVRK, built, type, algo, tkn_id, id, label, usage, object, &len));
  ZEBP11_COMMON_OBJ_EXTENSION word{ext};
  VRK_UINT32 handle = 0;
  P11_TRY(VRK_SaveObject_and_Extension(hVRK, istokenobj == CK_TRUE ? CK_TRUE : CK_FALSE, object.get(), len,
                                       reinterpret_cast<VRK_UCHAR_PTR>(&word), sizeof word, &handle));
  *phObject = handle;
  return CKR_OK;
}

CK_RV P11_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  const auto handle = zebp11::obj::core_handle(hObject);
  if (!handle) return CKR_OBJECT_HANDLE_INVALID;
  VRK_UCHAR span = 0;
  P11_TRY(zebp11::obj::object_lifespan(hVRK, *handle, &span));
  if (span == VRK_OBJ_TOKEN) {
    P11_TRY_CORE(VRK_DeleteObject(hVRK, *handle));
  } else {
    P11_TRY_CORE(VRK_CheckSessionObjectExists(hVRK, *handle));
    P11_TRY_CORE(VRK_DeleteSessionObject(hVRK, *handle));
  }
  return CKR_OK;
}
