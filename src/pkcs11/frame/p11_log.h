// The module's log: five levels written to standard error (coloured) and
// appended to "ZEBP11-<date>.log" in the working directory, plus the red
// failure line that reports a failed core call whatever the level. Standard
// output belongs to the application: the module never writes to it.
#pragma once

#include <pkcs11/pkcs11.h>

#include <cstddef>
#include <cstdint>

#include "frame/result_codes.h"

#define ZEBP11_API extern "C" __attribute__((visibility("default")))

// Exported: the level below which nothing is written (5: quiet, the start).
ZEBP11_API int ZEBP11_log_level;
ZEBP11_API void ZEBP11_set_log_level(int level);

enum TARV_LOG_LEVEL : int {
  TARV_TRACE = 0,
  TARV_DEBUG = 1,
  TARV_INFO = 2,
  TARV_WARN = 3,
  TARV_ERROR = 4,
  TARV_QUIET = 5,
};

namespace zebp11 {

// Where a message comes from: the source file's base name (and its full path
// for the red line), the function and the line.
struct Site {
  const char* file;
  const char* path;
  const char* func;
  int line;
};

#define ZEBP11_SITE (::zebp11::Site{__FILE_NAME__, __FILE__, __func__, __LINE__})

[[nodiscard]] bool log_enabled(int level) noexcept;
void log_trace(const Site& site) noexcept;
void log_message(int level, const Site& site, const char* fmt, ...) noexcept __attribute__((format(printf, 3, 4)));
void log_dump(const Site& site, const char* name, const void* data, int len) noexcept;
// "failed with err = 0x%08lx(%s)" at the error level.
void log_failure(const Site& site, CK_RV rv) noexcept;
// The red standard-error line of a failed core call, written at any level.
void red_line(const Site& site, unsigned long rv) noexcept;
// "[<name>] not ready" on standard error, at any level: an entry point that
// does no work says so.
void not_ready(const char* name) noexcept;
// "[<name>] <what>" on standard error, at any level, with ": <why>" when
// there is a reason (a file and the system's word on it): a start-up that
// cannot go on says why.
void start_failure(const char* name, const char* what, const char* why) noexcept;

}  // namespace zebp11

#define P11_LOG_T() ::zebp11::log_trace(ZEBP11_SITE)
#define P11_LOG_D(...) ::zebp11::log_message(TARV_DEBUG, ZEBP11_SITE, __VA_ARGS__)
#define P11_LOG_I(...) ::zebp11::log_message(TARV_INFO, ZEBP11_SITE, __VA_ARGS__)
#define P11_LOG_W(...) ::zebp11::log_message(TARV_WARN, ZEBP11_SITE, __VA_ARGS__)
#define P11_LOG_E(...) ::zebp11::log_message(TARV_ERROR, ZEBP11_SITE, __VA_ARGS__)
#define P11_DUMP(name, ptr, len) ::zebp11::log_dump(ZEBP11_SITE, (name), (ptr), static_cast<int>(len))

// Traced call: a trace line, the call, and on failure the error line and a
// return of the result (as ck_rv gives it) from the calling function.
#define P11_TRY(call)                               \
  do {                                              \
    ::zebp11::log_trace(ZEBP11_SITE);               \
    const CK_RV p11_rv_ = static_cast<CK_RV>(call); \
    if (p11_rv_ != CKR_OK) {                        \
      ::zebp11::log_failure(ZEBP11_SITE, p11_rv_);  \
      return ::zebp11::ck_rv(p11_rv_);              \
    }                                               \
  } while (0)

// Checked core call: nothing before it; on failure the red line (with the
// core's own code) on standard error and a return of the result as ck_rv
// gives it.
#define P11_TRY_CORE(call)                                                 \
  do {                                                                     \
    const CK_RV p11_rv_ = static_cast<CK_RV>(static_cast<uint32_t>(call)); \
    if (p11_rv_ != CKR_OK) {                                               \
      ::zebp11::red_line(ZEBP11_SITE, p11_rv_);                            \
      return ::zebp11::ck_rv(p11_rv_);                                     \
    }                                                                      \
  } while (0)
