// The stand-in access library: raw command layout, reply parsing, the
// device-less HID and by-path opens, and the console client over TCP.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "se/channel.h"
#include "support/hex.h"
#include "trix/console.h"
#include "trix/transport.h"

namespace {

using zt::Bytes;
using zt::unhex;

TEST(Construct, RawCommandLayout) {
  uint8_t data[3] = {0xA1, 0xA2, 0xA3};
  se_cmd_t cmd{};
  cmd.apdu = apdu_t{0x88, 0x41, 0x01, 0x02, 0x1234, 0x5678, 1, 1};
  cmd.inbuf = data;
  cmd.inbuf_len = sizeof data;
  uint8_t buf[32];
  size_t len = 0;
  ASSERT_EQ(apdu_construct_input(&cmd, buf, sizeof buf, &len), 0);
  EXPECT_EQ(zt::hex(buf, len), "884101023412785603" "00a1a2a3");
  // Data that does not fit the buffer, or data missing.
  EXPECT_EQ(apdu_construct_input(&cmd, buf, 12, &len), SE_ERROR_APDU_LEN);
  cmd.inbuf = nullptr;
  EXPECT_EQ(apdu_construct_input(&cmd, buf, sizeof buf, &len), SE_ERROR_INVALID_ARG);
}

TEST(Parse, ReplyOfNineZeroZero) {
  Bytes r = unhex("0500aabbcc9000");
  se_cmd_rsp_t rsp{};
  ASSERT_EQ(se_cmd_parse_output(&rsp, r.data(), r.size()), 0);
  EXPECT_EQ(rsp.buf, r.data() + 2);
  EXPECT_EQ(rsp.buf_len, 3u);
  EXPECT_EQ(rsp.err_code, 0x9000);
  EXPECT_EQ(se_cmd_parse_output(&rsp, r.data(), r.size() - 1), SE_ERROR_APDU_RESPONSE_LEN);
  Bytes tiny = unhex("0100ffff");
  EXPECT_EQ(se_cmd_parse_output(&rsp, tiny.data(), tiny.size()), SE_ERROR_APDU_RESPONSE_LEN);
}

// No HID reader and no device by path on this machine: each says so.
TEST(NoDevice, OpensReportNoDevice) {
  io_info_list* list = tem44hid_list_new();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(tem44hid_list_init(list), 0);
  EXPECT_EQ(tem44hid_list_is_end(list), 1);
  tem44hid_list_next(list);
  ferrolux_list_next(list);
  tem44hid_list_free(list);

  se_device_t dev{};
  EXPECT_EQ(tem44hid_open(&dev, "hid0"), SE_ERROR_HID_NOT_FOUND);
  EXPECT_EQ(talon_open(&dev, ""), SE_ERROR_NO_SUCH_DEVICE);
  EXPECT_EQ(talon_open(&dev, "/nonexistent/hidraw0"), SE_ERROR_NO_SUCH_DEVICE);
  EXPECT_EQ(talon_open(&dev, "/dev/null"), SE_ERROR_NOT_SUPPORT_IO) << "a path that is no secure element";
  EXPECT_EQ(dev.handle, nullptr);
  EXPECT_NE(transport_is_locked(&dev), 0) << "a record without a transport sends nothing";
  EXPECT_EQ(talon_close(&dev), SE_ERROR_CLOSE);

  current_device = LORIND4;
  EXPECT_EQ(se_channel_open(0, &dev), SE_ERROR_NO_SUCH_DEVICE);
  EXPECT_EQ(current_device, LORIND4) << "unchanged when nothing opens";
  EXPECT_EQ(se_channel_open(1, &dev), SE_ERROR_NO_SUCH_DEVICE);
  current_device = TALON;
}

// Closing a record forgets the copies the channel keeps.
TEST(Records, CloseForgetsCopies) {
  se_device_t dev{};
  ASSERT_NE(trix::attach_scripted(&dev), nullptr);
  SE_DEVICE core{};
  std::memcpy(&core, &dev, sizeof dev);
  ASSERT_EQ(set_current_device(&core), 0u);
  ASSERT_EQ(FWD_set_se_device(&core), 0);
  ASSERT_EQ(FWSto_set_se_device(FWD_get_se_device()), 0u);
  EXPECT_EQ(gl_device.handle, dev.handle);
  EXPECT_EQ(gl_sto_mw_device.handle, dev.handle);
  EXPECT_EQ(se_channel_close(&dev), 0);
  EXPECT_EQ(dev.handle, nullptr);
  EXPECT_EQ(gl_device.handle, nullptr);
  EXPECT_EQ(gl_mw_device[0].handle, nullptr);
  EXPECT_EQ(gl_sto_mw_device.handle, nullptr);
  EXPECT_EQ(set_current_device(nullptr), 0u);
}

// A one-connection server on an ephemeral port of 127.0.0.1, answering each
// request frame through `answer` (raw reply bytes; or, with `raw_frames`, the
// bytes of one frame, after which it hangs up).
class FrameServer {
 public:
  using Answer = std::function<Bytes(const Bytes&)>;
  explicit FrameServer(Answer answer, bool raw_frames = false) : answer_(std::move(answer)), raw_(raw_frames) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof sa;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &n) != 0)
      throw std::runtime_error("listen failed");
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FrameServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  int port() const { return port_; }

 private:
  static bool read_all(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
      const ssize_t r = ::recv(fd, p, n, 0);
      if (r <= 0) return false;
      p += r;
      n -= static_cast<size_t>(r);
    }
    return true;
  }
  void serve() {
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    for (;;) {
      uint8_t hdr[4];
      if (!read_all(c, hdr, 4)) break;
      const uint32_t n = hdr[0] | (hdr[1] << 8) | (hdr[2] << 16) | (uint32_t{hdr[3]} << 24);
      Bytes req(n);
      if (!read_all(c, req.data(), n)) break;
      Bytes reply = answer_(req);
      Bytes frame;
      frame.reserve(4 + reply.size());
      if (!raw_) {
        const uint32_t m = static_cast<uint32_t>(reply.size());
        for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<uint8_t>(m >> shift));
      }
      for (const uint8_t b : reply) frame.push_back(b);
      if (frame.empty()) break;  // hang up
      if (::send(c, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) break;
      if (raw_) break;  // a raw frame is the last word
    }
    ::close(c);
  }
  Answer answer_;
  bool raw_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(Console, NoServerAnswers) {
  int port = 0;
  {
    FrameServer s([](const Bytes&) { return Bytes{}; });
    port = s.port();
  }  // closed again: nothing listens there now
  se_device_t dev{};
  EXPECT_EQ(zeb_console_client_open(&dev, TRIX_CONSOLE_ADDR, port), SE_CONSOLE_ERROR_CONNECT_SERVER);
  EXPECT_EQ(dev.handle, nullptr);
  EXPECT_EQ(zeb_console_client_open(&dev, "not an address", port), SE_ERROR_INVALID_ARG);
}

