// The core's device open and close, over the channel's.
#include <cstring>

#include "se/channel.h"

extern "C" {

uint32_t open_test_device(int argc, char** /*argv*/, SE_DEVICE* out) {
  if (out == nullptr) return static_cast<uint32_t>(SE_ERROR_INVALID_ARG);
  se_device_t dev{};
  const int rv = se_channel_open(argc, &dev);
  std::memcpy(out, &dev, sizeof dev);
  return static_cast<uint32_t>(rv);
}

uint32_t close_test_device(SE_DEVICE* rec) {
  if (rec == nullptr) return 0;
  se_device_t dev;
  std::memcpy(&dev, rec, sizeof dev);
  (void)se_channel_close(&dev);
  std::memcpy(rec, &dev, sizeof dev);
  return 0;
}

}  // extern "C"
