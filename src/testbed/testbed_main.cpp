// se_testbed: one simulated secure element served on 127.0.0.1 through the
// console framing (trix/console.h), one client at a time, until SIGTERM or
// SIGINT. The device sessions a client leaves open end with its connection.
//
//   se_testbed --state DIR [--sn SN] [--admin-pin PIN] [--port 5566] [--ready-file F]
//
// Prints "se_testbed: created HSM sn=SN admin-pin=PIN" on a first start, then
// "se_testbed: ready port=P sn=SN" once it accepts connections (and writes the
// port to F, atomically, when asked). A client that sends a malformed frame is
// dropped; the device's state is untouched by it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "oxlu/file.h"
#include "se_sim/simulator.h"
#include "trix/console.h"
#include "trix/trix.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

int usage() {
  std::fprintf(stderr,
               "usage: se_testbed --state DIR [--sn SN] [--admin-pin PIN] [--port 5566] [--ready-file FILE]\n");
  return 2;
}

// Waits until fd is readable; false when a stop was asked for.
bool wait_readable(int fd) {
  while (!g_stop) {
    pollfd p{fd, POLLIN, 0};
    const int n = ::poll(&p, 1, 200);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
  return false;
}

bool read_all(int fd, uint8_t* p, size_t len) {
  while (len > 0) {
    if (!wait_readable(fd)) return false;
    const ssize_t n = ::recv(fd, p, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

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

// Serves one client until it leaves, misbehaves or a stop is asked for.
void serve(int fd, se::sim::Simulator& sim) {
  std::vector<uint8_t> req(TRIX_CONSOLE_FRAME_MAX), rsp(4 + TRIX_IO_BUF_SIZE);
  for (;;) {
    uint8_t hdr[4];
    if (!read_all(fd, hdr, 4)) return;
    const uint32_t n = hdr[0] | (uint32_t{hdr[1]} << 8) | (uint32_t{hdr[2]} << 16) | (uint32_t{hdr[3]} << 24);
    if (n < TRIX_CMD_HEADER_SIZE || n > TRIX_CONSOLE_FRAME_MAX) return;  // malformed: drop
    if (!read_all(fd, req.data(), n)) return;
    const size_t data = req[8] | (size_t{req[9]} << 8);
    if (data != n - TRIX_CMD_HEADER_SIZE) return;  // the header disagrees with the frame: drop
    const size_t len = sim.execute({req.data(), n}, {rsp.data() + 4, TRIX_IO_BUF_SIZE});
    rsp[0] = static_cast<uint8_t>(len);
    rsp[1] = static_cast<uint8_t>(len >> 8);
    rsp[2] = rsp[3] = 0;
    if (!write_all(fd, rsp.data(), 4 + len)) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string state, sn, pin, ready_file;
  long port = TRIX_CONSOLE_PORT;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    const char* v = argv[++i];
    if (a == "--state") state = v;
    else if (a == "--sn") sn = v;
    else if (a == "--admin-pin") pin = v;
    else if (a == "--ready-file") ready_file = v;
    else if (a == "--port") {
      char* end = nullptr;
      port = std::strtol(v, &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return usage();
    } else {
      return usage();
    }
  }
  if (state.empty() || sn.size() > 16) return usage();

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<se::sim::Simulator> sim;
  se::sim::Setup setup;
  if (const uint32_t rc = se::sim::Simulator::open(state, sn, pin, &sim, &setup); rc != 0) {
    std::fprintf(stderr, "se_testbed: cannot open the device in %s (0x%x)\n", state.c_str(), rc);
    return 1;
  }
  if (setup.created) {
    std::printf("se_testbed: created HSM sn=%s admin-pin=%s\n", setup.sn.c_str(), setup.admin_pin.c_str());
  }

  const int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (ls < 0) return 1;
  const int one = 1;
  setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t alen = sizeof addr;
  if (::bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(ls, 4) != 0 ||
      ::getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &alen) != 0) {
    std::fprintf(stderr, "se_testbed: cannot listen on 127.0.0.1:%ld: %s\n", port, std::strerror(errno));
    return 1;
  }
  const int bound = ntohs(addr.sin_port);
  if (!ready_file.empty()) {
    const std::string text = std::to_string(bound) + "\n";
    if (oxlu_write_file_atomic(ready_file.c_str(), text.data(), text.size(), 0644) != OXLU_OK) return 1;
  }
  std::printf("se_testbed: ready port=%d sn=%s\n", bound, sim->sn().c_str());
  std::fflush(stdout);

  while (wait_readable(ls)) {
    const int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    serve(fd, *sim);
    ::close(fd);
    sim->end_connection();
  }
  ::close(ls);
  sim.reset();
  return 0;
}
