// The test bed over TCP through the console client: served commands, state
// kept across restarts, clean stop, kills mid-command, garbage frames.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "client.h"
#include "oxlu/file.h"
#include "support/testbed.h"
#include "support/workdir.h"

namespace sst {
namespace {

namespace s = cmd::sto;

constexpr const char* kSn = "TB00000000000001";
constexpr const char* kAdmin = "tb-admin-pin";
constexpr const char* kSo = "tb-so-pin";
constexpr const char* kUser = "tb-user-pin";

class Bed : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<zt::WorkDir>();
    state_ = dir_->path() + "/state";
  }
  void TearDown() override {
    tb_.reset();
    dir_.reset();
  }
  void start() {
    tb_.reset();
    tb_ = std::make_unique<zt::Testbed>(SE_TESTBED_PATH, state_, 0,
                                        std::vector<std::string>{"--sn", kSn, "--admin-pin", kAdmin});
  }
  std::unique_ptr<Console> connect() {
    auto c = std::make_unique<Console>(tb_->port());
    EXPECT_TRUE(c->connected());
    return c;
  }
  // A token with its user logged in, and the store input of that session.
  struct Session {
    Bytes id;
    uint32_t h = 0;
    Bytes in() const {
      // Laid out in one sized buffer (GCC 12 at -O3 misreads inserts that
      // grow a four-byte vector).
      Bytes b(4 + 16 + id.size());
      const Bytes hb = u32(h);
      std::copy(hb.begin(), hb.end(), b.begin());
      std::copy(kSn, kSn + 16, b.begin() + 4);
      std::copy(id.begin(), id.end(), b.begin() + 20);
      return b;
    }
  };
  Session user_session(Link& l, const Bytes& id = {}) {
    Host host{l};
    Session s;
    if (id.empty()) {
      s.id = host.token(kAdmin, kSo);
      s.h = host.user(s.id, kSo, kUser);
      EXPECT_EQ(l.code(s::CreateTokenStorage, {s.in()}), 0u);
    } else {
      s.id = id;
      s.h = host.open(id);
      EXPECT_EQ(l.code(cmd::dev::LoginTokenByPin, {u32(s.h), sha256(kUser)}), 0u);
    }
    return s;
  }
  static Bytes object(size_t n, uint8_t v) { return Bytes(n, v); }
  static Bytes entry(size_t obj_len) {
    Bytes e(80, 0x5A);
    const Bytes n = u32(static_cast<uint32_t>(obj_len - 128));
    std::copy(n.begin(), n.end(), e.begin() + 76);
    return e;
  }
  // Writes `obj` into `slot` (update) or a new slot; the slot.
  static uint32_t write(Link& l, const Session& ss, const Bytes& obj, int slot = -1) {
    uint32_t got = slot < 0 ? 0 : static_cast<uint32_t>(slot);
    const Bytes e = entry(obj.size());
    const size_t parts = (obj.size() + 767) / 768;
    for (size_t part = 0; part <= parts; ++part) {
      const bool closing = part == parts;
      const size_t off = part * 768;
      const Bytes chunk = closing ? Bytes{} : Bytes(obj.begin() + off, obj.begin() + std::min(obj.size(), off + 768));
      const Bytes no = u8(closing ? 0xFF : static_cast<uint8_t>(part));
      if (slot < 0) {
        auto r = l.call(s::CreateObjectPart, {ss.in(), chunk, e, no});
        if (r.code != 0 || r.f.empty()) return 0xFFFFFFFF;
        got = le32(r.f[0]);
      } else if (l.code(s::UpdateObjectPart, {ss.in(), u32(got), chunk, e, no}) != 0) {
        return 0xFFFFFFFF;
      }
    }
    return got;
  }
  static Bytes read(Link& l, const Session& ss, uint32_t slot) {
    auto size = l.call(s::GetObjectSize, {ss.in(), u32(slot)});
    if (size.code != 0) return {};
    Bytes out;
    for (uint32_t part = 0; part * 768 < le32(size.f[0]); ++part) {
      auto r = l.ok(s::GetObjectPart, {ss.in(), u32(slot), u8(static_cast<uint8_t>(part))});
      if (r.empty()) return {};
      out.insert(out.end(), r[0].begin(), r[0].end());
    }
    return out;
  }
  // Files of the state directory that are temporary files of a writer.
  std::vector<std::string> temp_files() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(state_)) {
      if (oxlu::is_temp_name(e.path().filename().c_str())) out.push_back(e.path());
    }
    return out;
  }

  std::unique_ptr<zt::WorkDir> dir_;
  std::string state_;
  std::unique_ptr<zt::Testbed> tb_;
};

TEST_F(Bed, FirstStartCreatesTheHsmAndLaterStartsKeepIt) {
  start();
  EXPECT_NE(tb_->output().find(std::string("created HSM sn=") + kSn + " admin-pin=" + kAdmin), std::string::npos);
  Bytes id;
  const Bytes obj = object(1500, 0x42);
  uint32_t slot = 0;
  {
    auto c = connect();
    const Session ss = user_session(*c);
    id = ss.id;
    slot = write(*c, ss, obj);
    ASSERT_NE(slot, 0xFFFFFFFFu);
  }
  const int status = tb_->stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  start();
  EXPECT_EQ(tb_->output().find("created"), std::string::npos);
  EXPECT_NE(tb_->output().find(std::string("ready port=") + std::to_string(tb_->port()) + " sn=" + kSn),
            std::string::npos);
  auto c = connect();
  const Session ss = user_session(*c, id);
  EXPECT_EQ(read(*c, ss, slot), obj);
  auto info = c->ok(cmd::dev::GetHsmInfo, {u32(cmd::SE_HSM_HANDLE)})[0];
  EXPECT_EQ(info[0], 8u);
}

