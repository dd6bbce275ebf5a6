// What the object entry points, the read-out and the find share: a loaded
// object, the attributes it answers, and the hidden extension objects.
#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
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
  // The plain value of a secret key (computed once). Private keys are never
  // opened here: the core answers their public values.
  const zeb::SecretBytes* plain_key();

 private:
  std::optional<zeb::SecretBytes> plain_;
  bool plain_tried_ = false;
};

// The object's life span; CKR_OBJECT_HANDLE_INVALID when the handle names
// no object, else the core's code.
CK_RV object_lifespan(VRK_HANDLE hVRK, uint32_t handle, VRK_UCHAR* span);
// Loads the object; CKR_OBJECT_HANDLE_INVALID or the core's code on failure.
CK_RV load_object(VRK_HANDLE hVRK, uint32_t handle, LoadedObject& out);

// One attribute of an object as C_GetAttributeValue answers it.
enum class Answer {
  kValue,      // the bytes in `value`
  kNoValue,    // a type the module answers with length 0
  kAbsent,     // the object has no such attribute
  kSensitive,  // the value never leaves the module
};
// `error` receives a failure of the core (then the answer is kAbsent).
Answer answer(LoadedObject& o, CK_ATTRIBUTE_TYPE type, zeb::SecretBytes& value, CK_RV* error);
// The same for the attributes a header or store record alone answers
// (class, key type, token, ID, label); nullopt for every other type.
std::optional<Answer> answer_from_header(uint8_t obj_type, uint8_t key_algo, const uint8_t* id, const uint8_t* label,
                                         bool token, CK_ATTRIBUTE_TYPE type, zeb::SecretBytes& value);

// True when the handle names a session object that holds another session
// object's extension word: part of that object, never an object of its own.
bool is_extension_object(VRK_HANDLE hVRK, uint32_t handle);

}  // namespace zebp11::obj
