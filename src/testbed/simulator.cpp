// The simulator's frame: opening (and first creation of) the device kept in
// a directory, and one command in, one reply out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "oxlu/file.h"
#include "quarzel/hash.h"
#include "sim_internal.h"
#include "swhsm/swd.h"
#include "trix/trix.h"
#include "zeb/swhsm_services.h"

namespace se::sim {
namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::string random_digits(size_t n) {
  std::random_device rd;
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + rd() % 10);
  return s;
}

// Restores the working directory on scope exit.
class InDir {
 public:
  explicit InDir(const std::string& dir) {
    if (getcwd(old_, sizeof old_) == nullptr) return;
    ok_ = chdir(dir.c_str()) == 0;
  }
  ~InDir() {
    if (ok_) (void)!chdir(old_);
  }
  bool ok() const { return ok_; }

 private:
  char old_[PATH_MAX] = {};
  bool ok_ = false;
};

// The software device's HSM record of a new simulated device.
std::string admin_record(const std::string& sn, const std::array<uint8_t, 32>& pin) {
  return "Pin=" + std::string(pin.begin(), pin.end()) + "\nPinLen=32\nSn=" + sn +
         "\nLabel=se-testbed\nLabelLen=10\nFwVer=1.0.0\nFwVerLen=5\nType=8\nStatus=3\nCurrTknCount=0"
         "\nMaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=10\nDefault=\nDefaultLen=0\n";
}

uint32_t create_device(const std::string& dir, const std::string& sn, const std::string& pin) {
  std::array<uint8_t, 32> mapped{};
  if (!pin_from_plain({reinterpret_cast<const uint8_t*>(pin.data()), pin.size()}, &mapped)) return kFailed;
  const std::string pointer = "HsmAdmin_config_path=" + dir + "\n";
  const std::string rec = admin_record(sn, mapped);
  if (::mkdir((dir + "SwHsm").c_str(), 0700) != 0 && errno != EEXIST) return kFailed;
  if (::mkdir((dir + "SeStore").c_str(), 0700) != 0 && errno != EEXIST) return kFailed;
  // The record before the pointer file: a device is there once the pointer is.
  if (oxlu_write_file_atomic((dir + "SwHsm/HsmAdmin.cfg").c_str(), rec.data(), rec.size(), 0600) != OXLU_OK) {
    return kFailed;
  }
  if (oxlu_write_file_atomic((dir + "device_filepath.cfg").c_str(), pointer.data(), pointer.size(), 0600) !=
      OXLU_OK) {
    return kFailed;
  }
  return kOk;
}

size_t put_reply(std::span<uint8_t> out, const uint8_t* data, size_t n, uint8_t sw1, uint8_t sw2) {
  const size_t L = 2 + n;
  out[0] = static_cast<uint8_t>(L);
  out[1] = static_cast<uint8_t>(L >> 8);
  if (n > 0) std::memcpy(out.data() + 2, data, n);
  out[L] = sw1;
  out[L + 1] = sw2;
  return L + 2;
}

size_t refuse(std::span<uint8_t> out, uint32_t code) {
  const auto c = le32(code);
  return put_reply(out, c.data(), c.size(), 0x66, 0xDD);
}

// Splits a request into the row's fields; false when it does not match the
// row exactly (short, an array of another count than the row fixes, bytes left).
bool parse(std::span<const cmd::Field> row, std::span<const uint8_t> data, Args* a) {
  size_t off = 0;
  for (const cmd::Field& f : row) {
    size_t n = f.width;
    if (f.kind == cmd::Kind::array) {
      if (data.size() - off < 2) return false;
      n = data[off] | (size_t{data[off + 1]} << 8);
      off += 2;
      if (f.width != 0 && n != f.width) return false;
    }
    if (data.size() - off < n) return false;
    a->f.push_back(data.subspan(off, n));
    off += n;
  }
  return off == data.size();
}

}  // namespace

std::array<uint8_t, 32> pin_from_digest(std::span<const uint8_t> digest) {
  std::array<uint8_t, 32> out{};
  const std::string h = hex(digest.data(), 16);
  std::memcpy(out.data(), h.data(), 32);
  return out;
}

