// The command channel: the current device, sending one command and checking
// its reply, and the access library's error names.
//
// A middleware operation (see se_mw_command below for the whole pattern):
//   se_cmd_t cmd;  se_cmd_init(&cmd, SE_CLA_DEVICE, ins);
//   ... serialize the request into gl_mw_cdata, set inbuf / inbuf_len ...
//   se_cmd_rsp_t rsp{};
//   rv = transport_normal_cmd_v2(&gl_device, &cmd, &rsp);
//   ... tlv_deserialize_and_copy_to_arg(n, rsp.buf_len, rsp.buf, list) ...
#pragma once

#include <cstdint>

#include "se/frame.h"
#include "zeb/se_services.h"
#include "trix/trix.h"

// The device's MAC-failure code: the command is sent again (at most 3 sends).
inline constexpr uint32_t SE_DEVICE_MAC_FAILURE = 0x81034;
inline constexpr uint16_t SE_SW_SUCCESS = 0x9000;
inline constexpr uint16_t SE_SW_DEVICE_CODE = 0x66DD;
inline constexpr int SE_CHANNEL_SENDS = 3;

// Kind of the opened device (current_device).
enum { TALON = 0, FERROLUX = 1, LORIND4 = 2 };

extern "C" {

extern se_device_t gl_device;
extern int current_device;
// Device records of the device and store middleware (never used to send).
extern se_device_t gl_mw_device[4];
extern int device_dev_has_been_set;
extern se_device_t gl_sto_mw_device;
extern int sto_dev_has_been_set;

// Sends one command through `device` and checks the reply. 0 on status 90 00
// (rsp describes the reply's data) or on a 66 DD reply whose device code is
// 0 (rsp: the 4 code bytes); else an access-library code, the status word, or
// the device's code. Secure-channel classes (0x91-0xEF) are protected on the
// way out and checked on the way in.
int transport_normal_cmd_v2(se_device_t* device, se_cmd_t* se_cmd, se_cmd_rsp_t* response);

// A 66 DD reply of `count` received bytes: the device's 4-byte code (0 is
// success), or SE_ERROR_APDU_RESPONSE_LEN when the reply cannot hold it.
int se_cmd_parse_output_4bytes(se_cmd_rsp_t* response, uint8_t* buf, size_t count);

// Hex dump to standard output.
void __debug_dumpbuf(const char* label, const void* buf, uint32_t size);

// Name of an access-library code (-190..-1); "" for any other value.
const char* libtrix_error_to_string(int error);

// Opens the secure element into `dev`: the HID devices first, then the
// device by path ("/dev/hidraw0" when argc is 1, the library's default
// otherwise). 0 or the library's code. (open_test_device for the core.)
int se_channel_open(int argc, se_device_t* dev);
// Closes by current_device, ignoring the library's result, and forgets every
// copy of the record kept here (gl_device, the middleware records). Always 0.
int se_channel_close(se_device_t* dev);

// Device records as the core sees them (SE_DEVICE, zeb/se_services.h, is an
// se_device_t's bytes): open_test_device, close_test_device,
// set_current_device, FWD_get_se_device and FWSto_set_se_device are declared
// there; these complete the set.
int FWD_set_se_device(const SE_DEVICE* dev);
SE_DEVICE* FWSto_get_se_device(void);

}  // extern "C"

// Fills a command record as every middleware command does: "MC", delays,
// style 1, extended bytes 1, the class and instruction, no data.
void se_cmd_init(se_cmd_t* cmd, uint8_t cla, uint8_t ins);

// Tag set of a response list.
enum class SeTagSet { general, store };

// The whole middleware command pattern: serializes `req` (n_req fields; none:
// no data) into gl_mw_cdata, sends CLA/INS through gl_device, and reads `rsp`
// (n_rsp fields) from the reply's data. Each array field's received count is
// left in its `length`. Failures are logged at `where` (pass SE_HERE) and
// returned.
[[nodiscard]] uint32_t se_mw_command(const SeSite& where, uint8_t cla, uint8_t ins, const ZEB_TLV* req,
                                     uint8_t n_req, ZEB_TLV* rsp, uint8_t n_rsp, SeTagSet set = SeTagSet::general);
