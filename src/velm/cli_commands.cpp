// The command table and the dispatcher of VELM_Tool.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "cli.h"
#include "mt_api.h"
#include "rv_names.h"

namespace velm {
namespace {

constexpr VRK_RV kPinLenRange = 0xA2;  // CKR_PIN_LEN_RANGE
constexpr uint32_t kMinNewPin = 8;
constexpr uint32_t kMaxNewPin = 63;

const VRK_UCHAR* bytes(const char* s) { return reinterpret_cast<const VRK_UCHAR*>(s); }
uint32_t len(const char* s) { return static_cast<uint32_t>(std::strlen(s)); }

void usage() {
  std::puts("USAGE: ");
  std::puts("\tlist hsm:                                                list hsm to get hsm sn and hsm type ");
  std::puts("\tlist token:                                              list token");
  std::puts("\tchange token_nu pin <token_id> <origin_pin> <new_pin>:   change token normal user pin");
  std::puts("\treset:                                                   factory reset by hsm serial number and hsm type");
  std::puts(" ");
  std::puts("\tex: ./VELM_Tool list hsm");
  std::puts("\tNote: Default token_nu_pin is token sn.");
}

// What a command needs besides its arguments: the HSMs listed at start-up.
struct Startup {
  const HsmList& list;
  const VRK_UCHAR* first_sn;
  VRK_UCHAR first_type;
};

using Handler = VRK_RV (*)(char** argv, const Startup& s);

struct Command {
  int argc;                 // including the program name
  const char* words[3];     // matched as prefixes of argv[1..]
  Handler run;
};

VRK_RV run_setsn(char** argv, const Startup& s) {
  // Shorter serial numbers are padded with zero bytes; longer give their first 16.
  VRK_HSM_SN sn[VRK_SN_LEN] = {};
  std::memcpy(sn, argv[2], strnlen(argv[2], VRK_SN_LEN));
  // A listed HSM keeps the type it was listed with; any other is taken for a
  // secure element.
  VRK_UCHAR listed_type = VRK_HSM_TYPE_QUILLSTAR;
  for (uint32_t i = 0; i < s.list.count && i < kHsmListCapacity; ++i) {
    if (std::memcmp(s.list.sns[i], sn, VRK_SN_LEN) == 0) listed_type = s.list.types[i];
  }
  return cli_set_hsm_sn_to_login_config(sn, listed_type);
}

constexpr Command kCommands[] = {
    {3, {"list", "hsm"}, [](char**, const Startup&) { return cli_list_hsm(); }},
    {3, {"setsn"}, run_setsn},
    {6, {"create", "token"},
     [](char** a, const Startup&) {
       return cli_create_token_by_pin(bytes(a[3]), len(a[3]), bytes(a[4]), len(a[4]), bytes(a[5]), len(a[5]));
     }},
    {3, {"list", "token"}, [](char**, const Startup&) { return cli_list_token(); }},
    {5, {"delete", "token"},
     [](char** a, const Startup&) { return cli_delete_token(bytes(a[3]), len(a[3]), bytes(a[4]), len(a[4])); }},
    {5, {"get", "token", "info"},
     [](char** a, const Startup&) { return cli_get_token_info(bytes(a[4]), len(a[4])); }},
    {4, {"get", "hsm", "info"}, [](char**, const Startup&) { return cli_get_hsm_info(); }},
    {7, {"change", "token_su", "pin"},
     [](char** a, const Startup&) {
       return cli_set_token_super_user_pin(bytes(a[4]), len(a[4]), bytes(a[5]), len(a[5]), bytes(a[6]), len(a[6]));
     }},
    {7, {"change", "token_nu", "pin"},
     [](char** a, const Startup&) {
       return cli_set_token_normal_user_pin(bytes(a[4]), len(a[4]), bytes(a[5]), len(a[5]), bytes(a[6]), len(a[6]));
     }},
    {5, {"unlock", "token_nu"},
     [](char** a, const Startup&) {
       return cli_unlock_token_normal_user(bytes(a[3]), len(a[3]), bytes(a[4]), len(a[4]));
     }},
    {2, {"reset"}, [](char**, const Startup& s) { return cli_reset_vrk(s.first_sn, VRK_SN_LEN, s.first_type); }},
};

bool matches(const Command& c, int argc, char** argv) {
  if (c.argc != argc) return false;
  for (size_t i = 0; i < std::size(c.words) && c.words[i] != nullptr; ++i) {
    if (std::strncmp(argv[1 + i], c.words[i], std::strlen(c.words[i])) != 0) return false;
  }
  return true;
}

void report_failure(VRK_RV rv) {
  // A file that could not be read or written is named with the system's
  // reason: the code alone ("operation cancelled") tells the user nothing.
  // So is the cause of a general code when the call sequence knows it.
  char why[512] = {};
  if (VRK_GetFileError(why, sizeof why) != 0) why[0] = '\0';
  const char* reason = why[0] != '\0' ? why : mt_failure_reason();
  if (reason != nullptr) {
    std::fprintf(stderr, "VELM_Tool: failed with err = 0x%08x (%s)\n", rv, reason);
    return;
  }
  const RvName* n = find_rv_name(rv);
  if (n != nullptr) {
    std::fprintf(stderr, "VELM_Tool: failed with err = 0x%08x (%s: %s)\n", rv, n->name, n->meaning);
  } else if (static_cast<int32_t>(rv) < 0) {
    std::fprintf(stderr, "VELM_Tool: failed with err = %d (secure-element access library error)\n",
                 static_cast<int32_t>(rv));
  } else {
    std::fprintf(stderr, "VELM_Tool: failed with err = 0x%08x (device or back-end error)\n", rv);
  }
}

bool new_pin_ok(uint32_t n) { return n >= kMinNewPin && n <= kMaxNewPin; }

}  // namespace

// Any failure exits non-zero: the code's low 8 bits when they are not all
// zero (0x101 exits 1, 0xB3 179), else 1 (0x500, 0x6A00).
int exit_status(VRK_RV rv) {
  if (rv == 0) return 0;
  const int low = static_cast<int>(rv & 0xFF);
  return low != 0 ? low : 1;
}

VRK_UCHAR login_type_for(VRK_UCHAR listed_type) {
  return listed_type == VRK_HSM_TYPE_SOFTWARE ? VRK_HSM_TYPE_SOFTWARE : VRK_HSM_TYPE_QUILLSTAR;
}

VRK_RV cli_set_hsm_sn_to_login_config(const VRK_HSM_SN* sn, VRK_UCHAR listed_type) {
  return mt_set_hsm_sn_to_login_config(sn, login_type_for(listed_type));
}

VRK_RV cli_create_token_by_pin(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_su_pin,
                               uint32_t token_su_pin_len, const VRK_UCHAR* token_nu_pin, uint32_t token_nu_pin_len) {
  VRK_TOKEN_ID id[VRK_ID_LEN] = {};
  uint32_t id_len = sizeof id;
  const VRK_RV rv = mt_create_token_by_pin(hsm_pin, hsm_pin_len, token_su_pin, token_su_pin_len, token_nu_pin,
                                           token_nu_pin_len, id, &id_len);
  if (rv != 0) return rv;
  std::printf("Token created, token id : %.16s\n", reinterpret_cast<const char*>(id));
  return 0;
}

VRK_RV cli_delete_token(const VRK_UCHAR* hsm_pin, uint32_t hsm_pin_len, const VRK_UCHAR* token_id,
                        uint32_t token_id_len) {
  const VRK_RV rv = mt_delete_token(hsm_pin, hsm_pin_len, token_id, token_id_len);
  if (rv != 0) return rv;
  std::puts("Token deleted.");
  return 0;
}

VRK_RV cli_set_token_super_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len, const VRK_UCHAR* origin_pin,
                                    uint32_t origin_pin_len, const VRK_UCHAR* new_pin, uint32_t new_pin_len) {
  if (!new_pin_ok(new_pin_len)) {
    std::puts("Token super user pin MUST be within 8 - 63! super user pin remain unchaged.");
    return kPinLenRange;
  }
  const VRK_RV rv =
      mt_set_token_super_user_pin(token_id, token_id_len, origin_pin, origin_pin_len, new_pin, new_pin_len);
  if (rv != 0) return rv;
  std::puts("Token super user pin changed.");
  return 0;
}

