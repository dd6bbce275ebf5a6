// Version of the core service.
#include <cstring>

#include "zeb/vrk.h"

extern "C" VRK_RV VRK_GetVersion(char* vrk_version) {
  static constexpr char kVersion[VRK_VERSION_LEN] = "QPX-0326";
  if (vrk_version == nullptr) return VRK_ERR_ARGUMENTS;
  std::memcpy(vrk_version, kVersion, sizeof kVersion);
  return VRK_OK;
}

extern "C" void ZEBVRK_set_log_level(int) {}
