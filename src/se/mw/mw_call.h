// One middleware command from its row of the command set (se/commands.h):
// the values are paired with the row's fields in order, so a request and a
// reply always have the row's shape.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>

#include "se/channel.h"
#include "se/commands.h"
#include "zeb/backend_codes.h"

namespace se::mw {

// Result codes of the device middleware. The device operations return
// MW_ERR_OK, MW_ERR_QUARZEL (a PIN digest or an object MAC failed to
// compute), MW_ERR_PARAMETER and MW_ERR_OBJ_OPERATION; the rest of the range
// is reserved and returned by no operation.
enum device_mw_error : uint32_t {
  MW_ERR_OK = 0,
  MW_ERR_APDU = 0x3001,
  MW_ERR_HANDLE = 0x3002,
  MW_ERR_HANDLE_SLOT = 0x3003,
  MW_ERR_NO_DEVICE = 0x3004,
  MW_ERR_SESS_SLOT = 0x3005,
  MW_ERR_QUARZEL = 0x3006,
  MW_ERR_HANDLE_NOT_FOUND = 0x3007,
  MW_ERR_INPUT_LEN = 0x3008,
  MW_ERR_PARAMETER = 0x3009,
  MW_ERR_OBJ_OPERATION = 0x300A,
};

// Results the crypto and store middleware give for their own refusals.
using zeb::rc::kArguments;
using zeb::rc::kNotInitialized;
using zeb::rc::kDataLenRange;
using zeb::rc::kGeneralError;
using zeb::rc::kAttributeValueInvalid;
using zeb::rc::kHostMemory;
using zeb::rc::kMechanismInvalid;
using zeb::rc::kBufferTooSmall;

// A request value: raw fields take the row's width from `p`; array fields
// `len` bytes (a length that the u16 count cannot carry is refused).
struct In {
  const void* p;
  uint32_t len = 0;
};

// A reply destination: raw fields receive the row's width at `p`; array
// fields at most `cap` bytes at `p` (a longer array is refused with
// SE_ERR_SERIALIZER), and the received count goes to *len when given.
struct Out {
  void* p;
  uint32_t cap = 0;
  uint32_t* len = nullptr;
};

// Sends `c` with the request values `in` and reads its reply into `out`,
// each list exactly as long as the row's. A null pointer where bytes are due
// gives `bad_args`. Failures are logged at `where` and returned; on any
// failure no length is written.
[[nodiscard]] uint32_t call(const SeSite& where, const cmd::Command& c, std::initializer_list<In> in,
                            std::initializer_list<Out> out, uint32_t bad_args);

// Held across every command, and across the operations made of several
// commands (object writes and reads in parts, the blob MAC, AES and GCM
// steps in pieces), so that threads of the core never interleave on the one request
// buffer and device.
[[nodiscard]] std::recursive_mutex& channel_lock();

// The array capacity an in/out length gives (none: 0).
[[nodiscard]] inline uint32_t cap_of(const uint32_t* len) { return len == nullptr ? 0 : *len; }

}  // namespace se::mw
