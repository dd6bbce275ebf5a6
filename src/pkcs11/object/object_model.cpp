// Classes, key types, curves, IDs, labels and the usage and extension words.
#include "object/object_model.h"

#include <cstring>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"

namespace zebp11::obj {

namespace {

// Named-curve identifiers of SEC 2 and RFC 5639 (content bytes).
constexpr uint8_t kOidP256[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr uint8_t kOidP384[] = {0x2B, 0x81, 0x04, 0x00, 0x22};
constexpr uint8_t kOidP521[] = {0x2B, 0x81, 0x04, 0x00, 0x23};
constexpr uint8_t kOidK192[] = {0x2B, 0x81, 0x04, 0x00, 0x1F};
constexpr uint8_t kOidK224[] = {0x2B, 0x81, 0x04, 0x00, 0x20};
constexpr uint8_t kOidK256[] = {0x2B, 0x81, 0x04, 0x00, 0x0A};
constexpr uint8_t kOidBp256[] = {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07};
constexpr uint8_t kOidBp384[] = {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B};
constexpr uint8_t kOidBp512[] = {0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D};

struct ClassRow {
  CK_OBJECT_CLASS cls;
  uint8_t type;
  bool key;
};
constexpr ClassRow kClasses[] = {
    {CKO_DATA, VRK_OBJ_DATA, false},           {CKO_CERTIFICATE, VRK_OBJ_CERTIFICATE, false},
    {CKO_PUBLIC_KEY, VRK_OBJ_PUBLICKEY, true}, {CKO_PRIVATE_KEY, VRK_OBJ_PRIVATEKEY, true},
    {CKO_SECRET_KEY, VRK_OBJ_SECRETKEY, true},
};

struct KeyRow {
  CK_KEY_TYPE key;
  uint8_t first;  // key algorithms first..last
  uint8_t last;
};
constexpr KeyRow kKeyTypes[] = {
    {CKK_SHA_1_HMAC, VRK_KEY_SHA1_HMAC, VRK_KEY_SHA1_HMAC},
    {CKK_SHA224_HMAC, VRK_KEY_SHA224_HMAC, VRK_KEY_SHA224_HMAC},
    {CKK_SHA256_HMAC, VRK_KEY_SHA256_HMAC, VRK_KEY_SHA256_HMAC},
    {CKK_SHA384_HMAC, VRK_KEY_SHA384_HMAC, VRK_KEY_SHA384_HMAC},
    {CKK_SHA512_HMAC, VRK_KEY_SHA512_HMAC, VRK_KEY_SHA512_HMAC},
    {CKK_AES, VRK_KEY_AES128, VRK_KEY_AES256},
    {CKK_RSA, VRK_KEY_RSA1024, VRK_KEY_RSA4096},
    {CKK_EC, VRK_KEY_EC_NIST256, VRK_KEY_EC_BP512R1},
    {CKK_GENERIC_SECRET, VRK_KEY_SS, VRK_KEY_SS},
    {CKK_VENDOR_DEFINED, VRK_KEY_NOTKEY, VRK_KEY_NOTKEY},
};

struct UsageRow {
  CK_ATTRIBUTE_TYPE type;
  VRK_UINT64 bit;
};
constexpr UsageRow kUsage[] = {
    {CKA_ENCRYPT, P11_USAGE_ENCRYPT}, {CKA_DECRYPT, P11_USAGE_DECRYPT},     {CKA_SIGN, P11_USAGE_SIGN},
    {CKA_VERIFY, P11_USAGE_VERIFY},   {CKA_WRAP, P11_USAGE_WRAP},           {CKA_UNWRAP, P11_USAGE_UNWRAP},
    {CKA_SENSITIVE, P11_USAGE_SENSITIVE}, {CKA_DERIVE, P11_USAGE_DERIVE},
};

// The usages a key of each class has when its template names none of them
// (what clients such as pkcs11-tool's --write-object rely on): a template's
// own CK_FALSE still turns one off.
struct DefaultUsageRow {
  CK_OBJECT_CLASS cls;
  VRK_UINT64 usage;
};
constexpr DefaultUsageRow kDefaultUsage[] = {
    {CKO_PUBLIC_KEY, P11_USAGE_VERIFY | P11_USAGE_ENCRYPT | P11_USAGE_WRAP},
    {CKO_PRIVATE_KEY, P11_USAGE_SIGN | P11_USAGE_DECRYPT | P11_USAGE_UNWRAP | P11_USAGE_DERIVE},
    {CKO_SECRET_KEY, P11_USAGE_ENCRYPT | P11_USAGE_DECRYPT | P11_USAGE_WRAP | P11_USAGE_UNWRAP},
};

constexpr VRK_UINT64 default_usage(CK_OBJECT_CLASS cls) {
  for (const DefaultUsageRow& r : kDefaultUsage) {
    if (r.cls == cls) return r.usage;
  }
  return 0;
}

constexpr char kDefaultId[] = "default_id";
constexpr char kDefaultLabel[] = "default_label";

// An ID or label as the header keeps it: a zero-terminated text cut at its
// field, so it must be non-empty, fit, and hold no zero byte.
bool storable(std::span<const uint8_t> v, size_t field) {
  return !v.empty() && v.size() <= field && std::memchr(v.data(), 0, v.size()) == nullptr;
}

// Drops the leading zero bytes of a big-endian number.
std::span<const uint8_t> significant(std::span<const uint8_t> v) {
  while (!v.empty() && v.front() == 0) v = v.subspan(1);
  return v;
}

}  // namespace

const ec_oid_t ec_oid_arr[10] = {
    {"secp256r1", sizeof kOidP256, kOidP256, VRK_KEY_EC_NIST256, VRK_CURVE_NIST_P256},
    {"prime256v1", sizeof kOidP256, kOidP256, VRK_KEY_EC_NIST256, VRK_CURVE_NIST_P256},
    {"secp384r1", sizeof kOidP384, kOidP384, VRK_KEY_EC_NIST384, VRK_CURVE_NIST_P384},
    {"secp521r1", sizeof kOidP521, kOidP521, VRK_KEY_EC_NIST521, VRK_CURVE_NIST_P521},
    {"secp192k1", sizeof kOidK192, kOidK192, VRK_KEY_EC_SECP192K1, VRK_CURVE_SECP192K1},
    {"secp224k1", sizeof kOidK224, kOidK224, VRK_KEY_EC_SECP224K1, VRK_CURVE_SECP224K1},
    {"secp256k1", sizeof kOidK256, kOidK256, VRK_KEY_EC_SECP256K1, VRK_CURVE_SECP256K1},
    {"brainpoolP256r1", sizeof kOidBp256, kOidBp256, VRK_KEY_EC_BP256R1, VRK_CURVE_BP256R1},
    {"brainpoolP384r1", sizeof kOidBp384, kOidBp384, VRK_KEY_EC_BP384R1, VRK_CURVE_BP384R1},
    {"brainpoolP512r1", sizeof kOidBp512, kOidBp512, VRK_KEY_EC_BP512R1, VRK_CURVE_BP512R1},
};

const ec_oid_t* curve_by_oid(std::span<const uint8_t> der) {
  if (der.size() < 2 || der[0] != 0x06 || der[1] != der.size() - 2) return nullptr;
  for (const ec_oid_t& row : ec_oid_arr) {
    if (row.asn1_oid_value_len == der[1] && std::memcmp(row.asn1_oid_value, der.data() + 2, der[1]) == 0) return &row;
  }
  return nullptr;
}

const ec_oid_t* curve_by_algo(uint8_t algo) {
  for (const ec_oid_t& row : ec_oid_arr) {
    if (row.vrk_key_algo == algo) return &row;
  }
  return nullptr;
}

uint32_t curve_length(uint32_t ecc_curve_type) {
  return ecc_curve_type > 0xFF ? 0 : VRK_ECCurveLength(static_cast<VRK_UCHAR>(ecc_curve_type));
}

}  // namespace zebp11::obj

using namespace zebp11::obj;

// ---- Curve table lookups ----------------------------------------------------------

namespace {

// The DER OID in a caller's buffer: tag, length and the content it claims,
// read no further than P11_EC_PARAMS_MAX bytes.
const ec_oid_t* curve_of_param(const uint8_t* ec_param, CK_RV* rv) {
  if (ec_param == nullptr || ec_param[0] != 0x06) {
    *rv = CKR_ARGUMENTS_BAD;
    return nullptr;
  }
  const size_t len = size_t{ec_param[1]} + 2;
  const ec_oid_t* row = len <= P11_EC_PARAMS_MAX ? curve_by_oid({ec_param, len}) : nullptr;
  *rv = row != nullptr ? CKR_OK : CKR_CURVE_NOT_SUPPORTED;
  return row;
}

}  // namespace

CK_RV ECParamToVRKKeyAlgo(const uint8_t* ec_param, VRK_UCHAR* vrk_key_algo) {
  if (vrk_key_algo == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = CKR_OK;
  if (const ec_oid_t* row = curve_of_param(ec_param, &rv)) *vrk_key_algo = row->vrk_key_algo;
  return rv;
}

CK_RV ECParamToVRKECCurveType(const uint8_t* ec_param, uint32_t* ecc_curve_type) {
  if (ecc_curve_type == nullptr) return CKR_ARGUMENTS_BAD;
  CK_RV rv = CKR_OK;
  if (const ec_oid_t* row = curve_of_param(ec_param, &rv)) *ecc_curve_type = row->ecc_curve_type;
  return rv;
}

CK_RV VRKKeyAlgoToECParam(VRK_UCHAR vrk_key_algo, uint8_t* ec_param, uint8_t* ec_param_len) {
  const ec_oid_t* row = curve_by_algo(vrk_key_algo == VRK_KEY_SS ? uint8_t{VRK_KEY_EC_NIST521} : vrk_key_algo);
  if (row == nullptr) return CKR_CURVE_NOT_SUPPORTED;
  if (ec_param != nullptr) {
    ec_param[0] = 0x06;
    ec_param[1] = row->asn1_oid_value_len;
    std::memcpy(ec_param + 2, row->asn1_oid_value, row->asn1_oid_value_len);
  }
  if (ec_param_len != nullptr) *ec_param_len = static_cast<uint8_t>(row->asn1_oid_value_len + 2);
  return CKR_OK;
}

CK_RV CurveNameToOid(const char* curve_name, uint8_t* ec_param, uint8_t* ec_param_len) {
  if (curve_name == nullptr || ec_param == nullptr || ec_param_len == nullptr) return CKR_ARGUMENTS_BAD;
  for (const ec_oid_t& row : ec_oid_arr) {
    if (std::strcmp(curve_name, row.curve_name) == 0) return VRKKeyAlgoToECParam(row.vrk_key_algo, ec_param, ec_param_len);
  }
  return CKR_CURVE_NOT_SUPPORTED;
}

// ---- Classes and key types -------------------------------------------------------

CK_RV P11_CKObjClassToVRKObjType(CK_OBJECT_CLASS objclass, VRK_UCHAR* vrk_objtype, CK_BBOOL* need_key_algo) {
  if (vrk_objtype == nullptr) return CKR_ARGUMENTS_BAD;
  *vrk_objtype = VRK_OBJ_P11;
  for (const ClassRow& r : kClasses) {
    if (r.cls == objclass) {
      *vrk_objtype = r.type;
      if (need_key_algo != nullptr) *need_key_algo = r.key ? CK_TRUE : CK_FALSE;
    }
  }
  return CKR_OK;
}

CK_RV P11_VRKObjTypeToCKObjClass(VRK_UCHAR vrk_objtype, CK_OBJECT_CLASS* objclass) {
  if (objclass == nullptr) return CKR_ARGUMENTS_BAD;
  for (const ClassRow& r : kClasses) {
    if (r.type == vrk_objtype) {
      *objclass = r.cls;
      return CKR_OK;
    }
  }
  return CKR_ARGUMENTS_BAD;
}

CK_RV P11_VRKKeyAlgoToCKKeyType(VRK_UCHAR vrk_keyalgo, CK_KEY_TYPE* p11_keytype) {
  if (p11_keytype == nullptr) return CKR_ARGUMENTS_BAD;
  if (vrk_keyalgo == VRK_KEY_NOTSUPPORT) return CKR_ARGUMENTS_BAD;
  for (const KeyRow& r : kKeyTypes) {
    if (vrk_keyalgo >= r.first && vrk_keyalgo <= r.last) {
      *p11_keytype = r.key;
      break;
    }
  }
  return CKR_OK;
}

CK_RV P11_CKAttrToVRKKeyAlgo(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UCHAR* vrk_keyalgo) {
  if (vrk_keyalgo == nullptr) return CKR_ARGUMENTS_BAD;
  const Template t{attrs, attrs_len};
  const std::optional<CK_KEY_TYPE> key = t.number(CKA_KEY_TYPE);
  if (!key) return t.has(CKA_KEY_TYPE) ? CKR_ATTRIBUTE_VALUE_INVALID : CKR_TEMPLATE_INCOMPLETE;
  switch (*key) {
    case CKK_RSA: {
      const auto n = t.bytes(CKA_MODULUS);
      if (!n) return CKR_TEMPLATE_INCOMPLETE;
      const size_t bytes = significant(*n).size();
      *vrk_keyalgo = bytes == 128   ? VRK_KEY_RSA1024
                     : bytes == 256 ? VRK_KEY_RSA2048
                     : bytes == 384 ? VRK_KEY_RSA3072
                     : bytes == 512 ? VRK_KEY_RSA4096
                                    : VRK_KEY_NOTSUPPORT;
      return CKR_OK;
    }
    case CKK_EC: {
      // The curve of an EC key is named, never defaulted.
      const auto params = t.bytes(CKA_EC_PARAMS);
      if (!params) return CKR_TEMPLATE_INCOMPLETE;
      const ec_oid_t* row = curve_by_oid(*params);
      if (row == nullptr) {
        P11_LOG_E("failed with err = 0x%08lx(%s)", CKR_CURVE_NOT_SUPPORTED, P11_CKRToString(CKR_CURVE_NOT_SUPPORTED));
        return CKR_CURVE_NOT_SUPPORTED;
      }
      *vrk_keyalgo = row->vrk_key_algo;
      return CKR_OK;
    }
    case CKK_AES: {
      const auto v = t.bytes(CKA_VALUE);
      if (!v) return CKR_TEMPLATE_INCOMPLETE;
      VRK_UCHAR cipher = 0;
      if (_aes_key_length_to_vrkkeytype(v->size(), &cipher) != CKR_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
      *vrk_keyalgo = static_cast<VRK_UCHAR>(VRK_KEY_AES128 + cipher - 1);
      return CKR_OK;
    }
    default:
      break;
  }
  *vrk_keyalgo = VRK_KEY_NOTSUPPORT;
  for (const KeyRow& r : kKeyTypes) {
    // Key types of one algorithm each; AES, RSA and EC are sized above.
    if (r.key == *key && r.first == r.last && r.key != CKK_VENDOR_DEFINED) *vrk_keyalgo = r.first;
  }
  return CKR_OK;
}

CK_RV _aes_key_length_to_vrkkeytype(CK_ULONG key_length, VRK_UCHAR* KeyType) {
  if (KeyType == nullptr) return CKR_ARGUMENTS_BAD;
  if (key_length != 16 && key_length != 24 && key_length != 32) {
    P11_LOG_E("key length error! only support 128, 192, 256");
    return CKR_ARGUMENTS_BAD;
  }
  *KeyType = static_cast<VRK_UCHAR>((key_length - 8) / 8);
  return CKR_OK;
}

// ---- ID, label, usage and extension ----------------------------------------------------

CK_RV P11_GetObjectIDAndLabel(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UCHAR* objid, VRK_UCHAR* objlabel,
                              CK_BBOOL* hasid, CK_BBOOL* haslabel) {
  const Template t{attrs, attrs_len};
  const auto id = t.bytes(CKA_ID);
  const auto label = t.bytes(CKA_LABEL);
  if (hasid != nullptr) *hasid = id ? CK_TRUE : CK_FALSE;
  if (haslabel != nullptr) *haslabel = label ? CK_TRUE : CK_FALSE;
  if (id && !storable(*id, P11_ID_LEN)) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (label && !storable(*label, P11_LABEL_MAX)) return CKR_ATTRIBUTE_VALUE_INVALID;
  if (objid != nullptr) {
    if (id) {
      std::memcpy(objid, id->data(), id->size());
    } else {
      std::memcpy(objid, kDefaultId, sizeof kDefaultId);
      P11_LOG_W("objid not given in the attribute, use default_id");
    }
  }
  if (objlabel != nullptr) {
    if (label) {
      std::memcpy(objlabel, label->data(), label->size());
    } else {
      std::memcpy(objlabel, kDefaultLabel, sizeof kDefaultLabel);
      P11_LOG_W("objlabel not given in the attribute, use default_label");
    }
  }
  return CKR_OK;
}

VRK_UINT64 P11_ApplyUsage(const CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UINT64 usage) {
  const Template t{attrs, attrs_len};
  for (const UsageRow& r : kUsage) {
    if (const auto v = t.flag(r.type)) usage = *v ? usage | r.bit : usage & ~r.bit;
  }
  // A value that may not be extracted is kept like a sensitive one.
  if (t.flag(CKA_EXTRACTABLE) == std::optional<bool>(false)) usage |= P11_USAGE_SENSITIVE;
  return usage;
}

CK_RV P11_CKAttrToVRKAttr(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, VRK_UINT64* u64ObjCmnStoAttr,
                          VRK_UINT64* u64ObjKeyUsage) {
  if (u64ObjCmnStoAttr == nullptr || u64ObjKeyUsage == nullptr) return CKR_ARGUMENTS_BAD;
  CK_OBJECT_CLASS objclass = CKO_DATA;
  CK_BBOOL token = CK_FALSE;
  CK_BBOOL priv = CK_TRUE;
  (void)P11_GetCommonAttribute(attrs, attrs_len, &objclass, &token, &priv);
  VRK_UINT64 ext = 0;
  if (objclass == CKO_CERTIFICATE) ext |= P11_EXT_CERTIFICATE;
  if (priv != CK_FALSE) ext |= P11_EXT_PRIVATE;
  *u64ObjCmnStoAttr = ext;
  *u64ObjKeyUsage = P11_ApplyUsage(attrs, attrs_len, default_usage(objclass));
  return CKR_OK;
}
