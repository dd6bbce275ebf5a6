// The read-out list of C_GetAttributeValue: which of the asked attributes
// the object has and how long they are, their value buffers, their values,
// and the release of the buffers.
#include <string.h>

#include <cstring>
#include <new>

#include "object/object_internal.h"

using namespace zebp11::obj;

namespace {

// The value buffers of one list are carved from one block headed by its
// size, in list order: the first buffer given out tells where the block is.
constexpr size_t kBlockHead = sizeof(size_t);

}  // namespace

CK_RV P11_LoadObjTypesandLen(const LoadedObject& obj, const CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                             CK_ULONG max_attrs_len, CK_ATTRIBUTE* attrs, CK_ULONG_PTR attrs_len) {
  if (attrs_len == nullptr) return CKR_ARGUMENTS_BAD;
  *attrs_len = 0;
  if (attrs == nullptr || (pTemplate == nullptr && ulCount != 0)) return CKR_ARGUMENTS_BAD;
  CK_ULONG n = 0;
  for (CK_ULONG i = 0; i < ulCount; ++i) {
    const CK_ATTRIBUTE_TYPE type = pTemplate[i].type;
    if (listed_attr(attrs, n, type) != nullptr) continue;
    const AttrSource s = attr_source(obj, type);
    if (s.kind == AttrSource::kAbsent || s.kind == AttrSource::kWithheld) continue;
    // Only a bound below the types one object answers gets here.
    if (n == max_attrs_len) return CKR_GENERAL_ERROR;
    attrs[n++] = CK_ATTRIBUTE{type, nullptr, attr_bound(obj, s)};
  }
  *attrs_len = n;
  return CKR_OK;
}

CK_RV P11_AllocObjAttr(CK_ULONG attrs_len, CK_ATTRIBUTE* attrs) {
  if (attrs == nullptr && attrs_len != 0) return CKR_ARGUMENTS_BAD;
  size_t total = 0;
  for (CK_ULONG i = 0; i < attrs_len; ++i) total += attrs[i].ulValueLen;
  if (total == 0) return CKR_OK;
  auto* block = new (std::nothrow) uint8_t[kBlockHead + total];
  if (block == nullptr) return CKR_HOST_MEMORY;
  std::memcpy(block, &total, sizeof total);
  uint8_t* next = block + kBlockHead;
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    if (attrs[i].ulValueLen == 0) continue;
    attrs[i].pValue = next;
    next += attrs[i].ulValueLen;
  }
  return CKR_OK;
}

CK_RV P11_LoadObjAttrValue(LoadedObject& obj, CK_ULONG attrs_len, CK_ATTRIBUTE* attrs) {
  if (attrs == nullptr && attrs_len != 0) return CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    CK_ATTRIBUTE& a = attrs[i];
    if (a.ulValueLen == 0) continue;  // an empty value: nothing to write
    if (a.pValue == nullptr) return CKR_ARGUMENTS_BAD;
    size_t len = 0;
    CK_RV err = CKR_OK;
    const Answer ans =
        attr_fill(obj, a.type, attr_source(obj, a.type), {static_cast<uint8_t*>(a.pValue), a.ulValueLen}, &len, &err);
    if (err != CKR_OK) return err;
    a.ulValueLen = ans == Answer::kValue ? len : CK_UNAVAILABLE_INFORMATION;
  }
  return CKR_OK;
}

CK_RV P11_DeallocObjAttr(CK_ULONG attrs_len, CK_ATTRIBUTE* attrs) {
  if (attrs == nullptr) return CKR_OK;
  uint8_t* first = nullptr;
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    if (first == nullptr) first = static_cast<uint8_t*>(attrs[i].pValue);
    attrs[i].pValue = nullptr;
  }
  if (first == nullptr) return CKR_OK;
  uint8_t* block = first - kBlockHead;
  size_t total = 0;
  std::memcpy(&total, block, sizeof total);
  explicit_bzero(block, kBlockHead + total);
  delete[] block;
  return CKR_OK;
}
