// A minimal host for the simulator's tests: requests laid out from the rows
// of se/commands.h, sent in process or over the test bed's console, replies
// split by the same rows.
#pragma once

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "se/commands.h"
#include "se_sim/simulator.h"
#include "trix/trix.h"

namespace sst {

using Bytes = std::vector<uint8_t>;
namespace cmd = se::cmd;

inline Bytes u32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
inline Bytes u8(uint8_t v) { return {v}; }
inline Bytes str(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes sha256(const std::string& s) {
  Bytes d(32);
  SHA256(reinterpret_cast<const uint8_t*>(s.data()), s.size(), d.data());
  return d;
}
inline uint32_t le32(const Bytes& b) { return b[0] | (b[1] << 8) | (b[2] << 16) | (uint32_t{b[3]} << 24); }

// A raw command (trix.h layout) from a row and its field values.
inline Bytes raw(const cmd::Command& c, const std::vector<Bytes>& fields) {
  Bytes data;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i < c.request.size() && c.request[i].kind == cmd::Kind::array) {
      data.push_back(static_cast<uint8_t>(fields[i].size()));
      data.push_back(static_cast<uint8_t>(fields[i].size() >> 8));
    }
    data.insert(data.end(), fields[i].begin(), fields[i].end());
  }
  Bytes out(TRIX_CMD_HEADER_SIZE + data.size(), 0);
  out[0] = c.cla;
  out[1] = c.ins;
  out[8] = static_cast<uint8_t>(data.size());
  out[9] = static_cast<uint8_t>(data.size() >> 8);
  std::copy(data.begin(), data.end(), out.begin() + TRIX_CMD_HEADER_SIZE);
  return out;
}

struct Reply {
  uint32_t code = 0;  // 0 for 90 00; the device code of 66 DD
  std::vector<Bytes> f;
};

inline Reply parse(const cmd::Command& c, const Bytes& r) {
  Reply out;
  if (r.empty()) {  // no reply at all (a quiet link whose peer is gone)
    out.code = 0xFFFFFFFF;
    return out;
  }
  EXPECT_GE(r.size(), 4u);
  if (r.size() < 4) return out;
  const size_t L = r[0] | (r[1] << 8);
  EXPECT_EQ(r.size(), L + 2);
  const uint16_t sw = static_cast<uint16_t>((r[L] << 8) | r[L + 1]);
  if (sw == 0x66DD) {
    EXPECT_EQ(L, 6u);
    out.code = le32(Bytes(r.begin() + 2, r.begin() + 6));
    return out;
  }
  EXPECT_EQ(sw, 0x9000);
  size_t off = 2;
  for (const cmd::Field& f : c.reply) {
    size_t n = f.width;
    if (f.kind == cmd::Kind::array) {
      n = r[off] | (r[off + 1] << 8);
      off += 2;
    }
    EXPECT_LE(off + n, L);
    if (off + n > L) return out;
    out.f.emplace_back(r.begin() + off, r.begin() + off + n);
    off += n;
  }
  EXPECT_EQ(off, L) << c.name;
  return out;
}

// One end of a link to a device.
class Link {
 public:
  virtual ~Link() = default;
  virtual Bytes exchange(const Bytes& raw) = 0;
  Reply call(const cmd::Command& c, const std::vector<Bytes>& fields) { return parse(c, exchange(raw(c, fields))); }
  // The reply's fields, expecting success.
  std::vector<Bytes> ok(const cmd::Command& c, const std::vector<Bytes>& fields) {
    Reply r = call(c, fields);
    EXPECT_EQ(r.code, 0u) << c.name;
    return r.f;
  }
  uint32_t code(const cmd::Command& c, const std::vector<Bytes>& fields) { return call(c, fields).code; }
};

class InProcess final : public Link {
 public:
  explicit InProcess(se::sim::Simulator& s) : sim_(s) {}
  Bytes exchange(const Bytes& raw) override {
    Bytes out(TRIX_IO_BUF_SIZE);
    out.resize(sim_.execute(raw, out));
    return out;
  }

 private:
  se::sim::Simulator& sim_;
};

// Through the access library's console client. A quiet link reports a lost
// peer as an empty reply instead of a test failure.
class Console final : public Link {
 public:
  explicit Console(int port, bool quiet = false) : quiet_(quiet) { ok_ = zeb_console_client_open(&dev_, "127.0.0.1", port) == 0; }
  ~Console() override {
    if (ok_) zeb_console_client_close(&dev_);
  }
  bool connected() const { return ok_; }
  Bytes exchange(const Bytes& raw) override {
    if (!ok_ || transport_tx(&dev_, raw.data(), raw.size()) != 0 ||
        transport_rx(&dev_, dev_.buf, TRIX_IO_BUF_SIZE) != 0) {
      if (!quiet_) ADD_FAILURE() << "console exchange failed";
      return {};
    }
    return Bytes(dev_.buf, dev_.buf + dev_.buf_len);
  }

 private:
  se_device_t dev_{};
  bool quiet_ = false;
  bool ok_ = false;
};

// Common steps of a host: sessions, logins, a token.
struct Host {
  Link& l;
  uint32_t hsm_session() { return le32(l.ok(cmd::dev::OpenHsmSession, {u32(cmd::SE_HSM_HANDLE)})[0]); }
  uint32_t admin(const std::string& pin) {
    const uint32_t h = hsm_session();
    EXPECT_EQ(l.code(cmd::dev::LoginHsmByPin, {u32(h), sha256(pin)}), 0u);
    return h;
  }
  // A token made by the administrator with `so_pin`; its 16-byte ID.
  Bytes token(const std::string& admin_pin, const std::string& so_pin) {
    const uint32_t a = admin(admin_pin);
    auto r = l.ok(cmd::dev::CreateTokenByPin, {u32(a), sha256(so_pin)});
    EXPECT_EQ(l.code(cmd::dev::CloseHsmSession, {u32(a)}), 0u);
    return r.empty() ? Bytes(16) : r[0];
  }
  uint32_t open(const Bytes& id) {
    return le32(l.ok(cmd::dev::OpenTokenSession, {u32(cmd::SE_HSM_HANDLE), id})[0]);
  }
  // A token session with its user logged in (the user PIN set by the SO).
  uint32_t user(const Bytes& id, const std::string& so_pin, const std::string& user_pin) {
    const uint32_t s = open(id);
    EXPECT_EQ(l.code(cmd::dev::LoginTokenSuperUserByPin, {u32(s), sha256(so_pin)}), 0u);
    EXPECT_EQ(l.code(cmd::dev::SetTokenPin, {u32(s), sha256(user_pin)}), 0u);
    EXPECT_EQ(l.code(cmd::dev::LogoutTokenSuperUser, {u32(s)}), 0u);
    EXPECT_EQ(l.code(cmd::dev::LoginTokenByPin, {u32(s), sha256(user_pin)}), 0u);
    return s;
  }
};

}  // namespace sst
