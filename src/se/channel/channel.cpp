// Sending one command and checking its reply.
#include <cstdio>
#include <cstring>

#include "se/channel.h"
#include "se/secure_channel.h"

#define CH_RED(fn) std::fprintf(stderr, "\033[1;31m[%s,%s,%d]\033[m ", "apdu_channel", fn, __LINE__)
#define CH_GREEN(fn) std::fprintf(stderr, "\033[1;32m[%s,%s,%d]\033[m ", "apdu_channel", fn, __LINE__)

namespace {

// The failure dump of an exchange that ends with `rv`.
void failure_dump(const se_cmd_t* cmd, const se_device_t* dev, int rv) {
  CH_GREEN(__func__);
  __debug_dumpbuf("se_cmd apdu", &cmd->apdu, sizeof cmd->apdu);
  CH_GREEN(__func__);
  // At most 128 bytes, and never past the command's own data.
  const size_t cdata = cmd->inbuf == nullptr ? 0 : (cmd->inbuf_len < 128 ? cmd->inbuf_len : 128);
  __debug_dumpbuf("se_cmd cdata", cmd->inbuf, static_cast<uint32_t>(cdata));
  CH_RED(__func__);
  std::fprintf(stderr, "error = 0x%08x\n", static_cast<unsigned>(rv));
  CH_GREEN(__func__);
  __debug_dumpbuf("dev->buf", dev->buf, dev->buf == nullptr ? 0 : 20);
}

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Outcome of one send: `rv` the result, `dump` whether a failure is dumped.
struct Outcome {
  int rv;
  bool dump;
};

// One send and receive, the reply checked; `secure`: a protected command.
Outcome exchange_once(se_device_t* dev, se_cmd_t* cmd, se_cmd_rsp_t* rsp, bool secure) {
  size_t len = 0;
  if (int rv = apdu_construct_input(cmd, dev->buf, TRIX_IO_BUF_SIZE, &len); rv != 0) return {rv, true};
  if (int rv = transport_tx(dev, dev->buf, len); rv != 0) return {rv, true};
  se_delay_us(cmd->host_dly);
  if (int rv = transport_rx(dev, dev->buf, TRIX_IO_BUF_SIZE); rv != 0) return {rv, true};

  uint8_t* buf = dev->buf;
  size_t got = dev->buf_len;
  if (got < 4) return {SE_ERROR_APDU_RESPONSE_LEN, true};
  // The count is tested before anything reads by it (the secure check too).
  size_t L = get_u16(buf);
  if (L > SE_REPLY_COUNT_MAX) return {SE_ERROR_UNEXPECTED_RESPONSE, false};
  if (L < 2 || L + 2 > got) return {SE_ERROR_APDU_RESPONSE_LEN, true};

  const bool unwrapped = secure && is_secure_channel_rsp(buf[0], buf[1]);
  if (unwrapped) {
    uint32_t handle = 0;
    std::memcpy(&handle, cmd->inbuf, sizeof handle);
    if (uint32_t rv = secure_ch_decrypt(&handle, buf, got); rv != 0) return {static_cast<int>(rv), true};
    L = get_u16(buf);
    got = L + 2;
  }
  // A protected command succeeds only on a checked reply: errors may come in
  // clear, a success never does.
  const bool unchecked = secure && !unwrapped;

  const uint16_t sw = static_cast<uint16_t>((buf[L] << 8) | buf[L + 1]);
  if (sw == SE_SW_DEVICE_CODE) {
    const int code = se_cmd_parse_output_4bytes(rsp, buf, got);
    return {code == 0 && unchecked ? static_cast<int>(SDB_ERR_MAC) : code, true};
  }
  if (sw == SE_SW_SUCCESS) {
    if (unchecked) return {static_cast<int>(SDB_ERR_MAC), true};
    return {se_cmd_parse_output(rsp, buf, got), true};
  }
  if ((sw & 0xFF00) == 0x6600) {
    CH_RED(__func__);
    std::fprintf(stderr, "se chip err = 0x%08x\n", sw);
    return {sw, true};
  }
  CH_RED(__func__);
  std::fprintf(stderr, "other chip err = 0x%08x\n", sw);
  // Only 90 00 is success: a zero status word carries no reply.
  return {sw != 0 ? static_cast<int>(sw) : static_cast<int>(SE_ERROR_PROTOCOL_STATUS), true};
}

}  // namespace

extern "C" {

int transport_normal_cmd_v2(se_device_t* device, se_cmd_t* se_cmd, se_cmd_rsp_t* response) {
  if (device == nullptr || se_cmd == nullptr || response == nullptr) return SE_ERROR_INVALID_ARG;
  if (device->buf == nullptr) return SE_ERROR_NO_SUCH_DEVICE;
  const bool secure = is_cla_secure_channel_cmd(se_cmd->apdu.cla);
  Outcome out{0, true};
  if (secure) {
    if (uint32_t rv = secure_ch_encrypt(se_cmd); rv != 0) out = {static_cast<int>(rv), true};
  }
  if (out.rv == 0) {
    if (int rv = transport_is_locked(device); rv != 0) out = {rv, true};
  }
  for (int sends_left = SE_CHANNEL_SENDS; out.rv == 0 && sends_left > 0;) {
    out = exchange_once(device, se_cmd, response, secure);
    if (out.rv == 0) return 0;
    if (static_cast<uint32_t>(out.rv) != SE_DEVICE_MAC_FAILURE) break;
    --sends_left;
    CH_GREEN(__func__);
    std::fprintf(stderr, "mac fail retry: %d\n", sends_left);
    if (sends_left > 0) out.rv = 0;
  }
  if (out.dump) failure_dump(se_cmd, device, out.rv);
  return out.rv;
}

int se_cmd_parse_output_4bytes(se_cmd_rsp_t* response, uint8_t* buf, size_t count) {
  if (response == nullptr || buf == nullptr || count < 4) return SE_ERROR_APDU_RESPONSE_LEN;
  const size_t L = get_u16(buf);
  // The code is the 4 bytes before the status word: L below 6 cannot hold it.
  if (L < 6 || L + 2 > count) return SE_ERROR_APDU_RESPONSE_LEN;
  response->buf = buf + 2;
  response->buf_len = 4;
  response->err_code = 0;
  const uint32_t code = buf[L - 4] | (uint32_t{buf[L - 3]} << 8) | (uint32_t{buf[L - 2]} << 16) |
                        (uint32_t{buf[L - 1]} << 24);
  return static_cast<int>(code);
}

void __debug_dumpbuf(const char* label, const void* buf, uint32_t size) {
  if (buf == nullptr || size == 0) return;
  const auto* p = static_cast<const uint8_t*>(buf);
  if (label != nullptr) std::fprintf(stderr, "\n\t%s size = %d\n", label, static_cast<int>(size));
  for (uint32_t i = 0; i < size; ++i) {
    if (i % 16 == 0) std::fprintf(stderr, "\t%08x: ", i);
    std::fprintf(stderr, "%02X ", p[i]);
    if (i % 16 == 15) std::fprintf(stderr, "\n");
  }
  std::fprintf(stderr, size % 16 == 0 ? "\n" : "\n\n");
}

}  // extern "C"
