// The file layer allocates nothing: its writes and reads work with every
// allocation failing (it used to build paths in std::string, which could
// throw out of its C entry points).
#include <gtest/gtest.h>

#include <cstring>

#include "oxlu/file.h"
#include "support/fail_alloc.h"
#include "support/workdir.h"

namespace {

class FileBoundary : public zt::WorkDirTest {};

TEST_F(FileBoundary, WritesAndReadsWithEveryAllocationFailing) {
  char buf[16] = {};
  size_t n = 0;
  {
    zt::FailAllocations none(0);
    ASSERT_EQ(oxlu_write_file_atomic("./a.cfg", "payload", 7, OXLU_PERM_SECRET), OXLU_OK);
    ASSERT_EQ(oxlu_read_file("./a.cfg", buf, sizeof buf, &n), OXLU_OK);
    ASSERT_EQ(remove_safe("./a.cfg"), 0);
  }
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(std::memcmp(buf, "payload", 7), 0);
}

}  // namespace
