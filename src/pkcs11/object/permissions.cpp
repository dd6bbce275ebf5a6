// Which session may write or read which object, and the attribute rules of
// object creation and key generation, as tables.
#include "frame/p11_frame.h"
#include "object/attr_rules.h"
#include "object/p11_object.h"

namespace {

using zebp11::obj::Template;

// ---- Write permission ---------------------------------------------------------

// Columns: public session object, private session object, public token
// object, private token object. A read-only session never writes a token
// object (PKCS#11 v3.0 §5.6).
struct WriteRow {
  CK_STATE state;
  CK_RV verdict[4];
};
constexpr CK_RV kOk = CKR_OK;
constexpr CK_RV kRO = CKR_SESSION_READ_ONLY;
constexpr CK_RV kNL = CKR_USER_NOT_LOGGED_IN;
constexpr WriteRow kWriteTable[] = {
    {CKS_RO_PUBLIC_SESSION, {kOk, kRO, kRO, kRO}},
    {CKS_RO_USER_FUNCTIONS, {kOk, kOk, kRO, kRO}},
    {CKS_RW_PUBLIC_SESSION, {kOk, kNL, kOk, kNL}},
    {CKS_RW_USER_FUNCTIONS, {kOk, kOk, kOk, kOk}},
    {CKS_RW_SO_FUNCTIONS, {kOk, kNL, kOk, kNL}},
};

// ---- Attribute rules ------------------------------------------------------------

enum class Check : uint8_t {
  kPresent,
  kAbsent,
  kKeyTypeReadable,  // an 8-byte CKA_KEY_TYPE
};

constexpr uint32_t cls(CK_OBJECT_CLASS c) { return 1u << c; }
constexpr uint32_t kKeyClasses = cls(CKO_PUBLIC_KEY) | cls(CKO_PRIVATE_KEY) | cls(CKO_SECRET_KEY);
constexpr uint32_t kAllClasses = ~0u;
constexpr CK_KEY_TYPE kAnyKey = ~CK_KEY_TYPE{0};

struct Rule {
  uint32_t classes;  // bit per class the rule applies to; kAllClasses: any class
  CK_KEY_TYPE key;   // kAnyKey: any key type
  CK_ATTRIBUTE_TYPE type;
  Check check;
  CK_RV fail;
};

constexpr CK_RV kTI = CKR_ATTRIBUTE_TYPE_INVALID;

// Object creation, in order; the first broken rule decides.
constexpr Rule kCreateRules[] = {
    {cls(CKO_HW_FEATURE), kAnyKey, CKA_HW_FEATURE_TYPE, Check::kPresent, kTI},
    {kAllClasses, kAnyKey, CKA_LOCAL, Check::kAbsent, kTI},
    {kAllClasses, kAnyKey, CKA_KEY_GEN_MECHANISM, Check::kAbsent, kTI},
    {kKeyClasses, kAnyKey, CKA_KEY_TYPE, Check::kPresent, kTI},
    {kKeyClasses, kAnyKey, CKA_KEY_TYPE, Check::kKeyTypeReadable, CKR_TEMPLATE_INCONSISTENT},
    {cls(CKO_PRIVATE_KEY), kAnyKey, CKA_ALWAYS_SENSITIVE, Check::kAbsent, kTI},
    {cls(CKO_PRIVATE_KEY), kAnyKey, CKA_NEVER_EXTRACTABLE, Check::kAbsent, kTI},
    {cls(CKO_PUBLIC_KEY), CKK_RSA, CKA_MODULUS, Check::kPresent, kTI},
    {cls(CKO_PUBLIC_KEY), CKK_RSA, CKA_PUBLIC_EXPONENT, Check::kPresent, kTI},
    {cls(CKO_PUBLIC_KEY), CKK_RSA, CKA_MODULUS_BITS, Check::kAbsent, kTI},
    {cls(CKO_PRIVATE_KEY), CKK_RSA, CKA_MODULUS, Check::kPresent, kTI},
    {cls(CKO_PRIVATE_KEY), CKK_RSA, CKA_PUBLIC_EXPONENT, Check::kPresent, kTI},
    {cls(CKO_PRIVATE_KEY), CKK_RSA, CKA_PRIVATE_EXPONENT, Check::kPresent, kTI},
    {cls(CKO_DOMAIN_PARAMETERS), kAnyKey, CKA_KEY_TYPE, Check::kPresent, kTI},
    {cls(CKO_DOMAIN_PARAMETERS), kAnyKey, CKA_LOCAL, Check::kAbsent, kTI},
};

// Key generation: what only the token may set.
constexpr Rule kGenerateRules[] = {
    {kKeyClasses, kAnyKey, CKA_LOCAL, Check::kAbsent, kTI},
    {kKeyClasses, kAnyKey, CKA_KEY_GEN_MECHANISM, Check::kAbsent, kTI},
    {cls(CKO_PRIVATE_KEY) | cls(CKO_SECRET_KEY), kAnyKey, CKA_ALWAYS_SENSITIVE, Check::kAbsent, kTI},
    {cls(CKO_PRIVATE_KEY) | cls(CKO_SECRET_KEY), kAnyKey, CKA_NEVER_EXTRACTABLE, Check::kAbsent, kTI},
};

bool applies(const Rule& r, CK_OBJECT_CLASS objclass, const std::optional<CK_KEY_TYPE>& key) {
  const bool class_ok = r.classes == kAllClasses || (objclass < 32 && (r.classes & cls(objclass)) != 0);
  return class_ok && (r.key == kAnyKey || (key && *key == r.key));
}

template <size_t N>
CK_RV check_rules(const Rule (&rules)[N], CK_OBJECT_CLASS objclass, const Template& t) {
  const std::optional<CK_KEY_TYPE> key =
      objclass == CKO_PUBLIC_KEY || objclass == CKO_PRIVATE_KEY || objclass == CKO_SECRET_KEY
          ? t.number(CKA_KEY_TYPE)
          : std::nullopt;
  for (const Rule& r : rules) {
    if (!applies(r, objclass, key)) continue;
    const bool ok = r.check == Check::kPresent          ? t.has(r.type)
                    : r.check == Check::kAbsent         ? !t.has(r.type)
                                                        : key.has_value();
    if (!ok) return r.fail;
  }
  return CKR_OK;
}

}  // namespace

