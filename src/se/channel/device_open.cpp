// The core's device open and close, over the channel's. What discovery lists
// can be opened: the HID devices and the device by path first, then the test
// bed's console.
#include <cstring>

#include "se/channel.h"
#include "se/discovery.h"
#include "trix/console.h"
#include "trix/transport.h"

namespace {

// The opened device is the test bed's console (closed like any record).
bool g_testbed_open = false;

}  // namespace

extern "C" {

uint32_t open_test_device(int argc, char** /*argv*/, SE_DEVICE* out) {
  if (out == nullptr) return static_cast<uint32_t>(SE_ERROR_INVALID_ARG);
  se_device_t dev{};
  int rv = se_channel_open(argc, &dev);
  g_testbed_open = false;
  if (rv != 0) {
    se_device_t console{};
    if (zeb_console_client_open(&console, TRIX_CONSOLE_ADDR, TRIX_CONSOLE_PORT) == 0) {
      dev = console;
      current_device = TALON;  // closed by detaching its transport, as the by-path device
      g_testbed_open = true;
      rv = 0;
    }
  }
  std::memcpy(out, &dev, sizeof dev);
  return static_cast<uint32_t>(rv);
}

uint32_t close_test_device(SE_DEVICE* rec) {
  if (rec == nullptr) return 0;
  se_device_t dev;
  std::memcpy(&dev, rec, sizeof dev);
  (void)se_channel_close(&dev);
  std::memcpy(rec, &dev, sizeof dev);
  g_testbed_open = false;
  return 0;
}

int se_current_device_is_testbed(void) {
  return g_testbed_open && trix::transport_of(&gl_device) != nullptr ? 1 : 0;
}

}  // extern "C"
