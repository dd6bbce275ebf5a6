// Reading templates: the typed readers, the shape check every creating
// template passes, and the attribute search the crypto entry points share.
#include <cstring>

#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/p11_object.h"

namespace zebp11::obj {

const CK_ATTRIBUTE* Template::find(CK_ATTRIBUTE_TYPE type) const {
  for (const CK_ATTRIBUTE& a : *this) {
    if (a.type == type) return &a;
  }
  return nullptr;
}

std::optional<bool> Template::flag(CK_ATTRIBUTE_TYPE type) const {
  const CK_ATTRIBUTE* a = find(type);
  if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(CK_BBOOL)) return std::nullopt;
  return *static_cast<const CK_BBOOL*>(a->pValue) != CK_FALSE;
}

std::optional<CK_ULONG> Template::number(CK_ATTRIBUTE_TYPE type) const {
  const CK_ATTRIBUTE* a = find(type);
  if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(CK_ULONG)) return std::nullopt;
  CK_ULONG v = 0;
  std::memcpy(&v, a->pValue, sizeof v);
  return v;
}

std::optional<std::span<const uint8_t>> Template::bytes(CK_ATTRIBUTE_TYPE type) const {
  const CK_ATTRIBUTE* a = find(type);
  if (a == nullptr) return std::nullopt;
  return value_of(*a);
}

}  // namespace zebp11::obj

using zebp11::obj::Template;
using zebp11::obj::Width;

CK_RV P11_CheckTemplateShape(const CK_ATTRIBUTE* attrs, CK_ULONG attrs_len) {
  if (attrs == nullptr) return attrs_len == 0 ? CKR_OK : CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    const CK_ATTRIBUTE& a = attrs[i];
    if (a.pValue == nullptr && a.ulValueLen != 0) return CKR_ARGUMENTS_BAD;
    const Width w = zebp11::obj::width_of(a.type);
    if (w != Width::kBytes) {
      if (a.ulValueLen != zebp11::obj::width_bytes(w)) return CKR_ATTRIBUTE_VALUE_INVALID;
      // CK_TRUE and CK_FALSE only: another byte would be read as true by
      // some checks and as false by others.
      if (w == Width::kBool && *static_cast<const CK_BBOOL*>(a.pValue) > CK_TRUE) return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    for (CK_ULONG j = 0; j < i; ++j) {
      if (attrs[j].type == a.type) return CKR_TEMPLATE_INCONSISTENT;
    }
  }
  return CKR_OK;
}

CK_RV P11_GetCKAttrParams(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_ATTRIBUTE_TYPE cka_type, void* value,
                          CK_ULONG* value_len) {
  if (attrs == nullptr || attrs_len == 0) return CKR_TEMPLATE_INCOMPLETE;
  const CK_ATTRIBUTE* a = Template{attrs, attrs_len}.find(cka_type);
  if (a == nullptr) return CKR_FUNCTION_FAILED;
  if (a->pValue == nullptr && a->ulValueLen != 0) return CKR_ARGUMENTS_BAD;
  if (value != nullptr) {
    const CK_ULONG width = zebp11::obj::width_bytes(zebp11::obj::width_of(cka_type));
    if (width != 0 && a->ulValueLen != width) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (cka_type == CKA_EC_PARAMS && a->ulValueLen > P11_EC_PARAMS_MAX) return CKR_ATTRIBUTE_VALUE_INVALID;
  }
  if (value_len != nullptr) *value_len = a->ulValueLen;
  if (value != nullptr && a->ulValueLen != 0) std::memcpy(value, a->pValue, a->ulValueLen);
  return CKR_OK;
}

CK_RV P11_GetKeyType(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_KEY_TYPE* pkeytype) {
  if (pkeytype == nullptr) return CKR_ARGUMENTS_BAD;
  for (const CK_ATTRIBUTE& a : Template{attrs, attrs_len}) {
    if (a.type == CKA_KEY_TYPE && a.ulValueLen == sizeof(CK_KEY_TYPE) && a.pValue != nullptr) {
      std::memcpy(pkeytype, a.pValue, sizeof(CK_KEY_TYPE));
      return CKR_OK;
    }
  }
  return CKR_TEMPLATE_INCONSISTENT;
}

CK_RV P11_GetCommonAttribute(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, CK_OBJECT_CLASS* objClass,
                             CK_BBOOL* istokenobj, CK_BBOOL* isprivobj) {
  bool private_given = false;
  for (const CK_ATTRIBUTE& a : Template{attrs, attrs_len}) {
    if (a.pValue == nullptr) continue;
    if (a.type == CKA_CLASS && a.ulValueLen == sizeof(CK_OBJECT_CLASS)) {
      if (objClass != nullptr) std::memcpy(objClass, a.pValue, sizeof(CK_OBJECT_CLASS));
    } else if (a.type == CKA_TOKEN && a.ulValueLen == 1) {
      if (istokenobj != nullptr) *istokenobj = *static_cast<const CK_BBOOL*>(a.pValue);
    } else if (a.type == CKA_PRIVATE && a.ulValueLen == 1) {
      if (isprivobj != nullptr) *isprivobj = *static_cast<const CK_BBOOL*>(a.pValue);
      private_given = true;
    }
  }
  // Certificates and public keys are public unless the template says
  // otherwise.
  if (objClass != nullptr && isprivobj != nullptr && !private_given &&
      (*objClass == CKO_PUBLIC_KEY || *objClass == CKO_CERTIFICATE)) {
    *isprivobj = CK_FALSE;
  }
  return CKR_OK;
}
