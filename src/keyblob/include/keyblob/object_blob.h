// Object blobs: the form the core keeps every object in. A 96-byte header
// (the device's object meta record), the context, and a 32-byte MAC over
// both: header | context | MAC. Every read checks the MAC first.
//
// Both back ends write this one format; only the MAC's source differs (the
// software HSM computes HMAC-SHA-256 under the token's MAC key it holds, a
// secure element has its device compute it under a key that never leaves
// it), so the framing takes the MAC as a parameter. Pointers are checked by
// the callers, each by its own contract; lengths and MACs here.
#pragma once

#include <cstdint>

namespace keyblob {

inline constexpr uint32_t kObjectMetaLen = 96;
inline constexpr uint32_t kObjectMacLen = 32;
inline constexpr uint32_t kObjectOverhead = kObjectMetaLen + kObjectMacLen;  // 128

// The MAC of one blob: 32 bytes to `mac` over the 96-byte `meta` then `n`
// bytes of `context`. 0, or the back end's own code, handed on unchanged.
class ObjectMac {
 public:
  [[nodiscard]] virtual uint32_t compute(const uint8_t* meta, const uint8_t* context, uint32_t n,
                                         uint8_t* mac) = 0;

 protected:
  ~ObjectMac() = default;
};

// The back end's codes for the framing's own refusals.
struct ObjectCodes {
  uint32_t bad_length;  // a blob under 128 bytes, or a context too long to frame
  uint32_t mismatch;    // a stored MAC that differs from the computed one
};

// Frames `n` bytes of `context` under `meta` into `object` (n + 128 bytes),
// writing its length to *object_len. The context may already lie where it
// goes (a rebuild in place). Nothing is written when the MAC fails.
[[nodiscard]] uint32_t object_build(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* meta,
                                    const uint8_t* context, uint32_t n, uint8_t* object, uint32_t* object_len);

// The stored MAC against the computed one, compared in constant time.
[[nodiscard]] uint32_t object_check(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* object,
                                    uint32_t object_len);

// After the check: the header to `meta` when given, and the context to
// `context` with its length to *context_len when context_len is given (the
// caller's buffer holds object_len - 128 bytes; it may be null when that is
// 0). The header is read before the context is moved, so either may overlap
// the blob.
[[nodiscard]] uint32_t object_divide(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* object,
                                     uint32_t object_len, uint8_t* meta, uint8_t* context, uint32_t* context_len);

// After the check: a new header and MAC, same context; only the first 96 and
// the last 32 bytes change, and a failure leaves the blob as it was.
[[nodiscard]] uint32_t object_update_meta(ObjectMac& mac, const ObjectCodes& codes, uint8_t* object,
                                          uint32_t object_len, const uint8_t* meta);

}  // namespace keyblob
