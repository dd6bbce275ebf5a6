// What the object entry points, the read-out and the find share: a loaded
// object, the attributes it answers, and the hidden extension objects.
#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "object/object_model.h"
#include "zeb/vrk_secret.h"

namespace zebp11::obj {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using HeapBytes = std::unique_ptr<uint8_t, FreeDeleter>;

// An object handle as the core names it: only handles that fit 32 bits name
// an object.
std::optional<uint32_t> core_handle(CK_OBJECT_HANDLE h);
inline bool is_session_handle(uint32_t h) { return (h & VRK_SESS_OBJ_HANDLE_BASE) != 0; }

// An object loaded once for one call: header, context and extension word.
struct LoadedObject {
  VRK_HANDLE hVRK = 0;
  uint32_t handle = 0;
  VRK_OBJECT_META meta{};
  HeapBytes object, context, ext;

  bool token() const { return !is_session_handle(handle); }
  std::span<const uint8_t> ctx() const { return {context.get(), meta.u32DataLen}; }
  VRK_UINT64 ext_word() const;
  // The plain value of a secret key (computed once), at most
  // plain_key_max() bytes. Private keys are never opened here: the core
  // answers their public values.
  const zeb::SecretBytes* plain_key();
  // Room beyond the context for a back end whose plain form is longer.
  size_t plain_key_max() const { return size_t{meta.u32DataLen} + 256; }

 private:
  std::optional<zeb::SecretBytes> plain_;
  bool plain_tried_ = false;
};

// The object's life span; CKR_OBJECT_HANDLE_INVALID when the handle names
// no object, else the core's code.
CK_RV object_lifespan(VRK_HANDLE hVRK, uint32_t handle, VRK_UCHAR* span);
// Loads the object; CKR_OBJECT_HANDLE_INVALID or the core's code on failure.
CK_RV load_object(VRK_HANDLE hVRK, uint32_t handle, LoadedObject& out);

// One attribute of an object as the find compares it.
enum class Answer {
  kValue,      // the bytes in `value`
  kNoValue,    // a type the module answers with length 0
  kAbsent,     // the object has no such attribute
  kSensitive,  // the value never leaves the module
};
// `error` receives a failure of the core (then the answer is kAbsent).
Answer answer(LoadedObject& o, CK_ATTRIBUTE_TYPE type, zeb::SecretBytes& value, CK_RV* error);
// Whether the header or store record alone (class, key type, token, ID,
// label) answers `type` with exactly the bytes `want`; false for every other
// type. Nothing is copied: a find compares many objects' headers.
bool header_value_equals(uint8_t obj_type, uint8_t key_algo, const uint8_t* id, const uint8_t* label, bool token,
                         CK_ATTRIBUTE_TYPE type, std::span<const uint8_t> want);

// Where the value of one attribute of an object comes from, told by the
// loaded header and context alone: nothing is computed and the core is not
// asked, so listing what a template asks for opens no key.
struct AttrSource {
  enum Kind : uint8_t {
    kAbsent,    // the object has no such attribute
    kWithheld,  // the value never leaves the module
    kEmpty,     // answered with length 0 (dates, byte arrays, templates)
    kInline,    // the `small_len` bytes of `small` (CK_BBOOL, CK_ULONG)
    kBorrowed,  // bytes of the loaded object (ID, label, context)
    kEcParams,  // the DER OID of the key's curve
    kEcPoint,   // the DER point of the EC public-key record in the context
    kRsaPart,   // modulus or public exponent, read in the core
    kPlainKey,  // a secret key's plain value, exported by the core
  } kind = kAbsent;
  uint8_t small_len = 0;
  uint8_t small[sizeof(CK_ULONG)] = {};
  std::span<const uint8_t> borrowed;
};
AttrSource attr_source(const LoadedObject& o, CK_ATTRIBUTE_TYPE type);
// The value's length; an upper bound for the kinds whose length only the
// value tells (EC parameters and point, RSA part, plain key). 0 for the
// kinds without one.
CK_ULONG attr_bound(const LoadedObject& o, const AttrSource& s);
// Writes the value of a kind with a value into `out` (at least the bound
// long) and its length to *len: kValue, or kAbsent when the object turns
// out not to have it (then *error may hold a failure of the core).
Answer attr_fill(LoadedObject& o, CK_ATTRIBUTE_TYPE type, const AttrSource& s, std::span<uint8_t> out, size_t* len,
                 CK_RV* error);

// ---- Attribute read-out (C_GetAttributeValue) ----

// The bound of the read-out list: at least the most types one object
// answers (a secret key alone has 33; attributes.cpp checks the bound
// against its tables).
inline constexpr CK_ULONG P11_MAX_OBJ_ATTRS = 48;

// The first entry of type `type` among the first `n`, or null.
inline const CK_ATTRIBUTE* listed_attr(const CK_ATTRIBUTE* attrs, CK_ULONG n, CK_ATTRIBUTE_TYPE type) {
  for (CK_ULONG i = 0; i < n; ++i) {
    if (attrs[i].type == type) return &attrs[i];
  }
  return nullptr;
}

// The read-out list of one call; its value buffers are released by
// P11_DeallocObjAttr on every way out.
struct ObjAttrList {
  CK_ATTRIBUTE attrs[P11_MAX_OBJ_ATTRS];  // the first `count` are written by the type pass
  CK_ULONG count = 0;
  ObjAttrList() = default;
  ObjAttrList(const ObjAttrList&) = delete;
  ObjAttrList& operator=(const ObjAttrList&) = delete;
  ~ObjAttrList();
};

// True when the handle names a session object that holds another session
// object's extension word: part of that object, never an object of its own.
bool is_extension_object(VRK_HANDLE hVRK, uint32_t handle);

}  // namespace zebp11::obj

// The read-out workers, called in this order by C_GetAttributeValue. The
// object is loaded once per call and handed to both passes in place of the
// session and object handles: one load per call, and no destroy between the
// passes can make them read two different objects.
//
// Type pass: lists from attrs[0] on, each once, the template's types that
// the object answers with a value (possibly empty), with the value's length
// or an upper bound (AttrSource); types the object lacks or withholds are
// not listed. pValue is left null. *attrs_len: the count, 0 after a failure.
CK_RV P11_LoadObjTypesandLen(const zebp11::obj::LoadedObject& obj, const CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount,
                             CK_ULONG max_attrs_len, CK_ATTRIBUTE* attrs, CK_ULONG_PTR attrs_len);
// Gives each listed entry with a length a buffer of that length in pValue,
// all carved from one block (wiped on release: values can be key bytes).
// CKR_HOST_MEMORY with no pValue set when the block cannot be had.
CK_RV P11_AllocObjAttr(CK_ULONG attrs_len, CK_ATTRIBUTE* attrs);
// Value pass: writes each entry's value into its buffer and its real length
// to ulValueLen; an entry the object turns out not to have (the core cannot
// read it) gets CK_UNAVAILABLE_INFORMATION. The first failure ends the pass
// with its code.
CK_RV P11_LoadObjAttrValue(zebp11::obj::LoadedObject& obj, CK_ULONG attrs_len, CK_ATTRIBUTE* attrs);
// Wipes and frees the block of P11_AllocObjAttr and sets every pValue of the
// first attrs_len entries to null. Always CKR_OK.
CK_RV P11_DeallocObjAttr(CK_ULONG attrs_len, CK_ATTRIBUTE* attrs);
