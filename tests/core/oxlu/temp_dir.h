// Each test runs in a fresh temporary working directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "support/workdir.h"

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = std::make_unique<zt::WorkDir>(); }
  void TearDown() override { dir_.reset(); }
  static std::string slurp(const std::string& path) { return zt::read_file(path); }
  static void spit(const std::string& path, const std::string& s) { zt::write_file(path, s); }
  static std::set<std::string> entries(const std::string& d = ".") {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(d)) out.insert(e.path().filename().string());
    return out;
  }
  std::unique_ptr<zt::WorkDir> dir_;
};
