// Shared by the fuzz targets: reading the input piecewise, a private working
// directory, and the stop on a broken invariant.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fz {

// Takes fixed pieces from the front of the input; what is left is the body.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  uint8_t byte() {
    if (left_ == 0) return 0;
    --left_;
    return *p_++;
  }
  template <class T, size_t N>
  const T& pick(const T (&table)[N]) {
    return table[byte() % N];
  }
  const uint8_t* data() const { return p_; }
  size_t size() const { return left_; }

 private:
  const uint8_t* p_;
  size_t left_;
};

// An invariant the code under test promised does not hold: stop, so that
// libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

// Every path the core and the software HSM use starts at "./": each target
// works in a fresh directory of its own under $TMPDIR, removed at exit.
inline void enter_work_dir() {
  static std::string dir;
  if (!dir.empty()) return;
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/zeb-fuzz-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr || chdir(tmpl.c_str()) != 0) fail("no working directory");
  dir = tmpl;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
}

inline void write_file(const char* path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) fail(path);
  if (size != 0 && std::fwrite(data, 1, size, f) != size) fail(path);
  std::fclose(f);
}

}  // namespace fz
