// Internals of the core's object layers: the session-object slot store
// (SwSess_*), the store helpers (SwStore_*) and the buffers they share.
#pragma once

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core_internal.h"
#include "quarzel/port.h"
#include "zeb/object_layers.h"
#include "zeb/vrk_object.h"

namespace zeb::core {

// Switches under the object buffers: never set by the product, set by the
// test seams (zeb/core_testing.h).
namespace seams {
extern std::atomic<long> object_alloc_budget;  // -1: every allocation is tried
using FreeObserver = void (*)(const void* p, size_t n);
extern std::atomic<FreeObserver> object_free_observer;
}  // namespace seams

// Largest object (or context) the core handles: far above any key, data or
// certificate object, and a bound on what a bad length can make it allocate.
inline constexpr size_t kMaxObjectLen = (size_t{1} << 20) + VRK_OBJ_OVERHEAD;

// A heap buffer for an object or a context, wiped before it is freed (it may
// hold key blobs). malloc-backed, so that ownership can pass to a slot.
class ObjBuf {
 public:
  ObjBuf() = default;
  explicit ObjBuf(size_t n) { (void)reset(n); }  // callers test operator bool
  ~ObjBuf() { release(); }
  ObjBuf(const ObjBuf&) = delete;
  ObjBuf& operator=(const ObjBuf&) = delete;
  // A fresh zeroed buffer of n bytes (at least one); false when none or when
  // n exceeds kMaxObjectLen.
  [[nodiscard]] bool reset(size_t n);
  uint8_t* data() const noexcept { return p_; }
  size_t size() const noexcept { return n_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the block over (the caller frees it).
  uint8_t* take() noexcept {
    uint8_t* p = p_;
    p_ = nullptr;
    n_ = 0;
    return p;
  }
  void release() noexcept;

 private:
  uint8_t* p_ = nullptr;
  size_t n_ = 0;
};

// Wipes and frees a malloc block of n bytes.
void free_wiped(void* p, size_t n) noexcept;

// The allocator behind every object buffer (a test seam may make it fail).
void* object_alloc(size_t n) noexcept;

// The held session if its status is exactly token user: 0 with *ctx set,
// 179 or 257.
[[nodiscard]] uint32_t user_session(const SessionRef& held, VRK_SESSION_CTX** ctx) noexcept;

// The store addressing record of a session's token.
PERSISTENCY_INPUT sto_input(const VRK_SESSION_CTX& ctx) noexcept;

// Fills a header as the core builds every object (no argument checks).
void SwObj_SetObjMeta(uint8_t ObjMac, uint8_t ObjEnc, const VRK_TOKEN_ID* pTknId, const uint8_t* pObjId,
                      const uint8_t* pObjLabel, uint8_t ObjType, uint8_t ObjKeyAlgo, uint32_t u32ObjExtIndex,
                      uint64_t u64ObjKeyUsage, uint32_t u32DataLen, VRK_OBJECT_META* m);

// True for the object types whose context is a key blob (secret, private).
[[nodiscard]] constexpr bool is_wrapped_type(uint8_t type) noexcept {
  return type == VRK_OBJ_SECRETKEY || type == VRK_OBJ_PRIVATEKEY;
}

// Text fields: up to the first zero byte and at most `width`, zero-padded.
void copy_field(uint8_t* dst, const uint8_t* src, size_t width) noexcept;

}  // namespace zeb::core
