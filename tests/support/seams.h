// Scoped guards over the libraries' test seams: each sets a seam for one
// scope and restores the product's behaviour when it ends.
#pragma once

#include "quarzel/testing.h"

namespace zt {

// Runs `path` on its portable code for the scope (or on the CPU's best when
// `on` is false).
class PortablePath {
 public:
  explicit PortablePath(quarzel::testing::Path path, bool on = true) : path_(path) {
    quarzel::testing::force_portable(path_, on);
  }
  ~PortablePath() { quarzel::testing::force_portable(path_, false); }
  PortablePath(const PortablePath&) = delete;
  PortablePath& operator=(const PortablePath&) = delete;

 private:
  quarzel::testing::Path path_;
};

// Replaces the process's random source for the scope.
class RandomSourceScope {
 public:
  explicit RandomSourceScope(quarzel::RandomSource source) { quarzel::testing::set_random_source(source); }
  ~RandomSourceScope() { quarzel::testing::set_random_source(nullptr); }
  RandomSourceScope(const RandomSourceScope&) = delete;
  RandomSourceScope& operator=(const RandomSourceScope&) = delete;
};

}  // namespace zt