bool pin_from_plain(std::span<const uint8_t> pin, std::array<uint8_t, 32>* out) {
  quarzel::SecretArray<32> d;
  uint32_t n = 32;
  if (hash_onestep(HASH_TYPE_SHA2_256, static_cast<uint32_t>(pin.size()), pin.data(), &n, d.data()) != 0) {
    return false;
  }
  *out = pin_from_digest({d.data(), 32});
  return true;
}

uint32_t Simulator::open(const std::string& dir_in, const std::string& sn_in, const std::string& admin_pin,
                         std::unique_ptr<Simulator>* out, Setup* setup) {
  if (out == nullptr || dir_in.empty() || sn_in.size() > 16) return kArguments;
  if (::mkdir(dir_in.c_str(), 0700) != 0 && errno != EEXIST) return kFailed;
  char abs[PATH_MAX];
  if (realpath(dir_in.c_str(), abs) == nullptr) return kFailed;
  std::string dir = std::string(abs) + "/";
  if (dir.size() + 40 >= SWD_PATH_LEN) return kArguments;  // the software device's paths are 128 bytes

  Setup s;
  struct stat st {};
  const bool exists = ::stat((dir + "device_filepath.cfg").c_str(), &st) == 0;
  if (!exists) {
    s.sn = sn_in.empty() ? random_digits(16) : sn_in + std::string(16 - sn_in.size(), '0');
    s.admin_pin = admin_pin.empty() ? random_digits(8) : admin_pin;
    s.created = true;
    const uint32_t rc = create_device(dir, s.sn, s.admin_pin);
    if (rc != kOk) return rc;
  }
  HSM_ADMIN_CFG rec{};
  std::unique_ptr<Simulator> sim(new Simulator());
  {
    InDir in(dir);
    if (!in.ok()) return kFailed;
    // Point the device at where the directory is now (it may have moved).
    const std::string pointer = "HsmAdmin_config_path=" + dir + "\n";
    if (oxlu_write_file_atomic("device_filepath.cfg", pointer.data(), pointer.size(), 0600) != OXLU_OK) {
      return kFailed;
    }
    // The software device is initialised with its record's serial number.
    std::string text(4096, '\0');
    size_t len = 0;
    if (oxlu_read_file((dir + "SwHsm/HsmAdmin.cfg").c_str(), text.data(), text.size(), &len) != OXLU_OK) {
      return kFailed;
    }
    text.resize(len);
    const size_t p = text.find("\nSn=");
    if (p == std::string::npos || p + 4 + 16 > text.size()) return kFailed;
    std::memcpy(rec.HsmSn, text.data() + p + 4, 16);
    const uint32_t rc = SWD_Initialize(rec.HsmSn, &sim->hsm_);
    if (rc != 0) return rc;
  }
  // Commits and object writes that a kill interrupted: commits of several
  // objects are finished from their journal, temporary files removed.
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir + "SeStore", ec)) {
    if (!e.is_directory(ec)) continue;
    finish_commit(e.path().string() + "/");
    oxlu::remove_dead_temps((e.path().string() + "/").c_str());
  }
  sim->dir_ = dir;
  sim->sn_.assign(reinterpret_cast<char*>(rec.HsmSn), 16);
  sim->impl_ = std::make_unique<Impl>(*sim);
  if (!s.created) s.sn = sim->sn_;
  if (setup != nullptr) *setup = s;
  *out = std::move(sim);
  return kOk;
}

void Simulator::end_connection() {
  if (!impl_) return;
  // Gone with its client: closing is all there is to do, whatever it gives.
  for (const uint32_t h : impl_->token_sessions) {
    impl_->drop_session(h);
    (void)SWD_CloseTokenSession(h);
  }
  for (const uint32_t h : impl_->hsm_sessions) (void)SWD_CloseHsmSession(h);
  impl_->token_sessions.clear();
  impl_->hsm_sessions.clear();
}

Simulator::~Simulator() {
  if (impl_) {
    // Shutting down: nothing is left to report a failure to.
    for (auto& [h, c] : impl_->crypto) (void)SWC_CloseSession(c->swc);
  }
  (void)SWD_Finalize(hsm_);
}

