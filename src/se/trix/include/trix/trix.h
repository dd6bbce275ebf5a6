// libtrix: the secure-element access library (our stand-in for the vendor's
// closed one). Records and routines keep the vendor's names and calling
// conventions: every routine returns 0 or a negative SE_* code
// (trix_errors.h) unless noted.
//
// Raw command, as apdu_construct_input lays it in the I/O buffer (and as a
// device or the test bed receives it):
//
//   offset 0  CLA          offset 4  LC, u16 little-endian (as in the record)
//   offset 1  INS          offset 6  LE, u16 little-endian
//   offset 2  P1           offset 8  N, u16 little-endian: data bytes that follow
//   offset 3  P2           offset 10 N data bytes (the command's inbuf)
//
// Reply, as transport_rx leaves it in the I/O buffer: bytes 0-1 a u16
// little-endian count L (2 + number of data bytes), data at 2 .. L-1, the
// status word SW1 SW2 at L and L+1. A reply is L + 2 bytes long.
//
// Library-reserved class TRIX_PLATFORM_CLA (never used by the middleware):
//   INS TRIX_INS_GET_SN, no data: reply 16 serial-number bytes, SW 90 00;
//   INS TRIX_INS_SET_SN, data = 16 serial-number bytes then one flag byte:
//   reply no data, SW 90 00.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trix/trix_errors.h"

inline constexpr size_t TRIX_IO_BUF_SIZE = 8192;       // the device record's I/O buffer
inline constexpr size_t TRIX_CMD_HEADER_SIZE = 10;      // raw command header (above)
inline constexpr uint8_t TRIX_PLATFORM_CLA = 0xFE;
inline constexpr uint8_t TRIX_INS_GET_SN = 0x01;
inline constexpr uint8_t TRIX_INS_SET_SN = 0x02;
inline constexpr uint32_t TRIX_SN_LEN = 16;

extern "C" {

// SCSI wrapper of a command (unused by this library; kept zero).
typedef struct scsi_t {
  uint8_t dir;
  uint8_t cbwcb_len;
  uint8_t cbwcb[16];
} scsi_t;

// Command header.
typedef struct apdu_t {
  uint8_t cla;
  uint8_t ins;
  uint8_t p1;
  uint8_t p2;
  uint16_t lc;
  uint16_t le;
  int style;
  int extended_bytes;
} apdu_t;
static_assert(sizeof(apdu_t) == 16);

// One command.
typedef struct se_cmd_t {
  char type[2];       // "MC"
  uint16_t len;
  uint16_t dly;
  uint32_t host_dly;  // microseconds between send and receive
  uint8_t* inbuf;     // data bytes, or null
  size_t inbuf_len;
  apdu_t apdu;
  scsi_t scsi;
} se_cmd_t;

// A parsed reply: `buf` points into the device's I/O buffer.
typedef struct se_cmd_rsp_t {
  uint8_t* buf;
  size_t buf_len;
  uint16_t err_code;
  size_t response_len;
} se_cmd_rsp_t;

struct se_device;
typedef int (*trix_trx_fn)(struct se_device* dev, uint8_t* buf, size_t len);
typedef int (*trix_tx_fn)(struct se_device* dev, const uint8_t* buf, size_t len);
typedef int (*trix_rx_fn)(struct se_device* dev, uint8_t* buf, size_t cap);
typedef int (*trix_locked_fn)(struct se_device* dev);

// An opened device. Records are copied freely by their users; the transport
// behind `handle` and the I/O buffer `buf` belong to the opening and are
// released by the matching close.
typedef struct se_device {
  void* handle;          // the library's transport (trix::Transport)
  trix_trx_fn scsi_trx;  // unused
  trix_tx_fn ctap_tx;    // unused
  trix_rx_fn ctap_rx;    // unused
  trix_tx_fn tx;
  trix_rx_fn rx;
  trix_locked_fn is_locked;
  uint8_t* buf;          // I/O buffer, TRIX_IO_BUF_SIZE bytes
  size_t buf_len;        // bytes of the last reply received into `buf`
  void* fs;              // unused
  uint8_t lun;           // unused
} se_device_t;
static_assert(sizeof(se_device_t) == 88);

// HID device list.
typedef struct io_info_node {
  char name[128];
  char uuid[64];
  int port;
  struct io_info_node* next;
} io_info_node;
typedef struct io_info_list {
  io_info_node* root;
  io_info_node* curr;
} io_info_list;

// ---- Transport ----
// Nonzero when no command may be sent now (a device without a transport
// counts as locked).
int transport_is_locked(se_device_t* dev);
// Lays the raw command (header, then inbuf_len data bytes) into buf.
int apdu_construct_input(const se_cmd_t* cmd, uint8_t* buf, size_t cap, size_t* out_len);
int transport_tx(se_device_t* dev, const uint8_t* buf, size_t len);
void se_delay_us(uint32_t us);
// Receives one whole reply into buf; its length goes to dev->buf_len.
int transport_rx(se_device_t* dev, uint8_t* buf, size_t cap);
// Parses a 0x9000 reply of `count` received bytes: rsp->buf at the first
// data byte, buf_len = response_len = data bytes, err_code = SW.
// SE_ERROR_APDU_RESPONSE_LEN when the count L does not fit the reply.
int se_cmd_parse_output(se_cmd_rsp_t* rsp, uint8_t* buf, size_t count);

// ---- HID devices ----
io_info_list* tem44hid_list_new(void);
int tem44hid_list_init(io_info_list* list);
int tem44hid_list_is_end(io_info_list* list);
void tem44hid_list_next(io_info_list* list);
void ferrolux_list_next(io_info_list* list);
void tem44hid_list_free(io_info_list* list);
int tem44hid_open(se_device_t* dev, const char* name);
int tem44hid_close(se_device_t* dev);

// ---- Device by path, and the vendor's other reader ----
int talon_open(se_device_t* dev, const char* path);
int talon_close(se_device_t* dev);
int ferrolux_close(se_device_t* dev);

// ---- Test-bed console client (TCP; framing in trix/console.h) ----
int zeb_console_client_open(se_device_t* dev, const char* addr, int port);
int zeb_console_client_close(se_device_t* dev);

// ---- Device serial number (16 bytes) ----
int tem44_platform_set_sn(se_device_t* dev, const uint8_t* sn, int flag);
int tem44_platform_get_sn(se_device_t* dev, uint8_t* sn, uint32_t* sn_len);

}  // extern "C"
