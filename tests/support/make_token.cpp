// zeb-make-token ADMIN_PIN PIN [--uninit]: creates a token on the software
// HSM of the working directory through the core service, with PIN as its
// user and SO PIN, and prints its ID. With --uninit the token is turned back
// into one never initialised (status 1, the HSM's serial number as SO PIN),
// as the HSM's own token creation leaves it, so that tests can take the first
// initialisation path of C_InitToken.
//
// A test tool: the module creates no tokens, and the module's tests see the
// token only through the module.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "zeb/vrk.h"

namespace {

int fail(const char* what, unsigned rv) {
  std::fprintf(stderr, "zeb-make-token: %s failed with 0x%x\n", what, rv);
  return 1;
}

uint8_t* bytes(const std::string& s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s.data())); }

// Rewrites the token's configuration as a token never initialised.
bool make_uninitialised(const std::string& id, const std::string& hsm_sn) {
  const std::string path = "SwHsm/" + id + "/TknUser.cfg";
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Status=", 0) == 0) line = "Status=1";
    if (line.rfind("SuperUserPin=", 0) == 0) line = "SuperUserPin=" + hsm_sn;
    if (line.rfind("u32SuperUserPinLen=", 0) == 0) line = "u32SuperUserPinLen=" + std::to_string(hsm_sn.size());
    out << line << '\n';
  }
  in.close();
  std::ofstream o(path, std::ios::trunc);
  o << out.str();
  return static_cast<bool>(o);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (argc == 4 && std::strcmp(argv[3], "--uninit") != 0) || argc > 4) {
    std::fprintf(stderr, "usage: zeb-make-token ADMIN_PIN PIN [--uninit]\n");
    return 2;
  }
  const std::string admin = argv[1];
  const std::string pin = argv[2];

  uint8_t types[VRK_MAX_LISTED_HSMS] = {};
  uint8_t sns[VRK_MAX_LISTED_HSMS][VRK_SN_LEN] = {};
  uint8_t labels[VRK_MAX_LISTED_HSMS][VRK_LABEL_LEN] = {};
  uint32_t count = 0;
  VRK_RV rv = VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count);
  if (rv != VRK_OK) return fail("VRK_ListHSMs", rv);
  if (count == 0) return fail("finding a software HSM", 0);
  if ((rv = VRK_SetHsmSnToLoginConfig(sns[0], types[0])) != VRK_OK) return fail("VRK_SetHsmSnToLoginConfig", rv);
  VRK_HANDLE hsm = 0;
  if ((rv = VRK_Initialize(&hsm)) != VRK_OK) return fail("VRK_Initialize", rv);

  uint8_t id[VRK_ID_LEN + 1] = {};
  VRK_HANDLE session = 0;
  rv = VRK_OpenHsmSession(hsm, &session);
  if (rv == VRK_OK) rv = VRK_LoginHsmAdminByPin(session, bytes(admin), static_cast<uint32_t>(admin.size()));
  if (rv == VRK_OK) rv = VRK_CreateTknByPin(session, bytes(pin), static_cast<uint32_t>(pin.size()), id);
  if (session != 0) (void)VRK_CloseHsmSession(session);
  (void)VRK_Finalize(hsm);
  if (rv != VRK_OK) return fail("creating the token", rv);

  const std::string tknId(reinterpret_cast<const char*>(id));
  if (argc == 4) {
    const std::string hsm_sn(reinterpret_cast<const char*>(sns[0]), strnlen(reinterpret_cast<const char*>(sns[0]), 16));
    if (!make_uninitialised(tknId, hsm_sn)) return fail("resetting the token's configuration", 0);
  }
  std::printf("%s\n", tknId.c_str());
  return 0;
}
