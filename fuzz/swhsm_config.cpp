// The software HSM's configuration files, each read by its own reader; the
// first byte picks the file. All are lines of "Key=value".
#include <sys/stat.h>

#include <cstring>

#include "fuzz_util.h"
#include "swhsm/sto.h"
#include "swhsm/swd.h"

namespace {

void write_and_read(int which, const uint8_t* text, size_t len) {
  switch (which) {
    case 0: {
      fz::write_file("./device_filepath.cfg", text, len);
      uint8_t path[SWD_PATH_LEN] = {};
      (void)SWD_LoadHsmAdminFilePathConfig(path);
      break;
    }
    case 1: {
      fz::write_file("./sw_hsm_list.txt", text, len);
      SW_HSM_LIST list{};
      uint8_t count = 0;
      (void)_swdev_LoadHsmSNList(&list, &count);
      break;
    }
    case 2: {
      fz::write_file("./SwHsm/HsmAdmin.cfg", text, len);
      HSM_ADMIN_CFG cfg{};
      (void)GetHsmAdminCFG(&cfg);
      break;
    }
    case 3: {
      fz::write_file("./SwHsm/TknUser.list", text, len);
      ZEB_DEVICE_TKN_USER_LIST list{};
      (void)_swdev_GetTokenUsrList(&list);
      break;
    }
    case 4: {
      fz::write_file("./SwHsm/Tkn01/TknUser.cfg", text, len);
      TKN_USER_CFG cfg{};
      (void)_swdev_GetTokenUserCFG("Tkn01", &cfg);
      break;
    }
    default: {
      fz::write_file("./sto_filepath.cfg", text, len);
      STO_TKN_OBJECT_CONFIG_PATH path{};
      (void)Sto_Initialize(&path);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  fz::enter_work_dir();
  static const bool made = ::mkdir("./SwHsm", 0700) == 0 && ::mkdir("./SwHsm/Tkn01", 0700) == 0;
  if (!made) fz::fail("no SwHsm folder");
  fz::Input in(data, size);
  write_and_read(in.byte() % 6, in.data(), in.size());
  return 0;
}
