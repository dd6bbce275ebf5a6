// What the object layer knows of attribute types (their widths, PKCS#11
// v3.0 §4) and the typed readers of a template built on it.
#pragma once

#include <pkcs11/pkcs11.h>

#include <cstdint>
#include <optional>
#include <span>

namespace zebp11::obj {

enum class Width : uint8_t { kBytes, kBool, kUlong };

struct AttrRule {
  CK_ATTRIBUTE_TYPE type;
  Width width;
};

// Every attribute of a fixed width; all others are byte strings.
inline constexpr AttrRule kFixedWidth[] = {
    {CKA_CLASS, Width::kUlong},
    {CKA_TOKEN, Width::kBool},
    {CKA_PRIVATE, Width::kBool},
    {CKA_TRUSTED, Width::kBool},
    {CKA_CERTIFICATE_TYPE, Width::kUlong},
    {CKA_CERTIFICATE_CATEGORY, Width::kUlong},
    {CKA_JAVA_MIDP_SECURITY_DOMAIN, Width::kUlong},
    {CKA_NAME_HASH_ALGORITHM, Width::kUlong},
    {CKA_KEY_TYPE, Width::kUlong},
    {CKA_SENSITIVE, Width::kBool},
    {CKA_ENCRYPT, Width::kBool},
    {CKA_DECRYPT, Width::kBool},
    {CKA_WRAP, Width::kBool},
    {CKA_UNWRAP, Width::kBool},
    {CKA_SIGN, Width::kBool},
    {CKA_SIGN_RECOVER, Width::kBool},
    {CKA_VERIFY, Width::kBool},
    {CKA_VERIFY_RECOVER, Width::kBool},
    {CKA_DERIVE, Width::kBool},
    {CKA_MODULUS_BITS, Width::kUlong},
    {CKA_PRIME_BITS, Width::kUlong},
    {CKA_SUBPRIME_BITS, Width::kUlong},
    {CKA_VALUE_BITS, Width::kUlong},
    {CKA_VALUE_LEN, Width::kUlong},
    {CKA_EXTRACTABLE, Width::kBool},
    {CKA_LOCAL, Width::kBool},
    {CKA_NEVER_EXTRACTABLE, Width::kBool},
    {CKA_ALWAYS_SENSITIVE, Width::kBool},
    {CKA_KEY_GEN_MECHANISM, Width::kUlong},
    {CKA_MODIFIABLE, Width::kBool},
    {CKA_COPYABLE, Width::kBool},
    {CKA_DESTROYABLE, Width::kBool},
    {CKA_WRAP_WITH_TRUSTED, Width::kBool},
    {CKA_ALWAYS_AUTHENTICATE, Width::kBool},
    {CKA_HW_FEATURE_TYPE, Width::kUlong},
};

constexpr Width width_of(CK_ATTRIBUTE_TYPE type) {
  for (const AttrRule& r : kFixedWidth) {
    if (r.type == type) return r.width;
  }
  return Width::kBytes;
}

constexpr CK_ULONG width_bytes(Width w) {
  return w == Width::kBool ? sizeof(CK_BBOOL) : w == Width::kUlong ? sizeof(CK_ULONG) : 0;
}

// A template as a sequence; a null template has no entries.
struct Template {
  const CK_ATTRIBUTE* attrs = nullptr;
  CK_ULONG count = 0;

  const CK_ATTRIBUTE* begin() const { return attrs == nullptr ? nullptr : attrs; }
  const CK_ATTRIBUTE* end() const { return attrs == nullptr ? nullptr : attrs + count; }
  // The first entry of the type, or null.
  const CK_ATTRIBUTE* find(CK_ATTRIBUTE_TYPE type) const;
  bool has(CK_ATTRIBUTE_TYPE type) const { return find(type) != nullptr; }
  // Typed values of a template whose shape was checked (entries of another
  // width read as absent).
  std::optional<bool> flag(CK_ATTRIBUTE_TYPE type) const;
  std::optional<CK_ULONG> number(CK_ATTRIBUTE_TYPE type) const;
  std::optional<std::span<const uint8_t>> bytes(CK_ATTRIBUTE_TYPE type) const;
};

inline std::span<const uint8_t> value_of(const CK_ATTRIBUTE& a) {
  if (a.pValue == nullptr || a.ulValueLen == 0) return {};
  return {static_cast<const uint8_t*>(a.pValue), a.ulValueLen};
}

}  // namespace zebp11::obj
