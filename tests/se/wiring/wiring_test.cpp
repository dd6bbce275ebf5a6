// The core's direct calls into the secure element: AES steps answered as they
// go and the final's room, and the device open and HSM
// listing reaching a test bed on the console port (a stand-in console server
// in this test).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "se/channel.h"
#include "se/commands.h"
#include "se/discovery.h"
#include "se/middleware.h"
#include "support/workdir.h"
#include "trix/console.h"
#include "trix/transport.h"
#include "zeb/adapters.h"
#include "zeb/crypto_adapter.h"
#include "zeb/vrk.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes arr(const Bytes& b) {
  Bytes r = {static_cast<uint8_t>(b.size()), static_cast<uint8_t>(b.size() >> 8)};
  r.resize(2 + b.size());
  if (!b.empty()) std::memcpy(r.data() + 2, b.data(), b.size());
  return r;
}

class AesFinal : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CA_SetFunctionList(VRK_HSM_TYPE_TESTBED), 0);
    gl_device = se_device_t{};
    script = trix::attach_scripted(&gl_device);
    ctx.Hsm_Type = VRK_HSM_TYPE_TESTBED;
    ctx.hSE = ctx.hCrypto = 5;
    ctx.Crypto_Operation = 1;
  }
  void TearDown() override {
    EXPECT_EQ(script->mismatches(), 0u);
    (void)trix::detach(&gl_device);
    (void)CA_SetFunctionList(VRK_HSM_TYPE_SOFTWARE);
  }
  static Bytes request(const Bytes& key, uint32_t padding, const Bytes& data) {
    Bytes req = le32(5);
    for (const Bytes& b : {le32(1), le32(2), le32(padding), arr({}), arr(key), arr(data)}) {
      req.insert(req.end(), b.begin(), b.end());
    }
    return req;
  }
  // Init and one update of 1000 bytes: the adapter hands on 976 and holds
  // 24, and the device answers the 976 at once.
  void start() {
    ASSERT_EQ(CA_AesInit(&ctx, 1, 2, 0, nullptr, 0, key.data(), 16), 0);
    data.assign(1000, 0x3C);
    script->expect(trix::make_command(0x88, 0x15, 0, 0, 0, 0, request(key, 1, Bytes(976, 0x3C))),
                   trix::make_reply(arr(Bytes(976, 0xC3)), 0x9000));
    std::vector<uint8_t> out(1000);
    uint32_t out_len = 1000;
    ASSERT_EQ(CA_AesUpdate(&ctx, data.data(), 1000, out.data(), &out_len), 0);
    EXPECT_EQ(out_len, 976u);
  }
  void expect_final() {
    script->expect(trix::make_command(0x88, 0x15, 0, 0, 0, 0, request(key, 0, Bytes(24, 0x3C))),
                   trix::make_reply(arr(Bytes(24, 0xC4)), 0x9000));
  }
  CryptoAdapterCtx ctx{};
  trix::ScriptedTransport* script = nullptr;
  Bytes key = Bytes(16, 0x4B);
  Bytes data;
};

// The secure element answers each step as it goes, so the final gives only
// what the adapter held back.
TEST_F(AesFinal, FinalAnswersTheHeldBytes) {
  start();
  expect_final();
  std::vector<uint8_t> out(24);
  uint32_t n = 24;
  ASSERT_EQ(CA_AesFinal(&ctx, out.data(), &n), 0);
  EXPECT_EQ(n, 24u);
  EXPECT_EQ(out, Bytes(24, 0xC4));
  EXPECT_EQ(ctx.Crypto_Operation, 1);
}

// Too little room: refused before anything is sent, and the operation lives
// on for a retry (PKCS#11 v3.0 5.2).
TEST_F(AesFinal, ShortRoomIsRefusedAndTheOperationLives) {
  start();
  std::vector<uint8_t> out(24 + 8, 0xEE);
  uint32_t n = 16;
  EXPECT_EQ(CA_AesFinal(&ctx, out.data(), &n), 0x150);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(ctx.Crypto_Operation, 3);
  expect_final();
  n = 24;
  ASSERT_EQ(CA_AesFinal(&ctx, out.data(), &n), 0);
  EXPECT_EQ(n, 24u);
  EXPECT_EQ(out[24], 0xEE);
}

