// Framing of the test-bed console (TCP, 127.0.0.1, port 5566 by default).
//
// One client at a time; the client sends a request frame and waits for one
// reply frame before it sends again. A frame is a 4-byte length, u32
// little-endian, followed by that many bytes:
//   request frame payload: one raw command (trix.h), TRIX_CMD_HEADER_SIZE
//                          bytes of header then its N data bytes;
//   reply frame payload:   one reply (trix.h), L + 2 bytes.
// A length of 0 or above TRIX_IO_BUF_SIZE is malformed: the receiving side
// drops the connection. The client gives up on a reply after
// TRIX_CONSOLE_TIMEOUT_S seconds (SE_CONSOLE_ERROR_READ_FAILED).
#pragma once

#include <cstdint>

inline constexpr int TRIX_CONSOLE_PORT = 5566;
inline constexpr const char* TRIX_CONSOLE_ADDR = "127.0.0.1";
inline constexpr uint32_t TRIX_CONSOLE_FRAME_MAX = 8192;
inline constexpr int TRIX_CONSOLE_TIMEOUT_S = 120;
