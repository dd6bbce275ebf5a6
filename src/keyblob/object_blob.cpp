// Object blobs (see keyblob/object_blob.h).
#include "keyblob/object_blob.h"

#include <cstring>

#include "quarzel/port.h"

namespace keyblob {

uint32_t object_build(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* meta, const uint8_t* context,
                      uint32_t n, uint8_t* object, uint32_t* object_len) {
  if (n > UINT32_MAX - kObjectOverhead) return codes.bad_length;
  // The header may lie in the blob being rebuilt: taken before any write.
  uint8_t head[kObjectMetaLen];
  std::memcpy(head, meta, kObjectMetaLen);
  uint8_t tag[kObjectMacLen];
  if (const uint32_t rv = mac.compute(head, context, n, tag); rv != 0) return rv;
  if (n != 0) std::memmove(object + kObjectMetaLen, context, n);
  std::memcpy(object, head, kObjectMetaLen);
  std::memcpy(object + kObjectMetaLen + n, tag, kObjectMacLen);
  *object_len = n + kObjectOverhead;
  return 0;
}

uint32_t object_check(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* object, uint32_t object_len) {
  if (object_len < kObjectOverhead) return codes.bad_length;
  const uint32_t n = object_len - kObjectOverhead;
  uint8_t tag[kObjectMacLen];
  if (const uint32_t rv = mac.compute(object, object + kObjectMetaLen, n, tag); rv != 0) return rv;
  return quarzel::ct_equal(tag, object + kObjectMetaLen + n, kObjectMacLen) ? 0 : codes.mismatch;
}

uint32_t object_divide(ObjectMac& mac, const ObjectCodes& codes, const uint8_t* object, uint32_t object_len,
                       uint8_t* meta, uint8_t* context, uint32_t* context_len) {
  if (const uint32_t rv = object_check(mac, codes, object, object_len); rv != 0) return rv;
  uint8_t head[kObjectMetaLen];
  std::memcpy(head, object, kObjectMetaLen);
  if (context_len != nullptr) {
    const uint32_t n = object_len - kObjectOverhead;
    if (n != 0) std::memmove(context, object + kObjectMetaLen, n);
    *context_len = n;
  }
  if (meta != nullptr) std::memcpy(meta, head, kObjectMetaLen);
  return 0;
}

uint32_t object_update_meta(ObjectMac& mac, const ObjectCodes& codes, uint8_t* object, uint32_t object_len,
                            const uint8_t* meta) {
  if (const uint32_t rv = object_check(mac, codes, object, object_len); rv != 0) return rv;
  const uint32_t n = object_len - kObjectOverhead;
  uint8_t head[kObjectMetaLen];
  std::memcpy(head, meta, kObjectMetaLen);
  uint8_t tag[kObjectMacLen];
  if (const uint32_t rv = mac.compute(head, object + kObjectMetaLen, n, tag); rv != 0) return rv;
  std::memcpy(object, head, kObjectMetaLen);
  std::memcpy(object + kObjectMetaLen + n, tag, kObjectMacLen);
  return 0;
}

}  // namespace keyblob