// A stand-in test bed on the console port: answers every command with the
// HSM information, counts connections.
class ConsoleServer {
 public:
  bool start() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    (void)setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(TRIX_CONSOLE_PORT);
    inet_pton(AF_INET, TRIX_CONSOLE_ADDR, &sa.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 4) != 0) {
      ::close(fd_);
      return false;
    }
    thread_ = std::thread([this] { serve(); });
    return true;
  }
  ~ConsoleServer() {
    if (thread_.joinable()) {
      stop_ = true;
      ::shutdown(fd_, SHUT_RDWR);
      thread_.join();
    }
    ::close(fd_);
  }
  std::atomic<int> accepted{0};
  std::atomic<int> ended{0};

 private:
  void serve() {
    while (!stop_) {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      ++accepted;
      uint8_t hdr[4];
      while (::recv(c, hdr, 4, MSG_WAITALL) == 4) {
        const uint32_t n = hdr[0] | hdr[1] << 8 | hdr[2] << 16 | uint32_t{hdr[3]} << 24;
        std::vector<uint8_t> cmd(n);
        if (::recv(c, cmd.data(), n, MSG_WAITALL) != static_cast<ssize_t>(n)) break;
        ZEB_DEVICE_HSM_INFO info{};
        info.HsmType = 5;
        std::memset(info.HsmSn, 'T', 16);
        std::memcpy(info.HsmLabel, "test bed", 8);
        Bytes d(sizeof info);
        std::memcpy(d.data(), &info, sizeof info);
        Bytes reply = trix::make_reply(d, 0x9000);
        Bytes frame = le32(static_cast<uint32_t>(reply.size()));
        frame.insert(frame.end(), reply.begin(), reply.end());
        (void)::send(c, frame.data(), frame.size(), MSG_NOSIGNAL);
      }
      ::close(c);
      ++ended;
    }
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// With no HID device and no device by path, the device open reaches the
// test bed that discovery lists; finalisation closes it.
TEST(TestBedRoad, ListedAndOpened) {
  zt::WorkDir dir;
  ConsoleServer server;
  if (!server.start()) GTEST_SKIP() << "port 5566 is in use";
  uint8_t types[14] = {};
  uint8_t sns[14][16] = {};
  uint8_t labels[14][32] = {};
  uint32_t count = 0;
  testing::internal::CaptureStderr();
  ASSERT_EQ(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count),
            0u);
  (void)testing::internal::GetCapturedStderr();
  ASSERT_GE(count, 1u);
  EXPECT_EQ(types[count - 1], ZEB_DEVICE_HSM_TYPE_TESTBED);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(labels[count - 1])), "test bed");

  ASSERT_EQ(DA_SetFunctionList(FWD_FUNCTIONS), 0u);
  uint8_t sn[16];
  std::memset(sn, 'T', sizeof sn);
  uint32_t h = 0xFFFF;
  ASSERT_EQ(DA_Initialize(sn, &h), 0u);
  EXPECT_EQ(h, se::cmd::SE_HSM_HANDLE);
  EXPECT_EQ(se_current_device_is_testbed(), 1);
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(DA_GetHsmInfo(h, &info), 0u);
  EXPECT_EQ(info.HsmSn[0], 'T');
  // Listing while the test bed is in use asks it through the open record.
  count = 0;
  ASSERT_EQ(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count),
            0u);
  EXPECT_GE(count, 1u);
  ASSERT_EQ(DA_Finalize(h), 0u);
  EXPECT_EQ(trix::transport_of(&gl_device), nullptr);
  (void)DA_SetFunctionList(SWD_FUNCTIONS);
  for (int i = 0; i < 200 && server.ended.load() < server.accepted.load(); ++i) usleep(5000);
  EXPECT_EQ(server.accepted.load(), 2);  // the listing's probe, then the device
  EXPECT_EQ(server.ended.load(), 2);
}

}  // namespace
