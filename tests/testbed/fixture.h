// A simulated device in a fresh temporary directory, reached in process.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "client.h"
#include "support/workdir.h"

namespace sst {

inline constexpr const char* kSn = "SIM0000000000007";
inline constexpr const char* kAdminPin = "admin-1234";
inline constexpr const char* kSoPin = "so-pin-5678";
inline constexpr const char* kUserPin = "user-pin-9012";

class Sim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<zt::WorkDir>();
    se::sim::Setup setup;
    ASSERT_EQ(se::sim::Simulator::open(dir_->path() + "/dev", kSn, kAdminPin, &sim_, &setup), 0u);
    ASSERT_TRUE(setup.created);
    link_ = std::make_unique<InProcess>(*sim_);
  }
  void TearDown() override {
    link_.reset();
    sim_.reset();
    dir_.reset();
  }
  // Closes and opens the device again from its directory.
  void reopen() {
    link_.reset();
    sim_.reset();
    se::sim::Setup setup;
    ASSERT_EQ(se::sim::Simulator::open(dir_->path() + "/dev", "", "", &sim_, &setup), 0u);
    EXPECT_FALSE(setup.created);
    link_ = std::make_unique<InProcess>(*sim_);
  }
  Link& l() { return *link_; }
  Host host() { return Host{*link_}; }

  std::unique_ptr<zt::WorkDir> dir_;
  std::unique_ptr<se::sim::Simulator> sim_;
  std::unique_ptr<Link> link_;
};

}  // namespace sst
