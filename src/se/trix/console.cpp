// Test-bed console client: raw commands and replies in length-prefixed frames
// over TCP (framing in trix/console.h).
#include "trix/console.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "trix/transport.h"

namespace trix {
namespace {

// Writes all of `len` bytes; false on any failure.
bool write_all(int fd, const uint8_t* p, size_t len) {
  while (len > 0) {
    const ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Reads exactly `len` bytes; false on end of stream, time-out or error.
bool read_all(int fd, uint8_t* p, size_t len) {
  while (len > 0) {
    const ssize_t n = ::recv(fd, p, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

class ConsoleTransport final : public Transport {
 public:
  explicit ConsoleTransport(int fd) : fd_(fd) {}
  ~ConsoleTransport() override { ::close(fd_); }
  ConsoleTransport(const ConsoleTransport&) = delete;
  ConsoleTransport& operator=(const ConsoleTransport&) = delete;

  int send(const uint8_t* data, size_t len) override {
    if (broken_) return SE_CONSOLE_ERROR_WRITE_FAILED;
    if (len == 0 || len > TRIX_CONSOLE_FRAME_MAX) return SE_CONSOLE_ERROR_ILL_IO_SIZE;
    uint8_t frame[4 + TRIX_CONSOLE_FRAME_MAX];
    const uint32_t n = static_cast<uint32_t>(len);
    frame[0] = static_cast<uint8_t>(n);
    frame[1] = static_cast<uint8_t>(n >> 8);
    frame[2] = static_cast<uint8_t>(n >> 16);
    frame[3] = static_cast<uint8_t>(n >> 24);
    std::memcpy(frame + 4, data, len);
    if (write_all(fd_, frame, 4 + len)) return 0;
    broken_ = true;
    return SE_CONSOLE_ERROR_WRITE_FAILED;
  }

  int receive(uint8_t* buf, size_t cap, size_t* len) override {
    const int rv = receive_frame(buf, cap, len);
    // Out of step with the server: nothing more can be read on this stream.
    if (rv != 0) broken_ = true;
    return rv;
  }

 private:
  int receive_frame(uint8_t* buf, size_t cap, size_t* len) {
    if (broken_) return SE_CONSOLE_ERROR_READ_FAILED;
    uint8_t hdr[4];
    if (!read_all(fd_, hdr, sizeof hdr)) return SE_CONSOLE_ERROR_READ_FAILED;
    const uint32_t n = hdr[0] | (uint32_t{hdr[1]} << 8) | (uint32_t{hdr[2]} << 16) | (uint32_t{hdr[3]} << 24);
    if (n == 0 || n > TRIX_CONSOLE_FRAME_MAX || n > cap) return SE_CONSOLE_ERROR_ILL_IO_SIZE;
    if (!read_all(fd_, buf, n)) return SE_CONSOLE_ERROR_READ_FAILED;
    *len = n;
    return 0;
  }

  int fd_;
  bool broken_ = false;
};

}  // namespace
}  // namespace trix

extern "C" {

int zeb_console_client_open(se_device_t* dev, const char* addr, int port) {
  if (dev == nullptr || addr == nullptr || port <= 0 || port > 0xFFFF) return SE_ERROR_INVALID_ARG;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, addr, &sa.sin_addr) != 1) return SE_ERROR_INVALID_ARG;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return SE_CONSOLE_ERROR_SOCKET_OPEN;
  int rv;
  do {
    rv = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (rv != 0 && errno == EINTR);
  if (rv != 0) {
    ::close(fd);
    return SE_CONSOLE_ERROR_CONNECT_SERVER;
  }
  const int one = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const timeval tv{TRIX_CONSOLE_TIMEOUT_S, 0};
  (void)setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  (void)setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  auto t = std::unique_ptr<trix::Transport>(new (std::nothrow) trix::ConsoleTransport(fd));
  if (t == nullptr) {
    ::close(fd);
    return SE_ERROR_MALLOC;
  }
  *dev = se_device_t{};
  return trix::attach(dev, std::move(t));
}

int zeb_console_client_close(se_device_t* dev) { return trix::detach(dev) == 0 ? 0 : SE_ERROR_CLOSE; }

}  // extern "C"
