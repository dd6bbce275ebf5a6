// HMAC-SHA-256 of a blob (kept apart from the device headers, whose
// NO_HASH_TYPE constant the hash API's enumeration also declares).
#pragma once

#include <cstdint>

namespace swd {
// True between SWD_BeginCall and the matching SWD_EndCall on this thread.
[[nodiscard]] bool in_core_call() noexcept;
}  // namespace swd

namespace swd_blob {

// MAC over `head` (head_len bytes) then `data` (len bytes) under a 32-byte
// key; 32 bytes to `mac`. 0 or the library's error.
uint32_t mac2(const uint8_t* key, const uint8_t* head, uint32_t head_len, const uint8_t* data, uint32_t len,
              uint8_t* mac);

// Wipes the last MAC this thread computed and its input (at the end of each
// core call).
void forget_last_mac();

}  // namespace swd_blob
