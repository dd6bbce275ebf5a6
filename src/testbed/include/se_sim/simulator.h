// A simulated secure element: answers the commands of classes 0x86 (device),
// 0x87 (store) and 0x88 (crypto) of se/commands.h, raw command in, raw reply
// out (trix.h layout), and keeps its state in a directory.
//
// The HSM, its tokens, users, PINs, failure counters and sessions are the
// software device's (swhsm) working on the directory's files; the crypto is
// the software provider's; the store is the simulator's own: one file per
// object slot, written atomically once the write's closing part arrives.
//
// The software device is one per process, so there is at most one Simulator
// in a process at a time. A Simulator is not thread-safe: one command at a
// time, as on a real device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace se::sim {

// How a device came up.
struct Setup {
  std::string sn;         // the HSM's 16-character serial number
  std::string admin_pin;  // the administrator PIN set at creation (empty when the device existed)
  bool created = false;
};

class Simulator {
 public:
  // Opens the device kept in `dir`, creating the directory and an initialised
  // HSM there on first use, with serial number `sn` (at most 16 characters,
  // padded with '0'; empty: random digits) and administrator PIN `admin_pin`
  // (empty: 8 random digits). 0, or a code (7 for bad arguments, 6 when the
  // directory cannot be used, else the software device's code).
  [[nodiscard]] static uint32_t open(const std::string& dir, const std::string& sn, const std::string& admin_pin,
                                     std::unique_ptr<Simulator>* out, Setup* setup);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Executes one raw command (header and data, trix.h) and writes the reply
  // into `reply`, which must hold TRIX_IO_BUF_SIZE bytes; returns the
  // reply's length. Any input gets a reply: malformed requests are refused
  // with a device code.
  size_t execute(std::span<const uint8_t> command, std::span<uint8_t> reply);

  // The client's connection ended (closed, or its process died): the device
  // sessions opened since the previous end and not closed are closed, with
  // their crypto state and open object writes.
  void end_connection();

  const std::string& sn() const { return sn_; }
  const std::string& dir() const { return dir_; }

  // Per-command state, used by the command files.
  struct Pending;       // an object write waiting for its closing part
  struct CryptoState;   // per token session: provider session, HMAC
  struct Impl;

 private:
  Simulator() = default;
  std::string dir_;  // absolute, with a trailing '/'
  std::string sn_;
  uint32_t hsm_ = 0;  // the software device's HSM handle
  std::unique_ptr<Impl> impl_;
  friend struct Impl;
};

}  // namespace se::sim
