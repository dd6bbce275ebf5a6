// Key generation: the core makes the key and its finished objects, the
// module stores them with the templates' usage, as token or session objects.
#include <cstring>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/object_internal.h"
#include "zeb/vrk_crypto.h"

namespace {

using zebp11::obj::HeapBytes;
using zebp11::obj::Template;

constexpr VRK_UINT32 kEcPrivCap = 76;
constexpr VRK_UINT32 kEcPubCap = 144;
constexpr VRK_UINT32 kRsaPrivCap = 2856;
constexpr VRK_UINT32 kRsaPubCap = 1040;
constexpr VRK_UINT32 kAesCap = 32;
constexpr CK_ULONG kRsaExponent = 65537;

// One generated object: its buffer, length and where it goes.
struct Generated {
  HeapBytes object;
  VRK_UINT32 len = 0;
};

CK_RV alloc(VRK_UINT32 capacity, Generated& g) {
  VRK_UCHAR_PTR p = nullptr;
  P11_TRY_CORE(VRK_AllocObject(capacity, &p));
  g.object.reset(p);
  g.len = capacity + VRK_OBJ_OVERHEAD;
  return CKR_OK;
}

// The template's usage attributes applied to the all-ones word the core
// gives a generated key; the header is rewritten only when they change it.
// A template that turns no usage off leaves the all-ones word as it is, so
// it needs no device call at all.
CK_RV apply_usage(VRK_HANDLE hVRK, const CK_ATTRIBUTE* attrs, CK_ULONG count, Generated& g) {
  constexpr VRK_UINT64 kAllUsage = ~VRK_UINT64{0};
  if (P11_ApplyUsage(attrs, count, kAllUsage) == kAllUsage) return CKR_OK;
  VRK_OBJECT_META meta{};
  P11_TRY_CORE(VRK_GetObjMetaPtr(hVRK, g.object.get(), g.len, &meta));
  const VRK_UINT64 usage = P11_ApplyUsage(attrs, count, meta.u64ObjKeyUsage);
  if (usage == meta.u64ObjKeyUsage) return CKR_OK;
  meta.u64ObjKeyUsage = usage;
  P11_TRY_CORE(VRK_UpdObjectMeta(hVRK, g.object.get(), g.len, &meta));
  return CKR_OK;
}

// Public keys are public and other keys private unless the template says
// otherwise.
CK_RV save(VRK_HANDLE hVRK, CK_ATTRIBUTE* attrs, CK_ULONG count, bool public_key, Generated& g, VRK_UINT32* handle) {
  const Template t{attrs, count};
  const CK_BBOOL token = t.flag(CKA_TOKEN).value_or(false) ? CK_TRUE : CK_FALSE;
  const bool priv = t.flag(CKA_PRIVATE).value_or(!public_key);
  ZEBP11_COMMON_OBJ_EXTENSION word{priv ? P11_EXT_PRIVATE : 0};
  P11_TRY(VRK_SaveObject_and_Extension(hVRK, token, g.object.get(), g.len, reinterpret_cast<VRK_UCHAR_PTR>(&word),
                                       sizeof word, handle));
  return CKR_OK;
}

bool token_of(CK_ATTRIBUTE* attrs, CK_ULONG count) { return Template{attrs, count}.flag(CKA_TOKEN).value_or(false); }

// Stores a key pair. Two token objects go into the store as one change (a
// crash leaves both or neither; token objects keep no extension word);
// otherwise the private key first, taken away again when its public key
// cannot be stored.
CK_RV save_pair(CK_SESSION_HANDLE hSession, VRK_HANDLE hVRK, CK_ATTRIBUTE_PTR pub, CK_ULONG pub_len,
                CK_ATTRIBUTE_PTR priv, CK_ULONG priv_len, Generated& gpub, Generated& gpriv,
                CK_OBJECT_HANDLE_PTR phpuk, CK_OBJECT_HANDLE_PTR phpriv) {
  P11_TRY(apply_usage(hVRK, priv, priv_len, gpriv));
  P11_TRY(apply_usage(hVRK, pub, pub_len, gpub));
  VRK_UINT32 hpriv = 0, hpub = 0;
  if (token_of(priv, priv_len) && token_of(pub, pub_len)) {
    P11_TRY_CORE(VRK_SaveObjectPair(hVRK, gpriv.object.get(), gpriv.len, gpub.object.get(), gpub.len, &hpriv, &hpub));
  } else {
    P11_TRY(save(hVRK, priv, priv_len, false, gpriv, &hpriv));
    if (const CK_RV rv = save(hVRK, pub, pub_len, true, gpub, &hpub); rv != CKR_OK) {
      (void)P11_DestroyObject(hSession, hpriv);
      return rv;
    }
  }
  *phpriv = hpriv;
  *phpuk = hpub;
  return CKR_OK;
}

CK_RV pair_arguments(CK_ATTRIBUTE_PTR pub, CK_ULONG pub_len, CK_ATTRIBUTE_PTR priv, CK_ULONG priv_len,
                     CK_OBJECT_HANDLE_PTR phpuk, CK_OBJECT_HANDLE_PTR phpriv) {
  if (phpuk == nullptr || phpriv == nullptr) return CKR_ARGUMENTS_BAD;
  *phpuk = CK_INVALID_HANDLE;
  *phpriv = CK_INVALID_HANDLE;
  P11_TRY(P11_CheckTemplateShape(pub, pub_len));
  P11_TRY(P11_CheckTemplateShape(priv, priv_len));
  return CKR_OK;
}

}  // namespace

