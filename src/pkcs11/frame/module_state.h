// The module-wide state every part of the frame reads: whether the module is
// initialised, and the core HSM handle start-up obtained. Kept apart from
// start-up, slots and sessions so that each of them can read it without
// depending on the others.
#pragma once

#include <zeb/vrk.h>

// True between a successful C_Initialize and C_Finalize; safe from any thread.
[[nodiscard]] bool isInitialised() noexcept;
void P11_SetInitialised(bool on) noexcept;
// The core HSM handle of the initialised module.
[[nodiscard]] VRK_HANDLE P11_GetHsmHandle() noexcept;
void P11_SetHsmHandle(VRK_HANDLE hsm) noexcept;
