// C_DeriveKey with CKM_ECDH1_DERIVE (no KDF, no shared data): the shared
// secret of an EC private key and the peer's point becomes a new secret key
// (CKK_GENERIC_SECRET, or CKK_AES of 16, 24 or 32 bytes).
#include <zeb/vrk.h>
#include <zeb/vrk_crypto.h>
#include <zeb/vrk_sigform.h>

#include <cstring>
#include <vector>

#include "crypto/key_object.h"
#include "crypto/mechanisms.h"
#include "crypto/workers.h"
#include "frame/p11_frame.h"
#include "object/p11_object.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

// The DER OCTET STRING of an uncompressed P-521 point (2 + 2 + 133 bytes)
// with room to spare; longer public data is no point of a served curve.
constexpr CK_ULONG kPeerPointMax = sizeof(ZEBP11_EC_PUBKEY);

// Attributes the module sets on a derived key itself.
constexpr CK_ATTRIBUTE_TYPE kFixedTypes[] = {CKA_CLASS,    CKA_TOKEN,     CKA_PRIVATE, CKA_KEY_TYPE,
                                             CKA_VALUE_LEN, CKA_CHECK_VALUE};

bool fixed(CK_ATTRIBUTE_TYPE t) {
  for (CK_ATTRIBUTE_TYPE f : kFixedTypes) {
    if (f == t) return true;
  }
  return false;
}

CK_RV check_params(const CK_MECHANISM& m, const CK_ECDH1_DERIVE_PARAMS** out) {
  if (m.pParameter == nullptr || m.ulParameterLen != sizeof(CK_ECDH1_DERIVE_PARAMS)) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  const auto* p = static_cast<const CK_ECDH1_DERIVE_PARAMS*>(m.pParameter);
  if (p->kdf != CKD_NULL || p->ulSharedDataLen != 0 || p->pSharedData != nullptr || p->pPublicData == nullptr ||
      p->ulPublicDataLen == 0 || p->ulPublicDataLen > kPeerPointMax) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  *out = p;
  return CKR_OK;
}

// The secret's length: the template's CKA_VALUE_LEN, else the curve's; the
// key type must take it.
CK_RV secret_length(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count, const VRK_EC_FORM& curve, CK_KEY_TYPE* type, CK_ULONG* len) {
  CK_ULONG asked = 0;
  CK_RV rv = P11_GetCKAttrParams(tmpl, count, CKA_VALUE_LEN, &asked, nullptr);
  if (rv == CKR_FUNCTION_FAILED) {
    asked = curve.FieldLength;
  } else if (rv != CKR_OK) {
    return rv;
  }
  if (CK_RV t = P11_GetKeyType(tmpl, count, type); t != CKR_OK) return t;
  if (*type == CKK_AES) {
    if (asked != 16 && asked != 24 && asked != 32) return CKR_ATTRIBUTE_VALUE_INVALID;
  } else if (*type != CKK_GENERIC_SECRET) {
    return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  // The raw secret is the field element x(dQ): exactly that long.
  if (asked != curve.FieldLength) return CKR_TEMPLATE_INCONSISTENT;
  *len = asked;
  return CKR_OK;
}

// A public-key object, never stored, that carries the peer's point to the
// core.
CK_RV peer_object(VRK_HANDLE vrk, const VRK_EC_FORM& curve, const CK_ECDH1_DERIVE_PARAMS& p,
                  std::vector<uint8_t>& object) {
  ZEBP11_EC_PUBKEY peer{};
  peer.grp_id = curve.CurveId;
  const VRK_RV conv = VRK_DerQToECCPubKey(p.pPublicData, static_cast<VRK_UINT32>(p.ulPublicDataLen), &peer);
  if (conv != 0) return CKR_MECHANISM_PARAM_INVALID;
  const uint32_t ctx_len = P11_EcPubKeyLength(peer);
  if (ctx_len == 0) return CKR_MECHANISM_PARAM_INVALID;
  VRK_SESSION_INFO info{};
  if (VRK_RV rv = VRK_GetTokenSessionInfo(vrk, &info); rv != 0) return rv;
  VRK_OBJECT_META meta{};
  uint8_t id[] = "tmp_puk_id";
  uint8_t label[] = "tmp_puk_label";
  if (int rv = VRK_SetObjMeta(VRK_MAC_SHA_256, VRK_ENC_NONE, info.TknId, id, label, VRK_OBJ_PUBLICKEY, curve.KeyAlgo,
                              0xFFFFFFFFu, 0, ctx_len, &meta);
      rv != 0) {
    return static_cast<CK_RV>(static_cast<uint32_t>(rv));
  }
  object.assign(ctx_len + VRK_OBJ_OVERHEAD, 0);
  VRK_UINT32 len = static_cast<VRK_UINT32>(object.size());
  auto* ctx = reinterpret_cast<VRK_UCHAR_PTR>(&peer);
  if (int rv = VRK_SetObject(vrk, &meta, ctx, ctx_len, object.data(), &len); rv != 0) {
    return static_cast<CK_RV>(static_cast<uint32_t>(rv));
  }
  object.resize(len);
  return CKR_OK;
}

// The flags a derived key is stored with, and its write permission checked
// with: the template's CKA_TOKEN and CKA_PRIVATE over a session object,
// private.
struct Flags {
  CK_BBOOL token = CK_FALSE;
  CK_BBOOL priv = CK_TRUE;
};
Flags template_flags(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count) {
  Flags f;
  (void)P11_GetCommonAttribute(tmpl, count, nullptr, &f.token, &f.priv);
  return f;
}

CK_RV derive_key(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                 CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  if (CK_RV rv = entry_checks(site, EntryChecks{.required = {pMechanism, pTemplate, phKey}, .session = hSession});
      rv != CKR_OK) {
    return rv;
  }
  P11_TRY(P11_CheckTemplateShape(pTemplate, ulCount));
  const Flags f = template_flags(pTemplate, ulCount);
  P11_TRY(P11_CheckWriteObjectPermitted(hSession, f.token, f.priv));
  if (find_mechanism(pMechanism->mechanism, {Worker::kEcdh}) == nullptr) return CKR_MECHANISM_INVALID;
  return P11_ECDH(hSession, pMechanism, hBaseKey, pTemplate, ulCount, phKey);
}

}  // namespace