size_t Simulator::execute(std::span<const uint8_t> command, std::span<uint8_t> reply) {
  if (reply.size() < TRIX_IO_BUF_SIZE) return 0;
  if (command.size() < TRIX_CMD_HEADER_SIZE) return refuse(reply, kArguments);
  const uint8_t cla = command[0], ins = command[1];
  const size_t n = command[8] | (size_t{command[9]} << 8);
  if (command.size() - TRIX_CMD_HEADER_SIZE != n) return refuse(reply, kArguments);
  const auto data = command.subspan(TRIX_CMD_HEADER_SIZE);

  if (cla == TRIX_PLATFORM_CLA && ins == TRIX_INS_GET_SN && n == 0) {
    return put_reply(reply, reinterpret_cast<const uint8_t*>(sn_.data()), 16, 0x90, 0x00);
  }
  const cmd::Command* row = cmd::find(cla, ins);
  if (row == nullptr) return refuse(reply, kNotSupported);
  Args a;
  if (!parse(row->request, data, &a)) return refuse(reply, kArguments);

  Result r;
  try {
    r = cla == cmd::CLA_DEVICE ? impl_->device(*row, a)
        : cla == cmd::CLA_STORE ? impl_->store(*row, a)
                                : impl_->crypto_cmd(*row, a);
  } catch (const std::bad_alloc&) {
    r = Result::err(kFailed);
  }
  if (r.code != kOk) return refuse(reply, r.code);

  // Lay out the reply fields of the row.
  std::vector<uint8_t> out;
  if (r.fields.size() != row->reply.size()) return refuse(reply, kFailed);
  for (size_t i = 0; i < r.fields.size(); ++i) {
    const cmd::Field& f = row->reply[i];
    const auto& v = r.fields[i];
    if (f.kind == cmd::Kind::array) {
      if (v.size() > 0xFFFF) return refuse(reply, kReplyTooLong);
      out.push_back(static_cast<uint8_t>(v.size()));
      out.push_back(static_cast<uint8_t>(v.size() >> 8));
    } else if (v.size() != f.width) {
      return refuse(reply, kFailed);
    }
    out.insert(out.end(), v.begin(), v.end());
  }
  if (out.size() > kReplyDataMax) return refuse(reply, kReplyTooLong);
  return put_reply(reply, out.data(), out.size(), 0x90, 0x00);
}

// ---- Crypto state of token sessions ----

uint32_t Simulator::Impl::crypto_of(uint32_t h, CryptoState** out) {
  const auto it = crypto.find(h);
  if (it != crypto.end()) {
    *out = it->second.get();
    return kOk;
  }
  ZEB_DEVICE_TOKEN_SESSION_INFO info{};
  return SWD_GetTokenSessionInfo(h, &info) == 0 ? kNotLoggedIn : kSessionHandle;
}

void Simulator::Impl::drop_crypto(uint32_t h) {
  const auto it = crypto.find(h);
  if (it == crypto.end()) return;
  (void)SWC_CloseSession(it->second->swc);  // the session is gone either way
  crypto.erase(it);
  for (auto p = pending.begin(); p != pending.end();) {
    p = p->first.second == h ? pending.erase(p) : std::next(p);
  }
}

void Simulator::Impl::drop_session(uint32_t h) {
  drop_crypto(h);
  for (auto* m : {&pending, &held}) {
    for (auto p = m->begin(); p != m->end();) p = p->first.second == h ? m->erase(p) : std::next(p);
  }
}

uint32_t Simulator::Impl::start_crypto(uint32_t h) {
  drop_crypto(h);
  auto st = std::make_unique<CryptoState>();
  uint32_t rc = SWC_OpenSession(&st->swc);
  if (rc != 0) return rc;
  quarzel::SecretArray<32> key;
  uint32_t n = 32;
  if ((rc = SWD_GenSwKey(h, key.data(), &n)) != 0 || (rc = SWC_SetMK(st->swc, key.data(), n)) != 0) {
    (void)SWC_CloseSession(st->swc);  // undo; the key's failure is reported
    return rc;
  }
  crypto.emplace(h, std::move(st));
  return kOk;
}

}  // namespace se::sim
