// HMAC-SHA-256 of a blob (kept apart from the device headers, whose
// NO_HASH_TYPE constant the hash API's enumeration also declares).
#pragma once

#include <cstdint>

namespace swd_blob {

// MAC over `head` (head_len bytes) then `data` (len bytes) under a 32-byte
// key; 32 bytes to `mac`. 0 or the library's error.
uint32_t mac2(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len,
              uint8_t* mac);

}  // namespace swd_blob