CK_RV P11_ECDH(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
               CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  const CK_ECDH1_DERIVE_PARAMS* params = nullptr;
  P11_TRY(check_params(*pMechanism, &params));
  if (ulCount == 0) return CKR_TEMPLATE_INCOMPLETE;
  // The value is the derivation's to set.
  if (P11_GetCKAttrParams(pTemplate, ulCount, CKA_VALUE, nullptr, nullptr) != CKR_FUNCTION_FAILED) {
    return CKR_ATTRIBUTE_READ_ONLY;
  }
  VRK_HANDLE vrk = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &vrk));
  KeyObject base;
  P11_TRY(base.load(vrk, hBaseKey));
  VRK_EC_FORM curve{};
  if (VRK_GetECForm(base.meta().ObjKeyAlgo, &curve) != 0 || base.meta().ObjType != VRK_OBJ_PRIVATEKEY) {
    return CKR_KEY_TYPE_INCONSISTENT;
  }
  P11_TRY(base.permits(P11_USAGE_DERIVE));
  CK_KEY_TYPE type = 0;
  CK_ULONG len = 0;
  P11_TRY(secret_length(pTemplate, ulCount, curve, &type, &len));

  std::vector<uint8_t> peer;
  P11_TRY(peer_object(vrk, curve, *params, peer));
  zeb::SecretArray<VRK_EC_CORE_VALUE_MAX> secret;
  VRK_UINT32 secret_len = secret.size();
  if (int rv = VRK_ECDH(vrk, base.data(), base.size(), peer.data(), static_cast<VRK_UINT32>(peer.size()),
                        secret.data(), &secret_len);
      rv != 0) {
    red_line(ZEBP11_SITE, static_cast<uint32_t>(rv));
    return static_cast<CK_RV>(static_cast<uint32_t>(rv));
  }
  // The core writes the curve's value length; the key is the field element.
  zeb::SecretArray<VRK_EC_CORE_VALUE_MAX> value;
  VRK_UINT32 value_len32 = value.size();
  if (VRK_ECDHSecretFromCore(curve.KeyAlgo, secret.data(), secret_len, value.data(), &value_len32) != 0 ||
      value_len32 != len) {
    return CKR_GENERAL_ERROR;
  }

  Flags f = template_flags(pTemplate, ulCount);
  CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
  CK_ULONG value_len = len;
  std::vector<CK_ATTRIBUTE> key = {
      {CKA_CLASS, &cls, sizeof cls},
      {CKA_TOKEN, &f.token, sizeof f.token},
      {CKA_PRIVATE, &f.priv, sizeof f.priv},
      {CKA_KEY_TYPE, &type, sizeof type},
      {CKA_VALUE, value.data(), len},
      {CKA_VALUE_LEN, &value_len, sizeof value_len},
  };
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    if (!fixed(pTemplate[i].type)) key.push_back(pTemplate[i]);
  }
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
  P11_TRY(P11_CreateObject(hSession, key.data(), static_cast<CK_ULONG>(key.size()), f.token, &made));
  *phKey = made;
  return CKR_OK;
}

extern "C" CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                             CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) try {
  return derive_key(ZEBP11_SITE, hSession, pMechanism, hBaseKey, pTemplate, ulCount, phKey);
} P11_CATCH_ALL
