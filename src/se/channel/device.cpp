// The opened device and the device records of the middleware.
#include <cstring>
#include <initializer_list>

#include "se/channel.h"

se_device_t gl_device{};
int current_device = TALON;
se_device_t gl_mw_device[4]{};
int device_dev_has_been_set = 0;
se_device_t gl_sto_mw_device{};
int sto_dev_has_been_set = 0;

namespace {

// The core holds records as SE_DEVICE bytes, with no alignment of their own.
se_device_t from_core(const SE_DEVICE* d) {
  se_device_t r{};
  std::memcpy(&r, d, sizeof r);
  return r;
}
static_assert(sizeof(SE_DEVICE) == sizeof(se_device_t));

// Copies of a closed record must not keep its released transport.
void forget_copies(const void* handle) {
  if (handle == nullptr) return;
  for (se_device_t* r : {&gl_device, &gl_mw_device[0], &gl_mw_device[1], &gl_mw_device[2], &gl_mw_device[3],
                         &gl_sto_mw_device}) {
    if (r->handle == handle) *r = se_device_t{};
  }
}

}  // namespace

extern "C" {

int se_channel_open(int argc, se_device_t* out) {
  if (out == nullptr) return SE_ERROR_INVALID_ARG;
  char path[128] = {};
  if (argc == 1) std::strcpy(path, "/dev/hidraw0");
  se_device_t dev{};
  io_info_list* list = tem44hid_list_new();
  if (list != nullptr && tem44hid_list_init(list) == 0) {
    for (; tem44hid_list_is_end(list) != 1; tem44hid_list_next(list)) {
      if (tem44hid_open(&dev, list->curr->name) == 0) {
        current_device = LORIND4;
        // The opened record does not refer to the list.
        tem44hid_list_free(list);
        *out = dev;
        return 0;
      }
    }
  }
  tem44hid_list_free(list);
  const int rv = talon_open(&dev, path);
  if (rv == 0) current_device = TALON;
  *out = dev;
  return rv;
}

int se_channel_close(se_device_t* rec) {
  if (rec == nullptr) return 0;
  se_device_t dev = *rec;
  const void* handle = dev.handle;
  switch (current_device) {
    case FERROLUX: (void)ferrolux_close(&dev); break;
    case LORIND4: (void)tem44hid_close(&dev); break;
    default: (void)talon_close(&dev); break;
  }
  forget_copies(handle);
  *rec = se_device_t{};
  return 0;
}

// The device middleware's record follows the current device, so that the
// core's finalisation (which closes FWD_get_se_device) closes what it opened.
uint32_t set_current_device(SE_DEVICE* device) {
  gl_device = device == nullptr ? se_device_t{} : from_core(device);
  gl_mw_device[0] = gl_device;
  device_dev_has_been_set = device == nullptr ? 0 : 1;
  return 0;
}

SE_DEVICE* FWD_get_se_device(void) { return reinterpret_cast<SE_DEVICE*>(&gl_mw_device[0]); }

int FWD_set_se_device(const SE_DEVICE* dev) {
  if (dev == nullptr) return 0;
  gl_mw_device[0] = from_core(dev);
  device_dev_has_been_set = 1;
  return 0;
}

SE_DEVICE* FWSto_get_se_device(void) { return reinterpret_cast<SE_DEVICE*>(&gl_sto_mw_device); }

uint32_t FWSto_set_se_device(SE_DEVICE* dev) {
  if (dev == nullptr) return 0;
  gl_sto_mw_device = from_core(dev);
  sto_dev_has_been_set = 1;
  return 0;
}

}  // extern "C"
