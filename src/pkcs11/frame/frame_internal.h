// Frame-only declarations: the start-up, shutdown and session workers that
// the frame's own entry points call. Other parts of the module use
// p11_frame.h.
#pragma once

#include "frame/p11_frame.h"

// Module start-up and shutdown (the caller serialises them).
[[nodiscard]] CK_RV P11_Initialize() noexcept;
[[nodiscard]] CK_RV P11_Finalize() noexcept;
[[nodiscard]] CK_RV P11_GetInfo(CK_INFO* info) noexcept;

// Slot table.
void reset_p11_slot_info(CK_SLOT_INFO* info) noexcept;
void reset_p11_token_info(CK_TOKEN_INFO* info) noexcept;
[[nodiscard]] CK_RV P11_GetSlotList(CK_SLOT_ID* list, CK_ULONG* count) noexcept;
[[nodiscard]] CK_RV P11_TokenInfoInit(VRK_HANDLE hHsm, const VRK_UCHAR* tknId, const VRK_UCHAR* label,
                                      CK_TOKEN_INFO* info) noexcept;
// Fills slot table entry `entry` as the slot `slotID` of the token `tknId`.
void P11_SlotInfoInit(size_t entry, CK_SLOT_ID slotID, const VRK_UCHAR* tknId, const CK_TOKEN_INFO* info) noexcept;

// Session table.
// Closes the core session of every open session and empties the table.
void P11_CloseEverySession() noexcept;
[[nodiscard]] CK_RV P11_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_SESSION_HANDLE* phSession) noexcept;
[[nodiscard]] CK_RV P11_CloseSession(CK_SESSION_HANDLE hSession) noexcept;
[[nodiscard]] CK_RV P11_CloseAllSession(CK_SLOT_ID slotID) noexcept;
// The session's state after a logout: public, read-only or read/write.
[[nodiscard]] CK_RV P11_SetSessionState(CK_SESSION_HANDLE hSession, CK_STATE state) noexcept;

// Blank-padded copy of up to `len` bytes (stopping at a zero byte) into a
// fixed PKCS#11 text field of `width` bytes.
void p11_pad_copy(CK_UTF8CHAR* field, size_t width, const void* src, size_t len) noexcept;
// Bytes before the first zero, at most `width`.
[[nodiscard]] size_t p11_text_len(const void* src, size_t width) noexcept;

// Login workers.
[[nodiscard]] CK_RV P11_LoginSO(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) noexcept;
[[nodiscard]] CK_RV P11_LoginUser(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) noexcept;
[[nodiscard]] CK_RV P11_Logout(CK_SESSION_HANDLE hSession) noexcept;
