// Device records and the transport routines: every command goes through the
// transport bound to the record by an open (or attach).
#include <time.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "trix/transport.h"

namespace trix {
namespace {

// What `handle` points at: the transport and the record's I/O buffer.
struct Link {
  std::unique_ptr<Transport> transport;
  uint8_t io[TRIX_IO_BUF_SIZE];
};

Link* link_of(const se_device_t* dev) { return dev == nullptr ? nullptr : static_cast<Link*>(dev->handle); }

int link_tx(se_device* dev, const uint8_t* buf, size_t len) {
  Link* l = link_of(dev);
  return l == nullptr ? SE_ERROR_TX : l->transport->send(buf, len);
}

int link_rx(se_device* dev, uint8_t* buf, size_t cap) {
  Link* l = link_of(dev);
  if (l == nullptr) return SE_ERROR_RX;
  size_t got = 0;
  const int rv = l->transport->receive(buf, cap, &got);
  dev->buf_len = rv == 0 ? got : 0;
  return rv;
}

int link_locked(se_device* dev) {
  Link* l = link_of(dev);
  return l == nullptr ? SE_ERROR_NO_SUCH_DEVICE : l->transport->locked();
}

void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

int attach(se_device_t* dev, std::unique_ptr<Transport> t) {
  if (dev == nullptr || t == nullptr || dev->handle != nullptr) return SE_ERROR_INVALID_ARG;
  Link* l = new (std::nothrow) Link;
  if (l == nullptr) return SE_ERROR_MALLOC;
  l->transport = std::move(t);
  *dev = se_device_t{};
  dev->handle = l;
  dev->tx = link_tx;
  dev->rx = link_rx;
  dev->is_locked = link_locked;
  dev->buf = l->io;
  return 0;
}

int detach(se_device_t* dev) {
  Link* l = link_of(dev);
  if (l == nullptr) return SE_ERROR_CLOSE;
  delete l;
  *dev = se_device_t{};
  return 0;
}

Transport* transport_of(const se_device_t* dev) {
  Link* l = link_of(dev);
  return l == nullptr ? nullptr : l->transport.get();
}

std::vector<uint8_t> make_reply(const std::vector<uint8_t>& data, uint16_t sw) {
  std::vector<uint8_t> r(2 + data.size() + 2);
  put_u16(r.data(), static_cast<uint16_t>(2 + data.size()));
  if (!data.empty()) std::memcpy(r.data() + 2, data.data(), data.size());
  r[2 + data.size()] = static_cast<uint8_t>(sw >> 8);
  r[3 + data.size()] = static_cast<uint8_t>(sw);
  return r;
}

std::vector<uint8_t> make_command(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t lc, uint16_t le,
                                  const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c(TRIX_CMD_HEADER_SIZE + data.size());
  c[0] = cla;
  c[1] = ins;
  c[2] = p1;
  c[3] = p2;
  put_u16(&c[4], lc);
  put_u16(&c[6], le);
  put_u16(&c[8], static_cast<uint16_t>(data.size()));
  if (!data.empty()) std::memcpy(c.data() + TRIX_CMD_HEADER_SIZE, data.data(), data.size());
  return c;
}

}  // namespace trix

extern "C" {

int transport_is_locked(se_device_t* dev) {
  if (dev == nullptr || dev->is_locked == nullptr) return SE_ERROR_NO_SUCH_DEVICE;
  return dev->is_locked(dev);
}

int apdu_construct_input(const se_cmd_t* cmd, uint8_t* buf, size_t cap, size_t* out_len) {
  if (cmd == nullptr || buf == nullptr || out_len == nullptr) return SE_ERROR_INVALID_ARG;
  if (cmd->inbuf_len > 0 && cmd->inbuf == nullptr) return SE_ERROR_INVALID_ARG;
  if (cmd->inbuf_len > 0xFFFF || cap < TRIX_CMD_HEADER_SIZE || cmd->inbuf_len > cap - TRIX_CMD_HEADER_SIZE)
    return SE_ERROR_APDU_LEN;
  const apdu_t& a = cmd->apdu;
  buf[0] = a.cla;
  buf[1] = a.ins;
  buf[2] = a.p1;
  buf[3] = a.p2;
  trix::put_u16(buf + 4, a.lc);
  trix::put_u16(buf + 6, a.le);
  trix::put_u16(buf + 8, static_cast<uint16_t>(cmd->inbuf_len));
  // memmove: a caller may build the data in the I/O buffer itself.
  if (cmd->inbuf_len > 0) std::memmove(buf + TRIX_CMD_HEADER_SIZE, cmd->inbuf, cmd->inbuf_len);
  *out_len = TRIX_CMD_HEADER_SIZE + cmd->inbuf_len;
  return 0;
}

int transport_tx(se_device_t* dev, const uint8_t* buf, size_t len) {
  if (dev == nullptr || buf == nullptr || len == 0) return SE_ERROR_INVALID_ARG;
  if (dev->tx == nullptr) return SE_ERROR_TX;
  return dev->tx(dev, buf, len);
}

void se_delay_us(uint32_t us) {
  timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

int transport_rx(se_device_t* dev, uint8_t* buf, size_t cap) {
  if (dev == nullptr || buf == nullptr || cap == 0) return SE_ERROR_INVALID_ARG;
  if (dev->rx == nullptr) return SE_ERROR_RX;
  return dev->rx(dev, buf, cap);
}

int se_cmd_parse_output(se_cmd_rsp_t* rsp, uint8_t* buf, size_t count) {
  if (rsp == nullptr || buf == nullptr) return SE_ERROR_INVALID_ARG;
  if (count < 4) return SE_ERROR_APDU_RESPONSE_LEN;
  const size_t L = buf[0] | (size_t{buf[1]} << 8);
  if (L < 2 || L + 2 > count) return SE_ERROR_APDU_RESPONSE_LEN;
  rsp->buf = buf + 2;
  rsp->buf_len = L - 2;
  rsp->response_len = L - 2;
  rsp->err_code = static_cast<uint16_t>((buf[L] << 8) | buf[L + 1]);
  return 0;
}

}  // extern "C"
