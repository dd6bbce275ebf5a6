// The switch under the file content writes: never set by the product, set by
// the test seams (oxlu/testing.h).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>

namespace oxlu::seams {
using WriteFn = ssize_t (*)(int fd, const void* buf, size_t n);
extern std::atomic<WriteFn> write_fn;  // null: write(2)
}  // namespace oxlu::seams
