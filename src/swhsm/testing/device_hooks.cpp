// Test seams of the software device (see swhsm/testing.h).
#include "device/swd_internal.h"
#include "swhsm/testing.h"

namespace swhsm::testing {

bool session_holds_token_keys(int slot) { return swd::session_keys_held(slot); }

void set_device_step_hook(DeviceStepHook hook) { swd::g_step_hook = hook; }

void start_token_file_change_and_never_end() { (void)new swd::TokenFileChange(); }

unsigned long long token_file_checks(int slot) { return swd::session_key_file_checks(slot); }

}  // namespace swhsm::testing
