// The one transport interface behind a device record, and the ways to bind
// one: the console client, the scripted transport of the tests, or any
// transport a caller brings (an in-process simulated device, for example).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "trix/trix.h"

namespace trix {

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends one whole raw command. 0 or an SE_* code.
  virtual int send(const uint8_t* data, size_t len) = 0;
  // Receives one whole reply into buf (cap bytes) and sets *len. 0 or a code.
  virtual int receive(uint8_t* buf, size_t cap, size_t* len) = 0;
  // Nonzero when no command may be sent now; the value is the result.
  virtual int locked() { return 0; }
};

// Binds `t` to `dev` (which must not hold one): the record gets its routines
// and a fresh TRIX_IO_BUF_SIZE-byte I/O buffer. 0, or SE_ERROR_INVALID_ARG /
// SE_ERROR_MALLOC.
[[nodiscard]] int attach(se_device_t* dev, std::unique_ptr<Transport> t);
// Releases what attach made and zeroes the record. 0, or SE_ERROR_CLOSE when
// the record holds no transport.
int detach(se_device_t* dev);
// The transport bound to a record, or null.
[[nodiscard]] Transport* transport_of(const se_device_t* dev);

// A transport for unit tests: each expected request (exact bytes, or any
// request) is answered with its canned reply, in order. Sends and receives
// can be made to fail with a code, and the device can be reported locked.
class ScriptedTransport final : public Transport {
 public:
  // `request` empty means any request is accepted.
  void expect(std::vector<uint8_t> request, std::vector<uint8_t> reply);
  // The next send fails with `code` (once).
  void fail_next_send(int code) { send_fail_ = code; }
  // The next receive fails with `code` (once).
  void fail_next_receive(int code) { recv_fail_ = code; }
  void set_locked(int code) { locked_ = code; }

  // Every request sent so far, in order.
  const std::vector<std::vector<uint8_t>>& sent() const { return sent_; }
  // Expectations not used yet.
  size_t pending() const { return script_.size(); }
  // Requests that differed from what was expected.
  size_t mismatches() const { return mismatches_; }

  int send(const uint8_t* data, size_t len) override;
  int receive(uint8_t* buf, size_t cap, size_t* len) override;
  int locked() override { return locked_; }

 private:
  struct Step {
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
  };
  std::deque<Step> script_;
  std::vector<std::vector<uint8_t>> sent_;
  std::vector<uint8_t> reply_;  // answer of the last accepted request
  bool have_reply_ = false;
  size_t mismatches_ = 0;
  int send_fail_ = 0;
  int recv_fail_ = 0;
  int locked_ = 0;
};

// Binds a new scripted transport to `dev`; the returned pointer stays valid
// until the record is closed (any *_close routine, or detach).
[[nodiscard]] ScriptedTransport* attach_scripted(se_device_t* dev);

// Helpers to write replies: L, data, SW.
[[nodiscard]] std::vector<uint8_t> make_reply(const std::vector<uint8_t>& data, uint16_t sw);
// The raw command bytes apdu_construct_input makes for a header and data.
[[nodiscard]] std::vector<uint8_t> make_command(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                                uint16_t lc, uint16_t le, const std::vector<uint8_t>& data);

}  // namespace trix