VRK_RV cli_set_token_normal_user_pin(const VRK_UCHAR* token_id, uint32_t token_id_len, const VRK_UCHAR* origin_pin,
                                     uint32_t origin_pin_len, const VRK_UCHAR* new_pin, uint32_t new_pin_len) {
  if (!new_pin_ok(new_pin_len)) {
    std::puts("Token normal user pin MUST be within 8 - 63! user pin remain unchaged.");
    return kPinLenRange;
  }
  const VRK_RV rv =
      mt_set_token_normal_user_pin(token_id, token_id_len, origin_pin, origin_pin_len, new_pin, new_pin_len);
  if (rv != 0) return rv;
  std::puts("Token normal user pin changed.");
  return 0;
}

VRK_RV cli_unlock_token_normal_user(const VRK_UCHAR* token_id, uint32_t token_id_len,
                                    const VRK_UCHAR* token_super_user_pin, uint32_t token_super_user_pin_len) {
  const VRK_RV rv = mt_unlock_token_normal_user(token_id, token_id_len, token_super_user_pin, token_super_user_pin_len);
  if (rv != 0) return rv;
  std::puts("Token normal user unlocked.");
  return 0;
}

VRK_RV cli_reset_vrk(const VRK_UCHAR* hsm_sn, uint32_t hsm_sn_len, VRK_UCHAR listed_type) {
  VRK_RV rv = cli_set_hsm_sn_to_login_config(hsm_sn, listed_type);
  if (rv == 0) rv = mt_reset_vrk(hsm_sn, hsm_sn_len);
  if (rv != 0) return rv;
  std::puts("Reset success!");
  return 0;
}

int velm_main(int argc, char** argv) {
  ZEBVRK_set_log_level(4);
  std::puts("==== VELM_Tool Version: v0.8.10 ==== ");
  if (argc < 2) {
    usage();
    return 0;
  }
  HsmList list;
  VRK_RV rv = mt_list_hsm(list);
  // With no HSM there is nothing to run a command on, and recording an empty
  // serial number would lose the HSM the login configuration names.
  if (rv == 0 && list.count == 0) {
    std::puts("Device not found!");
    rv = kNoHsmFound;
  }
  if (rv == 0) rv = cli_set_hsm_sn_to_login_config(list.sns[0], list.types[0]);
  if (rv != 0) {
    std::fflush(stdout);
    report_failure(rv);
    return exit_status(rv);
  }
  const Startup startup{list, list.sns[0], list.types[0]};
  for (const Command& c : kCommands) {
    if (!matches(c, argc, argv)) continue;
    rv = c.run(argv, startup);
    std::fflush(stdout);
    if (rv != 0) report_failure(rv);
    return exit_status(rv);
  }
  usage();
  return 2;
}

}  // namespace velm
