// A logged-in session of a fresh token, with the means to look at its copy of
// the token's keys and to change the token file from another process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "swhsm/device/fixture.h"
#include "swhsm/swd_blob.h"
#include "zeb/swhsm_services.h"

namespace swt {

using Bytes = std::vector<uint8_t>;

class KeyCache : public Device {
 protected:
  void SetUp() override {
    Device::SetUp();
    id_ = create_token(&sn_);
    s_ = open_token(id_);
    ASSERT_EQ(SWD_LoginTokenByPin(s_, u8(sn_.c_str()), 16), 0u);
    slot_ = _swdev_GetTokenSessionIndex(s_);
  }
  Bytes mac_key() {
    Bytes k(32);
    EXPECT_EQ(GetTknMacKey(s_, k.data()), 0u);
    return k;
  }
  Bytes file_mac_key() {
    const TKN_USER_CFG c = token_cfg(id_);
    return Bytes(c.MacK, c.MacK + 32);
  }
  // The token blob as the session software key wraps it.
  Bytes to_sw(const Bytes& tkn) {
    Bytes out(tkn.size());
    uint32_t n = 0;
    EXPECT_EQ(SWD_SetTknKey2Sw(s_, const_cast<uint8_t*>(tkn.data()), static_cast<uint32_t>(tkn.size()), out.data(),
                               &n),
              0u);
    return out;
  }
  // Rewrites the token file in a child process, as another process would.
  void in_child(const std::function<void(TKN_USER_CFG&)>& edit) {
    const pid_t pid = fork();
    if (pid == 0) {
      TKN_USER_CFG c{};
      if (_swdev_GetTokenUserCFG(id_.c_str(), &c) != 0) _exit(1);
      edit(c);
      _exit(_swdev_SetTokenUserCFG(id_.c_str(), &c) == 0 ? 0 : 1);
    }
    int st = -1;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  std::string id_, sn_;
  ZEB_DEVICE_HANDLE s_ = 0;
  int slot_ = -1;
};

// Other keys of the same length and the same byte set (a key never holds
// 0x00, 0x0A or 0x0D, which the file cannot carry): the bytes reversed.
inline void reverse_keys(TKN_USER_CFG& c) {
  std::reverse(std::begin(c.MacK), std::end(c.MacK));
  std::reverse(std::begin(c.MK), std::end(c.MK));
}

}  // namespace swt
