// The attributes of a stored object, derived from its header, context and
// extension word on every call (the module keeps none of its own).
#include <algorithm>
#include <cstring>
#include <iterator>

#include "frame/p11_frame.h"
#include "object/object_internal.h"

namespace zebp11::obj {

namespace {

// Object kinds as bits, for the tables of which kind has which attribute
// (PKCS#11 v3.0 §4.4 to §4.10).
constexpr uint32_t kind(uint8_t obj_type) { return 1u << obj_type; }
constexpr uint32_t kPub = kind(VRK_OBJ_PUBLICKEY);
constexpr uint32_t kPriv = kind(VRK_OBJ_PRIVATEKEY);
constexpr uint32_t kSec = kind(VRK_OBJ_SECRETKEY);
constexpr uint32_t kCert = kind(VRK_OBJ_CERTIFICATE);
constexpr uint32_t kKeys = kPub | kPriv | kSec;

// Types answered with length 0 (values the standard lets be empty: dates,
// byte arrays, templates) by the kinds that have them but whose header has
// no field for them.
struct NoValue {
  CK_ATTRIBUTE_TYPE type;
  uint32_t kinds;
};
constexpr NoValue kNoValueTypes[] = {
    {CKA_START_DATE, kKeys | kCert},    {CKA_END_DATE, kKeys | kCert},   {CKA_SUBJECT, kPub | kPriv | kCert},
    {CKA_ALLOWED_MECHANISMS, kKeys},    {CKA_WRAP_TEMPLATE, kPub | kSec}, {CKA_UNWRAP_TEMPLATE, kPriv | kSec},
};

// The usage attributes, each of the kinds that have it, from its bit of
// the header's usage word.
struct UsageAttr {
  CK_ATTRIBUTE_TYPE type;
  uint32_t kinds;
  VRK_UINT64 bit;
};
constexpr UsageAttr kUsageAttrs[] = {
    {CKA_ENCRYPT, kPub | kSec, P11_USAGE_ENCRYPT},   {CKA_DECRYPT, kPriv | kSec, P11_USAGE_DECRYPT},
    {CKA_SIGN, kPriv | kSec, P11_USAGE_SIGN},        {CKA_VERIFY, kPub | kSec, P11_USAGE_VERIFY},
    {CKA_WRAP, kPub | kSec, P11_USAGE_WRAP},         {CKA_UNWRAP, kPriv | kSec, P11_USAGE_UNWRAP},
    {CKA_SENSITIVE, kPriv | kSec, P11_USAGE_SENSITIVE}, {CKA_DERIVE, kKeys, P11_USAGE_DERIVE},
};

// The attributes the extension word answers, for every object.
struct ExtAttr {
  CK_ATTRIBUTE_TYPE type;
  VRK_UINT64 bit;
};
constexpr ExtAttr kExtAttrs[] = {
    {CKA_PRIVATE, P11_EXT_PRIVATE}, {CKA_MODIFIABLE, P11_EXT_MODIFIABLE}, {CKA_COPYABLE, P11_EXT_COPYABLE}};

// What the module never does or lets be set: these read false on the kinds
// that have them.
struct FixedFalse {
  CK_ATTRIBUTE_TYPE type;
  uint32_t kinds;
};
constexpr FixedFalse kFixedFalse[] = {
    {CKA_SIGN_RECOVER, kPriv | kSec},      {CKA_VERIFY_RECOVER, kPub | kSec},
    {CKA_ALWAYS_AUTHENTICATE, kPriv},      {CKA_WRAP_WITH_TRUSTED, kPriv | kSec},
    {CKA_TRUSTED, kPub | kSec | kCert},
};

// The mechanism that made a key on the token, by key algorithm.
CK_MECHANISM_TYPE generator_of(uint8_t algo) {
  if (is_aes_algo(algo)) return CKM_AES_KEY_GEN;
  if (is_ec_algo(algo)) return CKM_EC_KEY_PAIR_GEN;
  if (is_rsa_algo(algo)) return CKM_RSA_PKCS_KEY_PAIR_GEN;
  return CK_UNAVAILABLE_INFORMATION;
}

// Private-key components, never handed out.
constexpr CK_ATTRIBUTE_TYPE kPrivateParts[] = {CKA_VALUE,   CKA_PRIVATE_EXPONENT, CKA_PRIME_1,    CKA_PRIME_2,
                                               CKA_EXPONENT_1, CKA_EXPONENT_2,   CKA_COEFFICIENT};

using Src = AttrSource;

Src of_kind(Src::Kind k) {
  Src s;
  s.kind = k;
  return s;
}
template <class T>
Src small_value(const T& v) {
  static_assert(sizeof v <= sizeof(Src::small));
  Src s = of_kind(Src::kInline);
  std::memcpy(s.small, &v, sizeof v);
  s.small_len = sizeof v;
  return s;
}
Src bool_value(bool b) { return small_value(static_cast<CK_BBOOL>(b ? CK_TRUE : CK_FALSE)); }
Src borrowed(std::span<const uint8_t> b) {
  Src s = of_kind(Src::kBorrowed);
  s.borrowed = b;
  return s;
}

template <size_t N>
bool one_of(const CK_ATTRIBUTE_TYPE (&types)[N], CK_ATTRIBUTE_TYPE t) {
  for (CK_ATTRIBUTE_TYPE x : types) {
    if (x == t) return true;
  }
  return false;
}

size_t text_len(const uint8_t* field, size_t width) {
  const void* z = std::memchr(field, 0, width);
  return z == nullptr ? width : static_cast<size_t>(static_cast<const uint8_t*>(z) - field);
}

bool is_key(uint8_t type) {
  return type == VRK_OBJ_SECRETKEY || type == VRK_OBJ_PRIVATEKEY || type == VRK_OBJ_PUBLICKEY;
}

// The DER OCTET STRING of the longest point the record holds.
constexpr CK_ULONG kEcPointMax = 4 + sizeof(ZEBP11_EC_PUBKEY::q_point);

// Modulus or public exponent of an RSA key object: the core reads them from
// the object (a private key's blob is opened there; nothing else of it
// reaches the module).
constexpr CK_ULONG kRsaPartMax = 512;
Answer rsa_part(LoadedObject& o, CK_ATTRIBUTE_TYPE type, std::span<uint8_t> out, size_t* len, CK_RV* error) {
  uint8_t n[kRsaPartMax], e[kRsaPartMax];
  VRK_UINT32 n_len = sizeof n, e_len = sizeof e;
  const VRK_RV rv = VRK_RSAGetPublicComponents(o.hVRK, o.object.get(), o.meta.u32DataLen + VRK_OBJ_OVERHEAD, n, &n_len,
                                                e, &e_len);
  if (rv == VRK_ERR_KEY_VALUE) return Answer::kAbsent;  // not a key the core can read
  if (rv != 0) {
    *error = CKR_FUNCTION_FAILED;
    return Answer::kAbsent;
  }
  const std::span<const uint8_t> part = type == CKA_MODULUS ? std::span<const uint8_t>(n, n_len)
                                                            : std::span<const uint8_t>(e, e_len);
  if (part.size() > out.size()) {
    *error = CKR_GENERAL_ERROR;
    return Answer::kAbsent;
  }
  std::memcpy(out.data(), part.data(), part.size());
  *len = part.size();
  return Answer::kValue;
}

// Types outside the tables above that some object answers: class, key type,
// token, ID, label, destroyable, local, key generation mechanism,
// extractable, always sensitive, never extractable, value, value length,
// certificate type, modulus, public exponent, modulus bits, EC parameters,
// EC point. No object answers more types than all of them: the read-out
// list holds them all.
constexpr size_t kTypesOutsideTables = 19;
static_assert(std::size(kNoValueTypes) + std::size(kUsageAttrs) + std::size(kExtAttrs) + std::size(kFixedFalse) +
                  kTypesOutsideTables <=
              P11_MAX_OBJ_ATTRS);

// The attributes a header or store record alone answers.
std::optional<Src> header_source(uint8_t obj_type, uint8_t key_algo, const uint8_t* id, const uint8_t* label,
                                 bool token, CK_ATTRIBUTE_TYPE type) {
  switch (type) {
    case CKA_CLASS: {
      CK_OBJECT_CLASS c = 0;
      if (P11_VRKObjTypeToCKObjClass(obj_type, &c) != CKR_OK) return of_kind(Src::kAbsent);
      return small_value(c);
    }
    case CKA_KEY_TYPE: {
      if (obj_type != VRK_OBJ_DATA && !is_key(obj_type)) return of_kind(Src::kAbsent);
      CK_KEY_TYPE k = CKK_VENDOR_DEFINED;
      if (P11_VRKKeyAlgoToCKKeyType(key_algo, &k) != CKR_OK) return of_kind(Src::kAbsent);
      return small_value(k);
    }
    case CKA_TOKEN:
      return bool_value(token);
    case CKA_ID:
      return borrowed({id, text_len(id, P11_ID_LEN)});
    case CKA_LABEL:
      return borrowed({label, text_len(label, P11_LABEL_MAX)});
    default:
      return std::nullopt;
  }
}

// The attributes of one object kind and key algorithm: values, parts and
// what is withheld.
std::optional<Src> kind_source(const LoadedObject& o, CK_ATTRIBUTE_TYPE type) {
  const VRK_OBJECT_META& m = o.meta;
  const uint8_t algo = m.ObjKeyAlgo;
  const bool sensitive = (m.u64ObjKeyUsage & P11_USAGE_SENSITIVE) != 0;
  switch (m.ObjType) {
    case VRK_OBJ_DATA:
      if (type == CKA_VALUE) return borrowed(o.ctx());
      break;
    case VRK_OBJ_CERTIFICATE:
      if (type == CKA_VALUE) return borrowed(o.ctx());
      if (type == CKA_CERTIFICATE_TYPE) return small_value(CK_CERTIFICATE_TYPE{CKC_X_509});
      break;
    case VRK_OBJ_SECRETKEY:
      if (type == CKA_VALUE_LEN) return small_value(CK_ULONG{is_aes_algo(algo) ? aes_len(algo) : m.u32DataLen});
      if (type == CKA_VALUE) return of_kind(sensitive ? Src::kWithheld : Src::kPlainKey);
      break;
    case VRK_OBJ_PUBLICKEY:
      if (is_rsa_algo(algo)) {
        if (type == CKA_MODULUS || type == CKA_PUBLIC_EXPONENT) return of_kind(Src::kRsaPart);
        if (type == CKA_MODULUS_BITS) return small_value(CK_ULONG{rsa_bits(algo)});
        if (type == CKA_VALUE) return borrowed(o.ctx());
      } else if (is_ec_algo(algo)) {
        if (type == CKA_EC_PARAMS) return of_kind(Src::kEcParams);
        if (type == CKA_EC_POINT) return of_kind(Src::kEcPoint);
      }
      break;
    case VRK_OBJ_PRIVATEKEY:
      if (one_of(kPrivateParts, type) && (is_rsa_algo(algo) || (is_ec_algo(algo) && type == CKA_VALUE))) {
        return of_kind(Src::kWithheld);
      }
      if (is_rsa_algo(algo) && type == CKA_MODULUS_BITS) return small_value(CK_ULONG{rsa_bits(algo)});
      if (is_rsa_algo(algo) && (type == CKA_MODULUS || type == CKA_PUBLIC_EXPONENT)) return of_kind(Src::kRsaPart);
      if (is_ec_algo(algo) && type == CKA_EC_PARAMS) return of_kind(Src::kEcParams);
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint32_t> core_handle(CK_OBJECT_HANDLE h) {
  if (h == CK_INVALID_HANDLE || h > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<uint32_t>(h);
}

VRK_UINT64 LoadedObject::ext_word() const {
  if (ext == nullptr) return 0;
  VRK_UINT64 w = 0;
  std::memcpy(&w, ext.get(), sizeof w);
  return w;
}

const zeb::SecretBytes* LoadedObject::plain_key() {
  if (!plain_tried_) {
    plain_tried_ = true;
    zeb::SecretBytes buf(plain_key_max());
    VRK_UINT32 len = static_cast<VRK_UINT32>(buf.size());
    const int rv = token() ? VRK_ExportRawKey(hVRK, handle, buf.data(), &len)
                           : static_cast<int>(VRK_SetSwKey2Plain(hVRK, context.get(), meta.u32DataLen, buf.data(), &len));
    if (rv == 0 && len <= buf.size()) {
      buf.resize(len);
      plain_ = std::move(buf);
    }
  }
  return plain_ ? &*plain_ : nullptr;
}

CK_RV object_lifespan(VRK_HANDLE hVRK, uint32_t handle, VRK_UCHAR* span) {
  const auto rv = static_cast<CK_RV>(static_cast<uint32_t>(VRK_GetObjectLifeSpan(hVRK, handle, span)));
  // The session's own failures stay; any other means "no such object".
  if (rv == CKR_OK || rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_USER_NOT_LOGGED_IN || rv == CKR_MUTEX_BAD) {
    return rv;
  }
  return CKR_OBJECT_HANDLE_INVALID;
}

CK_RV load_object(VRK_HANDLE hVRK, uint32_t handle, LoadedObject& out) {
  out.hVRK = hVRK;
  out.handle = handle;
  VRK_UCHAR_PTR ctx = nullptr, obj = nullptr, ext = nullptr;
  const int rv = VRK_GetObject_and_Extension(hVRK, handle, sizeof(ZEBP11_COMMON_OBJ_EXTENSION), &out.meta, &ctx, &obj, &ext);
  out.context.reset(ctx);
  out.object.reset(obj);
  out.ext.reset(ext);
  if (rv == 0) return CKR_OK;
  VRK_UCHAR span = 0;
  const CK_RV exists = object_lifespan(hVRK, handle, &span);
  return exists != CKR_OK ? exists : static_cast<CK_RV>(static_cast<uint32_t>(rv));
}

AttrSource attr_source(const LoadedObject& o, CK_ATTRIBUTE_TYPE type) {
  const VRK_OBJECT_META& m = o.meta;
  // Each type has one rule for an object; the order only saves time.
  if (auto h = header_source(m.ObjType, m.ObjKeyAlgo, m.ObjId, m.ObjLabel, o.token(), type)) return *h;
  if (auto v = kind_source(o, type)) return *v;
  const VRK_UINT64 ext = o.ext_word();
  const VRK_UINT64 usage = m.u64ObjKeyUsage;
  const bool sensitive = (usage & P11_USAGE_SENSITIVE) != 0;
  if (type == CKA_DESTROYABLE) return bool_value(true);
  // Every object is private: none is found or read before the user logs in,
  // whatever CKA_PRIVATE its template gave (PKCS#11 v3.0 §4.4).
  if (type == CKA_PRIVATE) return bool_value(true);
  const uint32_t k = m.ObjType < 32 ? kind(m.ObjType) : 0;
  const bool from_words = std::any_of(std::begin(kExtAttrs), std::end(kExtAttrs),
                                      [&](const ExtAttr& e) { return e.type == type; }) ||
                          std::any_of(std::begin(kUsageAttrs), std::end(kUsageAttrs),
                                      [&](const UsageAttr& u) { return u.type == type && (u.kinds & k) != 0; });
  if (from_words) {
    CK_BBOOL flag = CK_FALSE;
    CK_ATTRIBUTE one{type, &flag, sizeof flag};
    (void)P11_VRKAttrToCKAttr(ext, usage, &one, 1);
    return bool_value(flag != CK_FALSE);
  }
  for (const FixedFalse& f : kFixedFalse) {
    if (f.type == type && (f.kinds & k) != 0) return bool_value(false);
  }
  // What the key's origin fixes: a key made on the token carries the local
  // bit (PKCS#11 v3.0 §4.7, §4.9, §4.10).
  const bool local = (usage & P11_USAGE_LOCAL) != 0;
  if ((k & kKeys) != 0) {
    if (type == CKA_LOCAL) return bool_value(local);
    if (type == CKA_KEY_GEN_MECHANISM) {
      return small_value(CK_MECHANISM_TYPE{local ? generator_of(m.ObjKeyAlgo) : CK_UNAVAILABLE_INFORMATION});
    }
  }
  if ((k & (kPriv | kSec)) != 0) {
    // A private key never leaves; a secret key only when not sensitive.
    const bool extractable = (k & kSec) != 0 && !sensitive;
    if (type == CKA_EXTRACTABLE) return bool_value(extractable);
    if (type == CKA_ALWAYS_SENSITIVE) return bool_value(local && sensitive);
    if (type == CKA_NEVER_EXTRACTABLE) return bool_value(local && !extractable);
  }
  for (const NoValue& n : kNoValueTypes) {
    if (n.type == type && (n.kinds & k) != 0) return of_kind(Src::kEmpty);
  }
  return of_kind(Src::kAbsent);
}

CK_ULONG attr_bound(const LoadedObject& o, const AttrSource& s) {
  switch (s.kind) {
    case Src::kInline:
      return s.small_len;
    case Src::kBorrowed:
      return s.borrowed.size();
    case Src::kEcParams:
      return P11_EC_PARAMS_MAX;
    case Src::kEcPoint:
      return kEcPointMax;
    case Src::kRsaPart:
      return kRsaPartMax;
    case Src::kPlainKey:
      return o.plain_key_max();
    default:
      return 0;
  }
}

Answer attr_fill(LoadedObject& o, CK_ATTRIBUTE_TYPE type, const AttrSource& s, std::span<uint8_t> out, size_t* len,
                 CK_RV* error) {
  *len = 0;
  std::span<const uint8_t> bytes;
  switch (s.kind) {
    case Src::kInline:
      bytes = {s.small, s.small_len};
      break;
    case Src::kBorrowed:
      bytes = s.borrowed;
      break;
    case Src::kEcParams: {
      uint8_t n = 0;
      if (out.size() < P11_EC_PARAMS_MAX || VRKKeyAlgoToECParam(o.meta.ObjKeyAlgo, out.data(), &n) != CKR_OK) {
        return Answer::kAbsent;
      }
      *len = n;
      return Answer::kValue;
    }
    case Src::kEcPoint: {
      // The context is the EC public-key record; the core checks it.
      const std::span<const uint8_t> ctx = o.ctx();
      VRK_UINT32 n = static_cast<VRK_UINT32>(std::min<size_t>(out.size(), kEcPointMax));
      if (VRK_ECPublicKeyToPoint(ctx.data(), static_cast<VRK_UINT32>(ctx.size()), out.data(), &n) != 0) {
        return Answer::kAbsent;
      }
      *len = n;
      return Answer::kValue;
    }
    case Src::kRsaPart:
      return rsa_part(o, type, out, len, error);
    case Src::kPlainKey: {
      const zeb::SecretBytes* key = o.plain_key();
      if (key == nullptr) {
        *error = CKR_FUNCTION_FAILED;
        return Answer::kAbsent;
      }
      bytes = *key;
      break;
    }
    case Src::kEmpty:
      return Answer::kValue;
    default:
      return Answer::kAbsent;
  }
  if (bytes.size() > out.size()) {
    *error = CKR_GENERAL_ERROR;
    return Answer::kAbsent;
  }
  if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
  *len = bytes.size();
  return Answer::kValue;
}

namespace {

// A source as the find compares it: the value in `value`.
Answer answer_of(LoadedObject* o, const AttrSource& s, CK_ATTRIBUTE_TYPE type, zeb::SecretBytes& value,
                 CK_RV* error) {
  switch (s.kind) {
    case Src::kAbsent:
      return Answer::kAbsent;
    case Src::kWithheld:
      return Answer::kSensitive;
    case Src::kEmpty:
      return Answer::kNoValue;
    case Src::kInline:
    case Src::kBorrowed: {
      const std::span<const uint8_t> b = s.kind == Src::kInline ? std::span<const uint8_t>(s.small, s.small_len)
                                                                : s.borrowed;
      value.assign(b.begin(), b.end());
      return Answer::kValue;
    }
    default: {
      value.resize(attr_bound(*o, s));
      size_t len = 0;
      const Answer a = attr_fill(*o, type, s, value, &len, error);
      value.resize(len);
      return a;
    }
  }
}

}  // namespace

bool header_value_equals(uint8_t obj_type, uint8_t key_algo, const uint8_t* id, const uint8_t* label, bool token,
                         CK_ATTRIBUTE_TYPE type, std::span<const uint8_t> want) {
  const auto s = header_source(obj_type, key_algo, id, label, token, type);
  if (!s) return false;
  std::span<const uint8_t> have;
  if (s->kind == Src::kInline) {
    have = {s->small, s->small_len};
  } else if (s->kind == Src::kBorrowed) {
    have = s->borrowed;
  } else {
    return false;
  }
  return have.size() == want.size() && (have.empty() || std::memcmp(have.data(), want.data(), have.size()) == 0);
}

Answer answer(LoadedObject& o, CK_ATTRIBUTE_TYPE type, zeb::SecretBytes& value, CK_RV* error) {
  *error = CKR_OK;
  return answer_of(&o, attr_source(o, type), type, value, error);
}

ObjAttrList::~ObjAttrList() { (void)P11_DeallocObjAttr(count, attrs); }

bool is_extension_object(VRK_HANDLE hVRK, uint32_t handle) {
  if (!is_session_handle(handle)) return false;
  const uint32_t slot = handle - VRK_SESS_OBJ_HANDLE_BASE;
  if (slot >= VRK_MAX_SESS_OBJECTS) return false;
  std::vector<VRK_SESS_OBJECT> slots(VRK_MAX_SESS_OBJECTS);
  if (VRK_ListSessionObjects(hVRK, slots.data()) != 0 || slots[slot].pObj == nullptr) return false;
  // Only an 8-byte data object can hold another object's extension word.
  VRK_OBJECT_META m{};
  if (VRK_GetObjMetaPtr(hVRK, slots[slot].pObj, slots[slot].u32DataLen, &m) != 0 || m.ObjType != VRK_OBJ_DATA ||
      m.u32DataLen != sizeof(ZEBP11_COMMON_OBJ_EXTENSION)) {
    return false;
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    if (i == slot || slots[i].pObj == nullptr) continue;
    if (VRK_GetObjMetaPtr(hVRK, slots[i].pObj, slots[i].u32DataLen, &m) == 0 && m.u32ObjExtIndex == handle) return true;
  }
  return false;
}

}  // namespace zebp11::obj

using namespace zebp11::obj;

CK_RV P11_VRKAttrToCKAttr(VRK_UINT64 u64ObjCmnStoAttr, VRK_UINT64 u64ObjKeyUsage, CK_ATTRIBUTE* attrs,
                          CK_ULONG attrs_len) {
  if (attrs == nullptr && attrs_len != 0) return CKR_ARGUMENTS_BAD;
  for (CK_ULONG i = 0; i < attrs_len; ++i) {
    CK_ATTRIBUTE& a = attrs[i];
    std::optional<bool> v;
    for (const ExtAttr& e : kExtAttrs) {
      if (e.type == a.type) v = (u64ObjCmnStoAttr & e.bit) != 0;
    }
    for (const UsageAttr& u : kUsageAttrs) {
      if (u.type == a.type) v = (u64ObjKeyUsage & u.bit) != 0;
    }
    if (!v) continue;  // not one of the words' attributes: left as given
    if (a.pValue != nullptr && a.ulValueLen >= sizeof(CK_BBOOL)) {
      *static_cast<CK_BBOOL*>(a.pValue) = *v ? CK_TRUE : CK_FALSE;
    }
    a.ulValueLen = sizeof(CK_BBOOL);
  }
  return CKR_OK;
}
