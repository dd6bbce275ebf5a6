// Fuzzes the check of protected replies. The first input byte chooses
// whether the reply gets a valid MAC (made with the device's key over the
// fuzzed ciphertext and status word), so decryption and unpadding are
// reached too; the rest is the reply as received.
#include <cstring>
#include <vector>

#include "se/secure_channel.h"
#include "trix/trix.h"

namespace {

constexpr uint32_t kHost = 0x01020304, kDevice = 0x05060708;

void set_up_sessions() {
  (void)sdb_init();
  uint8_t keys[48];
  for (int i = 0; i < 48; ++i) keys[i] = static_cast<uint8_t>(0xA0 ^ i);
  for (uint32_t h : {kHost, kDevice}) {
    (void)sdb_fill_sess_handle_and_appid(h, 0);
    (void)sdb_set_enckey(h, 16, keys);
  }
  (void)sdb_set_mackey(kHost, 32, keys + 16);
  (void)sdb_set_mackey(kDevice, 16, keys + 32);  // the device's MAC key is the host's reply key
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > TRIX_IO_BUF_SIZE) return 0;
  set_up_sessions();
  const bool sign = (data[0] & 1) != 0;
  std::vector<uint8_t> buf(TRIX_IO_BUF_SIZE, 0);
  const size_t count = size - 1;
  std::memcpy(buf.data(), data + 1, count);
  if (sign && count >= 4) {
    const size_t L = buf[0] | (buf[1] << 8);
    if (L >= 19 && L + 2 <= count) (void)sdb_mac_packet(kDevice, static_cast<uint16_t>(L - 16), buf.data() + 2, 16, buf.data() + L - 14);
  }
  const uint32_t h = (data[0] & 2) != 0 ? kDevice + 1 : kHost;  // sometimes no such session
  (void)secure_ch_decrypt(&h, buf.data(), count);
  return 0;
}
