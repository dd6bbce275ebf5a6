// Inside the simulator: parsed requests, replies, and the per-class handlers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quarzel/hmac.h"
#include "quarzel/secure.h"
#include "se/commands.h"
#include "zeb/backend_codes.h"
#include "se_sim/simulator.h"

namespace se::sim {

// Device codes (PKCS#11 results, as the software device gives them).
inline constexpr uint32_t kOk = 0;
using zeb::rc::kFailed;
using zeb::rc::kArguments;
using zeb::rc::kDataLenRange;
using zeb::rc::kNotSupported;
using zeb::rc::kMechanismInvalid;
using zeb::rc::kObjectInvalid;
using zeb::rc::kNotInitialized;
using zeb::rc::kSessionHandle;
using zeb::rc::kNotLoggedIn;
inline constexpr uint32_t kReplyTooLong = 0x2040;  // the reply would not fit the channel's limit

// Largest reply data: the channel accepts a count L of at most 4086 (2 + data).
inline constexpr size_t kReplyDataMax = 4084;

// A request split into its fields (views into the command's data).
struct Args {
  std::vector<std::span<const uint8_t>> f;
  uint32_t u32(size_t i) const {
    const auto& s = f[i];
    return s[0] | (uint32_t{s[1]} << 8) | (uint32_t{s[2]} << 16) | (uint32_t{s[3]} << 24);
  }
  uint8_t u8(size_t i) const { return f[i][0]; }
  uint8_t* p(size_t i) const { return const_cast<uint8_t*>(f[i].data()); }  // the C API takes non-const
  uint32_t n(size_t i) const { return static_cast<uint32_t>(f[i].size()); }
};

// A handler's answer: a code, and on success one byte string per reply field.
struct Result {
  uint32_t code = kOk;
  std::vector<std::vector<uint8_t>> fields;
  static Result err(uint32_t c) { return Result{c, {}}; }
};
inline Result ok() { return {}; }
template <class... B>
Result ok(B&&... b) {
  Result r;
  (r.fields.emplace_back(std::forward<B>(b)), ...);
  return r;
}
inline std::vector<uint8_t> bytes(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}
inline std::vector<uint8_t> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A command's handler, keyed by its row of the command set (se/commands.h).
// `Call` is what the class's common part worked out for the command.
template <class Call>
struct Route {
  const cmd::Command* command;
  Result (*handle)(Simulator::Impl& s, const Call& call);
};

// The route of `c` in `table`, or null.
template <class Call, size_t N>
const Route<Call>* route_of(const Route<Call> (&table)[N], const cmd::Command& c) {
  for (const Route<Call>& r : table) {
    if (r.command == &c) return &r;
  }
  return nullptr;
}

inline Result done(uint32_t code) { return code == 0 ? ok() : Result::err(code); }

struct Simulator::Pending {
  uint32_t slot = 0;
  bool create = false;
  uint32_t next_part = 0;
  std::array<uint8_t, se::cmd::kStoSeobj> entry{};
  std::vector<uint8_t> data;
};

struct Simulator::CryptoState {
  uint32_t swc = 0;  // the software provider's session, master key set
  bool hmac_running = false;
  hmac_ctx_t hmac{};
  ~CryptoState() { quarzel::secure_wipe(&hmac, sizeof hmac); }
};

struct Simulator::Impl {
  Simulator& sim;
  // Device token session handle -> its crypto state (token user logged in).
  std::map<uint32_t, std::unique_ptr<CryptoState>> crypto;
  // (token directory, session) -> the object write in progress, and a
  // complete create held for the session's next closing part.
  std::map<std::pair<std::string, uint32_t>, Pending> pending;
  std::map<std::pair<std::string, uint32_t>, Pending> held;
  // Device sessions opened on the current connection and not closed yet.
  std::set<uint32_t> hsm_sessions;
  std::set<uint32_t> token_sessions;

  explicit Impl(Simulator& s) : sim(s) {}
  uint32_t hsm() const { return sim.hsm_; }
  const std::string& dir() const { return sim.dir_; }

  // Crypto state of a token session: kSessionHandle for an unknown session,
  // kNotLoggedIn when its token user is not logged in.
  uint32_t crypto_of(uint32_t h, CryptoState** out);
  void drop_crypto(uint32_t h);
  // Forgets a token session: its crypto state and its open object writes.
  void drop_session(uint32_t h);
  uint32_t start_crypto(uint32_t h);  // after the token user's login

  // Each class's common part (its handle or token checks), then the
  // command's handler from the class's table; kNotSupported for a row
  // without one.
  Result device(const se::cmd::Command& c, const Args& a);
  Result crypto_cmd(const se::cmd::Command& c, const Args& a);
  Result store(const se::cmd::Command& c, const Args& a);
};

// A token's store directory name (hex of its 16-byte ID).
std::string token_dir_name(const uint8_t* id);

// Test seam: called at each step of a commit of several objects ("journal
// written", then "object written" per file), so that a test can end the
// process there.
extern void (*g_commit_step_hook)(const char* step);

// Finishes, from its journal, a commit of several objects that a kill of the
// device interrupted, in the token store directory `tdir` (with '/').
void finish_commit(const std::string& tdir);

// The software device's form of a PIN that crossed the wire as its SHA-256
// digest: 32 hex characters of the digest's first 16 bytes (its files hold
// text PINs of at most 32 characters).
std::array<uint8_t, 32> pin_from_digest(std::span<const uint8_t> digest);
// The same for a PIN given in plain (SHA-256 first).
[[nodiscard]] bool pin_from_plain(std::span<const uint8_t> pin, std::array<uint8_t, 32>* out);

}  // namespace se::sim