// The rule sets: CKR_OK or the code of the first rule the template breaks.
CK_RV _P11_CheckCreateObjectCKAttrLegal(CK_OBJECT_CLASS objclass, CK_ATTRIBUTE* attrs, CK_ULONG attrs_len) {
  return check_rules(kCreateRules, objclass, Template{attrs, attrs_len});
}

CK_RV _P11_CheckGenKeyCKAttrLegal(CK_OBJECT_CLASS objclass, CK_ATTRIBUTE* attrs, CK_ULONG attrs_len) {
  return check_rules(kGenerateRules, objclass, Template{attrs, attrs_len});
}

namespace {

// The rule set of each operation that has one.
struct OpRules {
  e_P11OP op;
  CK_RV (*check)(CK_OBJECT_CLASS, CK_ATTRIBUTE*, CK_ULONG);
};
constexpr OpRules kOpRules[] = {
    {OP_CREATE_OBJECT, _P11_CheckCreateObjectCKAttrLegal},
    {OP_GENERATE_KEY, _P11_CheckGenKeyCKAttrLegal},
    {OP_GENERATE_PUBKEY, _P11_CheckGenKeyCKAttrLegal},
    {OP_GENERATE_PRIVKEY, _P11_CheckGenKeyCKAttrLegal},
};

}  // namespace

CK_RV P11_CheckWriteObjectPermitted(CK_SESSION_HANDLE hSession, CK_BBOOL istokenobj, CK_BBOOL isprivobj) {
  P11_LOG_T();
  CK_SESSION_INFO info{};
  if (const CK_RV rv = P11_GetSessionInfo(hSession, &info); rv != CKR_OK) {
    P11_LOG_E("failed with err = 0x%08lx(%s)", rv, P11_CKRToString(rv));
    return rv;
  }
  const bool token = istokenobj == CK_TRUE;
  const bool priv = isprivobj != CK_FALSE;
  const size_t column = (token ? 2 : 0) + (priv ? 1 : 0);
  if (column == 0) return CKR_OK;
  for (const WriteRow& row : kWriteTable) {
    if (row.state == info.state) return row.verdict[column];
  }
  return CKR_USER_NOT_LOGGED_IN;
}

CK_RV P11_CheckReadObjectPermitted(CK_SESSION_HANDLE hSession, CK_BBOOL /*istokenobj*/, CK_BBOOL isprivobj) {
  P11_LOG_T();
  CK_SESSION_INFO info{};
  if (const CK_RV rv = P11_GetSessionInfo(hSession, &info); rv != CKR_OK) {
    P11_LOG_E("failed with err = 0x%08lx(%s)", rv, P11_CKRToString(rv));
    return rv;
  }
  if (isprivobj == CK_FALSE) return CKR_OK;
  return info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
}

CK_RV P11_CheckOPLegalwithCKAttr(CK_ATTRIBUTE* attrs, CK_ULONG attrs_len, e_P11OP OP) {
  P11_LOG_T();
  CK_OBJECT_CLASS objclass = CKO_DATA;
  CK_BBOOL token = CK_FALSE;
  CK_BBOOL priv = CK_TRUE;
  (void)P11_GetCommonAttribute(attrs, attrs_len, &objclass, &token, &priv);
  const OpRules* rules = nullptr;
  for (const OpRules& r : kOpRules) {
    if (r.op == OP) rules = &r;
  }
  if (rules == nullptr) return CKR_NO_EVENT;
  const CK_RV rv = rules->check(objclass, attrs, attrs_len);
  if (rv != CKR_OK) P11_LOG_E("failed with err = 0x%08lx(%s)", rv, P11_CKRToString(rv));
  return rv;
}