TEST(Console, CommandRoundTripThroughTheChannel) {
  Bytes seen;
  FrameServer s([&](const Bytes& req) {
    seen = req;
    return trix::make_reply({0x10, 0x20}, 0x9000);
  });
  se_device_t dev{};
  ASSERT_EQ(zeb_console_client_open(&dev, TRIX_CONSOLE_ADDR, s.port()), 0);
  se_cmd_t cmd;
  se_cmd_init(&cmd, SE_CLA_CRYPTO, 0x05);
  cmd.host_dly = 0;
  uint8_t data[] = {9, 8, 7};
  cmd.inbuf = data;
  cmd.inbuf_len = sizeof data;
  se_cmd_rsp_t rsp{};
  ASSERT_EQ(transport_normal_cmd_v2(&dev, &cmd, &rsp), 0);
  EXPECT_EQ(zt::hex(seen), "88050000000000000300090807");
  EXPECT_EQ(zt::hex(rsp.buf, rsp.buf_len), "1020");
  EXPECT_EQ(zeb_console_client_close(&dev), 0);
  EXPECT_EQ(dev.handle, nullptr);
  EXPECT_EQ(zeb_console_client_close(&dev), SE_ERROR_CLOSE);
}

TEST(Console, SerialNumber) {
  Bytes stored(16, 0);
  FrameServer s([&](const Bytes& req) {
    if (req[0] != TRIX_PLATFORM_CLA) return trix::make_reply({}, 0x6D00);
    if (req[1] == TRIX_INS_SET_SN && req.size() == TRIX_CMD_HEADER_SIZE + 17) {
      stored.assign(req.begin() + TRIX_CMD_HEADER_SIZE, req.begin() + TRIX_CMD_HEADER_SIZE + 16);
      return trix::make_reply({}, 0x9000);
    }
    if (req[1] == TRIX_INS_GET_SN) return trix::make_reply(stored, 0x9000);
    return trix::make_reply({}, 0x6D00);
  });
  se_device_t dev{};
  ASSERT_EQ(zeb_console_client_open(&dev, TRIX_CONSOLE_ADDR, s.port()), 0);
  uint8_t sn[32] = {};
  std::memset(sn, '5', 16);
  ASSERT_EQ(tem44_platform_set_sn(&dev, sn, 0), 0);
  uint8_t got[16] = {};
  uint32_t len = 16;
  ASSERT_EQ(tem44_platform_get_sn(&dev, got, &len), 0);
  EXPECT_EQ(len, 16u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 16), std::string(16, '5'));
  len = 15;
  EXPECT_EQ(tem44_platform_get_sn(&dev, got, &len), SE_ERROR_BUF_LEN);
  EXPECT_EQ(zeb_console_client_close(&dev), 0);
}

TEST(Console, MalformedFramesAndHangUps) {
  struct Case {
    Bytes frame;  // what the server sends back, raw
    int rv;
  } cases[] = {
      {unhex("00000000"), SE_CONSOLE_ERROR_ILL_IO_SIZE},      // empty frame
      {unhex("01200000") , SE_CONSOLE_ERROR_ILL_IO_SIZE},     // 8193 bytes announced
      {unhex("0400000002"), SE_CONSOLE_ERROR_READ_FAILED},    // cut short, then hang up
      {Bytes{}, SE_CONSOLE_ERROR_READ_FAILED},                // hang up
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(zt::hex(c.frame));
    FrameServer s([&](const Bytes&) { return c.frame; }, true);
    se_device_t dev{};
    ASSERT_EQ(zeb_console_client_open(&dev, TRIX_CONSOLE_ADDR, s.port()), 0);
    se_cmd_t cmd;
    se_cmd_init(&cmd, SE_CLA_DEVICE, 1);
    cmd.host_dly = 0;
    se_cmd_rsp_t rsp{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(transport_normal_cmd_v2(&dev, &cmd, &rsp), c.rv);
    // The stream is out of step: the client refuses to go on with it.
    EXPECT_EQ(transport_normal_cmd_v2(&dev, &cmd, &rsp), SE_CONSOLE_ERROR_WRITE_FAILED);
    (void)testing::internal::GetCapturedStderr();
    EXPECT_EQ(zeb_console_client_close(&dev), 0);
  }
}

}  // namespace