// Clients that leave without closing their sessions (they close the link,
// or are killed): the device frees their sessions, so later clients still
// open theirs. The device holds 20 sessions.
TEST_F(Bed, SessionsOfClientsThatAreGoneAreFreed) {
  start();
  Bytes id;
  {
    auto c = connect();
    id = user_session(*c).id;
  }
  for (int i = 0; i < 25; ++i) {
    if (i % 2 == 0) {
      auto c = connect();
      Host host{*c};
      (void)host.hsm_session();
      const uint32_t h = host.open(id);
      EXPECT_EQ(c->code(cmd::dev::LoginTokenByPin, {u32(h), sha256(kUser)}), 0u) << i;
      continue;  // the link closes here
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      Console c(tb_->port(), /*quiet=*/true);
      Host host{c};
      const bool opened = host.hsm_session() != 0 && host.open(id) != 0;
      const char r = opened ? 1 : 0;
      (void)!::write(ready[1], &r, 1);
      pause();  // killed here, sessions open
      _exit(0);
    }
    close(ready[1]);
    char r = 0;
    EXPECT_EQ(::read(ready[0], &r, 1), 1);
    EXPECT_EQ(r, 1) << i;
    close(ready[0]);
    ::kill(pid, SIGKILL);
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
  }
  auto c = connect();
  auto hs = c->call(cmd::dev::OpenHsmSession, {u32(cmd::SE_HSM_HANDLE)});
  EXPECT_EQ(hs.code, 0u);
  auto ts = c->call(cmd::dev::OpenTokenSession, {u32(cmd::SE_HSM_HANDLE), id});
  ASSERT_EQ(ts.code, 0u);
  EXPECT_EQ(c->code(cmd::dev::LoginTokenByPin, {ts.f[0], sha256(kUser)}), 0u);
}

TEST_F(Bed, GarbageFramesDropTheClientAndTheNextIsServed) {
  start();
  Bytes id;
  {
    auto c = connect();
    id = user_session(*c).id;
  }
  const std::vector<Bytes> garbage = {
      {0, 0, 0, 0},                                  // empty frame
      {0xFF, 0xFF, 0xFF, 0x7F},                      // far too long
      {3, 0, 0, 0, 0x86, 0x03, 0},                   // shorter than a command header
      {12, 0, 0, 0, 0x86, 0x03, 0, 0, 0, 0, 0, 0, 9, 0, 1, 2},  // header's count disagrees with the frame
  };
  for (const Bytes& g : garbage) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(tb_->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::send(fd, g.data(), g.size(), MSG_NOSIGNAL), static_cast<ssize_t>(g.size()));
    uint8_t b[16];
    EXPECT_LE(::recv(fd, b, sizeof b, 0), 0);  // dropped (closed or reset), no reply
    ::close(fd);
  }
  // The next client is served, and the token is still there.
  auto c = connect();
  EXPECT_EQ(c->ok(cmd::dev::GetTokenInfo, {u32(cmd::SE_HSM_HANDLE), id}).size(), 1u);
}

TEST_F(Bed, KilledMidCommandLosesNoObjectAndLeavesNoTornFile) {
  start();
  Bytes id;
  std::vector<Bytes> stored;
  {
    auto c = connect();
    const Session ss = user_session(*c);
    id = ss.id;
    for (uint8_t v = 1; v <= 3; ++v) {
      stored.push_back(object(700u * v, v));
      ASSERT_EQ(write(*c, ss, stored.back()), v - 1u);
    }
  }
  // Rounds of rewrites, each killed at some point of its stream of commands.
  for (int round = 0; round < 6; ++round) {
    std::atomic<bool> run{true};
    std::atomic<int> done{0};
    std::vector<Bytes> next = stored, inflight = stored;
    std::thread writer([&] {
      auto c = std::make_unique<Console>(tb_->port(), /*quiet=*/true);
      if (!c->connected()) return;
      Session ss;
      ss.id = id;
      ss.h = Host{*c}.open(id);
      if (c->code(cmd::dev::LoginTokenByPin, {u32(ss.h), sha256(kUser)}) != 0) return;
      for (uint8_t v = 0; run; v = static_cast<uint8_t>(v + 1)) {
        const uint32_t slot = v % 3;
        const Bytes obj = object(700u * (slot + 1) + v % 5, static_cast<uint8_t>(0x80 + v));
        inflight[slot] = obj;
        if (write(*c, ss, obj, static_cast<int>(slot)) != slot) return;
        next[slot] = obj;
        ++done;
      }
    });
    while (done < round + 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
    tb_->kill();
    run = false;
    writer.join();

    start();
    auto c = connect();
    const Session ss = user_session(*c, id);
    for (uint32_t slot = 0; slot < 3; ++slot) {
      const Bytes got = read(*c, ss, slot);
      // Each object is whole: the last one confirmed, the one the kill cut
      // short (its closing part may have been taken before the reply went
      // out), or the one before the round.
      EXPECT_TRUE(got == next[slot] || got == inflight[slot] || got == stored[slot])
          << "round " << round << " slot " << slot << " size " << got.size();
      stored[slot] = got;
    }
    EXPECT_EQ(temp_files(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace sst
