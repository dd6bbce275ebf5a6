// Each test runs in a fresh temporary working directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/oxlu_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  static std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void spit(const std::string& path, const std::string& s) {
    std::ofstream(path, std::ios::binary) << s;
  }
  static std::set<std::string> entries(const std::string& d = ".") {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(d)) out.insert(e.path().filename().string());
    return out;
  }
  std::filesystem::path dir_, old_;
};
