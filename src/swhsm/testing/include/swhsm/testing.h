// Test seams of the software HSM, in the test-only library swhsm_testing: the
// product never links them.
#pragma once

namespace swhsm::testing {

// Called between the writes of the store's composite operations with the name
// of the step just done ("object written", "list saved"), so that a test can
// end the process there as a crash would; nullptr removes it.
using StoreStepHook = void (*)(const char* step);
void set_store_step_hook(StoreStepHook hook);

// The same between the writes of the device's token creation and deletion
// ("token file written", "list saved", "count saved", "files removed").
using DeviceStepHook = void (*)(const char* step);
void set_device_step_hook(DeviceStepHook hook);

// Drops the store's whole list cache (as a fresh process would start).
void clear_store_cache();

// Whether a device session slot holds its copy of the token's keys.
bool session_holds_token_keys(int slot);
// How many uses of a device session slot's copy of the token's keys went to
// the token file instead (by any session that held the slot).
unsigned long long token_file_checks(int slot);

// Starts a write of a token file that never ends, as a writer that died in
// the middle leaves it (for a child process that then exits).
void start_token_file_change_and_never_end();

}  // namespace swhsm::testing
