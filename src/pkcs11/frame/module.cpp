// Module start-up and shutdown: the first listed HSM becomes the one the core
// service runs on, and each of its tokens becomes a slot.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame/frame_internal.h"
#include "frame/tables.h"

namespace {

constexpr size_t kMaxListedHsms = VRK_MAX_LISTED_HSMS;

// The start-up failure line, with the file and the system's reason when the
// core found one (a missing HSM list, a software HSM folder that is gone, a
// file locked by another process); unless `always`, only when it found one.
// True when it wrote the line.
bool report_start_failure(const char* what, bool always) noexcept {
  char why[512] = {};
  if (VRK_GetFileError(why, sizeof why) != VRK_OK) why[0] = '\0';
  if (!always && why[0] == '\0') return false;
  zebp11::start_failure("C_Initialize", what, why);
  return true;
}

// Start-up after the core service is up: one slot per listed token, slot ID
// i for the i-th. A token whose file cannot be had (missing, unreadable,
// busy) costs only its own slot, and is named on standard error; any other
// failure ends the start-up.
CK_RV fill_slots(VRK_HANDLE hsm) noexcept {
  VRK_TKN_USER_LIST list{};
  if (const VRK_RV rv = VRK_ListTokens(hsm, &list); rv != VRK_OK) {
    report_start_failure("the tokens cannot be listed", false);
    P11_TRY_CORE(rv);
  }
  P11_DUMP("tkn_list", &list, sizeof list);
  P11_LOG_I("got %d token!", list.TknNum);
  const size_t n = std::min<size_t>(list.TknNum, VRK_MAX_TOKENS);
  size_t entry = 0;
  for (size_t i = 0; i < n; ++i) {
    CK_TOKEN_INFO info{};
    if (const CK_RV rv = P11_TokenInfoInit(hsm, list.TknId[i], list.TknLabel[i], &info); rv != CKR_OK) {
      char what[64];
      std::snprintf(what, sizeof what, "token %.16s is not served",
                    reinterpret_cast<const char*>(list.TknId[i]));
      if (report_start_failure(what, false)) continue;
      return rv;
    }
    P11_SlotInfoInit(entry++, i, list.TknId[i], &info);
  }
  return CKR_OK;
}

}  // namespace

CK_RV P11_Initialize() noexcept {
  reset_p11_tables();

  VRK_UCHAR types[kMaxListedHsms] = {};
  VRK_UCHAR sns[kMaxListedHsms][VRK_SN_LEN] = {};
  VRK_UCHAR labels[kMaxListedHsms][VRK_LABEL_LEN] = {};
  VRK_UINT32 count = 0;
  P11_TRY(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count));
  // With no HSM listed there is nothing to run on; writing an empty record
  // into the login configuration would lose the one it names.
  if (count == 0) {
    P11_LOG_E("no HSM listed");
    report_start_failure("no HSM found", true);
    return CKR_FUNCTION_FAILED;
  }
  P11_TRY(VRK_SetHsmSnToLoginConfig(sns[0], types[0]));

  VRK_HANDLE hsm = 0;
  if (const VRK_RV rv = VRK_Initialize(&hsm); rv != VRK_OK) {
    report_start_failure("the HSM cannot be started", false);
    P11_TRY_CORE(rv);
  }
  P11_SetHsmHandle(hsm);
  const CK_RV rv = fill_slots(hsm);
  if (rv != CKR_OK) {
    // Leave nothing half started: a later C_Initialize starts afresh.
    (void)VRK_Finalize(hsm);
    reset_p11_tables();
  }
  return rv;
}

CK_RV P11_Finalize() noexcept {
  // Sessions still open end here, so that their core sessions are free for
  // the next start-up.
  P11_CloseEverySession();
  P11_TRY_CORE(VRK_Finalize(P11_GetHsmHandle()));
  reset_p11_tables();
  return CKR_OK;
}

CK_RV P11_GetInfo(CK_INFO* info) noexcept {
  static constexpr char kManufacturer[] = "Valdoren Technologies";
  info->cryptokiVersion = CK_VERSION{3, 1};
  p11_pad_copy(info->manufacturerID, sizeof info->manufacturerID, kManufacturer, sizeof kManufacturer - 1);
  info->flags = 0;
  char version[VRK_VERSION_LEN + 1] = {};
  P11_TRY_CORE(VRK_GetVersion(version));
  char description[32] = {};
  std::snprintf(description, sizeof description, "vrk version: %s", version);
  p11_pad_copy(info->libraryDescription, sizeof info->libraryDescription, description, sizeof description);
  info->libraryVersion = CK_VERSION{0, 6};
  return CKR_OK;
}
