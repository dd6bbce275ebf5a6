// Fuzzes the reply side of the channel: any bytes as a device's reply to a
// command, then the reply's data read as general and store field lists.
#include <cstdio>
#include <cstring>
#include <vector>

#include "se/channel.h"
#include "se/secure_channel.h"
#include "trix/transport.h"

namespace {

int silence_output() {
  // The channel prints a dump of every failed exchange.
  (void)std::freopen("/dev/null", "w", stdout);
  return 0;
}

void read_lists(const uint8_t* data, size_t size) {
  const uint16_t len = static_cast<uint16_t>(size > 0xFFFF ? 0xFFFF : size);
  uint8_t u8 = 0;
  uint32_t u32 = 0;
  uint8_t arr[64];
  uint8_t nonce[16];
  uint8_t cvc[141];
  uint8_t info[76];
  ZEB_TLV general[] = {se_field(TAG_UINT8_T, &u8), ZEB_TLV{TAG_UINT8_T_ARR, sizeof arr, arr},
                       se_field(TAG_SC2_NONCE_T, &nonce), se_field(TAG_SC2_CVC_T, &cvc),
                       se_field(TAG_ZEB_DEVICE_HSM_INFO, &info), se_field(TAG_UINT32_T, &u32)};
  (void)tlv_deserialize_and_copy_to_arg(6, len, data, general);
  ZEB_TLV store[] = {se_field(TAG_STO_UINT32, &u32), ZEB_TLV{TAG_ZEB_STORE_UINT8_T_ARR, sizeof arr, arr},
                     se_field(TAG_ZEB_STORE_UINT8_T, &u8)};
  (void)tlv_sto_deserialize_and_copy_to_arg(3, len, data, store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int once = silence_output();
  (void)once;
  if (size > TRIX_IO_BUF_SIZE) return 0;
  read_lists(data, size);

  se_device_t dev{};
  trix::ScriptedTransport* script = trix::attach_scripted(&dev);
  if (script == nullptr) return 0;
  // The same reply to each of up to three sends (a device-code reply may ask
  // for a resend).
  for (int i = 0; i < 3; ++i) script->expect({}, std::vector<uint8_t>(data, data + size));
  se_cmd_t cmd;
  se_cmd_init(&cmd, SE_CLA_DEVICE, 0x22);
  cmd.host_dly = 0;
  uint8_t req[4] = {1, 2, 3, 4};
  cmd.inbuf = req;
  cmd.inbuf_len = sizeof req;
  se_cmd_rsp_t rsp{};
  if (transport_normal_cmd_v2(&dev, &cmd, &rsp) == 0 && rsp.buf != nullptr) read_lists(rsp.buf, rsp.buf_len);
  (void)trix::detach(&dev);
  return 0;
}
