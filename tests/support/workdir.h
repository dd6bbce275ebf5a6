// A fresh temporary working directory per test: every path the core uses
// starts at "./", so each test runs in a directory of its own.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

namespace zt {

class WorkDir {
 public:
  WorkDir() {
    char tmpl[] = "/tmp/zeb-core-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = d;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  ~WorkDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::string& path() const { return dir_; }

 private:
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
