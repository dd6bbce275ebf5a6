// Internals shared by the software provider's operation units: a session's
// master key and working context, result codes, and key-blob unwrapping into
// wiped working copies.
//
// Plain integer types only: these units also include the primitive library's
// headers, which must not meet the core's type headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "quarzel/drbg.h"
#include "quarzel/secure.h"
#include "zeb/backend_codes.h"

namespace swc {

// Result codes of the provider (PKCS#11 values).
inline constexpr uint32_t kKeySize = 0x001;         // unwrapped AES key not 16, 24 or 32 bytes
using zeb::rc::kFailed;  // also a GCM tag mismatch
using zeb::rc::kArguments;
using zeb::rc::kEncryptedLen;
using zeb::rc::kNotSupported;
using zeb::rc::kNotInitialized;
using zeb::rc::kSessionHandle;
using zeb::rc::kSignatureInvalid;
using zeb::rc::kBufferTooSmall;

inline constexpr uint32_t kMkLen = 32;

// A session's own random generator (CTR_DRBG, AES-128 with the derivation
// function): instantiated at the session's first draw and kept, so a draw
// costs no key expansion and no system call. Reseeded from the OS source
// every kReseedEvery requests (well inside SP 800-90A's interval), and
// instantiated anew after fork(): a child never repeats its parent's bytes.
struct SessionRandom {
  drbg_ctx_t drbg;
  uint64_t requests;  // since the last (re)seeding
  uint64_t fork_generation;
  bool ready;
};

// A provider session's master key and working context, held for as long as
// the view lives: a close in another thread waits for it, so the key and
// context are never used after they were wiped. Empty for an unknown (or
// just closed) handle. A thread may hold several views of one session.
struct SessionView {
  uint8_t* mk = nullptr;
  uint8_t* work = nullptr;
  size_t work_size = 0;
  SessionRandom* random = nullptr;
  std::unique_lock<std::recursive_mutex> hold;
  explicit operator bool() const noexcept { return mk != nullptr; }
};
SessionView session_view(uint32_t h);

// The working context viewed as one primitive context. Null when it does not
// fit or is misaligned (neither happens with the library's contexts).
template <class T>
T* work_as(const SessionView& s) noexcept {
  if (s.work == nullptr || sizeof(T) > s.work_size || reinterpret_cast<uintptr_t>(s.work) % alignof(T) != 0) {
    return nullptr;
  }
  return reinterpret_cast<T*>(s.work);
}

// Ends whatever ran in the working context.
inline void clear_work(const SessionView& s) noexcept {
  if (s.work != nullptr) quarzel::secure_wipe(s.work, s.work_size);
}

// The key-blob transform (AES-256-CTR under the session's master key) from
// `in` to a separate `out` of the same length. Never in place in a caller's
// buffer: plain keys live only in the provider's wiped working copies.
[[nodiscard]] uint32_t unwrap(const SessionView& s, const uint8_t* blob, uint32_t len, uint8_t* plain) noexcept;
[[nodiscard]] uint32_t wrap(const SessionView& s, const uint8_t* plain, uint32_t len, uint8_t* blob) noexcept;

// A heap working copy that is wiped when released; false when out of memory.
[[nodiscard]] bool make_secret(quarzel::SecretBytes& buf, size_t n) noexcept;

// Capacity test of an in/out length: writes the needed length when short.
[[nodiscard]] inline bool fits(uint32_t* capacity, uint32_t needed) noexcept {
  if (*capacity >= needed) return true;
  *capacity = needed;
  return false;
}

}  // namespace swc
