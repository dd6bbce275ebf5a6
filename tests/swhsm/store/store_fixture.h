// The object store in a fresh working directory per test.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "swhsm/device/fixture.h"
#include "swhsm/sto.h"
#include "swhsm/testing.h"

namespace stt {


inline PERSISTENCY_INPUT input(const char* sn = "HSM0000000000042", const char* id = "Tkn01") {
  PERSISTENCY_INPUT in{};
  std::memcpy(in.HsmSn, sn, std::min<size_t>(std::strlen(sn), 16));
  std::memcpy(in.TknId, id, std::min<size_t>(std::strlen(id), 16));
  return in;
}

inline STO_SEOBJ entry(const char* id, const char* label = "lab", uint8_t type = 1, uint8_t algo = 0,
                       uint32_t len = 0) {
  STO_SEOBJ e{};
  std::memcpy(e.TknId, "Tkn01", 5);
  std::memcpy(e.ObjId, id, std::min<size_t>(std::strlen(id), 16));
  std::memcpy(e.ObjLabel, label, std::min<size_t>(std::strlen(label), 32));
  e.ObjType = type;
  e.ObjKeyAlgo = algo;
  e.u32DataLen = len;
  return e;
}

class Store : public zt::WorkDirTest {
 protected:
  void SetUp() override {
    WorkDirTest::SetUp();
    swhsm::testing::clear_store_cache();
    STO_TKN_OBJECT_CONFIG_PATH cfg{};
    ASSERT_EQ(Sto_Initialize(&cfg), 0u);
    in_ = input();
  }
  void TearDown() override {
    swhsm::testing::set_store_step_hook(nullptr);
    swhsm::testing::clear_store_cache();
    WorkDirTest::TearDown();
  }
  std::string dir() const { return "./Store/HSM0000000000042/Tkn01/"; }
  uint32_t create(const std::string& bytes, const char* id, uint32_t* index) {
    STO_SEOBJ e = entry(id, "lab", 1, 0, static_cast<uint32_t>(bytes.size()));
    return Sto_CreateObject(&in_, index, reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
                            static_cast<uint32_t>(bytes.size()), &e);
  }
  STO_SEOBJ_LIST load() {
    STO_SEOBJ_LIST l{};
    EXPECT_EQ(Sto_LoadObjectList(&in_, &l), 0u);
    return l;
  }
  PERSISTENCY_INPUT in_{};
};

// Runs `fn` in a child process; returns its exit status (or -1).
template <class Fn>
int in_child(Fn&& fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    _exit(fn());
  }
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace stt
