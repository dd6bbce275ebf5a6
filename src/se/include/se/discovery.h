// HSM discovery: the attached HID secure elements, then the test bed, each
// listed with its type, 16-byte serial number and 32-byte label.
#pragma once

#include <cstdint>

#include "trix/trix.h"

// Result of the test-bed probe when the list is full.
inline constexpr uint32_t SE_ERR_HSM_LIST_FULL = 0x503;
// Times a device's close is tried before the walk moves on without it.
inline constexpr int SE_DISCOVERY_CLOSE_TRIES = 3;

// The access-library routines discovery goes through; tests put their own
// devices behind them.
struct SeDiscoveryOps {
  io_info_list* (*list_new)(void);
  int (*list_init)(io_info_list*);
  int (*list_is_end)(io_info_list*);
  void (*list_next)(io_info_list*);
  void (*list_free)(io_info_list*);
  int (*hid_open)(se_device_t*, const char*);
  int (*hid_close)(se_device_t*);
  int (*console_open)(se_device_t*, const char*, int);
  int (*console_close)(se_device_t*);
};

// Replaces the routines (null: the access library's again).
void se_discovery_set_ops(const SeDiscoveryOps* ops);

extern "C" {
// The test bed is the device in use by this process (it serves one client
// at a time, so discovery asks it through the open record).
int se_current_device_is_testbed(void);
}
