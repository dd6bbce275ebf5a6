// Secure-element wire: round trips of a small command over the console client
// to a local echo server, and secure-channel protection and check of a
// 4 KiB packet.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "se/channel.h"
#include "se/secure_channel.h"
#include "trix/console.h"
#include "trix/transport.h"

namespace {

// Answers every request frame with a 90 00 reply echoing the command's data.
class EchoServer {
 public:
  EchoServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof sa;
    (void)::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    (void)::listen(fd_, 1);
    (void)::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &n);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~EchoServer() {
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
    const int one = 1;
    (void)setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<uint8_t> req(TRIX_CONSOLE_FRAME_MAX);
    for (;;) {
      uint8_t hdr[4];
      if (!read_all(c, hdr, 4)) break;
      const uint32_t n = hdr[0] | (hdr[1] << 8) | (hdr[2] << 16) | (uint32_t{hdr[3]} << 24);
      if (n < TRIX_CMD_HEADER_SIZE || n > req.size() || !read_all(c, req.data(), n)) break;
      const std::vector<uint8_t> data(req.begin() + TRIX_CMD_HEADER_SIZE, req.begin() + n);
      const std::vector<uint8_t> reply = trix::make_reply(data, 0x9000);
      const uint32_t m = static_cast<uint32_t>(reply.size());
      std::vector<uint8_t> frame = {static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8), 0, 0};
      frame.insert(frame.end(), reply.begin(), reply.end());
      if (::send(c, frame.data(), frame.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(frame.size())) break;
    }
    ::close(c);
  }
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

void BM_ConsoleRoundTrip(benchmark::State& state) {
  EchoServer server;
  se_device_t dev{};
  if (zeb_console_client_open(&dev, TRIX_CONSOLE_ADDR, server.port()) != 0) {
    state.SkipWithError("no connection");
    return;
  }
  uint8_t data[16] = {1, 2, 3, 4};
  for (auto _ : state) {
    se_cmd_t cmd;
    se_cmd_init(&cmd, SE_CLA_DEVICE, 0x22);
    cmd.host_dly = 0;  // the delay the middleware asks for would dominate
    cmd.inbuf = data;
    cmd.inbuf_len = sizeof data;
    se_cmd_rsp_t rsp{};
    if (transport_normal_cmd_v2(&dev, &cmd, &rsp) != 0) state.SkipWithError("exchange failed");
    benchmark::DoNotOptimize(rsp.buf);
  }
  state.SetItemsProcessed(state.iterations());
  (void)zeb_console_client_close(&dev);
}
BENCHMARK(BM_ConsoleRoundTrip)->UseRealTime();

// Protecting a command of 4 KiB (4 + 4064 + 16 bytes) and checking a reply of
// 4 KiB; the device's side (making the reply) is not timed.
void BM_SecureChannelProtectAndCheck4K(benchmark::State& state) {
  constexpr uint32_t kHost = 1, kDevice = 2;
  (void)sdb_init();
  uint8_t keys[48];
  for (int i = 0; i < 48; ++i) keys[i] = static_cast<uint8_t>(i);
  for (uint32_t h : {kHost, kDevice}) {
    (void)sdb_fill_sess_handle_and_appid(h, 0);
    (void)sdb_set_enckey(h, 16, keys);
  }
  (void)sdb_set_mackey(kHost, 32, keys + 16);     // commands: keys+16, replies: keys+32
  (void)sdb_set_mackey(kDevice, 16, keys + 32);   // the device MACs replies with keys+32
  session_ctx_t* host = sdb_sess_hdle_to_sess(kHost);
  session_ctx_t* device = sdb_sess_hdle_to_sess(kDevice);
  std::vector<uint8_t> io(TRIX_IO_BUF_SIZE);
  constexpr size_t kPayload = 4063;  // pads to 4064
  for (auto _ : state) {
    se_cmd_t cmd;
    se_cmd_init(&cmd, 0x91, 0x01);
    const uint32_t h = kHost;
    std::memcpy(gl_mw_cdata, &h, 4);
    std::memset(gl_mw_cdata + 4, 0x5A, kPayload);
    cmd.inbuf = gl_mw_cdata;
    cmd.inbuf_len = 4 + kPayload;
    if (secure_ch_encrypt(&cmd) != 0) state.SkipWithError("protect failed");

    state.PauseTiming();
    // The device's reply under the host's counter and chain value.
    std::memcpy(device->counter, host->counter, 16);
    std::memcpy(device->checksum, host->checksum, 16);
    const size_t enc = 4064;
    std::memset(io.data() + 2, 0x11, enc - 16);
    std::memset(io.data() + 2 + enc - 16, 16, 16);
    uint16_t n = 0;
    (void)sdb_enc_payload(kDevice, enc, io.data() + 2, &n, io.data() + 2);
    io[2 + enc] = 0x90;
    io[3 + enc] = 0x00;
    (void)sdb_mac_packet(kDevice, enc + 2, io.data() + 2, 16, io.data() + 4 + enc);
    const size_t L = enc + 18;
    io[0] = static_cast<uint8_t>(L);
    io[1] = static_cast<uint8_t>(L >> 8);
    state.ResumeTiming();

    if (secure_ch_decrypt(&h, io.data(), L + 2) != 0) state.SkipWithError("check failed");
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 2 * 4096);
}
BENCHMARK(BM_SecureChannelProtectAndCheck4K);

}  // namespace
