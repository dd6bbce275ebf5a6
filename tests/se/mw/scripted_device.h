// A scripted secure element behind the channel's current device: each test
// states the exact request bytes the middleware must send and the reply the
// device gives.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "se/channel.h"
#include "se/commands.h"
#include "support/hex.h"
#include "trix/transport.h"

namespace semw {

using zt::Bytes;

inline Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
inline Bytes le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
// An array field: u16 count and the bytes.
inline Bytes cat(std::initializer_list<Bytes> parts) {
  size_t n = 0;
  for (const Bytes& p : parts) n += p.size();
  Bytes r(n);
  size_t off = 0;
  for (const Bytes& p : parts) {
    if (!p.empty()) std::memcpy(r.data() + off, p.data(), p.size());
    off += p.size();
  }
  return r;
}
inline Bytes arr(const Bytes& b) { return cat({le16(static_cast<uint16_t>(b.size())), b}); }
inline Bytes fill(size_t n, uint8_t v) { return Bytes(n, v); }
template <class T>
Bytes bytes_of(const T& v) {
  Bytes r(sizeof v);
  std::memcpy(r.data(), &v, sizeof v);
  return r;
}

class ScriptedDevice : public testing::Test {
 protected:
  void SetUp() override {
    gl_device = se_device_t{};
    script = trix::attach_scripted(&gl_device);
    ASSERT_NE(script, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(script->mismatches(), 0u) << "a request differed from the expected bytes";
    EXPECT_EQ(script->pending(), 0u) << "an expected command was not sent";
    (void)trix::detach(&gl_device);
  }

  // The command (cla, ins, request data) is answered with `data` and `sw`.
  void expect(const se::cmd::Command& c, const Bytes& request, const Bytes& data = {}, uint16_t sw = 0x9000) {
    script->expect(trix::make_command(c.cla, c.ins, 0, 0, 0, 0, request), trix::make_reply(data, sw));
  }
  // The command is refused with the device's code.
  void expect_code(const se::cmd::Command& c, const Bytes& request, uint32_t code) {
    expect(c, request, le32(code), SE_SW_DEVICE_CODE);
  }
  size_t sent() const { return script->sent().size(); }

  trix::ScriptedTransport* script = nullptr;
};

// Runs f with standard output captured (failure lines), returning its result.
template <class F>
auto quietly(F f, std::string* printed = nullptr) {
  testing::internal::CaptureStderr();
  auto rv = f();
  const std::string out = testing::internal::GetCapturedStderr();
  if (printed != nullptr) *printed = out;
  return rv;
}

}  // namespace semw
