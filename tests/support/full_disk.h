// A disk that fills up: while a FullDisk lives, the file layer's writes take
// at most `budget` bytes in all and then fail with ENOSPC.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>

#include "oxlu/testing.h"

namespace zt {

class FullDisk {
 public:
  explicit FullDisk(size_t budget) {
    refill(budget);
    oxlu::testing::set_write_function(write_until_full);
  }
  ~FullDisk() { oxlu::testing::set_write_function(nullptr); }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
  // Room for `budget` more bytes.
  void refill(size_t budget) { budget_() = budget; }

 private:
  static size_t& budget_() {
    static size_t left = 0;
    return left;
  }
  static ssize_t write_until_full(int fd, const void* buf, size_t n) {
    size_t& left = budget_();
    if (left == 0) {
      errno = ENOSPC;
      return -1;
    }
    const size_t k = n < left ? n : left;
    left -= k;
    return ::write(fd, buf, k);
  }
};

}  // namespace zt
