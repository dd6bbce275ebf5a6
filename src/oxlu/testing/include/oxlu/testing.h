// Test seam of the file utilities, in the test-only library oxlu_testing: the
// product never links it.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace oxlu::testing {

// The write(2) used for file content (nullptr restores write(2)). A
// replacement may write part of the bytes and fail, to model a full disk.
using WriteFn = ssize_t (*)(int fd, const void* buf, size_t n);
void set_write_function(WriteFn fn);

}  // namespace oxlu::testing
