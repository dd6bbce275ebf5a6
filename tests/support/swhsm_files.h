// The software HSM's set-up files as tests write them: the list of software
// HSMs and the HSM record with its administrator PIN (scripts/new-swhsm.sh
// makes the same files for people).
#pragma once

#include <cstring>
#include <string>

namespace zt {

// "sw_hsm_list.txt" naming one software HSM (type 1).
inline std::string sw_hsm_list_text(const std::string& sn, const std::string& label = "soft-hsm") {
  return "HSMSn=" + sn + "\nHSMLabel=" + label + "\nHSMType=1\n";
}

// "SwHsm/HsmAdmin.cfg" as an administrator has it after setting a PIN.
struct HsmRecord {
  const char* sn;
  const char* pin;
  int status = 3;  // initialised
  int fails = 0;   // failed administrator logins so far
  int max_fails = 10;
};
inline std::string admin_cfg_text(const HsmRecord& r) {
  return std::string("Pin=") + r.pin + "\nPinLen=" + std::to_string(std::strlen(r.pin)) + "\nSn=" + r.sn +
         "\nLabel=soft-hsm\nLabelLen=8\nFwVer=1.0.0\nFwVerLen=5\nType=1\nStatus=" + std::to_string(r.status) +
         "\nCurrTknCount=0\nMaxTknCount=4\nCurrLoginFail=" + std::to_string(r.fails) +
         "\nMaxLoginFail=" + std::to_string(r.max_fails) + "\nDefault=\nDefaultLen=0\n";
}

}  // namespace zt
