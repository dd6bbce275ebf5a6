// The slot and session tables and their reset values.
#include "frame/tables.h"

#include <cstring>

#include "frame/frame_internal.h"

P11_SLOT_TABLE p11_slot_table;
P11_SESSION_TABLE p11_sess_table;

void reset_p11_slot_info(CK_SLOT_INFO* info) noexcept {
  static constexpr char kDummy[] = "dummy slot for token creation";
  p11_pad_copy(info->slotDescription, sizeof info->slotDescription, kDummy, sizeof kDummy - 1);
  p11_pad_copy(info->manufacturerID, sizeof info->manufacturerID, "N/A", 3);
  info->flags = 0;
  info->hardwareVersion = CK_VERSION{0, 0};
  info->firmwareVersion = CK_VERSION{0, 0};
}

CK_RV P11_ResetSessInfo(CK_SESSION_INFO* info) noexcept {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  info->slotID = 0xFFFFFFFFUL;
  info->state = 0;
  info->flags = 0;
  info->ulDeviceError = 0;
  return CKR_OK;
}

void reset_p11_slot_entry(ZEBP11_SLOT_INFO& s) noexcept {
  s.slotID = 0xFFFFFFFFUL;
  std::memset(s.TknId, 0, sizeof s.TknId);
  reset_p11_slot_info(&s.ck_slot_info);
}

void reset_p11_session_entry(ZEBP11_SESSION_INFO& e) noexcept {
  e.hSess = 0;
  (void)P11_ResetSessInfo(&e.SessInfo);
  e.hVRK = 0;
  std::memset(e.TknId, 0, sizeof e.TknId);
  e.Mech = P11_MECH_NONE;
  e.FindObj = ZEBP11_FINDOBJ_INFO{};
}

void reset_p11_tables() noexcept {
  {
    std::lock_guard lock(p11_slot_table.mutex);
    for (auto& s : p11_slot_table.entries) reset_p11_slot_entry(s);
  }
  std::lock_guard lock(p11_sess_table.mutex);
  for (auto& e : p11_sess_table.entries) reset_p11_session_entry(e);
}