CK_RV P11_GenerateEC(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pub_attrs, CK_ULONG pub_attrs_len,
                     CK_ATTRIBUTE_PTR priv_attrs, CK_ULONG priv_attrs_len, CK_OBJECT_HANDLE_PTR phpuk,
                     CK_OBJECT_HANDLE_PTR phpriv) {
  P11_TRY(pair_arguments(pub_attrs, pub_attrs_len, priv_attrs, priv_attrs_len, phpuk, phpriv));
  uint8_t params[P11_EC_PARAMS_MAX] = {};
  CK_ULONG params_len = 0;
  P11_TRY(P11_GetCKAttrParams(pub_attrs, pub_attrs_len, CKA_EC_PARAMS, params, &params_len));
  const ec_oid_t* row = zebp11::obj::curve_by_oid({params, params_len});
  if (row == nullptr) {
    P11_LOG_E("failed with err = 0x%08lx(%s)", CKR_CURVE_NOT_SUPPORTED, P11_CKRToString(CKR_CURVE_NOT_SUPPORTED));
    return CKR_CURVE_NOT_SUPPORTED;
  }
  uint8_t id[P11_ID_LEN + 1] = {};
  uint8_t label[P11_LABEL_MAX + 1] = {};
  P11_TRY(P11_GetObjectIDAndLabel(pub_attrs, pub_attrs_len, id, label, nullptr, nullptr));
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  Generated gpriv, gpub;
  P11_TRY(alloc(kEcPrivCap, gpriv));
  P11_TRY(alloc(kEcPubCap, gpub));
  P11_TRY_CORE(VRK_ECGenerateKeyPair(hVRK, static_cast<VRK_UCHAR>(row->ecc_curve_type), id, label,
                                     gpriv.object.get(), &gpriv.len, gpub.object.get(), &gpub.len));
  P11_TRY(save_pair(hSession, hVRK, pub_attrs, pub_attrs_len, priv_attrs, priv_attrs_len, gpub, gpriv, phpuk, phpriv));
  P11_LOG_D("ECC Gen Priv Key Success ! Index:%08lx", *phpriv);
  P11_LOG_D("ECC Gen Pub Key Success ! Index:%08lx", *phpuk);
  return CKR_OK;
}

