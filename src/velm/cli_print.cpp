// Printers of the HSM and token tables and information blocks.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "mt_api.h"

namespace velm {
namespace {

constexpr char kDashes51[] = "---------------------------------------------------";
constexpr char kDashes52[] = "----------------------------------------------------";
constexpr char kDashes98[] =
    "--------------------------------------------------------------------------------------------------";

template <size_t N>
bool all_zero(const VRK_UCHAR (&field)[N]) {
  for (VRK_UCHAR b : field)
    if (b != 0) return false;
  return true;
}

template <size_t N>
void put_bytes(const VRK_UCHAR (&field)[N]) {
  for (VRK_UCHAR b : field) std::putchar(b);
}

// A fixed field as text: up to its first zero byte, never past its width.
template <size_t N>
int text_width(const VRK_UCHAR (&field)[N]) {
  return static_cast<int>(strnlen(reinterpret_cast<const char*>(field), N));
}
template <size_t N>
const char* text(const VRK_UCHAR (&field)[N]) {
  return reinterpret_cast<const char*>(field);
}

}  // namespace

const char* HsmTypeToString(VRK_UCHAR type) {
  switch (type) {
    case VRK_HSM_TYPE_SOFTWARE: return "SOFTWARE";
    case VRK_HSM_TYPE_QUILLSTAR: return "QUILLSTAR";
    case VRK_HSM_TYPE_TALON: return "TALON";
    case VRK_HSM_TYPE_TESTBED: return "TESTBED";
    default: return "UNKNOWN STRING!";
  }
}

const char* HsmStatusToString(VRK_UCHAR status) {
  switch (status) {
    case VRK_HSM_FACTORY: return "HSM_FACTORY";
    case VRK_HSM_UNINIT: return "HSM_UNINIT";
    case VRK_HSM_INITED: return "HSM_INITED";
    default: return "UNKNOWN STRING!";
  }
}

VRK_RV get_hsm_type_from_str(const char* hsmtype_str, VRK_UCHAR* hsmtype) {
  if (hsmtype_str == nullptr || hsmtype == nullptr) return kNullArgument;
  static constexpr struct {
    const char* name;
    VRK_UCHAR type;
  } kTypes[] = {{"SOFTWARE", VRK_HSM_TYPE_SOFTWARE},
                {"QUILLSTAR", VRK_HSM_TYPE_QUILLSTAR},
                {"TALON", VRK_HSM_TYPE_TALON},
                {"TESTBED", VRK_HSM_TYPE_TESTBED}};
  for (const auto& t : kTypes) {
    if (std::strcmp(hsmtype_str, t.name) == 0) {
      *hsmtype = t.type;
      return 0;
    }
  }
  return 84;
}

VRK_RV cli_list_hsm() {
  HsmList list;
  const VRK_RV rv = mt_list_hsm(list);
  if (rv != 0) return rv;
  if (list.count == 0) {
    std::puts("Device not found!");
    return kNoHsmFound;
  }
  std::puts(kDashes51);
  std::puts("   Item    |    HSM TYPE        |      HSM SN        ");
  for (uint32_t i = 0; i < list.count && i < kHsmListCapacity; ++i) {
    std::printf("    %d      |    %-14s  | ", static_cast<int>(i), HsmTypeToString(list.types[i]));
    if (all_zero(list.sns[i])) {
      std::printf(" SN NOT SET ");
    } else {
      put_bytes(list.sns[i]);
    }
    std::putchar('\n');
  }
  std::puts(kDashes52);
  return 0;
}

VRK_RV cli_list_token() {
  VRK_TKN_USER_LIST tokens{};
  TokenNotes notes;
  const VRK_RV rv = mt_list_token(&tokens, &notes);
  if (rv != 0) return rv;
  std::puts(kDashes98);
  std::puts("   Item    |     Token ID      |          Token Label               |       Token SN        ");
  for (int i = 0; i < static_cast<int>(VRK_MAX_TOKENS); ++i) {
    if (all_zero(tokens.TknId[i])) continue;  // empty slots keep their numbers
    char id[VRK_ID_LEN + 1] = {};
    std::memcpy(id, tokens.TknId[i], VRK_ID_LEN);
    std::printf("    %d      |  %-16s | ", i, id);
    if (all_zero(tokens.TknLabel[i])) {
      std::printf(" %-33s |  ", "   token label not set");
    } else {
      char label[VRK_LABEL_LEN + 1] = {};
      std::memcpy(label, tokens.TknLabel[i], VRK_LABEL_LEN);
      std::printf(" %-33s |  ", label);
    }
    put_bytes(tokens.TknSn[i]);
    std::putchar('\n');
  }
  std::puts(kDashes98);
  // A listed token that cannot be used (its file removed by hand, say) is
  // named with the reason, and what the operator can do about it.
  for (int i = 0; i < static_cast<int>(VRK_MAX_TOKENS); ++i) {
    if (notes.text[i][0] == '\0') continue;
    std::printf("Token %.16s cannot be used: %s (restore its file, or remove the token with"
                " VELM_Tool delete token)\n",
                reinterpret_cast<const char*>(tokens.TknId[i]), notes.text[i]);
  }
  return 0;
}

VRK_RV cli_get_token_info(const VRK_UCHAR* token_id, uint32_t token_id_len) {
  VRK_TOKEN_INFO info{};
  const VRK_RV rv = mt_get_token_info(token_id, token_id_len, &info);
  if (rv != 0) return rv;
  std::puts(kDashes52);
  std::printf("Token ID: %.*s\n", text_width(info.TknId), text(info.TknId));
  if (all_zero(info.TknLabel)) {
    std::printf("Token Label: %-33s\n", "token label not set");
  } else {
    std::printf("Token Label: %.*s\n", text_width(info.TknLabel), text(info.TknLabel));
  }
  char sn[VRK_SN_LEN + 1] = {};
  std::memcpy(sn, info.TknSn, VRK_SN_LEN);
  std::printf("Token SN: %.16s\n", sn);
  std::puts(kDashes52);
  return 0;
}

VRK_RV cli_get_hsm_info() {
  VRK_HSM_INFO info{};
  const VRK_RV rv = mt_get_hsm_info(&info);
  if (rv != 0) return rv;
  std::puts("----------------- HSM INFO -------------------------");
  std::printf("HSM SN: %.*s\n", text_width(info.HsmSn), text(info.HsmSn));
  std::printf("HSM Type: %s\n", HsmTypeToString(info.HsmType));
  std::printf("HSM Status: %s\n", HsmStatusToString(info.HsmStatus));
  std::printf("HSM Token Count: %d\n", static_cast<int>(info.u32TokenCount));
  std::printf("HSM Max Token Count: %d\n", static_cast<int>(info.u32MaxTokenCount));
  std::puts(kDashes52);
  return 0;
}

}  // namespace velm
