// A fresh temporary working directory per test: every path the core uses
// starts at "./", so each test runs in a directory of its own.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

namespace zt {

// The directory is /tmp/zeb-core-<pid>-XXXXXX and goes when the object goes,
// after a failed assertion too. A process that never reaches the destructor
// (a crash, a timeout's kill, an exit() under test) leaves its directories
// behind: the first WorkDir of every later test process removes those of
// processes that are gone (after a while).
class WorkDir {
 public:
  WorkDir() {
    sweep_once();
    std::string tmpl = std::string(kPrefix) + std::to_string(getpid()) + "-XXXXXX";
    const char* d = mkdtemp(tmpl.data());
    if (d == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = d;
    try {
      old_ = std::filesystem::current_path();
      std::filesystem::current_path(dir_);
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
      throw;
    }
  }
  ~WorkDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    // A writer that has not quite stopped (a test bed ending, a lock file
    // being dropped) can refill a directory under the removal: try again.
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::filesystem::remove_all(dir_, ec);
      if (!std::filesystem::exists(dir_, ec)) break;
      usleep(20 * 1000);
    }
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::string& path() const { return dir_; }

 private:
  static constexpr const char* kPrefix = "/tmp/zeb-core-";

  // Removes the directories of test processes that no longer run.
  static void sweep_once() {
    static const bool swept = [] {
      std::error_code ec;
      const std::string prefix = std::filesystem::path(kPrefix).filename().string();
      for (const auto& e : std::filesystem::directory_iterator("/tmp", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || end == nullptr || *end != '-') continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        // Only old ones: a process of another PID namespace sharing /tmp
        // may look gone while its tests still run.
        std::error_code age;
        const auto written = std::filesystem::last_write_time(e.path(), age);
        if (age || std::filesystem::file_time_type::clock::now() - written < std::chrono::minutes(30)) continue;
        std::error_code rm;
        std::filesystem::remove_all(e.path(), rm);
      }
      return true;
    }();
    (void)swept;
  }

  std::string dir_;
  std::filesystem::path old_;
};

// A test fixture whose every test runs in a fresh WorkDir.
class WorkDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = std::make_unique<WorkDir>(); }
  void TearDown() override { dir_.reset(); }
  std::unique_ptr<WorkDir> dir_;
};

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
}

inline std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The names in a directory.
inline std::set<std::string> dir_entries(const std::string& dir = ".") {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

inline unsigned file_mode(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 0777;
}

}  // namespace zt