CK_RV P11_GenerateRSA(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pub_attrs, CK_ULONG pub_attrs_len,
                      CK_ATTRIBUTE_PTR priv_attrs, CK_ULONG priv_attrs_len, CK_OBJECT_HANDLE_PTR phpuk,
                      CK_OBJECT_HANDLE_PTR phpriv) {
  P11_TRY(pair_arguments(pub_attrs, pub_attrs_len, priv_attrs, priv_attrs_len, phpuk, phpriv));
  const Template pub{pub_attrs, pub_attrs_len};
  const std::optional<CK_ULONG> bits = pub.number(CKA_MODULUS_BITS);
  if (!bits || *bits > 0xFFFFFFFFul) {
    P11_LOG_E("condition not match, return 0x%08lx(%s)!", CKR_TEMPLATE_INCOMPLETE,
              P11_CKRToString(CKR_TEMPLATE_INCOMPLETE));
    return CKR_TEMPLATE_INCOMPLETE;
  }
  // The generator makes keys with the exponent 65537 only; a template may
  // name it (clients always do).
  if (const auto e = pub.bytes(CKA_PUBLIC_EXPONENT)) {
    CK_ULONG v = 0;
    bool fits = true;
    for (uint8_t b : *e) {
      fits = fits && v <= 0xFFFFFFul;
      v = v << 8 | b;
    }
    if (!fits || v != kRsaExponent) return CKR_TEMPLATE_INCONSISTENT;
  }
  static constexpr CK_ATTRIBUTE_TYPE kComponents[] = {CKA_MODULUS,    CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
                                                      CKA_PRIME_2,    CKA_EXPONENT_1,       CKA_EXPONENT_2,
                                                      CKA_COEFFICIENT};
  for (CK_ATTRIBUTE_TYPE c : kComponents) {
    if (pub.has(c)) {
      P11_LOG_E("condition not match, return 0x%08lx(%s)!", CKR_ARGUMENTS_BAD, P11_CKRToString(CKR_ARGUMENTS_BAD));
      return CKR_ARGUMENTS_BAD;
    }
  }
  uint8_t id[P11_ID_LEN + 1] = {};
  uint8_t label[P11_LABEL_MAX + 1] = {};
  P11_TRY(P11_GetObjectIDAndLabel(pub_attrs, pub_attrs_len, id, label, nullptr, nullptr));
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  Generated gpriv, gpub;
  P11_TRY(alloc(kRsaPrivCap, gpriv));
  P11_TRY(alloc(kRsaPubCap, gpub));
  P11_TRY_CORE(VRK_RSAGenerateKeyPair(hVRK, static_cast<VRK_UINT32>(*bits), kRsaExponent, id, label,
                                      gpriv.object.get(), &gpriv.len, gpub.object.get(), &gpub.len));
  P11_TRY(save_pair(hSession, hVRK, pub_attrs, pub_attrs_len, priv_attrs, priv_attrs_len, gpub, gpriv, phpuk, phpriv));
  P11_LOG_D("Gen Pub Key Success ! Index:%08lx", *phpuk);
  return CKR_OK;
}

CK_RV P11_GenerateAES(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR /*pMechanism*/, CK_ATTRIBUTE_PTR pTemplate,
                      CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  if (phKey == nullptr) return CKR_ARGUMENTS_BAD;
  P11_TRY(P11_CheckTemplateShape(pTemplate, ulCount));
  const Template t{pTemplate, ulCount};
  if (!t.has(CKA_TOKEN)) P11_LOG_W("CKA_TOKEN not specified, save as session object");
  const std::optional<CK_ULONG> len = t.number(CKA_VALUE_LEN);
  if (!len) {
    P11_LOG_E("condition not match, return 0x%08lx(%s)!", CKR_TEMPLATE_INCOMPLETE,
              P11_CKRToString(CKR_TEMPLATE_INCOMPLETE));
    return CKR_TEMPLATE_INCOMPLETE;
  }
  VRK_UCHAR cipher = 0;
  P11_TRY(_aes_key_length_to_vrkkeytype(*len, &cipher));
  uint8_t id[P11_ID_LEN + 1] = {};
  uint8_t label[P11_LABEL_MAX + 1] = {};
  P11_TRY(P11_GetObjectIDAndLabel(pTemplate, ulCount, id, label, nullptr, nullptr));
  Generated g;
  P11_TRY(alloc(kAesCap, g));
  P11_TRY_CORE(VRK_GenerateKey(hVRK, cipher, id, label, g.object.get(), &g.len));
  P11_TRY(apply_usage(hVRK, pTemplate, ulCount, g));
  VRK_UINT32 handle = 0;
  P11_TRY(save(hVRK, pTemplate, ulCount, false, g, &handle));
  *phKey = handle;
  P11_LOG_D("AES GenKey Success ! Index:%u", handle);
  return CKR_OK;
}
