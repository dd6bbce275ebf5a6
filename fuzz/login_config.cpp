// The login configuration files: "VRK_Filepath.cfg" (the folder of HSM.cfg)
// and "HSM.cfg" (HSM type, serial number, label, stored PINs). The first byte
// picks the file.
#include <cstdio>

#include "fuzz_util.h"
#include "zeb/login_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  fz::enter_work_dir();
  fz::Input in(data, size);
  const bool path_file = in.byte() & 1;
  std::remove("./VRK_Filepath.cfg");
  if (path_file) {
    fz::write_file("./VRK_Filepath.cfg", in.data(), in.size());
    VRK_LOGIN_CONFIG_PATH path{};
    (void)SwHsm_LoadHsmLoginFilePathConfig(&path);
  } else {
    fz::write_file("./HSM.cfg", in.data(), in.size());
  }
  HSM_LOGIN_CONFIG cfg{};
  (void)SwHsm_LoadConfig(&cfg);
  return 0;
}
