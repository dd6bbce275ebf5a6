// The module's log. Each message is written whole under one lock (threads of
// the application may log at once) and the file is opened and closed for each
// message, so nothing stays open or buffered between calls.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "frame/p11_frame.h"

int ZEBP11_log_level = TARV_QUIET;

void ZEBP11_set_log_level(int level) { std::atomic_ref<int>(ZEBP11_log_level).store(level, std::memory_order_relaxed); }

namespace zebp11 {
namespace {

std::mutex g_log_mutex;

struct LevelStyle {
  char letter;
  const char* prefix;  // standard-error prefix, with file, function and line
};

constexpr LevelStyle kStyles[] = {
    {'T', "\033[1;37m T [%s, %s, Line %d]\033[m\n"}, {'D', "\033[1;34m D [%s, %s, Line %d] "},
    {'I', "\033[1;32m I [%s, %s, Line %d] "},        {'W', "\033[1;33m W [%s, %s, Line %d] "},
    {'E', "\033[1;31m E [%s, %s, Line %d] "},
};

std::tm local_now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// Opens today's log file for appending; null when it cannot be opened, in
// which case only the file part of the message is lost.
std::FILE* open_log_file() {
  const std::tm tm = local_now();
  char date[26];
  if (std::strftime(date, sizeof date, "%Y-%m-%d", &tm) == 0) return nullptr;
  char name[154];
  std::snprintf(name, sizeof name, "%s-%s.log", "ZEBP11", date);
  return std::fopen(name, "a");
}

}  // namespace

bool log_enabled(int level) noexcept {
  return std::atomic_ref<int>(ZEBP11_log_level).load(std::memory_order_relaxed) <= level;
}

void log_trace(const Site& site) noexcept {
  if (!log_enabled(TARV_TRACE)) return;
  std::lock_guard lock(g_log_mutex);
  std::fprintf(stderr, kStyles[TARV_TRACE].prefix, site.file, site.func, site.line);
  if (std::FILE* f = open_log_file()) {
    std::fprintf(f, "[%s, %s, Line %d] T \n", site.file, site.func, site.line);
    std::fclose(f);
  }
}

void log_message(int level, const Site& site, const char* fmt, ...) noexcept {
  if (level < TARV_DEBUG || level > TARV_ERROR || !log_enabled(level)) return;
  std::va_list args;
  va_start(args, fmt);
  std::lock_guard lock(g_log_mutex);
  std::fprintf(stderr, kStyles[level].prefix, site.file, site.func, site.line);
  std::va_list again;
  va_copy(again, args);  // the text is formatted twice: once per destination
  std::vfprintf(stderr, fmt, args);
  std::fprintf(stderr, "\033[m\n");
  if (std::FILE* f = open_log_file()) {
    const std::tm tm = local_now();
    char when[32];
    if (std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm) == 0) when[0] = '\0';
    std::fprintf(f, "%s [%s, %s, Line %d] %c ", when, site.file, site.func, site.line, kStyles[level].letter);
    std::vfprintf(f, fmt, again);
    std::fputc('\n', f);
    std::fclose(f);
  }
  va_end(again);
  va_end(args);
}

void log_dump(const Site& site, const char* name, const void* data, int len) noexcept {
  if (!log_enabled(TARV_DEBUG)) return;
  if (name == nullptr) name = "";
  std::lock_guard lock(g_log_mutex);
  std::fprintf(stderr, "D [%s, %s, Line %d] %s len = %d", site.file, site.func, site.line, name, len);
  std::fprintf(stderr, "\033[m\n");
  if (data == nullptr && len != 0) {
    std::fprintf(stderr, "\033[1;34m D \t you are printing a NULL PTR! Do nothing!");
    std::fprintf(stderr, "\033[m\n");
    return;
  }
  std::FILE* f = open_log_file();
  if (f != nullptr)
    std::fprintf(f, "[%s, %s, Line %d] %s %s len = %d", site.file, site.func, site.line, "D", name, len);
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (int i = 0; i < len; ++i) {
    if (i % 16 == 0) {
      std::fprintf(stderr, "\n\t%08x: ", static_cast<unsigned>(i));
      if (f != nullptr) std::fprintf(f, "\n\t%08x: ", static_cast<unsigned>(i));
    }
    std::fprintf(stderr, "%02X ", bytes[i]);
    if (f != nullptr) std::fprintf(f, "%02X ", bytes[i]);
  }
  std::fprintf(stderr, "\033[m\n");
  if (f != nullptr) {
    std::fputc('\n', f);
    std::fclose(f);
  }
}

void log_failure(const Site& site, CK_RV rv) noexcept {
  log_message(TARV_ERROR, site, "failed with err = 0x%08lx(%s)", rv, P11_CKRToString(rv));
}

void red_line(const Site& site, unsigned long rv) noexcept {
  std::lock_guard lock(g_log_mutex);
  std::fprintf(stderr, "\033[1;31mfailed with err = 0x%04x, [line %d, %s, %s]\033[m\n", static_cast<unsigned>(rv),
               site.line, site.path, site.func);
}

void not_ready(const char* name) noexcept {
  std::lock_guard lock(g_log_mutex);
  std::fprintf(stderr, "[%s] not ready\n", name);
}

void start_failure(const char* name, const char* what, const char* why) noexcept {
  std::lock_guard lock(g_log_mutex);
  if (why != nullptr && why[0] != '\0') {
    std::fprintf(stderr, "[%s] %s: %s\n", name, what, why);
  } else {
    std::fprintf(stderr, "[%s] %s\n", name, what);
  }
}

}  // namespace zebp11
