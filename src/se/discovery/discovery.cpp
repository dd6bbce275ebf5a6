// HSM discovery. Each device is opened into the channel's current record,
// asked for its HSM information and closed again; the record in use before
// (an HSM this process already opened) is put back afterwards.
#include "se/discovery.h"

#include <cstring>
#include <mutex>

#include "mw/mw_call.h"
#include "se/channel.h"
#include "se/middleware.h"
#include "trix/console.h"

namespace {

constexpr SeDiscoveryOps kLibrary = {
    tem44hid_list_new, tem44hid_list_init, tem44hid_list_is_end,    tem44hid_list_next,       tem44hid_list_free,
    tem44hid_open,     tem44hid_close,     zeb_console_client_open, zeb_console_client_close,
};
const SeDiscoveryOps* g_ops = &kLibrary;

constexpr uint32_t kSn = 16;
constexpr uint32_t kLabel = 32;

void put_entry(uint8_t* types, uint8_t* sns, uint8_t* labels, uint32_t i, uint8_t type,
               const ZEB_DEVICE_HSM_INFO& info) {
  types[i] = type;
  std::memcpy(sns + size_t{i} * kSn, info.HsmSn, kSn);
  std::memcpy(labels + size_t{i} * kLabel, info.HsmLabel, kLabel);
}

// Borrows gl_device for the walk and gives back what it held.
class BorrowedDevice {
 public:
  BorrowedDevice() : saved_(gl_device) { gl_device = se_device_t{}; }
  ~BorrowedDevice() { gl_device = saved_; }
  BorrowedDevice(const BorrowedDevice&) = delete;
  BorrowedDevice& operator=(const BorrowedDevice&) = delete;

 private:
  se_device_t saved_;
};

// Closes the current HID device, a bounded number of times: a device whose
// close keeps failing is left behind rather than holding the walk.
void close_hid() {
  for (int i = 0; i < SE_DISCOVERY_CLOSE_TRIES; ++i) {
    if (g_ops->hid_close(&gl_device) == 0) break;
  }
  gl_device = se_device_t{};
}

}  // namespace

void se_discovery_set_ops(const SeDiscoveryOps* ops) { g_ops = ops == nullptr ? &kLibrary : ops; }

extern "C" {

// A device that does not open or does not answer is skipped; the others are
// listed.
uint32_t Tem44hid_Hsm_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                               uint32_t* pulCount) {
  if (pHsmType == nullptr || pHsmSnList == nullptr || pHsmLabelList == nullptr || pulCount == nullptr) {
    return se::mw::kArguments;
  }
  io_info_list* list = g_ops->list_new();
  if (list == nullptr) return static_cast<uint32_t>(SE_ERROR_MALLOC);
  if (int rv = g_ops->list_init(list); rv != 0) {
    g_ops->list_free(list);
    return static_cast<uint32_t>(rv);
  }
  std::lock_guard lock(se::mw::channel_lock());
  BorrowedDevice borrow;
  uint32_t count = 0;
  for (; count < maxCount && g_ops->list_is_end(list) != 1; g_ops->list_next(list)) {
    if (g_ops->hid_open(&gl_device, list->curr->name) != 0) continue;
    ZEB_DEVICE_HSM_INFO info{};
    const uint32_t rv = FWD_GetHsmInfo_mw(se::cmd::SE_HSM_HANDLE, &info);
    close_hid();
    if (rv != 0) continue;
    put_entry(pHsmType, pHsmSnList, pHsmLabelList, count++, info.HsmType, info);
  }
  *pulCount = count;
  g_ops->list_free(list);
  return 0;
}

uint32_t Testbed_Hsm_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                              uint32_t* pulCount) {
  if (pHsmType == nullptr || pHsmSnList == nullptr || pHsmLabelList == nullptr || pulCount == nullptr) {
    return se::mw::kArguments;
  }
  const uint32_t index = *pulCount;
  std::lock_guard lock(se::mw::channel_lock());
  ZEB_DEVICE_HSM_INFO info{};
  uint32_t rv = 0;
  if (se_current_device_is_testbed() != 0) {
    // Already open here: a second connection would wait for this one.
    rv = FWD_GetHsmInfo_mw(se::cmd::SE_HSM_HANDLE, &info);
  } else {
    BorrowedDevice borrow;
    if (g_ops->console_open(&gl_device, TRIX_CONSOLE_ADDR, TRIX_CONSOLE_PORT) != 0) return 0;
    rv = FWD_GetHsmInfo_mw(se::cmd::SE_HSM_HANDLE, &info);
    (void)g_ops->console_close(&gl_device);
  }
  if (rv != 0) return rv;
  if (index >= maxCount) return SE_ERR_HSM_LIST_FULL;
  put_entry(pHsmType, pHsmSnList, pHsmLabelList, index, ZEB_DEVICE_HSM_TYPE_TESTBED, info);
  *pulCount = index + 1;
  return index + 1 == maxCount ? SE_ERR_HSM_LIST_FULL : 0;
}

uint32_t FWD_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                      uint32_t* pulCount) {
  if (pulCount == nullptr) return 0;
  *pulCount = 0;
  (void)Tem44hid_Hsm_ListHSMs(pHsmType, pHsmSnList, pHsmLabelList, maxCount, pulCount);
  (void)Testbed_Hsm_ListHSMs(pHsmType, pHsmSnList, pHsmLabelList, maxCount, pulCount);
  return 0;
}

int FWD_Testbed_set_sn(void) {
  uint8_t sn[32] = {};
  std::memset(sn, '5', kSn);
  std::lock_guard lock(se::mw::channel_lock());
  return tem44_platform_set_sn(&gl_device, sn, 0);
}

int FWD_Testbed_get_sn(uint8_t* hsmsn) {
  if (hsmsn == nullptr) return SE_ERROR_INVALID_ARG;
  uint32_t len = kSn;
  std::lock_guard lock(se::mw::channel_lock());
  return tem44_platform_get_sn(&gl_device, hsmsn, &len);
}

}  // extern "C"
