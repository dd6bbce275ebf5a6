// Provider internals shared by the software back end's source files, beside
// the declarations the core calls.
#pragma once

#include <cstdint>

#include "swhsm/swc.h"
#include "keyblob/keyblob.h"
#include "zeb/swhsm_services.h"

// True when a provider session has handle `h`.
bool swc_session_exists(uint32_t h);

namespace swd {
// The session software key: SHA3-256 over the handle's 4 bytes (host order).
bool session_key_digest(uint32_t handle, uint8_t key[32]);
}  // namespace swd
